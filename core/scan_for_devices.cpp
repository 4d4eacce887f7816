#include "core/scan_for_devices.h"

#include "core/command_registry.h"
#include "core/document.h"
#include "core/player_info.h"

#include "platform/adapters.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "transport/udp_server.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace scan {

namespace {

uint32_t HostOrder(const std::array<uint8_t, 4>& o)
{
    return (uint32_t(o[0]) << 24) | (uint32_t(o[1]) << 16) | (uint32_t(o[2]) << 8) | uint32_t(o[3]);
}

uint32_t ClassDefaultNetmask(uint32_t addressHost)
{
    const uint32_t first = addressHost >> 24;
    if (first >= 1 && first <= 127)
        return 0xFF000000u;
    if (first >= 128 && first <= 191)
        return 0xFFFF0000u;
    return 0xFFFFFF00u;
}

CardEntry MakeCard(const QString& name, const QString& address)
{
    CardEntry card;
    card.label = CardLabel(name, address);
    card.address = address;
    if (auto octets = ParseIPv4(address)) {
        card.octets = *octets;
        const uint32_t host = HostOrder(*octets);
        card.broadcast = DirectedBroadcast(host, NetmaskOfAddress(host));
    }
    return card;
}

}  // namespace

QString CardLabel(const QString& name, const QString& address)
{
    return name + QLatin1Char('(') + address + QLatin1Char(')');
}

QByteArray BuildDiscoveryRequest(bool unicast)
{
    DiscoveryRequest request;
    request.unicast = unicast;
    return request.toBytes(proto::kDiscoveryRequestSize);
}

QString ChannelPart(uint16_t channelCode, unsigned language)
{
    return playerinfo::ChannelLayoutName(channelCode, language);
}

QString ProductPrefix(uint16_t version, unsigned language)
{
    switch (version & 0x0F) {
    case 0:
        return platform::pickText(language, "Vuvo", "融合");
    case 1:
        return platform::pickText(language, "Rotate", "拼接");
    case 2:
        return QStringLiteral("QVE");
    default:
        return QString();
    }
}

QString DescribePlayer(uint16_t version, uint16_t fpgaVersion, uint16_t channelCode, unsigned language)
{
    const QString prefix = ProductPrefix(version, language);
    const QString part = ChannelPart(channelCode, language);
    if (part.isEmpty())
        return prefix + platform::pickText(language, "Unknown Player", "未知播放器");
    const int major = (version >> 12) & 0x0F;
    const int minor = (version >> 8) & 0x0F;
    const int patch = (version >> 4) & 0x0F;
    const bool chinese = language == platform::kLanguageChinese;
    QString text;
    if (fpgaVersion != 0) {
        text = chinese ? QStringLiteral("播放器版本号:%1.%2.%3 FPGA版本号:%4.0 通道:(")
                       : QStringLiteral("Player ver:%1.%2.%3 FPGA ver:%4.0 Channel:(");
        text = text.arg(major).arg(minor).arg(patch).arg(int(fpgaVersion));
    } else {
        text = chinese ? QStringLiteral("播放器版本号:%1.%2.%3 通道:(") : QStringLiteral("Player ver:%1.%2.%3 Channel:(");
        text = text.arg(major).arg(minor).arg(patch);
    }
    return prefix + text + part + QLatin1Char(')');
}

PlayerRow RowFromAnnouncement(const PlayerAnnouncement& a, unsigned language)
{
    PlayerRow row;
    row.ip = a.ipText();
    row.mac = a.macText(true);
    row.portText = QString::number(a.tcpPort);
    row.id = a.idText();
    row.versionText = DescribePlayer(a.version, a.fpgaVersion, a.channelCode, language);
    row.version = a.version;
    row.fpgaVersion = a.fpgaVersion;
    row.channelCode = a.channelCode;
    return row;
}

QString MacWithoutColons(const QString& mac)
{
    QString out = mac;
    out.remove(QLatin1Char(':'));
    return out;
}

