// The plain parts of player discovery: request bytes, list texts, sorting,
// the class-based network check and the ID copy text.

#include "core/scan_for_devices.h"
#include "platform/home.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

constexpr unsigned EN = platform::kLanguageEnglish;
constexpr unsigned ZH = platform::kLanguageChinese;

TEST(ScanModel, RequestBytes)
{
    for (bool unicast : {false, true}) {
        QByteArray expected(46, '\0');  // header, command 1, length field 0/1, zeros
        expected[0] = expected[1] = expected[2] = char(0x5A);
        expected[3] = char(0xA5);
        expected[4] = 1;
        expected[12] = char(unicast);
        EXPECT_EQ(scan::BuildDiscoveryRequest(unicast).toHex(), expected.toHex()) << unicast;
    }
}

TEST(ScanModel, RowTexts)
{
    const struct {
        uint16_t version, fpga, channel;
        unsigned language;
        const char* expected;
    } cases[] = {
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
        {0x2000, 0, 71, EN, "VuvoPlayer ver:2.0.0 Channel:(One Input Seven Output)"},
        {0x2000, 0, 7, ZH, "融合播放器版本号:2.0.0 通道:(无输入七输出)"},
        // Unknown channel codes: no version at all.
        {0x1000, 2, 10, EN, "VuvoUnknown Player"},
        {0x1000, 2, 10, ZH, "融合未知播放器"},
        {0x1001, 0, 0, EN, "RotateUnknown Player"},
        {0x100F, 0, 12, EN, "Unknown Player"},
        {0x1002, 0, 92, ZH, "QVE未知播放器"},
        {0x1000, 0, 0xFFFF, EN, "VuvoUnknown Player"},
    };
    for (const auto& c : cases) {
        PlayerAnnouncement a;
        a.version = c.version;
        a.fpgaVersion = c.fpga;
        a.channelCode = c.channel;
        const PlayerRow row = scan::RowFromAnnouncement(a, c.language);
        EXPECT_EQ(row.versionText, QString::fromUtf8(c.expected)) << std::hex << c.version << " " << c.channel;
        EXPECT_EQ(row.version, c.version);
        EXPECT_EQ(row.fpgaVersion, c.fpga);
        EXPECT_EQ(row.channelCode, c.channel);
    }
    // Exactly 18 codes are known, in both languages alike.
    int known = 0;
    for (int code = 0; code < 200; ++code) {
        const bool en = !scan::ChannelPart(uint16_t(code), EN).isEmpty();
        EXPECT_EQ(en, !scan::ChannelPart(uint16_t(code), ZH).isEmpty()) << code;
        EXPECT_EQ(en, (code >= 1 && code <= 9) || (code >= 11 && code <= 91 && code % 10 == 1)) << code;
        known += en;
    }
    EXPECT_EQ(known, 18);
}

// Rows and records sort by the address text, so "192.168.1.10" comes before "192.168.1.9".
TEST(ScanModel, SortByIpTextComparesStrings)
{
    const QStringList given{"192.168.1.9", "192.168.1.10", "10.0.0.2", "192.168.1.100"};
    const QStringList sorted{"10.0.0.2", "192.168.1.10", "192.168.1.100", "192.168.1.9"};
    std::vector<PlayerRow> rows(4);
    std::vector<DeviceRecord> records(4);
    for (int i = 0; i < 4; ++i)
        rows[i].ip = records[i].ip = given[i];
    scan::SortRowsByIpText(rows);
    scan::SortRecordsByIpText(records);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rows[i].ip, sorted[i]);
        EXPECT_EQ(records[i].ip, sorted[i]);
    }
}

TEST(ScanModel, ClassBasedSegmentCheck)
{
    const struct {
        const char* reference;
        const char* other;
        bool same;
    } cases[] = {
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
    const std::pair<const char*, int> players[] = {
        {"192.168.2.99", 3}, {"172.16.9.9", 1}, {"127.0.0.2", 0}, {"10.0.0.1", -1}, {"230.0.0.1", -1}};
    for (const auto& [player, card] : players)
        EXPECT_EQ(scan::MatchingCard(cards, QString::fromLatin1(player)), card) << player;
}

TEST(ScanModel, IdCopyTextOfNoRowIsEmpty)
{
    EXPECT_EQ(scan::IdCopyText(std::vector<PlayerRow>(3), {7}), QString());
    EXPECT_EQ(scan::IdCopyText({}, {}), QString());
}

TEST(ScanModel, DirectedBroadcast)
{
    EXPECT_EQ(scan::DirectedBroadcast(0xC0A80105u, 0xFFFFFF00u), 0xC0A801FFu);  // 192.168.1.255
    EXPECT_EQ(scan::DirectedBroadcast(0x0A010203u, 0xFFFF0000u), 0x0A01FFFFu);
    EXPECT_EQ(scan::DirectedBroadcast(0x7F000101u, 0xFFFFFFFFu), 0x7FFFFFFFu);  // loopback, any mask
    // No interface holds these: the class default is used.
    EXPECT_EQ(scan::NetmaskOfAddress(0x0AFE0102u), 0xFF000000u);
    EXPECT_EQ(scan::NetmaskOfAddress(0xAC1EFE01u), 0xFFFF0000u);
    EXPECT_EQ(scan::NetmaskOfAddress(0xC0A8FE01u), 0xFFFFFF00u);
}

TEST(ScanModel, LoopbackCardOnlyWhenAsked)
{
    {
        testsupport::ScopedEnv unset("VELUNA_SCAN_LOOPBACK", QByteArray());
        for (const auto& card : scan::ListCards()) {
            EXPECT_NE(card.label, QStringLiteral("lo(127.0.0.1)"));
            EXPECT_NE(card.broadcast, 0xFFFFFFFFu) << card.label.toStdString();
        }
    }
    testsupport::ScopedEnv loopback("VELUNA_SCAN_LOOPBACK", "1");
    const auto cards = scan::ListCards();
    ASSERT_FALSE(cards.empty());
    EXPECT_EQ(cards[0].label, QStringLiteral("lo(127.0.0.1)"));
    EXPECT_EQ(cards[0].address, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(cards[0].broadcast, 0x7FFFFFFFu);
    EXPECT_EQ(cards[0].octets, (std::array<uint8_t, 4>{127, 0, 0, 1}));
}

}  // namespace
