#include "common/json_coding.h"
#include "tests/support/test_support.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>
#include <memory>
#include <sstream>

using namespace jsonio;

namespace {

std::string hex(const std::string& s)
{
    return QByteArray::fromStdString(s).toHex(' ').toStdString();
}

struct BytesCase { const char* name; std::string input, expected; };

}  // namespace

TEST(CodePointToLocal, Bytes)
{
    const struct { uint32_t cp; std::string expected; } cases[] = {
        {0x41, "A"}, {0x7F, "\x7F"}, {0xE9, "\xC3\xA9"}, {0x7FF, "\xDF\xBF"},
        // Chinese characters and punctuation marks: the code page.
        {0x4E2D, "\xD6\xD0"}, {0x9FA5, "\xFD\x9B"}, {0x3002, "\xA1\xA3"}, {0x2014, "\xA1\xAA"},
        {0xFF01, "\xA3\xA1"}, {0xFA29, "\xFE\x4F"},
        // Others, ideographs without a code and lone surrogates: UTF-8.
        {0x2603, "\xE2\x98\x83"}, {0x20AC, "\xE2\x82\xAC"}, {0x00B7, "\xC2\xB7"}, {0xF900, "\xEF\xA4\x80"},
        {0xD800, "\xEF\xBF\xBD"}, {0x1F600, "\xF0\x9F\x98\x80"}, {0x10FFFF, "\xF4\x8F\xBF\xBF"}, {0x110000, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hex(codePointToLocal(c.cp)), hex(c.expected)) << std::hex << c.cp;
}

TEST(JsonRead, EscapesResolved)
{
    const BytesCase cases[] = {
        {"chinese", "\\u4e2d", "\xD6\xD0"},                  {"upper-case hex", "\\u4E2D\\u6587", "\xD6\xD0\xCE\xC4"},
        {"latin", "\\u00e9", "\xC3\xA9"},                    {"punctuation", "\\u3002", "\xA1\xA3"},
        {"other bmp", "\\u2603", "\xE2\x98\x83"},            {"surrogate pair", "\\ud83d\\ude00", "\xF0\x9F\x98\x80"},
        {"lone high surrogate", "a\\ud83db", "a\xEF\xBF\xBD" "b"}, {"lone low surrogate", "\\ude00", "\xEF\xBF\xBD"},
        {"high then non-low", "\\ud83d\\u0041", "\xEF\xBF\xBD" "A"},
        {"trail byte 0x5C", "\\u4e57", "\x81\x5C"},          {"trail 0x5C then quote", "\\u4e57\\\"", "\x81\x5C\""},
        {"escaped quote", "\\u0022", "\""},                  {"escaped backslash", "\\u005c", "\\"},
        {"escaped backslash before u", "\\\\u4e2d", "\\u4e2d"}, {"control character", "a\\u0001b", "a\x01" "b"},
        {"nul", "a\\u0000b", std::string("a\0b", 3)},         {"ascii via escape", "\\u0041", "A"},
        {"two-letter escapes", "\\\"\\\\\\/\\b\\f\\n\\r\\t", "\"\\/\b\f\n\r\t"},
        {"raw utf-8 mixed with escape", "\xE4\xB8\xAD\\u4e2d", "\xE4\xB8\xAD\xD6\xD0"},
        {"raw code-page bytes", "\xD6\xD0\xFF\x80", "\xD6\xD0\xFF\x80"}, {"raw control byte", "a\x01" "b", "a\x01" "b"},
    };
    for (const auto& c : cases) {
        Json::Value root;
        ASSERT_TRUE(parse(QByteArray::fromStdString("{\"s\":\"" + c.input + "\"}"), root)) << c.name;
        EXPECT_EQ(hex(root["s"].asString()), hex(c.expected)) << c.name;
    }
}

TEST(JsonRead, EscapesInNamesAndOutsideStrings)
{
    Json::Value root;
    ASSERT_TRUE(parse(QByteArray(R"({"\u540d": 1, /* "\u4e2d */ "b" : "x" // "\u4e2d
 , "c" : ["\u4e2d"]})"),
                      root));
    EXPECT_TRUE(root.isMember("\xC3\xFB"));  // U+540D is C3FB
    EXPECT_EQ(root["b"].asString(), "x");
    EXPECT_EQ(root["c"][0].asString(), "\xD6\xD0");
    EXPECT_EQ(root.size(), 3u);
}

