#include "common/text_coding.h"

#include "common/cp936_table.h"

#include <cstring>

namespace text {

namespace {

// Code-page code of a UTF-16 unit for the encoders; 0 when there is none.
uint16_t codeOf(char16_t unit)
{
    return MapDoubleByteCode(static_cast<uint16_t>(unit), kToCodePage);
}

// Decodes code-page bytes in [p, end): stops at a zero byte, at a code that
// is not in the table and at a lead byte without its trail byte.
QString decodeBounded(const uint8_t* p, const uint8_t* end)
{
    QString out;
    if (p == nullptr)
        return out;
    out.reserve(static_cast<qsizetype>(end - p));
    while (p < end && *p != 0) {
        const uint8_t b = *p;
        if (b <= 0x80) {
            out.append(QChar(char16_t(b)));
            ++p;
            continue;
        }
        if (p + 1 >= end || p[1] == 0)
            break;
        const uint16_t unit = MapDoubleByteCode(uint16_t(b << 8 | p[1]), kToUnicode);
        if (unit == 0)
            break;
        out.append(QChar(char16_t(unit)));
        p += 2;
    }
    return out;
}

}  // namespace

uint16_t MapDoubleByteCode(uint16_t code, int direction)
{
    if (code < 128)
        return code;
    const cp936::CodePair* table =
        direction == kToUnicode ? cp936::kDecodeTable : cp936::kEncodeTable;
    std::size_t low = 0;
    std::size_t high = cp936::kPairCount;
    // The bounds move to the middle itself; 16 rounds reach every one of the
    // 21,792 keys.
    for (int round = 0; round < 16; ++round) {
        const std::size_t middle = low + (high - low) / 2;
        if (table[middle].key == code)
            return table[middle].value;
        if (code > table[middle].key)
            low = middle;
        else
            high = middle;
    }
    return 0;
}

std::string CStringToUtf8(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    // The text ends at its first zero, like the zero-terminated result the
    // callers have always seen.
    const qsizetype zero = utf8.indexOf('\0');
    return std::string(utf8.constData(), static_cast<std::size_t>(zero < 0 ? utf8.size() : zero));
}

QString Utf8ToCString(const char* utf8)
{
    if (utf8 == nullptr)
        return QString();
    return QString::fromUtf8(utf8, static_cast<qsizetype>(std::strlen(utf8)));
}

QString Utf8ToCString(const QByteArray& utf8)
{
    const qsizetype zero = utf8.indexOf('\0');
    return QString::fromUtf8(utf8.constData(), zero < 0 ? utf8.size() : zero);
}

void AssignDoubleByteText(const char* codePageText, QString& out)
{
    out = DoubleByteTextToCString(codePageText);
}

QString DoubleByteTextToCString(const char* codePageText)
{
    if (codePageText == nullptr)
        return QString();
    const auto* p = reinterpret_cast<const uint8_t*>(codePageText);
    return decodeBounded(p, p + std::strlen(codePageText));
}

QString DoubleByteTextToCString(const QByteArray& codePageText)
{
    const auto* p = reinterpret_cast<const uint8_t*>(codePageText.constData());
    return decodeBounded(p, p + codePageText.size());
}

QString DoubleByteFieldToCString(const uint8_t* field, std::size_t size)
{
    if (field == nullptr)
        return QString();
    return decodeBounded(field, field + size);
}

void CStringToDoubleByteText(const QString& text, QByteArray& out)
{
    out.clear();
    out.reserve(static_cast<qsizetype>(kMaxNameBytes));
    for (const QChar ch : text) {
        const char16_t unit = ch.unicode();
        if (unit == 0)
            break;
        if (unit < 0x80) {
            if (std::size_t(out.size()) + 1 > kMaxNameBytes)
                break;
            out.append(char(unit));
            continue;
        }
        if (std::size_t(out.size()) + 2 > kMaxNameBytes)
            break;
        const uint16_t code = codeOf(unit);
        if (code == 0x0080) {
            // The euro sign is the code page's one single high byte; written
            // as two bytes its zero byte would end the name.
            out.append(char(0x80));
            continue;
        }
        if ((code >> 8) == 0)
            break;
        out.append(char(code >> 8));
        out.append(char(code & 0xFF));
    }
}

bool NameToDoubleByteText(const QString& text, QByteArray& out, std::size_t maxBytes)
{
    out.clear();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text.at(i).unicode();
        if (unit == 0)
            break;
        uint16_t code = unit < 0x80 ? unit : codeOf(unit);
        if (QChar::isSurrogate(unit))
            code = 0;
        const std::size_t need = unit < 0x80 || code == 0x0080 ? 1 : 2;
        if (code == 0 || std::size_t(out.size()) + need > maxBytes) {
            out.clear();
            return false;
        }
        if (need == 1) {
            out.append(char(code));
        } else {
            out.append(char(code >> 8));
            out.append(char(code & 0xFF));
        }
    }
    return true;
}

