#include "player/companion_commands.h"
#include "player/osd_commands.h"
#include "player/player_sim.h"
#include "player/remote_commands.h"
#include "tests/support/test_support.h"
#include "transport/announcement.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int msSince(Clock::time_point t)
{
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

struct Packet {
    proto::PlayerPacketHeader header;
    QByteArray payload;
};

// The tool's end of a connection to a simulated player.
struct Client : testsupport::TcpPeer {
    using TcpPeer::TcpPeer;

    void write(const QByteArray& bytes) { ASSERT_TRUE(send(bytes)); }

    std::optional<Packet> readPacket(int timeoutMs = 2000)
    {
        const QByteArray head = read(16, timeoutMs);
        if (head.size() < 16)
            return std::nullopt;
        Packet p{proto::PlayerPacketHeader::fromBytes(reinterpret_cast<const uint8_t*>(head.constData())), {}};
        p.payload = read(p.header.payloadLength, timeoutMs);
        return p.payload.size() == qsizetype(p.header.payloadLength) ? std::optional(p) : std::nullopt;
    }

    // Sends a request and takes the next packet; a missing reply is a
    // failure and gives an empty packet.
    Packet ask(const QByteArray& request)
    {
        write(request);
        auto p = readPacket();
        if (!p)
            ADD_FAILURE() << "no reply";
        return p.value_or(Packet{{}, {}});
    }
};

proto::PlayerPacketHeader header(uint8_t code, uint8_t subCode = 0, uint16_t sequence = 0, uint16_t param = 0)
{
    return {proto::kMagic, code, subCode, sequence, param};
}

QByteArray request(uint8_t code, uint16_t sequence, const QByteArray& payload = {}, uint8_t subCode = 0,
                   uint16_t param = 0)
{
    return proto::buildPacket(header(code, subCode, sequence, param), payload);
}

struct Running {
    explicit Running(sim::SimOptions o = {}) : sim(o)
    {
        sim::installStandardCommands(sim);
        QString error;
        started = sim.start(&error);
        EXPECT_TRUE(started) << error.toStdString();
    }
    std::unique_ptr<Client> connect()
    {
        auto c = std::make_unique<Client>(sim.options().address, sim.tcpPort());
        EXPECT_TRUE(c->valid());
        return c;
    }
    sim::PlayerSim sim;
    bool started = false;
};

sim::SimOptions at(const char* address)
{
    sim::SimOptions o;
    o.address = QString::fromLatin1(address);
    return o;
}

// The same three requests, cut into writes of different sizes, give the same
// three replies in order. Writes of 5 bytes cut headers and payloads, of 8
// also end on packet boundaries, of 1 cut everywhere.
TEST(PlayerSim, FramesRequestsHoweverTheyAreChunked)
{
    const QByteArray netRecord(24, '\x11');
    const QByteArray stream = request(proto::CMD_PLAYER_INFO, 7) + request(proto::CMD_NETWORK_PARAM, 8, netRecord) +
                              request(proto::CMD_STATUS, 9);
    const uint8_t codes[] = {proto::CMD_PLAYER_INFO, proto::CMD_NETWORK_PARAM, proto::CMD_STATUS};
    const int lengths[] = {25, 0, 108};
    Running r;
    for (const int step : {int(stream.size()), 5, 8, 1}) {
        SCOPED_TRACE(step);
        auto client = r.connect();
        for (int from = 0; from < stream.size(); from += step) {
            client->write(stream.mid(from, step));
            if (step > 1)  // so that the pieces arrive apart
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        for (int i = 0; i < 3; ++i) {
            const auto p = client->readPacket();
            ASSERT_TRUE(p);
            EXPECT_EQ(p->header.magic, proto::kMagic);
            EXPECT_EQ(p->header.command, codes[i] | proto::kReplyBit);
            EXPECT_EQ(p->header.sequence, 7 + i);
            EXPECT_EQ(p->payload.size(), lengths[i]);
        }
    }
    std::lock_guard<std::mutex> lk(r.sim.stateMutex());
    EXPECT_EQ(r.sim.state().networkParameters, netRecord);
}

TEST(PlayerSim, ResynchronisesAfterBytesWithoutHeaderAndClosesOnOversizedLength)
{
    Running r;
    auto client = r.connect();
    const Packet p = client->ask(QByteArray("\x01\x02\x5A\x5A garbage", 12) + request(proto::CMD_TEMPERATURE, 3));
    EXPECT_EQ(p.header.command, proto::CMD_TEMPERATURE | proto::kReplyBit);
    EXPECT_EQ(p.header.sequence, 3);

    proto::PlayerPacketHeader h = header(proto::CMD_STATUS);
    h.payloadLength = uint32_t(proto::kMaxPayload + 1);
    client->write(h.toBytes());
    EXPECT_TRUE(client->seesEnd());
    // The service goes on.
    EXPECT_EQ(r.connect()->ask(request(proto::CMD_STATUS, 1)).payload.size(), 108);
}

TEST(PlayerSim, AnswersUnknownCommandsWithNotSupported)
{
    Running r;
    auto client = r.connect();
    const struct {
        uint8_t command, expected;
    } cases[] = {{9, 0xC9}, {proto::CMD_VIDEO_LIST_CHANGED, 0xC0 | proto::CMD_VIDEO_LIST_CHANGED}, {0, 0xC0}, {0x7F, 0xFF}};
    uint16_t seq = 100;
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.command));
        const Packet p = client->ask(request(c.command, ++seq, QByteArray("abc"), 2));
        EXPECT_EQ(p.header.command, c.expected);
        EXPECT_EQ(p.header.sequence, seq);
        EXPECT_TRUE(p.payload.isEmpty());
    }
    EXPECT_EQ(r.sim.requestCount(9), 1u);
}

