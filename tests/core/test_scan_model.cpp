// The plain parts of player discovery: request bytes, list texts, sorting,
// the class-based network check and the ID copy text.

#include "core/scan_for_devices.h"
#include "platform/home.h"

#include <gtest/gtest.h>

#include <ostream>

static void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

constexpr unsigned EN = platform::kLanguageEnglish;
constexpr unsigned ZH = platform::kLanguageChinese;

PlayerAnnouncement MakeAnnouncement(uint16_t version, uint16_t fpga, uint16_t channel)
{
    PlayerAnnouncement a;
    a.ip = {192, 168, 1, 20};
    a.mac = {0xA1, 0xB2, 0xC3, 0x04, 0x05, 0xF6};
    a.tcpPort = 8000;
    a.version = version;
    a.fpgaVersion = fpga;
    a.channelCode = channel;
    a.setIdText(QStringLiteral("ab12cd34ef56"));
    return a;
}

TEST(ScanModel, RequestBytes)
{
    for (bool unicast : {false, true}) {
        const QByteArray r = scan::BuildDiscoveryRequest(unicast);
        ASSERT_EQ(r.size(), 46);
        const auto* p = reinterpret_cast<const uint8_t*>(r.constData());
        EXPECT_EQ(p[0], 0x5A);
        EXPECT_EQ(p[1], 0x5A);
        EXPECT_EQ(p[2], 0x5A);
        EXPECT_EQ(p[3], 0xA5);
        EXPECT_EQ(p[4], 1);
        EXPECT_EQ(proto::getU32(p + 12), unicast ? 1u : 0u);
        for (int i : {5, 6, 7, 8, 9, 10, 11})
            EXPECT_EQ(p[i], 0) << i;
        for (int i = 16; i < 46; ++i)
            EXPECT_EQ(p[i], 0) << i;
    }
}

TEST(ScanModel, RowTexts)
{
    struct Case {
        uint16_t version, fpga, channel;
        unsigned language;
        const char* expected;
    };
    const Case cases[] = {
        {0x1201, 3, 4, EN, "RotatePlayer ver:1.2.0 FPGA ver:3.0 Channel:(No Input Four Output)"},
        {0x1231, 0, 4, EN, "RotatePlayer ver:1.2.3 Channel:(No Input Four Output)"},
        {0x1231, 0, 4, ZH, "拼接播放器版本号:1.2.3 通道:(无输入四输出)"},
        {0x1522, 5, 91, EN, "QVEPlayer ver:1.5.2 FPGA ver:5.0 Channel:(One Input Nine Output)"},
        {0x1522, 5, 91, ZH, "QVE播放器版本号:1.5.2 FPGA版本号:5.0 通道:(一输入九输出)"},
        {0x2100, 0, 1, EN, "VuvoPlayer ver:2.1.0 Channel:(No Input One Output)"},
        {0x2100, 7, 9, ZH, "融合播放器版本号:2.1.0 FPGA版本号:7.0 通道:(无输入九输出)"},
        {0x2100, 0, 11, ZH, "融合播放器版本号:2.1.0 通道:(一输入一输出)"},
        {0x0003, 0, 21, EN, "Player ver:0.0.0 Channel:(One Input Two Output)"},  // type 3: no prefix
        {0xFFFF, 65535, 51, EN, "Player ver:15.15.15 FPGA ver:65535.0 Channel:(One Input Five Output)"},
        {0x1000, 2, 10, EN, "VuvoUnknown Player"},
        {0x1000, 2, 10, ZH, "融合未知播放器"},
        {0x1001, 0, 0, EN, "RotateUnknown Player"},
        {0x100F, 0, 12, EN, "Unknown Player"},
        {0x1002, 0, 92, ZH, "QVE未知播放器"},
        {0x1000, 0, 0xFFFF, EN, "VuvoUnknown Player"},
    };
    for (const auto& c : cases) {
        const PlayerRow row = scan::RowFromAnnouncement(MakeAnnouncement(c.version, c.fpga, c.channel), c.language);
        EXPECT_EQ(row.versionText, QString::fromUtf8(c.expected)) << std::hex << c.version << " " << c.channel;
        EXPECT_EQ(row.ip, QStringLiteral("192.168.1.20"));
        EXPECT_EQ(row.mac, QStringLiteral("A1:B2:C3:04:05:F6"));
        EXPECT_EQ(row.portText, QStringLiteral("8000"));
        EXPECT_EQ(row.id, QStringLiteral("AB12CD34EF56"));
        EXPECT_EQ(row.version, c.version);
        EXPECT_EQ(row.fpgaVersion, c.fpga);
        EXPECT_EQ(row.channelCode, c.channel);
    }
}

