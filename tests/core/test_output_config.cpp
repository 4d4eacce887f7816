// Output and grid records: byte layout, defaults, and the conversions of the
// two older file forms (including damaged ones).

#include "core/config_exchange.h"
#include "core/output_config.h"
#include "transport/protocol.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace grid;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

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
    const QByteArray bytes = OutputConfig().toBytes();
    ASSERT_EQ(bytes.size(), 371);
    for (int i = 0; i < bytes.size(); ++i) {
        uint8_t expected = 0;
        if (i >= 315 && i < 347) {
            const int field = (i - 315) % 8;
            if (field == 4)
                expected = 0x80;  // 1920 = 0x0780
            else if (field == 5)
                expected = 0x07;
            else if (field == 6)
                expected = 0x38;  // 1080 = 0x0438
            else if (field == 7)
                expected = 0x04;
        }
        EXPECT_EQ(uint8_t(bytes[i]), expected) << "byte " << i;
    }
}

TEST(OutputConfig, FieldsLandAtTheirOffsetsAndReadBack)
{
    OutputConfig c;
    c.outputs[1].left = -5;
    c.outputs[1].bottom = 1080;
    c.outputs[1].screenIndex = 1;
    c.outputs[1].gridColumns = 30;
    c.outputs[1].gridRows = 34;
    c.outputs[1].maxY = 0xBEEF;
    c.outputs[1].cellByte = 0xAB;
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

    WarpGrid g;
    ASSERT_TRUE(g.valid());
    EXPECT_EQ(g.spacing, 2);
    EXPECT_EQ(WarpGrid::index(64, 32), 2144u);
    EXPECT_EQ(WarpGrid::index(1, 0) * GridPoint::kSize, 330u);
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

    LegacyWarpGrid legacy;
    EXPECT_EQ(LegacyWarpGrid::kPackedSize, 2621442u);
    EXPECT_EQ(legacy.spacing, 2);
}

TEST(GridRecords, PixelMapResetRestoresDefaults)
{
    PixelMap m;
    ASSERT_TRUE(m.valid());
    m.at(1919, 1079) = point(1, 2, 1, 1);
    m.at(0, 0) = point(3, 4, 1);
    m.spacing = 8;
    m.columnsInUse = 5;
    m.rowsInUse = 6;
    m.xScale = 0.5;
    m.yScale = 0.25;
    EXPECT_EQ(PixelMap::index(1919, 1079), PixelMap::kPoints - 1);
    m.Reset();
    EXPECT_EQ(m.spacing, 1024);
    EXPECT_EQ(m.columnsInUse, 1);
    EXPECT_EQ(m.rowsInUse, 1);
    EXPECT_EQ(m.xScale, 1.0);
    EXPECT_EQ(m.yScale, 1.0);
    EXPECT_EQ(m.at(1919, 1079), GridPoint());
    EXPECT_EQ(m.at(0, 0), GridPoint());
}

// ---------------------------------------------------------------------------
// Older grid file: 371 + 9 x (1,024 x 256 points + spacing)

namespace {

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

}  // namespace

TEST(LegacyConversion, OldGridFileKeepsTheCornerOfEachCountedOutput)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("JunctionPoint.QVE");
    const QByteArray old = legacyJunction(2);
    ASSERT_TRUE(writeAll(path, old));
    ASSERT_TRUE(cfgx::ConvertLegacyJunctionPoint(path));

    const QByteArray now = readAll(path);
    ASSERT_EQ(std::size_t(now.size()), cfgx::kJunctionPointSize);
    EXPECT_EQ(now.left(371), old.left(371));
    for (int o = 0; o < 9; ++o) {
        SCOPED_TRACE(o);
        WarpGrid g;
        ASSERT_TRUE(g.unpack(bytesOf(now) + 371 + std::size_t(o) * WarpGrid::kPackedSize, WarpGrid::kPackedSize));
        if (o < 2) {
            EXPECT_EQ(g.at(0, 0), point(o, 1, 1));
            EXPECT_EQ(g.at(64, 32), point(o, 2, 1));
            EXPECT_EQ(g.spacing, 10 + o);
        } else {  // beyond the count: fresh grids
            EXPECT_EQ(g.at(0, 0), GridPoint());
            EXPECT_EQ(g.at(64, 32), GridPoint());
            EXPECT_EQ(g.spacing, 2);
        }
        int active = 0;
        for (std::size_t i = 0; i < WarpGrid::kPoints; ++i)
            active += g.points()[i].active;
        EXPECT_EQ(active, o < 2 ? 2 : 0);  // the marks outside the corner are not taken
    }
}

