#pragma once
// The plain records on which grid warping of projector outputs rests: the
// output and screen layout (OutputConfig, stored byte for byte at the head of
// JunctionPoint.QVE), grid points, one output's warp grid, the older larger
// grid kept only for conversion, and the per-pixel editing canvas of the
// custom edge shapes.
//
// Every record is packed and read with explicit little-endian offsets; no
// record is ever copied to or from bytes as a whole structure.

#include <QByteArray>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace grid {

// One output of the player (35 bytes).
struct OutputEntry {
    static constexpr std::size_t kSize = 35;

    int32_t left = 0;  // output rectangle on the screen layout, pixels
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    uint16_t screenIndex = 0;
    uint16_t layoutMode = 0;   // copied from the warp block's cell
    uint16_t outputId = 0;     // 0..8
    uint16_t gridColumns = 0;  // columns in use
    uint16_t gridRows = 0;     // rows in use
    uint16_t lastX = 0;        // width - 1
    uint16_t lastY = 0;        // height - 1
    uint16_t maxX = 0;         // largest x a stored grid point may have
    uint16_t maxY = 0;         // largest y a stored grid point may have
    uint8_t cellByte = 0;      // the byte after the output id in the warp block's cell

    void pack(uint8_t* out) const;           // exactly kSize bytes
    static OutputEntry unpack(const uint8_t* in);  // caller checked kSize bytes
    bool operator==(const OutputEntry&) const = default;
};

// One screen's place on the layout (8 bytes).
struct ScreenRect {
    static constexpr std::size_t kSize = 8;

    uint16_t x = 0;
    uint16_t y = 0;
    uint16_t width = 1920;
    uint16_t height = 1080;

    void pack(uint8_t* out) const;
    static ScreenRect unpack(const uint8_t* in);
    bool operator==(const ScreenRect&) const = default;
};

// Outputs on screens (371 bytes).
struct OutputConfig {
    static constexpr std::size_t kSize = 371;
    static constexpr int kOutputs = 9;
    static constexpr int kScreens = 4;
    // Byte offsets of the fields after the entries.
    static constexpr std::size_t kScreensOffset = 315;
    static constexpr std::size_t kScreenCountOffset = 347;
    static constexpr std::size_t kOutputCountOffset = 349;
    static constexpr std::size_t kLayoutCodeOffset = 351;
    static constexpr std::size_t kChannelCountOffset = 353;
    static constexpr std::size_t kColoursOffset = 355;

    std::array<OutputEntry, kOutputs> outputs{};
    std::array<ScreenRect, kScreens> screens{};
    uint16_t screenCount = 0;
    uint16_t outputCount = 0;  // at most 9
    // Bits 0-3: rotation of screen 0's outputs, bits 4-7: of screen 1's. A
    // stored grid is accepted only when its code equals the current one.
    uint16_t layoutCode = 0;
    uint16_t channelCount = 0;
    std::array<uint32_t, 4> colours{};

    OutputConfig() = default;  // zero entries, screens 0,0,1920,1080, all else 0

    void pack(uint8_t* out) const;  // exactly kSize bytes
    QByteArray toBytes() const;
    // False (and *this untouched) when fewer than kSize bytes are given.
    bool unpack(const uint8_t* in, std::size_t size);
    bool operator==(const OutputConfig&) const = default;
};

// One point of a grid (10 bytes).
struct GridPoint {
    static constexpr std::size_t kSize = 10;

    int32_t x = 0;
    int32_t y = 0;
    uint8_t active = 0;    // a control point: shown, edited and sent
    uint8_t selected = 0;  // part of the current selection

    GridPoint() = default;
    void pack(uint8_t* out) const;
    // Files do not keep the selection: the selected byte is cleared.
    static GridPoint unpack(const uint8_t* in);
    bool operator==(const GridPoint&) const = default;
};

// A column-major array of points with a control-point spacing. The array is
// owned; a grid is never copied as a whole (owners copy points).
template <int Columns, int Rows>
class PointGrid {
public:
    static constexpr int kColumns = Columns;
    static constexpr int kRows = Rows;
    static constexpr std::size_t kPoints = std::size_t(Columns) * std::size_t(Rows);
    static constexpr std::size_t kColumnBytes = std::size_t(Rows) * GridPoint::kSize;
    // Points then the u16 spacing.
    static constexpr std::size_t kPackedSize = kPoints * GridPoint::kSize + 2;
    static constexpr uint16_t kDefaultSpacing = 2;

