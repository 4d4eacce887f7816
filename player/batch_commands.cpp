// The simulated player's answers for batch sending (see batch_commands.h).

#include "player/batch_commands.h"

#include "player/player_sim.h"

#include <QCryptographicHash>

#include <map>
#include <memory>
#include <mutex>

namespace sim {

namespace {

constexpr qsizetype kNameField = qsizetype(proto::kNameFieldSize);
constexpr qsizetype kMd5Text = 32;

// One batch state per simulator, alive as long as the simulator's handlers.
std::mutex& registryMutex()
{
    static std::mutex m;
    return m;
}
std::map<const PlayerSim*, std::shared_ptr<BatchState>>& registry()
{
    static std::map<const PlayerSim*, std::shared_ptr<BatchState>> r;
    return r;
}

Reply replyTo(const Request& req, uint16_t arg)
{
    Reply r;
    r.header.command = req.header.command;
    r.header.subCode = req.header.subCode;
    r.header.param = req.header.param;
    r.header.arg = arg;
    return r;
}

std::vector<Reply> material(const std::shared_ptr<BatchState>& state, PlayerSim& sim, const Request& req)
{
    std::lock_guard lock(sim.stateMutex());
    BatchState& s = *state;
    if (req.header.subCode == 0) {
        if (req.payload.size() != kNameField + kMd5Text) {
            Reply no;
            no.header.command = uint8_t(req.header.command | proto::kNotSupportedBit);
            return {no};
        }
        ++s.announces;
        MaterialUpload u;
        u.kind = req.header.param;
        const QByteArray field = req.payload.left(kNameField);
        const qsizetype zero = field.indexOf('\0');
        u.name = zero >= 0 ? field.left(zero) : field;
        u.md5 = req.payload.mid(kNameField, kMd5Text);
        const bool have = s.materialByMd5.count(u.md5) != 0;
        if (!have)
            s.materialUploads.push_back(std::move(u));
        return {replyTo(req, have ? 1 : 0)};
    }
    if (!s.materialUploads.empty() && !s.materialUploads.back().complete) {
        MaterialUpload& u = s.materialUploads.back();
        u.data += req.payload;
        if (req.header.subCode == 2) {
            u.complete = true;
            // Kept under the digest of what arrived, so a damaged transfer
            // is asked for again next time.
            const QByteArray md5 = QCryptographicHash::hash(u.data, QCryptographicHash::Md5).toHex();
            s.materialByMd5[md5] = u.name;
        }
    }
    return {replyTo(req, 0)};
}

}  // namespace

BatchState& batchState(PlayerSim& sim)
{
    std::lock_guard lk(registryMutex());
    auto& slot = registry()[&sim];
    if (!slot)
        slot = std::make_shared<BatchState>();
    return *slot;
}

void installBatchCommands(PlayerSim& sim)
{
    auto state = std::make_shared<BatchState>();
    {
        std::lock_guard lk(registryMutex());
        registry()[&sim] = state;
    }
    // The catalogue reply names the act it lists at offset 10.
    const CommandHandler catalogue = sim.commandHandler(proto::CMD_VIDEO_LIST);
    sim.registerCommand(proto::CMD_VIDEO_LIST, [catalogue](PlayerSim& s, const Request& req) {
        std::vector<Reply> replies = catalogue ? catalogue(s, req) : std::vector<Reply>{};
        for (Reply& r : replies)
            r.header.arg = req.header.arg;
        return replies;
    });
    sim.registerCommand(proto::CMD_MATERIAL,
                        [state](PlayerSim& s, const Request& req) { return material(state, s, req); });
}

}  // namespace sim
