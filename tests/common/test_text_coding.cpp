#include "common/cp936_table.h"
#include "common/text_coding.h"

#include <gtest/gtest.h>

#include <set>

using namespace text;
using namespace Qt::StringLiterals;

namespace {

QString units(std::initializer_list<char16_t> list)
{
    return QString(reinterpret_cast<const QChar*>(std::data(list)), qsizetype(list.size()));
}

QByteArray bytes(std::initializer_list<uint8_t> list)
{
    return QByteArray(reinterpret_cast<const char*>(std::data(list)), qsizetype(list.size()));
}

}  // namespace

TEST(MapDoubleByteCode, KnownCodesAndCodesOutsideTheTable)
{
    const struct { uint16_t code; int direction; uint16_t expected; } cases[] = {
        {0x41, kToUnicode, 0x41},     {0x41, kToCodePage, 0x41},    {0x7F, kToUnicode, 0x7F},
        {0xB0A1, kToUnicode, 0x554A}, {0x554A, kToCodePage, 0xB0A1}, {0x0080, kToUnicode, 0x20AC},
        {0x20AC, kToCodePage, 0x0080}, {0x00A4, kToCodePage, 0xA1E8}, {0xD6D0, kToUnicode, 0x4E2D},
        {0xA1AA, kToUnicode, 0x2014}, {0xA844, kToUnicode, 0x2015},  {0xA1A4, kToUnicode, 0x00B7},
        {0xFE4F, kToUnicode, 0xFA29}, {0xFFE5, kToCodePage, 0xA3A4},
        {0xFF00, kToUnicode, 0},      {0xFF00, kToCodePage, 0},     {0x0080, kToCodePage, 0},
        {0xFFFF, kToUnicode, 0},      {0xFFFF, kToCodePage, 0},     {0x8100, kToUnicode, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MapDoubleByteCode(c.code, c.direction), c.expected) << std::hex << c.code << " dir " << c.direction;

    std::set<uint16_t> keys, values;
    for (const auto& pair : text::cp936::kDecodeTable) {
        keys.insert(pair.key);
        values.insert(pair.value);
    }
    for (uint32_t c = 0x80; c <= 0xFFFF; ++c) {
        ASSERT_TRUE(keys.count(uint16_t(c)) || MapDoubleByteCode(uint16_t(c), kToUnicode) == 0) << std::hex << c;
        ASSERT_TRUE(values.count(uint16_t(c)) || MapDoubleByteCode(uint16_t(c), kToCodePage) == 0) << std::hex << c;
    }
}

TEST(MapDoubleByteCode, WholeTableIsSortedAndRoundTrips)
{
    using namespace text::cp936;
    ASSERT_EQ(kPairCount, 21792u);
    for (std::size_t i = 0; i < kPairCount; ++i) {
        // Lookups bisect both tables.
        ASSERT_TRUE(i == 0 || kDecodeTable[i - 1].key < kDecodeTable[i].key) << i;
        ASSERT_TRUE(i == 0 || kEncodeTable[i - 1].key < kEncodeTable[i].key) << i;
        const auto& pair = kDecodeTable[i];
        ASSERT_EQ(MapDoubleByteCode(pair.key, kToUnicode), pair.value) << std::hex << pair.key;
        ASSERT_EQ(MapDoubleByteCode(pair.value, kToCodePage), pair.key) << std::hex << pair.value;
        if (pair.key < 0x100)
            continue;
        // Through the text conversions as well: two bytes in, one character
        // out, and back.
        const char raw[3] = {char(pair.key >> 8), char(pair.key & 0xFF), 0};
        const QString decoded = DoubleByteTextToCString(raw);
        ASSERT_EQ(decoded, QString(QChar(char16_t(pair.value)))) << std::hex << pair.key;
        ASSERT_EQ(CStringToDoubleByteText(decoded), QByteArray(raw)) << std::hex << pair.key;
    }
}

TEST(DoubleByteText, Decoding)
{
    const struct { const char* name; QByteArray input; QString expected; } cases[] = {
        {"hanzi then ascii", bytes({0xB0, 0xA1, 0x41}), units({0x554A, 'A'})}, {"empty", QByteArray(), QString()},
        {"0x80 stands for itself", bytes({0x80}), units({0x0080})}, {"lead byte before the end", bytes({0xB0}), QString()},
        {"text before a lone lead byte", bytes({'a', 'b', 0xB0}), u"ab"_s},
        {"unmapped pair ends the text", bytes({'a', 0xFF, 0x41, 'b'}), u"a"_s},
        {"zero ends the text", bytes({'a', 0, 'b'}), u"a"_s},
        {"trail below 0x80", bytes({0x81, 0x40, 'z'}), units({0x4E02, 'z'})},
        {"mixed", bytes({'x', 0xD6, 0xD0, 0xCE, 0xC4, '.', 't'}), units({'x', 0x4E2D, 0x6587, '.', 't'})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DoubleByteTextToCString(c.input), c.expected) << c.name;
        const QByteArray terminated = c.input + '\0';
        EXPECT_EQ(DoubleByteTextToCString(terminated.constData()), c.expected) << c.name;
        QString assigned = u"old"_s;
        AssignDoubleByteText(terminated.constData(), assigned);
        EXPECT_EQ(assigned, c.expected) << c.name;
    }
    EXPECT_EQ(DoubleByteTextToCString(static_cast<const char*>(nullptr)), QString());
    QString assigned = u"old"_s;
    AssignDoubleByteText(nullptr, assigned);
    EXPECT_TRUE(assigned.isEmpty());
}

TEST(DoubleByteText, FixedFieldNeverReadsPastItsSize)
{
    // A full field without a terminator, its last byte a lead byte: the
    // decoder must stop inside the field.
    uint8_t field[6] = {'a', 0xB0, 0xA1, 'b', 'c', 0xB0};
    EXPECT_EQ(DoubleByteFieldToCString(field, sizeof field), units({'a', 0x554A, 'b', 'c'}));
    EXPECT_EQ(DoubleByteFieldToCString(field, 2), u"a"_s);
    EXPECT_EQ(DoubleByteFieldToCString(field, 0), QString());
    EXPECT_EQ(DoubleByteFieldToCString(nullptr, 10), QString());
}

TEST(DoubleByteText, Encoding)
{
    const struct { const char* name; QString input; QByteArray expected; } cases[] = {
        {"ascii", u"video.mp4"_s, "video.mp4"},
        {"hanzi", units({0x4E2D, 0x6587, '1'}), bytes({0xD6, 0xD0, 0xCE, 0xC4, '1'})},
        {"euro is one byte", units({'a', 0x20AC, 'b'}), bytes({'a', 0x80, 'b'})}, {"unmapped ends the text", units({'a', 0x0E01, 'b'}), "a"},
        {"U+0080 has no code", units({'a', 0x0080, 'b'}), "a"}, {"zero ends the text", units({'a', 0, 'b'}), "a"},
        {"surrogate pair ends the text", units({'a', 0xD83D, 0xDE00, 'b'}), "a"}, {"empty", QString(), QByteArray()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CStringToDoubleByteText(c.input), c.expected) << c.name;
        QByteArray out("stale");
        CStringToDoubleByteText(c.input, out);
        EXPECT_EQ(out, c.expected) << c.name;
    }
}

TEST(DoubleByteText, NamesAreWholeOrRefused)
{
    const QChar ah(char16_t(0x554A));
    const struct { const char* name; QString input; std::size_t max; bool ok; QByteArray expected; } cases[] = {
        {"ascii", u"a.mp4"_s, 512, true, "a.mp4"},
        {"hanzi", units({0x4E2D, '1'}), 512, true, bytes({0xD6, 0xD0, '1'})},
        {"euro is one byte", units({'a', 0x20AC, 'b'}), 512, true, bytes({'a', 0x80, 'b'})},
        {"no code", units({'a', 0x0E01, 'b'}), 512, false, {}},
        {"U+0080", units({'a', 0x0080}), 512, false, {}},
        {"surrogate pair", units({'a', 0xD83D, 0xDE00}), 512, false, {}},
        {"exactly the limit", QString(4, ah), 8, true, CStringToDoubleByteText(QString(4, ah))},
        {"one byte over", u"a"_s + QString(4, ah), 8, false, {}},
        {"empty", QString(), 512, true, {}},
    };
    for (const auto& c : cases) {
        QByteArray out("stale");
        EXPECT_EQ(NameToDoubleByteText(c.input, out, c.max), c.ok) << c.name;
        EXPECT_EQ(out, c.expected) << c.name;
    }
    EXPECT_TRUE(unencodableNameMessage(u"x"_s, 9).contains(u"\"x\""_s));
    EXPECT_TRUE(unencodableNameMessage(u"x"_s, 4).contains(u"“x”"_s));
}

TEST(DoubleByteText, Utf8OrCodePage)
{
    const struct { const char* name; QByteArray bytes; QString expected; } cases[] = {
        {"ascii", "abc", u"abc"_s},
        {"utf-8 hanzi", "\xE4\xB8\xAD", units({0x4E2D})},
        {"code-page hanzi", bytes({0xD6, 0xD0}), units({0x4E2D})},
        {"invalid utf-8 is code page", bytes({0xB0, 0xA1, 'x'}), units({0x554A, 'x'})},
        {"empty", QByteArray(), QString()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeUtf8OrCodePage(c.bytes), c.expected) << c.name;
}

TEST(DoubleByteText, EncodingStopsAt512BytesWithoutSplitting)
{
    const QChar ah(char16_t(0x554A));
    EXPECT_EQ(CStringToDoubleByteText(QString(600, u'a')).size(), 512);
    const QByteArray hanzi = CStringToDoubleByteText(QString(300, ah));
    EXPECT_EQ(hanzi.size(), 512);
    EXPECT_EQ(DoubleByteTextToCString(hanzi), QString(256, ah));
    // One ASCII letter first: 511 bytes fit 255 characters, the 256th would
    // split.
    EXPECT_EQ(CStringToDoubleByteText(u"a"_s + QString(300, ah)).size(), 511);
    // ...but a following ASCII letter that still fits is not written after a
    // character was refused: the name is cut at the last whole character.
    EXPECT_EQ(CStringToDoubleByteText(QString(511, u'a') + ah + u'b'), QByteArray(511, 'a'));
}

TEST(Utf8, Conversions)
{
    const QString mixed = units({'a', 0x4E2D, 0x00E9, 0xD83D, 0xDE00});
    const std::string utf8 = CStringToUtf8(mixed);
    EXPECT_EQ(utf8, "a\xE4\xB8\xAD\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToCString(utf8.c_str()), mixed);
    EXPECT_EQ(Utf8ToCString(QByteArray::fromStdString(utf8)), mixed);
    EXPECT_EQ(Utf8ToCString(QByteArray("ab\0cd", 5)), u"ab"_s);
    EXPECT_EQ(Utf8ToCString(static_cast<const char*>(nullptr)), QString());
    EXPECT_EQ(CStringToUtf8(units({'a', 0, 'b'})), "a");
    EXPECT_EQ(CStringToUtf8(QString()), "");
}

TEST(AnsiCodePage, WholeTextBothWays)
{
    const std::pair<QByteArray, QString> cases[] = {
        {"Co Ltd", u"Co Ltd"_s},
        {bytes({0xD6, 0xD0, 'A', 0xCE, 0xC4}), units({0x4E2D, 'A', 0x6587})},
        {bytes({0x80, '5'}), units({0x20AC, '5'})},
    };
    for (const auto& [local, text] : cases) {
        EXPECT_EQ(localToString(local), text);
        EXPECT_EQ(stringToLocal(text), local);
    }
    // No 512-byte cap.
    EXPECT_EQ(stringToLocal(QString(600, QChar(char16_t(0x554A)))).size(), 1200);
    // Bytes that start no code do not end the text, and never swallow an
    // ASCII character after them.
    EXPECT_EQ(localToString(bytes({'a', 0xFF, 'b', 0xB0})),
              units({'a', QChar::ReplacementCharacter, 'b', QChar::ReplacementCharacter}));
    EXPECT_EQ(stringToLocal(units({'a', 0x0E01, 0xD83D, 0xDE00, 'b'})), QByteArray("a??b"));
}
