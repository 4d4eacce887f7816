#pragma once
// CvelunaDoc: the single document of veluna. It owns the nine player links,
// the current player, one reply assembler per link and the sequence number,
// and the state of the running transfers.
//
// Everything here runs on the UI thread. The links deliver their events to
// the frame window, which relays them (WM_TCP_EVENT -> OnLinkEvent) together
// with the requests of every dialog (WM_SEND_TO_PLAYER -> SendToPlayers).

#include "core/command_table.h"
#include "core/layout/image_manage.h"
#include "core/layout/view_settings.h"
#include "core/reply_handlers.h"
#include "platform/window.h"
#include "transport/announcement.h"
#include "transport/records.h"
#include "transport/tcp_client.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// One reply as the handlers see it: `header.command` holds the decoded
// command code (0 = not supported), `rawCommand` the byte as received.
// Payload and assembler are valid only while the handler runs.
struct PlayerReply {
    QString peerIp;
    uint16_t port = 0;
    uint16_t linkIndex = 0;
    proto::PlayerPacketHeader header;
    uint8_t rawCommand = 0;
    const uint8_t* payload = nullptr;
    uint32_t size = 0;
    const ReplyAssembler* assembler = nullptr;

    QByteArray bytes() const { return QByteArray(reinterpret_cast<const char*>(payload), qsizetype(size)); }
};

// One player as the layout canvas tells players apart: address, port and
// MAC (several players may share an address, and a replaced box may take
// an address over).
struct PlayerIdentity {
    QString ip;
    uint16_t port = 0;
    QString mac;
    bool known() const { return !ip.isEmpty(); }
    bool operator==(const PlayerIdentity&) const = default;
};

// What the player-scan dialog hands back after OK.
struct ScanChoice {
    PlayerRow player;
    std::vector<DeviceRecord> devices;
    QString localAddress;
};

namespace layout {
class LayoutTransfer;
}

namespace cfgx {
class ConfigExchange;
struct ConfigExchangeHost;
}

class CvelunaDoc {
public:
    static constexpr int kSlotCount = 9;
    static constexpr int kPlayerInfoPane = 59144;
    static constexpr int kOutputBlockSize = 108;
    // Timer ticks that only count down: the command-line connection (or its
    // refusal) comes on the tick after them, the second, about 2 s after start.
    static constexpr int kAutoConnectDelay = 1;
    static constexpr int kWaitBoxTicks = 5;
    // Seconds without a word from the player after which a layout upload
    // that never got its reply stops blocking the editing commands.
    static constexpr int kUploadPendingTicks = 30;

    // `frame` is the main window: owner of the links' events. `arguments`
    // are the command-line arguments after the program name.
    CvelunaDoc(platform::MessageWindow* frame, const QStringList& arguments);
    virtual ~CvelunaDoc();
    CvelunaDoc(const CvelunaDoc&) = delete;
    CvelunaDoc& operator=(const CvelunaDoc&) = delete;

    // Relays of the main frame.
    void SendToPlayers(const SendRequest& request);
    void OnLinkEvent(const LinkEvent& event);

    // Timer 1 duties of the main frame, called in this order every second.
    void TickAutoConnect();
    // True once, on the tick that closes the wait box (the frame then posts
    // WM_OPEN_SETUP_EDITOR).
    bool TickWaitBox();
    void StepConfigExchange();

    // Closing sequence of the main frame.
    void ResetSequence();
    void CloseAllLinks();
    // The batch dialog works on links of its own: the document forgets it was connected.
    void ClearConnected();
    bool IsLayoutDirty() const;
    void SaveLayout();

    // Connection commands.
    void OnPlayerConnectionSettings();
    void OnReconnect();
    void OnReboot();
    bool CanReconnect() const;
    bool IsConnected() const;

    // Where the document writes status-bar pane texts (pane id, text).
    std::function<void(int, const QString&)> setStatusPaneText;
    // Where the document writes the window title when it changes.
    std::function<void(const QString&)> setWindowTitle;

    // ---------------------------------------------------------- link half

    // The slot linked to the target's IP and port, connecting the first idle
    // slot when none is; -1 when all nine are busy or the connection fails.
    int FindOrConnectSlot(const SendTarget& target);
    // Called with every complete reply of any link.
    void DispatchReply(const ReplyAssembler& reply);
    // True when the reply came over the current player's link (address and port).
    bool IsFromCurrentPlayer(const PlayerReply& r) const;
    // Tells an open "Edge blending wizard" (heap u16 that the wizard frees);
    // false when none is open.
    bool NotifyBlendWizard(uint16_t value);

