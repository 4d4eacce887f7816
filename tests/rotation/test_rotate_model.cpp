// The rotation model: tables of the small functions, then the wall and the
// canvas operations on a model whose clock the test moves.

#include "rotation/rotate_model.h"
#include "tests/rotation/rotation_fixtures.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace rotation;
using rotest::Bench;
using rotest::device;

namespace {

Quad unitSquare()
{
    return {PointD{0, 0}, PointD{100, 0}, PointD{100, 50}, PointD{0, 50}};
}

void expectNear(const Quad& a, const Quad& b, double eps = 1e-9)
{
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(a[i].x, b[i].x, eps) << "corner " << i;
        EXPECT_NEAR(a[i].y, b[i].y, eps) << "corner " << i;
    }
}

}  // namespace

TEST(RotationModel, ChannelCountFromLayoutCode)
{
    const struct { uint16_t code, channels; } rows[] = {
        {0, 0}, {1, 1}, {4, 4}, {9, 9}, {10, 0}, {11, 1}, {21, 2}, {41, 4}, {91, 9}, {12, 0}, {92, 0}, {101, 0}, {65535, 0},
    };
    for (const auto& r : rows)
        EXPECT_EQ(ChannelCountFromCode(r.code), r.channels) << r.code;
}

TEST(RotationModel, AnglePresets)
{
    const struct { uint16_t index; uint32_t degrees; } rows[] = {
        {0, 0}, {1, 30}, {4, 90}, {8, 180}, {14, 315}, {15, 330}, {16, 0}, {65535, 0},
    };
    for (const auto& r : rows)
        EXPECT_EQ(AngleFromPresetIndex(r.index), r.degrees) << r.index;
}

TEST(RotationModel, RotateCornersKeepsTheSignOfTheRemainderAndUndoes)
{
    Quad a, b;
    RotateCorners(unitSquare(), a, 25, 370, 50);
    RotateCorners(unitSquare(), b, 25, 10, 50);
    expectNear(a, b);
    RotateCorners(unitSquare(), a, 25, -370, 50);
    RotateCorners(unitSquare(), b, 25, -10, 50);
    expectNear(a, b);
    Quad q = unitSquare();
    RotateCorners(q, q, 25, 30, 50);  // in place
    RotateCorners(q, q, 25, -30, 50);
    expectNear(q, unitSquare());
    // Clockwise on screen: the top-right corner of a turned square goes down.
    RotateCorners(unitSquare(), a, 25, 90, 50);
    EXPECT_NEAR(a[1].x, 75, 1e-9);
    EXPECT_NEAR(a[1].y, 75, 1e-9);
}

TEST(RotationModel, PointToSegmentDistance)
{
    const struct { PointI p, a, b; double d; } rows[] = {
        {{3, 4}, {0, 0}, {0, 0}, 5},        // A = B: |PA|
        {{5, 3}, {0, 0}, {10, 0}, 3},       // foot inside the segment
        {{13, 4}, {0, 0}, {10, 0}, 5},      // beyond B: distance to B
        {{-3, -4}, {0, 0}, {10, 0}, 5},     // beyond A: distance to A
        {{4, 0}, {0, 0}, {10, 0}, 0},       // on the segment
        {{1, 1}, {0, 0}, {100000, 100001}, -1},  // nearly on a long line: finite, small
    };
    for (const auto& r : rows) {
        const double d = PointToSegmentDistance(r.p, r.a, r.b);
        EXPECT_FALSE(std::isnan(d));
        if (r.d >= 0)
            EXPECT_NEAR(d, r.d, 1e-9) << r.p.x << "," << r.p.y;
        else
            EXPECT_LT(d, 1.0);
    }
}

