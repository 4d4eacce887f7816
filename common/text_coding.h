#pragma once
// Conversions between the UI's UTF-16 text, UTF-8 (every JSON document) and
// code page 936 (every name that travels inside a packet), through our own
// copy of the code page's published mapping. Never touches the process locale.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>

namespace text {

inline constexpr std::size_t kMaxNameBytes = 512;

// Direction flag of MapDoubleByteCode.
inline constexpr int kToUnicode = 1;
inline constexpr int kToCodePage = 0;

// Looks a code up in the 936 table (16-round search); codes below 128 map to
// themselves; 0 when the code has no mapping.
uint16_t MapDoubleByteCode(uint16_t code, int direction);

std::string CStringToUtf8(const QString& text);
QString Utf8ToCString(const char* utf8);  // up to the first zero byte
QString Utf8ToCString(const QByteArray& utf8);

// Code-page text (zero-terminated, or up to the array's end) to UTF-16.
void AssignDoubleByteText(const char* codePageText, QString& out);
QString DoubleByteTextToCString(const char* codePageText);
QString DoubleByteTextToCString(const QByteArray& codePageText);
// Reads a fixed name field of `size` bytes (stops at the first zero or at size).
QString DoubleByteFieldToCString(const uint8_t* field, std::size_t size);

// UTF-16 to code page, at most 512 bytes, never splitting a character.
// Stops silently at the first character without a code: for text that is
// only shown. Anything that names a file, layout, category or folder on the
// player goes through NameToDoubleByteText instead.
void CStringToDoubleByteText(const QString& text, QByteArray& out);
QByteArray CStringToDoubleByteText(const QString& text);

// A name for a packet: the whole of `text` in code page 936 (the euro sign
// as the single byte 0x80), or false when a character has no code or the
// result would pass `maxBytes`. `out` is cleared on failure, so a caller can
// never send a shortened name by mistake.
bool NameToDoubleByteText(const QString& text, QByteArray& out, std::size_t maxBytes = kMaxNameBytes);
// The message that refuses such a name, naming it (language 4: Chinese).
QString unencodableNameMessage(const QString& name, int language);

// The "ANSI code page" of the system: code page 936 through our table.
// Unlike the name conversions above these convert the whole text: 0x80 is
// the euro sign, a byte that starts no known code becomes U+FFFD (the
// decoder stops only at a zero byte), and a character without a code is
// written as '?'. No 512-byte cap.
QString localToString(const QByteArray& bytes);
QByteArray stringToLocal(const QString& text);

// UTF-8 validity by the older, wider rules the program has always used
// (lead bytes up to 0xFD announce up to five continuation bytes).
bool IsValidUtf8(const QByteArray& bytes);
// Text whose coding is not known (Co.txt, strings of a player's JSON
// documents): UTF-8 when it holds a high byte and is valid UTF-8, otherwise
// code page 936. So a name the JSON reader turned into code-page bytes comes
// back as the same characters.
QString DecodeUtf8OrCodePage(const QByteArray& bytes);

}  // namespace text
