// End-to-end tests of the TCP link over loopback: against a peer driven by
// the test, and against the simulated player.
#include "transport/tcp_client.h"

#include "platform/messages.h"
#include "player/player_sim.h"
#include "tests/support/small_link_buffers.h"
#include "tests/support/test_support.h"
#include "transport/chunk_source.h"
#include "transport/records.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace {

using testsupport::randomBytes;
using testsupport::TcpListener;
using testsupport::TcpPeer;
using testsupport::waitUntil;

const QString kLoopback = QStringLiteral("127.0.0.1");

// The link's own threads (they carry names), so that threads the runtime
// starts on its own (a sanitizer's, Qt's) do not count.
int threadCount()
{
    int count = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("link-"))
            ++count;
    }
    return count;
}

// A loopback port that was bound and released: nobody listens there.
uint16_t deadPort()
{
    return TcpListener().port();
}

// Records every event of the link it owns and runs an optional hook inside
// the handler.
struct Owner {
    platform::MessageWindow window{QStringLiteral("link test owner")};
    std::vector<LinkEvent> events;  // without their data pointers
    QByteArray data;                // all type-5 bytes, in order
    std::function<void(const LinkEvent&)> hook;

    Owner()
    {
        window.onMessage(platform::WM_TCP_EVENT, [this](platform::WPARAM w, platform::LPARAM l) {
            EXPECT_TRUE(platform::isUiThread());
            const auto& e = *reinterpret_cast<const LinkEvent*>(l);
            EXPECT_EQ(w, platform::WPARAM(e.linkIndex));
            events.push_back(e);
            events.back().data = nullptr;
            if (e.type == kLinkData)
                data.append(reinterpret_cast<const char*>(e.data), qsizetype(e.length));
            if (hook)
                hook(e);
            return platform::LRESULT(1);
        });
    }
    // Types other than data, in order.
    std::vector<uint16_t> controlTypes() const
    {
        std::vector<uint16_t> out;
        for (const LinkEvent& e : events)
            if (e.type != kLinkData)
                out.push_back(e.type);
        return out;
    }
    bool saw(uint16_t type) const
    {
        return std::any_of(events.begin(), events.end(), [type](const LinkEvent& e) { return e.type == type; });
    }
};

// A link owned by `owner`, and the peer it talks to.
class TcpClientTest : public ::testing::Test {
protected:
    void SetUp() override { link.setOwner(owner.window.handle()); }
    // Hooks see the test's own variables, which are gone by now.
    void TearDown() override { owner.hook = nullptr; }
    // Connects the link and takes the peer's end into `peer`.
    void connectPeer()
    {
        ASSERT_TRUE(link.Connect(kLoopback, server.port()));
        peer = server.accept();
        ASSERT_TRUE(peer);
    }
    // Connects, sends `tag` both ways and closes twice; the link's two
    // threads come with the connection and are gone after it, leaving
    // `threadsBefore`.
    void roundTrip(const QByteArray& tag, int threadsBefore)
    {
        ASSERT_NO_FATAL_FAILURE(connectPeer());
        // A thread names itself once it runs, and a close that found the
        // receiver inside its handler lets it finish on its own: poll.
        EXPECT_TRUE(waitUntil([&] { return threadCount() == threadsBefore + 2; })) << threadCount();
        ASSERT_TRUE(link.Send(tag));
        EXPECT_EQ(peer->read(std::size_t(tag.size())), tag);
        ASSERT_TRUE(peer->send(tag));
        ASSERT_TRUE(waitUntil([&] { return owner.data.endsWith(tag); }));
        link.Close();
        link.Close();
        EXPECT_FALSE(link.IsConnected());
        EXPECT_TRUE(waitUntil([&] { return threadCount() == threadsBefore; })) << threadCount();
        EXPECT_TRUE(peer->seesEnd());
    }

