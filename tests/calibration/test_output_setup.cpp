// The output configuration and the enter-adjustment payload built from the
// warp wizard's settings block.

#include "calibration/output_setup.h"
#include "transport/protocol.h"

#include <gtest/gtest.h>

using namespace calib;

namespace {

// A settings block with the wizard's defaults: one screen of 1 x 1,
// 17,280 x 9,720, outputs of 1,920 x 1,080, bands 240/270/240/270.
QByteArray defaultBlock()
{
    QByteArray w(int(warpblock::kSize), '\0');
    auto* p = reinterpret_cast<uint8_t*>(w.data());
    for (int s = 0; s < 9; ++s) {
        uint8_t* r = p + 721 * s;
        for (int i = 0; i < 9; ++i) {
            proto::putU16(r + 2 * i, 17280);
            proto::putU16(r + 18 + 2 * i, 9720);
        }
        proto::putU16(r + 36, 1);
        proto::putU16(r + 38, 1);
        proto::putU16(r + 40, 1920);
        proto::putU16(r + 42, 1080);
        proto::putU16(r + 71, 1);
        for (int b = 0; b < 81; ++b) {
            proto::putU16(r + 73 + 8 * b + 0, 240);
            proto::putU16(r + 73 + 8 * b + 2, 270);
            proto::putU16(r + 73 + 8 * b + 4, 240);
            proto::putU16(r + 73 + 8 * b + 6, 270);
        }
    }
    proto::putU16(p + 6489, 1);
    proto::putU16(p + 6491, 1);
    const uint8_t colours[] = {255, 0, 0, 0, 1, 2, 3, 0, 0, 112, 222, 0, 4, 5, 6, 0, 240, 118, 0, 0};
    std::copy(std::begin(colours), std::end(colours), p + 6495);
    return w;
}

uint8_t* at(QByteArray& w, int offset) { return reinterpret_cast<uint8_t*>(w.data()) + offset; }

}  // namespace

TEST(OutputSetup, OneScreenOfOneOutputIsCappedByTheOutputSize)
{
    QByteArray w = defaultBlock();
    grid::OutputConfig c;
    ASSERT_TRUE(BuildOutputConfig(w, 4, false, c));
    EXPECT_EQ(c.outputCount, 1);
    EXPECT_EQ(c.screenCount, 1);
    EXPECT_EQ(c.channelCount, 4);
    const grid::OutputEntry& e = c.outputs[0];
    EXPECT_EQ(e.left, 0);
    EXPECT_EQ(e.top, 0);
    EXPECT_EQ(e.right, 1920);
    EXPECT_EQ(e.bottom, 1080);
    EXPECT_EQ(e.gridColumns, 30);
    EXPECT_EQ(e.gridRows, 34);
    EXPECT_EQ(e.lastX, 1919);
    EXPECT_EQ(e.lastY, 1079);
    EXPECT_EQ(e.maxX, 1920);
    EXPECT_EQ(e.maxY, 1080);
    EXPECT_EQ(e.layoutMode, 1);
    EXPECT_EQ(c.screens[0], (grid::ScreenRect{0, 0, 1920, 1080}));
    EXPECT_EQ(c.colours[0], 0x00030201u);
    EXPECT_EQ(c.colours[3], 0x000076F0u);
}

TEST(OutputSetup, TwoColumnsOverlapByTheRightBand)
{
    QByteArray w = defaultBlock();
    proto::putU16(at(w, 38), 2);      // columns
    proto::putU16(at(w, 0), 3600);    // row width without the overlap
    proto::putU16(at(w, 18), 1080);
    proto::putU16(at(w, 20), 1080);
    proto::putU16(at(w, 44), 7);      // slot 0: channel 7, selected
    at(w, 46)[0] = 1;
    proto::putU16(at(w, 47), 2);      // slot 1: channel 2
    proto::putU16(at(w, 71), 2);
    grid::OutputConfig c;
    ASSERT_TRUE(BuildOutputConfig(w, 2, false, c));
    EXPECT_EQ(c.outputCount, 2);
    const struct { int left, right, id, cellByte; } rows[] = {{0, 1920, 7, 1}, {1680, 3600, 2, 0}};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(c.outputs[std::size_t(i)].left, rows[i].left) << i;
        EXPECT_EQ(c.outputs[std::size_t(i)].right, rows[i].right) << i;
        EXPECT_EQ(c.outputs[std::size_t(i)].outputId, rows[i].id) << i;
        EXPECT_EQ(c.outputs[std::size_t(i)].cellByte, rows[i].cellByte) << i;
    }
    EXPECT_EQ(proto::getU16(at(w, 0)), 3840);  // the page's copy holds the widened row
    EXPECT_EQ(c.screens[0], (grid::ScreenRect{0, 0, 3600, 1080}));
}

