// Rotate.Json, Rotate.QVE and monitors.json: goldens, round trips, the
// readers' member rules and what they refuse.

#include "common/json_coding.h"
#include "rotation/rotate_documents.h"
#include "tests/rotation/rotation_fixtures.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace rotation;
using rotest::Bench;
using rotest::device;

namespace {

std::string text(const Json::Value& v)
{
    return jsonio::write(v);
}

const char* const kClickGolden = R"({
	"CheckedChannel" : 5,
	"ClickFlag" : true,
	"Msg" : "Rotate Config",
	"Screen" : 1,
	"Screen1" : 
	{
		"Data" : 
		[
			{
				"Channel" : 5,
				"LeftBottomx" : 10,
				"LeftBottomy" : 610,
				"LeftTopx" : 10,
				"LeftTopy" : 10,
				"Manufacturer" : "Acme",
				"Model" : "W55",
				"RefreshRate" : 60,
				"ResolutionHeight" : 1080,
				"ResolutionWidth" : 1920,
				"RightBottomx" : 1010,
				"RightBottomy" : 610,
				"RightTopx" : 1010,
				"RightTopy" : 10
			}
		],
		"ResolutionHeightTotal" : 3240,
		"ResolutionWidthTotal" : 5760,
		"ScreenLeftBottomx" : 10,
		"ScreenLeftBottomy" : 610,
		"ScreenLeftTopx" : 10,
		"ScreenLeftTopy" : 10,
		"ScreenRightBottomx" : 1010,
		"ScreenRightBottomy" : 610,
		"ScreenRightTopx" : 1010,
		"ScreenRightTopy" : 10
	},
	"Screen2" : null
})";

// A wall of one display in slot 5 (channel 5) whose documents are kept.
struct JsonBench : Bench {
    std::vector<Json::Value> docs;
    JsonBench()
    {
        m.transmit = [this](uint16_t ch, bool click) {
            docs.push_back(BuildRotateJson(m, ch, click));
            return true;
        };
        place({5}, device("Acme", "W55", 1000, 600), 0);
        EXPECT_EQ(m.AddOutputsToWall(), AddResult::Ok);
    }
};

// Member names of the first object that starts after `from`, in text order.
std::vector<std::string> memberOrder(const std::string& body, std::size_t from)
{
    std::vector<std::string> names;
    const std::size_t start = body.find('{', from);
    const std::size_t end = body.find('}', start);
    const std::string part = body.substr(start, end - start);
    static const QRegularExpression re(QStringLiteral("\"([^\"]+)\" :"));
    auto it = re.globalMatch(QString::fromStdString(part));
    while (it.hasNext())
        names.push_back(it.next().captured(1).toStdString());
    return names;
}

}  // namespace

TEST(RotateJson, GoldenOfAClick)
{
    JsonBench b;
    b.m.LeftButtonDown({50, 50});
    ASSERT_EQ(b.docs.size(), 1u);
    EXPECT_EQ(text(b.docs[0]), kClickGolden);
}

TEST(RotateJson, EditsAfterTheReplyTruncateTowardZero)
{
    JsonBench b;
    b.m.LeftButtonDown({50, 50});
    b.m.OnRotateReply();
    // One pixel right at 0.2f is 4.99999988 mm: the corner at 10 goes to 14.
    ASSERT_TRUE(b.m.MoveSelected(1, 0));
    ASSERT_EQ(b.docs.size(), 2u);
    const Json::Value& e = b.docs[1]["Screen1"]["Data"][0];
    EXPECT_EQ(e["LeftTopx"].asInt(), 14);
    EXPECT_EQ(b.docs[1]["CheckedChannel"].asInt(), 0);
    EXPECT_FALSE(b.docs[1]["ClickFlag"].asBool());
    b.m.OnRotateReply();
    ASSERT_TRUE(b.m.RotateSelected(1));  // '.'
    ASSERT_EQ(b.docs.size(), 3u);
    EXPECT_NE(b.docs[2]["Screen1"]["Data"][0]["LeftTopy"].asInt(), 10);
    // Picture areas reaching to -0.5 are sent as 0.
    b.m.OnRotateReply();
    for (auto& p : b.m.walls[0].outputs[5].ScreenPoint)
        p = {-0.5, -3.7};
    b.m.SendRotateJson(0, false);
    const Json::Value& last = b.docs.back()["Screen1"];
    EXPECT_EQ(last["Data"][0]["LeftTopx"].asInt(), 0);
    EXPECT_EQ(last["Data"][0]["LeftTopy"].asInt(), -3);
    // The hidden background became the box of the picture areas, no margin.
    EXPECT_EQ(last["ScreenLeftTopx"].asInt(), 0);
    EXPECT_DOUBLE_EQ(b.m.walls[0].FramePoint[0].x, -0.5);
}

