#include "calibration/blanding.h"
#include "tests/calibration/blend_harness.h"
#include "tests/calibration/blend_pages.h"
#include "tests/support/full_disk.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QSlider>
#include <QTemporaryDir>

#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

using namespace Qt::StringLiterals;
using blendtest::Harness;
using blendtest::hex;
using calib::BlendArrangement;
using testsupport::waitUntil;

// `count` channels side by side, each 1,920 x 1,080, blended 240 pixels
// where they meet.
BlendArrangement arrangement(int count)
{
    BlendArrangement a;
    a.channelCount = uint16_t(count);
    a.screenCount = 1;
    a.markerColour = {255, 0, 0};
    for (int i = 0; i < std::min(count, 9); ++i) {
        calib::BlendChannel& c = a.channels[std::size_t(i)];
        c.channel = uint16_t(i);
        c.bandLeft = i == 0 ? 0 : 240;
        c.bandRight = i == count - 1 ? 0 : 240;
        c.bandTop = c.bandBottom = 0;
    }
    return a;
}

struct Page {
    explicit Page(Harness& h, int channels = 2)
        : page(h.home.path() + u"/player"_s, h.doc->titlePrefix()), wizard(h.doc->titlePrefix(), &page, nullptr)
    {
        page.LoadChannelConfig(arrangement(channels));
    }
    CBlanding page;
    blendtest::WizardStandIn wizard;
};

std::map<uint8_t, QByteArray> ramps(Harness& h)
{
    return h.state([](sim::BlendPlayerState& s) { return s.rampFiles; });
}

std::vector<uint8_t> subCodes(Harness& h)
{
    return h.state([](sim::BlendPlayerState& s) { return s.projectorDataSubCodes; });
}

TEST(BlendingPage, GammaEditSendsTheChannelsRampFile)
{
    Harness h;
    Page p(h);
    p.page.OnChannelChange(0);
    p.page.OnEdge(calib::kBlendRight);
    EXPECT_TRUE(p.page.findChild<QSlider*>(u"2359"_s)->isVisibleTo(&p.page));
    p.page.OnGammaReleased(150);
    EXPECT_TRUE(p.page.busy());
    EXPECT_EQ(p.page.statusText(), u"Adjustment..."_s);
    ASSERT_TRUE(waitUntil([&] { return !p.page.busy(); }));
    EXPECT_EQ(p.page.statusText(), u"The adjustment is completed and the operation can be continued."_s);
    EXPECT_EQ(subCodes(h), std::vector<uint8_t>{0x40});
    const QByteArray expected = calib::PackRamps(calib::BuildGammaRamps(p.page.graph(), p.page.gamma(), 0, 1));
    EXPECT_EQ(ramps(h)[0x40], expected);
    EXPECT_EQ(testsupport::readFile(h.home.path() + u"/player/ProjectorData/Projector0H.dat"_s), expected);
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(p.page.gamma().at(0, calib::GammaTable::kRight, c), 150);
    EXPECT_EQ(p.page.sequence(), 1);

    // The second channel's vertical file carries its channel number + 9.
    p.page.OnChannelChange(1);
    p.page.OnEdge(calib::kBlendTop);
    p.page.OnLuminanceReleased(0);
    ASSERT_TRUE(waitUntil([&] { return !p.page.busy(); }));
    EXPECT_EQ(subCodes(h).back(), 0x40 + 1 + 9);
    const QByteArray half = ramps(h)[0x4A];
    ASSERT_EQ(half.size(), 12288);
    EXPECT_EQ(half.left(4), hex("00044000"));  // 1,024 = half of full light in every colour
}

