#include "interactive/lidar_model.h"

#include "common/json_coding.h"
#include "common/text_coding.h"
#include "transport/protocol.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QTimeZone>

#include <cmath>
#include <cstring>
#include <limits>

namespace lidar {

const uint8_t kLidarMagic[8] = {0x52, 0x50, 0x4C, 0x49, 0x44, 0x41, 0x52, 0x00};

LidarSettings NewLidar(const QString& model)
{
    LidarSettings s;
    s.lidarModel = model;
    s.corners = {{0, 0, 0.1, 0.1}, {0, 0, 0.9, 0.1}, {0, 0, 0.9, 0.9}, {0, 0, 0.1, 0.9}};
    return s;
}

QByteArray LidarPacket(uint16_t operation, const QByteArray& payload)
{
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_LIDAR;
    h.param = operation;
    return proto::buildPacket(h, payload);
}

Json::Value LidarJson(const std::vector<LidarSettings>& lidars)
{
    Json::Value root(Json::objectValue);
    root["Msg"] = "Lidar Config";
    Json::Value list;  // null until an element is written
    for (std::size_t i = 0; i < lidars.size(); ++i) {
        const LidarSettings& s = lidars[i];
        if (s.corners.size() != kCornerCount)
            continue;
        Json::Value e(Json::objectValue);
        for (std::size_t c = 0; c < kCornerCount; ++c) {
            const std::string p = kCornerKeys[c];
            e[p + "R"] = s.corners[c].R;
            e[p + "Aggle"] = s.corners[c].angle;
            e[p + "X"] = s.corners[c].x;
            e[p + "Y"] = s.corners[c].y;
        }
        e["lidarModel"] = text::CStringToUtf8(s.lidarModel);
        e["controlMode"] = text::CStringToUtf8(s.controlMode);
        e["baudrate"] = Json::UInt(s.baudrate);
        e["databit"] = Json::UInt(s.databit);
        e["stopbit"] = Json::UInt(s.stopbit);
        e["parity"] = Json::UInt(s.parity);
        e["ip"] = text::CStringToUtf8(s.ip);
        e["port"] = Json::UInt(s.port);
        e["enable"] = Json::Int(s.enable);
        list[Json::ArrayIndex(i)] = e;  // earlier skipped indexes stay null
    }
    root["Lidar"] = list;
    return root;
}

Json::Value LidarXYJson(const std::vector<LidarSettings>& lidars, std::size_t index, float dotSize, uint32_t state)
{
    Json::Value root(Json::objectValue);
    root["Msg"] = "LidarXY Config";
    if (index >= lidars.size()) {
        root["x"] = 0.0;
        root["y"] = 0.0;
        root["dotSize"] = double(dotSize);
        root["state"] = Json::Int(kStateLeaving);
        return root;
    }
    const LidarSettings& s = lidars[index];
    if (s.currentCorner >= s.corners.size())
        return root;
    root["x"] = s.corners[s.currentCorner].x;
    root["y"] = s.corners[s.currentCorner].y;
    root["dotSize"] = double(dotSize);
    root["state"] = Json::Int(state);
    return root;
}

Json::Value CheckPageLidarXYJson()
{
    Json::Value root(Json::objectValue);
    root["Msg"] = "LidarXY Config";
    root["x"] = double(0.1f);
    root["y"] = double(0.1f);
    root["dotSize"] = double(0.05f);
    root["state"] = Json::Int(kStateLeaving);
    return root;
}

QByteArray WriteDocument(const QString& folder, const QString& name, const Json::Value& doc,
                         filecommit::WriteFailure* failure)
{
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(name);
    QString reason;
    QByteArray bytes;
    if (jsonio::writeFile(path, doc, false, &reason)) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            bytes = f.readAll();
        else
            reason = f.errorString();
    }
    if (bytes.isEmpty() && failure)
        *failure = {path, reason};
    return bytes;
}

namespace {

QString jsonText(const Json::Value& v)
{
    return text::DecodeUtf8OrCodePage(QByteArray::fromStdString(v.asString()));
}

bool isIntegerType(const Json::Value& v)
{
    return v.type() == Json::intValue || v.type() == Json::uintValue;
}

double numberOrZero(const Json::Value& v)
{
    if (v.type() == Json::intValue || v.type() == Json::uintValue || v.type() == Json::realValue)
        return v.asDouble();
    return 0;
}

// An integer that fits the field replaces it; anything else keeps it.
template <class T>
void takeInteger(const Json::Value& v, T& field)
{
    if (!isIntegerType(v))
        return;
    if (v.type() == Json::intValue && v.asInt64() < 0)
        return;
    const uint64_t u = v.asUInt64();
    if (u <= std::numeric_limits<T>::max())
        field = T(u);
}

}  // namespace