std::optional<std::array<uint8_t, 4>> ParseIPv4(const QString& text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    std::array<uint8_t, 4> octets{};
    for (int i = 0; i < 4; ++i) {
        const QString& p = parts[i];
        if (p.isEmpty() || p.size() > 3)
            return std::nullopt;
        for (QChar ch : p) {
            if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
                return std::nullopt;
        }
        const int value = p.toInt();
        if (value > 255)
            return std::nullopt;
        octets[i] = uint8_t(value);
    }
    return octets;
}

bool SameClassNetwork(const QString& reference, const QString& other)
{
    const auto a = ParseIPv4(reference);
    const auto b = ParseIPv4(other);
    if (!a || !b)
        return false;
    const int first = (*a)[0];
    int count = 0;
    if (first >= 1 && first <= 127)
        count = 1;
    else if (first >= 128 && first <= 191)
        count = 2;
    else if (first >= 192 && first <= 223)
        count = 3;
    else
        return false;
    return std::equal(a->begin(), a->begin() + count, b->begin());
}

int MatchingCard(const QStringList& cardAddresses, const QString& player)
{
    for (int i = 0; i < cardAddresses.size(); ++i) {
        if (SameClassNetwork(player, cardAddresses[i]))
            return i;
    }
    return -1;
}

void SortRowsByIpText(std::vector<PlayerRow>& rows)
{
    std::stable_sort(rows.begin(), rows.end(), [](const PlayerRow& a, const PlayerRow& b) { return a.ip < b.ip; });
}

void SortRecordsByIpText(std::vector<DeviceRecord>& records)
{
    std::stable_sort(records.begin(), records.end(),
                     [](const DeviceRecord& a, const DeviceRecord& b) { return a.ip < b.ip; });
}

QString IdCopyText(const std::vector<PlayerRow>& rows, const std::vector<int>& selectedRows)
{
    if (!selectedRows.empty()) {
        const int first = selectedRows.front();
        return first >= 0 && first < int(rows.size()) ? rows[std::size_t(first)].id : QString();
    }
    QString text;
    for (const auto& row : rows)
        text += row.id + QStringLiteral("\r\n");
    return text;
}

uint32_t DirectedBroadcast(uint32_t addressHost, uint32_t netmaskHost)
{
    if ((addressHost >> 24) == 127)
        return 0x7FFFFFFFu;
    return addressHost | ~netmaskHost;
}

uint32_t NetmaskOfAddress(uint32_t addressHost)
{
    uint32_t mask = 0;
    std::vector<platform::InterfaceAddress> addresses;
    if (platform::interfaceAddresses(addresses)) {
        for (const auto& entry : addresses) {
            uint32_t parsed = 0;
            if (entry.addressHost == addressHost && platform::parseDotted(entry.netmask, parsed)) {
                mask = parsed;
                break;
            }
        }
    }
    // A host route (/32) or an address no interface holds: the class default
    // is the segment the players of that card are looked for in.
    if (mask == 0 || mask == 0xFFFFFFFFu)
        mask = ClassDefaultNetmask(addressHost);
    return mask;
}

std::vector<CardEntry> ListCards()
{
    std::vector<CardEntry> cards;
    if (qEnvironmentVariable("VELUNA_SCAN_LOOPBACK") == QLatin1String("1"))
        cards.push_back(MakeCard(QStringLiteral("lo"), QStringLiteral("127.0.0.1")));
    // Interfaces that are not network cards (a veth pair into a test
    // namespace, a bridge) but that the operator wants to scan on.
    const QStringList extra = qEnvironmentVariable("VELUNA_SCAN_INTERFACES").split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (!extra.isEmpty()) {
        std::vector<platform::InterfaceAddress> all;
        platform::interfaceAddresses(all);
        for (const QString& name : extra)
            for (const auto& entry : all)
                if (entry.interfaceName == name.trimmed() && entry.addressHost != 0)
                    cards.push_back(MakeCard(entry.interfaceName, entry.address));
    }

    std::vector<NetworkAdapter> adapters;
    GetNetworkAdapters(adapters);
    if (!adapters.empty()) {
        for (const auto& adapter : adapters)
            cards.push_back(MakeCard(adapter.name, adapter.address));
    } else {
        QStringList addresses;
        GetLocalIPv4List(addresses);
        for (const auto& address : addresses) {
            // Without an adapter list the address stands alone.
            CardEntry card = MakeCard(QString(), address);
            card.label = address;
            cards.push_back(card);
        }
    }
    return cards;
}

}  // namespace scan

