#include "player/player_sim.h"
#include "transport/announcement.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
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

// A blocking TCP client with time-outs, standing in for the tool.
class Client {
public:
    Client(const QString& address, uint16_t port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        ::inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    }
    ~Client()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool connected() const { return connected_; }

    void send(const QByteArray& bytes)
    {
        ASSERT_EQ(::send(fd_, bytes.constData(), std::size_t(bytes.size()), MSG_NOSIGNAL), bytes.size());
    }

    // One recv within the time; empty on time-out; nullopt on close.
    std::optional<QByteArray> readChunk(int timeoutMs)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return QByteArray();
        char buf[65536];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            return std::nullopt;
        ++chunks_;
        return QByteArray(buf, int(n));
    }

    std::optional<Packet> readPacket(int timeoutMs = 2000)
    {
        const auto start = Clock::now();
        for (;;) {
            if (pending_.size() >= 16) {
                const auto h = proto::PlayerPacketHeader::fromBytes(reinterpret_cast<const uint8_t*>(pending_.constData()));
                if (pending_.size() >= 16 + qsizetype(h.payloadLength)) {
                    Packet p{h, pending_.mid(16, int(h.payloadLength))};
                    pending_.remove(0, 16 + int(h.payloadLength));
                    return p;
                }
            }
            const int left = timeoutMs - msSince(start);
            if (left <= 0)
                return std::nullopt;
            const auto chunk = readChunk(left);
            if (!chunk)
                return std::nullopt;
            pending_ += *chunk;
        }
    }

    bool peerClosed(int timeoutMs)
    {
        const auto start = Clock::now();
        while (msSince(start) < timeoutMs) {
            const auto chunk = readChunk(timeoutMs - msSince(start));
            if (!chunk)
                return true;
        }
        return false;
    }

    int chunks() const { return chunks_; }
    const QByteArray& pending() const { return pending_; }

private:
    int fd_ = -1;
    bool connected_ = false;
    int chunks_ = 0;
    QByteArray pending_;
};

