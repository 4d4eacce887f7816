// The UDP endpoint over loopback only (127.0.0.1 and the loopback broadcast
// 127.255.255.255).
#include "platform/messages.h"
#include "platform/window.h"
#include "tests/support/test_support.h"
#include "transport/udp_server.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <vector>

namespace {

using testsupport::waitUntil;

struct Seen {
    uint16_t type = 0;
    uint16_t error = 0;
    QByteArray bytes;      // `length` bytes
    QByteArray tail;       // the 64 bytes after them
    QString source;
    uint16_t sourcePort = 0;
    QString local;
};

// A plain socket for the other side of the conversation.
class RawSocket {
public:
    explicit RawSocket(uint32_t bindHost = INADDR_LOOPBACK, uint16_t port = 0)
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(bindHost);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        timeval tv{0, 200000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~RawSocket() { ::close(fd_); }
    bool bound() const { return bound_; }
    uint16_t port() const
    {
        sockaddr_in a{};
        socklen_t n = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
        return ntohs(a.sin_port);
    }
    bool sendTo(uint16_t port, const QByteArray& bytes, uint32_t host = INADDR_LOOPBACK) const
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(host);
        return ::sendto(fd_, bytes.constData(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
               bytes.size();
    }
    // One datagram, or an empty array after the 200 ms receive time-out.
    QByteArray receive(uint16_t* fromPort = nullptr) const
    {
        char buffer[2048];
        sockaddr_in from{};
        socklen_t n = sizeof from;
        const ssize_t got = ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &n);
        if (fromPort)
            *fromPort = ntohs(from.sin_port);
        return got > 0 ? QByteArray(buffer, int(got)) : QByteArray();
    }

private:
    int fd_ = -1;
    bool bound_ = false;
};

// A port that was free on every address a moment ago.
uint16_t freePort()
{
    RawSocket probe(INADDR_ANY, 0);
    return probe.port();
}

class UdpServerTest : public ::testing::Test {
protected:
    UdpServerTest() : window_(QStringLiteral("udp endpoint test owner"))
    {
        window_.onMessage(platform::WM_UDP_EVENT, [this](platform::WPARAM wParam, platform::LPARAM lParam) {
            EXPECT_EQ(wParam, 0u);
            const auto* e = reinterpret_cast<const UdpLinkEvent*>(lParam);
            Seen s;
            s.type = e->type;
            s.error = e->error;
            if (e->data) {
                s.bytes = QByteArray(reinterpret_cast<const char*>(e->data), int(e->length));
                s.tail = QByteArray(reinterpret_cast<const char*>(e->data) + e->length, 64);
            }
            s.source = e->sourceText();
            s.sourcePort = e->sourcePort;
            s.local = e->localText();
            seen_.push_back(s);
            if (onEvent_)
                onEvent_(s);
            return platform::LRESULT(1);
        });
    }

    bool openEndpoint(CUDPServer& endpoint, uint16_t port)
    {
        endpoint.setOwner(window_.handle());
        return endpoint.Open(QStringLiteral("127.0.0.1"), port);
    }

    // Pumps the event loop for `ms` (to see that nothing more arrives).
    static void pump(int ms)
    {
        QElapsedTimer t;
        t.start();
        waitUntil([&] { return t.elapsed() >= ms; }, ms + 1000);
    }

