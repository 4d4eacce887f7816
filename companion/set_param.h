#pragma once
// CSetParam ("Set Param"): the Video Set wizard's parameter page. For every
// ticked player it learns the cascade role (36), one player at a time with
// all links closed between them; then it fetches the catalogue (19) and the
// serial control document (3, kind 1) of the reference player (the first
// master, else the first player) and polls that player's serial input (50)
// every 2 s, so that a selected "Send Cmd" row learns the bytes. The operator
// gives each player four acts (folder, alias, alias filter) and edits the 64
// video types; Next checks the folders and the master/slave agreement and
// writes VideoTypeProtocol.Json for the batch page.
//
// Replies come from the main window's dispatcher, which finds this page by
// its caption: WM_CASCADE_REPLY, WM_VIDEO_LIST_REPLY, WM_CONTROL_PROTOCOL_REPLY,
// WM_USART_DATA_REPLY, WM_LINK_CLOSED (WM_PARAM_FILE_REPLY is ignored), and
// WM_REPLY_TOO_SLOW (lParam const QString*, the player whose reply was
// dropped), which names that player once.
//
// The document Next writes is the reference player's own with the types
// edited here; Batch Send gives it to every player. Until the reference
// player's document has been read, Next asks before the defaults go in its
// place.

#include "companion/control_protocol_record.h"
#include "companion/slow_reply_notice.h"
#include "companion/tollivar_dlg.h"
#include "companion/video_set_model.h"
#include "platform/window.h"
#include "transport/records.h"

#include <QString>
#include <QVariant>
#include <QWidget>

#include <vector>

class PropertyGrid;
class PropertyItem;
class QProgressBar;

class CSetParam : public QWidget, public platform::MessageWindow {
public:
    static constexpr unsigned kQueryTimer = 9;
    static constexpr unsigned kPollTimer = 7;

    explicit CSetParam(const QString& tempFolder, QWidget* parent = nullptr);
    ~CSetParam() override;

    // The page becomes active with the players ticked on page 1: players
    // still ticked keep their acts.
    void Activate(const std::vector<tollivar::TickedPlayer>& ticked);
    // Next: checks, writes the document and stops the timers. False (with
    // the message shown) when the page must stay.
    bool OnNext();
    // The page is left (Back, Cancel or the wizard closing): timers stop.
    void Leave();

    // Shortened clocks for tests.
    void SetClock(int queryMs, int pollMs)
    {
        queryMs_ = queryMs;
        pollMs_ = pollMs;
    }

    std::vector<videoset::DeviceSetup>& Devices() { return devices_; }
    const ControlProtocolRecord& Record() const { return record_; }
    bool DocumentArrived() const { return documentArrived_; }
    // Replies of the player at `ip` dropped as too slow.
    int SlowReplies(const QString& ip) const { return slowNotice_.Drops(ip); }
    PropertyGrid* DeviceGrid() const { return deviceGrid_; }
    PropertyGrid* TypeGrid() const { return typeGrid_; }

    void onTimer(unsigned id) override;

private:
    QString Text(const char* english, const char* chinese) const;
    void Send(int device, uint8_t command, uint16_t param = 0, uint16_t arg = 0);
    void CloseLinks();
    void QueryStep();
    int Reference() const;
    // The player at `device` answered in time.
    void Answered(int device);
    void BuildDeviceGrid();
    void BuildTypeGrid();
    void OnDeviceChanged(PropertyItem* item, const QVariant& oldValue, const QVariant& newValue);
    void OnTypeChanged(PropertyItem* item, const QVariant& oldValue, const QVariant& newValue);
    platform::LRESULT OnCascade(platform::LPARAM lParam);
    platform::LRESULT OnVideoList(platform::LPARAM lParam);
    platform::LRESULT OnProtocol(platform::LPARAM lParam);
    platform::LRESULT OnUsartData(platform::LPARAM lParam);

    unsigned language_;
    QString tempFolder_;
    std::vector<videoset::DeviceSetup> devices_;
    std::size_t step_ = 0;
    int state_ = 0;  // 0 idle, 1 request sent, 2 reply received
    bool documentArrived_ = false;
    tollivar::SlowReplyNotice slowNotice_;
    PlayerCatalog catalog_;
    ControlProtocolRecord record_;
    PropertyGrid* deviceGrid_ = nullptr;
    PropertyGrid* typeGrid_ = nullptr;
    QProgressBar* progress_ = nullptr;
    int queryMs_ = 3000;
    int pollMs_ = 2000;
};
