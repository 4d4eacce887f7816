#include "rotation/rotate_documents.h"

#include "common/json_coding.h"
#include "common/text_coding.h"
#include "platform/home.h"
#include "transport/protocol.h"
#include "transport/records.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace rotation {

namespace {

const Json::Value kNull;

// Member of an object; null for anything that is not an object (so that a
// hostile document of the wrong shape can never make the reader throw).
const Json::Value& member(const Json::Value& v, const char* name)
{
    if (!v.isObject())
        return kNull;
    const Json::Value* found = v.find(name, name + std::strlen(name));
    return found ? *found : kNull;
}

const Json::Value& element(const Json::Value& v, Json::ArrayIndex i)
{
    if (!v.isArray() || i >= v.size())
        return kNull;
    return v[i];
}

Json::Value utf8(const QString& text)
{
    return Json::Value(text::CStringToUtf8(text));
}

QString nameOf(const Json::Value& v)
{
    const char* begin = nullptr;
    const char* end = nullptr;
    if (!v.getString(&begin, &end))
        return QString();
    return text::DecodeUtf8OrCodePage(QByteArray(begin, qsizetype(end - begin)));
}

QString textOr(const Json::Value& v, const char* fallback)
{
    return v.isString() ? nameOf(v) : QString::fromLatin1(fallback);
}

double realOr(const Json::Value& v, double fallback)
{
    if (!v.isNumeric())
        return fallback;
    const double d = v.asDouble();
    return std::isfinite(d) ? d : fallback;
}

// A non-negative integer (a real without fraction counts), saturated at the
// top of 16 bits.
bool unsignedValue(const Json::Value& v, uint64_t& out)
{
    if (v.isUInt64()) {
        out = v.asUInt64();
        return true;
    }
    if (v.isDouble()) {
        const double d = v.asDouble();
        if (std::isfinite(d) && d >= 0 && std::floor(d) == d) {
            out = d >= 1.8e19 ? std::numeric_limits<uint64_t>::max() : uint64_t(d);
            return true;
        }
    }
    return false;
}

uint16_t u16Or(const Json::Value& v, uint16_t fallback)
{
    uint64_t n = 0;
    if (!unsignedValue(v, n))
        return fallback;
    return uint16_t(std::min<uint64_t>(n, 0xFFFF));
}

const char* kFrameNames[4][2] = {{"FramePoint[0]x", "FramePoint[0]y"},
                                  {"FramePoint[1]x", "FramePoint[1]y"},
                                  {"FramePoint[2]x", "FramePoint[2]y"},
                                  {"FramePoint[3]x", "FramePoint[3]y"}};
const char* kScreenNames[4][2] = {{"ScreenPoint[0]x", "ScreenPoint[0]y"},
                                   {"ScreenPoint[1]x", "ScreenPoint[1]y"},
                                   {"ScreenPoint[2]x", "ScreenPoint[2]y"},
                                   {"ScreenPoint[3]x", "ScreenPoint[3]y"}};

template <class Record>
void writeDevice(Json::Value& o, const Record& d)
{
    o["BezelBottom"] = d.BezelBottom;
    o["BezelLeft"] = d.BezelLeft;
    o["BezelRight"] = d.BezelRight;
    o["BezelTop"] = d.BezelTop;
    o["Manufacturer"] = utf8(d.Manufacturer);
    o["Model"] = utf8(d.Model);
    o["RefreshRate"] = d.RefreshRate;
    o["ResolutionHeight"] = d.ResolutionHeight;
    o["ResolutionWidth"] = d.ResolutionWidth;
    o["ScreenHeight"] = d.ScreenHeight;
    o["ScreenWidth"] = d.ScreenWidth;
}

template <class Record>
void readDevice(const Json::Value& o, Record& d)
{
    d.Manufacturer = textOr(member(o, "Manufacturer"), "(Projector)");
    d.Model = textOr(member(o, "Model"), "1920x1080");
    d.ScreenWidth = realOr(member(o, "ScreenWidth"), 1920);
    d.ResolutionWidth = realOr(member(o, "ResolutionWidth"), 1920);
    d.ScreenHeight = realOr(member(o, "ScreenHeight"), 1080);
    d.ResolutionHeight = realOr(member(o, "ResolutionHeight"), 1080);
    d.RefreshRate = realOr(member(o, "RefreshRate"), 60);
    d.BezelLeft = realOr(member(o, "BezelLeft"), 0);
    d.BezelRight = realOr(member(o, "BezelRight"), 0);
    d.BezelTop = realOr(member(o, "BezelTop"), 0);
    d.BezelBottom = realOr(member(o, "BezelBottom"), 0);
}

void writeQuad(Json::Value& o, const char* const names[4][2], const Quad& q)
{
    for (std::size_t i = 0; i < 4; ++i) {
        o[names[i][0]] = q[i].x;
        o[names[i][1]] = q[i].y;
    }
}

void readQuad(const Json::Value& o, const char* const names[4][2], Quad& q)
{
    for (std::size_t i = 0; i < 4; ++i)
        q[i] = {realOr(member(o, names[i][0]), 0), realOr(member(o, names[i][1]), 0)};
}

}  // namespace

