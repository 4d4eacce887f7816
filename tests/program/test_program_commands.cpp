// The whole program's commands: every feature installed as veluna installs
// them, the real frame and its relay to the document, a simulated player.
#include "common/controls/save_param_wait.h"
#include "core/command_registry.h"
#include "core/command_table.h"
#include "core/document_relay.h"
#include "core/editor_hooks.h"
#include "core/main_veluna_features.h"
#include "core/views/content_view.h"
#include "core/views/layout_tree_view.h"
#include "core/mainframe.h"
#include "tests/core/device_harness.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTabBar>
#include <QTabWidget>
#include <QDialog>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <map>
#include <set>

namespace {

using testsupport::waitUntil;

const QString kTitle = QStringLiteral("veluna V9.1.5");
// Wired by the frame to the document's connection methods.
const std::set<int> kFrameCommands = {core::kCmdConnectionSettings, core::kCmdReconnect, core::kCmdReboot};

struct Program {
    explicit Program(unsigned language = platform::kLanguageEnglish, uint16_t version = 0x1523)
    {
        core::clearCommands();
        InstallFeatures();
        platform::setAppTitle(kTitle);
        platform::setAppLanguage(language);
        frame = std::make_unique<CMainFrame>(kTitle, language);
        relay = std::make_unique<CDocumentRelay>(frame.get(), QStringList());
        frame->SetDocument(relay.get());
        sim::SimOptions o;
        // An address of its own: the Picture Manager asks the player's
        // gallery port, which the gallery tests of the same run listen on
        // at the shared players' address.
        o.address = QStringLiteral("127.0.0.33");
        o.version = version;
        player = std::make_unique<sim::PlayerSim>(o);
        sim::installStandardCommands(*player);
        sim::installConfigStore(*player);
        EXPECT_TRUE(player->start());
    }
    ~Program()
    {
        frame->SetDocument(nullptr);
        relay.reset();
        frame.reset();
        player->stop();
        core::clearCommands();
    }
    CvelunaDoc& doc() { return relay->doc(); }
    // The player row the scan dialog would have filled.
    void choosePlayer()
    {
        doc().setTarget(player->options().address, player->tcpPort());
        doc().currentPlayer().ip = player->options().address;
        doc().currentPlayer().portText = QString::number(player->tcpPort());
        doc().currentPlayer().mac = player->options().mac;
        frame->UpdateCommandUI();
    }
    std::size_t requests(uint8_t code) const
    {
        std::size_t n = 0;
        for (const sim::LogEntry& e : player->log())
            n += e.incoming && e.header.command == code;
        return n;
    }
    std::set<int> enabledTableCommands() const
    {
        std::set<int> ids;
        for (const core::CommandRow& r : core::CommandTable())
            if (QAction* a = frame->Command(r.id); a && a->isEnabled())
                ids.insert(r.id);
        return ids;
    }

