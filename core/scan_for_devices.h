#pragma once
// Player discovery: the "Scan For Devices" dialog and the plain functions it
// is made of (request datagram, reading an announcement, list texts, the
// class-based network check, sorting, the ID copy text).
//
// The dialog opens a UDP endpoint on local port 6001 of the chosen network
// card, broadcasts the 46-byte request to ports 6000 and 7656 of the card's
// subnet, lists every player that answers (one row per MAC) and hands the
// chosen player and the list of all players found back to its creator.
//
// Loopback is not a network card. VELUNA_SCAN_LOOPBACK=1 puts a line
// "lo(127.0.0.1)" first in the card list (broadcast 127.255.255.255), so that
// simulated players on 127.0.0.x can be found; real cards are listed as ever.
// VELUNA_SCAN_INTERFACES=<name>[,<name>...] adds the named interfaces (for
// example the host end of a veth pair into a test namespace) after it.

#include "platform/window.h"
#include "transport/announcement.h"
#include "transport/records.h"

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QStringList>

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

class CUDPServer;
struct ScanChoice;
class QComboBox;
class QGroupBox;
class QPushButton;
class QTimer;
class QTableWidget;

namespace scan {

inline constexpr uint16_t kLocalPort = proto::kScanLocalPort;      // 6001
inline constexpr uint16_t kPlayerPort = proto::kDiscoveryPort;      // 6000
inline constexpr uint16_t kPlayerAltPort = proto::kDiscoveryAltPort;  // 7656
inline constexpr int kPortGapMs = 20;              // between the two copies of one request
inline constexpr unsigned kScanTimerId = 4;
inline constexpr int kScanTimerMs = 1000;
inline constexpr int kAutoRounds = 5;              // broadcasts of an automatic scan
inline constexpr int kMaxEndpointReopens = 3;      // receive errors in a row before giving up

// The request: a player header (command 1) whose length field says whether
// it went to one player (1) or to a broadcast address (0), then 30 zeros.
QByteArray BuildDiscoveryRequest(bool unicast);

// "No Input Four Output" ... for the 18 known codes; empty for any other.
QString ChannelPart(uint16_t channelCode, unsigned language);
// "Vuvo", "Rotate", "QVE" for product types 0-2; empty for 3-15.
QString ProductPrefix(uint16_t version, unsigned language);
// The "Ver" column: product prefix directly followed by the description.
QString DescribePlayer(uint16_t version, uint16_t fpgaVersion, uint16_t channelCode, unsigned language);

// One list line: the five texts and the three numbers of the announcement.
PlayerRow RowFromAnnouncement(const PlayerAnnouncement& a, unsigned language);

QString MacWithoutColons(const QString& mac);

// Strict dotted IPv4 text ("a.b.c.d", each 0-255) into its four numbers.
std::optional<std::array<uint8_t, 4>> ParseIPv4(const QString& text);

// Class-based network check: the class of `reference` (first number 1-127:
// A, 128-191: B, 192-223: C) says how many leading numbers must be equal.
// False when `reference` is outside 1-223 or either text is not IPv4.
bool SameClassNetwork(const QString& reference, const QString& other);

// The first card address in the same class-based network as `player`; -1
// when none is.
int MatchingCard(const QStringList& cardAddresses, const QString& player);

// By IP text as strings (so 192.168.1.10 comes before 192.168.1.9).
void SortRowsByIpText(std::vector<PlayerRow>& rows);
void SortRecordsByIpText(std::vector<DeviceRecord>& records);

// Text put on the clipboard: the ID of the first selected row; with no
// selection, every ID followed by "\r\n".
QString IdCopyText(const std::vector<PlayerRow>& rows, const std::vector<int>& selectedRows);

// The address to broadcast to on a card: the card's own subnet broadcast
// (address OR NOT netmask), host byte order. Loopback addresses use
// 127.255.255.255.
uint32_t DirectedBroadcast(uint32_t addressHost, uint32_t netmaskHost);
// The netmask of the interface that holds `addressHost`; the class default
// (255.0.0.0, 255.255.0.0, 255.255.255.0) when no interface holds it.
uint32_t NetmaskOfAddress(uint32_t addressHost);

// One line of the network-card combo.
struct CardEntry {
    QString label;    // shown text
    QString address;  // local address to open the endpoint on
    std::array<uint8_t, 4> octets{};
    uint32_t broadcast = 0;  // host byte order
};
// One line of the card combo: the card's name directly followed by its
// address in parentheses, "eth0(192.0.2.2)", for every kind of card alike.
QString CardLabel(const QString& name, const QString& address);
// The card list as the dialog shows it: physical adapters as "name(address)";
// when there is none, the host's addresses as they stand. With
// VELUNA_SCAN_LOOPBACK=1, "lo(127.0.0.1)" comes first.
std::vector<CardEntry> ListCards();

}  // namespace scan

