#include "core/document.h"

#include "core/config_exchange.h"
#include "core/layout/layout_transfer.h"

#include "core/player_info.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "transport/upload_chunks.h"

#include <QDir>

using proto::PlayerPacketHeader;

CvelunaDoc::CvelunaDoc(platform::MessageWindow* frame, const QStringList& arguments) : frame_(frame)
{
    language_ = platform::appLanguage() == platform::kLanguageChinese ? platform::kLanguageChinese
                                                                      : platform::kLanguageEnglish;
    titlePrefix_ = playerinfo::CaptionPrefix(platform::appTitle());
    for (auto& s : slots_) {
        s = std::make_unique<CTCPClient>();
        if (frame_)
            s->setOwner(frame_->handle());
    }
    // Four 1920 x 1080 screens until the player tells its own.
    for (int screen = 0; screen < 4; ++screen) {
        uint8_t* r = outputBlock_.data() + 4 + 8 * screen;
        proto::putU16(r + 4, 1920);
        proto::putU16(r + 6, 1080);
    }
    tempFolder_ = platform::homePath(QStringLiteral("Temp"));
    materialFolder_ = platform::homePath(QStringLiteral("Material"));
    platform::ensureFolder(tempFolder_);
    platform::ensureFolder(materialFolder_);
    InitLayoutModel();
    InstallConfigExchange();
    InstallLayoutTransfer();
    ArmAutoConnect(arguments);
}

CvelunaDoc::~CvelunaDoc()
{
    // Links first: their threads must not deliver into a half-destroyed document.
    for (auto& s : slots_)
        s->Close();
}

QString CvelunaDoc::text(const char* english, const char* chinese) const
{
    return platform::pickText(language_, english, chinese);
}

void CvelunaDoc::showMessage(const QString& english, const QString& chinese, int icon)
{
    platform::messageBox(platform::pickText(language_, english, chinese), QString(), platform::MsgButtons::Ok,
                         platform::MsgIcon(icon));
}

platform::MessageWindow* CvelunaDoc::findDialog(replies::Caption caption, bool withPrefix) const
{
    return replies::FindDialog(withPrefix ? titlePrefix_ : QString(), language_, caption);
}

void CvelunaDoc::setTarget(const QString& ip, uint16_t port)
{
    target_.ip = ip;
    target_.port = port;
    target_.slot = 0;
}

// ------------------------------------------------------------------ slots

int CvelunaDoc::FindOrConnectSlot(const SendTarget& target)
{
    for (int i = 0; i < kSlotCount; ++i) {
        CTCPClient& s = *slots_[std::size_t(i)];
        if (s.IsConnected() && s.PeerAddress() == target.ip && s.Port() == target.port)
            return i;
    }
    for (int i = 0; i < kSlotCount; ++i) {
        CTCPClient& s = *slots_[std::size_t(i)];
        if (s.IsConnected())
            continue;
        // A slot whose link is gone may still hold its old connection's
        // threads; Connect finishes them before connecting anew.
        if (!s.Connect(target.ip, target.port) || !s.IsConnected())
            return -1;
        // Each slot reports its own index, so that its replies are rebuilt
        // apart from every other player's.
        s.SetLinkIndex(uint16_t(i));
        resetAssembler(i);
        onLinkedAgain(target);
        return i;
    }
    return -1;
}

void CvelunaDoc::SendToPlayers(const SendRequest& request)
{
    std::vector<SendTarget> targets = request.targets;
    if (targets.empty())
        targets.push_back(target_);
    for (const SendTarget& t : targets) {
        if (request.freshLink)
            closeLinksTo(t);
        const int index = FindOrConnectSlot(t);
        if (index < 0) {
            reportLinkFailure();
            continue;
        }
        // A packet the link refuses (its queue full, the link gone meanwhile)
        // would be lost without a word: it fails as a connection does.
        if (request.length() > 0 && !slots_[std::size_t(index)]->Send(request.data, request.body, request.bodyOwner,
                                                                         request.bodySource))
            reportLinkFailure();
    }
}

