// The grid-warp model: reset, every-Nth activation, interpolation, selection
// keys, arrow moves with rotation, the move checks and the mouse.

#include "calibration_fixtures.h"

#include <gtest/gtest.h>

#include <vector>

using namespace calib;
using calibtest::activeCount;
using calibtest::oneOutputModel;

namespace {

std::vector<int> activeColumns(const grid::WarpGrid& g, int row)
{
    std::vector<int> out;
    for (int c = 0; c < 65; ++c)
        if (g.at(c, row).active)
            out.push_back(c);
    return out;
}

int selectedCount(const grid::WarpGrid& g)
{
    int n = 0;
    for (std::size_t i = 0; i < grid::WarpGrid::kPoints; ++i)
        n += g.points()[i].active && g.points()[i].selected;
    return n;
}

}  // namespace

TEST(GeometricCorrection, ResetLeavesFourCornersAtSpacing64AndMinusFiveTimesGivesSpacing2)
{
    auto m = oneOutputModel();
    const grid::WarpGrid& g = m->corrected(0);
    EXPECT_EQ(g.spacing, 64);
    EXPECT_EQ(activeCount(g), 4);
    EXPECT_EQ(m->config.outputs[0].gridColumns, 65);
    EXPECT_EQ(m->config.outputs[0].gridRows, 33);
    const struct { int c, r, x, y; } points[] = {
        {0, 0, 0, 0}, {64, 32, 1919, 1079}, {1, 1, 29, 33}, {33, 17, 989, 573}, {32, 16, 959, 539},
    };
    for (const auto& p : points) {
        EXPECT_EQ(g.at(p.c, p.r).x, p.x) << p.c << "," << p.r;
        EXPECT_EQ(g.at(p.c, p.r).y, p.y) << p.c << "," << p.r;
    }
    for (int i = 0; i < 5; ++i)
        m->OnKey(kKeyMinus, false);
    EXPECT_EQ(g.spacing, 2);
    EXPECT_EQ(activeColumns(g, 0).size(), 33u);
    int rows = 0;
    for (int r = 0; r < 33; ++r)
        rows += g.at(0, r).active;
    EXPECT_EQ(rows, 17);
}

TEST(GeometricCorrection, EveryNthActivationIsSymmetric)
{
    auto m = oneOutputModel();
    m->corrected(0).spacing = 3;
    m->ActivateCorrectedPoints();
    const std::vector<int> want = {0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 34, 37, 40, 43, 46, 49, 52, 55, 58, 61, 64};
    EXPECT_EQ(activeColumns(m->corrected(0), 0), want);
}

TEST(GeometricCorrection, LayoutCodeGivesRotationPerScreen)
{
    auto m = std::make_unique<CGeometricCorrection>();
    m->config.outputs[0].screenIndex = 0;
    m->config.outputs[1].screenIndex = 1;
    m->config.outputs[2].screenIndex = 2;
    m->ResetGrids(0x21);
    EXPECT_EQ(m->rotation[0], 1);
    EXPECT_EQ(m->rotation[1], 2);
    EXPECT_EQ(m->rotation[2], 0);
    // Entries without a size are skipped rather than divided by.
    EXPECT_EQ(activeCount(m->corrected(3)), 0);
}

TEST(GeometricCorrection, RotatedResetTurnsTheCornersAndHalvesTheScale)
{
    auto m = oneOutputModel(0x01);
    const grid::WarpGrid& g = m->corrected(0);
    EXPECT_EQ(g.at(0, 0).x, 0);     // top-left takes bottom-left's
    EXPECT_EQ(g.at(0, 0).y, 1079);
    EXPECT_EQ(g.at(64, 0).x, 0);    // top-right takes top-left's
    EXPECT_EQ(g.at(64, 0).y, 0);
    EXPECT_DOUBLE_EQ(m->xScale[0], 0.25);
    EXPECT_DOUBLE_EQ(m->yScale[0], 0.25);
}

TEST(GeometricCorrection, HomeCyclesRowColumnAllThenThePoint)
{
    auto m = oneOutputModel();
    for (int i = 0; i < 5; ++i)
        m->OnKey(kKeyMinus, false);
    grid::WarpGrid& g = m->corrected(0);
    g.at(4, 6).selected = 1;
    const struct { int count; bool anchor; } steps[] = {{33, true}, {17, true}, {561, true}, {1, true}};
    for (const auto& s : steps) {
        EXPECT_TRUE(m->OnKey(kKeyHome, false));
        EXPECT_EQ(selectedCount(g), s.count);
        EXPECT_EQ(g.at(4, 6).selected, 1);
    }
}

