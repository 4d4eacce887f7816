#include "interactive/game_model.h"

#include "common/json_coding.h"
#include "common/text_coding.h"
#include "transport/protocol.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace game {

OutputLayout OutputLayout::FromStatusBlock(const uint8_t* block, std::size_t size)
{
    OutputLayout l;
    if (!block || size != 108) {
        for (geom::RectI& s : l.screens)
            s = {0, 0, 1920, 1080};
        return l;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        const uint8_t* p = block + 4 + 8 * i;
        l.screens[i] = {proto::getU16(p), proto::getU16(p + 2), proto::getU16(p + 4), proto::getU16(p + 6)};
    }
    for (std::size_t i = 0; i < 9; ++i) {
        const uint8_t* p = block + 36 + 8 * i;
        // left, right, top, bottom on the wire
        l.outputs[i] = {proto::getU16(p), proto::getU16(p + 4), proto::getU16(p + 2), proto::getU16(p + 6)};
    }
    return l;
}

bool ScreenExists(const geom::RectI& s)
{
    return s.right != 0 && s.bottom != 0 && s.right > s.left && s.bottom > s.top;
}

bool RectContains(const geom::RectI& outer, const geom::RectI& inner)
{
    return outer.left <= inner.left && outer.right >= inner.right && outer.top <= inner.top &&
           outer.bottom >= inner.bottom;
}

void GameRect::setRect(const geom::RectI& r)
{
    left = uint32_t(std::max(0, r.left));
    top = uint32_t(std::max(0, r.top));
    right = uint32_t(std::max(0, r.right));
    bottom = uint32_t(std::max(0, r.bottom));
}

void ComputeScreenGrids(const OutputLayout& layout, std::array<GameRect, 2>& rects)
{
    std::size_t start = 0;
    for (std::size_t s = 0; s < 2; ++s) {
        rects[s].screen = uint32_t(s);
        const geom::RectI& screen = layout.screens[s];
        if (!ScreenExists(screen))
            break;
        uint32_t columns = 0, rows = 0;
        bool rowsFound = false;
        std::size_t position = 0;
        for (std::size_t o = start; o < layout.outputs.size(); ++o) {
            const geom::RectI& out = layout.outputs[o];
            if (!RectContains(screen, out))
                continue;
            if (columns == 0 && out.top == screen.top && out.right + 1 == screen.right)
                columns = uint32_t(position + 1);
            // A grid that ends before its first row would divide by zero:
            // its rows stay unknown (1).
            if (!rowsFound && out.bottom + 1 == screen.bottom && out.right + 1 == screen.right) {
                rowsFound = true;
                if (columns != 0)
                    rows = uint32_t(position + 1) / columns;
            }
            ++position;
        }
        rects[s].rows = std::clamp<uint32_t>(rows, 1, 9);
        rects[s].columns = std::clamp<uint32_t>(columns, 1, 9);
        start = std::size_t(rects[s].rows) * rects[s].columns;
    }
}

geom::RectI DefaultGameRect(const geom::RectI& screen)
{
    return {screen.left, screen.top, screen.left + int32_t(kMinGameSize), screen.top + int32_t(kMinGameSize)};
}

bool ParseGameList(const QByteArray& payload, GameList& out)
{
    Json::Value root;
    if (payload.isEmpty() || !jsonio::parsePlayerDocument(payload, root) || !root.isObject())
        return false;
    for (const char* key : {"currentGameName", "gameInScreen", "x", "y", "height", "width", "gameNames"})
        if (!root.isMember(key) || root[key].isNull())
            return false;
    auto unsignedOr = [](const Json::Value& v, uint32_t fallback) {
        return (v.type() == Json::uintValue || (v.type() == Json::intValue && v.asInt64() >= 0)) && v.isUInt()
                   ? v.asUInt()
                   : fallback;
    };
    auto decode = [](const Json::Value& v) {
        return v.isString() ? text::DoubleByteTextToCString(QByteArray::fromStdString(v.asString())) : QString();
    };
    GameList l;
    l.currentName = decode(root["currentGameName"]);
    l.currentScreen = std::min<uint32_t>(unsignedOr(root["gameInScreen"], 0), 1);
    l.x = unsignedOr(root["x"], 320);
    l.y = unsignedOr(root["y"], 320);
    l.width = unsignedOr(root["width"], l.x + 100);
    l.height = unsignedOr(root["height"], l.y + 100);
    l.width = std::max(l.width, kMinGameSize);
    l.height = std::max(l.height, kMinGameSize);
    const Json::Value& names = root["gameNames"];
    if (names.isArray())
        for (const Json::Value& n : names)
            l.games.push_back({decode(n), false});
    const Json::Value& full = root["gamesFullScreen"];
    if (full.isArray() && full.size() == names.size() && names.isArray())
        for (Json::ArrayIndex i = 0; i < full.size(); ++i)
            l.games[i].fullScreen = full[i].isBool() && full[i].asBool();
    out = l;
    return true;
}

