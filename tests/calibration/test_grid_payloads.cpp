// The payloads the page sends: point lists, shape outline and the rectangle
// table, with the words and lengths players read.

#include "calibration_fixtures.h"
#include "transport/protocol.h"

#include <gtest/gtest.h>

using namespace calib;

namespace {

uint32_t word(const QByteArray& b, int index)
{
    return proto::getU32(reinterpret_cast<const uint8_t*>(b.constData()) + 4 * index);
}

}  // namespace

TEST(GridPayloads, CorrectedGridAfterResetHoldsTheFourCorners)
{
    auto m = calibtest::oneOutputModel();
    m->config.colours = {0x00112233, 0, 0x00445566, 0x00778899};
    const GridPayload p = m->BuildCorrectedPayload();
    EXPECT_EQ(p.kind, 1);
    ASSERT_EQ(p.bytes.size(), 28);
    EXPECT_EQ(word(p.bytes, 0), 0x445566FFu);
    EXPECT_EQ(word(p.bytes, 1), 0x778899FFu);
    EXPECT_EQ(word(p.bytes, 2), 0x00020002u);
    const uint32_t corners[] = {0x00000000u, 0x0000077Fu, 0x04370000u, 0x0437077Fu};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(word(p.bytes, 3 + i), corners[i]) << i;
}

TEST(GridPayloads, SpacingTwoGivesSeventeenRowsOfThirtyThree)
{
    auto m = calibtest::oneOutputModel();
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(m->OnKey(kKeyMinus, false));
    const GridPayload p = m->BuildCorrectedPayload();
    EXPECT_EQ(p.bytes.size(), 12 + 4 * 561);
    EXPECT_EQ(word(p.bytes, 2), 0x00110021u);
}

TEST(GridPayloads, PointPayloadUsesThePreviousOutputsReferenceGridMasked)
{
    auto m = calibtest::oneOutputModel();
    m->config.colours = {0x00030201, 0x00060504, 0, 0};
    m->reference(0).at(1, 0).x = 0x1005;  // above 4,095: the mask keeps 12 bits
    m->reference(0).at(1, 0).active = 1;
    m->reference(0).spacing = 64;
    const GridPayload p = m->BuildPointPayload();
    EXPECT_EQ(p.kind, 0);
    EXPECT_EQ(word(p.bytes, 0), 0x030201FFu);
    EXPECT_EQ(word(p.bytes, 1), 0x060504FFu);
    // Reference spacing 2 after the reset: 33 x 17 points, and the extra one.
    EXPECT_EQ(word(p.bytes, 2) >> 16, 17u);
    EXPECT_EQ(word(p.bytes, 3), 0u);
    EXPECT_EQ(word(p.bytes, 4), 0x00000005u);
}

TEST(GridPayloads, LastPixelWord)
{
    auto m = calibtest::oneOutputModel();
    const GridPayload p = m->BuildCorrectedPayload();
    EXPECT_EQ(word(p.bytes, 6), 0x0437077Fu);
}

TEST(GridPayloads, ShapeOutlineWalksTheEdgesWithAZeroThirdWord)
{
    auto m = calibtest::oneOutputModel();
    m->config.screens[0] = {0, 0, 1920, 1080};
    m->ResetShapes();
    m->LoadShape(0, 0);
    m->shapeMode = true;
    const GridPayload p = m->BuildShapePayload();
    EXPECT_EQ(p.kind, 1);
    ASSERT_EQ(p.bytes.size(), 12 + 4 * 4);
    EXPECT_EQ(word(p.bytes, 2), 0u);
    // Left edge down, bottom edge right, right edge up: the canvas is half
    // size, so each coordinate is doubled back to screen pixels.
    const uint32_t want[] = {0x00000000u, (1078u << 16) | 0u, (1078u << 16) | 1918u, 1918u};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(word(p.bytes, 3 + i), want[i]) << i;
}

TEST(GridPayloads, RectanglePayloadOfOneOutput)
{
    auto m = calibtest::oneOutputModel();
    uint8_t out[108];
    ASSERT_TRUE(m->BuildOutputRectPayload(out));
    const uint8_t head[] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x07, 0x38, 0x04};
    EXPECT_EQ(0, memcmp(out, head, sizeof head));
    EXPECT_EQ(proto::getU16(out + 36), 0);
    EXPECT_EQ(proto::getU16(out + 38), 1919);
    EXPECT_EQ(proto::getU16(out + 40), 0);
    EXPECT_EQ(proto::getU16(out + 42), 1079);
    for (int i = 44; i < 108; ++i)
        ASSERT_EQ(out[i], 0) << i;
}

TEST(GridPayloads, RectanglePayloadSkipsLayoutModeZeroAndUsesTheLastEntryPerId)
{
    auto m = calibtest::oneOutputModel();
    m->config.outputCount = 3;
    m->config.outputs[0].layoutMode = 0;
    m->config.outputs[1] = m->config.outputs[0];
    m->config.outputs[1].outputId = 2;
    m->config.outputs[1].layoutMode = 2;
    m->config.outputs[1].left = 100;
    m->config.outputs[1].right = 200;
    m->config.outputs[2] = m->config.outputs[1];
    m->config.outputs[2].left = 300;
    m->config.outputs[2].right = 400;
    m->config.outputCount = 4;
    m->config.outputs[3] = m->config.outputs[1];
    m->config.outputs[3].outputId = 12;  // names no output: neither mask bit nor rectangle
    uint8_t out[108];
    m->BuildOutputRectPayload(out);
    EXPECT_EQ(proto::getU16(out + 0), 0x0005);
    EXPECT_EQ(proto::getU16(out + 36 + 2), 0);  // id 0 has layout mode 0
    EXPECT_EQ(proto::getU16(out + 36 + 16), 300);
    EXPECT_EQ(proto::getU16(out + 36 + 18), 399);
}