TEST(JsonRead, FailuresAreReportedNotThrown)
{
    // The last one is past jsoncpp's nesting limit, where it throws.
    const QByteArray bad[] = {"", "{", "{\"a\":}", "{\"a\":\"\\uZZZZ\"}", "{\"a\":\"\\ud83d\\uZZ\"}", "{\"a\":1",
                              QByteArray(5000, '[') + QByteArray(5000, ']')};
    for (const QByteArray& text : bad) {
        Json::Value root(7);
        QString error;
        EXPECT_FALSE(parse(text, root, &error)) << text.left(20).toStdString();
        EXPECT_FALSE(error.isEmpty()) << text.left(20).toStdString();
        EXPECT_EQ(root, Json::Value(7)) << text.left(20).toStdString();  // left as it was
    }
}

TEST(JsonRead, DocumentPreChecks)
{
    const struct { const char* text; bool balanced, nesting; } cases[] = {
        {"{}", true, true},        {"{\"a\":{\"b\":[1,2]}}", true, true}, {" {}", false, true},
        {"[]", false, true},       {"", false, true},                     {"{", false, false},
        {"{\"a\":[}", true, false}, {"{\"a\":\"}", false, false},  // string never closes
        {"{\"a\":\"{\"}", true, true}, {"{\"a\":\"}\"}", true, true},      // braces inside a string
        {"{\"a\":\"\\\"}\"}", true, true},                                // escaped quote
        {"{\"a\":[1]]}", true, false}, {"{}}", true, false},       {"{}garbage", true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JsonBracesBalanced(std::string_view(c.text)), c.balanced) << c.text;
        EXPECT_EQ(JsonNestingValid(QByteArray(c.text)), c.nesting) << c.text;
    }
    Json::Value root;
    QString error;
    for (const QByteArray& refused : {QByteArray(), QByteArray("[1]"), QByteArray("{\"a\":[}")})
        EXPECT_FALSE(parseDocument(refused, root, &error)) << refused.toStdString();
    ASSERT_TRUE(parseDocument("{\"msg\":\"windows config\",\"n\":\"\\u4e2d{\"}", root, &error)) << error.toStdString();
    EXPECT_EQ(root["n"].asString(), "\xD6\xD0{");
    // Deep nesting passes the pre-checks without recursion.
    EXPECT_TRUE(JsonNestingValid(QByteArray(1000000, '[') + QByteArray(1000000, ']')));
}

TEST(JsonRead, PlayerDocumentPreChecks)
{
    const struct { const char* text; bool object, brackets; } cases[] = {
        {"{}", true, true},                 {"{\"a\":[1,{\"b\":2}]}", true, true},
        {"{}\r\n\t", true, true},           {"{} ", true, false},       // only tab, CR, LF may follow
        {"[1,2]", false, true},             {"", false, false},         {"{", false, false},
        {"{}{}", true, false},              {"{}[]", true, false},      // one top-level value
        {"{\"a\":\"[{\"}", true, true},      {"{\"a\":\"}\"}", true, true},  // brackets inside strings
        {"{\"a\":\"\\\"}\"}", true, true},   {"{\"a\":[}", true, false}, {"{\"a\":1]}", true, false},
        {" {}", false, false},              {"{}x", true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsJsonObjectText(QByteArray(c.text)), c.object) << c.text;
        EXPECT_EQ(CheckJsonBrackets(QByteArray(c.text)), c.brackets) << c.text;
    }
    Json::Value root;
    EXPECT_FALSE(parsePlayerDocument("[1]", root));
    EXPECT_FALSE(parsePlayerDocument("{\"a\":1}{}", root));
    ASSERT_TRUE(parsePlayerDocument("{\"a\":\"\\u56fe\",\"b\":\"\xCD\xBC\"}\r\n", root));
    EXPECT_EQ(root["a"].asString(), "\xE5\x9B\xBE");  // UTF-8, never the code-page CD BC
    EXPECT_EQ(root["b"].asString(), "\xCD\xBC");      // raw bytes pass as they are
}