bool ParseSupportedModels(const QByteArray& payload, std::vector<LidarModelInfo>& models)
{
    Json::Value root;
    if (payload.isEmpty() || !jsonio::parsePlayerDocument(payload, root))
        return false;
    models.clear();
    const Json::Value& supported = root.isObject() ? root["supported"] : Json::Value::nullSingleton();
    if (supported.isArray()) {
        for (const Json::Value& e : supported) {
            if (!e.isObject())
                continue;
            const Json::Value& modes = e["controlMode"];
            if (!modes.isArray())
                continue;
            LidarModelInfo info;
            info.model = e["rplidarModel"].isString() ? jsonText(e["rplidarModel"]) : QString();
            for (const Json::Value& m : modes)
                info.modes << (m.isString() ? jsonText(m) : QString::fromStdString(m.toStyledString()).trimmed());
            models.push_back(info);
        }
    }
    return !models.empty();
}

bool ParseLidarConfig(const QByteArray& payload, std::vector<LidarSettings>& lidars)
{
    Json::Value root;
    if (payload.isEmpty() || !jsonio::parsePlayerDocument(payload, root) || !root.isObject())
        return false;
    const Json::Value& msg = root["Msg"];
    if (!msg.isString() || msg.asString() != "Lidar Config")
        return false;
    lidars.clear();
    const Json::Value& list = root["Lidar"];
    if (!list.isArray())
        return true;
    LidarSettings work;  // values a later element lacks come from the one before
    // A player has at most four lidars: whatever else the list holds is not read.
    const Json::ArrayIndex count = std::min<Json::ArrayIndex>(list.size(), Json::ArrayIndex(kMaxLidars));
    for (Json::ArrayIndex i = 0; i < count; ++i) {
        const Json::Value& e = list[i];
        const Json::Value& el = e.isObject() ? e : Json::Value::nullSingleton();
        auto get = [&](const std::string& key) -> const Json::Value& {
            return el.isObject() ? el[key] : Json::Value::nullSingleton();
        };
        work.corners.clear();
        for (std::size_t c = 0; c < kCornerCount; ++c) {
            const std::string p = kCornerKeys[c];
            work.corners.push_back({numberOrZero(get(p + "R")), numberOrZero(get(p + "Aggle")),
                                    numberOrZero(get(p + "X")), numberOrZero(get(p + "Y"))});
        }
        if (get("lidarModel").isString())
            work.lidarModel = jsonText(get("lidarModel"));
        work.controlMode = get("controlMode").isString() ? jsonText(get("controlMode")) : QString();
        work.ip = get("ip").isString() ? jsonText(get("ip")) : QString();
        takeInteger(get("baudrate"), work.baudrate);
        takeInteger(get("databit"), work.databit);
        takeInteger(get("stopbit"), work.stopbit);
        takeInteger(get("parity"), work.parity);
        takeInteger(get("port"), work.port);
        takeInteger(get("enable"), work.enable);
        lidars.push_back(work);
    }
    return true;
}

NextCheck CheckLidarsForNext(const std::vector<LidarSettings>& lidars)
{
    if (lidars.empty())
        return NextCheck::Empty;
    for (const LidarSettings& s : lidars) {
        if (s.corners.size() < kCornerCount)
            return NextCheck::TooFewCorners;
        const auto& c = s.corners;
        if (!(c[kTopLeft].x < c[kTopRight].x) || !(c[kBottomLeft].x < c[kBottomRight].x))
            return NextCheck::RightNotGreater;
        if (!(c[kTopRight].y < c[kBottomRight].y) || !(c[kTopLeft].y < c[kBottomLeft].y))
            return NextCheck::BottomNotGreater;
    }
    return NextCheck::Ok;
}

uint16_t NextCorner(uint16_t corner)
{
    switch (corner) {
    case kTopLeft: return kBottomLeft;
    case kBottomLeft: return kBottomRight;
    case kBottomRight: return kTopRight;
    default: return corner;
    }
}

uint16_t PreviousCorner(uint16_t corner)
{
    switch (corner) {
    case kTopRight: return kBottomRight;
    case kBottomRight: return kBottomLeft;
    case kBottomLeft: return kTopLeft;
    default: return corner;
    }
}

