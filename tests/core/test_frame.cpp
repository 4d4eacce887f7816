// The main frame: panes and commands in both languages, splitter rule,
// relays to the document, timer duties and the closing sequence.
#include "core/mainframe.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "tests/support/test_support.h"
#include "transport/records.h"
#include "transport/tcp_client.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Log = std::vector<std::string>;

// Records what the frame asks of the document, in order.
class RecordingDocument : public FrameDocument {
public:
    explicit RecordingDocument(Log& log) : log(log) {}
    void SendToPlayers(const SendRequest& r) override { log.push_back("send " + std::to_string(r.data.size())); }
    void OnLinkEvent(const LinkEvent& e) override { log.push_back("event " + std::to_string(e.linkIndex)); }
    void TickAutoConnect() override { log.push_back("auto-connect"); }
    bool TickWaitBox() override
    {
        log.push_back("wait-box");
        return waitBoxClosesNow ? (waitBoxClosesNow = false, true) : false;
    }
    void StepConfigExchange() override { log.push_back("config-step"); }
    void ResetSequence() override { log.push_back("reset-sequence"); }
    void CloseAllLinks() override { log.push_back("close-links"); }
    bool IsLayoutDirty() const override { return dirty; }
    void SaveLayout() override
    {
        log.push_back(QFileInfo::exists(CMainFrame::TempFolder()) ? "save (Temp present)" : "save (Temp gone)");
    }
    void OnPlayerConnectionSettings() override { log.push_back("connection-settings"); }
    void OnReconnect() override { log.push_back("reconnect"); }
    void OnReboot() override { log.push_back("reboot"); }
    bool CanReconnect() const override { return canReconnect; }
    bool IsConnected() const override { return connected; }
    void OpenSetupEditor() override { log.push_back("open-setup-editor"); }
    void OpenVideoPicWindow() override { log.push_back("open-video-pic-window"); }

    Log& log;
    bool dirty = false;
    bool canReconnect = false;
    bool connected = false;
    bool waitBoxClosesNow = false;
};

// Answers message boxes into the same log, so their order against the
// document's calls shows.
class LoggingAnswerer {
public:
    LoggingAnswerer(Log& log, std::vector<platform::MsgResult> answers) : answers_(std::move(answers))
    {
        platform::setMessageBoxAnswerer([this, &log](const platform::MessageBoxCall& call) {
            log.push_back("ask: " + call.text.toStdString());
            if (next_ < answers_.size())
                return answers_[next_++];
            return platform::MsgResult::No;
        });
    }
    ~LoggingAnswerer() { platform::setMessageBoxAnswerer({}); }

private:
    std::vector<platform::MsgResult> answers_;
    std::size_t next_ = 0;
};

const QString kTitle = QStringLiteral("FrameTest V9.1.5");

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override { platform::setAppTitle(kTitle); }
    std::unique_ptr<CMainFrame> makeFrame(unsigned language = 9)
    {
        return std::make_unique<CMainFrame>(kTitle, language);
    }
    testsupport::TempHome home;
    Log log;
};

struct PaneCase {
    int id;
    QString english;
    QString chinese;
};

TEST_F(FrameTest, StatusPanesCarryTheirIdsAndTextsInBothLanguages)
{
    const PaneCase panes[] = {
        {59142, QStringLiteral("Layout List Name"), QStringLiteral("布局列表文件名称")},
        {59143, QStringLiteral(" "), QStringLiteral(" ")},
        {59144, QStringLiteral("Disconnected player"), QStringLiteral("未连接播放器")},
        {59145, QStringLiteral("X:0,Y:0"), QStringLiteral("X:0,Y:0")},
        {59137, QStringLiteral("CAP"), QStringLiteral("CAP")},
        {59138, QStringLiteral("NUM"), QStringLiteral("NUM")},
        {59139, QStringLiteral("SCRL"), QStringLiteral("SCRL")},
    };
    for (unsigned language : {9u, 4u}) {
        auto frame = makeFrame(language);
        for (const auto& p : panes) {
            auto* label = frame->statusBar()->findChild<QLabel*>(QString::number(p.id));
            ASSERT_NE(label, nullptr) << p.id;
            EXPECT_EQ(label->text(), language == 4 ? p.chinese : p.english) << p.id;
        }
        EXPECT_EQ(frame->windowTitle(), kTitle);
        EXPECT_EQ(frame->statusBar()->objectName(), QStringLiteral("59393"));
        EXPECT_EQ(frame->menuBar()->objectName(), QStringLiteral("59398"));
        ASSERT_NE(frame->findChild<QToolBar*>(QStringLiteral("59392")), nullptr);
        EXPECT_EQ(frame->findChild<QToolBar*>(QStringLiteral("59392"))->windowTitle(),
                  language == 4 ? QStringLiteral("标准") : QStringLiteral("Standard"));
        frame->SetPaneText(59144, QStringLiteral("Connected"));
        EXPECT_EQ(frame->PaneText(59144), QStringLiteral("Connected"));
    }
}

