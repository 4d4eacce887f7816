#include "companion/osd_record.h"

#include "common/json_coding.h"
#include "common/text_coding.h"

#include <json/json.h>

#include <algorithm>
#include <cstring>

namespace {

const Json::Value& member(const Json::Value& object, const char* key)
{
    static const Json::Value none;
    if (!object.isObject())
        return none;
    const Json::Value* found = object.find(key, key + std::strlen(key));
    return found ? *found : none;
}

void readUnsigned(const Json::Value& value, uint32_t& out)
{
    // isUInt takes an integral real in range too, never a bool, a string or
    // a negative number.
    if (value.isUInt())
        out = value.asUInt();
}

void readFraction(const Json::Value& value, double& out)
{
    // isDouble: any number (integer, unsigned or real), never a bool.
    if (value.isDouble())
        out = value.asDouble();
}

Json::Value tree(const OsdSettings& s)
{
    Json::Value entry(Json::objectValue);
    entry["bgColor"] = Json::UInt(s.bgColor);
    entry["bgCorner"] = Json::UInt(s.bgCorner);
    entry["textColor"] = Json::UInt(s.textColor);
    entry["showTime"] = Json::UInt(s.showTime);
    entry["speed"] = Json::UInt(s.speed);
    entry["transparent"] = Json::UInt(s.transparent);
    entry["left"] = s.left;
    entry["top"] = s.top;
    entry["width"] = s.width;
    entry["height"] = s.height;
    entry["text"] = text::CStringToUtf8(s.text);
    entry["osdEnable"] = s.osdEnable;
    Json::Value data(Json::arrayValue);
    data.append(entry);
    Json::Value root(Json::objectValue);
    root["data"] = data;
    return root;
}

}  // namespace

int OsdTextBytes(const QString& text)
{
    return int(text::stringToLocal(text).size());
}

bool OsdTextFits(const QString& text)
{
    return OsdTextBytes(text) <= OsdSettings::kMaxTextBytes;
}

QByteArray OsdJson(const OsdSettings& settings)
{
    return QByteArray::fromStdString(jsonio::write(tree(settings)));
}

bool WriteOsdJson(const QString& path, const OsdSettings& settings, QString* error)
{
    return jsonio::writeFile(path, tree(settings), false, error);
}

bool ReadOsdJson(const QByteArray& text, OsdSettings& settings)
{
    Json::Value root;
    if (text.isEmpty() || !jsonio::parsePlayerDocument(text, root))
        return false;
    const Json::Value& data = member(root, "data");
    if (!data.isArray() || data.empty())
        return true;
    const Json::Value& entry = data[0];
    OsdSettings read = settings;
    readUnsigned(member(entry, "bgColor"), read.bgColor);
    readUnsigned(member(entry, "textColor"), read.textColor);
    readUnsigned(member(entry, "bgCorner"), read.bgCorner);
    readUnsigned(member(entry, "showTime"), read.showTime);
    readUnsigned(member(entry, "transparent"), read.transparent);
    const Json::Value& speed = member(entry, "speed");
    if (speed.isUInt())
        read.speed = std::clamp(speed.asUInt(), OsdSettings::kMinSpeed, OsdSettings::kMaxSpeed);
    readFraction(member(entry, "left"), read.left);
    readFraction(member(entry, "top"), read.top);
    readFraction(member(entry, "width"), read.width);
    readFraction(member(entry, "height"), read.height);
    const Json::Value& textValue = member(entry, "text");
    if (textValue.isString()) {
        const char* begin = nullptr;
        const char* end = nullptr;
        textValue.getString(&begin, &end);
        read.text = text::DecodeUtf8OrCodePage(QByteArray(begin, qsizetype(end - begin)));
    }
    const Json::Value& enable = member(entry, "osdEnable");
    if (enable.isBool())
        read.osdEnable = enable.asBool();
    settings = std::move(read);
    return true;
}

uint32_t OsdColourValue(uint8_t red, uint8_t green, uint8_t blue)
{
    return uint32_t(red) | (uint32_t(green) << 8) | (uint32_t(blue) << 16);
}