QString unencodableNameMessage(const QString& name, int language)
{
    return language == 4
               ? QStringLiteral("名称“%1”含有播放器无法保存的字符或过长，请修改后再试！").arg(name)
               : QStringLiteral("The name \"%1\" holds characters the player cannot store, or is too long. "
                                "Please change it and try again!")
                     .arg(name);
}

QByteArray CStringToDoubleByteText(const QString& text)
{
    QByteArray out;
    CStringToDoubleByteText(text, out);
    return out;
}

QString localToString(const QByteArray& bytes)
{
    QString out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData());
    const uint8_t* end = p + bytes.size();
    while (p < end && *p != 0) {
        const uint8_t b = *p;
        if (b < 0x80) {
            out.append(QChar(char16_t(b)));
            ++p;
        } else if (b == 0x80) {
            out.append(QChar(char16_t(0x20AC)));
            ++p;
        } else {
            const uint16_t unit =
                p + 1 < end ? MapDoubleByteCode(uint16_t(b << 8 | p[1]), kToUnicode) : 0;
            if (unit != 0) {
                out.append(QChar(char16_t(unit)));
                p += 2;
            } else {
                // A byte that starts no known code stands for a replacement
                // character; the byte after it is read afresh so that an
                // ASCII character is never swallowed.
                out.append(QChar(QChar::ReplacementCharacter));
                ++p;
            }
        }
    }
    return out;
}

QByteArray stringToLocal(const QString& text)
{
    QByteArray out;
    out.reserve(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text.at(i).unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            out.append('?');  // beyond the basic plane: one default character
            ++i;
            continue;
        }
        if (unit < 0x80) {
            out.append(char(unit));
            continue;
        }
        const uint16_t code = codeOf(unit);
        if (code == 0x0080)
            out.append(char(0x80));
        else if (code != 0) {
            out.append(char(code >> 8));
            out.append(char(code & 0xFF));
        } else {
            out.append('?');  // no code in this code page
        }
    }
    return out;
}

bool IsValidUtf8(const QByteArray& bytes)
{
    int pending = 0;  // continuation bytes still expected
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (pending > 0) {
            if (b < 0x80 || b > 0xBF)
                return false;
            --pending;
            continue;
        }
        if (b < 0x80)
            continue;
        if (b <= 0xBF)
            return false;  // continuation byte outside a sequence
        if (b <= 0xDF)
            pending = 1;
        else if (b <= 0xEF)
            pending = 2;
        else if (b <= 0xF7)
            pending = 3;
        else if (b <= 0xFB)
            pending = 4;
        else if (b <= 0xFD)
            pending = 5;
        else
            pending = 4;  // 0xFE, 0xFF
    }
    return pending == 0;
}

QString DecodeUtf8OrCodePage(const QByteArray& bytes)
{
    bool highByte = false;
    for (const char ch : bytes)
        if (static_cast<unsigned char>(ch) >= 0x80)
            highByte = true;
    if (highByte && IsValidUtf8(bytes))
        return QString::fromUtf8(bytes);
    return localToString(bytes);
}

}  // namespace text