TEST_F(FrameTest, CommandsAndTheirCaptions)
{
    struct CommandCase {
        int id;
        QString english;
        QString chinese;
    };
    const CommandCase commands[] = {
        {32775, QStringLiteral("Player Connection Settings"), QStringLiteral("播放器连接设置")},
        {32776, QStringLiteral("Connection"), QStringLiteral("重新连接")},
        {32792, QStringLiteral("Reboot The Player"), QStringLiteral("重新启动播放器")},
        {57600, QStringLiteral("New Layout"), QStringLiteral("新建布局")},
        {32779, QStringLiteral("System Setup"), QStringLiteral("融合带设置")},
    };
    for (unsigned language : {9u, 4u}) {
        auto frame = makeFrame(language);
        for (const auto& c : commands) {
            ASSERT_NE(frame->Command(c.id), nullptr) << c.id;
            EXPECT_EQ(frame->Command(c.id)->text(), language == 4 ? c.chinese : c.english) << c.id;
        }
        // The Chinese menus carry three commands more.
        for (int id : {32788, 32800, 32812})
            EXPECT_EQ(frame->Command(id) != nullptr, language == 4) << id;
    }
}

TEST_F(FrameTest, ConnectionCommandsFollowTheDocumentState)
{
    auto frame = makeFrame();
    frame->UpdateCommandUI();
    EXPECT_FALSE(frame->Command(32775)->isEnabled());  // no document
    EXPECT_FALSE(frame->Command(32777)->isEnabled());  // not built yet

    RecordingDocument doc(log);
    frame->SetDocument(&doc);
    struct Case {
        bool canReconnect, connected;
    };
    for (const Case c : {Case{false, false}, Case{true, false}, Case{true, true}, Case{false, true}}) {
        doc.canReconnect = c.canReconnect;
        doc.connected = c.connected;
        frame->UpdateCommandUI();
        EXPECT_TRUE(frame->Command(32775)->isEnabled());
        EXPECT_EQ(frame->Command(32776)->isEnabled(), c.canReconnect);
        EXPECT_EQ(frame->Command(32792)->isEnabled(), c.connected);
    }
    frame->Command(32775)->trigger();
    frame->Command(32776)->trigger();
    frame->Command(32792)->trigger();
    EXPECT_EQ(log, (Log{"connection-settings", "reboot"}));  // reconnect is disabled in the last state
    frame->SetDocument(nullptr);
}

