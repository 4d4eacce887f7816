#include "common/json_coding.h"

#include "common/file_commit.h"
#include "common/text_coding.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

namespace jsonio {

namespace {

// Chinese punctuation marks whose escapes are read as code-page bytes.
constexpr uint32_t kPunctuation[] = {
    0x3002, 0xFF1F, 0xFF01, 0xFF0C, 0x3001, 0xFF1B, 0xFF1A, 0x300C, 0x300D, 0x300E,
    0x300F, 0x2018, 0x2019, 0x201C, 0x201D, 0xFF08, 0xFF09, 0x3014, 0x3015, 0x3010,
    0x3011, 0x2014, 0x2026, 0x2013, 0xFF0E, 0x300A, 0x300B, 0x3008, 0x3009,
};

void appendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | ((cp >> 18) & 0x07));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The value of the four hex digits after "\u" at text[i], or -1.
long escapeAt(const QByteArray& text, qsizetype i)
{
    if (i + 6 > text.size() || text[i] != '\\' || text[i + 1] != 'u')
        return -1;
    long v = 0;
    for (qsizetype k = i + 2; k < i + 6; ++k) {
        const char c = text[k];
        if (!isHex(c))
            return -1;
        v = v * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return v;
}

// Appends resolved bytes to a string literal being rebuilt: the quote and
// the backslash must stay escaped so that jsoncpp reads them as the bytes
// themselves (a code-page trail byte can be 0x5C).
void appendInsideString(QByteArray& out, const std::string& bytes)
{
    for (const char c : bytes) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
}

// The styled layout of jsoncpp's StreamWriterBuilder at its default
// settings ("All" comments style, so every non-empty array spans lines),
// with our quoting.
class StyledWriter {
public:
    std::string write(const Json::Value& root)
    {
        out_.clear();
        indentString_.clear();
        indented_ = true;
        writeValue(root);
        return std::move(out_);
    }

private:
    void writeValue(const Json::Value& value)
    {
        switch (value.type()) {
        case Json::nullValue:
            out_ += "null";
            break;
        case Json::intValue:
            out_ += Json::valueToString(value.asLargestInt());
            break;
        case Json::uintValue:
            out_ += Json::valueToString(value.asLargestUInt());
            break;
        case Json::realValue:
            out_ += Json::valueToString(value.asDouble(), 17, Json::PrecisionType::significantDigits);
            break;
        case Json::stringValue: {
            const char* begin = nullptr;
            const char* end = nullptr;
            if (value.getString(&begin, &end))
                out_ += quoteJsonString(begin, std::size_t(end - begin));
            break;
        }
        case Json::booleanValue:
            out_ += value.asBool() ? "true" : "false";
            break;
        case Json::arrayValue:
            writeArray(value);
            break;
        case Json::objectValue:
            writeObject(value);
            break;
        }
    }

    void writeArray(const Json::Value& value)
    {
        const Json::ArrayIndex size = value.size();
        if (size == 0) {
            out_ += "[]";
            return;
        }
        writeWithIndent("[");
        indent();
        for (Json::ArrayIndex index = 0; index < size; ++index) {
            if (index > 0)
                out_ += ',';
            if (!indented_)
                writeIndent();
            indented_ = true;
            writeValue(value[index]);
            indented_ = false;
        }
        unindent();
        writeWithIndent("]");
    }

    void writeObject(const Json::Value& value)
    {
        if (value.empty()) {
            out_ += "{}";
            return;
        }
        writeWithIndent("{");
        indent();
        bool first = true;
        // The map iterates in jsoncpp's key order (bytes, then length), the
        // order its own writer uses.
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (!first)
                out_ += ',';
            first = false;
            const char* nameEnd = nullptr;
            const char* name = it.memberName(&nameEnd);
            writeWithIndent(quoteJsonString(name, std::size_t(nameEnd - name)));
            out_ += " : ";
            writeValue(*it);
        }
        unindent();
        writeWithIndent("}");
    }

    void writeIndent()
    {
        out_ += '\n';
        out_ += indentString_;
    }

    void writeWithIndent(const std::string& text)
    {
        if (!indented_)
            writeIndent();
        out_ += text;
        indented_ = false;
    }

    void indent() { indentString_ += '\t'; }
    void unindent() { indentString_.pop_back(); }

    std::string out_;
    std::string indentString_;
    bool indented_ = true;
};

}  // namespace