    testsupport::TempHome home;
    devtest::DeviceHarness::Boxes boxes;
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<CDocumentRelay> relay;
    std::unique_ptr<sim::PlayerSim> player;
};

TEST(ProgramCommands, EveryCommandOfTheTableRunsSomething)
{
    core::clearCommands();
    InstallFeatures();
    for (const core::CommandRow& r : core::CommandTable()) {
        if (kFrameCommands.count(r.id))
            continue;
        const core::CommandEntry* entry = core::findCommand(r.id);
        ASSERT_NE(entry, nullptr) << r.id;
        EXPECT_TRUE(bool(entry->run)) << r.id;
    }
    core::clearCommands();
}

TEST(ProgramCommands, MenusAndToolbarInBothLanguages)
{
    using Menus = std::vector<std::pair<QString, std::vector<int>>>;
    const std::vector<int> other = {32782, 32783, 32784, 32785, 32796, 32786, 32787, 32791, 32793, 32792, 32795, 32801, 32808, 32804};
    std::vector<int> otherChinese = other;
    otherChinese.insert(otherChinese.end(), {32788, 32800});
    const Menus english = {
        {QStringLiteral("Layout"), {57600, 57601, 57603, 32770, 57665}},
        {QStringLiteral("Edit"), {32771, 32772}},
        {QStringLiteral("View"), {59392, 59393}},
        {QStringLiteral("Connection"), {32775, 32777, 32776}},
        {QStringLiteral("Configuration"), {32778, 32779}},
        {QStringLiteral("Video"), {32781}},
        {QStringLiteral("Picture"), {32806, 32807}},
        {QStringLiteral("Other Commands"), other},
        {QStringLiteral("Help"), {57664}},
    };
    Menus chinese = english;
    const char* chineseTitles[] = {"布局", "编辑", "视图", "连接", "配置", "视频", "图片", "其他命令", "帮助"};
    for (std::size_t i = 0; i < chinese.size(); ++i)
        chinese[i].first = QString::fromUtf8(chineseTitles[i]);
    chinese[5].second = {32781, 32812};
    chinese[7].second = otherChinese;
    const std::vector<int> toolbar = {57600, 57601, 57603, 57635, 57634, 57637, 32773, 32774, 32799,
                                      32794, 32803, 32802, 32805, 32809, 57664};

    for (unsigned language : {platform::kLanguageEnglish, platform::kLanguageChinese}) {
        SCOPED_TRACE(language);
        Program p(language);
        Menus menus;
        for (QAction* top : p.frame->menuBar()->actions()) {
            std::vector<int> ids;
            for (QAction* a : top->menu()->actions())
                if (!a->isSeparator() && !a->menu())
                    ids.push_back(a->objectName().toInt());
            menus.push_back({top->text(), ids});
        }
        EXPECT_EQ(menus, language == platform::kLanguageChinese ? chinese : english);
        std::vector<int> bar;
        for (QAction* a : p.frame->findChild<QToolBar*>(QStringLiteral("59392"))->actions())
            if (!a->isSeparator())
                bar.push_back(a->objectName().toInt());
        EXPECT_EQ(bar, toolbar);
        // Every command the frame holds carries the table's label.
        for (const core::CommandRow& r : core::CommandTable()) {
            const bool chineseOnly = r.places == core::kInChineseMenu;
            const bool inFrame = r.places & (core::kInMenu | core::kInChineseMenu | core::kOnToolbar);
            QAction* a = p.frame->Command(r.id);
            if (!inFrame || (chineseOnly && language != platform::kLanguageChinese)) {
                EXPECT_EQ(a, nullptr) << r.id;
                continue;
            }
            ASSERT_NE(a, nullptr) << r.id;
            EXPECT_EQ(a->text(), language == platform::kLanguageChinese ? QString::fromUtf8(r.chinese)
                                                                         : QString::fromUtf8(r.english));
        }
        if (!testsupport::kUnderThreadChecker) {
            const QString suffix = language == platform::kLanguageChinese ? QStringLiteral("_zh") : QStringLiteral("_en");
            p.frame->resize(1600, 400);
            p.frame->show();
            QApplication::processEvents();
            EXPECT_TRUE(p.frame->grab().save(devtest::screenshotPath(QStringLiteral("frame_commands") + suffix)));
            // The menu that differs most between the languages.
            QMenu* menu = p.frame->menuBar()->actions().value(7)->menu();
            menu->ensurePolished();
            menu->adjustSize();
            EXPECT_TRUE(menu->grab().save(devtest::screenshotPath(QStringLiteral("menu_other") + suffix)));
        }
    }
}

TEST(ProgramCommands, TheFrameEnablesByTheRulesOfflineAfterLossAndLinked)
{
    Program p(platform::kLanguageChinese);
    p.frame->UpdateCommandUI();
    EXPECT_EQ(p.enabledTableCommands(), (std::set<int>{32775, 32786, 32800, 32809}));
    p.choosePlayer();
    EXPECT_EQ(p.enabledTableCommands(), (std::set<int>{32775, 32776, 32786, 32800, 32809}));
    p.frame->Command(core::kCmdReconnect)->trigger();
    ASSERT_TRUE(waitUntil([&] { return p.doc().IsConnected(); }));
    p.frame->UpdateCommandUI();
    const core::CommandState state = p.doc().commandState();
    EXPECT_EQ(state.playerVersion, 0x1523);
    for (const core::CommandRow& r : core::CommandTable())
        EXPECT_EQ(p.frame->Command(r.id) && p.frame->Command(r.id)->isEnabled(),
                  p.frame->Command(r.id) != nullptr && core::CommandEnabled(r.id, state))
            << r.id;
    // Linked to a kind-4 player with no window selected: the selection,
    // clipboard and kind-3 commands stay off, the rest is on.
    for (int id : {57634, 57635, 57637, 32788})
        EXPECT_FALSE(p.frame->Command(id)->isEnabled()) << id;
    for (int id : {32779, 32787, 32794, 32803, 32802, 32805, 32772})
        EXPECT_TRUE(p.frame->Command(id)->isEnabled()) << id;
}

TEST(ProgramCommands, ConnectFetchEditPushRebootReconnect)
{
    Program p(platform::kLanguageEnglish, 0x1520);  // a blending player
    std::vector<uint8_t> editors;
    core::registerSetupEditor(1, [&](CvelunaDoc& d) { editors.push_back(d.product()); });
    p.choosePlayer();

    // Connect.
    p.frame->Command(core::kCmdReconnect)->trigger();
    ASSERT_TRUE(waitUntil([&] { return p.doc().IsConnected(); }));
    ASSERT_TRUE(waitUntil([&] { return testsupport::HandshakeRequestsDone(p.doc(), *p.player); }));

    // Fetch: System Setup asks the files, the wait box says "Loading...",
    // five ticks of the frame's timer later the editor opens.
    p.player->clearLog();
    p.frame->UpdateCommandUI();
    p.frame->Command(core::kCmdSystemSetup)->trigger();
    ASSERT_TRUE(waitUntil([&] { return p.requests(proto::CMD_LOAD_STATE) == 1; }));
    EXPECT_EQ(p.requests(proto::CMD_CONFIG_FILE), 6u);
    EXPECT_TRUE(p.doc().paramWait());
    auto* box = p.frame->findChild<CSaveParamWait*>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->Text(), QStringLiteral("Loading..."));
    for (int tick = 0; tick < 5; ++tick) {
        EXPECT_TRUE(editors.empty());
        p.frame->OnTimerDuties();
    }
    EXPECT_FALSE(box->isVisible());
    EXPECT_TRUE(waitUntil([&] { return editors.size() == 1; }));
    EXPECT_EQ(editors, std::vector<uint8_t>{1});

