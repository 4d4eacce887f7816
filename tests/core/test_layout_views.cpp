// The picture panel and the layout canvases in the real main window, driven
// with mouse and keys, against the document and a simulated player.
#include "core/document.h"
#include "core/mainframe.h"
#include "core/views/content_view.h"
#include "core/views/controls_view.h"
#include "core/views/image_param_dialog.h"
#include "core/views/layout_views.h"
#include "core/layout/layout_transfer.h"
#include "common/controls/num_edit.h"
#include "common/json_coding.h"
#include "platform/app_identity.h"
#include "platform/home.h"
#include "player/player_sim.h"
#include "tests/support/frame_harness.h"
#include "tests/support/test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

using layout::LayoutRect;
using testsupport::waitUntil;

const QString kTitle = QStringLiteral("veluna V9.1.5");
// The panel's geometry and modal dialogs need windows on screen, and Qt
// paints them on threads the thread checker cannot follow.
constexpr const char* kNeedsPainting = "needs painted windows; Qt paints on threads the thread checker cannot follow";

// A mouse move sent straight to the widget: QTest moves the real cursor,
// which does nothing when it is already there or no window is shown.
void moveTo(QWidget* w, QPoint p, Qt::MouseButtons buttons = Qt::NoButton)
{
    QMouseEvent e(QEvent::MouseMove, QPointF(p), w->mapToGlobal(QPointF(p)), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

class Relay : public FrameDocument {
public:
    CvelunaDoc* doc = nullptr;
    void SendToPlayers(const SendRequest& r) override { if (doc) doc->SendToPlayers(r); }
    void OnLinkEvent(const LinkEvent& e) override { if (doc) doc->OnLinkEvent(e); }
    void TickAutoConnect() override {}
    bool TickWaitBox() override { return false; }
    void StepConfigExchange() override {}
    void ResetSequence() override {}
    void CloseAllLinks() override {}
    bool IsLayoutDirty() const override { return false; }
    void SaveLayout() override {}
    void OnPlayerConnectionSettings() override {}
    void OnReconnect() override {}
    void OnReboot() override {}
    bool CanReconnect() const override { return false; }
    bool IsConnected() const override { return doc && doc->IsConnected(); }
};

void makePicture(const QString& folder, const QString& name, QColor color)
{
    QDir().mkpath(folder);
    QImage img(64, 48, QImage::Format_RGB32);
    img.fill(color);
    img.save(folder + QLatin1Char('/') + name);
}

struct Views {
    explicit Views(unsigned language = platform::kLanguageEnglish, int pictures = 3,
                   platform::MsgResult answer = platform::MsgResult::Yes)
        : boxes(answer)
    {
        platform::setAppTitle(kTitle);
        platform::setAppLanguage(language);
        const QString image = home.path() + QStringLiteral("/Material/Image");
        const QColor colors[] = {QColor(220, 60, 60), QColor(60, 180, 90), QColor(70, 110, 230)};
        for (int i = 0; i < pictures; ++i)
            makePicture(image, QStringLiteral("pic%1.png").arg(i, 2, 10, QLatin1Char('0')), colors[i % 3]);
        frame = std::make_unique<CMainFrame>(kTitle, language);
        frame->SetDocument(&relay);
        doc = std::make_unique<CvelunaDoc>(frame.get(), QStringList());
        relay.doc = doc.get();
        doc->setStatusPaneText = [this](int id, const QString& text) { frame->SetPaneText(id, text); };
        doc->pushLayout = [this] { ++pushes; };
        AttachLayoutViews(*frame, *doc);
        frame->resize(1600, 900);
        // Qt paints styled controls on a thread pool of its own that the
        // thread checker cannot follow (Qt is not built for it): under the
        // checker the window is not shown, and the tests that need it
        // shown skip.
        if (!testsupport::kUnderThreadChecker)
            frame->show();
        QApplication::processEvents();
    }
    ~Views()
    {
        DetachLayoutViews(*frame);
        frame->SetDocument(nullptr);
        relay.doc = nullptr;
        doc.reset();
        frame.reset();
    }
    CContentView* canvas(int s = 0) const { return frame->contentTabView()->view(s); }
    QWidget* canvasPort(int s = 0) const { return canvas(s)->viewport(); }
    CImageManage& model() const { return doc->imageManage(); }
    // A viewport point of a screen-relative model point.
    QPoint at(int x, int y, int s = 0) const
    {
        const double z = canvas(s)->zoom();
        return {int(x * z), int(y * z)};
    }
    void key(int k, bool autoRepeat = false)
    {
        QKeyEvent e(QEvent::KeyPress, k, Qt::NoModifier, QString(), autoRepeat);
        QApplication::sendEvent(canvas(), &e);
    }

    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes{platform::MsgResult::Yes};
    Relay relay;
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<CvelunaDoc> doc;
    std::unique_ptr<sim::PlayerSim> player;
    int pushes = 0;

    void connectPlayer(std::vector<std::pair<QByteArray, QByteArray>> layouts = {})
    {
        sim::SimOptions o;
        o.address = QStringLiteral("127.0.0.3");
        player = std::make_unique<sim::PlayerSim>(o);
        sim::installStandardCommands(*player);
        {
            std::lock_guard lk(player->stateMutex());
            player->state().layouts = std::move(layouts);
        }
        ASSERT_TRUE(player->start());
        doc->setTarget(o.address, player->tcpPort());
        doc->currentPlayer().ip = o.address;
        doc->currentPlayer().portText = QString::number(player->tcpPort());
        doc->currentPlayer().mac = o.mac;
        doc->OnReconnect();
        ASSERT_TRUE(waitUntil([&] { return doc->IsConnected(); }));
        boxes.clear();
    }
};

void loadThreeWindows(CImageManage& m)
{
    ASSERT_TRUE(m.LoadLayout(R"({"msg":"windows config","data":{"image":[
        {"x":0,"y":0,"endx":959,"endy":539,"name":"pic00.png","FrameColor":10517747},
        {"x":960,"y":0,"endx":1919,"endy":1079,"name":"pic01.png","FrameColor":255},
        {"x":200,"y":600,"endx":759,"endy":1019,"name":"pic02.png","FrameColor":65280}]}})").loaded);
}

