#include "content/qr_code.h"

#include "common/controls/tab_order.h"
#include "common/file_commit.h"
#include "core/reply_handlers.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/messages.h"
#include "transport/records.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QString tr2(int language, const char* en, const char* zh)
{
    return language == 4 ? QString::fromUtf8(zh) : QString::fromUtf8(en);
}

layout::LayoutRect toLayout(const QRect& r)
{
    return {r.left(), r.top(), r.right() + 1, r.bottom() + 1};
}

QRect fromLayout(const layout::LayoutRect& r)
{
    return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

// The map: a group box that hands its paint and mouse to the dialog.
class QrMap : public QGroupBox {
public:
    explicit QrMap(CQRCode* owner) : QGroupBox(owner), owner_(owner)
    {
        setObjectName(QStringLiteral("4501"));
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
        setMinimumSize(420, 260);
    }

protected:
    void paintEvent(QPaintEvent* e) override
    {
        QGroupBox::paintEvent(e);
        QPainter painter(this);
        owner_->PaintMap(painter);
        if (hasFocus()) {
            // The map takes keys: show when it has them, as a control does.
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = rect().adjusted(1, 1, -1, -1);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
        }
    }
    void mousePressEvent(QMouseEvent* e) override
    {
        if (e->button() == Qt::LeftButton)
            owner_->MapPress(e->position().toPoint());
    }
    void mouseMoveEvent(QMouseEvent* e) override { owner_->MapMove(e->position().toPoint()); }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (e->button() == Qt::LeftButton)
            owner_->MapRelease(e->position().toPoint());
    }
    void resizeEvent(QResizeEvent* e) override
    {
        QGroupBox::resizeEvent(e);
        owner_->SelectScreen(owner_->screen());
    }

private:
    CQRCode* owner_;
};

}  // namespace