    // Edit a layout: one window, then Close All; the edit is pushed.
    PictureWindow w;
    w.rect = {100, 100, 500, 400};
    w.name = QStringLiteral("pic00.png");
    ASSERT_TRUE(p.doc().imageManage().AddWindowRecord(w));
    p.frame->UpdateCommandUI();
    p.frame->Command(32772)->trigger();
    EXPECT_EQ(p.doc().imageManage().windowCount(), 0);
    EXPECT_TRUE(p.doc().IsLayoutDirty());
    ASSERT_TRUE(waitUntil([&] { return p.requests(proto::CMD_LAYOUT) >= 1 && !p.doc().layoutBusy(); }));
    {
        std::lock_guard<std::mutex> lk(p.player->stateMutex());
        ASSERT_FALSE(p.player->state().layouts.empty());
        EXPECT_EQ(p.player->state().layouts.back().first, QByteArray("Temp.GFD"));
    }

    // Reboot, then reconnect.
    p.frame->UpdateCommandUI();
    p.frame->Command(core::kCmdReboot)->trigger();
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard<std::mutex> lk(p.player->stateMutex());
        return p.player->state().reboots == 1;
    }));
    p.frame->Command(core::kCmdReconnect)->trigger();
    EXPECT_TRUE(waitUntil([&] { return p.requests(proto::CMD_PLAYER_INFO) == 1 && p.doc().IsConnected(); }));
    core::registerSetupEditor(1, {});
}

}  // namespace

