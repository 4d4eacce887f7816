#pragma once
// CLinkHub: Tollivar's player links. Every window of the program hands its
// packets to the main dialog (WM_SEND_TO_PLAYER); the hub sends them over one
// of nine TCP links, opened on demand and keyed by the player's IP, rebuilds
// the replies (one assembler per link) and hands each one to the feature
// window that waits for it, found by its caption.
//
// Everything runs on the UI thread: the links deliver their events there and
// the hub forwards replies with synchronous messages.

#include "companion/hub_records.h"
#include "platform/dialogs.h"
#include "platform/window.h"
#include "transport/records.h"
#include "transport/tcp_client.h"

#include <QString>

#include <array>
#include <chrono>
#include <memory>

class QTimer;

namespace tollivar {

class CLinkHub {
public:
    static constexpr int kLinkCount = 9;
    // A reply whose bytes stop this long, or that takes longer than this plus
    // its announced length at kSlowLinkBytesPerSecond, is dropped and the
    // bytes after its header are searched again: a length that lies cannot
    // keep a link deaf, and the catalogue still arrives over a slow link.
    static constexpr std::chrono::milliseconds kReplyStallLimit{2000};
    static constexpr uint32_t kSlowLinkBytesPerSecond = 10000;
    static constexpr int kExpiryCheckMs = 250;
    // A reply dropped so is told to the window waiting for it, the video
    // control window, else "Setup UART", else "Set Param" (WM_REPLY_TOO_SLOW,
    // wParam the link's tag, lParam the player's IP): the page names the
    // player, which otherwise would just stay empty (or go on with the
    // defaults) while its request is repeated.

    // Binds WM_SEND_TO_PLAYER and WM_TCP_EVENT of `window` (the main dialog,
    // whose caption is the application title); the links report to it.
    // `titlePrefix` heads the caption of the video control page.
    CLinkHub(platform::MessageWindow& window, const QString& titlePrefix, unsigned language);
    ~CLinkHub();
    CLinkHub(const CLinkHub&) = delete;
    CLinkHub& operator=(const CLinkHub&) = delete;

    // The target of every request with an empty target list.
    void SetCurrentTarget(const QString& ip, uint16_t port);
    const SendTarget& CurrentTarget() const { return target_; }
    // Replaces the numbers of the slow-reply rule on every link (tests
    // shorten the allowance so that a slow reply is dropped soon).
    void SetReplyLimit(std::chrono::milliseconds stall, uint32_t slowBytesPerSecond);

    // A request of length 0 closes every link; otherwise the packet goes to
    // each target (or the current target) over its link.
    void SendToPlayers(const SendRequest& request);
    // The link connected to the target's IP, else the first idle one
    // connected to it now; -1 when all nine are busy or the connection fails.
    int FindOrOpenLink(const SendTarget& target);
    // Closes every connected link; each one closed here is announced with
    // WM_LINK_CLOSED as if the player had closed it.
    void CloseAllLinks();
    void OnLinkEvent(const LinkEvent& event);

    const CTCPClient& link(int index) const { return *links_[std::size_t(index)]; }
    // The tag the opener of link `index` gave (the link index of its events).
    uint16_t tag(int index) const { return tags_[std::size_t(index)]; }
    int ConnectedCount() const;

private:
    void DispatchReply(const ReplyAssembler& reply, uint16_t tag);
    void OnProtocolFileReply(const ReplyAssembler& reply);
    void OnCatalogueReply(const ReplyAssembler& reply, uint16_t tag);
    void ExpireIncompleteReplies();
    void NotifyReplyTooSlow(int index);
    void NotifyLinkClosed();
    void SendReboot();
    void ShowMessage(const char* english, const char* chinese, platform::MsgIcon icon) const;
    platform::MessageWindow* Find(const Caption& caption, bool withPrefix = false) const;

    platform::MessageWindow& window_;
    QString titlePrefix_;
    unsigned language_;
    SendTarget target_;
    std::array<std::unique_ptr<CTCPClient>, kLinkCount> links_;
    std::array<ReplyAssembler, kLinkCount> assemblers_;
    std::array<uint16_t, kLinkCount> tags_{};
    int delivering_ = -1;  // the link whose event is being handled
    std::unique_ptr<QTimer> expiryTimer_;
};

}  // namespace tollivar
