// Output and grid records: byte layout, defaults, and the conversions of the
// two older file forms (including damaged ones).

#include "core/config_exchange.h"
#include "core/output_config.h"
#include "tests/support/test_support.h"
#include "transport/protocol.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <tuple>
#include <vector>

using namespace grid;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const uint8_t* bytesOf(const QByteArray& a) { return reinterpret_cast<const uint8_t*>(a.constData()); }
uint8_t* bytesOf(QByteArray& a) { return reinterpret_cast<uint8_t*>(a.data()); }

GridPoint point(int32_t x, int32_t y, uint8_t active, uint8_t selected = 0)
{
    GridPoint p;
    p.x = x;
    p.y = y;
    p.active = active;
    p.selected = selected;
    return p;
}

}  // namespace

TEST(OutputConfig, FreshRecordHasOnlyTheScreenSizesSet)
{
    QByteArray expected(371, '\0');
    for (std::size_t screen = 0; screen < 4; ++screen) {
        proto::putU16(bytesOf(expected) + 315 + screen * 8 + 4, 1920);
        proto::putU16(bytesOf(expected) + 315 + screen * 8 + 6, 1080);
    }
    EXPECT_EQ(OutputConfig().toBytes(), expected);
}

TEST(OutputConfig, FieldsLandAtTheirOffsetsAndReadBack)
{
    OutputConfig c;
    c.outputs[1] = OutputEntry{-5, 0, 0, 1080, 1, 0, 0, 30, 34, 0, 0, 0, 0xBEEF, 0xAB};
    c.screens[3] = ScreenRect{10, 20, 1280, 720};
    c.screenCount = 2;
    c.outputCount = 9;
    c.layoutCode = 0x21;
    c.channelCount = 4;
    c.colours = {0x11223344u, 2, 3, 0xFFFFFFFFu};
    const QByteArray b = c.toBytes();
    const uint8_t* p = bytesOf(b);

    struct Field {
        std::size_t offset;
        uint32_t value;
        int width;
    };
    const Field fields[] = {
        {35 + 0, uint32_t(-5), 4}, {35 + 12, 1080, 4}, {35 + 16, 1, 2},     {35 + 22, 30, 2},
        {35 + 24, 34, 2},          {35 + 32, 0xBEEF, 2}, {35 + 34, 0xAB, 1}, {315 + 24, 10, 2},
        {315 + 26, 20, 2},         {315 + 28, 1280, 2}, {315 + 30, 720, 2}, {347, 2, 2},
        {349, 9, 2},               {351, 0x21, 2},      {353, 4, 2},        {355, 0x11223344u, 4},
        {367, 0xFFFFFFFFu, 4},
    };
    for (const Field& f : fields) {
        const uint32_t got = f.width == 4 ? proto::getU32(p + f.offset) : f.width == 2 ? proto::getU16(p + f.offset) : p[f.offset];
        EXPECT_EQ(got, f.value) << "offset " << f.offset;
    }

    OutputConfig back;
    EXPECT_FALSE(back.unpack(p, 370));
    EXPECT_EQ(back, OutputConfig());
    ASSERT_TRUE(back.unpack(p, std::size_t(b.size())));
    EXPECT_EQ(back, c);
}

TEST(GridRecords, PointLayoutAndGridIndexing)
{
    uint8_t raw[10];
    point(-2, 0x01020304, 1, 1).pack(raw);
    const uint8_t expected[10] = {0xFE, 0xFF, 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01, 1, 1};
    EXPECT_EQ(std::vector<uint8_t>(raw, raw + 10), std::vector<uint8_t>(expected, expected + 10));
    EXPECT_EQ(GridPoint::unpack(raw), point(-2, 0x01020304, 1, 0));  // selection is not kept in files

    // Column-major, 65 columns of 33 rows, spacing last.
    WarpGrid g;
    ASSERT_TRUE(g.valid());
    EXPECT_EQ(g.spacing, 2);
    g.at(64, 32) = point(7, 8, 1);
    g.at(2, 5) = point(-1, -1, 1);
    g.spacing = 64;
    std::vector<uint8_t> packed(WarpGrid::kPackedSize);
    g.pack(packed.data());
    EXPECT_EQ(packed.size(), 21452u);
    EXPECT_EQ(proto::getI32(packed.data() + 2144 * 10), 7);
    EXPECT_EQ(proto::getI32(packed.data() + 10 * (33 * 2 + 5)), -1);
    EXPECT_EQ(proto::getU16(packed.data() + 21450), 64);

    WarpGrid h;
    EXPECT_FALSE(h.unpack(packed.data(), packed.size() - 1));
    EXPECT_EQ(h.at(64, 32), GridPoint());
    ASSERT_TRUE(h.unpack(packed.data(), packed.size()));
    EXPECT_EQ(h.at(64, 32), point(7, 8, 1));
    EXPECT_EQ(h.spacing, 64);
    EXPECT_EQ(LegacyWarpGrid::kPackedSize, 2621442u);
    EXPECT_EQ(LegacyWarpGrid().spacing, 2);
}

