#include "content/play_mode_model.h"

#include "common/json_coding.h"
#include "common/text_coding.h"

#include <limits>
#include <memory>

namespace playmode {

namespace {

// Strings of the player's documents: UTF-8 when they are (escapes included),
// else code page 936 (raw bytes of a player that writes them so), so a text
// goes back as the same characters.
QString decoded(const Json::Value& v)
{
    const std::string& s = v.asString();
    return text::DecodeUtf8OrCodePage(QByteArray(s.data(), qsizetype(s.size())));
}

Json::Value encoded(const QString& s)
{
    return Json::Value(text::CStringToUtf8(s));
}

bool isI32(const Json::Value& v)
{
    return v.isInt();
}

void readParam(const Json::Value& obj, PlayMode& mode)
{
    if (!obj.isObject())
        return;
    EffectParam p;
    if (obj.isMember("keyVal") && obj["keyVal"].isString())
        p.keyVal = decoded(obj["keyVal"]);
    if (obj.isMember("lableName") && obj["lableName"].isString())
        p.lableName = decoded(obj["lableName"]);
    if (obj.isMember("remarks") && obj["remarks"].isString())
        p.remarks = decoded(obj["remarks"]);
    // The type is checked before it is narrowed: 65539 is no type at all,
    // not type 3. A type of another JSON kind reads as 0.
    if (obj.isMember("inputType") && obj["inputType"].isIntegral()) {
        const Json::Value& t = obj["inputType"];
        const bool inRange = t.isInt64() && t.asInt64() >= 0 && t.asInt64() <= kLastInputType;
        if (!inRange)
            return;
        p.inputType = uint16_t(t.asInt64());
    }
    if (!obj.isMember("select") || !obj.isMember("valueRange") || !obj["valueRange"].isArray())
        return;
    const Json::Value& select = obj["select"];
    const Json::Value& range = obj["valueRange"];
    switch (p.inputType) {
    case kInteger:
        if (isI32(select))
            p.integerValue = select.asInt();
        break;
    case kDecimal:
        if (select.isNumeric() && !select.isBool())
            p.decimalValue = select.asFloat();
        break;
    case kText:
        if (select.isString())
            p.textValue = decoded(select);
        break;
    case kIntegerChoice:
        for (const Json::Value& e : range)
            if (isI32(e))
                p.integerOptions.push_back(e.asInt());
        if (isI32(select))
            p.integerChoice = select.asInt();
        break;
    case kDecimalChoice:
        for (const Json::Value& e : range)
            if (e.isNumeric() && !e.isBool())
                p.decimalOptions.push_back(e.asFloat());
        if (select.isNumeric() && !select.isBool())
            p.decimalChoice = select.asFloat();
        break;
    case kTextChoice:
        for (const Json::Value& e : range)
            if (e.isString())
                p.textOptions.append(decoded(e));
        if (select.isString())
            p.textChoice = decoded(select);
        if (p.keyVal == QLatin1String(kTypeKey))
            mode.name = p.textChoice;
        break;
    case kIntegerRange:
        if (range.size() == 2) {
            if (isI32(range[0]) && isI32(range[1])) {
                p.integerMin = std::min(range[0].asInt(), range[1].asInt());
                p.integerMax = std::max(range[0].asInt(), range[1].asInt());
            }
            if (isI32(select))
                p.integerInRange = select.asInt();
        }
        break;
    case kDecimalRange:
        if (range.size() == 2) {
            const bool numbers = range[0].isNumeric() && !range[0].isBool() && range[1].isNumeric() &&
                                 !range[1].isBool();
            if (numbers) {
                p.decimalMin = std::min(range[0].asFloat(), range[1].asFloat());
                p.decimalMax = std::max(range[0].asFloat(), range[1].asFloat());
            }
            if (select.isNumeric() && !select.isBool())
                p.decimalInRange = select.asFloat();
        }
        break;
    case kTextMultiChoice:
        for (const Json::Value& e : range)
            if (e.isString())
                p.listOptions.append(decoded(e));
        if (select.isArray())
            for (const Json::Value& e : select)
                if (e.isString())
                    p.listChoices.append(decoded(e));
        break;
    default:
        return;
    }
    mode.params.push_back(std::move(p));
}

Json::Value writeParam(const EffectParam& p, const QStringList& imageTypes)
{
    Json::Value o(Json::objectValue);
    o["keyVal"] = encoded(p.keyVal);
    o["inputType"] = Json::Value(int(p.inputType));
    o["lableName"] = encoded(p.lableName);
    o["remarks"] = encoded(p.remarks);
    Json::Value range(Json::arrayValue);
    Json::Value select;
    switch (p.inputType) {
    case kInteger:
        range.append(p.integerValue);
        select = p.integerValue;
        break;
    case kDecimal:
        range.append(double(p.decimalValue));
        select = double(p.decimalValue);
        break;
    case kText:
        range.append(encoded(p.textValue));
        select = encoded(p.textValue);
        break;
    case kIntegerChoice:
        for (int32_t v : p.integerOptions)
            range.append(v);
        select = p.integerChoice;
        break;
    case kDecimalChoice:
        for (float v : p.decimalOptions)
            range.append(double(v));
        select = double(p.decimalChoice);
        break;
    case kTextChoice:
        for (const QString& v : p.textOptions)
            range.append(encoded(v));
        select = encoded(p.textChoice);
        break;
    case kIntegerRange:
        range.append(p.integerMin);
        range.append(p.integerMax);
        select = p.integerInRange;
        break;
    case kDecimalRange:
        range.append(double(p.decimalMin));
        range.append(double(p.decimalMax));
        select = double(p.decimalInRange);
        break;
    case kTextMultiChoice: {
        for (const QString& v : p.listOptions)
            range.append(encoded(v));
        select = Json::Value(Json::arrayValue);
        const bool pictureType = p.keyVal == QLatin1String(kPictureTypeKey);
        for (const QString& v : p.listChoices)
            if (!pictureType || imageTypes.contains(v))
                select.append(encoded(v));
        break;
    }
    default:
        break;
    }
    o["valueRange"] = range;
    o["select"] = select;
    return o;
}

// The player's documents: escapes read as UTF-8, so a picture type written as
// "\u56fe" comes back as the same character.
bool parseDocument(const QByteArray& payload, Json::Value& out)
{
    return jsonio::parsePlayerDocument(payload, out);
}

QByteArray toBytes(const std::string& s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

proto::PlayerPacketHeader header(uint8_t command, uint16_t param, uint16_t arg)
{
    proto::PlayerPacketHeader h;
    h.command = command;
    h.param = param;
    h.arg = arg;
    return h;
}

}  // namespace

bool ReadEffectLists(const QByteArray& payload, std::vector<PlayMode>& target)
{
    Json::Value root;
    if (!parseDocument(payload, root))
        return false;
    if (!root.isObject() || !root.isMember("effectLists") || !root["effectLists"].isArray())
        return true;
    std::vector<PlayMode> modes;
    for (const Json::Value& list : root["effectLists"]) {
        if (!list.isArray() && !list.isNull())
            continue;
        PlayMode mode;
        if (list.isArray())
            for (const Json::Value& obj : list)
                readParam(obj, mode);
        modes.push_back(std::move(mode));
    }
    target = std::move(modes);
    return true;
}

bool ReadImageTypes(const QByteArray& payload, QStringList& target)
{
    Json::Value root;
    if (!parseDocument(payload, root))
        return false;
    QStringList types;
    if (root.isObject() && root.isMember("imageTypes") && root["imageTypes"].isArray())
        for (const Json::Value& e : root["imageTypes"])
            if (e.isString())
                types.append(decoded(e));
    target = types;
    return true;
}

static Json::Value playModeRoot(const std::vector<PlayMode>& modes, const QStringList& imageTypes)
{
    Json::Value lists;  // null until a mode with parameters is written
    for (std::size_t m = 0; m < modes.size(); ++m)
        for (std::size_t p = 0; p < modes[m].params.size(); ++p)
            lists[Json::ArrayIndex(m)][Json::ArrayIndex(p)] = writeParam(modes[m].params[p], imageTypes);
    Json::Value root(Json::objectValue);
    root["effectLists"] = lists;
    return root;
}

QByteArray PlayModeDocument(const std::vector<PlayMode>& modes, const QStringList& imageTypes)
{
    return toBytes(jsonio::write(playModeRoot(modes, imageTypes)));
}

bool WritePlayModeDocument(const QString& path, const std::vector<PlayMode>& modes, const QStringList& imageTypes,
                           QString* error)
{
    return jsonio::writeFile(path, playModeRoot(modes, imageTypes), true, error);
}

proto::PlayerPacketHeader PictureRequest(uint16_t operation)
{
    return header(proto::CMD_PICTURE_PLAY, operation, 0);
}

proto::PlayerPacketHeader VideoReadRequest(uint16_t operation)
{
    return header(proto::CMD_PARAM_FILE, kVideoKind, operation);
}

proto::PlayerPacketHeader VideoUploadRequest()
{
    return header(proto::CMD_PICTURE_PLAY, kVideoKind, kVidUploaded);
}

// ---- Mobile-app settings ----

bool ParseMobileJson(const QByteArray& payload, MobileSettings& out)
{
    Json::Value root;
    if (!parseDocument(payload, root) || !root.isObject())
        return false;
    if (root.isMember("modules") && root["modules"].isArray()) {
        for (const Json::Value& m : root["modules"]) {
            if (!m.isObject() || !m.isMember("name") || !m["name"].isString() || !m.isMember("enable") ||
                !m["enable"].isUInt() || m["enable"].isBool())
                continue;
            out.modules.push_back({decoded(m["name"]), m["enable"].asUInt() != 0});
        }
    }
    if (root.isMember("words") && root["words"].isArray())
        for (const Json::Value& w : root["words"])
            if (w.isString())
                out.words.append(decoded(w));
    out.effects.clear();
    if (root.isMember("effects_new") && root["effects_new"].isArray()) {
        for (const Json::Value& e : root["effects_new"]) {
            if (!e.isObject() || !e.isMember("name") || !e["name"].isString() || !e.isMember("type") ||
                !e["type"].isUInt() || e["type"].isBool())
                continue;
            out.effects.push_back({decoded(e["name"]), e["type"].asUInt()});
        }
    }
    return true;
}

static Json::Value mobileRoot(const MobileSettings& s)
{
    Json::Value root(Json::objectValue);
    Json::Value modules(Json::arrayValue);
    for (std::size_t i = 0; i < s.modules.size(); ++i) {
        Json::Value m(Json::objectValue);
        m["type"] = Json::Value(int(i + 1));
        m["name"] = encoded(s.modules[i].name);
        m["enable"] = Json::Value(s.modules[i].enabled ? 1 : 0);
        modules.append(m);
    }
    Json::Value words(Json::arrayValue);
    for (const QString& w : s.words)
        words.append(encoded(w));
    Json::Value effects(Json::arrayValue);
    for (const MobileEffect& e : s.effects) {
        Json::Value v(Json::objectValue);
        v["name"] = encoded(e.name);
        v["type"] = Json::Value(Json::UInt(e.type));
        effects.append(v);
    }
    root["modules"] = modules;
    root["words"] = words;
    root["effects_new"] = effects;
    return root;
}

QByteArray MobileDocument(const MobileSettings& settings)
{
    return toBytes(jsonio::write(mobileRoot(settings)));
}

bool WriteMobileJson(const QString& path, const MobileSettings& settings, QString* error)
{
    return jsonio::writeFile(path, mobileRoot(settings), true, error);
}

proto::PlayerPacketHeader MobileRequest(uint16_t operation)
{
    return header(proto::CMD_MOBILE_SETTINGS, operation, 0);
}

QStringList ReadPhraseFile(const QByteArray& bytes)
{
    QStringList phrases;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        const bool last = end < 0;
        if (last)
            end = bytes.size();
        QByteArray line = bytes.mid(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        phrases.append(text::localToString(line));
        start = end + 1;
    }
    return phrases;
}

bool EncodePhraseFile(const QStringList& phrases, QByteArray& out, QString* bad)
{
    out.clear();
    for (const QString& phrase : phrases) {
        QByteArray bytes;
        const bool ok = phrase.isEmpty() ||
                        text::NameToDoubleByteText(phrase, bytes, std::numeric_limits<std::size_t>::max());
        // A line break inside a phrase would make two phrases of it.
        if (!ok || phrase.contains(QLatin1Char('\n')) || phrase.contains(QLatin1Char('\r'))) {
            out.clear();
            if (bad)
                *bad = phrase;
            return false;
        }
        out += bytes;
        out += "\r\n";
    }
    return true;
}

}  // namespace playmode
