#include "content/batch_send_file.h"

#include "common/controls/dialog_keys.h"
#include "common/controls/text_progress_ctrl.h"
#include "common/digest.h"
#include "common/text_coding.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "transport/announcement.h"
#include "transport/tcp_client.h"
#include "transport/udp_server.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

using namespace batch;

namespace {

// The 16-byte discovery request of the batch pages: the header alone, the
// length field 0 (a broadcast).
QByteArray discoveryRequest()
{
    return scan::BuildDiscoveryRequest(false).left(qsizetype(proto::kHeaderSize));
}

QString fileNameOf(const QString& path)
{
    return QFileInfo(path).fileName();
}

}  // namespace

CBatchSendFile::CBatchSendFile(int pageIndex, const QString& titlePrefix, unsigned language,
                               platform::WindowHandle host, QWidget* parent)
    : QWidget(parent),
      pageIndex_(pageIndex),
      titlePrefix_(titlePrefix),
      language_(language),
      host_(host),
      link_(std::make_unique<CTCPClient>()),
      endpoint_(std::make_unique<CUDPServer>()),
      udpReceiver_(std::make_unique<platform::MessageWindow>(QString())),
      assembler_(std::make_unique<ReplyAssembler>()),
      catalogs_(std::make_unique<std::array<PlayerCatalog, 2>>())
{
    setObjectName(QStringLiteral("BatchPage%1").arg(pageIndex));
    link_->setOwner(host_);
    link_->SetLinkIndex(uint16_t(pageIndex_));
    // Datagrams go to the page that owns the endpoint, whichever tab is shown,
    // so a scan keeps its rows while another tab is selected.
    udpReceiver_->onMessage(platform::WM_UDP_EVENT, [this](platform::WPARAM, platform::LPARAM l) {
        OnUdpEvent(*reinterpret_cast<const UdpLinkEvent*>(l));
        return platform::LRESULT(0);
    });
    endpoint_->setOwner(udpReceiver_->handle());
    scanTimer_ = new QTimer(this);
    connect(scanTimer_, &QTimer::timeout, this, [this] { OnScanTick(); });
    watchdog_ = new QTimer(this);
    connect(watchdog_, &QTimer::timeout, this, [this] { OnWatchdogTick(); });
    BuildControls();
    OnUpdateCards();
}

CBatchSendFile::~CBatchSendFile()
{
    Shutdown();
}

void CBatchSendFile::BuildControls()
{
    auto* top = new QVBoxLayout(this);
    auto* cards = new QHBoxLayout;
    cardCombo_ = new QComboBox(this);
    cardCombo_->setObjectName(QStringLiteral("4202"));
    cardCombo_->setMinimumWidth(260);
    updata_ = new QPushButton(T(texts::kUpdata), this);
    updata_->setObjectName(QStringLiteral("4203"));
    scan_ = new QPushButton(T(texts::kScan), this);
    scan_->setObjectName(QStringLiteral("4204"));
    all_ = new QPushButton(T(texts::kAll), this);
    all_->setObjectName(QStringLiteral("4205"));
    invert_ = new QPushButton(T(texts::kInvert), this);
    invert_->setObjectName(QStringLiteral("4206"));
    cards->addWidget(cardCombo_, 1);
    for (QPushButton* b : {updata_, scan_, all_, invert_})
        cards->addWidget(b);
    top->addLayout(cards);

    list_ = new QTableWidget(0, kColumnCount, this);
    list_->setObjectName(QStringLiteral("4201"));
    const Message titles[kColumnCount] = {texts::kColSn, texts::kColIp,  texts::kColMac,   texts::kColPort,
                                          texts::kColId, texts::kColVer, texts::kColVideo, texts::kColLayout};
    const int widths[kColumnCount] = {50, 100, 120, 100, 100, 340, 100, 100};
    QStringList labels;
    for (const Message& m : titles)
        labels << T(m);
    list_->setHorizontalHeaderLabels(labels);
    for (int c = 0; c < kColumnCount; ++c)
        list_->setColumnWidth(c, widths[c]);
    list_->verticalHeader()->setVisible(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setShowGrid(true);
    list_->setMinimumHeight(220);
    top->addWidget(list_, 1);

    auto* grid = new QGridLayout;
    const Message folderTitles[3] = {texts::kFirstAct, texts::kSecondAct, texts::kLayout};
    const char* ids[3] = {"4207", "4208", "4209"};
    for (int i = 0; i < 3; ++i) {
        grid->addWidget(new QLabel(T(folderTitles[i]), this), i, 0);
        folders_[i] = new QLineEdit(this);
        folders_[i]->setObjectName(QString::fromLatin1(ids[i]));
        grid->addWidget(folders_[i], i, 1);
        browse_[i] = new QPushButton(T(texts::kBrowse), this);
        browse_[i]->setObjectName(QString::fromLatin1(ids[i]) + QStringLiteral("b"));
        grid->addWidget(browse_[i], i, 2);
        connect(browse_[i], &QPushButton::clicked, this, [this, i, folderTitles] {
            platform::FileDialogCall call{platform::FileDialogKind::Folder, T(folderTitles[i]), folders_[i]->text(),
                                          QString(), QString(), QString()};
            const QString chosen = platform::fileDialog(call, this);
            if (!chosen.isEmpty())
                folders_[i]->setText(chosen);
        });
    }
    top->addLayout(grid);

    auto* bottom = new QHBoxLayout;
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("4211"));
    progress_ = new CTextProgressCtrl(this);
    progress_->setObjectName(QStringLiteral("4213"));
    progress_->SetRange(0, 100);
    progress_->setVisible(false);
    send_ = new QPushButton(T(texts::kSend), this);
    send_->setObjectName(QStringLiteral("4210"));
    stop_ = new QPushButton(T(texts::kStop), this);
    stop_->setObjectName(QStringLiteral("4212"));
    bottom->addWidget(status_, 1);
    bottom->addWidget(progress_, 1);
    bottom->addWidget(send_);
    bottom->addWidget(stop_);
    top->addLayout(bottom);

    for (QPushButton* b : findChildren<QPushButton*>())
        b->setAutoDefault(false);
    connect(updata_, &QPushButton::clicked, this, [this] { OnUpdateCards(); });
    connect(scan_, &QPushButton::clicked, this, [this] { OnScan(); });
    connect(all_, &QPushButton::clicked, this, [this] { OnAll(); });
    connect(invert_, &QPushButton::clicked, this, [this] { OnInvert(); });
    connect(send_, &QPushButton::clicked, this, [this] { OnSend(); });
    connect(stop_, &QPushButton::clicked, this, [this] { OnStop(); });
}