TEST(GridRecords, PixelMapResetRestoresDefaults)
{
    PixelMap m;
    ASSERT_TRUE(m.valid());
    m.at(1919, 1079) = point(1, 2, 1, 1);
    m.at(0, 0) = point(3, 4, 1);
    m.spacing = m.columnsInUse = m.rowsInUse = 8;
    m.xScale = m.yScale = 0.5;
    m.Reset();
    EXPECT_EQ(std::make_tuple(m.spacing, m.columnsInUse, m.rowsInUse), std::make_tuple(1024, 1, 1));
    EXPECT_EQ(std::make_pair(m.xScale, m.yScale), std::make_pair(1.0, 1.0));
    EXPECT_EQ(m.points()[PixelMap::kPoints - 1], GridPoint());
    EXPECT_EQ(m.at(0, 0), GridPoint());
}

// ---------------------------------------------------------------------------
// The older file forms. Grid file: 371 + 9 x (1,024 x 256 points + spacing);
// edge-shape file: four blocks of 1,920 x 1,080 points + spacing, width, height.

namespace {

constexpr std::size_t kBlock = std::size_t(1920) * 1080 * 10 + 6;
constexpr std::size_t kRecord = 76806;

QByteArray legacyJunction(uint16_t outputCount)
{
    QByteArray f(qsizetype(cfgx::kLegacyJunctionPointSize), '\0');
    OutputConfig c;
    c.outputCount = outputCount;
    c.layoutCode = 0x12;
    c.pack(bytesOf(f));
    for (int o = 0; o < 9; ++o) {
        uint8_t* g = bytesOf(f) + OutputConfig::kSize + std::size_t(o) * LegacyWarpGrid::kPackedSize;
        // Marks inside and just outside the kept 65 x 33 corner.
        point(o, 1, 1, 1).pack(g + LegacyWarpGrid::index(0, 0) * 10);
        point(o, 2, 1).pack(g + LegacyWarpGrid::index(64, 32) * 10);
        point(o, 3, 1).pack(g + LegacyWarpGrid::index(64, 33) * 10);
        point(o, 4, 1).pack(g + LegacyWarpGrid::index(65, 0) * 10);
        proto::putU16(g + LegacyWarpGrid::kPoints * 10, uint16_t(10 + o));
    }
    return f;
}

using Sizes = std::array<std::array<uint16_t, 2>, 4>;

QByteArray legacyShapes(const Sizes& sizes)
{
    QByteArray f(qsizetype(cfgx::kLegacyCustomShapesSize), '\0');
    for (int b = 0; b < 4; ++b) {
        uint8_t* block = bytesOf(f) + std::size_t(b) * kBlock;
        const int w = sizes[b][0], h = sizes[b][1];
        // Marks stay on the canvas even when the stored size claims more.
        const int right = std::min(w ? w - 1 : 0, 1919), bottom = std::min(h ? h - 1 : 0, 1079);
        for (int c = 0; c < 1920; ++c) {
            point(c, 0, 1).pack(block + PixelMap::index(c, 0) * 10);
            if (bottom)
                point(c, bottom, 1).pack(block + PixelMap::index(c, bottom) * 10);
        }
        for (int r = 1; r < 1080; ++r) {
            point(0, r, 1).pack(block + PixelMap::index(0, r) * 10);
            point(right, r, 1, 1).pack(block + PixelMap::index(right, r) * 10);
        }
        proto::putU16(block + kBlock - 6, uint16_t(4 + b));
        proto::putU16(block + kBlock - 4, uint16_t(w));
        proto::putU16(block + kBlock - 2, uint16_t(h));
    }
    return f;
}

GridPoint at(const QByteArray& f, std::size_t offset) { return GridPoint::unpack(bytesOf(f) + offset); }

}  // namespace

