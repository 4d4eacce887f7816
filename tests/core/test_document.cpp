#include "core/document.h"
#include "core/config_exchange.h"
#include "core/player_info.h"
#include "platform/app_identity.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "player/config_store.h"
#include "player/player_sim.h"
#include "tests/support/frame_harness.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

using platform::LPARAM;
using platform::WPARAM;
using testsupport::waitUntil;

const QString kTitle = QStringLiteral("veluna V9.1.5");

std::unique_ptr<sim::PlayerSim> startPlayer(const QString& address)
{
    sim::SimOptions o;
    o.address = address;
    return testsupport::StartPlayerWithConfigStore(o);
}

// The document behind the shared frame stand-in, which relays requests and
// link events to it as the real frame does.
struct Harness {
    explicit Harness(const QStringList& arguments = QStringList())
    {
        platform::setAppTitle(kTitle);
        platform::setAppLanguage(platform::kLanguageEnglish);
        frame = testsupport::RelayFrame(kTitle, doc);
        doc = std::make_unique<CvelunaDoc>(frame.get(), arguments);
        doc->setStatusPaneText = [this](int pane, const QString& text) {
            if (pane == CvelunaDoc::kPlayerInfoPane)
                paneText = text;
        };
    }
    ~Harness()
    {
        doc.reset();
        frame.reset();
    }

    // A simulated player on 127.0.0.3, made the document's target.
    sim::PlayerSim& target()
    {
        player = startPlayer(QStringLiteral("127.0.0.3"));
        testsupport::AimAt(*doc, *player);
        return *player;
    }

    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes;
    std::unique_ptr<platform::MessageWindow> frame;
    std::unique_ptr<CvelunaDoc> doc;
    std::unique_ptr<sim::PlayerSim> player;
    QString paneText;
};

TEST(DocumentLink, FailedTargetShowsOneMessageAndOthersStillGetTheRequest)
{
    Harness h;
    auto player = startPlayer(QStringLiteral("127.0.0.3"));
    bool stopped = false;
    h.doc->stopConfigExchange = [&] { stopped = true; };

    auto request = std::make_unique<SendRequest>();
    request->AddTarget(QStringLiteral("127.0.0.2"), player->tcpPort());  // nobody listens there
    request->AddTarget(QStringLiteral("127.0.0.3"), player->tcpPort());
    ASSERT_TRUE(request->SetPacket(h.doc->MakeRequest(proto::CMD_TEMPERATURE)));
    ASSERT_TRUE(SendToMainWindow(request.release()));

    ASSERT_EQ(h.boxes.calls().size(), 1u);
    EXPECT_EQ(h.boxes.calls()[0].text, QStringLiteral("Failed to connect player！"));
    EXPECT_EQ(h.boxes.calls()[0].icon, platform::MsgIcon::Question);
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(player->waitForRequests(proto::CMD_TEMPERATURE, 1, 30000));
    EXPECT_EQ(h.doc->slot(0).PeerAddress(), QStringLiteral("127.0.0.3"));
}

TEST(DocumentLink, SlotsAreReusedByAddressAndFreedSlotsTakenFirst)
{
    Harness h;
    auto a = startPlayer(QStringLiteral("127.0.0.2"));
    auto b = startPlayer(QStringLiteral("127.0.0.3"));
    auto c = startPlayer(QStringLiteral("127.0.0.4"));
    auto target = [](const sim::PlayerSim& p) { return SendTarget{p.options().address, {}, p.tcpPort(), 0}; };
    EXPECT_EQ(h.doc->FindOrConnectSlot(target(*a)), 0);
    EXPECT_EQ(h.doc->FindOrConnectSlot(target(*b)), 1);
    EXPECT_EQ(h.doc->FindOrConnectSlot(target(*a)), 0);
    h.doc->slot(0).Close();
    EXPECT_EQ(h.doc->FindOrConnectSlot(target(*c)), 0);
    EXPECT_EQ(h.doc->FindOrConnectSlot(target(*b)), 1);
    EXPECT_EQ(h.doc->slot(1).LinkIndex(), 1);
    EXPECT_TRUE(h.boxes.calls().empty());
}

