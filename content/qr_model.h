#pragma once
// The QR-code and message overlay settings of the player's two screens:
// `Qrcode.Json` written and read, the screens' rows and columns from the
// status block, the map's scale and the checks of Apply. Plain C++.

#include <QByteArray>
#include <QPoint>
#include <QRect>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace qr {

inline constexpr char kDocumentName[] = "Qrcode.Json";
inline constexpr uint32_t kMaxInterval = 100000;
inline constexpr uint32_t kMinTextSize = 30;
inline constexpr uint32_t kMaxTextSize = 540;
inline constexpr uint32_t kWhite = 16777215;
inline constexpr int kMinSide = 160;
inline constexpr int kMaxWidth = 1920;
inline constexpr int kMaxHeight = 1080;

// A rectangle in output pixels, right and bottom exclusive.
struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const Box&) const = default;
};

// The screens and outputs of the 108-byte status block: screens as x, y,
// width, height (kept as left, top, left + width, top + height), outputs as
// left, right, top, bottom with right and bottom inclusive (kept so).
struct OutputLayout {
    std::array<Box, 4> screens{};
    std::array<Box, 9> outputs{};
    static OutputLayout FromStatusBlock(const std::array<uint8_t, 108>& block);
};
bool ScreenUsable(const Box& s);

struct QrLocation {
    uint32_t screenId = 0;
    Box rect{0, 0, 320, 320};
    uint32_t qrShow = 1;
    uint32_t rows = 1, cols = 1;  // not written
    uint32_t textColor = kWhite;
    uint32_t textSize = 60;
    uint32_t textShow = 1;
};

struct QrSettings {
    bool imageEnable = true;
    uint32_t showTime = 60;
    uint32_t circleTime = 10;
    uint32_t refresh = 1;
    std::array<QrLocation, 2> locations{};
    QrSettings() { locations[1].screenId = 1; }
};

// The R key's defaults (rows and columns kept).
void RestoreDefaults(QrSettings& s);

// Rows and columns of both screens, each 1..9.
void ComputeRowsCols(const OutputLayout& layout, QrSettings& s);

QByteArray WriteDocument(const QrSettings& s);
// Reads a reply; false (and `s` untouched) when it is refused.
bool ReadDocument(const QByteArray& text, QrSettings& s);

// What the Apply form holds.
struct ApplyForm {
    QString onText, offText;
    std::array<QString, 2> sizeText;
    std::array<bool, 2> qrShow{true, true};
    std::array<bool, 2> textShow{true, true};
    bool refresh = true;
};
// The leading decimal number of a text as an unsigned value: 0 without
// digits; nothing when the text is negative or too large for 32 bits.
std::optional<uint32_t> LeadingUnsigned(const QString& text);
// Applies the form to `s`; empty when accepted, else the message and `s`
// keeps what it held before.
QString Apply(const ApplyForm& form, const std::array<bool, 2>& usable, int language, QrSettings& s);

// The map: screen points drawn at (x * scaleX + M.left, y * scaleY + M.top).
struct MapScale {
    double x = 1.0;
    double y = 1.0;
};
// Scale for screen `s` inside map area `m`; a zero-sized screen keeps `previous`.
MapScale ScaleFor(const QRect& m, const Box& s, uint32_t rows, uint32_t cols, MapScale previous);
QRect ToMap(const Box& b, const QRect& m, MapScale scale);
// A rectangle dragged on the map back to the screen: at least 160 x 160,
// clipped at the screen's right and bottom.
Box FromMap(const QRect& r, const QRect& m, MapScale scale, const Box& screen);
// The location to draw: a rectangle empty on the map or not inside the
// screen resets to 160 x 160 at the screen's top-left corner.
Box DrawnRect(const Box& rect, const Box& screen, const QRect& m, MapScale scale);

enum class Msg { Title, OnTooLong, OffTooLong, SizeTooLarge, SizeTooSmall, ConfirmExit };
QString Text(Msg m, int language);

}  // namespace qr
