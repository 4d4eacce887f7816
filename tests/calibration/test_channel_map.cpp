// The per-pixel map: identity, the linear (parallelogram) case, exact edge
// crossings, degenerate cells and points pushed far outside the table.

#include "calibration/channel_map.h"
#include "calibration_fixtures.h"
#include "transport/protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace calib;

namespace {

Quad quad(std::array<int32_t, 8> xy)
{
    Quad q;
    for (std::size_t i = 0; i < 4; ++i) {
        q.x[i] = xy[2 * i];
        q.y[i] = xy[2 * i + 1];
    }
    return q;
}

}  // namespace

TEST(ChannelMap, RoundsHalfAwayFromZero)
{
    const struct { double in, out; } rows[] = {
        {0.5, 1}, {1.49, 1}, {-0.5, -1}, {-1.5, -2}, {2.5, 3}, {0.0, 0}, {-0.49, -0},
    };
    for (const auto& r : rows)
        EXPECT_EQ(roundHalfAway(r.in), r.out) << r.in;
}

TEST(ChannelMap, IdentityGridMapsEveryPixelToItselfButTheLastColumnAndRow)
{
    auto m = calibtest::oneOutputModel();
    ASSERT_TRUE(m->BuildChannelMap(0));
    const ChannelMap& map = m->channelMap();
    int wrong = 0;
    for (int y = 0; y < ChannelMap::kRows; ++y) {
        for (int x = 0; x < ChannelMap::kColumns; ++x) {
            const int32_t want = x < 1919 && y < 1079 ? int32_t((uint32_t(x) << 16) | uint32_t(y)) : -1;
            wrong += map.at(x, y) != want;
        }
    }
    EXPECT_EQ(wrong, 0);
    // x in the high half, y in the low half.
    EXPECT_EQ(map.at(1918, 1), int32_t(0x077E0001));
}

TEST(ChannelMap, PayloadIsTheTableRowByRow)
{
    auto m = calibtest::oneOutputModel();
    m->BuildChannelMap(0);
    const QByteArray p = m->channelMap().payload();
    ASSERT_EQ(p.size(), 8294400);
    const auto* b = reinterpret_cast<const uint8_t*>(p.constData());
    const struct { int x, y; uint32_t word; } rows[] = {
        {0, 0, 0x00000000}, {5, 7, 0x00050007}, {1918, 1078, 0x077E0436}, {1919, 0, 0xFFFFFFFF}, {0, 1079, 0xFFFFFFFF},
    };
    for (const auto& r : rows)
        EXPECT_EQ(proto::getU32(b + 4 * (std::size_t(r.y) * 1920 + std::size_t(r.x))), r.word) << r.x << "," << r.y;
}

TEST(ChannelMap, ParallelogramCellUsesTheLinearCase)
{
    const Quad ref = quad({0, 0, 10, 0, 0, 10, 10, 10});
    const Quad cor = quad({0, 0, 10, 0, 5, 10, 15, 10});  // sheared: A = A' = 0
    QuadCache cache;
    const struct { int x, y, sx, sy; } rows[] = {
        {7, 4, 5, 4}, {0, 0, 0, 0}, {15, 10, 10, 10}, {10, 6, 7, 6}, {5, 10, 0, 10},
    };
    bool first = true;
    for (const auto& r : rows) {
        const SourcePixel s = MapPixelInverseBilinear(ref, cor, first, r.x, r.y, cache);
        first = false;
        EXPECT_EQ(cache.a, 0.0);
        EXPECT_EQ(cache.a2, 0.0);
        EXPECT_EQ(s.x, r.sx) << r.x << "," << r.y;
        EXPECT_EQ(s.y, r.sy) << r.x << "," << r.y;
    }
}

TEST(ChannelMap, KeystoneCellSolvesTheQuadratic)
{
    const Quad ref = quad({100, 200, 130, 200, 100, 233, 130, 233});
    const Quad cor = quad({100, 200, 130, 200, 95, 233, 135, 233});  // wider at the bottom
    QuadCache cache;
    const struct { int x, y, sx, sy; } rows[] = {
        {100, 200, 100, 200}, {130, 200, 130, 200}, {115, 220, 115, 220}, {95, 233, 100, 233}, {135, 233, 130, 233},
    };
    bool first = true;
    for (const auto& r : rows) {
        const SourcePixel s = MapPixelInverseBilinear(ref, cor, first, r.x, r.y, cache);
        first = false;
        EXPECT_EQ(s.x, r.sx) << r.x << "," << r.y;
        EXPECT_EQ(s.y, r.sy) << r.x << "," << r.y;
    }
    EXPECT_EQ(cache.a, 0.0);  // straight sides: the horizontal solve is linear
    EXPECT_GT(std::abs(cache.a2), 0.5);
}

