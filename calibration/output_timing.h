#pragma once
// The video timing of the player's two outputs (HDMI and VGA): the nine
// values the output-resolution dialog shows, the preset table, and the
// query and set packets. Plain data, tested without the dialog.

#include "transport/protocol.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace calib {

// Frame rate, total pixels per line, total lines, horizontal and vertical
// sync widths, first active pixel, active width, first active line, active
// height.
struct OutputTiming {
    static constexpr std::size_t kFields = 9;
    static constexpr std::size_t kRecordSize = 18;  // nine u16 (the reply)
    static constexpr std::size_t kSetPayloadSize = 16;  // fields 1..8
    enum Field { kFrameRate, kTotalPix, kTotalLine, kHSync, kVSync, kHStart, kHSize, kVStart, kVSize };
    std::array<uint16_t, kFields> values{};

    uint16_t operator[](std::size_t i) const { return values[i]; }
    // The reply record; nullopt unless exactly 18 bytes are given.
    static std::optional<OutputTiming> fromRecord(const uint8_t* bytes, std::size_t size);
    QByteArray toRecord() const;
    // "%dX%d@%dHz" of active width, active height and frame rate.
    QString text() const;
    bool operator==(const OutputTiming&) const = default;
};

struct TimingPreset {
    const char* text;
    OutputTiming timing;
};

// The seven HDMI presets in combo order; the VGA combo lists the three whose
// indexes kVgaPresets names.
const std::array<TimingPreset, 7>& HdmiPresets();
inline constexpr std::array<int, 3> kVgaPresets{1, 4, 5};
// Index of the preset whose text is `text`; -1 when none.
int FindHdmiPreset(const QString& text);
int FindVgaPreset(const QString& text);

enum class TimingOutput : uint8_t { Hdmi = 0, Vga = 1 };

// CMD_OUTPUT_MODE (17) with the output as sub-code, no payload.
QByteArray BuildTimingQuery(TimingOutput output);
// CMD_OUTPUT_RESOLUTION (5): the output as sub-code, the frame rate's low
// byte at 8, fields 1..8 as the 16-byte payload.
QByteArray BuildTimingSet(TimingOutput output, const OutputTiming& timing);

}  // namespace calib
