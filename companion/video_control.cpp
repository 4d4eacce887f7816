#include "companion/video_control.h"

#include "common/controls/button_row.h"
#include "common/controls/dialog_keys.h"
#include "companion/hub_records.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "transport/records.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

#include <iterator>
#include <memory>

namespace tollivar {

namespace {

struct FixedLabel {
    int control;
    const char* text;
};
// The play buttons at opening, the same in both languages.
constexpr FixedLabel kFixedLabels[] = {
    {CVideoControl::kTypeLoop, "类别循环"},  {CVideoControl::kSingleLoop, "单曲循环"},
    {CVideoControl::kSinglePlay, "单曲播放"}, {CVideoControl::kTypeRandom, "类别随机"},
    {CVideoControl::kAllRandom, "全部随机"}, {CVideoControl::kPlay, "播放"},
    {CVideoControl::kPause, "暂停"},         {CVideoControl::kPrevious, "上一首"},
    {CVideoControl::kNext, "下一首"},        {CVideoControl::kPowerOn, "开机"},
    {CVideoControl::kPowerOff, "关机"},
};

// The mode group's two rows.
constexpr int kFirstRow[] = {CVideoControl::kTypeLoop, CVideoControl::kSingleLoop, CVideoControl::kSinglePlay,
                             CVideoControl::kTypeRandom, CVideoControl::kAllRandom};
constexpr int kSecondRow[] = {CVideoControl::kPlay,     CVideoControl::kPause,   CVideoControl::kPrevious,
                              CVideoControl::kNext,     CVideoControl::kPowerOn, CVideoControl::kPowerOff};

}  // namespace

int CVideoControl::ControlOfCapability(int type)
{
    // The capability reply's types and the buttons they name.
    static constexpr struct {
        int type;
        int control;
    } kTable[] = {
        {2, kSingleLoop}, {3, kPause},       {4, kPlay},        {5, kSinglePlay},
        {6, kPowerOn},    {7, kPowerOff},    {8, kTypeLoop},    {9, kTypeRandom},
        {10, kAllRandom}, {11, kPrevious},   {12, kNext},
    };
    for (const auto& row : kTable)
        if (row.type == type)
            return row.control;
    return 0;
}

CVideoControl::CVideoControl(const QString& folder, uint16_t pageIndex, const QString& ip, uint16_t port,
                             unsigned language, int tickMs, QWidget* parent)
    : QWidget(parent), platform::MessageWindow(static_cast<QWidget*>(this)), language_(language),
      folder_(folder), pageIndex_(pageIndex), ip_(ip), port_(port), tickMs_(tickMs)
{
    setObjectName(QStringLiteral("132"));
    auto text = [this](const char* english, const char* chinese) {
        return platform::pickText(language_, english, chinese);
    };
    panel_.typeGroup = new QGroupBox(text("Folder", "切换类别"), this);
    panel_.typeGroup->setObjectName(QStringLiteral("2101"));
    panel_.videoGroup = new QGroupBox(this);
    panel_.videoGroup->setObjectName(QStringLiteral("2117"));
    panel_.layoutGroup = new QGroupBox(text("Layout", "切换布局"), this);
    panel_.layoutGroup->setObjectName(QStringLiteral("2102"));
    panel_.modeGroup = new QGroupBox(text("Mode", "播放模式"), this);
    panel_.modeGroup->setObjectName(QStringLiteral("2103"));
    panel_.videoCheck = new QCheckBox(text("Video", "切换视频"), this);
    panel_.videoCheck->setObjectName(QStringLiteral("2119"));
    QObject::connect(panel_.videoCheck, &QCheckBox::toggled, this, [this](bool on) {
        if (!on)
            for (QPushButton* b : panel_.videoButtons)
                b->hide();
    });
    for (const FixedLabel& l : kFixedLabels) {
        QPushButton* b = controls::MakeButton(QString::fromUtf8(l.text), l.control, panel_.modeGroup);
        const int control = l.control;
        QObject::connect(b, &QPushButton::clicked, this, [this, control] { OnControlButton(control); });
        controls_[l.control] = b;
    }
    // Shown once the player has named them (capability reply).
    controls_[kPowerOn]->hide();
    controls_[kPowerOff]->hide();

    panel_.volume = new QSlider(Qt::Horizontal, panel_.modeGroup);
    panel_.volume->setObjectName(QStringLiteral("2111"));
    panel_.volume->setRange(0, 100);
    panel_.volume->setTickInterval(1);
    QObject::connect(panel_.volume, &QSlider::valueChanged, this, [this] { volumeChanged_ = true; });
    panel_.volumeLabel = new QLabel(text("Volume", "音量"), panel_.modeGroup);
    panel_.volumeLabel->setObjectName(QStringLiteral("2112"));
    panel_.time = new QLabel(QStringLiteral("00:00/00:00"), panel_.modeGroup);
    panel_.time->setObjectName(QStringLiteral("2116"));
    panel_.bar = new QProgressBar(panel_.modeGroup);
    panel_.bar->setObjectName(QStringLiteral("2115"));
    panel_.bar->setRange(0, 100);
    panel_.bar->setValue(0);
    panel_.bar->setTextVisible(false);
    panel_.name = new QLabel(panel_.modeGroup);
    panel_.name->setObjectName(QStringLiteral("2118"));
    panel_.name->setAlignment(Qt::AlignCenter);
    for (int control : kFirstRow)
        panel_.firstRow.push_back(controls_[control]);
    for (int control : kSecondRow)
        panel_.secondRow.push_back(controls_[control]);
    // Rows of the dynamic grids: ten buttons a row, u = width / 32.
    panel_.typeGrid = {10, 32, 24};
    panel_.videoGrid = {10, 32, 15};
    panel_.layoutGrid = {10, 32, 4};
    panel_.videoButtons.resize(remote::kMaxVideoButtons);
    for (int j = 0; j < remote::kMaxVideoButtons; ++j) {
        panel_.videoButtons[std::size_t(j)] = controls::MakeButton(QString(), 5100 + j, panel_.videoGroup);
        panel_.videoButtons[std::size_t(j)]->hide();
        QObject::connect(panel_.videoButtons[std::size_t(j)], &QPushButton::clicked, this, [this, j] { OnVideoButton(j); });
    }

    using platform::LPARAM;
    using platform::WPARAM;
    onMessage(platform::WM_VIDEO_LIST_REPLY, [this](WPARAM w, LPARAM l) -> platform::LRESULT {
        std::unique_ptr<PlayerCatalog> catalog(reinterpret_cast<PlayerCatalog*>(l));
        if (w == 0 && catalog)
            OnCatalogue(*catalog);
        return 0;
    });
    onMessage(platform::WM_REPLY_TOO_SLOW, [this](WPARAM, LPARAM) -> platform::LRESULT {
        OnReplyTooSlow();
        return 0;
    });
    onMessage(platform::WM_TRACKBAR_VALUES_REPLY, [this](WPARAM w, LPARAM l) -> platform::LRESULT {
        std::unique_ptr<ReplyStatusRecord> record(reinterpret_cast<ReplyStatusRecord*>(l));
        // The catalogue reply's parameter at 8 is the player's volume; it
        // is shown, not sent back.
        if (w == 1 && record) {
            const QSignalBlocker quiet(panel_.volume);
            panel_.volume->setValue(record->param);
        }
        return 0;
    });
    onMessage(platform::WM_VIDEO_UPLOAD_REPLY, [this](WPARAM, LPARAM l) -> platform::LRESULT {
        if (l)
            OnLayoutList(*reinterpret_cast<const QString*>(l));
        return 0;
    });
    onMessage(platform::WM_VIDEO_CONTROL_REPLY, [this](WPARAM w, LPARAM l) -> platform::LRESULT {
        if (w == remote::kCmdProgress && l)
            OnControlReply(*reinterpret_cast<const QByteArray*>(l));
        return 0;
    });
}

CVideoControl::~CVideoControl()
{
    Close();
}

QPushButton* CVideoControl::button(int control) const
{
    const auto it = controls_.find(control);
    return it != controls_.end() ? it->second : nullptr;
}

QString CVideoControl::label(int control) const
{
    const QPushButton* b = button(control);
    return b ? b->text() : QString();
}

QString CVideoControl::timeText() const { return panel_.time->text(); }
QString CVideoControl::nameText() const { return panel_.name->text(); }
int CVideoControl::progress() const { return panel_.bar->value(); }

void CVideoControl::OnInitDialog()
{
    step_ = kWantCatalogue;
    ticks_ = 0;
    SendCatalogueRequest();
    platform::MessageWindow::setTimer(kTimer, tickMs_);
}

void CVideoControl::Close()
{
    platform::MessageWindow::killTimer(kTimer);
}

// ------------------------------------------------------------------ sending

void CVideoControl::SendPacket(uint8_t command, uint16_t param, const QByteArray& payload)
{
    auto request = std::make_unique<SendRequest>();
    // The page index travels with the link, so the replies find this page.
    request->AddTarget(ip_, port_, pageIndex_);
    proto::PlayerPacketHeader h;
    h.command = command;
    h.param = param;
    if (request->targets.empty() || !request->SetPacket(h, payload))
        return;
    SendToMainWindow(request.release());
}

void CVideoControl::SendCatalogueRequest()
{
    SendPacket(proto::CMD_VIDEO_LIST, 0, QByteArray());
}

void CVideoControl::SendLayoutRequest()
{
    SendPacket(proto::CMD_LAYOUT, 0, QByteArray());
}

void CVideoControl::SendControl(int cmdId, const QString& value)
{
    if (!platform::findWindow(platform::appTitle()))
        return;
    const QByteArray document = remote::WriteVideoControlDocument(folder_, cmdId, value);
    // A document that cannot be written or would not fit is not sent.
    if (remote::VideoControlPacket(cmdId, document).isEmpty())
        return;
    SendPacket(proto::CMD_VIDEO_CONTROL, uint16_t(cmdId), document);
}

void CVideoControl::EnterStep(Step step)
{
    step_ = step;
    // Each step waits its own eleven ticks before asking again.
    ticks_ = 0;
}

void CVideoControl::onTimer(unsigned id)
{
    if (id != kTimer)
        return;
    if (volumeChanged_) {
        SendControl(remote::kCmdSound, QString::asprintf("%d", panel_.volume->value()));
        volumeChanged_ = false;
    }
    if (step_ == kPolling) {
        SendControl(remote::kCmdProgress, QString());
        return;
    }
    // A player that has not answered is asked again for the current step.
    if (++ticks_ % kResendTicks != 0)
        return;
    switch (step_) {
    case kWantCatalogue: SendCatalogueRequest(); break;
    case kWantLayouts: SendLayoutRequest(); break;
    case kWantCapabilities: SendControl(remote::kCmdCapabilities, QString()); break;
    case kPolling: break;
    }
}

// ---------------------------------------------------------------- receiving

void CVideoControl::OnReplyTooSlow()
{
    // The request is repeated every eleven ticks and each repeat may be
    // dropped again: the notice keeps to once while the player keeps failing.
    slowNotice_.Dropped(ip_, language_, this);
}

void CVideoControl::OnCatalogue(const PlayerCatalog& catalog)
{
    slowNotice_.Answered(ip_);
    types_ = remote::TypesFromCatalog(catalog);
    EnterStep(kWantLayouts);
    SendLayoutRequest();
}

void CVideoControl::OnLayoutList(const QString& text)
{
    slowNotice_.Answered(ip_);
    layouts_ = remote::SplitLayoutList(text);
    RebuildButtons();
    EnterStep(kWantCapabilities);
    SendControl(remote::kCmdCapabilities, QString());
}

void CVideoControl::OnControlReply(const QByteArray& payload)
{
    // Any reply of the player came in time, even one not understood.
    slowNotice_.Answered(ip_);
    const auto reply = remote::ReadControlReply(payload);
    if (!reply)
        return;
    if (reply->cmdId == remote::kCmdCapabilities) {
        controls_[kPowerOn]->hide();
        controls_[kPowerOff]->hide();
        for (const remote::CapabilityEntry& entry : reply->capabilities) {
            const int control = ControlOfCapability(entry.type);
            if (!control)
                continue;
            controls_[control]->setText(entry.label);
            if (control == kPowerOn || control == kPowerOff)
                controls_[control]->show();
        }
        // A reply without a list starts the polling all the same.
        EnterStep(kPolling);
    } else if (reply->cmdId == remote::kCmdProgress && reply->progress) {
        panel_.bar->setValue(reply->progress->percent);
        panel_.time->setText(reply->progress->timeText);
        if (reply->progress->hasName)
            panel_.name->setText(reply->progress->nameText);
    }
}

// ------------------------------------------------------------------ buttons

void CVideoControl::RebuildButtons()
{
    // A list that comes again (a retried request) replaces the buttons.
    qDeleteAll(panel_.typeButtons);
    panel_.typeButtons.clear();
    qDeleteAll(panel_.layoutButtons);
    panel_.layoutButtons.clear();
    selectedType_ = kNoType;
    for (QPushButton* b : panel_.videoButtons)
        b->hide();
    for (int i = 0; i < int(types_.size()) && i < remote::kMaxTypeButtons; ++i) {
        QPushButton* b = controls::MakeButton(types_[std::size_t(i)].name, 5000 + i, panel_.typeGroup);
        QObject::connect(b, &QPushButton::clicked, this, [this, i] { OnTypeButton(i); });
        b->show();
        panel_.typeButtons.push_back(b);
    }
    for (int i = 0; i < layouts_.size() && i < remote::kMaxLayoutButtons; ++i) {
        QPushButton* b = controls::MakeButton(layouts_[i] + QStringLiteral(".GFD"), 5200 + i, panel_.layoutGroup);
        QObject::connect(b, &QPushButton::clicked, this, [this, i] { OnLayoutButton(i); });
        b->show();
        panel_.layoutButtons.push_back(b);
    }
    LayoutControls();
}

void CVideoControl::OnControlButton(int control)
{
    // Every play button, play and pause included, sends its current label.
    if (QPushButton* b = button(control))
        SendControl(remote::kCmdPlayMode, b->text());
}

void CVideoControl::OnListButton(remote::ListButton button, int index)
{
    remote::PressListButton(button, index, types_, layouts_, panel_.videoCheck->isChecked(), selectedType_,
                            [this](int cmdId, const QString& value) { SendControl(cmdId, value); },
                            [this](const QStringList& videos) { ListVideos(videos); });
}

// ------------------------------------------------------------------- layout

void CVideoControl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    LayoutControls();
}

void CVideoControl::ListVideos(const QStringList& videos)
{
    // The same cells the video row is laid out in.
    controls::ShowButtonRow(panel_.videoButtons, videos, [this](int j) { return panel_.videoCell(j); });
}

void CVideoControl::LayoutControls()
{
    panel_.place(width(), height());
}

}  // namespace tollivar
