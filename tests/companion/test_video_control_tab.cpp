// Tollivar's remote control: the tab window with one page per ticked player,
// against two simulated players on distinct loopback addresses through the
// link hub, on a shortened clock.

#include "common/text_coding.h"
#include "companion/hub_records.h"
#include "companion/link_hub.h"
#include "companion/slow_reply_notice.h"
#include "companion/tollivar_dlg.h"
#include "companion/video_control.h"
#include "companion/video_control_tab.h"
#include "platform/app_identity.h"
#include "platform/messages.h"
#include "player/companion_remote.h"
#include "player/player_sim.h"
#include "player/remote_commands.h"
#include "player/video_store.h"
#include "tests/companion/hub_players.h"
#include "tests/support/test_support.h"
#include "transport/protocol.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace Qt::StringLiterals;
using tollivar::CVideoControl;
using testsupport::waitUntil;

constexpr int kTickMs = 20;
// For tests that count what each step asked: an unanswered step is asked
// again after eleven ticks, and a player's answer, slow under a sanitizer on
// a busy machine, comes well inside eleven ticks of this.
constexpr int kPatientTickMs = 250;

// What one simulated player holds and answers.
struct PlayerSetup {
    QByteArray category;
    QByteArray video;
    QByteArray layout;  // code-page bytes, as the player keeps them
    uint16_t volume;
    int position;
    int duration;
    QByteArray typeName;
    QByteArray capabilities;
};

const PlayerSetup kFirst{"Ads", "a.mp4", "a.GFD", 30, 3724, 7322, "Ads", sim::defaultCapabilityReply()};
// The second names its layout in code page 936 and has no power buttons.
const PlayerSetup kSecond{text::CStringToDoubleByteText(u"新闻"_s), "n.mp4",
                          text::CStringToDoubleByteText(u"布局一.GFD"_s), 70, 59, 120, "News",
                          "{\"cmdId\":3,\"data\":[{\"playMode\":\"\\u5faa\\u73af\",\"type\":8}]}"};

// Tollivar's main window and hub, two players and the tab window over them.
struct TwoPlayers {
    testsupport::TempHome home;
    QTemporaryDir temp;
    std::unique_ptr<sim::PlayerSim> players[2];
    std::unique_ptr<platform::MessageWindow> main;
    std::unique_ptr<tollivar::CLinkHub> hub;
    std::unique_ptr<tollivar::CVideoControlTab> tab;
    QString previousTitle = platform::appTitle();

    std::vector<tollivar::TickedPlayer> ticked;

    // `withWindows`: also the main window, its hub and the tab window, whose
    // pages tick every `tickMs`.
    explicit TwoPlayers(unsigned language = platform::kLanguageEnglish, bool withWindows = true,
                        int tickMs = kTickMs)
    {
        platform::setAppTitle(u"Tollivar V1.23"_s);
        platform::setAppLanguage(language);
        const PlayerSetup* setups[2] = {&kFirst, &kSecond};
        for (int i = 0; i < 2; ++i) {
            sim::SimOptions o;
            o.address = u"127.0.0.%1"_s.arg(i + 2);
            players[i] = std::make_unique<sim::PlayerSim>(o);
            sim::installStandardCommands(*players[i]);
            QString error;
            EXPECT_TRUE(players[i]->start(&error)) << error.toStdString();
            const PlayerSetup& s = *setups[i];
            {
                std::lock_guard lock(players[i]->stateMutex());
                sim::VideoStoreState& store = sim::videoStore(*players[i]);
                sim::addVideo(store.acts[0], s.category, s.video, 10);
                store.sliders[1] = s.volume;
                store.pushChanges = false;
                players[i]->state().layouts = {{s.layout, QByteArray()}};
                sim::RemoteState& remote = sim::remoteState(*players[i]);
                remote.position = s.position;
                remote.duration = s.duration;
                remote.typeName = s.typeName;
                sim::capabilityState(*players[i]).reply = s.capabilities;
            }
            ticked.push_back({o.address, QString::number(players[i]->tcpPort())});
        }
        if (!withWindows)
            return;
        main = std::make_unique<platform::MessageWindow>(platform::appTitle());
        hub = std::make_unique<tollivar::CLinkHub>(*main, u"Tollivar-"_s, language);
        tab = std::make_unique<tollivar::CVideoControlTab>(u"Tollivar-"_s, folder(), ticked, language, tickMs);
    }
    ~TwoPlayers()
    {
        tab.reset();
        hub.reset();
        main.reset();
        platform::setAppTitle(previousTitle);
        platform::setAppLanguage(platform::kLanguageEnglish);
    }
    QString folder() const { return temp.path() + u"/"_s; }
    CVideoControl& page(int i) { return *tab->Page(i); }
    bool bothPolling() { return page(0).step() == CVideoControl::kPolling && page(1).step() == CVideoControl::kPolling; }
    std::vector<sim::ControlCommand> commands(int i, int cmdId)
    {
        std::lock_guard lock(players[i]->stateMutex());
        std::vector<sim::ControlCommand> out;
        for (const auto& c : sim::remoteState(*players[i]).commands)
            if (c.cmdId == cmdId)
                out.push_back(c);
        return out;
    }
};