TEST(LayoutViews, PickFromThePanelThenClickOnTheCanvasDropsASnappedWindow)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << kNeedsPainting;
    Views v;
    CControlsView* panel = v.frame->controlsView();
    const LayoutRect slot = panel->slotRects()[1];
    QTest::mouseClick(panel->viewport(), Qt::LeftButton, {}, QPoint((slot.left + slot.right) / 2, (slot.top + slot.bottom) / 2));
    ASSERT_TRUE(v.model().placingActive());
    EXPECT_EQ(v.model().placing().name, QStringLiteral("pic01.png"));

    moveTo(v.canvasPort(), v.at(1000, 100));
    EXPECT_EQ(v.model().placing().rect, (LayoutRect{1000, 100, 1032, 132}));
    QTest::mouseClick(v.canvasPort(), Qt::LeftButton, {}, v.at(1000, 100));
    ASSERT_EQ(v.model().windowCount(), 1);
    EXPECT_EQ(v.model().window(0).rect, (LayoutRect{960, 0, 1920, 540}));  // the top-right cell of 2 x 2
    EXPECT_TRUE(v.model().window(0).selected);
    EXPECT_EQ(v.pushes, 1);
    EXPECT_TRUE(v.doc->IsLayoutDirty());
    EXPECT_EQ(v.canvas()->selection(), (LayoutRect{960, 0, 1920, 540}));
}

TEST(LayoutViews, TenthPickIsRefusedWithTheMessage)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << kNeedsPainting;
    Views v;
    for (int i = 0; i < 9; ++i)
        ASSERT_TRUE(v.model().AddPictureWindow(0, 3, 0, {i * 10, 0, i * 10 + 40, 40}));
    const LayoutRect slot = v.frame->controlsView()->slotRects()[0];
    QTest::mouseClick(v.frame->controlsView()->viewport(), Qt::LeftButton, {}, QPoint(slot.left + 5, slot.top + 5));
    EXPECT_FALSE(v.model().placingActive());
    ASSERT_EQ(v.boxes.texts(), QStringList{QStringLiteral("There are enough pic to add!")});
}

TEST(LayoutViews, ClickSelectsTopmostThenDragMovesAndOutsideClears)
{
    Views v;
    loadThreeWindows(v.model());
    v.canvas()->SetZoom(0.5);
    QTest::mouseClick(v.canvasPort(), Qt::LeftButton, {}, v.at(300, 700));
    uint16_t ch = 0;
    int pos = -1;
    ASSERT_TRUE(v.model().FindSelected(ch, pos));
    EXPECT_EQ(pos, 2);
    EXPECT_EQ(v.canvas()->selection(), (LayoutRect{200, 600, 760, 1020}));

    // Drag the middle of the window 50 device pixels right: 100 model pixels.
    const QPoint from = v.at(480, 800);
    QTest::mousePress(v.canvasPort(), Qt::LeftButton, {}, from);
    moveTo(v.canvasPort(), from + QPoint(25, 0));
    QTest::mouseRelease(v.canvasPort(), Qt::LeftButton, {}, from + QPoint(50, 0));
    EXPECT_EQ(v.model().window(2).rect, (LayoutRect{300, 600, 860, 1020}));
    EXPECT_EQ(v.pushes, 0);  // not connected: kept locally

    // Dragging against the screen's left edge is undone.
    const QPoint from2 = v.at(580, 800);
    QTest::mousePress(v.canvasPort(), Qt::LeftButton, {}, from2);
    QTest::mouseRelease(v.canvasPort(), Qt::LeftButton, {}, from2 - QPoint(400, 0));
    EXPECT_EQ(v.model().window(2).rect.left, 300);

    // Outside the screen the selection frame goes.
    v.canvas()->SetZoom(0.1);
    QTest::mouseClick(v.canvasPort(), Qt::LeftButton, {}, v.at(3000, 100));
    EXPECT_EQ(v.canvas()->selection(), (LayoutRect{-1, -1, -1, -1}));
}

