#include "content/video_control.h"

#include "common/controls/button_row.h"
#include "common/controls/dialog_keys.h"
#include "common/controls/tab_order.h"
#include "common/text_coding.h"
#include "core/reply_handlers.h"
#include "platform/app_identity.h"
#include "platform/messages.h"
#include "transport/records.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

#include <memory>

namespace {

QString tr2(int language, const char* en, const char* zh)
{
    return language == 4 ? QString::fromUtf8(zh) : QString::fromUtf8(en);
}

constexpr remote::PlayMode kModes[5] = {remote::PlayMode::TypeLoop, remote::PlayMode::SingleLoop,
                                        remote::PlayMode::SinglePlay, remote::PlayMode::TypeRandom,
                                        remote::PlayMode::AllRandom};

}  // namespace

CVideoControl::CVideoControl(const QString& titlePrefix, const QString& folder, QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this)),
      language_(int(platform::appLanguage())), folder_(folder)
{
    setWindowTitle(titlePrefix + tr2(language_, replies::kVideoControl.english, replies::kVideoControl.chinese));
    panel_.typeGroup = new QGroupBox(tr2(language_, "Type", "切换类别"), this);
    panel_.videoGroup = new QGroupBox(this);
    panel_.layoutGroup = new QGroupBox(tr2(language_, "Layout", "切换布局"), this);
    panel_.modeGroup = new QGroupBox(tr2(language_, "Mode", "播放模式"), this);
    panel_.videoCheck = new QCheckBox(tr2(language_, "Video", "切换视频"), this);
    panel_.videoCheck->setObjectName(QStringLiteral("4919"));
    connect(panel_.videoCheck, &QCheckBox::toggled, this, [this](bool on) {
        if (!on)
            for (QPushButton* b : panel_.videoButtons)
                b->hide();
    });
    for (int i = 0; i < 5; ++i) {
        modeButtons_[i] = MakeButton(remote::PlayModeLabel(kModes[i], language_), 4904 + i, panel_.modeGroup);
        connect(modeButtons_[i], &QPushButton::clicked, this, [this, i] { OnModeButton(kModes[i]); });
    }
    play_ = MakeButton(tr2(language_, "play", "播放"), 4909, panel_.modeGroup);
    pause_ = MakeButton(tr2(language_, "pause", "暂停"), 4910, panel_.modeGroup);
    previous_ = MakeButton(remote::PlayModeLabel(remote::PlayMode::Previous, language_), 4913, panel_.modeGroup);
    next_ = MakeButton(remote::PlayModeLabel(remote::PlayMode::Next, language_), 4914, panel_.modeGroup);
    connect(play_, &QPushButton::clicked, this, [this] { OnPlay(true); });
    connect(pause_, &QPushButton::clicked, this, [this] { OnPlay(false); });
    connect(previous_, &QPushButton::clicked, this, [this] { OnModeButton(remote::PlayMode::Previous); });
    connect(next_, &QPushButton::clicked, this, [this] { OnModeButton(remote::PlayMode::Next); });
    panel_.firstRow.assign(modeButtons_.begin(), modeButtons_.end());
    panel_.secondRow = {play_, pause_, previous_, next_};
    // Type buttons u = width / 31, videos u = width / 30, layouts in one row.
    panel_.typeGrid = {10, 31, 24};
    panel_.videoGrid = {10, 30, 20};
    panel_.layoutGrid = {10, 31, 0};
    panel_.volume = new QSlider(Qt::Horizontal, panel_.modeGroup);
    panel_.volume->setObjectName(QStringLiteral("4911"));
    panel_.volume->setRange(0, 100);
    panel_.volume->setTickInterval(1);
    connect(panel_.volume, &QSlider::valueChanged, this, [this] { volumeChanged_ = true; });
    panel_.volumeLabel = new QLabel(tr2(language_, "Volume", "音量"), panel_.modeGroup);
    panel_.time = new QLabel(QStringLiteral("00:00/00:00"), panel_.modeGroup);
    panel_.bar = new QProgressBar(panel_.modeGroup);
    panel_.bar->setRange(0, 100);
    panel_.bar->setValue(0);
    panel_.bar->setTextVisible(false);
    panel_.name = new QLabel(panel_.modeGroup);
    panel_.name->setAlignment(Qt::AlignCenter);
    panel_.videoButtons.resize(remote::kMaxVideoButtons);
    for (int j = 0; j < remote::kMaxVideoButtons; ++j) {
        panel_.videoButtons[j] = MakeButton(QString(), 5100 + j, panel_.videoGroup);
        panel_.videoButtons[j]->hide();
        connect(panel_.videoButtons[j], &QPushButton::clicked, this, [this, j] { OnVideoButton(j); });
    }

    onMessage(platform::WM_VIDEO_LIST_REPLY, [this](platform::WPARAM w, platform::LPARAM l) {
        std::unique_ptr<PlayerCatalog> catalog(reinterpret_cast<PlayerCatalog*>(l));
        if (w == 0 && catalog) {
            types_ = remote::TypesFromCatalog(*catalog);
            auto request = std::make_unique<SendRequest>();
            proto::PlayerPacketHeader h;
            h.command = proto::CMD_LAYOUT;
            if (request->SetPacket(h))
                SendToMainWindow(request.release());
        }
        return platform::LRESULT(0);
    });
    onMessage(platform::WM_TRACKBAR_VALUES_REPLY, [this](platform::WPARAM w, platform::LPARAM l) {
        std::unique_ptr<replies::TrackbarRecord> record(reinterpret_cast<replies::TrackbarRecord*>(l));
        if (w == 1 && record) {
            panel_.volume->blockSignals(true);
            panel_.volume->setValue(record->param);
            panel_.volume->blockSignals(false);
        }
        return platform::LRESULT(0);
    });
    onMessage(platform::WM_VIDEO_UPLOAD_REPLY, [this](platform::WPARAM, platform::LPARAM l) {
        if (l)
            OnLayoutList(*reinterpret_cast<const QString*>(l));
        return platform::LRESULT(0);
    });
    onMessage(platform::WM_VIDEO_CONTROL_REPLY, [this](platform::WPARAM w, platform::LPARAM l) {
        if (w == remote::kCmdProgress && l)
            OnProgressReply(*reinterpret_cast<const QByteArray*>(l));
        return platform::LRESULT(0);
    });
    resize(1280, 720);
    UpdateTabOrder();
}

