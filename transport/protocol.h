#pragma once
// The player's packet protocol: a 16-byte little-endian header and a payload.

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace proto {

inline constexpr uint32_t kMagic = 0xA55A5A5Au;  // on the wire: 5A 5A 5A A5
inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::size_t kBufferSize = 10485760;               // 0xA00000
inline constexpr std::size_t kMaxPayload = kBufferSize - kHeaderSize;  // 10,485,744
inline constexpr std::size_t kChunkSize = 8192000;                 // file transfer chunk
inline constexpr std::size_t kNameFieldSize = 256;

inline constexpr uint8_t kReplyBit = 0x80;
inline constexpr uint8_t kNotSupportedBit = 0x40;

enum Command : uint8_t {
    CMD_PLAYER_INFO = 1,
    CMD_CHANNEL_MAP_DATA = 2,
    CMD_PARAM_FILE = 3,
    CMD_PROJECTOR_DATA = 4,
    CMD_OUTPUT_RESOLUTION = 5,
    CMD_VIDEO_CHANNEL_SETUP = 6,
    CMD_LOAD_STATE = 7,
    CMD_NETWORK_PARAM = 11,
    CMD_ADJUST_MODE = 12,
    CMD_BLEND_SWITCH = 13,
    CMD_PROGRAM_UPGRADE = 15,
    CMD_TEMPERATURE = 16,
    CMD_OUTPUT_MODE = 17,
    CMD_STATUS = 18,
    CMD_VIDEO_LIST = 19,
    CMD_VIDEO_UPLOAD = 20,
    CMD_VIDEO_DELETE = 21,
    CMD_VIDEO_SELECT = 22,
    CMD_VIDEO_RENAME = 23,
    CMD_PROTOCOL_FILE = 28,
    CMD_PRODUCT_INFO = 31,
    CMD_REBOOT = 33,
    CMD_WARP_POINTS = 34,
    CMD_CASCADE_SET = 35,
    CMD_CASCADE_QUERY = 36,
    CMD_VIDEO_PIC_WINDOW = 38,
    CMD_TRACKBAR_VALUES = 41,
    CMD_VIDEO_LIST_CHANGED = 42,
    CMD_POWER = 47,
    CMD_USART_DATA = 50,
    CMD_VIDEO_NEW_FOLDER = 51,
    CMD_LAYOUT = 52,
    CMD_MATERIAL = 53,
    CMD_CONFIG_FILE = 54,
    CMD_FACTORY_RESET = 55,
    CMD_QRCODE = 56,
    CMD_ROTATE_CONFIG = 57,
    CMD_GAME = 58,
    CMD_VIDEO_CONTROL = 59,
    CMD_LIDAR = 60,
    CMD_GALLERY = 61,
    CMD_MOBILE_SETTINGS = 62,
    CMD_PICTURE_PLAY = 63,
};

struct PlayerPacketHeader {
    uint32_t magic = kMagic;
    uint8_t command = 0;
    uint8_t subCode = 0;
    uint16_t sequence = 0;
    uint16_t param = 0;
    uint16_t arg = 0;
    uint32_t payloadLength = 0;

    // Bytes 8..11 seen as one u32 (param in the low half).
    uint32_t paramArg() const { return uint32_t(param) | (uint32_t(arg) << 16); }
    void setParamArg(uint32_t v)
    {
        param = uint16_t(v & 0xFFFF);
        arg = uint16_t(v >> 16);
    }

    void pack(uint8_t* out) const;  // writes exactly kHeaderSize bytes
    QByteArray toBytes() const;
    // Reads 16 bytes; false (and *this untouched) when fewer are given.
    bool unpack(const uint8_t* data, std::size_t size);
    static PlayerPacketHeader fromBytes(const uint8_t* data);  // caller checked size >= 16
};

// The command code of a received packet: the low six bits when bit 7 is set
// and bit 6 clear; 0 ("not supported") in every other case.
uint8_t decodeReplyCode(uint8_t command);

// Header + payload as one packet.
QByteArray buildPacket(const PlayerPacketHeader& header, const QByteArray& payload = QByteArray());

// Little-endian helpers for record packing.
inline void putU16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void putU32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
inline void putU64(uint8_t* p, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
inline uint16_t getU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t getU32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t getU64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
inline int32_t getI32(const uint8_t* p) { return int32_t(getU32(p)); }
inline void putI32(uint8_t* p, int32_t v) { putU32(p, uint32_t(v)); }

}  // namespace proto
