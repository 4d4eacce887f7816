#include "content/play_mode_model.h"

#include "common/json_coding.h"
#include "tests/support/test_support.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

using namespace Qt::StringLiterals;
using namespace playmode;

QByteArray doc(const QByteArray& lists)
{
    return "{\"effectLists\":" + lists + "}";
}

QByteArray param(const QByteArray& type, const QByteArray& range, const QByteArray& select,
                 const QByteArray& key = "k")
{
    QByteArray p = "{\"keyVal\":\"" + key + "\",\"lableName\":\"L\",\"remarks\":\"r\"";
    if (!type.isNull())
        p += ",\"inputType\":" + type;
    if (!range.isNull())
        p += ",\"valueRange\":" + range;
    if (!select.isNull())
        p += ",\"select\":" + select;
    return p + "}";
}

Json::Value parsed(const QByteArray& text)
{
    Json::Value v;
    EXPECT_TRUE(jsonio::parse(text, v)) << text.toStdString();
    return v;
}

// "valueRange" and "select" of the written parameter, compact.
std::string rangeAndSelect(const Json::Value& p)
{
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    return Json::writeString(b, p["valueRange"]) + " " + Json::writeString(b, p["select"]);
}

TEST(PlayModeDocument, EachInputTypeReadAndWrittenBack)
{
    const struct {
        const char* name;
        QByteArray type, range, select;
        const char* written;  // "valueRange select"; null: the parameter is dropped
    } rows[] = {
        {"integer, range cut to the value", "0", "[0,100]", "7", "[7] 7"},
        {"integer, 2.5 skipped", "0", "[0]", "2.5", "[0] 0"},
        {"type missing reads as 0", QByteArray(), "[]", "3", "[3] 3"},
        {"decimal", "1", "[]", "1.5", "[1.5] 1.5"},
        {"text", "2", "[]", "\"x\"", "[\"x\"] \"x\""},
        {"integer choice, non-integers skipped", "3", "[1,2,\"x\",3]", "2", "[1,2,3] 2"},
        {"decimal choice", "4", "[0.5,1.25]", "1.25", "[0.5,1.25] 1.25"},
        {"text choice", "5", "[\"a\",\"b\"]", "\"b\"", "[\"a\",\"b\"] \"b\""},
        {"integer range, either order", "6", "[9,1]", "5", "[1,9] 5"},
        {"integer range of three elements", "6", "[1,2,3]", "2", "[0,0] 0"},
        {"decimal range, either order", "7", "[4.5,0.5]", "1", "[0.5,4.5] 1.0"},
        {"text multi-choice", "8", "[\"x\",\"y\"]", "[\"y\",3]", "[\"x\",\"y\"] [\"y\"]"},
        {"select missing", "0", "[1]", QByteArray(), nullptr},
        {"valueRange missing", "0", QByteArray(), "1", nullptr},
        {"valueRange not an array", "0", "{}", "1", nullptr},
        {"type 9", "9", "[]", "1", nullptr},
        {"type 65539 is not type 3", "65539", "[1]", "1", nullptr},
        {"negative type", "-1", "[]", "1", nullptr},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<PlayMode> modes;
        ASSERT_TRUE(ReadEffectLists(doc("[[" + param(r.type, r.range, r.select) + "]]"), modes));
        ASSERT_EQ(modes.size(), 1u);
        ASSERT_EQ(modes[0].params.size(), r.written ? 1u : 0u);
        if (!r.written)
            continue;
        const Json::Value out = parsed(PlayModeDocument(modes, {}));
        EXPECT_EQ(rangeAndSelect(out["effectLists"][0][0]), r.written);
        EXPECT_EQ(out["effectLists"][0][0]["lableName"].asString(), "L");
    }
}

TEST(PlayModeDocument, ModeListsNullsAndBadDocuments)
{
    const QByteArray p = param("0", "[1]", "1");
    const struct {
        const char* name;
        QByteArray input;
        bool ok;
        int modes;        // after reading into a list of one mode
        const char* out;  // "effectLists" written back, compact
    } rows[] = {
        {"null mode between others", doc("[null,[" + p + "]]"), true, 2, "[null,[{}]]"},
        {"trailing empty mode left out", doc("[[" + p + "],[]]"), true, 2, "[[{}]]"},
        {"no modes: null", doc("[]"), true, 0, "null"},
        {"elements neither arrays nor null skipped", doc("[5,\"x\",{},[" + p + "]]"), true, 1, "[[{}]]"},
        {"effectLists missing: target kept", "{\"other\":1}", true, 1, nullptr},
        {"effectLists not an array: target kept", doc("7"), true, 1, nullptr},
        {"empty payload", "", false, 1, nullptr},
        {"array at the top", "[1]", false, 1, nullptr},
        {"unclosed", "{\"effectLists\":[", false, 1, nullptr},
        {"text after the object", "{} x", false, 1, nullptr},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<PlayMode> modes(1);
        modes[0].name = u"kept"_s;
        EXPECT_EQ(ReadEffectLists(r.input, modes), r.ok);
        ASSERT_EQ(int(modes.size()), r.modes);
        if (!r.out) {
            EXPECT_EQ(modes[0].name, u"kept"_s);
            continue;
        }
        Json::Value lists = parsed(PlayModeDocument(modes, {}))["effectLists"];
        for (Json::Value& m : lists)
            for (Json::Value& q : m)
                q = Json::Value(Json::objectValue);
        Json::StreamWriterBuilder b;
        b["indentation"] = "";
        EXPECT_EQ(Json::writeString(b, lists), r.out);
    }
}