TEST(LayoutViews, QuickDragsAgainstASlowPlayerEndWithThePlayerHoldingTheScreen)
{
    Views v;
    v.doc->pushLayout = [&v] { v.doc->layoutTransfer().PushCurrentLayout(); };
    v.connectPlayer();
    // The connection lists the player's (empty) layouts, which clears the
    // canvas once the document has the answer; then the canvas is filled.
    ASSERT_TRUE(waitUntil([&] { return testsupport::HandshakeRequestsDone(*v.doc, *v.player); }));
    loadThreeWindows(v.model());
    v.canvas()->SetZoom(0.5);
    QTest::mouseClick(v.canvasPort(), Qt::LeftButton, {}, v.at(300, 700));
    v.player->setFault(sim::Fault::Delay, 200);
    v.player->clearLog();

    // 50 drags of 2 device pixels (4 model pixels) each, far quicker than
    // the player answers.
    for (int i = 0; i < 50; ++i) {
        const QPoint from = v.at(480 + 4 * i, 800);
        QTest::mousePress(v.canvasPort(), Qt::LeftButton, {}, from);
        moveTo(v.canvasPort(), from + QPoint(1, 0), Qt::LeftButton);
        QTest::mouseRelease(v.canvasPort(), Qt::LeftButton, {}, from + QPoint(2, 0));
        waitUntil([] { return false; }, 10);
    }
    ASSERT_EQ(v.model().window(2).rect.left, 400);

    // Settled: nothing pending, and no further upload within a second.
    auto uploads = [&] {
        std::vector<QByteArray> out;
        for (const sim::LogEntry& e : v.player->log())
            if (e.incoming && e.header.command == proto::CMD_LAYOUT && e.header.subCode == 2)
                out.push_back(e.payload.mid(layout::kNameFieldSize));
        return out;
    };
    std::size_t count = 0;
    for (int round = 0; round < 40; ++round) {
        waitUntil([] { return false; }, 1000);
        const std::size_t now = uploads().size();
        if (!v.doc->layoutBusy() && now == count)
            break;
        count = now;
    }
    const auto sent = uploads();
    ASSERT_FALSE(sent.empty());
    EXPECT_LT(sent.size(), 50u);  // edits made while one was pending were merged
    const QString onScreen = v.home.path() + QStringLiteral("/on-screen.GFD");
    ASSERT_TRUE(v.model().SaveLayout(onScreen));
    EXPECT_EQ(sent.back(), testsupport::readFile(onScreen));
}

TEST(LayoutViews, DoubleClickSnapsTheSelectedWindowToItsCells)
{
    Views v;
    loadThreeWindows(v.model());
    v.model().SplitScreen(0, 4, 4);
    v.model().Select(2);
    v.canvas()->RefreshSelection(false);
    QTest::mouseDClick(v.canvasPort(), Qt::LeftButton, {}, v.at(300, 700));
    EXPECT_EQ(v.model().window(2).rect, (LayoutRect{0, 540, 960, 1080}));
}

TEST(LayoutViews, CursorReadoutAndTrackerMinimumFollowTheZoom)
{
    Views v;
    struct Row { double zoom; int minSide; };
    const Row rows[] = {{0.1, 15}, {0.15, 30}, {0.25, 45}, {0.35, 57}, {0.5, 58}, {1.0, 58}, {5.0, 58}};
    for (const Row& r : rows) {
        v.canvas()->SetZoom(r.zoom);
        EXPECT_EQ(v.canvas()->tracker().minWidth, r.minSide) << r.zoom;
    }
    v.canvas()->SetZoom(0.1);
    moveTo(v.canvasPort(), QPoint(50, 30));
    EXPECT_EQ(v.frame->PaneText(CMainFrame::kPaneCursor), QStringLiteral("X:500,Y:300"));
}