QByteArray playModeDocument(const QString& label)
{
    return "{\r\n\t\"cmdId\" : 4,\r\n\t\"playMode\" : \"" + label.toUtf8() + "\"\r\n}";
}

TEST(VideoControlTab, EachPageRunsItsStartUpAgainstItsOwnPlayer)
{
    TwoPlayers t(platform::kLanguageEnglish, true, kPatientTickMs);
    EXPECT_EQ(t.tab->windowTitle(), u"Tollivar-Video Control"_s);
    ASSERT_EQ(t.tab->PageCount(), 2);
    EXPECT_EQ(t.tab->Tabs()->tabText(1), u"127.0.0.3"_s);
    t.tab->OnInitDialog();
    ASSERT_TRUE(waitUntil([&] { return t.bothPolling(); }));

    const struct {
        int page;
        QString type;
        QString video;
        QString layout;
        int volume;
        QString typeLoop;  // 2104 after the capability reply
        bool power;
    } rows[] = {
        {0, u"Ads"_s, u"a.mp4"_s, u"a"_s, 30, u"Loop type"_s, true},
        {1, u"新闻"_s, u"n.mp4"_s, u"布局一"_s, 70, u"循环"_s, false},
    };
    for (const auto& r : rows) {
        CVideoControl& p = t.page(r.page);
        ASSERT_EQ(p.types().size(), 1u) << r.page;
        EXPECT_EQ(p.types()[0].name, r.type);
        EXPECT_EQ(p.types()[0].videos, QStringList{r.video});
        // Layout names arrive in code page 936 and are read so.
        EXPECT_EQ(p.layouts(), QStringList{r.layout});
        EXPECT_EQ(p.findChild<QPushButton*>(u"5200"_s)->text(), r.layout + u".GFD"_s);
        EXPECT_EQ(p.volume()->value(), r.volume);
        EXPECT_EQ(p.label(CVideoControl::kTypeLoop), r.typeLoop);
        EXPECT_EQ(p.button(CVideoControl::kPowerOn)->isVisibleTo(&p), r.power);
        EXPECT_EQ(p.button(CVideoControl::kPowerOff)->isVisibleTo(&p), r.power);
        // Each player was asked once for each step, in order: 19, 52, 59/3.
        std::vector<int> order;
        for (const auto& e : t.players[r.page]->log())
            if (e.incoming && (e.header.command == 19 || e.header.command == 52 ||
                               (e.header.command == 59 && e.header.param == 3)))
                order.push_back(e.header.command);
        EXPECT_EQ(order, (std::vector<int>{19, 52, 59})) << r.page;
    }
    EXPECT_EQ(t.page(0).label(CVideoControl::kPowerOn), u"Power on"_s);
    EXPECT_EQ(t.page(1).label(CVideoControl::kPlay), u"播放"_s);  // not named by its player

    // Polling: each page shows its own player's position.
    ASSERT_TRUE(waitUntil([&] { return t.page(0).nameText() == u"Ads->a.mp4"_s && t.page(1).nameText() == u"News->a.mp4"_s; }));
    EXPECT_TRUE(t.page(0).timeText().endsWith(u"/02:02:02"_s));
    EXPECT_EQ(t.page(0).progress(), 50);
    EXPECT_TRUE(t.page(1).timeText().endsWith(u"/00:02:00"_s));
    EXPECT_GE(t.page(1).progress(), 50);
}