QByteArray request(uint8_t code, uint16_t sequence, const QByteArray& payload = {}, uint8_t subCode = 0,
                   uint16_t param = 0)
{
    proto::PlayerPacketHeader h;
    h.command = code;
    h.subCode = subCode;
    h.sequence = sequence;
    h.param = param;
    return proto::buildPacket(h, payload);
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
        EXPECT_TRUE(c->connected());
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

// The same three requests, cut into writes in different ways, give the same
// three replies in order.
TEST(PlayerSim, FramesRequestsHoweverTheyAreChunked)
{
    QByteArray netRecord(24, '\x11');
    const QByteArray stream = request(proto::CMD_PLAYER_INFO, 7) + request(proto::CMD_NETWORK_PARAM, 8, netRecord) +
                              request(proto::CMD_STATUS, 9);
    struct Case {
        const char* name;
        std::vector<int> cuts;  // write boundaries inside the stream
    };
    std::vector<int> everyByte;
    for (int i = 1; i < stream.size(); ++i)
        everyByte.push_back(i);
    const std::vector<Case> cases = {
        {"one write", {}},
        {"inside the first header", {5}},
        {"inside a payload and across packets", {20, 40, 50, 70}},
        {"at packet boundaries", {16, 56}},
        {"one byte per write", everyByte},
    };
    Running r;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto client = r.connect();
        int from = 0;
        for (int cut : c.cuts) {
            client->send(stream.mid(from, cut - from));
            from = cut;
            if (c.cuts.size() < 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        client->send(stream.mid(from));
        const uint8_t codes[] = {proto::CMD_PLAYER_INFO, proto::CMD_NETWORK_PARAM, proto::CMD_STATUS};
        const int lengths[] = {25, 0, 108};
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
    client->send(QByteArray("\x01\x02\x5A\x5A garbage", 12) + request(proto::CMD_TEMPERATURE, 3));
    const auto p = client->readPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->header.command, proto::CMD_TEMPERATURE | proto::kReplyBit);
    EXPECT_EQ(p->header.sequence, 3);

    proto::PlayerPacketHeader h;
    h.command = proto::CMD_STATUS;
    h.payloadLength = uint32_t(proto::kMaxPayload + 1);
    client->send(h.toBytes());
    EXPECT_TRUE(client->peerClosed(2000));
    // The service goes on.
    auto again = r.connect();
    again->send(request(proto::CMD_STATUS, 1));
    EXPECT_TRUE(again->readPacket());
}

TEST(PlayerSim, AnswersUnknownCommandsWithNotSupported)
{
    Running r;
    auto client = r.connect();
    struct Case {
        uint8_t command;
        uint8_t expected;
    };
    const Case cases[] = {{9, 0xC9}, {proto::CMD_VIDEO_LIST, 0xC0 | proto::CMD_VIDEO_LIST}, {0, 0xC0}, {0x7F, 0xFF}};
    uint16_t seq = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.command));
        client->send(request(c.command, seq, QByteArray("abc"), 2));
        const auto p = client->readPacket();
        ASSERT_TRUE(p);
        EXPECT_EQ(p->header.command, c.expected);
        EXPECT_EQ(proto::decodeReplyCode(p->header.command), 0);
        EXPECT_EQ(p->header.sequence, seq);
        EXPECT_TRUE(p->payload.isEmpty());
        ++seq;
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

    client->send(request(proto::CMD_PLAYER_INFO, 1));
    auto p = client->readPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->header.subCode, 2);
    EXPECT_EQ(p->header.param, 0x2640);
    EXPECT_EQ(p->header.arg, 0x0107);
    ASSERT_EQ(p->payload.size(), 25);
    EXPECT_EQ(p->payload.mid(6), QByteArray("2026-12-01 10:00:00"));

    client->send(request(proto::CMD_STATUS, 2));
    p = client->readPacket();
    ASSERT_TRUE(p);
    ASSERT_EQ(p->payload.size(), 108);
    const auto* s = reinterpret_cast<const uint8_t*>(p->payload.constData());
    EXPECT_EQ(proto::getU16(s), 0x3);  // two outputs
    EXPECT_EQ(proto::getU16(s + 4 + 8 + 0), 1920);  // second screen at x 1920
    EXPECT_EQ(proto::getU16(s + 4 + 8 + 4), 1920);
    EXPECT_EQ(proto::getU16(s + 4 + 8 + 6), 1080);
    EXPECT_EQ(proto::getU16(s + 4 + 16 + 4), 0);  // third screen absent

    client->send(request(proto::CMD_TEMPERATURE, 3));
    p = client->readPacket();
    ASSERT_TRUE(p);
    const QByteArray hb = p->header.toBytes();
    EXPECT_EQ(uint8_t(hb[8]), 61);
    EXPECT_EQ(uint8_t(hb[11]), 62);
    EXPECT_EQ(uint8_t(hb[10]), 63);

    client->send(request(proto::CMD_PRODUCT_INFO, 4));
    p = client->readPacket();
    ASSERT_TRUE(p);
    EXPECT_FALSE(p->payload.isEmpty());

    client->send(request(proto::CMD_NETWORK_PARAM, 5));
    p = client->readPacket();
    ASSERT_TRUE(p);
    ASSERT_EQ(p->payload.size(), 24);
    EXPECT_EQ(p->payload.left(4), QByteArray("\x7F\x00\x00\x01", 4));
    EXPECT_EQ(p->payload.mid(16, 6), QByteArray("\xA1\xB2\xC3\xD4\xE5\xF6", 6));
    EXPECT_EQ(proto::getU16(reinterpret_cast<const uint8_t*>(p->payload.constData()) + 22), r.sim.tcpPort());
    client->send(request(proto::CMD_NETWORK_PARAM, 6, QByteArray(23, '\x01')));  // no such record
    p = client->readPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->header.command, 0xC0 | proto::CMD_NETWORK_PARAM);

    // Load state has no answer: the next reply is the reboot's.
    client->send(request(proto::CMD_LOAD_STATE, 0, {}, 0, 1) + request(proto::CMD_REBOOT, 8));
    p = client->readPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->header.command, proto::CMD_REBOOT | proto::kReplyBit);
    EXPECT_TRUE(p->payload.isEmpty());
    std::lock_guard<std::mutex> lk(r.sim.stateMutex());
    EXPECT_EQ(r.sim.state().loadStates, std::vector<uint16_t>{1});
    EXPECT_EQ(r.sim.state().reboots, 1);
}

TEST(PlayerSim, HandshakeWithoutBuildTextHasFiveBytes)
{
    sim::SimOptions o;
    o.buildText.clear();
    o.android = false;
    Running r(o);
    auto client = r.connect();
    client->send(request(proto::CMD_PLAYER_INFO, 1));
    const auto p = client->readPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->payload, QByteArray(5, '\0'));
    EXPECT_EQ(p->header.arg >> 8, 0);
}