// ---------------------------------------------------------------------------
// The dialog

namespace {

enum Column { kColumnSn, kColumnIp, kColumnMac, kColumnPort, kColumnId, kColumnVer, kColumnCount };

uint32_t HostOrderOf(const std::array<uint8_t, 4>& o)
{
    return (uint32_t(o[0]) << 24) | (uint32_t(o[1]) << 16) | (uint32_t(o[2]) << 8) | uint32_t(o[3]);
}

// The widths the columns open with; a column grows past its width when its
// texts need more, so that a MAC, an IP or a version is never cut short.
const int kColumnWidths[kColumnCount] = {40, 90, 120, 80, 100, 380};

QPushButton* MakeButton(const QString& id, const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(id);
    // No button is pressed by Enter pressed elsewhere: the dialog's own key
    // handling says what Enter does where (see keyPressEvent).
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

}  // namespace

CScanForDevices::CScanForDevices(const QString& titlePrefix, bool automatic, QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this)), titlePrefix_(titlePrefix),
      automatic_(automatic), endpoint_(std::make_unique<CUDPServer>())
{
    language_ = platform::appLanguage() == platform::kLanguageChinese ? platform::kLanguageChinese
                                                                       : platform::kLanguageEnglish;
    setObjectName(QStringLiteral("328"));
    setWindowTitle(titlePrefix_ + Text("Scan For Devices", "查找设备"));

    cardGroup_ = new QGroupBox(Text("Network Card", "选择与设备通讯网卡"), this);
    cardCombo_ = new QComboBox(cardGroup_);
    cardCombo_->setObjectName(QStringLiteral("2902"));
    cardCombo_->setMinimumWidth(320);
    updateButton_ = MakeButton(QStringLiteral("2903"), Text("Update", "刷新"), cardGroup_);
    scanButton_ = MakeButton(QStringLiteral("2904"), Text("Scan", "查找设备"), cardGroup_);
    auto* cardRow = new QHBoxLayout(cardGroup_);
    cardRow->addWidget(cardCombo_, 1);
    cardRow->addWidget(updateButton_);
    cardRow->addWidget(scanButton_);

    listGroup_ = new QGroupBox(Text("Devices List", "设备信息列表"), this);
    list_ = new QTableWidget(0, kColumnCount, listGroup_);
    list_->setObjectName(QStringLiteral("2901"));
    list_->setToolTip(Text("Right-click to copy ID number to clipboard", "右键拷贝ID号到剪切板"));
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setShowGrid(true);
    // Tab leaves the list for the buttons instead of walking its cells; a
    // row is one line, widened rather than wrapped.
    list_->setTabKeyNavigation(false);
    list_->setWordWrap(false);
    list_->setTextElideMode(Qt::ElideNone);
    list_->verticalHeader()->setVisible(false);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    const QStringList headers = language_ == platform::kLanguageChinese
        ? QStringList{QStringLiteral("序号"), QStringLiteral("IP地址"), QStringLiteral("MAC地址"),
                      QStringLiteral("TCP端口号"), QStringLiteral("ID号"), QStringLiteral("版本信息")}
        : QStringList{QStringLiteral("SN"), QStringLiteral("IP"), QStringLiteral("MAC"), QStringLiteral("TCP Port"),
                      QStringLiteral("ID"), QStringLiteral("Ver")};
    list_->setHorizontalHeaderLabels(headers);
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    for (int c = 0; c < kColumnCount; ++c)
        list_->setColumnWidth(c, kColumnWidths[c]);
    auto* listBox = new QVBoxLayout(listGroup_);
    listBox->addWidget(list_);

    connectButton_ = MakeButton(QStringLiteral("1"), Text("Connect", "连接设备"), this);
    cancelButton_ = MakeButton(QStringLiteral("2"), Text("Cancel", "关闭"), this);
    connectButton_->setVisible(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(connectButton_);
    buttons->addWidget(cancelButton_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(cardGroup_);
    layout->addWidget(listGroup_, 1);
    layout->addLayout(buttons);
    resize(880, 460);

    outgoingTimer_ = new QTimer(this);
    outgoingTimer_->setSingleShot(true);
    outgoingTimer_->setTimerType(Qt::PreciseTimer);
    outgoingTimer_->setInterval(scan::kPortGapMs);
    QObject::connect(outgoingTimer_, &QTimer::timeout, this, [this] { PumpOutgoing(); });

    QObject::connect(updateButton_, &QPushButton::clicked, this, [this] { OnUpdateCards(); });
    QObject::connect(scanButton_, &QPushButton::clicked, this, [this] { OnScanButton(); });
    QObject::connect(connectButton_, &QPushButton::clicked, this, [this] { accept(); });
    QObject::connect(cancelButton_, &QPushButton::clicked, this, [this] { reject(); });
    QObject::connect(list_, &QTableWidget::cellClicked, this, [this](int, int) { OnListLeftClick(); });
    QObject::connect(list_, &QTableWidget::cellDoubleClicked, this, [this](int, int) { OnListDoubleClick(); });
    QObject::connect(list_, &QTableWidget::customContextMenuRequested, this, [this](const QPoint&) {
        OnListRightClick();
    });

    OnUpdateCards();
    FitColumns();
    endpoint_->setOwner(handle());
    onMessage(platform::WM_UDP_EVENT, [this](platform::WPARAM w, platform::LPARAM l) { return OnUdpEvent(w, l); });
}

CScanForDevices::~CScanForDevices()
{
    MessageWindow::killTimer(scan::kScanTimerId);
    CloseEndpoint();
}

QString CScanForDevices::Text(const char* english, const char* chinese) const
{
    return platform::pickText(language_, english, chinese);
}

void CScanForDevices::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FitColumns();
    if (!initialised_)
        OnInitDialog();
}

void CScanForDevices::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // Enter presses the button that has the focus, and on the list
        // connects to the selected row as a double click does; anywhere else
        // it does nothing, so a stray Enter never closes the dialog.
        QWidget* focus = focusWidget();
        if (auto* button = qobject_cast<QPushButton*>(focus);
            button && button->isVisible() && button->isEnabled() && isAncestorOf(button))
            button->click();
        else if (focus == list_)
            OnListDoubleClick();
        event->accept();
        return;
    }
    case Qt::Key_Escape:
        // As "Cancel": the timer stops and the endpoint closes.
        event->accept();
        reject();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CScanForDevices::OnInitDialog()
{
    if (initialised_)
        return;
    initialised_ = true;
    scanning_ = false;
    if (automatic_) {
        broadcastCount_ = 0;
        connectButton_->setVisible(true);
        StartScanning();
    }
}

