// Warped maps without holes: the cells of a corrected grid meet, so every
// pixel inside the warped picture gets a source, the picture's outline too
// (whichever way the grid is turned), and (for grids whose cells are convex)
// a pixel on an edge that two cells share belongs to one of them.

#include "calibration/channel_map.h"
#include "calibration_fixtures.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <numeric>
#include <vector>

using namespace calib;

namespace {

using Warp = std::function<void(int c, int r, double& x, double& y)>;

// Per row, the pixels inside the picture's outline (the grid's outer
// points), by crossing parity with the same ownership rule as the cells.
std::vector<std::vector<int>> insideRows(const grid::WarpGrid& g, int cols, int rows)
{
    std::vector<std::pair<int64_t, int64_t>> outline;
    for (int c = 0; c < cols; ++c)
        outline.emplace_back(g.at(c, 0).x, g.at(c, 0).y);
    for (int r = 1; r < rows; ++r)
        outline.emplace_back(g.at(cols - 1, r).x, g.at(cols - 1, r).y);
    for (int c = cols - 2; c >= 0; --c)
        outline.emplace_back(g.at(c, rows - 1).x, g.at(c, rows - 1).y);
    for (int r = rows - 2; r > 0; --r)
        outline.emplace_back(g.at(0, r).x, g.at(0, r).y);
    std::vector<std::vector<int>> out(1080);
    for (int y = 0; y < 1080; ++y) {
        std::vector<int64_t> crossings;
        for (std::size_t i = 0; i < outline.size(); ++i) {
            auto [xt, yt] = outline[i];
            auto [xb, yb] = outline[(i + 1) % outline.size()];
            if (yt > yb)
                std::swap(xt, xb), std::swap(yt, yb);
            if (!(yt <= y && y < yb))
                continue;
            const int64_t num = xt * (yb - yt) + (y - yt) * (xb - xt), den = yb - yt;
            crossings.push_back(num / den + (num % den > 0 ? 1 : 0));
        }
        std::sort(crossings.begin(), crossings.end());
        for (std::size_t k = 0; k + 1 < crossings.size(); k += 2)
            for (int64_t x = std::max<int64_t>(crossings[k], 0); x < std::min<int64_t>(crossings[k + 1], 1920); ++x)
                out[std::size_t(y)].push_back(int(x));
    }
    return out;
}

// The pixels exactly on the picture's outline (the grid's outer points
// joined in order), each once.
std::vector<std::pair<int, int>> outlinePixels(const grid::WarpGrid& g, int cols, int rows)
{
    std::vector<std::pair<int, int>> corners;  // walked top, right, bottom, left
    for (int c = 0; c + 1 < cols; ++c)
        corners.emplace_back(c, 0);
    for (int r = 0; r + 1 < rows; ++r)
        corners.emplace_back(cols - 1, r);
    for (int c = cols - 1; c > 0; --c)
        corners.emplace_back(c, rows - 1);
    for (int r = rows - 1; r > 0; --r)
        corners.emplace_back(0, r);
    std::vector<std::pair<int, int>> out;
    for (std::size_t i = 0; i < corners.size(); ++i) {
        const grid::GridPoint& a = g.at(corners[i].first, corners[i].second);
        const auto [nc, nr] = corners[(i + 1) % corners.size()];
        const int dx = g.at(nc, nr).x - a.x, dy = g.at(nc, nr).y - a.y;
        const int n = std::gcd(std::abs(dx), std::abs(dy));  // integer points on the segment, less its end
        for (int k = 0; k < std::max(n, 1); ++k) {
            const int x = a.x + (n ? dx / n * k : 0), y = a.y + (n ? dy / n * k : 0);
            if (x >= 0 && x < 1920 && y >= 0 && y < 1080)
                out.emplace_back(x, y);
        }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// Pixels within two of the outline where the grid's last column or last row
// runs: they take source column 1,919 or row 1,079, which the table leaves
// -1, wherever the warp has turned that side.
std::vector<uint8_t> nearLastColumnOrRow(const grid::WarpGrid& g, int cols, int rows)
{
    std::vector<uint8_t> near(std::size_t(1920) * 1080, 0);
    auto mark = [&](const grid::GridPoint& a, const grid::GridPoint& b) {
        const double length = std::hypot(b.x - a.x, b.y - a.y);
        for (double t = 0; t <= length; t += 0.25) {
            const double f = length > 0 ? t / length : 0, px = a.x + (b.x - a.x) * f, py = a.y + (b.y - a.y) * f;
            for (int y = int(std::floor(py - 2)); y <= int(std::ceil(py + 2)); ++y)
                for (int x = int(std::floor(px - 2)); x <= int(std::ceil(px + 2)); ++x)
                    if (x >= 0 && x < 1920 && y >= 0 && y < 1080 && std::hypot(x - px, y - py) <= 2.0)
                        near[std::size_t(y) * 1920 + std::size_t(x)] = 1;
        }
    };
    for (int r = 0; r + 1 < rows; ++r)
        mark(g.at(cols - 1, r), g.at(cols - 1, r + 1));
    for (int c = 0; c + 1 < cols; ++c)
        mark(g.at(c, rows - 1), g.at(c + 1, rows - 1));
    return near;
}

}  // namespace

TEST(ChannelMapCoverage, WarpedGridsLeaveNoPixelInsideThePictureWithoutASource)
{
    // One thread's arithmetic over six full pictures: nothing for the thread
    // checker to see, and it runs past the time limit there. The plain and
    // address-checked builds run it.
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "single-threaded per-pixel work, too slow under the thread checker";
    const double pi = std::numbers::pi;
    uint32_t seed = 2718;
    auto jitter = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return double(int((seed >> 8) % 29u) - 14);  // up to 14 pixels either way
    };
    const struct Row {
        const char* name;
        bool convexCells;  // every cell convex: each pixel off the outline owned exactly once
        Warp warp;
    } rows[] = {
        {"unwarped", true, [](int, int, double&, double&) {}},
        // Mirrored, the grid's first column lies on the picture's right edge
        // and its source is column 0: the edge must not stay black.
        {"mirrored left to right", true, [](int, int, double& x, double&) { x = 1919 - x; }},
        {"mirrored both ways", true,
         [](int, int, double& x, double& y) {
             x = 1919 - x;
             y = 1079 - y;
         }},
        {"jittered by up to 14 pixels", false,
         [&](int c, int r, double& x, double& y) {
             if (c > 0 && c < 64)
                 x += jitter();
             if (r > 0 && r < 32)
                 y += jitter();
         }},
        {"keystone", true, [](int, int, double& x, double& y) { x = 960 + (x - 960) * (0.7 + 0.3 * y / 1079.0); }},
        {"bulge", true,
         [&](int, int, double& x, double& y) {
             x += 40 * std::sin(pi * y / 1079.0) * (x - 960) / 960.0 * -1;
             y += 30 * std::sin(pi * x / 1919.0) * (y - 540) / 540.0 * -1;
         }},
        {"keystone and bulge", true,
         [&](int, int, double& x, double& y) {
             x = 960 + (x - 960) * (0.8 + 0.2 * y / 1079.0);
             y += 25 * std::sin(pi * x / 1919.0) * (1 - y / 1079.0);
         }},
        {"folded in the middle", false,
         [](int c, int r, double& x, double&) {
             if (r > 10 && r < 20 && (c == 30 || c == 31))
                 x += c == 30 ? 45 : -45;  // two columns crossed over
         }},
        {"rotated three degrees", true,
         [&](int, int, double& x, double& y) {
             const double a = 3 * pi / 180, dx = (x - 960) * 0.9, dy = (y - 540) * 0.9;
             x = 960 + dx * std::cos(a) - dy * std::sin(a);
             y = 540 + dx * std::sin(a) + dy * std::cos(a);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto m = calibtest::oneOutputModel();
        grid::WarpGrid& g = m->corrected(0);
        for (int c = 0; c < 65; ++c)
            for (int r = 0; r < 33; ++r) {
                double x = g.at(c, r).x, y = g.at(c, r).y;
                row.warp(c, r, x, y);
                g.at(c, r).x = std::clamp(int(std::lround(x)), 0, 1919);
                g.at(c, r).y = std::clamp(int(std::lround(y)), 0, 1079);
            }
        // How often the cells' spans reach each pixel.
        std::vector<uint8_t> owners(std::size_t(1920) * 1080, 0);
        for (int r = 0; r + 1 < 33; ++r)
            for (int c = 0; c + 1 < 65; ++c) {
                Quad q;
                const int cs[4] = {c, c + 1, c, c + 1}, rs[4] = {r, r, r + 1, r + 1};
                for (std::size_t i = 0; i < 4; ++i)
                    q.x[i] = g.at(cs[i], rs[i]).x, q.y[i] = g.at(cs[i], rs[i]).y;
                SpanTable spans;
                ScanQuad(q, spans, CellOuterSides(c, r, 65, 33));
                for (int y = spans.firstRow; y <= spans.lastRow; ++y)
                    for (int x = spans.firstX[std::size_t(y)]; x <= spans.lastX[std::size_t(y)]; ++x)
                        ++owners[std::size_t(y) * 1920 + std::size_t(x)];
            }
        ASSERT_TRUE(m->BuildChannelMap(0));
        const auto inside = insideRows(g, 65, 33);
        const auto outline = outlinePixels(g, 65, 33);
        const auto exempt = nearLastColumnOrRow(g, 65, 33);
        std::vector<uint8_t> onOutline(std::size_t(1920) * 1080, 0);
        for (auto [x, y] : outline)
            onOutline[std::size_t(y) * 1920 + std::size_t(x)] = 1;
        long pixels = 0, unowned = 0, shared = 0, sourceless = 0, outlineUnowned = 0, outlineSourceless = 0;
        for (int y = 0; y < 1080; ++y)
            for (int x : inside[std::size_t(y)]) {
                const std::size_t at = std::size_t(y) * 1920 + std::size_t(x);
                ++pixels;
                unowned += owners[at] == 0;
                shared += owners[at] > 1 && !onOutline[at];
                sourceless += !exempt[at] && m->channelMap().at(x, y) == -1;
            }
        // The outline belongs to the cells along it: none of its pixels
        // stays black where it has a source.
        for (auto [x, y] : outline) {
            const std::size_t at = std::size_t(y) * 1920 + std::size_t(x);
            outlineUnowned += owners[at] == 0;
            outlineSourceless += !exempt[at] && m->channelMap().at(x, y) == -1;
        }
        EXPECT_GT(pixels, 1200000);
        EXPECT_EQ(unowned, 0);
        EXPECT_EQ(sourceless, 0);
        EXPECT_EQ(outlineUnowned, 0);
        EXPECT_EQ(outlineSourceless, 0);
        if (row.convexCells) {
            EXPECT_EQ(shared, 0) << "a pixel on a shared edge belongs to one cell";
        }
    }
}

TEST(ChannelMapCoverage, SpansOwnLeftAndTopSidesOnly)
{
    // Two cells side by side sharing the slanted edge (10,0)-(14,8), and the
    // cell below the first sharing its bottom edge.
    const struct {
        const char* name;
        Quad q;
        int y, first, last;
    } rows[] = {
        {"left cell, top row", {{0, 10, 0, 14}, {0, 0, 8, 8}}, 0, 0, 9},
        {"left cell, half way", {{0, 10, 0, 14}, {0, 0, 8, 8}}, 4, 0, 11},
        {"left cell, bottom row not owned", {{0, 10, 0, 14}, {0, 0, 8, 8}}, 8, 0, -1},
        {"right cell, top row", {{10, 20, 14, 20}, {0, 0, 8, 8}}, 0, 10, 19},
        {"right cell, half way", {{10, 20, 14, 20}, {0, 0, 8, 8}}, 4, 12, 19},
        {"right cell, a third of the way", {{10, 20, 14, 20}, {0, 0, 8, 8}}, 3, 12, 19},
        {"left cell, a third of the way", {{0, 10, 0, 14}, {0, 0, 8, 8}}, 3, 0, 11},
        {"cell below owns the shared row", {{0, 14, 0, 14}, {8, 8, 16, 16}}, 8, 0, 13},
    };
    for (const auto& r : rows) {
        SpanTable spans;
        ScanQuad(r.q, spans);
        EXPECT_EQ(spans.firstX[std::size_t(r.y)], r.first) << r.name;
        EXPECT_EQ(spans.lastX[std::size_t(r.y)], r.last) << r.name;
    }
}