TEST(BlendingPage, SynchronisedChannelsChangeButOnlyTheCurrentIsSent)
{
    Harness h;
    Page p(h, 3);
    p.page.OnChannelChange(0);
    p.page.OnEdge(calib::kBlendRight);
    // Channel 2's left and right bands are as wide as channel 1's right band;
    // channel 1's own left band is 0 and stays disabled.
    EXPECT_TRUE(p.page.syncBox(calib::kBlendLeft, 1)->isEnabled());
    EXPECT_TRUE(p.page.syncBox(calib::kBlendRight, 1)->isEnabled());
    EXPECT_FALSE(p.page.syncBox(calib::kBlendLeft, 0)->isEnabled());
    EXPECT_FALSE(p.page.syncBox(calib::kBlendRight, 2)->isEnabled());
    p.page.OnSyncAll(true);
    EXPECT_TRUE(p.page.syncBox(calib::kBlendLeft, 2)->isChecked());
    EXPECT_FALSE(p.page.syncBox(calib::kBlendRight, 2)->isChecked());
    p.page.OnSyncInvert(true);
    EXPECT_FALSE(p.page.syncBox(calib::kBlendLeft, 2)->isChecked());
    p.page.syncBox(calib::kBlendLeft, 1)->setChecked(true);
    p.page.OnGammaReleased(250);
    ASSERT_TRUE(waitUntil([&] { return !p.page.busy(); }));
    EXPECT_EQ(subCodes(h), std::vector<uint8_t>{0x40});
    EXPECT_EQ(p.page.gamma().at(1, calib::GammaTable::kLeft, calib::GammaTable::kRed), 250);
    EXPECT_EQ(p.page.gamma().at(1, calib::GammaTable::kRight, calib::GammaTable::kRed), 200);
    EXPECT_EQ(p.page.gamma().at(2, calib::GammaTable::kLeft, calib::GammaTable::kRed), 200);
}

TEST(BlendingPage, ChannelSelectionIsCappedAtTheLastEntry)
{
    const struct {
        int channels, select, expected, count;
    } rows[] = {
        {2, 1, 1, 2},
        {2, 2, 1, 2},
        {9, 9, 8, 9},  // never past the nine gamma and curve tables
        {9, -1, 0, 9},
    };
    for (const auto& r : rows) {
        Harness h;
        Page p(h, r.channels);
        p.page.OnChannelChange(r.select);
        EXPECT_EQ(p.page.currentChannel(), r.expected);
        EXPECT_EQ(p.page.graph().data().currentChannel, r.expected);
        EXPECT_EQ(p.page.findChild<QComboBox*>(u"2301"_s)->count(), r.count);
    }
    Harness h;
    Page p(h, 3);
    p.page.LoadChannelConfig(arrangement(10));  // ten: the model keeps three
    EXPECT_EQ(p.page.graph().data().channelCount, 3);
    EXPECT_EQ(p.page.findChild<QComboBox*>(u"2301"_s)->itemText(2), u"Channel3-1 Screen"_s);
}

TEST(BlendingPage, OnePlayerPerChannelSendsToThatPlayerOnly)
{
    Harness h;
    Page p(h, 2);
    p.page.players = {SendTarget{h.player->options().address, {}, h.player->tcpPort(), 0}};
    p.page.OnChannelChange(0);
    p.page.OnEdge(calib::kBlendRight);
    p.page.OnGammaReleased(120);
    ASSERT_TRUE(waitUntil([&] { return !p.page.busy(); }));
    EXPECT_EQ(subCodes(h), std::vector<uint8_t>{0x40});
    EXPECT_TRUE(QFile::exists(h.home.path() + u"/player/ProjectorData/Projector0H.dat"_s));
    // The list holds no player for the second channel: nothing goes anywhere.
    p.page.OnChannelChange(1);
    p.page.OnEdge(calib::kBlendLeft);
    const std::size_t before = h.sent.size();
    p.page.OnGammaReleased(130);
    EXPECT_FALSE(p.page.busy());
    EXPECT_EQ(h.sent.size(), before);
}

