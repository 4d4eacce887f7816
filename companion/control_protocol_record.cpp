#include "companion/control_protocol_record.h"

#include "common/json_coding.h"
#include "common/text_coding.h"

#include <json/json.h>

#include <cstring>

namespace {

using namespace Qt::StringLiterals;

// The option lists of the play and display numbers, English and Chinese,
// by number (Random .. AspectRatio).
struct OptionTexts {
    SerialSettings::Number number;
    QStringList english;
    QStringList chinese;
};

const std::array<OptionTexts, 7>& optionTable()
{
    static const std::array<OptionTexts, 7> table{{
        {SerialSettings::Random, {u"Folder Random"_s, u"All Random"_s}, {u"文件夹随机"_s, u"全部随机"_s}},
        {SerialSettings::Repeat, {u"Single Loop Play"_s, u"Folder Loop Play"_s},
         {u"单曲循环播放"_s, u"文件夹循环播放"_s}},
        {SerialSettings::PlayMode,
         {u"Single Loop"_s, u"Folder Loop"_s, u"Folder Random"_s, u"All Random"_s, u"Single Play"_s},
         {u"单曲循环"_s, u"文件夹循环"_s, u"文件夹随机"_s, u"全部随机"_s, u"单曲播放"_s}},
        {SerialSettings::LayOutMov, {u"Disable"_s, u"Enable"_s}, {u"禁用"_s, u"启用"_s}},
        {SerialSettings::AudioOutChl, {u"Screen 1"_s, u"Screen 2"_s}, {u"屏幕1"_s, u"屏幕2"_s}},
        {SerialSettings::Language, {u"Chinese"_s, u"English"_s}, {u"中文"_s, u"英文"_s}},
        {SerialSettings::AspectRatio, {u"UnLock"_s, u"Lock"_s}, {u"解锁"_s, u"锁定"_s}},
    }};
    return table;
}

std::string utf8(const QString& text)
{
    return text::CStringToUtf8(text);
}

// A member of an object; null for anything else (jsoncpp throws when a
// non-object is indexed by name).
const Json::Value& member(const Json::Value& object, const char* key)
{
    static const Json::Value none;
    if (!object.isObject())
        return none;
    const Json::Value* found = object.find(key, key + std::strlen(key));
    return found ? *found : none;
}

const Json::Value& element(const Json::Value& array, Json::ArrayIndex index)
{
    static const Json::Value none;
    if (!array.isArray() || index >= array.size())
        return none;
    return array[index];
}

void readNumber(const Json::Value& value, uint32_t& out)
{
    // isUInt also takes an integral floating value in range, never a bool,
    // a string or a negative number.
    if (value.isUInt())
        out = value.asUInt();
}

void readText(const Json::Value& value, QString& out)
{
    if (!value.isString())
        return;
    const char* begin = nullptr;
    const char* end = nullptr;
    value.getString(&begin, &end);
    // \u escapes of Chinese characters come out of the reader as code-page
    // bytes: the shared rule decodes them as the same characters.
    out = text::DecodeUtf8OrCodePage(QByteArray(begin, qsizetype(end - begin)));
}

Json::Value switchEntry(const SwitchCommand& entry, const char* nameKey)
{
    Json::Value object(Json::objectValue);
    object[nameKey] = utf8(entry.name);
    object["SendCmd"] = utf8(entry.sendCmd);
    object["RecvCmd"] = utf8(entry.recvCmd);
    return object;
}

template <std::size_t N>
void readSwitchEntries(const Json::Value& array, std::array<SwitchCommand, N>& entries, const char* nameKey)
{
    if (!array.isArray())
        return;
    for (std::size_t i = 0; i < N; ++i) {
        const Json::Value& entry = element(array, Json::ArrayIndex(i));
        readText(member(entry, nameKey), entries[i].name);
        readText(member(entry, "SendCmd"), entries[i].sendCmd);
        readText(member(entry, "RecvCmd"), entries[i].recvCmd);
    }
}

Json::Value buildTree(const ControlProtocolRecord& record)
{
    Json::Value root(Json::objectValue);
    Json::Value& host = root["QveDev"] = Json::Value(Json::objectValue);
    host["QVEName"] = Json::UInt(record.nameIndex);
    host["QVEServerIP"] = utf8(record.serverIp);
    host["QVEServerPort"] = Json::UInt(record.serverPort);

    Json::Value& serial = root["Serial"] = Json::Value(Json::objectValue);
    for (std::size_t i = 0; i < SerialSettings::kNumberCount; ++i)
        serial[SerialSettings::numberKeys()[i]] = Json::UInt(record.serial.numbers[i]);
    for (std::size_t i = 0; i < SerialSettings::kCommandCount; ++i)
        serial[SerialSettings::commandKeys()[i]] = utf8(record.serial.commands[i]);

    Json::Value& folders = root["VideoType"] = Json::Value(Json::arrayValue);
    for (const SwitchCommand& entry : record.videoTypes)
        folders.append(switchEntry(entry, "TypeName"));
    Json::Value& layouts = root["LayOut"] = Json::Value(Json::arrayValue);
    for (const SwitchCommand& entry : record.layouts)
        layouts.append(switchEntry(entry, "LayOutName"));

    Json::Value& projectors = root["Projector"] = Json::Value(Json::arrayValue);
    for (const ProjectorCommands& projector : record.projectors) {
        Json::Value object(Json::objectValue);
        object["IP"] = utf8(projector.ip);
        Json::Value& pairs = object["Cmd"] = Json::Value(Json::arrayValue);
        for (std::size_t k = 0; k < ProjectorCommands::kPairs; ++k) {
            Json::Value pair(Json::objectValue);
            pair["ONCmd"] = utf8(projector.onCmd[k]);
            pair["OFFCmd"] = utf8(projector.offCmd[k]);
            pairs.append(pair);
        }
        projectors.append(object);
    }
    return root;
}

}  // namespace