void CVideoControl::UpdateTabOrder()
{
    // Panels from the top: types, the video check and its videos, layouts,
    // then the mode row, the volume and the second row.
    std::vector<QWidget*> chain(panel_.typeButtons.begin(), panel_.typeButtons.end());
    chain.push_back(panel_.videoCheck);
    chain.insert(chain.end(), panel_.videoButtons.begin(), panel_.videoButtons.end());
    chain.insert(chain.end(), panel_.layoutButtons.begin(), panel_.layoutButtons.end());
    chain.insert(chain.end(), modeButtons_.begin(), modeButtons_.end());
    for (QWidget* w : std::initializer_list<QWidget*>{panel_.volume, play_, pause_, previous_, next_})
        chain.push_back(w);
    // The focus moves to the new first control only while it is still where
    // the dialog put it: never away from where the user took it.
    const bool untouched = !focusWidget() || focusWidget() == startFocus_;
    controls::SetReadingOrder(chain, untouched);
    if (untouched)
        startFocus_ = controls::FirstReachable(chain);
}

CVideoControl::~CVideoControl() = default;

QPushButton* CVideoControl::MakeButton(const QString& label, int id, QWidget* parent)
{
    // The page's own font: its grids are laid out from that font's metrics.
    QPushButton* b = controls::MakeButton(label, id, parent);
    b->setFont(font());
    return b;
}

void CVideoControl::OnInitDialog()
{
    auto request = std::make_unique<SendRequest>();
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_VIDEO_LIST;
    if (request->SetPacket(h))
        SendToMainWindow(request.release());
    platform::MessageWindow::setTimer(kTimer, kTimerMs);
}