CQRCode::CQRCode(const QString& titlePrefix, const QString& folder, const std::array<uint8_t, 108>& outputBlock,
                 QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this)),
      language_(int(platform::appLanguage())), folder_(folder),
      layout_(qr::OutputLayout::FromStatusBlock(outputBlock))
{
    setWindowTitle(titlePrefix + T(qr::Msg::Title));
    usable_ = {qr::ScreenUsable(layout_.screens[0]), qr::ScreenUsable(layout_.screens[1])};
    tracker_.style = CImageRectTracker::DottedLine | CImageRectTracker::ResizeInside;
    tracker_.handleSize = 8;

    map_ = new QrMap(this);
    radios_[0] = new QRadioButton(tr2(language_, "Screen1", "屏幕1"), this);
    radios_[1] = new QRadioButton(tr2(language_, "Screen2", "屏幕2"), this);
    radios_[0]->setObjectName(QStringLiteral("4502"));
    radios_[1]->setObjectName(QStringLiteral("4503"));
    const char* editLabels[4][2] = {{"On Interval", "显示时间"},
                                    {"Off Interval", "间隔时间"},
                                    {"Screen1 Message size", "屏幕1弹幕字号"},
                                    {"Screen2 Message size", "屏幕2弹幕字号"}};
    const char* checkLabels[5][2] = {{"Screen1 QR Code", "屏幕1二维码"},
                                     {"Screen1 Messenger", "屏幕1弹幕"},
                                     {"Screen2 QR Code", "屏幕2二维码"},
                                     {"Screen2 Messenger", "屏幕2弹幕"},
                                     {"QR Code updated regularly", "二维码定时更新"}};
    auto* form = new QGridLayout;
    form->addWidget(radios_[0], 0, 0);
    form->addWidget(radios_[1], 0, 1);
    for (int i = 0; i < 4; ++i) {
        edits_[std::size_t(i)] = new QLineEdit(this);
        edits_[std::size_t(i)]->setObjectName(QString::number(4505 + i));
        form->addWidget(new QLabel(tr2(language_, editLabels[i][0], editLabels[i][1]), this), 1 + i, 0);
        form->addWidget(edits_[std::size_t(i)], 1 + i, 1);
    }
    for (int i = 0; i < 5; ++i) {
        checks_[std::size_t(i)] = new QCheckBox(tr2(language_, checkLabels[i][0], checkLabels[i][1]), this);
        checks_[std::size_t(i)]->setObjectName(QString::number(i < 4 ? 4509 + i : 4514));
        form->addWidget(checks_[std::size_t(i)], 5 + i / 2, i % 2);
    }
    form->addWidget(new QLabel(tr2(language_, "(Original QR Code will be invalid)", "（原二维码将失效）"), this), 7, 1);
    auto* getPicture = new QPushButton(tr2(language_, "Get QR Code Pic", "获取二维码图片"), this);
    getPicture->setObjectName(QStringLiteral("4513"));
    auto* apply = new QPushButton(tr2(language_, "Apply", "应用"), this);
    apply->setObjectName(QStringLiteral("1"));
    auto* cancel = new QPushButton(tr2(language_, "Cancel", "取消"), this);
    cancel->setObjectName(QStringLiteral("2"));
    for (QPushButton* b : {getPicture, apply, cancel})
        b->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(getPicture);
    buttons->addStretch();
    buttons->addWidget(apply);
    buttons->addWidget(cancel);
    auto* right = new QVBoxLayout;
    right->addLayout(form);
    right->addStretch();
    right->addLayout(buttons);
    auto* top = new QHBoxLayout(this);
    top->addWidget(map_, 1);
    top->addLayout(right);
    resize(980, 420);

    for (std::size_t k = 0; k < 2; ++k) {
        // Each screen is a Tab stop of its own (the arrows that would walk an
        // exclusive group are taken by this dialog), kept exclusive here.
        radios_[k]->setAutoExclusive(false);
        connect(radios_[k], &QRadioButton::clicked, this, [this, k] {
            radios_[k]->setChecked(true);
            radios_[1 - k]->setChecked(false);
            SelectScreen(int(k));
        });
    }
    connect(apply, &QPushButton::clicked, this, [this] { OnApply(); });
    connect(cancel, &QPushButton::clicked, this, &CQRCode::reject);
    connect(getPicture, &QPushButton::clicked, this, &CQRCode::OnGetPicture);
    onMessage(platform::WM_QRCODE_REPLY, [this](platform::WPARAM, platform::LPARAM l) {
        if (l)
            OnReply(*reinterpret_cast<const QByteArray*>(l));
        return platform::LRESULT(0);
    });
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
    controls::SetReadingOrder({map_, radios_[0], radios_[1], edits_[0], edits_[1], edits_[2], edits_[3], checks_[0],
                               checks_[1], checks_[2], checks_[3], checks_[4], getPicture, apply, cancel});
}

CQRCode::~CQRCode() = default;

QLineEdit* CQRCode::edit(int id) const
{
    return id >= 4505 && id <= 4508 ? edits_[std::size_t(id - 4505)] : nullptr;
}

QCheckBox* CQRCode::check(int id) const
{
    if (id == 4514)
        return checks_[4];
    return id >= 4509 && id <= 4512 ? checks_[std::size_t(id - 4509)] : nullptr;
}

void CQRCode::OnInitDialog()
{
    checks_[4]->setChecked(true);
    radios_[0]->setChecked(true);
    radios_[1]->setChecked(false);
    // The defaults show until the reply, so an early Apply never sends zeros.
    edits_[0]->setText(QStringLiteral("60"));
    edits_[1]->setText(QStringLiteral("10"));
    edits_[2]->setText(QStringLiteral("60"));
    edits_[3]->setText(QStringLiteral("60"));
    for (int k = 0; k < 2; ++k) {
        if (usable_[std::size_t(k)])
            continue;
        radios_[std::size_t(k)]->setEnabled(false);
        edits_[std::size_t(2 + k)]->setEnabled(false);
        checks_[std::size_t(2 * k)]->setEnabled(false);
        checks_[std::size_t(2 * k + 1)]->setEnabled(false);
    }
    qr::ComputeRowsCols(layout_, settings_);
    SelectScreen(0);
    Send(0, QByteArray());
}

