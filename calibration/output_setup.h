#pragma once
// What the geometric warp page derives from the warp wizard's settings block
// (the image of Warp.QVE): the output configuration, one entry per projector
// output laid out on its screen with the blend-band overlaps taken off, and
// the 96-byte payload of the enter-adjustment request.

#include "core/output_config.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace calib {

// Offsets in the settings block that these computations read.
namespace warpblock {
inline constexpr std::size_t kSize = 6515;
inline constexpr std::size_t kRecordSize = 721;  // one screen's layout
inline constexpr std::size_t kRowWidths = 0;     // u16[9]
inline constexpr std::size_t kColumnHeights = 18;  // u16[9]
inline constexpr std::size_t kRows = 36;
inline constexpr std::size_t kColumns = 38;
inline constexpr std::size_t kOutputWidth = 40;
inline constexpr std::size_t kOutputHeight = 42;
inline constexpr std::size_t kSlots = 44;       // 9 x (u16 channel, u8 selected)
inline constexpr std::size_t kSlotCount = 71;
inline constexpr std::size_t kBands = 73;       // 81 x (left, top, right, bottom)
inline constexpr std::size_t kScreenMode = 6489;
inline constexpr std::size_t kRecordsInUse = 6491;
inline constexpr std::size_t kRotation = 6493;
inline constexpr std::size_t kCursorColour = 6495;  // R, G, B, 0
inline constexpr std::size_t kColours = 6499;   // four 4-byte colours
inline constexpr std::size_t kBlendBandsSize = 8;
inline constexpr std::size_t kSlotSize = 3;
}  // namespace warpblock

inline constexpr std::size_t kAdjustModePayloadSize = 96;

// Builds the output configuration from the settings block. The block's row
// widths and column heights are rewritten with the band overlaps added, as
// the page's copy holds them afterwards. False (nothing changed) when the
// block is not 6,515 bytes.
bool BuildOutputConfig(QByteArray& warp, uint16_t channelCount, bool singleChannel, grid::OutputConfig& out);

// The enter-adjustment payload (96 bytes); empty when the block is not
// 6,515 bytes.
QByteArray BuildAdjustModePayload(const QByteArray& warp, bool horizontalCurved, bool verticalCurved);

}  // namespace calib