void CBatchSendFile::keyPressEvent(QKeyEvent* event)
{
    // Enter and Esc never close the dialog from a page.
    if (!controls::SwallowEnterEsc(event))
        QWidget::keyPressEvent(event);
}

void CBatchSendFile::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
}

void CBatchSendFile::EnableControls(bool enable)
{
    for (QWidget* w : std::initializer_list<QWidget*>{cardCombo_, updata_, all_, invert_, send_, folders_[0],
                                                      folders_[1], folders_[2], browse_[0], browse_[1], browse_[2]})
        w->setEnabled(enable);
    scan_->setEnabled(enable || scanning_);
}

// ------------------------------------------------------------ list

void CBatchSendFile::AddRow(const PlayerRow& row)
{
    rows_.push_back(row);
    RebuildRows(!scanning_);
}

int CBatchSendFile::RowCount() const
{
    return list_->rowCount();
}

QString CBatchSendFile::Cell(int row, int column) const
{
    const QTableWidgetItem* item = list_->item(row, column);
    return item ? item->text() : QString();
}

bool CBatchSendFile::IsTicked(int row) const
{
    const QTableWidgetItem* item = list_->item(row, kColSn);
    return item && (item->flags() & Qt::ItemIsUserCheckable) && item->checkState() == Qt::Checked;
}

void CBatchSendFile::SetTicked(int row, bool ticked)
{
    if (QTableWidgetItem* item = list_->item(row, kColSn); item && (item->flags() & Qt::ItemIsUserCheckable))
        item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
}

void CBatchSendFile::SetCell(int row, int column, const QString& text)
{
    QTableWidgetItem* item = list_->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        list_->setItem(row, column, item);
    }
    item->setText(text);
}

void CBatchSendFile::RebuildRows(bool checkable)
{
    list_->setRowCount(0);
    list_->setRowCount(int(rows_.size()));
    for (int r = 0; r < int(rows_.size()); ++r) {
        const PlayerRow& p = rows_[std::size_t(r)];
        // The description without the product word.
        QString description = p.versionText;
        const QString word = scan::ProductPrefix(p.version, language_);
        if (!word.isEmpty() && description.startsWith(word))
            description = description.mid(word.size());
        const QString texts[kColumnCount] = {QString::number(r + 1), p.ip, p.mac, p.portText,
                                             p.id, description, QString(), QString()};
        for (int c = 0; c < kColumnCount; ++c)
            SetCell(r, c, texts[c]);
        QTableWidgetItem* sn = list_->item(r, kColSn);
        if (checkable) {
            sn->setFlags(sn->flags() | Qt::ItemIsUserCheckable);
            sn->setCheckState(Qt::Unchecked);
        } else {
            sn->setFlags(sn->flags() & ~Qt::ItemIsUserCheckable);
            sn->setData(Qt::CheckStateRole, QVariant());
        }
    }
}

