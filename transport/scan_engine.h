#pragma once
// The scan engine of every device-scan front end of both programs: the
// discovery request, an announcement turned into list texts, one row per MAC,
// sorting by IP text, and the list of network cards to scan from.
//
// Loopback is not a network card. VELUNA_SCAN_LOOPBACK=1 puts a line
// "lo(127.0.0.1)" first in the card list (broadcast 127.255.255.255), so that
// simulated players on 127.0.0.x can be found; real cards are listed as ever.
// VELUNA_SCAN_INTERFACES=<name>[,<name>...] adds the named interfaces (for
// example the host end of a veth pair into a test namespace) after it.

#include "transport/announcement.h"
#include "transport/records.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class CUDPServer;
class QTimer;

#include <array>
#include <deque>
#include <memory>
#include <cstdint>
#include <optional>
#include <vector>

namespace scan {

inline constexpr uint16_t kLocalPort = proto::kScanLocalPort;      // 6001
inline constexpr uint16_t kPlayerPort = proto::kDiscoveryPort;      // 6000
inline constexpr uint16_t kPlayerAltPort = proto::kDiscoveryAltPort;  // 7656
inline constexpr int kPortGapMs = 20;              // between the two copies of one request
inline constexpr unsigned kScanTimerId = 4;
inline constexpr int kScanTimerMs = 1000;
inline constexpr int kAutoRounds = 5;              // broadcasts of an automatic scan
inline constexpr int kMaxEndpointReopens = 3;      // receive errors in a row before giving up

// How timer 4 drives a scan. An automatic scan broadcasts five rounds and
// keeps every player that answered any of them; the Video Set wizard's page
// empties the list before each of its five rounds, so that it ends showing
// only the players that answered the last request, and closes its endpoint
// when it stops; a scan started by hand empties and broadcasts until stopped.
enum class RoundRule { Endless, FiveRounds, FiveFreshRounds };
struct RoundStep {
    bool emptyList = false;
    bool broadcast = false;
    int countdown = 0;  // the button reads "Stop(countdown)" when above 0
    bool stop = false;  // the scan ends as "Stop" ends it
};
// What tick `counter` (1 at the first tick after the start) does.
RoundStep StepAtTick(RoundRule rule, int counter);
// Whether stopping a scan of this rule also closes the endpoint (later
// answers are then not heard).
bool StopClosesEndpoint(RoundRule rule);

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

// What an announcement did to the list: the row it filled and whether that
// row is new.
struct MergeResult {
    int row = -1;
    bool appended = false;
};
// One row per player, told apart by MAC: an announcement from a MAC already
// listed updates that row (and its record) in place, perhaps with a new
// address; any other is appended with a new record.
MergeResult MergeAnnouncement(std::vector<PlayerRow>& rows, std::vector<DeviceRecord>& records,
                              const PlayerAnnouncement& announcement, unsigned language);

// One line of the network-card combo.
struct CardEntry {
    QString label;    // shown text
    QString address;  // local address to open the endpoint on
    std::array<uint8_t, 4> octets{};
    uint32_t broadcast = 0;  // host byte order
};
// Whether an answer that reached the local address `localAddress` (as the
// endpoint reports it; all zero when it does not know) is meant for `card`:
// the endpoint hears every card, and answers for another card are not ours.
bool AnswerIsForCard(const std::array<uint8_t, 4>& localAddress, const CardEntry& card);

// The player list of both scan dialogs: SN, IP, MAC, TCP port, ID and
// version; the widths the columns open with (a column grows past its width
// when its texts need more, so that a MAC, an IP or a version is never cut
// short), and the texts of the row at `index` (counted from 0).
inline constexpr int kListColumnCount = 6;
inline constexpr int kListColumnWidths[kListColumnCount] = {40, 90, 120, 80, 100, 380};
std::array<QString, kListColumnCount> ListRowTexts(const PlayerRow& row, int index);

// One line of the card combo: the card's name directly followed by its
// address in parentheses, "eth0(192.0.2.2)", for every kind of card alike.
QString CardLabel(const QString& name, const QString& address);
// The card list as the dialog shows it: physical adapters as "name(address)";
// when there is none, the host's addresses as they stand. With
// VELUNA_SCAN_LOOPBACK=1, "lo(127.0.0.1)" comes first.
std::vector<CardEntry> ListCards();

// Sends the discovery request to ports 6000 and 7656 of a destination,
// 20 ms apart (players that listen on both get the second copy a moment
// later), over the endpoint it is given, while that endpoint is open.
// Runs on the UI thread; requests queue up in order.
class DiscoverySender {
public:
    explicit DiscoverySender(CUDPServer& endpoint);
    ~DiscoverySender();
    DiscoverySender(const DiscoverySender&) = delete;
    DiscoverySender& operator=(const DiscoverySender&) = delete;

    // Nothing is queued when the endpoint is not open.
    void Send(uint32_t destinationHost, bool unicast);
    // Drops what has not been sent yet.
    void Clear();

private:
    void Pump();
    struct Outgoing {
        uint32_t destinationHost;
        uint16_t port;
        QByteArray datagram;
    };
    CUDPServer& endpoint_;
    std::deque<Outgoing> queue_;
    std::unique_ptr<QTimer> timer_;
};

}  // namespace scan