TEST(ScanModel, EveryKnownChannelHasBothTexts)
{
    int known = 0;
    for (int code = 0; code < 200; ++code) {
        const QString en = scan::ChannelPart(uint16_t(code), EN);
        const QString zh = scan::ChannelPart(uint16_t(code), ZH);
        EXPECT_EQ(en.isEmpty(), zh.isEmpty()) << code;
        const bool expected = (code >= 1 && code <= 9) || (code >= 11 && code <= 91 && code % 10 == 1);
        EXPECT_EQ(!en.isEmpty(), expected) << code;
        known += expected;
    }
    EXPECT_EQ(known, 18);
    EXPECT_EQ(scan::ChannelPart(71, EN), QStringLiteral("One Input Seven Output"));
    EXPECT_EQ(scan::ChannelPart(7, ZH), QStringLiteral("无输入七输出"));
}

TEST(ScanModel, RecordFromAnnouncement)
{
    const DeviceRecord r = DeviceRecord::fromAnnouncement(MakeAnnouncement(0x1201, 3, 21));
    EXPECT_EQ(r.ip, QStringLiteral("192.168.1.20"));
    EXPECT_EQ(r.mac, QStringLiteral("A1B2C30405F6"));
    EXPECT_EQ(r.port, 8000);
    EXPECT_EQ(r.reserved, 0);
    EXPECT_EQ(r.channelCode, 21);
    EXPECT_EQ(scan::MacWithoutColons(QStringLiteral("A1:B2:C3:04:05:F6")), QStringLiteral("A1B2C30405F6"));
}

TEST(ScanModel, SortByIpTextComparesStrings)
{
    std::vector<PlayerRow> rows(4);
    rows[0].ip = QStringLiteral("192.168.1.9");
    rows[1].ip = QStringLiteral("192.168.1.10");
    rows[2].ip = QStringLiteral("10.0.0.2");
    rows[3].ip = QStringLiteral("192.168.1.100");
    scan::SortRowsByIpText(rows);
    QStringList order;
    for (const auto& r : rows)
        order << r.ip;
    EXPECT_EQ(order, (QStringList{"10.0.0.2", "192.168.1.10", "192.168.1.100", "192.168.1.9"}));

    std::vector<DeviceRecord> records(3);
    records[0].ip = QStringLiteral("192.168.1.9");
    records[1].ip = QStringLiteral("192.168.1.10");
    records[2].ip = QStringLiteral("192.168.1.1");
    scan::SortRecordsByIpText(records);
    EXPECT_EQ(records[0].ip, QStringLiteral("192.168.1.1"));
    EXPECT_EQ(records[1].ip, QStringLiteral("192.168.1.10"));
    EXPECT_EQ(records[2].ip, QStringLiteral("192.168.1.9"));
}