void CScanForDevices::OnUpdateCards()
{
    cards_ = scan::ListCards();
    cardCombo_->clear();
    for (const auto& card : cards_)
        cardCombo_->addItem(card.label);
    if (!cards_.empty())
        cardCombo_->setCurrentIndex(0);
}

const scan::CardEntry* CScanForDevices::SelectedCard() const
{
    const int index = cardCombo_->currentIndex();
    if (index < 0 || index >= int(cards_.size()))
        return nullptr;
    return &cards_[std::size_t(index)];
}

bool CScanForDevices::IsEndpointOpen() const
{
    return endpoint_ && endpoint_->IsOpen();
}

bool CScanForDevices::OpenEndpoint()
{
    CloseEndpoint();
    const scan::CardEntry* card = SelectedCard();
    if (!card)
        return false;
    localAddress_ = card->address;
    openCard_ = *card;
    // Answers come to port 6001 only: on any other port the scan would look
    // like it ran and find nothing, so a taken port ends the scan here. The
    // endpoint itself names who holds the port; other failures are told here.
    if (endpoint_->Open(localAddress_, scan::kLocalPort))
        return true;
    const QString why = endpoint_->LastError();
    const bool portTaken = why.contains(QLatin1String("occupied")) || why.contains(QStringLiteral("占用"));
    if (!portTaken && !why.isEmpty())
        platform::messageBox(why, QString(), platform::MsgButtons::Ok, platform::MsgIcon::Warning, this);
    return false;
}