    // A request header of the document: its sequence is the document's
    // (CMD_LOAD_STATE carries 0).
    proto::PlayerPacketHeader MakeRequest(uint8_t command, uint8_t subCode = 0, uint16_t param = 0,
                                          uint16_t arg = 0) const;
    // Hands one packet for the current player to the main window
    // (WM_SEND_TO_PLAYER); false when it is missing or the packet too big.
    bool SendToCurrentPlayer(const proto::PlayerPacketHeader& header, const QByteArray& payload = QByteArray());
    // The handshake request (the "Connection" command).
    void SendHandshake();
    // Switches the "QVE-" window-title prefix (new title, frame caption,
    // dialog-caption prefix).
    void SetTitlePrefix(bool on);
    // The command line, checked; a refusal is shown when the countdown ends.
    void ArmAutoConnect(const QStringList& arguments);
    bool IsAutoConnectArmed() const { return autoConnectArmed_; }
    // Parameter-wait flag counted by TickWaitBox.
    void SetParamWait(bool on);
    bool paramWait() const { return paramWait_; }

    // ---------------------------------------------------------- commands (document_commands.cpp)
    // The state the command table's enable rules read.
    core::CommandState commandState() const;
    // "System Setup": for players that exchange configuration files the
    // fetch first (the setup editor opens when it has ended, through the
    // wait box and WM_OPEN_SETUP_EDITOR); older players open the editor at once.
    void OnSystemSetup();
    // WM_OPEN_SETUP_EDITOR: the editor of the player's kind; afterwards the
    // exchange runs again, so that what the editor pushes is repeated.
    void OpenSetupEditor();
    // Frame timer: an upload-pending flag the player never answered expires.
    void TickUploadPending();
    // Closes the wait box: the fetch flags cleared, the progress bar off.
    void CloseWaitBox();

    // State read by dialogs, handlers and the exchange component.
    uint16_t sequence() const { return sequence_; }
    const PlayerRow& currentPlayer() const { return currentPlayer_; }
    PlayerRow& currentPlayer() { return currentPlayer_; }
    const SendTarget& target() const { return target_; }
    void setTarget(const QString& ip, uint16_t port);
    const std::vector<DeviceRecord>& devices() const { return devices_; }
    QString localAddress() const { return localAddress_; }
    QString playerFolder() const { return playerFolder_; }
    QString tempFolder() const { return tempFolder_; }
    QString materialFolder() const { return materialFolder_; }
    QString titlePrefix() const { return titlePrefix_; }
    unsigned language() const { return language_; }
    uint8_t product() const { return product_; }
    const std::array<uint8_t, kOutputBlockSize>& outputBlock() const { return outputBlock_; }
    bool connectedFlag(int i) const { return connected_[std::size_t(i)] != 0; }
    bool layoutBusy() const { return layoutBusy_ != 0; }
    bool loadStateOnFetch() const { return loadStateOnFetch_ != 0; }
    void setLayoutDirty(bool dirty) { layoutDirty_ = dirty ? 1 : 0; }
    CTCPClient& slot(int index) { return *slots_[std::size_t(index)]; }
    const ReplyAssembler& assembler(int index) const { return assemblers_[std::size_t(index)]; }
    // The reply being handled (null outside a handler).
    const PlayerReply* currentReply() const { return currentReply_; }
    // The configuration-file exchange this document drives.
    cfgx::ConfigExchange& configExchange() { return *configExchange_; }

    // ---------------------------------------------------------- hooks
    // Filled by the components that own these replies and steps; a hook left
    // empty means the reply is not acted on (beyond what is said).

