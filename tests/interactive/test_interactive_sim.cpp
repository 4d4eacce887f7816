// The lidar wizard and the game dialog against the simulated player over
// loopback, through the document's send path and reply routing.

#include "common/controls/text_progress_ctrl.h"
#include "common/json_coding.h"
#include "common/controls/property_grid.h"
#include "interactive/game_dialog.h"
#include "interactive/lidar_wizard.h"
#include "player/interactive_commands.h"
#include "tests/content/content_harness.h"
#include "tests/support/full_disk.h"
#include "transport/protocol.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QTest>
#include <QImage>
#include <QPainter>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

using contenttest::Harness;
using testsupport::waitUntil;

namespace {

const QByteArray kOneLidar = R"({"Msg":"Lidar Config","Lidar":[{"leftTopX":0.1,"leftTopY":0.1,"rightTopX":0.9,"rightTopY":0.1,"rightBottomX":0.9,"rightBottomY":0.9,"leftBottomX":0.1,"leftBottomY":0.9,"lidarModel":"SLAMTECA2M8","controlMode":"network","ip":"192.168.1.80","port":20108}]})";

std::vector<uint16_t> lidarOps(const Harness& h)
{
    std::vector<uint16_t> ops;
    for (const sim::LogEntry& e : h.requests(proto::CMD_LIDAR))
        ops.push_back(e.header.param);
    return ops;
}

std::vector<QByteArray> lidarPayloads(const Harness& h, uint16_t op)
{
    std::vector<QByteArray> out;
    for (const sim::LogEntry& e : h.requests(proto::CMD_LIDAR))
        if (e.header.param == op)
            out.push_back(e.payload);
    return out;
}

// Under the thread checker no window is painted: Qt's painting spreads large
// fills over its own (uninstrumented) thread pool, which the checker reports.
void screenshot(QWidget& widget, const char* name)
{
    if (testsupport::kUnderThreadChecker)
        return;
    widget.grab().save(contenttest::screenshotPath(QString::fromLatin1(name)));
}

// True when a UDP port can be bound on the wildcard address now.
bool udpPortFree(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

struct WizardFixture {
    explicit WizardFixture(Harness& h, const QByteArray& config = kOneLidar)
    {
        {
            std::lock_guard lock(h.player->stateMutex());
            sim::interactiveState(*h.player).lidarConfig = config;
            sim::interactiveState(*h.player).udp.reset();
        }
        wizard = std::make_unique<CLidarWizard>();
        wizard->SetInputs(h.doc->tempFolder(), h.player->options().address, QStringLiteral("127.0.0.1"));
        wizard->Start();
    }
    std::unique_ptr<CLidarWizard> wizard;
};

}  // namespace

TEST(LidarWizardSim, SelectionAsksModelsThenConfigurationOnEveryActivation)
{
    Harness h;
    ASSERT_TRUE(h.started);
    WizardFixture f(h);
    CLidarWizard& w = *f.wizard;
    ASSERT_TRUE(waitUntil([&] { return w.selectPage()->lidars().size() == 1; }));
    EXPECT_EQ(lidarOps(h), (std::vector<uint16_t>{9, 10}));
    EXPECT_EQ(w.windowTitle(), "Select Radar");
    EXPECT_EQ(w.selectPage()->modelCombo()->count(), 1);
    EXPECT_EQ(w.wizardButtons(), unsigned(kWizNext));
    screenshot(w, "lidar_select_en");

    // Add up to four, then refused with a message.
    for (int i = 0; i < 4; ++i)
        w.selectPage()->OnAddLidar();
    EXPECT_EQ(w.selectPage()->lidars().size(), 4u);
    EXPECT_TRUE(h.boxTexts().contains("There are enough lidar to add!"));
}

TEST(LidarWizardSim, AReplyOfTenThousandLidarsShowsFour)
{
    Harness h;
    ASSERT_TRUE(h.started);
    QByteArray config = R"({"Msg":"Lidar Config","Lidar":[)";
    for (int i = 0; i < 10000; ++i)
        config += (i ? "," : "") + kOneLidar.mid(kOneLidar.indexOf("[{") + 1).chopped(2);
    config += "]}";
    WizardFixture f(h, config);
    // Reading every entry took minutes; four take well under a second quietly.
    // The rows read and shown are what counts; the deadline only ends a
    // frozen run, with room for a sanitizer build on a busy machine.
    ASSERT_TRUE(waitUntil([&] { return !f.wizard->selectPage()->lidars().empty(); }, 30000));
    EXPECT_EQ(f.wizard->selectPage()->lidars().size(), 4u);
    EXPECT_EQ(f.wizard->selectPage()->tree()->topLevelItem(0)->childCount(), 4);
}

// The page opens on its first control and Tab walks the page, then the
// wizard's buttons (Back is off on the first page), in both languages.
TEST(LidarWizardSim, SelectPageOpensOnItsFirstControlAndTabWalksIt)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    const QStringList expected = QString("5001 5002 5003 5004 propertyTree 12324 2 5001").split(' ');
    for (unsigned language : {9u, 4u}) {
        SCOPED_TRACE(language);
        Harness h(language);
        ASSERT_TRUE(h.started);
        WizardFixture f(h);
        ASSERT_TRUE(waitUntil([&] { return f.wizard->selectPage()->lidars().size() == 1; }));
        EXPECT_EQ(contenttest::TabWalk(*f.wizard, int(expected.size()) - 1), expected);
        screenshot(*f.wizard, language == 4 ? "keyboard_lidar_select_zh" : "keyboard_lidar_select_en");
    }
}

