#include "transport/records.h"

#include "platform/app_identity.h"
#include "platform/messages.h"
#include "platform/window.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using proto::PlayerPacketHeader;

struct Got {
    uint8_t command;
    uint16_t sequence;
    QByteArray payload;
    QString peer;
    uint16_t link;
};

QByteArray packet(uint8_t command, uint16_t sequence, const QByteArray& payload)
{
    PlayerPacketHeader h;
    h.command = command;
    h.sequence = sequence;
    return proto::buildPacket(h, payload);
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// Feeds the chunks in order and collects every completed reply.
std::vector<Got> feedAll(ReplyAssembler& a, const std::vector<QByteArray>& chunks)
{
    std::vector<Got> got;
    for (const QByteArray& c : chunks) {
        a.feed(QStringLiteral("127.0.0.2"), 8000, 3, reinterpret_cast<const uint8_t*>(c.constData()),
               std::size_t(c.size()), [&](const ReplyAssembler& r) {
                   EXPECT_EQ(r.state, ReplyAssembler::kComplete);
                   got.push_back({r.header.command, r.header.sequence, r.payloadBytes(), r.peerIp, r.linkIndex});
               });
    }
    return got;
}

const QByteArray kPayload100 = QByteArray(100, 'x');
const QByteArray kA = packet(0x90, 7, kPayload100);
const QByteArray kB = packet(0x81, 8, QByteArray("hello"));
const QByteArray kZero = packet(0x92, 9, QByteArray());

struct Case {
    const char* name;
    std::vector<QByteArray> chunks;
    std::vector<uint16_t> sequences;  // of the replies expected, in order
};

TEST(ReplyAssemblerTest, FramingTable)
{
    const QByteArray magicPayload = bytes({0x5A, 0x5A, 0x5A, 0xA5, 0x81, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}) + "tail";
    const QByteArray withMagicPayload = packet(0x93, 11, magicPayload);
    PlayerPacketHeader huge;
    huge.command = 0x93;
    huge.payloadLength = uint32_t(proto::kBufferSize) + 1;
    const QByteArray oversize = huge.toBytes() + QByteArray(64, 'z');
    const QByteArray zeroCommand = bytes({0x5A, 0x5A, 0x5A, 0xA5, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    std::vector<QByteArray> singleBytes;
    for (char ch : kB + kA)
        singleBytes.push_back(QByteArray(1, ch));

    const std::vector<Case> cases = {
        {"whole", {kA}, {7}},
        {"zero payload in one 16-byte chunk", {kZero}, {9}},
        {"header then payload 60 + 40", {kA.left(16), kA.mid(16, 60), kA.mid(76)}, {7}},
        {"two replies in one chunk", {kA + kB}, {7, 8}},
        {"three replies, one empty, in one chunk", {kB + kZero + kA}, {8, 9, 7}},
        {"end of one and start of the next", {kA.left(50), kA.mid(50) + kB.left(9), kB.mid(9)}, {7, 8}},
        {"junk before a header", {QByteArray("junk\x5A\x5A") + kB}, {8}},
        {"junk chunk between replies", {kA, QByteArray(40, '\x5A'), kB}, {7, 8}},
        {"15-byte chunk ignored, next header parsed", {kB.left(15), kB}, {8}},
        {"15-byte junk chunk ignored", {QByteArray(15, 'q'), kB}, {8}},
        {"command byte 0 does not begin a header", {zeroCommand, kB}, {8}},
        {"payload that begins with the magic does not restart", {withMagicPayload.left(16), withMagicPayload.mid(16)}, {11}},
        {"oversize announcement dropped, next reply read", {oversize, kB}, {8}},
        {"one byte at a time", singleBytes, {8, 7}},
        {"too many bytes: rest not a header, skipped", {kA.left(16), QByteArray(60, 'x'), QByteArray(60, 'x')}, {7}},
    };
    for (const Case& c : cases) {
        ReplyAssembler a;
        auto got = feedAll(a, c.chunks);
        ASSERT_EQ(got.size(), c.sequences.size()) << c.name;
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i].sequence, c.sequences[i]) << c.name << " #" << i;
        if (c.sequences == std::vector<uint16_t>{11}) {
            EXPECT_EQ(got[0].payload, magicPayload) << c.name;
        }
    }
}

TEST(ReplyAssemblerTest, SplitAtEveryByteBoundary)
{
    const QByteArray stream = kA + kB + kZero;
    for (int cut = 1; cut < stream.size(); ++cut) {
        ReplyAssembler a;
        auto got = feedAll(a, {stream.left(cut), stream.mid(cut)});
        ASSERT_EQ(got.size(), 3u) << "cut at " << cut;
        EXPECT_EQ(got[0].payload, kPayload100) << "cut at " << cut;
        EXPECT_EQ(got[1].payload, QByteArray("hello")) << "cut at " << cut;
        EXPECT_EQ(got[2].payload, QByteArray()) << "cut at " << cut;
        EXPECT_EQ(got[1].command, 0x81);
        EXPECT_EQ(got[0].peer, QStringLiteral("127.0.0.2"));
        EXPECT_EQ(got[0].link, 3);
    }
}

TEST(ReplyAssemblerTest, StatesAndReset)
{
    ReplyAssembler a;
    EXPECT_EQ(a.state, ReplyAssembler::kHeaderExpected);
    feedAll(a, {kA.left(10)});
    EXPECT_EQ(a.state, ReplyAssembler::kHeaderExpected);
    EXPECT_EQ(a.pendingHeaderBytes(), 10u);
    feedAll(a, {kA.mid(10, 30)});
    EXPECT_EQ(a.state, ReplyAssembler::kCollecting);
    EXPECT_EQ(a.received, 24u);
    a.reset();
    EXPECT_EQ(a.state, ReplyAssembler::kIdle);
    EXPECT_EQ(a.received, 0u);
    // The rest of the broken reply is skipped; the next reply is whole.
    auto got = feedAll(a, {kA.mid(40), kB});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].sequence, 8);
}