TEST(PlayerSim, StandardAnswers)
{
    sim::SimOptions o = at("127.0.0.1");
    o.version = 0x2640;
    o.channelCode = 2;
    o.fpgaVersion = 7;
    Running r(o);
    {
        std::lock_guard<std::mutex> lk(r.sim.stateMutex());
        r.sim.state().temperatures = {61, 62, 63};
    }
    auto client = r.connect();

    Packet p = client->ask(request(proto::CMD_PLAYER_INFO, 1));
    EXPECT_EQ(p.header.subCode, 2);
    EXPECT_EQ(p.header.param, 0x2640);
    EXPECT_EQ(p.header.arg, 0x0107);
    EXPECT_EQ(p.payload.mid(6), QByteArray("2026-12-01 10:00:00"));

    p = client->ask(request(proto::CMD_STATUS, 2));
    ASSERT_EQ(p.payload.size(), 108);
    const auto* s = reinterpret_cast<const uint8_t*>(p.payload.constData());
    EXPECT_EQ(proto::getU16(s), 0x3);  // two outputs
    EXPECT_EQ(proto::getU16(s + 4 + 8 + 0), 1920);  // second screen at x 1920, 1080 high
    EXPECT_EQ(proto::getU16(s + 4 + 8 + 6), 1080);
    EXPECT_EQ(proto::getU16(s + 4 + 16 + 4), 0);  // third screen absent

    const QByteArray hb = client->ask(request(proto::CMD_TEMPERATURE, 3)).header.toBytes();
    EXPECT_EQ((std::vector<int>{hb[8], hb[11], hb[10]}), (std::vector<int>{61, 62, 63}));
    EXPECT_FALSE(client->ask(request(proto::CMD_PRODUCT_INFO, 4)).payload.isEmpty());

    p = client->ask(request(proto::CMD_NETWORK_PARAM, 5));
    ASSERT_EQ(p.payload.size(), 24);
    EXPECT_EQ(p.payload.left(4), QByteArray("\x7F\x00\x00\x01", 4));
    EXPECT_EQ(p.payload.mid(16, 6), QByteArray("\xA1\xB2\xC3\xD4\xE5\xF6", 6));
    EXPECT_EQ(proto::getU16(reinterpret_cast<const uint8_t*>(p.payload.constData()) + 22), r.sim.tcpPort());
    p = client->ask(request(proto::CMD_NETWORK_PARAM, 6, QByteArray(23, '\x01')));  // no such record
    EXPECT_EQ(p.header.command, 0xC0 | proto::CMD_NETWORK_PARAM);

    // Load state has no answer: the next reply is the reboot's.
    p = client->ask(request(proto::CMD_LOAD_STATE, 0, {}, 0, 1) + request(proto::CMD_REBOOT, 8));
    EXPECT_EQ(p.header.command, proto::CMD_REBOOT | proto::kReplyBit);
    std::lock_guard<std::mutex> lk(r.sim.stateMutex());
    EXPECT_EQ(r.sim.state().loadStates, std::vector<uint16_t>{1});
    EXPECT_EQ(r.sim.state().reboots, 1);
}