    TcpListener server;
    std::unique_ptr<TcpPeer> peer;
    std::jthread writer;  // joined after the link has gone, so it never waits on a dead reader
    Owner owner;
    CTCPClient link;
};

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
        const char *address, *mask, *gateway;
        bool same;
    } cases[] = {
        {"192.168.1.10", "255.255.255.0", "192.168.1.1", true}, {"192.168.1.10", "255.255.255.0", "192.168.2.1", false},
        {"10.1.2.3", "255.0.0.0", "10.200.0.1", true},          {"10.1.2.3", "255.255.255.255", "10.1.2.3", true},
        {"10.1.2.3", "0.0.0.0", "172.16.0.1", true},            {"192.168.1.10", "255.255.255.0", "192.168.1", false},
        {"192.168.1.10", "bad", "192.168.1.1", false},          {"", "255.255.255.0", "192.168.1.1", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsSameSubnet(QString::fromLatin1(c.address), QString::fromLatin1(c.mask),
                               QString::fromLatin1(c.gateway)), c.same)
            << c.address << " " << c.mask << " " << c.gateway;
}

TEST_F(TcpClientTest, RefusedOrInvalidConnectFailsQuicklyWithoutThreads)
{
    const uint16_t dead = deadPort();
    const int before = threadCount();
    const struct {
        QString ip;
        uint16_t port;
    } cases[] = {
        {kLoopback, dead}, {kLoopback, 0}, {QStringLiteral("127.0.0"), dead}, {QStringLiteral("localhost"), dead},
        {kLoopback + QChar(0), dead}, {QString(), dead},
    };
    for (const auto& c : cases) {
        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(link.Connect(c.ip, c.port)) << c.ip.toStdString();
        EXPECT_LT(t.elapsed(), 1500);
        EXPECT_FALSE(link.IsConnected() || link.IsRunning());
        EXPECT_EQ(threadCount(), before);
    }
    EXPECT_FALSE(link.Send(QByteArray("x")));
    waitUntil([] { return false; }, 50);
    EXPECT_TRUE(owner.events.empty());
}

TEST_F(TcpClientTest, DataArrivesInOrderAsTypeFiveEventsThenPeerCloseGivesSevenThenEight)
{
    connectPeer();
    link.SetLinkIndex(3);
    EXPECT_TRUE(link.IsConnected() && link.IsRunning());
    EXPECT_EQ(link.PeerAddress(), kLoopback);
    EXPECT_EQ(link.Port(), server.port());

    // Written from a thread of its own, so that this thread goes on taking
    // the link's events meanwhile.
    const QByteArray bytes = randomBytes(3 * 1024 * 1024 + 17, 1);
    writer = std::jthread([this, bytes] { peer->send(bytes); });
    ASSERT_TRUE(waitUntil([&] { return owner.data.size() == bytes.size(); }));
    writer.join();
    EXPECT_TRUE(owner.data == bytes);
    // Pieces that arrive apart are reported apart, each with its length.
    for (const char* piece : {"first", "second"}) {
        const std::size_t before = owner.events.size();
        ASSERT_TRUE(peer->send(piece));
        ASSERT_TRUE(waitUntil([&] { return owner.events.size() == before + 1; }));
        EXPECT_EQ(owner.events.back().length, std::strlen(piece));
    }
    EXPECT_TRUE(owner.data.endsWith("firstsecond"));
    for (const LinkEvent& e : owner.events) {
        EXPECT_EQ(e.type, kLinkData);
        EXPECT_EQ(e.linkIndex, 3);
        EXPECT_EQ(e.peerAddress, kLoopback);
        EXPECT_EQ(e.port, server.port());
    }

    // While the player's close is being reported, the link still says who it
    // was; afterwards it is idle.
    QString peerDuringSeven;
    owner.hook = [&](const LinkEvent& e) {
        if (e.type == kLinkPeerClosed && link.IsConnected())
            peerDuringSeven = link.PeerAddress();
    };
    owner.events.clear();
    peer->close();
    ASSERT_TRUE(waitUntil([&] { return owner.saw(kLinkReceiverEnded); }));
    EXPECT_EQ(owner.controlTypes(), (std::vector<uint16_t>{kLinkPeerClosed, kLinkReceiverEnded}));
    EXPECT_EQ(owner.events.size(), 2u);
    EXPECT_EQ(peerDuringSeven, kLoopback);
    EXPECT_EQ(owner.events[0].peerAddress, kLoopback);
    EXPECT_FALSE(link.IsConnected() || link.IsRunning());
    EXPECT_TRUE(link.PeerAddress().isEmpty());
    EXPECT_EQ(link.Port(), 0);
    EXPECT_FALSE(link.Send(QByteArray("late")));
}