TEST(PlayModeDocument, NamesTextsAndPictureTypes)
{
    // Labels sent as \u escapes, as raw UTF-8 or as raw code page 936 bytes
    // read as the same characters and go back as UTF-8 (图 in code page 936,
    // CD BC, is also valid UTF-8: it must not become U+037C).
    const QByteArray typeParam = param("5", "[\"\\u6de1\\u5165\",\"b\"]", "\"\\u6de1\\u5165\"", "type");
    const QByteArray label = "{\"keyVal\":\"k\",\"lableName\":\"\xE4\xB8\xAD\\u6587\",\"remarks\":\"\",\"inputType\":0,"
                             "\"valueRange\":[1],\"select\":1}";
    const QByteArray pictures =
        param("8", "[\"jpg\",\"gif\",\"\\u56fe\"]", "[\"jpg\",\"gif\",\"\\u56fe\"]", "pictureType");
    const QByteArray codePage = "{\"keyVal\":\"\xD6\xD0\xCE\xC4\",\"inputType\":2,\"valueRange\":[],\"select\":\"\"}";
    std::vector<PlayMode> modes;
    ASSERT_TRUE(ReadEffectLists(doc("[[" + typeParam + "," + label + "," + pictures + "," + codePage + "]]"), modes));
    ASSERT_EQ(modes.size(), 1u);
    EXPECT_EQ(modes[0].name, u"淡入"_s);
    ASSERT_EQ(modes[0].params.size(), 4u);
    EXPECT_EQ(modes[0].params[1].lableName, u"中文"_s);
    EXPECT_EQ(modes[0].params[2].listChoices, (QStringList{u"jpg"_s, u"gif"_s, u"图"_s}));
    EXPECT_EQ(modes[0].params[3].keyVal, u"中文"_s);

    const QByteArray written = PlayModeDocument(modes, {u"jpg"_s, u"图"_s});
    EXPECT_TRUE(written.contains("\"lableName\" : \"\xE4\xB8\xAD\xE6\x96\x87\""));
    EXPECT_TRUE(written.contains("\"select\" : \"\xE6\xB7\xA1\xE5\x85\xA5\""));
    const Json::Value out = parsed(written);
    EXPECT_TRUE(written.contains("\"keyVal\" : \"\xE4\xB8\xAD\xE6\x96\x87\""));
    EXPECT_EQ(rangeAndSelect(out["effectLists"][0][2]),
              "[\"jpg\",\"gif\",\"\\u56fe\"] [\"jpg\",\"\\u56fe\"]");
    // No picture types (the video editor): every choice is dropped.
    EXPECT_EQ(rangeAndSelect(parsed(PlayModeDocument(modes, {}))["effectLists"][0][2]),
              "[\"jpg\",\"gif\",\"\\u56fe\"] []");
}

TEST(PlayModeDocument, ImageTypesAndTheFileOnDisk)
{
    QStringList types{u"old"_s};
    EXPECT_FALSE(ReadImageTypes("", types));
    EXPECT_EQ(types, QStringList{u"old"_s});
    ASSERT_TRUE(ReadImageTypes("{\"imageTypes\":[\"jpg\",3,null,\"\\u56fe\"]}", types));
    EXPECT_EQ(types, (QStringList{u"jpg"_s, u"图"_s}));

    testsupport::TempHome home;
    const QString path = QDir(home.path()).filePath(u"PicturePlayControl.Json"_s);
    std::vector<PlayMode> modes;
    ASSERT_TRUE(ReadEffectLists(doc("[[" + param("0", "[1]", "4") + "]]"), modes));
    ASSERT_TRUE(WritePlayModeDocument(path, modes, {}));
    const QByteArray bytes = testsupport::readFile(path);
    EXPECT_TRUE(bytes.contains("\r\n"));
    EXPECT_FALSE(bytes.contains(QByteArray("\n").prepend('x')) && !bytes.contains("\r\n"));
    EXPECT_EQ(bytes.count('\n'), bytes.count("\r\n"));
    EXPECT_EQ(QByteArray(bytes).replace("\r\n", "\n"), PlayModeDocument(modes, {}));
}