TEST(BlendingPage, AChannelWithoutADeviceSendsNothingAndTheNextFindsItsOwn)
{
    // One entry per cell, the middle one without a device (its box left
    // unchecked): its ramps reach no player, never the next channel's.
    Harness h;
    Page p(h, 3);
    const SendTarget player{h.player->options().address, {}, h.player->tcpPort(), 0};
    p.page.players = {player, SendTarget{}, player};
    const struct {
        int channel;
        std::size_t sent;
    } rows[] = {{1, 0}, {2, 1}};
    for (const auto& r : rows) {
        p.page.OnChannelChange(r.channel);
        p.page.OnEdge(calib::kBlendLeft);
        const std::size_t before = h.sent.size();
        p.page.OnGammaReleased(130 + r.channel);
        ASSERT_TRUE(waitUntil([&] { return !p.page.busy(); }));
        ASSERT_EQ(h.sent.size() - before, r.sent) << r.channel;
        if (r.sent) {
            EXPECT_EQ(h.sent.back().targets.size(), 1u);
        }
    }
}

TEST(BlendingPage, AdjustStartThenWhiteAndResetKey)
{
    Harness h;
    h.player->registerCommand(proto::CMD_ADJUST_MODE, [](sim::PlayerSim&, const sim::Request& r) {
        sim::Reply reply;
        reply.header.command = r.header.command;
        reply.header.subCode = r.header.subCode;
        return std::vector<sim::Reply>{reply};
    });
    Page p(h);
    EXPECT_FALSE(p.page.inAdjustment());
    p.page.SendAdjustStart();
    EXPECT_TRUE(p.page.inAdjustment());
    ASSERT_TRUE(waitUntil([&] { return !p.page.busy(); }));
    ASSERT_EQ(h.state([](auto& s) { return s.testPatterns.size(); }), 1u);
    EXPECT_EQ(h.state([](auto& s) { return s.testPatterns[0]; }), hex("01000000 01000000 FFFFFF00"));
    EXPECT_EQ(h.requests(proto::CMD_PROJECTOR_DATA)[0].header.sequence, 1);

    p.page.gamma().values.fill(150);
    EXPECT_TRUE(p.page.OnKeyDown(CBlanding::kR, false, false));
    ASSERT_TRUE(waitUntil([&] { return !p.page.busy(); }));
    for (uint16_t v : p.page.gamma().values)
        ASSERT_EQ(v, 200);
    EXPECT_EQ(p.page.findChild<QLabel*>(u"2360"_s)->text(), u"2.00"_s);
    EXPECT_EQ(subCodes(h).back(), 0x40);

    p.page.SendAdjustEnd();
    ASSERT_TRUE(waitUntil([&] { return !p.page.busy(); }));
    EXPECT_EQ(h.requests(proto::CMD_ADJUST_MODE).back().header.subCode, 1);
    EXPECT_FALSE(p.page.inAdjustment());
    EXPECT_EQ(h.state([](auto& s) { return s.testPatterns.size(); }), 1u);  // no white after leaving
}

TEST(BlendingPage, SilentOrRefusingPlayerDoesNotHoldThePage)
{
    Harness h;
    h.state([](sim::BlendPlayerState& s) { s.silentProjectorData = 1; });
    Page p(h);
    p.page.OnGammaReleased(180);
    ASSERT_TRUE(h.player->waitForRequests(proto::CMD_PROJECTOR_DATA, 1, 30000));
    waitUntil([] { return false; }, 100);
    EXPECT_TRUE(p.page.busy());
    for (int i = 0; i < CBlanding::kBusyTicks; ++i)
        p.page.OnKeyTimer();
    EXPECT_FALSE(p.page.busy());

    h.player->setFault(sim::Fault::NotSupported, 0, proto::CMD_PROJECTOR_DATA);
    testsupport::MessageBoxRecorder boxes;
    p.page.OnGammaReleased(190);
    ASSERT_TRUE(waitUntil([&] { return !p.page.busy(); }));
    EXPECT_EQ(p.wizard.values.back(), 0);
}

