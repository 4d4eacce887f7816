#pragma once
// The player's text banner (OSD.Json): colours, place and size, display time,
// transparency, scrolling speed, text and on/off. Plain data with its JSON
// reader and writer; the "OSD" dialog edits it.

#include <QByteArray>
#include <QString>

#include <cstdint>

struct OsdSettings {
    static constexpr uint32_t kMaxShowTime = 10000;
    static constexpr uint32_t kMaxTransparent = 100;
    static constexpr uint32_t kMinSpeed = 3;
    static constexpr uint32_t kMaxSpeed = 10;
    static constexpr int kMaxTextBytes = 140;  // in the double-byte code page

    uint32_t bgColor = 255;       // 0x00BBGGRR
    uint32_t bgCorner = 20;
    uint32_t textColor = 0xFFFF;  // 0x00BBGGRR
    uint32_t showTime = 1000;     // seconds
    uint32_t speed = 3;
    uint32_t transparent = 0;
    double left = 0.1;
    double top = 0.1;
    double width = 0.8;
    double height = 0.2;
    QString text = QStringLiteral("测试OSD");
    bool osdEnable = true;

    bool operator==(const OsdSettings&) const = default;
};

// The document's file name in the working folder.
inline constexpr const char* kOsdFileName = "OSD.Json";

// Bytes `text` takes in the double-byte code page (a character without a
// code counts as one byte, as it would be written).
int OsdTextBytes(const QString& text);
// True when the banner text fits its 140 code-page bytes.
bool OsdTextFits(const QString& text);

// {"data":[{twelve keys}]}: fractions as reals, the text as a UTF-8 string,
// the flag as a boolean, everything else as unsigned integers.
QByteArray OsdJson(const OsdSettings& settings);
// Writes the document (temporary file, then rename). False, with a message
// in `error`, when it cannot be written.
bool WriteOsdJson(const QString& path, const OsdSettings& settings, QString* error = nullptr);
// Reads a player's document into `settings`: false, and nothing changed,
// when the text is empty, fails the structure checks or does not parse.
// Otherwise each key of element 0 of "data" that is present with its type
// is taken (speed held within 3..10), and true, also without "data".
bool ReadOsdJson(const QByteArray& text, OsdSettings& settings);

// Colour values as the player stores them (0x00BBGGRR) and back.
uint32_t OsdColourValue(uint8_t red, uint8_t green, uint8_t blue);
