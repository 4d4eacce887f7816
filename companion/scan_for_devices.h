#pragma once
// Tollivar's "Scan For Devices" (dialog 131): broadcasts the discovery
// request from the chosen network card, lists the players that answer (one
// row per MAC) and hands back one chosen player, or in tick-box mode up to
// eight ticked players. The engine (request, rows, cards) is veluna's own,
// shared through transport/scan_engine.h.

#include "companion/tollivar_dlg.h"
#include "platform/window.h"
#include "transport/scan_engine.h"

#include <QDialog>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class CUDPServer;
class QComboBox;
class QPushButton;
class QTableWidget;

namespace tollivar {

inline constexpr int kMaxTickedPlayers = 8;

// The tick-box choice: {IP, port} of every ticked row, or the refusal.
struct TickChoice {
    std::vector<TickedPlayer> players;
    QString refusal;  // empty when accepted
};
TickChoice CheckTickedPlayers(const std::vector<PlayerRow>& rows, const std::vector<bool>& ticked, unsigned language);

class CScanForDevices : public QDialog, public platform::MessageWindow {
public:
    // `automatic`: scan five rounds at once and offer "Connect"; otherwise
    // scan until stopped. `tickBoxes`: the rows carry tick boxes and the
    // ticked players are returned.
    CScanForDevices(const QString& titlePrefix, bool automatic, bool tickBoxes, QWidget* parent = nullptr);
    ~CScanForDevices() override;

    // Results after OK.
    const PlayerRow& ChosenPlayer() const { return chosen_; }
    const std::vector<TickedPlayer>& TickedPlayers() const { return ticked_; }
    const std::vector<DeviceRecord>& Devices() const { return records_; }

    // Control handlers (public so that tests can drive them).
    void OnInitDialog();
    void OnUpdateCards();     // 2003
    void OnScanButton();      // 2004
    void OnTickAll();         // 2005
    void OnTickInvert();      // 2006
    void OnListLeftClick();   // 2001
    void OnListRightClick();  // 2001
    void accept() override;   // 1 "Connect"
    void reject() override;   // 2 "Cancel"
    void onTimer(unsigned id) override;
    // One datagram from the endpoint (also used by tests).
    void OnDatagram(const uint8_t* data, std::size_t length);
    // A receive error of the endpoint.
    void OnReceiveError();

    // How timer 4 runs the scan (from the constructor: five rounds when
    // automatic, else until stopped). Set before the scan starts.
    void SetRoundRule(scan::RoundRule rule) { rule_ = rule; }

    bool IsScanning() const { return scanning_; }
    int RoundCounter() const { return rounds_; }
    bool IsEndpointOpen() const;
    const std::vector<PlayerRow>& Rows() const { return rows_; }
    std::vector<bool> Ticks() const;
    void SetTick(int row, bool on);
    QString ScanButtonText() const;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    platform::LRESULT OnUdpEvent(platform::WPARAM, platform::LPARAM lParam);
    bool OpenEndpoint();
    void CloseEndpoint();
    void StartScanning();
    void StopScanning();
    void Broadcast();
    void ShowTickBoxes(bool on);
    void RebuildList();
    void FitColumns();
    void UpdateRowItem(int index);
    std::vector<int> SelectedRows() const;
    QString Text(const char* english, const char* chinese) const;

    unsigned language_;
    QString titlePrefix_;
    bool automatic_;
    bool tickBoxes_;
    scan::RoundRule rule_;
    bool initialised_ = false;
    bool scanning_ = false;
    int rounds_ = 0;
    bool reopenPending_ = false;
    int reopensInARow_ = 0;

    std::unique_ptr<CUDPServer> endpoint_;
    std::unique_ptr<scan::DiscoverySender> sender_;  // after endpoint_: sends through it
    scan::CardEntry openCard_;
    std::vector<scan::CardEntry> cards_;
    std::vector<PlayerRow> rows_;
    std::vector<DeviceRecord> records_;
    PlayerRow chosen_;
    std::vector<TickedPlayer> ticked_;

    QComboBox* cardCombo_ = nullptr;
    QPushButton* updateButton_ = nullptr;
    QPushButton* scanButton_ = nullptr;
    QPushButton* allButton_ = nullptr;
    QPushButton* invertButton_ = nullptr;
    QPushButton* connectButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QTableWidget* list_ = nullptr;
};

// The scan of the main dialog's feature buttons: modal, automatic.
std::optional<ScanOutcome> RunCompanionScan(const QString& titlePrefix, bool tickBoxes, QWidget* parent);

}  // namespace tollivar
