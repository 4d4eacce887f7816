#pragma once
// The blending ramps the player applies per channel and direction: built from
// the gamma settings or from the edited curves, scaled by the channel's
// luminance, packed as 12-bit samples into a 12,288-byte file; and the gamma
// settings file config/Gamma.QVE.

#include "calibration/projector_graph.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

namespace calib {

// Gamma x 100 per channel entry, edge (left, top, right, bottom) and colour
// (red, green, blue, all): the 288 bytes of Gamma.QVE.
struct GammaTable {
    static constexpr std::size_t kSize = 288;
    static constexpr uint16_t kDefault = 200;
    static constexpr uint16_t kMin = 100;
    static constexpr uint16_t kMax = 300;
    enum Edge { kLeft = 0, kTop = 1, kRight = 2, kBottom = 3 };
    enum Colour { kRed = 0, kGreen = 1, kBlue = 2, kAll = 3 };

    GammaTable() { values.fill(kDefault); }
    uint16_t& at(int entry, int edge, int colour) { return values[std::size_t(entry * 16 + edge * 4 + colour)]; }
    uint16_t at(int entry, int edge, int colour) const { return values[std::size_t(entry * 16 + edge * 4 + colour)]; }

    QByteArray toBytes() const;
    // False (and the table untouched) unless exactly 288 bytes are given;
    // every value is held within 100..300.
    bool fromBytes(const QByteArray& bytes);
    bool Load(const QString& playerFolder);  // config/Gamma.QVE; false keeps the table
    bool Save(const QString& playerFolder, filecommit::WriteFailure* failure = nullptr) const;

    std::array<uint16_t, 144> values{};
};

// Three ramps of 2,160 attenuation samples (2,048 = full light).
struct RampBuffers {
    static constexpr int kSamples = 2160;
    std::array<uint16_t, kSamples> a{};  // red
    std::array<uint16_t, kSamples> b{};  // green
    std::array<uint16_t, kSamples> c{};  // blue
};

enum RampKind { kRampHorizontal = 1, kRampVertical = 2 };
inline constexpr std::size_t kRampFileSize = 12288;

// Ramps of one channel entry for one direction: all samples 2,048, the gamma
// or curve bands written at their edges, then every sample times the
// entry's luminance (held within 0..1).
RampBuffers BuildGammaRamps(const CProjectorGraph& graph, const GammaTable& gamma, int entry, int kind);
RampBuffers BuildCurveRamps(CProjectorGraph& graph, int entry, int kind);

// 1,024 groups of 12 bytes, samples 0..2,047 of each buffer as 12 bits.
void PackRamps(const RampBuffers& ramps, uint8_t* out);
QByteArray PackRamps(const RampBuffers& ramps);

// "Projector%dH.dat", "Projector%dV.dat" or "Projector%d.dat"; an index of 9
// or more has 9 taken off.
QString RampFileName(int fileIndex, int kind);
// Writes the file into playerFolder/ProjectorData; false when it could not be
// written whole.
bool WriteRampFile(const QString& playerFolder, int fileIndex, int kind, const QByteArray& bytes,
                   filecommit::WriteFailure* failure = nullptr);

}  // namespace calib