TEST(PlayerSim, HandshakeWithoutBuildTextHasFiveBytes)
{
    sim::SimOptions o;
    o.buildText.clear();
    o.android = false;
    const Packet p = Running(o).connect()->ask(request(proto::CMD_PLAYER_INFO, 1));
    EXPECT_EQ(p.payload, QByteArray(5, '\0'));
    EXPECT_EQ(p.header.arg >> 8, 0);
}

TEST(PlayerSim, LayoutListFetchUploadDelete)
{
    Running r;
    auto client = r.connect();
    auto ask = [&](uint8_t sub, const QByteArray& payload = {}) {
        return client->ask(request(proto::CMD_LAYOUT, 1, payload, sub));
    };
    // A layout as uploaded and fetched: its name in a 256-byte field, then its text.
    auto layout = [](const QByteArray& name, const char* text) { return name + QByteArray(256 - name.size(), '\0') + text; };
    EXPECT_EQ(ask(0).header.arg, 0);  // not locked

    ask(4, layout("A.GFD", "{a}"));
    ask(2, layout("B.GFD", "{b}"));
    Packet p = ask(0);
    EXPECT_EQ(p.payload, QByteArray("A.GFD?B.GFD?"));
    EXPECT_EQ(p.header.param, 1);
    EXPECT_EQ(ask(1, "A.GFD").payload, layout("A.GFD", "{a}"));
    EXPECT_TRUE(ask(1, "missing").payload.isEmpty());
    ask(3, "A.GFD");
    p = ask(0);
    EXPECT_EQ(p.payload, QByteArray("B.GFD?"));
    EXPECT_EQ(p.header.param, 0);
    EXPECT_EQ(ask(2, QByteArray(100, 'x')).header.command, 0xC0 | proto::CMD_LAYOUT);  // shorter than the name field
    {
        std::lock_guard<std::mutex> lk(r.sim.stateMutex());
        r.sim.state().layoutLocked = true;
    }
    EXPECT_EQ(ask(0).header.arg, 1);
}

