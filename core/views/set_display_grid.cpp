#include "core/views/set_display_grid.h"

#include "common/controls/dialog_keys.h"
#include "common/controls/num_edit.h"
#include "core/layout/view_settings.h"
#include "platform/dialogs.h"
#include "platform/home.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

int valueOf(const CNumEdit* e)
{
    bool ok = false;
    const int v = e->text().toInt(&ok);
    return ok ? v : 0;
}

}  // namespace

namespace layout {
QString CheckDisplayGrid(int columns, int rows, unsigned language)
{
    if (columns < kMinGrid || columns > kMaxGrid)
        return platform::pickText(language, "Horizontal number set error!", "横向个数设置错误！");
    if (rows < kMinGrid || rows > kMaxGrid)
        return platform::pickText(language, "Vertical number set error!", "纵向个数设置错误！");
    return QString();
}
}  // namespace layout

CSetDisplayGrid::CSetDisplayGrid(unsigned language, QWidget* parent) : QDialog(parent), language_(language)
{
    auto t = [this](const char* en, const char* zh) { return platform::pickText(language_, en, zh); };
    setWindowTitle(t("Grid Settings", "网格设定"));
    auto* group = new QGroupBox(t("Set", "设置个数"), this);
    auto* grid = new QGridLayout(group);
    const char* labels[2][2] = {{"Number of columns:", "横向个数:"}, {"Number of rows:", "纵向个数:"}};
    const int ids[2] = {kColumnsEdit, kRowsEdit};
    CNumEdit** edits[2] = {&columnsEdit_, &rowsEdit_};
    for (int i = 0; i < 2; ++i) {
        grid->addWidget(new QLabel(t(labels[i][0], labels[i][1]), group), i, 0);
        auto* e = new CNumEdit(group);
        e->setObjectName(QString::number(ids[i]));
        e->setMaxLength(3);
        e->setMinimumWidth(60);
        *edits[i] = e;
        grid->addWidget(e, i, 1);
        // The spin buddy steps inside 1..8; typing may still go outside.
        auto* up = new QToolButton(group);
        up->setArrowType(Qt::UpArrow);
        up->setObjectName(QString::number(ids[i] + 1));
        auto* down = new QToolButton(group);
        down->setArrowType(Qt::DownArrow);
        auto step = [e](int d) {
            e->setText(QString::number(std::clamp(valueOf(e) + d, layout::kMinGrid, layout::kMaxGrid)));
        };
        connect(up, &QToolButton::clicked, e, [step] { step(1); });
        connect(down, &QToolButton::clicked, e, [step] { step(-1); });
        grid->addWidget(up, i, 2);
        grid->addWidget(down, i, 3);
    }
    // Plain buttons: Enter must not apply the grid (and upload it) by itself.
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton* ok = controls::MakeButton(t("OK", "应用"), 1, this);
    QPushButton* cancel = controls::MakeButton(t("Cancel", "关闭"), 2, this);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    connect(ok, &QPushButton::clicked, this, [this] {
        if (TryAccept())
            accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);
}

void CSetDisplayGrid::InitControls()
{
    columnsEdit_->setText(QString::number(columns));
    rowsEdit_->setText(QString::number(rows));
}

bool CSetDisplayGrid::TryAccept()
{
    const int c = valueOf(columnsEdit_);
    const int r = valueOf(rowsEdit_);
    const QString error = layout::CheckDisplayGrid(c, r, language_);
    if (!error.isEmpty()) {
        platform::messageBox(error, QString(), platform::MsgButtons::Ok, platform::MsgIcon::Warning);
        return false;
    }
    columns = uint8_t(c);
    rows = uint8_t(r);
    return true;
}

CNumEdit* CSetDisplayGrid::edit(int id) const
{
    return id == kColumnsEdit ? columnsEdit_ : id == kRowsEdit ? rowsEdit_ : nullptr;
}

int CSetDisplayGrid::exec()
{
    InitControls();
    return QDialog::exec();
}

void CSetDisplayGrid::keyPressEvent(QKeyEvent* event)
{
    if (!controls::SwallowEnterEsc(event))
        QDialog::keyPressEvent(event);
}