QByteArray nameField(const QByteArray& name)
{
    return name + QByteArray(256 - name.size(), '\0');
}

TEST(PlayerSim, LayoutListFetchUploadDelete)
{
    Running r;
    auto client = r.connect();
    auto ask = [&](uint8_t sub, const QByteArray& payload) {
        client->send(request(proto::CMD_LAYOUT, 1, payload, sub));
        auto p = client->readPacket();
        EXPECT_TRUE(p);
        return p.value_or(Packet{});
    };
    Packet p = ask(0, {});
    EXPECT_EQ(p.header.subCode, 0);
    EXPECT_TRUE(p.payload.isEmpty());
    EXPECT_EQ(p.header.arg, 0);

    ask(4, nameField("A.GFD") + "{a}");
    ask(2, nameField("B.GFD") + "{b}");
    p = ask(0, {});
    EXPECT_EQ(p.payload, QByteArray("A.GFD?B.GFD?"));
    EXPECT_EQ(p.header.param, 1);
    p = ask(1, "A.GFD");
    EXPECT_EQ(p.payload, nameField("A.GFD") + "{a}");
    p = ask(1, "missing");
    EXPECT_TRUE(p.payload.isEmpty());
    ask(3, "A.GFD");
    p = ask(0, {});
    EXPECT_EQ(p.payload, QByteArray("B.GFD?"));
    EXPECT_EQ(p.header.param, 0);
    p = ask(2, QByteArray(100, 'x'));  // shorter than the name field
    EXPECT_EQ(p.header.command, 0xC0 | proto::CMD_LAYOUT);
    {
        std::lock_guard<std::mutex> lk(r.sim.stateMutex());
        r.sim.state().layoutLocked = true;
    }
    p = ask(0, {});
    EXPECT_EQ(p.header.arg, 1);
}

TEST(PlayerSim, RegisteredHandlersReplaceAndExtend)
{
    Running r;
    r.sim.registerCommand(proto::CMD_VIDEO_LIST, [](sim::PlayerSim&, const sim::Request& req) {
        std::vector<sim::Reply> out(2);
        out[0].header.command = proto::CMD_VIDEO_LIST;
        out[0].payload = req.payload;
        out[1].header.command = proto::CMD_VIDEO_LIST_CHANGED;
        return out;
    });
    r.sim.registerCommand(proto::CMD_GAME, [](sim::PlayerSim&, const sim::Request&) -> std::vector<sim::Reply> {
        throw std::runtime_error("broken");
    });
    auto client = r.connect();
    client->send(request(proto::CMD_VIDEO_LIST, 12, "xyz") + request(proto::CMD_GAME, 13));
    auto p = client->readPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->header.command, 0x80 | proto::CMD_VIDEO_LIST);
    EXPECT_EQ(p->payload, QByteArray("xyz"));
    p = client->readPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->header.command, 0x80 | proto::CMD_VIDEO_LIST_CHANGED);
    EXPECT_EQ(p->header.sequence, 12);
    p = client->readPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->header.command, 0xC0 | proto::CMD_GAME);

    EXPECT_EQ(r.sim.sendToAll(sim::Reply{[] {
                  proto::PlayerPacketHeader h;
                  h.command = proto::CMD_VIDEO_LIST_CHANGED;
                  return h;
              }(), QByteArray("!")}),
              1);
    p = client->readPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->header.command, 0x80 | proto::CMD_VIDEO_LIST_CHANGED);
    EXPECT_EQ(p->payload, QByteArray("!"));

    const auto log = r.sim.log();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_TRUE(log[0].incoming);
    EXPECT_FALSE(log[1].incoming);
    r.sim.clearLog();
    EXPECT_TRUE(r.sim.log().empty());
    EXPECT_EQ(r.sim.requestCount(proto::CMD_GAME), 0u);
}