TEST(LayoutViews, ServiceKeySequences)
{
    struct Row { const char* what; std::vector<int> keys; int watermarks; std::vector<int> modes; bool armed; };
    const Row rows[] = {
        {"F11 F5", {Qt::Key_F11, Qt::Key_F5}, 1, {}, false},
        {"F11 F7", {Qt::Key_F11, Qt::Key_F7}, 0, {3}, false},
        {"F11 F9", {Qt::Key_F11, Qt::Key_F9}, 0, {2}, false},
        {"F11 F12", {Qt::Key_F11, Qt::Key_F12}, 0, {1}, false},
        {"F11 F8 F12", {Qt::Key_F11, Qt::Key_F8, Qt::Key_F12}, 0, {1}, false},
        {"F11 A F12", {Qt::Key_F11, Qt::Key_A, Qt::Key_F12}, 0, {}, false},
        {"F11 F6 F5", {Qt::Key_F11, Qt::Key_F6, Qt::Key_F5}, 0, {}, false},
        {"F7 unarmed", {Qt::Key_F7}, 0, {}, false},
        {"F11 stays armed", {Qt::Key_F11}, 0, {}, true},
    };
    Views v;
    for (const Row& r : rows) {
        int watermarks = 0;
        std::vector<int> modes;
        v.doc->sendWatermark = [&] { ++watermarks; };
        v.doc->openUpgradeDialog = [&](int mode) { modes.push_back(mode); };
        v.key(Qt::Key_Escape);  // disarm between rows
        for (int k : r.keys)
            v.key(k);
        EXPECT_EQ(watermarks, r.watermarks) << r.what;
        EXPECT_EQ(modes, r.modes) << r.what;
        EXPECT_EQ(v.canvas()->serviceArmed(), r.armed) << r.what;
    }
}

TEST(LayoutViews, FiveF8AndYesSendTheFactoryResetToThePlayer)
{
    Views v;
    v.connectPlayer();
    // Four, another key, four more, and a held F8: no prompt.
    for (int i = 0; i < 4; ++i)
        v.key(Qt::Key_F8);
    v.key(Qt::Key_F6);
    for (int i = 0; i < 4; ++i)
        v.key(Qt::Key_F8);
    for (int i = 0; i < 5; ++i)
        v.key(Qt::Key_F8, true);
    EXPECT_TRUE(v.boxes.calls().empty());
    v.key(Qt::Key_F8);
    ASSERT_EQ(v.boxes.calls().size(), 1u);
    EXPECT_EQ(v.boxes.calls()[0].text, QStringLiteral("Restoring factory settings deletes all data and continues?"));
    EXPECT_EQ(v.boxes.calls()[0].icon, platform::MsgIcon::Question);
    EXPECT_EQ(v.canvas()->f8Count(), 0);
    ASSERT_TRUE(v.player->waitForRequests(proto::CMD_FACTORY_RESET, 1, 30000));
    for (const sim::LogEntry& e : v.player->log()) {
        if (e.incoming && e.header.command == proto::CMD_FACTORY_RESET) {
            EXPECT_EQ(e.header.subCode, 0);
            EXPECT_EQ(e.header.sequence, v.doc->sequence());
            EXPECT_EQ(e.header.param, 0);
            EXPECT_EQ(e.header.arg, 0);
            EXPECT_EQ(e.header.payloadLength, 0u);
        }
    }
    // No: nothing more is sent.
    testsupport::MessageBoxRecorder no(platform::MsgResult::No);
    for (int i = 0; i < 5; ++i)
        v.key(Qt::Key_F8);
    QTest::qWait(200);
    EXPECT_EQ(v.player->requestCount(proto::CMD_FACTORY_RESET), 1u);
}

TEST(LayoutViews, WithoutAPlayerFiveF8ShowNothing)
{
    Views v;
    for (int i = 0; i < 5; ++i)
        v.key(Qt::Key_F8);
    EXPECT_TRUE(v.boxes.calls().empty());
    EXPECT_EQ(v.canvas()->f8Count(), 0);
}

