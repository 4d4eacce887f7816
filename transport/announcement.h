#pragma once
// Player discovery over UDP: the request that the tool broadcasts, the
// player's 46-byte answer (`PlayerAnnouncement`) and the record kept for each
// player found (`DeviceRecord`). Every datagram is checked for size before a
// byte of it is read.

#include "transport/protocol.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace proto {

inline constexpr uint16_t kDiscoveryPort = 6000;      // first port a player listens on
inline constexpr uint16_t kDiscoveryAltPort = 7656;   // second port, 20 ms later
inline constexpr uint16_t kScanLocalPort = 6001;      // local port of the scanning tool

inline constexpr std::size_t kDiscoveryRequestSize = 46;       // scan dialogs
inline constexpr std::size_t kDiscoveryRequestShortSize = 16;  // batch pages: the header only
inline constexpr std::size_t kAnnouncementSize = 46;
inline constexpr std::size_t kAnnouncementMinSize = 40;        // shorter answers are ignored
inline constexpr uint32_t kAnnouncementBodyLength = 30;        // length field of an answer

}  // namespace proto

// The discovery request: a PlayerPacketHeader with command 1 whose length
// field carries the unicast flag (0 broadcast, 1 sent to one player), then
// zero bytes up to 46 (or nothing, in the 16-byte form).
struct DiscoveryRequest {
    bool unicast = false;

    QByteArray toBytes(std::size_t size = proto::kDiscoveryRequestSize) const;
    // Accepts exactly 16 or 46 bytes with the magic and command byte 1;
    // anything else (an announcement, noise) is not a request. A flag other
    // than 1 counts as a broadcast.
    static std::optional<DiscoveryRequest> parse(const uint8_t* data, std::size_t size);
    static std::optional<DiscoveryRequest> parse(const QByteArray& bytes);
};

// A player's answer to discovery, 46 bytes little-endian:
// header (16), IPv4 (4, first dotted number first), MAC (6), u16 TCP port,
// u16 player version, u16 FPGA version, u16 channel-layout code, ID (12 ASCII).
struct PlayerAnnouncement {
    static constexpr std::size_t kSize = proto::kAnnouncementSize;

    proto::PlayerPacketHeader header;  // command 0x81, payloadLength 30 when built here
    std::array<uint8_t, 4> ip{};
    std::array<uint8_t, 6> mac{};
    uint16_t tcpPort = 0;
    uint16_t version = 0;      // major 15-12, minor 11-8, patch 7-4, product type 3-0
    uint16_t fpgaVersion = 0;  // 0: no FPGA version
    uint16_t channelCode = 0;
    std::array<uint8_t, 12> id{};

    PlayerAnnouncement();

    void pack(uint8_t* out) const;  // exactly kSize bytes
    QByteArray toBytes() const;

    // A datagram is an announcement when it holds at least 40 bytes, the
    // command byte AND 0x3F is 1 and the length field is 30; the magic and
    // the reply bits are not tested (players differ there). Missing ID bytes
    // of a 40..45-byte datagram stay zero; bytes after the 46th are not read.
    static std::optional<PlayerAnnouncement> parse(const uint8_t* data, std::size_t size);
    static std::optional<PlayerAnnouncement> parse(const QByteArray& bytes);

    QString ipText() const;                  // "%d.%d.%d.%d"
    QString macText(bool colons) const;      // upper-case hex, "A1:B2:..." or "A1B2..."
    QString idText() const;                  // up to the first zero, upper-cased, printable ASCII only
    uint8_t productType() const { return uint8_t(version & 0x0F); }

    // Setters from the texts a simulator is configured with; false when the
    // text is not a dotted IPv4 address / 12 hex digits (colons allowed).
    bool setIpText(const QString& text);
    bool setMacText(const QString& text);
    void setIdText(const QString& text);  // first 12 characters, zero-filled
};

// One discovered player.
struct DeviceRecord {
    QString ip;    // "%d.%d.%d.%d"
    QString mac;   // 12 upper-case hex digits, no colons
    uint16_t port = 0;
    uint16_t reserved = 0;
    uint16_t channelCode = 0;

    static DeviceRecord fromAnnouncement(const PlayerAnnouncement& a);
    bool operator==(const DeviceRecord&) const = default;
};
