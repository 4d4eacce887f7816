#include "player/interactive_commands.h"

#include "common/text_coding.h"
#include "player/player_sim.h"
#include "transport/protocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <json/json.h>

namespace sim {

namespace {

const uint8_t kMagic[8] = {0x52, 0x50, 0x4C, 0x49, 0x44, 0x41, 0x52, 0x00};
constexpr std::size_t kMaxPointsPerDatagram = (65507 - 25) / 8;

Reply answer(const Request& req, const QByteArray& payload = QByteArray())
{
    Reply r;
    r.header.command = req.header.command;
    r.header.subCode = req.header.subCode;
    r.header.param = req.header.param;
    r.header.arg = req.header.arg;
    r.payload = payload;
    return r;
}

std::vector<Reply> lidar(PlayerSim& sim, const Request& req)
{
    std::shared_ptr<LidarUdpService> toStart;
    uint16_t port = 0;
    QByteArray payload;
    {
        std::lock_guard lock(sim.stateMutex());
        InteractiveState& s = interactiveState(sim);
        const uint16_t op = req.header.param;
        s.lidarRequests.emplace_back(op, ownBytes(req.payload));
        if (op == 9 && !s.udp) {
            s.udp = std::make_shared<LidarUdpService>();
            toStart = s.udp;
            port = s.udpPort;
        }
        if (s.lidarSilent || std::find(s.silentOps.begin(), s.silentOps.end(), op) != s.silentOps.end())
            return {};
        if (op == 9)
            payload = ownBytes(s.lidarModels);
        else if (op == 10)
            payload = ownBytes(s.lidarConfig);
        else if (op > 5 && op != 11)
            return {};
    }
    if (toStart)
        toStart->start(sim.options().address, port);  // a port in use leaves the service off
    return {answer(req, payload)};
}

}  // namespace

QByteArray gameListDocument(const InteractiveState& s)
{
    if (!s.listOverride.isEmpty())
        return ownBytes(s.listOverride);
    Json::Value v(Json::objectValue);
    v["currentGameName"] = s.currentGame.toStdString();
    v["gameInScreen"] = Json::UInt(s.gameScreen);
    v["x"] = Json::UInt(s.x);
    v["y"] = Json::UInt(s.y);
    v["width"] = Json::UInt(s.width);
    v["height"] = Json::UInt(s.height);
    Json::Value names(Json::arrayValue), full(Json::arrayValue);
    for (const auto& g : s.games) {
        names.append(g.first.toStdString());
        full.append(g.second);
    }
    v["gameNames"] = names;
    v["gamesFullScreen"] = full;
    Json::StreamWriterBuilder b;
    b["emitUTF8"] = true;
    return QByteArray::fromStdString(Json::writeString(b, v));
}

namespace {

std::vector<Reply> gameCommand(PlayerSim& sim, const Request& req)
{
    std::lock_guard lock(sim.stateMutex());
    InteractiveState& s = interactiveState(sim);
    switch (req.header.param) {
    case 0:
        return {answer(req, gameListDocument(s))};
    case 1: {
        s.settings.push_back(ownBytes(req.payload));
        s.settingsArgs.push_back(req.header.arg);
        Json::Value v;
        Json::CharReaderBuilder b;
        std::string errors;
        std::unique_ptr<Json::CharReader> reader(b.newCharReader());
        if (reader->parse(req.payload.constData(), req.payload.constData() + req.payload.size(), &v, &errors) &&
            v.isObject()) {
            // Game.Json names the game in UTF-8; the list keeps code-page bytes.
            QByteArray name;
            if (!text::NameToDoubleByteText(QString::fromStdString(v["gameName"].asString()), name, 100000))
                name = QByteArray::fromStdString(v["gameName"].asString());
            if (v["startGame"].asInt() == 1) {
                s.currentGame = name;
                s.gameScreen = v["gameScreen"].asUInt();
                s.x = v["x"].asUInt();
                s.y = v["y"].asUInt();
                s.width = v["width"].asUInt();
                s.height = v["height"].asUInt();
            } else {
                s.currentGame = QByteArray();
            }
        }
        return {answer(req)};
    }
    case 2:
        if (req.header.subCode == 0) {
            s.installs.push_back({ownBytes(req.payload), {}, false});
        } else if (!s.installs.empty()) {
            appendOwn(s.installs.back().data, req.payload);
            if (req.header.subCode == 2) {
                s.installs.back().complete = true;
                const QByteArray& name = s.installs.back().name;
                if (std::none_of(s.games.begin(), s.games.end(), [&](const auto& g) { return g.first == name; }))
                    s.games.emplace_back(ownBytes(name), false);
            }
        }
        return {answer(req)};
    case 3:
        s.uninstalled.push_back(ownBytes(req.payload));
        s.games.erase(std::remove_if(s.games.begin(), s.games.end(),
                                     [&](const auto& g) { return g.first == req.payload; }),
                      s.games.end());
        return {answer(req)};
    default:
        return {};
    }
}

}  // namespace

InteractiveState& interactiveState(PlayerSim& sim)
{
    auto& slot = sim.state().interactive;
    if (!slot)
        slot = std::make_shared<InteractiveState>();
    return *slot;
}

void installInteractiveCommands(PlayerSim& sim)
{
    sim.registerCommand(proto::CMD_LIDAR, lidar);
    sim.registerCommand(proto::CMD_GAME, gameCommand);
}

// ---- UDP lidar service ----

LidarUdpService::~LidarUdpService()
{
    stop();
}

bool LidarUdpService::start(const QString& address, uint16_t port, QString* error)
{
    stop();
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.toLatin1().constData(), &a.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (error)
            *error = QStringLiteral("cannot bind %1:%2: %3").arg(address).arg(port).arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return false;
    }
    fd_ = fd;
    stop_ = false;
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return true;
}

