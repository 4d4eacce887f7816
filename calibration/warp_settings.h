#pragma once
// The warp wizard's first-step settings: one or two screens, each a grid of
// projector cells with their channels and blend bands, the rotation and the
// guide colours. Kept as a typed record, packed to and from the 6,515-byte
// image of config/Warp.QVE (offsets shared with output_setup.h), and checked
// by the ordered rules that decide whether a step-1 form may be saved.

#include "calibration/output_setup.h"
#include "calibration/projector_graph.h"
#include "transport/records.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

namespace calib {

struct ChannelSlot {
    uint16_t channel = 0;  // 0 is "Channel1"
    uint8_t selected = 0;
    bool operator==(const ChannelSlot&) const = default;
};

struct BlendBands {
    uint16_t left = 240, top = 270, right = 240, bottom = 270;
    bool operator==(const BlendBands&) const = default;
};

struct ScreenLayout {
    static constexpr int kMaxCells = 9;  // rows and columns each
    std::array<uint16_t, 9> rowWidths{};
    std::array<uint16_t, 9> columnHeights{};
    uint16_t rows = 1, columns = 1;
    uint16_t outputWidth = 0, outputHeight = 0;
    std::array<ChannelSlot, 9> channelSlots{};
    uint16_t slotCount = 0;
    std::array<BlendBands, 81> bands{};  // cell (r, c) at r + 9c

    ScreenLayout() { rowWidths.fill(17280); columnHeights.fill(9720); }
    BlendBands& band(int row, int column) { return bands[std::size_t(row + 9 * column)]; }
    const BlendBands& band(int row, int column) const { return bands[std::size_t(row + 9 * column)]; }
    bool operator==(const ScreenLayout&) const = default;
};

using Colour4 = std::array<uint8_t, 4>;  // R, G, B, 0

struct WarpSettings {
    static constexpr std::size_t kSize = warpblock::kSize;
    static constexpr uint16_t kOutputWidth = 1920, kOutputHeight = 1080;
    static constexpr uint16_t kTotalWidth = 17280, kTotalHeight = 9720;

    std::array<ScreenLayout, 9> screens{};
    uint16_t screenMode = 1;    // 1 one screen, 2 two screens
    uint16_t recordsInUse = 1;  // 1 or 2
    uint16_t rotation = 0;      // bits 0..3 screen 1, 4..7 screen 2
    Colour4 cursor{255, 0, 0, 0};
    Colour4 referenceBackground{0, 0, 0, 0};
    Colour4 referenceLine{0, 112, 222, 0};
    Colour4 adjustedBackground{0, 0, 0, 0};
    Colour4 adjustedLine{240, 118, 0, 0};

    int totalCells() const;  // rows x columns over the records in use
    QByteArray toBytes() const;
    // Unpacks exactly kSize bytes; false (and *this untouched) for any other
    // length or a block whose counts the rest of the wizard cannot take:
    // records in use 1..2, rows and columns 1..9, slot counts at most 9,
    // channel numbers at most 8.
    bool fromBytes(const QByteArray& bytes);
    bool operator==(const WarpSettings&) const = default;
};

// Single-channel mode: the step-1 check lists the players of the checked
// cells in cell order; spread over every cell in use, so that cell (output)
// i finds its own player at index i, and a cell that was not checked gets an
// entry with no address (no device: nothing is sent for it).
std::vector<SendTarget> TargetsByCell(const WarpSettings& settings, const std::vector<SendTarget>& checked);

// The widths the band dialog offers (index 5 is the default).
inline constexpr std::array<uint16_t, 9> kHorizontalBandWidths{0, 30, 60, 120, 180, 240, 360, 480, 960};
inline constexpr std::array<uint16_t, 7> kVerticalBandWidths{0, 34, 68, 135, 202, 270, 540};

enum class WarpLoad { Loaded, Missing, Refused };

// Reads playerFolder/config/Warp.QVE (creating the config folder when
// missing). Missing or of another length: defaults. Refused: the file had
// the right length but impossible counts; defaults, and the caller shows
// refusedFileMessage("Warp.QVE", language).
WarpSettings LoadWarpSettings(const QString& playerFolder, WarpLoad* outcome = nullptr);
// Writes the whole block (temporary file, then rename); false with `error`.
bool SaveWarpSettings(const QString& playerFolder, const WarpSettings& settings, QString* error = nullptr);
QString WarpSettingsPath(const QString& playerFolder);

// One player of the discovery list as the form offers it.
struct WarpDevice {
    QString ip;
    uint16_t port = 0;
    uint16_t channelCode = 0;  // 11: a single-channel player
};

// What the step-1 page holds in its controls.
struct WarpForm {
    int screenType = 0;               // 0 one screen, 1 two screens
    std::array<int, 2> rows{1, 1};    // 1..9
    std::array<int, 2> columns{1, 1};
    std::array<int, 2> rotation{0, 0};  // 0 normal, 1 +90, 2 -90
    std::array<bool, 9> channelChecked{};
    std::array<int, 9> deviceChoice{};  // index into the device list
    std::array<uint16_t, 9> channelNumbers{0, 1, 2, 3, 4, 5, 6, 7, 8};
    bool singleChannel = false;
    bool editChannel = false;
    bool horizontalCurved = false;
    bool verticalCurved = false;
    bool skipGeometry = false;  // "Go To Gamma Correction"
    Colour4 cursor{255, 0, 0, 0};
    Colour4 referenceBackground{0, 0, 0, 0};
    Colour4 referenceLine{0, 112, 222, 0};
    Colour4 adjustedBackground{0, 0, 0, 0};
    Colour4 adjustedLine{240, 118, 0, 0};

    // Cells of the screens in use (screen 2 only with two screens).
    int cellCount() const;
    // Whether channel box k (0-based) is enabled: within the cells, and the
    // cells at most nine.
    bool channelEnabled(int k) const;
    // The form as the block shows it (the page's start and the R key).
    static WarpForm fromSettings(const WarpSettings& settings);
};

struct WarpCheck {
    int failedRule = 0;  // 0: every rule held
    QString message;     // the failed rule's text in the language asked for
    WarpSettings settings;              // the block to save (valid when failedRule is 0)
    std::vector<SendTarget> targets;    // single-channel players, in channel order
};

// Builds the block from the form over the band widths of `current` and
// applies the 23 rules in order. Works on a copy: `current` is never changed.
WarpCheck CheckWarpForm(const WarpSettings& current, const WarpForm& form, const std::vector<WarpDevice>& devices,
                        uint16_t playerChannels, int language);

// The edge-blending arrangement of step 3: one placement per projector cell,
// laid out as the output configuration lays out its outputs (with the band
// overlaps taken off), each carrying its cell's four band widths; in
// single-channel mode every placement is a whole 1920 x 1080 output.
BlendArrangement BuildBlendArrangement(const WarpSettings& settings, bool singleChannel);

// Channel count of a player from its handshake model code: 1..9 and
// n x 10 + 1 give n, anything else 0.
uint16_t ChannelCountFromModel(uint16_t modelCode);

}  // namespace calib