void CVideoControl::done(int result)
{
    platform::MessageWindow::killTimer(kTimer);
    QDialog::done(result);
}

void CVideoControl::onTimer(unsigned id)
{
    if (id != kTimer)
        return;
    if (volumeChanged_) {
        Send(remote::kCmdSound, QString::asprintf("%d", panel_.volume->value()));
        volumeChanged_ = false;
    }
    if (polling_)
        Send(remote::kCmdProgress, QString());
}

void CVideoControl::Send(int cmdId, const QString& value)
{
    if (!platform::findWindow(platform::appTitle()))
        return;
    const QByteArray document = remote::WriteVideoControlDocument(folder_, cmdId, value);
    const QByteArray packet = remote::VideoControlPacket(cmdId, document);
    if (packet.isEmpty())
        return;
    auto request = std::make_unique<SendRequest>();
    if (request->SetPacket(proto::PlayerPacketHeader::fromBytes(reinterpret_cast<const uint8_t*>(packet.constData())),
                           document))
        SendToMainWindow(request.release());
}

void CVideoControl::OnLayoutList(const QString& text)
{
    layouts_ = remote::SplitLayoutList(text);
    // The buttons are made once; a second list only renames what it can.
    if (!buttonsBuilt_) {
        buttonsBuilt_ = true;
        for (int i = 0; i < int(types_.size()) && i < remote::kMaxTypeButtons; ++i) {
            QPushButton* b = MakeButton(types_[std::size_t(i)].name, 5000 + i, panel_.typeGroup);
            connect(b, &QPushButton::clicked, this, [this, i] { OnTypeButton(i); });
            b->show();
            panel_.typeButtons.push_back(b);
        }
        for (int i = 0; i < layouts_.size() && i < remote::kMaxLayoutButtons; ++i) {
            QPushButton* b = MakeButton(layouts_[i] + QStringLiteral(".GFD"), 5200 + i, panel_.layoutGroup);
            connect(b, &QPushButton::clicked, this, [this, i] { OnLayoutButton(i); });
            b->show();
            panel_.layoutButtons.push_back(b);
        }
        LayoutControls();
        UpdateTabOrder();
    }
    polling_ = true;
}

void CVideoControl::OnProgressReply(const QByteArray& payload)
{
    const auto view = remote::ReadProgressReply(payload);
    if (!view)
        return;
    panel_.bar->setValue(view->percent);
    panel_.time->setText(view->timeText);
    if (view->hasName)
        panel_.name->setText(view->nameText);
}

void CVideoControl::OnListButton(remote::ListButton button, int index)
{
    remote::PressListButton(button, index, types_, layouts_, panel_.videoCheck->isChecked(), selectedType_,
                            [this](int cmdId, const QString& value) { Send(cmdId, value); },
                            [this](const QStringList& videos) { ListVideos(videos); });
}

void CVideoControl::OnModeButton(remote::PlayMode mode)
{
    Send(remote::kCmdPlayMode, remote::PlayModeLabel(mode, language_));
}

void CVideoControl::OnPlay(bool play)
{
    Send(remote::kCmdPlay, play ? QStringLiteral("1") : QStringLiteral("0"));
}

QString CVideoControl::timeText() const { return panel_.time->text(); }
QString CVideoControl::nameText() const { return panel_.name->text(); }
int CVideoControl::progress() const { return panel_.bar->value(); }

void CVideoControl::ListVideos(const QStringList& videos)
{
    // The same cells the video row is laid out in.
    controls::ShowButtonRow(panel_.videoButtons, videos, [this](int j) { return panel_.videoCell(j); });
}

void CVideoControl::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    LayoutControls();
}

void CVideoControl::keyPressEvent(QKeyEvent* event)
{
    // Enter and Escape neither press a button nor close the dialog.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(event);
}

void CVideoControl::LayoutControls()
{
    panel_.place(width(), height());
}