    // CMD_ADJUST_MODE (12). Empty: only the blend wizard is told.
    std::function<void(const PlayerReply&)> onAdjustModeReply;
    // CMD_CONFIG_FILE (54).
    std::function<void(const PlayerReply&)> onConfigFileReply;
    // CMD_LAYOUT (52) and CMD_MATERIAL (53).
    std::function<void(const PlayerReply&)> onLayoutReply;
    std::function<void(const PlayerReply&)> onMaterialReply;
    // CMD_PARAM_FILE kind 0: the next step of the watermark transfer.
    std::function<void(const PlayerReply&)> onWatermarkReply;
    // A not-supported reply (raw command byte); true when it answered the
    // configuration exchange's request.
    std::function<bool(const QString& peerIp, uint8_t rawCommand)> onNotSupportedReply;
    // The handshake's last step: fetch the display-grid file (file 18).
    std::function<void()> startGridFetch;
    // Upload one configuration file (file 5 after a window-editor reply).
    std::function<void(uint8_t file)> uploadConfigFile;
    // One step of the configuration exchange on the frame's timer.
    std::function<void()> configExchangeStep;
    // A failed connection stops a running configuration exchange.
    std::function<void()> stopConfigExchange;
    // The handshake clears the fetch-sequencer flag.
    std::function<void()> clearFetchSequencer;
    // A CMD_STATUS block arrived: set the four screens of the layout model
    // and the content views (x, y, width, height).
    std::function<void(const std::array<uint8_t, kOutputBlockSize>&)> onScreensChanged;
    // The player-scan dialog, run modally with automatic scanning; nothing
    // when the user cancels.
    std::function<std::optional<ScanChoice>()> runScanDialog;
    // The wait box is to be shown with a text, or hidden.
    std::function<void(const QString&)> showWaitBox;
    std::function<void()> hideWaitBox;
    // Saves the open layout (closing sequence).
    std::function<void()> saveLayout;

    // ---------------------------------------------------------- layout (document_layout.cpp)
    // The layout model; CImageManage::Instance() while this document lives.
    CImageManage& imageManage() { return *imageManage_.get(); }
    // After every edit of the open layout: saves and sends it through
    // pushLayout (the layout transfer fills it; empty: nothing is sent).
    void PushCurrentLayout();
    std::function<void()> pushLayout;
    // The current player's link went; `tell`: say that a transfer did not finish.
    std::function<bool(bool tell)> onCurrentLinkLost;
    // The picture panel's pick: placing library slot `slot` starts on the
    // active screen; refused with a message when nine windows exist.
    bool AddPictureWindow(int slot);
    void setActiveScreen(uint16_t screen) { activeScreen_ = screen; }
    uint16_t activeScreen() const { return activeScreen_; }
    void SetModified() { layoutDirty_ = 1; }
    // The open layout holds edits the player has not confirmed: made while
    // no player was connected, or sent and never answered. They are for
    // layoutPlayer() (for whichever player connects first when it is not
    // known): a layout from that player asks before it replaces them, one
    // from another player replaces them and says so.
    bool layoutUnsent() const { return layoutUnsent_ != 0; }
    void MarkLayoutUnsent() { layoutUnsent_ = 1; }
    // The player whose layout the canvas holds: the one it was last fetched
    // from or uploaded to (that upload answered). Not known on a fresh canvas.
    const PlayerIdentity& layoutPlayer() const { return layoutPlayer_; }
    // The current player as layoutPlayer() names players.
    PlayerIdentity currentPlayerIdentity() const;
    // Output channels of the connected player (channel-layout code 1..9 or
    // 11..91; 0 for other codes).
    uint8_t playerChannels() const;
    // The canvas's context menu: "Close" (32771) and "Mask Parameter
    // Setting" (32789); a command registered under the id runs instead.
    void OnLayoutContextCommand(int id, uint16_t screen);
    void RemoveSelectedWindow();
    void OnImageParam(uint16_t screen);
    // The service keys' operations; the transfer and upgrade dialogs fill
    // the hooks (empty: nothing happens).
    void SendWatermark();
    void OpenUpgradeDialog(int mode);
    std::function<void()> sendWatermark;
    std::function<void(int mode)> openUpgradeDialog;
    // The content views redraw after the model changed (screens, pick).
    std::function<void()> layoutViewsChanged;
    // Layouts and material with the player (core/layout/layout_transfer.h).
    layout::LayoutTransfer& layoutTransfer() { return *layoutTransfer_; }
    QString currentLayoutPath() const { return currentLayoutPath_; }
    void setCurrentLayoutPath(const QString& path) { currentLayoutPath_ = path; }
    const CImageManage& imageManage() const { return *imageManage_.get(); }
    // Zoom and grid of the two screen views and the layout lock (Grid.QVE).
    layout::ViewSettings& viewSettings() { return viewSettings_; }
    const layout::ViewSettings& viewSettings() const { return viewSettings_; }
    // The views take zoom and lock from viewSettings().
    std::function<void()> viewSettingsChanged;
    // Set by cut and copy, cleared when paste finds no window block.
    bool clipboardHoldsWindow() const { return clipboardHoldsWindow_; }
    void setClipboardHoldsWindow(bool on) { clipboardHoldsWindow_ = on; }

private:
    friend class layout::LayoutTransfer;
    void InitLayoutModel();
    void InstallLayoutTransfer();
    std::unique_ptr<layout::LayoutTransfer> layoutTransfer_;
    layout::ViewSettings viewSettings_;
    bool clipboardHoldsWindow_ = false;
    layout::OwnedImageManage imageManage_;
    uint16_t activeScreen_ = 0;

