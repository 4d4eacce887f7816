#include "transport/protocol.h"

namespace proto {

void PlayerPacketHeader::pack(uint8_t* out) const
{
    putU32(out, magic);
    out[4] = command;
    out[5] = subCode;
    putU16(out + 6, sequence);
    putU16(out + 8, param);
    putU16(out + 10, arg);
    putU32(out + 12, payloadLength);
}

QByteArray PlayerPacketHeader::toBytes() const
{
    QByteArray bytes(int(kHeaderSize), '\0');
    pack(reinterpret_cast<uint8_t*>(bytes.data()));
    return bytes;
}

bool PlayerPacketHeader::unpack(const uint8_t* data, std::size_t size)
{
    if (!data || size < kHeaderSize)
        return false;
    *this = fromBytes(data);
    return true;
}

PlayerPacketHeader PlayerPacketHeader::fromBytes(const uint8_t* data)
{
    PlayerPacketHeader h;
    h.magic = getU32(data);
    h.command = data[4];
    h.subCode = data[5];
    h.sequence = getU16(data + 6);
    h.param = getU16(data + 8);
    h.arg = getU16(data + 10);
    h.payloadLength = getU32(data + 12);
    return h;
}

uint8_t decodeReplyCode(uint8_t command)
{
    if ((command & kReplyBit) && !(command & kNotSupportedBit))
        return command & 0x3F;
    return 0;
}

QByteArray buildPacket(const PlayerPacketHeader& header, const QByteArray& payload)
{
    PlayerPacketHeader h = header;
    h.payloadLength = uint32_t(payload.size());
    return h.toBytes() + payload;
}

}  // namespace proto