void CBatchSendFile::OnAll()
{
    for (int r = 0; r < RowCount(); ++r)
        SetTicked(r, true);
}

void CBatchSendFile::OnInvert()
{
    for (int r = 0; r < RowCount(); ++r)
        SetTicked(r, !IsTicked(r));
}

void CBatchSendFile::SetFolders(const QString& firstAct, const QString& secondAct, const QString& layouts)
{
    folders_[0]->setText(firstAct);
    folders_[1]->setText(secondAct);
    folders_[2]->setText(layouts);
}

void CBatchSendFile::SetWatchdogClock(int tickMs, int ticksPerTry)
{
    watchdogTickMs_ = std::max(1, tickMs);
    ticksPerTry_ = std::max(1, ticksPerTry);
}

QString CBatchSendFile::StatusLine() const
{
    return status_->text();
}

void CBatchSendFile::SetStatusLine(const QString& text)
{
    status_->setText(text);
}

void CBatchSendFile::Progress(uint64_t lower, uint64_t upper, uint64_t pos, bool visible)
{
    progress_->SetRange(lower, upper);
    progress_->SetPos(pos);
    progress_->setVisible(visible);
}

// ------------------------------------------------------------ scan

void CBatchSendFile::OnUpdateCards()
{
    cards_ = scan::ListCards();
    cardCombo_->clear();
    for (const scan::CardEntry& c : cards_)
        cardCombo_->addItem(c.label);
    if (!cards_.empty())
        cardCombo_->setCurrentIndex(0);
}

bool CBatchSendFile::IsScanning() const
{
    return scanning_;
}

uint16_t CBatchSendFile::EndpointPort() const
{
    return endpoint_->LocalPort();
}

void CBatchSendFile::EndBatchQuietly()
{
    ++generation_;
    stepScheduled_ = false;
    video_.Reset();
    materialMd5_.Cancel();
    materialFile_.Reset();
    videos_.clear();
    layouts_.clear();
    layoutNames_.clear();
    material_.clear();
    materialNames_.clear();
    watchdog_->stop();
    sequence_ = 0;
    link_->Close();
    assembler_->reset();
    progress_->setVisible(false);
    idle_ = true;
}

void CBatchSendFile::OnScan()
{
    EndBatchQuietly();
    if (scanning_) {
        StopScanning();
        return;
    }
    const int index = cardCombo_->currentIndex();
    if (index < 0 || std::size_t(index) >= cards_.size())
        return;
    openCard_ = cards_[std::size_t(index)];
    if (!endpoint_->Open(openCard_.address, scan::kLocalPort))
        return;  // the endpoint has said why
    scanning_ = true;
    rows_.clear();
    records_.clear();
    RebuildRows(false);
    Broadcast();
    scanTimer_->start(kScanPeriodMs);
    scan_->setText(T(texts::kStop));
    EnableControls(false);
    scan_->setEnabled(true);
}

void CBatchSendFile::StopScanning()
{
    scanTimer_->stop();
    endpoint_->Close();
    scanning_ = false;
    scan_->setText(T(texts::kScan));
    scan::SortRowsByIpText(rows_);
    scan::SortRecordsByIpText(records_);
    RebuildRows(true);
    EnableControls(true);
}

void CBatchSendFile::Broadcast()
{
    if (!endpoint_->IsOpen())
        return;
    const QByteArray request = discoveryRequest();
    const uint32_t to = openCard_.broadcast;
    const uint32_t network = ((to & 0xFF) << 24) | ((to & 0xFF00) << 8) | ((to >> 8) & 0xFF00) | (to >> 24);
    endpoint_->SendTo(network, scan::kPlayerPort, reinterpret_cast<const uint8_t*>(request.constData()),
                      std::size_t(request.size()));
    const uint64_t generation = generation_;
    QPointer<CBatchSendFile> self(this);
    QTimer::singleShot(scan::kPortGapMs, this, [self, network, request, generation] {
        if (!self || !self->scanning_ || self->generation_ != generation || !self->endpoint_->IsOpen())
            return;
        self->endpoint_->SendTo(network, scan::kPlayerAltPort, reinterpret_cast<const uint8_t*>(request.constData()),
                                std::size_t(request.size()));
    });
}

