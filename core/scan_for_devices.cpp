#include "core/scan_for_devices.h"

#include "common/controls/dialog_keys.h"
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


// ---------------------------------------------------------------------------
// The dialog

namespace {

enum Column { kColumnSn, kColumnIp, kColumnMac, kColumnPort, kColumnId, kColumnVer, kColumnCount };
static_assert(kColumnCount == scan::kListColumnCount, "the columns of transport/scan_engine.h");

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
    updateButton_ = controls::MakeButton(Text("Update", "刷新"), 2903, cardGroup_);
    scanButton_ = controls::MakeButton(Text("Scan", "查找设备"), 2904, cardGroup_);
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
        list_->setColumnWidth(c, scan::kListColumnWidths[c]);
    auto* listBox = new QVBoxLayout(listGroup_);
    listBox->addWidget(list_);

    connectButton_ = controls::MakeButton(Text("Connect", "连接设备"), 1, this);
    cancelButton_ = controls::MakeButton(Text("Cancel", "关闭"), 2, this);
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

    sender_ = std::make_unique<scan::DiscoverySender>(*endpoint_);

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
    if (sender_)
        sender_->Clear();
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
    sender_->Send(destinationHost, unicast);
}

void CScanForDevices::onTimer(unsigned id)
{
    if (id != scan::kScanTimerId || !scanning_)
        return;
    ++broadcastCount_;
    const scan::RoundStep step =
        scan::StepAtTick(automatic_ ? scan::RoundRule::FiveRounds : scan::RoundRule::Endless, broadcastCount_);
    if (step.stop) {
        StopScanning();
        return;
    }
    if (step.emptyList) {
        // Only the list starts afresh: what is known of a player heard in an
        // earlier round stays for Connect.
        rows_.clear();
        RebuildList();
    }
    if (step.broadcast)
        Broadcast();
    if (step.countdown > 0)
        scanButton_->setText(Text("Stop(%1)", "停止查找(%1)").arg(step.countdown));
}

platform::LRESULT CScanForDevices::OnUdpEvent(platform::WPARAM, platform::LPARAM lParam)
{
    const auto* event = reinterpret_cast<const UdpLinkEvent*>(lParam);
    if (!event)
        return 0;
    if (event->type == kUdpDatagram) {
        // The socket hears every card; answers for another card are not ours.
        if (!scan::AnswerIsForCard(event->localAddress, openCard_))
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
        // A scan that ended meanwhile stays ended.
        if (scanning_)
            setTimer(scan::kScanTimerId, scan::kScanTimerMs);
    });
}

void CScanForDevices::OnDatagram(const uint8_t* data, std::size_t length)
{
    const auto announcement = PlayerAnnouncement::parse(data, length);
    if (!announcement)
        return;
    reopensInARow_ = 0;
    const scan::MergeResult merged = scan::MergeAnnouncement(rows_, records_, *announcement, language_);
    if (merged.appended)
        list_->setRowCount(int(rows_.size()));
    UpdateRowItem(merged.row);
}

void CScanForDevices::UpdateRowItem(int index)
{
    if (index < 0 || index >= int(rows_.size()))
        return;
    const PlayerRow& row = rows_[std::size_t(index)];
    const std::array<QString, scan::kListColumnCount> texts = scan::ListRowTexts(row, index);
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
        const int width = std::max(scan::kListColumnWidths[c], list_->columnWidth(c));
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