TEST(DocumentLink, HandshakeFillsPlayerInfoAndMakesTheFolder)
{
    Harness h;
    auto* player = &h.target();
    int gridFetches = 0;
    h.doc->startGridFetch = [&] { ++gridFetches; };

    h.doc->OnReconnect();
    ASSERT_TRUE(waitUntil([&] { return h.doc->IsConnected(); }));
    EXPECT_EQ(h.doc->currentPlayer().version, 0x1523);
    EXPECT_EQ(h.doc->currentPlayer().channelCode, 4);
    EXPECT_EQ(h.doc->currentPlayer().fpgaVersion, 5);
    EXPECT_EQ(h.doc->product(), 4);
    EXPECT_EQ(h.paneText, QStringLiteral("Player IP Address:127.0.0.3 Ver:1.5.2 Built: 2026-12-01 10:00:00"
                                         "FPGA Ver:5.0 Channel:(No Input Four Output)  "));
    ASSERT_EQ(h.boxes.calls().size(), 1u);
    EXPECT_EQ(h.boxes.calls()[0].text, QStringLiteral("Connected\t\t"));
    EXPECT_EQ(h.boxes.calls()[0].icon, platform::MsgIcon::Information);
    const QString folder = h.home.path() + "/127.0.0.3-A1B2C3D4E5F6-" + QString::number(player->tcpPort());
    EXPECT_EQ(h.doc->playerFolder(), folder);
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(gridFetches, 1);
    EXPECT_EQ(h.doc->sequence(), 1);
}

TEST(DocumentLink, SequenceRule)
{
    Harness h;
    auto* player = &h.target();
    h.doc->OnReconnect();
    // The connection goes on by itself: handshake (0), display-grid file (1),
    // status (2) and layout list (3); each reply numbered n leaves n + 1.
    ASSERT_TRUE(waitUntil([&] { return h.doc->IsConnected() && player->requestCount(proto::CMD_LAYOUT) == 1; }));
    ASSERT_TRUE(waitUntil([&] { return h.doc->sequence() == 4; })) << h.doc->sequence();

    // The next request carries 4; the reply's 4 makes it 5.
    player->clearLog();
    h.doc->OnReboot();
    ASSERT_TRUE(waitUntil([&] { return h.doc->sequence() == 5; }));
    auto log = player->log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].header.command, proto::CMD_REBOOT);
    EXPECT_EQ(log[0].header.sequence, 4);

    // CMD_LOAD_STATE carries 0 whatever the document's value.
    player->clearLog();
    h.doc->SendToCurrentPlayer(h.doc->MakeRequest(proto::CMD_LOAD_STATE, 0, 1));
    ASSERT_TRUE(player->waitForRequests(proto::CMD_LOAD_STATE, 1, 30000));
    EXPECT_EQ(player->log()[0].header.sequence, 0);

    // A reply numbered 0xFFFF (the player answers with the request's number) wraps to 0.
    proto::PlayerPacketHeader last = h.doc->MakeRequest(proto::CMD_TEMPERATURE);
    last.sequence = 0xFFFF;
    h.doc->SendToCurrentPlayer(last);
    ASSERT_TRUE(waitUntil([&] { return h.doc->sequence() == 0; }));

    // The player closing resets it to 0.
    h.doc->OnReboot();
    ASSERT_TRUE(waitUntil([&] { return h.doc->sequence() == 1; }));
    player->dropConnections();
    ASSERT_TRUE(waitUntil([&] { return h.doc->sequence() == 0 && !h.doc->slot(0).IsConnected(); }));

    // The next request connects again.
    h.doc->OnReboot();
    EXPECT_TRUE(waitUntil([&] { return player->requestCount(proto::CMD_REBOOT) >= 2; }));
}

TEST(DocumentLink, SplitAndCoalescedRepliesAreDispatched)
{
    for (sim::Fault fault : {sim::Fault::Split, sim::Fault::Coalesce}) {
        Harness h;
        auto* player = &h.target();
        player->setFault(fault, 3);
        platform::MessageWindow dialog(QStringLiteral("veluna-Get Temperature"));
        int temperatures = 0;
        dialog.onMessage(platform::WM_TEMPERATURE_REPLY, [&](WPARAM, LPARAM l) {
            delete reinterpret_cast<replies::TemperatureRecord*>(l);
            return platform::LRESULT(++temperatures);
        });
        h.doc->OnReconnect();
        for (int i = 0; i < 3; ++i)
            h.doc->SendToCurrentPlayer(h.doc->MakeRequest(proto::CMD_TEMPERATURE));
        if (fault == sim::Fault::Coalesce)
            h.doc->SendToCurrentPlayer(h.doc->MakeRequest(proto::CMD_REBOOT));
        EXPECT_TRUE(waitUntil([&] { return h.doc->IsConnected() && temperatures == 3; })) << int(fault);
    }
}