const std::array<const char*, SerialSettings::kNumberCount>& SerialSettings::numberKeys()
{
    static const std::array<const char*, kNumberCount> keys{"BaudRate", "DataBit",     "StopBit",  "Parity",
                                                            "Random",   "Repeat",      "PlayMode", "LayOutMov",
                                                            "AudioOutChl", "Language", "AspectRatio"};
    return keys;
}

const std::array<const char*, SerialSettings::kCommandCount>& SerialSettings::commandKeys()
{
    static const std::array<const char*, kCommandCount> keys{
        "Play",       "Pause",     "BackType",   "NextType",  "SceneLock",  "SceneUnLock", "BackVideo", "NextVideo",
        "VolumeAdd",  "VolumeSub", "ProjectorON", "ProjectorOFF", "WagWinON", "WagWinOFF", "AllWinON", "AllWinOFF",
        "RandomPlay", "LoopPlay",  "PlayStop",   "PowerOn",   "PowerOff",   "Auto",        "Hand"};
    return keys;
}

QStringList SerialSettings::options(Number number, unsigned language)
{
    for (const OptionTexts& row : optionTable())
        if (row.number == number)
            return language == 4 ? row.chinese : row.english;
    return {};
}

std::array<QString, ControlProtocolRecord::kHostNames> ControlProtocolRecord::defaultHostNames()
{
    return {u"QVE"_s, u"Song Host B"_s, u"Song Host C"_s};
}

void ControlProtocolRecord::upperCaseCommands()
{
    for (QString& command : serial.commands)
        command = command.toUpper();
    for (auto* entries : {&videoTypes, &layouts}) {
        for (SwitchCommand& entry : *entries) {
            entry.sendCmd = entry.sendCmd.toUpper();
            entry.recvCmd = entry.recvCmd.toUpper();
        }
    }
    for (ProjectorCommands& projector : projectors) {
        for (std::size_t k = 0; k < ProjectorCommands::kPairs; ++k) {
            projector.onCmd[k] = projector.onCmd[k].toUpper();
            projector.offCmd[k] = projector.offCmd[k].toUpper();
        }
    }
}

QByteArray ControlProtocolJson(const ControlProtocolRecord& record)
{
    return QByteArray::fromStdString(jsonio::write(buildTree(record)));
}

bool WriteProtocolJson(const QString& path, const ControlProtocolRecord& record, QString* error)
{
    return jsonio::writeFile(path, buildTree(record), false, error);
}

bool ReadProtocolJson(const QByteArray& text, ControlProtocolRecord& record)
{
    Json::Value root;
    if (text.isEmpty() || !jsonio::parsePlayerDocument(text, root) || !root.isObject())
        return false;

    ControlProtocolRecord read = record;
    const Json::Value& host = member(root, "QveDev");
    readNumber(member(host, "QVEName"), read.nameIndex);
    readText(member(host, "QVEServerIP"), read.serverIp);
    readNumber(member(host, "QVEServerPort"), read.serverPort);

    const Json::Value& serial = member(root, "Serial");
    for (std::size_t i = 0; i < SerialSettings::kNumberCount; ++i)
        readNumber(member(serial, SerialSettings::numberKeys()[i]), read.serial.numbers[i]);
    for (std::size_t i = 0; i < SerialSettings::kCommandCount; ++i)
        readText(member(serial, SerialSettings::commandKeys()[i]), read.serial.commands[i]);

    readSwitchEntries(member(root, "VideoType"), read.videoTypes, "TypeName");
    readSwitchEntries(member(root, "LayOut"), read.layouts, "LayOutName");

    const Json::Value& projectors = member(root, "Projector");
    if (projectors.isArray()) {
        for (std::size_t i = 0; i < ControlProtocolRecord::kProjectors; ++i) {
            const Json::Value& entry = element(projectors, Json::ArrayIndex(i));
            ProjectorCommands& projector = read.projectors[i];
            readText(member(entry, "IP"), projector.ip);
            const Json::Value& pairs = member(entry, "Cmd");
            if (!pairs.isArray())
                continue;
            for (std::size_t k = 0; k < ProjectorCommands::kPairs; ++k) {
                const Json::Value& pair = element(pairs, Json::ArrayIndex(k));
                readText(member(pair, "ONCmd"), projector.onCmd[k]);
                readText(member(pair, "OFFCmd"), projector.offCmd[k]);
            }
        }
    }
    read.upperCaseCommands();
    record = std::move(read);
    return true;
}

bool IsHexCommand(const QString& text)
{
    if (text.size() % 2 != 0)
        return false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool hex = (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F') || (u >= u'a' && u <= u'f');
        if (!hex)
            return false;
    }
    return true;
}

bool NormaliseCommand(const QString& typed, QString& normalised)
{
    QString result = typed.toUpper().trimmed();
    result.remove(u' ');
    result.remove(u'\t');
    normalised = result;
    return IsHexCommand(normalised);
}
