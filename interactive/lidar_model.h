#pragma once
// The lidar records, the two documents that carry them to the player
// (Lidar.Json, LidarXY.Json), the CMD_LIDAR packets, and the live-point
// datagrams with the plot's picking and zoom arithmetic. Plain C++, no
// widgets: the wizard pages are thin over this.

#include "common/file_commit.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lidar {

struct LidarCorner {
    double R = 0;      // distance to the person on the corner
    double angle = 0;  // bearing in degrees
    double x = 0;      // 0.0 left .. 1.0 right
    double y = 0;      // 0.0 top .. 1.0 bottom
    bool operator==(const LidarCorner&) const = default;
};

// Corner storage order: top left, top right, bottom right, bottom left.
enum CornerIndex : uint16_t { kTopLeft = 0, kTopRight = 1, kBottomRight = 2, kBottomLeft = 3 };
inline constexpr std::size_t kCornerCount = 4;
inline constexpr std::size_t kMaxLidars = 4;
// Distances from 2^31 up do not fit the int the view shows and picks.
inline constexpr float kDistanceLimit = 2147483648.f;
// JSON key prefixes in storage order.
inline constexpr const char* kCornerKeys[kCornerCount] = {"leftTop", "rightTop", "rightBottom", "leftBottom"};

struct LidarSettings {
    std::vector<LidarCorner> corners;
    uint16_t currentCorner = 0;  // not stored
    QString lidarModel = QStringLiteral("SLAMTECA2M8");
    QString controlMode = QStringLiteral("network");
    uint32_t baudrate = 115200;
    uint32_t databit = 8;
    uint32_t stopbit = 1;
    uint32_t parity = 0;
    QString ip = QStringLiteral("192.168.1.80");
    uint32_t port = 20108;
    uint16_t enable = 0;
    bool operator==(const LidarSettings&) const = default;
};

struct LidarModelInfo {
    QStringList modes;  // control modes, e.g. "serial", "network"
    QString model;
};

// A lidar added by the user: defaults, the model, the four default corners.
LidarSettings NewLidar(const QString& model);

enum LidarOperation : uint16_t {
    LIDAR_OP_SCAN = 1,
    LIDAR_OP_SCAN_END = 2,
    LIDAR_OP_CONFIG = 3,
    LIDAR_OP_CHECK = 4,
    LIDAR_OP_CHECK_END = 5,
    LIDAR_OP_QUERY_MODELS = 9,
    LIDAR_OP_QUERY_CONFIG = 10,
    LIDAR_OP_POINT = 11,
};

// A CMD_LIDAR packet: header (operation at 8) and payload.
QByteArray LidarPacket(uint16_t operation, const QByteArray& payload = QByteArray());

// ---- documents ----
Json::Value LidarJson(const std::vector<LidarSettings>& lidars);
// The page state written as "state".
enum PageState : uint32_t { kStateStarting = 0, kStateRunning = 1, kStateLeaving = 2 };
// LidarXY.Json of the parameter page for the current corner of lidar `index`.
Json::Value LidarXYJson(const std::vector<LidarSettings>& lidars, std::size_t index, float dotSize,
                        uint32_t state);
// LidarXY.Json of the check page (0.1, 0.1, 0.05, state 2).
Json::Value CheckPageLidarXYJson();
// Writes `doc` to `folder`/`name` (whole file or nothing) and returns the
// bytes written; empty when the file could not be written or read back, and
// then `failure` (when given) names the file and the reason.
QByteArray WriteDocument(const QString& folder, const QString& name, const Json::Value& doc,
                         filecommit::WriteFailure* failure = nullptr);

// The player's models reply; false (list cleared) when unusable.
bool ParseSupportedModels(const QByteArray& payload, std::vector<LidarModelInfo>& models);
// The player's configuration reply; false and `lidars` untouched when the
// text is not a "Lidar Config" document.
bool ParseLidarConfig(const QByteArray& payload, std::vector<LidarSettings>& lidars);

// The checks of the selection page's Next, in list order.
enum class NextCheck { Ok, Empty, TooFewCorners, RightNotGreater, BottomNotGreater };
NextCheck CheckLidarsForNext(const std::vector<LidarSettings>& lidars);

// Corner walk (top left, bottom left, bottom right, top right), no wrap.
uint16_t NextCorner(uint16_t corner);
uint16_t PreviousCorner(uint16_t corner);

// Slider position 0..9 to the dot size 0.01..0.10 (clamped).
float DotSizeForSlider(int position);
// Angle rounded to two decimals as the click stores it.
double RoundAngle(double degrees);

// ---- live points over UDP ----
inline constexpr uint16_t kPlayerUdpPort = 7584;
inline constexpr uint16_t kLocalUdpPort = 7585;
inline constexpr std::size_t kRequestSize = 25;
inline constexpr std::size_t kReplyHeaderSize = 25;
inline constexpr std::size_t kMaxPoints = 32768;
inline constexpr std::size_t kReceiveBufferSize = 262169;  // datagrams this long or longer are ignored
inline constexpr int kPollMs = 100;

enum LidarUdpCommand : uint32_t { LIDAR_UDP_POLL = 1, LIDAR_UDP_SHOW_POINTS_OFF = 2, LIDAR_UDP_SHOW_POINTS_ON = 3 };
extern const uint8_t kLidarMagic[8];

// Seconds from 2020-01-01 00:00:00 local time to `now` (low 32 bits).
uint32_t SecondsSince2020(const QDateTime& now);
QByteArray BuildLidarRequest(uint32_t command, uint16_t lidarIndex, uint32_t seconds);

struct LidarPoint {
    float angle = 0;     // degrees
    float distance = 0;  // lidar unit
    uint8_t highlighted = 0;
};

struct DatagramResult {
    enum Kind { Ignored, CountOnly, Points } kind = Ignored;
    uint32_t announced = 0;  // the count the "Radar Data:%d" label shows
    std::vector<LidarPoint> points;
};
// One datagram from `sender`: ignored unless it comes from `playerIp`
// exactly and is 25..262,168 bytes long; points only with the magic and an
// announced count of at most 32,768, and only as many as the datagram
// carries; points with a non-finite or negative value are skipped.
DatagramResult ParseLidarDatagram(const QString& sender, const QString& playerIp, const uint8_t* data,
                                  std::size_t length);

// Mouse bearing in radians (0 up, clockwise, 0..2π) from the offset to the
// plot centre (dy grows upwards).
double MouseBearing(int dx, int dy);
// The point nearest in bearing to `bearing` (radians), without wrapping;
// first of equals; -1 for an empty list.
int PickPoint(const std::vector<LidarPoint>& points, double bearing);
// Zoom after a wheel step: zoom + delta / 2, clamped to 100..28000.
float WheelZoom(float zoom, int delta);
inline constexpr float kZoomMin = 100.f, kZoomMax = 28000.f, kZoomStart = 8000.f;

// ---- texts ----
QString LidarText(const char* english, unsigned language);
QString StandAtPointPrompt(uint16_t lidarIndex, uint16_t corner, unsigned language);
QString NextCheckMessage(NextCheck check, unsigned language);

}  // namespace lidar
