// The warp wizard driven headless: the request chain of step 2, replies,
// the quit questions, step-3 routing, screenshots of each step; and the
// whole road end to end against a simulated player over loopback.

#include "calibration/calibration_feature.h"
#include "calibration/warp_main.h"
#include "calibration/warp_param_page.h"
#include "core/config_exchange.h"
#include "core/document.h"
#include "core/editor_hooks.h"
#include "platform/app_identity.h"
#include "platform/messages.h"
#include "player/calibration_commands.h"
#include "player/config_store.h"
#include "player/player_sim.h"
#include "tests/support/frame_harness.h"
#include "tests/support/full_disk.h"
#include "tests/support/test_support.h"
#include "warp_session.h"
#include "transport/protocol.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <QLabel>
#include <QPushButton>
#include <QApplication>
#include <QRadioButton>
#include <QTimer>
#include <QDialog>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

using namespace calib;
using platform::LPARAM;
using platform::WPARAM;
using testsupport::waitUntil;
using warptest::kTitle;

namespace {

const QString kPrefix = QStringLiteral("veluna-");

struct Packet {
    proto::PlayerPacketHeader h;
    int payload = 0;
    std::vector<SendTarget> targets;
};

// The frame keeps each request's header, payload size and targets.
struct Frame {
    Frame()
        : requests(kTitle, [this](const SendRequest& r) {
              Packet p;
              const auto* d = reinterpret_cast<const uint8_t*>(r.data.constData());
              p.h.command = d[4];
              p.h.subCode = d[5];
              p.h.sequence = proto::getU16(d + 6);
              p.h.param = proto::getU16(d + 8);
              p.h.arg = proto::getU16(d + 10);
              p.payload = int(r.data.size()) - 16;
              p.targets = r.targets;
              packets.push_back(p);
          })
    {
    }
    std::vector<std::pair<int, int>> codes() const
    {
        std::vector<std::pair<int, int>> out;
        for (const Packet& p : packets)
            out.emplace_back(p.h.command, p.h.subCode);
        return out;
    }
    testsupport::RequestFrame requests;
    std::vector<Packet> packets;
};

// A step-3 page that records what reaches it.
struct FakeTab : WizardTabPage {
    explicit FakeTab(QWidget* parent) : w(new QWidget(parent)) {}
    QWidget* widget() override { return w; }
    void setTargets(const std::vector<SendTarget>&, bool) override {}
    uint16_t sequence() const override { return seq; }
    void setSequence(uint16_t s) override { seq = s; }
    bool awaitingReply() const override { return waiting; }
    void onPlayerReply(uint8_t c, uint8_t s) override
    {
        replies.emplace_back(c, s);
        waiting = false;
    }
    bool inAdjustment() const override { return adjusting; }
    void enterAdjustment() override { adjusting = true; }
    void leaveAdjustment() override { ++leaves; }
    bool onKey(int, Qt::KeyboardModifiers) override { return false; }
    void loadArrangement(const BlendArrangement& a) override { channels = a.channelCount; }
    QWidget* w;
    uint16_t seq = 0;
    bool waiting = false, adjusting = false;
    int leaves = 0, channels = 0;
    std::vector<std::pair<int, int>> replies;
};

struct Bench {
    explicit Bench(unsigned language = 9, platform::MsgResult answer = platform::MsgResult::Yes,
                   uint16_t version = 0x2600, const QByteArray& warpFile = QByteArray())
        : lang(language), boxes(answer)
    {
        if (!warpFile.isEmpty())
            testsupport::writeFile(home.path() + "/127.0.0.2-A1B2C3D4E5F6-5005/config/Warp.QVE", warpFile);
        setBlendingPageFactory([this](const WizardTabContext& c) {
            auto p = std::make_unique<FakeTab>(c.parent);
            blending = p.get();
            return p;
        });
        setColourPageFactory([this](const WizardTabContext& c) {
            auto p = std::make_unique<FakeTab>(c.parent);
            colours = p.get();
            return p;
        });
        CWarpMain::Inputs in;
        in.prefix = kPrefix;
        in.playerFolder = home.path() + "/127.0.0.2-A1B2C3D4E5F6-5005/";
        in.channelCount = 4;
        in.version = version;
        in.current = {QStringLiteral("127.0.0.2"), QString(), 5005, 0};
        wizard = std::make_unique<CWarpMain>(in);
        // Shown windows paint on Qt's own threads, which the thread checker
        // cannot follow: that build drives the wizard unshown.
        if (!testsupport::kUnderThreadChecker)
            wizard->show();
    }
    ~Bench()
    {
        wizard.reset();
        setBlendingPageFactory({});
        setColourPageFactory({});
    }
    template <class W>
    W* child(const QString& id) { return wizard->findChild<W*>(id); }
    void reply(int command, int status)
    {
        platform::sendMessage(wizard.get(), platform::WM_BLEND_WIZARD_REPLY, 0,
                              LPARAM(new uint16_t(uint16_t(command * 256 + status))));
    }
    // Answers every request of the chain until the page rests.
    void answerChain(std::size_t& seen, int limit = 20)
    {
        while (seen < frame.packets.size() && limit-- > 0) {
            const Packet p = frame.packets[seen++];
            reply(p.h.command, p.h.subCode);
            QCoreApplication::processEvents();
        }
    }
    void twoChannels()
    {
        child<QComboBox>("3103")->setCurrentIndex(1);
        child<QCheckBox>("3140")->setChecked(true);
        child<QCheckBox>("3141")->setChecked(true);
    }
    testsupport::TempHome home;
    testsupport::ScopedLanguage lang;
    testsupport::MessageBoxRecorder boxes;
    Frame frame;
    FakeTab* blending = nullptr;
    FakeTab* colours = nullptr;
    std::unique_ptr<CWarpMain> wizard;
};

using Codes = std::vector<std::pair<int, int>>;

}  // namespace