TEST(GeometricCorrection, SpacingKeysStopAtTheirLimits)
{
    auto m = oneOutputModel();
    EXPECT_FALSE(m->OnKey(kKeyPlus, false));
    EXPECT_FALSE(m->OnKey(kKeyPadPlus, false));
    EXPECT_EQ(m->corrected(0).spacing, 64);
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(m->OnKey(kKeyPadMinus, false));
    EXPECT_EQ(m->corrected(0).spacing, 1);
    EXPECT_FALSE(m->OnKey(kKeyMinus, false));
    EXPECT_EQ(m->corrected(0).spacing, 1);
    // Reference spacing: ',' doubles, '.' halves, false once nothing changes.
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(m->OnKey(kKeyComma, false));
    EXPECT_FALSE(m->OnKey(kKeyComma, false));
    EXPECT_EQ(m->reference(0).spacing, 64);
}

TEST(GeometricCorrection, ArrowsMoveInOutputDirectionsPerRotation)
{
    const struct { uint16_t code; int key, dx, dy; } rows[] = {
        {0x00, kKeyLeft, -3, 0}, {0x00, kKeyUp, 0, -3}, {0x00, kKeyRight, 3, 0}, {0x00, kKeyDown, 0, 3},
        {0x01, kKeyLeft, 0, 3},  {0x01, kKeyUp, -3, 0}, {0x01, kKeyRight, 0, -3}, {0x01, kKeyDown, 3, 0},
        {0x02, kKeyLeft, 0, -3}, {0x02, kKeyUp, 3, 0},  {0x02, kKeyRight, 0, 3}, {0x02, kKeyDown, -3, 0},
    };
    for (const auto& r : rows) {
        auto m = oneOutputModel(r.code);
        for (int i = 0; i < 5; ++i)
            m->OnKey(kKeyMinus, false);
        grid::GridPoint& p = m->corrected(0).at(10, 10);  // an interior control point
        p.selected = 1;
        const int x = p.x, y = p.y;
        m->step = 3;
        EXPECT_TRUE(m->OnKey(r.key, false)) << r.code << " " << r.key;
        EXPECT_EQ(p.x - x, r.dx) << r.code << " " << r.key;
        EXPECT_EQ(p.y - y, r.dy) << r.code << " " << r.key;
    }
}

TEST(GeometricCorrection, MoveChecksRefuseFolds)
{
    auto m = oneOutputModel();
    for (int i = 0; i < 5; ++i)
        m->OnKey(kKeyMinus, false);
    grid::WarpGrid& g = m->corrected(0);
    EXPECT_FALSE(m->CanStepLeft());  // nothing selected
    grid::GridPoint& p = g.at(10, 10);
    p.selected = 1;
    const grid::GridPoint left = g.at(8, 10), right = g.at(12, 10);
    auto target = [](int x, int y) {
        grid::GridPoint t;
        t.x = x;
        t.y = y;
        return t;
    };
    const struct { int x, y; bool ok; } rows[] = {
        {p.x - 10, p.y, true},           // a small move inside its cell
        {left.x, left.y, false},         // onto a neighbour
        {left.x + 3, p.y, false},        // within the 5-pixel margin of the left neighbour
        {right.x + 20, p.y, false},      // beyond the right neighbour
        {p.x, g.at(10, 12).y + 1, false},  // beyond the lower neighbour
    };
    for (const auto& r : rows)
        EXPECT_EQ(m->HitTestCell(p, target(r.x, r.y)), r.ok) << r.x << "," << r.y;
    // Border points stay within the output's edge lines.
    grid::GridPoint& corner = g.at(0, 0);
    corner.selected = 1;
    p.selected = 0;
    EXPECT_TRUE(m->HitTestCell(corner, target(10, 10)));
    EXPECT_FALSE(m->HitTestCell(corner, target(-1, 0)));
    EXPECT_FALSE(m->CanStepLeft());
    EXPECT_TRUE(m->CanStepRight());
    grid::GridPoint& edge = g.at(64, 10);
    corner.selected = 0;
    edge.selected = 1;
    EXPECT_TRUE(m->HitTestCell(edge, target(1920, edge.y)));
    EXPECT_FALSE(m->HitTestCell(edge, target(1921, edge.y)));
}

TEST(GeometricCorrection, InterpolationFollowsAMovedCornerAndFallsBackOnNegatives)
{
    auto m = oneOutputModel();
    grid::WarpGrid& g = m->corrected(0);
    g.at(64, 32).x = 1819;  // pull the bottom-right corner in by 100
    m->InterpolateGrid();
    EXPECT_EQ(g.at(64, 32).x, 1819);
    EXPECT_EQ(g.at(64, 16).x, 1869);  // half-way down the right edge
    EXPECT_EQ(g.at(0, 16).x, 0);
    // A corner pulled to a negative x: the points whose mapping falls
    // outside take their reference position, even with one coordinate left.
    g.at(0, 32).x = -600;
    m->InterpolateGrid();
    EXPECT_EQ(g.at(0, 31).x, m->reference(0).at(0, 31).x);
    EXPECT_EQ(g.at(0, 31).y, m->reference(0).at(0, 31).y);
}