TEST(ChannelMap, DegenerateCellGivesTheCellOriginNotADivisionByZero)
{
    const Quad ref = quad({40, 50, 70, 50, 40, 80, 70, 80});
    const Quad cor = quad({60, 60, 60, 60, 60, 60, 60, 60});  // every corner on one pixel
    QuadCache cache;
    const SourcePixel s = MapPixelInverseBilinear(ref, cor, true, 60, 60, cache);
    EXPECT_EQ(s.x, 40);
    EXPECT_EQ(s.y, 50);
}

TEST(ChannelMap, ScanQuadTakesTheExactEdgeAndClampsToTheTable)
{
    SpanTable spans;
    // Right edge from (10,0) down to (13,2): x = 11.5 on row 1, whose pixels
    // up to 11 lie left of it; the bottom row belongs to the cell below.
    ScanQuad(quad({0, 0, 10, 0, 0, 2, 13, 2}), spans);
    EXPECT_EQ(spans.firstRow, 0);
    EXPECT_EQ(spans.lastRow, 2);
    const struct { int y, first, last; } rows[] = {{0, 0, 9}, {1, 0, 11}, {2, 0, -1}};
    for (const auto& r : rows) {
        EXPECT_EQ(spans.firstX[std::size_t(r.y)], r.first) << r.y;
        EXPECT_EQ(spans.lastX[std::size_t(r.y)], r.last) << r.y;
    }
    // A quad reaching far beyond the table stays inside columns 0..1,919 and
    // rows 0..1,079.
    ScanQuad(quad({-5000, -3000, 9000, -3000, -5000, 7000, 9000, 7000}), spans);
    EXPECT_EQ(spans.firstRow, 0);
    EXPECT_EQ(spans.lastRow, 1079);
    for (int y = 0; y < 1080; ++y) {
        ASSERT_GE(spans.firstX[std::size_t(y)], 0);
        ASSERT_LE(spans.lastX[std::size_t(y)], 1919);
    }
}

TEST(ChannelMap, PointsPushedFarOutsideNeverWriteOutsideTheTable)
{
    auto m = calibtest::oneOutputModel();
    grid::WarpGrid& g = m->corrected(0);
    const int32_t far[][2] = {{-2000000000, 5}, {2000000000, -2000000000}, {3000, 70000}, {-1, -1}, {1919, 1079}};
    for (int c = 0; c < 65; ++c)
        for (int r = 0; r < 33; ++r) {
            g.at(c, r).x = far[(c + r) % 5][0];
            g.at(c, r).y = far[(c * 7 + r) % 5][1];
        }
    // Four cells only: each of them covers the whole table.
    m->config.outputs[0].gridColumns = 3;
    m->config.outputs[0].gridRows = 3;
    m->BuildChannelMap(12);  // taken as output 8: an unused, empty entry
    m->BuildChannelMap(0);
    const ChannelMap& map = m->channelMap();
    for (int y = 0; y < ChannelMap::kRows; ++y)
        for (int x = ChannelMap::kOutputColumns; x < ChannelMap::kColumns; ++x)
            ASSERT_EQ(map.at(x, y), -1);
    for (int y = 0; y < ChannelMap::kRows; ++y)
        for (int x = 0; x < ChannelMap::kOutputColumns; ++x) {
            const int32_t v = map.at(x, y);
            if (v != -1) {
                ASSERT_LT(v >> 16, 1919);
                ASSERT_LT(v & 0xFFFF, 1079);
            }
        }
}

namespace {

// The inverse map transcribed term by term as the player tool computes it
// (32-bit products, then doubles, floor/ceil rounding), to hold the
// optimised map to the same numbers.
SourcePixel literalInverse(const Quad& r, const Quad& c, int x, int y)
{
    auto rnd = [](double v) { return v > 0 ? std::floor(v + 0.5) : std::ceil(v - 0.5); };
    const int x0 = c.x[0], x1 = c.x[1], x2 = c.x[2], x3 = c.x[3];
    const int y0 = c.y[0], y1 = c.y[1], y2 = c.y[2], y3 = c.y[3];
    const double w = r.x[1] - r.x[0], h = r.y[2] - r.y[0];
    const int ax = x0 - x1 - x2 + x3, ay = y0 - y1 - y2 + y3;
    const double a = ay * (x0 - x1) - ax * (y0 - y1), k = w / (2 * a);
    const double b0 = (y2 - y0) * (x0 - x1) - (x2 - x0) * (y0 - y1);
    const double a2 = (x0 - x2) * ay - (y0 - y2) * ax, k2 = h / (2 * a2);
    const double b02 = (y1 - y0) * (x0 - x2) - (x1 - x0) * (y0 - y2);
    const double d = (x - x0) * ay - (y - y0) * ax;
    auto solve = [&](double aa, double kk, double b, double cc, double ext) {
        if (std::fabs(aa) > 0.5) {
            const double s = std::sqrt(b * b - 4 * aa * cc);
            const double u1 = rnd((-b - s) * kk), u2 = rnd((s - b) * kk);
            return u1 >= 0 && u1 <= ext ? u1 : u2 >= 0 && u2 <= ext ? u2 : 0.0;
        }
        return rnd(ext * -cc / b);
    };
    const double u = solve(a, k, d + b0, (y2 - y0) * (x - x0) - (x2 - x0) * (y - y0), w);
    const double v = solve(a2, k2, d + b02, (y1 - y0) * (x - x0) - (x1 - x0) * (y - y0), h);
    return {int32_t(r.x[0] + u), int32_t(r.y[0] + v)};
}

}  // namespace