TEST(RotationModel, RectHitTestLeavesRightAndBottomOutside)
{
    const RectI r{10, 20, 30, 40};
    const struct { int x, y; bool in; } rows[] = {
        {10, 20, true}, {29, 39, true}, {30, 20, false}, {10, 40, false}, {9, 25, false}, {15, 19, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(RectHitTest(r, row.x, row.y), row.in) << row.x << "," << row.y;
}

TEST(RotationModel, TruncationSaturatesAndDropsNaN)
{
    const struct { double v; int32_t i; } rows[] = {
        {-3.7, -3}, {-0.5, 0}, {14.9999, 14}, {1e300, INT32_MAX}, {-1e300, INT32_MIN}, {NAN, 0}, {INFINITY, INT32_MAX},
    };
    for (const auto& r : rows)
        EXPECT_EQ(TruncToInt(r.v), r.i) << r.v;
}

TEST(RotationModel, AddOutputsChecks)
{
    const struct { uint16_t code; std::vector<int> screen1, screen2; AddResult result; } rows[] = {
        {4, {0, 1, 2, 3}, {}, AddResult::Ok},
        {4, {0, 1, 2, 4}, {}, AddResult::ChannelTooHigh},  // slot 5 with four channels
        {4, {0, 1, 2}, {3, 4}, AddResult::TooManyOutputs},
        {4, {}, {0}, AddResult::NoScreen1Output},
        {10, {0}, {}, AddResult::TooManyOutputs},  // unknown code: no channel at all
        {9, {0, 8}, {4}, AddResult::Ok},
    };
    for (const auto& r : rows) {
        Bench b(r.code);
        b.place(r.screen1, device("A", "M", 1000, 600), 0);
        b.place(r.screen2, device("A", "M", 1000, 600), 1);
        EXPECT_EQ(b.m.AddOutputsToWall(), r.result) << r.code;
        EXPECT_EQ(b.m.UpdateVideoWall, r.result == AddResult::Ok);
        EXPECT_TRUE(b.sent.empty());  // adding never sends
    }
}

TEST(RotationModel, SlotBelongsToOneScreenAndToggles)
{
    Bench b;
    b.place({2}, device("A", "M", 1000, 600), 0);
    EXPECT_TRUE(b.m.devices[0].slot[2].used());
    b.m.ToggleSlot(1, 2);  // row 2, same slot: moves the channel to screen 2
    EXPECT_FALSE(b.m.devices[0].slot[2].used());
    EXPECT_TRUE(b.m.devices[1].slot[2].used());
    EXPECT_EQ(b.m.ScreenCount, 2);
    b.m.ToggleSlot(1, 2);
    EXPECT_FALSE(b.m.devices[1].slot[2].used());
    EXPECT_EQ(b.m.ScreenCount, 1);
    EXPECT_EQ(b.m.OutputCount, 0);
    b.m.ToggleSlot(1, 9);  // no such slot
    b.m.ToggleSlot(2, 0);
    EXPECT_EQ(b.m.OutputCount, 0);
}

TEST(RotationModel, LayingOutTwiceKeepsWhatTheOperatorDid)
{
    Bench b;
    b.place({0, 1}, device("A", "M", 1000, 600), 0);
    ASSERT_EQ(b.m.AddOutputsToWall(), AddResult::Ok);
    EXPECT_EQ(b.out(1).Channel, 1);
    EXPECT_EQ(b.out(1).FramePoint[2], (PointD{1020, 620}));
    EXPECT_EQ(b.out(1).ScreenPoint[0], (PointD{10, 10}));
    b.out(1).FramePoint[0] = {500, 0};
    b.out(1).FontAngle = 30;
    b.m.walls[0].ResolutionWidthTotal = 1920;
    ASSERT_EQ(b.m.AddOutputsToWall(), AddResult::Ok);
    EXPECT_EQ(b.out(1).FramePoint[0], (PointD{500, 0}));
    EXPECT_EQ(b.out(1).FontAngle, 30);
    EXPECT_EQ(b.m.walls[0].ResolutionWidthTotal, 5760);
    EXPECT_EQ(b.m.walls[3].ResolutionHeightTotal, 3240);
    // A new model in slot 1 is placed again at the origin, unturned.
    b.m.ToggleSlot(0, 1);
    b.place({1}, device("A", "Other", 500, 300), 0);
    ASSERT_EQ(b.m.AddOutputsToWall(), AddResult::Ok);
    EXPECT_EQ(b.out(1).FramePoint[0], (PointD{0, 0}));
    EXPECT_EQ(b.out(1).FontAngle, 0);
    EXPECT_EQ(b.out(1).Model, QStringLiteral("Other"));
}

TEST(RotationModel, LayingOutMoreThanNineUsedSlotsNeverPassesTheChannelTable)
{
    // Screens 3 and 4 can only be filled by a file; the pass stops at nine.
    Bench b;
    b.m.CurrentMonitor = device("A", "M", 100, 100);
    for (auto& block : b.m.devices)
        for (auto& d : block.slot)
            d = b.m.CurrentMonitor;
    b.m.ChannelSlots = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    b.m.LayOutWall();
    EXPECT_EQ(b.m.displayedCount(0), 9);
    EXPECT_EQ(b.m.displayedCount(1), 0);
    EXPECT_EQ(b.out(8).Channel, 8);
    EXPECT_EQ(b.m.walls[3].ResolutionWidthTotal, 5760);
}

TEST(RotationModel, RearrangeMixedSizes)
{
    Bench b;
    b.place({0, 2}, device("A", "Big", 1000, 600), 0);
    b.place({1, 3}, device("A", "Small", 400, 200, 5), 0);
    ASSERT_EQ(b.m.AddOutputsToWall(), AddResult::Ok);
    EXPECT_FALSE(b.m.Rearrange(1, 3));  // 3 cells for 4 displays
    EXPECT_EQ(b.m.wall().Row, 1);
    EXPECT_EQ(b.m.wall().Column, 3);  // already stored
    EXPECT_TRUE(b.sent.empty());
    ASSERT_TRUE(b.m.Rearrange(2, 2));
    // Row 1: Big (1020 x 620) then Small (410 x 210); row 2 starts below the taller.
    EXPECT_EQ(b.out(0).FramePoint[0], (PointD{0, 0}));
    EXPECT_EQ(b.out(1).FramePoint[0], (PointD{1020, 0}));
    EXPECT_EQ(b.out(1).ScreenPoint[2], (PointD{1020 + 405, 205}));
    EXPECT_EQ(b.out(2).FramePoint[0], (PointD{0, 620}));
    EXPECT_EQ(b.out(3).FramePoint[0], (PointD{1020, 620}));
    EXPECT_DOUBLE_EQ(b.out(3).CentreX, 1020 + 205);
    EXPECT_EQ(b.sent.size(), 1u);
}

TEST(RotationModel, AspectRatioChecks)
{
    const struct { int w, h; RatioResult r; } rows[] = {
        {12, 1, RatioResult::TooWide}, {0, 5, RatioResult::OutOfRange}, {10001, 1, RatioResult::OutOfRange},
        {11, 1, RatioResult::Ok},      {16, 9, RatioResult::Ok},         {1, 10000, RatioResult::Ok},
    };
    for (const auto& r : rows) {
        Bench b;
        EXPECT_EQ(b.m.SetAspectRatio(r.w, r.h), r.r) << r.w << ":" << r.h;
        EXPECT_TRUE(b.sent.empty());
    }
}

TEST(RotationModel, WheelScaleStaysBetweenItsSinglePrecisionEnds)
{
    Bench b;
    for (int i = 0; i < 100; ++i)
        b.m.MouseWheel(-120);
    EXPECT_EQ(b.m.wall().ShowScale, 0.019999999552965164);
    b.m.MouseWheel(0);
    EXPECT_EQ(b.m.wall().ShowScale, 0.019999999552965164);
    b.m.MouseWheel(120);
    EXPECT_EQ(b.m.wall().ShowScale, double(0.02f) + double(0.01f));
    for (int i = 0; i < 200; ++i)
        b.m.MouseWheel(120);
    EXPECT_EQ(b.m.wall().ShowScale, 1.0);
    EXPECT_TRUE(b.sent.empty());
}

class CanvasEdit : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Two 1000 x 600 displays (outer 1020 x 620), both at the origin.
        b.place({0, 1}, device("A", "M", 1000, 600), 0);
        ASSERT_EQ(b.m.AddOutputsToWall(), AddResult::Ok);
    }
    void click(int x, int y) { b.m.LeftButtonDown({x, y}); }
    Bench b;
};