    class ConfigHost;
    void InstallConfigExchange();
    void resetAssembler(int index);
    void resetAllAssemblers();
    void showMessage(const QString& english, const QString& chinese, int icon);
    // Ends every link to `target` (a request asked for a fresh one).
    void closeLinksTo(const SendTarget& target);
    // A slot was linked to `target` anew: when that is the current player,
    // whose link went after its handshake, it is shown connected again.
    void onLinkedAgain(const SendTarget& target);
    // "Failed to connect player！", or with `unreadableFile` the message
    // that names the file whose bytes could not be read.
    void reportLinkFailure(const QString& unreadableFile = QString());
    QString text(const char* english, const char* chinese) const;
    platform::MessageWindow* findDialog(replies::Caption caption, bool withPrefix = true) const;
    void runAutoConnect();

    // Reply handlers (reply_handlers.cpp).
    void handleReply(const PlayerReply& r);
    void onHandshakeReply(const PlayerReply& r);
    void onParamFileReply(const PlayerReply& r);
    void onStatusReply(const PlayerReply& r);
    void onVideoListReply(const PlayerReply& r);
    void onCascadeQueryReply(const PlayerReply& r);
    void onVideoPicWindowReply(const PlayerReply& r);
    void onPowerReply(const PlayerReply& r);
    void onQrCodeReply(const PlayerReply& r);
    void onNetworkParamReply(const PlayerReply& r);
    void sendTrackbarValues(uint16_t wParam, uint16_t subCode, uint16_t param, uint16_t arg);
    void sendPayloadTo(replies::Caption caption, unsigned message, const PlayerReply& r, bool withPrefix = true);

    platform::MessageWindow* frame_ = nullptr;
    std::array<std::unique_ptr<CTCPClient>, kSlotCount> slots_;
    std::array<ReplyAssembler, kSlotCount> assemblers_;
    const PlayerReply* currentReply_ = nullptr;

    PlayerRow currentPlayer_;
    QString playerName_;
    std::array<uint8_t, kOutputBlockSize> outputBlock_{};
    SendTarget target_;
    std::vector<DeviceRecord> devices_;
    QString localAddress_;
    QString playerFolder_;
    QString tempFolder_;
    QString materialFolder_;
    QString currentLayoutPath_;
    QString titlePrefix_;
    unsigned language_ = 9;
    uint16_t sequence_ = 0;
    uint8_t product_ = 0;
    uint8_t layoutDirty_ = 0;
    uint8_t layoutUnsent_ = 0;
    // Kept apart from currentPlayer_, which choosing a player clears before
    // the scan: whose edits the mark holds must outlive that.
    PlayerIdentity layoutPlayer_;
    std::array<uint8_t, 3> connected_{};
    // The status-bar text of the last accepted handshake, and whether the
    // current player's link went while that handshake stood: the next link
    // to the same player, by whichever request, shows it connected again.
    QString playerInfoText_;
    bool relinkShowsPlayer_ = false;
    uint8_t layoutBusy_ = 0;
    uint32_t loadStateOnFetch_ = 0;

    bool autoConnectArmed_ = false;
    int autoConnectCount_ = 0;
    QString autoConnectError_;
    std::optional<PlayerRow> autoConnectPlayer_;
    uint16_t autoConnectPort_ = 0;

    bool paramWait_ = false;
    int paramWaitTicks_ = 0;
    int uploadSilentTicks_ = 0;

    std::unique_ptr<cfgx::ConfigExchangeHost> configHost_;
    std::unique_ptr<cfgx::ConfigExchange> configExchange_;
};
