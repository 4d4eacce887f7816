// Warped maps without holes: the cells of a corrected grid meet, so every
// pixel inside the warped picture gets a source, and (for grids whose cells
// are convex) a pixel on an edge that two cells share belongs to one of them.

#include "calibration/channel_map.h"
#include "calibration_fixtures.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
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
        bool convexCells;  // every cell convex: each pixel owned exactly once
        Warp warp;
    } rows[] = {
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
                ScanQuad(q, spans);
                for (int y = spans.firstRow; y <= spans.lastRow; ++y)
                    for (int x = spans.firstX[std::size_t(y)]; x <= spans.lastX[std::size_t(y)]; ++x)
                        ++owners[std::size_t(y) * 1920 + std::size_t(x)];
            }
        ASSERT_TRUE(m->BuildChannelMap(0));
        const auto inside = insideRows(g, 65, 33);
        auto isInside = [&](int x, int y) {
            return y < 1080 && std::binary_search(inside[std::size_t(y)].begin(), inside[std::size_t(y)].end(), x);
        };
        long pixels = 0, unowned = 0, shared = 0, sourceless = 0;
        for (int y = 0; y < 1080; ++y)
            for (int x : inside[std::size_t(y)]) {
                ++pixels;
                const uint8_t n = owners[std::size_t(y) * 1920 + std::size_t(x)];
                unowned += n == 0;
                shared += n > 1;
                // Pixels within two of the right or bottom outline take
                // source column 1,919 or row 1,079, which the table leaves -1.
                if (isInside(x + 2, y) && isInside(x, y + 2) && isInside(x + 2, y + 2))
                    sourceless += m->channelMap().at(x, y) == -1;
            }
        EXPECT_GT(pixels, 1200000);
        EXPECT_EQ(unowned, 0);
        EXPECT_EQ(sourceless, 0);
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