TEST(PlayerSim, FaultKnobs)
{
    Running r;
    auto client = r.connect();

    // Silent: the request is read and logged, nothing comes back.
    r.sim.setFault(sim::Fault::Silent);
    client->send(request(proto::CMD_STATUS, 1));
    EXPECT_TRUE(r.sim.waitForRequests(proto::CMD_STATUS, 1, 2000));
    EXPECT_FALSE(client->readPacket(150));

    // Not supported, for one command only.
    r.sim.setFault(sim::Fault::None);
    r.sim.setFault(sim::Fault::NotSupported, 0, proto::CMD_TEMPERATURE);
    client->send(request(proto::CMD_TEMPERATURE, 2) + request(proto::CMD_STATUS, 3));
    auto p = client->readPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->header.command, 0xC0 | proto::CMD_TEMPERATURE);
    EXPECT_TRUE(p->payload.isEmpty());
    p = client->readPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->header.command, 0x80 | proto::CMD_STATUS);
    r.sim.setFault(sim::Fault::None, 0, proto::CMD_TEMPERATURE);

    // Split: the 124-byte status reply comes in pieces of at most 4 bytes.
    r.sim.setFault(sim::Fault::Split, 4);
    const int before = client->chunks();
    client->send(request(proto::CMD_STATUS, 4));
    p = client->readPacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->payload.size(), 108);
    EXPECT_GT(client->chunks() - before, 2);

    // Delay.
    r.sim.setFault(sim::Fault::Delay, 120);
    auto start = Clock::now();
    client->send(request(proto::CMD_TEMPERATURE, 5));
    p = client->readPacket();
    ASSERT_TRUE(p);
    EXPECT_GE(msSince(start), 110);

    // Coalesce: the first reply is held until the second, both come in one write.
    r.sim.setFault(sim::Fault::Coalesce, 3000);
    client->send(request(proto::CMD_TEMPERATURE, 6));
    ASSERT_TRUE(r.sim.waitForRequests(proto::CMD_TEMPERATURE, 3, 2000));
    auto chunk = client->readChunk(100);
    ASSERT_TRUE(chunk);
    EXPECT_TRUE(chunk->isEmpty());
    client->send(request(proto::CMD_STATUS, 7));
    chunk = client->readChunk(2000);
    ASSERT_TRUE(chunk);
    EXPECT_EQ(chunk->size(), 16 + 16 + 108);
    EXPECT_EQ(uint8_t(chunk->at(4)), 0x80 | proto::CMD_TEMPERATURE);
    EXPECT_EQ(uint8_t(chunk->at(16 + 4)), 0x80 | proto::CMD_STATUS);

    // A lone held reply goes out after the hold time.
    r.sim.setFault(sim::Fault::Coalesce, 50);
    start = Clock::now();
    client->send(request(proto::CMD_TEMPERATURE, 8));
    p = client->readPacket(2000);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->header.sequence, 8);
    EXPECT_GE(msSince(start), 40);
}

TEST(PlayerSim, SeveralInstancesOnDistinctLoopbackAddresses)
{
    sim::SimOptions a = at("127.0.0.2");
    a.id = QStringLiteral("SIMAAAAAAAAA");
    a.channelCode = 1;
    Running ra(a);
    sim::SimOptions b = at("127.0.0.3");
    b.channelCode = 3;
    b.tcpPort = ra.sim.tcpPort();  // the same port on another address
    Running rb(b);
    ASSERT_TRUE(ra.started && rb.started);

    for (Running* r : {&ra, &rb}) {
        auto client = r->connect();
        client->send(request(proto::CMD_PLAYER_INFO, 1));
        const auto p = client->readPacket();
        ASSERT_TRUE(p);
        EXPECT_EQ(p->header.subCode, r->sim.options().channelCode);
    }
    EXPECT_EQ(ra.sim.requestCount(proto::CMD_PLAYER_INFO), 1u);
    EXPECT_EQ(rb.sim.requestCount(proto::CMD_PLAYER_INFO), 1u);

    // A second simulator on a taken address and port does not start.
    sim::PlayerSim clash(b);
    QString error;
    EXPECT_FALSE(clash.start(&error));
    EXPECT_FALSE(error.isEmpty());
    sim::PlayerSim bad(at("127.0.0"));
    EXPECT_FALSE(bad.start(&error));
}

