// End-to-end tests of the TCP link over loopback: against a small server
// driven by the test, and against the simulated player.
#include "transport/tcp_client.h"

#include "platform/messages.h"
#include "player/player_sim.h"
#include "tests/support/test_support.h"
#include "transport/records.h"

#include <QDir>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

using testsupport::waitUntil;

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// A loopback server that the test drives step by step.
class TestServer {
public:
    TestServer()
    {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(listenFd_, 4) == 0 &&
            ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~TestServer()
    {
        joinWriter();
        closeConnection();
        ::close(listenFd_);
    }
    uint16_t port() const { return port_; }

    bool accept(int timeoutMs = 2000)
    {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return false;
        closeConnection();
        conn_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        return conn_ >= 0;
    }

    // Writes from a thread of its own, so that the UI thread can go on
    // taking the link's events meanwhile.
    void writeAsync(QByteArray bytes, std::size_t piece)
    {
        joinWriter();
        const int fd = conn_;
        writer_ = std::thread([fd, bytes, piece] {
            std::size_t done = 0;
            while (done < std::size_t(bytes.size())) {
                const std::size_t n = std::min(piece, std::size_t(bytes.size()) - done);
                const ssize_t w = ::send(fd, bytes.constData() + done, n, MSG_NOSIGNAL);
                if (w <= 0)
                    return;
                done += std::size_t(w);
            }
        });
    }
    void joinWriter()
    {
        if (writer_.joinable())
            writer_.join();
    }

    bool write(const QByteArray& bytes)
    {
        return ::send(conn_, bytes.constData(), std::size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }

    // Reads until `count` bytes arrived or the peer closed or time ran out.
    QByteArray read(std::size_t count, int timeoutMs = 2000)
    {
        QByteArray out(qsizetype(count), Qt::Uninitialized);
        std::size_t got = 0;
        QElapsedTimer t;
        t.start();
        while (got < count && t.elapsed() < timeoutMs) {
            pollfd p{conn_, POLLIN, 0};
            if (::poll(&p, 1, 20) != 1)
                continue;
            const ssize_t n = ::recv(conn_, out.data() + got, count - got, 0);
            if (n <= 0)
                break;
            got += std::size_t(n);
        }
        out.truncate(qsizetype(got));
        return out;
    }

    // True when the peer's end of the connection has gone (FIN or reset).
    bool seesEnd(int timeoutMs = 2000)
    {
        QElapsedTimer t;
        t.start();
        char buf[4096];
        while (t.elapsed() < timeoutMs) {
            pollfd p{conn_, POLLIN, 0};
            if (::poll(&p, 1, 20) != 1)
                continue;
            if (::recv(conn_, buf, sizeof buf, 0) <= 0)
                return true;
        }
        return false;
    }

    void closeConnection()
    {
        if (conn_ >= 0)
            ::close(conn_);
        conn_ = -1;
    }
    // Closes with a reset instead of an orderly end.
    void resetConnection()
    {
        linger l{1, 0};
        ::setsockopt(conn_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        closeConnection();
    }

private:
    int listenFd_ = -1;
    int conn_ = -1;
    uint16_t port_ = 0;
    std::thread writer_;
};

struct Seen {
    platform::WPARAM wParam;
    uint16_t type;
    uint16_t error;
    uint32_t length;
    QString peer;
    uint16_t port;
    uint16_t index;
};

// The owner window of a link: records every event it is sent and runs an
// optional hook inside the handler.
struct Owner {
    platform::MessageWindow window{QStringLiteral("link test owner")};
    std::vector<Seen> events;
    QByteArray data;  // all type-5 bytes, in order
    std::function<void(const LinkEvent&)> hook;

    Owner()
    {
        window.onMessage(platform::WM_TCP_EVENT, [this](platform::WPARAM w, platform::LPARAM l) {
            EXPECT_TRUE(platform::isUiThread());
            const auto* e = reinterpret_cast<const LinkEvent*>(l);
            events.push_back({w, e->type, e->error, e->length, e->peerAddress, e->port, e->linkIndex});
            if (e->type == kLinkData)
                data.append(reinterpret_cast<const char*>(e->data), qsizetype(e->length));
            if (hook)
                hook(*e);
            return platform::LRESULT(1);
        });
    }
    std::vector<uint16_t> types() const
    {
        std::vector<uint16_t> out;
        for (const Seen& s : events)
            out.push_back(s.type);
        return out;
    }
    // Types other than data, in order.
    std::vector<uint16_t> controlTypes() const
    {
        std::vector<uint16_t> out;
        for (const Seen& s : events)
            if (s.type != kLinkData)
                out.push_back(s.type);
        return out;
    }
    bool saw(uint16_t type) const
    {
        for (const Seen& s : events)
            if (s.type == type)
                return true;
        return false;
    }
};

QByteArray pattern(std::size_t size, uint32_t seed)
{
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        out[qsizetype(i)] = char(x >> 24);
    }
    return out;
}

const QString kLoopback = QStringLiteral("127.0.0.1");

// ---------------------------------------------------------------------------

TEST(NetmaskTest, ContiguousTable)
{
    const struct {
        const char* mask;
        bool contiguous;
    } cases[] = {
        {"255.255.255.0", true}, {"255.255.0.0", true},   {"0.0.0.0", true},      {"255.255.255.255", true},
        {"255.255.255.252", true}, {"128.0.0.0", true},   {"255.0.255.0", false}, {"255.255.255.1", false},
        {"0.255.255.255", false}, {"300.1.1.1", false},   {"255.255.255", false}, {"", false},
        {"255.255.255.0 ", false}, {"abc", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsContiguousNetmask(QString::fromLatin1(c.mask)), c.contiguous) << c.mask;
    // Text that only begins with a mask is no mask.
    EXPECT_FALSE(IsContiguousNetmask(QStringLiteral("255.255.255.0") + QChar(0) + QStringLiteral("x")));
}

TEST(NetmaskTest, SameSubnetTable)
{
    const struct {
        const char* address;
        const char* mask;
        const char* gateway;
        bool same;
    } cases[] = {
        {"192.168.1.10", "255.255.255.0", "192.168.1.1", true},
        {"192.168.1.10", "255.255.255.0", "192.168.2.1", false},
        {"10.1.2.3", "255.0.0.0", "10.200.0.1", true},
        {"10.1.2.3", "255.255.255.255", "10.1.2.3", true},
        {"10.1.2.3", "0.0.0.0", "172.16.0.1", true},
        {"192.168.1.10", "255.255.255.0", "192.168.1", false},
        {"192.168.1.10", "bad", "192.168.1.1", false},
        {"", "255.255.255.0", "192.168.1.1", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsSameSubnet(QString::fromLatin1(c.address), QString::fromLatin1(c.mask),
                               QString::fromLatin1(c.gateway)),
                  c.same)
            << c.address << " " << c.mask << " " << c.gateway;
}

TEST(TcpClientTest, RefusedOrInvalidConnectFailsQuicklyWithoutThreads)
{
    // A port that was bound and released: nobody listens there.
    uint16_t deadPort = 0;
    {
        TestServer s;
        deadPort = s.port();
    }
    ASSERT_NE(deadPort, 0);

    Owner owner;
    CTCPClient link;
    link.setOwner(owner.window.handle());
    const int before = threadCount();
    const struct {
        QString ip;
        uint16_t port;
    } cases[] = {
        {kLoopback, deadPort},
        {kLoopback, 0},
        {QStringLiteral("127.0.0"), deadPort},
        {QStringLiteral("localhost"), deadPort},
        {QStringLiteral("127.0.0.1") + QChar(0), deadPort},
        {QString(), deadPort},
    };
    for (const auto& c : cases) {
        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(link.Connect(c.ip, c.port)) << c.ip.toStdString();
        EXPECT_LT(t.elapsed(), 1500);
        EXPECT_FALSE(link.IsConnected());
        EXPECT_FALSE(link.IsRunning());
        EXPECT_TRUE(link.PeerAddress().isEmpty());
        EXPECT_EQ(link.Port(), 0);
        EXPECT_EQ(threadCount(), before);
    }
    EXPECT_FALSE(link.Send(QByteArray("x")));
    EXPECT_EQ(link.QueuedPackets(), 0u);
    waitUntil([] { return false; }, 50);
    EXPECT_TRUE(owner.events.empty());
}

TEST(TcpClientTest, DataArrivesInOrderAsTypeFiveEventsThenPeerCloseGivesSevenThenEight)
{
    TestServer server;
    Owner owner;
    CTCPClient link;
    link.setOwner(owner.window.handle());
    ASSERT_TRUE(link.Connect(kLoopback, server.port()));
    link.SetLinkIndex(3);
    EXPECT_TRUE(link.IsConnected());
    EXPECT_TRUE(link.IsRunning());
    EXPECT_EQ(link.PeerAddress(), kLoopback);
    EXPECT_EQ(link.Port(), server.port());
    ASSERT_TRUE(server.accept());

    const QByteArray bytes = pattern(3 * 1024 * 1024 + 17, 1);
    server.writeAsync(bytes, 100000);
    ASSERT_TRUE(waitUntil([&] { return owner.data.size() == bytes.size(); }, 5000));
    server.joinWriter();
    EXPECT_TRUE(owner.data == bytes);
    // Pieces that arrive apart are reported apart, each with its length.
    for (const char* piece : {"first", "second"}) {
        const std::size_t before = owner.events.size();
        ASSERT_TRUE(server.write(piece));
        ASSERT_TRUE(waitUntil([&] { return owner.events.size() == before + 1; }));
        EXPECT_EQ(owner.events.back().length, std::strlen(piece));
    }
    EXPECT_TRUE(owner.data.endsWith("firstsecond"));
    for (const Seen& s : owner.events) {
        EXPECT_EQ(s.type, kLinkData);
        EXPECT_GT(s.length, 0u);
        EXPECT_EQ(s.wParam, 3u);
        EXPECT_EQ(s.index, 3);
        EXPECT_EQ(s.peer, kLoopback);
        EXPECT_EQ(s.port, server.port());
    }

    // While the player's close is being reported, the link still says who it
    // was; afterwards it is idle.
    bool connectedDuringSeven = false;
    QString peerDuringSeven;
    owner.hook = [&](const LinkEvent& e) {
        if (e.type == kLinkPeerClosed) {
            connectedDuringSeven = link.IsConnected();
            peerDuringSeven = link.PeerAddress();
        }
    };
    owner.events.clear();
    server.closeConnection();
    ASSERT_TRUE(waitUntil([&] { return owner.saw(kLinkReceiverEnded); }));
    EXPECT_EQ(owner.types(), (std::vector<uint16_t>{kLinkPeerClosed, kLinkReceiverEnded}));
    EXPECT_TRUE(connectedDuringSeven);
    EXPECT_EQ(peerDuringSeven, kLoopback);
    EXPECT_EQ(owner.events[0].peer, kLoopback);
    EXPECT_FALSE(link.IsConnected());
    EXPECT_FALSE(link.IsRunning());
    EXPECT_TRUE(link.PeerAddress().isEmpty());
    EXPECT_EQ(link.Port(), 0);
    EXPECT_FALSE(link.Send(QByteArray("late")));
}

TEST(TcpClientTest, PlayerResetGivesReceiveErrorThenEight)
{
    TestServer server;
    Owner owner;
    CTCPClient link;
    link.setOwner(owner.window.handle());
    ASSERT_TRUE(link.Connect(kLoopback, server.port()));
    ASSERT_TRUE(server.accept());
    server.resetConnection();
    ASSERT_TRUE(waitUntil([&] { return owner.saw(kLinkReceiverEnded); }));
    ASSERT_EQ(owner.types(), (std::vector<uint16_t>{kLinkReceiveError, kLinkReceiverEnded}));
    EXPECT_EQ(owner.events[0].error, ECONNRESET);
    EXPECT_FALSE(link.IsConnected());
}

TEST(TcpClientTest, WriteToResetPlayerGivesShortSendAndNoSignal)
{
    TestServer server;
    Owner owner;
    CTCPClient link;
    link.setOwner(owner.window.handle());
    ASSERT_TRUE(link.Connect(kLoopback, server.port()));
    ASSERT_TRUE(server.accept());

    // Inside the handler of the first data the receiver is held, so the
    // sender is the one that meets the reset.
    bool sent = false;
    owner.hook = [&](const LinkEvent& e) {
        if (e.type != kLinkData || sent)
            return;
        sent = true;
        server.resetConnection();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(link.Send(pattern(4 * 1024 * 1024, 2)));
        QElapsedTimer t;
        t.start();
        while (link.QueuedPackets() != 0 && t.elapsed() < 3000)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    ASSERT_TRUE(server.write(QByteArray("hello")));
    ASSERT_TRUE(waitUntil([&] { return owner.saw(kLinkReceiverEnded); }));
    EXPECT_EQ(owner.controlTypes(), (std::vector<uint16_t>{kLinkShortSend, kLinkReceiverEnded}));
    EXPECT_FALSE(link.IsConnected());
    EXPECT_FALSE(link.IsRunning());
}

TEST(TcpClientTest, LocalCloseIsSilentIdempotentAndLinkReconnects)
{
    TestServer server;
    Owner owner;
    CTCPClient link;
    link.setOwner(owner.window.handle());
    const int before = threadCount();

    link.Close();  // never connected
    link.Close();
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(link.Connect(kLoopback, server.port())) << round;
        ASSERT_TRUE(server.accept());
        EXPECT_EQ(threadCount(), before + 2);
        ASSERT_TRUE(link.Send(QByteArray("ping") + QByteArray::number(round)));
        EXPECT_EQ(server.read(5), QByteArray("ping") + QByteArray::number(round));
        ASSERT_TRUE(server.write("pong"));
        ASSERT_TRUE(waitUntil([&] { return owner.data.endsWith("pong"); }));
        link.Close();
        link.Close();
        EXPECT_FALSE(link.IsConnected());
        EXPECT_EQ(threadCount(), before);
        EXPECT_TRUE(server.seesEnd());
    }
    waitUntil([] { return false; }, 50);
    // Our own close is never reported as the player closing, nor at all.
    for (const Seen& s : owner.events)
        EXPECT_EQ(s.type, kLinkData);
}

TEST(TcpClientTest, ConnectOnConnectedLinkClosesTheOldConnectionFirst)
{
    TestServer first;
    TestServer second;
    Owner owner;
    CTCPClient link;
    link.setOwner(owner.window.handle());
    ASSERT_TRUE(link.Connect(kLoopback, first.port()));
    ASSERT_TRUE(first.accept());
    ASSERT_TRUE(link.Connect(kLoopback, second.port()));
    ASSERT_TRUE(second.accept());
    EXPECT_TRUE(first.seesEnd());
    EXPECT_EQ(link.Port(), second.port());
    ASSERT_TRUE(link.Send(QByteArray("to second")));
    EXPECT_EQ(second.read(9), QByteArray("to second"));
    // And a failed connect leaves nothing connected behind.
    uint16_t deadPort;
    {
        TestServer gone;
        deadPort = gone.port();
    }
    EXPECT_FALSE(link.Connect(kLoopback, deadPort));
    EXPECT_FALSE(link.IsConnected());
    EXPECT_TRUE(second.seesEnd());
    waitUntil([] { return false; }, 50);
    EXPECT_FALSE(owner.saw(kLinkPeerClosed));
}

TEST(TcpClientTest, CloseFromInsideItsOwnHandler)
{
    enum class Where { Data, PeerClosed };
    for (Where where : {Where::Data, Where::PeerClosed}) {
        TestServer server;
        Owner owner;
        CTCPClient link;
        link.setOwner(owner.window.handle());
        const int before = threadCount();
        ASSERT_TRUE(link.Connect(kLoopback, server.port()));
        ASSERT_TRUE(server.accept());
        int closes = 0;
        owner.hook = [&](const LinkEvent& e) {
            if ((where == Where::Data && e.type == kLinkData) || (where == Where::PeerClosed && e.type == kLinkPeerClosed)) {
                link.Close();
                link.Close();
                ++closes;
                EXPECT_FALSE(link.IsConnected());
                // Reconnecting from here cannot finish the old threads.
                EXPECT_FALSE(link.Connect(kLoopback, server.port()));
            }
        };
        if (where == Where::Data)
            ASSERT_TRUE(server.write("data"));
        else
            server.closeConnection();
        ASSERT_TRUE(waitUntil([&] { return closes == 1; }));
        waitUntil([] { return false; }, 100);
        // Nothing after the owner's close: no 7 for our own close, no 8.
        EXPECT_EQ(owner.events.size(), 1u);
        EXPECT_FALSE(link.IsConnected());
        owner.hook = nullptr;

        // The deferred threads are finished by the next connect.
        ASSERT_TRUE(link.Connect(kLoopback, server.port()));
        ASSERT_TRUE(server.accept());
        EXPECT_EQ(threadCount(), before + 2);
        ASSERT_TRUE(server.write("again"));
        ASSERT_TRUE(waitUntil([&] { return owner.data.endsWith("again"); }));
        link.Close();
        EXPECT_EQ(threadCount(), before);
    }
}

TEST(TcpClientTest, DestroyedFromInsideItsOwnHandler)
{
    TestServer server;
    Owner owner;
    auto* link = new CTCPClient;
    link->setOwner(owner.window.handle());
    const int before = threadCount();
    ASSERT_TRUE(link->Connect(kLoopback, server.port()));
    ASSERT_TRUE(server.accept());
    owner.hook = [&](const LinkEvent&) {
        delete link;
        link = nullptr;
    };
    ASSERT_TRUE(server.write("bye"));
    ASSERT_TRUE(waitUntil([&] { return link == nullptr; }));
    // Its threads finish on their own.
    EXPECT_TRUE(waitUntil([&] { return threadCount() == before; }, 3000));
    EXPECT_TRUE(server.seesEnd());
}

TEST(TcpClientTest, EventsForAClosedOwnerWindowAreDropped)
{
    TestServer server;
    CTCPClient link;
    {
        platform::MessageWindow gone(QStringLiteral("closed owner"));
        link.setOwner(gone.handle());
    }
    ASSERT_TRUE(link.Connect(kLoopback, server.port()));
    ASSERT_TRUE(server.accept());
    ASSERT_TRUE(server.write("unheard"));
    server.closeConnection();
    // The peer close still ends the link, with nobody to tell.
    EXPECT_TRUE(waitUntil([&] { return !link.IsRunning(); }));
    // Destroyed without Close: the destructor finishes the threads.
}

TEST(TcpClientTest, InvalidPacketsAreRefused)
{
    TestServer server;
    CTCPClient link;
    ASSERT_TRUE(link.Connect(kLoopback, server.port()));
    EXPECT_FALSE(link.Send(QByteArray()));
    EXPECT_FALSE(link.Send(nullptr, 10));
    EXPECT_FALSE(link.Send(QByteArray(qsizetype(CTCPClient::kBufferSize + 1), 'x')));
    const QByteArray most(qsizetype(CTCPClient::kBufferSize), 'y');
    EXPECT_TRUE(link.Send(reinterpret_cast<const uint8_t*>(most.constData()), most.size()));
    ASSERT_TRUE(server.accept());
    const QByteArray got = server.read(most.size(), 30000);
    EXPECT_EQ(got.size(), most.size());
    EXPECT_TRUE(got == most);
}

// Against the simulated player: a large packet to a slowly reading player
// arrives whole and in order behind a small one queued just before it, and
// both replies come back through the link and the reply assembler.
TEST(TcpClientTest, LargePacketToSlowPlayerArrivesWholeBehindQueuedSmallOne)
{
    sim::PlayerSim player;
    player.registerCommand(proto::CMD_MATERIAL, [](sim::PlayerSim&, const sim::Request& r) {
        sim::Reply reply;
        reply.header.command = proto::CMD_MATERIAL;
        reply.header.subCode = r.header.subCode;
        reply.payload = QByteArray::number(r.payload.size());
        return std::vector<sim::Reply>{reply};
    });
    ASSERT_TRUE(player.start());
    player.setReadPause(1);

    Owner owner;
    ReplyAssembler assembler;
    std::vector<std::pair<uint8_t, QByteArray>> replies;
    owner.hook = [&](const LinkEvent& e) {
        if (e.type == kLinkData)
            assembler.feed(e.peerAddress, e.port, e.linkIndex, e.data, e.length, [&](const ReplyAssembler& a) {
                replies.emplace_back(a.header.subCode, a.payloadBytes());
            });
    };
    CTCPClient link;
    link.setOwner(owner.window.handle());
    ASSERT_TRUE(link.Connect(kLoopback, player.tcpPort()));

    proto::PlayerPacketHeader small;
    small.command = proto::CMD_MATERIAL;
    small.subCode = 0;
    const QByteArray smallPayload = pattern(256, 3);
    proto::PlayerPacketHeader large = small;
    large.subCode = 1;
    const QByteArray largePayload = pattern(9 * 1000 * 1000, 4);
    const QByteArray smallPacket = proto::buildPacket(small, smallPayload);
    const QByteArray largePacket = proto::buildPacket(large, largePayload);
    const QByteArray second = proto::buildPacket(small, QByteArray("after"));
    ASSERT_TRUE(link.Send(reinterpret_cast<const uint8_t*>(smallPacket.constData()), smallPacket.size()));
    ASSERT_TRUE(link.Send(largePacket));
    ASSERT_TRUE(link.Send(second));
    EXPECT_GE(link.QueuedPackets(), 1u);

    ASSERT_TRUE(waitUntil([&] { return replies.size() == 3; }, 30000)) << replies.size();
    EXPECT_EQ(replies[0], std::make_pair(uint8_t(0), QByteArray("256")));
    EXPECT_EQ(replies[1], std::make_pair(uint8_t(1), QByteArray::number(9 * 1000 * 1000)));
    EXPECT_EQ(replies[2], std::make_pair(uint8_t(0), QByteArray("5")));
    EXPECT_EQ(link.QueuedPackets(), 0u);

    const auto log = player.log();
    std::vector<QByteArray> requests;
    for (const auto& entry : log)
        if (entry.incoming)
            requests.push_back(entry.payload);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_TRUE(requests[0] == smallPayload);
    EXPECT_TRUE(requests[1] == largePayload);
    EXPECT_EQ(requests[2], QByteArray("after"));

    // The player going away is seen as 7 then 8.
    player.dropConnections();
    ASSERT_TRUE(waitUntil([&] { return owner.saw(kLinkReceiverEnded); }));
    EXPECT_EQ(owner.controlTypes(), (std::vector<uint16_t>{kLinkPeerClosed, kLinkReceiverEnded}));
    player.stop();
}

}  // namespace
