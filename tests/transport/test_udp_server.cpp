// The UDP endpoint over loopback only (127.0.0.1 and the loopback broadcast
// 127.255.255.255).
#include "platform/messages.h"
#include "platform/window.h"
#include "tests/support/test_support.h"
#include "transport/udp_server.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <netinet/in.h>

#include <cerrno>
#include <memory>

namespace {

using testsupport::freeUdpPort;
using testsupport::UdpPeer;
using testsupport::waitUntil;

const QString kLoopback = QStringLiteral("127.0.0.1");

struct Seen {
    uint16_t type = 0;
    uint16_t error = 0;
    QByteArray bytes;  // `length` bytes
    QByteArray tail;   // the 64 bytes after them
    QString source;
    uint16_t sourcePort = 0;
    QString local;
};

class UdpServerTest : public ::testing::Test {
protected:
    UdpServerTest() : window_(QStringLiteral("udp endpoint test owner"))
    {
        window_.onMessage(platform::WM_UDP_EVENT, [this](platform::WPARAM wParam, platform::LPARAM lParam) {
            EXPECT_EQ(wParam, 0u);
            const auto* e = reinterpret_cast<const UdpLinkEvent*>(lParam);
            Seen s{e->type, e->error, {}, {}, e->sourceText(), e->sourcePort, e->localText()};
            if (e->data) {
                s.bytes = QByteArray(reinterpret_cast<const char*>(e->data), int(e->length));
                s.tail = QByteArray(reinterpret_cast<const char*>(e->data) + e->length, 64);
            }
            seen_.push_back(s);
            if (onEvent_)
                onEvent_(s);
            return platform::LRESULT(1);
        });
    }

    // Opens `endpoint` on 127.0.0.1 and a free port, which it returns (0 on failure).
    uint16_t open(CUDPServer& endpoint)
    {
        endpoint.setOwner(window_.handle());
        const uint16_t port = freeUdpPort();
        return endpoint.Open(kLoopback, port) ? port : 0;
    }

    // Pumps the event loop for `ms` (to see that nothing more arrives).
    static void pump(int ms) { waitUntil([] { return false; }, ms); }

