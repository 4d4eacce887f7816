#include "common/json_coding.h"
#include <QTimeZone>
#include "interactive/lidar_model.h"
#include "interactive/lidar_plot.h"
#include "transport/protocol.h"

#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace lidar;

namespace {

std::string text(const Json::Value& v)
{
    return jsonio::write(v);
}

QByteArray datagram(uint32_t byteCount, std::size_t points, bool magic = true)
{
    QByteArray d(int(kReplyHeaderSize + 8 * points), '\0');
    auto* p = reinterpret_cast<uint8_t*>(d.data());
    if (magic)
        std::memcpy(p, kLidarMagic, 8);
    proto::putU32(p + 21, byteCount);
    for (std::size_t i = 0; i < points; ++i) {
        const float dist = float(1000 + i), ang = float(i % 360);
        std::memcpy(p + 25 + 8 * i, &dist, 4);
        std::memcpy(p + 29 + 8 * i, &ang, 4);
    }
    return d;
}

}  // namespace

TEST(LidarDocuments, LidarJsonGoldenKeysAndHoles)
{
    LidarSettings three = NewLidar("M1");
    three.corners.pop_back();
    LidarSettings full = NewLidar("SLAMTECA2M8");
    full.corners[1] = {1523, 123.46, 0.9, 0.1};
    const Json::Value doc = LidarJson({three, full});
    EXPECT_EQ(doc["Msg"].asString(), "Lidar Config");
    ASSERT_TRUE(doc["Lidar"].isArray());
    ASSERT_EQ(doc["Lidar"].size(), 2u);
    EXPECT_TRUE(doc["Lidar"][0].isNull());
    const Json::Value& e = doc["Lidar"][1];
    const char* keys[] = {"leftTopR", "leftTopAggle", "leftTopX", "leftTopY", "rightTopR", "rightTopAggle",
                          "rightTopX", "rightTopY", "rightBottomR", "rightBottomAggle", "rightBottomX",
                          "rightBottomY", "leftBottomR", "leftBottomAggle", "leftBottomX", "leftBottomY"};
    for (const char* k : keys)
        EXPECT_TRUE(e[k].isDouble() && e[k].type() == Json::realValue) << k;
    EXPECT_EQ(e["rightTopR"].asDouble(), 1523);
    EXPECT_EQ(e["rightTopAggle"].asDouble(), 123.46);
    EXPECT_EQ(e["leftBottomX"].asDouble(), 0.1);
    EXPECT_EQ(e["port"].type(), Json::uintValue);
    EXPECT_EQ(e["enable"].type(), Json::intValue);
    EXPECT_EQ(e["ip"].asString(), "192.168.1.80");
    EXPECT_EQ(e["baudrate"].asUInt(), 115200u);
    // No usable lidar at all: "Lidar" is null.
    EXPECT_TRUE(LidarJson({}).isMember("Lidar"));
    EXPECT_TRUE(LidarJson({})["Lidar"].isNull());
    EXPECT_TRUE(LidarJson({three})["Lidar"].isNull());
}