void CBatchSendFile::OnScanTick()
{
    if (!scanning_)
        return;
    // The list shows the players that answered the latest broadcast.
    rows_.clear();
    records_.clear();
    RebuildRows(false);
    Broadcast();
}

void CBatchSendFile::OnUdpEvent(const UdpLinkEvent& event)
{
    if (!scanning_ || event.type != kUdpDatagram || !event.data)
        return;
    const auto announcement = PlayerAnnouncement::parse(event.data, event.length);
    if (!announcement)
        return;
    const scan::MergeResult merged = scan::MergeAnnouncement(rows_, records_, *announcement, language_);
    if (merged.row < 0)
        return;
    RebuildRows(false);
}

// ------------------------------------------------------------ send

void CBatchSendFile::OnSend()
{
    if (!idle_ || scanning_)
        return;
    passedOver_.clear();
    std::vector<Target> targets;
    std::vector<bool> ticked(std::size_t(RowCount()), false);
    for (int r = 0; r < RowCount(); ++r) {
        if (!IsTicked(r))
            continue;
        ticked[std::size_t(r)] = true;
        Target t;
        t.ip = Cell(r, kColIp);
        t.port = uint16_t(Cell(r, kColPort).toUInt());
        targets.push_back(t);
    }
    if (targets.empty()) {
        platform::messageBox(T(texts::kNoChoiceIp));
        return;
    }
    // Material is only read here: a missing folder means no material, and
    // nothing is made beside the program, which may be read-only.
    const QString material =
        materialFolder_.isEmpty() ? platform::homePath(QStringLiteral("Material")) : materialFolder_;
    Collection c = Collect(folders_[0]->text(), folders_[1]->text(), folders_[2]->text(), material, language_);
    if (!c.ok()) {
        platform::messageBox(c.error);
        return;
    }
    std::vector<QByteArray> layoutNames, materialNames;
    for (const QString& l : c.layouts) {
        QByteArray bytes;
        text::NameToDoubleByteText(fileNameOf(l), bytes);
        layoutNames.push_back(bytes);
    }
    for (const MaterialEntry& m : c.material) {
        QByteArray bytes;
        text::NameToDoubleByteText(fileNameOf(m.path), bytes);
        materialNames.push_back(bytes);
    }

    ++generation_;
    stepScheduled_ = false;
    targets_ = std::move(targets);
    videos_ = std::move(c.videos);
    layouts_ = c.layouts;
    layoutNames_ = std::move(layoutNames);
    material_ = std::move(c.material);
    materialNames_ = std::move(materialNames);
    neededMB_ = c.neededMB();
    current_ = 0;
    for (Target& t : targets_) {
        t.videoStatus = videos_.empty() ? kNoChoice : kInProgress;
        t.layoutStatus = layouts_.isEmpty() ? kNoChoice : kInProgress;
    }
    for (int r = 0; r < RowCount(); ++r) {
        const bool on = ticked[std::size_t(r)];
        SetCell(r, kColVideo, on ? StatusText(videos_.empty() ? kNoChoice : kInProgress, 0, videos_.size(), language_)
                                 : T(texts::kStNoChoice));
        SetCell(r, kColLayout,
                on ? StatusText(layouts_.isEmpty() ? kNoChoice : kInProgress, 0, uint64_t(layouts_.size()), language_)
                   : T(texts::kStNoChoice));
    }
    idle_ = false;
    link_->SetLinkIndex(uint16_t(pageIndex_));
    watchdog_->start(watchdogTickMs_);
    EnableControls(false);
    scan_->setEnabled(false);
    stop_->setEnabled(true);
    StartPlayer();
}

void CBatchSendFile::OnStop()
{
    EndBatchQuietly();
    EnableControls(true);
    SetStatusLine(QString());
}

bool CBatchSendFile::OnCancel()
{
    if (platform::messageBox(T(texts::kQuit), QString(), platform::MsgButtons::YesNo, platform::MsgIcon::Question,
                             this) != platform::MsgResult::Yes)
        return false;
    Shutdown();
    return true;
}

void CBatchSendFile::Shutdown()
{
    scanTimer_->stop();
    scanning_ = false;
    EndBatchQuietly();
    endpoint_->Close();
}

// ------------------------------------------------------------ one player

bool CBatchSendFile::Request(const QByteArray& packet, uint8_t command)
{
    return Request(packet, QByteArray(), nullptr, command);
}

bool CBatchSendFile::RequestChunk(const proto::PlayerPacketHeader& header, upload::Upload::Chunk&& chunk,
                                  uint8_t command)
{
    const std::unique_ptr<SendRequest> request = upload::ChunkRequest(header, std::move(chunk));
    return request && Request(request->data, request->body, request->bodyOwner, command, request->bodySource);
}