TEST(LidarWizardSim, UnsupportedPlayerLeavesOnlyCancel)
{
    Harness h;
    ASSERT_TRUE(h.started);
    {
        std::lock_guard lock(h.player->stateMutex());
        sim::interactiveState(*h.player).lidarModels = "{}";
    }
    WizardFixture f(h);
    ASSERT_TRUE(waitUntil([&] { return h.boxTexts().contains("The current device does not support Radar!"); }));
    EXPECT_EQ(f.wizard->wizardButtons(), 0u);
    EXPECT_EQ(lidarOps(h), (std::vector<uint16_t>{9}));
}

// The real box, as the operator answers it: afterwards the wizard has the
// keyboard again, on the model combo box, and Tab walks what is left enabled.
TEST(LidarWizardSim, UnsupportedPlayerMessageGivesTheKeyboardBackToTheCombo)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    Harness h;
    ASSERT_TRUE(h.started);
    {
        std::lock_guard lock(h.player->stateMutex());
        sim::interactiveState(*h.player).lidarModels = "{}";
    }
    platform::setMessageBoxAnswerer({});
    QString answered;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            answered = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    answer.start(20);
    CLidarWizard w;
    w.SetInputs(h.doc->tempFolder(), h.player->options().address, QStringLiteral("127.0.0.1"));
    w.show();
    ASSERT_TRUE(waitUntil([&] { return !answered.isEmpty(); }));
    EXPECT_EQ(answered, "The current device does not support Radar!");
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &w; }));
    QStringList walk;
    for (int i = 0; i < 5; ++i) {
        QWidget* f = QApplication::focusWidget();
        walk << (f ? f->objectName() : QStringLiteral("-"));
        QTest::keyClick(f ? f : &w, Qt::Key_Tab);
    }
    EXPECT_EQ(walk.join(' '), "5001 5004 propertyTree 2 5001");
}

TEST(LidarWizardSim, ParameterPageStartsLiveExchangeAndNextCompletesOnReply)
{
    Harness h;
    ASSERT_TRUE(h.started);
    if (!udpPortFree(lidar::kLocalUdpPort))
        GTEST_SKIP() << "UDP port 7585 is in use on this machine";
    WizardFixture f(h);
    CLidarWizard& w = *f.wizard;
    ASSERT_TRUE(waitUntil([&] { return w.selectPage()->lidars().size() == 1; }));
    std::shared_ptr<sim::LidarUdpService> udp;
    {
        std::lock_guard lock(h.player->stateMutex());
        udp = sim::interactiveState(*h.player).udp;
    }
    if (!udp || !udp->running())
        GTEST_SKIP() << "UDP port 7584 of the simulated player is in use";
    udp->setPoints({{1500.f, 10.f}, {2500.f, 350.f}, {800.f, 90.f}});

    w.PressNext();
    EXPECT_EQ(w.windowTitle(), "Radar Param");
    ASSERT_TRUE(waitUntil([&] { return w.paramPage()->state() == lidar::kStateRunning; }));
    ASSERT_TRUE(waitUntil([&] { return lidarOps(h).size() >= 4; }));
    EXPECT_EQ(lidarOps(h), (std::vector<uint16_t>{9, 10, 11, 3}));
    // The first LidarXY marks corner 0 of lidar 0 with the slider's dot size.
    Json::Value xy;
    ASSERT_TRUE(jsonio::parse(lidarPayloads(h, 11).front(), xy));
    EXPECT_EQ(xy["state"].asInt(), 0);
    EXPECT_EQ(xy["dotSize"].asDouble(), double(0.04f));
    EXPECT_EQ(xy["x"].asDouble(), 0.1);

    // Polls every 100 ms bring the points.
    ASSERT_TRUE(waitUntil([&] { return w.paramPage()->points().size() == 3; }));
    EXPECT_GE(udp->requestCount(lidar::LIDAR_UDP_POLL), 1u);
    EXPECT_EQ(w.paramPage()->dataLabel(), "Radar Data:3");
    // "Show Point" off and on again, also while polling runs.
    w.paramPage()->showPoint()->click();
    w.paramPage()->showPoint()->click();
    ASSERT_TRUE(waitUntil([&] { return udp->requestCount(lidar::LIDAR_UDP_SHOW_POINTS_ON) == 1; }));
    EXPECT_EQ(udp->requestCount(lidar::LIDAR_UDP_SHOW_POINTS_OFF), 1u);
    const QByteArray request = udp->requests().front();
    EXPECT_EQ(request.size(), 25);
    EXPECT_EQ(request.left(8), QByteArray("RPLIDAR\0", 8));

    // Picking at 355 degrees takes the point at 350 and the click stores it.
    w.paramPage()->bearing = 355 * M_PI / 180;
    {
        QImage small(100, 100, QImage::Format_RGB32);  // small: painted on this thread alone
        QPainter painter(&small);
        lidar::DrawLidarPlot(painter, 100, 100, w.paramPage()->zoom, w.paramPage()->points(), w.paramPage()->bearing,
                             &w.paramPage()->picked);
    }
    ASSERT_TRUE(w.paramPage()->picked.present);
    w.paramPage()->OnPlotClick();
    EXPECT_EQ(w.paramPage()->lidars()[0].corners[0].R, 2500);
    EXPECT_EQ(w.paramPage()->lidars()[0].corners[0].angle, 350);
    EXPECT_EQ(w.paramPage()->prompt(), "Please stand at the 1 point of the 1 Radar");
    screenshot(w, "lidar_param_en");

    // Walking the corners re-sends LidarXY each time.
    const std::size_t before = lidarPayloads(h, 11).size();
    w.paramPage()->OnNextPoint();
    EXPECT_EQ(w.paramPage()->prompt(), "Please stand at the 4 point of the 1 Radar");
    ASSERT_TRUE(waitUntil([&] { return lidarPayloads(h, 11).size() == before + 1; }));

    // Next: Lidar.Json once more, and the player's answer moves on. The
    // answer to the first Lidar.Json may still be on its way and move the
    // page on by itself, so the player is waited for as well.
    w.PressNext();
    ASSERT_TRUE(waitUntil([&] { return w.activeIndex() == 2 && lidarPayloads(h, 3).size() >= 2; }));
    EXPECT_EQ(lidarPayloads(h, 3).size(), 2u);
    EXPECT_FALSE(w.paramPage()->udpOpen());
    std::vector<lidar::LidarSettings> sent;
    ASSERT_TRUE(lidar::ParseLidarConfig(lidarPayloads(h, 3).back(), sent));
    EXPECT_EQ(sent[0].corners[0].R, 2500);
    EXPECT_EQ(w.selectPage()->lidars()[0].corners[0].R, 2500);
    EXPECT_EQ(w.windowTitle(), "Radar Check");
}