TEST(RotateJson, ShownBackgroundIsSentAsTheOperatorLeftIt)
{
    JsonBench b;
    b.m.SetBackgroundDisplay(true);
    ASSERT_EQ(b.docs.size(), 1u);
    const Json::Value& s = b.docs[0]["Screen1"];
    EXPECT_EQ(s["ScreenLeftTopx"].asInt(), -10);
    EXPECT_EQ(s["ScreenRightBottomy"].asInt(), 630);
    EXPECT_TRUE(b.docs[0]["Screen2"].isNull());
}

TEST(RotateJson, NoDisplayedOutputGivesTwoNulls)
{
    Bench b;
    b.m.CountOutputs();
    const Json::Value doc = BuildRotateJson(b.m, 0, false);
    EXPECT_TRUE(doc["Screen1"].isNull());
    EXPECT_TRUE(doc["Screen2"].isNull());
    EXPECT_EQ(doc["Screen"].asInt(), 1);
}

// ---------------------------------------------------------------- Rotate.QVE

TEST(RotateConfig, WriterLayoutAndMemberOrder)
{
    JsonBench b;
    b.m.currentManufacturer = QStringLiteral("Acme");
    b.m.currentModel = QStringLiteral("W55");
    const std::string body = WriteRotateConfig(b.m).toStdString();
    EXPECT_TRUE(body.starts_with("{\n\t\"Manufacturer\" : \"Acme\",\n\t\"Model\" : \"W55\",\n\t\"Msg\" : \"Rotate config V2\",\n"));
    const std::vector<std::string> output = memberOrder(body, body.find("\"RotateRectPoint\""));
    const std::vector<std::string> expected = {
        "BezelBottom", "BezelLeft", "BezelRight", "BezelTop", "Channel", "Display", "FontAngle", "FrameAngle",
        "FramePoint[0]x", "FramePoint[0]y", "FramePoint[1]x", "FramePoint[1]y", "FramePoint[2]x", "FramePoint[2]y",
        "FramePoint[3]x", "FramePoint[3]y", "Manufacturer", "Model", "RefreshRate", "ResolutionHeight",
        "ResolutionWidth", "ScreenHeight", "ScreenPoint[0]x", "ScreenPoint[0]y", "ScreenPoint[1]x", "ScreenPoint[1]y",
        "ScreenPoint[2]x", "ScreenPoint[2]y", "ScreenPoint[3]x", "ScreenPoint[3]y", "ScreenWidth"};
    EXPECT_EQ(output, expected);
    EXPECT_NE(body.find("\"ShowScale\" : 0.20000000298023224"), std::string::npos);
    EXPECT_NE(body.find("\"RatioHeight\" : 3,\n\t\t\t\t\"RatioWidth\" : 4\n"), std::string::npos);
    EXPECT_TRUE(body.ends_with("\n\t\"UpdateVideoWall\" : true\n}"));
    Json::Value root;
    ASSERT_TRUE(jsonio::parse(QByteArray::fromStdString(body), root));
    EXPECT_EQ(root["RotateParam"].size(), 4u);
    EXPECT_EQ(root["RotateRect"][3]["RotateRectPoint"].size(), 9u);
}