TEST(LegacyConversion, OldGridFileKeepsTheCornerOfEachCountedOutput)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("JunctionPoint.QVE");
    const QByteArray old = legacyJunction(2);
    ASSERT_TRUE(writeFile(path, old));
    ASSERT_TRUE(cfgx::ConvertLegacyJunctionPoint(path));

    const QByteArray now = readFile(path);
    ASSERT_EQ(std::size_t(now.size()), cfgx::kJunctionPointSize);
    EXPECT_EQ(now.left(371), old.left(371));
    for (int o = 0; o < 9; ++o) {
        SCOPED_TRACE(o);
        WarpGrid g;
        ASSERT_TRUE(g.unpack(bytesOf(now) + 371 + std::size_t(o) * WarpGrid::kPackedSize, WarpGrid::kPackedSize));
        const bool counted = o < 2;  // beyond the count: fresh grids
        EXPECT_EQ(g.at(0, 0), counted ? point(o, 1, 1) : GridPoint());
        EXPECT_EQ(g.at(64, 32), counted ? point(o, 2, 1) : GridPoint());
        EXPECT_EQ(g.spacing, counted ? 10 + o : 2);
        int active = 0;
        for (std::size_t i = 0; i < WarpGrid::kPoints; ++i)
            active += g.points()[i].active;
        EXPECT_EQ(active, counted ? 2 : 0);  // the marks outside the corner are not taken
    }
}

TEST(LegacyConversion, OldEdgeShapesBecomeFourEdgeRecords)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("CustomShapesPoint.QVE");
    const Sizes sizes{{{1920, 1080}, {960, 540}, {0, 0}, {1, 1}}};
    ASSERT_TRUE(writeFile(path, legacyShapes(sizes)));
    ASSERT_TRUE(cfgx::ConvertLegacyCustomShapes(path));

    const QByteArray now = readFile(path);
    ASSERT_EQ(std::size_t(now.size()), cfgx::kCustomShapesSize);
    for (int b = 0; b < 4; ++b) {
        SCOPED_TRACE(b);
        const std::size_t rec = std::size_t(b) * kRecord;
        const int w = sizes[b][0], h = sizes[b][1];
        EXPECT_EQ(proto::getU16(bytesOf(now) + rec), 4 + b);
        EXPECT_EQ(proto::getU16(bytesOf(now) + rec + 2), w);
        EXPECT_EQ(proto::getU16(bytesOf(now) + rec + 4), h);
        const std::size_t top = rec + 6, bot = top + 19200, left = bot + 19200, rgt = left + 19200;
        EXPECT_EQ(at(now, top + 10 * 1919), point(1919, 0, 1));
        EXPECT_EQ(at(now, bot + 10 * 100).y, h ? h - 1 : 0);
        EXPECT_EQ(at(now, left + 10 * 1079), point(0, 1079, 1));
        EXPECT_EQ(at(now, rgt + 10 * 500), point(w ? w - 1 : 0, 500, 1));  // selection cleared
        EXPECT_EQ(at(now, left + 10 * 1080), GridPoint());                 // the 840 spare entries
        EXPECT_EQ(at(now, rgt + 10 * 1919), GridPoint());
    }
}

TEST(LegacyConversion, DamagedOrOtherFilesAreLeftAlone)
{
    QTemporaryDir dir;
    const auto grid = cfgx::ConvertLegacyJunctionPoint, shapes = cfgx::ConvertLegacyCustomShapes;
    // Built one at a time: the older files are large.
    const std::tuple<const char*, bool (*)(const QString&), std::function<QByteArray()>> cases[] = {
        {"grid, count above nine", grid, [] { return legacyJunction(10); }},
        {"grid, one byte short", grid, [] { return legacyJunction(1).chopped(1); }},
        {"grid, current form", grid, [] { return QByteArray(qsizetype(cfgx::kJunctionPointSize), '\x01'); }},
        {"grid, empty", grid, [] { return QByteArray(); }},
        {"shapes, too wide", shapes, [] { return legacyShapes({{{1920, 1080}, {1921, 10}, {1, 1}, {1, 1}}}); }},
        {"shapes, too tall", shapes, [] { return legacyShapes({{{1920, 1080}, {1, 1}, {1, 1}, {5, 1081}}}); }},
        {"shapes, small", shapes, [] { return QByteArray(1000, '\0'); }},
    };
    const QString path = dir.filePath("file.QVE");
    for (const auto& [what, convert, make] : cases) {
        SCOPED_TRACE(what);
        const QByteArray bytes = make();
        ASSERT_TRUE(writeFile(path, bytes));
        EXPECT_FALSE(convert(path));
        EXPECT_TRUE(readFile(path) == bytes);
    }
    EXPECT_FALSE(grid(dir.filePath("missing.QVE")));
    EXPECT_FALSE(shapes(dir.filePath("missing.QVE")));
}