TEST(ReplyAssemblerTest, ResetFromTheCallbackDiscardsTheRestOfTheChunk)
{
    ReplyAssembler a;
    int calls = 0;
    const QByteArray both = kB + kA;
    a.feed(QString(), 0, 0, reinterpret_cast<const uint8_t*>(both.constData()), std::size_t(both.size()),
           [&](const ReplyAssembler&) {
               ++calls;
               a.reset();
           });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(a.state, ReplyAssembler::kIdle);
}

TEST(ReplyAssemblerTest, LargestPayloadFitsAndIsNotOverrun)
{
    ReplyAssembler a;
    PlayerPacketHeader h;
    h.command = 0x93;
    h.payloadLength = uint32_t(ReplyAssembler::kBufferSize);
    QByteArray big(qsizetype(ReplyAssembler::kBufferSize), '\x11');
    auto got = feedAll(a, {h.toBytes(), big.left(5000000), big.mid(5000000) + kB});
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].payload.size(), qsizetype(ReplyAssembler::kBufferSize));
    EXPECT_EQ(a.droppedReplies(), 0u);
}

// A header whose length field is larger than what follows: under a limit the
// link hears again once the limit has passed, and nothing complete is lost.
// With an allowance for the length, an honest slow reply finishes while a lie
// is still dropped though the replies behind it keep coming.
TEST(ReplyAssemblerTest, IncompleteReplyExpiresAndItsBytesAreSearchedAgain)
{
    PlayerPacketHeader lie;
    lie.command = 0x93;
    lie.sequence = 1;
    lie.payloadLength = 5000;
    const QByteArray liar = lie.toBytes() + QByteArray(10, 'q');
    lie.sequence = 2;
    const QByteArray liar2 = lie.toBytes();
    const QByteArray big = packet(0x93, 11, QByteArray(207496, 'c'));  // a catalogue's size
    QByteArray lieStream = liar;  // replies keep coming behind the lie
    std::vector<uint16_t> streamed;
    for (uint16_t k = 101; k <= 130; ++k) {
        lieStream += packet(0x81, k, "r");
        streamed.push_back(k);
    }
    struct Step {
        int atMs;
        QByteArray chunk;  // empty: the owner's expiry check at that time
    };
    // `bytes` in pieces of `piece`, one every `gapMs` up to `untilMs`, then `last`.
    const auto trickle = [](const QByteArray& bytes, int piece, int gapMs, int untilMs, const Step& last) {
        std::vector<Step> steps;
        for (int off = 0; off < bytes.size() && off / piece * gapMs <= untilMs; off += piece)
            steps.push_back({off / piece * gapMs, bytes.mid(off, piece)});
        steps.push_back(last);
        return steps;
    };
    constexpr int kAll = 1 << 30;
    struct Row {
        const char* name;
        int limitMs;
        uint32_t slowRate;  // bytes a second allowed for the announced length
        std::vector<Step> steps;
        std::vector<uint16_t> sequences;
    };
    const std::vector<Row> rows = {
        {"lie then replies in one chunk", 2000, 0, {{0, liar + kB + kZero + kA}, {2000, {}}}, {8, 9, 7}},
        {"lie and replies split anyhow", 2000, 0, {{0, liar.left(9)}, {10, liar.mid(9) + kA.left(30)}, {20, kA.mid(30) + kB}, {2019, {}}, {2020, {}}}, {7, 8}},
        {"not yet at the limit", 2000, 0, {{0, liar + kB}, {1999, {}}}, {}},
        {"a reply after the limit passes the stale one", 2000, 0, {{0, liar}, {2500, kB}}, {8}},
        {"a slow true reply is kept", 2000, 0, {{0, kA.left(20)}, {1900, kA.mid(20)}, {3000, {}}}, {7}},
        {"a lie inside a lie", 2000, 0, {{0, liar + liar2 + kB}, {2000, {}}, {3999, {}}, {4000, {}}}, {8}},
        {"a reply cut by the expiry ends later", 2000, 0, {{0, liar + kA.left(40)}, {2000, {}}, {2100, kA.mid(40)}}, {7}},
        {"coalesced after expiry", 2000, 0, {{0, liar + kB.left(5)}, {2000, {}}, {2001, kB.mid(5) + kZero}}, {8, 9}},
        {"no limit waits for ever", 0, 0, {{0, liar + kB}, {600000, {}}}, {}},
        {"a catalogue at 20 KB/s arrives", 2000, 10000, trickle(big, 10000, 500, kAll, {60000, kB}), {11, 8}},
        {"a catalogue at 5 KB/s passes its allowance", 2000, 10000, trickle(big, 5000, 1000, kAll, {60000, kB}), {8}},
        {"bytes that stop for the limit end the reply", 2000, 10000, {{0, big.left(5000)}, {1000, big.mid(5000, 5000)}, {3000, kB}}, {8}},
        {"a lie with bytes still coming: kept within its allowance", 2000, 10000, trickle(lieStream, 17, 100, 2400, {2499, {}}), {}},
        {"a lie with bytes still coming: dropped at its allowance", 2000, 10000, trickle(lieStream, 17, 100, kAll, {3200, {}}), streamed},
    };
    for (const Row& r : rows) {
        ReplyAssembler a;
        ReplyAssembler::Clock::time_point now{};
        a.setIncompleteLimit(std::chrono::milliseconds(r.limitMs), r.slowRate, [&] { return now; });
        std::vector<uint16_t> sequences;
        const auto done = [&](const ReplyAssembler& reply) { sequences.push_back(reply.header.sequence); };
        // Every reply the limit drops is told to the owner, whichever call finds it expired.
        uint32_t notices = 0;
        a.setExpiryNotice([&](const ReplyAssembler& dropped) { notices += dropped.state == ReplyAssembler::kCollecting; });
        for (const Step& step : r.steps) {
            now = ReplyAssembler::Clock::time_point{} + std::chrono::milliseconds(step.atMs);
            if (step.chunk.isEmpty())
                a.expireIncomplete(done);
            else
                a.feed(QString(), 0, 0, reinterpret_cast<const uint8_t*>(step.chunk.constData()),
                       std::size_t(step.chunk.size()), done);
        }
        EXPECT_EQ(sequences, r.sequences) << r.name;
        EXPECT_EQ(notices, a.droppedReplies()) << r.name;
    }
}

