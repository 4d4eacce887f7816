#pragma once
// Player discovery: the "Scan For Devices" dialog and the plain functions it
// is made of (request datagram, reading an announcement, list texts, the
// class-based network check, sorting, the ID copy text).
//
// The dialog opens a UDP endpoint on local port 6001 of the chosen network
// card, broadcasts the 46-byte request to ports 6000 and 7656 of the card's
// subnet, lists every player that answers (one row per MAC) and hands the
// chosen player and the list of all players found back to its creator.
// The engine (request, rows, cards) is transport/scan_engine.h, shared with
// Tollivar's scan.

#include "platform/window.h"
#include "transport/scan_engine.h"
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

    std::unique_ptr<scan::DiscoverySender> sender_;  // after endpoint_: sends through it

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