// ================================================================ Rotate.Json

Json::Value BuildRotateJson(RotateModel& model, uint16_t channel, bool click)
{
    Json::Value root(Json::objectValue);
    root["Msg"] = "Rotate Config";
    root["Screen"] = Json::UInt(model.ScreenCount);
    root["CheckedChannel"] = Json::UInt(channel);
    root["ClickFlag"] = click;
    static const char* const kScreenKeys[2] = {"Screen1", "Screen2"};
    for (std::size_t s = 0; s < 2; ++s) {
        WallScreen& w = model.walls[s];
        root[kScreenKeys[s]] = Json::Value();
        std::vector<Quad> pictures;
        Json::Value data(Json::arrayValue);
        for (const WallOutput& o : w.outputs) {
            if (!o.Display)
                continue;
            Json::Value e(Json::objectValue);
            e["Channel"] = Json::UInt(o.Channel);
            e["LeftBottomx"] = TruncToInt(o.ScreenPoint[3].x);
            e["LeftBottomy"] = TruncToInt(o.ScreenPoint[3].y);
            e["LeftTopx"] = TruncToInt(o.ScreenPoint[0].x);
            e["LeftTopy"] = TruncToInt(o.ScreenPoint[0].y);
            e["Manufacturer"] = utf8(o.Manufacturer);
            e["Model"] = utf8(o.Model);
            e["RefreshRate"] = TruncToInt(o.RefreshRate);
            e["ResolutionHeight"] = TruncToInt(o.ResolutionHeight);
            e["ResolutionWidth"] = TruncToInt(o.ResolutionWidth);
            e["RightBottomx"] = TruncToInt(o.ScreenPoint[2].x);
            e["RightBottomy"] = TruncToInt(o.ScreenPoint[2].y);
            e["RightTopx"] = TruncToInt(o.ScreenPoint[1].x);
            e["RightTopy"] = TruncToInt(o.ScreenPoint[1].y);
            data.append(e);
            pictures.push_back(o.ScreenPoint);
        }
        if (pictures.empty())
            continue;
        if (!w.Display)
            BoundingQuad(pictures, w.FramePoint, int(s));
        Json::Value screen(Json::objectValue);
        screen["ScreenLeftTopx"] = TruncToInt(w.FramePoint[0].x);
        screen["ScreenLeftTopy"] = TruncToInt(w.FramePoint[0].y);
        screen["ScreenRightTopx"] = TruncToInt(w.FramePoint[1].x);
        screen["ScreenRightTopy"] = TruncToInt(w.FramePoint[1].y);
        screen["ScreenRightBottomx"] = TruncToInt(w.FramePoint[2].x);
        screen["ScreenRightBottomy"] = TruncToInt(w.FramePoint[2].y);
        screen["ScreenLeftBottomx"] = TruncToInt(w.FramePoint[3].x);
        screen["ScreenLeftBottomy"] = TruncToInt(w.FramePoint[3].y);
        screen["ResolutionWidthTotal"] = Json::UInt(w.ResolutionWidthTotal);
        screen["ResolutionHeightTotal"] = Json::UInt(w.ResolutionHeightTotal);
        screen["Data"] = data;
        root[kScreenKeys[s]] = screen;
    }
    return root;
}

