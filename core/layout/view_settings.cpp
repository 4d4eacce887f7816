#include "core/layout/view_settings.h"

#include "common/json_coding.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace layout {

namespace {

const char* const kColumnKeys[2] = {"ViewOneGridWidth", "ViewTwoGridWidth"};
const char* const kRowKeys[2] = {"ViewOneGridHeight", "ViewTwoGridHeight"};
const char* const kZoomKeys[2] = {"ViewOneZoom", "ViewTwoZoom"};

// Steps are counted in tenths so that repeated steps do not drift.
double roundTenths(double v)
{
    return std::round(v * 10.0) / 10.0;
}

}  // namespace

double ZoomOut(double zoom)
{
    return std::max(kMinZoom, roundTenths(std::max(kMinZoom, zoom - 0.1)));
}

double ZoomIn(double zoom)
{
    return std::min(kMaxZoom, roundTenths(std::min(kMaxZoom, zoom + 0.1)));
}

static Json::Value gridDocument(const ViewSettings& s)
{
    Json::Value root(Json::objectValue);
    root["Msg"] = "Grid config";
    for (int v = 0; v < 2; ++v) {
        root[kColumnKeys[v]] = s.columns[std::size_t(v)];
        root[kRowKeys[v]] = s.rows[std::size_t(v)];
        root[kZoomKeys[v]] = s.zoom[std::size_t(v)];
    }
    root["LayOutLock"] = s.locked;
    return root;
}

QByteArray GridSettingsText(const ViewSettings& s)
{
    return QByteArray::fromStdString(jsonio::write(gridDocument(s)));
}

bool ReadGridSettings(const QByteArray& text, ViewSettings& s)
{
    Json::Value root;
    if (!jsonio::parseDocument(text, root) || !root.isObject())
        return false;
    if (!root["Msg"].isString() || root["Msg"].asString() != "Grid config")
        return false;
    for (int v = 0; v < 2; ++v) {
        const auto i = std::size_t(v);
        if (root[kColumnKeys[v]].isInt())
            s.columns[i] = std::clamp(root[kColumnKeys[v]].asInt(), kMinGrid, kMaxGrid);
        if (root[kRowKeys[v]].isInt())
            s.rows[i] = std::clamp(root[kRowKeys[v]].asInt(), kMinGrid, kMaxGrid);
        if (root[kZoomKeys[v]].isNumeric()) {
            const double z = root[kZoomKeys[v]].asDouble();
            if (std::isfinite(z))
                s.zoom[i] = std::clamp(z, kMinZoom, kMaxZoom);
        }
    }
    if (root["LayOutLock"].isBool())
        s.locked = root["LayOutLock"].asBool();
    return true;
}

bool WriteGridFile(const QString& path, const ViewSettings& s, QString* error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    return jsonio::writeFile(path, gridDocument(s), true, error);
}

}  // namespace layout
