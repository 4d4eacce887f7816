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
    typeGroup_ = new QGroupBox(tr2(language_, "Type", "切换类别"), this);
    videoGroup_ = new QGroupBox(this);
    layoutGroup_ = new QGroupBox(tr2(language_, "Layout", "切换布局"), this);
    modeGroup_ = new QGroupBox(tr2(language_, "Mode", "播放模式"), this);
    videoCheck_ = new QCheckBox(tr2(language_, "Video", "切换视频"), this);
    videoCheck_->setObjectName(QStringLiteral("4919"));
    connect(videoCheck_, &QCheckBox::toggled, this, [this](bool on) {
        if (!on)
            for (QPushButton* b : videoButtons_)
                b->hide();
    });
    for (int i = 0; i < 5; ++i) {
        modeButtons_[i] = MakeButton(remote::PlayModeLabel(kModes[i], language_), 4904 + i, modeGroup_);
        connect(modeButtons_[i], &QPushButton::clicked, this, [this, i] { OnModeButton(kModes[i]); });
    }
    play_ = MakeButton(tr2(language_, "play", "播放"), 4909, modeGroup_);
    pause_ = MakeButton(tr2(language_, "pause", "暂停"), 4910, modeGroup_);
    previous_ = MakeButton(remote::PlayModeLabel(remote::PlayMode::Previous, language_), 4913, modeGroup_);
    next_ = MakeButton(remote::PlayModeLabel(remote::PlayMode::Next, language_), 4914, modeGroup_);
    connect(play_, &QPushButton::clicked, this, [this] { OnPlay(true); });
    connect(pause_, &QPushButton::clicked, this, [this] { OnPlay(false); });
    connect(previous_, &QPushButton::clicked, this, [this] { OnModeButton(remote::PlayMode::Previous); });
    connect(next_, &QPushButton::clicked, this, [this] { OnModeButton(remote::PlayMode::Next); });
    volume_ = new QSlider(Qt::Horizontal, modeGroup_);
    volume_->setObjectName(QStringLiteral("4911"));
    volume_->setRange(0, 100);
    volume_->setTickInterval(1);
    connect(volume_, &QSlider::valueChanged, this, [this] { volumeChanged_ = true; });
    volumeLabel_ = new QLabel(tr2(language_, "Volume", "音量"), modeGroup_);
    time_ = new QLabel(QStringLiteral("00:00/00:00"), modeGroup_);
    bar_ = new QProgressBar(modeGroup_);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    name_ = new QLabel(modeGroup_);
    name_->setAlignment(Qt::AlignCenter);
    for (int j = 0; j < remote::kMaxVideoButtons; ++j) {
        videoButtons_[j] = MakeButton(QString(), 5100 + j, videoGroup_);
        videoButtons_[j]->hide();
        connect(videoButtons_[j], &QPushButton::clicked, this, [this, j] { OnVideoButton(j); });
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
            volume_->blockSignals(true);
            volume_->setValue(record->param);
            volume_->blockSignals(false);
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
    std::vector<QWidget*> chain(typeButtons_.begin(), typeButtons_.end());
    chain.push_back(videoCheck_);
    chain.insert(chain.end(), videoButtons_.begin(), videoButtons_.end());
    chain.insert(chain.end(), layoutButtons_.begin(), layoutButtons_.end());
    chain.insert(chain.end(), modeButtons_.begin(), modeButtons_.end());
    for (QWidget* w : std::initializer_list<QWidget*>{volume_, play_, pause_, previous_, next_})
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
        Send(remote::kCmdSound, QString::asprintf("%d", volume_->value()));
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
            QPushButton* b = MakeButton(types_[std::size_t(i)].name, 5000 + i, typeGroup_);
            connect(b, &QPushButton::clicked, this, [this, i] { OnTypeButton(i); });
            b->show();
            typeButtons_.push_back(b);
        }
        for (int i = 0; i < layouts_.size() && i < remote::kMaxLayoutButtons; ++i) {
            QPushButton* b = MakeButton(layouts_[i] + QStringLiteral(".GFD"), 5200 + i, layoutGroup_);
            connect(b, &QPushButton::clicked, this, [this, i] { OnLayoutButton(i); });
            b->show();
            layoutButtons_.push_back(b);
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
    bar_->setValue(view->percent);
    time_->setText(view->timeText);
    if (view->hasName)
        name_->setText(view->nameText);
}

void CVideoControl::OnListButton(remote::ListButton button, int index)
{
    remote::PressListButton(button, index, types_, layouts_, videoCheck_->isChecked(), selectedType_,
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

QString CVideoControl::timeText() const { return time_->text(); }
QString CVideoControl::nameText() const { return name_->text(); }
int CVideoControl::progress() const { return bar_->value(); }

void CVideoControl::ListVideos(const QStringList& videos)
{
    // The same cells the video row is laid out in.
    const QRect group = videoGroup_->contentsRect();
    controls::ShowButtonRow(videoButtons_, videos, [&group](int j) { return remote::GridCell(group, j, 10, 30, 20); });
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
    const remote::PanelGeometry g = remote::PanelLayout(width(), height(), 4);
    typeGroup_->setGeometry(g.type);
    videoGroup_->setGeometry(g.video);
    layoutGroup_->setGeometry(g.layout);
    modeGroup_->setGeometry(g.mode);
    videoCheck_->setGeometry(g.videoCheck);
    videoCheck_->raise();

    // Inside the frame, below the group's title, so no button covers it.
    const QRect typeRect = typeGroup_->contentsRect();
    for (std::size_t i = 0; i < typeButtons_.size(); ++i)
        typeButtons_[i]->setGeometry(remote::GridCell(typeRect, int(i), 10, 31, 24));
    const QRect layoutRect = layoutGroup_->contentsRect();
    for (std::size_t i = 0; i < layoutButtons_.size(); ++i)
        layoutButtons_[i]->setGeometry(remote::LayoutCell(layoutRect, int(i)));
    const QRect videoRect = videoGroup_->contentsRect();
    for (int j = 0; j < remote::kMaxVideoButtons; ++j)
        videoButtons_[std::size_t(j)]->setGeometry(remote::GridCell(videoRect, j, 10, 30, 20));

    for (int i = 0; i < 5; ++i)
        modeButtons_[std::size_t(i)]->setGeometry(g.modes[std::size_t(i)]);
    QPushButton* second[4] = {play_, pause_, previous_, next_};
    for (int i = 0; i < 4; ++i)
        second[i]->setGeometry(g.second[std::size_t(i)]);
    volume_->setGeometry(g.volume);
    volumeLabel_->setGeometry(g.volumeLabel);
    time_->setGeometry(g.time);
    bar_->setGeometry(g.bar);
    name_->setGeometry(g.name);
}