void CvelunaDoc::closeLinksTo(const SendTarget& target)
{
    for (int i = 0; i < kSlotCount; ++i) {
        CTCPClient& s = *slots_[std::size_t(i)];
        if (s.IsConnected() && s.PeerAddress() == target.ip && s.Port() == target.port) {
            s.Close();
            resetAssembler(i);
        }
    }
    // As when the link is lost: the reply that would clear the
    // upload-pending flag cannot come over the new one.
    if (target.ip == target_.ip && target.port == target_.port)
        layoutBusy_ = 0;
}

void CvelunaDoc::onLinkedAgain(const SendTarget& target)
{
    if (!relinkShowsPlayer_ || target.ip != target_.ip || target.port != target_.port)
        return;
    relinkShowsPlayer_ = false;
    connected_ = {1, 1, 1};
    if (setStatusPaneText)
        setStatusPaneText(kPlayerInfoPane, playerInfoText_);
}

void CvelunaDoc::reportLinkFailure(const QString& unreadableFile)
{
    if (stopConfigExchange)
        stopConfigExchange();
    if (!unreadableFile.isEmpty()) {
        platform::messageBox(upload::ReadFailureMessage(unreadableFile, int(language_)));
        return;
    }
    showMessage(QStringLiteral("Failed to connect player！"), QStringLiteral("连接播放器失败！"),
                int(platform::MsgIcon::Question));
}

bool CvelunaDoc::IsFromCurrentPlayer(const PlayerReply& r) const
{
    // By address and port: several players may share one address.
    return !r.peerIp.isEmpty() && r.peerIp == target_.ip && r.port == target_.port;
}

PlayerIdentity CvelunaDoc::currentPlayerIdentity() const
{
    return {target_.ip, target_.port, currentPlayer_.mac};
}

void CvelunaDoc::resetAssembler(int index)
{
    if (index >= 0 && index < kSlotCount)
        assemblers_[std::size_t(index)].reset();
}

void CvelunaDoc::resetAllAssemblers()
{
    for (int i = 0; i < kSlotCount; ++i)
        resetAssembler(i);
}

void CvelunaDoc::OnLinkEvent(const LinkEvent& event)
{
    const int index = event.linkIndex < kSlotCount ? int(event.linkIndex) : -1;
    const bool currentLink = event.peerAddress == target_.ip && event.port == target_.port;
    if (currentLink && (event.type == kLinkPeerClosed || event.type == kLinkReceiveError ||
                        event.type == kLinkReceiveException || event.type == kLinkShortSend)) {
        // The player is gone: a transfer on its way ends and says so (a
        // short send has its own message below), and the status bar stops
        // showing a player that is no longer there.
        if (onCurrentLinkLost)
            onCurrentLinkLost(event.type != kLinkShortSend);
        if (connected_[0])
            relinkShowsPlayer_ = true;
        connected_ = {0, 0, 0};
        if (setStatusPaneText)
            setStatusPaneText(kPlayerInfoPane, text("Disconnected player", "未连接播放器"));
    }
    // The current player's link is gone: the reply that would clear the
    // upload-pending flag cannot come, so editing is not kept blocked.
    if (event.type != kLinkData && event.type != kLinkReceiverEnded && currentLink)
        layoutBusy_ = 0;
    switch (event.type) {
    case kLinkReceiveException:
    case kLinkShortSend:
    case kLinkWaitTimeout:
    case kLinkReceiveError:
        NotifyBlendWizard(0);
        if (auto* rotate = replies::FindDialogNoCase(titlePrefix_, language_, replies::kRotate))
            platform::sendMessage(rotate, platform::WM_ROTATE_REPLY, 0, 0);
        resetAssembler(index);
        // A packet that could not be written (the player stopped reading, or
        // went): what was sent is lost, and the user hears it. When it was
        // the file that could not be read, the file is named, not the player.
        if (event.type == kLinkShortSend)
            reportLinkFailure(UnreadableSource(event));
        break;
    case kLinkWaitFailed:
        connected_[0] = 0;
        resetAssembler(index);
        break;
    case kLinkData:
        if (index < 0 || !event.data)
            break;
        assemblers_[std::size_t(index)].feed(event.peerAddress, event.port, event.linkIndex, event.data, event.length,
                                             [this](const ReplyAssembler& r) { DispatchReply(r); });
        break;
    case kLinkPeerClosed:
        sequence_ = 0;
        // The link the event names, and only that one: other players may
        // share its address on another port.
        if (index >= 0) {
            CTCPClient& s = *slots_[std::size_t(index)];
            if (s.PeerAddress() == event.peerAddress && s.Port() == event.port)
                s.Close();
        }
        resetAssembler(index);
        break;
    default:
        break;
    }
    if (event.type != kLinkData && event.type != kLinkReceiverEnded && event.peerAddress == target_.ip &&
        event.port == target_.port) {
        // The link stops itself on its own threads; closed here as well, the
        // next packet for this player opens a new connection at once instead
        // of going into the one that is ending and being lost there.
        if (index >= 0) {
            CTCPClient& s = *slots_[std::size_t(index)];
            if (s.PeerAddress() == event.peerAddress && s.Port() == event.port)
                s.Close();
        }
        // A firmware or game transfer waits for acknowledgements on this
        // link: it ends now, with the reason, instead of waiting forever.
        for (const replies::Caption& caption : {replies::kUpgrade, replies::kGame}) {
            platform::MessageWindow* dialog = findDialog(caption);
            if (dialog && dialog->handles(platform::WM_LINK_CLOSED))
                platform::sendMessage(dialog, platform::WM_LINK_CLOSED, event.type, event.error);
        }
    }
}

