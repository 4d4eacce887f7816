#include "content/qr_model.h"

#include "transport/protocol.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using qr::Box;

struct Screen {
    int x, y, w, h;
};
struct Output {
    int left, right, top, bottom;  // right and bottom inclusive, as stored
};

std::array<uint8_t, 108> block(std::vector<Screen> screens, std::vector<Output> outputs)
{
    std::array<uint8_t, 108> b{};
    for (std::size_t i = 0; i < screens.size(); ++i) {
        uint8_t* p = b.data() + 4 + 8 * i;
        proto::putU16(p, uint16_t(screens[i].x));
        proto::putU16(p + 2, uint16_t(screens[i].y));
        proto::putU16(p + 4, uint16_t(screens[i].w));
        proto::putU16(p + 6, uint16_t(screens[i].h));
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        uint8_t* p = b.data() + 36 + 8 * i;
        proto::putU16(p, uint16_t(outputs[i].left));
        proto::putU16(p + 2, uint16_t(outputs[i].right));
        proto::putU16(p + 4, uint16_t(outputs[i].top));
        proto::putU16(p + 6, uint16_t(outputs[i].bottom));
    }
    return b;
}

TEST(QrLayout, RowsAndColumnsOfTheWalls)
{
    struct Row {
        const char* name;
        std::array<uint8_t, 108> block;
        uint32_t rows1, cols1, rows2, cols2;
        bool usable2;
    };
    const Row rows[] = {
        {"2 x 2", block({{0, 0, 3840, 2160}, {0, 0, 0, 0}},
                        {{0, 1919, 0, 1079}, {1920, 3839, 0, 1079}, {0, 1919, 1080, 2159}, {1920, 3839, 1080, 2159}}),
         2, 2, 1, 1, false},
        {"3 x 1", block({{0, 0, 5760, 1080}}, {{0, 1919, 0, 1079}, {1920, 3839, 0, 1079}, {3840, 5759, 0, 1079}}), 1, 3,
         1, 1, false},
        {"second screen at x 1920",
         block({{0, 0, 1920, 1080}, {1920, 0, 1920, 2160}},
               {{0, 1919, 0, 1079}, {1920, 3839, 0, 1079}, {1920, 3839, 1080, 2159}}),
         1, 1, 2, 1, true},
        {"nothing found", block({{0, 0, 1920, 1080}}, {}), 1, 1, 1, 1, false},
        {"empty screen 1", block({{0, 0, 0, 0}, {0, 0, 1920, 1080}}, {{0, 1919, 0, 1079}}), 1, 1, 1, 1, true},
    };
    for (const auto& row : rows) {
        const auto layout = qr::OutputLayout::FromStatusBlock(row.block);
        qr::QrSettings s;
        qr::ComputeRowsCols(layout, s);
        EXPECT_EQ(s.locations[0].rows, row.rows1) << row.name;
        EXPECT_EQ(s.locations[0].cols, row.cols1) << row.name;
        EXPECT_EQ(s.locations[1].rows, row.rows2) << row.name;
        EXPECT_EQ(s.locations[1].cols, row.cols2) << row.name;
        EXPECT_EQ(qr::ScreenUsable(layout.screens[1]), row.usable2) << row.name;
    }
}

TEST(QrApply, ChecksTable)
{
    struct Row {
        const char* on;
        const char* off;
        const char* size1;
        bool messenger1;
        bool usable2;
        const char* size2;
        const char* message;  // empty: accepted
        uint32_t showTime, circleTime, textSize1;
    };
    const Row rows[] = {
        {"100000", "10", "60", true, true, "60", "", 100000, 10, 60},
        {"100001", "10", "60", true, true, "60", "On Interval is too long", 60, 10, 60},
        {"60", "100001", "60", true, true, "60", "Off Interval is too long", 60, 10, 60},
        {"abc", "10", "60", true, true, "60", "", 0, 10, 60},
        {"-5", "10", "60", true, true, "60", "On Interval is too long", 60, 10, 60},
        {"12s", "7 ", "45", true, true, "60", "", 12, 7, 45},
        {"60", "10", "29", true, true, "60", "Message size is out of range", 60, 10, 60},
        {"60", "10", "29", false, true, "60", "", 60, 10, 60},
        {"60", "10", "541", true, true, "60", "Message size is out of range", 60, 10, 60},
        {"60", "10", "540", true, true, "30", "", 60, 10, 540},
        {"60", "10", "60", true, true, "5", "Message size is out of range", 60, 10, 60},
        {"60", "10", "60", true, false, "5", "", 60, 10, 60},  // screen 2 not usable: never validated
        {"99999999999", "10", "60", true, true, "60", "On Interval is too long", 60, 10, 60},
    };
    for (const auto& row : rows) {
        qr::QrSettings s;
        qr::ApplyForm form;
        form.onText = row.on;
        form.offText = row.off;
        form.sizeText = {row.size1, row.size2};
        form.textShow = {row.messenger1, true};
        EXPECT_EQ(qr::Apply(form, {true, row.usable2}, 9, s), QString(row.message)) << row.on << " " << row.size1;
        EXPECT_EQ(s.showTime, row.showTime) << row.on;
        EXPECT_EQ(s.circleTime, row.circleTime) << row.off;
        EXPECT_EQ(s.locations[0].textSize, row.textSize1) << row.size1;
    }
    qr::QrSettings s;
    qr::ApplyForm form{"60", "10", {"29", "600"}, {true, true}, {true, true}, true};
    EXPECT_EQ(qr::Apply(form, {true, true}, 4, s), QString::fromUtf8("弹幕字号太小了"));
    form.sizeText = {"60", "600"};
    EXPECT_EQ(qr::Apply(form, {true, true}, 4, s), QString::fromUtf8("弹幕字号太大了"));
}

