#include "player/rotation_commands.h"

#include <chrono>
#include <map>
#include <thread>

namespace sim {

namespace {

std::mutex registryMutex;
std::map<const PlayerSim*, std::weak_ptr<RotationPlayer>>& registry()
{
    static std::map<const PlayerSim*, std::weak_ptr<RotationPlayer>> table;
    return table;
}

// The longest wait a handler makes: it runs on the connection thread, which
// stop() joins.
constexpr int kMaxDelayMs = 10000;

}  // namespace

void RotationPlayer::setReplyDelay(int ms)
{
    std::lock_guard<std::mutex> lock(mutex_);
    delayMs_ = ms;
}

std::vector<QByteArray> RotationPlayer::documents() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<QByteArray> copy;
    for (const QByteArray& d : documents_)
        copy.push_back(ownBytes(d));
    return copy;
}

std::size_t RotationPlayer::documentCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return documents_.size();
}

std::vector<Reply> RotationPlayer::handle(PlayerSim& sim, const Request& request)
{
    int delay = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        documents_.push_back(ownBytes(request.payload));
        delay = delayMs_;
    }
    if (delay < 0)
        return {};
    // Waits in short steps so that a stopping simulator is not held up.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::min(delay, kMaxDelayMs));
    while (std::chrono::steady_clock::now() < until && sim.isRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Reply r;
    r.header.command = proto::CMD_ROTATE_CONFIG;
    r.header.subCode = request.header.subCode;
    return {r};
}

void installRotationCommands(PlayerSim& sim)
{
    auto player = std::make_shared<RotationPlayer>();
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        registry()[&sim] = player;
    }
    sim.registerCommand(proto::CMD_ROTATE_CONFIG,
                        [player](PlayerSim& s, const Request& request) { return player->handle(s, request); });
}

std::shared_ptr<RotationPlayer> rotationPlayerOf(const PlayerSim& sim)
{
    std::lock_guard<std::mutex> lock(registryMutex);
    auto it = registry().find(&sim);
    if (it == registry().end())
        return nullptr;
    auto player = it->second.lock();
    if (!player)
        registry().erase(it);
    return player;
}

}  // namespace sim