TEST(PlayerCatalogTest, LayoutAndLengthCheck)
{
    static_assert(PlayerCatalog::kSize == 207496);
    static_assert(PlayerCatalog::kCategoriesOffset == 141320);
    auto cat = std::make_unique<PlayerCatalog>();
    cat->totalMB = 64000;
    cat->freeMB = 1234;
    cat->videos[511].name[0] = 'v';
    cat->videos[511].size = 0x123456789ull;
    cat->categories[63].count = 2;
    cat->categories[63].videoIndex[511] = 511;
    const QByteArray wire = cat->pack();
    ASSERT_EQ(wire.size(), qsizetype(PlayerCatalog::kSize));
    const auto* p = reinterpret_cast<const uint8_t*>(wire.constData());
    EXPECT_EQ(proto::getU32(p + 4), 1234u);
    EXPECT_EQ(p[8 + 511 * 276], 'v');
    EXPECT_EQ(proto::getU64(p + 8 + 511 * 276 + 264), 0x123456789ull);
    EXPECT_EQ(proto::getU16(p + 141320 + 63 * 1034 + 8), 2);

    auto back = std::make_unique<PlayerCatalog>();
    ASSERT_TRUE(back->unpack(p, wire.size()));
    EXPECT_EQ(back->totalMB, 64000u);
    EXPECT_EQ(back->videos[511].size, 0x123456789ull);
    EXPECT_EQ(back->categories[63].videoIndex[511], 511);
    EXPECT_EQ(back->pack(), wire);

    auto other = std::make_unique<PlayerCatalog>();
    EXPECT_FALSE(other->unpack(p, wire.size() - 1));
    EXPECT_FALSE(other->unpack(p, 0));
    EXPECT_EQ(other->totalMB, 0u);
}