TEST(LidarDocuments, LidarXYGolden)
{
    std::vector<LidarSettings> one{NewLidar("M")};
    one[0].currentCorner = 2;
    struct Row {
        std::vector<LidarSettings> lidars;
        std::size_t index;
        float dot;
        uint32_t state;
        std::string expected;
    };
    LidarSettings noCorner = NewLidar("M");
    noCorner.currentCorner = 4;
    const Row rows[] = {
        {one, 0, 0.04f, 1,
         "{\n\t\"Msg\" : \"LidarXY Config\",\n\t\"dotSize\" : 0.039999999105930328,\n\t\"state\" : 1,\n\t\"x\" : 0.90000000000000002,\n\t\"y\" : 0.90000000000000002\n}"},
        {{}, 0, 0.03f, 0,
         "{\n\t\"Msg\" : \"LidarXY Config\",\n\t\"dotSize\" : 0.029999999329447746,\n\t\"state\" : 2,\n\t\"x\" : 0.0,\n\t\"y\" : 0.0\n}"},
        {{noCorner}, 0, 0.03f, 1, "{\n\t\"Msg\" : \"LidarXY Config\"\n}"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(text(LidarXYJson(r.lidars, r.index, r.dot, r.state)), r.expected);
    EXPECT_EQ(text(CheckPageLidarXYJson()),
              "{\n\t\"Msg\" : \"LidarXY Config\",\n\t\"dotSize\" : 0.05000000074505806,\n\t\"state\" : 2,\n\t\"x\" : 0.10000000149011612,\n\t\"y\" : 0.10000000149011612\n}");
}

TEST(LidarDocuments, WriteDocumentWritesWholeFile)
{
    QTemporaryDir dir;
    const QByteArray bytes = WriteDocument(dir.path() + "/Temp", "Lidar.Json", LidarJson({NewLidar("A")}));
    ASSERT_FALSE(bytes.isEmpty());
    std::vector<LidarSettings> back;
    ASSERT_TRUE(ParseLidarConfig(bytes, back));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0], NewLidar("A"));
}

TEST(LidarDocuments, ParseLidarConfigInheritsFromPreviousElement)
{
    const QByteArray doc = R"({"Msg":"Lidar Config","Lidar":[
        {"leftTopR":5,"leftTopAggle":"x","port":1234,"ip":"10.0.0.5","controlMode":"serial","lidarModel":"A1","enable":1},
        {"rightTopX":0.5},
        {"port":-4,"baudrate":9600.5,"lidarModel":7}]})";
    std::vector<LidarSettings> out{NewLidar("old")};
    ASSERT_TRUE(ParseLidarConfig(doc, out));
    ASSERT_EQ(out.size(), 3u);
    struct Row {
        std::size_t i;
        uint32_t port;
        const char* ip;
        const char* mode;
        const char* model;
        uint16_t enable;
    } rows[] = {
        {0, 1234, "10.0.0.5", "serial", "A1", 1},
        {1, 1234, "", "", "A1", 1},   // port inherited, ip and mode emptied
        {2, 1234, "", "", "A1", 1},   // negative port and real baudrate keep the previous
    };
    for (const Row& r : rows) {
        EXPECT_EQ(out[r.i].port, r.port) << r.i;
        EXPECT_EQ(out[r.i].ip, QString(r.ip)) << r.i;
        EXPECT_EQ(out[r.i].controlMode, QString(r.mode)) << r.i;
        EXPECT_EQ(out[r.i].lidarModel, QString(r.model)) << r.i;
        EXPECT_EQ(out[r.i].enable, r.enable) << r.i;
        EXPECT_EQ(out[r.i].corners.size(), 4u);
    }
    EXPECT_EQ(out[0].corners[0].R, 5);
    EXPECT_EQ(out[0].corners[0].angle, 0);
    EXPECT_EQ(out[1].corners[0].R, 0);
    EXPECT_EQ(out[1].corners[1].x, 0.5);
    EXPECT_EQ(out[2].baudrate, 115200u);
}

TEST(LidarDocuments, ParseLidarConfigRefusals)
{
    struct Row {
        const char* text;
        bool accepted;
        std::size_t size;
    } rows[] = {
        {"", false, 1},
        {"{\"Msg\":\"Other\",\"Lidar\":[]}", false, 1},
        {"{\"Msg\":\"Lidar Config\",\"Lidar\":[}", false, 1},
        {"{\"Msg\":\"Lidar Config\"}", true, 0},
        {"{\"Msg\":\"Lidar Config\",\"Lidar\":null}", true, 0},
        {"{\"Msg\":\"Lidar Config\",\"Lidar\":[null]}", true, 1},
    };
    for (const Row& r : rows) {
        std::vector<LidarSettings> out{NewLidar("keep")};
        EXPECT_EQ(ParseLidarConfig(r.text, out), r.accepted) << r.text;
        EXPECT_EQ(out.size(), r.size) << r.text;
    }
}

