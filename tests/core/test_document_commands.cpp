#include "core/command_registry.h"
#include "core/command_table.h"
#include "core/config_exchange.h"
#include "core/devices/device_commands.h"
#include "core/editor_hooks.h"
#include "core/mainframe.h"
#include "core/views/content_view.h"
#include "platform/app_identity.h"
#include "tests/core/device_harness.h"

#include <QApplication>
#include <QScrollBar>

#include <set>

namespace {

using core::CommandState;
using devtest::DeviceHarness;
using testsupport::waitUntil;

// ---------------------------------------------------------------- the rules

TEST(CommandRules, OneTableOverLinkVersionKindAndBusyStates)
{
    // Columns: the document's states; 'x' = enabled.
    auto linked = [](uint16_t version, uint8_t kind) {
        CommandState s;
        s.connected = true;
        s.playerVersion = version;
        s.playerKind = kind;
        s.rowHasAddressAndPort = true;
        return s;
    };
    std::vector<CommandState> states;
    states.push_back({});                                       // 0 nothing chosen
    CommandState lost;                                          // 1 the link was lost, the row stays
    lost.rowHasAddressAndPort = true;
    states.push_back(lost);
    states.push_back(linked(0x1400, 1));                        // 2 older blending player
    states.push_back(linked(0x1500, 2));                        // 3 rotation player
    states.push_back(linked(0x1522, 3));                        // 4 kind 3
    CommandState s = linked(0x1522, 3);
    s.uploadPending = true;                                     // 5 kind 3, upload pending
    states.push_back(s);
    s = linked(0x1523, 4);
    s.windowSelected = true;                                    // 6 a window selected
    states.push_back(s);
    s.uploadPending = true;                                     // 7 selected, upload pending
    states.push_back(s);
    s = linked(0x1523, 4);
    s.clipboardHoldsWindow = true;                              // 8 a window on the clipboard
    states.push_back(s);
    s.uploadPending = true;                                     // 9 clipboard, upload pending
    states.push_back(s);
    s = linked(0x1523, 4);
    s.layoutLocked = true;                                      // 10 layout locked
    states.push_back(s);
    s = {};                                                     // 11 stale flags without a link
    s.windowSelected = s.clipboardHoldsWindow = true;
    s.playerVersion = 0x1523;
    s.playerKind = 3;
    states.push_back(s);

    struct Row {
        int id;
        const char* expected;  // one character per state above
    };
    const Row rows[] = {
        {57600, "..xxxxxxxxx."},  // linked
        {32775, "xxxxxxxxxxxx"},  // always
        {57634, "......xx...."},  // a window selected
        {57635, "......x....."},  // selected, no upload pending
        {32772, "..xxx.x.x.x."},  // no upload pending
        {57637, "........x..."},  // clipboard, no upload pending
        {32787, "...xxxxxxxx."},  // version 0x1500 or later
        {32788, "....xx......"},  // kind 3
        {32797, "..xxxxxxxx.."},  // layout unlocked
        {32776, ".xxxxxxxxxx."},  // the row has an address and a port, link or not
    };
    for (const Row& r : rows) {
        ASSERT_EQ(std::strlen(r.expected), states.size());
        for (std::size_t i = 0; i < states.size(); ++i)
            EXPECT_EQ(core::CommandEnabled(r.id, states[i]), r.expected[i] == 'x') << r.id << " state " << i;
    }
    EXPECT_FALSE(core::CommandEnabled(1, states[6]));  // not a command of the table
}

TEST(CommandRules, TheTableHoldsEachCommandOnceAndEachIsReachable)
{
    std::set<int> ids;
    for (const core::CommandRow& r : core::CommandTable()) {
        EXPECT_TRUE(ids.insert(r.id).second) << r.id;
        EXPECT_NE(r.places, 0u) << r.id;
        EXPECT_NE(std::strlen(r.english), 0u);
        EXPECT_NE(std::strlen(r.chinese), 0u);
    }
    EXPECT_EQ(ids.size(), 45u);
}

// ---------------------------------------------------------------- System Setup

// A player of `version` (product nibble in the low four bits) linked to the
// harness's document, with every setup editor replaced by a recorder.
struct SetupHarness : DeviceHarness {
    struct Opened {
        uint8_t kind;
        uint8_t channels;
        QString ip;
        QString folder;
        uint16_t version;
    };