int CurrentGameIndex(const GameList& list)
{
    int index = -1;
    for (std::size_t i = 0; i < list.games.size(); ++i)
        if (list.games[i].name == list.currentName)
            index = int(i);  // the last equal row carries the marker, as the rows are walked in order
    return index;
}

QString GameRowLabel(const GameList& list, std::size_t i)
{
    if (i >= list.games.size())
        return {};
    return list.games[i].name == list.currentName ? QStringLiteral("* ") + list.games[i].name : list.games[i].name;
}

Json::Value GameJson(const QString& name, uint32_t screen, const geom::RectI& r, int startGame)
{
    Json::Value v(Json::objectValue);
    v["gameName"] = text::CStringToUtf8(name);
    v["gameScreen"] = Json::Int(screen);
    v["height"] = Json::UInt(uint32_t(r.bottom - r.top));
    v["startGame"] = startGame;
    v["width"] = Json::UInt(uint32_t(r.right - r.left));
    v["x"] = Json::UInt(uint32_t(r.left));
    v["y"] = Json::UInt(uint32_t(r.top));
    return v;
}

QByteArray GamePacket(uint16_t operation, uint8_t subCode, uint16_t arg, const QByteArray& payload)
{
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_GAME;
    h.subCode = subCode;
    h.param = operation;
    h.arg = arg;
    return proto::buildPacket(h, payload);
}

int MapScale::toMapX(double x) const { return int(std::lround(map.left + x * sx)); }
int MapScale::toMapY(double y) const { return int(std::lround(map.top + y * sy)); }
int MapScale::fromMapX(int x) const { return int(std::lround((x - map.left) / sx)); }
int MapScale::fromMapY(int y) const { return int(std::lround((y - map.top) / sy)); }
geom::RectI MapScale::toMap(const geom::RectI& r) const
{
    return {toMapX(r.left), toMapY(r.top), toMapX(r.right), toMapY(r.bottom)};
}

MapScale ComputeMapScale(const geom::RectI& map, const geom::RectI& screen, uint32_t rows, uint32_t columns)
{
    MapScale m;
    m.map = map;
    const int w = screen.right - screen.left, h = screen.bottom - screen.top;
    if (w > 0)
        m.sx = double((map.right - map.left) / 9) / w;
    if (h > 0)
        m.sy = double((map.bottom - map.top) / 9) / h;
    m.sx *= columns > 3 ? columns : 4;
    m.sy *= rows > 3 ? rows : 4;
    if (m.sx <= 0)
        m.sx = 1;
    if (m.sy <= 0)
        m.sy = 1;
    return m;
}

geom::RectI TrackerRectToGameRect(const geom::RectI& mapRect, const MapScale& scale, const geom::RectI& screen)
{
    geom::RectI r;
    r.left = scale.fromMapX(mapRect.left);
    r.top = scale.fromMapY(mapRect.top);
    r.right = scale.fromMapX(mapRect.right);
    if (r.right - r.left < int(kMinGameSize))
        r.right = r.left + int(kMinGameSize);
    r.right = std::min(r.right, screen.right);
    r.bottom = scale.fromMapY(mapRect.bottom);
    if (r.bottom - r.top < int(kMinGameSize))
        r.bottom = r.top + int(kMinGameSize);
    r.bottom = std::min(r.bottom, screen.bottom);
    return r;
}

QString FileNameOf(const QString& path)
{
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    return path.mid(cut + 1);
}

bool ApkUpload::Start(const QStringList& paths, unsigned language, QString* message)
{
    Stop();
    uint64_t total = 0;
    std::vector<std::optional<filestamp::FileStamp>> stamps;
    for (const QString& p : paths) {
        const QString name = FileNameOf(p);
        QByteArray bytes;
        if (!text::NameToDoubleByteText(name, bytes, 100000)) {
            if (message)
                *message = text::unencodableNameMessage(name, int(language));
            return false;
        }
        if (std::size_t(bytes.size()) > kMaxNameBytes) {
            if (message)
                *message = name + GameText("game file name is too long", language);
            return false;
        }
        stamps.push_back(filestamp::StampOf(p));
        // What is no regular file counts as it shows, and is refused as
        // unreadable when its turn comes.
        total += stamps.back() ? stamps.back()->size : uint64_t(std::max<qint64>(0, QFileInfo(p).size()));
    }
    if (total == 0) {
        if (message)
            *message = GameText("The selected files have no content", language);
        return false;
    }
    paths_ = paths;
    stamps_ = std::move(stamps);
    total_ = total;
    sent_ = 0;
    step_ = kFileDone;  // the first acknowledgement-free step sends a name
    active_ = true;
    finished_ = false;
    return true;
}