namespace {

// Each dialog command, run from the frame against a linked player, opens
// its dialog modally with the dialog-caption prefix in front of its caption;
// a watcher closes each as soon as it shows. (The lidar wizard is a
// property sheet whose pages carry their own captions; it is left out.)
TEST(ProgramCommands, EachDialogCommandOpensItsDialogWithThePrefix)
{
    DEVTEST_SKIP_UNDER_THREAD_CHECKER();
    Program p(platform::kLanguageChinese);
    p.choosePlayer();
    p.frame->Command(core::kCmdReconnect)->trigger();
    ASSERT_TRUE(waitUntil([&] { return p.doc().IsConnected(); }));
    ASSERT_TRUE(waitUntil([&] { return testsupport::HandshakeRequestsDone(p.doc(), *p.player); }));
    const QString prefix = p.doc().titlePrefix();

    QStringList seen;
    testsupport::ModalCloser closer([&](QDialog& d) { seen << d.windowTitle(); });
    struct Case {
        int id;
        const char* caption;  // after the prefix; empty: any
    };
    const Case cases[] = {
        {32781, "视频源设置"},   {32803, "视频控制"}, {32787, "参数备份、恢复"}, {32801, "二维码"},
        {32806, "图库管理"},     {32807, "图片播放控制"}, {32812, "视频播放控制"}, {32808, "手机端设置"},
        {32802, "游戏设置"},     {32777, ""}, {32778, ""}, {32785, ""}, {32791, ""}, {32793, ""},
        {32795, ""},             {32796, ""},
    };
    for (const Case& c : cases) {
        seen.clear();
        p.frame->UpdateCommandUI();
        ASSERT_TRUE(p.frame->Command(c.id)->isEnabled()) << c.id;
        p.frame->Command(c.id)->trigger();
        ASSERT_FALSE(seen.isEmpty()) << c.id;
        EXPECT_TRUE(seen.first().startsWith(prefix)) << c.id << " " << seen.first().toStdString();
        if (*c.caption) {  // the captions the reply routing looks for
            EXPECT_EQ(seen.first(), prefix + QString::fromUtf8(c.caption)) << c.id;
        }
    }
}

}  // namespace

namespace {

TEST(ProgramCommands, TheWaitBoxStandsOverTheActiveCanvasInBothLanguages)
{
    DEVTEST_SKIP_UNDER_THREAD_CHECKER();
    for (unsigned language : {platform::kLanguageEnglish, platform::kLanguageChinese}) {
        Program p(language);
        p.frame->resize(1400, 800);
        p.frame->show();
        QApplication::processEvents();
        const QString loading = language == platform::kLanguageChinese ? QStringLiteral("正在加载...")
                                                                       : QStringLiteral("Loading...");
        p.doc().showWaitBox(loading);
        auto* box = p.frame->findChild<CSaveParamWait*>();
        ASSERT_NE(box, nullptr);
        ASSERT_TRUE(box->isVisible());
        QWidget* canvas = p.frame->contentTabView()->currentWidget();
        const QPoint centre = canvas->mapToGlobal(canvas->rect().center());
        EXPECT_LE((box->geometry().center() - centre).manhattanLength(), 2);
        const QString suffix = language == platform::kLanguageChinese ? QStringLiteral("_zh") : QStringLiteral("_en");
        EXPECT_TRUE(box->grab().save(devtest::screenshotPath(QStringLiteral("wait_box_loading") + suffix)));
        p.doc().hideWaitBox();
        EXPECT_FALSE(box->isVisible());
    }
}

}  // namespace

namespace {

// The two context menus ask the same rules as the menu bar: the canvas's
// Close Object and Mask Parameter Setting need a selected window, the
// layout list's ImPort and Del Layout a link and the lock off.
TEST(ProgramCommands, ContextMenusFollowTheRules)
{
    Program p(platform::kLanguageChinese);
    auto enabled = [](QMenu* menu) {
        std::unique_ptr<QMenu> owned(menu);
        std::vector<std::pair<QString, bool>> out;
        for (QAction* a : owned->actions())
            if (!a->isSeparator())
                out.push_back({a->text(), a->isEnabled()});
        return out;
    };
    using Items = std::vector<std::pair<QString, bool>>;
    CContentView* canvas = p.frame->contentTabView()->view(0);
    CLayoutTreeView* tree = p.frame->layoutTreeView();
    const QString close = QStringLiteral("删除(&E)\tDel"), mask = QStringLiteral("蒙版参数设置");
    const QString import = QStringLiteral("导入布局"), del = QStringLiteral("删除布局");

    EXPECT_EQ(enabled(canvas->BuildContextMenu(nullptr)), (Items{{close, false}, {mask, false}}));
    EXPECT_EQ(enabled(tree->BuildContextMenu(nullptr)), (Items{{import, false}, {del, false}}));

    p.choosePlayer();
    p.frame->Command(core::kCmdReconnect)->trigger();
    ASSERT_TRUE(waitUntil([&] { return p.doc().IsConnected(); }));
    EXPECT_EQ(enabled(canvas->BuildContextMenu(nullptr)), (Items{{close, false}, {mask, false}}));
    EXPECT_EQ(enabled(tree->BuildContextMenu(nullptr)), (Items{{import, true}, {del, true}}));

    PictureWindow w;
    w.rect = {100, 100, 500, 400};
    w.name = QStringLiteral("pic00.png");
    ASSERT_TRUE(p.doc().imageManage().AddWindowRecord(w));  // selected on adding
    EXPECT_EQ(enabled(canvas->BuildContextMenu(nullptr)), (Items{{close, true}, {mask, true}}));

    p.doc().viewSettings().locked = true;
    EXPECT_EQ(enabled(tree->BuildContextMenu(nullptr)), (Items{{import, false}, {del, false}}));
}

}  // namespace

