#pragma once
// The simulated player's interactive side: CMD_LIDAR (60) with settable
// model and configuration documents, CMD_GAME (58) with a game list,
// settings, installs reassembled per name and uninstalls, and the lidar
// point service on UDP port 7584 of the player's own address.
//
// State lives in InteractiveState, reached with interactiveState(sim) while
// holding sim.stateMutex().

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace sim {

class PlayerSim;

// Answers lidar requests (25 bytes, magic "RPLIDAR\0") with the point list.
class LidarUdpService {
public:
    LidarUdpService() = default;
    ~LidarUdpService();
    LidarUdpService(const LidarUdpService&) = delete;
    LidarUdpService& operator=(const LidarUdpService&) = delete;
    // Binds `address`:`port`; false (with a reason) when it cannot.
    bool start(const QString& address, uint16_t port, QString* error = nullptr);
    void stop();
    bool running() const { return running_.load(); }
    // (distance, angle in degrees) of every point a poll is answered with.
    void setPoints(std::vector<std::pair<float, float>> points);
    // Every well-formed request received, in order.
    std::vector<QByteArray> requests() const;
    std::size_t requestCount(uint32_t command) const;

private:
    void run();
    mutable std::mutex mutex_;
    std::vector<std::pair<float, float>> points_;
    std::vector<QByteArray> requests_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stop_{false};
    int fd_ = -1;
    std::thread thread_;
};

struct GameInstall {
    QByteArray name;  // code-page bytes as they came
    QByteArray data;
    bool complete = false;
};

struct InteractiveState {
    // Lidar: replies to operations 9 and 10 (empty payloads when empty).
    QByteArray lidarModels = R"({"supported":[{"rplidarModel":"SLAMTECA2M8","controlMode":["serial","network"]}]})";
    QByteArray lidarConfig = R"({"Msg":"Lidar Config","Lidar":null})";
    bool lidarSilent = false;          // answer no CMD_LIDAR request
    std::vector<uint16_t> silentOps;   // operations left unanswered
    std::vector<std::pair<uint16_t, QByteArray>> lidarRequests;  // operation, payload
    std::shared_ptr<LidarUdpService> udp;  // started by the first operation 9
    uint16_t udpPort = 7584;

    // Games.
    QByteArray currentGame;  // code-page bytes
    uint32_t gameScreen = 0, x = 0, y = 0, width = 640, height = 480;
    std::vector<std::pair<QByteArray, bool>> games;  // name, full screen
    QByteArray listOverride;  // when set, the list reply's payload
    std::vector<QByteArray> settings;  // Game.Json documents, in order
    std::vector<uint16_t> settingsArgs;
    std::vector<GameInstall> installs;
    std::vector<QByteArray> uninstalled;
};

InteractiveState& interactiveState(PlayerSim& sim);
void installInteractiveCommands(PlayerSim& sim);
// The game-list document the player answers operation 0 with.
QByteArray gameListDocument(const InteractiveState& s);

}  // namespace sim
