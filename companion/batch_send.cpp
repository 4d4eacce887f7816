#include "companion/batch_send.h"

#include "common/controls/text_progress_ctrl.h"
#include "common/text_coding.h"
#include "companion/hub_records.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "transport/protocol.h"

#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

using platform::LPARAM;
using platform::LRESULT;
using platform::WPARAM;
using videoset::BatchDevice;

constexpr uint16_t kVideoTypeKind = 1;

}  // namespace

namespace videoset {

QString StatusText(const BatchDevice& device, unsigned language)
{
    switch (device.status) {
    case BatchDevice::kTimeOut:
        return platform::pickText(language, "Time Out", "超时");
    case BatchDevice::kSmallDisk:
        return platform::pickText(language, "Small disk surplus", "磁盘剩余空间不足");
    case BatchDevice::kSending:
        return QStringLiteral("%1/%2").arg(device.filesSent).arg(device.files.size());
    case BatchDevice::kWaiting:
        return QStringLiteral("0/%1").arg(device.files.size());
    case BatchDevice::kDone:
        return QStringLiteral("OK");
    default:
        return QString();
    }
}

}  // namespace videoset

CBatchSend::CBatchSend(const QString& tempFolder, QWidget* parent)
    : QWidget(parent), platform::MessageWindow(static_cast<QWidget*>(this)), tempFolder_(tempFolder)
{
    language_ = platform::appLanguage() == platform::kLanguageChinese ? platform::kLanguageChinese
                                                                       : platform::kLanguageEnglish;
    setObjectName(QStringLiteral("135"));
    // The dispatcher finds this page by this caption.
    setWindowTitle(tollivar::kBatchSendCaption.text(language_));

    list_ = new QTableWidget(0, 4, this);
    list_->setObjectName(QStringLiteral("2401"));
    list_->setHorizontalHeaderLabels({Text("SN", "序号"), Text("IP", "IP"), Text("TCP Port", "TCP端口"),
                                      Text("Update Video", "更新视频")});
    const int widths[4] = {50, 100, 100, 100};
    for (int c = 0; c < 4; ++c)
        list_->setColumnWidth(c, widths[c]);
    list_->horizontalHeader()->setStretchLastSection(true);
    list_->verticalHeader()->setVisible(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setShowGrid(true);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("2403"));
    sendButton_ = new QPushButton(Text("Send", "发送"), this);
    sendButton_->setObjectName(QStringLiteral("2402"));
    stopButton_ = new QPushButton(Text("Stop", "停止"), this);
    stopButton_->setObjectName(QStringLiteral("2404"));
    stopButton_->setEnabled(false);
    progress_ = new CTextProgressCtrl(this);
    progress_->setObjectName(QStringLiteral("2405"));
    progress_->SetRange(0, 100);
    progress_->setVisible(false);
    QObject::connect(sendButton_, &QPushButton::clicked, this, [this] { OnSend(); });
    QObject::connect(stopButton_, &QPushButton::clicked, this, [this] { OnStop(); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(status_, 1);
    buttons->addWidget(sendButton_);
    buttons->addWidget(stopButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addWidget(progress_);
    layout->addLayout(buttons);

    onMessage(platform::WM_VIDEO_LIST_REPLY, [this](WPARAM w, LPARAM l) { return OnVideoList(w, l); });
    onMessage(platform::WM_VIDEO_UPLOAD_REPLY, [this](WPARAM w, LPARAM l) { return OnUploadReply(w, l); });
    onMessage(platform::WM_CONTROL_PROTOCOL_REPLY, [this](WPARAM, LPARAM) { return OnDocumentTaken(); });
    onMessage(platform::WM_LINK_CLOSED, [this](WPARAM, LPARAM) { return OnLinkClosed(); });
    onMessage(platform::WM_PARAM_FILE_REPLY, [](WPARAM, LPARAM) { return LRESULT(0); });
}

CBatchSend::~CBatchSend()
{
    // Nothing may run on a page that is going: no watchdog, no pause.
    MessageWindow::killTimer(kWatchdogTimer);
    stopped_ = true;
    ++pauseGeneration_;
}

QString CBatchSend::Text(const char* english, const char* chinese) const
{
    return platform::pickText(language_, english, chinese);
}

QString CBatchSend::StatusLine() const
{
    return status_->text();
}

BatchDevice* CBatchSend::Current()
{
    return current_ < devices_.size() ? &devices_[current_] : nullptr;
}

void CBatchSend::SetDevices(const std::vector<videoset::DeviceSetup>& devices)
{
    Shutdown();
    setups_ = devices;
    devices_.clear();
    for (const videoset::DeviceSetup& setup : setups_) {
        BatchDevice device;
        device.ip = setup.ip;
        device.portText = setup.portText;
        device.files = videoset::BatchFilesOf(setup);
        devices_.push_back(std::move(device));
    }
    list_->setRowCount(int(devices_.size()));
    for (int row = 0; row < int(devices_.size()); ++row) {
        list_->setItem(row, 0, new QTableWidgetItem(QString::number(row + 1)));
        list_->setItem(row, 1, new QTableWidgetItem(devices_[std::size_t(row)].ip));
        list_->setItem(row, 2, new QTableWidgetItem(devices_[std::size_t(row)].portText));
        list_->setItem(row, 3, new QTableWidgetItem(QString()));
    }
    ShowStatuses();
}

void CBatchSend::ShowStatuses()
{
    for (int row = 0; row < int(devices_.size()) && row < list_->rowCount(); ++row)
        if (QTableWidgetItem* item = list_->item(row, 3))
            item->setText(videoset::StatusText(devices_[std::size_t(row)], language_));
}

// ------------------------------------------------------------ requests

void CBatchSend::Send(uint8_t command, uint8_t subCode, uint16_t param, uint16_t arg, const QByteArray& payload,
                      std::shared_ptr<const void> bodyOwner, const QString& source)
{
    BatchDevice* device = Current();
    if (!device)
        return;
    proto::PlayerPacketHeader header;
    header.command = command;
    header.subCode = subCode;
    header.param = param;
    header.arg = arg;
    auto request = std::make_unique<SendRequest>();
    request->AddTarget(device->ip, device->portText.toUShort());
    if (!(bodyOwner ? request->SetPacketWithBody(header, payload, std::move(bodyOwner), source)
                    : request->SetPacket(header, payload)))
        return;
    SendToMainWindow(request.release());
}

void CBatchSend::CloseLinks()
{
    // The hub announces each link it closes at once (WM_LINK_CLOSED comes
    // back during this call): whether one did tells a player that was never
    // reached from one that was.
    closing_ = true;
    closedDuringClose_ = false;
    SendToMainWindow(new SendRequest);
    closing_ = false;
}

void CBatchSend::QueryCatalogue(uint16_t argument)
{
    askedCatalogue_ = argument;
    if (BatchDevice* device = Current()) {
        device->lastCommand = proto::CMD_VIDEO_LIST;
        device->seconds = 0;
    }
    Send(proto::CMD_VIDEO_LIST, 0, 0, argument);
}

void CBatchSend::StartCurrentPlayer()
{
    BatchDevice* device = Current();
    if (!device || stopped_)
        return;
    upload_.Reset();
    // Started again from its catalogue: what it took meanwhile is left out
    // by the catalogue check, the rest is sent from the beginning.
    device->files = videoset::BatchFilesOf(setups_[current_]);
    device->filesSent = 0;
    device->filesPassedOver = 0;
    device->tries = 0;
    device->seconds = 0;
    device->status = BatchDevice::kSending;
    ShowStatuses();
    QueryCatalogue(0);
}

void CBatchSend::OnSend()
{
    if (devices_.empty())
        return;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        BatchDevice& device = devices_[i];
        device.status = BatchDevice::kWaiting;
        device.tries = 0;
        device.seconds = 0;
        device.filesSent = 0;
        device.filesPassedOver = 0;
        device.files = videoset::BatchFilesOf(setups_[i]);
    }
    ShowStatuses();
    current_ = 0;
    stopped_ = false;
    passedOver_.clear();
    ++pauseGeneration_;
    sendButton_->setEnabled(false);
    stopButton_->setEnabled(true);
    status_->clear();
    StartCurrentPlayer();
    setTimer(kWatchdogTimer, tickMs_);
}

void CBatchSend::OnStop()
{
    MessageWindow::killTimer(kWatchdogTimer);
    // Stopped before the links close: their announcements find nothing to do.
    stopped_ = true;
    ++pauseGeneration_;
    upload_.Reset();
    CloseLinks();
    sendButton_->setEnabled(true);
    stopButton_->setEnabled(false);
}

uint64_t CBatchSend::Progress() const
{
    return progress_->GetPos();
}

void CBatchSend::Shutdown()
{
    if (!stopped_)
        OnStop();
}

void CBatchSend::Accepted()
{
    if (BatchDevice* device = Current()) {
        device->seconds = 0;
        device->tries = 0;
    }
}

// ------------------------------------------------------------ replies

LRESULT CBatchSend::OnVideoList(WPARAM, LPARAM lParam)
{
    std::unique_ptr<PlayerCatalog> catalog(reinterpret_cast<PlayerCatalog*>(lParam));
    BatchDevice* device = Current();
    // The argument is the one this page asked for: one request is in flight
    // at a time, and players do not all echo it in the reply.
    if (stopped_ || !catalog || !device || device->lastCommand != proto::CMD_VIDEO_LIST)
        return 0;
    Accepted();
    if (askedCatalogue_ == 0) {
        catalogues_[0] = *catalog;
        QueryCatalogue(1);
        return 0;
    }
    catalogues_[1] = *catalog;
    device->files = videoset::WithoutHeld(device->files, catalogues_[0], catalogues_[1]);
    ShowStatuses();
    uint64_t needed = 0;
    for (const videoset::BatchFile& file : device->files)
        needed += file.size;
    if (!videoset::FitsFreeSpace(needed, catalogues_[1].freeMB)) {
        device->status = BatchDevice::kSmallDisk;
        ShowStatuses();
        NextPlayer();
        return 0;
    }
    StartFile();
    return 0;
}

void CBatchSend::StartFile()
{
    BatchDevice* device = Current();
    if (!device)
        return;
    if (device->FileIndex() >= device->files.size()) {
        SendDocument();
        return;
    }
    const videoset::BatchFile& file = device->files[device->FileIndex()];
    QByteArray payload;
    if (!upload::VideoBeginPayload(file.category, file.SentName(), payload)) {
        // Never a shortened name: the batch stops with the reason.
        OnStop();
        platform::messageBox(text::unencodableNameMessage(file.SentName(), int(language_)), QString(),
                             platform::MsgButtons::Ok, platform::MsgIcon::Warning, this);
        return;
    }
    status_->setText(Text("Sending video:", "正在发送视频：") + file.SentName());
    // The file as it was listed: the catalogue and free-space checks were
    // made from that size, and a file changed since is passed over.
    upload_.Announced(file.path, file.stamp);
    device->lastCommand = proto::CMD_VIDEO_UPLOAD;
    device->seconds = 0;
    Send(proto::CMD_VIDEO_UPLOAD, 0, 0, file.act, payload);
}

void CBatchSend::SendChunk(upload::Upload::Chunk&& chunk)
{
    BatchDevice* device = Current();
    // An acknowledgement that comes after the file was closed (by a resend,
    // a time-out or Stop) has no chunk to answer: the watchdog goes on.
    if (!device || device->FileIndex() >= device->files.size())
        return;
    const videoset::BatchFile& file = device->files[device->FileIndex()];
    const bool last = chunk.last;
    progress_->SetPos(uint64_t(chunk.percent));
    Send(proto::CMD_VIDEO_UPLOAD, last ? 2 : 1, chunk.ordinal, file.act, chunk.bytes, std::move(chunk.owner),
         chunk.source);
    if (last) {
        ++device->filesSent;
        ShowStatuses();
    }
}

void CBatchSend::FileUnreadable()
{
    BatchDevice* device = Current();
    if (!device || device->FileIndex() >= device->files.size())
        return;
    // Gone, unreadable, cut short or changed: passed over with a word in the
    // status line rather than sent cut short or mixed.
    const QString& path = device->files[device->FileIndex()].path;
    passedOver_ << (upload_.RefusedAsChanged() ? upload::ChangedFileMessage(path, int(language_))
                                               : upload::ReadFailureMessage(path, int(language_)));
    status_->setText(passedOver_.back());
    ++device->filesPassedOver;
    ShowStatuses();
    StartFile();
}

void CBatchSend::SendDocument()
{
    BatchDevice* device = Current();
    if (!device)
        return;
    device->lastCommand = proto::CMD_PARAM_FILE;
    device->seconds = 0;
    QFile file(QDir(tempFolder_).filePath(QString::fromLatin1(videoset::kVideoTypeFileName)));
    if (!file.open(QIODevice::ReadOnly) || file.size() > qint64(proto::kMaxPayload))
        return;
    Send(proto::CMD_PARAM_FILE, 0, kVideoTypeKind, 0, file.readAll());
}

LRESULT CBatchSend::OnUploadReply(WPARAM, LPARAM lParam)
{
    BatchDevice* device = Current();
    if (stopped_ || lParam != 0 || !device || device->lastCommand != proto::CMD_VIDEO_UPLOAD)
        return 0;
    Accepted();
    const bool first = upload_.stage() == upload::Upload::Stage::kAnnounced;
    const bool lastTaken = upload_.stage() == upload::Upload::Stage::kLastSent;
    upload::Upload::Chunk chunk;
    switch (upload_.Acknowledged(chunk)) {
    case upload::Upload::Step::kChunk:
        if (first) {
            progress_->SetRange(0, 100);
            progress_->SetPos(0);
            progress_->setVisible(true);
        }
        SendChunk(std::move(chunk));
        return 0;
    case upload::Upload::Step::kOpenFailed:
    case upload::Upload::Step::kReadFailed:
        // Written while its last chunk travelled: counted as sent when that
        // chunk went, it is passed over instead.
        if (lastTaken && device->filesSent > 0)
            --device->filesSent;
        FileUnreadable();
        return 0;
    case upload::Upload::Step::kEnd:
        StartFile();
        return 0;
    case upload::Upload::Step::kNone:
        // After the file was closed (by a resend, a time-out or Stop) there
        // is no chunk to answer: the watchdog goes on.
        return 0;
    }
    return 0;
}

LRESULT CBatchSend::OnDocumentTaken()
{
    BatchDevice* device = Current();
    if (stopped_ || !device || device->lastCommand != proto::CMD_PARAM_FILE)
        return 0;
    device->status = BatchDevice::kDone;
    device->lastCommand = 0;
    ShowStatuses();
    NextPlayer();
    return 0;
}

void CBatchSend::NextPlayer()
{
    ++current_;
    CloseLinks();
    // With no link open there is no announcement to wait for.
    if (!closedDuringClose_)
        OnLinkClosed();
}

LRESULT CBatchSend::OnLinkClosed()
{
    if (closing_)
        closedDuringClose_ = true;
    if (stopped_)
        return 0;
    if (current_ >= devices_.size()) {
        Finish();
        return 0;
    }
    // Several links may close at once: only the last pause counts.
    const uint64_t generation = ++pauseGeneration_;
    QPointer<CBatchSend> self(this);
    QTimer::singleShot(pauseMs_, this, [self, generation] {
        if (!self || self->stopped_ || generation != self->pauseGeneration_)
            return;
        self->StartCurrentPlayer();
    });
    return 0;
}

void CBatchSend::Finish()
{
    progress_->setVisible(false);
    MessageWindow::killTimer(kWatchdogTimer);
    sendButton_->setEnabled(true);
    stopButton_->setEnabled(false);
    // A file passed over stays said when the batch is done.
    status_->setText(passedOver_.isEmpty() ? Text("Batch Send OK!", "批量发送完成！")
                                           : Text("Batch Send OK!", "批量发送完成！") + QLatin1Char(' ') +
                                                 passedOver_.join(QLatin1Char(' ')));
    stopped_ = true;
}

void CBatchSend::onTimer(unsigned id)
{
    if (id != kWatchdogTimer || stopped_) {
        MessageWindow::onTimer(id);
        return;
    }
    if (current_ >= devices_.size())
        current_ = 0;
    BatchDevice* device = Current();
    if (!device)
        return;
    if (++device->seconds < kWatchdogSeconds)
        return;
    device->seconds = 0;
    ++device->tries;
    if (device->tries < kMaxTries) {
        switch (device->lastCommand) {
        case proto::CMD_VIDEO_LIST:
            QueryCatalogue(0);
            break;
        case proto::CMD_VIDEO_UPLOAD:
            upload_.Reset();
            StartFile();
            break;
        case proto::CMD_PARAM_FILE:
            // After the last file: the document again, never a file past the list.
            SendDocument();
            break;
        default:
            break;
        }
        return;
    }
    device->status = BatchDevice::kTimeOut;
    // Nothing is awaited until the player is started again: a late
    // acknowledgement must not move a file that is closed.
    device->lastCommand = 0;
    ShowStatuses();
    upload_.Reset();
    CloseLinks();
    if (!closedDuringClose_) {
        // No link was ever made to it: it keeps "Time Out" and the batch
        // goes on with the next player.
        ++current_;
        OnLinkClosed();
    }
    // Otherwise the announcement of the closed link starts it again.
}
