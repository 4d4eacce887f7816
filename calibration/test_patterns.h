#pragma once
// What the calibration pages show on the player while the operator works:
// solid test colours and the position marker (CMD_PROJECTOR_DATA sub-code
// 0x20), and the adjustment-mode switch (CMD_ADJUST_MODE).

#include <QByteArray>

#include <cstdint>

namespace calib {

inline constexpr uint8_t kTestPatternSubCode = 0x20;
inline constexpr uint8_t kRampSubCodeBase = 0x40;

// A colour as the pages keep it: red in the low byte, then green, then blue.
using ColourRef = uint32_t;
inline constexpr ColourRef Rgb(uint8_t r, uint8_t g, uint8_t b)
{
    return ColourRef(r) | ColourRef(g) << 8 | ColourRef(b) << 16;
}

// Kind 1, count 1, then blue, green, red, 0.
QByteArray BuildSolidColourPacket(uint16_t sequence, ColourRef colour);
// Kind 2, the marker colour as blue, green, red, 0, then x and y.
QByteArray BuildMarkerPacket(uint16_t sequence, ColourRef colour, uint32_t x, uint32_t y);
// CMD_ADJUST_MODE with sub-code 0 (enter) or 1 (leave), no payload.
QByteArray BuildAdjustModePacket(uint16_t sequence, uint8_t subCode);

}  // namespace calib