TEST_F(CanvasEdit, ClickOnTheOverlapSelectsTheHigherSlot)
{
    click(50, 50);
    EXPECT_TRUE(b.out(1).Selected);
    EXPECT_FALSE(b.out(0).Selected);
    ASSERT_EQ(b.sent.size(), 1u);
    EXPECT_EQ(b.sent[0], std::make_pair(uint16_t(1), true));
    b.reply();
    click(900, 700);  // nothing there
    EXPECT_FALSE(b.m.hasSelection());
    EXPECT_EQ(b.sent.size(), 1u);
}

TEST_F(CanvasEdit, ArrowKeyBoundByAShownBackground)
{
    b.m.SetBackgroundDisplay(true);  // box -10 .. 1030 wall, -2 .. 206 canvas
    b.reply();
    click(50, 50);
    b.reply();
    const double x0 = b.out(1).FramePoint[0].x;
    // Push right until a corner would pass the right edge (206 canvas, 204 is the frame's right).
    EXPECT_TRUE(b.m.MoveSelected(1, 0));
    b.reply();
    EXPECT_NEAR(b.out(1).FramePoint[0].x, x0 + 1 / double(0.2f), 1e-9);
    EXPECT_FALSE(b.m.MoveSelected(1, 0));  // 205 + 1 = 206 is outside
    b.m.SetBackgroundDisplay(false);
    b.reply();
    EXPECT_TRUE(b.m.MoveSelected(1, 0));
    EXPECT_TRUE(b.m.MoveSelected(100, 0));
}