TEST(BlendingPage, HeldArrowAcceleratesAndRepeatReleasesAreIgnored)
{
    Harness h;
    Page p(h);
    p.page.OnChannelChange(0);
    p.page.OnEdge(calib::kBlendRight);
    p.page.OnMode(CBlanding::kCustomLine);
    EXPECT_FALSE(p.page.findChild<QSlider*>(u"2359"_s)->isVisibleTo(&p.page));
    EXPECT_TRUE(p.page.OnKeyDown(CBlanding::kRight, false, false));  // selects the first point, sends the marker
    ASSERT_TRUE(waitUntil([&] { return !p.page.busy(); }));
    ASSERT_TRUE(p.page.graph().HasSelection());
    EXPECT_EQ(h.state([](auto& s) { return s.testPatterns.back(); }),
              hex("02000000 0000FF00 90060000 00000000"));  // x = 1920 - 240 + floor(240 / 135) x 0

    QKeyEvent press(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QCoreApplication::sendEvent(&p.page, &press);
    const int steps[] = {1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10};
    for (int expected : steps) {
        p.page.OnKeyTimer();
        ASSERT_EQ(int(p.page.graph().step), expected);
    }
    EXPECT_EQ(p.page.keyTicks(), 18);
    QKeyEvent repeatRelease(QEvent::KeyRelease, Qt::Key_Up, Qt::NoModifier, QString(), true);
    QCoreApplication::sendEvent(&p.page, &repeatRelease);
    EXPECT_EQ(p.page.keyTicks(), 18);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Up, Qt::NoModifier);
    QCoreApplication::sendEvent(&p.page, &release);
    EXPECT_EQ(p.page.keyTicks(), 0);
    EXPECT_EQ(p.page.graph().step, 1u);
    p.page.OnKeyTimer();
    EXPECT_EQ(p.page.keyTicks(), 0);

    // Ctrl+Shift+Tab and Esc ask the wizard; Enter is swallowed.
    std::vector<int> commands;
    p.page.sendWizardCommand = [&](int c) { commands.push_back(c); };
    EXPECT_TRUE(p.page.OnKeyDown(CBlanding::kTab, true, true));
    EXPECT_TRUE(p.page.OnKeyDown(CBlanding::kTab, false, false));
    EXPECT_TRUE(p.page.OnKeyDown(CBlanding::kEsc, false, false));
    EXPECT_TRUE(p.page.OnKeyDown(CBlanding::kEnter, false, false));
    EXPECT_FALSE(p.page.OnKeyDown('A', false, false));
    EXPECT_EQ(commands, (std::vector<int>{3002, 2}));
}

TEST(BlendingPage, KeyCodes)
{
    const struct {
        int key;
        Qt::KeyboardModifiers modifiers;
        int code;
    } rows[] = {
        {Qt::Key_Up, Qt::NoModifier, CBlanding::kUp},
        {Qt::Key_Plus, Qt::KeypadModifier, CBlanding::kPadPlus},
        {Qt::Key_Minus, Qt::KeypadModifier, CBlanding::kPadMinus},
        {Qt::Key_Equal, Qt::NoModifier, CBlanding::kPlus},
        {Qt::Key_Minus, Qt::NoModifier, CBlanding::kMinus},
        {Qt::Key_Backtab, Qt::ShiftModifier | Qt::ControlModifier, CBlanding::kTab},
        {Qt::Key_R, Qt::NoModifier, CBlanding::kR},
        {Qt::Key_A, Qt::NoModifier, 0},
    };
    for (const auto& r : rows)
        EXPECT_EQ(CBlanding::KeyCode(r.key, r.modifiers), r.code) << r.key;
}