TEST(RotateConfig, GoldenOfAnUnusedSlotAndABackground)
{
    JsonBench b;
    const std::string body = WriteRotateConfig(b.m).toStdString();
    const std::size_t rect = body.find("\"RotateRectPoint\"");
    const std::size_t start = body.find("\t\t\t\t{", rect);
    const std::string unused = body.substr(start, body.find('}', start) - start + 1);
    std::string expected = "\t\t\t\t{\n";
    for (const char* name : {"BezelBottom", "BezelLeft", "BezelRight", "BezelTop"})
        expected += std::string("\t\t\t\t\t\"") + name + "\" : 0.0,\n";
    expected += "\t\t\t\t\t\"Channel\" : 0,\n\t\t\t\t\t\"Display\" : false,\n";
    for (const char* name : {"FontAngle", "FrameAngle", "FramePoint[0]x", "FramePoint[0]y", "FramePoint[1]x",
                             "FramePoint[1]y", "FramePoint[2]x", "FramePoint[2]y", "FramePoint[3]x", "FramePoint[3]y"})
        expected += std::string("\t\t\t\t\t\"") + name + "\" : 0.0,\n";
    expected += "\t\t\t\t\t\"Manufacturer\" : \"\",\n\t\t\t\t\t\"Model\" : \"\",\n";
    for (const char* name : {"RefreshRate", "ResolutionHeight", "ResolutionWidth", "ScreenHeight", "ScreenPoint[0]x",
                             "ScreenPoint[0]y", "ScreenPoint[1]x", "ScreenPoint[1]y", "ScreenPoint[2]x",
                             "ScreenPoint[2]y", "ScreenPoint[3]x", "ScreenPoint[3]y"})
        expected += std::string("\t\t\t\t\t\"") + name + "\" : 0.0,\n";
    expected += "\t\t\t\t\t\"ScreenWidth\" : 0.0\n\t\t\t\t}";
    EXPECT_EQ(unused, expected);

    const std::size_t bg = body.find("\"BackgroundRect\"");
    EXPECT_EQ(body.substr(bg, body.find('}', bg) - bg + 1),
              "\"BackgroundRect\" : \n\t\t\t{\n\t\t\t\t\"Display\" : false,\n"
              "\t\t\t\t\"FramePoint[0]x\" : 0.0,\n\t\t\t\t\"FramePoint[0]y\" : 0.0,\n"
              "\t\t\t\t\"FramePoint[1]x\" : 0.0,\n\t\t\t\t\"FramePoint[1]y\" : 0.0,\n"
              "\t\t\t\t\"FramePoint[2]x\" : 0.0,\n\t\t\t\t\"FramePoint[2]y\" : 0.0,\n"
              "\t\t\t\t\"FramePoint[3]x\" : 0.0,\n\t\t\t\t\"FramePoint[3]y\" : 0.0,\n"
              "\t\t\t\t\"RatioHeight\" : 3,\n\t\t\t\t\"RatioWidth\" : 4\n\t\t\t}");
    // A used slot's reals keep 17 significant digits.
    b.m.LeftButtonDown({50, 50});
    b.m.OnRotateReply();
    ASSERT_TRUE(b.m.RotateSelected(30));
    const std::string turned = WriteRotateConfig(b.m).toStdString();
    EXPECT_NE(turned.find("\"FramePoint[0]x\" : 223.32"), std::string::npos);
    EXPECT_NE(turned.find("\"FontAngle\" : 30.0"), std::string::npos);
}