TEST_F(CanvasEdit, LeftDragOutsideTheBackgroundIsIgnoredThenFollowsAgain)
{
    b.m.SetBackgroundDisplay(true);
    b.m.wall().FramePoint = {PointD{-10, -10}, PointD{3000, -10}, PointD{3000, 2000}, PointD{-10, 2000}};
    b.m.UpdateCanvasPolygons();
    click(50, 50);
    b.clock += 1000;  // fast steps: no snapping
    b.m.MouseMove({45, 50});  // 25 mm left: a corner at -25 is outside
    EXPECT_EQ(b.out(1).FramePoint[0].x, 0);
    b.clock += 1000;
    b.m.MouseMove({150, 50});
    EXPECT_NEAR(b.out(1).FramePoint[0].x, 100 / double(0.2f), 1e-6);
}

TEST_F(CanvasEdit, SlowDragSnapsToTheNeighbourFastStepsPullAway)
{
    // Display 1 to the right of display 0 with a gap of 30 mm (6 px).
    for (auto& p : b.out(1).FramePoint)
        p.x += 1050;
    for (auto& p : b.out(1).ScreenPoint)
        p.x += 1050;
    b.m.UpdateCanvasPolygons();
    click(250, 50);
    ASSERT_TRUE(b.out(1).Selected);
    b.clock += 20'000;  // slow: within 10 px of display 0's right edge
    b.m.MouseMove({249, 50});
    EXPECT_NEAR(b.out(1).FramePoint[0].x, 1020, 1e-9);  // corner on the edge
    b.clock += 20'000;
    b.m.MouseMove({260, 50});
    EXPECT_NEAR(b.out(1).FramePoint[0].x, 1020, 1e-9);  // stays while slow
    b.clock += 2'000;
    b.m.MouseMove({300, 50});  // fast: moves freely from the snap point
    EXPECT_NEAR(b.out(1).FramePoint[0].x, 1020 + 51 / double(0.2f), 1e-6);
}

TEST_F(CanvasEdit, RotationTestUsesTheStepAboutToBeApplied)
{
    click(50, 50);
    EXPECT_TRUE(b.m.RotateSelected(1));
    EXPECT_TRUE(b.m.RotateSelected(1));
    EXPECT_EQ(b.out(1).FrameAngle, 1);
    EXPECT_EQ(b.out(1).FontAngle, 2);
    // A background just big enough for the display turned by 1 degree
    // (about 6 px wider than the frame): a further single degree fits, a
    // check of two degrees would not.
    b.m.SetBackgroundDisplay(true);
    Quad box;
    Quad turned;
    RotateCorners(b.out(1).FramePoint, turned, b.out(1).CentreY, 1, b.out(1).CentreX);
    BoundingQuad({turned}, box, 0);
    b.m.wall().FramePoint = box;
    b.m.UpdateCanvasPolygons();
    EXPECT_TRUE(b.m.RotationStaysInBackground(1));
    EXPECT_FALSE(b.m.RotationStaysInBackground(5));
    EXPECT_TRUE(b.m.RotateSelected(1));
    EXPECT_EQ(b.out(1).FontAngle, 3);
}