TEST(JsonWrite, Quoting)
{
    const BytesCase cases[] = {
        {"escapes", "a\"b\tc", "\"a\\\"b\\tc\""}, {"empty", "", "\"\""}, {"control kept", "\x01", "\"\x01\""},
        {"high byte", "\xE4", "\"\xE4\""},        {"DEL", "\x7F", "\"\x7F\""}, {"slash", "a/b", "\"a/b\""},
        {"short escapes", "\b\f\n\r\\", "\"\\b\\f\\n\\r\\\\\""}, {"nul", std::string("a\0b", 3), std::string("\"a\0b\"", 5)},
        {"local bytes", "\xD6\xD0\xE4\xB8\xAD", "\"\xD6\xD0\xE4\xB8\xAD\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hex(quoteJsonString(c.input)), hex(c.expected)) << c.name;
    EXPECT_EQ(quoteJsonString(nullptr, 5), "");
}

TEST(JsonWrite, LayoutByteExact)
{
    Json::Value window;
    window["x"] = 10;
    window["endx"] = 109;
    window["name"] = "\xE4\xB8\xAD.png";
    window["FrameColor"] = Json::UInt(4294967295u);
    window["wagEna"] = false;
    Json::Value root;
    root["msg"] = "windows config";
    root["data"]["image"].append(window);
    root["data"]["empty"] = Json::Value(Json::arrayValue);
    root["obj"] = Json::Value(Json::objectValue);
    for (const Json::Value& v : {Json::Value(1), Json::Value(2.5), Json::Value(), Json::Value("a\"b")})
        root["list"].append(v);

    // Members sorted, tab indents, " : "; an object or array member opens on
    // the next line, empty ones stay inline.
    const std::string expected =
        "{\n\t\"data\" : \n\t{\n\t\t\"empty\" : [],\n\t\t\"image\" : \n\t\t[\n\t\t\t{\n"
        "\t\t\t\t\"FrameColor\" : 4294967295,\n\t\t\t\t\"endx\" : 109,\n\t\t\t\t\"name\" : \"\xE4\xB8\xAD.png\",\n"
        "\t\t\t\t\"wagEna\" : false,\n\t\t\t\t\"x\" : 10\n\t\t\t}\n\t\t]\n\t},\n"
        "\t\"list\" : \n\t[\n\t\t1,\n\t\t2.5,\n\t\tnull,\n\t\t\"a\\\"b\"\n\t],\n"
        "\t\"msg\" : \"windows config\",\n\t\"obj\" : {}\n}";
    EXPECT_EQ(write(root), expected);
    // Reading it back and writing again gives the same text.
    Json::Value back;
    ASSERT_TRUE(parse(QByteArray::fromStdString(expected), back));
    EXPECT_EQ(write(back), expected);
}

TEST(JsonWrite, SameLayoutAsJsoncppForAsciiDocuments)
{
    const char* docs[] = {
        "{}", "[]", "42", "\"s\"", "[[]]", "[[1,2],[3,{\"a\":[{}]}]]",
        "{\"a\":{\"b\":{\"c\":[1,-2,3.25,1e300,0.1,true,false,null]}},\"z\":-9223372036854775808}",
        "{\"k\":18446744073709551615,\"q\":\"a/b\",\"n\":[{\"x\":1},{\"y\":[]}]}",
    };
    for (const char* doc : docs) {
        Json::Value value;
        ASSERT_TRUE(parse(QByteArray(doc), value)) << doc;
        std::ostringstream theirs;
        const std::unique_ptr<Json::StreamWriter> writer(Json::StreamWriterBuilder().newStreamWriter());
        writer->write(value, &theirs);
        EXPECT_EQ(write(value), theirs.str()) << doc;
    }
}

TEST(JsonWrite, FileWithCrLfThroughSaveFile)
{
    QTemporaryDir dir;
    Json::Value root;
    root["a"] = "\xD6\xD0";
    root["b"] = 1;
    const QString path = dir.filePath("doc.QVE");
    QString error;
    for (const bool crlf : {true, false}) {
        ASSERT_TRUE(writeFile(path, root, crlf, &error)) << error.toStdString();
        EXPECT_EQ(testsupport::readFile(path), crlf ? QByteArray("{\r\n\t\"a\" : \"\xD6\xD0\",\r\n\t\"b\" : 1\r\n}")
                                       : QByteArray::fromStdString(write(root)));
    }
    // An unwritable place fails with a message.
    EXPECT_FALSE(writeFile(dir.filePath("missing/doc.QVE"), root, true, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(JsonCoding, ProcessLocaleUntouched)
{
    const std::string before = std::setlocale(LC_ALL, nullptr);
    Json::Value root;
    ASSERT_TRUE(parse(QByteArray("{\"a\":\"\\u4e2d\\u3002\"}"), root));
    (void)write(root);
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before);
}