TEST(PlayerSim, DropConnectionsAndStopEndEverything)
{
    Running r;
    auto client = r.connect();
    client->send(request(proto::CMD_STATUS, 1));
    ASSERT_TRUE(client->readPacket());
    r.sim.dropConnections();
    EXPECT_TRUE(client->peerClosed(2000));
    auto second = r.connect();
    second->send(request(proto::CMD_STATUS, 2));
    ASSERT_TRUE(second->readPacket());
    EXPECT_GE(r.sim.bytesReceived(), 32u);

    // Stop while a reply waits out a long delay and a client is connected.
    r.sim.setFault(sim::Fault::Delay, 10000);
    second->send(request(proto::CMD_STATUS, 3));
    ASSERT_TRUE(r.sim.waitForRequests(proto::CMD_STATUS, 3, 2000));
    const auto start = Clock::now();
    r.sim.stop();
    EXPECT_LT(msSince(start), 2000);
    EXPECT_FALSE(r.sim.isRunning());
    EXPECT_TRUE(second->peerClosed(2000));

    // And it starts again.
    r.sim.setFault(sim::Fault::None);
    ASSERT_TRUE(r.sim.start());
    auto third = r.connect();
    third->send(request(proto::CMD_STATUS, 4));
    EXPECT_TRUE(third->readPacket());
}

TEST(PlayerSim, ReadPauseSlowsReading)
{
    Running r;
    r.sim.setReadPause(30);
    auto client = r.connect();
    const auto start = Clock::now();
    for (uint16_t i = 0; i < 4; ++i) {
        client->send(request(proto::CMD_TEMPERATURE, i));
        ASSERT_TRUE(client->readPacket());
    }
    // The pause follows each read, so three of them lie between the four replies.
    EXPECT_GE(msSince(start), 3 * 25);
}

// --- discovery --------------------------------------------------------------

class UdpProbe {
public:
    UdpProbe()
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    }
    ~UdpProbe() { ::close(fd_); }
    void sendTo(const char* address, uint16_t port, const QByteArray& bytes)
    {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &sa.sin_addr);
        ASSERT_EQ(::sendto(fd_, bytes.constData(), std::size_t(bytes.size()), 0, reinterpret_cast<sockaddr*>(&sa),
                           sizeof sa),
                  bytes.size());
    }
    // Announcements received within the time whose ID starts with `idPrefix`
    // (other simulators on this machine may answer too).
    std::vector<PlayerAnnouncement> collect(int timeoutMs, std::size_t wanted, const QString& idPrefix)
    {
        std::vector<PlayerAnnouncement> out;
        const auto start = Clock::now();
        while (out.size() < wanted && msSince(start) < timeoutMs) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs - msSince(start)) <= 0)
                break;
            char buf[128];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0)
                continue;
            const auto a = PlayerAnnouncement::parse(reinterpret_cast<const uint8_t*>(buf), std::size_t(n));
            if (a && a->idText().startsWith(idPrefix))
                out.push_back(*a);
        }
        return out;
    }

private:
    int fd_ = -1;
};

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
    Running ra(a);
    Running rb(b);
    ASSERT_TRUE(ra.started && rb.started);

    UdpProbe probe;
    probe.sendTo("127.255.255.255", proto::kDiscoveryPort, DiscoveryRequest{false}.toBytes());
    auto answers = probe.collect(2000, 2, tag);
    ASSERT_EQ(answers.size(), 2u);
    std::set<QString> ips;
    for (const auto& x : answers) {
        ips.insert(x.ipText());
        const bool isA = x.ipText() == QStringLiteral("127.0.0.2");
        const Running& r = isA ? ra : rb;
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
    sim::SimOptions c = a;
    c.address = QStringLiteral("127.0.%1.77").arg(20 + ::getpid() % 200);
    c.id = tag + QStringLiteral("CCCCCC");
    Running rc(c);
    ASSERT_TRUE(rc.started);
    probe.sendTo(c.address.toLatin1().constData(), proto::kDiscoveryAltPort, DiscoveryRequest{true}.toBytes(16));
    answers = probe.collect(300, 2, tag);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].ipText(), c.address);
    EXPECT_EQ(answers[0].tcpPort, rc.sim.tcpPort());

    // Not requests: nothing comes back.
    probe.sendTo("127.255.255.255", proto::kDiscoveryPort, DiscoveryRequest{false}.toBytes().left(45));
    probe.sendTo("127.255.255.255", proto::kDiscoveryPort, PlayerAnnouncement().toBytes());
    EXPECT_TRUE(probe.collect(200, 1, tag).empty());
    // (Other test programs' broadcasts may be answered as well.)
    EXPECT_GE(ra.sim.discoveryAnswers(), 1u);
    EXPECT_GE(rb.sim.discoveryAnswers(), 1u);
    EXPECT_GE(rc.sim.discoveryAnswers(), 1u);
}

}  // namespace