TEST_F(CanvasEdit, TopLeftHandleStopsAtTheOutputsAndKeepsTheRatio)
{
    for (int k : {0, 1})
        for (auto* q : {&b.out(k).FramePoint, &b.out(k).ScreenPoint})
            for (auto& p : *q)
                p = {p.x + 600, p.y + 600};  // outputs 600,600 .. 1620,1220
    b.m.SetBackgroundDisplay(true);
    b.m.wall().FramePoint = {PointD{100, 100}, PointD{2000, 100}, PointD{2000, 1500}, PointD{100, 1500}};
    b.m.UpdateCanvasPolygons();
    b.m.wall().BackgroundSelected = 1;
    EXPECT_EQ(b.m.MouseMove({21, 21}), 309);  // hovering handle 0
    EXPECT_EQ(b.m.MouseMove({210, 21}), 311);  // top edge
    b.m.LeftButtonDown({21, 21});
    ASSERT_TRUE(b.m.wall().BackgroundSelected);
    ASSERT_EQ(b.m.wall().ActiveHandle, 0);
    b.m.MouseMove({300, 300});  // far inward
    const Quad& bg = b.m.wall().FramePoint;
    EXPECT_DOUBLE_EQ(bg[0].x, 600);  // stopped at the outputs' left
    EXPECT_DOUBLE_EQ(bg[0].y, 450);  // height follows the width at 4:3
    EXPECT_NEAR((bg[1].x - bg[0].x) / (bg[2].y - bg[0].y), 4.0 / 3.0, 1e-9);
    b.m.LeftButtonUp();
    EXPECT_EQ(b.m.wall().ActiveHandle, -1);
}

TEST_F(CanvasEdit, RightDragMovesEverythingWithoutBound)
{
    b.m.SetBackgroundDisplay(true);
    b.reply();
    b.m.RightButtonDown({10, 10});
    b.m.MouseMove({-0, 10});
    b.m.MouseMove({0, 10});
    EXPECT_NEAR(b.out(0).FramePoint[0].x, -50, 1e-6);
    EXPECT_NEAR(b.m.wall().FramePoint[0].x, -60, 1e-6);
    EXPECT_FALSE(b.out(0).Selected);
}

TEST_F(CanvasEdit, EditsWhileADocumentIsInFlightAreSentOnceOnTheReply)
{
    click(50, 50);  // sent
    b.clock += 20'000;
    EXPECT_TRUE(b.m.MoveSelected(1, 0));  // dropped for now
    EXPECT_TRUE(b.m.MoveSelected(1, 0));
    EXPECT_EQ(b.sent.size(), 1u);
    EXPECT_TRUE(b.m.unsentEdit());
    b.reply();  // the whole current wall goes once
    ASSERT_EQ(b.sent.size(), 2u);
    EXPECT_EQ(b.sent[1], std::make_pair(uint16_t(0), false));
    b.reply();
    EXPECT_EQ(b.sent.size(), 2u);
    // A document never answered stops blocking after three seconds.
    EXPECT_TRUE(b.m.MoveSelected(1, 0));
    EXPECT_TRUE(b.m.MoveSelected(1, 0));
    EXPECT_EQ(b.sent.size(), 3u);
    b.clock += 2'900'000;
    b.m.Tick();
    EXPECT_EQ(b.sent.size(), 3u);
    b.clock += 200'000;
    b.m.Tick();
    EXPECT_EQ(b.sent.size(), 4u);
    // A failed hand-over leaves the flag clear: the next edit tries again.
    b.reply();
    b.sendOk = false;
    EXPECT_TRUE(b.m.MoveSelected(1, 0));
    EXPECT_FALSE(b.m.pending());
}