TEST(DocumentLink, NotSupportedReplyShowsTheMessage)
{
    Harness h;
    auto* player = &h.target();
    player->setFault(sim::Fault::NotSupported, 0, proto::CMD_PRODUCT_INFO);
    h.doc->SendToCurrentPlayer(h.doc->MakeRequest(proto::CMD_PRODUCT_INFO));
    ASSERT_TRUE(waitUntil([&] { return !h.boxes.calls().empty(); }));
    EXPECT_EQ(h.boxes.calls()[0].text, QStringLiteral("This function is not supported in the current version!"));
    EXPECT_EQ(h.boxes.calls()[0].icon, platform::MsgIcon::Question);
}

TEST(DocumentLink, CommandLineConnectsOnTheCountdown)
{
    auto player = startPlayer(QStringLiteral("127.0.0.3"));
    Harness h({"-127.0.0.3", "-" + QString::number(player->tcpPort()), "-a1b2c3d4e5f6"});
    EXPECT_TRUE(h.doc->IsAutoConnectArmed());
    for (int i = 0; i < CvelunaDoc::kAutoConnectDelay; ++i)
        h.doc->TickAutoConnect();
    EXPECT_EQ(player->requestCount(proto::CMD_PLAYER_INFO), 0u);
    h.doc->TickAutoConnect();
    EXPECT_FALSE(h.doc->IsAutoConnectArmed());
    ASSERT_TRUE(waitUntil([&] { return h.doc->IsConnected(); }));
    EXPECT_EQ(h.doc->currentPlayer().mac, QStringLiteral("A1B2C3D4E5F6"));
    EXPECT_TRUE(h.doc->CanReconnect());
    h.doc->TickAutoConnect();  // once only
    // A handshake that tick sent would reach the player ahead of a request
    // sent after it.
    h.doc->SendToCurrentPlayer(h.doc->MakeRequest(proto::CMD_TEMPERATURE));
    ASSERT_TRUE(waitUntil([&] { return player->requestCount(proto::CMD_TEMPERATURE) == 1; }));
    EXPECT_EQ(player->requestCount(proto::CMD_PLAYER_INFO), 1u);
}

TEST(DocumentLink, RefusedCommandLineIsReportedOnce)
{
    Harness h({"127.0.0.3", "70000", "A1B2C3D4E5F6"});
    for (int i = 0; i <= CvelunaDoc::kAutoConnectDelay + 2; ++i)
        h.doc->TickAutoConnect();
    ASSERT_EQ(h.boxes.calls().size(), 1u);
    EXPECT_TRUE(h.boxes.calls()[0].text.contains("70000"));
    EXPECT_FALSE(h.doc->CanReconnect());
}

TEST(DocumentLink, ConnectionSettingsTakesTheScannedPlayer)
{
    Harness h;
    auto player = startPlayer(QStringLiteral("127.0.0.3"));
    h.doc->runScanDialog = [&]() -> std::optional<ScanChoice> {
        ScanChoice c;
        c.player.ip = player->options().address;
        c.player.portText = QString::number(player->tcpPort());
        c.player.mac = player->options().mac;
        c.localAddress = QStringLiteral("127.0.0.1");
        return c;
    };
    h.doc->OnPlayerConnectionSettings();
    EXPECT_EQ(h.paneText, QStringLiteral("Disconnected player"));
    ASSERT_TRUE(waitUntil([&] { return h.doc->IsConnected(); }));
    EXPECT_EQ(h.doc->target().port, player->tcpPort());
    EXPECT_EQ(h.doc->localAddress(), QStringLiteral("127.0.0.1"));

    // Cancelled scan: nothing is sent and the player is forgotten.
    h.doc->runScanDialog = [] { return std::optional<ScanChoice>(); };
    h.doc->OnPlayerConnectionSettings();
    EXPECT_FALSE(h.doc->IsConnected());
    EXPECT_FALSE(h.doc->CanReconnect());
    EXPECT_FALSE(h.doc->slot(0).IsConnected());
}