TEST(LidarDocuments, ParseSupportedModels)
{
    struct Row {
        const char* text;
        bool ok;
        std::size_t count;
    } rows[] = {
        {R"({"supported":[{"rplidarModel":"A2","controlMode":["serial","network"]}]})", true, 1},
        {R"({"supported":[{"rplidarModel":"A2"},{"rplidarModel":3,"controlMode":[]}]})", true, 1},
        {R"({"supported":[{"rplidarModel":"A2"}]})", false, 0},
        {R"({"supported":{}})", false, 0},
        {"", false, 0},
        {"[1]", false, 0},
    };
    for (const Row& r : rows) {
        std::vector<LidarModelInfo> models;
        EXPECT_EQ(ParseSupportedModels(r.text, models), r.ok) << r.text;
        EXPECT_EQ(models.size(), r.count) << r.text;
    }
    std::vector<LidarModelInfo> m;
    ASSERT_TRUE(ParseSupportedModels(R"({"supported":[{"rplidarModel":3,"controlMode":["serial"]}]})", m));
    EXPECT_TRUE(m[0].model.isEmpty());
    EXPECT_EQ(m[0].modes, QStringList{"serial"});
}

TEST(LidarDocuments, NextChecksNeedStrictlyLess)
{
    auto with = [](int corner, double x, double y) {
        LidarSettings s = NewLidar("M");
        s.corners[corner].x = x;
        s.corners[corner].y = y;
        return s;
    };
    LidarSettings three = NewLidar("M");
    three.corners.resize(3);
    struct Row {
        std::vector<LidarSettings> lidars;
        NextCheck expected;
    } rows[] = {
        {{}, NextCheck::Empty},
        {{NewLidar("M")}, NextCheck::Ok},
        {{NewLidar("M"), three}, NextCheck::TooFewCorners},
        {{with(kTopLeft, 0.9, 0.1)}, NextCheck::RightNotGreater},       // equal x
        {{with(kBottomLeft, 0.95, 0.9)}, NextCheck::RightNotGreater},
        {{with(kTopRight, 0.9, 0.9)}, NextCheck::BottomNotGreater},     // equal y
        {{with(kTopLeft, 0.1, 0.95)}, NextCheck::BottomNotGreater},
        {{with(kTopLeft, 0.0, 0.0), with(kBottomRight, 1.0, 1.0)}, NextCheck::Ok},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(CheckLidarsForNext(rows[i].lidars), rows[i].expected) << i;
}

TEST(LidarDocuments, CornerWalkAndSmallArithmetic)
{
    const uint16_t next[4] = {3, 1, 1, 2}, prev[4] = {0, 2, 3, 0};
    for (uint16_t c = 0; c < 4; ++c) {
        EXPECT_EQ(NextCorner(c), next[c]) << c;
        EXPECT_EQ(PreviousCorner(c), prev[c]) << c;
    }
    EXPECT_EQ(double(DotSizeForSlider(3)), 0.03999999910593033);
    EXPECT_EQ(DotSizeForSlider(0), 0.01f);
    EXPECT_EQ(DotSizeForSlider(9), 0.10f);
    EXPECT_EQ(RoundAngle(123.456), 123.46);
    EXPECT_EQ(RoundAngle(359.994), 359.99);
    EXPECT_EQ(StandAtPointPrompt(1, 2, 9), "Please stand at the 3 point of the 2 Radar");
    EXPECT_EQ(StandAtPointPrompt(1, 2, 4), QString::fromUtf8("请站在第2个雷达的第3个点"));
}

TEST(LidarPackets, HeaderOnlyAndFilePackets)
{
    const QByteArray h = LidarPacket(LIDAR_OP_QUERY_MODELS);
    ASSERT_EQ(h.size(), 16);
    proto::PlayerPacketHeader hdr = proto::PlayerPacketHeader::fromBytes(reinterpret_cast<const uint8_t*>(h.data()));
    EXPECT_EQ(hdr.command, proto::CMD_LIDAR);
    EXPECT_EQ(hdr.param, 9);
    EXPECT_EQ(hdr.payloadLength, 0u);
    const QByteArray f = LidarPacket(LIDAR_OP_POINT, QByteArray(60, 'x'));
    ASSERT_EQ(f.size(), 76);
    hdr = proto::PlayerPacketHeader::fromBytes(reinterpret_cast<const uint8_t*>(f.data()));
    EXPECT_EQ(hdr.param, 11);
    EXPECT_EQ(hdr.payloadLength, 60u);
}

TEST(LidarPackets, RequestBytesAndSeconds)
{
    const QDateTime at(QDate(2020, 1, 1), QTime(0, 1, 0), Qt::LocalTime);
    EXPECT_EQ(SecondsSince2020(at), 60u);
    const QByteArray r = BuildLidarRequest(LIDAR_UDP_SHOW_POINTS_ON, 2, 60);
    const QByteArray expected = QByteArray::fromHex("52504C494441520000" "03000000" "0200" "0000" "3c000000" "00000000");
    EXPECT_EQ(r.toHex(), expected.toHex());
}

TEST(LidarPackets, DatagramTable)
{
    const QString player = "127.0.0.2";
    struct Row {
        const char* name;
        QByteArray bytes;
        QString sender;
        DatagramResult::Kind kind;
        uint32_t announced;
        std::size_t points;
    } rows[] = {
        {"three points", datagram(24, 3), player, DatagramResult::Points, 3, 3},
        // The largest datagram taken is 262,168 bytes: 32,767 whole points.
        {"32768 announced", datagram(262144, 32767) + QByteArray(7, '\0'), player, DatagramResult::Points, 32768, 32767},
        {"32769 announced", datagram(262152, 32767), player, DatagramResult::CountOnly, 32769, 0},
        {"262169 bytes", datagram(262144, 32768) + QByteArray(1, '\0'), player, DatagramResult::Ignored, 0, 0},
        {"wrong sender", datagram(24, 3), "127.0.0.20", DatagramResult::Ignored, 0, 0},
        {"wrong magic", datagram(24, 3, false), player, DatagramResult::CountOnly, 3, 0},
        {"24 bytes", datagram(0, 0).left(24), player, DatagramResult::Ignored, 0, 0},
        {"header only", datagram(0, 0), player, DatagramResult::Points, 0, 0},
        {"count above data", datagram(800, 2), player, DatagramResult::Points, 100, 2},
        {"partial point", datagram(16, 1) + QByteArray(4, '\0'), player, DatagramResult::Points, 2, 1},
    };
    for (const Row& r : rows) {
        const DatagramResult d = ParseLidarDatagram(r.sender, player, reinterpret_cast<const uint8_t*>(r.bytes.data()),
                                                    std::size_t(r.bytes.size()));
        EXPECT_EQ(d.kind, r.kind) << r.name;
        EXPECT_EQ(d.announced, r.announced) << r.name;
        EXPECT_EQ(d.points.size(), r.points) << r.name;
    }
    // Non-finite and negative values are skipped; the rest keep their order.
    QByteArray bad = datagram(32, 4);
    const float nan = std::nanf(""), neg = -5.f, inf = INFINITY;
    std::memcpy(bad.data() + 25, &nan, 4);
    std::memcpy(bad.data() + 33 + 4, &neg, 4);
    std::memcpy(bad.data() + 41, &inf, 4);
    const DatagramResult d =
        ParseLidarDatagram(player, player, reinterpret_cast<const uint8_t*>(bad.data()), std::size_t(bad.size()));
    ASSERT_EQ(d.points.size(), 1u);
    EXPECT_EQ(d.points[0].distance, 1003.f);
    EXPECT_EQ(d.points[0].angle, 3.f);
}

TEST(LidarPlot, PickedPointDoesNotWrap)
{
    const std::vector<LidarPoint> pts{{10.f, 100.f, 0}, {350.f, 200.f, 0}, {350.f, 300.f, 0}};
    struct Row {
        double bearingDeg;
        int expected;
    } rows[] = {{355, 1}, {2, 0}, {100, 0}, {350, 1}, {359.9, 1}};
    for (const Row& r : rows)
        EXPECT_EQ(PickPoint(pts, r.bearingDeg * M_PI / 180), r.expected) << r.bearingDeg;
    EXPECT_EQ(PickPoint({}, 1.0), -1);
}

TEST(LidarPlot, MouseBearingAndZoom)
{
    struct Bearing {
        int dx, dy;
        double deg;
    } bearings[] = {{0, 10, 0}, {10, 0, 90}, {0, -10, 180}, {-10, 0, 270}, {-10, 10, 315}};
    for (const Bearing& b : bearings)
        EXPECT_NEAR(MouseBearing(b.dx, b.dy) * 180 / M_PI, b.deg, 1e-4) << b.dx << "," << b.dy;
    struct Zoom {
        float zoom;
        int delta;
        float expected;
    } zooms[] = {{8000, 120, 8060}, {8000, -120, 7940}, {150, -240, 100}, {27990, 120, 28000},
                 {100, -1, 100}, {8000, -3, 7999}};
    for (const Zoom& z : zooms)
        EXPECT_EQ(WheelZoom(z.zoom, z.delta), z.expected) << z.zoom << " " << z.delta;
}

// A reply listing far more lidars than a player can have: the first four
// are read at once, the rest ignored.
TEST(LidarDocuments, ParseLidarConfigReadsAtMostFour)
{
    QByteArray doc = R"({"Msg":"Lidar Config","Lidar":[)";
    for (int i = 0; i < 10000; ++i)
        doc += (i ? "," : "") + QByteArray(R"({"lidarModel":"M)") + QByteArray::number(i) +
               R"(","leftTopX":0.1,"rightTopX":0.9,"port":20108,"ip":"10.0.0.9"})";
    doc += "]}";
    // The records read are the work: four, however long the list.
    std::vector<LidarSettings> out;
    ASSERT_TRUE(ParseLidarConfig(doc, out));
    ASSERT_EQ(out.size(), kMaxLidars);
    EXPECT_EQ(out[3].lidarModel, "M3");
}