TEST(VideoControlTab, VolumeAndProgressOfOneTickBothArrive)
{
    // The replies of one tick come apart, in pieces, or in one write.
    const struct { const char* name; sim::Fault fault; int value; } rows[] = {
        {"apart", sim::Fault::None, 0},
        {"in pieces", sim::Fault::Split, 7},
        {"in one write", sim::Fault::Coalesce, 0},
    };
    for (const auto& r : rows) {
        TwoPlayers t(platform::kLanguageEnglish, true, kPatientTickMs);
        t.players[1]->setFault(r.fault, r.value, proto::CMD_VIDEO_CONTROL);
        t.tab->OnInitDialog();
        ASSERT_TRUE(waitUntil([&] { return t.bothPolling() && !t.page(1).nameText().isEmpty(); })) << r.name;
        const std::size_t before = t.commands(1, 10).size();
        const QString shown = t.page(1).timeText();
        t.page(1).volume()->setValue(55);
        ASSERT_TRUE(waitUntil([&] { return !t.commands(1, 8).empty() && t.commands(1, 10).size() > before + 1; }))
            << r.name;
        EXPECT_EQ(t.commands(1, 8).size(), 1u) << r.name;
        EXPECT_EQ(t.commands(1, 8)[0].document, "{\r\n\t\"cmdId\" : 8,\r\n\t\"sound\" : \"55\"\r\n}") << r.name;
        // The progress replies still reach the page after the volume's echo.
        EXPECT_TRUE(waitUntil([&] { return t.page(1).timeText() != shown; })) << r.name;
        EXPECT_EQ(t.page(1).step(), CVideoControl::kPolling) << r.name;
        // The other player heard nothing of it.
        EXPECT_TRUE(t.commands(0, 8).empty()) << r.name;
        EXPECT_EQ(t.page(0).volume()->value(), 30) << r.name;
    }
}

TEST(VideoControlTab, AtMostNinePages)
{
    testsupport::TempHome home;
    std::vector<tollivar::TickedPlayer> ticked;
    for (int i = 0; i < 10; ++i)
        ticked.push_back({u"127.0.0.%1"_s.arg(i + 2), u"5000"_s});
    tollivar::CVideoControlTab tab(u"T-"_s, home.path(), ticked, platform::kLanguageEnglish, kTickMs);
    ASSERT_EQ(tab.PageCount(), 9);
    EXPECT_EQ(tab.Tabs()->count(), 9);
    EXPECT_EQ(tab.Page(8)->ip(), u"127.0.0.10"_s);
    EXPECT_EQ(tab.Page(8)->pageIndex(), 8);
    EXPECT_EQ(tab.Page(9), nullptr);
}