TEST(PlayModePackets, HeadersOfTheExchanges)
{
    const struct {
        proto::PlayerPacketHeader h;
        uint8_t command;
        uint16_t param, arg;
    } rows[] = {
        {PictureRequest(kPicCatalogue), 63, 0, 0},
        {PictureRequest(kPicImageTypes), 63, 2, 0},
        {PictureRequest(kPicUpload), 63, 3, 0},
        {VideoReadRequest(kVidConfigured), 3, 6, 1},
        {VideoUploadRequest(), 63, 6, 2},
        {MobileRequest(kMobileUpload), 62, 1, 0},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(r.h.command, r.command);
        EXPECT_EQ(r.h.subCode, 0);
        EXPECT_EQ(r.h.sequence, 0);
        EXPECT_EQ(r.h.param, r.param);
        EXPECT_EQ(r.h.arg, r.arg);
    }
    EXPECT_TRUE(FitsOnePacket(qint64(proto::kMaxPayload)));
    EXPECT_FALSE(FitsOnePacket(qint64(proto::kMaxPayload) + 1));
}

TEST(MobileDocument, ReadFiltersAndTheUploadedDocument)
{
    const QByteArray input = R"({"modules":[
        {"type":5,"name":"a","enable":1},
        {"type":6,"name":"bool","enable":true},
        {"type":7,"name":"negative","enable":-1},
        {"type":8,"name":"missing"},
        {"type":9,"enable":1},
        {"type":9,"name":"off","enable":0},
        {"type":2,"name":"\u4e2d","enable":2}],
      "words":["hi",3,""],
      "effects_new":[{"name":"x","type":3},{"name":"neg","type":-1},{"name":"none"},{"name":"w","type":0}]})";
    MobileSettings s;
    ASSERT_TRUE(ParseMobileJson(input, s));
    const std::vector<MobileModule> modules{{u"a"_s, true}, {u"off"_s, false}, {u"中"_s, true}};
    EXPECT_EQ(s.modules, modules);
    EXPECT_EQ(s.words, (QStringList{u"hi"_s, QString()}));
    const std::vector<MobileEffect> effects{{u"x"_s, 3}, {u"w"_s, 0}};
    EXPECT_EQ(s.effects, effects);

    const Json::Value out = parsed(MobileDocument(s));
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    b["emitUTF8"] = true;
    EXPECT_EQ(Json::writeString(b, out["modules"]),
              "[{\"enable\":1,\"name\":\"a\",\"type\":1},{\"enable\":0,\"name\":\"off\",\"type\":2},"
              "{\"enable\":1,\"name\":\"\xE4\xB8\xAD\",\"type\":3}]");
    EXPECT_EQ(Json::writeString(b, out["effects_new"]), "[{\"name\":\"x\",\"type\":3},{\"name\":\"w\",\"type\":0}]");

    // Without "effects_new" the effects are emptied, and go up as [].
    MobileSettings none;
    none.effects = effects;
    ASSERT_TRUE(ParseMobileJson("{\"words\":[]}", none));
    EXPECT_TRUE(none.effects.empty());
    EXPECT_EQ(Json::writeString(b, parsed(MobileDocument(none))["effects_new"]), "[]");
    EXPECT_FALSE(ParseMobileJson("{\"words\":[", none));
}

TEST(PhraseFile, RoundTripAsBytesAndUnencodablePhrases)
{
    const QStringList phrases{u"Hello"_s, QString(), u"中文"_s, u"€"_s};
    QByteArray bytes;
    ASSERT_TRUE(EncodePhraseFile(phrases, bytes));
    EXPECT_EQ(bytes, QByteArray("Hello\r\n\r\n\xD6\xD0\xCE\xC4\r\n\x80\r\n"));
    EXPECT_EQ(ReadPhraseFile(bytes), phrases);
    EXPECT_EQ(ReadPhraseFile("a\nb"), (QStringList{u"a"_s, u"b"_s}));
    const struct {
        QString phrase;
    } bad[] = {{u"smile 😀"_s}, {u"two\nlines"_s}};
    for (const auto& r : bad) {
        QString which;
        EXPECT_FALSE(EncodePhraseFile({u"ok"_s, r.phrase}, bytes, &which));
        EXPECT_EQ(which, r.phrase);
        EXPECT_TRUE(bytes.isEmpty());
    }
}

}  // namespace