bool SendRotateDocument(const QString& tempFolder, const Json::Value& document, filecommit::WriteFailure* failure)
{
    // A folder that cannot be made shows as the file that cannot be written,
    // with the system's reason.
    platform::ensureFolder(tempFolder);
    const QString path = QDir(tempFolder).filePath(QStringLiteral("Rotate.Json"));
    QString reason;
    QFile in(path);
    if (!jsonio::writeFile(path, document, true, &reason) || !in.open(QIODevice::ReadOnly)) {
        if (failure)
            *failure = {path, reason.isEmpty() ? in.errorString() : reason};
        return false;
    }
    const QByteArray payload = in.readAll();
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_ROTATE_CONFIG;
    auto request = std::make_unique<SendRequest>();
    if (!request->SetPacket(h, payload))
        return false;
    return SendToMainWindow(request.release());
}

// ================================================================ Rotate.QVE

Json::Value BuildRotateConfig(const RotateModel& model)
{
    Json::Value root(Json::objectValue);
    root["Msg"] = kRotateConfigMsg;
    Json::Value params(Json::arrayValue);
    Json::Value rects(Json::arrayValue);
    for (std::size_t s = 0; s < kScreenCount; ++s) {
        Json::Value devices(Json::arrayValue);
        Json::Value outputs(Json::arrayValue);
        const WallScreen& w = model.walls[s];
        for (std::size_t k = 0; k < kSlotCount; ++k) {
            Json::Value d(Json::objectValue);
            writeDevice(d, model.devices[s].slot[k]);
            devices.append(d);
            const WallOutput& o = w.outputs[k];
            Json::Value out(Json::objectValue);
            writeDevice(out, o);
            out["Channel"] = Json::UInt(o.Channel);
            out["Display"] = o.Display != 0;
            out["FontAngle"] = o.FontAngle;
            out["FrameAngle"] = o.FrameAngle;
            writeQuad(out, kFrameNames, o.FramePoint);
            writeQuad(out, kScreenNames, o.ScreenPoint);
            outputs.append(out);
        }
        Json::Value param(Json::objectValue);
        param["OutputDeviceProperties"] = devices;
        params.append(param);
        Json::Value background(Json::objectValue);
        background["Display"] = w.Display != 0;
        writeQuad(background, kFrameNames, w.FramePoint);
        background["RatioHeight"] = Json::UInt(w.RatioHeight);
        background["RatioWidth"] = Json::UInt(w.RatioWidth);
        Json::Value rect(Json::objectValue);
        rect["BackgroundRect"] = background;
        rect["Column"] = Json::UInt(w.Column);
        rect["RotateRectPoint"] = outputs;
        rect["Row"] = Json::UInt(w.Row);
        rect["ShowScale"] = w.ShowScale;
        rects.append(rect);
    }
    root["RotateParam"] = params;
    root["RotateRect"] = rects;
    root["UpdateVideoWall"] = model.UpdateVideoWall;
    root["Manufacturer"] = utf8(model.currentManufacturer);
    root["Model"] = utf8(model.currentModel);
    return root;
}

QByteArray WriteRotateConfig(const RotateModel& model)
{
    const std::string text = jsonio::write(BuildRotateConfig(model));
    return QByteArray(text.data(), qsizetype(text.size()));
}