bool isCodePageCodePoint(uint32_t cp)
{
    if ((cp >= 0x4E00 && cp <= 0x9FA5) || (cp >= 0xF900 && cp <= 0xFA2D))
        return true;
    return std::find(std::begin(kPunctuation), std::end(kPunctuation), cp) != std::end(kPunctuation);
}

std::string codePointToLocal(uint32_t cp)
{
    std::string out;
    if (cp > 0x10FFFF)
        return out;
    if (cp >= 0xD800 && cp <= 0xDFFF) {
        // A lone surrogate is no character; U+FFFD keeps the text valid UTF-8.
        appendUtf8(out, 0xFFFD);
        return out;
    }
    if (isCodePageCodePoint(cp)) {
        const uint16_t code = text::MapDoubleByteCode(uint16_t(cp), text::kToCodePage);
        if (code >= 0x100) {
            out += char(code >> 8);
            out += char(code & 0xFF);
            return out;
        }
        // A compatibility ideograph without a code in this code page stays
        // UTF-8 rather than vanishing from the text.
    }
    appendUtf8(out, cp);
    return out;
}

std::string quoteJsonString(const char* value, std::size_t length)
{
    if (value == nullptr)
        return std::string();
    std::string out;
    out.reserve(2 * length + 3);
    out += '"';
    for (std::size_t i = 0; i < length; ++i) {
        const char c = value[i];
        switch (c) {
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\f': out += "\\f"; break;
        case '\r': out += "\\r"; break;
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        default: out += c; break;
        }
    }
    out += '"';
    return out;
}

QByteArray resolveUnicodeEscapes(const QByteArray& text)
{
    enum class State { Outside, String, LineComment, BlockComment };
    QByteArray out;
    out.reserve(text.size());
    State state = State::Outside;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const char c = text[i];
        switch (state) {
        case State::Outside:
            if (c == '"')
                state = State::String;
            else if (c == '/' && i + 1 < n && text[i + 1] == '/')
                state = State::LineComment;
            else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
                out += "/*";
                i += 2;
                state = State::BlockComment;
                continue;
            }
            out += c;
            ++i;
            break;
        case State::LineComment:
            if (c == '\n' || c == '\r')
                state = State::Outside;
            out += c;
            ++i;
            break;
        case State::BlockComment:
            if (c == '*' && i + 1 < n && text[i + 1] == '/') {
                out += "*/";
                i += 2;
                state = State::Outside;
                continue;
            }
            out += c;
            ++i;
            break;
        case State::String: {
            if (c == '"') {
                state = State::Outside;
                out += c;
                ++i;
                break;
            }
            if (c != '\\') {
                out += c;
                ++i;
                break;
            }
            const long first = escapeAt(text, i);
            if (first < 0) {
                // Another escape (or a malformed one, left for jsoncpp to
                // report): copied with the character it protects.
                out += c;
                if (i + 1 < n)
                    out += text[i + 1];
                i += 2;
                break;
            }
            qsizetype used = 6;
            uint32_t cp = uint32_t(first);
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                const long second = escapeAt(text, i + 6);
                if (second >= 0xDC00 && second <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (uint32_t(second) - 0xDC00);
                    used = 12;
                }
            }
            if (cp < 0x20 || cp == '"' || cp == '\\') {
                // Must stay an escape inside a JSON string; jsoncpp turns it
                // into the same single byte.
                out += text.mid(i, used);
            } else {
                appendInsideString(out, codePointToLocal(cp));
            }
            i += used;
            break;
        }
        }
    }
    return out;
}

bool JsonBracesBalanced(std::string_view text)
{
    if (text.empty() || text.front() != '{')
        return false;
    long depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '{') {
            ++depth;
        } else if (c == '}') {
            if (--depth == 0)
                return true;
        }
    }
    return false;
}

bool JsonBracesBalanced(const QByteArray& text)
{
    return JsonBracesBalanced(std::string_view(text.constData(), std::size_t(text.size())));
}