namespace {

// The small dialogs are left only through their buttons: Enter (main or
// keypad) and Esc, sent to the control that has the focus and to the dialog
// itself, neither close one nor make it send anything to the player.
TEST(ProgramCommands, SmallDialogsIgnoreEnterAndEsc)
{
    DEVTEST_SKIP_UNDER_THREAD_CHECKER();
    const struct {
        int id;
        const char* name;
    } cases[] = {
        {32784, "grid_settings"},
        {32778, "output_resolution"},
        {32793, "cascading"},
        {32787, "import_and_export"},
        {57664, "about"},
    };
    for (unsigned language : {platform::kLanguageEnglish, platform::kLanguageChinese}) {
        Program p(language);
        p.choosePlayer();
        p.frame->Command(core::kCmdReconnect)->trigger();
        ASSERT_TRUE(waitUntil([&] { return p.doc().IsConnected(); }));
        ASSERT_TRUE(waitUntil([&] { return testsupport::HandshakeRequestsDone(p.doc(), *p.player); }));
        const QString suffix = language == platform::kLanguageChinese ? QStringLiteral("_zh") : QStringLiteral("_en");
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            p.boxes.clear();
            int ticks = 0;
            std::size_t sentBefore = 0, sentAfter = 0;
            bool keysSent = false, openAfterKeys = false;
            QPointer<QDialog> dialog;
            QTimer watcher;
            watcher.setInterval(50);
            QObject::connect(&watcher, &QTimer::timeout, [&] {
                if (!dialog) {
                    if (keysSent)
                        return;  // closed by a key
                    for (QWidget* w : QApplication::topLevelWidgets())
                        if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible())
                            dialog = d;
                    return;
                }
                ++ticks;
                if (ticks == 6) {  // what opening asks has been answered
                    sentBefore = p.player->log().size();
                    if (!testsupport::kUnderThreadChecker)
                        dialog->grab().save(devtest::screenshotPath(QStringLiteral("keys_") +
                                                                    QString::fromLatin1(c.name) + suffix));
                    // Each key only while the dialog still shows: a later key must
                    // not mask what an earlier one did.
                    for (QWidget* target : {dialog->focusWidget(), static_cast<QWidget*>(dialog.data())})
                        for (int key : {int(Qt::Key_Return), int(Qt::Key_Enter), int(Qt::Key_Escape)})
                            if (target && dialog->isVisible())
                                QTest::keyClick(target, Qt::Key(key),
                                                key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
                    keysSent = true;
                } else if (ticks == 12) {
                    openAfterKeys = dialog->isVisible();
                    sentAfter = p.player->log().size();
                    dialog->reject();
                }
            });
            watcher.start();
            p.frame->UpdateCommandUI();
            ASSERT_TRUE(p.frame->Command(c.id)->isEnabled());
            p.frame->Command(c.id)->trigger();
            waitUntil([&] { return ticks >= 12 || (keysSent && !dialog); }, 3000);
            watcher.stop();
            if (keysSent && !openAfterKeys) {  // closed by a key: what did it send meanwhile?
                waitUntil([] { return false; }, 500);
                sentAfter = p.player->log().size();
            }
            EXPECT_TRUE(keysSent);
            EXPECT_TRUE(openAfterKeys);
            EXPECT_EQ(sentAfter, sentBefore);
            EXPECT_TRUE(p.boxes.calls.empty()) << p.boxes.texts().join('|').toStdString();
            if (dialog)
                dialog->reject();
            waitUntil([] { return false; }, 100);
        }
    }
}

}  // namespace

