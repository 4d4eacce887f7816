#include "transport/announcement.h"

#include <gtest/gtest.h>

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

TEST(Announcement, PacksEveryFieldAtItsOffset)
{
    const QByteArray b = sample().toBytes();
    ASSERT_EQ(b.size(), 46);
    const auto* p = reinterpret_cast<const uint8_t*>(b.constData());
    EXPECT_EQ(proto::getU32(p), proto::kMagic);
    EXPECT_EQ(p[4], 0x81);
    EXPECT_EQ(proto::getU32(p + 12), 30u);
    EXPECT_EQ(QByteArray(b.constData() + 16, 4), QByteArray("\xC0\xA8\x01\x62", 4));
    EXPECT_EQ(QByteArray(b.constData() + 20, 6), QByteArray("\xA1\xB2\xC3\xD4\xE5\xF6", 6));
    EXPECT_EQ(proto::getU16(p + 26), 2323);
    EXPECT_EQ(proto::getU16(p + 28), 0x1231);
    EXPECT_EQ(proto::getU16(p + 30), 3);
    EXPECT_EQ(proto::getU16(p + 32), 41);
    EXPECT_EQ(QByteArray(b.constData() + 34, 12), QByteArray("abc123def456"));
}

TEST(Announcement, RoundTripAndTexts)
{
    const auto a = PlayerAnnouncement::parse(sample().toBytes());
    ASSERT_TRUE(a);
    EXPECT_EQ(a->ipText(), QStringLiteral("192.168.1.98"));
    EXPECT_EQ(a->macText(true), QStringLiteral("A1:B2:C3:D4:E5:F6"));
    EXPECT_EQ(a->macText(false), QStringLiteral("A1B2C3D4E5F6"));
    EXPECT_EQ(a->idText(), QStringLiteral("ABC123DEF456"));
    EXPECT_EQ(a->tcpPort, 2323);
    EXPECT_EQ(a->version, 0x1231);
    EXPECT_EQ(a->productType(), 1);
    EXPECT_EQ(a->fpgaVersion, 3);
    EXPECT_EQ(a->channelCode, 41);

    const DeviceRecord r = DeviceRecord::fromAnnouncement(*a);
    EXPECT_EQ(r, (DeviceRecord{QStringLiteral("192.168.1.98"), QStringLiteral("A1B2C3D4E5F6"), 2323, 0, 41}));
}