void CScanForDevices::CloseEndpoint()
{
    outgoingTimer_->stop();
    outgoing_.clear();
    if (endpoint_)
        endpoint_->Close();
}

void CScanForDevices::OnScanButton()
{
    if (scanning_)
        StopScanning();
    else
        StartScanning();
}

void CScanForDevices::StartScanning()
{
    reopensInARow_ = 0;
    reopenPending_ = false;
    if (!OpenEndpoint())
        return;
    scanning_ = true;
    rows_.clear();
    RebuildList();
    broadcastCount_ = 0;
    records_.clear();
    Broadcast();
    setTimer(scan::kScanTimerId, scan::kScanTimerMs);
    scanButton_->setText(Text("Stop", "停止查找"));
    cardCombo_->setEnabled(false);
    updateButton_->setEnabled(false);
    connectButton_->setEnabled(false);
}

void CScanForDevices::StopScanning()
{
    scanning_ = false;
    MessageWindow::killTimer(scan::kScanTimerId);
    scanButton_->setText(Text("Scan", "查找设备"));
    cardCombo_->setEnabled(true);
    updateButton_->setEnabled(true);
    scan::SortRowsByIpText(rows_);
    RebuildList();
    connectButton_->setEnabled(!rows_.empty());
}

void CScanForDevices::Broadcast()
{
    SendDiscovery(openCard_.broadcast, false);
}

void CScanForDevices::SendDiscovery(uint32_t destinationHost, bool unicast)
{
    if (!IsEndpointOpen())
        return;
    const QByteArray request = scan::BuildDiscoveryRequest(unicast);
    outgoing_.push_back({destinationHost, scan::kPlayerPort, request});
    outgoing_.push_back({destinationHost, scan::kPlayerAltPort, request});
    if (!outgoingTimer_->isActive())
        PumpOutgoing();
}

void CScanForDevices::PumpOutgoing()
{
    if (outgoing_.empty())
        return;
    const Outgoing next = outgoing_.front();
    outgoing_.pop_front();
    if (IsEndpointOpen())
        endpoint_->SendTo(platform::dottedText(next.destinationHost), next.port, next.datagram);
    // Players that listen on both ports get the second copy a moment later.
    if (!outgoing_.empty())
        outgoingTimer_->start();
}

void CScanForDevices::onTimer(unsigned id)
{
    if (id != scan::kScanTimerId)
        return;
    if (automatic_) {
        ++broadcastCount_;
        if (broadcastCount_ < scan::kAutoRounds) {
            Broadcast();
            scanButton_->setText(Text("Stop(%1)", "停止查找(%1)").arg(scan::kAutoRounds - broadcastCount_));
        } else {
            StopScanning();
        }
    } else {
        rows_.clear();
        RebuildList();
        Broadcast();
    }
}

platform::LRESULT CScanForDevices::OnUdpEvent(platform::WPARAM, platform::LPARAM lParam)
{
    const auto* event = reinterpret_cast<const UdpLinkEvent*>(lParam);
    if (!event)
        return 0;
    if (event->type == kUdpDatagram) {
        // The socket hears every card; answers for another card are not ours.
        const uint32_t local = HostOrderOf(event->localAddress);
        if (local != 0 && local != HostOrderOf(openCard_.octets) && local != openCard_.broadcast
            && local != 0xFFFFFFFFu)
            return 0;
        OnDatagram(event->data, event->length);
    } else if (event->type == kUdpReceiveError) {
        ReopenAfterError();
    }
    return 0;
}

