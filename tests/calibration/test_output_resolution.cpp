#include "calibration/blend_commands.h"
#include "calibration/output_timing.h"
#include "calibration/set_out_resolution.h"
#include "core/command_registry.h"
#include "tests/calibration/blend_harness.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>

#include <gtest/gtest.h>

namespace {

using namespace Qt::StringLiterals;
using blendtest::Harness;
using blendtest::hex;
using calib::OutputTiming;
using calib::TimingOutput;
using testsupport::waitUntil;

QByteArray payloadOf(const QByteArray& packet)
{
    return packet.mid(16);
}

TEST(OutputTimingPackets, QueryAndSetBytes)
{
    const auto& p = calib::HdmiPresets();
    const struct {
        QByteArray packet;
        const char* bytes;
    } rows[] = {
        {calib::BuildTimingQuery(TimingOutput::Hdmi), "5A5A5AA5 11 00 0000 0000 0000 00000000"},
        {calib::BuildTimingQuery(TimingOutput::Vga), "5A5A5AA5 11 01 0000 0000 0000 00000000"},
        // 1688 pixels per line is 0x0698, as the timing table says.
        {calib::BuildTimingSet(TimingOutput::Hdmi, p[4].timing),
         "5A5A5AA5 05 00 0000 3C00 0000 10000000 9806 2A04 7000 0300 6801 0005 2900 0004"},
        {calib::BuildTimingSet(TimingOutput::Vga, p[1].timing),
         "5A5A5AA5 05 01 0000 3C00 0000 10000000 7206 EE02 2800 0500 0401 0005 1900 D002"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(r.packet.toHex(' '), hex(r.bytes).toHex(' '));
}

TEST(OutputTimingPackets, FrameRateTakesItsLowByte)
{
    OutputTiming t = calib::HdmiPresets()[0].timing;
    t.values[OutputTiming::kFrameRate] = 0x13C;
    EXPECT_EQ(proto::getU16(reinterpret_cast<const uint8_t*>(calib::BuildTimingSet(TimingOutput::Hdmi, t).constData()) + 8),
              0x3C);
}

TEST(OutputTimingPackets, TextsAndLookups)
{
    const struct {
        std::array<uint16_t, 9> values;
        const char* text;
        int hdmi, vga;
    } rows[] = {
        {{60, 2200, 1125, 44, 5, 192, 1920, 41, 1080}, "1920X1080@60Hz", 5, 2},
        {{50, 2200, 1125, 44, 5, 192, 1920, 41, 1080}, "1920X1080@50Hz", -1, -1},
        {{60, 0, 0, 0, 0, 0, 1280, 0, 720}, "1280X720@60Hz", 1, 0},
        {{60, 0, 0, 0, 0, 0, 1920, 0, 1200}, "1920X1200@60Hz", 6, -1},
    };
    for (const auto& r : rows) {
        const OutputTiming t{r.values};
        EXPECT_EQ(t.text(), QString::fromLatin1(r.text));
        EXPECT_EQ(calib::FindHdmiPreset(t.text()), r.hdmi) << r.text;
        EXPECT_EQ(calib::FindVgaPreset(t.text()), r.vga) << r.text;
    }
    EXPECT_FALSE(OutputTiming::fromRecord(nullptr, 18));
    const uint8_t short17[17] = {};
    EXPECT_FALSE(OutputTiming::fromRecord(short17, 17));
    EXPECT_EQ(OutputTiming::fromRecord(reinterpret_cast<const uint8_t*>(calib::HdmiPresets()[3].timing.toRecord().constData()), 18),
              calib::HdmiPresets()[3].timing);
}

QComboBox* combo(QWidget& w, const char* id)
{
    return w.findChild<QComboBox*>(QString::fromLatin1(id));
}

TEST(OutputResolutionDialog, ReplySelectsPresetThenAsksVga)
{
    Harness h;
    CSetOutResoltion dialog(h.doc->titlePrefix(), 1);
    EXPECT_EQ(dialog.windowTitle(), h.doc->titlePrefix() + u"Output Resolution Setting"_s);
    ASSERT_TRUE(waitUntil([&] { return h.requests(proto::CMD_OUTPUT_MODE).size() == 2; }));
    EXPECT_EQ(h.requests(proto::CMD_OUTPUT_MODE)[0].header.subCode, 0);
    EXPECT_EQ(h.requests(proto::CMD_OUTPUT_MODE)[1].header.subCode, 1);
    EXPECT_EQ(combo(dialog, "1501")->currentIndex(), 5);
    ASSERT_TRUE(waitUntil([&] { return combo(dialog, "1521")->currentIndex() == 2; }));
    EXPECT_EQ(dialog.vgaTiming(), calib::HdmiPresets()[5].timing);
    EXPECT_FALSE(dialog.findChild<QSpinBox*>(u"1504"_s)->isEnabled());
    blendtest::saveScreenshot(dialog, u"output_resolution_en"_s);
}

TEST(OutputResolutionDialog, UnknownTimingsAreAddedAndKept)
{
    Harness h;
    h.state([](sim::BlendPlayerState& s) { s.timings[0][0] = 50; });
    CSetOutResoltion dialog(h.doc->titlePrefix(), 1);
    ASSERT_TRUE(waitUntil([&] { return combo(dialog, "1501")->count() == 8; }));
    EXPECT_EQ(combo(dialog, "1501")->currentIndex(), 7);
    EXPECT_EQ(combo(dialog, "1501")->currentText(), u"1920X1080@50Hz"_s);
    EXPECT_EQ(dialog.hdmiFields()[OutputTiming::kFrameRate], 50);
    // A second unknown reply adds another entry; none is removed.
    h.state([](sim::BlendPlayerState& s) { s.timings[0][0] = 30; });
    h.doc->SendToCurrentPlayer(h.doc->MakeRequest(proto::CMD_OUTPUT_MODE, 0));
    ASSERT_TRUE(waitUntil([&] { return combo(dialog, "1501")->count() == 9; }));
    EXPECT_EQ(combo(dialog, "1501")->itemText(7), u"1920X1080@50Hz"_s);
    EXPECT_EQ(combo(dialog, "1501")->currentText(), u"1920X1080@30Hz"_s);
}

TEST(OutputResolutionDialog, SetSendsThePresetAndManualValues)
{
    Harness h;
    CSetOutResoltion dialog(h.doc->titlePrefix(), 1);
    ASSERT_TRUE(waitUntil([&] { return h.requests(proto::CMD_OUTPUT_MODE).size() == 2; }));
    combo(dialog, "1501")->setCurrentIndex(4);
    dialog.findChild<QPushButton*>(u"1"_s)->click();
    ASSERT_TRUE(waitUntil([&] { return h.state([](auto& s) { return s.timingSets.size(); }) == 1; }));
    auto set = h.state([](sim::BlendPlayerState& s) { return s.timingSets.back(); });
    EXPECT_EQ(set.output, 0);
    EXPECT_EQ(set.frameRate, 60);
    EXPECT_EQ(set.payload, hex("9806 2A04 7000 0300 6801 0005 2900 0004"));
    ASSERT_TRUE(waitUntil([&] { return h.boxes.texts().contains(u"Output resolution setup completed"_s); }));

    dialog.findChild<QCheckBox*>(u"1520"_s)->click();
    auto* hsize = dialog.findChild<QSpinBox*>(u"1514"_s);
    ASSERT_TRUE(hsize->isEnabled());
    hsize->setValue(1234);
    dialog.findChild<QPushButton*>(u"1"_s)->click();
    combo(dialog, "1521")->setCurrentIndex(0);
    dialog.findChild<QPushButton*>(u"1522"_s)->click();
    ASSERT_TRUE(waitUntil([&] { return h.state([](auto& s) { return s.timingSets.size(); }) == 3; }));
    set = h.state([](sim::BlendPlayerState& s) { return s.timingSets[1]; });
    EXPECT_EQ(proto::getU16(reinterpret_cast<const uint8_t*>(set.payload.constData()) + 10), 1234);
    set = h.state([](sim::BlendPlayerState& s) { return s.timingSets[2]; });
    EXPECT_EQ(set.output, 1);
    EXPECT_EQ(set.payload, payloadOf(calib::BuildTimingSet(TimingOutput::Vga, calib::HdmiPresets()[1].timing)));
}

TEST(OutputResolutionDialog, KindThreeKeepsVgaDisabled)
{
    Harness h(4);
    CSetOutResoltion dialog(h.doc->titlePrefix(), 3);
    EXPECT_EQ(dialog.windowTitle(), h.doc->titlePrefix() + u"输出分辨率设置"_s);
    ASSERT_TRUE(waitUntil([&] { return h.requests(proto::CMD_OUTPUT_MODE).size() == 2; }));
    // Until the VGA reply has been taken: it selects the player's entry.
    ASSERT_TRUE(waitUntil([&] { return combo(dialog, "1521")->currentIndex() == 2; }));
    for (const char* id : {"1520", "1521", "1522"})
        EXPECT_FALSE(dialog.findChild<QWidget*>(QString::fromLatin1(id))->isEnabled()) << id;
    blendtest::saveScreenshot(dialog, u"output_resolution_zh"_s);
}

TEST(OutputResolutionDialog, MenuCommandNeedsAConnection)
{
    Harness h;
    core::clearCommands();
    calib::InstallBlendCommands();
    for (int id : {calib::kCmdOutputResolution, calib::kCmdCascading}) {
        const core::CommandEntry* entry = core::findCommand(id);
        ASSERT_TRUE(entry && entry->run) << id;
        EXPECT_FALSE(core::IsCommandEnabled(*h.doc, id)) << id;
    }
    core::clearCommands();
}

}  // namespace