// Sizes and the two fields that are tested; everything else is not.
TEST(Announcement, AcceptanceTable)
{
    struct Case {
        const char* name;
        int size;         // bytes handed to parse (taken from a 60-byte image)
        uint8_t command;  // byte 4
        uint32_t length;  // bytes 12..15
        uint32_t magic;
        bool accepted;
        const char* id;   // expected ID text when accepted
    };
    const Case cases[] = {
        {"empty", 0, 0x81, 30, proto::kMagic, false, ""},
        {"header only", 16, 0x81, 30, proto::kMagic, false, ""},
        {"39 bytes", 39, 0x81, 30, proto::kMagic, false, ""},
        {"40 bytes: six ID characters", 40, 0x81, 30, proto::kMagic, true, "ABC123"},
        {"43 bytes: nine ID characters", 43, 0x81, 30, proto::kMagic, true, "ABC123DEF"},
        {"46 bytes", 46, 0x81, 30, proto::kMagic, true, "ABC123DEF456"},
        {"longer: first 46 bytes read", 60, 0x81, 30, proto::kMagic, true, "ABC123DEF456"},
        {"not-supported bit is not tested", 46, 0xC1, 30, proto::kMagic, true, "ABC123DEF456"},
        {"request form (no reply bit)", 46, 0x01, 30, proto::kMagic, true, "ABC123DEF456"},
        {"other magic is not tested", 46, 0x81, 30, 0x12345678, true, "ABC123DEF456"},
        {"other command", 46, 0x82, 30, proto::kMagic, false, ""},
        {"length 29", 46, 0x81, 29, proto::kMagic, false, ""},
        {"length 0 (a discovery request)", 46, 0x01, 0, proto::kMagic, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray image = sample().toBytes() + QByteArray(14, '\x7F');
        auto* p = reinterpret_cast<uint8_t*>(image.data());
        p[4] = c.command;
        proto::putU32(p + 12, c.length);
        proto::putU32(p, c.magic);
        const auto a = PlayerAnnouncement::parse(p, std::size_t(c.size));
        ASSERT_EQ(a.has_value(), c.accepted);
        if (a) {
            EXPECT_EQ(a->idText(), QString::fromLatin1(c.id));
            EXPECT_EQ(a->ipText(), QStringLiteral("192.168.1.98"));
        }
    }
    EXPECT_FALSE(PlayerAnnouncement::parse(nullptr, 46));
}

TEST(Announcement, IdTextShowsOnlyPrintableAscii)
{
    PlayerAnnouncement a;
    a.id = {'a', 'b', 0x01, 0xC8, 'z', 0, 'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(a.idText(), QStringLiteral("AB??Z"));
    a.setIdText(QStringLiteral("0123456789ABCDEF"));  // cut at 12
    EXPECT_EQ(a.idText(), QStringLiteral("0123456789AB"));
}

TEST(Announcement, AddressAndMacTexts)
{
    struct Case {
        const char* text;
        bool ok;
    };
    const Case ips[] = {{"127.0.0.2", true}, {" 10.0.0.254 ", true}, {"256.1.1.1", false}, {"1.2.3", false},
                        {"1.2.3.4.5", false}, {"a.b.c.d", false}, {"1..3.4", false}, {"", false}};
    for (const Case& c : ips) {
        SCOPED_TRACE(c.text);
        PlayerAnnouncement a;
        EXPECT_EQ(a.setIpText(QString::fromLatin1(c.text)), c.ok);
    }
    const Case macs[] = {{"A1B2C3D4E5F6", true}, {"a1:b2:c3:d4:e5:f6", true}, {"A1B2C3D4E5", false},
                         {"A1B2C3D4E5F6A7", false}, {"G1B2C3D4E5F6", false}};
    for (const Case& c : macs) {
        SCOPED_TRACE(c.text);
        PlayerAnnouncement a;
        EXPECT_EQ(a.setMacText(QString::fromLatin1(c.text)), c.ok);
        if (c.ok) {
            EXPECT_EQ(a.macText(false), QStringLiteral("A1B2C3D4E5F6"));
        }
    }
}

TEST(DiscoveryRequestRecord, BuildsBothFormsAndRecognisesOnlyRequests)
{
    const QByteArray broadcast = DiscoveryRequest{false}.toBytes();
    ASSERT_EQ(broadcast.size(), 46);
    EXPECT_EQ(broadcast.left(16), QByteArray("\x5A\x5A\x5A\xA5\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 16));
    EXPECT_EQ(broadcast.mid(16), QByteArray(30, '\0'));
    const QByteArray unicast = DiscoveryRequest{true}.toBytes(proto::kDiscoveryRequestShortSize);
    ASSERT_EQ(unicast.size(), 16);
    EXPECT_EQ(unicast.at(12), 1);

    struct Case {
        const char* name;
        QByteArray bytes;
        bool accepted;
        bool unicast;
    };
    QByteArray badMagic = broadcast;
    badMagic[0] = 0;
    QByteArray reply = broadcast;
    reply[4] = char(0x81);
    const Case cases[] = {
        {"46-byte broadcast", broadcast, true, false},
        {"16-byte unicast", unicast, true, true},
        {"46-byte unicast", DiscoveryRequest{true}.toBytes(), true, true},
        {"45 bytes", broadcast.left(45), false, false},
        {"47 bytes", broadcast + '\0', false, false},
        {"15 bytes", unicast.left(15), false, false},
        {"other magic", badMagic, false, false},
        {"reply bit", reply, false, false},
        {"an announcement", sample().toBytes(), false, false},
        {"empty", QByteArray(), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = DiscoveryRequest::parse(c.bytes);
        ASSERT_EQ(r.has_value(), c.accepted);
        if (r) {
            EXPECT_EQ(r->unicast, c.unicast);
        }
    }
}

}  // namespace