TEST(LidarWizardSim, NextTwiceWithoutAnswerSendsLidarJsonOnce)
{
    Harness h;
    ASSERT_TRUE(h.started);
    {
        std::lock_guard lock(h.player->stateMutex());
        sim::interactiveState(*h.player).silentOps = {3, 11};
    }
    WizardFixture f(h);
    CLidarWizard& w = *f.wizard;
    ASSERT_TRUE(waitUntil([&] { return w.selectPage()->lidars().size() == 1; }));
    w.PressNext();
    ASSERT_TRUE(waitUntil([&] { return lidarPayloads(h, 11).size() == 1; }));
    w.PressNext();
    EXPECT_EQ(w.activeIndex(), 1);
    EXPECT_EQ(w.paramPage()->state(), lidar::kStateLeaving);
    w.PressNext();
    EXPECT_EQ(w.activeIndex(), 2);
    ASSERT_TRUE(waitUntil([&] { return lidarPayloads(h, 3).size() == 1; }));
    ASSERT_TRUE(h.sendBehind(proto::CMD_LIDAR, lidar::LIDAR_OP_QUERY_MODELS));
    EXPECT_EQ(lidarPayloads(h, 3).size(), 1u);
}

TEST(LidarWizardSim, BackSendsStateTwoAndAsksAgain)
{
    Harness h;
    ASSERT_TRUE(h.started);
    WizardFixture f(h);
    CLidarWizard& w = *f.wizard;
    ASSERT_TRUE(waitUntil([&] { return w.selectPage()->lidars().size() == 1; }));
    w.PressNext();
    ASSERT_TRUE(waitUntil([&] { return w.paramPage()->state() == lidar::kStateRunning; }));
    w.PressBack();
    EXPECT_EQ(w.activeIndex(), 0);
    ASSERT_TRUE(waitUntil([&] { return lidarPayloads(h, 11).size() == 2; }));
    Json::Value xy;
    ASSERT_TRUE(jsonio::parse(lidarPayloads(h, 11).back(), xy));
    EXPECT_EQ(xy["state"].asInt(), 2);
    ASSERT_TRUE(waitUntil([&] { return lidarOps(h).back() == 10; }));
    const std::vector<uint16_t> ops = lidarOps(h);
    EXPECT_EQ(std::count(ops.begin(), ops.end(), 9), 2);
}