bool CQRCode::Send(uint16_t op, const QByteArray& payload)
{
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_QRCODE;
    h.param = op;
    auto request = std::make_unique<SendRequest>();
    if (!request->SetPacket(h, payload))
        return false;
    return SendToMainWindow(request.release());
}

void CQRCode::OnGetPicture()
{
    Send(1, QByteArray());
}

void CQRCode::NormaliseRect(int k)
{
    const qr::Box& s = layout_.screens[std::size_t(k)];
    qr::QrLocation& l = settings_.locations[std::size_t(k)];
    l.rect = qr::DrawnRect(l.rect, s, mapArea_, scale_);
}

void CQRCode::SelectScreen(int k)
{
    screen_ = k;
    const QRect r = map_->rect();
    mapArea_ = QRect(QPoint(r.left() + 10, r.top() + 11), QPoint(r.right() - 11, r.bottom() - 11));
    const qr::QrLocation& loc = settings_.locations[std::size_t(k)];
    scale_ = qr::ScaleFor(mapArea_, layout_.screens[std::size_t(k)], loc.rows, loc.cols, scale_);
    if (usable_[std::size_t(k)])
        NormaliseRect(k);
    selected_ = false;
    dragging_ = false;
    UpdateTracker();
    map_->update();
}

void CQRCode::UpdateTracker()
{
    const qr::Box& s = layout_.screens[std::size_t(screen_)];
    tracker_.bounds = toLayout(qr::ToMap(s, mapArea_, scale_));
    tracker_.minWidth = std::max(1, int(qr::kMinSide * scale_.x));
    tracker_.minHeight = std::max(1, int(qr::kMinSide * scale_.y));
    tracker_.maxWidth = std::max(1, int(qr::kMaxWidth * scale_.x));
    tracker_.maxHeight = std::max(1, int(qr::kMaxHeight * scale_.y));
    tracker_.rect = toLayout(qr::ToMap(settings_.locations[std::size_t(screen_)].rect, mapArea_, scale_));
}

void CQRCode::PaintMap(QPainter& painter) const
{
    const qr::Box& s = layout_.screens[std::size_t(screen_)];
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 204, 204), 1));
    painter.drawRect(qr::ToMap(s, mapArea_, scale_));
    // Drawn where it would reset to, without changing the settings.
    const qr::Box shown = qr::DrawnRect(settings_.locations[std::size_t(screen_)].rect, s, mapArea_, scale_);
    painter.setPen(QPen(Qt::blue, 1));
    painter.drawRect(qr::ToMap(shown, mapArea_, scale_));
    if (selected_)
        tracker_.Draw(painter);
}

void CQRCode::MapPress(const QPoint& p)
{
    const qr::Box& s = layout_.screens[std::size_t(screen_)];
    const QRect screenOnMap = qr::ToMap(s, mapArea_, scale_);
    const QRect codeOnMap = qr::ToMap(settings_.locations[std::size_t(screen_)].rect, mapArea_, scale_);
    const bool onHandle = selected_ && tracker_.HitTest(p.x(), p.y()) != CImageRectTracker::HitNothing;
    if (!usable_[std::size_t(screen_)] || !screenOnMap.contains(p) || (!codeOnMap.contains(p) && !onHandle)) {
        selected_ = false;
        map_->unsetCursor();
        map_->update();
        return;
    }
    if (!selected_) {
        // A first press only selects; the settings are applied all the same.
        selected_ = true;
        UpdateTracker();
        map_->update();
        OnApply();
        return;
    }
    UpdateTracker();
    dragging_ = tracker_.Press(p.x(), p.y());
}

