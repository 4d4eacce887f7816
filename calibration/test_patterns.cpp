#include "calibration/test_patterns.h"

#include "transport/protocol.h"

namespace calib {

namespace {

QByteArray packet(uint8_t command, uint8_t subCode, uint16_t sequence, const QByteArray& payload = QByteArray())
{
    proto::PlayerPacketHeader h;
    h.command = command;
    h.subCode = subCode;
    h.sequence = sequence;
    return proto::buildPacket(h, payload);
}

void putColour(uint8_t* p, ColourRef c)
{
    p[0] = uint8_t(c >> 16);  // blue
    p[1] = uint8_t(c >> 8);   // green
    p[2] = uint8_t(c);        // red
    p[3] = 0;
}

}  // namespace

QByteArray BuildSolidColourPacket(uint16_t sequence, ColourRef colour)
{
    QByteArray payload(12, '\0');
    auto* p = reinterpret_cast<uint8_t*>(payload.data());
    proto::putU32(p, 1);
    proto::putU32(p + 4, 1);
    putColour(p + 8, colour);
    return packet(proto::CMD_PROJECTOR_DATA, kTestPatternSubCode, sequence, payload);
}

QByteArray BuildMarkerPacket(uint16_t sequence, ColourRef colour, uint32_t x, uint32_t y)
{
    QByteArray payload(16, '\0');
    auto* p = reinterpret_cast<uint8_t*>(payload.data());
    proto::putU32(p, 2);
    putColour(p + 4, colour);
    proto::putU32(p + 8, x);
    proto::putU32(p + 12, y);
    return packet(proto::CMD_PROJECTOR_DATA, kTestPatternSubCode, sequence, payload);
}

QByteArray BuildAdjustModePacket(uint16_t sequence, uint8_t subCode)
{
    return packet(proto::CMD_ADJUST_MODE, subCode, sequence);
}

}  // namespace calib