namespace {

// Where Tab goes first in `window`: the first control of its focus chain that
// Tab can reach now. A tab widget's bar of page names is passed over: work
// starts on the page's first control.
QWidget* FirstInTabOrder(QWidget& window)
{
    for (QWidget* w = window.nextInFocusChain(); w && w != &window; w = w->nextInFocusChain()) {
        if (window.isAncestorOf(w) && w->isVisible() && w->isEnabled() && !w->focusProxy() &&
            (w->focusPolicy() & Qt::TabFocus) && !qobject_cast<QTabBar*>(w))
            return w;
    }
    return nullptr;
}

// Each dialog, opened by its command as an operator opens it, is modal and
// holds the keyboard on its first control at once, with no window manager to
// hand it over. The offscreen platform has none but activates whatever is
// shown; a bare X server (xvfb-run with QT_QPA_PLATFORM=xcb) activates only
// a window that is modal as it is shown, which the modal check stands for.
TEST(ProgramCommands, EachDialogOpensWithTheKeyboardOnItsFirstControl)
{
    DEVTEST_SKIP_UNDER_THREAD_CHECKER();
    // Every command that opens a dialog; "Video Play Control" is in the
    // Chinese menus only.
    const struct {
        int id;
        bool chineseOnly;
    } commands[] = {{32801, false}, {32806, false}, {32803, false}, {32781, false}, {32787, false},
                    {32807, false}, {32812, true},  {32808, false}, {32802, false}, {32784, false},
                    {32778, false}, {32793, false}, {57664, false}};
    for (unsigned language : {platform::kLanguageEnglish, platform::kLanguageChinese}) {
        Program p(language);
        p.choosePlayer();
        p.frame->Command(core::kCmdReconnect)->trigger();
        ASSERT_TRUE(waitUntil([&] { return p.doc().IsConnected(); }));
        ASSERT_TRUE(waitUntil([&] { return testsupport::HandshakeRequestsDone(p.doc(), *p.player); }));
        for (const auto& c : commands) {
            const int id = c.id;
            SCOPED_TRACE(id);
            if (c.chineseOnly && language != platform::kLanguageChinese) {
                EXPECT_FALSE(p.frame->Command(id));
                continue;
            }
            struct Seen {
                QString caption;
                bool modal = false, active = false;
                QString focus, first;
            } seen;
            int ticks = 0;
            QTimer watcher;
            watcher.setInterval(50);
            QObject::connect(&watcher, &QTimer::timeout, [&] {
                QDialog* d = nullptr;
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible())
                        d = dialog;
                if (!d || d->windowTitle().isEmpty())
                    return;
                // Up to 3 s for the platform to hand the keyboard over.
                if (!d->isActiveWindow() && ++ticks < 60)
                    return;
                watcher.stop();
                seen.caption = d->windowTitle();
                seen.modal = QApplication::activeModalWidget() == d;
                seen.active = d->isActiveWindow();
                const auto name = [](const QWidget* w) {
                    return w ? w->objectName() + u':' + QLatin1String(w->metaObject()->className()) : QString(u'-');
                };
                seen.focus = name(QApplication::focusWidget());
                seen.first = name(FirstInTabOrder(*d));
                (void)testsupport::saveScreenshot(*d, QStringLiteral("focus_on_open_%1_%2").arg(id).arg(
                                                          language == platform::kLanguageChinese ? "zh" : "en"));
                d->reject();
            });
            watcher.start();
            p.frame->UpdateCommandUI();
            QAction* command = p.frame->Command(id);
            ASSERT_TRUE(command) << "missing from the menus";
            ASSERT_TRUE(command->isEnabled());
            command->trigger();
            watcher.stop();
            ASSERT_FALSE(seen.caption.isEmpty());
            SCOPED_TRACE(seen.caption.toStdString());
            EXPECT_TRUE(seen.modal);  // the frame behind takes no clicks or keys
            EXPECT_TRUE(seen.active);
            EXPECT_EQ(seen.focus, seen.first);
        }
    }
}

}  // namespace