    platform::MessageWindow window_;
    std::vector<Seen> seen_;
    std::function<void(const Seen&)> onEvent_;
};

TEST_F(UdpServerTest, DeliversExactLengthsZeroedTailsAndEmptyDatagrams)
{
    CUDPServer endpoint;
    const uint16_t port = open(endpoint);
    ASSERT_NE(port, 0) << endpoint.LastError().toStdString();
    EXPECT_TRUE(endpoint.IsOpen());
    EXPECT_EQ(endpoint.LocalPort(), port);
    EXPECT_EQ(endpoint.LocalAddress(), kLoopback);

    // A short datagram after a long one must not show the long one's bytes;
    // an empty one is its own event type and the receiver goes on.
    const QByteArray sent[] = {QByteArray(200, char(0xFF)), QByteArray(10, 'x'), QByteArray(), QByteArray("abc")};
    UdpPeer peer;
    for (const QByteArray& bytes : sent) {
        const std::size_t before = seen_.size();
        ASSERT_TRUE(peer.sendTo(port, bytes));
        ASSERT_TRUE(waitUntil([&] { return seen_.size() > before; }));
        const Seen& s = seen_.back();
        EXPECT_EQ(s.type, bytes.isEmpty() ? kUdpEmptyDatagram : kUdpDatagram);
        EXPECT_EQ(s.bytes, bytes);
        EXPECT_EQ(s.tail, bytes.isEmpty() ? s.tail : QByteArray(64, '\0'));
        EXPECT_EQ(s.source, kLoopback);
        EXPECT_EQ(s.sourcePort, peer.port());
        EXPECT_EQ(s.local, kLoopback);
    }
}

TEST_F(UdpServerTest, LoopbackBroadcastReachesEndpointsBoundToEveryAddress)
{
    CUDPServer sender, receiver;
    ASSERT_NE(open(sender), 0);
    const uint16_t port = open(receiver);
    ASSERT_NE(port, 0);
    ASSERT_TRUE(sender.SendTo(QStringLiteral("127.255.255.255"), port, QByteArray("who is there")));
    ASSERT_TRUE(waitUntil([&] { return !seen_.empty(); }));
    EXPECT_EQ(seen_[0].bytes, QByteArray("who is there"));
    EXPECT_EQ(seen_[0].sourcePort, sender.LocalPort());
    EXPECT_EQ(seen_[0].source, kLoopback);
}

TEST_F(UdpServerTest, TakenPortFailsNamingTheHolderAndNeverFallsBack)
{
    for (uint32_t holderAddress : {uint32_t(INADDR_ANY), uint32_t(INADDR_LOOPBACK)}) {
        SCOPED_TRACE(holderAddress);
        UdpPeer holder(holderAddress);
        ASSERT_TRUE(holder.bound());
        const uint16_t port = holder.port();
        testsupport::MessageBoxRecorder boxes;
        CUDPServer endpoint;
        endpoint.setOwner(window_.handle());
        EXPECT_FALSE(endpoint.Open(kLoopback, port));
        EXPECT_FALSE(endpoint.IsOpen());
        EXPECT_FALSE(endpoint.IsRunning());
        EXPECT_EQ(endpoint.LocalPort(), 0);
        const QString expected = QStringLiteral("Port %1 has been occupied by <test_transport>").arg(port);
        EXPECT_EQ(boxes.texts(), QStringList{expected});
        EXPECT_EQ(endpoint.LastError(), expected);
        EXPECT_FALSE(endpoint.SendTo(kLoopback, port, QByteArray("x")));
    }
}

TEST_F(UdpServerTest, RejectsBadAddressesAndDatagrams)
{
    testsupport::MessageBoxRecorder boxes;
    CUDPServer endpoint;
    EXPECT_FALSE(endpoint.SendTo(kLoopback, 5000, QByteArray("closed")));
    for (const char* address : {"300.1.1.1", "not an address", "192.0.2.77" /* on no card of this host */}) {
        EXPECT_FALSE(endpoint.Open(QString::fromLatin1(address), 0)) << address;
        EXPECT_FALSE(endpoint.LastError().isEmpty());
    }
    EXPECT_TRUE(boxes.texts().isEmpty());

    endpoint.setOwner(window_.handle());
    ASSERT_TRUE(endpoint.Open(kLoopback, 0));
    EXPECT_NE(endpoint.LocalPort(), 0);
    EXPECT_TRUE(endpoint.LastError().isEmpty());
    EXPECT_FALSE(endpoint.SendTo(kLoopback, 5000, QByteArray()));
    EXPECT_FALSE(endpoint.SendTo(kLoopback, 5000, QByteArray(int(kUdpMaxDatagram) + 1, 'a')));
    EXPECT_FALSE(endpoint.SendTo(QStringLiteral("127.0.0"), 5000, QByteArray("x")));
    EXPECT_FALSE(endpoint.SendTo(kLoopback, 0, QByteArray("x")));
    EXPECT_TRUE(endpoint.SendTo(kLoopback, 5000, QByteArray(int(kUdpMaxDatagram), 'a')));
}

TEST_F(UdpServerTest, ReopenOnTheSamePortAndCloseWhileIdle)
{
    CUDPServer endpoint;
    const uint16_t port = open(endpoint);
    ASSERT_NE(port, 0);
    // Open on an open endpoint: still one receiver.
    ASSERT_TRUE(endpoint.Open(kLoopback, port)) << endpoint.LastError().toStdString();
    UdpPeer peer;
    ASSERT_TRUE(peer.sendTo(port, QByteArray("once")));
    ASSERT_TRUE(waitUntil([&] { return !seen_.empty(); }));
    pump(100);
    EXPECT_EQ(seen_.size(), 1u);

    // Closing an idle endpoint is quick, quiet, and harmless twice.
    QElapsedTimer t;
    t.start();
    endpoint.Close();
    endpoint.Close();
    EXPECT_LT(t.elapsed(), 1000);
    pump(50);
    EXPECT_EQ(seen_.size(), 1u);
    EXPECT_EQ(endpoint.LocalPort(), 0);
}

// The owner closes, reopens or destroys the endpoint from inside its event:
// no event of the closed session follows, and a reopened endpoint has one
// receiver.
TEST_F(UdpServerTest, CloseReopenOrDestroyFromInsideItsOwnEvent)
{
    enum Action { Close, Reopen, Destroy };
    for (Action action : {Close, Reopen, Destroy}) {
        SCOPED_TRACE(action);
        seen_.clear();
        auto endpoint = std::make_unique<CUDPServer>();
        const uint16_t port = open(*endpoint);
        ASSERT_NE(port, 0);
        bool reopened = false;
        onEvent_ = [&](const Seen&) {
            if (action == Destroy)
                return endpoint.reset();
            endpoint->Close();
            EXPECT_FALSE(endpoint->IsRunning());
            if (action == Reopen)
                reopened = endpoint->Open(kLoopback, port);
        };
        UdpPeer peer;
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(peer.sendTo(port, QByteArray::number(i)));
        ASSERT_TRUE(waitUntil([&] { return !seen_.empty(); }));
        pump(150);  // also lets the closed session's threads end and be joined
        onEvent_ = nullptr;
        EXPECT_EQ(seen_.size(), 1u);
        if (action != Reopen) {
            EXPECT_TRUE(UdpPeer(INADDR_ANY, port).bound());  // the port is free again at once
            continue;
        }
        ASSERT_TRUE(reopened) << endpoint->LastError().toStdString();
        for (int i = 0; i < 10; ++i)
            ASSERT_TRUE(peer.sendTo(port, QByteArray::number(i)));
        ASSERT_TRUE(waitUntil([&] { return seen_.size() == 11; }));
        pump(100);
        ASSERT_EQ(seen_.size(), 11u);
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(seen_[i + 1].bytes, QByteArray::number(i));
    }
}

TEST_F(UdpServerTest, EventsWithoutAnOwnerWindowAreDropped)
{
    CUDPServer endpoint;
    const uint16_t port = freeUdpPort();
    {
        platform::MessageWindow gone(QStringLiteral("gone"));
        endpoint.setOwner(gone.handle());
    }
    ASSERT_TRUE(endpoint.Open(kLoopback, port));
    UdpPeer peer;
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

// A burst, sent alternately to two places, arrives whole and in order at each
// (the plain socket gets fewer: its receive buffer is the kernel's default).
TEST_F(UdpServerTest, BurstToTwoPlacesArrivesWholeAndInOrder)
{
    CUDPServer a, b;
    ASSERT_NE(open(a), 0);
    const uint16_t port = open(b);
    ASSERT_NE(port, 0);
    UdpPeer peer;
    const int count = 300;
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(a.SendTo(kLoopback, port, QByteArray(46, char(i))));
        ASSERT_TRUE(i >= 100 || a.SendTo(kLoopback, peer.port(), QByteArray::number(i)));
    }
    for (int i = 0; i < 100; ++i) {
        const auto d = peer.receive();
        ASSERT_TRUE(d.has_value()) << i;
        EXPECT_EQ(d->bytes, QByteArray::number(i));
        EXPECT_EQ(d->fromPort, a.LocalPort());
    }
    ASSERT_TRUE(waitUntil([&] { return int(seen_.size()) == count; }));
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(seen_[i].bytes, QByteArray(46, char(i))) << i;
}

TEST_F(UdpServerTest, ReceiveErrorsBackOffAndEndTheLoopWhenTheyPersist)
{
    const struct {
        int errors;
        std::size_t events;  // type 6 events that reach the owner
        bool recovers;
        int minimumMs;  // the pauses between errors
    } cases[] = {
        {3, 3, true, 50 + 100},                 // a passing fault
        {50, 5, false, 50 + 100 + 200 + 400},  // a lasting fault
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.errors);
        seen_.clear();
        CUDPServer endpoint;
        QElapsedTimer t;
        t.start();
        // Before Open, so that the faults come before the first receive.
        udp_testing::injectReceiveErrors(EIO, c.errors);
        const uint16_t port = open(endpoint);
        ASSERT_NE(port, 0);
        UdpPeer peer;
        ASSERT_TRUE(peer.sendTo(port, QByteArray("wake")));
        if (c.recovers) {
            ASSERT_TRUE(waitUntil([&] { return seen_.size() == c.events + 1; }));
            EXPECT_EQ(seen_.back().bytes, QByteArray("wake"));
            EXPECT_TRUE(endpoint.IsOpen());
        } else {
            ASSERT_TRUE(waitUntil([&] { return !endpoint.IsOpen(); }));
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
    }
}

TEST(UdpAdapters, LocalListsNeverHideLoopbackAndAdaptersNeverShowIt)
{
    QStringList addresses{QStringLiteral("left alone on failure only")};
    ASSERT_TRUE(GetLocalIPv4List(addresses));
    EXPECT_TRUE(addresses.contains(kLoopback));
    EXPECT_FALSE(addresses.contains(QStringLiteral("left alone on failure only")));
    // Loopback addresses come after all others.
    bool seenLoopback = false;
    for (const QString& a : addresses) {
        seenLoopback = seenLoopback || a.startsWith(QLatin1String("127."));
        EXPECT_EQ(seenLoopback, a.startsWith(QLatin1String("127."))) << a.toStdString();
    }

    std::vector<NetworkAdapter> adapters{{QStringLiteral("stale"), QStringLiteral("1.2.3.4"), 0}};
    GetNetworkAdapters(adapters);
    for (const auto& adapter : adapters) {
        EXPECT_NE(adapter.name, QStringLiteral("stale"));
        EXPECT_NE(adapter.name, QStringLiteral("lo"));
        EXPECT_FALSE(adapter.address.startsWith(QLatin1String("127.")));
        EXPECT_NE(adapter.address, QStringLiteral("0.0.0.0"));
    }
}

}  // namespace