TEST(RotateConfig, RoundTripKeepsTheWallAndNonAsciiNames)
{
    JsonBench b;
    b.place({1}, device("奥视", "拼接屏 55\"", 1210.5, 680.25, 1.75), 1);
    ASSERT_EQ(b.m.AddOutputsToWall(), AddResult::Ok);
    b.m.LeftButtonDown({50, 50});
    b.m.RotateSelected(1);
    b.m.wall().Row = 3;
    for (int i = 0; i < 40; ++i)
        b.m.MouseWheel(-1);  // smallest zoom
    b.m.SetBackgroundDisplay(true);
    b.m.SetAspectRatio(16, 9);
    b.m.currentManufacturer = QStringLiteral("奥视");
    const QByteArray written = WriteRotateConfig(b.m);

    Bench back;
    ASSERT_TRUE(ParseRotateConfig(written, back.m));
    EXPECT_EQ(WriteRotateConfig(back.m), written);
    EXPECT_EQ(back.m.devices[1].slot[1].Manufacturer, QStringLiteral("奥视"));
    EXPECT_EQ(back.m.walls[1].outputs[1].Model, QStringLiteral("拼接屏 55\""));
    EXPECT_EQ(back.m.walls[0].ShowScale, 0.019999999552965164);
    EXPECT_EQ(back.m.walls[0].RatioWidth, 16);
    EXPECT_EQ(back.m.ScreenCount, 2);
    EXPECT_EQ(back.m.OutputCount, 2);
    EXPECT_EQ(back.m.currentManufacturer, QStringLiteral("奥视"));
    const WallOutput& o = back.m.walls[0].outputs[5];
    EXPECT_DOUBLE_EQ(o.CentreX, (o.FramePoint[0].x + o.FramePoint[2].x) * 0.5);
    EXPECT_EQ(back.m.walls[2].ResolutionWidthTotal, 5760);
}

TEST(RotateConfig, RefusedTextsChangeNothing)
{
    const char* rows[] = {
        "",
        "[1]",
        "{\"Msg\":\"Rotate config V1\",\"UpdateVideoWall\":true}",
        "{\"UpdateVideoWall\":true}",
        "{\"Msg\":7}",
        "{\"Msg\":\"Rotate config V2\"",
        "{\"Msg\":\"Rotate config V2\"}}",
        "{\"Msg\":\"Rotate config V2\",\"ShowScale\":1e999}",
        "{\"Msg\":\"Rotate config V2\", \"x\":[}",
    };
    for (const char* row : rows) {
        Bench b;
        b.m.currentModel = QStringLiteral("keep");
        EXPECT_FALSE(ParseRotateConfig(QByteArray(row), b.m)) << row;
        EXPECT_EQ(b.m.currentModel, QStringLiteral("keep"));
    }
}

TEST(RotateConfig, MemberRules)
{
    struct Row {
        const char* output;  // members of RotateRectPoint[0] and OutputDeviceProperties[0]
        const char* rect;    // members of RotateRect[0]
        std::function<void(const RotateModel&)> check;
    };
    const Row rows[] = {
        {"\"ScreenWidth\":\"1920\"", "", [](const RotateModel& m) { EXPECT_EQ(m.devices[0].slot[0].ScreenWidth, 1920); }},
        {"\"ScreenWidth\":1000", "", [](const RotateModel& m) { EXPECT_EQ(m.walls[0].outputs[0].ScreenWidth, 1000.0); }},
        {"\"Channel\":-1", "", [](const RotateModel& m) { EXPECT_EQ(m.walls[0].outputs[0].Channel, 0); }},
        {"\"Channel\":3.0", "", [](const RotateModel& m) { EXPECT_EQ(m.walls[0].outputs[0].Channel, 3); }},
        {"\"Channel\":3.5", "", [](const RotateModel& m) { EXPECT_EQ(m.walls[0].outputs[0].Channel, 0); }},
        {"\"Channel\":99999999", "", [](const RotateModel& m) { EXPECT_EQ(m.walls[0].outputs[0].Channel, 65535); }},
        {"\"Display\":1", "", [](const RotateModel& m) { EXPECT_EQ(m.walls[0].outputs[0].Display, 0); }},
        {"\"Manufacturer\":5", "", [](const RotateModel& m) {
             EXPECT_EQ(m.devices[0].slot[0].Manufacturer, QStringLiteral("(Projector)"));
             EXPECT_EQ(m.devices[0].slot[8].Model, QStringLiteral("1920x1080"));
             EXPECT_EQ(m.devices[0].slot[8].RefreshRate, 60);
             EXPECT_EQ(m.OutputCount, 9);
         }},
        {"", "\"Row\":0", [](const RotateModel& m) { EXPECT_EQ(m.walls[0].Row, 0); }},
        {"", "\"Row\":12,\"Column\":70000", [](const RotateModel& m) {
             EXPECT_EQ(m.walls[0].Row, 9);
             EXPECT_EQ(m.walls[0].Column, 9);
         }},
        {"", "\"ShowScale\":0.019999999552965164", [](const RotateModel& m) { EXPECT_EQ(m.walls[0].ShowScale, double(0.02f)); }},
        {"", "\"ShowScale\":0.0", [](const RotateModel& m) { EXPECT_EQ(m.walls[0].ShowScale, double(0.2f)); }},
        {"", "\"ShowScale\":1.5", [](const RotateModel& m) { EXPECT_EQ(m.walls[0].ShowScale, double(0.2f)); }},
        {"", "\"ShowScale\":-1e308", [](const RotateModel& m) { EXPECT_EQ(m.walls[0].ShowScale, double(0.2f)); }},
        {"", "\"BackgroundRect\":{\"RatioWidth\":0,\"RatioHeight\":10001}", [](const RotateModel& m) {
             EXPECT_EQ(m.walls[0].RatioWidth, 4);
             EXPECT_EQ(m.walls[0].RatioHeight, 3);
         }},
        {"", "\"BackgroundRect\":{\"RatioWidth\":16,\"RatioHeight\":9.0,\"Display\":true}", [](const RotateModel& m) {
             EXPECT_EQ(m.walls[0].RatioWidth, 16);
             EXPECT_EQ(m.walls[0].RatioHeight, 9);  // a whole real counts as an integer
             EXPECT_EQ(m.walls[0].Display, 1);
         }},
        {"", "\"BackgroundRect\":[1,2]", [](const RotateModel& m) { EXPECT_EQ(m.walls[0].Display, 0); }},
    };
    for (const Row& r : rows) {
        const QByteArray doc = QByteArray("{\"Msg\":\"Rotate config V2\",\"UpdateVideoWall\":true,"
                                          "\"RotateParam\":[{\"OutputDeviceProperties\":[{") +
                               r.output + "}]}],\"RotateRect\":[{" + r.rect + (r.rect[0] ? "," : "") +
                               "\"RotateRectPoint\":[{" + r.output + "}]}]}";
        Bench b;
        ASSERT_TRUE(ParseRotateConfig(doc, b.m)) << doc.constData();
        SCOPED_TRACE(doc.constData());
        r.check(b.m);
    }
}