TEST(LidarWizardSim, CheckPageScanEndsOnThirdTickAndFinishSendsFixedMarker)
{
    Harness h;
    ASSERT_TRUE(h.started);
    WizardFixture f(h, R"({"Msg":"Lidar Config"})");
    CLidarWizard& w = *f.wizard;
    ASSERT_TRUE(waitUntil([&] { return lidarOps(h).size() == 2; }));
    w.PressNext();  // no lidar: asked, answered Yes
    ASSERT_EQ(w.activeIndex(), 1);
    w.paramPage()->OnLidarReply(3, {});  // not leaving: nothing
    EXPECT_EQ(w.activeIndex(), 1);
    EXPECT_EQ(w.wizardButtons(), unsigned(kWizBack));
    w.SetActivePage(2);
    QTest::keyClick(&w, Qt::Key_Escape);  // swallowed: no question, still open
    EXPECT_EQ(w.activeIndex(), 2);
    EXPECT_FALSE(h.boxTexts().contains("Do you really want to exit?"));
    CLidarCheck* c = w.checkPage();
    c->timer().stop();
    EXPECT_FALSE(w.finishButton()->isHidden());
    EXPECT_TRUE(w.nextButton()->isHidden());
    screenshot(w, "lidar_check_en");
    c->OnScanObstacles();
    ASSERT_TRUE(waitUntil([&] { return c->scanning(); }));
    EXPECT_FALSE(c->scanButton()->isEnabled());
    c->OnTimer();
    c->OnTimer();
    ASSERT_TRUE(h.sendBehind(proto::CMD_LIDAR, lidar::LIDAR_OP_QUERY_MODELS));
    EXPECT_EQ(lidarPayloads(h, 2).size(), 0u);
    c->OnTimer();
    ASSERT_TRUE(waitUntil([&] { return h.boxTexts().contains("scan end"); }));
    EXPECT_EQ(lidarPayloads(h, 2).size(), 1u);
    EXPECT_TRUE(c->scanButton()->isEnabled());
    w.PressFinish();
    ASSERT_TRUE(waitUntil([&] { return !lidarPayloads(h, 11).empty() && lidarPayloads(h, 11).back().contains("0.05000000074505806"); }));
}

TEST(LidarWizardSim, ChineseCaptionsAndScreenshots)
{
    Harness h(4);
    ASSERT_TRUE(h.started);
    WizardFixture f(h);
    CLidarWizard& w = *f.wizard;
    ASSERT_TRUE(waitUntil([&] { return w.selectPage()->lidars().size() == 1; }));
    EXPECT_EQ(w.windowTitle(), QString::fromUtf8("选择雷达"));
    screenshot(w, "lidar_select_zh");
    w.PressNext();
    EXPECT_EQ(w.windowTitle(), QString::fromUtf8("雷达参数"));
    ASSERT_TRUE(waitUntil([&] { return w.paramPage()->state() == lidar::kStateRunning; }));
    EXPECT_EQ(w.paramPage()->prompt(), QString::fromUtf8("请站在第1个雷达的第1个点"));
    screenshot(w, "lidar_param_zh");
}

// Every label of both grids shows whole, in both languages.
TEST(LidarWizardSim, GridLabelsShowWhole)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    for (unsigned language : {9u, 4u}) {
        SCOPED_TRACE(language);
        Harness h(language);
        ASSERT_TRUE(h.started);
        WizardFixture f(h);
        CLidarWizard& w = *f.wizard;
        ASSERT_TRUE(waitUntil([&] { return w.selectPage()->lidars().size() == 1; }));
        QTreeWidget* select = w.selectPage()->grid()->tree();
        EXPECT_EQ(select->topLevelItemCount(), 12);
        EXPECT_EQ(testsupport::cutTreeLabels(*select), QStringList());
        w.PressNext();
        ASSERT_TRUE(waitUntil([&] { return w.paramPage()->state() == lidar::kStateRunning; }));
        QTreeWidget* param = w.paramPage()->grid()->tree();
        ASSERT_EQ(param->topLevelItemCount(), 1);
        EXPECT_EQ(param->topLevelItem(0)->childCount(), 20);
        EXPECT_EQ(testsupport::cutTreeLabels(*param), QStringList());
    }
}

// ---- games ----

namespace {

game::OutputLayout twoScreens()
{
    game::OutputLayout l;
    l.screens[0] = {0, 0, 1920, 1080};
    l.screens[1] = {1920, 0, 3840, 1080};
    l.outputs[0] = {0, 0, 1919, 1079};
    l.outputs[1] = {1920, 0, 3839, 1079};
    return l;
}

struct GameFixture {
    GameFixture(Harness& h, game::OutputLayout layout = twoScreens())
    {
        {
            std::lock_guard lock(h.player->stateMutex());
            sim::InteractiveState& s = sim::interactiveState(*h.player);
            s.games = {{"race", false}, {"\xC6\xE5", true}, {"ball", false}};
            s.currentGame = "race";
            s.gameScreen = 1;
            s.x = 2000;
            s.y = 100;
            s.width = 640;
            s.height = 480;
        }
        dialog = std::make_unique<CGame>(h.doc->tempFolder(), h.doc->titlePrefix(), layout);
        dialog->Start();
    }
    std::unique_ptr<CGame> dialog;
};

std::vector<sim::LogEntry> gameRequests(const Harness& h, uint16_t op)
{
    std::vector<sim::LogEntry> out;
    for (const sim::LogEntry& e : h.requests(proto::CMD_GAME))
        if (e.header.param == op)
            out.push_back(e);
    return out;
}

}  // namespace

