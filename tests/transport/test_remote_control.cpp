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
        // Tollivar's grids: u = width / 32; v = height / 24, / 15 and / 4.
        {QRect(0, 0, 320, 240), 9, 10, 32, 24, QRect(QPoint(280, 10), QPoint(299, 29))},
        {QRect(0, 0, 320, 150), 49, 10, 32, 15, QRect(QPoint(280, 130), QPoint(299, 149))},
        {QRect(0, 0, 320, 40), 3, 10, 32, 4, QRect(QPoint(100, 10), QPoint(119, 29))},
    };
    for (const auto& row : rows)
        EXPECT_EQ(remote::GridCell(row.group, row.index, row.perRow, row.uDiv, row.vDiv), row.expected)
            << row.index;
    EXPECT_EQ(remote::LayoutCell(QRect(0, 100, 310, 160), 2), QRect(QPoint(70, 110), QPoint(89, 189)));
}

TEST(RemoteControlButtons, PressTable)
{
    using remote::ListButton;
    const std::vector<remote::PlayTypeEntry> types = {{"Ads", {"a.mp4", "b.mp4"}}, {"News", {}}};
    const QStringList layouts = {"hall", "lobby"};
    constexpr int kNone = 9999;
    struct Row {
        ListButton button;
        int index;
        bool videoBox;
        int listedBefore;
        const char* sent;  // "cmdId value", empty: nothing sent
        int listedAfter;
        int videosListed;  // how many videos the row is handed; -1: not handed any
    };
    const Row rows[] = {
        {ListButton::Type, 0, false, kNone, "2 Ads", kNone, -1},
        {ListButton::Type, 0, true, kNone, "", 0, 2},
        {ListButton::Type, 1, true, 0, "", 1, 0},  // a type without videos empties the row
        {ListButton::Type, 2, true, 0, "", 0, -1},
        {ListButton::Type, -1, false, 0, "", 0, -1},
        {ListButton::Video, 1, true, 0, "11 Ads:b.mp4", 0, -1},
        {ListButton::Video, 1, false, 0, "11 Ads:b.mp4", 0, -1},  // unticked since: the list stays
        {ListButton::Video, 2, true, 0, "", 0, -1},
        {ListButton::Video, -1, true, 0, "", 0, -1},
        {ListButton::Video, 0, true, kNone, "", kNone, -1},
        {ListButton::Video, 0, true, 1, "", 1, -1},
        {ListButton::Video, 0, true, -1, "", -1, -1},
        {ListButton::Layout, 1, true, 0, "6 lobby", 0, -1},
        {ListButton::Layout, 2, false, 0, "", 0, -1},
        {ListButton::Layout, -1, false, 0, "", 0, -1},
    };
    for (const auto& row : rows) {
        int listed = row.listedBefore;
        QStringList sent;
        int videosListed = -1;
        remote::PressListButton(
            row.button, row.index, types, layouts, row.videoBox, listed,
            [&sent](int cmdId, const QString& value) { sent << QString::number(cmdId) + QLatin1Char(' ') + value; },
            [&videosListed](const QStringList& videos) { videosListed = int(videos.size()); });
        const QString where = QStringLiteral("button %1 index %2").arg(int(row.button)).arg(row.index);
        EXPECT_EQ(sent.join(QLatin1Char('|')), QString::fromUtf8(row.sent)) << where.toStdString();
        EXPECT_EQ(listed, row.listedAfter) << where.toStdString();
        EXPECT_EQ(videosListed, row.videosListed) << where.toStdString();
    }
}