bool ParseRotateConfig(const QByteArray& text, RotateModel& model)
{
    if (text.isEmpty())
        return false;
    Json::Value root;
    if (!jsonio::parsePlayerDocument(text, root) || !root.isObject())
        return false;
    const Json::Value& msg = member(root, "Msg");
    if (!msg.isString() || msg.asString() != kRotateConfigMsg)
        return false;

    // Everything is read into copies first: a refused document changes nothing.
    std::array<DeviceBlock, kScreenCount> devices = model.devices;
    std::array<WallScreen, kScreenCount> walls = model.walls;
    const Json::Value& wallFlag = member(root, "UpdateVideoWall");
    const bool updateWall = wallFlag.isBool() && wallFlag.asBool();
    const QString manufacturer = textOr(member(root, "Manufacturer"), "(Projector)");
    const QString modelName = textOr(member(root, "Model"), "1920x1080");

    const Json::Value& params = member(root, "RotateParam");
    const bool recount = params.isArray();
    if (params.isArray()) {
        for (Json::ArrayIndex s = 0; s < kScreenCount && s < params.size(); ++s) {
            const Json::Value& slot = member(params[s], "OutputDeviceProperties");
            if (!slot.isArray())
                continue;
            for (Json::ArrayIndex k = 0; k < kSlotCount; ++k)
                readDevice(element(slot, k), devices[s].slot[k]);
        }
    }

    const Json::Value& rects = member(root, "RotateRect");
    if (updateWall && rects.isArray()) {
        for (Json::ArrayIndex s = 0; s < kScreenCount && s < rects.size(); ++s) {
            const Json::Value& r = rects[s];
            WallScreen& w = walls[s];
            const Json::Value& points = member(r, "RotateRectPoint");
            if (points.isArray()) {
                for (Json::ArrayIndex k = 0; k < kSlotCount; ++k) {
                    const Json::Value& p = element(points, k);
                    WallOutput& o = w.outputs[k];
                    readDevice(p, o);
                    o.Channel = u16Or(member(p, "Channel"), 0);
                    const Json::Value& display = member(p, "Display");
                    o.Display = display.isBool() && display.asBool() ? 1 : 0;
                    o.FrameAngle = realOr(member(p, "FrameAngle"), 0);
                    o.FontAngle = realOr(member(p, "FontAngle"), 0);
                    readQuad(p, kFrameNames, o.FramePoint);
                    readQuad(p, kScreenNames, o.ScreenPoint);
                    o.CentreX = (o.FramePoint[0].x + o.FramePoint[2].x) * 0.5;
                    o.CentreY = (o.FramePoint[0].y + o.FramePoint[2].y) * 0.5;
                }
            }
            // Values the editor could never have produced take their
            // defaults: a scale outside the wheel's range, a ratio outside
            // what "Set" accepts; a grid above nine becomes nine.
            const double scale = realOr(member(r, "ShowScale"), kDefaultShowScale);
            w.ShowScale = scale >= kMinShowScale && scale <= kMaxShowScale ? scale : kDefaultShowScale;
            w.Row = std::min<uint16_t>(u16Or(member(r, "Row"), 1), 9);
            w.Column = std::min<uint16_t>(u16Or(member(r, "Column"), 1), 9);
            const Json::Value& bg = member(r, "BackgroundRect");
            const Json::Value& bgDisplay = member(bg, "Display");
            w.Display = bgDisplay.isBool() && bgDisplay.asBool() ? 1 : 0;
            auto ratio = [&](const char* name, uint16_t fallback) {
                const Json::Value& v = member(bg, name);
                if (!v.isInt64())
                    return fallback;
                const int64_t n = v.asInt64();
                return n >= 1 && n <= 10000 ? uint16_t(n) : fallback;
            };
            w.RatioWidth = ratio("RatioWidth", 4);
            w.RatioHeight = ratio("RatioHeight", 3);
            readQuad(bg, kFrameNames, w.FramePoint);
            w.ResolutionWidthTotal = 5760;
            w.ResolutionHeightTotal = 3240;
        }
    }

    model.devices = devices;
    model.walls = walls;
    model.UpdateVideoWall = updateWall;
    model.currentManufacturer = manufacturer;
    model.currentModel = modelName;
    if (recount)
        model.CountOutputs();
    if (updateWall && rects.isArray())
        model.CurrentScreen = 0;
    return true;
}

QString RotateConfigPath(const QString& playerFolder)
{
    return QDir(playerFolder).filePath(QStringLiteral("config/Rotate.QVE"));
}

bool SaveRotateConfigFile(const QString& playerFolder, const RotateModel& model, QString* error)
{
    const QString path = RotateConfigPath(playerFolder);
    // A folder that cannot be made shows as the file that cannot be written,
    // with the write's own reason.
    platform::ensureFolder(QFileInfo(path).absolutePath());
    return jsonio::writeFile(path, BuildRotateConfig(model), true, error);
}

// ================================================================ monitors.json

QString MonitorFilePath()
{
    return platform::homePath(QStringLiteral("Monitor/monitors.json"));
}

bool ParseMonitorList(const QByteArray& text, std::vector<OutputDevice>& list)
{
    if (text.isEmpty())
        return false;
    Json::Value root;
    if (!jsonio::parsePlayerDocument(text, root) || !root.isObject())
        return false;
    const Json::Value* entries = root.find("entries", "entries" + 7);
    if (!entries)
        return false;
    // The writer stores an empty list as null: it reads back as empty, so a
    // deleted last model is not offered again.
    if (entries->isNull()) {
        list.clear();
        return true;
    }
    if (!entries->isArray())
        return true;
    std::vector<OutputDevice> out;
    for (const Json::Value& e : *entries) {
        if (!e.isArray() || e.size() != 11 || !e[0].isString() || !e[1].isString())
            continue;
        bool numbers = true;
        for (Json::ArrayIndex i = 2; i < 11; ++i)
            numbers = numbers && e[i].isNumeric() && std::isfinite(e[i].asDouble());
        if (!numbers)
            continue;
        OutputDevice d;
        d.Manufacturer = nameOf(e[0]);
        d.Model = nameOf(e[1]);
        d.ScreenWidth = e[2].asDouble();
        d.ScreenHeight = e[3].asDouble();
        d.BezelLeft = e[4].asDouble();
        d.BezelRight = e[5].asDouble();
        d.BezelTop = e[6].asDouble();
        d.BezelBottom = e[7].asDouble();
        d.ResolutionWidth = e[8].asDouble();
        d.ResolutionHeight = e[9].asDouble();
        d.RefreshRate = e[10].asDouble();
        out.push_back(d);
    }
    list = std::move(out);
    return true;
}

