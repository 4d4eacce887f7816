// The .GFD layout document: "windows config" with one object per window.
#include "core/layout/image_manage.h"

#include "common/json_coding.h"
#include "common/text_coding.h"

#include <QFile>

#include <algorithm>
#include <limits>

namespace {

// Coordinates from a file are held to a range in which widths and moves
// cannot overflow; every editor works far inside it.
constexpr int32_t kCoordinateLimit = 1000000;

int32_t clampCoordinate(int64_t v)
{
    return int32_t(std::clamp<int64_t>(v, -kCoordinateLimit, kCoordinateLimit));
}

bool readInt(const Json::Value& obj, const char* key, int64_t& out)
{
    const Json::Value& v = obj[key];
    if (!v.isInt())
        return false;
    out = v.asInt();
    return true;
}

int64_t intOr(const Json::Value& obj, const char* key, int64_t fallback)
{
    int64_t v = fallback;
    return readInt(obj, key, v) ? v : fallback;
}

bool boolOr(const Json::Value& obj, const char* key, bool fallback)
{
    const Json::Value& v = obj[key];
    return v.isBool() ? v.asBool() : fallback;
}

QByteArray withoutByteOrderMark(const QByteArray& text)
{
    static const QByteArray bom("\xEF\xBB\xBF", 3);
    return text.startsWith(bom) ? text.mid(3) : text;
}

}  // namespace

LayoutReadReport CImageManage::LoadLayout(const QByteArray& rawText)
{
    LayoutReadReport report;
    const QByteArray text = withoutByteOrderMark(rawText);
    if (text.isEmpty()) {
        report.error = QStringLiteral("empty text");
        return report;
    }
    if (!jsonio::JsonBracesBalanced(text) || !jsonio::JsonNestingValid(text)) {
        report.error = QStringLiteral("not a JSON object");
        return report;
    }
    Json::Value root;
    QString parseError;
    if (!jsonio::parse(text, root, &parseError)) {
        report.error = parseError;
        return report;
    }
    if (!root.isObject() || !root["msg"].isString() || root["msg"].asString() != "windows config") {
        report.error = QStringLiteral("no \"windows config\" message");
        return report;
    }
    const Json::Value& data = root["data"];
    if (data.isNull()) {
        report.error = QStringLiteral("no \"data\"");
        return report;
    }
    if (!data.isObject()) {
        report.error = QStringLiteral("\"data\" is not an object");
        return report;
    }
    const Json::Value& image = data["image"];
    if (image.isArray()) {
        for (Json::ArrayIndex i = 0; i < image.size(); ++i) {
            if (!image[i].isObject()) {
                report.error = QStringLiteral("window %1 is not an object").arg(i);
                return report;
            }
        }
    }

    // Checked whole: now the windows are replaced.
    ClearWindows();
    report.loaded = true;
    if (!image.isArray())
        return report;
    const int entries = int(std::min<Json::ArrayIndex>(image.size(), Json::ArrayIndex(std::numeric_limits<int>::max())));
    int count = 0;
    for (int i = 0; i < entries; ++i) {
        if (count >= layout::kMaxWindows) {
            report.droppedWindows = entries - i;
            break;
        }
        const Json::Value& e = image[Json::ArrayIndex(i)];
        const Json::Value& nameValue = e["name"];
        const QString name = nameValue.isString() ? text::Utf8ToCString(QByteArray::fromStdString(nameValue.asString()))
                                                  : QStringLiteral("def.png");
        if (!layout::IsPlainFileName(name)) {
            report.refusedNames << name;
            continue;
        }
        PictureWindow& w = windows_[std::size_t(count)];
        w.name = name;
        w.rect.left = clampCoordinate(intOr(e, "x", 0));
        w.rect.top = clampCoordinate(intOr(e, "y", 0));
        int64_t v = 0;
        w.rect.right = clampCoordinate(readInt(e, "endx", v) ? v + 1 : intOr(e, "w", 32));
        w.rect.bottom = clampCoordinate(readInt(e, "endy", v) ? v + 1 : intOr(e, "h", 32));
        w.channel = uint16_t(intOr(e, "channel", 3));
        w.index = uint16_t(intOr(e, "index", 0));
        const Json::Value& color = e["FrameColor"];
        w.frameColor = color.isUInt() ? color.asUInt() : 0;
        w.viewIndex = uint16_t(intOr(e, "ViewIndex", 0));
        w.wag = boolOr(e, "wagEna", false) ? 1 : 0;
        w.videoImageSync = boolOr(e, "VideoImageSync", true) ? 1 : 0;
        w.selected = 0;
        w.picture = QImage();
        w.twin = QImage();
        if (w.channel == layout::kPictureChannel)
            LoadWindowPictures(w);
        ++count;
    }
    windowCount_ = count;
    return report;
}

namespace {

Json::Value layoutDocument(const CImageManage& model)
{
    Json::Value root(Json::objectValue);
    root["msg"] = "windows config";
    Json::Value images(Json::arrayValue);
    for (int i = 0; i < model.windowCount(); ++i) {
        const PictureWindow& w = model.window(i);
        Json::Value o(Json::objectValue);
        o["x"] = Json::Int(w.rect.left);
        o["y"] = Json::Int(w.rect.top);
        o["w"] = Json::Int(w.rect.right);
        o["h"] = Json::Int(w.rect.bottom);
        o["endx"] = Json::Int(w.rect.right - 1);
        o["endy"] = Json::Int(w.rect.bottom - 1);
        o["name"] = text::CStringToUtf8(w.name);
        o["channel"] = Json::Int(w.channel);
        o["index"] = Json::Int(w.index);
        o["FrameColor"] = Json::UInt(w.frameColor);
        o["ViewIndex"] = Json::Int(w.viewIndex);
        o["wagEna"] = w.wag != 0;
        o["VideoImageSync"] = w.videoImageSync != 0;
        images.append(o);
    }
    Json::Value data(Json::objectValue);
    data["image"] = images;
    root["data"] = data;
    root["imageEna"] = model.windowCount() >= 1;
    root["videoEna"] = false;
    return root;
}

}  // namespace

std::string CImageManage::LayoutText() const
{
    return jsonio::write(layoutDocument(*this));
}

bool CImageManage::SaveLayout(const QString& path, QString* error) const
{
    return jsonio::writeFile(path, layoutDocument(*this), true, error);
}

bool ReadWholeFile(const QString& path, CImageManage& model, LayoutReadReport* report)
{
    QFile file(path);
    LayoutReadReport local;
    LayoutReadReport& r = report ? *report : local;
    r = LayoutReadReport();
    if (!file.open(QIODevice::ReadOnly)) {
        r.error = file.errorString();
        return false;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        r.error = file.errorString();
        return false;
    }
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    r = model.LoadLayout(bytes);
    return r.loaded;
}