TEST(BlendingPage, MouseEditsTheCurveAndSendsIt)
{
    Harness h;
    Page p(h);
    p.page.OnChannelChange(0);
    p.page.OnEdge(calib::kBlendRight);
    p.page.OnMode(CBlanding::kCustomLine);
    calib::BlendCurve& c = p.page.graph().currentCurve();
    int visible = -1, hidden = -1;
    for (int i = 0; i < calib::BlendCurve::kPoints; ++i) {
        if (c.points[std::size_t(i)].visible && visible < 0 && i > 0)
            visible = i;
        if (!c.points[std::size_t(i)].visible && hidden < 0)
            hidden = i;
    }
    ASSERT_GE(visible, 0);
    auto centre = [&](int i) {
        const auto& pt = c.points[std::size_t(i)];
        return QPoint((pt.left + pt.right) / 2, (pt.top + pt.bottom) / 2);
    };
    if (hidden >= 0) {
        p.page.OnCanvasPress(centre(hidden).x(), centre(hidden).y());
        EXPECT_FALSE(p.page.graph().HasSelection());
    }
    const QPoint at = centre(visible);
    p.page.OnCanvasPress(at.x(), at.y());
    ASSERT_TRUE(p.page.graph().HasSelection());
    EXPECT_EQ(p.page.graph().FirstSelected(), visible);
    ASSERT_TRUE(waitUntil([&] { return !p.page.busy(); }));  // the marker's reply
    const int top = c.points[std::size_t(visible)].top;
    p.page.OnCanvasMove(at.x(), at.y() + 30);
    EXPECT_EQ(c.points[std::size_t(visible)].top, top + 30);
    p.page.OnCanvasRelease();
    ASSERT_TRUE(waitUntil([&] { return !p.page.busy(); }));
    EXPECT_EQ(subCodes(h).back(), 0x40);
    EXPECT_EQ(ramps(h)[0x40], calib::PackRamps(calib::BuildCurveRamps(p.page.graph(), 0, 1)));
}

TEST(BlendingPage, Screenshots)
{
    if (!blendtest::screenshotsTaken())
        GTEST_SKIP() << "Qt's pooled image threads are not followed by the thread checker";
    for (unsigned language : {9u, 4u}) {
        Harness h(language);
        Page p(h, 3);
        p.page.OnChannelChange(1);
        p.page.OnEdge(calib::kBlendLeft);
        if (language == 4) {
            p.page.OnMode(CBlanding::kCustomLine);
            p.page.OnKeyDown(CBlanding::kRight, false, false);
        }
        p.page.resize(p.page.sizeHint());
        EXPECT_TRUE(p.page.grab().save(blendtest::screenshotPath(language == 4 ? u"blending_zh"_s : u"blending_en"_s)));
    }
}

}  // namespace

namespace {

TEST(BlendingPage, GammaFileIsReadOnlyWhenWholeAndSavedByTheSaveStep)
{
    const struct {
        int size;
        uint16_t expected;
    } rows[] = {{288, 150}, {287, 200}, {289, 200}, {0, 200}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.size);
        Harness h;
        const QString folder = h.home.path() + u"/player"_s;
        QByteArray bytes;
        for (int i = 0; i < r.size / 2; ++i)
            bytes += hex("9600");
        bytes = bytes.left(r.size);
        if (r.size % 2)
            bytes += '\0';
        if (r.size) {
            ASSERT_TRUE(testsupport::writeFile(folder + u"/config/Gamma.QVE"_s, bytes));
        }
        Page p(h);
        EXPECT_EQ(p.page.gamma().at(1, calib::GammaTable::kTop, calib::GammaTable::kBlue), r.expected);
    }
    Harness h;
    Page p(h);
    p.page.gamma().at(2, calib::GammaTable::kRight, calib::GammaTable::kAll) = 111;
    ASSERT_TRUE(p.page.SaveFiles());
    const QByteArray gamma = testsupport::readFile(h.home.path() + u"/player/config/Gamma.QVE"_s);
    ASSERT_EQ(gamma.size(), 288);
    EXPECT_EQ(proto::getU16(reinterpret_cast<const uint8_t*>(gamma.constData()) + 2 * 32 + 16 + 6), 111);
    // The curves were not touched: their file is left as it was (none).
    EXPECT_FALSE(QFileInfo::exists(h.home.path() + u"/player/config/ProjectorGraph.QVE"_s));
    p.page.graph().data().channels[0].luminance = 0.5;
    ASSERT_TRUE(p.page.SaveFiles());
    EXPECT_EQ(testsupport::readFile(h.home.path() + u"/player/config/ProjectorGraph.QVE"_s).size(),
              qsizetype(calib::BlendGraphData::kSize));
}

