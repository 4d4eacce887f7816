#include "player/blend_commands.h"

#include <gtest/gtest.h>

namespace {

sim::Request request(uint8_t command, uint8_t subCode, uint16_t param, const QByteArray& payload = QByteArray())
{
    sim::Request r;
    r.header.command = command;
    r.header.subCode = subCode;
    r.header.param = param;
    r.header.payloadLength = uint32_t(payload.size());
    r.payload = payload;
    return r;
}

TEST(BlendPlayerSim, AnswersKeepsAndRefuses)
{
    sim::BlendPlayer player;
    const QByteArray timing = QByteArray::fromHex("98062A0470000300680100052900" "0004");
    const struct {
        sim::Request in;
        uint8_t command;  // as the reply is written before the reply bit
        uint8_t subCode;
        uint16_t param;
        int payloadSize;
    } rows[] = {
        {request(proto::CMD_OUTPUT_RESOLUTION, 0, 60, timing), 5, 0, 0, 0},
        {request(proto::CMD_OUTPUT_MODE, 0, 0), 17, 0, 0, 18},
        {request(proto::CMD_OUTPUT_RESOLUTION, 2, 60, timing), 5 | 0x40, 2, 0, 0},   // no third output
        {request(proto::CMD_OUTPUT_RESOLUTION, 1, 60, timing.left(15)), 5 | 0x40, 1, 0, 0},
        {request(proto::CMD_OUTPUT_MODE, 2, 0), 17 | 0x40, 2, 0, 0},
        {request(proto::CMD_PROJECTOR_DATA, 0x4A, 0, QByteArray(12288, 'x')), 4, 0x4A, 0, 0},
        {request(proto::CMD_PROJECTOR_DATA, 0x20, 0, QByteArray(12, 'c')), 4, 0x20, 0, 0},
    };
    for (const auto& r : rows) {
        const auto replies = player.handle(r.in);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].header.command, r.command);
        EXPECT_EQ(replies[0].header.subCode, r.subCode);
        EXPECT_EQ(replies[0].header.param, r.param);
        EXPECT_EQ(replies[0].payload.size(), r.payloadSize);
    }
    player.with([&](sim::BlendPlayerState& s) {
        EXPECT_EQ(s.timings[0], QByteArray::fromHex("3C00") + timing);
        EXPECT_EQ(s.timingSets.size(), 1u);
        EXPECT_EQ(s.rampFiles[0x4A].size(), 12288);
        EXPECT_EQ(s.testPatterns.size(), 1u);
        EXPECT_EQ(s.projectorDataSubCodes, (std::vector<uint8_t>{0x4A, 0x20}));
    });
}

}  // namespace
