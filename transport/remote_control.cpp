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

PanelGeometry PanelLayout(int cx, int cy, int secondRowButtons)
{
    PanelGeometry g;
    const int f = cy / 5;
    const int gy = 9 * (4 * f / 10);
    auto span = [](int l, int t, int r, int b) { return QRect(l, t, std::max(0, r - l), std::max(0, b - t)); };
    g.type = span(10, 10, cx - 20, 2 * f);
    g.video = span(10, 2 * f + 10, cx - 20, gy);
    g.layout = span(10, gy + 10, cx - 20, 4 * f);
    g.mode = span(10, 4 * f + 10, cx - 20, cy - 10);
    g.videoCheck = QRect(g.video.x() + 20, g.video.y() - 8, 100, 30);

    const int u = g.type.width() / 31;
    const int h = g.mode.height();
    const int row1 = h / 8, rowH = std::max(h * 2 / 8, 24), row2 = h * 5 / 8 - h / 16;
    for (int i = 0; i < 5; ++i)
        g.modes.push_back(QRect((3 * i + 1) * u, row1, 2 * u, rowH));
    for (int i = 0; i < secondRowButtons; ++i)
        g.second.push_back(QRect((3 * i + 1) * u, row2, 2 * u, rowH));
    const int right = g.mode.width() - u;
    const int timeLeft = (3 * secondRowButtons + 1) * u;
    const int barLeft = timeLeft + 3 * u;
    g.volume = QRect(16 * u, row1 + rowH / 4, std::max(0, right - 16 * u - 80), rowH / 2);
    g.volumeLabel = QRect(right - 70, row1, 70, rowH);
    g.time = QRect(timeLeft, row2, 3 * u, rowH / 2);
    g.bar = QRect(barLeft, row2 + rowH / 4 - 5, std::max(0, right - barLeft), 10);
    g.name = QRect(barLeft, row2 + rowH / 4 + 8, std::max(0, right - barLeft), rowH / 2);
    return g;
}

QRect GridCell(const QRect& group, int index, int perRow, int uDivisor, int vDivisor)
{
    const int u = group.width() / uDivisor;
    const int v = group.height() / vDivisor;
    const int c = index % perRow;
    const int r = index / perRow;
    return QRect(QPoint(group.left() + (3 * c + 1) * u, group.top() + (3 * r + 1) * v),
                 QPoint(group.left() + (3 * c + 3) * u - 1, group.top() + (3 * r + 3) * v - 1));
}

QRect LayoutCell(const QRect& group, int index)
{
    const int u = group.width() / 31;
    return QRect(QPoint(group.left() + (3 * index + 1) * u, group.top() + group.height() / 16),
                 QPoint(group.left() + (3 * index + 3) * u - 1, group.top() + group.height() * 9 / 16 - 1));
}

}  // namespace remote