TEST(VideoControlTab, EveryPlayButtonSendsItsLabelToItsOwnPlayerInBothLanguages)
{
    for (unsigned language : {platform::kLanguageEnglish, platform::kLanguageChinese}) {
        TwoPlayers t(language);
        const bool zh = language == platform::kLanguageChinese;
        EXPECT_EQ(t.tab->windowTitle(), zh ? u"Tollivar-视频控制"_s : u"Tollivar-Video Control"_s);
        CVideoControl& p = t.page(1);
        const struct { const char* object; QString text; } captions[] = {
            {"2101", zh ? u"切换类别"_s : u"Folder"_s}, {"2102", zh ? u"切换布局"_s : u"Layout"_s},
            {"2103", zh ? u"播放模式"_s : u"Mode"_s},
        };
        for (const auto& c : captions)
            EXPECT_EQ(p.findChild<QGroupBox*>(QString::fromLatin1(c.object))->title(), c.text);
        EXPECT_EQ(p.findChild<QLabel*>(u"2112"_s)->text(), zh ? u"音量"_s : u"Volume"_s);
        EXPECT_EQ(p.videoCheck()->text(), zh ? u"切换视频"_s : u"Video"_s);

        // The fixed Chinese labels in both languages, each sent as it reads.
        const struct { int control; QString label; } buttons[] = {
            {2104, u"类别循环"_s}, {2105, u"单曲循环"_s}, {2106, u"单曲播放"_s}, {2107, u"类别随机"_s},
            {2108, u"全部随机"_s}, {2109, u"播放"_s},     {2110, u"暂停"_s},     {2113, u"上一首"_s},
            {2114, u"下一首"_s},   {2120, u"开机"_s},     {2121, u"关机"_s},
        };
        for (const auto& b : buttons) {
            EXPECT_EQ(p.label(b.control), b.label) << b.control;
            p.OnControlButton(b.control);
        }
        ASSERT_TRUE(waitUntil([&] { return t.commands(1, 4).size() == std::size(buttons); }));
        const auto sent = t.commands(1, 4);
        for (std::size_t i = 0; i < std::size(buttons); ++i)
            EXPECT_EQ(sent[i].document, playModeDocument(buttons[i].label)) << buttons[i].control;
        // No cmdId 9 here, and nothing reached the other player.
        EXPECT_TRUE(t.commands(1, 9).empty());
        EXPECT_TRUE(t.commands(0, 4).empty());
    }
}

TEST(VideoControlTab, ButtonsSendThePlayersOwnLabelsAfterTheCapabilityReply)
{
    TwoPlayers t;
    t.tab->OnInitDialog();
    ASSERT_TRUE(waitUntil([&] { return t.bothPolling(); }));
    t.page(0).OnControlButton(CVideoControl::kSingleLoop);
    t.page(0).OnControlButton(CVideoControl::kPowerOff);
    t.page(1).OnControlButton(CVideoControl::kTypeLoop);
    ASSERT_TRUE(waitUntil([&] { return t.commands(0, 4).size() == 2 && t.commands(1, 4).size() == 1; }));
    EXPECT_EQ(t.commands(0, 4)[0].document, playModeDocument(u"Repeat one"_s));
    EXPECT_EQ(t.commands(0, 4)[1].document, playModeDocument(u"Power off"_s));
    EXPECT_EQ(t.commands(1, 4)[0].document, playModeDocument(u"循环"_s));
}