TEST(WarpWizard, StepOneToTwoRunsTheRequestChainAndChannelSwitchSendsTheMap)
{
    Bench b;
    EXPECT_EQ(b.wizard->windowTitle(), kPrefix + "Edge blending wizard");
    EXPECT_TRUE(testsupport::saveScreenshot(*b.wizard, "warp_wizard_step1"));
    b.twoChannels();
    b.wizard->OnNext();
    ASSERT_EQ(b.wizard->step(), 2) << b.boxes.texts().join("|").toStdString();
    EXPECT_EQ(testsupport::readFile(b.home.path() + "/127.0.0.2-A1B2C3D4E5F6-5005/config/Warp.QVE").size(), 6515);
    std::size_t seen = 0;
    b.answerChain(seen);
    EXPECT_EQ(b.frame.codes(), (Codes{{6, 1}, {12, 0}, {13, 0}, {12, 3}, {12, 2}, {12, 2}}));
    EXPECT_FALSE(b.wizard->geometricPage().busy());
    EXPECT_EQ(b.frame.packets[0].payload, 104);
    EXPECT_EQ(b.frame.packets[0].h.param, 0x3) << "outputs 0 and 1";
    EXPECT_EQ(b.frame.packets[1].payload, 96);
    EXPECT_EQ(b.frame.packets[1].h.param, 1);
    EXPECT_EQ(b.frame.packets[1].h.arg, 2);
    EXPECT_GT(b.frame.packets[4].payload, 10240 + 12) << "point block, then the corrected grid";
    EXPECT_EQ(b.frame.packets[4].h.param, 1);
    EXPECT_EQ(b.frame.packets[5].h.param, 0);
    EXPECT_GT(b.frame.packets[5].h.sequence, b.frame.packets[0].h.sequence) << "the page counts its replies";
    EXPECT_TRUE(testsupport::saveScreenshot(*b.wizard, "warp_wizard_step2"));

    b.wizard->geometricPage().OnNextChannel();
    ASSERT_EQ(b.frame.packets.size(), 7u);
    EXPECT_EQ(b.frame.packets[6].h.command, 2);
    EXPECT_EQ(b.frame.packets[6].h.subCode, 64 + 0);
    EXPECT_EQ(b.frame.packets[6].payload, 8294400);
    b.answerChain(seen);
    EXPECT_EQ(b.wizard->geometricPage().model().currentOutput, 1);
    const Codes all = b.frame.codes();
    const Codes tail(all.begin() + 6, all.end());
    EXPECT_EQ(tail, (Codes{{2, 64}, {12, 3}, {12, 2}}));
    QTest::keyClick(&b.wizard->geometricPage(), Qt::Key_Tab);  // Next Channel: none left
    EXPECT_EQ(b.wizard->geometricPage().status(), "Adjustment completed, save data");
    QTest::keyClick(&b.wizard->geometricPage(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(b.frame.packets.back().h.command, 2) << "Shift+Tab: Previous Channel sends the map";
    b.answerChain(seen);
    EXPECT_EQ(b.wizard->geometricPage().model().currentOutput, 0);

    // Next while a request is out does nothing; the reply lets it through.
    b.wizard->OnNext();
    const std::size_t afterNext = b.frame.packets.size();
    EXPECT_EQ(b.frame.packets.back().h.command, 13);
    b.wizard->OnNext();
    EXPECT_EQ(b.frame.packets.size(), afterNext);
    b.reply(13, 1);
    ASSERT_TRUE(waitUntil([&] { return b.wizard->step() == 3; }));
    ASSERT_NE(b.blending, nullptr);
    EXPECT_EQ(b.blending->channels, 2);
    EXPECT_EQ(b.blending->seq, b.wizard->geometricPage().sequence);
    EXPECT_TRUE(testsupport::saveScreenshot(*b.wizard, "warp_wizard_step3"));

    // Back to step 2: the player is still adjusting, so the chain starts at
    // the blend switch, with the count carried over from step 3.
    b.blending->seq = 40;
    const std::size_t before = b.frame.packets.size();
    b.wizard->OnBack();
    ASSERT_TRUE(waitUntil([&] { return b.wizard->step() == 2; }));
    ASSERT_GT(b.frame.packets.size(), before);
    EXPECT_EQ(b.frame.packets[before].h.command, 13);
    EXPECT_EQ(b.frame.packets[before].h.subCode, 0);
    EXPECT_EQ(b.frame.packets[before].h.sequence, 40);
}

TEST(WarpWizard, QuitQuestionsThenTheForcedOne)
{
    Bench b(9, platform::MsgResult::No);
    for (int i = 0; i < 3; ++i)
        b.wizard->OnQuit();
    b.wizard->OnQuit();
    const QStringList texts = b.boxes.texts();
    ASSERT_EQ(texts.size(), 4);
    EXPECT_EQ(texts[0], "Do you really want to quit the edge blending wizard?");
    EXPECT_EQ(texts[2], "Do you really want to quit the edge blending wizard?");
    EXPECT_EQ(texts[3], "Forced withdrawal will cause problems to show, will it continue?");
    b.reply(12, 9);  // any reply starts the count again
    EXPECT_EQ(b.wizard->quitCount(), 0u);
    b.wizard->OnQuit();
    EXPECT_EQ(b.boxes.texts().last(), "Do you really want to quit the edge blending wizard?");
    EXPECT_FALSE(b.wizard->closed());
}

// An edited grid the disk refuses: the file and the reason are said, and the
// edit stays marked, so the next save writes it.
TEST(WarpWizard, ARefusedGridSaveSaysWhichFileAndWhy)
{
    Bench b;
    b.twoChannels();
    b.wizard->OnNext();
    std::size_t seen = 0;
    b.answerChain(seen);
    CWarpGeometricPage& g = b.wizard->geometricPage();
    g.model().corrected(0).at(0, 0).x += 3;
    const QString path = b.home.path() + "/127.0.0.2-A1B2C3D4E5F6-5005/config/JunctionPoint.QVE";
    b.boxes.clear();
    {
        testsupport::SyncCallInPlace refused(testsupport::RefusedSync);
        EXPECT_FALSE(g.SaveJunctionPoints());
    }
    EXPECT_EQ(b.boxes.texts(), QStringList{"Cannot write " + QDir::toNativeSeparators(path) + u'\n' +
                                           qt_error_string(EIO)});
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_TRUE(g.SaveJunctionPoints());
    EXPECT_TRUE(QFileInfo::exists(path));
}

TEST(WarpWizard, QuitFromStepTwoLeavesAdjustmentBeforeClosing)
{
    Bench b;
    b.twoChannels();
    b.wizard->OnNext();
    std::size_t seen = 0;
    b.answerChain(seen);
    ASSERT_TRUE(b.wizard->geometricPage().inAdjustment());
    b.wizard->geometricPage().model().corrected(0).at(0, 0).x += 3;  // an edit, so the grids are saved
    b.wizard->OnQuit();  // answered Yes
    EXPECT_FALSE(b.wizard->closed()) << "waits for the player";
    EXPECT_TRUE(QFileInfo::exists(b.home.path() + "/127.0.0.2-A1B2C3D4E5F6-5005/config/JunctionPoint.QVE"));
    b.answerChain(seen);
    const Codes codes = b.frame.codes();
    const Codes tail(codes.end() - 2, codes.end());
    EXPECT_EQ(tail, (Codes{{13, 1}, {12, 1}}));
    ASSERT_TRUE(waitUntil([&] { return b.wizard->closed(); }));
}

TEST(WarpWizard, StepThreeRepliesGoToThePageThatAskedAndQuitLeavesEveryAdjustment)
{
    Bench b;
    b.twoChannels();
    b.child<QCheckBox>("3139")->setChecked(true);  // straight to step 3
    b.wizard->OnNext();
    ASSERT_EQ(b.wizard->step(), 3);
    ASSERT_TRUE(b.blending->adjusting);
    EXPECT_TRUE(b.frame.packets.empty()) << "the sheet itself sends nothing";

    // The colour tab shows, but the blending page has the request out.
    b.wizard->setupPage().OnTabChange(1);
    b.blending->waiting = true;
    b.reply(4, 0);
    ASSERT_EQ(b.blending->replies.size(), 1u);
    EXPECT_TRUE(b.colours->replies.empty());
    b.colours->waiting = true;
    b.reply(4, 0);
    EXPECT_EQ(b.colours->replies.size(), 1u);
    b.reply(7, 0);  // not a step-3 command
    EXPECT_EQ(b.blending->replies.size() + b.colours->replies.size(), 2u);

    b.wizard->OnQuit();
    EXPECT_EQ(b.blending->leaves, 1) << "the blending page leaves although the colour tab shows";
    EXPECT_TRUE(b.wizard->closed());
}

TEST(WarpWizard, StepMessagesOutOfRangeAreIgnoredAndChineseTexts)
{
    Bench b(4);
    EXPECT_EQ(b.wizard->windowTitle(), kPrefix + QStringLiteral("融合带校正向导"));
    platform::sendMessage(b.wizard.get(), platform::WM_WARP_WIZARD_STEP, 0, LPARAM(new uint16_t(5)));
    platform::sendMessage(b.wizard.get(), platform::WM_WARP_WIZARD_STEP, 0, 0);
    EXPECT_EQ(b.wizard->step(), 1);
    b.wizard->OnNext();  // no channel checked
    EXPECT_EQ(b.boxes.texts().last(), QStringLiteral("至少校正一个通道！"));
    EXPECT_EQ(b.wizard->step(), 1);
    EXPECT_TRUE(testsupport::saveScreenshot(*b.wizard, "warp_wizard_step1_zh"));
    b.child<QCheckBox>("3140")->setChecked(true);
    b.wizard->OnNext();
    ASSERT_EQ(b.wizard->step(), 2);
    std::size_t seen = 0;
    b.answerChain(seen);
    EXPECT_EQ(b.wizard->geometricPage().status(), QStringLiteral("调整完成,可以继续操作"));
    EXPECT_TRUE(testsupport::saveScreenshot(*b.wizard, "warp_wizard_step2_zh"));
}

TEST(WarpParamPage, BandNumbersStayClearOfEachOtherAndOfTheLines)
{
    // Two sans fonts of different metrics, loaded from their files, and the
    // page's own request, whatever this machine resolves "Arial" to: the
    // numbers are placed from the font the painter has.
    struct FontRow {
        const char* name;
        const char* file;  // empty: the page's "Arial" request as it stands
        int points;
        int shownPerCell;  // at least this many numbers in every cell (the usual fonts show all four)
    };
    const FontRow fonts[] = {
        {"DejaVu Sans", "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 7, 4},
        {"Liberation Sans", "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf", 7, 4},
        // Taller than the cells allow for three lines, as Nimbus Sans is.
        {"DejaVu Sans", "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 9, 2},
        {"Arial", "", 7, 0},
    };
    for (const FontRow& f : fonts)
        if (*f.file && !QFileInfo::exists(QString::fromLatin1(f.file)))
            GTEST_SKIP() << f.file << " is missing (scripts/install-deps.sh installs it)";
    for (unsigned language : {9u, 4u}) {
        Bench b(language);
        CWarpParamPage& page = b.wizard->paramPage();
        ScreenLayout widest;
        for (int r = 0; r < 9; ++r)
            for (int c = 0; c < 9; ++c) {
                widest.band(r, c).left = widest.band(r, c).right = 960;
                widest.band(r, c).top = widest.band(r, c).bottom = 540;
            }
        for (const FontRow& f : fonts) {
            SCOPED_TRACE(std::string(f.name) + " " + std::to_string(f.points));
            if (*f.file) {
                const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(f.file));
                ASSERT_GE(id, 0);
                ASSERT_TRUE(QFontDatabase::applicationFontFamilies(id).contains(QString::fromLatin1(f.name)));
            }
            QFont font(QString::fromLatin1(f.name));
            font.setPointSize(f.points);
            if (*f.file) {
                ASSERT_EQ(QFontInfo(font).family(), QString::fromLatin1(f.name));
            }
            QImage canvas(page.size().expandedTo(QSize(1300, 500)), QImage::Format_RGB32);
            canvas.fill(Qt::white);
            QPainter p(&canvas);
            const auto drawn = DrawBandGrid(p, font, page.gridArea(0), widest, 9, 9);
            ASSERT_EQ(drawn.size(), 81u);
            // What is drawn, not where the page says it draws: the same grid
            // without numbers, so that every pixel that differs is a number's
            // ink; and where Qt lays each number out in its rectangle.
            QImage lines(canvas.size(), QImage::Format_RGB32);
            lines.fill(Qt::white);
            QPainter linePainter(&lines);
            linePainter.setPen(Qt::black);
            p.setFont(font);
            const QString texts[4] = {QStringLiteral("960"), QStringLiteral("540"), QStringLiteral("960"),
                                      QStringLiteral("540")};  // left, top, right, bottom
            struct Label {
                QRect placed;  // the number's clip
                QRectF laidOut;  // the whole number, as Qt places it there
                QRectF inner;    // its cell, without the lines and the parts it shares
                int ink = 0;
            };
            std::vector<Label> labels;
            std::vector<int> columnsX, rowsY;  // every cell line
            int perCell = 4;
            for (int r = 0; r < 9; ++r)
                for (int c = 0; c < 9; ++c) {
                    const QRect cell = page.cellRect(0, r, c);
                    linePainter.drawRect(cell);
                    columnsX.insert(columnsX.end(), {cell.left(), cell.right()});
                    rowsY.insert(rowsY.end(), {cell.top(), cell.bottom()});
                    // Neighbours overlap by 5 pixels: a shared side's inner 5
                    // are the neighbour's.
                    const QRectF inner(cell.adjusted(c == 0 ? 1 : 6, r == 0 ? 1 : 6, c == 8 ? -1 : -6, r == 8 ? -1 : -6));
                    int shown = 0;
                    for (std::size_t side = 0; side < 4; ++side) {
                        const QRect& l = drawn[std::size_t(r * 9 + c)][side];
                        if (l.isNull())
                            continue;
                        labels.push_back({l, p.boundingRect(QRectF(l), Qt::AlignCenter, texts[side]), inner});
                        ++shown;
                    }
                    perCell = std::min(perCell, shown);
                }
            linePainter.end();
            p.end();
            EXPECT_GE(perCell, f.shownPerCell);
            int stray = 0;
            QPoint firstStray;
            for (int y = 0; y < canvas.height(); ++y) {
                const auto* got = reinterpret_cast<const QRgb*>(canvas.constScanLine(y));
                const auto* bare = reinterpret_cast<const QRgb*>(lines.constScanLine(y));
                for (int x = 0; x < canvas.width(); ++x) {
                    if (got[x] == bare[x])
                        continue;
                    const auto owner = std::find_if(labels.begin(), labels.end(),
                                                    [&](const Label& l) { return l.placed.contains(x, y); });
                    if (owner == labels.end()) {
                        if (stray++ == 0)
                            firstStray = QPoint(x, y);
                        continue;
                    }
                    ++owner->ink;
                }
            }
            EXPECT_EQ(stray, 0) << "ink outside every number's place, first at " << firstStray.x() << ","
                                << firstStray.y();
            // Half a pixel of slack for a number placed at a fraction of one.
            const auto within = [](const QRectF& outer, const QRectF& r) {
                return outer.adjusted(-0.5, -0.5, 0.5, 0.5).contains(r);
            };
            for (std::size_t i = 0; i < labels.size(); ++i) {
                const Label& l = labels[i];
                const QRectF shrunk = l.laidOut.adjusted(0.5, 0.5, -0.5, -0.5);
                EXPECT_GT(l.ink, 0) << i << " is not drawn";
                ASSERT_TRUE(within(QRectF(l.placed), l.laidOut)) << i << " is cut";
                ASSERT_TRUE(within(l.inner, l.laidOut)) << i << " leaves its cell";
                for (std::size_t j = i + 1; j < labels.size(); ++j)
                    ASSERT_FALSE(shrunk.intersects(labels[j].laidOut)) << i << " and " << j;
                // A line at x covers the pixel from x to x + 1.
                for (int x : columnsX)
                    ASSERT_FALSE(shrunk.left() < x + 1 && x < shrunk.right()) << i << " crosses a column line";
                for (int y : rowsY)
                    ASSERT_FALSE(shrunk.top() < y + 1 && y < shrunk.bottom()) << i << " crosses a row line";
            }
        }
        // Two screens of 3 x 3 to look at.
        b.child<QComboBox>("3101")->setCurrentIndex(1);
        for (const char* id : {"3102", "3103", "3104", "3105"})
            b.child<QComboBox>(id)->setCurrentIndex(2);
        EXPECT_TRUE(testsupport::saveScreenshot(*b.wizard, language == 4 ? "warp_wizard_step1_grid_zh" : "warp_wizard_step1_grid"));
    }
}

TEST(WarpParamPage, WidthDialogOpensWithSingleAndLeft)
{
    for (unsigned language : {9u, 4u}) {
        Bench b(language);
        CWarpParamPage& page = b.wizard->paramPage();
        QStringList checked;
        QTimer::singleShot(0, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (!dialog)
                return;
            for (int id = 3701; id <= 3709; ++id)
                if (auto* radio = dialog->findChild<QRadioButton*>(QString::number(id)); radio && radio->isChecked())
                    checked << radio->text();
            static_cast<QDialog*>(dialog)->reject();
        });
        QTest::mouseDClick(&page, Qt::LeftButton, {}, page.cellRect(0, 0, 0).center());
        EXPECT_EQ(checked, language == 4 ? QStringList({"单条", "左部"}) : QStringList({"Single", "Left"}));
    }
}

TEST(WarpGeometricPage, ListsItsShortcutKeysInBothLanguages)
{
    for (unsigned language : {9u, 4u}) {
        Bench b(language);
        auto* keys = b.wizard->geometricPage().findChild<QLabel*>("shortcutKeys");
        ASSERT_TRUE(keys);
        for (const ShortcutKey& k : ShortcutKeys()) {
            EXPECT_TRUE(keys->text().contains(ShortcutKeyName(k, int(language)).toHtmlEscaped())) << k.key;
            EXPECT_TRUE(keys->text().contains(QString::fromUtf8(language == 4 ? k.chinese : k.english))) << k.english;
        }
    }
    // Every key the page reacts to is listed.
    QStringList listed;
    for (const ShortcutKey& k : ShortcutKeys())
        listed << QString::fromUtf8(k.key);
    for (const char* key : {"Tab", "Ctrl+Tab", "Home", "Backspace", "R", "F5", "Esc", ",", "+"})
        EXPECT_TRUE(listed.join(' ').contains(QString::fromLatin1(key))) << key;
}

namespace {

// A document linked to one simulated warp player, and the wizard opened on
// it as the frame opens it, run modally while `operate` plays the operator.
struct WizardOnPlayer {
    warptest::Session session;
    std::unique_ptr<sim::PlayerSim> player =
        testsupport::StartPlayerWithConfigStore(warptest::WarpPlayer(QStringLiteral("127.0.0.2"), 4));
    std::shared_ptr<sim::CalibrationPlayer> calib = player ? sim::calibrationPlayerOf(*player) : nullptr;
    std::unique_ptr<testsupport::LinkedDocument> link =
        player ? std::make_unique<testsupport::LinkedDocument>(kTitle, *player) : nullptr;

    ~WizardOnPlayer()
    {
        core::registerSetupEditor(1, {});
        core::registerSetupEditor(3, {});
        link.reset();
        if (player)
            player->stop();
    }
    bool connected() const { return calib && waitUntil([&] { return link->doc->IsConnected(); }); }
    // Returns once `operate` has run and the wizard has closed.
    bool run(const std::function<void(CWarpMain&)>& operate, int timeoutMs)
    {
        bool done = false;
        const QString caption = link->doc->titlePrefix() + "Edge blending wizard";
        testsupport::WhenWindowOpens driver([&] { return platform::findWindow(caption); },
                                            [&](platform::MessageWindow& w) {
                                                operate(*dynamic_cast<CWarpMain*>(&w));
                                                done = true;
                                            });
        platform::postMessage(link->frame->handle(), platform::WM_OPEN_SETUP_EDITOR, 0, 0);
        const bool closed = waitUntil([&] { return done && platform::findWindow(caption) == nullptr; }, timeoutMs);
        driver.stop();
        return closed;
    }
};

}  // namespace

TEST(WarpWizardEndToEnd, OpenAdjustAndQuitAgainstThePlayer)
{
    // The wizard runs modally here, so it is shown: Qt paints shown windows
    // and posts their events on its own threads and locks, which the thread
    // checker cannot follow. The unshown wizard tests above run under it.
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shows the modal wizard, whose painting the thread checker cannot follow";
    WizardOnPlayer w;
    ASSERT_TRUE(w.connected());
    auto& doc = w.link->doc;
    auto& calib = w.calib;
    ASSERT_EQ(doc->product(), 1);
    auto store = sim::configStoreOf(*w.player);
    // The operator's part, once the wizard is up.
    ASSERT_TRUE(w.run(
        [&](CWarpMain& wizard) {
            wizard.findChild<QComboBox*>("3103")->setCurrentIndex(1);
            wizard.findChild<QCheckBox*>("3140")->setChecked(true);
            wizard.findChild<QCheckBox*>("3141")->setChecked(true);
            // Each step sends a whole pixel map (8 MB): slow under the
            // address checker on a busy machine.
            wizard.OnNext();
            waitUntil([&] { return calib->requests().size() >= 6 && !wizard.geometricPage().busy(); }, 60000);
            wizard.geometricPage().OnNextChannel();
            waitUntil([&] { return calib->requests().size() >= 9 && !wizard.geometricPage().busy(); }, 60000);
            wizard.OnQuit();
        },
        20000));

    Codes codes;
    for (const auto& r : calib->requests())
        codes.emplace_back(r.command, r.subCode);
    std::string seen;
    for (auto [c, s] : codes)
        seen += std::to_string(c) + "/" + std::to_string(s) + " ";
    ASSERT_EQ(codes.size(), 11u) << seen;
    EXPECT_EQ(Codes(codes.begin(), codes.begin() + 9),
              (Codes{{6, 1}, {12, 0}, {13, 0}, {12, 3}, {12, 2}, {12, 2}, {2, 64}, {12, 3}, {12, 2}}));
    EXPECT_EQ(calib->lastPayload(2, 64).size(), 8294400);
    EXPECT_EQ(Codes(codes.end() - 2, codes.end()), (Codes{{13, 1}, {12, 1}}));
    EXPECT_FALSE(calib->inAdjustment());
    // Leaving adjustment mode uploads the settings the wizard wrote.
    ASSERT_TRUE(waitUntil([&] { return store->file(cfgx::kWarpFile).has_value(); }));
    EXPECT_EQ(store->file(cfgx::kWarpFile).value(),
              testsupport::readFile(doc->playerFolder() + "/config/Warp.QVE"));
    // Grids nobody edited are neither written nor pushed over the player's.
    ASSERT_TRUE(waitUntil([&] { return doc->configExchange().mode() != cfgx::ConfigExchange::Upload; }));
    EXPECT_FALSE(store->file(cfgx::kJunctionPointFile).has_value());
}

TEST(WarpWizardEndToEnd, AnArrowKeyOrTheWheelWhileAReplyIsAwaitedDoesNothing)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shows the modal wizard, whose painting the thread checker cannot follow";
    WizardOnPlayer w;
    ASSERT_TRUE(w.connected());
    auto& calib = w.calib;

    // The selected point of the current channel's corrected grid.
    auto selected = [](CWarpGeometricPage& g) {
        const grid::WarpGrid& grid = g.model().corrected(g.model().currentOutput);
        for (std::size_t i = 0; i < grid::WarpGrid::kPoints; ++i)
            if (grid.points()[i].active && grid.points()[i].selected)
                return std::pair<int, int>(grid.points()[i].x, grid.points()[i].y);
        return std::pair<int, int>(-1, -1);
    };
    auto pointsSent = [&] {
        std::size_t n = 0;
        for (const auto& r : calib->requests())
            n += r.command == 12 && r.subCode == 2;
        return n;
    };
    struct Seen {
        std::pair<int, int> point;
        std::size_t sent = 0;
        bool busy = false;
        int spacing = 0;
    } beforeBusyKey, afterBusyKey, afterReply;
    auto spacing = [](CWarpGeometricPage& g) { return int(g.model().corrected(g.model().currentOutput).spacing); };
    auto wheelDown = [](QWidget& page) {
        QWheelEvent e(QPointF(10, 10), page.mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&page, &e);
    };
    ASSERT_TRUE(w.run(
        [&](CWarpMain& wizard) {
            CWarpGeometricPage& g = wizard.geometricPage();
            wizard.findChild<QCheckBox*>("3140")->setChecked(true);
            wizard.OnNext();
            waitUntil([&] { return calib->requests().size() >= 6 && !g.busy(); }, 60000);  // a whole pixel map
            QTest::keyClick(&wizard, Qt::Key_Right);  // nothing selected: the first point is
            waitUntil([&] { return !g.busy(); });
            const std::size_t answered = pointsSent();
            w.player->setFault(sim::Fault::Delay, 1500, 12);
            QTest::keyClick(&wizard, Qt::Key_Right);  // moves it; the reply now takes its time
            waitUntil([&] { return pointsSent() > answered; });
            beforeBusyKey = {selected(g), pointsSent(), g.busy(), spacing(g)};
            QTest::keyClick(&wizard, Qt::Key_Right);
            wheelDown(g);
            afterBusyKey.point = selected(g);
            afterBusyKey.spacing = spacing(g);
            // The player reads on once its late reply is out: a request sent
            // meanwhile would reach it then.
            waitUntil([&] { return !g.busy(); });
            waitUntil([&] { return pointsSent() > beforeBusyKey.sent; }, 1000);
            afterBusyKey.sent = pointsSent();
            w.player->setFault(sim::Fault::None);
            QTest::keyClick(&wizard, Qt::Key_Right);  // answered: keys act again
            waitUntil([&] { return !g.busy(); });
            afterReply = {selected(g), pointsSent(), g.busy()};
            wizard.OnQuit();
        },
        30000));

    ASSERT_TRUE(beforeBusyKey.busy);
    ASSERT_NE(beforeBusyKey.point.first, -1);
    EXPECT_EQ(afterBusyKey.point, beforeBusyKey.point) << "a key while busy moved the point";
    ASSERT_GT(beforeBusyKey.spacing, 1);  // the wheel could have halved it
    EXPECT_EQ(afterBusyKey.spacing, beforeBusyKey.spacing) << "the wheel while busy changed the spacing";
    EXPECT_EQ(afterBusyKey.sent, beforeBusyKey.sent);
    EXPECT_EQ(afterReply.point, std::make_pair(beforeBusyKey.point.first + 1, beforeBusyKey.point.second));
    EXPECT_EQ(afterReply.sent, beforeBusyKey.sent + 1);
    // The player holds what the model holds: the last point block carries
    // the selected point where it now stands (y x 65536 + x from byte 8).
    const QByteArray last = calib->lastPayload(12, 2);
    bool found = false;
    for (int i = 8; i + 4 <= std::min<int>(int(last.size()), 10240); i += 4)
        found = found || proto::getU32(reinterpret_cast<const uint8_t*>(last.constData()) + i) ==
                             uint32_t(afterReply.point.second * 65536 + afterReply.point.first);
    EXPECT_TRUE(found);
}

TEST(WarpGeometricPage, ArrowStepFollowsTheTicksHeld)
{
    const std::pair<int, int> rows[] = {{0, 1}, {1, 1}, {2, 1}, {3, 2}, {8, 4}, {17, 9}, {18, 9}, {19, 10}, {40, 10}};
    for (auto [ticks, step] : rows)
        EXPECT_EQ(ArrowStepForTicks(ticks), step) << ticks;
}

TEST(WarpGeometricPage, SingleChannelMapGoesOnlyToTheChannelsOwnPlayer)
{
    Bench b;
    b.child<QCheckBox>("3158")->setChecked(true);
    b.twoChannels();
    // Only one single-channel player is known: the second channel has none.
    WarpSettings w;
    w.screens[0].columns = 2;
    w.screens[0].outputWidth = 1920;
    w.screens[0].outputHeight = 1080;
    w.screens[0].slotCount = 2;
    w.screens[0].channelSlots[0] = {0, 1};
    w.screens[0].channelSlots[1] = {1, 1};
    CWarpGeometricPage& g = b.wizard->geometricPage();
    g.singleChannel = true;
    g.targets = {{QStringLiteral("127.0.0.3"), QString(), 5005, 0}};
    g.ApplyWarpSettings(w);
    g.model().currentOutput = 0;
    g.OnNextChannel();
    ASSERT_EQ(b.frame.packets.size(), 1u);
    ASSERT_EQ(b.frame.packets[0].targets.size(), 1u);
    EXPECT_EQ(b.frame.packets[0].targets[0].ip, "127.0.0.3");
    EXPECT_EQ(b.frame.packets[0].h.subCode, 64) << "single channel: 64 alone";
    b.reply(2, 64);  // on step 1 the page takes the reply: select goes to every player
    ASSERT_EQ(b.frame.packets.size(), 2u);
    EXPECT_EQ(b.frame.packets[1].h.command, 12);
    EXPECT_EQ(g.model().currentOutput, 1);
    b.reply(12, 3);  // grid points for channel 2: no player holds it, nothing sent
    EXPECT_EQ(b.frame.packets.size(), 2u);
    EXPECT_FALSE(g.busy()) << "nothing went out, so nothing is awaited";
}

TEST(WarpGeometricPage, ShapesGoThroughCommand34)
{
    Bench b;
    b.twoChannels();
    b.wizard->OnNext();
    std::size_t seen = 0;
    b.answerChain(seen);
    CWarpGeometricPage& g = b.wizard->geometricPage();
    b.child<QPushButton>("3208")->click();
    ASSERT_EQ(g.shapeSet(), 1);
    const Packet p = b.frame.packets.back();
    EXPECT_EQ(p.h.command, 34);
    EXPECT_EQ(p.h.subCode, 1) << "version 0x2600: the new form";
    EXPECT_EQ(p.h.param, 1);
    EXPECT_EQ(p.h.arg, 0) << "shape 0, disabled";
    EXPECT_GE(p.payload, 10240 + 12);
    EXPECT_FALSE(b.child<QPushButton>("3203")->isEnabled());
    b.child<QPushButton>("3212")->click();  // busy: nothing
    EXPECT_EQ(b.frame.packets.size(), seen + 1);
    b.answerChain(seen);
    b.child<QPushButton>("3212")->click();
    EXPECT_EQ(b.frame.packets.back().h.arg, 1) << "shape index 1";
    b.answerChain(seen);
    b.child<QPushButton>("3210")->click();
    EXPECT_EQ(b.frame.packets.back().h.command, 34);
    EXPECT_EQ(b.frame.packets.back().h.param, 0);
    b.answerChain(seen);
    EXPECT_EQ(g.shapeSet(), 0);
    EXPECT_EQ(b.frame.packets.back().h.command, 12) << "back to the grid: the points are sent again";
    EXPECT_TRUE(testsupport::saveScreenshot(*b.wizard, "warp_wizard_step2_shapes"));
}

TEST(WarpParamPage, BandEditsByKindAndSide)
{
    struct Row {
        const char* what;
        int row, column, type, side;
        uint16_t width;
        std::vector<std::tuple<int, int, int, uint16_t>> expect;  // row, column, side (0 l 1 t 2 r 3 b), width
    };
    const Row rows[] = {
        {"single top on the first row", 0, 1, 3, 2, 135, {{0, 1, 1, 135}, {0, 0, 1, 270}, {1, 1, 1, 270}}},
        {"single left pulls the neighbour's right", 1, 1, 3, 0, 60, {{1, 1, 0, 60}, {1, 0, 2, 60}, {0, 0, 2, 240}}},
        {"single bottom pulls the top below", 0, 0, 3, 3, 68, {{0, 0, 3, 68}, {1, 0, 1, 68}}},
        {"row sets left and right of every cell", 0, 0, 1, 0, 120, {{0, 0, 0, 120}, {1, 1, 2, 120}, {1, 1, 1, 270}}},
        {"column sets top and bottom of every cell", 1, 0, 2, 0, 34, {{0, 0, 1, 34}, {1, 1, 3, 34}, {0, 1, 0, 240}}},
        {"clear all around keeps the inner bands", 0, 0, 0, 0, 0, {{0, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 2, 240}, {1, 1, 3, 0}, {1, 1, 1, 270}}},
        {"outside the used cells: nothing", 2, 0, 3, 0, 60, {{0, 0, 0, 240}}},
    };
    for (const Row& r : rows) {
        ScreenLayout L;
        L.rows = 2;
        L.columns = 2;
        ApplyBandEdit(L, r.row, r.column, r.type, r.side, r.width);
        for (auto [row, column, side, width] : r.expect) {
            const BlendBands& b = L.band(row, column);
            const uint16_t sides[4] = {b.left, b.top, b.right, b.bottom};
            EXPECT_EQ(sides[side], width) << r.what << " (" << row << "," << column << ") side " << side;
        }
    }
}

TEST(WarpParamPage, DamagedSettingsFileShowsItsMessageAndTheDefaults)
{
    QByteArray bad = WarpSettings().toBytes();
    bad[36] = 12;  // twelve rows
    Bench b(9, platform::MsgResult::Ok, 0x2600, bad);
    ASSERT_EQ(b.boxes.texts().size(), 1);
    EXPECT_TRUE(b.boxes.texts()[0].contains("Warp.QVE"));
    EXPECT_EQ(b.child<QComboBox>("3102")->currentIndex(), 0);
    EXPECT_EQ(b.wizard->paramPage().settings(), WarpSettings());
}

TEST(WarpGeometricPage, OlderPlayersGetTheShortAdjustmentPayload)
{
    for (auto [version, size] : {std::pair<uint16_t, int>{0x18FF, 4}, {0x1900, 96}}) {
        Bench b(9, platform::MsgResult::Yes, version);
        b.child<QCheckBox>("3140")->setChecked(true);
        b.wizard->OnNext();
        std::size_t seen = 0;
        b.answerChain(seen, 1);  // the video-channel reply brings the enter request
        ASSERT_EQ(b.frame.packets.size(), 2u) << version;
        EXPECT_EQ(b.frame.packets[1].h.command, 12);
        EXPECT_EQ(b.frame.packets[1].payload, size) << version;
    }
}

TEST(WarpWizard, BackFromStepTwoWaitsForThePlayerAndQuitFromStepThreeLeavesStepTwosAdjustment)
{
    Bench b;
    b.twoChannels();
    b.wizard->OnNext();
    std::size_t seen = 0;
    b.answerChain(seen);
    b.wizard->OnBack();  // blend on, then leave, then step 1
    EXPECT_EQ(b.wizard->step(), 2) << "nothing moves before the player answers";
    b.answerChain(seen);
    EXPECT_EQ(b.wizard->step(), 1);
    EXPECT_FALSE(b.wizard->geometricPage().inAdjustment());
    Codes codes = b.frame.codes();
    EXPECT_EQ(Codes(codes.end() - 2, codes.end()), (Codes{{13, 1}, {12, 1}}));

    // Forward again to step 3 through step 2: the player stays adjusting.
    b.wizard->OnNext();
    b.answerChain(seen);
    b.wizard->OnNext();
    b.answerChain(seen);
    ASSERT_EQ(b.wizard->step(), 3);
    ASSERT_TRUE(b.wizard->geometricPage().inAdjustment());
    b.blending->seq = uint16_t(b.wizard->geometricPage().sequence + 5);  // step 3 counted on
    const uint16_t largest = b.blending->seq;
    b.wizard->OnQuit();
    EXPECT_EQ(b.frame.packets.back().h.command, 12);
    EXPECT_EQ(b.frame.packets.back().h.subCode, 1) << "quitting step 3 leaves the adjustment step 2 entered";
    EXPECT_EQ(b.frame.packets.back().h.sequence, largest) << "the count runs on, never back";
    EXPECT_FALSE(b.wizard->closed());
    b.answerChain(seen);
    EXPECT_TRUE(b.wizard->closed());
}

TEST(WarpGeometricPage, ARefusedShapeFileIsNamedOnceAndKeptAndRResetsTheShownShapes)
{
    Bench b;
    const QString config = b.home.path() + "/127.0.0.2-A1B2C3D4E5F6-5005/config/";
    const QByteArray damaged(4608420, '\x07');  // the right length, nonsense records
    ASSERT_TRUE(testsupport::writeFile(config + "CustomShapesPointNew.QVE", damaged));
    b.twoChannels();
    std::size_t seen = 0;
    for (int run = 0; run < 2; ++run) {  // Next, Back, Next: the same file read twice
        b.wizard->OnNext();
        b.answerChain(seen);
        if (run == 0) {
            b.wizard->OnBack();
            b.answerChain(seen);
        }
    }
    ASSERT_EQ(b.wizard->step(), 2);
    const QStringList refused = b.boxes.texts().filter("damaged");
    ASSERT_EQ(refused.size(), 1) << refused.join('|').toStdString();
    EXPECT_TRUE(refused[0].contains("CustomShapesPointNew.QVE"));
    EXPECT_EQ(testsupport::readFile(config + "CustomShapesPointNew.QVE"), damaged) << "not edited: not rewritten";

    CWarpGeometricPage& g = b.wizard->geometricPage();
    g.EnterShapes(1);
    b.answerChain(seen);
    g.model().shapeCanvas().at(0, 0).x = 40;
    g.OnKey(Qt::Key_R, Qt::NoModifier, true, false);
    EXPECT_TRUE(g.model().shapeMode) << "the set is shown again";
    EXPECT_EQ(g.shapeSet(), 1);
    EXPECT_EQ(g.model().shapeCanvas().at(0, 0).x, 0);
    EXPECT_EQ(g.model().shapeCanvas().columnsInUse, 1800) << "half the 3,600-pixel screen";
}