void CScanForDevices::ReopenAfterError()
{
    // Reopen once, later, outside the endpoint's own delivery; errors that
    // arrive meanwhile are the same trouble and are dropped.
    if (reopenPending_)
        return;
    reopenPending_ = true;
    MessageWindow::killTimer(scan::kScanTimerId);
    broadcastCount_ = 0;
    QTimer::singleShot(0, this, [this] {
        reopenPending_ = false;
        if (++reopensInARow_ > scan::kMaxEndpointReopens || !OpenEndpoint()) {
            // The card keeps failing: stop instead of reopening for ever.
            CloseEndpoint();
            if (scanning_)
                StopScanning();
            return;
        }
        setTimer(scan::kScanTimerId, scan::kScanTimerMs);
    });
}

void CScanForDevices::OnDatagram(const uint8_t* data, std::size_t length)
{
    const auto announcement = PlayerAnnouncement::parse(data, length);
    if (!announcement)
        return;
    reopensInARow_ = 0;
    const PlayerRow row = scan::RowFromAnnouncement(*announcement, language_);
    const DeviceRecord record = DeviceRecord::fromAnnouncement(*announcement);

    // One record per player: a player that answers again (perhaps from a new
    // address) updates what is known of it.
    auto known = std::find_if(records_.begin(), records_.end(),
                              [&](const DeviceRecord& r) { return r.mac == record.mac; });
    if (known != records_.end())
        *known = record;

    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].mac == row.mac) {
            rows_[i] = row;
            UpdateRowItem(int(i));
            return;
        }
    }
    rows_.push_back(row);
    list_->setRowCount(int(rows_.size()));
    UpdateRowItem(int(rows_.size()) - 1);
    if (known == records_.end())
        records_.push_back(record);
}

void CScanForDevices::UpdateRowItem(int index)
{
    if (index < 0 || index >= int(rows_.size()))
        return;
    const PlayerRow& row = rows_[std::size_t(index)];
    const QString texts[kColumnCount] = {QString::number(index + 1), row.ip, row.mac, row.portText, row.id,
                                         row.versionText};
    for (int c = 0; c < kColumnCount; ++c) {
        QTableWidgetItem* item = list_->item(index, c);
        if (!item) {
            item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignCenter);
            list_->setItem(index, c, item);
        }
        item->setText(texts[c]);
    }
    FitColumns();
}

void CScanForDevices::RebuildList()
{
    list_->clearContents();
    list_->setRowCount(int(rows_.size()));
    for (int i = 0; i < int(rows_.size()); ++i)
        UpdateRowItem(i);
    FitColumns();
}

void CScanForDevices::FitColumns()
{
    int total = 0;
    for (int c = 0; c < kColumnCount; ++c) {
        // Header text and every row's text, with the cell's own margins.
        list_->resizeColumnToContents(c);
        const int width = std::max(kColumnWidths[c], list_->columnWidth(c));
        list_->setColumnWidth(c, width);
        total += width;
    }
    // The dialog grows (never shrinks) to show every column whole, as far as
    // the screen allows; beyond that the list scrolls sideways. Before it is
    // shown its children have no sizes yet: showing it fits it again.
    if (!isVisible())
        return;
    const int chrome = width() - list_->viewport()->width();
    int wanted = total + chrome;
    if (const QScreen* screen = this->screen())
        wanted = std::min(wanted, screen->availableGeometry().width());
    if (wanted > width())
        resize(wanted, height());
}

