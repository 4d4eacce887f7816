#include "companion/link_hub.h"

#include "common/text_coding.h"
#include "platform/messages.h"
#include "transport/upload_chunks.h"

#include <QByteArray>
#include <QTimer>

#include <algorithm>
#include <cstring>

namespace tollivar {

namespace {

using platform::LPARAM;
using platform::MessageWindow;
using platform::MsgIcon;
using platform::WPARAM;

// Hands a heap record to `window` when it takes the message; the window then
// owns it. Otherwise the record is freed here and nothing is sent.
template <class T>
void sendOwned(MessageWindow* window, unsigned message, WPARAM wParam, std::unique_ptr<T> record)
{
    if (!window || !window->handles(message))
        return;
    platform::sendMessage(window, message, wParam, LPARAM(record.release()));
}

// Replies that end the conversation: every link is closed, nothing is passed on.
bool closesAllLinks(uint8_t code)
{
    static constexpr uint8_t kCodes[] = {2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 25, 26, 27, 32, 39, 40, 46, 55};
    return std::find(std::begin(kCodes), std::end(kCodes), code) != std::end(kCodes);
}

}  // namespace

CLinkHub::CLinkHub(platform::MessageWindow& window, const QString& titlePrefix, unsigned language)
    : window_(window), titlePrefix_(titlePrefix), language_(language)
{
    for (int i = 0; i < kLinkCount; ++i) {
        links_[std::size_t(i)] = std::make_unique<CTCPClient>();
        links_[std::size_t(i)]->setOwner(window_.handle());
        // The link reports its own position, so that its chunks are rebuilt
        // apart from every other link's; the opener's tag is kept here.
        links_[std::size_t(i)]->SetLinkIndex(uint16_t(i));
        assemblers_[std::size_t(i)].setExpiryNotice([this, i](const ReplyAssembler&) { NotifyReplyTooSlow(i); });
    }
    SetReplyLimit(kReplyStallLimit, kSlowLinkBytesPerSecond);
    // A reply whose length field lies must not keep the link deaf, and
    // nothing else may arrive on that link to notice: a timer asks.
    expiryTimer_ = std::make_unique<QTimer>();
    expiryTimer_->setInterval(kExpiryCheckMs);
    QObject::connect(expiryTimer_.get(), &QTimer::timeout, [this] { ExpireIncompleteReplies(); });
    window_.onMessage(platform::WM_SEND_TO_PLAYER, [this](WPARAM, LPARAM l) -> platform::LRESULT {
        // The receiver owns the request from here on.
        std::unique_ptr<SendRequest> request(reinterpret_cast<SendRequest*>(l));
        if (request)
            SendToPlayers(*request);
        return 0;
    });
    window_.onMessage(platform::WM_TCP_EVENT, [this](WPARAM, LPARAM l) -> platform::LRESULT {
        if (const auto* event = reinterpret_cast<const LinkEvent*>(l))
            OnLinkEvent(*event);
        return 0;
    });
}

CLinkHub::~CLinkHub()
{
    // Links first: their threads must not deliver into a half-destroyed hub.
    for (auto& link : links_)
        link->Close();
}

void CLinkHub::SetReplyLimit(std::chrono::milliseconds stall, uint32_t slowBytesPerSecond)
{
    for (ReplyAssembler& assembler : assemblers_)
        assembler.setIncompleteLimit(stall, slowBytesPerSecond);
}

void CLinkHub::SetCurrentTarget(const QString& ip, uint16_t port)
{
    target_.ip = ip;
    target_.port = port;
    target_.slot = 0;
}

int CLinkHub::ConnectedCount() const
{
    return int(std::count_if(links_.begin(), links_.end(), [](const auto& l) { return l->IsConnected(); }));
}

void CLinkHub::ShowMessage(const char* english, const char* chinese, MsgIcon icon) const
{
    platform::messageBox(platform::pickText(language_, english, chinese), QString(), platform::MsgButtons::Ok, icon);
}

MessageWindow* CLinkHub::Find(const Caption& caption, bool withPrefix) const
{
    return platform::findWindow((withPrefix ? titlePrefix_ : QString()) + caption.text(language_));
}

// ------------------------------------------------------------------ sending

void CLinkHub::SendToPlayers(const SendRequest& request)
{
    if (request.length() == 0) {
        CloseAllLinks();
        return;
    }
    std::vector<SendTarget> targets = request.targets;
    if (targets.empty()) {
        // A request whose every target was refused names nobody; it must not
        // reach whichever player happens to be current.
        if (request.refusedTargets > 0) {
            ShowMessage("Failed to connect player！", "连接播放器失败！", MsgIcon::Question);
            return;
        }
        targets.push_back(target_);
    }
    for (const SendTarget& target : targets) {
        const int index = FindOrOpenLink(target);
        if (index < 0) {
            ShowMessage("Failed to connect player！", "连接播放器失败！", MsgIcon::Question);
            continue;
        }
        // The link queues the packet: a second request before the first has
        // been written waits its turn instead of overwriting it.
        links_[std::size_t(index)]->Send(request.data, request.body, request.bodyOwner, request.bodySource);
    }
}

int CLinkHub::FindOrOpenLink(const SendTarget& target)
{
    for (int i = 0; i < kLinkCount; ++i) {
        const CTCPClient& link = *links_[std::size_t(i)];
        if (link.IsConnected() && link.PeerAddress() == target.ip)
            return i;
    }
    if (target.ip.isEmpty() || target.port == 0)
        return -1;
    for (int i = 0; i < kLinkCount; ++i) {
        CTCPClient& link = *links_[std::size_t(i)];
        // The link whose event is being handled cannot be reconnected from
        // inside that handler; another idle link serves.
        if (link.IsConnected() || i == delivering_)
            continue;
        if (!link.Connect(target.ip, target.port) || !link.IsConnected())
            return -1;
        link.SetLinkIndex(uint16_t(i));
        tags_[std::size_t(i)] = target.slot;
        assemblers_[std::size_t(i)].reset();
        return i;
    }
    return -1;
}

void CLinkHub::CloseAllLinks()
{
    int closed = 0;
    for (int i = 0; i < kLinkCount; ++i) {
        CTCPClient& link = *links_[std::size_t(i)];
        if (link.IsConnected()) {
            link.Close();
            ++closed;
        }
        assemblers_[std::size_t(i)].reset();
    }
    // A link closed here reports nothing, yet the pages that wait for the
    // end of a link must hear of it as if the player had closed it.
    for (int k = 0; k < closed; ++k)
        NotifyLinkClosed();
}

void CLinkHub::NotifyLinkClosed()
{
    MessageWindow* page = Find(kSetParamCaption);
    if (!page)
        page = Find(kBatchSendCaption);
    if (page)
        platform::sendMessage(page, platform::WM_LINK_CLOSED, 0, 0);
}

// ---------------------------------------------------------------- receiving

void CLinkHub::OnLinkEvent(const LinkEvent& event)
{
    if (event.linkIndex >= kLinkCount)
        return;
    const int index = int(event.linkIndex);
    ReplyAssembler& assembler = assemblers_[std::size_t(index)];
    switch (event.type) {
    case kLinkShortSend:
        // A file cut while it was written: the link goes (its packet is
        // cut), and the file, not the player, is named.
        if (const QString source = UnreadableSource(event); !source.isEmpty())
            platform::messageBox(upload::ReadFailureMessage(source, int(language_)), QString(),
                                 platform::MsgButtons::Ok, MsgIcon::Warning);
        assembler.reset();
        break;
    case kLinkReceiveException:
    case kLinkWaitTimeout:
    case kLinkWaitFailed:
    case kLinkReceiveError:
    case kLinkPeerClosed:
        assembler.reset();
        break;
    case kLinkReceiverEnded:
        assembler.reset();
        NotifyLinkClosed();
        break;
    case kLinkData: {
        if (!event.data)
            break;
        const int outer = delivering_;
        delivering_ = index;
        const uint16_t tag = tags_[std::size_t(index)];
        assembler.feed(event.peerAddress, event.port, tag, event.data, event.length,
                       [this, tag](const ReplyAssembler& r) { DispatchReply(r, tag); });
        delivering_ = outer;
        if (assembler.awaitsExpiry() && !expiryTimer_->isActive())
            expiryTimer_->start();
        break;
    }
    default:
        break;
    }
}

void CLinkHub::ExpireIncompleteReplies()
{
    bool waiting = false;
    for (int i = 0; i < kLinkCount; ++i) {
        ReplyAssembler& assembler = assemblers_[std::size_t(i)];
        if (!assembler.awaitsExpiry())
            continue;
        const int outer = delivering_;
        delivering_ = i;
        const uint16_t tag = tags_[std::size_t(i)];
        assembler.expireIncomplete([this, tag](const ReplyAssembler& r) { DispatchReply(r, tag); });
        delivering_ = outer;
        waiting = waiting || assembler.awaitsExpiry();
    }
    if (!waiting)
        expiryTimer_->stop();
}

void CLinkHub::NotifyReplyTooSlow(int index)
{
    // The window that waits for the player's reply; as for the catalogue,
    // the video control page first.
    MessageWindow* page = Find(kVideoControlCaption, true);
    if (!page)
        page = Find(kSetupUartCaption);
    if (!page)
        page = Find(kSetParamCaption);
    if (!page)
        return;
    // Posted, not sent: the page answers with a message box, whose event
    // loop must not run while the assembler is still dropping the reply.
    // The tag and the player are read now, as the link may be opened again
    // for another page or player by then.
    const platform::WindowHandle handle = page->handle();
    const WPARAM tag = tags_[std::size_t(index)];
    const QString player = links_[std::size_t(index)]->PeerAddress();
    platform::postCall(expiryTimer_.get(), [handle, tag, player] {
        platform::sendMessage(platform::windowFromHandle(handle), platform::WM_REPLY_TOO_SLOW, tag, LPARAM(&player));
    });
}

// -------------------------------------------------------------- dispatching

void CLinkHub::DispatchReply(const ReplyAssembler& reply, uint16_t tag)
{
    const proto::PlayerPacketHeader& h = reply.header;
    const uint8_t code = proto::decodeReplyCode(h.command);
    const QByteArray payload = reply.payloadBytes();
    const uint32_t size = reply.received;

    switch (code) {
    case 0:
        // An older player answers the cascade query with "not supported":
        // for the parameter page that means the player stands alone.
        if ((h.command & 0x3F) == proto::CMD_CASCADE_QUERY && (h.command & proto::kReplyBit)) {
            if (MessageWindow* page = Find(kSetParamCaption)) {
                sendOwned(page, platform::WM_CASCADE_REPLY, 1, std::make_unique<CascadeListRecord>());
                return;
            }
        }
        ShowMessage("This function is not supported in the current version!", "当前版本不支持此功能,请及时更新！",
                    MsgIcon::Question);
        CloseAllLinks();
        return;
    case proto::CMD_PARAM_FILE:
        if (h.param == 1) {
            OnProtocolFileReply(reply);
        } else if (h.param == 4 && h.arg != 1) {
            if (MessageWindow* osd = Find(kOsdCaption))
                platform::sendMessage(osd, platform::WM_OSD_REPLY, 4, LPARAM(&payload));
        }
        return;
    case proto::CMD_VIDEO_LIST:
        if (size == PlayerCatalog::kSize)
            OnCatalogueReply(reply, tag);
        return;
    case proto::CMD_VIDEO_UPLOAD:
        if (MessageWindow* batch = Find(kBatchSendCaption))
            platform::sendMessage(batch, platform::WM_VIDEO_UPLOAD_REPLY, h.param, h.arg);
        return;
    case proto::CMD_CASCADE_QUERY: {
        if (size != 4u * h.param)
            return;
        auto record = std::make_unique<CascadeListRecord>();
        record->mode = h.subCode == 1 || h.subCode == 2 ? h.subCode : 0;
        record->count = uint8_t(std::min<int>(h.param, CascadeListRecord::kMaxItems));
        // A player with no partners sends no payload: nothing to copy (and
        // memcpy from a null pointer is undefined even for zero bytes).
        if (record->count > 0)
            std::memcpy(record->items.data(), reply.payload(), std::size_t(record->count) * 4);
        sendOwned(Find(kSetParamCaption), platform::WM_CASCADE_REPLY, 1, std::move(record));
        return;
    }
    case proto::CMD_USART_DATA: {
        if (size < 1 || size >= uint32_t(UsartDataRecord::kCapacity))
            return;
        MessageWindow* page = Find(kSetupUartCaption);
        if (!page)
            page = Find(kSetParamCaption);
        if (!page)
            return;
        auto record = std::make_unique<UsartDataRecord>();
        std::memcpy(record->data.data(), reply.payload(), size);
        record->count = uint16_t(size);
        sendOwned(page, platform::WM_USART_DATA_REPLY, 0, std::move(record));
        return;
    }
    case proto::CMD_LAYOUT:
        if (h.arg != 0) {
            ShowMessage("The layout is locked, please unlock it first!", "布局已锁定，请先解锁！",
                        MsgIcon::Information);
        } else if (h.subCode == 0) {
            if (MessageWindow* page = Find(kVideoControlCaption, true)) {
                // Layout names travel in code page 936.
                const QString names = text::localToString(payload);
                platform::sendMessage(page, platform::WM_VIDEO_UPLOAD_REPLY, tag, LPARAM(&names));
            }
        }
        return;
    case proto::CMD_CONFIG_FILE:
        if (MessageWindow* batch = Find(kBatchSendCaption))
            platform::sendMessage(batch, platform::WM_PARAM_FILE_REPLY, 1, 0);
        return;
    case proto::CMD_VIDEO_CONTROL:
        if (MessageWindow* page = Find(kVideoControlCaption, true))
            platform::sendMessage(page, platform::WM_VIDEO_CONTROL_REPLY, tag, LPARAM(&payload));
        return;
    default:
        if (closesAllLinks(code))
            CloseAllLinks();
        return;
    }
}

void CLinkHub::OnCatalogueReply(const ReplyAssembler& reply, uint16_t tag)
{
    const proto::PlayerPacketHeader& h = reply.header;
    auto catalog = std::make_unique<PlayerCatalog>();
    if (!catalog->unpack(reply.payload(), reply.received))
        return;
    MessageWindow* videoPage = Find(kVideoControlCaption, true);
    if (videoPage) {
        sendOwned(videoPage, platform::WM_VIDEO_LIST_REPLY, tag, std::move(catalog));
    } else {
        for (const Caption* caption : {&kBatchSendCaption, &kSetupUartCaption, &kSetParamCaption}) {
            if (MessageWindow* page = Find(*caption)) {
                sendOwned(page, platform::WM_VIDEO_LIST_REPLY, h.arg, std::move(catalog));
                break;
            }
        }
    }
    // The page may have gone while it handled the catalogue.
    if ((videoPage = Find(kVideoControlCaption, true))) {
        auto status = std::make_unique<ReplyStatusRecord>();
        status->subCode = h.subCode;
        status->param = h.param;
        status->arg = h.arg;
        sendOwned(videoPage, platform::WM_TRACKBAR_VALUES_REPLY, tag, std::move(status));
    }
}

void CLinkHub::OnProtocolFileReply(const ReplyAssembler& reply)
{
    const proto::PlayerPacketHeader& h = reply.header;
    const QByteArray payload = reply.payloadBytes();
    if (MessageWindow* page = Find(kSetParamCaption)) {
        platform::sendMessage(page, platform::WM_CONTROL_PROTOCOL_REPLY, 0, LPARAM(&payload));
        return;
    }
    if (MessageWindow* batch = Find(kBatchSendCaption)) {
        platform::sendMessage(batch, platform::WM_CONTROL_PROTOCOL_REPLY, 1, 0);
        return;
    }
    MessageWindow* uart = Find(kSetupUartCaption);
    if (!uart)
        return;
    if (h.arg == 1) {
        // The player has stored the document; the sub-code echoes whether the
        // operator asked for a restart.
        if (h.subCode == 1)
            SendReboot();
        ShowMessage("Changes have been saved!", "修改已保存！", MsgIcon::Information);
        return;
    }
    platform::sendMessage(uart, platform::WM_CONTROL_PROTOCOL_REPLY, h.param, LPARAM(&payload));
}

void CLinkHub::SendReboot()
{
    auto request = std::make_unique<SendRequest>();
    proto::PlayerPacketHeader header;
    header.command = proto::CMD_REBOOT;
    if (request->SetPacket(header))
        SendToMainWindow(request.release());
}

}  // namespace tollivar
