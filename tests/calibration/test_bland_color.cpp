#include "calibration/bland_color.h"
#include "calibration/test_patterns.h"
#include "tests/calibration/blend_harness.h"
#include "tests/calibration/blend_pages.h"

#include <QImage>
#include <QPainter>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

using namespace Qt::StringLiterals;
using blendtest::Harness;
using blendtest::hex;
using testsupport::waitUntil;

std::vector<QByteArray> patterns(Harness& h)
{
    return h.state([](sim::BlendPlayerState& s) { return s.testPatterns; });
}

TEST(TestPatternPackets, Bytes)
{
    const struct {
        QByteArray packet;
        const char* bytes;
    } rows[] = {
        {calib::BuildSolidColourPacket(7, calib::Rgb(255, 255, 0)),
         "5A5A5AA5 04 20 0700 0000 0000 0C000000 01000000 01000000 00FFFF00"},
        {calib::BuildSolidColourPacket(0, calib::Rgb(0x12, 0x34, 0x56)),
         "5A5A5AA5 04 20 0000 0000 0000 0C000000 01000000 01000000 56341200"},
        {calib::BuildMarkerPacket(2, calib::Rgb(255, 0, 0), 0x51, 0x300),
         "5A5A5AA5 04 20 0200 0000 0000 10000000 02000000 0000FF00 51000000 00030000"},
        {calib::BuildAdjustModePacket(3, 1), "5A5A5AA5 0C 01 0300 0000 0000 00000000"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(r.packet.toHex(' '), hex(r.bytes).toHex(' '));
}

TEST(TestColours, ClicksSendTheirColourOneAtATime)
{
    Harness h;
    CBlandColor page;
    blendtest::WizardStandIn wizard(h.doc->titlePrefix(), nullptr, &page);
    const struct {
        int x, y;
        const char* payload;
    } rows[] = {
        {600, 300, "01000000 01000000 00FFFF00"},  // yellow
        {300, 262, "01000000 01000000 00000000"},  // the grey grid sends black
        {296, 200, nullptr},                        // outside every swatch
        {1097, 200, nullptr},                       // right edges are outside
        {1096, 360, "01000000 01000000 FFFF0000"},  // cyan
    };
    std::size_t expected = 0;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.x);
        page.OnLButtonDown(r.x, r.y);
        EXPECT_EQ(page.busy(), r.payload != nullptr);
        if (!r.payload)
            continue;
        ++expected;
        // A second click while the first waits is ignored.
        page.OnLButtonDown(400, 200);
        ASSERT_TRUE(waitUntil([&] { return !page.HasRequestOutstanding(); }));
        ASSERT_EQ(patterns(h).size(), expected);
        EXPECT_EQ(patterns(h).back(), hex(r.payload));
        EXPECT_EQ(page.sequence(), expected);
    }
    const auto sent = h.requests(proto::CMD_PROJECTOR_DATA);
    ASSERT_EQ(sent.size(), expected);
    EXPECT_EQ(sent[1].header.sequence, 1);
}

TEST(TestColours, CustomColourAndAdjustEnd)
{
    Harness h;
    CBlandColor page;
    blendtest::WizardStandIn wizard(h.doc->titlePrefix(), nullptr, &page);
    page.chooseColour = [] { return std::optional<QColor>(QColor(1, 2, 3)); };
    page.findChild<QPushButton*>(u"2401"_s)->click();
    ASSERT_TRUE(waitUntil([&] { return !page.HasRequestOutstanding(); }));
    EXPECT_EQ(patterns(h).back(), hex("01000000 01000000 03020100"));
    page.chooseColour = [] { return std::nullopt; };
    page.findChild<QPushButton*>(u"2401"_s)->click();
    EXPECT_FALSE(page.busy());

    page.SendAdjustEnd();
    ASSERT_TRUE(h.player->waitForRequests(proto::CMD_ADJUST_MODE, 1, 30000));
    const auto end = h.requests(proto::CMD_ADJUST_MODE)[0];
    EXPECT_EQ(end.header.subCode, 1);
    EXPECT_EQ(end.header.sequence, 1);
    EXPECT_EQ(page.sequence(), 0);
    EXPECT_FALSE(page.waiting());
}

TEST(TestColours, NothingSentLeavesThePageFree)
{
    testsupport::MessageBoxRecorder boxes;
    platform::setAppTitle(u"no such window"_s);
    CBlandColor page;
    page.OnLButtonDown(300, 170);
    EXPECT_FALSE(page.busy());
    EXPECT_FALSE(page.waiting());
    // A list whose only player has no usable port reaches nobody, not the current player.
    page.players = {SendTarget{u"127.0.0.9"_s, {}, 80, 0}};
    platform::setAppTitle(blendtest::kTitle);
    platform::MessageWindow frame(blendtest::kTitle);
    int taken = 0;
    frame.onMessage(platform::WM_SEND_TO_PLAYER, [&](platform::WPARAM, platform::LPARAM l) {
        delete reinterpret_cast<SendRequest*>(l);
        ++taken;
        return platform::LRESULT(0);
    });
    page.OnLButtonDown(300, 170);
    EXPECT_EQ(taken, 0);
    EXPECT_FALSE(page.busy());
}

TEST(TestColours, ScreenshotAndDrawing)
{
    QImage image(1140, 430, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter p(&image);
        DrawBlandColor(p);
    }
    const struct {
        int x, y;
        QRgb colour;
    } rows[] = {
        {300, 170, qRgb(255, 0, 0)},   {1000, 300, qRgb(0, 255, 255)}, {297, 261, qRgb(253, 253, 253)},
        {317, 261, qRgb(222, 222, 222)}, {317, 271, qRgb(253, 253, 253)}, {600, 300, qRgb(255, 255, 0)},
    };
    for (const auto& r : rows)
        EXPECT_EQ(image.pixel(r.x, r.y), r.colour) << r.x << "," << r.y;
    if (!blendtest::screenshotsTaken())
        return;
    for (unsigned language : {9u, 4u}) {
        testsupport::ScopedLanguage scope(language);
        CBlandColor page;
        page.resize(page.sizeHint());
        EXPECT_TRUE(page.grab().save(blendtest::screenshotPath(language == 4 ? u"test_colours_zh"_s : u"test_colours_en"_s)));
    }
}

}  // namespace