TEST(VideoControlTab, UnansweredStepIsAskedAgainEveryElevenTicks)
{
    const struct {
        const char* name;
        uint8_t silentCode;
        uint8_t askedCode;
        CVideoControl::Step step;
    } rows[] = {
        {"catalogue", proto::CMD_VIDEO_LIST, proto::CMD_VIDEO_LIST, CVideoControl::kWantCatalogue},
        {"layouts", proto::CMD_LAYOUT, proto::CMD_LAYOUT, CVideoControl::kWantLayouts},
        {"capabilities", proto::CMD_VIDEO_CONTROL, proto::CMD_VIDEO_CONTROL, CVideoControl::kWantCapabilities},
    };
    // Eleven ticks of 100 ms: the other player's answer, slow under a
    // sanitizer on a busy machine, comes well inside them, so it is asked once.
    constexpr int kSlowTickMs = 100;
    for (const auto& r : rows) {
        TwoPlayers t(platform::kLanguageEnglish, true, kSlowTickMs);
        t.players[0]->setFault(sim::Fault::Silent, 0, r.silentCode);
        QElapsedTimer clock;
        clock.start();
        t.tab->OnInitDialog();
        // The first request and two more, eleven ticks apart.
        ASSERT_TRUE(waitUntil([&] { return t.players[0]->requestCount(r.askedCode) >= 3; })) << r.name;
        EXPECT_GE(clock.elapsed(), 2 * 11 * kSlowTickMs - kSlowTickMs) << r.name;
        EXPECT_EQ(t.page(0).step(), r.step) << r.name;
        // The other page went its own way.
        EXPECT_TRUE(waitUntil([&] { return t.page(1).step() == CVideoControl::kPolling; })) << r.name;
        EXPECT_EQ(t.players[1]->requestCount(proto::CMD_VIDEO_LIST), 1u) << r.name;
        // Nothing of a later step went to the silent player.
        if (r.step == CVideoControl::kWantCatalogue) {
            EXPECT_EQ(t.players[0]->requestCount(proto::CMD_LAYOUT), 0u);
        }
        EXPECT_TRUE(t.commands(0, 10).empty()) << r.name;
        // Once it answers, the sequence goes on.
        t.players[0]->setFault(sim::Fault::None, 0, r.silentCode);
        EXPECT_TRUE(waitUntil([&] { return t.page(0).step() == CVideoControl::kPolling; })) << r.name;
    }
}

// A player whose catalogue trickles in too slowly is named once, however
// often its request is repeated and its reply dropped again; a player that
// answers in time fills its page and is not named.
TEST(VideoControlTab, APlayerTooSlowIsNamedOnceWhileItsRepliesKeepBeingDropped)
{
    constexpr int kDrops = 3;  // the first drop and two more on repeats
    const struct { int page; bool slow; } rows[] = {{0, true}, {1, false}, {2, true}};
    for (unsigned language : {platform::kLanguageEnglish, platform::kLanguageChinese}) {
        SCOPED_TRACE(language);
        comptest::HubWithPlayers h(language, [](sim::PlayerSim& p, int) {
            sim::VideoStoreState& store = sim::videoStore(p);
            sim::addVideo(store.acts[0], "Ads", "a.mp4", 10);
            store.pushChanges = false;
        });
        h.dropSlowRepliesSoon();
        for (const auto& r : rows)
            if (r.slow)
                h.players[std::size_t(r.page)]->setFault(sim::Fault::Trickle, 5000, proto::CMD_VIDEO_LIST);
        tollivar::CVideoControlTab tab(u"Tollivar-"_s, h.temp.path() + u"/"_s, h.ticked(), language, kTickMs);
        tab.OnInitDialog();
        int seen[3] = {};
        ASSERT_TRUE(waitUntil([&] {
            bool done = tab.Page(1)->step() == CVideoControl::kPolling;
            for (const auto& r : rows) {
                if (!r.slow)
                    continue;
                // The rest of a dropped reply would trickle on for half a
                // minute: the player cuts its link, and the next repeat of
                // the request is answered (and dropped) at once.
                const int drops = tab.Page(r.page)->slowReplies();
                if (drops > seen[r.page] && drops < kDrops)
                    h.players[std::size_t(r.page)]->dropConnections();
                seen[r.page] = drops;
                done = done && drops >= kDrops;
            }
            return done;
        }, 60000));
        EXPECT_EQ(h.boxes.texts().size(), 2) << h.boxes.texts().join(u'|').toStdString();
        for (const auto& r : rows) {
            const CVideoControl& p = *tab.Page(r.page);
            EXPECT_EQ(h.boxes.texts().count(comptest::tooSlowNotice(language, p.ip())), r.slow ? 1 : 0) << r.page;
            EXPECT_EQ(p.types().empty(), r.slow) << r.page;
            EXPECT_GE(h.players[std::size_t(r.page)]->requestCount(proto::CMD_VIDEO_LIST), r.slow ? kDrops : 1) << r.page;
        }
    }
}

