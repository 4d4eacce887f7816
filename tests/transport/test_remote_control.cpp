#include "transport/remote_control.h"

#include "common/text_coding.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using remote::PlayMode;

struct DocumentRow {
    int cmdId;
    const char* value;
    const char* expected;
};

TEST(RemoteControlDocument, OneKeyPerCommandAsTheWriterWritesIt)
{
    const DocumentRow rows[] = {
        {2, "Ads", "{\n\t\"cmdId\" : 2,\n\t\"type\" : \"Ads\"\n}"},
        {4, "type loop", "{\n\t\"cmdId\" : 4,\n\t\"playMode\" : \"type loop\"\n}"},
        {6, "hall", "{\n\t\"cmdId\" : 6,\n\t\"layoutName\" : \"hall\"\n}"},
        {8, "37", "{\n\t\"cmdId\" : 8,\n\t\"sound\" : \"37\"\n}"},
        {9, "0", "{\n\t\"cmdId\" : 9,\n\t\"play\" : \"0\"\n}"},
        {10, "", "{\n\t\"cmdId\" : 10,\n\t\"playStep\" : \"\"\n}"},
        {11, "Ads:a.mp4", "{\n\t\"cmdId\" : 11,\n\t\"playName\" : \"Ads:a.mp4\"\n}"},
        {11, "广告:片.mp4", "{\n\t\"cmdId\" : 11,\n\t\"playName\" : \"广告:片.mp4\"\n}"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(remote::BuildVideoControlDocument(row.cmdId, QString::fromUtf8(row.value)),
                  QByteArray(row.expected))
            << row.cmdId;
}

TEST(RemoteControlDocument, PlayModeValuesFollowTheLanguage)
{
    struct Row {
        PlayMode mode;
        const char* english;
        const char* chinese;
    };
    const Row rows[] = {
        {PlayMode::TypeLoop, "type loop", "类别循环"},     {PlayMode::SingleLoop, "single loop", "单曲循环"},
        {PlayMode::SinglePlay, "single play", "单曲播放"}, {PlayMode::TypeRandom, "type random", "类别随机"},
        {PlayMode::AllRandom, "all random", "全部随机"},   {PlayMode::Previous, "previous", "上一首"},
        {PlayMode::Next, "next", "下一首"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(remote::PlayModeLabel(row.mode, 9), QString::fromUtf8(row.english));
        EXPECT_EQ(remote::PlayModeLabel(row.mode, 4), QString::fromUtf8(row.chinese));
        const QByteArray zh = remote::BuildVideoControlDocument(4, remote::PlayModeLabel(row.mode, 4));
        EXPECT_TRUE(zh.contains(QByteArray(row.chinese))) << zh.constData();  // UTF-8, not code page
    }
}

TEST(RemoteControlDocument, FileAndPacketCarryTheSameBytes)
{
    QTemporaryDir dir;
    const QByteArray written = remote::WriteVideoControlDocument(dir.path() + "/Temp", 9, "1");
    ASSERT_FALSE(written.isEmpty());
    QFile file(dir.path() + "/Temp/VideoControl.Json");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), written);
    const QByteArray packet = remote::VideoControlPacket(9, written);
    ASSERT_EQ(packet.size(), 16 + written.size());
    const auto h = proto::PlayerPacketHeader::fromBytes(reinterpret_cast<const uint8_t*>(packet.constData()));
    EXPECT_EQ(h.command, proto::CMD_VIDEO_CONTROL);
    EXPECT_EQ(h.param, 9);
    EXPECT_EQ(h.arg, 0);
    EXPECT_EQ(h.payloadLength, uint32_t(written.size()));
    EXPECT_TRUE(remote::VideoControlPacket(9, QByteArray(int(proto::kMaxPayload) + 1, 'x')).isEmpty());
}

TEST(RemoteControlLayouts, SplitAtQuestionMarks)
{
    struct Row {
        const char* text;
        QStringList expected;
    };
    const Row rows[] = {
        {"a.GFD?b.GFD?", {"a", "b"}},
        {"a.GFD", {}},
        {"a.GFD?tail", {"a"}},
        {"", {}},
        {"ab?.GFD?", {"ab", ""}},  // shorter than the extension: kept whole
        {"大厅.GFD?", {"大厅"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(remote::SplitLayoutList(QString::fromUtf8(row.text)), row.expected) << row.text;
}

void setField(uint8_t* field, std::size_t size, const QString& name)
{
    const QByteArray bytes = text::CStringToDoubleByteText(name);
    std::memcpy(field, bytes.constData(), std::min<std::size_t>(size, std::size_t(bytes.size())));
}

TEST(RemoteControlCatalogue, TypesByCategoryText)
{
    auto catalog = std::make_unique<PlayerCatalog>();
    setField(catalog->categories[0].name.data(), 8, "Ads");
    setField(catalog->categories[2].name.data(), 8, QString::fromUtf8("新闻"));
    // Category 1 left without a name: skipped.
    catalog->categories[1].count = 3;
    struct Video {
        int slot;
        const char* category;
        const char* name;
    };
    const Video videos[] = {
        {0, "Ads", "a.mp4"}, {5, "新闻", "n1.mp4"}, {7, "Ads", ""}, {9, "Ads", "b.mp4"}, {11, "Other", "x.mp4"},
    };
    for (const auto& v : videos) {
        setField(catalog->videos[v.slot].category.data(), 8, QString::fromUtf8(v.category));
        setField(catalog->videos[v.slot].name.data(), 256, QString::fromUtf8(v.name));
    }
    // Zero bytes inside a name are skipped, not taken as its end.
    catalog->videos[12].category = {'A', 0, 'd', 's'};
    setField(catalog->videos[12].name.data(), 256, "c.mp4");

    const auto types = remote::TypesFromCatalog(*catalog);
    ASSERT_EQ(types.size(), 2u);
    EXPECT_EQ(types[0].name, "Ads");
    EXPECT_EQ(types[0].videos, QStringList({"a.mp4", "b.mp4", "c.mp4"}));
    EXPECT_EQ(types[1].name, QString::fromUtf8("新闻"));
    EXPECT_EQ(types[1].videos, QStringList({"n1.mp4"}));
}

TEST(RemoteControlProgress, ReplyTable)
{
    struct Row {
        const char* payload;
        bool shown;
        int percent;
        const char* time;
        const char* name;  // null: no name
    };
    const Row rows[] = {
        {R"({"cmdId":10,"data":{"currentPosition":3725,"totalDuration":7322,"typeName":"Ads","videoName":"a.mp4"}})",
         true, 50, "01:02:05/02:02:02", "Ads->a.mp4"},
        {R"({"cmdId":10,"data":{"currentPosition":0,"totalDuration":1}})", true, 0, "00:00:00/00:00:01", nullptr},
        {R"({"cmdId":10,"data":{"currentPosition":5,"totalDuration":5,"typeName":"x"}})", true, 100,
         "00:00:05/00:00:05", nullptr},
        {R"({"cmdId":10,"data":{"currentPosition":6,"totalDuration":5}})", false, 0, "", nullptr},
        {R"({"cmdId":10,"data":{"currentPosition":0,"totalDuration":0}})", false, 0, "", nullptr},
        {R"({"cmdId":10,"data":{"currentPosition":-1,"totalDuration":5}})", false, 0, "", nullptr},
        {R"({"cmdId":9,"data":{"currentPosition":1,"totalDuration":5}})", false, 0, "", nullptr},
        {R"({"cmdId":"10","data":{"currentPosition":1,"totalDuration":5}})", false, 0, "", nullptr},
        {R"({"cmdId":10,"data":[1,5]})", false, 0, "", nullptr},
        {R"({"cmdId":10,"data":{"currentPosition":1.5,"totalDuration":5}})", false, 0, "", nullptr},
        {R"({"cmdId":10,"data":{"currentPosition":1,"totalDuration":5})", false, 0, "", nullptr},
        {"", false, 0, "", nullptr},
        {R"({"cmdId":10,"data":{"currentPosition":2147483647,"totalDuration":2147483647}})", true, 100,
         "596523:14:07/596523:14:07", nullptr},
        {R"({"cmdId":10,"data":{"currentPosition":60,"totalDuration":120,"typeName":"\u5e7f\u544a","videoName":"片"}})",
         true, 50, "00:01:00/00:02:00", "广告->片"},
    };
    for (const auto& row : rows) {
        const auto view = remote::ReadProgressReply(QByteArray(row.payload));
        ASSERT_EQ(view.has_value(), row.shown) << row.payload;
        if (!view)
            continue;
        EXPECT_EQ(view->percent, row.percent) << row.payload;
        EXPECT_EQ(view->timeText, QString::fromUtf8(row.time)) << row.payload;
        EXPECT_EQ(view->hasName, row.name != nullptr) << row.payload;
        if (row.name) {
            EXPECT_EQ(view->nameText, QString::fromUtf8(row.name)) << row.payload;
        }
    }
}

TEST(RemoteControlGrid, CellsOfTheThreeGrids)
{
    struct Row {
        QRect group;
        int index, perRow, uDiv, vDiv;
        QRect expected;
    };
    const Row rows[] = {
        // Type group 310 x 240: u 10, v 10.
        {QRect(0, 0, 310, 240), 0, 10, 31, 24, QRect(QPoint(10, 10), QPoint(29, 29))},
        {QRect(0, 0, 310, 240), 9, 10, 31, 24, QRect(QPoint(280, 10), QPoint(299, 29))},
        {QRect(0, 0, 310, 240), 10, 10, 31, 24, QRect(QPoint(10, 40), QPoint(29, 59))},
        {QRect(0, 0, 310, 240), 63, 10, 31, 24, QRect(QPoint(100, 190), QPoint(119, 209))},
        // Video group 300 x 200 at (10, 50): u 10, v 10; truncated divisions.
        {QRect(10, 50, 305, 209), 11, 10, 30, 20, QRect(QPoint(50, 90), QPoint(69, 109))},
    };
    for (const auto& row : rows)
        EXPECT_EQ(remote::GridCell(row.group, row.index, row.perRow, row.uDiv, row.vDiv), row.expected)
            << row.index;
    EXPECT_EQ(remote::LayoutCell(QRect(0, 100, 310, 160), 2), QRect(QPoint(70, 110), QPoint(89, 189)));
}

}  // namespace