TEST(RotateConfig, WallIgnoredWithoutTheFlagAndExtraScreensIgnored)
{
    const QByteArray rect = "{\"RotateRectPoint\":[{\"Display\":true,\"Manufacturer\":\"A\"}],\"Row\":4}";
    QByteArray many = "[";
    for (int i = 0; i < 6; ++i)
        many += (i ? "," : "") + rect;
    many += "]";
    Bench off;
    ASSERT_TRUE(ParseRotateConfig("{\"Msg\":\"Rotate config V2\",\"RotateRect\":" + many + "}", off.m));
    EXPECT_EQ(off.m.walls[0].Row, 1);
    EXPECT_EQ(off.m.walls[0].outputs[0].Display, 0);
    Bench on;
    ASSERT_TRUE(ParseRotateConfig("{\"Msg\":\"Rotate config V2\",\"UpdateVideoWall\":true,\"RotateRect\":" + many + "}",
                                  on.m));
    EXPECT_EQ(on.m.walls[3].Row, 4);
    EXPECT_EQ(on.m.walls[3].outputs[0].Display, 1);
    EXPECT_TRUE(on.m.UpdateVideoWall);
}

TEST(RotateConfig, SavedFileLandsInTheConfigFolder)
{
    QTemporaryDir dir;
    JsonBench b;
    const QString player = dir.path() + "/10.0.0.2-A1-5005";
    ASSERT_TRUE(SaveRotateConfigFile(player, b.m));
    const QByteArray onDisk = testsupport::readFile(player + "/config/Rotate.QVE");
    EXPECT_TRUE(onDisk.contains("\r\n\t\"Msg\" : \"Rotate config V2\""));
    Bench back;
    EXPECT_TRUE(ParseRotateConfig(onDisk, back.m));
    EXPECT_EQ(back.m.walls[0].outputs[5].Manufacturer, QStringLiteral("Acme"));
}

// ---------------------------------------------------------------- monitors.json