bool CBatchSendFile::Request(const QByteArray& head, const QByteArray& body, std::shared_ptr<const void> owner,
                             uint8_t command, const QString& source)
{
    if (idle_ || current_ >= targets_.size())
        return false;
    Target& t = targets_[current_];
    t.seconds = 0;
    t.lastCommand = command;
    if (!link_->IsConnected() && !link_->Connect(t.ip, t.port)) {
        // A player that cannot be reached is marked and left at once: the
        // batch goes on with the next one instead of trying it for ever.
        t.videoStatus = kNetFailure;
        t.layoutStatus = kNetFailure;
        RefreshColumns();
        ++t.tries;
        sequence_ = 0;
        EndPlayer();
        return false;
    }
    if (!(body.isEmpty() && !owner ? link_->Send(head) : link_->Send(head, body, std::move(owner), source))) {
        EndPlayer();
        return false;
    }
    return true;
}

void CBatchSendFile::StartPlayer()
{
    Target& t = targets_[current_];
    t.seconds = 0;
    t.tries = 0;
    t.videoMissed = false;  // a player started again is tried with everything again
    t.layoutMissed = false;
    *catalogs_ = {};
    videoCursor_ = 0;
    videoInFlight_ = 0;
    layoutCursor_ = 0;
    layoutInFlight_ = 0;
    materialInFlight_ = 0;
    sequence_ = 0;
    assembler_->reset();
    Request(CatalogQuery(sequence_, 0), proto::CMD_VIDEO_LIST);
}

void CBatchSendFile::DropLink()
{
    sequence_ = 0;
    link_->Close();
    assembler_->reset();
    video_.Reset();
    materialMd5_.Cancel();
    materialFile_.Reset();
}

// The link reports nothing once its owner has closed it, and it cannot be
// connected again from inside one of its own events: the next step is taken
// once the current event has been handled. Replies and the watchdog wait
// for it; a stop or a new batch meanwhile drops it.
void CBatchSendFile::AfterThisEvent(std::function<void()> step)
{
    stepScheduled_ = true;
    const uint64_t generation = generation_;
    QPointer<CBatchSendFile> self(this);
    QTimer::singleShot(0, this, [self, generation, step = std::move(step)] {
        if (!self || self->generation_ != generation)
            return;
        self->stepScheduled_ = false;
        step();
    });
}

// The page's own close ends the player as the link's end would.
void CBatchSendFile::EndPlayer()
{
    DropLink();
    if (idle_ || stepScheduled_)
        return;
    AfterThisEvent([this] { PlayerFinished(); });
}

// The file the link was writing from was cut under it: the link had to go,
// but the file failed, not the player. It is passed over as any file found
// unreadable is, and the player goes on with its next file on a new link
// (made on demand by that file's first request) instead of being started
// again from its catalogues, which would announce the cut file afresh.
void CBatchSendFile::CutOnTheLink(const QString& source)
{
    const uint8_t command = targets_[current_].lastCommand;
    const bool video = command == proto::CMD_VIDEO_UPLOAD && videoInFlight_ < videos_.size() &&
                       videos_[videoInFlight_].path == source;
    const bool material = command == proto::CMD_MATERIAL && materialInFlight_ < material_.size() &&
                          material_[materialInFlight_].path == source;
    DropLink();
    if (stepScheduled_) {
        PassOver(source);  // the player is ending already
        return;
    }
    AfterThisEvent([this, video, material, source] {
        if (video) {
            VideoUnreadable();
        } else if (material) {
            MaterialUnreadable();
        } else {
            // Not the file in flight: said all the same, and the player ends.
            PassOver(source);
            EndPlayer();
        }
    });
}

void CBatchSendFile::PlayerFinished()
{
    if (idle_)
        return;
    assembler_->reset();
    Target& t = targets_[current_];
    // A player that closed the link in the middle of its videos is started
    // again (a few times); one that failed, was too full or timed out is not.
    if (t.videoStatus == kInProgress && videoCursor_ < videos_.size() && t.restarts < 3) {
        ++t.restarts;
        StartPlayer();
        return;
    }
    ++current_;
    if (current_ < targets_.size()) {
        StartPlayer();
        return;
    }
    watchdog_->stop();
    progress_->setVisible(false);
    idle_ = true;
    EnableControls(true);
    // A file passed over stays said when the batch is done.
    SetStatusLine(passedOver_.isEmpty() ? T(texts::kBatchOk)
                                        : T(texts::kBatchOk) + QLatin1Char(' ') + passedOver_.join(QLatin1Char(' ')));
}

