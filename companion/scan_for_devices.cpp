#include "companion/scan_for_devices.h"

#include "common/controls/dialog_keys.h"
#include "platform/adapters.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "transport/udp_server.h"

#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace tollivar {

namespace {

enum Column { kColumnSn, kColumnIp, kColumnMac, kColumnPort, kColumnId, kColumnVer, kColumnCount };
static_assert(kColumnCount == scan::kListColumnCount, "the columns of transport/scan_engine.h");

}  // namespace

TickChoice CheckTickedPlayers(const std::vector<PlayerRow>& rows, const std::vector<bool>& ticked, unsigned language)
{
    TickChoice choice;
    for (std::size_t i = 0; i < rows.size() && i < ticked.size(); ++i) {
        if (ticked[i])
            choice.players.push_back({rows[i].ip, rows[i].portText});
    }
    if (choice.players.empty())
        choice.refusal = platform::pickText(language, "Please tick the devices!", "请勾选设备！");
    else if (int(choice.players.size()) > kMaxTickedPlayers)
        choice.refusal = platform::pickText(language, "Too many devices selected!", "选择的设备过多！");
    if (!choice.refusal.isEmpty())
        choice.players.clear();
    return choice;
}

CScanForDevices::CScanForDevices(const QString& titlePrefix, bool automatic, bool tickBoxes, QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this)),
      language_(platform::appLanguage() == platform::kLanguageChinese ? platform::kLanguageChinese
                                                                       : platform::kLanguageEnglish),
      titlePrefix_(titlePrefix), automatic_(automatic), tickBoxes_(tickBoxes),
      rule_(automatic ? scan::RoundRule::FiveRounds : scan::RoundRule::Endless),
      endpoint_(std::make_unique<CUDPServer>())
{
    sender_ = std::make_unique<scan::DiscoverySender>(*endpoint_);
    setObjectName(QStringLiteral("131"));
    setWindowTitle(titlePrefix_ + Text("Scan For Devices", "查找设备"));

    auto* cardGroup = new QGroupBox(Text("Network Card", "选择与设备通讯网卡"), this);
    cardCombo_ = new QComboBox(cardGroup);
    cardCombo_->setObjectName(QStringLiteral("2002"));
    cardCombo_->setMinimumWidth(320);
    updateButton_ = controls::MakeButton(Text("Update", "刷新"), 2003, cardGroup);
    scanButton_ = controls::MakeButton(Text("Scan", "查找设备"), 2004, cardGroup);
    auto* cardRow = new QHBoxLayout(cardGroup);
    cardRow->addWidget(cardCombo_, 1);
    cardRow->addWidget(updateButton_);
    cardRow->addWidget(scanButton_);

    auto* listGroup = new QGroupBox(Text("Devices List", "设备信息列表"), this);
    list_ = new QTableWidget(0, kColumnCount, listGroup);
    list_->setObjectName(QStringLiteral("2001"));
    list_->setToolTip(Text("Right-click to copy ID number to clipboard", "右键拷贝ID号到剪切板"));
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setShowGrid(true);
    list_->setTabKeyNavigation(false);
    list_->setWordWrap(false);
    list_->setTextElideMode(Qt::ElideNone);
    list_->verticalHeader()->setVisible(false);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->setHorizontalHeaderLabels(language_ == platform::kLanguageChinese
        ? QStringList{QStringLiteral("序号"), QStringLiteral("IP地址"), QStringLiteral("MAC地址"),
                      QStringLiteral("TCP端口号"), QStringLiteral("ID号"), QStringLiteral("版本信息")}
        : QStringList{QStringLiteral("SN"), QStringLiteral("IP"), QStringLiteral("MAC"), QStringLiteral("TCP Port"),
                      QStringLiteral("ID"), QStringLiteral("Ver")});
    auto* listBox = new QVBoxLayout(listGroup);
    listBox->addWidget(list_);

    allButton_ = controls::MakeButton(Text("All", "全选"), 2005, this);
    invertButton_ = controls::MakeButton(Text("Invert", "反选"), 2006, this);
    connectButton_ = controls::MakeButton(Text("Connect", "连接设备"), 1, this);
    cancelButton_ = controls::MakeButton(Text("Cancel", "关闭"), 2, this);
    connectButton_->setVisible(false);
    allButton_->setVisible(tickBoxes_);
    invertButton_->setVisible(tickBoxes_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(allButton_);
    buttons->addWidget(invertButton_);
    buttons->addStretch(1);
    buttons->addWidget(connectButton_);
    buttons->addWidget(cancelButton_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(cardGroup);
    layout->addWidget(listGroup, 1);
    layout->addLayout(buttons);
    resize(880, 460);

    QObject::connect(updateButton_, &QPushButton::clicked, this, [this] { OnUpdateCards(); });
    QObject::connect(scanButton_, &QPushButton::clicked, this, [this] { OnScanButton(); });
    QObject::connect(allButton_, &QPushButton::clicked, this, [this] { OnTickAll(); });
    QObject::connect(invertButton_, &QPushButton::clicked, this, [this] { OnTickInvert(); });
    QObject::connect(connectButton_, &QPushButton::clicked, this, [this] { accept(); });
    QObject::connect(cancelButton_, &QPushButton::clicked, this, [this] { reject(); });
    QObject::connect(list_, &QTableWidget::cellClicked, this, [this](int, int) { OnListLeftClick(); });
    QObject::connect(list_, &QTableWidget::customContextMenuRequested, this,
                     [this](const QPoint&) { OnListRightClick(); });

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

QString CScanForDevices::ScanButtonText() const
{
    return scanButton_->text();
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
    // Enter and Esc never close the dialog: it is left by its buttons.
    if (!controls::SwallowEnterEsc(event))
        QDialog::keyPressEvent(event);
}

void CScanForDevices::OnInitDialog()
{
    if (initialised_)
        return;
    initialised_ = true;
    // A scan already started (the wizard starts its page's scan before the
    // page is first shown) goes on.
    if (automatic_ && !scanning_) {
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

bool CScanForDevices::IsEndpointOpen() const
{
    return endpoint_ && endpoint_->IsOpen();
}

bool CScanForDevices::OpenEndpoint()
{
    CloseEndpoint();
    const int index = cardCombo_->currentIndex();
    if (index < 0 || index >= int(cards_.size()))
        return false;
    openCard_ = cards_[std::size_t(index)];
    // Answers come to port 6001 only; when it is taken the endpoint names
    // who holds it, and the scan does not start (it could find nothing).
    if (endpoint_->Open(openCard_.address, scan::kLocalPort))
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

void CScanForDevices::ShowTickBoxes(bool on)
{
    for (int r = 0; r < list_->rowCount(); ++r) {
        QTableWidgetItem* item = list_->item(r, kColumnSn);
        if (!item)
            continue;
        if (on) {
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            if (item->data(Qt::CheckStateRole).isNull())
                item->setCheckState(Qt::Unchecked);
        } else {
            item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
            item->setData(Qt::CheckStateRole, QVariant());
        }
    }
}

void CScanForDevices::StartScanning()
{
    reopensInARow_ = 0;
    reopenPending_ = false;
    if (!OpenEndpoint())
        return;
    scanning_ = true;
    rows_.clear();
    records_.clear();
    RebuildList();
    rounds_ = 0;
    if (tickBoxes_) {
        allButton_->setEnabled(false);
        invertButton_->setEnabled(false);
    }
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
    if (scan::StopClosesEndpoint(rule_))
        CloseEndpoint();
    scanButton_->setText(Text("Scan", "查找设备"));
    cardCombo_->setEnabled(true);
    updateButton_->setEnabled(true);
    scan::SortRowsByIpText(rows_);
    RebuildList();
    if (tickBoxes_) {
        ShowTickBoxes(true);
        allButton_->setEnabled(true);
        invertButton_->setEnabled(true);
    }
    connectButton_->setEnabled(!rows_.empty());
}

void CScanForDevices::Broadcast()
{
    sender_->Send(openCard_.broadcast, false);
}

void CScanForDevices::onTimer(unsigned id)
{
    if (id != scan::kScanTimerId || !scanning_)
        return;
    ++rounds_;
    const scan::RoundStep step = scan::StepAtTick(rule_, rounds_);
    if (step.stop) {
        StopScanning();
        return;
    }
    if (step.emptyList) {
        rows_.clear();
        records_.clear();
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
        // An answer still on its way when such a scan stopped is not shown.
        if (!scanning_ && scan::StopClosesEndpoint(rule_))
            return 0;
        // The socket hears every card; answers for another card are not ours.
        if (!scan::AnswerIsForCard(event->localAddress, openCard_))
            return 0;
        OnDatagram(event->data, event->length);
    } else if (event->type == kUdpReceiveError) {
        OnReceiveError();
    }
    return 0;
}

void CScanForDevices::OnReceiveError()
{
    // The socket is reopened once, later, outside the endpoint's own
    // delivery. The scan goes on meanwhile with its rounds counted afresh
    // and the button saying so; a card that keeps failing ends the scan the
    // way "Stop" does, so button, counter and flag always agree.
    if (reopenPending_ || !scanning_)
        return;
    reopenPending_ = true;
    MessageWindow::killTimer(scan::kScanTimerId);
    rounds_ = 0;
    QTimer::singleShot(0, this, [this] {
        reopenPending_ = false;
        if (!scanning_)
            return;
        if (++reopensInARow_ > scan::kMaxEndpointReopens || !OpenEndpoint()) {
            CloseEndpoint();
            StopScanning();
            return;
        }
        scanButton_->setText(Text("Stop", "停止查找"));
        Broadcast();
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
    // Tick boxes are offered while no scan runs (a scan hides them).
    if (tickBoxes_ && !scanning_) {
        QTableWidgetItem* first = list_->item(index, kColumnSn);
        first->setFlags(first->flags() | Qt::ItemIsUserCheckable);
        if (first->data(Qt::CheckStateRole).isNull())
            first->setCheckState(Qt::Unchecked);
    }
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
    // A dialog of its own grows (never shrinks) to show every column whole,
    // as far as the screen allows; beyond that the list scrolls sideways.
    // Embedded as a page, its window decides. Before it is shown its children
    // have no sizes yet: showing it fits it again.
    if (!isWindow() || !isVisible())
        return;
    int wanted = total + width() - list_->viewport()->width();
    if (const QScreen* screen = this->screen())
        wanted = std::min(wanted, screen->availableGeometry().width());
    if (wanted > width())
        resize(wanted, height());
}

void CScanForDevices::RebuildList()
{
    list_->clearContents();
    list_->setRowCount(int(rows_.size()));
    for (int i = 0; i < int(rows_.size()); ++i)
        UpdateRowItem(i);
}

std::vector<bool> CScanForDevices::Ticks() const
{
    std::vector<bool> ticks;
    for (int r = 0; r < list_->rowCount(); ++r) {
        const QTableWidgetItem* item = list_->item(r, kColumnSn);
        ticks.push_back(item && (item->flags() & Qt::ItemIsUserCheckable) && item->checkState() == Qt::Checked);
    }
    return ticks;
}

void CScanForDevices::SetTick(int row, bool on)
{
    QTableWidgetItem* item = list_->item(row, kColumnSn);
    if (item && (item->flags() & Qt::ItemIsUserCheckable))
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

void CScanForDevices::OnTickAll()
{
    for (int r = 0; r < list_->rowCount(); ++r)
        SetTick(r, true);
}

void CScanForDevices::OnTickInvert()
{
    const std::vector<bool> ticks = Ticks();
    for (int r = 0; r < int(ticks.size()); ++r)
        SetTick(r, !ticks[std::size_t(r)]);
}

std::vector<int> CScanForDevices::SelectedRows() const
{
    std::vector<int> rows;
    if (const auto* model = list_->selectionModel()) {
        for (const QModelIndex& index : model->selectedRows())
            if (index.row() >= 0 && index.row() < int(rows_.size()))
                rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CScanForDevices::OnListLeftClick()
{
    for (int index : SelectedRows()) {
        uint32_t address = 0;
        if (platform::parseDotted(rows_[std::size_t(index)].ip, address))
            sender_->Send(address, true);
    }
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
    MessageWindow::killTimer(scan::kScanTimerId);
    CloseEndpoint();
    if (scanning_)
        StopScanning();
    if (tickBoxes_) {
        const TickChoice choice = CheckTickedPlayers(rows_, Ticks(), language_);
        if (!choice.refusal.isEmpty()) {
            platform::messageBox(choice.refusal, QString(), platform::MsgButtons::Ok, platform::MsgIcon::Warning,
                                 this);
            return;
        }
        ticked_ = choice.players;
    }
    chosen_ = PlayerRow();
    const std::vector<int> selected = SelectedRows();
    if (!selected.empty()) {
        const PlayerRow& row = rows_[std::size_t(selected.back())];
        chosen_.ip = row.ip;
        chosen_.mac = scan::MacWithoutColons(row.mac);
        chosen_.portText = row.portText;
        chosen_.id = row.id;
        chosen_.versionText = row.versionText;
    } else if (!tickBoxes_) {
        platform::messageBox(Text("Please choose a device first!", "先选择一台设备，再连接！"), QString(),
                             platform::MsgButtons::Ok, platform::MsgIcon::Warning, this);
        return;
    }
    scan::SortRecordsByIpText(records_);
    QDialog::accept();
}

void CScanForDevices::reject()
{
    MessageWindow::killTimer(scan::kScanTimerId);
    CloseEndpoint();
    QDialog::reject();
}

std::optional<ScanOutcome> RunCompanionScan(const QString& titlePrefix, bool tickBoxes, QWidget* parent)
{
    CScanForDevices dialog(titlePrefix, true, tickBoxes, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    ScanOutcome outcome;
    outcome.chosen = dialog.ChosenPlayer();
    outcome.ticked = dialog.TickedPlayers();
    outcome.devices = dialog.Devices();
    return outcome;
}

}  // namespace tollivar