TEST(RemoteControlReply, ReplyTable)
{
    struct Row {
        const char* payload;
        bool taken;
        int cmdId;
        bool list;
        const char* labels;  // "type=label;..." of the capability entries kept
        bool progress;
    };
    const Row rows[] = {
        {R"({"cmdId":3,"data":[{"playMode":"On","type":6},{"playMode":"Off","type":7}]})", true, 3, true,
         "6=On;7=Off;", false},
        {R"({"cmdId":3,"data":[{"playMode":1,"type":6},{"playMode":"a","type":"6"},7,{"playMode":"b","type":99}]})",
         true, 3, true, "99=b;", false},
        {R"({"cmdId":3,"data":[{"playMode":"\u5faa\u73af","type":8}]})", true, 3, true, "8=循环;", false},
        {R"({"cmdId":3,"data":{"playMode":"On","type":6}})", true, 3, false, "", false},
        {R"({"cmdId":3})", true, 3, false, "", false},
        {R"({"cmdId":10,"data":{"currentPosition":1,"totalDuration":2}})", true, 10, false, "", true},
        {R"({"cmdId":10,"data":{"currentPosition":3,"totalDuration":2}})", true, 10, false, "", false},
        {R"({"cmdId":4})", true, 4, false, "", false},
        {R"({"cmdId":3.5,"data":[]})", false, 0, false, "", false},
        {R"({"data":[]})", false, 0, false, "", false},
        {R"([{"cmdId":3}])", false, 0, false, "", false},
        {R"({"cmdId":3,"data":[})", false, 0, false, "", false},
        {"", false, 0, false, "", false},
    };
    for (const auto& row : rows) {
        const auto reply = remote::ReadControlReply(QByteArray(row.payload));
        ASSERT_EQ(reply.has_value(), row.taken) << row.payload;
        if (!reply)
            continue;
        EXPECT_EQ(reply->cmdId, row.cmdId) << row.payload;
        EXPECT_EQ(reply->hasCapabilityList, row.list) << row.payload;
        QString labels;
        for (const auto& e : reply->capabilities)
            labels += QString::number(e.type) + QLatin1Char('=') + e.label + QLatin1Char(';');
        EXPECT_EQ(labels, QString::fromUtf8(row.labels)) << row.payload;
        EXPECT_EQ(reply->progress.has_value(), row.progress) << row.payload;
    }
}

TEST(RemoteControlPanel, GroupsAndTheSecondRow)
{
    // 1280 x 720: f = 144, g = 9 * (576 / 10) = 513; u = 1250 / 31 = 40.
    const remote::PanelGeometry g = remote::PanelLayout(1280, 720, 4);
    const struct { QRect actual, expected; } rows[] = {
        {g.type, QRect(QPoint(10, 10), QPoint(1259, 287))},
        {g.video, QRect(QPoint(10, 298), QPoint(1259, 512))},
        {g.layout, QRect(QPoint(10, 523), QPoint(1259, 575))},
        {g.mode, QRect(QPoint(10, 586), QPoint(1259, 709))},
        {g.videoCheck, QRect(30, 290, 100, 30)},
        {g.modes[4], QRect(13 * 40, g.modes[0].top(), 80, g.modes[0].height())},
        {g.second[3], QRect(10 * 40, g.second[0].top(), 80, g.second[0].height())},
        {g.time, QRect(13 * 40, g.second[0].top(), 120, g.time.height())},
    };
    for (const auto& r : rows)
        EXPECT_EQ(r.actual, r.expected);
    // Six buttons in the second row push the time text and the bar right.
    const remote::PanelGeometry six = remote::PanelLayout(1280, 720, 6);
    ASSERT_EQ(six.second.size(), 6u);
    EXPECT_EQ(six.time.left(), 19 * 40);
    EXPECT_EQ(six.bar.left(), 22 * 40);
    EXPECT_GE(six.bar.width(), 0);
    // A window too small for its groups gives empty rectangles, never negative ones.
    const remote::PanelGeometry tiny = remote::PanelLayout(20, 20, 6);
    for (const QRect& r : {tiny.type, tiny.video, tiny.layout, tiny.mode, tiny.bar, tiny.name, tiny.volume})
        EXPECT_GE(r.width(), 0);
}

}  // namespace