// A document a request leaves in the state is the state's own: stored from
// one connection, replaced from another and then by the test, it is served
// back as it was set last. Shared with the request that brought it, it would
// be freed by whichever thread let go last, which the thread checker reports.
TEST(PlayerSim, StoredDocumentsOutliveTheirRequests)
{
    const struct {
        const char* name;
        uint8_t code;
        uint16_t param;
        std::function<QByteArray&(sim::PlayerSim&)> stored;
    } rows[] = {
        {"text banner", proto::CMD_PARAM_FILE, 4,
         [](sim::PlayerSim& s) -> QByteArray& { return sim::osdState(s)->document; }},
        {"control protocol", proto::CMD_PARAM_FILE, 1,
         [](sim::PlayerSim& s) -> QByteArray& { return sim::companionState(s)->protocolDocument; }},
        {"QR code", proto::CMD_QRCODE, 0, [](sim::PlayerSim& s) -> QByteArray& { return sim::remoteState(s).qrDocument; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Running r;
        auto first = r.connect();
        auto second = r.connect();
        first->ask(request(row.code, 1, "from the first", 0, row.param));
        second->ask(request(row.code, 2, "from the second", 0, row.param));
        {
            std::lock_guard<std::mutex> lk(r.sim.stateMutex());
            EXPECT_EQ(row.stored(r.sim), QByteArray("from the second"));
            const QByteArray mine("set by the test");
            row.stored(r.sim) = mine;
        }
        EXPECT_EQ(first->ask(request(row.code, 3, {}, 0, row.param)).payload, QByteArray("set by the test"));
    }
}

TEST(PlayerSim, RegisteredHandlersReplaceAndExtend)
{
    Running r;
    r.sim.registerCommand(proto::CMD_VIDEO_LIST, [](sim::PlayerSim&, const sim::Request& req) {
        return std::vector<sim::Reply>{{header(proto::CMD_VIDEO_LIST), req.payload},
                                       {header(proto::CMD_VIDEO_LIST_CHANGED), {}}};
    });
    r.sim.registerCommand(proto::CMD_GAME, [](sim::PlayerSim&, const sim::Request&) -> std::vector<sim::Reply> {
        throw std::runtime_error("broken");
    });
    auto client = r.connect();
    Packet p = client->ask(request(proto::CMD_VIDEO_LIST, 12, "xyz") + request(proto::CMD_GAME, 13));
    EXPECT_EQ(p.header.command, 0x80 | proto::CMD_VIDEO_LIST);
    EXPECT_EQ(p.payload, QByteArray("xyz"));
    p = client->ask({});
    EXPECT_EQ(p.header.command, 0x80 | proto::CMD_VIDEO_LIST_CHANGED);
    EXPECT_EQ(p.header.sequence, 12);
    EXPECT_EQ(client->ask({}).header.command, 0xC0 | proto::CMD_GAME);  // the handler threw

    EXPECT_EQ(r.sim.sendToAll({header(proto::CMD_VIDEO_LIST_CHANGED), QByteArray("!")}), 1);
    EXPECT_EQ(client->ask({}).payload, QByteArray("!"));

    // Both ways are logged (two requests, four packets out); clearing forgets them.
    EXPECT_EQ(r.sim.log().size(), 6u);
    r.sim.clearLog();
    EXPECT_TRUE(r.sim.log().empty());
    EXPECT_EQ(r.sim.requestCount(proto::CMD_GAME), 0u);
}

// A request the tool sees counted, waited for or logged has been acted on:
// its handler has returned and the state holds its change, however slowly the
// handler writes it. While the handler runs the request is nowhere to be
// seen; its place in the log is still where it arrived, ahead of what the
// handler pushed and of its reply.
TEST(PlayerSim, ARequestIsSeenOnlyOnceThePlayerHasActedOnIt)
{
    Running r;
    const sim::CommandHandler reboot = r.sim.commandHandler(proto::CMD_REBOOT);
    r.sim.registerCommand(proto::CMD_REBOOT, [reboot](sim::PlayerSim& s, const sim::Request& q) {
        s.sendToAll({header(proto::CMD_VIDEO_LIST_CHANGED), {}});
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        return reboot(s, q);
    });
    const auto incoming = [&r](uint8_t code) {
        std::size_t n = 0;
        for (const sim::LogEntry& e : r.sim.log())
            n += e.incoming && e.header.command == code;
        return n;
    };
    const struct {
        const char* reader;
        std::function<bool(std::size_t)> sees;
    } rows[] = {
        {"requestCount",
         [&](std::size_t n) {
             return testsupport::waitUntil([&] { return r.sim.requestCount(proto::CMD_REBOOT) >= n; });
         }},
        {"waitForRequests", [&](std::size_t n) { return r.sim.waitForRequests(proto::CMD_REBOOT, n, 30000); }},
        {"log",
         [&](std::size_t n) { return testsupport::waitUntil([&] { return incoming(proto::CMD_REBOOT) >= n; }); }},
    };
    auto client = r.connect();
    std::size_t sent = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reader);
        client->write(request(proto::CMD_REBOOT, uint16_t(++sent)));
        ASSERT_TRUE(row.sees(sent));
        std::lock_guard<std::mutex> lk(r.sim.stateMutex());
        EXPECT_EQ(r.sim.state().reboots, int(sent));
    }
    ASSERT_TRUE(r.sim.waitForRequests(proto::CMD_REBOOT, sent, 30000));
    for (std::size_t i = 0; i < 2 * sent; ++i)  // each request's push and reply
        ASSERT_TRUE(client->readPacket());
    std::vector<std::pair<bool, int>> order;
    for (const sim::LogEntry& e : r.sim.log())
        order.emplace_back(e.incoming, e.header.command & 0x3F);
    const std::pair<bool, int> in{true, proto::CMD_REBOOT}, pushed{false, proto::CMD_VIDEO_LIST_CHANGED},
        reply{false, proto::CMD_REBOOT};
    EXPECT_EQ(order, (std::vector<std::pair<bool, int>>{in, pushed, reply, in, pushed, reply, in, pushed, reply}));

    // Unseen while its handler runs; a log cleared meanwhile never counts it.
    auto entered = std::make_shared<std::atomic<bool>>(false);
    auto go = std::make_shared<std::atomic<bool>>(false);
    const sim::CommandHandler status = r.sim.commandHandler(proto::CMD_STATUS);
    r.sim.registerCommand(proto::CMD_STATUS, [status, entered, go](sim::PlayerSim& s, const sim::Request& q) {
        *entered = true;
        for (int i = 0; i < 30000 && !*go; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return status(s, q);
    });
    struct GoOnExit {
        std::shared_ptr<std::atomic<bool>> go;
        ~GoOnExit() { *go = true; }
    } goOnExit{go};
    client->write(request(proto::CMD_STATUS, 20));
    ASSERT_TRUE(testsupport::waitUntil([&] { return entered->load(); }));
    EXPECT_EQ(r.sim.requestCount(proto::CMD_STATUS), 0u);
    EXPECT_EQ(incoming(proto::CMD_STATUS), 0u);
    r.sim.clearLog();
    *go = true;
    const auto answer = client->readPacket();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->payload.size(), 108);
    EXPECT_EQ(client->ask(request(proto::CMD_TEMPERATURE, 21)).header.sequence, 21);
    EXPECT_EQ(r.sim.requestCount(proto::CMD_STATUS), 0u);
    EXPECT_EQ(r.sim.requestCount(proto::CMD_TEMPERATURE), 1u);
}