float DotSizeForSlider(int position)
{
    static const float kSizes[10] = {0.01f, 0.02f, 0.03f, 0.04f, 0.05f, 0.06f, 0.07f, 0.08f, 0.09f, 0.10f};
    if (position < 0)
        position = 0;
    if (position > 9)
        position = 9;
    return kSizes[position];
}

double RoundAngle(double degrees)
{
    return std::floor(degrees * 100 + 0.5) / 100;
}

uint32_t SecondsSince2020(const QDateTime& now)
{
    const QDateTime origin(QDate(2020, 1, 1), QTime(0, 0, 0), Qt::LocalTime);
    return uint32_t(uint64_t(origin.secsTo(now.toLocalTime())));
}

QByteArray BuildLidarRequest(uint32_t command, uint16_t lidarIndex, uint32_t seconds)
{
    QByteArray out(int(kRequestSize), '\0');
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    std::memcpy(p, kLidarMagic, 8);
    proto::putU32(p + 9, command);
    proto::putU16(p + 13, lidarIndex);
    proto::putU32(p + 17, seconds);
    return out;
}

namespace {
float getF32(const uint8_t* p)
{
    const uint32_t bits = proto::getU32(p);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}
}  // namespace

DatagramResult ParseLidarDatagram(const QString& sender, const QString& playerIp, const uint8_t* data,
                                  std::size_t length)
{
    DatagramResult r;
    if (!data || length < kReplyHeaderSize || length >= kReceiveBufferSize)
        return r;
    // The sender as dotted text, compared exactly with the player's text.
    const QHostAddress address(sender);
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    if (!ok)
        return r;
    const QString dotted = QStringLiteral("%1.%2.%3.%4")
                               .arg((v4 >> 24) & 0xFF).arg((v4 >> 16) & 0xFF).arg((v4 >> 8) & 0xFF).arg(v4 & 0xFF);
    if (dotted != playerIp)
        return r;
    r.kind = DatagramResult::CountOnly;
    r.announced = proto::getU32(data + 21) >> 3;
    if (std::memcmp(data, kLidarMagic, 8) != 0 || r.announced > kMaxPoints)
        return r;
    r.kind = DatagramResult::Points;
    // Only the points the datagram carries are read, whatever it announces.
    const std::size_t carried = (length - kReplyHeaderSize) / 8;
    const std::size_t n = std::min<std::size_t>(r.announced, carried);
    r.points.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t* p = data + kReplyHeaderSize + 8 * i;
        LidarPoint pt;
        pt.distance = getF32(p);
        pt.angle = getF32(p + 4);
        // The distance is shown and picked as an int: one that cannot be one
        // is dropped here, before anything converts it.
        if (!std::isfinite(pt.distance) || !std::isfinite(pt.angle) || pt.distance < 0 || pt.angle < 0 ||
            pt.distance >= kDistanceLimit)
            continue;
        r.points.push_back(pt);
    }
    return r;
}

double MouseBearing(int dx, int dy)
{
    const float fx = float(dx), fy = float(dy);
    if (dx >= 0)
        return double(std::atan2(fx, fy));
    return double(2.0f * float(M_PI) - std::atan2(-fx, fy));
}

int PickPoint(const std::vector<LidarPoint>& points, double bearing)
{
    int best = -1;
    double bestDiff = 100;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double diff = std::fabs(double(points[i].angle) * M_PI / 180.0 - bearing);
        if (diff < bestDiff) {
            bestDiff = diff;
            best = int(i);
        }
    }
    return best;
}

float WheelZoom(float zoom, int delta)
{
    float z = zoom + float(delta / 2);
    if (z < kZoomMin)
        z = kZoomMin;
    if (z > kZoomMax)
        z = kZoomMax;
    return z;
}

// ---- texts ----