void CBatchSendFile::OnTcpEvent(const LinkEvent& event)
{
    if (idle_)
        return;
    switch (event.type) {
    case kLinkData:
        if (event.data && event.length)
            assembler_->feed(event.peerAddress, event.port, event.linkIndex, event.data, event.length,
                             [this](const ReplyAssembler& reply) { OnReply(reply); });
        break;
    case kLinkPeerClosed:
    case kLinkReceiverEnded:
    case kLinkReceiveError:
    case kLinkReceiveException:
    case kLinkShortSend:
        // A file cut while it was written: the file is named, not the player.
        if (const QString source = UnreadableSource(event); !source.isEmpty() && current_ < targets_.size()) {
            CutOnTheLink(source);
            break;
        }
        EndPlayer();
        break;
    default:
        break;
    }
}

void CBatchSendFile::OnReply(const ReplyAssembler& reply)
{
    if (idle_ || current_ >= targets_.size() || stepScheduled_)
        return;
    Target& t = targets_[current_];
    const uint8_t code = proto::decodeReplyCode(reply.header.command);
    const uint32_t length = reply.received;
    auto accept = [&] {
        sequence_ = uint16_t(reply.header.sequence + 1);
        t.seconds = 0;
        t.tries = 0;
    };
    switch (code) {
    case proto::CMD_STATUS: {
        if (length != 108)
            return;
        accept();
        t.secondAct = HasSecondAct(QByteArray(reinterpret_cast<const char*>(reply.payload()), 108));
        if (neededMB_ >= (*catalogs_)[1].freeMB) {
            t.videoStatus = kSmallDisk;
            t.layoutStatus = kSmallDisk;
            RefreshColumns();
            t.tries = kMaxTries;
            EndPlayer();
            return;
        }
        if (!videos_.empty()) {
            videoCursor_ = 0;
            NextVideo();
        } else {
            StartLayouts();
        }
        return;
    }
    case proto::CMD_VIDEO_LIST: {
        if (length != PlayerCatalog::kSize)
            return;
        accept();
        const uint16_t act = reply.header.arg;
        (*catalogs_)[act == 1 ? 1 : 0].unpack(reply.payload(), length);
        if (act == 1)
            Request(StatusQuery(sequence_), proto::CMD_STATUS);
        else
            Request(CatalogQuery(sequence_, 1), proto::CMD_VIDEO_LIST);
        return;
    }
    case proto::CMD_VIDEO_UPLOAD: {
        accept();
        const bool first = video_.stage() == upload::Upload::Stage::kAnnounced;
        upload::Upload::Chunk chunk;
        switch (video_.Acknowledged(chunk)) {
        case upload::Upload::Step::kChunk:
            if (first)
                Progress(0, 100, 0, true);
            SendVideoChunk(std::move(chunk));
            return;
        case upload::Upload::Step::kOpenFailed:
        case upload::Upload::Step::kReadFailed:
            VideoUnreadable(video_.RefusedAsChanged());
            return;
        case upload::Upload::Step::kEnd:
        case upload::Upload::Step::kNone:
            NextVideo();
            return;
        }
        return;
    }
    case proto::CMD_LAYOUT:
        if (reply.header.subCode != 4)
            return;
        accept();
        if (layoutCursor_ < std::size_t(layouts_.size()))
            SendLayout(layoutCursor_);
        else
            AfterLayouts();
        return;
    case proto::CMD_MATERIAL: {
        accept();
        const bool first = materialFile_.stage() == upload::Upload::Stage::kAnnounced;
        if (first && reply.header.arg != 0) {
            materialFile_.Reset();  // the player has it already
            NextMaterial();
            return;
        }
        upload::Upload::Chunk chunk;
        switch (materialFile_.Acknowledged(chunk)) {
        case upload::Upload::Step::kChunk:
            if (first)
                Progress(0, 100, 0, true);
            SendMaterialChunk(std::move(chunk));
            return;
        case upload::Upload::Step::kOpenFailed:
        case upload::Upload::Step::kReadFailed:
            MaterialUnreadable(materialFile_.RefusedAsChanged());
            return;
        case upload::Upload::Step::kEnd:
        case upload::Upload::Step::kNone:
            NextMaterial();
            return;
        }
        return;
    }
    case proto::CMD_VIDEO_LIST_CHANGED:
        // A notice the player pushes by itself after a change, not a reply
        // to a step: the step in flight goes on.
        return;
    default:
        // Not supported, or a reply this page does not expect.
        sequence_ = 0;
        EndPlayer();
        return;
    }
}