TEST(VideoControlPage, TooSlowIsSaidAgainOnlyAfterAReplyInTime)
{
    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes;
    CVideoControl page(home.path(), 0, u"127.0.0.2"_s, 5000, platform::kLanguageEnglish, kTickMs);
    const QString layouts = u"a.GFD?"_s;
    for (int i = 0; i < 2; ++i)
        platform::sendMessage(&page, platform::WM_REPLY_TOO_SLOW, 0, 0);
    EXPECT_EQ(boxes.texts().size(), 1);
    platform::sendMessage(&page, platform::WM_VIDEO_UPLOAD_REPLY, 0, platform::LPARAM(&layouts));
    platform::sendMessage(&page, platform::WM_REPLY_TOO_SLOW, 0, 0);
    EXPECT_EQ(boxes.texts().size(), 2);
    EXPECT_EQ(page.slowReplies(), 3);
}

// The rule the pages share: each player is named once, and again only after
// it has answered in time.
TEST(SlowReplyNotice, OncePerPlayerUntilItAnswersInTime)
{
    testsupport::MessageBoxRecorder boxes;
    tollivar::SlowReplyNotice notice;
    const struct { QString ip; bool answered; qsizetype boxes; } steps[] = {
        {u"127.0.0.2"_s, false, 1}, {u"127.0.0.2"_s, false, 1}, {u"127.0.0.3"_s, false, 2},
        {u"127.0.0.3"_s, true, 2},  {u"127.0.0.2"_s, false, 2}, {u"127.0.0.3"_s, false, 3},
    };
    for (const auto& s : steps) {
        s.answered ? notice.Answered(s.ip) : notice.Dropped(s.ip, platform::kLanguageEnglish, nullptr);
        EXPECT_EQ(boxes.texts().size(), s.boxes) << s.ip.toStdString();
    }
}

TEST(VideoControlPage, CapabilityReplyTable)
{
    testsupport::TempHome home;
    const struct {
        const char* name;
        QByteArray reply;
        bool taken;  // polling starts
        QString typeLoop;
        QString pause;
        bool power;
    } rows[] = {
        {"both power entries", "{\"cmdId\":3,\"data\":[{\"playMode\":\"On\",\"type\":6},{\"playMode\":\"Off\",\"type\":7}]}",
         true, u"类别循环"_s, u"暂停"_s, true},
        {"no power entries", "{\"cmdId\":3,\"data\":[{\"playMode\":\"Hold\",\"type\":3}]}", true, u"类别循环"_s,
         u"Hold"_s, false},
        {"data not an array", "{\"cmdId\":3,\"data\":{\"playMode\":\"x\",\"type\":8}}", true, u"类别循环"_s,
         u"暂停"_s, false},
        {"no data", "{\"cmdId\":3}", true, u"类别循环"_s, u"暂停"_s, false},
        {"entries of other kinds skipped",
         "{\"cmdId\":3,\"data\":[{\"playMode\":1,\"type\":8},{\"playMode\":\"a\",\"type\":\"8\"},"
         "{\"playMode\":\"b\",\"type\":13},{\"playMode\":\"c\",\"type\":1},5,{\"playMode\":\"Loop\",\"type\":8}]}",
         true, u"Loop"_s, u"暂停"_s, false},
        {"code-page text", "{\"cmdId\":3,\"data\":[{\"playMode\":\"\xD1\xAD\xBB\xB7\",\"type\":8}]}", true,
         u"循环"_s, u"暂停"_s, false},
        {"cmdId as text", "{\"cmdId\":\"3\",\"data\":[]}", false, u"类别循环"_s, u"暂停"_s, false},
        {"does not parse", "{\"cmdId\":3,\"data\":[}", false, u"类别循环"_s, u"暂停"_s, false},
        {"empty", "", false, u"类别循环"_s, u"暂停"_s, false},
    };
    for (const auto& r : rows) {
        CVideoControl page(home.path(), 0, u"127.0.0.2"_s, 5000, platform::kLanguageEnglish, kTickMs);
        // A reply shows the power buttons only while the latest one names them.
        const QByteArray both = rows[0].reply;
        platform::sendMessage(&page, platform::WM_VIDEO_CONTROL_REPLY, 10, platform::LPARAM(&both));
        ASSERT_TRUE(page.button(CVideoControl::kPowerOn)->isVisibleTo(&page));
        CVideoControl fresh(home.path(), 0, u"127.0.0.2"_s, 5000, platform::kLanguageEnglish, kTickMs);
        CVideoControl* target = r.taken ? &page : &fresh;
        platform::sendMessage(target, platform::WM_VIDEO_CONTROL_REPLY, 10, platform::LPARAM(&r.reply));
        EXPECT_EQ(target->step() == CVideoControl::kPolling, r.taken) << r.name;
        if (!r.taken)
            continue;
        EXPECT_EQ(page.label(CVideoControl::kTypeLoop), r.typeLoop) << r.name;
        EXPECT_EQ(page.label(CVideoControl::kPause), r.pause) << r.name;
        EXPECT_EQ(page.button(CVideoControl::kPowerOn)->isVisibleTo(&page), r.power) << r.name;
        EXPECT_EQ(page.button(CVideoControl::kPowerOff)->isVisibleTo(&page), r.power) << r.name;
    }
}