bool JsonNestingValid(std::string_view text)
{
    std::vector<char> open;  // expected closers; a vector, so depth costs no stack
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            ++i;
            continue;
        }
        if (inString) {
            if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"': inString = true; break;
        case '{': open.push_back('}'); break;
        case '[': open.push_back(']'); break;
        case '}':
        case ']':
            if (open.empty() || open.back() != c)
                return false;
            open.pop_back();
            break;
        default: break;
        }
    }
    return !inString && open.empty();
}

bool JsonNestingValid(const QByteArray& text)
{
    return JsonNestingValid(std::string_view(text.constData(), std::size_t(text.size())));
}

bool IsJsonObjectText(const QByteArray& text)
{
    return text.size() >= 2 && JsonBracesBalanced(text);
}

bool CheckJsonBrackets(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    std::vector<char> open;  // expected closers
    bool inString = false;
    bool seenTopLevel = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            ++i;
            continue;
        }
        if (inString) {
            if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"': inString = true; break;
        case '{':
        case '[':
            if (open.empty()) {
                // A second value after the first one closed.
                if (seenTopLevel)
                    return false;
                seenTopLevel = true;
            }
            open.push_back(c == '{' ? '}' : ']');
            break;
        case '}':
        case ']':
            if (open.empty() || open.back() != c)
                return false;
            open.pop_back();
            break;
        default: break;
        }
    }
    if (inString || !open.empty())
        return false;
    qsizetype last = text.size() - 1;
    while (last >= 0 && (text[last] == '\t' || text[last] == '\r' || text[last] == '\n'))
        --last;
    if (last <= 0)
        return false;
    return (text[0] == '{' && text[last] == '}') || (text[0] == '[' && text[last] == ']');
}

namespace {

bool parseText(const QByteArray& resolved, Json::Value& out, QString* error)
{
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    std::string errors;
    bool ok = false;
    Json::Value value;
    try {
        const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        ok = reader->parse(resolved.constData(), resolved.constData() + resolved.size(), &value,
                           &errors);
    } catch (const std::exception& e) {
        // jsoncpp throws, for example, past its nesting limit.
        ok = false;
        errors = e.what();
    }
    if (!ok || !errors.empty()) {
        if (error)
            *error = QString::fromUtf8(errors.empty() ? std::string("not a JSON document") : errors);
        return false;
    }
    out = std::move(value);
    if (error)
        error->clear();
    return true;
}

}  // namespace

bool parsePlayerDocument(const QByteArray& text, Json::Value& out, QString* error)
{
    if (!IsJsonObjectText(text) || !CheckJsonBrackets(text)) {
        if (error)
            *error = QStringLiteral("not a JSON object");
        return false;
    }
    // Escapes stay UTF-8 here: these strings are decoded with
    // DecodeUtf8OrCodePage, and code-page bytes of many Chinese characters
    // are also valid UTF-8 ("\u56fe" as CD BC would read back as U+037C).
    return parseText(text, out, error);
}

bool parse(const QByteArray& text, Json::Value& out, QString* error)
{
    return parseText(resolveUnicodeEscapes(text), out, error);
}

bool parseDocument(const QByteArray& text, Json::Value& out, QString* error)
{
    auto fail = [error](const char* why) {
        if (error)
            *error = QString::fromLatin1(why);
        return false;
    };
    if (text.isEmpty())
        return fail("empty document");
    if (!JsonBracesBalanced(text))
        return fail("braces do not balance");
    if (!JsonNestingValid(text))
        return fail("brackets or quotes do not nest");
    return parse(text, out, error);
}

std::string write(const Json::Value& value)
{
    return StyledWriter().write(value);
}

bool writeFile(const QString& path, const Json::Value& value, bool crlf, QString* error)
{
    std::string text = write(value);
    if (crlf) {
        std::string converted;
        converted.reserve(text.size() + text.size() / 16);
        for (const char c : text) {
            if (c == '\n')
                converted += '\r';
            converted += c;
        }
        text.swap(converted);
    }
    return filecommit::replaceFile(path, text.data(), qint64(text.size()), error);
}

}  // namespace jsonio