void CBatchSendFile::NextVideo()
{
    Target& t = targets_[current_];
    while (videoCursor_ < videos_.size()) {
        const VideoEntry& v = videos_[videoCursor_];
        const bool skip = (v.act == 1 && !t.secondAct) ||
                          upload::IsOnPlayer((*catalogs_)[v.act == 1 ? 1 : 0], v.categoryBytes, v.nameBytes, v.size);
        if (!skip)
            break;
        ++videoCursor_;
    }
    if (videoCursor_ >= videos_.size()) {
        t.videoStatus = t.videoMissed ? kNotDelivered : kDone;
        RefreshColumns();
        if (!layouts_.isEmpty())
            StartLayouts();
        else
            EndPlayer();
        return;
    }
    SendVideo(videoCursor_, false);
}

void CBatchSendFile::SendVideo(std::size_t index, bool again)
{
    Target& t = targets_[current_];
    video_.Announced(videos_[index].path);
    videoInFlight_ = index;
    videoCursor_ = index;
    t.videoOrdinal = uint32_t(index + 1);
    SetStatusLine(T(again ? texts::kResendingVideo : texts::kSendingVideo) + fileNameOf(videos_[index].path));
    RefreshColumns();
    Request(VideoBegin(sequence_, videos_[index]), proto::CMD_VIDEO_UPLOAD);
}

void CBatchSendFile::SendVideoChunk(upload::Upload::Chunk&& chunk)
{
    if (chunk.last)
        videoCursor_ = videoInFlight_ + 1;
    progress_->SetPos(uint64_t(chunk.percent));
    const proto::PlayerPacketHeader h =
        VideoChunkHeader(sequence_, chunk.ordinal, chunk.last, videos_[videoInFlight_].act);
    RequestChunk(h, std::move(chunk), proto::CMD_VIDEO_UPLOAD);
}

void CBatchSendFile::PassOver(const QString& path, bool changed)
{
    const QString message = changed ? upload::ChangedFileMessage(path, int(language_))
                                    : upload::ReadFailureMessage(path, int(language_));
    if (!passedOver_.contains(message))
        passedOver_ << message;
    SetStatusLine(message);
}

void CBatchSendFile::VideoUnreadable(bool changed)
{
    targets_[current_].videoMissed = true;
    PassOver(videos_[videoInFlight_].path, changed);
    videoCursor_ = videoInFlight_ + 1;
    NextVideo();
}

void CBatchSendFile::StartLayouts()
{
    layoutCursor_ = 0;
    Progress(0, uint64_t(layouts_.size()), 0, true);
    SendLayout(0);
}

void CBatchSendFile::SendLayout(std::size_t index)
{
    if (index >= std::size_t(layouts_.size()))
        return;
    Target& t = targets_[current_];
    layoutInFlight_ = index;
    layoutCursor_ = index + 1;
    t.layoutsSent = uint32_t(layoutCursor_);
    progress_->SetPos(uint64_t(layoutCursor_));
    SetStatusLine(T(texts::kSendingLayout) + fileNameOf(layouts_[qsizetype(index)]));
    RefreshColumns();
    QFile file(layouts_[qsizetype(index)]);
    t.lastCommand = proto::CMD_LAYOUT;
    t.seconds = 0;
    QByteArray data;
    if (file.open(QIODevice::ReadOnly))
        data = file.read(qint64(upload::kChunk));
    if (file.error() != QFileDevice::NoError) {
        LayoutUnreadable(index);
        return;
    }
    Request(LayoutPacket(sequence_, uint16_t(std::min<std::size_t>(0xFFFF, std::size_t(layouts_.size()) - index)),
                         layoutNames_[index], data),
            proto::CMD_LAYOUT);
}

// A layout that cannot be read would never be answered: rather than wait
// for the watchdog to give the player up, it is said and the next one goes.
void CBatchSendFile::LayoutUnreadable(std::size_t index)
{
    targets_[current_].layoutMissed = true;
    PassOver(layouts_[qsizetype(index)]);
    if (index + 1 < std::size_t(layouts_.size()))
        SendLayout(index + 1);
    else
        AfterLayouts();
}

void CBatchSendFile::AfterLayouts()
{
    progress_->setVisible(false);
    if (!material_.empty()) {
        AnnounceMaterial(0);
        return;
    }
    Target& t = targets_[current_];
    t.layoutStatus = t.layoutMissed ? kNotDelivered : kDone;
    RefreshColumns();
    EndPlayer();
}

