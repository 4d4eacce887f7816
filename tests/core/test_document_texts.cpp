#include "core/player_info.h"
#include "platform/home.h"

#include <gtest/gtest.h>

namespace {

using namespace playerinfo;

struct ParseCase {
    QStringList args;
    bool applies;
    bool ok;
    QString ip;
    uint16_t port;
    QString mac;
};

TEST(CommandLine, ParseTable)
{
    const std::vector<ParseCase> cases = {
        {{"-192.168.1.20", "-8000", "-a1b2c3d4e5f6"}, true, true, "192.168.1.20", 8000, "A1B2C3D4E5F6"},
        {{"192.168.1.20", "8000", "A1B2C3D4E5F6"}, true, true, "192.168.1.20", 8000, "A1B2C3D4E5F6"},
        {{"127.0.0.3", "65535", "00aaBBccDD11"}, true, true, "127.0.0.3", 65535, "00AABBCCDD11"},
        {{"192.168.1.20", "80a", "A1B2C3D4E5F6"}, true, false, {}, 0, {}},
        {{"192.168.1", "8000", "A1B2C3D4E5F6"}, true, false, {}, 0, {}},
        {{"192.168.1.20", "", "A1B2C3D4E5F6"}, true, false, {}, 0, {}},
        {{"192.168.1.20", "-", "A1B2C3D4E5F6"}, true, false, {}, 0, {}},
        {{"192.168.1.20", "0", "A1B2C3D4E5F6"}, true, false, {}, 0, {}},
        {{"192.168.1.20", "65536", "A1B2C3D4E5F6"}, true, false, {}, 0, {}},
        {{"192.168.1.20", "99999999999", "A1B2C3D4E5F6"}, true, false, {}, 0, {}},
        {{"192.168.1.20", "8000", "A1B2C3D4E5F"}, true, false, {}, 0, {}},
        {{"192.168.1.20", "8000", "A1B2C3D4E5F6A"}, true, false, {}, 0, {}},
        {{"192.168.1.20", "8000", "../../etc/xx"}, true, false, {}, 0, {}},
        {{"192.168.1.20", "8000", "A1:B2:C3:D4:E5:F6"}, true, false, {}, 0, {}},
        {{"192.168.1.20", "8000", "G1B2C3D4E5F6"}, true, false, {}, 0, {}},
        {{"192.168.1.20", "8000"}, false, false, {}, 0, {}},
        {{"192.168.1.20", "8000", "A1B2C3D4E5F6", "x"}, false, false, {}, 0, {}},
        {{}, false, false, {}, 0, {}},
    };
    for (const ParseCase& c : cases) {
        const CommandLineParse p = ParseCommandLine(c.args, platform::kLanguageEnglish);
        const std::string name = c.args.join(' ').toStdString();
        EXPECT_EQ(p.applies, c.applies) << name;
        EXPECT_EQ(p.target.has_value(), c.ok) << name;
        EXPECT_EQ(p.error.isEmpty(), !c.applies || c.ok) << name;
        if (p.target) {
            EXPECT_EQ(p.target->ip, c.ip) << name;
            EXPECT_EQ(p.target->port, c.port) << name;
            EXPECT_EQ(p.target->mac, c.mac) << name;
        }
    }
    EXPECT_TRUE(ParseCommandLine({"1.2.3.4", "8000", "xyz"}, platform::kLanguageChinese).error.contains("MAC地址"));
}

struct InfoCase {
    unsigned language;
    uint16_t version;
    QString build;
    uint16_t fpga;
    uint16_t channel;
    uint8_t product;
    QString text;
    int prefix;
};

TEST(PlayerInfo, TextTable)
{
    const unsigned en = platform::kLanguageEnglish, zh = platform::kLanguageChinese;
    const std::vector<InfoCase> cases = {
        {en, 0x1523, "", 0, 41, 4, "Player IP Address:1.2.3.4 Ver:1.5.2  Channel:(One Input Four Output)  ", 0},
        {en, 0x1520, "Built: x", 5, 1, 1, "VuvoPlayer IP Address:1.2.3.4 Ver:1.5.2 Built: xFPGA Ver:5.0 Channel:(No Input One Output)  ", -1},
        {en, 0x1521, "", 0, 9, 2, "RotatePlayer IP Address:1.2.3.4 Ver:1.5.2  Channel:(No Input Nine Output)  ", -1},
        {en, 0x1522, "", 0, 91, 3, "QVEPlayer IP Address:1.2.3.4 Ver:1.5.2  Channel:(One Input Nine Output)  ", 1},
        {en, 0x1523, "", 3, 10, 4, "Unknown Player  ", 0},
        {en, 0x1522, "", 3, 10, 3, "QVEUnknown Player  ", 1},
        {zh, 0x1520, "", 2, 21, 1, "融合播放器IP地址:1.2.3.4 版本号:1.5.2 FPGA版本号:2.0 通道:(一输入二输出)  ", -1},
        {zh, 0x1523, "", 0, 12, 4, "未知播放器  ", 0},
    };
    for (const InfoCase& c : cases) {
        const PlayerInfoText t = BuildPlayerInfoText(c.language, "1.2.3.4", c.version, c.build, c.fpga, c.channel,
                                                     c.product);
        EXPECT_EQ(t.text, c.text);
        EXPECT_EQ(t.titlePrefix, c.prefix) << c.text.toStdString();
    }
    // No input and 1-9 outputs, or one input (x1) and 1-9 outputs.
    for (uint16_t code : {1, 5, 9, 11, 21, 41, 91})
        EXPECT_TRUE(IsKnownChannelCode(code)) << code;
    for (uint16_t code : {0, 10, 12, 19, 20, 90, 99})
        EXPECT_FALSE(IsKnownChannelCode(code)) << code;
}

TEST(PlayerInfo, TitlePrefix)
{
    for (const char* title : {"Name V1.0", "QVE-Name V1.0"}) {
        EXPECT_EQ(ApplyTitlePrefix(title, true), "QVE-Name V1.0");
        EXPECT_EQ(ApplyTitlePrefix(title, false), "Name V1.0");
    }
    // Only a prefix at the start counts: elsewhere the text stays whole.
    EXPECT_EQ(ApplyTitlePrefix("Name QVE-1 V1.0", true), "QVE-Name QVE-1 V1.0");
    EXPECT_EQ(ApplyTitlePrefix("Name QVE-1 V1.0", false), "Name QVE-1 V1.0");
    EXPECT_EQ(CaptionPrefix("QVE-Name V1.0"), "QVE-Name-");
    EXPECT_EQ(CaptionPrefix("Single"), "Single-");
}

}  // namespace
