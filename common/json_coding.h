#pragma once
// Reading and writing of the program's JSON documents through jsoncpp, with
// the program's own text rules:
//  - reading: a \u escape of a Chinese character (or of one of the Chinese
//    punctuation marks) becomes its code page 936 bytes, every other escape
//    UTF-8; raw bytes are passed on as they stand;
//  - writing: strings are quoted byte for byte, only \b \t \n \f \r \" and
//    \\ are escaped, never \u, and '/' stays as it is; the layout is
//    jsoncpp's styled stream writer at its default settings (tab indent,
//    " : " between name and value, no line feed after the root).
// Nothing here touches the process locale.

#include <QByteArray>
#include <QString>

#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace jsonio {

// The bytes a \u escape of `codePoint` stands for in a string being read:
// Chinese characters (U+4E00..U+9FA5, U+F900..U+FA2D) and the 29 Chinese
// punctuation marks as their two code page 936 bytes, everything else as
// UTF-8; empty above U+10FFFF.
std::string codePointToLocal(uint32_t codePoint);

// True when `codePoint` is one that the reader turns into code-page bytes.
bool isCodePageCodePoint(uint32_t codePoint);

// The quoted string literal of `length` bytes at `value` (empty string for a
// null pointer).
std::string quoteJsonString(const char* value, std::size_t length);
inline std::string quoteJsonString(std::string_view value)
{
    return quoteJsonString(value.data(), value.size());
}

// Resolves the \u escapes of JSON text the way codePointToLocal says, so that
// jsoncpp sees the bytes themselves. Escapes that must stay escapes inside a
// JSON string (quote, backslash, control characters) are kept; a lone
// surrogate becomes U+FFFD. Text outside strings and comments is unchanged.
QByteArray resolveUnicodeEscapes(const QByteArray& text);

// Pre-checks the program's readers run before parsing.
// Text starts with '{' and its braces (outside strings) balance: the count
// of '{' minus '}' comes back to zero.
bool JsonBracesBalanced(std::string_view text);
bool JsonBracesBalanced(const QByteArray& text);
// Braces, brackets and string quotes nest and close properly; a backslash
// skips the character after it.
bool JsonNestingValid(std::string_view text);
bool JsonNestingValid(const QByteArray& text);

// The pre-checks of the readers of player documents (play modes, rotation,
// lidar, the companion's documents):
// IsJsonObjectText: starts with '{' and the brace it opens is closed within
// the text (braces inside strings do not count).
bool IsJsonObjectText(const QByteArray& text);
// CheckJsonBrackets: one top-level object or array whose brackets, braces and
// quotes nest properly (inside a string only the quote and the backslash
// matter), whose first byte opens it and whose last byte other than tab, CR
// and LF closes it. False for an empty text.
bool CheckJsonBrackets(const QByteArray& text);
// Both checks, then parse: the readers' one way in. Unlike parse, \u
// escapes become UTF-8 (decode the strings with text::DecodeUtf8OrCodePage,
// which also takes raw code-page bytes).
bool parsePlayerDocument(const QByteArray& text, Json::Value& out, QString* error = nullptr);

// Parses `text` (escapes resolved first, comments not collected). False, with
// jsoncpp's message in `error`, when the text is not a JSON document; never
// throws.
bool parse(const QByteArray& text, Json::Value& out, QString* error = nullptr);

// As parse, after the two pre-checks (and false for empty text).
bool parseDocument(const QByteArray& text, Json::Value& out, QString* error = nullptr);

// The styled text of `value` with the program's quoting. Comments attached
// to values are not written (the readers never collect any).
std::string write(const Json::Value& value);

// Writes `value` to `path` through a temporary file and a rename; with `crlf`
// every line break is written as CR LF (the documents the program writes in
// text mode). False, with a message, when the file cannot be written.
bool writeFile(const QString& path, const Json::Value& value, bool crlf = true,
               QString* error = nullptr);

}  // namespace jsonio