// --------------------------------------------------------------- dispatch

void CvelunaDoc::DispatchReply(const ReplyAssembler& reply)
{
    sequence_ = uint16_t(reply.header.sequence + 1);
    if (reply.peerIp == target_.ip && reply.port == target_.port)
        uploadSilentTicks_ = 0;  // the player still talks: a long upload is not a lost one
    PlayerReply r;
    r.peerIp = reply.peerIp;
    r.port = reply.port;
    r.linkIndex = reply.linkIndex;
    r.header = reply.header;
    r.rawCommand = reply.header.command;
    r.header.command = proto::decodeReplyCode(reply.header.command);
    r.payload = reply.payload();
    r.size = reply.received;
    r.assembler = &reply;
    const PlayerReply* outer = currentReply_;
    currentReply_ = &r;
    handleReply(r);
    currentReply_ = outer;
}

bool CvelunaDoc::NotifyBlendWizard(uint16_t value)
{
    platform::MessageWindow* wizard = findDialog(replies::kBlendWizard);
    if (!wizard)
        return false;
    // The wizard owns (and deletes) the value; a window that does not take
    // the message gets none.
    if (wizard->handles(platform::WM_BLEND_WIZARD_REPLY))
        platform::sendMessage(wizard, platform::WM_BLEND_WIZARD_REPLY, 0, platform::LPARAM(new uint16_t(value)));
    return true;
}

// ---------------------------------------------------------------- sending

PlayerPacketHeader CvelunaDoc::MakeRequest(uint8_t command, uint8_t subCode, uint16_t param, uint16_t arg) const
{
    PlayerPacketHeader h;
    h.command = command;
    h.subCode = subCode;
    h.sequence = command == proto::CMD_LOAD_STATE ? 0 : sequence_;
    h.param = param;
    h.arg = arg;
    return h;
}

bool CvelunaDoc::SendToCurrentPlayer(const PlayerPacketHeader& header, const QByteArray& payload)
{
    auto request = std::make_unique<SendRequest>();
    if (!request->SetPacket(header, payload))
        return false;
    return SendToMainWindow(request.release());
}

void CvelunaDoc::SendHandshake()
{
    // Its reply decides, not the handshake before.
    connected_ = {0, 0, 0};
    relinkShowsPlayer_ = false;
    if (clearFetchSequencer)
        clearFetchSequencer();
    resetAllAssemblers();
    SendToCurrentPlayer(MakeRequest(proto::CMD_PLAYER_INFO));
}

void CvelunaDoc::SetTitlePrefix(bool on)
{
    const QString title = playerinfo::ApplyTitlePrefix(platform::appTitle(), on);
    if (title == platform::appTitle())
        return;
    platform::setAppTitle(title);
    platform::setDefaultCaption(title);
    if (frame_)
        frame_->setCaption(title);
    if (setWindowTitle)
        setWindowTitle(title);
    titlePrefix_ = playerinfo::CaptionPrefix(title);
}