TEST(LegacyConversion, DamagedOrOtherFilesAreLeftAlone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("JunctionPoint.QVE");
    struct Case {
        const char* what;
        QByteArray bytes;
    };
    QByteArray badCount = legacyJunction(10);
    const Case cases[] = {
        {"count above nine", badCount},
        {"one byte short", legacyJunction(1).left(qsizetype(cfgx::kLegacyJunctionPointSize) - 1)},
        {"current form", QByteArray(qsizetype(cfgx::kJunctionPointSize), '\x01')},
        {"empty", QByteArray()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(writeAll(path, c.bytes));
        EXPECT_FALSE(cfgx::ConvertLegacyJunctionPoint(path));
        EXPECT_EQ(readAll(path), c.bytes);
    }
    EXPECT_FALSE(cfgx::ConvertLegacyJunctionPoint(dir.filePath("missing.QVE")));
}

// ---------------------------------------------------------------------------
// Older edge-shape file: four blocks of 1,920 x 1,080 points + spacing, width, height

namespace {

constexpr std::size_t kBlock = std::size_t(1920) * 1080 * 10 + 6;
constexpr std::size_t kRecord = 76806;

QByteArray legacyShapes(const uint16_t (&sizes)[4][2])
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

TEST(LegacyConversion, OldEdgeShapesBecomeFourEdgeRecords)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("CustomShapesPoint.QVE");
    const uint16_t sizes[4][2] = {{1920, 1080}, {960, 540}, {0, 0}, {1, 1}};
    ASSERT_TRUE(writeAll(path, legacyShapes(sizes)));
    ASSERT_TRUE(cfgx::ConvertLegacyCustomShapes(path));

    const QByteArray now = readAll(path);
    ASSERT_EQ(std::size_t(now.size()), cfgx::kCustomShapesSize);
    for (int b = 0; b < 4; ++b) {
        SCOPED_TRACE(b);
        const std::size_t rec = std::size_t(b) * kRecord;
        const int w = sizes[b][0], h = sizes[b][1];
        const int right = w ? w - 1 : 0, bottom = h ? h - 1 : 0;
        EXPECT_EQ(proto::getU16(bytesOf(now) + rec), 4 + b);
        EXPECT_EQ(proto::getU16(bytesOf(now) + rec + 2), w);
        EXPECT_EQ(proto::getU16(bytesOf(now) + rec + 4), h);
        const std::size_t top = rec + 6, bot = top + 19200, left = bot + 19200, rgt = left + 19200;
        EXPECT_EQ(at(now, top + 10 * 1919), point(1919, 0, 1));
        EXPECT_EQ(at(now, bot + 10 * 100).y, bottom);
        EXPECT_EQ(at(now, left + 10 * 1079), point(0, 1079, 1));
        EXPECT_EQ(at(now, rgt + 10 * 500), point(right, 500, 1));  // selection cleared
        EXPECT_EQ(at(now, left + 10 * 1080), GridPoint());          // the 840 spare entries
        EXPECT_EQ(at(now, rgt + 10 * 1919), GridPoint());
    }
}

TEST(LegacyConversion, EdgeShapesWithImpossibleSizesAreLeftAlone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("CustomShapesPoint.QVE");
    const uint16_t wide[4][2] = {{1920, 1080}, {1921, 10}, {1, 1}, {1, 1}};
    const uint16_t tall[4][2] = {{1920, 1080}, {1, 1}, {1, 1}, {5, 1081}};
    for (const auto* sizes : {&wide, &tall}) {
        const QByteArray bytes = legacyShapes(*sizes);
        ASSERT_TRUE(writeAll(path, bytes));
        EXPECT_FALSE(cfgx::ConvertLegacyCustomShapes(path));
        EXPECT_EQ(QFileInfo(path).size(), qint64(cfgx::kLegacyCustomShapesSize));
    }
    const QByteArray small(1000, '\0');
    ASSERT_TRUE(writeAll(path, small));
    EXPECT_FALSE(cfgx::ConvertLegacyCustomShapes(path));
    EXPECT_EQ(readAll(path), small);
}