    platform::MessageWindow window_;
    std::vector<Seen> seen_;
    std::function<void(const Seen&)> onEvent_;
};

TEST_F(UdpServerTest, DeliversDatagramsWithSourceAndExactLength)
{
    CUDPServer endpoint;
    const uint16_t port = freePort();
    ASSERT_TRUE(openEndpoint(endpoint, port)) << endpoint.LastError().toStdString();
    EXPECT_TRUE(endpoint.IsOpen());
    EXPECT_EQ(endpoint.LocalPort(), port);
    EXPECT_EQ(endpoint.LocalAddress(), QStringLiteral("127.0.0.1"));

    RawSocket peer;
    ASSERT_TRUE(peer.sendTo(port, QByteArray("hello")));
    ASSERT_TRUE(waitUntil([&] { return !seen_.empty(); }));
    EXPECT_EQ(seen_[0].type, kUdpDatagram);
    EXPECT_EQ(seen_[0].bytes, QByteArray("hello"));
    EXPECT_EQ(seen_[0].source, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(seen_[0].sourcePort, peer.port());
    EXPECT_EQ(seen_[0].local, QStringLiteral("127.0.0.1"));
}

TEST_F(UdpServerTest, ShortDatagramAfterLongOneReadsZeroesNotStaleBytes)
{
    CUDPServer endpoint;
    const uint16_t port = freePort();
    ASSERT_TRUE(openEndpoint(endpoint, port));
    RawSocket peer;
    ASSERT_TRUE(peer.sendTo(port, QByteArray(200, char(0xFF))));
    ASSERT_TRUE(waitUntil([&] { return seen_.size() == 1; }));
    ASSERT_TRUE(peer.sendTo(port, QByteArray(10, 'x')));
    ASSERT_TRUE(waitUntil([&] { return seen_.size() == 2; }));
    EXPECT_EQ(seen_[1].bytes, QByteArray(10, 'x'));
    EXPECT_EQ(seen_[1].tail, QByteArray(64, '\0'));
}

TEST_F(UdpServerTest, EmptyDatagramGivesTypeSevenAndTheReceiverGoesOn)
{
    CUDPServer endpoint;
    const uint16_t port = freePort();
    ASSERT_TRUE(openEndpoint(endpoint, port));
    RawSocket peer;
    ASSERT_TRUE(peer.sendTo(port, QByteArray()));
    ASSERT_TRUE(peer.sendTo(port, QByteArray("abc")));
    ASSERT_TRUE(waitUntil([&] { return seen_.size() == 2; }));
    EXPECT_EQ(seen_[0].type, kUdpEmptyDatagram);
    EXPECT_EQ(seen_[0].bytes.size(), 0);
    EXPECT_EQ(seen_[1].type, kUdpDatagram);
    EXPECT_EQ(seen_[1].bytes, QByteArray("abc"));
}

TEST_F(UdpServerTest, SendsEachDatagramToItsOwnAddressAndPortInOrder)
{
    CUDPServer endpoint;
    ASSERT_TRUE(openEndpoint(endpoint, freePort()));
    RawSocket first;
    RawSocket second;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(endpoint.SendTo(QStringLiteral("127.0.0.1"), first.port(), QByteArray::number(i)));
        ASSERT_TRUE(endpoint.SendTo(QStringLiteral("127.0.0.1"), second.port(), QByteArray::number(100 + i)));
    }
    for (int i = 0; i < 20; ++i) {
        uint16_t from = 0;
        EXPECT_EQ(first.receive(&from), QByteArray::number(i));
        EXPECT_EQ(from, endpoint.LocalPort());
        EXPECT_EQ(second.receive(), QByteArray::number(100 + i));
    }
}

TEST_F(UdpServerTest, LoopbackBroadcastReachesEndpointsBoundToEveryAddress)
{
    CUDPServer sender;
    CUDPServer receiver;
    ASSERT_TRUE(openEndpoint(sender, freePort()));
    const uint16_t port = freePort();
    ASSERT_TRUE(openEndpoint(receiver, port));
    ASSERT_TRUE(sender.SendTo(QStringLiteral("127.255.255.255"), port, QByteArray("who is there")));
    ASSERT_TRUE(waitUntil([&] { return !seen_.empty(); }));
    EXPECT_EQ(seen_[0].bytes, QByteArray("who is there"));
    EXPECT_EQ(seen_[0].sourcePort, sender.LocalPort());
    EXPECT_EQ(seen_[0].source, QStringLiteral("127.0.0.1"));
}

TEST_F(UdpServerTest, TakenPortFailsNamingTheHolderAndNeverFallsBack)
{
    struct Case {
        const char* name;
        uint32_t holderAddress;
    };
    const Case cases[] = {{"held on every address", INADDR_ANY}, {"held on loopback only", INADDR_LOOPBACK}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawSocket holder(c.holderAddress, 0);
        ASSERT_TRUE(holder.bound());
        const uint16_t port = holder.port();
        testsupport::MessageBoxRecorder boxes;
        CUDPServer endpoint;
        EXPECT_FALSE(openEndpoint(endpoint, port));
        EXPECT_FALSE(endpoint.IsOpen());
        EXPECT_FALSE(endpoint.IsRunning());
        EXPECT_EQ(endpoint.LocalPort(), 0);
        const QString expected = QStringLiteral("Port %1 has been occupied by <test_transport>").arg(port);
        ASSERT_EQ(boxes.texts().size(), 1);
        EXPECT_EQ(boxes.texts()[0], expected);
        EXPECT_EQ(endpoint.LastError(), expected);
        EXPECT_FALSE(endpoint.SendTo(QStringLiteral("127.0.0.1"), port, QByteArray("x")));
    }
}

TEST_F(UdpServerTest, RejectsBadAddressesAndDatagrams)
{
    testsupport::MessageBoxRecorder boxes;
    CUDPServer endpoint;
    EXPECT_FALSE(endpoint.SendTo(QStringLiteral("127.0.0.1"), 5000, QByteArray("closed")));
    EXPECT_FALSE(endpoint.Open(QStringLiteral("300.1.1.1"), 0));
    EXPECT_FALSE(endpoint.LastError().isEmpty());
    EXPECT_FALSE(endpoint.Open(QStringLiteral("not an address"), 0));
    EXPECT_FALSE(endpoint.Open(QStringLiteral("192.0.2.77"), 0));  // on no card of this host
    EXPECT_TRUE(boxes.texts().isEmpty());

    ASSERT_TRUE(openEndpoint(endpoint, 0));
    EXPECT_NE(endpoint.LocalPort(), 0);
    EXPECT_TRUE(endpoint.LastError().isEmpty());
    const struct {
        const char* name;
        QString address;
        uint16_t port;
        QByteArray bytes;
    } bad[] = {
        {"empty datagram", QStringLiteral("127.0.0.1"), 5000, QByteArray()},
        {"too long", QStringLiteral("127.0.0.1"), 5000, QByteArray(int(kUdpMaxDatagram) + 1, 'a')},
        {"no address", QStringLiteral("127.0.0"), 5000, QByteArray("x")},
        {"port 0", QStringLiteral("127.0.0.1"), 0, QByteArray("x")},
    };
    for (const auto& b : bad)
        EXPECT_FALSE(endpoint.SendTo(b.address, b.port, b.bytes)) << b.name;
    EXPECT_TRUE(endpoint.SendTo(QStringLiteral("127.0.0.1"), 5000, QByteArray(int(kUdpMaxDatagram), 'a')));
}

TEST_F(UdpServerTest, OpenOnAnOpenEndpointReopensOnTheSamePort)
{
    CUDPServer endpoint;
    const uint16_t port = freePort();
    ASSERT_TRUE(openEndpoint(endpoint, port));
    ASSERT_TRUE(openEndpoint(endpoint, port)) << endpoint.LastError().toStdString();
    RawSocket peer;
    ASSERT_TRUE(peer.sendTo(port, QByteArray("once")));
    ASSERT_TRUE(waitUntil([&] { return !seen_.empty(); }));
    pump(100);
    EXPECT_EQ(seen_.size(), 1u);
}

TEST_F(UdpServerTest, CloseAndReopenFromInsideItsOwnEventLeavesOneReceiver)
{
    CUDPServer endpoint;
    const uint16_t port = freePort();
    ASSERT_TRUE(openEndpoint(endpoint, port));
    bool reopened = false;
    onEvent_ = [&](const Seen& s) {
        if (s.bytes == "reopen") {
            endpoint.Close();
            EXPECT_FALSE(endpoint.IsRunning());
            reopened = endpoint.Open(QStringLiteral("127.0.0.1"), port);
        }
    };
    RawSocket peer;
    ASSERT_TRUE(peer.sendTo(port, QByteArray("reopen")));
    ASSERT_TRUE(waitUntil([&] { return !seen_.empty(); }));
    EXPECT_TRUE(reopened) << endpoint.LastError().toStdString();
    onEvent_ = nullptr;
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(peer.sendTo(port, QByteArray::number(i)));
    ASSERT_TRUE(waitUntil([&] { return seen_.size() == 11; }));
    pump(100);
    ASSERT_EQ(seen_.size(), 11u);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(seen_[i + 1].bytes, QByteArray::number(i));
}

TEST_F(UdpServerTest, CloseFromHandlerStopsFurtherEvents)
{
    CUDPServer endpoint;
    const uint16_t port = freePort();
    ASSERT_TRUE(openEndpoint(endpoint, port));
    onEvent_ = [&](const Seen&) { endpoint.Close(); };
    RawSocket peer;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(peer.sendTo(port, QByteArray::number(i)));
    ASSERT_TRUE(waitUntil([&] { return !seen_.empty(); }));
    pump(150);
    EXPECT_EQ(seen_.size(), 1u);
    EXPECT_FALSE(endpoint.IsOpen());
    // The port is free again at once.
    RawSocket again(INADDR_ANY, port);
    EXPECT_TRUE(again.bound());
}

TEST_F(UdpServerTest, EndpointDestroyedInsideItsOwnEvent)
{
    auto endpoint = std::make_unique<CUDPServer>();
    const uint16_t port = freePort();
    ASSERT_TRUE(openEndpoint(*endpoint, port));
    onEvent_ = [&](const Seen&) { endpoint.reset(); };
    RawSocket peer;
    ASSERT_TRUE(peer.sendTo(port, QByteArray("bye")));
    ASSERT_TRUE(waitUntil([&] { return endpoint == nullptr; }));
    pump(100);  // lets the closed session's threads end and be joined
    EXPECT_EQ(seen_.size(), 1u);
}

TEST_F(UdpServerTest, CloseWhileIdleEndsWithoutAnEventAndTwiceIsHarmless)
{
    CUDPServer endpoint;
    const uint16_t port = freePort();
    ASSERT_TRUE(openEndpoint(endpoint, port));
    QElapsedTimer t;
    t.start();
    endpoint.Close();
    endpoint.Close();
    EXPECT_LT(t.elapsed(), 1000);
    pump(50);
    EXPECT_TRUE(seen_.empty());
    EXPECT_EQ(endpoint.LocalPort(), 0);
}

TEST_F(UdpServerTest, EventsWithoutAnOwnerWindowAreDropped)
{
    CUDPServer endpoint;
    const uint16_t port = freePort();
    {
        platform::MessageWindow gone(QStringLiteral("gone"));
        endpoint.setOwner(gone.handle());
    }
    ASSERT_TRUE(endpoint.Open(QStringLiteral("127.0.0.1"), port));
    RawSocket peer;
    ASSERT_TRUE(peer.sendTo(port, QByteArray("nobody")));
    pump(100);
    EXPECT_TRUE(endpoint.IsOpen());
    // Found by caption instead once a window with that caption exists.
    endpoint.setOwner(0);
    endpoint.setOwnerTitle(window_.caption());
    ASSERT_TRUE(peer.sendTo(port, QByteArray("you")));
    ASSERT_TRUE(waitUntil([&] { return !seen_.empty(); }));
    EXPECT_EQ(seen_[0].bytes, QByteArray("you"));
}

TEST_F(UdpServerTest, BurstArrivesWholeAndInOrder)
{
    CUDPServer a;
    CUDPServer b;
    ASSERT_TRUE(openEndpoint(a, freePort()));
    const uint16_t port = freePort();
    ASSERT_TRUE(openEndpoint(b, port));
    const int count = 300;
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(a.SendTo(QStringLiteral("127.0.0.1"), port, QByteArray(46, char(i))));
    ASSERT_TRUE(waitUntil([&] { return int(seen_.size()) == count; }));
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(seen_[i].bytes, QByteArray(46, char(i))) << i;
}

TEST_F(UdpServerTest, ReceiveErrorsBackOffAndEndTheLoopWhenTheyPersist)
{
    const struct {
        const char* name;
        int errors;
        std::size_t events;  // type 6 events that reach the owner
        bool recovers;
        int minimumMs;  // the pauses between errors
    } cases[] = {
        {"a passing fault", 3, 3, true, 50 + 100},
        {"a lasting fault", 50, 5, false, 50 + 100 + 200 + 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        seen_.clear();
        CUDPServer endpoint;
        const uint16_t port = freePort();
        QElapsedTimer t;
        t.start();
        // Before Open, so that the faults come before the first receive.
        udp_testing::injectReceiveErrors(EIO, c.errors);
        ASSERT_TRUE(openEndpoint(endpoint, port));
        RawSocket peer;
        ASSERT_TRUE(peer.sendTo(port, QByteArray("wake")));
        if (c.recovers) {
            ASSERT_TRUE(waitUntil([&] { return seen_.size() == c.events + 1; }));
            EXPECT_EQ(seen_.back().bytes, QByteArray("wake"));
            EXPECT_TRUE(endpoint.IsOpen());
        } else {
            ASSERT_TRUE(waitUntil([&] { return !endpoint.IsOpen(); }, 5000));
            ASSERT_TRUE(peer.sendTo(port, QByteArray("unheard")));
            pump(100);
            EXPECT_EQ(seen_.size(), c.events);
        }
        udp_testing::injectReceiveErrors(0, 0);
        EXPECT_GE(t.elapsed(), c.minimumMs);
        for (std::size_t i = 0; i < c.events; ++i) {
            EXPECT_EQ(seen_[i].type, kUdpReceiveError);
            EXPECT_EQ(seen_[i].error, EIO);
            EXPECT_EQ(seen_[i].sourcePort, 0);
        }
        endpoint.Close();
    }
}

TEST(UdpAdapters, LocalListsNeverHideLoopbackAndAdaptersNeverShowIt)
{
    QStringList addresses{QStringLiteral("left alone on failure only")};
    ASSERT_TRUE(GetLocalIPv4List(addresses));
    EXPECT_TRUE(addresses.contains(QStringLiteral("127.0.0.1")));
    EXPECT_FALSE(addresses.contains(QStringLiteral("left alone on failure only")));
    // Loopback addresses come after all others.
    bool seenLoopback = false;
    for (const QString& a : addresses) {
        if (a.startsWith(QLatin1String("127.")))
            seenLoopback = true;
        else
            EXPECT_FALSE(seenLoopback) << a.toStdString();
    }

    std::vector<NetworkAdapter> adapters{{QStringLiteral("stale"), QStringLiteral("1.2.3.4"), 0}};
    GetNetworkAdapters(adapters);
    for (const auto& adapter : adapters) {
        EXPECT_NE(adapter.name, QStringLiteral("stale"));
        EXPECT_FALSE(adapter.address.startsWith(QLatin1String("127.")));
        EXPECT_NE(adapter.address, QStringLiteral("0.0.0.0"));
        EXPECT_NE(adapter.name, QStringLiteral("lo"));
    }
}

}  // namespace