TEST(GeometricCorrection, MapReferencePointDegenerateCellsFallBack)
{
    Quad ref, cor;
    ref.x = {0, 0, 0, 0};  // no width
    ref.y = {0, 0, 10, 10};
    cor.x = {0, 10, 0, 10};
    cor.y = {0, 0, 10, 10};
    grid::GridPoint p = CGeometricCorrection::MapReferencePoint(ref, cor, 3, 4);
    EXPECT_EQ(p.x, 3);
    EXPECT_EQ(p.y, 4);
    ref.x = {0, 10, 0, 10};
    cor.x = {5, 5, 5, 5};  // every line vertical
    p = CGeometricCorrection::MapReferencePoint(ref, cor, 3, 4);
    EXPECT_EQ(p.x, 3);
    EXPECT_EQ(p.y, 4);
}

TEST(GeometricCorrection, MouseSelectsDragsAndRubberBands)
{
    auto m = oneOutputModel();
    for (int i = 0; i < 5; ++i)
        m->OnKey(kKeyMinus, false);
    grid::WarpGrid& g = m->corrected(0);
    // Point (10,10) at output (299, 337) is drawn at window (18 + 149, 28 + 168).
    ASSERT_EQ(g.at(10, 10).x, 299);
    ASSERT_EQ(g.at(10, 10).y, 337);
    EXPECT_FALSE(m->OnButtonDown(0, {30, 45}));
    EXPECT_TRUE(m->OnButtonDown(0, {167 + 3, 196 - 2}));
    EXPECT_EQ(g.at(10, 10).selected, 1);
    EXPECT_TRUE(m->OnMouseMove(0, {167 + 5, 196}));  // 5 window pixels = 10 output pixels
    EXPECT_EQ(g.at(10, 10).x, 308);
    EXPECT_TRUE(m->OnButtonUp(0, {172, 196}));
    // Shift rubber band over the first columns.
    EXPECT_TRUE(m->OnButtonDown(kMouseShift, {10, 20}));
    m->OnMouseMove(kMouseShift, {60, 600});
    m->OnButtonUp(kMouseShift, {60, 600});
    EXPECT_TRUE(m->rectangleActive());
    EXPECT_EQ(selectedCount(g), 2 * 17);  // columns 0 and 2 (x up to 84 at this scale)
    EXPECT_TRUE(m->OnKey(kKeyBackspace, false));
    EXPECT_EQ(selectedCount(g), 0);
    EXPECT_FALSE(m->rectangleActive());
}

TEST(GeometricCorrection, ShapeModeKeysAndInterpolation)
{
    auto m = oneOutputModel();
    m->config.screens[0] = {0, 0, 1920, 1080};
    m->ResetShapes();
    m->LoadShape(0, 0);
    m->shapeMode = true;
    grid::PixelMap& canvas = m->shapeCanvas();
    EXPECT_EQ(canvas.columnsInUse, 960);
    EXPECT_FALSE(m->OnKey(kKeyPlus, false));  // 1,024 already
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(m->OnKey(kKeyMinus, false));
    EXPECT_EQ(canvas.spacing, 16);
    EXPECT_FALSE(m->OnKey(kKeyMinus, false));
    // The top edge now has a control point every 16 columns (and the last).
    EXPECT_TRUE(canvas.at(16, 0).active);
    EXPECT_FALSE(canvas.at(8, 0).active);
    EXPECT_TRUE(canvas.at(959, 0).active);
    // Select the top-left corner with the mouse, move it with the arrows.
    EXPECT_TRUE(m->OnButtonDown(0, {18 + 1, 28 + 1}));
    EXPECT_EQ(m->CountSelected(), 1);
    m->step = 4;
    EXPECT_FALSE(m->OnKey(kKeyLeft, false));  // x 0 is not above the step
    EXPECT_TRUE(m->OnKey(kKeyRight, false));
    EXPECT_TRUE(m->OnKey(kKeyDown, false));
    EXPECT_EQ(canvas.at(0, 0).x, 4);
    EXPECT_EQ(canvas.at(0, 0).y, 4);
    m->OnKey(kKeyPlus, false);  // spacing 32: interpolation runs from 17 on
    canvas.at(0, 0).selected = 1;
    m->OnKey(kKeyRight, false);
    EXPECT_EQ(canvas.at(16, 0).x, 20);  // half-way between x 8 and x 32
    // Shift + arrow walks along the edge to the next control point.
    m->OnKey(kKeyShift, true);
    EXPECT_TRUE(m->OnKey(kKeyRight, false));
    EXPECT_EQ(canvas.at(32, 0).selected, 1);
    EXPECT_EQ(canvas.at(0, 0).selected, 0);
    EXPECT_TRUE(m->OnKey(kKeyBackspace, false));
    EXPECT_EQ(m->CountSelected(), 0);
    // Stored and loaded back, the moved corner stays.
    m->StoreShape(0, 3);
    m->LoadShape(0, 3);
    EXPECT_EQ(canvas.at(0, 0).x, 8);
    m->LoadShape(2, 0);  // no such set: nothing happens
    EXPECT_EQ(canvas.at(0, 0).x, 8);
}