TEST(FrameSplitter, ResizeRuleAndInitialWidths)
{
    struct Case {
        int width, current;
        SplitterColumns expected;
    };
    const Case cases[] = {
        {1000, 50, {60, 860}},   // 0.06 x 1000 > 50
        {200, 150, {50, 134}},   // a quarter of 200, then 200 - 16 - 50
        {100, 0, {6, 100}},      // never below 100
        {1000, 300, {250, 670}}, // at most a quarter
        {1920, 134, {134, 1632}},
        {0, 20, {0, 100}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CMainFrame::ResizeColumns(c.width, c.current), c.expected) << c.width << "/" << c.current;
    EXPECT_EQ(CMainFrame::InitialColumns(1920), (SplitterColumns{134, 1536}));
    EXPECT_EQ(CMainFrame::InitialColumns(1366), (SplitterColumns{95, 1092}));
}

TEST_F(FrameTest, SplitterHoldsTheThreePanesAndKeepsTheRuleOnResize)
{
    auto frame = makeFrame();
    QSplitter* splitter = frame->splitter();
    ASSERT_EQ(splitter->count(), 3);
    EXPECT_EQ(splitter->widget(0)->objectName(), QStringLiteral("CControlsView"));
    EXPECT_EQ(splitter->widget(1)->objectName(), QStringLiteral("CContentTabView"));
    EXPECT_EQ(splitter->widget(2)->objectName(), QStringLiteral("CLayoutTreeView"));
    frame->resize(1200, 800);
    frame->show();
    ASSERT_TRUE(testsupport::waitUntil([&] { return splitter->width() > 0 && frame->isVisible(); }, 3000));
    const int w = splitter->width();
    const QList<int> sizes = splitter->sizes();
    EXPECT_GE(sizes[0], int(w * 0.06));
    EXPECT_LE(sizes[0], w / 4 > int(w * 0.06) ? w / 4 : int(w * 0.06));
    EXPECT_EQ(sizes[1], CMainFrame::ResizeColumns(w, sizes[0]).content);
}

TEST_F(FrameTest, RelaysHandRequestsAndEventsToTheDocument)
{
    auto frame = makeFrame();
    // No document: the request is still freed (the sanitizer build checks).
    auto* orphan = new SendRequest;
    orphan->data = QByteArray(16, '\0');
    platform::sendMessage(frame.get(), platform::WM_SEND_TO_PLAYER, 0, platform::LPARAM(orphan));

    RecordingDocument doc(log);
    frame->SetDocument(&doc);
    auto* request = new SendRequest;
    request->data = QByteArray(20, 'x');
    EXPECT_EQ(platform::sendMessage(kTitle, platform::WM_SEND_TO_PLAYER, 0, platform::LPARAM(request)), 0);
    platform::sendMessage(frame.get(), platform::WM_SEND_TO_PLAYER, 0, 0);  // ignored

    LinkEvent event;
    event.linkIndex = 3;
    event.type = kLinkData;
    platform::sendMessage(frame.get(), platform::WM_TCP_EVENT, 3, platform::LPARAM(&event));
    platform::sendMessage(frame.get(), platform::WM_TCP_EVENT, 3, 0);  // ignored
    platform::sendMessage(frame.get(), platform::WM_OPEN_VIDEO_PIC_WINDOW, 0, 0);
    EXPECT_EQ(log, (Log{"send 20", "event 3", "open-video-pic-window"}));
    frame->SetDocument(nullptr);
}

TEST_F(FrameTest, TimerDutiesRunInOrderAndOpenTheSetupEditorOnce)
{
    auto frame = makeFrame();
    EXPECT_TRUE(frame->hasTimer(CMainFrame::kTimerDuties));
    frame->OnTimerDuties();  // no document: nothing
    RecordingDocument doc(log);
    frame->SetDocument(&doc);
    frame->OnTimerDuties();
    EXPECT_EQ(log, (Log{"auto-connect", "wait-box", "config-step"}));
    log.clear();
    doc.waitBoxClosesNow = true;
    frame->OnTimerDuties();
    frame->OnTimerDuties();
    // The editor opens after the tick (posted), exactly once.
    testsupport::waitUntil([&] { return false; }, 50);
    EXPECT_EQ(log, (Log{"auto-connect", "wait-box", "config-step", "auto-connect", "wait-box", "config-step",
                        "open-setup-editor"}));
    frame->SetDocument(nullptr);
}

TEST_F(FrameTest, ClosingAnsweredNoKeepsEverything)
{
    auto frame = makeFrame();
    RecordingDocument doc(log);
    frame->SetDocument(&doc);
    ASSERT_TRUE(QDir().mkpath(CMainFrame::TempFolder()));
    LoggingAnswerer answers(log, {platform::MsgResult::No});
    EXPECT_FALSE(frame->close());
    EXPECT_EQ(log, (Log{"ask: Do you really want to exit?"}));
    EXPECT_TRUE(frame->hasTimer(CMainFrame::kTimerDuties));
    EXPECT_TRUE(QFileInfo::exists(CMainFrame::TempFolder()));
    frame->SetDocument(nullptr);
}

TEST_F(FrameTest, ClosingOrderQuestionLinksSaveThenTemp)
{
    struct Case {
        const char* name;
        unsigned language;
        bool dirty;
        platform::MsgResult saveAnswer;
        Log expected;
    };
    const std::string exitEn = "ask: Do you really want to exit?";
    const std::string saveEn = "ask: ‘Do you want to save the changes to the layout ? ";
    const Case cases[] = {
        {"dirty, save", 9, true, platform::MsgResult::Yes,
         {exitEn, "reset-sequence", "close-links", saveEn, "save (Temp present)"}},
        {"dirty, do not save", 9, true, platform::MsgResult::No, {exitEn, "reset-sequence", "close-links", saveEn}},
        {"clean", 9, false, platform::MsgResult::Yes, {exitEn, "reset-sequence", "close-links"}},
        {"chinese", 4, true, platform::MsgResult::Yes,
         {"ask: 【真的要退出程序吗?】", "reset-sequence", "close-links", "ask: 布局列表已经修改，是否要保存？",
          "save (Temp present)"}},
    };
    for (const auto& c : cases) {
        log.clear();
        auto frame = makeFrame(c.language);
        RecordingDocument doc(log);
        doc.dirty = c.dirty;
        frame->SetDocument(&doc);
        ASSERT_TRUE(QDir().mkpath(CMainFrame::TempFolder() + QStringLiteral("/sub")));
        LoggingAnswerer answers(log, {platform::MsgResult::Yes, c.saveAnswer});
        EXPECT_TRUE(frame->close()) << c.name;
        EXPECT_EQ(log, c.expected) << c.name;
        EXPECT_FALSE(frame->hasTimer(CMainFrame::kTimerDuties)) << c.name;
        EXPECT_FALSE(QFileInfo::exists(CMainFrame::TempFolder())) << c.name;
        frame->SetDocument(nullptr);
    }
}

TEST(FrameFolders, DeleteDirectoryTreeRemovesEverythingButFollowsNoLink)
{
    QTemporaryDir root;
    const QString tree = root.filePath(QStringLiteral("Temp"));
    const QString outside = root.filePath(QStringLiteral("keep"));
    ASSERT_TRUE(QDir().mkpath(tree + QStringLiteral("/a/b")));
    ASSERT_TRUE(QDir().mkpath(outside));
    QFile(tree + QStringLiteral("/a/b/f.txt")).open(QIODevice::WriteOnly);
    QFile(tree + QStringLiteral("/.hidden")).open(QIODevice::WriteOnly);
    QFile keep(outside + QStringLiteral("/keep.txt"));
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.close();
    ASSERT_TRUE(QFile::link(outside, tree + QStringLiteral("/a/link")));

    EXPECT_TRUE(CMainFrame::DeleteDirectoryTree(tree));
    EXPECT_FALSE(QFileInfo::exists(tree));
    EXPECT_TRUE(QFileInfo::exists(outside + QStringLiteral("/keep.txt")));
    EXPECT_FALSE(CMainFrame::DeleteDirectoryTree(tree));  // already gone
    EXPECT_FALSE(CMainFrame::DeleteDirectoryTree(QString()));
}

TEST_F(FrameTest, ApplicationLookIsStoredAndReadBack)
{
    {
        auto frame = makeFrame();
        EXPECT_EQ(frame->look(), CMainFrame::kLookDefault);
        EXPECT_TRUE(frame->Command(215)->isChecked());
        frame->Command(216)->trigger();
        EXPECT_EQ(frame->look(), 216u);
        EXPECT_TRUE(frame->Command(216)->isChecked());
        EXPECT_FALSE(frame->Command(215)->isChecked());
    }
    EXPECT_EQ(platform::settings()->value(QStringLiteral("ApplicationLook")).toUInt(), 216u);
    EXPECT_EQ(makeFrame()->look(), 216u);
    platform::settings()->setValue(QStringLiteral("ApplicationLook"), QStringLiteral("junk"));
    EXPECT_EQ(makeFrame()->look(), CMainFrame::kLookDefault);
    platform::settings()->setValue(QStringLiteral("ApplicationLook"), 999);
    EXPECT_EQ(makeFrame()->look(), CMainFrame::kLookDefault);
    EXPECT_EQ(CMainFrame::StyleForLook(205), QStringLiteral("Windows"));
}

}  // namespace