namespace {
struct TextPair {
    const char* english;
    const char* chinese;
};
const TextPair kTexts[] = {
    {"Select Radar", "选择雷达"},
    {"Radar Param", "雷达参数"},
    {"Radar Check", "雷达校验"},
    {"Radar", "雷达"},
    {"Add", "添加"},
    {"Del", "删除"},
    {"Property", "属性"},
    {"Value", "值"},
    {"Param", "参数"},
    {"The current device does not support Radar!", "当前设备不支持雷达！"},
    {"There are enough lidar to add!", "雷达数量已满，不能再添加！"},
    {"Do you really want to delete it?", "真的要删除吗？"},
    {"Do you really want to exit?", "真的要退出吗？"},
    {"input error", "输入错误"},
    {"There is no selection on whether the radar should proceed to the next step?", "没有选择雷达，是否继续下一步？"},
    {"Radar effective value cannot be less than 4!", "雷达有效值不能少于4个！"},
    {"The right side of Radar coordinate value cannot be less than the left side!", "雷达坐标右边的值不能小于左边！"},
    {"The bottom side of Radar coordinate value cannot be less than the top side!", "雷达坐标下边的值不能小于上边！"},
    {"Radar Model", "雷达型号"},
    {"Communication mode", "通信方式"},
    {"Communication mode:<serial> <network>", "通信方式:<serial> <network>"},
    {"Ip Addr", "IP地址"},
    {"Port", "端口"},
    {"Top left abscissa of screen", "屏幕左上角横坐标"},
    {"Top left ordinate of screen", "屏幕左上角纵坐标"},
    {"Bottom left abscissa of screen", "屏幕左下角横坐标"},
    {"Bottom left ordinate of screen", "屏幕左下角纵坐标"},
    {"Bottom right abscissa of screen", "屏幕右下角横坐标"},
    {"Bottom right ordinate of screen", "屏幕右下角纵坐标"},
    {"Top right abscissa of screen", "屏幕右上角横坐标"},
    {"Top right ordinate of screen", "屏幕右上角纵坐标"},
    {"Top left R of screen", "屏幕左上角距离"},
    {"Top left Aggle of screen", "屏幕左上角角度"},
    {"Bottom left R of screen", "屏幕左下角距离"},
    {"Bottom left Aggle of screen", "屏幕左下角角度"},
    {"Bottom right R of screen", "屏幕右下角距离"},
    {"Bottom right Aggle of screen", "屏幕右下角角度"},
    {"Top right R of screen", "屏幕右上角距离"},
    {"Top right Aggle of screen", "屏幕右上角角度"},
    {"Point Size:", "点大小:"},
    {"Previous Point", "上一个点"},
    {"Next Point", "下一个点"},
    {"Previous Radar", "上一个雷达"},
    {"Next Radar", "下一个雷达"},
    {"Start", "开始"},
    {"Stop", "停止"},
    {"Show Point", "显示点"},
    {"Radar Data:%d", "雷达数据:%d"},
    {"Mouse Wheel Zoom", "鼠标滚轮缩放"},
    {"Current: %d Deg: %.2f", "当前: %d 角度: %.2f"},
    {"Scanning obstacles", "扫描障碍物"},
    {"check", "校验"},
    {"scan end", "扫描结束"},
    {"Clear the sensing points triggered by obstacles in the interaction area. Please do not stand or touch the "
     "sensing area when clearing the obstacle points.",
     "清除互动区域内由障碍物触发的感应点。清除障碍点时请不要站立或触摸感应区域。"},
    {"Check whether the sensing point coordinates are correct. If correct, standing or touching the sensing area "
     "will display \r\nthe sensing point in the corresponding place.",
     "检查感应点坐标是否正确。如果正确，站立或触摸感应区域时将在对应位置\r\n显示感应点。"},
};
}  // namespace

QString LidarText(const char* english, unsigned language)
{
    if (language == 4) {
        for (const TextPair& t : kTexts)
            if (std::strcmp(t.english, english) == 0)
                return QString::fromUtf8(t.chinese);
    }
    return QString::fromUtf8(english);
}

QString StandAtPointPrompt(uint16_t lidarIndex, uint16_t corner, unsigned language)
{
    if (language == 4)
        return QStringLiteral("请站在第%1个雷达的第%2个点").arg(lidarIndex + 1).arg(corner + 1);
    return QStringLiteral("Please stand at the %1 point of the %2 Radar").arg(corner + 1).arg(lidarIndex + 1);
}

QString NextCheckMessage(NextCheck check, unsigned language)
{
    switch (check) {
    case NextCheck::Empty:
        return LidarText("There is no selection on whether the radar should proceed to the next step?", language);
    case NextCheck::TooFewCorners:
        return LidarText("Radar effective value cannot be less than 4!", language);
    case NextCheck::RightNotGreater:
        return LidarText("The right side of Radar coordinate value cannot be less than the left side!", language);
    case NextCheck::BottomNotGreater:
        return LidarText("The bottom side of Radar coordinate value cannot be less than the top side!", language);
    case NextCheck::Ok:
        break;
    }
    return {};
}

}  // namespace lidar