TEST_F(TcpClientTest, PlayerResetGivesReceiveErrorThenEight)
{
    connectPeer();
    peer->reset();
    ASSERT_TRUE(waitUntil([&] { return owner.saw(kLinkReceiverEnded); }));
    ASSERT_EQ(owner.controlTypes(), (std::vector<uint16_t>{kLinkReceiveError, kLinkReceiverEnded}));
    EXPECT_EQ(owner.events[0].error, ECONNRESET);
    EXPECT_FALSE(link.IsConnected());
}

TEST_F(TcpClientTest, WriteToResetPlayerGivesShortSendAndNoSignal)
{
    connectPeer();
    // Inside the handler of the first data the receiver is held, so the
    // sender is the one that meets the reset.
    bool sent = false;
    owner.hook = [&](const LinkEvent& e) {
        if (e.type != kLinkData || std::exchange(sent, true))
            return;
        peer->reset();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(link.Send(randomBytes(4 * 1024 * 1024, 2)));
        QElapsedTimer t;
        t.start();
        while (link.QueuedPackets() != 0 && t.elapsed() < 3000)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    ASSERT_TRUE(peer->send("hello"));
    ASSERT_TRUE(waitUntil([&] { return owner.saw(kLinkReceiverEnded); }));
    EXPECT_EQ(owner.controlTypes(), (std::vector<uint16_t>{kLinkShortSend, kLinkReceiverEnded}));
    EXPECT_FALSE(link.IsConnected() || link.IsRunning());
}

// A player that keeps the connection but reads no more: the write ends after
// the stall limit with the send-error event, and later sends are refused.
// The link's own limit, not the default: it ends before the default could
// have run out once. And its own, not every link's: a second link, stalled
// the same way with a limit far above the default, keeps waiting.
TEST_F(TcpClientTest, PeerThatStopsReadingEndsTheLinkAfterTheStallLimit)
{
    // Small buffers: a single chunk fills them, so each write stalls at once.
    testsupport::SmallLinkBuffers small;
    Owner patientOwner;
    CTCPClient patient;
    patient.setOwner(patientOwner.window.handle());
    patient.SetSendStallLimit(10 * CTCPClient::kDefaultSendStallMs);
    TcpListener patientServer(testsupport::kSmallSocketBuffer);
    ASSERT_TRUE(patient.Connect(kLoopback, patientServer.port()));
    const std::unique_ptr<TcpPeer> patientPeer = patientServer.accept();
    ASSERT_TRUE(patientPeer);
    connectPeer();
    link.SetSendStallLimit(300);
    // Both limits are set before either write starts.
    ASSERT_TRUE(patient.Send(randomBytes(CTCPClient::kBufferSize, 100)));
    // Its first bytes arrived: its write is under way, and stalls from here on.
    ASSERT_TRUE(waitUntil([&] {
        const std::optional<QByteArray> got = patientPeer->readSome(0);
        return got && !got->isEmpty();
    }));
    const QByteArray chunk = randomBytes(CTCPClient::kBufferSize, 1);
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(link.Send(chunk));
    ASSERT_TRUE(waitUntil([&] { return owner.saw(kLinkReceiverEnded); }, 4 * CTCPClient::kDefaultSendStallMs));
    // A bound the default limit cannot meet, however quick the machine; the
    // short one leaves it many times over, however slow.
    EXPECT_LT(t.elapsed(), CTCPClient::kDefaultSendStallMs);
    ASSERT_EQ(owner.controlTypes(), (std::vector<uint16_t>{kLinkShortSend, kLinkReceiverEnded}));
    EXPECT_EQ(owner.events.front().error, ETIMEDOUT);
    EXPECT_FALSE(link.IsConnected());
    EXPECT_FALSE(link.Send(QByteArray("late")));
    // The other link, given as long again and more, is still waiting.
    EXPECT_FALSE(waitUntil([&] { return !patientOwner.controlTypes().empty(); }, int(2 * t.elapsed()) + 1000));
    EXPECT_TRUE(patient.IsConnected());
    patient.Close();
}

// A peer that reads slowly is not a stalled one: every byte arrives.
TEST_F(TcpClientTest, SlowReaderWithinTheStallLimitGetsEverything)
{
    connectPeer();
    link.SetSendStallLimit(2000);
    const QByteArray bytes = randomBytes(8 * 1024 * 1024, 7);
    ASSERT_TRUE(link.Send(bytes));
    QByteArray got;
    while (got.size() < bytes.size()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const QByteArray part = peer->read(std::size_t(bytes.size() - got.size()), 50);
        if (part.isEmpty() && !link.IsRunning())
            break;
        got += part;
    }
    EXPECT_EQ(got, bytes);
    EXPECT_TRUE(link.IsConnected());
    EXPECT_TRUE(owner.controlTypes().empty());
}

// Closing the link ends the connection in order: the player reads its end,
// not a reset.
TEST_F(TcpClientTest, LocalCloseIsAnOrderlyEndForThePlayer)
{
    connectPeer();
    ASSERT_TRUE(link.Send(QByteArray("last words")));
    EXPECT_EQ(peer->read(10), QByteArray("last words"));
    link.Close();
    EXPECT_EQ(peer->waitForEnd(), TcpPeer::End::Orderly);
}

TEST_F(TcpClientTest, LocalCloseIsSilentIdempotentAndLinkReconnectsClosingTheOldConnection)
{
    const int before = threadCount();
    link.Close();  // never connected
    link.Close();
    for (const char* tag : {"first", "second", "third"})
        ASSERT_NO_FATAL_FAILURE(roundTrip(tag, before)) << tag;

    // Connecting a connected link closes the old connection first.
    connectPeer();
    TcpListener second;
    ASSERT_TRUE(link.Connect(kLoopback, second.port()));
    const auto secondPeer = second.accept();
    ASSERT_TRUE(secondPeer);
    EXPECT_TRUE(peer->seesEnd());
    EXPECT_EQ(link.Port(), second.port());
    ASSERT_TRUE(link.Send(QByteArray("to second")));
    EXPECT_EQ(secondPeer->read(9), QByteArray("to second"));
    // And a failed connect leaves nothing connected behind.
    EXPECT_FALSE(link.Connect(kLoopback, deadPort()));
    EXPECT_FALSE(link.IsConnected());
    EXPECT_TRUE(secondPeer->seesEnd());
    waitUntil([] { return false; }, 50);
    // Our own close is never reported as the player closing, nor at all.
    EXPECT_TRUE(owner.controlTypes().empty());
}

TEST_F(TcpClientTest, CloseFromInsideItsOwnHandler)
{
    const int before = threadCount();
    for (const uint16_t where : {kLinkData, kLinkPeerClosed}) {
        SCOPED_TRACE(where);
        owner.events.clear();
        owner.data.clear();
        connectPeer();
        int closes = 0;
        owner.hook = [&](const LinkEvent& e) {
            if (e.type != where)
                return;
            link.Close();
            link.Close();
            ++closes;
            EXPECT_FALSE(link.IsConnected());
            // Reconnecting from here cannot finish the old threads.
            EXPECT_FALSE(link.Connect(kLoopback, server.port()));
        };
        if (where == kLinkData)
            ASSERT_TRUE(peer->send("data"));
        else
            peer->close();
        ASSERT_TRUE(waitUntil([&] { return closes == 1; }));
        waitUntil([] { return false; }, 100);
        // Nothing after the owner's close: no 7 for our own close, no 8.
        EXPECT_EQ(owner.events.size(), 1u);
        EXPECT_FALSE(link.IsConnected());
        owner.hook = nullptr;

        // The deferred threads are finished by the next connect.
        roundTrip("again", before);
    }
}

TEST_F(TcpClientTest, DestroyedFromInsideItsOwnHandler)
{
    auto* own = new CTCPClient;
    own->setOwner(owner.window.handle());
    const int before = threadCount();
    ASSERT_TRUE(own->Connect(kLoopback, server.port()));
    peer = server.accept();
    ASSERT_TRUE(peer);
    owner.hook = [&](const LinkEvent&) { delete std::exchange(own, nullptr); };
    ASSERT_TRUE(peer->send("bye"));
    ASSERT_TRUE(waitUntil([&] { return own == nullptr; }));
    // Its threads finish on their own.
    EXPECT_TRUE(waitUntil([&] { return threadCount() == before; }));
    EXPECT_TRUE(peer->seesEnd());
}

TEST_F(TcpClientTest, EventsForAClosedOwnerWindowAreDropped)
{
    {
        platform::MessageWindow gone(QStringLiteral("closed owner"));
        link.setOwner(gone.handle());
    }
    connectPeer();
    ASSERT_TRUE(peer->send("unheard"));
    peer->close();
    // The peer close still ends the link, with nobody to tell; the link is
    // destroyed without Close, so its destructor finishes the threads.
    EXPECT_TRUE(waitUntil([&] { return !link.IsRunning(); }));
}

TEST_F(TcpClientTest, InvalidPacketsAreRefused)
{
    connectPeer();
    EXPECT_FALSE(link.Send(QByteArray()));
    EXPECT_FALSE(link.Send(nullptr, 10));
    EXPECT_FALSE(link.Send(QByteArray(qsizetype(CTCPClient::kBufferSize + 1), 'x')));
    const QByteArray most(qsizetype(CTCPClient::kBufferSize), 'y');
    EXPECT_TRUE(link.Send(reinterpret_cast<const uint8_t*>(most.constData()), most.size()));
    EXPECT_TRUE(peer->read(most.size(), 30000) == most);
}

// Against the simulated player: a large packet to a slowly reading player
// arrives whole and in order behind a small one queued just before it, and
// every reply comes back through the link and the reply assembler.
TEST_F(TcpClientTest, LargePacketToSlowPlayerArrivesWholeBehindQueuedSmallOne)
{
    const auto digest = [](const QByteArray& bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1); };
    sim::PlayerSim player;
    // Answers with the digest of what it received.
    player.registerCommand(proto::CMD_MATERIAL, [&](sim::PlayerSim&, const sim::Request& r) {
        return std::vector<sim::Reply>{{r.header, digest(r.payload)}};
    });
    ASSERT_TRUE(player.start());
    player.setReadPause(1);

    ReplyAssembler assembler;
    std::vector<std::pair<uint8_t, QByteArray>> replies;
    owner.hook = [&](const LinkEvent& e) {
        if (e.type == kLinkData)
            assembler.feed(e.peerAddress, e.port, e.linkIndex, e.data, e.length, [&](const ReplyAssembler& a) {
                replies.emplace_back(a.header.subCode, a.payloadBytes());
            });
    };
    ASSERT_TRUE(link.Connect(kLoopback, player.tcpPort()));

    // The sub-code tells the packets apart in the replies.
    const QByteArray payloads[] = {randomBytes(256, 3), randomBytes(9 * 1000 * 1000, 4), "after"};
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_MATERIAL;
    for (const QByteArray& payload : payloads) {
        ASSERT_TRUE(link.Send(proto::buildPacket(h, payload)));
        ++h.subCode;
    }
    // How many are still queued depends on the socket buffers: with nothing
    // queued, the link writes at once what the socket takes.
    EXPECT_LE(link.QueuedPackets(), 3u);

    ASSERT_TRUE(waitUntil([&] { return replies.size() == 3; }, 30000)) << replies.size();
    for (uint8_t i = 0; i < 3; ++i)
        EXPECT_EQ(replies[i], std::make_pair(i, digest(payloads[i]))) << int(i);
    EXPECT_EQ(link.QueuedPackets(), 0u);
    player.stop();
}

