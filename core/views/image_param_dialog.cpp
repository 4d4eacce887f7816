#include "core/views/image_param_dialog.h"

#include "common/controls/dialog_keys.h"
#include "common/controls/num_edit.h"
#include "platform/dialogs.h"
#include "platform/home.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

int valueOf(const CNumEdit* e)
{
    bool ok = false;
    const double v = e->text().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return 0;
    return int(std::clamp(v, -1e8, 1e8));
}

}  // namespace

CImageParam::CImageParam(unsigned language, QWidget* parent) : QDialog(parent), language_(language)
{
    auto t = [this](const char* en, const char* zh) { return platform::pickText(language_, en, zh); };
    setWindowTitle(t("Parameter Setting", "参数设置"));
    auto* group = new QGroupBox(t("Position(Pixel)", "位置(像素)"), this);
    auto* grid = new QGridLayout(group);
    const char* labels[4][2] = {{"Left:", "左边起点:"}, {"Top:", "上边起点:"}, {"Width:", "宽度:"}, {"Hight:", "高度:"}};
    const int ids[4] = {kLeftEdit, kTopEdit, kWidthEdit, kHeightEdit};
    const int ranges[4] = {layout::kModelWidth, layout::kModelHeight, layout::kModelWidth, layout::kModelHeight};
    for (int i = 0; i < 4; ++i) {
        grid->addWidget(new QLabel(t(labels[i][0], labels[i][1]), group), i, 0);
        auto* e = new CNumEdit(group);
        e->setObjectName(QString::number(ids[i]));
        e->setMaxLength(7);
        e->setMinimumWidth(90);
        edits_[i] = e;
        grid->addWidget(e, i, 1);
        // The spin buddy: steps of one inside 0 .. the model's size.
        auto* up = new QToolButton(group);
        up->setArrowType(Qt::UpArrow);
        up->setObjectName(QString::number(ids[i] + 1));
        auto* down = new QToolButton(group);
        down->setArrowType(Qt::DownArrow);
        const int limit = ranges[i];
        auto step = [e, limit](int d) { e->setText(QString::number(std::clamp(valueOf(e) + d, 0, limit))); };
        connect(up, &QToolButton::clicked, e, [step] { step(1); });
        connect(down, &QToolButton::clicked, e, [step] { step(-1); });
        grid->addWidget(up, i, 2);
        grid->addWidget(down, i, 3);
    }
    wagBox_ = new QCheckBox(t("Wag", "摇麦"), this);
    wagBox_->setObjectName(QString::number(kWagCheck));
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(t("OK", "应用"), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton(t("Cancel", "关闭"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] {
        if (TryAccept())
            accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(wagBox_);
    layout->addWidget(buttons);
}

CNumEdit* CImageParam::edit(int id) const
{
    switch (id) {
    case kLeftEdit: return edits_[0];
    case kTopEdit: return edits_[1];
    case kWidthEdit: return edits_[2];
    case kHeightEdit: return edits_[3];
    default: return nullptr;
    }
}

void CImageParam::InitControls()
{
    edits_[0]->setText(QString::number(window.left));
    edits_[1]->setText(QString::number(window.top));
    edits_[2]->setText(QString::number(window.width()));
    edits_[3]->setText(QString::number(window.height()));
    wagBox_->setChecked(wag != 0);
    if (playerChannels != 3) {
        wagBox_->setChecked(false);
        wagBox_->setEnabled(false);
    }
}

bool CImageParam::TryAccept()
{
    const layout::ImageParamValues v{valueOf(edits_[0]), valueOf(edits_[1]), valueOf(edits_[2]), valueOf(edits_[3])};
    const int failed = layout::CheckImageParam(v, {bounds, maxWidth, maxHeight});
    if (failed != 0) {
        platform::messageBox(layout::ImageParamMessage(failed, language_), QString(), platform::MsgButtons::Ok,
                             platform::MsgIcon::Warning);
        return false;
    }
    window = {v.left, v.top, v.left + v.width, v.top + v.height};
    wag = wagBox_->isChecked() ? 1 : 0;
    return true;
}

int CImageParam::exec()
{
    InitControls();
    return QDialog::exec();
}

void CImageParam::keyPressEvent(QKeyEvent* event)
{
    if (!controls::SwallowEnterEsc(event))
        QDialog::keyPressEvent(event);
}
