// The whole table of one output, built the fast way, against a plain
// reference build: spans scanned row by row from the ownership rule and every
// pixel mapped on its own by MapPixelInverseBilinear (itself held to the
// literal formulas). Every entry of the 2,048 x 1,080 table is compared, for
// grids that take every path of the fast build: identity, strong warps,
// fold-over, cells on and beyond the edges, cells wholly outside the output,
// and reference cells the vector path does not take.

#include "calibration/channel_map.h"
#include "calibration_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

using namespace calib;

namespace {

// Spans of one quad straight from the ownership rule, pixel row by row and
// edge by edge with one exact division each: a crossing at x = xt + (y - yt)
// dx / dy for ya <= y < yb, the row from the smallest ceil(crossing) to the
// largest ceil(crossing) - 1; and on each side of the grid's outline every
// point exactly on it, both ends included.
void literalSpans(const Quad& q, SpanTable& spans, unsigned outerSides = 0)
{
    static constexpr int kOrder[4][2] = {{0, 1}, {1, 3}, {3, 2}, {2, 0}};
    spans.firstRow = std::max(0, std::min({q.y[0], q.y[1], q.y[2], q.y[3]}));
    spans.lastRow = std::min(1079, std::max({q.y[0], q.y[1], q.y[2], q.y[3]}));
    spans.firstColumn = std::max(0, std::min({q.x[0], q.x[1], q.x[2], q.x[3]}));
    spans.lastColumn = std::min(1919, std::max({q.x[0], q.x[1], q.x[2], q.x[3]}));
    for (int y = spans.firstRow; y <= spans.lastRow; ++y) {
        __int128 low = INT64_MAX, high = INT64_MIN;
        for (const auto& ends : kOrder) {
            __int128 xt = q.x[std::size_t(ends[0])], yt = q.y[std::size_t(ends[0])];
            __int128 xb = q.x[std::size_t(ends[1])], yb = q.y[std::size_t(ends[1])];
            if (yt > yb) {
                std::swap(xt, xb);
                std::swap(yt, yb);
            }
            if (!(yt <= y && y < yb))
                continue;
            const __int128 num = xt * (yb - yt) + (y - yt) * (xb - xt), den = yb - yt;
            const __int128 ceiling = num / den + (num % den > 0 ? 1 : 0);  // C++ truncates toward zero
            low = std::min(low, ceiling);
            high = std::max(high, ceiling - 1);
        }
        for (std::size_t side = 0; side < 4; ++side) {
            if (!(outerSides & (1u << side)))
                continue;
            const __int128 xs = q.x[std::size_t(kOrder[side][0])], ys = q.y[std::size_t(kOrder[side][0])];
            const __int128 xe = q.x[std::size_t(kOrder[side][1])], ye = q.y[std::size_t(kOrder[side][1])];
            if (ys == ye && ys == y) {
                low = std::min({low, xs, xe});
                high = std::max({high, xs, xe});
            } else if (ys != ye && std::min(ys, ye) <= y && y <= std::max(ys, ye) &&
                       (y - ys) * (xe - xs) % (ye - ys) == 0) {
                const __int128 x = xs + (y - ys) * (xe - xs) / (ye - ys);
                low = std::min(low, x);
                high = std::max(high, x);
            }
        }
        low = std::max<__int128>(low, spans.firstColumn);
        high = std::min<__int128>(high, spans.lastColumn);
        if (low > high)  // an empty row, written one way
            low = spans.firstColumn, high = spans.firstColumn - 1;
        spans.firstX[std::size_t(y)] = int32_t(low);
        spans.lastX[std::size_t(y)] = int32_t(high);
    }
}

// Under the sanitizers the reference maps every kSampleDivisor-th row only.
bool sampledRow(int y)
{
    return y % calibtest::kSampleDivisor == 0;
}

std::vector<int32_t> referenceTable(const CGeometricCorrection& m)
{
    std::vector<int32_t> table(ChannelMap::kEntries, -1);
    const grid::OutputEntry& e = m.config.outputs[0];
    for (int r = 0; r + 1 < e.gridRows; ++r)
        for (int c = 0; c + 1 < e.gridColumns; ++c) {
            Quad ref, cor;
            const int cs[4] = {c, c + 1, c, c + 1}, rs[4] = {r, r, r + 1, r + 1};
            for (std::size_t i = 0; i < 4; ++i) {
                ref.x[i] = m.reference(0).at(cs[i], rs[i]).x;
                ref.y[i] = m.reference(0).at(cs[i], rs[i]).y;
                cor.x[i] = m.corrected(0).at(cs[i], rs[i]).x;
                cor.y[i] = m.corrected(0).at(cs[i], rs[i]).y;
            }
            SpanTable spans;
            literalSpans(cor, spans, CellOuterSides(c, r, e.gridColumns, e.gridRows));
            QuadCache cache;
            bool first = true;
            for (int y = spans.firstRow; y <= spans.lastRow; ++y)
                for (int x = spans.firstX[std::size_t(y)]; sampledRow(y) && x <= spans.lastX[std::size_t(y)]; ++x) {
                    const SourcePixel s = MapPixelInverseBilinear(ref, cor, first, x, y, cache);
                    first = false;
                    if (uint32_t(s.x) < 1919u && uint32_t(s.y) < 1079u)
                        table[std::size_t(y) * ChannelMap::kColumns + std::size_t(x)] =
                            int32_t(((uint32_t(s.x) & 0xFFFu) << 16) | (uint32_t(s.y) & 0xFFFu));
                }
        }
    return table;
}

using Warp = std::function<void(CGeometricCorrection&)>;

// Moves every corrected point by f(reference x, reference y).
Warp everyPoint(std::function<void(double x, double y, int c, int r, grid::GridPoint&)> f)
{
    return [f](CGeometricCorrection& m) {
        for (int c = 0; c < 65; ++c)
            for (int r = 0; r < 33; ++r) {
                const grid::GridPoint& ref = m.reference(0).at(c, r);
                f(ref.x, ref.y, c, r, m.corrected(0).at(c, r));
            }
    };
}

int32_t held(double v)
{
    return int32_t(std::clamp(v, -2.0e9, 2.0e9));
}

constexpr double kPi = std::numbers::pi;

}  // namespace

