// Tollivar's link hub against simulated players on distinct loopback
// addresses: links by IP, tags, the dispatch table, length rules, reassembly
// and the reboot after a stored protocol document.

#include "companion/hub_records.h"
#include "companion/link_hub.h"
#include "platform/app_identity.h"
#include "platform/messages.h"
#include "player/companion_commands.h"
#include "player/device_commands.h"
#include "player/player_sim.h"
#include "tests/support/test_support.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <cerrno>

#include <memory>

namespace {

using platform::LPARAM;
using platform::MessageWindow;
using platform::WPARAM;
using testsupport::waitUntil;
using namespace tollivar;

const QString kTitle = QStringLiteral("Tollivar V1.23");
const QString kPrefix = QStringLiteral("Tollivar-");

std::unique_ptr<sim::PlayerSim> startPlayer(int host)
{
    sim::SimOptions o;
    o.address = QStringLiteral("127.0.0.%1").arg(host);
    auto player = std::make_unique<sim::PlayerSim>(o);
    sim::installStandardCommands(*player);
    QString error;
    EXPECT_TRUE(player->start(&error)) << error.toStdString();
    return player;
}

// One message as a feature window got it; heap records are read and freed.
struct Got {
    unsigned id;
    WPARAM wParam;
    LPARAM lParam;  // as sent, for plain values
    QByteArray bytes;  // a byte string, a text or a record's content
    int count = -1;    // items of a record
    int mode = -1;
};

// A feature window found by caption that records what reaches it.
struct Page {
    explicit Page(const QString& caption) : window(caption)
    {
        for (unsigned id : {platform::WM_VIDEO_LIST_REPLY, platform::WM_VIDEO_UPLOAD_REPLY, platform::WM_CASCADE_REPLY,
                            platform::WM_TRACKBAR_VALUES_REPLY, platform::WM_USART_DATA_REPLY,
                            platform::WM_PARAM_FILE_REPLY, platform::WM_VIDEO_CONTROL_REPLY, platform::WM_OSD_REPLY,
                            platform::WM_CONTROL_PROTOCOL_REPLY, platform::WM_LINK_CLOSED}) {
            window.onMessage(id, [this, id](WPARAM w, LPARAM l) {
                got.push_back(take(id, w, l));
                return platform::LRESULT(0);
            });
        }
    }
    Got take(unsigned id, WPARAM w, LPARAM l)
    {
        Got g{id, w, l, {}};
        switch (id) {
        case platform::WM_VIDEO_LIST_REPLY: {
            std::unique_ptr<PlayerCatalog> c(reinterpret_cast<PlayerCatalog*>(l));
            g.bytes = c ? c->pack() : QByteArray();
            break;
        }
        case platform::WM_CASCADE_REPLY: {
            std::unique_ptr<CascadeListRecord> r(reinterpret_cast<CascadeListRecord*>(l));
            g.count = r->count;
            g.mode = r->mode;
            g.bytes = QByteArray(reinterpret_cast<const char*>(r->items.data()), 4 * r->count);
            break;
        }
        case platform::WM_TRACKBAR_VALUES_REPLY: {
            std::unique_ptr<ReplyStatusRecord> r(reinterpret_cast<ReplyStatusRecord*>(l));
            g.count = r->param;
            g.mode = r->subCode;
            break;
        }
        case platform::WM_USART_DATA_REPLY: {
            std::unique_ptr<UsartDataRecord> r(reinterpret_cast<UsartDataRecord*>(l));
            g.count = r->count;
            g.bytes = QByteArray(reinterpret_cast<const char*>(r->data.data()), r->count);
            break;
        }
        case platform::WM_VIDEO_CONTROL_REPLY:
        case platform::WM_OSD_REPLY:
        case platform::WM_CONTROL_PROTOCOL_REPLY:
            if (l)
                g.bytes = *reinterpret_cast<const QByteArray*>(l);
            break;
        default:
            break;
        }
        return g;
    }
    int countOf(unsigned id) const
    {
        return int(std::count_if(got.begin(), got.end(), [id](const Got& g) { return g.id == id; }));
    }
    const Got* last(unsigned id) const
    {
        for (auto it = got.rbegin(); it != got.rend(); ++it)
            if (it->id == id)
                return &*it;
        return nullptr;
    }
    MessageWindow window;
    std::vector<Got> got;
};

struct Harness {
    Harness()
    {
        platform::setAppTitle(kTitle);
        platform::setAppLanguage(platform::kLanguageEnglish);
        main = std::make_unique<MessageWindow>(kTitle);
        hub = std::make_unique<CLinkHub>(*main, kPrefix, platform::kLanguageEnglish);
    }
    ~Harness()
    {
        hub.reset();
        main.reset();
    }
    // Hands a request to the main window as every feature window does.
    void send(uint8_t command, std::vector<std::pair<const sim::PlayerSim*, uint16_t>> targets = {},
              uint8_t subCode = 0, uint16_t param = 0, uint16_t arg = 0, const QByteArray& payload = QByteArray())
    {
        auto request = std::make_unique<SendRequest>();
        for (const auto& [player, tag] : targets)
            request->AddTarget(player->options().address, player->tcpPort(), tag);
        proto::PlayerPacketHeader h;
        h.command = command;
        h.subCode = subCode;
        h.param = param;
        h.arg = arg;
        request->SetPacket(h, payload);
        SendToMainWindow(request.release());
    }
    void closeAll()
    {
        auto request = std::make_unique<SendRequest>();
        SendToMainWindow(request.release());
    }
    // Connects a link to `player` (a reboot request the player answers) and
    // waits until the player has read the request on it.
    void link(const sim::PlayerSim& player, uint16_t tag = 0)
    {
        const std::size_t before = player.requestCount(proto::CMD_REBOOT);
        send(proto::CMD_REBOOT, {{&player, tag}});
        for (int i = 0; i < CLinkHub::kLinkCount; ++i) {
            if (hub->link(i).IsConnected() && hub->link(i).PeerAddress() == player.options().address) {
                EXPECT_TRUE(player.waitForRequests(proto::CMD_REBOOT, before + 1, 30000));
            }
        }
    }

    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes;
    std::unique_ptr<MessageWindow> main;
    std::unique_ptr<CLinkHub> hub;
};

sim::Reply push(uint8_t code, uint8_t sub = 0, uint16_t param = 0, uint16_t arg = 0, QByteArray payload = {})
{
    sim::Reply r;
    r.header.command = code;
    r.header.subCode = sub;
    r.header.param = param;
    r.header.arg = arg;
    r.payload = std::move(payload);
    return r;
}

// Pushes to the player's connections (link() waited until it took the
// newest in; an older one that is still closing may be written to as well).
bool pushTo(sim::PlayerSim& player, const sim::Reply& reply)
{
    return player.sendToAll(reply) >= 1;
}

// Pushes `reply`, which only `marker` takes (as `message`), behind what was
// pushed before, and waits until the page has it: the hub reads a connection
// in order, so by then it has dealt with all that came before.
bool pushBehind(sim::PlayerSim& player, const Page& marker, const sim::Reply& reply, unsigned message)
{
    const int before = marker.countOf(message);
    return pushTo(player, reply) && waitUntil([&] { return marker.countOf(message) > before; });
}

TEST(CompanionHub, LinksAreKeptByIpAndTenthIpIsRefused)
{
    Harness h;
    std::vector<std::unique_ptr<sim::PlayerSim>> players;
    for (int i = 0; i < 10; ++i)
        players.push_back(startPlayer(2 + i));
    h.link(*players[0], 7);
    h.link(*players[0], 8);  // same IP: the same link, opened with tag 7
    EXPECT_EQ(h.hub->ConnectedCount(), 1);
    EXPECT_EQ(h.hub->tag(0), 7);
    for (int i = 1; i < 9; ++i)
        h.link(*players[std::size_t(i)], uint16_t(i));
    EXPECT_EQ(h.hub->ConnectedCount(), 9);
    EXPECT_TRUE(h.boxes.texts().isEmpty());
    h.link(*players[9]);
    EXPECT_EQ(h.hub->ConnectedCount(), 9);
    EXPECT_EQ(h.boxes.texts(), QStringList{u"Failed to connect player！"_qs});
    EXPECT_TRUE(players[0]->waitForRequests(proto::CMD_REBOOT, 2, 30000));
    EXPECT_EQ(players[9]->requestCount(proto::CMD_REBOOT), 0u);

    // A request of length 0 closes them all; each close is announced.
    Page setParam(kSetParamCaption.english);
    h.closeAll();
    EXPECT_EQ(h.hub->ConnectedCount(), 0);
    EXPECT_EQ(setParam.countOf(platform::WM_LINK_CLOSED), 9);
}

// A chunk cut because its file could not be read while it was written: the
// file is named in the interface's language; any other short write says nothing here.
TEST(CompanionHub, ShortWriteOfAnUnreadableFileNamesTheFile)
{
    const struct {
        unsigned language;
        int error;
        QStringList messages;
    } rows[] = {
        {platform::kLanguageEnglish, EFAULT, {u"Cannot read the file: /data/v.mp4"_qs}},
        {platform::kLanguageChinese, EFAULT, {u"无法读取文件：/data/v.mp4"_qs}},
        {platform::kLanguageEnglish, EPIPE, {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.error);
        Harness h;
        CLinkHub hub(*h.main, kPrefix, r.language);
        LinkEvent e;
        e.type = kLinkShortSend;
        e.error = uint16_t(r.error);
        e.source = u"/data/v.mp4"_qs;
        hub.OnLinkEvent(e);
        EXPECT_EQ(h.boxes.texts(), r.messages);
    }
}

TEST(CompanionHub, EmptyTargetListGoesToCurrentTargetOrFails)
{
    Harness h;
    auto player = startPlayer(2);
    h.send(proto::CMD_REBOOT);  // no device chosen
    EXPECT_EQ(h.boxes.texts(), QStringList{u"Failed to connect player！"_qs});
    h.boxes.clear();
    h.hub->SetCurrentTarget(player->options().address, player->tcpPort());
    h.send(proto::CMD_REBOOT);
    EXPECT_TRUE(player->waitForRequests(proto::CMD_REBOOT, 1, 30000));
    EXPECT_TRUE(h.boxes.texts().isEmpty());
    // Every target refused (empty IP, port below 1025): nothing goes to the
    // current player instead.
    auto request = std::make_unique<SendRequest>();
    request->AddTarget(QString(), 5000);
    request->AddTarget(player->options().address, 1024);
    proto::PlayerPacketHeader header;
    header.command = proto::CMD_REBOOT;
    request->SetPacket(header);
    SendToMainWindow(request.release());
    EXPECT_EQ(h.boxes.texts(), QStringList{u"Failed to connect player！"_qs});
    // A request to the current player behind it: had the refused one gone
    // there, it would have arrived first.
    h.send(proto::CMD_REBOOT);
    ASSERT_TRUE(player->waitForRequests(proto::CMD_REBOOT, 2, 30000));
    EXPECT_EQ(player->requestCount(proto::CMD_REBOOT), 2u);
}

// Every reply code as the player pushes it: closes every link, is ignored,
// or reaches the window named.
TEST(CompanionHub, DispatchTableOfCodes)
{
    enum Outcome { CloseAll, Ignored, Routed };
    struct Row {
        int code;
        Outcome outcome;
    };
    const std::vector<int> closing = {2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 25, 26, 27, 32, 39, 40, 46, 55};
    const std::vector<int> routed = {3, 19, 20, 36, 50, 52, 54, 59};
    Harness h;
    auto player = startPlayer(2);
    Page batch(kBatchSendCaption.english);
    Page video(kPrefix + kVideoControlCaption.english);
    Page marker(kOsdCaption.english);
    for (int code = 1; code < 64; ++code) {
        const Outcome expected = std::count(closing.begin(), closing.end(), code) ? CloseAll
            : std::count(routed.begin(), routed.end(), code)                      ? Routed
                                                                                  : Ignored;
        if (expected == Routed)
            continue;  // by their own rules below
        SCOPED_TRACE(code);
        h.link(*player, 3);
        ASSERT_EQ(h.hub->ConnectedCount(), 1);
        batch.got.clear();
        ASSERT_TRUE(pushTo(*player, push(uint8_t(code))));
        if (expected == CloseAll) {
            EXPECT_TRUE(waitUntil([&] { return h.hub->ConnectedCount() == 0; }));
            EXPECT_EQ(batch.countOf(platform::WM_LINK_CLOSED), 1);
        } else {
            ASSERT_TRUE(pushBehind(*player, marker, push(3, 0, 4, 0, "{}"), platform::WM_OSD_REPLY));
            EXPECT_EQ(h.hub->ConnectedCount(), 1);
            EXPECT_TRUE(batch.got.empty());
        }
        EXPECT_TRUE(video.got.empty());
        EXPECT_TRUE(h.boxes.texts().isEmpty());
    }
    // Code 0: a reply without the reply bit, or with the not-supported bit.
    h.link(*player, 3);
    sim::Reply bad = push(proto::CMD_STATUS);
    bad.header.command |= proto::kNotSupportedBit;
    pushTo(*player, bad);
    EXPECT_TRUE(waitUntil([&] { return h.hub->ConnectedCount() == 0; }));
    EXPECT_EQ(h.boxes.texts(), QStringList{u"This function is not supported in the current version!"_qs});
}

struct RoutedCase {
    const char* name;
    sim::Reply reply;
    QString page;        // who gets it
    unsigned message;    // 0: nobody
    WPARAM wParam;
    int count;           // record items / bytes; -1: not checked
};

TEST(CompanionHub, RoutedRepliesAndTheirLengthRules)
{
    const QByteArray catalogue(int(PlayerCatalog::kSize), '\0');
    const QString uart = kSetupUartCaption.english, setParam = kSetParamCaption.english,
                  batch = kBatchSendCaption.english, video = kPrefix + kVideoControlCaption.english,
                  osd = kOsdCaption.english;
    const std::vector<RoutedCase> cases = {
        {"upload ack", push(20, 0, 4, 1), batch, platform::WM_VIDEO_UPLOAD_REPLY, 4, -1},
        {"config file", push(54), batch, platform::WM_PARAM_FILE_REPLY, 1, -1},
        {"video control", push(59, 0, 0, 0, "abc"), video, platform::WM_VIDEO_CONTROL_REPLY, 6, 3},
        {"osd document", push(3, 0, 4, 0, "{}"), osd, platform::WM_OSD_REPLY, 4, 2},
        {"osd stored: no message", push(3, 0, 4, 1), osd, 0, 0, -1},
        {"cascade 3 items", push(36, 1, 3, 0, QByteArray(12, 'x')), setParam, platform::WM_CASCADE_REPLY, 1, 3},
        {"cascade 25 items: first 20", push(36, 2, 25, 0, QByteArray(100, 'y')), setParam, platform::WM_CASCADE_REPLY, 1, 20},
        {"cascade wrong length", push(36, 1, 3, 0, QByteArray(11, 'x')), setParam, 0, 0, -1},
        {"serial 1 byte", push(50, 0, 0, 0, "\x01"), uart, platform::WM_USART_DATA_REPLY, 0, 1},
        {"serial 1023 bytes", push(50, 0, 0, 0, QByteArray(1023, 'z')), uart, platform::WM_USART_DATA_REPLY, 0, 1023},
        {"serial 1024 bytes", push(50, 0, 0, 0, QByteArray(1024, 'z')), uart, 0, 0, -1},
        {"serial empty", push(50), uart, 0, 0, -1},
        {"serial without Setup UART", push(50, 0, 0, 0, "ab"), setParam, platform::WM_USART_DATA_REPLY, 0, 2},
        {"catalogue", push(19, 0, 0, 9, catalogue), video, platform::WM_VIDEO_LIST_REPLY, 6, -1},
        {"catalogue to Setup UART", push(19, 0, 0, 9, catalogue), uart, platform::WM_VIDEO_LIST_REPLY, 9, -1},
        {"catalogue a byte short", push(19, 0, 0, 9, catalogue.left(catalogue.size() - 1)), uart, 0, 0, -1},
        {"protocol document", push(3, 0, 1, 0, "{\"a\":1}"), uart, platform::WM_CONTROL_PROTOCOL_REPLY, 1, 7},
        {"protocol to Set Param", push(3, 0, 1, 0, "{}"), setParam, platform::WM_CONTROL_PROTOCOL_REPLY, 0, 2},
        {"param file kind 2", push(3, 0, 2, 0, "{}"), uart, 0, 0, -1},
    };
    for (const RoutedCase& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        auto player = startPlayer(2);
        Page page(c.page);
        h.link(*player, 6);
        ASSERT_TRUE(pushTo(*player, c.reply));
        if (c.message == 0) {
            Page marker(batch);  // the batch page: no case that reaches nobody is about it
            ASSERT_TRUE(pushBehind(*player, marker, push(54), platform::WM_PARAM_FILE_REPLY));
            EXPECT_TRUE(page.got.empty());
            continue;
        }
        ASSERT_TRUE(waitUntil([&] { return page.countOf(c.message) > 0; }));
        const Got* g = page.last(c.message);
        EXPECT_EQ(g->wParam, c.wParam);
        if (c.count >= 0) {
            EXPECT_EQ(g->count >= 0 ? g->count : int(g->bytes.size()), c.count);
        }
        EXPECT_EQ(h.hub->ConnectedCount(), 1);
        EXPECT_TRUE(h.boxes.texts().isEmpty());
    }
}

TEST(CompanionHub, CatalogueThenSliderValuesToTheVideoPage)
{
    Harness h;
    auto player = startPlayer(2);
    Page video(kPrefix + kVideoControlCaption.english);
    h.link(*player, 4);
    pushTo(*player, push(19, 2, 30, 40, QByteArray(int(PlayerCatalog::kSize), '\0')));
    ASSERT_TRUE(waitUntil([&] { return video.got.size() == 2; }));
    EXPECT_EQ(video.got[0].id, platform::WM_VIDEO_LIST_REPLY);
    EXPECT_EQ(video.got[1].id, platform::WM_TRACKBAR_VALUES_REPLY);
    EXPECT_EQ(video.got[1].wParam, 4u);
    EXPECT_EQ(video.got[1].count, 30);
    EXPECT_EQ(video.got[1].mode, 2);
}

TEST(CompanionHub, LayoutNamesAreDecodedFromTheCodePage)
{
    Harness h;
    auto player = startPlayer(2);
    MessageWindow video(kPrefix + kVideoControlCaption.english);
    QString names;
    WPARAM tag = 0;
    video.onMessage(platform::WM_VIDEO_UPLOAD_REPLY, [&](WPARAM w, LPARAM l) {
        names = *reinterpret_cast<const QString*>(l);
        tag = w;
        return platform::LRESULT(0);
    });
    h.link(*player, 2);
    // "大厅?A?" in code page 936.
    pushTo(*player, push(52, 0, 0, 0, QByteArray("\xB4\xF3\xCC\xFC?A?")));
    ASSERT_TRUE(waitUntil([&] { return !names.isEmpty(); }));
    EXPECT_EQ(names, u"大厅?A?"_qs);
    EXPECT_EQ(tag, 2u);
    pushTo(*player, push(52, 0, 0, 1));
    ASSERT_TRUE(waitUntil([&] { return !h.boxes.texts().isEmpty(); }));
    EXPECT_EQ(h.boxes.texts().last(), u"The layout is locked, please unlock it first!"_qs);
}

TEST(CompanionHub, NotSupportedCascadeQueryMeansIndependent)
{
    Harness h;
    auto player = startPlayer(2);
    {
        std::lock_guard<std::mutex> lk(player->stateMutex());
        sim::companionState(*player)->cascadeSupported = false;
    }
    Page setParam(kSetParamCaption.english);
    h.send(proto::CMD_CASCADE_QUERY, {{player.get(), 0}});
    ASSERT_TRUE(waitUntil([&] { return setParam.countOf(platform::WM_CASCADE_REPLY) == 1; }));
    EXPECT_EQ(setParam.last(platform::WM_CASCADE_REPLY)->mode, 0);
    EXPECT_EQ(setParam.last(platform::WM_CASCADE_REPLY)->count, 0);
    EXPECT_TRUE(h.boxes.texts().isEmpty());
    EXPECT_EQ(h.hub->ConnectedCount(), 1);
}

TEST(CompanionHub, SplitAndCoalescedRepliesAreEachDeliveredOnce)
{
    struct Case {
        sim::Fault fault;
        int value;
    };
    for (const Case c : {Case{sim::Fault::Split, 1}, Case{sim::Fault::Split, 7}, Case{sim::Fault::Coalesce, 300}}) {
        SCOPED_TRACE(int(c.fault) * 100 + c.value);
        Harness h;
        auto player = startPlayer(2);
        {
            std::lock_guard<std::mutex> lk(player->stateMutex());
            auto* st = sim::companionState(*player);
            st->cascadeMode = 1;
            st->cascadeAddresses = {{127, 0, 0, 3}, {127, 0, 0, 4}};
            sim::deviceStore(*player)->usartQueue = {QByteArray("\xAA\x55", 2)};
        }
        player->setFault(c.fault, c.value);
        Page setParam(kSetParamCaption.english);
        h.send(proto::CMD_CASCADE_QUERY, {{player.get(), 0}});
        h.send(proto::CMD_USART_DATA, {{player.get(), 0}});
        ASSERT_TRUE(waitUntil([&] { return setParam.got.size() >= 2; }));
        // A third request and its reply behind them, held and cut as they
        // are: a reply handed on twice would have come before it.
        Page video(kPrefix + kVideoControlCaption.english);
        h.send(proto::CMD_VIDEO_CONTROL, {{player.get(), 0}});
        ASSERT_TRUE(waitUntil([&] { return video.countOf(platform::WM_VIDEO_CONTROL_REPLY) == 1; }));
        ASSERT_EQ(setParam.got.size(), 2u);
        EXPECT_EQ(setParam.got[0].id, platform::WM_CASCADE_REPLY);
        EXPECT_EQ(setParam.got[0].mode, 1);
        EXPECT_EQ(setParam.got[0].bytes, QByteArray("\x7F\0\0\x03\x7F\0\0\x04", 8));
        EXPECT_EQ(setParam.got[1].id, platform::WM_USART_DATA_REPLY);
        EXPECT_EQ(setParam.got[1].bytes, QByteArray("\xAA\x55", 2));
    }
}

// A reply whose length field promises 5,000 bytes and brings 10 must not
// swallow the replies after it: each is handed on, however the stream is
// cut. (When the lie is given up is pinned on a fake clock in the reassembly
// table; here a loaded machine only has to get there.)
TEST(CompanionHub, ALyingLengthDoesNotDeafenTheLink)
{
    proto::PlayerPacketHeader lie;
    lie.command = uint8_t(50 | proto::kReplyBit);
    lie.payloadLength = 5000;
    const QByteArray liar = lie.toBytes() + QByteArray(10, '\x11');
    std::vector<QByteArray> replies;
    for (int i = 1; i <= 5; ++i) {
        proto::PlayerPacketHeader h;
        h.command = uint8_t(50 | proto::kReplyBit);
        replies.push_back(proto::buildPacket(h, "reply " + QByteArray::number(i)));
    }
    const QByteArray all = replies[0] + replies[1] + replies[2] + replies[3] + replies[4];
    struct Row {
        const char* name;
        std::vector<QByteArray> writes;  // 50 ms apart
    };
    const std::vector<Row> rows = {
        {"everything in one write", {liar + all}},
        {"the lie, then each reply alone", {liar, replies[0], replies[1], replies[2], replies[3], replies[4]}},
        {"the lie cut, its tail with the replies", {liar.left(7), liar.mid(7) + all.left(30), all.mid(30)}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Harness h;
        testsupport::TcpListener player;
        ASSERT_NE(player.port(), 0);
        Page uart(kSetupUartCaption.english);
        auto request = std::make_unique<SendRequest>();
        request->AddTarget(QStringLiteral("127.0.0.1"), player.port(), 0);
        proto::PlayerPacketHeader query;
        query.command = proto::CMD_USART_DATA;
        request->SetPacket(query, QByteArray());
        SendToMainWindow(request.release());
        const std::unique_ptr<testsupport::TcpPeer> link = player.accept(5000);
        ASSERT_TRUE(link);
        for (const QByteArray& bytes : r.writes) {
            ASSERT_TRUE(link->send(bytes));
            waitUntil([] { return false; }, 50);
        }
        ASSERT_TRUE(waitUntil([&] { return uart.countOf(platform::WM_USART_DATA_REPLY) == 5; }, 30000))
            << uart.got.size();
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(uart.got[std::size_t(i)].bytes, "reply " + QByteArray::number(i + 1));
        EXPECT_EQ(h.hub->ConnectedCount(), 1);
        EXPECT_TRUE(h.boxes.texts().isEmpty());
    }
}

// A catalogue on a slow link takes longer than the stall limit as a whole,
// yet its bytes keep coming: it reaches its page (only a whole one is passed
// on), and the link stays.
TEST(CompanionHub, ASlowCatalogueArrivesWhole)
{
    Harness h;
    auto player = startPlayer(2);
    // About 3 s for its 207,512 bytes, each pause far below the limit.
    player->setFault(sim::Fault::Trickle, 70000, proto::CMD_VIDEO_LIST);
    Page video(kPrefix + kVideoControlCaption.english);
    QElapsedTimer clock;
    clock.start();
    h.send(proto::CMD_VIDEO_LIST, {{player.get(), 6}});
    ASSERT_TRUE(waitUntil([&] { return video.countOf(platform::WM_TRACKBAR_VALUES_REPLY) == 1; }, 30000));
    EXPECT_GE(clock.elapsed(), CLinkHub::kReplyStallLimit.count());  // the pauses alone take that long
    EXPECT_EQ(video.countOf(platform::WM_VIDEO_LIST_REPLY), 1);
    EXPECT_EQ(h.hub->ConnectedCount(), 1);
}

TEST(CompanionHub, StoredProtocolDocumentRebootsOnlyWhenAsked)
{
    for (uint8_t restart : {uint8_t(1), uint8_t(0)}) {
        SCOPED_TRACE(int(restart));
        Harness h;
        auto player = startPlayer(2);
        h.hub->SetCurrentTarget(player->options().address, player->tcpPort());
        Page uart(kSetupUartCaption.english);
        const QByteArray document = "{\"Baud\":9600}";
        h.send(proto::CMD_PARAM_FILE, {}, restart, 1, 1, document);
        ASSERT_TRUE(waitUntil([&] { return !h.boxes.texts().isEmpty(); }));
        EXPECT_EQ(h.boxes.texts(), QStringList{u"Changes have been saved!"_qs});
        if (restart) {
            EXPECT_TRUE(player->waitForRequests(proto::CMD_REBOOT, 1, 30000));
        } else {
            // A query behind the answer: a reboot sent on it would have arrived first.
            h.send(proto::CMD_CASCADE_QUERY);
            ASSERT_TRUE(player->waitForRequests(proto::CMD_CASCADE_QUERY, 1, 30000));
            EXPECT_EQ(player->requestCount(proto::CMD_REBOOT), 0u);
        }
        std::lock_guard<std::mutex> lk(player->stateMutex());
        EXPECT_EQ(sim::companionState(*player)->protocolDocument, document);
        EXPECT_EQ(sim::companionState(*player)->storeSubCodes, std::vector<uint8_t>{restart});
        if (restart) {
            // The reboot carries sequence 0 and nothing else.
            for (const auto& e : player->log()) {
                if (e.incoming && e.header.command == proto::CMD_REBOOT) {
                    EXPECT_EQ(e.header.sequence, 0);
                }
            }
        }
        EXPECT_TRUE(uart.got.empty());
    }
}

TEST(CompanionHub, PlayerClosingTheLinkIsAnnounced)
{
    Harness h;
    auto player = startPlayer(2);
    Page batch(kBatchSendCaption.english);
    h.link(*player);
    ASSERT_TRUE(player->waitForRequests(proto::CMD_REBOOT, 1, 30000));
    player->dropConnections();
    ASSERT_TRUE(waitUntil([&] { return batch.countOf(platform::WM_LINK_CLOSED) == 1; }));
    EXPECT_EQ(h.hub->ConnectedCount(), 0);
    // The next request opens a fresh link.
    h.link(*player);
    EXPECT_EQ(h.hub->ConnectedCount(), 1);
}

}  // namespace