TEST(LayoutViews, PanelPagesWithWheelAndKeys)
{
    Views v(platform::kLanguageEnglish, 40);
    CControlsView* panel = v.frame->controlsView();
    struct Row { int key; int wheel; uint32_t start; };
    const Row rows[] = {
        {Qt::Key_PageDown, 0, 16}, {Qt::Key_PageDown, 0, 24}, {Qt::Key_PageUp, 0, 8}, {Qt::Key_Home, 0, 0},
        {Qt::Key_End, 0, 24},      {0, -120, 24},            {0, 120, 8},           {0, 120, 0},
    };
    for (const Row& r : rows) {
        if (r.key) {
            QTest::keyClick(panel, Qt::Key(r.key));
        } else {
            QWheelEvent e(QPointF(20, 100), panel->viewport()->mapToGlobal(QPointF(20, 100)), QPoint(), QPoint(0, r.wheel), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(panel->viewport(), &e);
        }
        EXPECT_EQ(v.model().pageStart(), r.start) << r.key << " " << r.wheel;
    }
    makePicture(v.home.path() + QStringLiteral("/Material/Image"), QStringLiteral("aaa.png"), Qt::yellow);
    QTest::keyClick(panel, Qt::Key_R);
    EXPECT_EQ(v.model().library().size(), 41u);
    EXPECT_EQ(v.model().slot(0).name, QStringLiteral("aaa.png"));
}

TEST(LayoutViews, ParameterDialogRefusesInOrderThenStoresAndPushes)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << kNeedsPainting;
    Views v;
    loadThreeWindows(v.model());
    v.model().Select(2);
    v.doc->currentPlayer().channelCode = 4;  // not three channels: "Wag" off
    v.model().window(2).wag = 1;
    QStringList shown;
    bool wagEnabled = true;
    int step = 0;
    std::function<void()> drive = [&] {
        auto* d = qobject_cast<CImageParam*>(QApplication::activeModalWidget());
        if (!d) {
            QTimer::singleShot(20, drive);
            return;
        }
        wagEnabled = d->wagBox()->isEnabled();
        d->edit(CImageParam::kWidthEdit)->setText(step == 0 ? QStringLiteral("31") : QStringLiteral("300"));
        QPushButton* ok = nullptr;
        for (QPushButton* b : d->findChildren<QPushButton*>())
            if (b->text() == QStringLiteral("OK"))
                ok = b;
        ASSERT_NE(ok, nullptr);
        ok->click();
        if (step++ == 0)
            QTimer::singleShot(20, drive);
    };
    QTimer::singleShot(20, drive);
    v.doc->OnLayoutContextCommand(CContentView::kCmdMaskParameter, 0);
    EXPECT_EQ(v.boxes.texts(), QStringList{QStringLiteral("The width setting is too small!")});
    EXPECT_FALSE(wagEnabled);
    EXPECT_EQ(v.model().window(2).rect, (LayoutRect{200, 600, 500, 1020}));
    EXPECT_EQ(v.model().window(2).wag, 0);
    EXPECT_EQ(v.pushes, 1);

    v.doc->OnLayoutContextCommand(CContentView::kCmdClose, 0);
    EXPECT_EQ(v.model().windowCount(), 2);
    EXPECT_EQ(v.pushes, 2);
}

TEST(LayoutViews, TabsInBothLanguagesAndTheSecondScreenFromTheStatus)
{
    for (unsigned lang : {platform::kLanguageEnglish, platform::kLanguageChinese}) {
        Views v(lang);
        CContentTabView* tabs = v.frame->contentTabView();
        EXPECT_EQ(tabs->tabText(0), lang == 4 ? QStringLiteral("第一幕") : QStringLiteral("First Screen"));
        EXPECT_EQ(tabs->tabText(3), lang == 4 ? QStringLiteral("第四幕") : QStringLiteral("Fourth Screen"));
        EXPECT_FALSE(tabs->IsScreenVisible(1));
        EXPECT_EQ(v.canvas()->canvasWidth(), 3840);
        std::array<uint8_t, CvelunaDoc::kOutputBlockSize> block{};
        const QByteArray status = sim::makeStatusBlock(2);
        std::copy_n(reinterpret_cast<const uint8_t*>(status.constData()), block.size(), block.begin());
        v.doc->onScreensChanged(block);
        EXPECT_TRUE(tabs->IsScreenVisible(1));
        EXPECT_EQ(v.canvas()->canvasWidth(), v.model().screen(0).area.width());
    }
}

TEST(LayoutViews, ScreenshotOfTheMainWindowWithThreeWindows)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << kNeedsPainting;
    const QString folder = testsupport::binDir() + QStringLiteral("/../screenshots");
    QDir().mkpath(folder);
    for (unsigned lang : {platform::kLanguageEnglish, platform::kLanguageChinese}) {
        Views v(lang);
        loadThreeWindows(v.model());
        v.model().Select(1);
        v.canvas()->SetZoom(0.4);
        v.canvas()->RefreshSelection(false);
        moveTo(v.canvasPort(), v.at(400, 300));
        QApplication::processEvents();
        const QImage shot = v.frame->grab().toImage();
        const QString path = folder + (lang == 4 ? QStringLiteral("/main_window_layout_zh.png")
                                                 : QStringLiteral("/main_window_layout_en.png"));
        ASSERT_TRUE(shot.save(path)) << path.toStdString();
        // The selected window's picture shows on the canvas.
        const QPoint inCanvas = v.canvasPort()->mapTo(v.frame.get(), v.at(1400, 800));
        EXPECT_EQ(shot.pixelColor(inCanvas), QColor(60, 180, 90));
    }
}

}  // namespace