// ------------------------------------------------------ connection commands

void CvelunaDoc::OnPlayerConnectionSettings()
{
    sequence_ = 0;
    CloseAllLinks();
    currentPlayer_ = PlayerRow();
    devices_.clear();
    ClearConnected();
    if (!runScanDialog)
        return;
    std::optional<ScanChoice> choice = runScanDialog();
    if (!choice)
        return;
    currentPlayer_ = choice->player;
    devices_ = choice->devices;
    localAddress_ = choice->localAddress;
    setTarget(currentPlayer_.ip, uint16_t(currentPlayer_.portText.toUInt()));
    if (setStatusPaneText)
        setStatusPaneText(kPlayerInfoPane, text("Disconnected player", "未连接播放器"));
    SendHandshake();
}

void CvelunaDoc::OnReconnect()
{
    SendHandshake();
}

void CvelunaDoc::OnReboot()
{
    SendToCurrentPlayer(MakeRequest(proto::CMD_REBOOT));
}

bool CvelunaDoc::CanReconnect() const
{
    return core::CommandEnabled(core::kCmdReconnect, commandState());
}

void CvelunaDoc::ClearConnected()
{
    connected_ = {0, 0, 0};
    relinkShowsPlayer_ = false;
}

bool CvelunaDoc::IsConnected() const
{
    return connected_[0] != 0;
}

void CvelunaDoc::ArmAutoConnect(const QStringList& arguments)
{
    const playerinfo::CommandLineParse parsed = playerinfo::ParseCommandLine(arguments, language_);
    autoConnectArmed_ = parsed.applies;
    autoConnectCount_ = kAutoConnectDelay;
    autoConnectError_ = parsed.error;
    autoConnectPlayer_.reset();
    if (parsed.target) {
        PlayerRow row;
        row.ip = parsed.target->ip;
        row.portText = parsed.target->portText;
        row.mac = parsed.target->mac;
        autoConnectPlayer_ = row;
        autoConnectPort_ = parsed.target->port;
    }
}

void CvelunaDoc::TickAutoConnect()
{
    if (!autoConnectArmed_)
        return;
    if (autoConnectCount_ > 0) {
        --autoConnectCount_;
        return;
    }
    autoConnectArmed_ = false;
    runAutoConnect();
}

void CvelunaDoc::runAutoConnect()
{
    if (!autoConnectPlayer_) {
        if (!autoConnectError_.isEmpty())
            platform::messageBox(autoConnectError_, QString(), platform::MsgButtons::Ok, platform::MsgIcon::Warning);
        return;
    }
    setTarget(autoConnectPlayer_->ip, autoConnectPort_);
    currentPlayer_.ip = autoConnectPlayer_->ip;
    currentPlayer_.portText = autoConnectPlayer_->portText;
    currentPlayer_.mac = autoConnectPlayer_->mac;
    SendHandshake();
}

void CvelunaDoc::SetParamWait(bool on)
{
    paramWait_ = on;
    paramWaitTicks_ = 0;
}

bool CvelunaDoc::TickWaitBox()
{
    if (!paramWait_)
        return false;
    if (++paramWaitTicks_ < kWaitBoxTicks)
        return false;
    paramWait_ = false;
    paramWaitTicks_ = 0;
    CloseWaitBox();
    return true;
}

void CvelunaDoc::StepConfigExchange()
{
    if (configExchangeStep)
        configExchangeStep();
}

// ------------------------------------------------------------ closing

void CvelunaDoc::ResetSequence()
{
    sequence_ = 0;
}

void CvelunaDoc::CloseAllLinks()
{
    for (auto& s : slots_)
        s->Close();
    resetAllAssemblers();
    // No reply can clear it any more: editing would stay blocked for good.
    layoutBusy_ = 0;
    // Closed on purpose: a later link is no return of the player.
    relinkShowsPlayer_ = false;
}

bool CvelunaDoc::IsLayoutDirty() const
{
    return layoutDirty_ != 0;
}

void CvelunaDoc::SaveLayout()
{
    if (saveLayout)
        saveLayout();
    layoutDirty_ = 0;
}