// A packet in two parts (a header and a mapped chunk) reaches the peer as
// one stream of bytes, in order with the packets around it; the chunk's
// owner is let go once it is written, and at once when the link closes
// with it still queued.
TEST_F(TcpClientTest, PacketInTwoPartsArrivesWholeAndLetsItsOwnerGo)
{
    connectPeer();
    const QByteArray head = randomBytes(16, 21);
    const QByteArray body = randomBytes(3 * 1000 * 1000, 22);
    auto owner = std::make_shared<int>(1);
    std::weak_ptr<int> watch = owner;
    ASSERT_TRUE(link.Send(QByteArray("before")));
    ASSERT_TRUE(link.Send(head, body, owner));
    ASSERT_TRUE(link.Send(QByteArray("after")));
    owner.reset();
    const QByteArray expected = QByteArray("before") + head + body + QByteArray("after");
    EXPECT_TRUE(peer->read(std::size_t(expected.size()), 10000) == expected);
    EXPECT_TRUE(waitUntil([&] { return link.QueuedPackets() == 0; }));
    EXPECT_TRUE(watch.expired());

    const struct { const char* name; qsizetype head, body; bool taken; } limits[] = {
        {"both empty", 0, 0, false},
        {"body alone", 0, 10, true},
        {"exactly the buffer", 16, qsizetype(CTCPClient::kBufferSize) - 16, true},
        {"one byte over the buffer", 16, qsizetype(CTCPClient::kBufferSize) - 15, false},
    };
    for (const auto& l : limits) {
        const QByteArray h(l.head, 'h'), b(l.body, 'b');
        EXPECT_EQ(link.Send(h, b, nullptr), l.taken) << l.name;
        if (l.taken) {
            EXPECT_TRUE(peer->read(std::size_t(l.head + l.body), 30000) == h + b) << l.name;
        }
    }

    // The peer stops reading: a packet still queued when the link closes
    // gives its owner back.
    link.SetSendStallLimit(60000);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(link.Send(QByteArray(qsizetype(CTCPClient::kBufferSize), 'f')));
    auto queuedOwner = std::make_shared<int>(2);
    watch = queuedOwner;
    ASSERT_TRUE(link.Send(head, body, std::move(queuedOwner)));
    EXPECT_FALSE(watch.expired());
    link.Close();
    EXPECT_TRUE(watch.expired());
}

}  // namespace