TEST(MonitorList, EntriesThatAreNotElevenWellTypedValuesAreDropped)
{
    const QByteArray doc = R"({"entries":[
        ["A","M1",1,2,3,4,5,6,1920,1080,60],
        ["A","M2",1,2,3,4,5,6,1920,1080],
        ["A","M3",1,2,3,4,5,6,1920,1080,60,7],
        [5,"M4",1,2,3,4,5,6,1920,1080,60],
        ["A","M5",1,2,3,"4",5,6,1920,1080,60],
        {"a":1},
        ["显示","型号",1.5,2,3,4,5,6,1920,1080,60]
    ]})";
    std::vector<OutputDevice> list;
    ASSERT_TRUE(ParseMonitorList(doc, list));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].Model, QStringLiteral("M1"));
    EXPECT_EQ(list[0].BezelBottom, 6);
    EXPECT_EQ(list[1].Manufacturer, QStringLiteral("显示"));
    EXPECT_EQ(list[1].ScreenWidth, 1.5);
}

TEST(MonitorList, ReaderOutcomes)
{
    const OutputDevice keep = device("K", "K", 1, 1);
    const struct { const char* text; bool ok; std::size_t size; } rows[] = {
        {"", false, 1},
        {"{\"other\":[]}", false, 1},
        {"{\"entries\":null}", true, 0},     // a deleted last model stays deleted
        {"{\"entries\":5}", true, 1},        // read, nothing changed
        {"{\"entries\":[]}", true, 0},
        {"{\"entries\":[}", false, 1},
    };
    for (const auto& r : rows) {
        std::vector<OutputDevice> list{keep};
        EXPECT_EQ(ParseMonitorList(QByteArray(r.text), list), r.ok) << r.text;
        EXPECT_EQ(list.size(), r.size) << r.text;
    }
}

TEST(MonitorList, WriteReadAndTheFolderIsMadeWhenMissing)
{
    testsupport::TempHome home;
    std::vector<OutputDevice> list{device("b", "1", 10, 20), device("B", "2", 1, 2), device("显示", "型号", 1, 2)};
    ASSERT_TRUE(SaveMonitorFile(list, 9));
    const QByteArray text = testsupport::readFile(home.path() + "/Monitor/monitors.json");
    EXPECT_TRUE(text.startsWith("{\r\n\t\"entries\" : \r\n\t[\r\n\t\t[\r\n\t\t\t\"b\",\r\n\t\t\t\"1\",\r\n\t\t\t10.0,"));
    std::vector<OutputDevice> back;
    ASSERT_TRUE(LoadMonitorFile(back));
    EXPECT_EQ(back, list);
    EXPECT_EQ(ManufacturerNames(back), (std::vector<QString>{"B", "b", QStringLiteral("显示")}));
    EXPECT_EQ(WriteMonitorList({}), "{\n\t\"entries\" : null\n}");
    ASSERT_TRUE(SaveMonitorFile({}, 9));
    ASSERT_TRUE(LoadMonitorFile(back));
    EXPECT_TRUE(back.empty());
}

TEST(MonitorList, FailedWriteIsReported)
{
    testsupport::TempHome home;
    ASSERT_TRUE(testsupport::writeFile(home.path() + "/Monitor", "a file where the folder should be"));
    QString error;
    EXPECT_FALSE(SaveMonitorFile({device("A", "M", 1, 1)}, 4, &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("无法保存显示器列表"))) << error.toStdString();
}

TEST(MonitorList, SizeEditTexts)
{
    const struct { const char* typed; const char* kept; double value; } rows[] = {
        {"12.5.3", "12.53", 12.53}, {"1a2", "12", 12}, {"", "", 0}, {"..", ".", 0},
        {"-5", "5", 5},             {"1,5", "15", 15}, {"0.25", "0.25", 0.25},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(CleanNumberText(QString::fromUtf8(r.typed)), QString::fromUtf8(r.kept)) << r.typed;
        EXPECT_DOUBLE_EQ(NumberFromText(QString::fromUtf8(r.kept)), r.value) << r.kept;
    }
    EXPECT_DOUBLE_EQ(NumberFromText(QStringLiteral("3.5mm")), 3.5);
}