// A file of the page the disk refuses: the file and the reason are said, the
// file is not replaced, nothing goes to the player, and the next save (or
// send) writes it.
TEST(BlendingPage, ARefusedWriteSaysWhichFileAndWhyAndSendsNothing)
{
    const struct {
        const char* file;  // below the player folder
        std::function<void(CBlanding&)> edit;
        std::function<bool(CBlanding&)> save;
        int boxesBefore;  // the Save button asks first
    } rows[] = {
        {"config/Gamma.QVE",
         [](CBlanding& p) { p.gamma().at(2, calib::GammaTable::kRight, calib::GammaTable::kAll) = 111; },
         [](CBlanding& p) { return p.SaveFiles(); }, 0},
        {"config/ProjectorGraph.QVE", [](CBlanding& p) { p.graph().data().channels[0].luminance = 0.5; },
         [](CBlanding& p) { return p.SaveFiles(); }, 0},
        {"config/ProjectorGraph.QVE", [](CBlanding&) {},
         [](CBlanding& p) {
             p.OnSave();
             return p.busy();
         },
         1},
        {"ProjectorData/Projector0H.dat",
         [](CBlanding& p) {
             p.OnChannelChange(0);
             p.OnEdge(calib::kBlendRight);
         },
         [](CBlanding& p) {
             p.OnPreview();
             return p.busy();
         },
         0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.file);
        Harness h(9, platform::MsgResult::Yes);
        Page p(h);
        const QString path = h.home.path() + u"/player/"_s + QString::fromLatin1(r.file);
        r.edit(p.page);
        {
            testsupport::SyncCallInPlace refused(testsupport::RefusedSync);
            EXPECT_FALSE(r.save(p.page));
        }
        const QStringList texts = h.boxes.texts();
        ASSERT_EQ(texts.size(), r.boxesBefore + 1) << texts.join(u'|').toStdString();
        EXPECT_EQ(texts.last(), u"Cannot write "_s + QDir::toNativeSeparators(path) + u'\n' + qt_error_string(EIO));
        EXPECT_FALSE(QFileInfo::exists(path));
        ASSERT_TRUE(h.sendBehind(proto::CMD_CASCADE_QUERY));  // a query no window here takes
        EXPECT_TRUE(subCodes(h).empty());
        EXPECT_TRUE(r.save(p.page));
        EXPECT_TRUE(QFileInfo::exists(path));
        ASSERT_TRUE(waitUntil([&] { return !p.page.busy(); }));
    }
}

TEST(BlendingPage, SaveAsksFirstAndPreviewSends)
{
    for (auto answer : {platform::MsgResult::No, platform::MsgResult::Yes}) {
        Harness h(9, answer);
        Page p(h);
        p.page.OnSave();
        EXPECT_EQ(h.boxes.texts(),
                  QStringList{u"Saving channel configuration data may cause the player to fail to display normally, does it continue?"_s});
        EXPECT_EQ(QFile::exists(h.home.path() + u"/player/config/ProjectorGraph.QVE"_s), answer == platform::MsgResult::Yes);
        EXPECT_EQ(p.page.busy(), answer == platform::MsgResult::Yes);
        ASSERT_TRUE(waitUntil([&] { return !p.page.busy(); }));
        p.page.OnPreview();
        ASSERT_TRUE(waitUntil([&] { return !p.page.busy(); }));
        EXPECT_EQ(subCodes(h).size(), answer == platform::MsgResult::Yes ? 2u : 1u);
    }
}

}  // namespace

namespace {

TEST(BlendingPage, WithoutAPlayerFolderNothingIsWritten)
{
    Harness h;
    const QString cwd = QDir::currentPath();
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    {
        CBlanding page(QString(), h.doc->titlePrefix());
        page.LoadChannelConfig(arrangement(2));
        page.OnGammaReleased(150);
        EXPECT_FALSE(page.busy());
        EXPECT_FALSE(page.SaveFiles());
        EXPECT_EQ(h.boxes.texts(), QStringList{u"Does the data file exist?"_s});
    }
    QDir::setCurrent(cwd);
    EXPECT_EQ(QDir(work.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    ASSERT_TRUE(h.sendBehind(proto::CMD_CASCADE_QUERY));  // a query no window here takes
    EXPECT_TRUE(h.requests(proto::CMD_PROJECTOR_DATA).empty());
}

}  // namespace