void ApkUpload::Stop()
{
    file_.Reset();
    paths_.clear();
    stamps_.clear();
    active_ = false;
    finished_ = true;
}

std::unique_ptr<SendRequest> ApkUpload::NextRequest(unsigned language, QString* message)
{
    if (!active_)
        return nullptr;
    switch (step_) {
    case kNameSent:
    case kChunkSent:
        return chunk(language, message);
    default:
        return nameOrEnd(language, message);
    }
}

QByteArray ApkUpload::NextPacket(unsigned language, QString* message)
{
    const std::unique_ptr<SendRequest> request = NextRequest(language, message);
    return request ? request->data + request->body : QByteArray();
}

void ApkUpload::dropFirst()
{
    paths_.removeFirst();
    stamps_.erase(stamps_.begin());
}

std::unique_ptr<SendRequest> ApkUpload::nameOrEnd(unsigned language, QString* message)
{
    if (file_.stage() == upload::Upload::Stage::kLastSent) {
        // The package before this name was written while its last chunk
        // travelled: the player holds something else than was chosen.
        if (file_.Acknowledged() == upload::Upload::Step::kReadFailed && message)
            *message = file_.FailureMessage(int(language));
    }
    if (paths_.isEmpty()) {
        Stop();
        return nullptr;
    }
    QByteArray name;
    if (!text::NameToDoubleByteText(FileNameOf(paths_.front()), name, kMaxNameBytes)) {
        if (message)
            *message = text::unencodableNameMessage(FileNameOf(paths_.front()), int(language));
        Stop();
        return nullptr;
    }
    step_ = kNameSent;
    file_.Announced(paths_.front(), stamps_.front());
    auto request = std::make_unique<SendRequest>();
    request->data = GamePacket(GAME_OP_INSTALL, 0, 0, name);
    return request;
}

std::unique_ptr<SendRequest> ApkUpload::chunk(unsigned language, QString* message)
{
    upload::Upload::Chunk data;
    if (file_.Acknowledged(data) != upload::Upload::Step::kChunk) {
        // Unreadable, gone or changed since it was chosen: no part of the
        // chunk goes out.
        if (message)
            *message = file_.FailureMessage(int(language));
        dropFirst();
        return nameOrEnd(language, message);
    }
    uint8_t sub = 1;
    uint16_t arg = 0;
    if (data.last) {
        sub = 2;
        arg = uint16_t(paths_.size() - 1);
        dropFirst();
    }
    step_ = sub;
    sent_ += uint64_t(data.bytes.size());
    // The chunk follows its header on the wire as it came from the file,
    // shared with the link rather than copied into the packet.
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_GAME;
    h.subCode = sub;
    h.param = GAME_OP_INSTALL;
    h.arg = arg;
    return upload::ChunkRequest(h, std::move(data));
}

namespace {
struct TextPair {
    const char* english;
    const char* chinese;
};
const TextPair kTexts[] = {
    {"Interactive Setup", "游戏设置"},
    {"SN", "序号"},
    {"Game Name", "游戏名称"},
    {"Screen1", "第一幕"},
    {"Screen2", "第二幕"},
    {"setup", "设置游戏"},
    {"install game", "安装游戏"},
    {"uninstall game", "卸载游戏"},
    {"close", "关闭游戏"},
    {"exit", "退出"},
    {"Do you really want to exit?", "【真的要退出吗?】"},
    {"Please start a new game first", "请先启动一个游戏"},
    {"Game name not selected", "没有选择游戏"},
    {"Select the game file ", "选择游戏安装文件"},
    {"game File(*.APK)", "游戏文件(*.APK)"},
    {"game file name is too long", "游戏文件名太长"},
    {"The selected files have no content", "选择的文件没有内容"},
    {"Game name is too long", "游戏名太长"},
    {"The game installation failed: ", "游戏安装失败："},
    {".", "。"},
};
}  // namespace

QString GameText(const char* english, unsigned language)
{
    if (language == 4)
        for (const TextPair& t : kTexts)
            if (std::strcmp(t.english, english) == 0)
                return QString::fromUtf8(t.chinese);
    return QString::fromUtf8(english);
}

}  // namespace game