TEST(SendRequestTest, TargetsAndPacket)
{
    SendRequest r;
    r.AddTarget(QString(), 8000);
    r.AddTarget(QStringLiteral("127.0.0.2"), 1024);
    r.AddTarget(QStringLiteral("127.0.0.2"), 1025);
    ASSERT_EQ(r.targets.size(), 1u);
    EXPECT_EQ(r.targets[0].port, 1025);
    EXPECT_EQ(r.targets[0].slot, 0);

    PlayerPacketHeader h;
    h.command = proto::CMD_TEMPERATURE;
    ASSERT_TRUE(r.SetPacket(h, QByteArray("abc")));
    EXPECT_EQ(r.length(), 19u);
    EXPECT_EQ(proto::getU32(reinterpret_cast<const uint8_t*>(r.data.constData()) + 12), 3u);
    EXPECT_FALSE(r.SetPacket(h, QByteArray(qsizetype(proto::kMaxPayload) + 1, 'x')));
    EXPECT_EQ(r.length(), 0u);
}

TEST(SendRequestTest, HandedOnlyToAWindowThatTakesIt)
{
    const QString previous = platform::appTitle();
    platform::setAppTitle(QStringLiteral("Handover test"));
    int taken = 0;
    {
        // No window of the title, then one that takes no requests: the
        // request is freed here (the address checker sees any leak).
        EXPECT_FALSE(SendToMainWindow(new SendRequest));
        platform::MessageWindow deaf(QStringLiteral("Handover test"));
        EXPECT_FALSE(SendToMainWindow(new SendRequest));
        deaf.onMessage(platform::WM_SEND_TO_PLAYER, [&taken](platform::WPARAM, platform::LPARAM l) {
            delete reinterpret_cast<SendRequest*>(l);
            ++taken;
            return platform::LRESULT(0);
        });
        EXPECT_TRUE(SendToMainWindow(new SendRequest));
    }
    EXPECT_EQ(taken, 1);
    platform::setAppTitle(previous);
}

}  // namespace