struct WarpRow {
    const char* name;
    Warp warp;
};

// One test a grid, so that each stays short under the address and thread
// checkers, which slow the per-pixel reference many times over.
const std::vector<WarpRow>& warpRows()
{
    static const std::vector<WarpRow> rows = {
        {"identity", [](CGeometricCorrection&) {}},
        {"keystone, bow and waves", everyPoint([](double x, double y, int, int, grid::GridPoint& p) {
             const double u = x / 1919.0, v = y / 1079.0;
             p.x = held(960 + (x - 960) * (0.8 + 0.2 * v) + 25 * std::sin(2 * kPi * v * 3));
             p.y = held(y + 90 * std::sin(kPi * u) * (1 - v) + 15 * std::sin(2 * kPi * u * 4));
         })},
        {"sheared parallelograms", everyPoint([](double x, double y, int, int, grid::GridPoint& p) {
             p.x = held(x * 0.9 + y * 0.17);
             p.y = held(y * 0.95 - x * 0.05 + 60);
         })},
        {"strong swirl", everyPoint([](double x, double y, int, int, grid::GridPoint& p) {
             const double dx = x - 960, dy = y - 540, r = std::hypot(dx, dy) / 1100.0;
             const double t = 0.9 * (1 - r) * (1 - r);
             p.x = held(960 + dx * std::cos(t) - dy * std::sin(t));
             p.y = held(540 + dx * std::sin(t) + dy * std::cos(t));
         })},
        {"fold-over", everyPoint([](double x, double y, int c, int r, grid::GridPoint& p) {
             // Every third column pulled past its neighbour, rows crossing
             // in the middle band: bow-tie and overlapping cells.
             p.x = held(x + (c % 3 == 1 ? 55 : 0) - (r % 4 == 2 ? 20 : 0));
             p.y = held(y + (r >= 14 && r <= 18 ? (r % 2 ? -50 : 50) : 0) + (c % 5 == 0 ? 30 : 0));
         })},
        {"edges and beyond", everyPoint([](double x, double y, int c, int r, grid::GridPoint& p) {
             // The outer points pushed onto and past the borders of the table.
             p.x = held(c == 0 ? -37 : c == 64 ? 1919 + 64 : c == 63 ? 1919 : x * 1.04 - 20);
             p.y = held(r == 0 ? -25 : r == 32 ? 1140 : r == 31 ? 1079 : y * 1.03 - 10);
         })},
        {"cells outside the output", everyPoint([](double x, double y, int c, int r, grid::GridPoint& p) {
             p.x = held(c < 20 ? x - 2600 : c > 50 ? x + 3000 : x);
             p.y = held(r < 6 ? y - 5000 : r > 28 ? y + 1500 : y);
         })},
        {"points far out", everyPoint([](double x, double y, int c, int r, grid::GridPoint& p) {
             p.x = held((c * 31 + r) % 97 == 0 ? 3.0e6 : (c + r * 7) % 89 == 0 ? -2.0e9 : x);
             p.y = held((c + r * 13) % 83 == 0 ? -4.0e6 : y);
         })},
        {"random jitter", everyPoint([](double x, double y, int c, int r, grid::GridPoint& p) {
             uint32_t s = uint32_t(c * 131 + r * 977 + 7);
             for (int i = 0; i < 3; ++i)
                 s = s * 1664525u + 1013904223u;
             p.x = held(x + double(int(s >> 24) % 41 - 20));
             p.y = held(y + double(int((s >> 16) & 0xFF) % 29 - 14));
         })},
        {"heavy random folding", everyPoint([](double x, double y, int c, int r, grid::GridPoint& p) {
             // Points moved by up to two cells: twisted, folded and
             // inside-out cells of every shape.
             uint32_t s = uint32_t(c * 7919 + r * 104729 + 3);
             for (int i = 0; i < 4; ++i)
                 s = s * 1664525u + 1013904223u;
             p.x = held(x + double(int(s >> 20) % 121 - 60));
             p.y = held(y + double(int((s >> 8) & 0xFFF) % 81 - 40));
         })},
        {"rows collapsed onto their neighbours", [](CGeometricCorrection& m) {
             // Cells whose four corners share one row: every edge is flat
             // and the first one in order gives the span.
             for (int c = 0; c < 65; ++c)
                 for (int r = 1; r + 1 < 33; r += 4) {
                     m.corrected(0).at(c, r).y = m.reference(0).at(c, r + 1).y;
                     m.corrected(0).at(c, r).x -= 9;
                     m.corrected(0).at(c, r + 1).x += 13 + c % 3;
                 }
         }},
        {"flat cells alone", [](CGeometricCorrection& m) {
             // Two cells, each with its four corners on row 500: cells with
             // no area own no pixel inside, only their outline on that row.
             m.config.outputs[0].gridColumns = 3;
             m.config.outputs[0].gridRows = 2;
             for (int c = 0; c < 3; ++c) {
                 m.corrected(0).at(c, 0) = m.corrected(0).at(c, 1);
                 m.corrected(0).at(c, 0).x = 100 + 600 * c;
                 m.corrected(0).at(c, 0).y = 500;
                 m.corrected(0).at(c, 1).x = 400 + 600 * c;
                 m.corrected(0).at(c, 1).y = 500;
             }
         }},
        {"mirrored and flat reference cells", [](CGeometricCorrection& m) {
             // Reference cells of negative or zero size take the scalar way.
             for (int c = 0; c < 65; ++c)
                 for (int r = 0; r < 33; ++r) {
                     grid::GridPoint& ref = m.reference(0).at(c, r);
                     if (c >= 40 && c < 50)
                         ref.x = 1919 - ref.x;
                     if (r >= 10 && r < 13)
                         ref.y = 360;
                     m.corrected(0).at(c, r).x = held(ref.x * 0.97 + r);
                 }
         }},
        {"small grid", [](CGeometricCorrection& m) {
             m.config.outputs[0].gridColumns = 5;
             m.config.outputs[0].gridRows = 4;
             m.corrected(0).at(4, 3).x = 900;
             m.corrected(0).at(4, 3).y = 600;
             m.corrected(0).at(1, 1).x = 20;
         }},
    };
    return rows;
}