TEST(PlayerSim, FaultKnobs)
{
    Running r;
    auto client = r.connect();

    // Silent: the request is read and logged, nothing comes back.
    r.sim.setFault(sim::Fault::Silent);
    client->write(request(proto::CMD_STATUS, 1));
    EXPECT_TRUE(r.sim.waitForRequests(proto::CMD_STATUS, 1, 30000));
    EXPECT_FALSE(client->readPacket(150));

    // Not supported, for one command only.
    r.sim.setFault(sim::Fault::None);
    r.sim.setFault(sim::Fault::NotSupported, 0, proto::CMD_TEMPERATURE);
    Packet p = client->ask(request(proto::CMD_TEMPERATURE, 2) + request(proto::CMD_STATUS, 3));
    EXPECT_EQ(p.header.command, 0xC0 | proto::CMD_TEMPERATURE);
    EXPECT_TRUE(p.payload.isEmpty());
    EXPECT_EQ(client->ask({}).header.command, 0x80 | proto::CMD_STATUS);
    r.sim.setFault(sim::Fault::None, 0, proto::CMD_TEMPERATURE);

    // Split: the 124-byte status reply comes in pieces of at most 4 bytes.
    r.sim.setFault(sim::Fault::Split, 4);
    client->write(request(proto::CMD_STATUS, 4));
    QByteArray got;
    int reads = 0;
    for (; got.size() < 124 && reads < 200; ++reads)
        got += client->readSome(2000).value_or(QByteArray());
    EXPECT_EQ(got.size(), 124);
    EXPECT_GT(reads, 2);

    // Delay.
    r.sim.setFault(sim::Fault::Delay, 120);
    auto start = Clock::now();
    client->ask(request(proto::CMD_TEMPERATURE, 5));
    EXPECT_GE(msSince(start), 110);

    // Coalesce: the first reply is held until the second, both come in one write.
    r.sim.setFault(sim::Fault::Coalesce, 3000);
    client->write(request(proto::CMD_TEMPERATURE, 6));
    ASSERT_TRUE(r.sim.waitForRequests(proto::CMD_TEMPERATURE, 3, 30000));
    EXPECT_EQ(client->readSome(100), QByteArray());
    client->write(request(proto::CMD_STATUS, 7));
    const auto chunk = client->readSome(2000).value_or(QByteArray());
    ASSERT_EQ(chunk.size(), 16 + 16 + 108);
    EXPECT_EQ(uint8_t(chunk.at(4)), 0x80 | proto::CMD_TEMPERATURE);
    EXPECT_EQ(uint8_t(chunk.at(16 + 4)), 0x80 | proto::CMD_STATUS);

    // A lone held reply goes out after the hold time.
    r.sim.setFault(sim::Fault::Coalesce, 50);
    start = Clock::now();
    EXPECT_EQ(client->ask(request(proto::CMD_TEMPERATURE, 8)).header.sequence, 8);
    EXPECT_GE(msSince(start), 40);

    // Read pause: it follows each read, so three of them lie between four replies.
    r.sim.setFault(sim::Fault::None);
    r.sim.setReadPause(30);
    start = Clock::now();
    for (uint16_t i = 0; i < 4; ++i)
        client->ask(request(proto::CMD_TEMPERATURE, i));
    EXPECT_GE(msSince(start), 3 * 25);
}