void LidarUdpService::stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    running_ = false;
}

void LidarUdpService::setPoints(std::vector<std::pair<float, float>> points)
{
    std::lock_guard lock(mutex_);
    points_ = std::move(points);
}

std::vector<QByteArray> LidarUdpService::requests() const
{
    std::lock_guard lock(mutex_);
    std::vector<QByteArray> copy;
    for (const QByteArray& r : requests_)
        copy.push_back(ownBytes(r));
    return copy;
}

std::size_t LidarUdpService::requestCount(uint32_t command) const
{
    std::lock_guard lock(mutex_);
    return std::size_t(std::count_if(requests_.begin(), requests_.end(), [&](const QByteArray& r) {
        return proto::getU32(reinterpret_cast<const uint8_t*>(r.constData()) + 9) == command;
    }));
}

void LidarUdpService::run()
{
    uint8_t buffer[2048];
    while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n != 25 || std::memcmp(buffer, kMagic, 8) != 0)
            continue;
        QByteArray reply;
        {
            std::lock_guard lock(mutex_);
            requests_.emplace_back(reinterpret_cast<const char*>(buffer), 25);
            if (proto::getU32(buffer + 9) != 1)
                continue;
            const std::size_t count = std::min(points_.size(), kMaxPointsPerDatagram);
            reply = QByteArray(int(25 + 8 * count), '\0');
            auto* out = reinterpret_cast<uint8_t*>(reply.data());
            std::memcpy(out, kMagic, 8);
            proto::putU32(out + 21, uint32_t(count * 8));
            for (std::size_t i = 0; i < count; ++i) {
                std::memcpy(out + 25 + 8 * i, &points_[i].first, 4);
                std::memcpy(out + 29 + 8 * i, &points_[i].second, 4);
            }
        }
        ::sendto(fd_, reply.constData(), std::size_t(reply.size()), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&from),
                 fromLen);
    }
}

}  // namespace sim