TEST(ChannelMap, InverseMapMatchesTheLiteralFormulasOnRandomCells)
{
    uint32_t seed = 12345;
    auto next = [&](int range) {
        seed = seed * 1664525u + 1013904223u;
        return int((seed >> 8) % uint32_t(range)) - range / 2;
    };
    int compared = 0;
    for (int cell = 0; cell < 400 / calibtest::kSampleDivisor; ++cell) {
        const Quad ref = quad({100, 200, 130, 200, 100, 234, 130, 234});
        Quad cor = ref;
        for (std::size_t i = 0; i < 4; ++i) {
            cor.x[i] += next(24);
            cor.y[i] += next(24);
        }
        SpanTable spans;
        ScanQuad(cor, spans);
        QuadCache cache;
        bool first = true;
        for (int y = spans.firstRow; y <= spans.lastRow; ++y)
            for (int x = spans.firstX[std::size_t(y)]; x <= spans.lastX[std::size_t(y)]; ++x) {
                const SourcePixel got = MapPixelInverseBilinear(ref, cor, first, x, y, cache);
                first = false;
                const SourcePixel want = literalInverse(ref, cor, x, y);
                ASSERT_EQ(got.x, want.x) << cell << ": " << x << "," << y;
                ASSERT_EQ(got.y, want.y) << cell << ": " << x << "," << y;
                ++compared;
            }
    }
    EXPECT_GT(compared, 100000 / calibtest::kSampleDivisor);
}

TEST(ChannelMap, WarpedTableEqualsThePixelByPixelMap)
{
    auto m = calibtest::oneOutputModel();
    grid::WarpGrid& g = m->corrected(0);
    for (int c = 0; c < 65; ++c)
        for (int r = 0; r < 33; ++r) {
            g.at(c, r).x = std::clamp(g.at(c, r).x + ((c * 7 + r * 3) % 11) - 5 + (r * c) / 40, 0, 1919);
            g.at(c, r).y = std::clamp(g.at(c, r).y + ((c * 5 + r * 11) % 13) - 6 - c / 4, 0, 1079);
        }
    m->BuildChannelMap(0);
    std::vector<int32_t> want(std::size_t(ChannelMap::kColumns) * ChannelMap::kRows, -1);
    for (int r = 0; r + 1 < 33; ++r)
        for (int c = 0; c + 1 < 65; ++c) {
            Quad ref, cor;
            const int cs[4] = {c, c + 1, c, c + 1}, rs[4] = {r, r, r + 1, r + 1};
            for (std::size_t i = 0; i < 4; ++i) {
                ref.x[i] = m->reference(0).at(cs[i], rs[i]).x;
                ref.y[i] = m->reference(0).at(cs[i], rs[i]).y;
                cor.x[i] = g.at(cs[i], rs[i]).x;
                cor.y[i] = g.at(cs[i], rs[i]).y;
            }
            SpanTable spans;
            ScanQuad(cor, spans, CellOuterSides(c, r, 65, 33));
            QuadCache cache;
            bool first = true;
            for (int y = spans.firstRow; y <= spans.lastRow; ++y)
                for (int x = spans.firstX[std::size_t(y)]; x <= spans.lastX[std::size_t(y)]; ++x) {
                    const SourcePixel s = MapPixelInverseBilinear(ref, cor, first, x, y, cache);
                    first = false;
                    if (uint32_t(s.x) < 1919u && uint32_t(s.y) < 1079u)
                        want[std::size_t(y) * ChannelMap::kColumns + std::size_t(x)] = (s.x << 16) | s.y;
                }
        }
    int differ = 0;
    for (int y = 0; y < ChannelMap::kRows; ++y)
        for (int x = 0; x < ChannelMap::kColumns; ++x)
            differ += m->channelMap().at(x, y) != want[std::size_t(y) * ChannelMap::kColumns + std::size_t(x)];
    EXPECT_EQ(differ, 0);
}

TEST(ChannelMap, GridFoldedOverTheWholeOutputIsRefusedQuickly)
{
    auto m = calibtest::oneOutputModel();
    grid::WarpGrid& g = m->corrected(0);
    // Every cell stretched over the whole output: 2,048 full-table cells.
    for (int c = 0; c < 65; ++c)
        for (int r = 0; r < 33; ++r) {
            g.at(c, r).x = c % 2 ? 1919 : 0;
            g.at(c, r).y = r % 2 ? 1079 : 0;
        }
    EXPECT_FALSE(m->BuildChannelMap(0));
    for (int y = 0; y < ChannelMap::kRows; y += 7)
        for (int x = 0; x < ChannelMap::kColumns; x += 5)
            ASSERT_EQ(m->channelMap().at(x, y), -1);
}