std::vector<int> CScanForDevices::SelectedRows() const
{
    std::vector<int> rows;
    const auto* model = list_->selectionModel();
    if (!model)
        return rows;
    for (const QModelIndex& index : model->selectedRows()) {
        if (index.row() >= 0 && index.row() < int(rows_.size()))
            rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CScanForDevices::OnListLeftClick()
{
    const std::vector<int> selected = SelectedRows();
    if (selected.empty())
        return;
    for (int index : selected) {
        uint32_t address = 0;
        if (platform::parseDotted(rows_[std::size_t(index)].ip, address))
            SendDiscovery(address, true);
    }
    QStringList addresses;
    for (const auto& card : cards_)
        addresses << card.address;
    const int card = scan::MatchingCard(addresses, rows_[std::size_t(selected.back())].ip);
    if (card >= 0)
        cardCombo_->setCurrentIndex(card);
}

void CScanForDevices::OnListDoubleClick()
{
    // Only the dialog that offers "Connect" connects; the plain list only lists.
    if (!automatic_ || connectButton_->isHidden() || !connectButton_->isEnabled() || SelectedRows().empty())
        return;
    accept();
}

void CScanForDevices::OnListRightClick()
{
    const QString text = scan::IdCopyText(rows_, SelectedRows());
    if (text.isEmpty())
        return;
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(text);
    platform::messageBox(Text("ID number has been copied to the Clipboard", "ID号已经拷贝到剪切板"), QString(),
                         platform::MsgButtons::Ok, platform::MsgIcon::Warning, this);
}

void CScanForDevices::accept()
{
    const std::vector<int> selected = SelectedRows();
    if (const scan::CardEntry* card = SelectedCard())
        localAddress_ = card->address;
    MessageWindow::killTimer(scan::kScanTimerId);
    CloseEndpoint();

    chosen_ = PlayerRow();
    if (!selected.empty()) {
        const PlayerRow& row = rows_[std::size_t(selected.back())];
        chosen_.ip = row.ip;
        chosen_.mac = row.mac;
        chosen_.portText = row.portText;
        chosen_.id = row.id;
        chosen_.versionText = row.versionText;
    }
    if (scanning_)
        StopScanning();
    if (selected.empty()) {
        platform::messageBox(Text("Please choose a device first!", "先选择一台设备，再连接！"), QString(),
                             platform::MsgButtons::Ok, platform::MsgIcon::Warning, this);
        return;
    }
    chosen_.mac = scan::MacWithoutColons(chosen_.mac);
    scan::SortRecordsByIpText(records_);

    if (!scan::SameClassNetwork(localAddress_, chosen_.ip)) {
        const auto answer = platform::messageBox(
            Text("The local IP and device IP do not belong to the same network segment. Do you want to continue?",
                 "本机IP与设备IP不属于同一网段，是否继续？"),
            QString(), platform::MsgButtons::YesNo, platform::MsgIcon::Question, this);
        if (answer != platform::MsgResult::Yes)
            return;
    }
    QDialog::accept();
}

void CScanForDevices::reject()
{
    MessageWindow::killTimer(scan::kScanTimerId);
    CloseEndpoint();
    QDialog::reject();
}

std::optional<ScanChoice> RunPlayerConnectionScan(const QString& titlePrefix, QWidget* parent)
{
    CScanForDevices dialog(titlePrefix, true, parent);
    dialog.exec();
    return ScanChoiceOf(dialog);
}

std::optional<ScanChoice> ScanChoiceOf(const CScanForDevices& dialog)
{
    if (dialog.result() != QDialog::Accepted)
        return std::nullopt;
    ScanChoice choice;
    choice.player = dialog.ChosenPlayer();
    choice.devices = dialog.Devices();
    choice.localAddress = dialog.LocalAddress();
    return choice;
}

void RunDeviceScanList(const QString& titlePrefix, QWidget* parent)
{
    CScanForDevices dialog(titlePrefix, false, parent);
    dialog.exec();
}

void InstallScanCommands()
{
    // "Scan for Devices" lists the players without connecting to any, so it
    // is open with or without a link.
    core::registerCommand(kCmdScanForDevices, {nullptr, [](CvelunaDoc& doc) {
                              platform::MessageWindow* frame = platform::findWindow(platform::appTitle());
                              RunDeviceScanList(doc.titlePrefix(), frame ? frame->widget() : nullptr);
                          }});
}