// Two players on one address, told apart by their ports.
struct TwoPlayersOnOneAddress {
    TwoPlayersOnOneAddress()
    {
        for (auto* p : {&first, &second}) {
            sim::SimOptions o;
            o.address = QStringLiteral("127.0.0.1");
            *p = std::make_unique<sim::PlayerSim>(o);
            sim::installStandardCommands(**p);
            sim::installConfigStore(**p);
            QString error;
            EXPECT_TRUE((*p)->start(&error)) << error.toStdString();
        }
    }
    static void sendTo(Harness& h, const sim::PlayerSim& p, uint8_t command)
    {
        auto request = std::make_unique<SendRequest>();
        request->AddTarget(p.options().address, p.tcpPort());
        EXPECT_TRUE(request->SetPacket(h.doc->MakeRequest(command)));
        EXPECT_TRUE(SendToMainWindow(request.release()));
    }
    std::unique_ptr<sim::PlayerSim> first, second;
};

TEST(DocumentLink, PlayerClosingEndsOnlyItsOwnLink)
{
    Harness h;
    TwoPlayersOnOneAddress players;
    h.doc->setTarget(QStringLiteral("127.0.0.1"), players.first->tcpPort());
    h.doc->currentPlayer().ip = QStringLiteral("127.0.0.1");
    h.doc->currentPlayer().portText = QString::number(players.first->tcpPort());
    h.doc->OnReconnect();
    ASSERT_TRUE(waitUntil([&] { return h.doc->IsConnected(); }));
    TwoPlayersOnOneAddress::sendTo(h, *players.second, proto::CMD_TEMPERATURE);
    ASSERT_TRUE(players.second->waitForRequests(proto::CMD_TEMPERATURE, 1, 30000));
    ASSERT_EQ(h.doc->slot(1).Port(), players.second->tcpPort());

    players.second->dropConnections();
    ASSERT_TRUE(waitUntil([&] { return !h.doc->slot(1).IsConnected(); }));
    waitUntil([] { return false; }, 100);
    EXPECT_TRUE(h.doc->slot(0).IsConnected());
    EXPECT_EQ(h.doc->slot(0).Port(), players.first->tcpPort());
    // And the first still answers over the link it kept.
    const std::size_t before = players.first->requestCount(proto::CMD_REBOOT);
    h.boxes.clear();
    h.doc->OnReboot();
    ASSERT_TRUE(waitUntil([&] { return !h.boxes.calls().empty(); }));
    EXPECT_EQ(h.boxes.texts(), QStringList{"Reboot the player"});
    EXPECT_EQ(players.first->requestCount(proto::CMD_REBOOT), before + 1);
}

TEST(DocumentLink, RepliesCountOnlyFromTheCurrentPlayersLink)
{
    Harness h;
    TwoPlayersOnOneAddress players;
    h.doc->setTarget(QStringLiteral("127.0.0.1"), players.first->tcpPort());
    h.doc->currentPlayer().ip = QStringLiteral("127.0.0.1");
    int gridFetches = 0;
    h.doc->startGridFetch = [&] { ++gridFetches; };
    // The other player's handshake answer: same address, another port.
    TwoPlayersOnOneAddress::sendTo(h, *players.second, proto::CMD_PLAYER_INFO);
    ASSERT_TRUE(players.second->waitForRequests(proto::CMD_PLAYER_INFO, 1, 30000));
    waitUntil([] { return false; }, 300);
    EXPECT_FALSE(h.doc->IsConnected());
    EXPECT_TRUE(h.doc->playerFolder().isEmpty());
    EXPECT_EQ(gridFetches, 0);
    EXPECT_TRUE(h.boxes.calls().empty());
    // The current player's own answer connects.
    h.doc->OnReconnect();
    ASSERT_TRUE(waitUntil([&] { return h.doc->IsConnected(); }));
    EXPECT_EQ(gridFetches, 1);
}