namespace {
Json::Value buildMonitorList(const std::vector<OutputDevice>& list)
{
    Json::Value root(Json::objectValue);
    root["entries"] = Json::Value();
    for (const OutputDevice& d : list) {
        Json::Value e(Json::arrayValue);
        e.append(utf8(d.Manufacturer));
        e.append(utf8(d.Model));
        for (double v : {d.ScreenWidth, d.ScreenHeight, d.BezelLeft, d.BezelRight, d.BezelTop, d.BezelBottom,
                         d.ResolutionWidth, d.ResolutionHeight, d.RefreshRate})
            e.append(Json::Value(v));
        root["entries"].append(e);
    }
    return root;
}
}  // namespace

QByteArray WriteMonitorList(const std::vector<OutputDevice>& list)
{
    const std::string text = jsonio::write(buildMonitorList(list));
    return QByteArray(text.data(), qsizetype(text.size()));
}

bool LoadMonitorFile(std::vector<OutputDevice>& list)
{
    QFile in(MonitorFilePath());
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QByteArray text = in.readAll();
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);
    return ParseMonitorList(text, list);
}

bool SaveMonitorFile(const std::vector<OutputDevice>& list, unsigned language, QString* error)
{
    const QString path = MonitorFilePath();
    QString why;
    bool ok = platform::ensureFolder(QFileInfo(path).absolutePath());
    if (ok)
        ok = jsonio::writeFile(path, buildMonitorList(list), true, &why);
    if (!ok && error)
        *error = platform::pickText(language, QStringLiteral("The monitor list could not be saved: %1\n%2"),
                                    QStringLiteral("无法保存显示器列表：%1\n%2"))
                     .arg(QDir::toNativeSeparators(path), why);
    return ok;
}

std::vector<QString> ManufacturerNames(const std::vector<OutputDevice>& list)
{
    std::vector<QString> names;
    for (const OutputDevice& d : list)
        if (std::find(names.begin(), names.end(), d.Manufacturer) == names.end())
            names.push_back(d.Manufacturer);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<QString> ModelNames(const std::vector<OutputDevice>& list, const QString& manufacturer)
{
    std::vector<QString> names;
    for (const OutputDevice& d : list)
        if (d.Manufacturer == manufacturer)
            names.push_back(d.Model);
    std::sort(names.begin(), names.end());
    return names;
}

int FindMonitor(const std::vector<OutputDevice>& list, const QString& manufacturer, const QString& model)
{
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].Manufacturer == manufacturer && list[i].Model == model)
            return int(i);
    return -1;
}

QString CleanNumberText(QString text)
{
    for (int guard = 0; guard < 10000 && !text.isEmpty(); ++guard) {
        const qsizetype first = text.indexOf(QLatin1Char('.'));
        const qsizetype second = first >= 0 ? text.indexOf(QLatin1Char('.'), first + 1) : -1;
        if (second >= 0) {
            text.remove(second, 1);
            continue;
        }
        qsizetype bad = -1;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            if (!(c >= QLatin1Char('0') && c <= QLatin1Char('9')) && c != QLatin1Char('.')) {
                bad = i;
                break;
            }
        }
        if (bad < 0)
            break;
        text.remove(bad, 1);
    }
    return text;
}

double NumberFromText(const QString& text)
{
    qsizetype end = 0;
    bool point = false;
    while (end < text.size()) {
        const QChar c = text[end];
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            ++end;
        } else if (c == QLatin1Char('.') && !point) {
            point = true;
            ++end;
        } else {
            break;
        }
    }
    bool ok = false;
    const double v = text.left(end).toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0;
}

}  // namespace rotation