TEST(GameSim, ListMarksCurrentGameAndSelectsItsScreen)
{
    Harness h;
    ASSERT_TRUE(h.started);
    GameFixture f(h);
    CGame& g = *f.dialog;
    ASSERT_TRUE(waitUntil([&] { return g.listControl()->topLevelItemCount() == 3 && !g.waiting(); }));
    EXPECT_EQ(g.listControl()->topLevelItem(0)->text(1), "* race");
    EXPECT_EQ(g.listControl()->topLevelItem(1)->text(1), QString::fromUtf8("棋"));
    EXPECT_EQ(g.currentScreen(), 1);
    EXPECT_EQ(g.gameRects()[1].rect(), (geom::RectI{2000, 100, 2640, 580}));
    screenshot(g, "game_en");

    // Setup of the selected game sends Game.Json and then asks for the list.
    g.listControl()->setCurrentItem(g.listControl()->topLevelItem(2));
    g.OnSetupGame();
    ASSERT_TRUE(waitUntil([&] { return gameRequests(h, 0).size() == 2 && !g.waiting(); }));
    const std::vector<sim::LogEntry> settings = gameRequests(h, 1);
    ASSERT_EQ(settings.size(), 1u);
    Json::Value doc;
    ASSERT_TRUE(jsonio::parse(settings[0].payload, doc));
    EXPECT_EQ(doc["gameName"].asString(), "ball");
    EXPECT_EQ(doc["startGame"].asInt(), 1);
    EXPECT_EQ(doc["gameScreen"].asInt(), 1);
    EXPECT_EQ(doc["x"].asUInt(), 2000u);
    EXPECT_EQ(settings[0].header.arg, 0);
    EXPECT_EQ(g.listControl()->topLevelItem(2)->text(1), "* ball");

    // The R key: the window goes to its own screen's corner, 320 x 320.
    QTest::keyClick(&g, Qt::Key_R);
    ASSERT_TRUE(waitUntil([&] { return gameRequests(h, 1).size() == 2 && !g.waiting(); }));
    ASSERT_TRUE(jsonio::parse(gameRequests(h, 1).back().payload, doc));
    EXPECT_EQ(doc["x"].asUInt(), 1920u);
    EXPECT_EQ(doc["width"].asUInt(), 320u);

    // Close: startGame 0 with 1 at offset 10, then the list.
    g.OnCloseGame();
    ASSERT_TRUE(waitUntil([&] { return gameRequests(h, 0).size() == 3 && !g.waiting(); }));
    EXPECT_EQ(gameRequests(h, 1).back().header.arg, 1);
}

TEST(GameSim, NoSelectionAndNoGameMessages)
{
    Harness h;
    ASSERT_TRUE(h.started);
    GameFixture f(h);
    CGame& g = *f.dialog;
    ASSERT_TRUE(waitUntil([&] { return !g.waiting(); }));
    g.listControl()->clearSelection();
    g.OnSetupGame();
    g.OnUninstallGame();
    EXPECT_EQ(h.boxTexts().count("Game name not selected"), 2);
}

TEST(GameSim, InstallChainAndUninstall)
{
    Harness h;
    ASSERT_TRUE(h.started);
    GameFixture f(h);
    CGame& g = *f.dialog;
    ASSERT_TRUE(waitUntil([&] { return !g.waiting(); }));
    const QString path = h.home.path() + "/big.apk";
    const QByteArray content = testsupport::randomBytes(20000000, 7);
    ASSERT_TRUE(testsupport::writeFile(path, content));
    platform::setFileDialogMultiAnswerer([&](const platform::FileDialogCall&) { return QStringList{path}; });
    g.OnInstallGame();
    EXPECT_FALSE(g.progress()->isHidden());
    ASSERT_TRUE(waitUntil([&] { return gameRequests(h, 0).size() == 2 && !g.waiting(); }));
    platform::setFileDialogMultiAnswerer({});
    const std::vector<sim::LogEntry> install = gameRequests(h, 2);
    ASSERT_EQ(install.size(), 4u);
    EXPECT_EQ(install[0].payload, "big.apk");
    const std::pair<uint8_t, uint32_t> expected[] = {{1, 8192000}, {1, 8192000}, {2, 3616000}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(install[std::size_t(i) + 1].header.subCode, expected[i].first);
        EXPECT_EQ(install[std::size_t(i) + 1].header.payloadLength, expected[i].second);
    }
    EXPECT_EQ(install[3].header.arg, 0);
    EXPECT_TRUE(g.progress()->isHidden());
    {
        std::lock_guard lock(h.player->stateMutex());
        const sim::InteractiveState& s = sim::interactiveState(*h.player);
        ASSERT_EQ(s.installs.size(), 1u);
        EXPECT_TRUE(s.installs[0].complete);
        EXPECT_TRUE(s.installs[0].data == content);
    }
    ASSERT_EQ(g.listControl()->topLevelItemCount(), 4);

    // Uninstall the Chinese-named game: its code-page bytes go out.
    g.listControl()->setCurrentItem(g.listControl()->topLevelItem(1));
    g.OnUninstallGame();
    ASSERT_TRUE(waitUntil([&] { return g.listControl()->topLevelItemCount() == 3; }));
    EXPECT_EQ(gameRequests(h, 3).front().payload, QByteArray("\xC6\xE5"));
}

