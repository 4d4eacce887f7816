#pragma once
// The per-pixel map of one output: for every pixel the player shows, the
// pixel of the unwarped picture to take. Each cell of the corrected grid is
// scan-converted and every pixel inside it is mapped back into the matching
// reference cell by inverting the cell's bilinear map.

#include "core/output_config.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <memory>

namespace calib {

// Four points of one cell: top-left P0, top-right P1, bottom-left P2,
// bottom-right P3.
struct Quad {
    std::array<int32_t, 4> x{};
    std::array<int32_t, 4> y{};
};

// Rows and per-row column ranges of one quad, within the table.
struct SpanTable {
    static constexpr int kRows = 1080;
    int32_t lastRow = -1;
    int32_t firstRow = 0;
    int32_t lastColumn = -1;
    int32_t firstColumn = 0;
    std::array<int32_t, kRows> firstX{};
    std::array<int32_t, kRows> lastX{};
};

// Per-quad terms of the inverse map, computed on the first pixel of a quad.
struct QuadCache {
    double a = 0, k = 0, b0 = 0;     // horizontal solve
    double a2 = 0, k2 = 0, b02 = 0;  // vertical solve
};

struct SourcePixel {
    int32_t x = 0;
    int32_t y = 0;
};

// Rounds half away from zero: floor(v + 0.5) above 0, else ceil(v - 0.5).
double roundHalfAway(double v);

// Sides of a quad, named as in the grid (top P0-P1, right P1-P3, bottom
// P3-P2, left P2-P0), whatever way the corrected grid turns them.
enum QuadSide : unsigned { kTopSide = 1, kRightSide = 2, kBottomSide = 4, kLeftSide = 8 };

// Fills the span table for one corrected quad: per row, the pixels from its
// leftmost edge crossing (inclusive) to its rightmost (exclusive), each edge
// over its rows from its upper point (inclusive) to its lower (exclusive),
// crossings exact. Cells that share an edge so meet without a gap, and a
// pixel on the shared edge belongs to one of them. A side in `outerSides`
// lies on the outline of the whole grid, where no neighbour takes the
// pixels the rule leaves out: the quad also owns every pixel exactly on
// it, both ends included. Spans are clamped to columns 0..1,919 and rows
// 0..1,079; a row with no pixel has first > last.
void ScanQuad(const Quad& corrected, SpanTable& spans, unsigned outerSides = 0);

// The sides of cell (column, row) of a grid of columns x rows points that
// lie on the grid's outline.
inline unsigned CellOuterSides(int column, int row, int columns, int rows)
{
    return (row == 0 ? kTopSide : 0u) | (column + 2 == columns ? kRightSide : 0u) |
           (row + 2 == rows ? kBottomSide : 0u) | (column == 0 ? kLeftSide : 0u);
}

// Maps output pixel (x, y) inside the corrected quad back to the reference
// quad. first = true computes the per-quad terms into cache; false reuses them.
SourcePixel MapPixelInverseBilinear(const Quad& reference, const Quad& corrected, bool first, int32_t x,
                                    int32_t y, QuadCache& cache);

// The index table: 2,048 columns x 1,080 rows of (sx << 16) | sy, -1 for none.
// Stored row by row, so that one row of the player's payload is one copy.
class ChannelMap {
public:
    static constexpr int kColumns = 2048;
    static constexpr int kRows = 1080;
    static constexpr int kOutputColumns = 1920;
    static constexpr std::size_t kEntries = std::size_t(kColumns) * kRows;
    // The CMD_CHANNEL_MAP_DATA payload: 1,920 x 1,080 words, row by row.
    static constexpr std::size_t kPayloadSize = std::size_t(kOutputColumns) * kRows * 4;  // 8,294,400

    ChannelMap();
    ChannelMap(const ChannelMap&) = delete;
    ChannelMap& operator=(const ChannelMap&) = delete;

    void clear();  // every entry -1
    int32_t at(int x, int y) const { return entries_[std::size_t(y) * kColumns + std::size_t(x)]; }
    int32_t* row(int y) { return entries_.get() + std::size_t(y) * kColumns; }
    const int32_t* row(int y) const { return entries_.get() + std::size_t(y) * kColumns; }

    QByteArray payload() const;  // kPayloadSize bytes, little-endian words

private:
    std::unique_ptr<int32_t[]> entries_;
};

// Builds the table of one output from its reference and corrected grids
// (every point, active or not); columns and rows come from the output entry
// and are held within the grid. A sound grid's cells cover the output about
// once; a grid folded so far that its cells would cover it more than
// kMapPixelBudget / 2,073,600 times is refused: the table is left all -1 and
// the result is false, so that a damaged grid cannot stall the program.
// Every path gives the same table bit for bit. Fastest takes the widest
// vector instructions the processor has (AVX-512, AVX2, else SSE2); Avx2
// and Baseline (SSE2, in every x86-64 processor) stop short of it, so that
// tests cover each kernel on a machine that has them.
inline constexpr std::size_t kMapPixelBudget = std::size_t(8) * 1920 * 1080;
enum class MapPath { Fastest, Avx2, Baseline };
bool BuildChannelMap(const grid::WarpGrid& reference, const grid::WarpGrid& corrected,
                     const grid::OutputEntry& entry, ChannelMap& map, MapPath path = MapPath::Fastest);

}  // namespace calib