TEST(QrMap, DragAndScale)
{
    const QRect m(10, 11, 900, 450);  // map area
    const Box screen{0, 0, 1920, 1080};
    const qr::MapScale scale = qr::ScaleFor(m, screen, 1, 1, {});
    EXPECT_DOUBLE_EQ(scale.x, 100.0 / 1920 * 4);
    EXPECT_DOUBLE_EQ(scale.y, 50.0 / 1080 * 4);
    // A zero-sized screen keeps the factors it had (1 at first).
    const qr::MapScale kept = qr::ScaleFor(m, Box{0, 0, 0, 0}, 1, 1, {});
    EXPECT_EQ(kept.x, 1.0);
    EXPECT_EQ(kept.y, 1.0);

    struct Row {
        Box dragged;  // in screen pixels
        Box stored;
    };
    const Row rows[] = {
        {{100, 100, 200, 150}, {100, 100, 260, 260}},
        {{1800, 1000, 1900, 1050}, {1800, 1000, 1920, 1080}},  // clipped at the right and bottom edge
        {{0, 0, 960, 540}, {0, 0, 960, 540}},
    };
    for (const auto& row : rows) {
        const Box stored = qr::FromMap(qr::ToMap(row.dragged, m, scale), m, scale, screen);
        EXPECT_NEAR(stored.left, row.stored.left, 10);
        EXPECT_NEAR(stored.top, row.stored.top, 22);
        EXPECT_NEAR(stored.right, row.stored.right, 10);
        EXPECT_NEAR(stored.bottom, row.stored.bottom, 22);
        EXPECT_GE(stored.width(), std::min(160, screen.right - stored.left));
        EXPECT_LE(stored.right, screen.right);
        EXPECT_LE(stored.bottom, screen.bottom);
    }
    // Drawing never changes the model: a rectangle outside the screen is only drawn reset.
    const Box second{1920, 0, 3840, 1080};
    EXPECT_EQ(qr::DrawnRect(Box{0, 0, 320, 320}, second, m, scale), (Box{1920, 0, 2080, 160}));
    EXPECT_EQ(qr::DrawnRect(Box{2000, 10, 2320, 330}, second, m, scale), (Box{2000, 10, 2320, 330}));
}

TEST(QrDocument, ReplyAndDefaults)
{
    const char* reply = R"({"QRShowTime":120,"QRCircleTime":200000,"QRRefresh":0,"QRLocation":[)"
                        R"({"screenID":0,"startX":100,"startY":5,"width":200,"height":180,"QRShow":1,"textShow":0,"textColor":16777215,"textSize":45},)"
                        R"({"screenID":1,"startX":0,"startY":0,"width":160,"height":160,"QRShow":0,"textShow":1,"textColor":1,"textSize":90}]})";
    qr::QrSettings s;
    ASSERT_TRUE(qr::ReadDocument(reply, s));
    EXPECT_EQ(s.locations[0].rect, (Box{100, 5, 300, 185}));
    EXPECT_EQ(s.showTime, 120u);
    EXPECT_EQ(s.circleTime, 100000u);  // limited
    EXPECT_EQ(s.refresh, 0u);
    EXPECT_EQ(s.locations[1].textSize, 90u);

    struct Bad {
        const char* name;
        std::string text;
    };
    std::string missing = reply;
    missing.replace(missing.find("\"textSize\":45"), 14, "\"other\":45,");
    std::string negative = reply;
    negative.replace(negative.find("\"startY\":5"), 10, "\"startY\":-5");
    const Bad bad[] = {{"missing key", missing}, {"negative", negative}, {"one location", R"({"QRLocation":[{}]})"},
                       {"empty", ""}, {"broken", R"({"QRLocation":[})"}};
    for (const auto& b : bad) {
        qr::QrSettings t;
        EXPECT_FALSE(qr::ReadDocument(QByteArray::fromStdString(b.text), t)) << b.name;
        EXPECT_EQ(t.showTime, 60u) << b.name;
    }

    // The R key: defaults, then Apply as the ticked boxes say.
    qr::RestoreDefaults(s);
    qr::ApplyForm form{"60", "10", {"60", "60"}, {true, true}, {true, true}, true};
    ASSERT_EQ(qr::Apply(form, {true, true}, 9, s), "");
    const QByteArray doc = qr::WriteDocument(s);
    qr::QrSettings back;
    back.showTime = 1;
    ASSERT_TRUE(qr::ReadDocument(doc, back)) << doc.constData();
    EXPECT_EQ(back.showTime, 60u);
    EXPECT_EQ(back.circleTime, 10u);
    EXPECT_EQ(back.locations[0].rect, (Box{0, 0, 320, 320}));
    EXPECT_EQ(back.locations[0].qrShow, 1u);
    EXPECT_EQ(back.locations[1].textShow, 1u);
    EXPECT_TRUE(doc.contains("\"QRImageEnable\" : true"));
    EXPECT_TRUE(doc.contains("\"textColor\" : 16777215"));
}

}  // namespace