TEST(GameSim, ChineseDialogAndSingleScreen)
{
    Harness h(4);
    ASSERT_TRUE(h.started);
    game::OutputLayout one;
    one.screens[0] = {0, 0, 1920, 1080};
    one.outputs[0] = {0, 0, 1919, 1079};
    GameFixture f(h, one);
    CGame& g = *f.dialog;
    ASSERT_TRUE(waitUntil([&] { return g.listControl()->topLevelItemCount() == 3 && !g.waiting(); }));
    EXPECT_FALSE(g.screenRadio(1)->isEnabled());
    EXPECT_EQ(g.currentScreen(), 0);  // screen 2 absent: always screen 1
    EXPECT_EQ(g.windowTitle(), h.doc->titlePrefix() + QString::fromUtf8("游戏设置"));
    screenshot(g, "game_zh");
}

TEST(LidarWizardSim, SelectionEditsAreCheckedAndRootEditsNothing)
{
    Harness h;
    ASSERT_TRUE(h.started);
    WizardFixture f(h);
    CLidarSelect* page = f.wizard->selectPage();
    ASSERT_TRUE(waitUntil([&] { return page->lidars().size() == 1; }));
    PropertyGrid* grid = page->grid();
    struct Row {
        quintptr data;
        const char* value;
        bool accepted;
    } rows[] = {
        {4, "0.0", true}, {4, "1.0", true}, {4, "1.01", false}, {4, "abc", false}, {5, "-0.1", false},
        {3, "0", false},  {3, "65536", false}, {3, "8080", true}, {2, "10.0.0", false}, {2, "10.0.0.300", false},
        {2, "10.0.0.7", true},
    };
    for (const Row& r : rows) {
        h.boxes.clear();
        PropertyItem* item = grid->findByData(r.data);
        ASSERT_NE(item, nullptr);
        const QVariant before = item->value();
        grid->applyUserValue(item, QString(r.value));
        EXPECT_EQ(h.boxTexts().contains("input error"), !r.accepted) << r.value;
        if (!r.accepted) {
            EXPECT_EQ(item->value(), before) << r.value;
        }
    }
    EXPECT_EQ(page->lidars()[0].corners[0].x, 1.0);
    EXPECT_EQ(page->lidars()[0].port, 8080u);
    EXPECT_EQ(page->lidars()[0].ip, "10.0.0.7");

    // The top-left x now equals the top-right x: Next refuses.
    f.wizard->PressNext();
    EXPECT_EQ(f.wizard->activeIndex(), 0);
    EXPECT_TRUE(h.boxTexts().contains("The right side of Radar coordinate value cannot be less than the left side!"));

    // With the root selected neither an edit nor Del touches a lidar.
    page->tree()->setCurrentItem(page->tree()->topLevelItem(0));
    grid->applyUserValue(grid->findByData(3), QStringLiteral("9000"));
    EXPECT_EQ(page->lidars()[0].port, 8080u);
    page->OnDeleteLidar();
    EXPECT_EQ(page->lidars().size(), 1u);
}

TEST(GameSim, DragStoresAtLeast320AndSendsGameJson)
{
    Harness h;
    ASSERT_TRUE(h.started);
    GameFixture f(h);
    CGame& g = *f.dialog;
    ASSERT_TRUE(waitUntil([&] { return g.listControl()->topLevelItemCount() == 3 && !g.waiting(); }));
    const geom::RectI onMap = g.gameRectOnMap();
    // Drag the bottom-right handle inwards as far as it goes.
    const int hx = onMap.right - 2, hy = onMap.bottom - 2;
    g.MapPress(hx, hy);
    g.MapMove(onMap.left + 3, onMap.top + 3);
    g.MapRelease(onMap.left + 3, onMap.top + 3);
    ASSERT_TRUE(waitUntil([&] { return gameRequests(h, 1).size() == 1 && !g.waiting(); }));
    Json::Value doc;
    ASSERT_TRUE(jsonio::parse(gameRequests(h, 1).front().payload, doc));
    EXPECT_GE(doc["width"].asUInt(), 320u);
    EXPECT_GE(doc["height"].asUInt(), 320u);
    EXPECT_EQ(doc["gameName"].asString(), "race");
    EXPECT_EQ(gameRequests(h, 1).front().header.arg, 0);
    // A full-screen current game does not start a drag.
    g.listControl()->setCurrentItem(g.listControl()->topLevelItem(1));
    g.OnSetupGame();
    ASSERT_TRUE(waitUntil([&] { return gameRequests(h, 0).size() == 2 && !g.waiting(); }));
    EXPECT_EQ(g.gameRects()[1].rect(), (geom::RectI{1920, 0, 3840, 1080}));
    const geom::RectI full = g.gameRectOnMap();
    g.MapPress(full.right - 2, full.bottom - 2);
    g.MapRelease(full.left + 3, full.top + 3);
    ASSERT_TRUE(h.sendBehind(proto::CMD_GAME, 0));  // a list request
    EXPECT_EQ(gameRequests(h, 1).size(), 2u);
}