// A player that keeps its connection but stops reading: queued requests past
// the link's limit are refused, the write that makes no progress ends the
// link, and each time the user hears "Failed to connect player！".
TEST(DocumentLink, PlayerThatStopsReadingIsReported)
{
    Harness h;
    auto* player = &h.target();
    h.doc->OnReconnect();
    ASSERT_TRUE(waitUntil([&] { return h.doc->IsConnected(); }));
    h.doc->slot(0).SetSendStallLimit(1500);
    player->setReadPause(60000);
    h.boxes.clear();

    SendRequest big;
    ASSERT_TRUE(big.SetPacket(h.doc->MakeRequest(proto::CMD_MATERIAL), QByteArray(qsizetype(proto::kMaxPayload), 'm')));
    const int count = int(CTCPClient::kMaxQueuedBytes / CTCPClient::kBufferSize) + 4;
    for (int i = 0; i < count; ++i)
        h.doc->SendToPlayers(big);  // the bytes are shared, not copied
    ASSERT_FALSE(h.boxes.calls().empty());  // the queue is full: refused at once
    EXPECT_EQ(h.boxes.calls()[0].text, QStringLiteral("Failed to connect player！"));
    const std::size_t refused = h.boxes.calls().size();

    ASSERT_TRUE(waitUntil([&] { return !h.doc->slot(0).IsConnected(); }));
    ASSERT_TRUE(waitUntil([&] { return h.boxes.calls().size() > refused; }));
    EXPECT_EQ(h.boxes.calls().back().text, QStringLiteral("Failed to connect player！"));
    player->setReadPause(0);
}

// A handshake the tool refused leaves no player folder: a later adjust-mode
// or window-editor reply uploads nothing, least of all files from the
// working folder.
TEST(DocumentLink, NoExchangeBeforeAnAcceptedHandshake)
{
    QTemporaryDir work;
    ASSERT_TRUE(testsupport::writeFile(work.filePath(QStringLiteral("config/Warp.QVE")), QByteArray(6515, 'w')));
    ASSERT_TRUE(testsupport::writeFile(work.filePath(QStringLiteral("config/VideoPicWindow.QVE")), QByteArray(75, 'v')));
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path()));

    Harness h;
    sim::SimOptions o;
    o.address = QStringLiteral("127.0.0.3");
    o.android = false;
    h.player = std::make_unique<sim::PlayerSim>(o);
    sim::installStandardCommands(*h.player);
    sim::installConfigStore(*h.player);
    // Both commands answered with their own sub-code, as a player leaving its
    // adjustment mode and one whose window editor finished do.
    for (uint8_t code : {proto::CMD_ADJUST_MODE, proto::CMD_VIDEO_PIC_WINDOW})
        h.player->registerCommand(code, [](sim::PlayerSim&, const sim::Request& r) {
            sim::Reply reply;
            reply.header.command = r.header.command;
            reply.header.subCode = r.header.subCode;
            return std::vector<sim::Reply>{reply};
        });
    ASSERT_TRUE(h.player->start());
    h.doc->setTarget(o.address, h.player->tcpPort());
    h.doc->currentPlayer().ip = o.address;
    h.doc->OnReconnect();
    ASSERT_TRUE(waitUntil([&] { return !h.boxes.calls().empty(); }));
    EXPECT_EQ(h.boxes.texts(), QStringList{"Please confirm that the player is Android version"});
    EXPECT_FALSE(h.doc->IsConnected());
    EXPECT_TRUE(h.doc->playerFolder().isEmpty());

    h.doc->SendToCurrentPlayer(h.doc->MakeRequest(proto::CMD_ADJUST_MODE, 1));
    h.doc->SendToCurrentPlayer(h.doc->MakeRequest(proto::CMD_VIDEO_PIC_WINDOW, 0x40));
    ASSERT_TRUE(h.player->waitForRequests(proto::CMD_VIDEO_PIC_WINDOW, 1, 30000));
    waitUntil([] { return false; }, 500);
    EXPECT_EQ(h.player->requestCount(proto::CMD_CONFIG_FILE), 0u);
    EXPECT_TRUE(cfgx::configFilePath(QString(), cfgx::kWarpFile).isEmpty());
    QDir::setCurrent(before);
}

TEST(DocumentLink, NoMainWindowFreesTheRequest)
{
    testsupport::TempHome home;
    platform::setAppTitle(QStringLiteral("nobody has this title"));
    CvelunaDoc doc(nullptr, QStringList());
    EXPECT_FALSE(doc.SendToCurrentPlayer(doc.MakeRequest(proto::CMD_REBOOT)));
    platform::setAppTitle(kTitle);
}

}  // namespace