TEST(VideoControlTab, RepliesBeyondTheOpenPagesAreDroppedAndFreed)
{
    TwoPlayers t;
    // The records belong to the receiver: a page index past the pages must
    // still free them (the address checker sees a leak otherwise).
    platform::sendMessage(t.tab.get(), platform::WM_VIDEO_LIST_REPLY, 2, platform::LPARAM(new PlayerCatalog));
    platform::sendMessage(t.tab.get(), platform::WM_TRACKBAR_VALUES_REPLY, 9,
                          platform::LPARAM(new tollivar::ReplyStatusRecord{0, 99, 0}));
    const QString layouts = u"x.GFD?"_s;
    platform::sendMessage(t.tab.get(), platform::WM_VIDEO_UPLOAD_REPLY, 2, platform::LPARAM(&layouts));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(t.page(i).step(), CVideoControl::kWantCatalogue);
        EXPECT_TRUE(t.page(i).layouts().isEmpty());
        EXPECT_EQ(t.page(i).volume()->value(), 0);
    }
    // Index 1 reaches the second page only.
    platform::sendMessage(t.tab.get(), platform::WM_VIDEO_UPLOAD_REPLY, 1, platform::LPARAM(&layouts));
    EXPECT_EQ(t.page(1).layouts(), QStringList{u"x"_s});
    EXPECT_TRUE(t.page(0).layouts().isEmpty());
}

TEST(VideoControlPage, FullGridsStayInsideTheirGroups)
{
    testsupport::TempHome home;
    CVideoControl page(home.path(), 0, u"127.0.0.2"_s, 5000, platform::kLanguageEnglish, kTickMs);
    page.resize(1280, 760);
    auto catalog = std::make_unique<PlayerCatalog>();
    for (int i = 0; i < 64; ++i)
        sim::addCategory(*catalog, "T" + QByteArray::number(i));
    for (int j = 0; j < 50; ++j)
        sim::addVideo(*catalog, "T0", "v" + QByteArray::number(j) + ".mp4", 1);
    platform::sendMessage(&page, platform::WM_VIDEO_LIST_REPLY, 0, platform::LPARAM(catalog.release()));
    QString layouts;
    for (int i = 0; i < 12; ++i)
        layouts += u"L%1.GFD?"_s.arg(i);
    platform::sendMessage(&page, platform::WM_VIDEO_UPLOAD_REPLY, 0, platform::LPARAM(&layouts));
    page.videoCheck()->setChecked(true);
    page.OnTypeButton(0);
    const struct { int first; int count; } grids[] = {{5000, 64}, {5100, 50}, {5200, 10}};
    for (const auto& g : grids) {
        for (int id = g.first; id < g.first + g.count; ++id) {
            auto* b = page.findChild<QPushButton*>(QString::number(id));
            ASSERT_NE(b, nullptr) << id;
            const QWidget* group = b->parentWidget();
            EXPECT_TRUE(group->contentsRect().contains(b->geometry())) << id;
            EXPECT_GT(b->width(), 0) << id;
            EXPECT_GT(b->height(), 0) << id;
        }
        EXPECT_EQ(page.findChild<QPushButton*>(QString::number(g.first + g.count)), nullptr);
    }
}