// A distance that cannot be an int is dropped where the datagram is read,
// and a point whose place in the plot cannot be one is neither drawn nor
// picked; the others stay.
TEST(LidarPlot, PointsBeyondAnIntAreDropped)
{
    const struct {
        float distance;
        bool taken;
    } reads[] = {{3e9f, false}, {2147483648.f, false}, {1e38f, false}, {2147483520.f, true}, {0.f, true}};
    for (const auto& r : reads) {
        QByteArray d = datagram(8, 1);
        std::memcpy(d.data() + 25, &r.distance, 4);
        const DatagramResult res =
            ParseLidarDatagram("127.0.0.2", "127.0.0.2", reinterpret_cast<const uint8_t*>(d.data()), std::size_t(d.size()));
        EXPECT_EQ(res.points.size(), r.taken ? 1u : 0u) << r.distance;
    }
    // Drawn directly, as a page could: 3e9 at 10 degrees, 1e9 at 90 (its
    // place fits an int only when zoomed far out), 500 at 200.
    const std::vector<LidarPoint> points{{10.f, 3e9f, 0}, {90.f, 1e9f, 0}, {200.f, 500.f, 0}};
    const struct {
        float zoom;
        double bearingDeg;
        uint32_t picked;
    } draws[] = {
        {kZoomMin, 10, 500}, {kZoomMin, 90, 500}, {kZoomMax, 90, 1000000000}, {kZoomMax, 10, 1000000000},
    };
    for (const auto& r : draws) {
        QImage image(800, 600, QImage::Format_RGB32);
        QPainter painter(&image);
        PickedPoint picked;
        DrawLidarPlot(painter, 800, 600, r.zoom, points, r.bearingDeg * M_PI / 180, &picked);
        ASSERT_TRUE(picked.present) << r.zoom << " " << r.bearingDeg;
        EXPECT_EQ(picked.distance, r.picked) << r.zoom << " " << r.bearingDeg;
    }
}