namespace {

// Two threads sending at once (the UI thread writing directly while another
// packet waits for the sender): each packet reaches the peer whole, never
// cut into by the other's bytes.
TEST_F(TcpClientTest, PacketsSentFromTwoThreadsAtOnceArriveWhole)
{
    connectPeer();
    constexpr int kPerThread = 20;
    constexpr qsizetype kSize = 1000 * 1000;  // larger than the socket takes at once
    auto send = [this](char fill) {
        for (int i = 0; i < kPerThread; ++i)
            ASSERT_TRUE(link.Send(QByteArray(kSize, fill)));
    };
    std::thread a(send, 'a'), b(send, 'b');
    const QByteArray all = peer->read(std::size_t(2 * kPerThread * kSize), 30000);
    a.join();
    b.join();
    ASSERT_EQ(all.size(), 2 * kPerThread * kSize);
    int counts[2] = {0, 0};
    for (qsizetype at = 0; at < all.size(); at += kSize) {
        const char fill = all[at];
        ASSERT_TRUE(fill == 'a' || fill == 'b') << at;
        EXPECT_EQ(all.mid(at, kSize).count(fill), kSize) << "packet at " << at << " mixed";
        ++counts[fill - 'a'];
    }
    EXPECT_EQ(counts[0], kPerThread);
    EXPECT_EQ(counts[1], kPerThread);
}

}  // namespace