class ChannelMapTable : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ChannelMapTable, FastBuildEqualsThePixelByPixelReferenceAtEveryEntry)
{
    ChannelMap map;
    {
        const WarpRow& row = warpRows()[GetParam()];
        auto m = calibtest::oneOutputModel();
        row.warp(*m);
        const std::vector<int32_t> want = referenceTable(*m);
        for (const MapPath path : {MapPath::Fastest, MapPath::Avx2, MapPath::Baseline}) {
            const char* pathName = path == MapPath::Fastest ? "fastest" : path == MapPath::Avx2 ? "avx2" : "baseline";
            // The table starts dirty: every entry must be written or reset.
            for (int y = 0; y < ChannelMap::kRows; ++y)
                std::fill(map.row(y), map.row(y) + ChannelMap::kColumns, 0x01230456);
            const bool built = BuildChannelMap(m->reference(0), m->corrected(0), m->config.outputs[0], map, path);
            ASSERT_TRUE(built) << row.name << ", " << pathName;
            int differ = 0, filled = 0, firstX = -1, firstY = -1;
            for (int y = 0; y < ChannelMap::kRows; ++y)
                for (int x = 0; sampledRow(y) && x < ChannelMap::kColumns; ++x) {
                    const int32_t w = want[std::size_t(y) * ChannelMap::kColumns + std::size_t(x)];
                    filled += w != -1;
                    if (map.at(x, y) != w && differ++ == 0)
                        firstX = x, firstY = y;
                }
            EXPECT_EQ(differ, 0) << row.name << ", " << pathName << ": first at " << firstX << "," << firstY;
            EXPECT_GT(filled, 0) << row.name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Grids, ChannelMapTable, ::testing::Range(std::size_t(0), warpRows().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             std::string name;
                             for (const char* c = warpRows()[info.param].name; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return std::to_string(info.param) + "_" + name;
                         });

TEST(ChannelMapSpans, SpansEqualTheLiteralEdgeFormulasForRandomQuads)
{
    // Quads around the table at every scale: the integer path holds for
    // points within +-2^24, the f64 formulas beyond.
    const struct {
        const char* name;
        int32_t centre, spread;
    } rows[] = {
        {"cell sized", 600, 60},
        {"table sized", 900, 2600},
        {"near the integer limit", 0, 1 << 24},
        {"beyond the integer limit", 0, 1 << 27},
        {"far out", 0, 2000000000},
    };
    uint64_t seed = 99;
    // A point within centre +- spread, held to 32 bits.
    auto coordinate = [&](int64_t centre, int64_t spread) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        const int64_t v = centre + int64_t((seed >> 11) % uint64_t(2 * spread + 1)) - spread;
        return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
    };
    for (const auto& row : rows) {
        for (int n = 0; n < 3000 / calibtest::kSampleDivisor; ++n) {
            Quad q;
            for (std::size_t i = 0; i < 4; ++i) {
                q.x[i] = coordinate(row.centre, row.spread);
                q.y[i] = coordinate(row.centre / 2, row.spread);
                if (n % 7 == 0 && i % 2 == 1)
                    q.y[i] = q.y[i - 1];  // flat edges
            }
            // Every combination of sides on the grid's outline, in turn.
            const unsigned outer = unsigned(n) % 16u;
            SpanTable got, want;
            ScanQuad(q, got, outer);
            literalSpans(q, want, outer);
            ASSERT_EQ(got.firstRow, want.firstRow) << row.name << " " << n;
            ASSERT_EQ(got.lastRow, want.lastRow) << row.name << " " << n;
            for (int y = want.firstRow; y <= want.lastRow; ++y) {
                const std::size_t at = std::size_t(y);
                ASSERT_EQ(got.firstX[at], want.firstX[at]) << row.name << " " << n << " row " << y << " sides " << outer;
                ASSERT_EQ(got.lastX[at], want.lastX[at]) << row.name << " " << n << " row " << y << " sides " << outer;
            }
        }
    }
}
