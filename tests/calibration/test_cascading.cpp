#include "player/companion_commands.h"
#include "calibration/cascade_settings.h"
#include "calibration/cascading_conf.h"
#include "common/controls/ip_address_ctrl.h"
#include "tests/calibration/blend_harness.h"

#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

namespace {

using namespace Qt::StringLiterals;
using blendtest::Harness;
using blendtest::hex;
using calib::CascadeCheck;
using calib::CascadeMode;
using testsupport::waitUntil;

using Controls = std::array<calib::Ipv4, calib::kCascadeAddresses>;

Controls with(std::initializer_list<std::pair<int, calib::Ipv4>> filled)
{
    Controls c{};
    for (const auto& [index, a] : filled)
        c[std::size_t(index)] = a;
    return c;
}

TEST(CascadeChecks, FirstRefusalWinsInControlOrder)
{
    const struct {
        CascadeMode mode;
        Controls controls;
        CascadeCheck::Outcome outcome;
        int position;
        std::size_t count;
    } rows[] = {
        {CascadeMode::Master, with({{0, {192, 168, 1, 20}}}), CascadeCheck::Ok, 0, 1},
        {CascadeMode::Master, with({{6, {10, 0, 0, 255}}}), CascadeCheck::BadAddress, 2, 0},
        {CascadeMode::Master, with({{15, {10, 255, 0, 1}}, {19, {10, 0, 0, 255}}}), CascadeCheck::BadAddress, 1, 0},
        {CascadeMode::Master, with({{0, {255, 1, 2, 3}}}), CascadeCheck::Ok, 0, 1},   // a first octet of 255 passes
        {CascadeMode::Master, with({{3, {0, 255, 255, 255}}}), CascadeCheck::NoAddress, 0, 0},  // first octet 0: empty
        {CascadeMode::Master, Controls{}, CascadeCheck::NoAddress, 0, 0},
        {CascadeMode::Master, with({{2, {1, 1, 1, 1}}, {9, {2, 2, 2, 2}}}), CascadeCheck::Ok, 0, 2},
        {CascadeMode::Slave, with({{0, {10, 0, 0, 255}}}), CascadeCheck::Ok, 0, 0},
        {CascadeMode::Independent, with({{0, {1, 2, 3, 4}}}), CascadeCheck::Ok, 0, 0},
    };
    for (const auto& r : rows) {
        const CascadeCheck c = calib::CheckCascade(r.mode, r.controls);
        EXPECT_EQ(c.outcome, r.outcome);
        EXPECT_EQ(c.position, r.position);
        EXPECT_EQ(c.addresses.size(), r.count);
    }
    CascadeCheck bad;
    bad.outcome = CascadeCheck::BadAddress;
    bad.position = 2;
    EXPECT_EQ(calib::CascadeCheckMessage(bad, 9), u"IP address 2 input error, please re - enter!"_s);
    EXPECT_EQ(calib::CascadeCheckMessage(bad, 4), u"IP地址2输入错误，请重新输入！"_s);
}

TEST(CascadeChecks, PacketBytes)
{
    EXPECT_EQ(calib::BuildCascadeQuery(), hex("5A5A5AA5 24 00 0000 0000 0000 00000000"));
    EXPECT_EQ(calib::BuildCascadeSet(CascadeMode::Master, {{192, 168, 1, 20}}),
              hex("5A5A5AA5 23 01 0000 0100 0000 04000000 C0A80114"));
    EXPECT_EQ(calib::BuildCascadeSet(CascadeMode::Slave, {}), hex("5A5A5AA5 23 02 0000 0000 0000 00000000"));
}

struct Dialog {
    explicit Dialog(Harness& h) : dialog(h.doc->titlePrefix())
    {
        waitUntil([&] { return h.requests(proto::CMD_CASCADE_QUERY).size() == 1; });
    }
    CCascadingConf dialog;
};

TEST(CascadingDialog, ReplyFillsModeAndAddresses)
{
    Harness h;
    {
        std::lock_guard<std::mutex> lock(h.player->stateMutex());
        sim::CompanionState* s = sim::companionState(*h.player);
        s->cascadeMode = 1;
        s->cascadeAddresses = {{{10, 0, 0, 7}}, {{10, 0, 0, 8}}};
    }
    Dialog d(h);
    EXPECT_EQ(d.dialog.windowTitle(), h.doc->titlePrefix() + u"Cascading Settings"_s);
    ASSERT_TRUE(waitUntil([&] { return d.dialog.mode() == CascadeMode::Master; }));
    EXPECT_TRUE(d.dialog.findChild<QRadioButton*>(u"3802"_s)->isChecked());
    EXPECT_EQ(d.dialog.address(0)->GetAddress(), (calib::Ipv4{10, 0, 0, 7}));
    EXPECT_EQ(d.dialog.address(1)->GetAddress(), (calib::Ipv4{10, 0, 0, 8}));
    EXPECT_EQ(d.dialog.address(2)->GetAddress(), (calib::Ipv4{}));
    EXPECT_TRUE(d.dialog.address(19)->isEnabled());
    blendtest::saveScreenshot(d.dialog, u"cascading_en"_s);
}

TEST(CascadingDialog, MasterSendsFilledAddresses)
{
    Harness h;
    Dialog d(h);
    EXPECT_FALSE(d.dialog.address(0)->isEnabled());
    d.dialog.findChild<QRadioButton*>(u"3802"_s)->click();
    ASSERT_TRUE(d.dialog.address(0)->isEnabled());
    d.dialog.address(0)->SetAddress({192, 168, 1, 20});
    d.dialog.findChild<QPushButton*>(u"1"_s)->click();
    ASSERT_TRUE(waitUntil([&] { return h.requests(proto::CMD_CASCADE_SET).size() == 1; }));
    const auto set = h.requests(proto::CMD_CASCADE_SET)[0];
    EXPECT_EQ(set.header.subCode, 1);
    EXPECT_EQ(set.header.param, 1);
    EXPECT_EQ(set.payload, hex("C0A80114"));
    EXPECT_TRUE(waitUntil([&] { return h.boxes.texts().contains(u"Player cascade setup completed"_s); }));
    // The player keeps the role it was given: the next query reports it.
    std::lock_guard<std::mutex> lock(h.player->stateMutex());
    const sim::CompanionState* kept = sim::companionState(*h.player);
    EXPECT_EQ(kept->cascadeMode, 1);
    EXPECT_EQ(kept->cascadeAddresses, (std::vector<std::array<uint8_t, 4>>{{192, 168, 1, 20}}));
}

TEST(CascadingDialog, RefusalsSendNothing)
{
    const struct {
        int control;
        calib::Ipv4 address;
        const char* message;
    } rows[] = {
        {6, {10, 0, 0, 255}, "IP address 2 input error, please re - enter!"},
        {6, {0, 0, 0, 0}, "There must be a complete IP address, please reenter it!"},
    };
    for (const auto& r : rows) {
        Harness h;
        Dialog d(h);
        d.dialog.OnMode(CascadeMode::Master);
        d.dialog.address(r.control)->SetAddress(r.address);
        d.dialog.OnOk();
        EXPECT_EQ(h.boxes.texts(), QStringList{QString::fromUtf8(r.message)});
        ASSERT_TRUE(h.sendBehind(proto::CMD_CASCADE_QUERY));
        EXPECT_TRUE(h.requests(proto::CMD_CASCADE_SET).empty());
    }
}

TEST(CascadingDialog, SlaveSendsNoAddresses)
{
    Harness h;
    Dialog d(h);
    d.dialog.OnMode(CascadeMode::Master);
    d.dialog.address(0)->SetAddress({10, 0, 0, 255});
    d.dialog.findChild<QRadioButton*>(u"3803"_s)->click();
    EXPECT_FALSE(d.dialog.address(0)->isEnabled());
    d.dialog.OnOk();
    ASSERT_TRUE(waitUntil([&] { return h.requests(proto::CMD_CASCADE_SET).size() == 1; }));
    const auto set = h.requests(proto::CMD_CASCADE_SET)[0];
    EXPECT_EQ(set.header.subCode, 2);
    EXPECT_EQ(set.header.param, 0);
    EXPECT_EQ(set.header.payloadLength, 0u);
}

TEST(CascadingDialog, AnswerNoSendsNothing)
{
    Harness refused(4, platform::MsgResult::No);
    Dialog d2(refused);
    EXPECT_EQ(d2.dialog.windowTitle(), refused.doc->titlePrefix() + u"级联设置"_s);
    d2.dialog.OnOk();
    EXPECT_EQ(refused.boxes.texts(), QStringList{u"设备参数改变有可能导致播放器连接失败，是否继续？"_s});
    ASSERT_TRUE(refused.sendBehind(proto::CMD_CASCADE_QUERY));
    EXPECT_TRUE(refused.requests(proto::CMD_CASCADE_SET).empty());
    blendtest::saveScreenshot(d2.dialog, u"cascading_zh"_s);
}

}  // namespace
