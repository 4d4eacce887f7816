#include "transport/announcement.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

PlayerAnnouncement sample()
{
    PlayerAnnouncement a;
    a.ip = {192, 168, 1, 98};
    a.mac = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6};
    a.tcpPort = 2323;
    a.version = 0x1231;
    a.fpgaVersion = 3;
    a.channelCode = 41;
    a.setIdText(QStringLiteral("abc123def456"));
    return a;
}

TEST(Announcement, PacksEveryFieldAtItsOffsetAndReadsItBack)
{
    const QByteArray b = sample().toBytes();
    ASSERT_EQ(b.size(), 46);
    EXPECT_EQ(b.left(5), QByteArray::fromHex("5A5A5AA5 81"));
    EXPECT_EQ(b.mid(12), QByteArray::fromHex("1E000000 C0A80162 A1B2C3D4E5F6 1309 3112 0300 2900") + "abc123def456");

    const auto a = PlayerAnnouncement::parse(b);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->ipText(), QStringLiteral("192.168.1.98"));
    EXPECT_EQ(a->macText(true), QStringLiteral("A1:B2:C3:D4:E5:F6"));
    EXPECT_EQ(a->idText(), QStringLiteral("ABC123DEF456"));
    EXPECT_EQ(a->productType(), 1);
    EXPECT_EQ(std::make_tuple(a->tcpPort, a->version, a->fpgaVersion, a->channelCode),
              std::make_tuple(uint16_t(2323), uint16_t(0x1231), uint16_t(3), uint16_t(41)));
    EXPECT_EQ(DeviceRecord::fromAnnouncement(*a),
              (DeviceRecord{QStringLiteral("192.168.1.98"), QStringLiteral("A1B2C3D4E5F6"), 2323, 0, 41}));
}

// Sizes and the two fields that are tested; everything else is not.
TEST(Announcement, AcceptanceTable)
{
    const uint32_t M = proto::kMagic;
    const struct {
        const char* name;
        int size;         // bytes handed to parse (taken from a 60-byte image)
        uint8_t command;  // byte 4
        uint32_t length;  // bytes 12..15
        uint32_t magic;
        const char* id;   // expected ID text; null: refused
    } cases[] = {
        {"empty", 0, 0x81, 30, M, nullptr},
        {"header only", 16, 0x81, 30, M, nullptr},
        {"39 bytes", 39, 0x81, 30, M, nullptr},
        {"40 bytes: six ID characters", 40, 0x81, 30, M, "ABC123"},
        {"43 bytes: nine ID characters", 43, 0x81, 30, M, "ABC123DEF"},
        {"46 bytes", 46, 0x81, 30, M, "ABC123DEF456"},
        {"longer: first 46 bytes read", 60, 0x81, 30, M, "ABC123DEF456"},
        {"not-supported bit is not tested", 46, 0xC1, 30, M, "ABC123DEF456"},
        {"request form (no reply bit)", 46, 0x01, 30, M, "ABC123DEF456"},
        {"other magic is not tested", 46, 0x81, 30, 0x12345678, "ABC123DEF456"},
        {"other command", 46, 0x82, 30, M, nullptr},
        {"length 29", 46, 0x81, 29, M, nullptr},
        {"length 0 (a discovery request)", 46, 0x01, 0, M, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray image = sample().toBytes() + QByteArray(14, '\x7F');
        auto* p = reinterpret_cast<uint8_t*>(image.data());
        p[4] = c.command;
        proto::putU32(p + 12, c.length);
        proto::putU32(p, c.magic);
        const auto a = PlayerAnnouncement::parse(p, std::size_t(c.size));
        ASSERT_EQ(a.has_value(), c.id != nullptr);
        if (a) {
            EXPECT_EQ(a->idText(), QString::fromLatin1(c.id));
            EXPECT_EQ(a->ipText(), QStringLiteral("192.168.1.98"));
        }
    }
    EXPECT_FALSE(PlayerAnnouncement::parse(nullptr, 46));
}

TEST(Announcement, TextFieldsRefuseOrHideBadInput)
{
    PlayerAnnouncement a;
    a.id = {'a', 'b', 0x01, 0xC8, 'z', 0, 'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(a.idText(), QStringLiteral("AB??Z"));  // printable ASCII only, up to the first zero
    a.setIdText(QStringLiteral("0123456789ABCDEF"));  // cut at 12
    EXPECT_EQ(a.idText(), QStringLiteral("0123456789AB"));

    for (const char* ip : {"127.0.0.2", " 10.0.0.254 "})
        EXPECT_TRUE(a.setIpText(QString::fromLatin1(ip))) << ip;
    for (const char* ip : {"256.1.1.1", "1.2.3", "1.2.3.4.5", "a.b.c.d", "1..3.4", ""})
        EXPECT_FALSE(a.setIpText(QString::fromLatin1(ip))) << ip;
    for (const char* mac : {"A1B2C3D4E5F6", "a1:b2:c3:d4:e5:f6"}) {
        PlayerAnnouncement m;
        EXPECT_TRUE(m.setMacText(QString::fromLatin1(mac))) << mac;
        EXPECT_EQ(m.macText(false), QStringLiteral("A1B2C3D4E5F6"));
    }
    for (const char* mac : {"A1B2C3D4E5", "A1B2C3D4E5F6A7", "G1B2C3D4E5F6"})
        EXPECT_FALSE(a.setMacText(QString::fromLatin1(mac))) << mac;
}

TEST(DiscoveryRequestRecord, BuildsBothFormsAndRecognisesOnlyRequests)
{
    const QByteArray broadcast = DiscoveryRequest{false}.toBytes();
    EXPECT_EQ(broadcast, QByteArray::fromHex("5A5A5AA5 01") + QByteArray(41, '\0'));
    const QByteArray unicast = DiscoveryRequest{true}.toBytes(proto::kDiscoveryRequestShortSize);
    ASSERT_EQ(unicast.size(), 16);
    EXPECT_EQ(unicast.at(12), 1);

    QByteArray badMagic = broadcast, reply = broadcast;
    badMagic[0] = 0;
    reply[4] = char(0x81);
    const struct {
        const char* name;
        QByteArray bytes;
        int unicast;  // -1: refused
    } cases[] = {
        {"46-byte broadcast", broadcast, 0}, {"16-byte unicast", unicast, 1},
        {"46-byte unicast", DiscoveryRequest{true}.toBytes(), 1}, {"45 bytes", broadcast.left(45), -1},
        {"47 bytes", broadcast + '\0', -1}, {"15 bytes", unicast.left(15), -1}, {"other magic", badMagic, -1},
        {"reply bit", reply, -1}, {"an announcement", sample().toBytes(), -1}, {"empty", QByteArray(), -1},
    };
    for (const auto& c : cases) {
        const auto r = DiscoveryRequest::parse(c.bytes);
        EXPECT_EQ(r ? int(r->unicast) : -1, c.unicast) << c.name;
    }
}

}  // namespace