void CQRCode::MapMove(const QPoint& p)
{
    if (dragging_) {
        tracker_.Move(p.x(), p.y());
        map_->update();
        return;
    }
    Qt::CursorShape cursor = Qt::ArrowCursor;
    if (selected_ && tracker_.SetCursor(p.x(), p.y(), cursor))
        map_->setCursor(cursor);
    else
        map_->unsetCursor();
}

void CQRCode::MapRelease(const QPoint& p)
{
    if (!dragging_)
        return;
    dragging_ = false;
    tracker_.Release(p.x(), p.y());
    if (!tracker_.rect.isEmpty()) {
        const qr::Box& s = layout_.screens[std::size_t(screen_)];
        settings_.locations[std::size_t(screen_)].rect = qr::FromMap(fromLayout(tracker_.rect), mapArea_, scale_, s);
    }
    UpdateTracker();
    map_->update();
    OnApply();
}

bool CQRCode::OnApply()
{
    qr::ApplyForm form;
    form.onText = edits_[0]->text();
    form.offText = edits_[1]->text();
    form.sizeText = {edits_[2]->text(), edits_[3]->text()};
    form.qrShow = {checks_[0]->isChecked(), checks_[2]->isChecked()};
    form.textShow = {checks_[1]->isChecked(), checks_[3]->isChecked()};
    form.refresh = checks_[4]->isChecked();
    const QString why = qr::Apply(form, usable_, language_, settings_);
    if (!why.isEmpty()) {
        platform::messageBox(why);
        return false;
    }
    const QByteArray document = qr::WriteDocument(settings_);
    QDir().mkpath(folder_);
    const QString path = QDir(folder_).filePath(QLatin1String(qr::kDocumentName));
    QString error;
    if (!filecommit::replaceFile(path, document, &error)) {
        filecommit::showCannotWrite(unsigned(language_), path, error, this);
        return false;
    }
    return Send(0, document);
}

void CQRCode::OnRestoreDefaults()
{
    qr::RestoreDefaults(settings_);
    for (QCheckBox* c : checks_)
        c->setChecked(true);
    edits_[0]->setText(QStringLiteral("60"));
    edits_[1]->setText(QStringLiteral("10"));
    edits_[2]->setText(QStringLiteral("60"));
    edits_[3]->setText(QStringLiteral("60"));
    selected_ = false;
    UpdateTracker();
    map_->update();
    OnApply();
}

void CQRCode::OnReply(const QByteArray& text)
{
    if (qr::ReadDocument(text, settings_)) {
        for (int k = 0; k < 2; ++k)
            if (usable_[std::size_t(k)])
                NormaliseRect(k);
        ShowSettings();
    }
    map_->setFocus();
}

void CQRCode::ShowSettings()
{
    checks_[0]->setChecked(settings_.locations[0].qrShow == 1);
    checks_[1]->setChecked(settings_.locations[0].textShow == 1);
    checks_[2]->setChecked(settings_.locations[1].qrShow == 1);
    checks_[3]->setChecked(settings_.locations[1].textShow == 1);
    checks_[4]->setChecked(settings_.refresh == 1);
    edits_[0]->setText(QString::asprintf("%u", settings_.showTime));
    edits_[1]->setText(QString::asprintf("%u", settings_.circleTime));
    edits_[2]->setText(QString::asprintf("%u", settings_.locations[0].textSize));
    edits_[3]->setText(QString::asprintf("%u", settings_.locations[1].textSize));
    UpdateTracker();
    map_->update();
}

bool CQRCode::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_R) {
            OnRestoreDefaults();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Shift || key == Qt::Key_Escape ||
            key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down)
            return true;
    }
    if (event->type() == QEvent::KeyRelease && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Shift)
        return true;
    return QDialog::eventFilter(watched, event);
}

void CQRCode::reject()
{
    if (platform::messageBox(T(qr::Msg::ConfirmExit), QString(), platform::MsgButtons::YesNo,
                             platform::MsgIcon::Question) == platform::MsgResult::Yes)
        QDialog::reject();
}