    explicit SetupHarness(uint16_t version, uint8_t channelCode = 41, unsigned language = platform::kLanguageEnglish)
        : DeviceHarness(language, false)
    {
        player->stop();
        sim::SimOptions o;
        o.address = QStringLiteral("127.0.0.3");
        o.version = version;
        o.channelCode = channelCode;
        player = std::make_unique<sim::PlayerSim>(o);
        sim::installStandardCommands(*player);
        sim::installConfigStore(*player);
        EXPECT_TRUE(player->start());
        doc->setTarget(o.address, player->tcpPort());
        doc->currentPlayer().ip = o.address;
        doc->currentPlayer().portText = QString::number(player->tcpPort());
        doc->currentPlayer().mac = o.mac;
        doc->showWaitBox = [this](const QString& text) { waitBox << text; };
        doc->hideWaitBox = [this] { waitBox << QStringLiteral("(hidden)"); };
        frame->onMessage(platform::WM_OPEN_VIDEO_PIC_WINDOW, [this](platform::WPARAM, platform::LPARAM) {
            ++videoPicWindowPosts;
            return platform::LRESULT(0);
        });
        for (uint8_t kind : {1, 2, 3})
            core::registerSetupEditor(kind, [this](CvelunaDoc& d) {
                opened.push_back({d.product(), d.playerChannels(), d.currentPlayer().ip, d.playerFolder(),
                                  d.currentPlayer().version});
            });
        doc->OnReconnect();
        EXPECT_TRUE(waitUntil([this] { return doc->IsConnected(); }));
        EXPECT_TRUE(waitUntil([this] { return testsupport::HandshakeRequestsDone(*doc, *player); }));
        player->clearLog();
        boxes.clear();
    }
    ~SetupHarness()
    {
        for (uint8_t kind : {1, 2, 3})
            core::registerSetupEditor(kind, {});
    }
    std::vector<uint8_t> configFilesAsked() const
    {
        std::vector<uint8_t> files;
        for (const sim::LogEntry& e : requests(proto::CMD_CONFIG_FILE))
            files.push_back(e.header.subCode);
        return files;
    }