namespace {

TEST(LayoutViews, ParameterDialogShowsTheWindowAndWagOnlyForThreeChannels)
{
    const QString folder = testsupport::binDir() + QStringLiteral("/../screenshots");
    QDir().mkpath(folder);
    struct Row { unsigned lang; uint8_t channels; uint8_t wag; bool enabled; bool checked; };
    const Row rows[] = {
        {platform::kLanguageEnglish, 3, 1, true, true},
        {platform::kLanguageChinese, 3, 0, true, false},
        {platform::kLanguageEnglish, 4, 1, false, false},
    };
    for (const Row& r : rows) {
        CImageParam d(r.lang);
        d.playerChannels = r.channels;
        d.window = {200, 600, 760, 1020};
        d.bounds = {0, 0, 1920, 1080};
        d.maxWidth = 1920;
        d.maxHeight = 1080;
        d.wag = r.wag;
        d.InitControls();
        if (!testsupport::kUnderThreadChecker)
            d.show();
        QApplication::processEvents();
        EXPECT_EQ(d.edit(CImageParam::kLeftEdit)->text(), QStringLiteral("200"));
        EXPECT_EQ(d.edit(CImageParam::kWidthEdit)->text(), QStringLiteral("560"));
        EXPECT_EQ(d.edit(CImageParam::kHeightEdit)->text(), QStringLiteral("420"));
        EXPECT_EQ(d.wagBox()->isEnabled(), r.enabled);
        EXPECT_EQ(d.wagBox()->isChecked(), r.checked);
        EXPECT_EQ(d.windowTitle(), r.lang == 4 ? QStringLiteral("参数设置") : QStringLiteral("Parameter Setting"));
        // Enter does not close it.
        bool closed = false;
        QObject::connect(&d, &QDialog::finished, [&closed] { closed = true; });
        QTest::keyClick(&d, Qt::Key_Return);
        EXPECT_FALSE(closed);
        if (r.channels == 3 && !testsupport::kUnderThreadChecker) {
            ASSERT_TRUE(d.grab().save(folder + (r.lang == 4 ? QStringLiteral("/image_param_zh.png")
                                                             : QStringLiteral("/image_param_en.png"))));
        }
        testsupport::MessageBoxRecorder boxes;
        EXPECT_TRUE(d.TryAccept());
        EXPECT_EQ(d.wag, r.checked ? 1 : 0);
        EXPECT_TRUE(boxes.calls().empty());
    }
}

}  // namespace

namespace {

TEST(LayoutViews, ResizeByHandleStopsAtTheZoomsMinimumAndLockIgnoresTheMouse)
{
    Views v;
    loadThreeWindows(v.model());
    v.canvas()->SetZoom(0.25);
    QTest::mouseClick(v.canvasPort(), Qt::LeftButton, {}, v.at(300, 700));
    ASSERT_EQ(v.canvas()->selection(), (LayoutRect{200, 600, 760, 1020}));
    // The bottom-right handle, dragged far up and left.
    const QPoint corner = v.at(760, 1020) - QPoint(3, 3);
    QTest::mousePress(v.canvasPort(), Qt::LeftButton, {}, corner);
    moveTo(v.canvasPort(), QPoint(5, 5));
    QTest::mouseRelease(v.canvasPort(), Qt::LeftButton, {}, QPoint(5, 5));
    const LayoutRect r = v.model().window(2).rect;
    EXPECT_EQ(r.left, 200);
    EXPECT_EQ(r.top, 600);
    EXPECT_EQ(r.width(), 180);  // 45 device pixels at 0.25
    EXPECT_EQ(r.height(), 180);

    v.canvas()->SetLocked(true);
    QTest::mouseClick(v.canvasPort(), Qt::LeftButton, {}, v.at(1200, 100));
    uint16_t ch = 0;
    int pos = -1;
    ASSERT_TRUE(v.model().FindSelected(ch, pos));
    EXPECT_EQ(pos, 2);
}

TEST(LayoutViews, ContextMenuInBothLanguages)
{
    for (unsigned lang : {platform::kLanguageEnglish, platform::kLanguageChinese}) {
        Views v(lang);
        std::unique_ptr<QMenu> menu(v.canvas()->BuildContextMenu(nullptr));
        QStringList texts;
        for (QAction* a : menu->actions())
            texts << a->text();
        EXPECT_EQ(menu->title(), lang == 4 ? QStringLiteral("编辑") : QStringLiteral("Edit"));
        EXPECT_EQ(texts, lang == 4 ? QStringList({QStringLiteral("删除(&E)\tDel"), QString(), QStringLiteral("蒙版参数设置")})
                                   : QStringList({QStringLiteral("Close(&E)\tDel"), QString(),
                                                  QStringLiteral("Mask Parameter Setting")}));
    }
}

}  // namespace

namespace {

TEST(LayoutViews, ThePlayersStatusSetsTheScreensOfTheModelAndTheCanvases)
{
    Views v;
    v.connectPlayer();
    ASSERT_TRUE(v.doc->SendToCurrentPlayer(v.doc->MakeRequest(proto::CMD_STATUS)));
    ASSERT_TRUE(waitUntil([&] { return v.canvas()->canvasWidth() == 1920; }));
    EXPECT_EQ(v.canvas()->canvasHeight(), 1080);
    EXPECT_EQ(v.model().screen(1).area, (LayoutRect{1920, 0, 3840, 1080}));
    EXPECT_TRUE(v.frame->contentTabView()->IsScreenVisible(1));
    EXPECT_FALSE(v.frame->contentTabView()->IsScreenVisible(2));
    // A drop on the second screen lands in its area, in model space.
    v.frame->contentTabView()->setCurrentIndex(1);
    ASSERT_EQ(v.doc->activeScreen(), 1);
    ASSERT_TRUE(v.doc->AddPictureWindow(0));
    moveTo(v.canvasPort(1), v.at(100, 100, 1));
    QTest::mouseClick(v.canvasPort(1), Qt::LeftButton, {}, v.at(100, 100, 1));
    ASSERT_EQ(v.model().windowCount(), 1);
    EXPECT_EQ(v.model().window(0).viewIndex, 1);
    EXPECT_EQ(v.model().window(0).rect, (LayoutRect{1920, 0, 2880, 540}));
}

}  // namespace