TEST(GameSim, UninstallRefusesNamesOver256Bytes)
{
    Harness h;
    ASSERT_TRUE(h.started);
    GameFixture f(h);
    {
        std::lock_guard lock(h.player->stateMutex());
        sim::interactiveState(*h.player).games.emplace_back(QByteArray(300, 'g'), false);
    }
    CGame& g = *f.dialog;
    ASSERT_TRUE(waitUntil([&] { return !g.waiting(); }));
    g.OnGameReply(0, [&] {
        std::lock_guard lock(h.player->stateMutex());
        return sim::gameListDocument(sim::interactiveState(*h.player));
    }());
    ASSERT_EQ(g.listControl()->topLevelItemCount(), 4);
    g.listControl()->setCurrentItem(g.listControl()->topLevelItem(3));
    g.OnUninstallGame();
    EXPECT_TRUE(h.boxTexts().contains("Game name is too long"));
    EXPECT_FALSE(g.waiting());
    ASSERT_TRUE(h.sendBehind(proto::CMD_GAME, 0));  // a list request
    EXPECT_TRUE(gameRequests(h, 3).empty());
}

TEST(GameSim, UnreadableApkStopsTheUploadWithAMessage)
{
    Harness h;
    ASSERT_TRUE(h.started);
    GameFixture f(h);
    CGame& g = *f.dialog;
    ASSERT_TRUE(waitUntil([&] { return !g.waiting(); }));
    // A folder named like a package: it has a size but cannot be read as a file.
    const QString path = h.home.path() + "/folder.apk";
    ASSERT_TRUE(QDir().mkpath(path));
    platform::setFileDialogMultiAnswerer([&](const platform::FileDialogCall&) { return QStringList{path}; });
    g.OnInstallGame();
    platform::setFileDialogMultiAnswerer({});
    ASSERT_TRUE(waitUntil([&] { return gameRequests(h, 0).size() == 2 && !g.waiting(); }));
    EXPECT_EQ(gameRequests(h, 2).size(), 1u);  // the name only
    EXPECT_TRUE(g.progress()->isHidden());
    ASSERT_FALSE(h.boxTexts().isEmpty());
    EXPECT_TRUE(h.boxTexts().back().startsWith("Cannot read the file: "));
}

// The player goes while a package travels: the dialog says why in its own
// language, the bar goes, and "install game" sends the package again whole.
TEST(GameSim, LinkLostDuringAnInstallIsToldAndInstallAgainCompletes)
{
    const struct {
        unsigned language;
        bool reset;  // else the player closes the connection in order
        const char* told;
    } rows[] = {
        {9, false, "The game installation failed: the player closed the connection."},
        {4, true, "游戏安装失败：播放器重置了连接。"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.told);
        Harness h(row.language);
        ASSERT_TRUE(h.started);
        GameFixture f(h);
        CGame& g = *f.dialog;
        ASSERT_TRUE(waitUntil([&] { return !g.waiting(); }));
        auto answerChunks = std::make_shared<std::atomic<bool>>(false);
        const sim::CommandHandler game = h.player->commandHandler(proto::CMD_GAME);
        h.player->registerCommand(proto::CMD_GAME, [game, answerChunks](sim::PlayerSim& s, const sim::Request& req) {
            std::vector<sim::Reply> replies = game(s, req);
            const bool chunk = req.header.param == game::GAME_OP_INSTALL && req.header.subCode != 0;
            return chunk && !*answerChunks ? std::vector<sim::Reply>() : replies;
        });
        const QString path = h.home.path() + "/big.apk";
        const QByteArray content = testsupport::randomBytes(20000000, 9);
        ASSERT_TRUE(testsupport::writeFile(path, content));
        platform::setFileDialogMultiAnswerer([&](const platform::FileDialogCall&) { return QStringList{path}; });
        g.OnInstallGame();
        // The guards only end a frozen run: the first chunk is 8 MB, slow
        // under the thread checker on a busy machine.
        ASSERT_TRUE(waitUntil([&] { return gameRequests(h, 2).size() == 2; }, 60000));
        if (row.reset)
            h.player->resetConnections();
        else
            h.player->dropConnections();
        ASSERT_TRUE(waitUntil([&] { return h.boxTexts().contains(QString::fromUtf8(row.told)); }));
        EXPECT_EQ(h.boxTexts().size(), 1);
        EXPECT_TRUE(g.progress()->isHidden());
        EXPECT_FALSE(g.waiting());

        *answerChunks = true;
        h.player->clearLog();
        g.OnInstallGame();
        ASSERT_TRUE(waitUntil([&] { return gameRequests(h, 0).size() == 1 && !g.waiting(); }, 60000));
        platform::setFileDialogMultiAnswerer({});
        EXPECT_EQ(gameRequests(h, 2).size(), 4u);
        EXPECT_TRUE(g.progress()->isHidden());
        std::lock_guard lock(h.player->stateMutex());
        const sim::InteractiveState& s = sim::interactiveState(*h.player);
        ASSERT_FALSE(s.installs.empty());
        EXPECT_TRUE(s.installs.back().complete);
        EXPECT_TRUE(s.installs.back().data == content);
    }
}