    std::vector<Opened> opened;
    QStringList waitBox;
    int videoPicWindowPosts = 0;
};

TEST(SystemSetup, OlderPlayersOpenTheEditorAtOnce)
{
    SetupHarness h(0x1420, 31);  // kind 1, three channels
    h.doc->OnSystemSetup();
    waitUntil([] { return false; }, 200);
    EXPECT_TRUE(h.configFilesAsked().empty());
    ASSERT_EQ(h.opened.size(), 1u);
    EXPECT_EQ(h.opened[0].kind, 1);
    EXPECT_EQ(h.opened[0].channels, 3);
    EXPECT_EQ(h.opened[0].ip, QStringLiteral("127.0.0.3"));
    EXPECT_FALSE(h.opened[0].folder.isEmpty());
    EXPECT_TRUE(h.doc->configExchange().active());  // the exchange runs again after the editor
}

TEST(SystemSetup, NewerPlayersFetchFirstThenTheWaitBoxThenTheEditor)
{
    struct Case {
        uint16_t version;
        uint8_t kind;
        std::vector<uint8_t> files;  // asked in this order
    };
    const Case cases[] = {
        {0x1520, 1, {1, 2, 3, 4, 6, 7}},
        {0x1521, 2, {17}},
        {0x1522, 3, {1, 2, 3, 4, 6, 7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        SetupHarness h(c.version);
        ASSERT_EQ(h.doc->product(), c.kind);
        h.doc->OnSystemSetup();
        ASSERT_TRUE(h.waitRequests(proto::CMD_LOAD_STATE, 1));
        EXPECT_EQ(h.configFilesAsked(), c.files);
        // Each request: command 54, the file as sub-code, arg 0, no payload.
        for (const sim::LogEntry& e : h.requests(proto::CMD_CONFIG_FILE)) {
            EXPECT_EQ(e.header.arg, 0);
            EXPECT_TRUE(e.payload.isEmpty());
        }
        const sim::LogEntry load = h.requests(proto::CMD_LOAD_STATE).front();
        EXPECT_EQ(load.header.param, 0);
        EXPECT_EQ(load.header.sequence, 0);
        EXPECT_EQ(h.waitBox, QStringList{QStringLiteral("Loading...")});
        EXPECT_TRUE(h.opened.empty());
        // Five timer ticks: the fifth closes the box and asks for the editor.
        for (int tick = 1; tick <= 5; ++tick)
            EXPECT_EQ(h.doc->TickWaitBox(), tick == 5) << tick;
        EXPECT_FALSE(h.doc->TickWaitBox());
        EXPECT_EQ(h.waitBox.last(), QStringLiteral("(hidden)"));
        EXPECT_FALSE(h.doc->configExchange().active());
        h.doc->OpenSetupEditor();  // what WM_OPEN_SETUP_EDITOR does
        ASSERT_EQ(h.opened.size(), 1u);
        EXPECT_EQ(h.opened[0].kind, c.kind);
        EXPECT_EQ(h.opened[0].channels, 4);
        EXPECT_EQ(h.opened[0].version, c.version);
        EXPECT_TRUE(h.doc->configExchange().active());
    }
}

TEST(SystemSetup, TheWaitBoxSpeaksChinese)
{
    SetupHarness h(0x1521, 41, platform::kLanguageChinese);
    h.doc->OnSystemSetup();
    ASSERT_TRUE(h.waitRequests(proto::CMD_LOAD_STATE, 1));
    EXPECT_EQ(h.waitBox, QStringList{QStringLiteral("正在加载...")});
}

TEST(VideoPictureWindow, NewerPlayersFetchFileFiveAndThenPostTheOpener)
{
    core::clearCommands();
    InstallDeviceCommands();
    SetupHarness h(0x1520);
    ASSERT_TRUE(core::IsCommandEnabled(*h.doc, core::kCmdVideoPicWindow));
    core::findCommand(core::kCmdVideoPicWindow)->run(*h.doc);
    ASSERT_TRUE(waitUntil([&] { return h.videoPicWindowPosts == 1; }));
    EXPECT_EQ(h.configFilesAsked(), std::vector<uint8_t>{5});
    core::clearCommands();
}

// A player that never sends the window file: after ten ticks the user is
// told, in the interface's language, and the command works again.
TEST(VideoPictureWindow, SilentPlayerIsNamedAndTheCommandStaysUsable)
{
    const struct {
        unsigned language;
        const char* text;
    } rows[] = {
        {platform::kLanguageEnglish, "The player did not answer; the video and picture windows could not be read."},
        {platform::kLanguageChinese, "播放器无应答，无法读取视频图片开窗设置。"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.language);
        core::clearCommands();
        InstallDeviceCommands();
        SetupHarness h(0x1520, 41, r.language);
        h.player->setFault(sim::Fault::Silent, 0, proto::CMD_CONFIG_FILE);
        core::findCommand(core::kCmdVideoPicWindow)->run(*h.doc);
        ASSERT_TRUE(h.waitRequests(proto::CMD_CONFIG_FILE, 1));
        for (uint16_t tick = 1; tick < cfgx::kWindowFileNoAnswerTicks; ++tick)
            h.doc->StepConfigExchange();
        EXPECT_TRUE(h.boxes.calls.empty());
        h.doc->StepConfigExchange();
        EXPECT_EQ(h.boxes.texts(), QStringList{QString::fromUtf8(r.text)});
        EXPECT_EQ(h.doc->configExchange().mode(), cfgx::ConfigExchange::Idle);
        h.player->setFault(sim::Fault::None);
        ASSERT_TRUE(core::IsCommandEnabled(*h.doc, core::kCmdVideoPicWindow));
        core::findCommand(core::kCmdVideoPicWindow)->run(*h.doc);
        EXPECT_TRUE(waitUntil([&] { return h.videoPicWindowPosts == 1; }));
        EXPECT_EQ(h.boxes.calls.size(), 1u);
        core::clearCommands();
    }
}

// ---------------------------------------------------------------- upload pending

TEST(UploadPending, ExpiresWithAMessageWhenThePlayerNeverAnswers)
{
    DeviceHarness h;
    h.player->setFault(sim::Fault::Silent, 0, proto::CMD_LAYOUT);
    h.doc->PushCurrentLayout();
    ASSERT_TRUE(h.doc->layoutBusy());
    EXPECT_FALSE(core::CommandEnabled(32772, h.doc->commandState()));
    for (int tick = 1; tick < CvelunaDoc::kUploadPendingTicks; ++tick)
        h.doc->TickUploadPending();
    EXPECT_TRUE(h.doc->layoutBusy());
    EXPECT_TRUE(h.boxes.calls.empty());
    h.doc->TickUploadPending();
    EXPECT_FALSE(h.doc->layoutBusy());
    ASSERT_EQ(h.boxes.calls.size(), 1u);
    EXPECT_TRUE(h.boxes.calls[0].text.startsWith(QStringLiteral("The player did not confirm the layout upload.")));
    EXPECT_TRUE(core::CommandEnabled(32772, h.doc->commandState()));
}

TEST(UploadPending, ClearedWhenTheLinkDrops)
{
    DeviceHarness h;
    h.player->setFault(sim::Fault::Silent, 0, proto::CMD_LAYOUT);
    h.doc->PushCurrentLayout();
    ASSERT_TRUE(h.doc->layoutBusy());
    h.player->stop();
    EXPECT_TRUE(waitUntil([&] { return !h.doc->layoutBusy(); }));
    // Reconnecting stays possible: the row still has its address and port.
    EXPECT_TRUE(h.doc->CanReconnect());
}

// ---------------------------------------------------------------- title prefix

TEST(TitlePrefix, OnOnOffChangesTitleCaptionAndDialogPrefix)
{
    DeviceHarness h(platform::kLanguageEnglish, false);
    struct Step {
        bool on;
        QString title;
        QString prefix;
    };
    for (const QString& start : {QStringLiteral("Name V1.0"), QStringLiteral("Name QVE-1 V1.0")}) {
        platform::setAppTitle(start);
        h.frame->setCaption(start);
        CvelunaDoc doc(h.frame.get(), QStringList());
        const QString name = start.left(start.indexOf(QLatin1Char(' ')));
        const Step steps[] = {
            {true, QStringLiteral("QVE-") + start, QStringLiteral("QVE-") + name + QLatin1Char('-')},
            {true, QStringLiteral("QVE-") + start, QStringLiteral("QVE-") + name + QLatin1Char('-')},
            {false, start, name + QLatin1Char('-')},
        };
        for (const Step& s : steps) {
            doc.SetTitlePrefix(s.on);
            EXPECT_EQ(platform::appTitle(), s.title);
            EXPECT_EQ(h.frame->caption(), s.title);
            EXPECT_EQ(doc.titlePrefix(), s.prefix);
        }
    }
    platform::setAppTitle(devtest::kTitle);
}

// ---------------------------------------------------------------- scroll on resize

TEST(FrameResize, TheActiveCanvasStartsAgainAtItsCorner)
{
    testsupport::TempHome home;
    CMainFrame frame(QStringLiteral("FrameTest V1"), platform::kLanguageEnglish);
    frame.resize(1400, 800);
    QApplication::processEvents();
    CContentView* canvas = frame.contentTabView()->view(0);
    canvas->SetCanvasSize(8000, 6000);
    canvas->horizontalScrollBar()->setValue(300);
    canvas->verticalScrollBar()->setValue(200);
    ASSERT_EQ(canvas->horizontalScrollBar()->value(), 300);
    frame.resize(1200, 700);
    frame.RelayoutSplitter();
    EXPECT_EQ(canvas->horizontalScrollBar()->value(), 0);
    EXPECT_EQ(canvas->verticalScrollBar()->value(), 0);
}

}  // namespace
