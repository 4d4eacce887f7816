#include "calibration/blend_ramps.h"

#include "core/config_exchange.h"
#include "transport/protocol.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cmath>

namespace calib {

QByteArray GammaTable::toBytes() const
{
    QByteArray out(qsizetype(kSize), '\0');
    for (std::size_t i = 0; i < values.size(); ++i)
        proto::putU16(reinterpret_cast<uint8_t*>(out.data()) + 2 * i, values[i]);
    return out;
}

bool GammaTable::fromBytes(const QByteArray& bytes)
{
    if (std::size_t(bytes.size()) != kSize)
        return false;
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = std::clamp(proto::getU16(reinterpret_cast<const uint8_t*>(bytes.constData()) + 2 * i), kMin, kMax);
    return true;
}

bool GammaTable::Load(const QString& playerFolder)
{
    QFile f(cfgx::configFilePath(playerFolder, cfgx::kGammaFile));
    if (!f.open(QIODevice::ReadOnly) || f.size() != qint64(kSize))
        return false;
    return fromBytes(f.readAll());
}

bool GammaTable::Save(const QString& playerFolder, filecommit::WriteFailure* failure) const
{
    return cfgx::WriteFileAtomically(cfgx::configFilePath(playerFolder, cfgx::kGammaFile), toBytes(), failure);
}

namespace {

// Writes n samples from `start`, held inside the buffer.
void writeRamp(std::array<uint16_t, RampBuffers::kSamples>& buffer, int start, int n, uint32_t direction, float gamma)
{
    if (n <= 0)
        return;
    start = std::clamp(start, 0, RampBuffers::kSamples);
    n = std::min(n, RampBuffers::kSamples - start);
    if (n <= 0)
        return;
    MakeGammaRamp(n, direction, buffer.data() + start, gamma);
}

void applyLuminance(RampBuffers& r, double luminance)
{
    const double k = std::isfinite(luminance) ? std::clamp(luminance, 0.0, 1.0) : 1.0;
    for (auto* buffer : {&r.a, &r.b, &r.c})
        for (uint16_t& s : *buffer)
            s = uint16_t(std::trunc(s * k));
}

RampBuffers fullLight()
{
    RampBuffers r;
    r.a.fill(2048);
    r.b.fill(2048);
    r.c.fill(2048);
    return r;
}

// Curve samples (every 16th) written from `start`, each repeated so that the
// band width is covered: one value per sample below the first full width,
// else count values each written width / count times.
void writeCurveBand(std::array<uint16_t, RampBuffers::kSamples>& out, const BlendCurve& curve, int start, int width,
                    bool horizontal)
{
    const int full = horizontal ? 120 : 135;
    int values = 0, repeat = 0;
    if (width > 0 && width < full) {
        values = width;
        repeat = 1;
    } else if (horizontal && (width == 120 || width == 240 || width == 360 || width == 480 || width == 960)) {
        values = 120;
        repeat = width / 120;
    } else if (!horizontal && (width == 135 || width == 270 || width == 540)) {
        values = 135;
        repeat = width / 135;
    } else if (horizontal && width == 180) {
        values = 90;
        repeat = 2;
    } else if (!horizontal && width == 202) {
        values = 101;
        repeat = 2;
    }
    int pos = start;
    for (int k = 0; k < values; ++k) {
        const std::size_t source = std::size_t(16 * k);
        const uint16_t v = source < curve.samples.size() ? std::min<uint16_t>(curve.samples[source], 2048) : 2048;
        for (int j = 0; j < repeat; ++j, ++pos)
            if (pos >= 0 && pos < RampBuffers::kSamples)  // the band's start is held inside the buffer
                out[std::size_t(pos)] = v;
    }
}

}  // namespace

RampBuffers BuildGammaRamps(const CProjectorGraph& graph, const GammaTable& gamma, int entry, int kind)
{
    RampBuffers r = fullLight();
    entry = std::clamp(entry, 0, 8);
    const BlendChannel& ch = graph.data().arrangement.channels[std::size_t(entry)];
    const bool horizontal = kind != kRampVertical;
    const int wFirst = horizontal ? ch.bandLeft : ch.bandTop;
    const int wSecond = horizontal ? ch.bandRight : ch.bandBottom;
    const int edgeFirst = horizontal ? GammaTable::kLeft : GammaTable::kTop;
    const int edgeSecond = horizontal ? GammaTable::kRight : GammaTable::kBottom;
    const int length = horizontal ? 1920 : 1080;
    auto g = [&](int edge, int colour) { return float(gamma.at(entry, edge, colour) / 100.0); };
    if (wFirst != 0) {
        writeRamp(r.a, 0, wFirst, 0, g(edgeFirst, GammaTable::kRed));
        writeRamp(r.b, 0, wFirst, 0, g(edgeFirst, GammaTable::kGreen));
        writeRamp(r.c, 0, wFirst, 0, g(edgeFirst, GammaTable::kBlue));
    }
    if (wSecond != 0) {
        // A band wider than the output starts at sample 0, never before it.
        const int start = std::max(0, length - wSecond);
        const int n = length - start;
        writeRamp(r.a, start, n, 1, g(edgeSecond, GammaTable::kRed));
        writeRamp(r.b, start, n, 1, g(edgeSecond, GammaTable::kGreen));
        writeRamp(r.c, start, n, 1, g(edgeSecond, GammaTable::kBlue));
    }
    applyLuminance(r, graph.data().channels[std::size_t(entry)].luminance);
    return r;
}

RampBuffers BuildCurveRamps(CProjectorGraph& graph, int entry, int kind)
{
    RampBuffers r = fullLight();
    entry = std::clamp(entry, 0, 8);
    const bool horizontal = kind != kRampVertical;
    const int first = horizontal ? kBlendLeft : kBlendTop;
    const int second = horizontal ? kBlendRight : kBlendBottom;
    for (int e : {first, second})
        for (int c = 1; c < 4; ++c)
            graph.BuildSamples(entry, e, c);
    const BlendChannel& ch = graph.data().arrangement.channels[std::size_t(entry)];
    const int wFirst = horizontal ? ch.bandLeft : ch.bandTop;
    const int wSecond = horizontal ? ch.bandRight : ch.bandBottom;
    const int secondStart = horizontal ? int(ch.right) - int(ch.left) - wSecond : int(ch.bottom) - int(ch.top) - wSecond;
    const std::array buffers{&r.a, &r.b, &r.c};
    for (int c = 1; c < 4; ++c) {
        writeCurveBand(*buffers[std::size_t(c - 1)], graph.curve(entry, first, c), 0, wFirst, horizontal);
        writeCurveBand(*buffers[std::size_t(c - 1)], graph.curve(entry, second, c), secondStart, wSecond, horizontal);
    }
    applyLuminance(r, graph.data().channels[std::size_t(entry)].luminance);
    return r;
}

void PackRamps(const RampBuffers& r, uint8_t* out)
{
    for (std::size_t i = 0; i < 1024; ++i) {
        const uint32_t a0 = r.a[2 * i] & 0xFFF, b0 = r.b[2 * i] & 0xFFF, c0 = r.c[2 * i] & 0xFFF;
        const uint32_t a1 = r.a[2 * i + 1] & 0xFFF, b1 = r.b[2 * i + 1] & 0xFFF, c1 = r.c[2 * i + 1] & 0xFFF;
        const uint32_t w0 = a0 | (b0 << 12) | ((c0 & 0xFF) << 24);
        const uint32_t w1 = (c0 >> 8) | (a1 << 4) | (b1 << 16) | ((c1 & 0xF) << 28);
        const uint32_t w2 = c1 >> 4;
        proto::putU32(out + 12 * i, w0);
        proto::putU32(out + 12 * i + 4, w1);
        proto::putU32(out + 12 * i + 8, w2);
    }
}

QByteArray PackRamps(const RampBuffers& ramps)
{
    QByteArray out(qsizetype(kRampFileSize), '\0');
    PackRamps(ramps, reinterpret_cast<uint8_t*>(out.data()));
    return out;
}

QString RampFileName(int fileIndex, int kind)
{
    if (fileIndex >= 9)
        fileIndex -= 9;
    const char* pattern = kind == kRampHorizontal ? "Projector%dH.dat" : kind == kRampVertical ? "Projector%dV.dat"
                                                                                               : "Projector%d.dat";
    return QString::asprintf(pattern, fileIndex);
}

bool WriteRampFile(const QString& playerFolder, int fileIndex, int kind, const QByteArray& bytes,
                   filecommit::WriteFailure* failure)
{
    const QString path = QDir(playerFolder).filePath(QStringLiteral("ProjectorData/") + RampFileName(fileIndex, kind));
    return cfgx::WriteFileAtomically(path, bytes, failure);
}

}  // namespace calib
