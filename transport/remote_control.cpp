#include "transport/remote_control.h"

#include "common/json_coding.h"
#include "common/text_coding.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstdint>

namespace remote {

namespace {

// A fixed name field of the catalogue with its zero bytes skipped (not
// stopped at), decoded from code page 936.
template <std::size_t N>
QString fieldText(const std::array<uint8_t, N>& field)
{
    QByteArray bytes;
    for (uint8_t b : field)
        if (b != 0)
            bytes.append(char(b));
    return text::DoubleByteTextToCString(bytes);
}

}  // namespace

QString PlayModeLabel(PlayMode mode, int language)
{
    const bool zh = language == 4;
    switch (mode) {
    case PlayMode::TypeLoop: return zh ? QStringLiteral("类别循环") : QStringLiteral("type loop");
    case PlayMode::SingleLoop: return zh ? QStringLiteral("单曲循环") : QStringLiteral("single loop");
    case PlayMode::SinglePlay: return zh ? QStringLiteral("单曲播放") : QStringLiteral("single play");
    case PlayMode::TypeRandom: return zh ? QStringLiteral("类别随机") : QStringLiteral("type random");
    case PlayMode::AllRandom: return zh ? QStringLiteral("全部随机") : QStringLiteral("all random");
    case PlayMode::Previous: return zh ? QStringLiteral("上一首") : QStringLiteral("previous");
    case PlayMode::Next: return zh ? QStringLiteral("下一首") : QStringLiteral("next");
    }
    return {};
}

const char* KeyOfCommand(int cmdId)
{
    switch (cmdId) {
    case kCmdType: return "type";
    case kCmdPlayMode: return "playMode";
    case kCmdLayout: return "layoutName";
    case kCmdSound: return "sound";
    case kCmdPlay: return "play";
    case kCmdProgress: return "playStep";
    case kCmdPlayName: return "playName";
    default: return "";
    }
}

namespace {
Json::Value documentValue(int cmdId, const QString& value)
{
    Json::Value root(Json::objectValue);
    root["cmdId"] = cmdId;
    const char* key = KeyOfCommand(cmdId);
    if (*key)
        root[key] = text::CStringToUtf8(value);
    return root;
}
}  // namespace

QByteArray BuildVideoControlDocument(int cmdId, const QString& value)
{
    return QByteArray::fromStdString(jsonio::write(documentValue(cmdId, value)));
}

QByteArray WriteVideoControlDocument(const QString& folder, int cmdId, const QString& value)
{
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(QLatin1String(kDocumentName));
    if (!jsonio::writeFile(path, documentValue(cmdId, value)))
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QByteArray VideoControlPacket(int cmdId, const QByteArray& document)
{
    if (document.isEmpty() || std::size_t(document.size()) > proto::kBufferSize - proto::kHeaderSize)
        return {};
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_VIDEO_CONTROL;
    h.param = uint16_t(cmdId);
    h.payloadLength = uint32_t(document.size());
    return proto::buildPacket(h, document);
}

std::vector<PlayTypeEntry> TypesFromCatalog(const PlayerCatalog& catalog)
{
    std::vector<PlayTypeEntry> types;
    for (const CatalogCategory& category : catalog.categories) {
        if (category.name[0] == 0)
            continue;
        PlayTypeEntry entry;
        entry.name = fieldText(category.name);
        for (const CatalogVideo& video : catalog.videos) {
            if (fieldText(video.category) != entry.name)
                continue;
            const QString name = fieldText(video.name);
            if (!name.isEmpty())
                entry.videos.append(name);
        }
        types.push_back(std::move(entry));
    }
    return types;
}

QStringList SplitLayoutList(const QString& text)
{
    QStringList layouts;
    QStringList pieces = text.split(QLatin1Char('?'));
    pieces.removeLast();  // after the last '?' (or the whole text without one)
    for (const QString& piece : pieces)
        layouts.append(piece.size() >= 4 ? piece.left(piece.size() - 4) : piece);
    return layouts;
}

void PressListButton(ListButton button, int index, const std::vector<PlayTypeEntry>& types,
                     const QStringList& layouts, bool videoBox, int& listedType,
                     const std::function<void(int cmdId, const QString& value)>& send,
                     const std::function<void(const QStringList& videos)>& listVideos)
{
    const auto typeAt = [&types](int i) { return i >= 0 && i < int(types.size()) ? &types[std::size_t(i)] : nullptr; };
    switch (button) {
    case ListButton::Type:
        if (!typeAt(index))
            return;
        if (!videoBox)
            return send(kCmdType, typeAt(index)->name);
        listedType = index;
        return listVideos(typeAt(index)->videos);
    case ListButton::Video:
        if (const PlayTypeEntry* type = typeAt(listedType); type && index >= 0 && index < type->videos.size())
            send(kCmdPlayName, type->name + QLatin1Char(':') + type->videos[index]);
        return;
    case ListButton::Layout:
        if (index >= 0 && index < layouts.size())
            send(kCmdLayout, layouts[index]);
        return;
    }
}

QString ProgressTimeText(int p, int t)
{
    return QString::asprintf("%02d:%02d:%02d/%02d:%02d:%02d", p / 3600, (p % 3600) / 60, p % 60, t / 3600,
                             (t % 3600) / 60, t % 60);
}

namespace {

// The checks every reply passes before its cmdId is looked at.
bool parseReply(const QByteArray& payload, Json::Value& root)
{
    return !payload.isEmpty() && jsonio::parsePlayerDocument(payload, root) && root.isObject() &&
           root["cmdId"].isInt();
}

QString jsonText(const Json::Value& value)
{
    return text::DecodeUtf8OrCodePage(QByteArray::fromStdString(value.asString()));
}

std::optional<ProgressView> progressOf(const Json::Value& data)
{
    if (!data.isObject())
        return std::nullopt;
    const Json::Value& position = data["currentPosition"];
    const Json::Value& total = data["totalDuration"];
    if (!position.isInt() || !total.isInt())
        return std::nullopt;
    const int p = position.asInt();
    const int t = total.asInt();
    if (p < 0 || t < 1 || p > t)
        return std::nullopt;
    ProgressView view;
    view.percent = int(int64_t(p) * 100 / t);
    view.timeText = ProgressTimeText(p, t);
    const Json::Value& type = data["typeName"];
    const Json::Value& video = data["videoName"];
    if (type.isString() && video.isString()) {
        view.hasName = true;
        view.nameText = jsonText(type) + QStringLiteral("->") + jsonText(video);
    }
    return view;
}

}  // namespace

std::optional<ProgressView> ReadProgressReply(const QByteArray& payload)
{
    Json::Value root;
    if (!parseReply(payload, root) || root["cmdId"].asInt() != kCmdProgress)
        return std::nullopt;
    return progressOf(root["data"]);
}

std::optional<ControlReply> ReadControlReply(const QByteArray& payload)
{
    Json::Value root;
    if (!parseReply(payload, root))
        return std::nullopt;
    ControlReply reply;
    reply.cmdId = root["cmdId"].asInt();
    const Json::Value& data = root["data"];
    if (reply.cmdId == kCmdCapabilities && data.isArray()) {
        reply.hasCapabilityList = true;
        for (const Json::Value& entry : data) {
            if (!entry.isObject())
                continue;
            const Json::Value& label = entry["playMode"];
            const Json::Value& type = entry["type"];
            if (label.isString() && type.isInt())
                reply.capabilities.push_back({type.asInt(), jsonText(label)});
        }
    } else if (reply.cmdId == kCmdProgress) {
        reply.progress = progressOf(data);
    }
    return reply;
}

}  // namespace remote