TEST(VideoControlTab, OpenedFromTheMainDialogWithTheTickedPlayers)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    TwoPlayers t(platform::kLanguageEnglish, false);
    testsupport::MessageBoxRecorder boxes;
    int pagesPolling = 0;
    int linksWhileOpen = 0;
    tollivar::FeatureOpeners openers;
    tollivar::CTollivarDlg* main = nullptr;
    openers.videoControl = [&](const tollivar::FeatureContext& context) {
        // Closes the modal window once both pages poll (or after 5 s).
        QTimer watch;
        QElapsedTimer clock;
        clock.start();
        QObject::connect(&watch, &QTimer::timeout, [&] {
            auto* tab = dynamic_cast<tollivar::CVideoControlTab*>(platform::findWindow(u"Tollivar-Video Control"_s));
            if (!tab)
                return;
            pagesPolling = 0;
            for (int i = 0; i < tab->PageCount(); ++i)
                pagesPolling += tab->Page(i)->step() == CVideoControl::kPolling ? 1 : 0;
            if (pagesPolling == 2 || clock.elapsed() > 5000) {
                linksWhileOpen = main->hub().ConnectedCount();
                tab->done(QDialog::Accepted);
            }
        });
        watch.start(20);
        tollivar::OpenVideoControl(context);
    };
    tollivar::CTollivarDlg dialog(u"Tollivar V1.23"_s, platform::kLanguageEnglish, openers);
    main = &dialog;
    dialog.setScanRunner([&](const QString&, bool tickBoxes, QWidget*) {
        EXPECT_TRUE(tickBoxes);
        tollivar::ScanOutcome outcome;
        outcome.ticked = t.ticked;
        return std::optional<tollivar::ScanOutcome>(outcome);
    });
    dialog.OnVideoControl();
    EXPECT_EQ(pagesPolling, 2);
    EXPECT_EQ(linksWhileOpen, 2);
    // The links end with the window.
    EXPECT_EQ(dialog.hub().ConnectedCount(), 0);
    EXPECT_TRUE(boxes.texts().isEmpty());
}

TEST(VideoControlTab, ScreenshotsWithTwoPagesInBothLanguages)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "Qt paints on threads the thread checker cannot follow";
    const QString folder = testsupport::binDir() + u"/../screenshots"_s;
    QDir().mkpath(folder);
    const struct { unsigned language; const char* file; } cases[] = {
        {platform::kLanguageEnglish, "video_control_tab_en.png"},
        {platform::kLanguageChinese, "video_control_tab_zh.png"},
    };
    for (const auto& c : cases) {
        TwoPlayers t(c.language);
        t.tab->resize(1280, 800);
        t.tab->show();
        ASSERT_TRUE(waitUntil([&] { return t.bothPolling() && !t.page(0).nameText().isEmpty(); }));
        t.page(0).videoCheck()->setChecked(true);
        t.page(0).OnTypeButton(0);
        QApplication::processEvents();
        EXPECT_TRUE(t.tab->grab().save(folder + u"/"_s + QString::fromLatin1(c.file)));
        t.tab->Tabs()->setCurrentIndex(1);
        QApplication::processEvents();
        EXPECT_FALSE(t.page(0).isVisible());
        EXPECT_TRUE(t.tab->grab().save(folder + u"/"_s + QString::fromLatin1(c.file).replace(u".png"_s, u"_2.png"_s)));
        t.tab->done(QDialog::Accepted);
        EXPECT_FALSE(t.page(1).hasTimer(CVideoControl::kTimer));
    }
}

}  // namespace