class CScanForDevices : public QDialog, public platform::MessageWindow {
public:
    // `titlePrefix` heads the caption. `automatic`: scan five rounds at once
    // and offer "Connect" (choosing a player); otherwise a plain list that
    // scans until stopped and is left with "Cancel".
    CScanForDevices(const QString& titlePrefix, bool automatic, QWidget* parent = nullptr);
    ~CScanForDevices() override;

    // Outputs after Accepted: the chosen player (five texts, MAC without
    // colons, zero numbers), the local address of the chosen card, and every
    // player found, sorted by IP text.
    const PlayerRow& ChosenPlayer() const { return chosen_; }
    QString LocalAddress() const { return localAddress_; }
    const std::vector<DeviceRecord>& Devices() const { return records_; }

    // Control handlers (public so that the creator and tests can drive them).
    void OnInitDialog();      // runs once, before the dialog is first shown
    void OnUpdateCards();     // 2903
    void OnScanButton();      // 2904
    void OnListLeftClick();   // 2901
    void OnListRightClick();  // 2901
    void OnListDoubleClick(); // 2901: "Connect" with the row, when offered
    void accept() override;   // 1 "Connect"
    void reject() override;   // 2 "Cancel"

    // The request to ports 6000 and 7656 of `destinationHost` (host byte
    // order), 20 ms apart; only while the endpoint is open.
    void SendDiscovery(uint32_t destinationHost, bool unicast);

    bool IsScanning() const { return scanning_; }
    bool IsEndpointOpen() const;
    int BroadcastCount() const { return broadcastCount_; }
    const std::vector<PlayerRow>& Rows() const { return rows_; }
    const std::vector<scan::CardEntry>& Cards() const { return cards_; }
    unsigned Language() const { return language_; }

    // An accepted datagram from the endpoint (also used by tests).
    void OnDatagram(const uint8_t* data, std::size_t length);

    void onTimer(unsigned id) override;

protected:
    void showEvent(QShowEvent* event) override;
    // Keys without a mouse: Tab leaves the list for the buttons; Enter
    // presses the focused button, or on the list connects to the selected
    // row as a double click does; Esc is "Cancel". A stray Enter closes nothing.
    void keyPressEvent(QKeyEvent* event) override;

private:
    platform::LRESULT OnUdpEvent(platform::WPARAM wParam, platform::LPARAM lParam);
    bool OpenEndpoint();
    void CloseEndpoint();
    void StartScanning();
    void StopScanning();
    void Broadcast();
    void ReopenAfterError();
    void RebuildList();
    void FitColumns();
    void UpdateRowItem(int index);
    std::vector<int> SelectedRows() const;
    const scan::CardEntry* SelectedCard() const;
    void PumpOutgoing();
    QString Text(const char* english, const char* chinese) const;

    unsigned language_ = 9;
    QString titlePrefix_;
    bool automatic_ = false;
    bool initialised_ = false;
    bool scanning_ = false;
    int broadcastCount_ = 0;
    bool reopenPending_ = false;
    int reopensInARow_ = 0;

    std::unique_ptr<CUDPServer> endpoint_;
    QString localAddress_;
    scan::CardEntry openCard_;  // the card the endpoint was opened for
    std::vector<scan::CardEntry> cards_;
    std::vector<PlayerRow> rows_;
    std::vector<DeviceRecord> records_;
    PlayerRow chosen_;

    struct Outgoing {
        uint32_t destinationHost;
        uint16_t port;
        QByteArray datagram;
    };
    std::deque<Outgoing> outgoing_;
    QTimer* outgoingTimer_ = nullptr;

    QComboBox* cardCombo_ = nullptr;
    QPushButton* updateButton_ = nullptr;
    QPushButton* scanButton_ = nullptr;
    QPushButton* connectButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QTableWidget* list_ = nullptr;
    QGroupBox* listGroup_ = nullptr;
    QGroupBox* cardGroup_ = nullptr;
};

// "Player Connection Settings": the dialog run modally with automatic
// scanning. After "Connect" the chosen player, every player found (sorted by
// IP text) and the local address of the chosen card; nothing after "Cancel".
std::optional<ScanChoice> RunPlayerConnectionScan(const QString& titlePrefix, QWidget* parent = nullptr);
// What a dialog closed with "Connect" hands back; nothing when it was not.
std::optional<ScanChoice> ScanChoiceOf(const CScanForDevices& dialog);
// "Scan for Devices": the plain list, scanning until stopped.
void RunDeviceScanList(const QString& titlePrefix, QWidget* parent = nullptr);

// Command 32786, "Scan for Devices": always enabled, opens the plain list.
inline constexpr int kCmdScanForDevices = 32786;
// Registers the command in the frame's command table (core/command_registry.h).
void InstallScanCommands();