TEST(PlayerSim, SeveralInstancesOnDistinctLoopbackAddresses)
{
    sim::SimOptions a = at("127.0.0.2");
    a.channelCode = 1;
    Running ra(a);
    sim::SimOptions b = at("127.0.0.3");
    b.channelCode = 3;
    b.tcpPort = ra.sim.tcpPort();  // the same port on another address
    Running rb(b);
    ASSERT_TRUE(ra.started && rb.started);
    for (Running* r : {&ra, &rb}) {
        EXPECT_EQ(r->connect()->ask(request(proto::CMD_PLAYER_INFO, 1)).header.subCode, r->sim.options().channelCode);
        EXPECT_EQ(r->sim.requestCount(proto::CMD_PLAYER_INFO), 1u);
    }

    // A second simulator on a taken address and port does not start.
    QString error;
    EXPECT_FALSE(sim::PlayerSim(b).start(&error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(sim::PlayerSim(at("127.0.0")).start(&error));
}

TEST(PlayerSim, DropConnectionsAndStopEndEverything)
{
    Running r;
    auto client = r.connect();
    client->ask(request(proto::CMD_STATUS, 1));
    r.sim.dropConnections();
    EXPECT_TRUE(client->seesEnd());
    auto second = r.connect();
    second->ask(request(proto::CMD_STATUS, 2));
    EXPECT_GE(r.sim.bytesReceived(), 32u);

    // Stop while a reply waits out a long delay and a client is connected.
    r.sim.setFault(sim::Fault::Delay, 10000);
    second->write(request(proto::CMD_STATUS, 3));
    ASSERT_TRUE(r.sim.waitForRequests(proto::CMD_STATUS, 3, 30000));
    const auto start = Clock::now();
    r.sim.stop();
    EXPECT_LT(msSince(start), 5000);  // well before the held reply's 10 s
    EXPECT_FALSE(r.sim.isRunning());
    EXPECT_TRUE(second->seesEnd());

    // And it starts again.
    r.sim.setFault(sim::Fault::None);
    ASSERT_TRUE(r.sim.start());
    r.connect()->ask(request(proto::CMD_STATUS, 4));
}

// Announcements that reach `probe` within the time whose ID starts with
// `idPrefix` (other simulators on this machine may answer too).
std::vector<PlayerAnnouncement> collect(const testsupport::UdpPeer& probe, int timeoutMs, std::size_t wanted,
                                        const QString& idPrefix)
{
    std::vector<PlayerAnnouncement> out;
    const auto start = Clock::now();
    while (out.size() < wanted && msSince(start) < timeoutMs)
        if (const auto d = probe.receive(std::max(1, timeoutMs - msSince(start))))
            if (const auto a = PlayerAnnouncement::parse(d->bytes); a && a->idText().startsWith(idPrefix))
                out.push_back(*a);
    return out;
}

TEST(PlayerSimDiscovery, EverySimulatorAnswersOneLoopbackBroadcast)
{
    const QString tag = QStringLiteral("T%1").arg(::getpid() % 100000, 5, 10, QLatin1Char('0'));
    sim::SimOptions a = at("127.0.0.2");
    a.udpDiscovery = true;
    a.id = tag + QStringLiteral("AAAAAA");
    a.mac = QStringLiteral("020000000002");
    a.version = 0x1523;
    a.fpgaVersion = 9;
    a.channelCode = 21;
    sim::SimOptions b = a;
    b.address = QStringLiteral("127.0.0.3");
    b.id = tag + QStringLiteral("BBBBBB");
    b.mac = QStringLiteral("020000000003");
    Running ra(a), rb(b);
    ASSERT_TRUE(ra.started && rb.started);

    const uint32_t loopbackBroadcast = 0x7FFFFFFFu;
    testsupport::UdpPeer probe;
    ASSERT_TRUE(probe.sendTo(proto::kDiscoveryPort, DiscoveryRequest{false}.toBytes(), loopbackBroadcast));
    auto answers = collect(probe, 2000, 2, tag);
    ASSERT_EQ(answers.size(), 2u);
    std::set<QString> ips;
    for (const auto& x : answers) {
        ips.insert(x.ipText());
        const Running& r = x.ipText() == QStringLiteral("127.0.0.2") ? ra : rb;
        EXPECT_EQ(x.tcpPort, r.sim.tcpPort());
        EXPECT_EQ(x.idText(), r.sim.options().id.toUpper());
        EXPECT_EQ(x.macText(false), r.sim.options().mac);
        EXPECT_EQ(x.version, 0x1523);
        EXPECT_EQ(x.fpgaVersion, 9);
        EXPECT_EQ(x.channelCode, 21);
        EXPECT_EQ(x.header.command, 0x81);
    }
    EXPECT_EQ(ips, (std::set<QString>{QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")}));

    // The 16-byte form on the second port, sent to one player: only that one
    // answers. (An address of this process alone: a request sent to one
    // address reaches one socket bound to it.)
    const int third = 20 + ::getpid() % 200;
    sim::SimOptions c = a;
    c.address = QStringLiteral("127.0.%1.77").arg(third);
    c.id = tag + QStringLiteral("CCCCCC");
    Running rc(c);
    ASSERT_TRUE(rc.started);
    ASSERT_TRUE(probe.sendTo(proto::kDiscoveryAltPort, DiscoveryRequest{true}.toBytes(16), 0x7F00004Du | (third << 8)));
    answers = collect(probe, 300, 2, tag);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].ipText(), c.address);
    EXPECT_EQ(answers[0].tcpPort, rc.sim.tcpPort());

    // Not requests: nothing comes back.
    probe.sendTo(proto::kDiscoveryPort, DiscoveryRequest{false}.toBytes().left(45), loopbackBroadcast);
    probe.sendTo(proto::kDiscoveryPort, PlayerAnnouncement().toBytes(), loopbackBroadcast);
    EXPECT_TRUE(collect(probe, 200, 1, tag).empty());
    // (Other test programs' broadcasts may be answered as well.)
    for (const Running* r : {&ra, &rb, &rc})
        EXPECT_GE(r->sim.discoveryAnswers(), 1u);
}

}  // namespace
