#pragma once
// Tollivar's remote control of one player, a page of the "Video Control"
// tab window (CVideoControlTab). Like veluna's remote control it lists the
// player's types, videos and layouts as rows of buttons and sends one
// VideoControl.Json per action, but every request names its own player
// (tagged with the page index, so that the replies come back to this page),
// the eleven play buttons all send play modes with their labels, and a
// start-up sequence driven by timer 5 asks, retrying every 11 ticks, for the
// catalogue, the layouts and the player's own button labels (cmdId 3), then
// polls the play position every tick.
//
// The tab window passes the replies on with these messages:
//   WM_VIDEO_LIST_REPLY       wParam 0, lParam PlayerCatalog* (owned here)
//   WM_TRACKBAR_VALUES_REPLY  wParam 1, lParam ReplyStatusRecord* (owned here)
//   WM_VIDEO_UPLOAD_REPLY     wParam 0, lParam const QString* (the layout list)
//   WM_VIDEO_CONTROL_REPLY    wParam 10, lParam const QByteArray* (the reply)
//   WM_REPLY_TOO_SLOW         wParam 0: a reply of this page's player was
//                             dropped while it still arrived

#include "common/controls/remote_panel.h"
#include "companion/slow_reply_notice.h"
#include "platform/window.h"
#include "transport/remote_control.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <cstdint>
#include <map>
#include <vector>

struct PlayerCatalog;

namespace tollivar {

class CVideoControl : public QWidget, public platform::MessageWindow {
public:
    static constexpr unsigned kTimer = 5;
    static constexpr int kTimerMs = 1000;
    static constexpr int kResendTicks = 11;
    static constexpr int kNoType = 9999;

    // The start-up sequence: what the page waits for.
    enum Step : uint16_t { kWantCatalogue = 0, kWantLayouts = 1, kWantCapabilities = 2, kPolling = 3 };
    // The eleven play buttons.
    enum Control {
        kTypeLoop = 2104, kSingleLoop = 2105, kSinglePlay = 2106, kTypeRandom = 2107, kAllRandom = 2108,
        kPlay = 2109, kPause = 2110, kPrevious = 2113, kNext = 2114, kPowerOn = 2120, kPowerOff = 2121
    };
    static constexpr std::array<int, 11> kControls = {kTypeLoop, kSingleLoop, kSinglePlay, kTypeRandom,
                                                      kAllRandom, kPlay, kPause, kPrevious, kNext,
                                                      kPowerOn, kPowerOff};
    // The button a capability entry of `type` relabels; 0 for none.
    static int ControlOfCapability(int type);

    // `tickMs`: the period of timer 5 (shortened by tests).
    CVideoControl(const QString& folder, uint16_t pageIndex, const QString& ip, uint16_t port, unsigned language,
                  int tickMs = kTimerMs, QWidget* parent = nullptr);
    ~CVideoControl() override;

    // Sends the catalogue request and starts timer 5 (page opening).
    void OnInitDialog();
    // Stops timer 5 (page closing).
    void Close();
    void onTimer(unsigned id) override;

    void OnControlButton(int control);
    void OnTypeButton(int i) { OnListButton(remote::ListButton::Type, i); }
    void OnVideoButton(int j) { OnListButton(remote::ListButton::Video, j); }
    void OnLayoutButton(int i) { OnListButton(remote::ListButton::Layout, i); }

    uint16_t pageIndex() const { return pageIndex_; }
    QString ip() const { return ip_; }
    uint16_t port() const { return port_; }
    Step step() const { return step_; }
    const std::vector<remote::PlayTypeEntry>& types() const { return types_; }
    const QStringList& layouts() const { return layouts_; }
    QPushButton* button(int control) const;
    QString label(int control) const;
    QString timeText() const;
    QString nameText() const;
    int progress() const;
    QSlider* volume() const { return panel_.volume; }
    QCheckBox* videoCheck() const { return panel_.videoCheck; }
    // Replies of this page's player dropped as too slow since opening.
    int slowReplies() const { return slowNotice_.Drops(ip_); }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void SendPacket(uint8_t command, uint16_t param, const QByteArray& payload);
    void SendCatalogueRequest();
    void SendLayoutRequest();
    void SendControl(int cmdId, const QString& value);
    void EnterStep(Step step);
    void OnCatalogue(const PlayerCatalog& catalog);
    void OnLayoutList(const QString& text);
    void OnListButton(remote::ListButton button, int index);
    void ListVideos(const QStringList& videos);
    void OnControlReply(const QByteArray& payload);
    void OnReplyTooSlow();
    void RebuildButtons();
    void LayoutControls();

    unsigned language_;
    QString folder_;
    uint16_t pageIndex_;
    QString ip_;
    uint16_t port_;
    int tickMs_;
    Step step_ = kWantCatalogue;
    uint16_t ticks_ = 0;
    bool volumeChanged_ = false;
    SlowReplyNotice slowNotice_;
    int selectedType_ = kNoType;
    std::vector<remote::PlayTypeEntry> types_;
    QStringList layouts_;

    controls::RemotePanel panel_;
    std::map<int, QPushButton*> controls_;
};

}  // namespace tollivar