namespace {

QByteArray oneWindowLayout(int x, int y)
{
    return QStringLiteral(R"({"msg":"windows config","data":{"image":[)"
                          R"({"x":%1,"y":%2,"endx":%3,"endy":%4,"name":"pic00.png","FrameColor":10517747}]}})")
        .arg(x)
        .arg(y)
        .arg(x + 559)
        .arg(y + 419)
        .toUtf8();
}

// The left edge of the window of the player's current layout, read from
// the bytes it holds; -1 when it holds no layout or no window.
int playersWindowX(sim::PlayerSim& player)
{
    std::lock_guard lk(player.stateMutex());
    const sim::PlayerState& st = player.state();
    if (st.layouts.empty())
        return -1;
    const int current = std::clamp(st.currentLayout, 0, int(st.layouts.size()) - 1);
    Json::Value root;
    if (!jsonio::parseDocument(st.layouts[std::size_t(current)].second, root))
        return -2;
    const Json::Value& image = root["data"]["image"];
    return image.isArray() && image.size() > 0 ? image[0]["x"].asInt() : -1;
}

// A window dragged on the canvas while the link to the player is down: the
// connection that follows brings the player's layout, which must not
// replace the drag unasked. Yes keeps it and sends it, No takes the
// player's layout; without such an edit nothing is asked. Another player
// chosen instead never gets the edit: its layout is shown, and the
// operator is told that the edit made for the first one is given up.
TEST(LayoutViews, AnEditMadeWhileNoPlayerIsConnectedIsKeptOrGivenUpAsAnswered)
{
    using platform::MsgResult;
    enum class Back { Connection, ChooseThePlayerAgain, ChooseAnotherPlayer };
    const unsigned en = platform::kLanguageEnglish, zh = platform::kLanguageChinese;
    const struct Row {
        const char* name;
        unsigned language;
        bool drag;           // the window is dragged 100 pixels right, from 200 to 300
        bool playerEmptied;  // meanwhile the player lost its layouts; otherwise its window went to 1000
        Back back;
        MsgResult answer;
        bool asked;
        int playerX;  // the player's window at the end, -1: no layout
        int canvasX;  // the canvas's window at the end, -1: none
    } rows[] = {
        {"kept", en, true, false, Back::Connection, MsgResult::Yes, true, 300, 300},
        {"given up", zh, true, false, Back::Connection, MsgResult::No, true, 1000, 1000},
        {"kept, player chosen again", zh, true, false, Back::ChooseThePlayerAgain, MsgResult::Yes, true, 300, 300},
        {"given up, player chosen again", en, true, false, Back::ChooseThePlayerAgain, MsgResult::No, true, 1000, 1000},
        {"kept, player emptied", en, true, true, Back::Connection, MsgResult::Yes, true, 300, 300},
        {"given up, player emptied", en, true, true, Back::Connection, MsgResult::No, true, -1, -1},
        {"nothing edited", en, false, false, Back::Connection, MsgResult::Yes, false, 1000, 1000},
        {"another player chosen", zh, true, true, Back::ChooseAnotherPlayer, MsgResult::Yes, false, -1, 1000},
        {"another player chosen, in English", en, true, true, Back::ChooseAnotherPlayer, MsgResult::Yes, false, -1, 1000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Views v(row.language, 3, row.answer);
        std::unique_ptr<sim::PlayerSim> other;  // with a window at 1000 of its own
        v.doc->pushLayout = [&v] { v.doc->layoutTransfer().PushCurrentLayout(); };
        v.connectPlayer({{"L.GFD", oneWindowLayout(200, 600)}});
        ASSERT_TRUE(waitUntil([&] { return v.model().windowCount() == 1 && !v.doc->layoutBusy(); }));
        ASSERT_EQ(v.model().window(0).rect.left, 200);

        // The link goes; the player's layout changes meanwhile.
        v.player->dropConnections();
        ASSERT_TRUE(waitUntil([&] { return !v.doc->IsConnected(); }));
        {
            std::lock_guard lk(v.player->stateMutex());
            if (row.playerEmptied)
                v.player->state().layouts.clear();
            else
                v.player->state().layouts = {{"L.GFD", oneWindowLayout(1000, 100)}};
        }
        v.player->clearLog();
        v.canvas()->SetZoom(0.5);
        if (row.drag) {
            QTest::mouseClick(v.canvasPort(), Qt::LeftButton, {}, v.at(300, 700));
            const QPoint from = v.at(480, 800);
            QTest::mousePress(v.canvasPort(), Qt::LeftButton, {}, from);
            moveTo(v.canvasPort(), from + QPoint(25, 0), Qt::LeftButton);
            QTest::mouseRelease(v.canvasPort(), Qt::LeftButton, {}, from + QPoint(50, 0));
            ASSERT_EQ(v.model().window(0).rect.left, 300);
            EXPECT_TRUE(v.doc->IsLayoutDirty());  // closing would offer to save it
        }
        EXPECT_TRUE(v.player->log().empty());  // without a player nothing went
        v.boxes.clear();

        if (row.back == Back::Connection) {
            v.doc->OnReconnect();
        } else {
            PlayerRow chosen = v.doc->currentPlayer();
            if (row.back == Back::ChooseAnotherPlayer) {
                sim::SimOptions o;
                o.address = QStringLiteral("127.0.0.4");
                o.mac = QStringLiteral("B1B2C3D4E5F6");
                ASSERT_TRUE(other = testsupport::StartPlayerWithConfigStore(o));
                std::lock_guard lk(other->stateMutex());
                other->state().layouts = {{"L.GFD", oneWindowLayout(1000, 100)}};
                other->setFault(sim::Fault::Silent, 0, proto::CMD_LAYOUT);
                chosen = {o.address, o.mac, QString::number(other->tcpPort()), {}, {}};
            }
            v.doc->runScanDialog = [chosen] { return std::optional<ScanChoice>(ScanChoice{chosen, {}, {}}); };
            v.doc->OnPlayerConnectionSettings();
            if (other) {
                // Linked, its layout not in yet: an edit now must not go either.
                ASSERT_TRUE(waitUntil([&] { return other->requestCount(proto::CMD_LAYOUT) > 0; }));
                v.doc->PushCurrentLayout();
                other->setFault(sim::Fault::None, 0, proto::CMD_LAYOUT);
                v.doc->layoutTransfer().RequestLayoutList();
            }
        }
        auto canvasX = [&] { return v.model().windowCount() > 0 ? v.model().window(0).rect.left : -1; };
        const bool settled = waitUntil(
            [&] {
                return v.doc->IsConnected() && !v.doc->layoutBusy() && canvasX() == row.canvasX &&
                       playersWindowX(*v.player) == row.playerX && (!other || playersWindowX(*other) == 1000);
            },
            10000);
        waitUntil([] { return false; }, 300);  // nothing further comes
        EXPECT_TRUE(settled);
        EXPECT_EQ(canvasX(), row.canvasX);
        EXPECT_EQ(playersWindowX(*v.player), row.playerX);

        QStringList questions;
        for (const platform::MessageBoxCall& c : v.boxes.calls())
            if (c.buttons == platform::MsgButtons::YesNo && c.icon == platform::MsgIcon::Question)
                questions << c.text;
        const QString question =
            (row.language == zh
                 ? QStringLiteral("播放器 %1 没有收到布局的修改，是否要发送到播放器？（否：用播放器的布局替换）")
                 : QStringLiteral("The player %1 did not get the changes to the layout. Do you want to send them to "
                                  "the player? (No: the player's layout replaces them)"))
                .arg(v.player->options().address);
        EXPECT_EQ(questions, row.asked ? QStringList{question} : QStringList{});
        std::size_t uploads = 0;
        for (const sim::PlayerSim* p : {v.player.get(), other.get()})
            for (const sim::LogEntry& e : p ? p->log() : std::vector<sim::LogEntry>())
                uploads += e.incoming && e.header.command == proto::CMD_LAYOUT && e.header.subCode == 2;
        EXPECT_EQ(uploads, row.answer == MsgResult::Yes && row.asked ? 1u : 0u);
        if (other) {  // told, in the operator's language, naming the player the edit was for
            const char* notice = row.language == zh ? "为播放器 127.0.0.3 所" : "made for the player 127.0.0.3 ";
            EXPECT_EQ(v.boxes.texts().filter(QString::fromUtf8(notice)).size(), 1);
        }
        // Answered either way, and a kept edit confirmed by the player: the
        // next list of the player's layouts ("Update") asks nothing more.
        v.boxes.clear();
        v.doc->layoutTransfer().RequestLayoutList();
        auto askedAgain = [&] {
            for (const platform::MessageBoxCall& c : v.boxes.calls())
                if (c.buttons == platform::MsgButtons::YesNo)
                    return true;
            return false;
        };
        // The progress pane goes blank once the list, or the fetch after it, is taken in.
        EXPECT_TRUE(waitUntil([&] { return askedAgain() || v.frame->PaneText(layout::kProgressPane) == " "; }));
        EXPECT_FALSE(askedAgain());
        EXPECT_EQ(canvasX(), row.canvasX);
    }
}

}  // namespace
