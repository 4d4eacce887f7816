#include "transport/announcement.h"

#include <QStringList>

namespace {

constexpr std::size_t kIpOffset = 16;
constexpr std::size_t kMacOffset = 20;
constexpr std::size_t kPortOffset = 26;
constexpr std::size_t kVersionOffset = 28;
constexpr std::size_t kFpgaOffset = 30;
constexpr std::size_t kChannelOffset = 32;
constexpr std::size_t kIdOffset = 34;

}  // namespace

QByteArray DiscoveryRequest::toBytes(std::size_t size) const
{
    if (size < proto::kHeaderSize)
        size = proto::kHeaderSize;
    QByteArray bytes(int(size), '\0');
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_PLAYER_INFO;
    h.payloadLength = unicast ? 1 : 0;
    h.pack(reinterpret_cast<uint8_t*>(bytes.data()));
    return bytes;
}

std::optional<DiscoveryRequest> DiscoveryRequest::parse(const uint8_t* data, std::size_t size)
{
    if (!data || (size != proto::kDiscoveryRequestSize && size != proto::kDiscoveryRequestShortSize))
        return std::nullopt;
    const auto h = proto::PlayerPacketHeader::fromBytes(data);
    if (h.magic != proto::kMagic || h.command != proto::CMD_PLAYER_INFO)
        return std::nullopt;
    DiscoveryRequest r;
    r.unicast = h.payloadLength == 1;
    return r;
}

std::optional<DiscoveryRequest> DiscoveryRequest::parse(const QByteArray& bytes)
{
    return parse(reinterpret_cast<const uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
}

PlayerAnnouncement::PlayerAnnouncement()
{
    header.command = proto::kReplyBit | proto::CMD_PLAYER_INFO;
    header.payloadLength = proto::kAnnouncementBodyLength;
}

void PlayerAnnouncement::pack(uint8_t* out) const
{
    header.pack(out);
    for (std::size_t i = 0; i < ip.size(); ++i)
        out[kIpOffset + i] = ip[i];
    for (std::size_t i = 0; i < mac.size(); ++i)
        out[kMacOffset + i] = mac[i];
    proto::putU16(out + kPortOffset, tcpPort);
    proto::putU16(out + kVersionOffset, version);
    proto::putU16(out + kFpgaOffset, fpgaVersion);
    proto::putU16(out + kChannelOffset, channelCode);
    for (std::size_t i = 0; i < id.size(); ++i)
        out[kIdOffset + i] = id[i];
}

QByteArray PlayerAnnouncement::toBytes() const
{
    QByteArray bytes(int(kSize), '\0');
    pack(reinterpret_cast<uint8_t*>(bytes.data()));
    return bytes;
}

std::optional<PlayerAnnouncement> PlayerAnnouncement::parse(const uint8_t* data, std::size_t size)
{
    if (!data || size < proto::kAnnouncementMinSize)
        return std::nullopt;
    // Read into a zeroed record of the full size, so that a short answer
    // leaves its missing ID bytes zero.
    std::array<uint8_t, kSize> rec{};
    const std::size_t n = size < kSize ? size : kSize;
    for (std::size_t i = 0; i < n; ++i)
        rec[i] = data[i];
    const uint8_t* p = rec.data();

    PlayerAnnouncement a;
    a.header = proto::PlayerPacketHeader::fromBytes(p);
    if ((a.header.command & 0x3F) != proto::CMD_PLAYER_INFO || a.header.payloadLength != proto::kAnnouncementBodyLength)
        return std::nullopt;
    for (std::size_t i = 0; i < a.ip.size(); ++i)
        a.ip[i] = p[kIpOffset + i];
    for (std::size_t i = 0; i < a.mac.size(); ++i)
        a.mac[i] = p[kMacOffset + i];
    a.tcpPort = proto::getU16(p + kPortOffset);
    a.version = proto::getU16(p + kVersionOffset);
    a.fpgaVersion = proto::getU16(p + kFpgaOffset);
    a.channelCode = proto::getU16(p + kChannelOffset);
    for (std::size_t i = 0; i < a.id.size(); ++i)
        a.id[i] = p[kIdOffset + i];
    return a;
}

std::optional<PlayerAnnouncement> PlayerAnnouncement::parse(const QByteArray& bytes)
{
    return parse(reinterpret_cast<const uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
}

QString PlayerAnnouncement::ipText() const
{
    return QStringLiteral("%1.%2.%3.%4").arg(ip[0]).arg(ip[1]).arg(ip[2]).arg(ip[3]);
}

QString PlayerAnnouncement::macText(bool colons) const
{
    QString out;
    for (std::size_t i = 0; i < mac.size(); ++i) {
        if (colons && i > 0)
            out += QLatin1Char(':');
        out += QStringLiteral("%1").arg(mac[i], 2, 16, QLatin1Char('0')).toUpper();
    }
    return out;
}

QString PlayerAnnouncement::idText() const
{
    QString out;
    for (uint8_t c : id) {
        if (c == 0)
            break;
        // A player's ID is plain ASCII; anything else is shown as '?' rather
        // than interpreted in some code page.
        out += (c >= 0x20 && c < 0x7F) ? QChar(char16_t(c)) : QChar(u'?');
    }
    return out.toUpper();
}

bool PlayerAnnouncement::setIpText(const QString& text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    std::array<uint8_t, 4> out{};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const uint v = parts[i].toUInt(&ok, 10);
        if (!ok || v > 255 || parts[i].isEmpty() || parts[i].size() > 3)
            return false;
        out[std::size_t(i)] = uint8_t(v);
    }
    ip = out;
    return true;
}

bool PlayerAnnouncement::setMacText(const QString& text)
{
    QString hex = text.trimmed();
    hex.remove(QLatin1Char(':'));
    hex.remove(QLatin1Char('-'));
    if (hex.size() != 12)
        return false;
    std::array<uint8_t, 6> out{};
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        const uint v = hex.mid(i * 2, 2).toUInt(&ok, 16);
        if (!ok)
            return false;
        out[std::size_t(i)] = uint8_t(v);
    }
    mac = out;
    return true;
}

void PlayerAnnouncement::setIdText(const QString& text)
{
    id.fill(0);
    const QByteArray latin = text.left(int(id.size())).toLatin1();
    for (int i = 0; i < latin.size() && std::size_t(i) < id.size(); ++i)
        id[std::size_t(i)] = uint8_t(latin[i]);
}

DeviceRecord DeviceRecord::fromAnnouncement(const PlayerAnnouncement& a)
{
    DeviceRecord r;
    r.ip = a.ipText();
    r.mac = a.macText(false);
    r.port = a.tcpPort;
    r.reserved = 0;
    r.channelCode = a.channelCode;
    return r;
}