    // Allocation is expected to succeed; when it does not, points() is null
    // and the grid must not be used.
    PointGrid() : points_(new (std::nothrow) GridPoint[kPoints]()) {}
    ~PointGrid() = default;
    PointGrid(const PointGrid&) = delete;
    PointGrid& operator=(const PointGrid&) = delete;

    static constexpr std::size_t index(int column, int row) { return std::size_t(column) * Rows + std::size_t(row); }
    GridPoint& at(int column, int row) { return points_[index(column, row)]; }
    const GridPoint& at(int column, int row) const { return points_[index(column, row)]; }
    GridPoint* points() { return points_.get(); }
    const GridPoint* points() const { return points_.get(); }
    bool valid() const { return points_ != nullptr; }

    uint16_t spacing = kDefaultSpacing;

    // Points then spacing: exactly kPackedSize bytes.
    void pack(uint8_t* out) const
    {
        for (std::size_t i = 0; i < kPoints; ++i)
            points_[i].pack(out + i * GridPoint::kSize);
        out[kPoints * GridPoint::kSize] = uint8_t(spacing);
        out[kPoints * GridPoint::kSize + 1] = uint8_t(spacing >> 8);
    }
    // False (and the grid untouched) when fewer than kPackedSize bytes are given.
    bool unpack(const uint8_t* in, std::size_t size)
    {
        if (!points_ || size < kPackedSize)
            return false;
        for (std::size_t i = 0; i < kPoints; ++i)
            points_[i] = GridPoint::unpack(in + i * GridPoint::kSize);
        spacing = uint16_t(in[kPoints * GridPoint::kSize] | (in[kPoints * GridPoint::kSize + 1] << 8));
        return true;
    }

private:
    std::unique_ptr<GridPoint[]> points_;
};

// One output's warp grid: 65 columns x 33 rows, spacing 1..64 (default 2).
using WarpGrid = PointGrid<65, 33>;
// The grid of the older JunctionPoint.QVE: 1,024 columns x 256 rows.
using LegacyWarpGrid = PointGrid<1024, 256>;

// The 1,920 x 1,080 editing canvas of the custom edge shapes.
class PixelMap {
public:
    static constexpr int kColumns = 1920;
    static constexpr int kRows = 1080;
    static constexpr std::size_t kPoints = std::size_t(kColumns) * kRows;

    PixelMap();  // allocates, then Reset
    PixelMap(const PixelMap&) = delete;
    PixelMap& operator=(const PixelMap&) = delete;

    // Every point zero; spacing 1,024, columns and rows 1, both scales 1.0.
    void Reset();

    static constexpr std::size_t index(int column, int row) { return std::size_t(column) * kRows + std::size_t(row); }
    GridPoint& at(int column, int row) { return points_[index(column, row)]; }
    const GridPoint& at(int column, int row) const { return points_[index(column, row)]; }
    GridPoint* points() { return points_.get(); }
    const GridPoint* points() const { return points_.get(); }
    bool valid() const { return points_ != nullptr; }

    uint16_t spacing = 1024;
    uint16_t columnsInUse = 1;
    uint16_t rowsInUse = 1;
    double xScale = 1.0;  // how much a shape's canvas was reduced to fit
    double yScale = 1.0;

private:
    std::unique_ptr<GridPoint[]> points_;
};

// Sizes of the grid file in its current and its older form.
inline constexpr std::size_t kJunctionFileSize =
    OutputConfig::kSize + OutputConfig::kOutputs * WarpGrid::kPackedSize;  // 193,439
inline constexpr std::size_t kLegacyJunctionFileSize =
    OutputConfig::kSize + OutputConfig::kOutputs * LegacyWarpGrid::kPackedSize;  // 23,593,349

static_assert(kJunctionFileSize == 193439);
static_assert(kLegacyJunctionFileSize == 23593349);

}  // namespace grid