TEST(OutputSetup, SingleChannelModeGivesFullOutputsWhateverTheBlockHolds)
{
    QByteArray w = defaultBlock();
    proto::putU16(at(w, 36), 3);
    proto::putU16(at(w, 38), 3);
    proto::putU16(at(w, 40), 1280);
    grid::OutputConfig c;
    ASSERT_TRUE(BuildOutputConfig(w, 9, true, c));
    EXPECT_EQ(c.outputCount, 9);
    for (const grid::OutputEntry& e : c.outputs) {
        EXPECT_EQ(e.right, 1920);
        EXPECT_EQ(e.bottom, 1080);
        EXPECT_EQ(e.gridColumns, 30);
        EXPECT_EQ(e.lastY, 1079);
    }
    for (const grid::ScreenRect& s : c.screens)
        EXPECT_EQ(s, (grid::ScreenRect{0, 0, 1920, 1080}));
}

TEST(OutputSetup, HostileBlocksStayWithinTheTables)
{
    QByteArray w = defaultBlock();
    proto::putU16(at(w, 36), 0xFFFF);
    proto::putU16(at(w, 38), 0);
    proto::putU16(at(w, 71), 0xFFFF);
    proto::putU16(at(w, 6491), 9);
    grid::OutputConfig c;
    ASSERT_TRUE(BuildOutputConfig(w, 1, false, c));
    EXPECT_LE(c.outputCount, 9);
    EXPECT_EQ(BuildAdjustModePayload(w, false, false).size(), 96);
    QByteArray shortBlock(100, '\0');
    EXPECT_FALSE(BuildOutputConfig(shortBlock, 1, false, c));
    EXPECT_TRUE(BuildAdjustModePayload(shortBlock, true, true).isEmpty());
}

TEST(OutputSetup, AdjustModePayloadListsBandsPerChannel)
{
    QByteArray w = defaultBlock();
    proto::putU16(at(w, 38), 2);
    proto::putU16(at(w, 44), 3);
    at(w, 46)[0] = 1;
    proto::putU16(at(w, 47), 5);
    proto::putU16(at(w, 71), 2);
    proto::putU16(at(w, 73 + 8 * 9 + 0), 60);  // cell (0, 1): entry 9
    const QByteArray p = BuildAdjustModePayload(w, true, false);
    ASSERT_EQ(p.size(), 96);
    const auto* b = reinterpret_cast<const uint8_t*>(p.constData());
    const uint8_t head[] = {1, 2, 1, 1, 1, 0};
    EXPECT_EQ(0, memcmp(b, head, 6));
    const struct { int channel, left, top, right, bottom; } rows[] = {
        {0, 0, 0, 0, 0}, {3, 240, 270, 240, 270}, {5, 60, 270, 240, 270}, {8, 0, 0, 0, 0},
    };
    for (const auto& r : rows) {
        const uint8_t* s = b + 6 + 8 * r.channel;
        EXPECT_EQ(proto::getU16(s + 0), r.left) << r.channel;
        EXPECT_EQ(proto::getU16(s + 2), r.top) << r.channel;
        EXPECT_EQ(proto::getU16(s + 4), r.right) << r.channel;
        EXPECT_EQ(proto::getU16(s + 6), r.bottom) << r.channel;
    }
    EXPECT_EQ(b[78], 1);
    EXPECT_EQ(b[79], 0);
    for (int i = 80; i < 96; ++i)
        EXPECT_EQ(b[i], 0xFF) << i;
}
