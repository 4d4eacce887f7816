#include "calibration/output_timing.h"

namespace calib {

std::optional<OutputTiming> OutputTiming::fromRecord(const uint8_t* bytes, std::size_t size)
{
    if (!bytes || size != kRecordSize)
        return std::nullopt;
    OutputTiming t;
    for (std::size_t i = 0; i < kFields; ++i)
        t.values[i] = proto::getU16(bytes + 2 * i);
    return t;
}

QByteArray OutputTiming::toRecord() const
{
    QByteArray out(int(kRecordSize), '\0');
    for (std::size_t i = 0; i < kFields; ++i)
        proto::putU16(reinterpret_cast<uint8_t*>(out.data()) + 2 * i, values[i]);
    return out;
}

QString OutputTiming::text() const
{
    return QStringLiteral("%1X%2@%3Hz").arg(values[kHSize]).arg(values[kVSize]).arg(values[kFrameRate]);
}

const std::array<TimingPreset, 7>& HdmiPresets()
{
    // Every preset runs at 60 Hz; 1280x1024 has 1688 pixels per line.
    static const std::array<TimingPreset, 7> presets{{
        {"1024X768@60Hz", {{60, 1344, 806, 136, 6, 296, 1024, 35, 768}}},
        {"1280X720@60Hz", {{60, 1650, 750, 40, 5, 260, 1280, 25, 720}}},
        {"1280X768@60Hz", {{60, 1664, 798, 128, 7, 320, 1280, 27, 768}}},
        {"1280X800@60Hz", {{60, 1680, 831, 128, 6, 328, 1280, 28, 800}}},
        {"1280X1024@60Hz", {{60, 1688, 1066, 112, 3, 360, 1280, 41, 1024}}},
        {"1920X1080@60Hz", {{60, 2200, 1125, 44, 5, 192, 1920, 41, 1080}}},
        {"1920X1200@60Hz", {{60, 2080, 1235, 32, 6, 112, 1920, 32, 1200}}},
    }};
    return presets;
}

int FindHdmiPreset(const QString& text)
{
    const auto& presets = HdmiPresets();
    for (std::size_t i = 0; i < presets.size(); ++i)
        if (text == QLatin1String(presets[i].text))
            return int(i);
    return -1;
}

int FindVgaPreset(const QString& text)
{
    for (std::size_t i = 0; i < kVgaPresets.size(); ++i)
        if (text == QLatin1String(HdmiPresets()[std::size_t(kVgaPresets[i])].text))
            return int(i);
    return -1;
}

QByteArray BuildTimingQuery(TimingOutput output)
{
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_OUTPUT_MODE;
    h.subCode = uint8_t(output);
    return proto::buildPacket(h);
}

QByteArray BuildTimingSet(TimingOutput output, const OutputTiming& timing)
{
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_OUTPUT_RESOLUTION;
    h.subCode = uint8_t(output);
    h.param = uint16_t(timing[OutputTiming::kFrameRate] & 0xFF);
    QByteArray payload(int(OutputTiming::kSetPayloadSize), '\0');
    for (std::size_t i = 1; i < OutputTiming::kFields; ++i)
        proto::putU16(reinterpret_cast<uint8_t*>(payload.data()) + 2 * (i - 1), timing[i]);
    return proto::buildPacket(h, payload);
}

}  // namespace calib