// The bar's total is the size of each package as it was chosen. A package
// that grows before its turn (here while the one before it travels) is
// passed over with the read-failure message: nothing of it goes beyond its
// name, and the bytes sent never pass the total.
TEST(GameSim, PackageGrownBeforeItsTurnIsPassedOverWithinTheTotal)
{
    Harness h;
    ASSERT_TRUE(h.started);
    GameFixture f(h);
    CGame& g = *f.dialog;
    ASSERT_TRUE(waitUntil([&] { return !g.waiting(); }));
    const QString a = h.home.path() + "/a.apk", b = h.home.path() + "/b.apk";
    const QByteArray first = testsupport::randomBytes(5000, 3);
    ASSERT_TRUE(testsupport::writeFile(a, first));
    ASSERT_TRUE(testsupport::writeFile(b, testsupport::randomBytes(3000, 4)));
    const sim::CommandHandler game = h.player->commandHandler(proto::CMD_GAME);
    h.player->registerCommand(proto::CMD_GAME, [game, b](sim::PlayerSim& s, const sim::Request& req) {
        // a's only chunk: b grows before the dialog reaches it.
        if (req.header.param == game::GAME_OP_INSTALL && req.header.subCode == 2 && req.header.arg == 1)
            QFile::resize(b, 9000);
        return game(s, req);
    });
    platform::setFileDialogMultiAnswerer([&](const platform::FileDialogCall&) { return QStringList{a, b}; });
    g.OnInstallGame();
    platform::setFileDialogMultiAnswerer({});
    EXPECT_EQ(g.progress()->upper(), 8000u);
    ASSERT_TRUE(waitUntil([&] { return gameRequests(h, 0).size() == 2 && !g.waiting(); }));
    // The bar keeps the last position it was given: the bytes sent.
    EXPECT_EQ(g.progress()->GetPos(), 5000u);
    const std::vector<sim::LogEntry> install = gameRequests(h, 2);
    ASSERT_EQ(install.size(), 3u);  // a's name and chunk, b's name
    EXPECT_EQ(install[2].payload, "b.apk");
    EXPECT_TRUE(g.progress()->isHidden());
    ASSERT_EQ(h.boxTexts().size(), 1);
    EXPECT_EQ(h.boxTexts().back(), "The file changed while it was being sent: " + QDir::toNativeSeparators(b));
    std::lock_guard lock(h.player->stateMutex());
    const sim::InteractiveState& s = sim::interactiveState(*h.player);
    ASSERT_FALSE(s.installs.empty());
    EXPECT_TRUE(s.installs[0].complete);
    EXPECT_TRUE(s.installs[0].data == first);
    for (std::size_t i = 1; i < s.installs.size(); ++i)
        EXPECT_FALSE(s.installs[i].complete) << i;
}

// The document a press writes before it sends, refused by the disk: the
// operator reads which file and why, nothing goes to the player, and the
// dialog does not stay waiting for an answer that cannot come.
TEST(InteractiveDocuments, ADocumentTheDiskRefusesIsSaidAndNothingIsSent)
{
    const struct {
        const char* file;
        uint8_t command;
        uint16_t operation;
        uint16_t behind;  // of the same command, sent behind the press: a read
        // Opens the dialog, waits for it to settle, and returns the press.
        std::function<std::function<void()>(Harness&, std::shared_ptr<void>&)> open;
    } rows[] = {
        {"Game.Json", proto::CMD_GAME, 1, 0,
         [](Harness& h, std::shared_ptr<void>& keep) -> std::function<void()> {
             auto f = std::make_shared<GameFixture>(h);
             keep = f;
             CGame* g = f->dialog.get();
             EXPECT_TRUE(waitUntil([g] { return g->listControl()->topLevelItemCount() == 3 && !g->waiting(); }));
             return [g] {
                 g->OnCloseGame();
                 EXPECT_FALSE(g->waiting());
             };
         }},
        {"LidarXY.Json", proto::CMD_LIDAR, 11, lidar::LIDAR_OP_QUERY_MODELS,
         [](Harness& h, std::shared_ptr<void>& keep) -> std::function<void()> {
             auto f = std::make_shared<WizardFixture>(h);
             keep = f;
             CLidarWizard* w = f->wizard.get();
             EXPECT_TRUE(waitUntil([w] { return w->selectPage()->lidars().size() == 1; }));
             return [w] { w->PressNext(); };
         }},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.file);
        Harness h;
        ASSERT_TRUE(h.started);
        std::shared_ptr<void> dialog;
        const std::function<void()> press = r.open(h, dialog);
        ASSERT_TRUE(press);
        const auto sent = [&] {
            std::size_t n = 0;
            for (const sim::LogEntry& e : h.requests(r.command))
                n += e.header.param == r.operation ? 1 : 0;
            return n;
        };
        const std::size_t before = sent();
        h.boxes.clear();
        {
            testsupport::SyncCallInPlace refused(testsupport::RefusedSync);
            press();
        }
        const QString path = QDir(h.doc->tempFolder()).filePath(QString::fromLatin1(r.file));
        EXPECT_EQ(h.boxTexts(), QStringList{"Cannot write " + QDir::toNativeSeparators(path) + u'\n' +
                                            qt_error_string(EIO)});
        ASSERT_TRUE(h.sendBehind(r.command, r.behind));
        EXPECT_EQ(sent(), before);
    }
}
