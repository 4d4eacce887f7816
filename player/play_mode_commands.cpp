#include "player/play_mode_commands.h"

#include "player/player_sim.h"

#include <mutex>

namespace sim {

namespace {

constexpr uint16_t kVideoKind = 6;
constexpr uint16_t kVideoUploadOp = 2;

// A small catalogue in the player's form: each mode names itself with its
// "type" parameter.
const char* const kSampleCatalogue = R"({"effectLists":[
[{"keyVal":"type","inputType":5,"lableName":"mode","remarks":"","valueRange":["fade"],"select":"fade"},
 {"keyVal":"duration","inputType":6,"lableName":"duration","remarks":"seconds","valueRange":[1,100],"select":5},
 {"keyVal":"pictureType","inputType":8,"lableName":"types","remarks":"","valueRange":["jpg","png"],"select":["jpg"]}],
[{"keyVal":"type","inputType":5,"lableName":"mode","remarks":"","valueRange":["slide"],"select":"slide"},
 {"keyVal":"speed","inputType":7,"lableName":"speed","remarks":"","valueRange":[0.5,4],"select":1},
 {"keyVal":"direction","inputType":3,"lableName":"direction","remarks":"","valueRange":[0,90,180,270],"select":0}]
]})";
const char* const kSampleImageTypes = R"({"imageTypes":["jpg","png","bmp"]})";
const char* const kSampleMobile = R"({"modules":[{"type":1,"name":"Play","enable":1},{"type":2,"name":"Effects","enable":0}],
"words":["Welcome"],"effects_new":[{"name":"Hearts","type":1},{"name":"Stars","type":2}]})";

Reply reply(const Request& req, uint16_t param, uint16_t arg, const QByteArray& payload = QByteArray())
{
    Reply r;
    r.header.command = req.header.command;
    r.header.param = param;
    r.header.arg = arg;
    r.payload = ownBytes(payload);  // often the state's
    return r;
}

std::vector<Reply> notSupported(const Request& req)
{
    Reply no;
    no.header.command = uint8_t(req.header.command | proto::kNotSupportedBit);
    return {no};
}

std::vector<Reply> picturePlay(PlayerSim& sim, const Request& req)
{
    std::lock_guard lock(sim.stateMutex());
    PlayModeState& s = playModeStore(sim);
    const uint16_t op = req.header.param;
    switch (op) {
    case 0:
        return {reply(req, op, 0, s.pictureCatalogue)};
    case 1:
        return {reply(req, op, 0, s.pictureModes)};
    case 2:
        return {reply(req, op, 0, s.imageTypes)};
    case 3:
        s.pictureModes = ownBytes(req.payload);
        ++s.pictureUploads;
        return {reply(req, op, 0)};
    case kVideoKind:
        if (req.header.arg != kVideoUploadOp)
            return notSupported(req);
        s.videoModes = ownBytes(req.payload);
        ++s.videoUploads;
        return {reply(req, kVideoKind, kVideoUploadOp)};
    default:
        return notSupported(req);
    }
}

std::vector<Reply> mobileSettings(PlayerSim& sim, const Request& req)
{
    std::lock_guard lock(sim.stateMutex());
    PlayModeState& s = playModeStore(sim);
    switch (req.header.param) {
    case 0:
        return {reply(req, 0, 0, s.mobileSettings)};
    case 1:
        s.mobileSettings = ownBytes(req.payload);
        ++s.mobileUploads;
        return {reply(req, 1, 0)};
    default:
        return notSupported(req);
    }
}

}  // namespace

PlayModeState& playModeStore(PlayerSim& sim)
{
    auto& slot = sim.state().playModes;
    if (!slot)
        slot = std::make_shared<PlayModeState>();
    return *slot;
}

std::vector<Reply> answerVideoPlayModes(PlayerSim& sim, const Request& req)
{
    std::lock_guard lock(sim.stateMutex());
    PlayModeState& s = playModeStore(sim);
    switch (req.header.arg) {
    case 0:
        return {reply(req, kVideoKind, 0, s.videoCatalogue)};
    case 1:
        return {reply(req, kVideoKind, 1, s.videoModes)};
    default:
        return notSupported(req);
    }
}

void installPlayModes(PlayerSim& sim)
{
    {
        std::lock_guard lock(sim.stateMutex());
        auto state = std::make_shared<PlayModeState>();
        state->pictureCatalogue = kSampleCatalogue;
        state->videoCatalogue = kSampleCatalogue;
        state->imageTypes = kSampleImageTypes;
        state->pictureModes = R"({"effectLists":null})";
        state->videoModes = R"({"effectLists":null})";
        state->mobileSettings = kSampleMobile;
        sim.state().playModes = state;
    }
    sim.registerCommand(proto::CMD_PICTURE_PLAY, picturePlay);
    sim.registerCommand(proto::CMD_MOBILE_SETTINGS, mobileSettings);
}

}  // namespace sim
