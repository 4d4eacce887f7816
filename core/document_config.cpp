// The document's side of the configuration-file exchange: the services the
// exchange needs, and the reply and timer hooks that drive it.
#include "core/config_exchange.h"
#include "core/document.h"
#include "core/layout/layout_commands.h"

#include "platform/messages.h"
#include "platform/window.h"

namespace {
constexpr int kProgressPane = 59143;
}  // namespace

class CvelunaDoc::ConfigHost : public cfgx::ConfigExchangeHost {
public:
    explicit ConfigHost(CvelunaDoc& doc) : doc_(doc) {}

    bool sendToCurrentPlayer(const proto::PlayerPacketHeader& header, const QByteArray& payload) override
    {
        return doc_.SendToCurrentPlayer(header, payload);
    }
    QString playerFolder() const override { return doc_.playerFolder(); }
    QString currentPlayerIp() const override { return doc_.currentPlayer().ip; }
    uint16_t playerVersion() const override { return doc_.currentPlayer().version; }
    uint16_t sequence() const override { return doc_.sequence(); }
    void setProgress(int percent) override
    {
        if (doc_.setStatusPaneText)
            doc_.setStatusPaneText(kProgressPane, percent < 0 ? QStringLiteral(" ") : QStringLiteral("%1%").arg(percent));
    }
    void postToMainWindow(unsigned message) override
    {
        if (doc_.frame_)
            platform::postMessage(doc_.frame_->handle(), message, 0, 0);
    }
    void onFetchEnded() override
    {
        doc_.SendToCurrentPlayer(doc_.MakeRequest(proto::CMD_LOAD_STATE, 0, 0));
        doc_.loadStateOnFetch_ = 1;
        showWaitBox(doc_.text("Loading...", "正在加载..."));
        // The frame's timer closes the box after its ticks and then opens
        // the setup editor the fetch was for.
        doc_.SetParamWait(true);
    }
    void showWaitBox(const QString& text) override
    {
        if (doc_.showWaitBox)
            doc_.showWaitBox(text);
    }
    void hideWaitBox() override
    {
        if (doc_.hideWaitBox)
            doc_.hideWaitBox();
    }
    void notifyBlendWizard(uint16_t value) override { doc_.NotifyBlendWizard(value); }
    void onGridFileFetched(const QString& path) override { layout::ReadGridFile(doc_, path); }
    unsigned language() const override { return doc_.language(); }

private:
    CvelunaDoc& doc_;
};

void CvelunaDoc::InstallConfigExchange()
{
    configHost_ = std::make_unique<ConfigHost>(*this);
    configExchange_ = std::make_unique<cfgx::ConfigExchange>(*configHost_);
    cfgx::ConfigExchange& x = *configExchange_;
    // The exchange acts only for the current player's link and only after its
    // handshake was accepted: before that there is no player folder, and a
    // configuration path must never be built from an empty one.
    const auto forExchange = [this](const PlayerReply& r) {
        return IsConnected() && IsFromCurrentPlayer(r) && !playerFolder_.isEmpty();
    };
    onConfigFileReply = [&x, forExchange](const PlayerReply& r) {
        if (forExchange(r))
            x.OnConfigFileReply(r.peerIp, r.header, r.payload, r.size);
    };
    onAdjustModeReply = [this, &x, forExchange](const PlayerReply& r) {
        if (forExchange(r))
            x.OnAdjustModeReply(r.peerIp, r.header);
        else
            NotifyBlendWizard(uint16_t(0x0C00 + r.header.subCode));
    };
    onNotSupportedReply = [&x](const QString& ip, uint8_t raw) { return x.OnNotSupportedReply(ip, raw); };
    startGridFetch = [&x] { x.StartFetch(cfgx::kGridFile); };
    uploadConfigFile = [&x](uint8_t file) { x.UploadConfigFile(file); };
    configExchangeStep = [&x] { x.FetchParamsStep(); };
    stopConfigExchange = [&x] { x.SetActive(false); };
    clearFetchSequencer = [&x] { x.SetActive(false); };
}
