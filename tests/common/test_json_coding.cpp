#include "common/json_coding.h"

#include <QFile>
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

// The text of string member "s" after reading `{"s":"<literal>"}`.
std::string readString(const std::string& literal, bool* ok = nullptr)
{
    Json::Value root;
    const bool parsed =
        parse(QByteArray::fromStdString("{\"s\":\"" + literal + "\"}"), root);
    if (ok)
        *ok = parsed;
    return parsed ? root["s"].asString() : std::string();
}

}  // namespace

TEST(CodePointToLocal, Bytes)
{
    struct Case {
        uint32_t cp;
        std::string expected;
    } cases[] = {
        {0x41, "A"},
        {0x7F, "\x7F"},
        {0xE9, "\xC3\xA9"},
        {0x7FF, "\xDF\xBF"},
        {0x4E2D, "\xD6\xD0"},            // Chinese character: code page
        {0x9FA5, "\xFD\x9B"},
        {0x3002, "\xA1\xA3"},            // punctuation mark: code page
        {0x2014, "\xA1\xAA"},
        {0xFF01, "\xA3\xA1"},
        {0x2603, "\xE2\x98\x83"},        // others: UTF-8
        {0x20AC, "\xE2\x82\xAC"},
        {0x00B7, "\xC2\xB7"},
        {0xFA29, "\xFE\x4F"},
        {0xF900, "\xEF\xA4\x80"},        // ideograph without a code: UTF-8
        {0xD800, "\xEF\xBF\xBD"},        // lone surrogate
        {0x1F600, "\xF0\x9F\x98\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
        {0x110000, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hex(codePointToLocal(c.cp)), hex(c.expected)) << std::hex << c.cp;
}

TEST(JsonRead, EscapesResolved)
{
    struct Case {
        const char* name;
        std::string literal;
        std::string expected;
    } cases[] = {
        {"chinese", "\\u4e2d", "\xD6\xD0"},
        {"upper-case hex", "\\u4E2D\\u6587", "\xD6\xD0\xCE\xC4"},
        {"latin", "\\u00e9", "\xC3\xA9"},
        {"punctuation", "\\u3002", "\xA1\xA3"},
        {"other bmp", "\\u2603", "\xE2\x98\x83"},
        {"surrogate pair", "\\ud83d\\ude00", "\xF0\x9F\x98\x80"},
        {"lone high surrogate", "a\\ud83db", "a\xEF\xBF\xBD" "b"},
        {"lone low surrogate", "\\ude00", "\xEF\xBF\xBD"},
        {"high then non-low", "\\ud83d\\u0041", "\xEF\xBF\xBD" "A"},
        {"trail byte 0x5C", "\\u4e57", "\x81\x5C"},
        {"trail 0x5C then quote", "\\u4e57\\\"", "\x81\x5C\""},
        {"escaped quote", "\\u0022", "\""},
        {"escaped backslash", "\\u005c", "\\"},
        {"escaped backslash before u", "\\\\u4e2d", "\\u4e2d"},
        {"control character", "a\\u0001b", "a\x01" "b"},
        {"nul", "a\\u0000b", std::string("a\0b", 3)},
        {"two-letter escapes", "\\\"\\\\\\/\\b\\f\\n\\r\\t", "\"\\/\b\f\n\r\t"},
        {"ascii via escape", "\\u0041", "A"},
        {"raw utf-8 mixed with escape", "\xE4\xB8\xAD\\u4e2d", "\xE4\xB8\xAD\xD6\xD0"},
        {"raw code-page bytes", "\xD6\xD0\xFF\x80", "\xD6\xD0\xFF\x80"},
        {"raw control byte", "a\x01" "b", "a\x01" "b"},
    };
    for (const Case& c : cases) {
        bool ok = false;
        const std::string got = readString(c.literal, &ok);
        EXPECT_TRUE(ok) << c.name;
        EXPECT_EQ(hex(got), hex(c.expected)) << c.name;
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
    const char* bad[] = {
        "",
        "{",
        "{\"a\":}",
        "{\"a\":\"\\uZZZZ\"}",
        "{\"a\":\"\\ud83d\\uZZ\"}",
        "{\"a\":1",
    };
    for (const char* text : bad) {
        Json::Value root(7);
        QString error;
        EXPECT_FALSE(parse(QByteArray(text), root, &error)) << text;
        EXPECT_FALSE(error.isEmpty()) << text;
        EXPECT_EQ(root, Json::Value(7)) << text;  // left as it was
    }
    // Past jsoncpp's nesting limit it throws; that must come back as false.
    const QByteArray deep = QByteArray(5000, '[') + QByteArray(5000, ']');
    Json::Value root;
    QString error;
    EXPECT_FALSE(parse(deep, root, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(JsonRead, DocumentPreChecks)
{
    struct Case {
        const char* text;
        bool balanced;
        bool nesting;
    } cases[] = {
        {"{}", true, true},
        {"{\"a\":{\"b\":[1,2]}}", true, true},
        {" {}", false, true},
        {"[]", false, true},
        {"", false, true},
        {"{", false, false},
        {"{\"a\":[}", true, false},
        {"{\"a\":\"}", false, false},         // string never closes
        {"{\"a\":\"{\"}", true, true},        // brace inside a string
        {"{\"a\":\"}\"}", true, true},
        {"{\"a\":\"\\\"}\"}", true, true},    // escaped quote
        {"{\"a\":[1]]}", true, false},
        {"{}}", true, false},
        {"{}garbage", true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JsonBracesBalanced(std::string_view(c.text)), c.balanced) << c.text;
        EXPECT_EQ(JsonNestingValid(QByteArray(c.text)), c.nesting) << c.text;
    }
    Json::Value root;
    QString error;
    EXPECT_FALSE(parseDocument(QByteArray(), root, &error));
    EXPECT_FALSE(parseDocument("[1]", root, &error));
    EXPECT_FALSE(parseDocument("{\"a\":[}", root, &error));
    ASSERT_TRUE(parseDocument("{\"msg\":\"windows config\",\"n\":\"\\u4e2d{\"}", root, &error))
        << error.toStdString();
    EXPECT_EQ(root["n"].asString(), "\xD6\xD0{");
    // Deep nesting is refused without recursion in the pre-checks.
    EXPECT_TRUE(JsonNestingValid(QByteArray(1000000, '[') + QByteArray(1000000, ']')));
}

TEST(JsonWrite, Quoting)
{
    struct Case {
        std::string value;
        std::string expected;
    } cases[] = {
        {"a\"b\tc", "\"a\\\"b\\tc\""},
        {"", "\"\""},
        {"\x01", "\"\x01\""},
        {"\xE4", "\"\xE4\""},
        {"\x7F", "\"\x7F\""},
        {"a/b", "\"a/b\""},
        {"\b\f\n\r\\", "\"\\b\\f\\n\\r\\\\\""},
        {std::string("a\0b", 3), std::string("\"a\0b\"", 5)},
        {"\xD6\xD0\xE4\xB8\xAD", "\"\xD6\xD0\xE4\xB8\xAD\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hex(quoteJsonString(c.value)), hex(c.expected)) << hex(c.value);
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
    root["list"].append(1);
    root["list"].append(2.5);
    root["list"].append(Json::Value());
    root["list"].append("a\"b");

    const std::string expected =
        "{\n"
        "\t\"data\" : \n"
        "\t{\n"
        "\t\t\"empty\" : [],\n"
        "\t\t\"image\" : \n"
        "\t\t[\n"
        "\t\t\t{\n"
        "\t\t\t\t\"FrameColor\" : 4294967295,\n"
        "\t\t\t\t\"endx\" : 109,\n"
        "\t\t\t\t\"name\" : \"\xE4\xB8\xAD.png\",\n"
        "\t\t\t\t\"wagEna\" : false,\n"
        "\t\t\t\t\"x\" : 10\n"
        "\t\t\t}\n"
        "\t\t]\n"
        "\t},\n"
        "\t\"list\" : \n"
        "\t[\n"
        "\t\t1,\n"
        "\t\t2.5,\n"
        "\t\tnull,\n"
        "\t\t\"a\\\"b\"\n"
        "\t],\n"
        "\t\"msg\" : \"windows config\",\n"
        "\t\"obj\" : {}\n"
        "}";
    EXPECT_EQ(write(root), expected);

    // Reading it back and writing again gives the same text.
    Json::Value back;
    ASSERT_TRUE(parse(QByteArray::fromStdString(write(root)), back));
    EXPECT_EQ(write(back), expected);
}

TEST(JsonWrite, SameLayoutAsJsoncppForAsciiDocuments)
{
    const char* docs[] = {
        "{}",
        "[]",
        "42",
        "\"s\"",
        "[[]]",
        "[[1,2],[3,{\"a\":[{}]}]]",
        "{\"a\":{\"b\":{\"c\":[1,-2,3.25,1e300,0.1,true,false,null]}},\"z\":-9223372036854775808}",
        "{\"k\":18446744073709551615,\"q\":\"a/b\",\"n\":[{\"x\":1},{\"y\":[]}]}",
    };
    for (const char* doc : docs) {
        Json::Value value;
        ASSERT_TRUE(parse(QByteArray(doc), value)) << doc;
        Json::StreamWriterBuilder builder;
        std::ostringstream theirs;
        const std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
        writer->write(value, &theirs);
        EXPECT_EQ(write(value), theirs.str()) << doc;
    }
}

TEST(JsonWrite, FileWithCrLfThroughSaveFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Json::Value root;
    root["a"] = "\xD6\xD0";
    root["b"] = 1;
    const QString path = dir.filePath("doc.QVE");
    QString error;
    ASSERT_TRUE(writeFile(path, root, true, &error)) << error.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("{\r\n\t\"a\" : \"\xD6\xD0\",\r\n\t\"b\" : 1\r\n}"));
    file.close();
    ASSERT_TRUE(writeFile(path, root, false, &error));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray::fromStdString(write(root)));
    // An unwritable place fails with a message and leaves nothing behind.
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