namespace {

// A file cut while its mapped chunk is being written: the bytes past the cut
// cannot be read, the link goes with the send-error event, and the event
// names the file rather than the player. Small buffers on both ends keep the
// chunk being written until the cut, whatever buffers the machine gives; the
// row without a cut shows the same chunk arriving whole through them.
TEST(TcpClientFileChunk, FileCutWhileItsChunkIsWrittenEndsTheLinkNamingTheFile)
{
    const struct {
        const char* name;
        bool cut;
    } rows[] = {{"cut while written", true}, {"left alone", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        testsupport::SmallLinkBuffers small;
        TcpListener server(testsupport::kSmallSocketBuffer);
        Owner owner;
        CTCPClient link;
        link.setOwner(owner.window.handle());
        testsupport::TempHome home;
        const QString path = home.path() + QStringLiteral("/chunk.bin");
        const QByteArray bytes = randomBytes(int(upload::kChunk), 31);
        ASSERT_TRUE(testsupport::writeFile(path, bytes));
        upload::ChunkSource source;
        ASSERT_TRUE(source.Open(path));
        QByteArray chunk;
        std::shared_ptr<const void> mapping;
        bool last = false;
        ASSERT_TRUE(source.Next(chunk, mapping, last));
        ASSERT_TRUE(mapping) << "the chunk must come from the mapping, which a cut makes unreadable";

        ASSERT_TRUE(link.Connect(kLoopback, server.port()));
        const auto peer = server.accept();
        ASSERT_TRUE(peer);
        ASSERT_TRUE(link.Send(QByteArray(16, 'h'), chunk, std::move(mapping), path));
        chunk = QByteArray();
        // The peer has read nothing yet: the buffers hold a sliver of the chunk.
        const QByteArray first = peer->read(65536, 10000);
        ASSERT_EQ(first.size(), 65536);
        ASSERT_EQ(link.QueuedPackets(), 1u);
        if (row.cut) {
            ASSERT_TRUE(QFile::resize(path, 0));
        }
        // Read while the events are delivered: the link waits for its
        // owner to take the send error before it lets the connection go.
        QByteArray got = first;
        ASSERT_TRUE(waitUntil([&] {
            const std::optional<QByteArray> part = peer->readSome(20);
            if (!part)
                return true;
            got += *part;
            return got.size() == bytes.size() + 16;
        }));
        if (row.cut) {
            ASSERT_TRUE(waitUntil([&] { return owner.saw(kLinkReceiverEnded); }));
            ASSERT_EQ(owner.controlTypes(), (std::vector<uint16_t>{kLinkShortSend, kLinkReceiverEnded}));
            EXPECT_EQ(owner.events.front().error, EFAULT);
            EXPECT_EQ(UnreadableSource(owner.events.front()), path);
            EXPECT_LT(got.size(), bytes.size() + 16);
        } else {
            EXPECT_TRUE(got == QByteArray(16, 'h') + bytes);
            EXPECT_TRUE(owner.controlTypes().empty());
        }
    }
}

}  // namespace