TEST(ScanModel, ClassBasedSegmentCheck)
{
    struct Case {
        const char* reference;
        const char* other;
        bool same;
    };
    const Case cases[] = {
        {"10.1.2.3", "10.9.9.9", true},          // class A: first number
        {"10.1.2.3", "11.1.2.3", false},
        {"127.0.0.1", "127.0.0.3", true},
        {"172.16.0.5", "172.17.0.5", false},     // class B: first two
        {"172.16.0.5", "172.16.200.1", true},
        {"128.0.1.1", "128.0.2.2", true},
        {"191.255.0.1", "191.254.0.1", false},
        {"192.168.1.5", "192.168.1.200", true},  // class C: first three
        {"192.168.1.5", "192.168.2.5", false},
        {"223.1.1.1", "223.1.1.9", true},
        {"224.0.0.1", "224.0.0.1", false},       // outside A-C
        {"0.1.2.3", "0.1.2.3", false},
        {"255.255.255.255", "255.255.255.255", false},
        {"192.168.1", "192.168.1.1", false},     // not IPv4 text
        {"192.168.1.5", "192.168.1.256", false},
        {"192.168.1.5", "", false},
        {"1.2.3.4x", "1.2.3.4", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scan::SameClassNetwork(QString::fromLatin1(c.reference), QString::fromLatin1(c.other)), c.same)
            << c.reference << " " << c.other;

    const QStringList cards{"127.0.0.1", "172.16.3.4", "192.168.1.7", "192.168.2.7"};
    EXPECT_EQ(scan::MatchingCard(cards, QStringLiteral("192.168.2.99")), 3);
    EXPECT_EQ(scan::MatchingCard(cards, QStringLiteral("172.16.9.9")), 1);
    EXPECT_EQ(scan::MatchingCard(cards, QStringLiteral("127.0.0.2")), 0);
    EXPECT_EQ(scan::MatchingCard(cards, QStringLiteral("10.0.0.1")), -1);
    EXPECT_EQ(scan::MatchingCard(cards, QStringLiteral("230.0.0.1")), -1);
}

TEST(ScanModel, IdCopyText)
{
    std::vector<PlayerRow> rows(3);
    rows[0].id = QStringLiteral("AAA000000001");
    rows[1].id = QStringLiteral("BBB000000002");
    rows[2].id = QStringLiteral("CCC000000003");
    EXPECT_EQ(scan::IdCopyText(rows, {}), QStringLiteral("AAA000000001\r\nBBB000000002\r\nCCC000000003\r\n"));
    EXPECT_EQ(scan::IdCopyText(rows, {1, 2}), QStringLiteral("BBB000000002"));
    EXPECT_EQ(scan::IdCopyText(rows, {7}), QString());
    EXPECT_EQ(scan::IdCopyText({}, {}), QString());
}

TEST(ScanModel, DirectedBroadcast)
{
    EXPECT_EQ(scan::DirectedBroadcast(0xC0A80105u, 0xFFFFFF00u), 0xC0A801FFu);  // 192.168.1.255
    EXPECT_EQ(scan::DirectedBroadcast(0x0A010203u, 0xFFFF0000u), 0x0A01FFFFu);
    EXPECT_EQ(scan::DirectedBroadcast(0x7F000001u, 0xFF000000u), 0x7FFFFFFFu);
    EXPECT_EQ(scan::DirectedBroadcast(0x7F000101u, 0xFFFFFFFFu), 0x7FFFFFFFu);  // loopback, any mask
    // No interface holds these: the class default is used.
    EXPECT_EQ(scan::NetmaskOfAddress(0x0AFE0102u), 0xFF000000u);
    EXPECT_EQ(scan::NetmaskOfAddress(0xAC1EFE01u), 0xFFFF0000u);
    EXPECT_EQ(scan::NetmaskOfAddress(0xC0A8FE01u), 0xFFFFFF00u);
}

TEST(ScanModel, LoopbackCardOnlyWhenAsked)
{
    const QByteArray previous = qgetenv("VELUNA_SCAN_LOOPBACK");
    qunsetenv("VELUNA_SCAN_LOOPBACK");
    for (const auto& card : scan::ListCards()) {
        EXPECT_NE(card.label, QStringLiteral("lo (127.0.0.1)"));
        EXPECT_NE(card.broadcast, 0xFFFFFFFFu) << card.label.toStdString();
    }
    qputenv("VELUNA_SCAN_LOOPBACK", "1");
    const auto cards = scan::ListCards();
    ASSERT_FALSE(cards.empty());
    EXPECT_EQ(cards[0].label, QStringLiteral("lo (127.0.0.1)"));
    EXPECT_EQ(cards[0].address, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(cards[0].broadcast, 0x7FFFFFFFu);
    EXPECT_EQ(cards[0].octets, (std::array<uint8_t, 4>{127, 0, 0, 1}));
    if (previous.isNull())
        qunsetenv("VELUNA_SCAN_LOOPBACK");
    else
        qputenv("VELUNA_SCAN_LOOPBACK", previous);
}

}  // namespace