void CBatchSendFile::AnnounceMaterial(std::size_t index)
{
    Target& t = targets_[current_];
    materialFile_.Reset();
    materialInFlight_ = index;
    const MaterialEntry& m = material_[index];
    const QString line = T(texts::kSendingMaterial) + fileNameOf(m.path);
    SetStatusLine(line);
    t.lastCommand = proto::CMD_MATERIAL;
    t.seconds = 0;
    // A large file takes seconds to digest: the page keeps answering
    // meanwhile, the announce (which carries the digest) waits for it, and
    // the watchdog does not take that time for a silent player.
    const uint64_t generation = generation_;
    const std::size_t target = current_;
    materialMd5_.Start(
        m.path,
        [this, line](int percent) {
            Progress(0, 100, uint64_t(percent), true);
            SetStatusLine(line + QStringLiteral(" MD5 %1%").arg(percent));
        },
        [this, line, generation, target, index](const std::string& md5, const filestamp::FileStamp& stamp) {
            if (idle_ || generation != generation_ || target != current_ || index != materialInFlight_ ||
                index >= material_.size())
                return;
            SetStatusLine(line);
            if (md5.empty()) {
                // Nothing to announce: said, and the player's next file goes
                // at once instead of the step running into "Time Out".
                MaterialUnreadable();
                return;
            }
            materialFile_.Announced(material_[index].path, stamp);
            Request(MaterialAnnounce(sequence_, material_[index].kind, materialNames_[index],
                                     QByteArray::fromStdString(md5)),
                    proto::CMD_MATERIAL);
        });
}

bool CBatchSendFile::IsHashing() const
{
    return materialMd5_.Running();
}

void CBatchSendFile::SendMaterialChunk(upload::Upload::Chunk&& chunk)
{
    progress_->SetPos(uint64_t(chunk.percent));
    const proto::PlayerPacketHeader h = MaterialChunkHeader(sequence_, chunk.last);
    RequestChunk(h, std::move(chunk), proto::CMD_MATERIAL);
}

void CBatchSendFile::MaterialUnreadable(bool changed)
{
    targets_[current_].layoutMissed = true;
    PassOver(material_[materialInFlight_].path, changed);
    NextMaterial();
}

void CBatchSendFile::NextMaterial()
{
    const std::size_t next = materialInFlight_ + 1;
    if (next < material_.size()) {
        AnnounceMaterial(next);
        return;
    }
    progress_->setVisible(false);
    Target& t = targets_[current_];
    t.layoutStatus = t.layoutMissed ? kNotDelivered : kDone;
    RefreshColumns();
    EndPlayer();
}

void CBatchSendFile::OnWatchdogTick()
{
    if (idle_ || stepScheduled_ || current_ >= targets_.size())
        return;
    Target& t = targets_[current_];
    // A digest under way is our own work, not a silent player.
    if (materialMd5_.Running()) {
        t.seconds = 0;
        return;
    }
    if (++t.seconds < ticksPerTry_)
        return;
    t.seconds = 0;
    ++t.tries;
    if (t.tries < kMaxTries) {
        // The step in flight again; a cursor already past its list's end
        // repeats the item whose reply is awaited, never one beyond it.
        switch (t.lastCommand) {
        case proto::CMD_STATUS:
            Request(StatusQuery(sequence_), proto::CMD_STATUS);
            return;
        case proto::CMD_VIDEO_LIST:
            Request(CatalogQuery(sequence_, 0), proto::CMD_VIDEO_LIST);
            return;
        case proto::CMD_VIDEO_UPLOAD:
            if (videoInFlight_ < videos_.size()) {
                SendVideo(videoInFlight_, true);
                return;
            }
            break;
        case proto::CMD_LAYOUT:
            if (layoutInFlight_ < std::size_t(layouts_.size())) {
                SendLayout(layoutInFlight_);
                return;
            }
            break;
        case proto::CMD_MATERIAL:
            if (materialInFlight_ < material_.size()) {
                AnnounceMaterial(materialInFlight_);
                return;
            }
            break;
        default:
            break;
        }
    }
    t.videoStatus = kTimeOut;
    t.layoutStatus = kTimeOut;
    RefreshColumns();
    sequence_ = 0;
    EndPlayer();
}

void CBatchSendFile::RefreshColumns()
{
    if (current_ >= targets_.size())
        return;
    const Target& t = targets_[current_];
    for (int r = 0; r < RowCount(); ++r) {
        if (Cell(r, kColIp) != t.ip)
            continue;
        if (!videos_.empty())
            SetCell(r, kColVideo, StatusText(t.videoStatus, t.videoOrdinal, videos_.size(), language_));
        if (!layouts_.isEmpty())
            SetCell(r, kColLayout, StatusText(t.layoutStatus, t.layoutsSent, uint64_t(layouts_.size()), language_));
    }
}
