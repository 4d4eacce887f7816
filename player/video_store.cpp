// The simulated player's video store (see video_store.h).

#include "player/video_store.h"

#include "player/play_mode_commands.h"
#include "player/layout_store.h"
#include "player/player_sim.h"

#include <algorithm>
#include <mutex>

namespace sim {

namespace {

constexpr std::size_t kCategoryBytes = 8;
constexpr uint16_t kVideoPlayModeKind = 6;  // player/play_mode_commands.cpp

QByteArray fieldText(const uint8_t* field, std::size_t size)
{
    const auto* end = std::find(field, field + size, uint8_t(0));
    return QByteArray(reinterpret_cast<const char*>(field), qsizetype(end - field));
}

void setField(uint8_t* field, std::size_t size, const QByteArray& text)
{
    std::fill(field, field + size, uint8_t(0));
    std::copy_n(text.constData(), std::min<std::size_t>(size, std::size_t(text.size())), field);
}

Reply replyTo(const Request& req, uint16_t arg)
{
    Reply r;
    r.header.command = req.header.command;
    r.header.subCode = req.header.subCode;
    r.header.param = req.header.param;
    r.header.arg = arg;
    return r;
}

Reply changed()
{
    Reply r;
    r.header.command = proto::CMD_VIDEO_LIST_CHANGED;
    return r;
}

std::vector<QByteArray> namesOf(const QByteArray& payload)
{
    std::vector<QByteArray> names;
    for (const QByteArray& part : payload.split('?'))
        if (!part.isEmpty())
            names.push_back(part);
    return names;
}

PlayerCatalog& catalogOf(VideoStoreState& s, uint16_t act)
{
    return s.acts[act == 1 ? 1 : 0];
}

void removeCategory(PlayerCatalog& c, int index)
{
    CatalogCategory& cat = c.categories[std::size_t(index)];
    for (std::size_t k = 0; k < std::min<std::size_t>(cat.count, PlayerCatalog::kVideoCount); ++k)
        if (cat.videoIndex[k] < PlayerCatalog::kVideoCount) {
            CatalogVideo& v = c.videos[cat.videoIndex[k]];
            c.freeMB += uint32_t(v.size >> 20);
            v = CatalogVideo{};
        }
    cat = CatalogCategory{};
}

// The slot in the category's list that names `name`, or -1.
int findVideo(const PlayerCatalog& c, int category, const QByteArray& name)
{
    const CatalogCategory& cat = c.categories[std::size_t(category)];
    for (int k = 0; k < int(std::min<std::size_t>(cat.count, PlayerCatalog::kVideoCount)); ++k) {
        const uint16_t index = cat.videoIndex[std::size_t(k)];
        if (index < PlayerCatalog::kVideoCount &&
            fieldText(c.videos[index].name.data(), c.videos[index].name.size()) == name)
            return k;
    }
    return -1;
}

// "category:name" split at its first colon.
bool splitVideo(const QByteArray& full, QByteArray& category, QByteArray& name)
{
    const qsizetype colon = full.indexOf(':');
    if (colon < 0)
        return false;
    category = full.left(colon);
    name = full.mid(colon + 1);
    return true;
}

bool deleteVideo(PlayerCatalog& c, const QByteArray& full)
{
    QByteArray category, name;
    if (!splitVideo(full, category, name))
        return false;
    const int ci = findCategory(c, category);
    if (ci < 0)
        return false;
    const int slot = findVideo(c, ci, name);
    if (slot < 0)
        return false;
    CatalogCategory& cat = c.categories[std::size_t(ci)];
    CatalogVideo& v = c.videos[cat.videoIndex[std::size_t(slot)]];
    c.freeMB += uint32_t(v.size >> 20);
    v = CatalogVideo{};
    std::copy(cat.videoIndex.begin() + slot + 1, cat.videoIndex.begin() + cat.count, cat.videoIndex.begin() + slot);
    --cat.count;
    cat.videoIndex[cat.count] = 0;
    return true;
}

std::vector<Reply> storeReply(VideoStoreState& s, const Request& req, bool didChange)
{
    std::vector<Reply> out{replyTo(req, s.locked ? 1 : 0)};
    if (didChange && s.pushChanges)
        out.push_back(changed());
    return out;
}

std::vector<Reply> videoList(PlayerSim& sim, const Request& req)
{
    std::lock_guard lock(sim.stateMutex());
    VideoStoreState& s = videoStore(sim);
    Reply r;
    r.header.command = req.header.command;
    r.header.subCode = uint8_t(s.sliders[0]);
    r.header.param = s.sliders[1];
    r.header.arg = s.sliders[2];
    r.payload = catalogOf(s, req.header.arg).pack();
    return {r};
}

std::vector<Reply> deleteVideos(PlayerSim& sim, const Request& req)
{
    std::lock_guard lock(sim.stateMutex());
    VideoStoreState& s = videoStore(sim);
    bool didChange = false;
    if (!s.locked) {
        PlayerCatalog& c = catalogOf(s, req.header.arg);
        for (const QByteArray& name : namesOf(req.payload)) {
            if (req.header.param == 1) {
                const int ci = findCategory(c, name);
                if (ci >= 0) {
                    removeCategory(c, ci);
                    didChange = true;
                }
            } else {
                didChange = deleteVideo(c, name) || didChange;
            }
        }
    }
    return storeReply(s, req, didChange);
}

std::vector<Reply> playVideo(PlayerSim& sim, const Request& req)
{
    std::lock_guard lock(sim.stateMutex());
    VideoStoreState& s = videoStore(sim);
    if (!s.locked)
        s.played.push_back(ownBytes(req.payload));
    return storeReply(s, req, false);
}

std::vector<Reply> renameVideo(PlayerSim& sim, const Request& req)
{
    std::lock_guard lock(sim.stateMutex());
    VideoStoreState& s = videoStore(sim);
    bool didChange = false;
    const qsizetype mark = req.payload.indexOf('?');
    if (!s.locked && mark > 0) {
        PlayerCatalog& c = catalogOf(s, req.header.arg);
        const QByteArray oldName = req.payload.left(mark);
        const QByteArray newName = req.payload.mid(mark + 1);
        if (req.header.param == 1) {
            const int ci = findCategory(c, oldName);
            if (ci >= 0 && !newName.isEmpty()) {
                CatalogCategory& cat = c.categories[std::size_t(ci)];
                setField(cat.name.data(), cat.name.size(), newName.left(kCategoryBytes));
                for (std::size_t k = 0; k < cat.count; ++k)
                    if (cat.videoIndex[k] < PlayerCatalog::kVideoCount) {
                        CatalogVideo& v = c.videos[cat.videoIndex[k]];
                        setField(v.category.data(), v.category.size(), newName.left(kCategoryBytes));
                    }
                didChange = true;
            }
        } else {
            QByteArray category, name;
            if (splitVideo(oldName, category, name)) {
                const int ci = findCategory(c, category);
                const int slot = ci < 0 ? -1 : findVideo(c, ci, name);
                if (slot >= 0) {
                    CatalogVideo& v = c.videos[c.categories[std::size_t(ci)].videoIndex[std::size_t(slot)]];
                    setField(v.name.data(), v.name.size(), newName.left(qsizetype(v.name.size()) - 1));
                    didChange = true;
                }
            }
        }
    }
    return storeReply(s, req, didChange);
}

std::vector<Reply> newFolder(PlayerSim& sim, const Request& req)
{
    std::lock_guard lock(sim.stateMutex());
    VideoStoreState& s = videoStore(sim);
    if (!s.locked) {
        PlayerCatalog& c = catalogOf(s, req.header.arg);
        if (findCategory(c, req.payload.left(kCategoryBytes)) < 0)
            addCategory(c, req.payload.left(kCategoryBytes));
    }
    // The new-folder reply itself tells the tool that the store changed.
    return {replyTo(req, s.locked ? 1 : 0)};
}

std::vector<Reply> sliders(PlayerSim& sim, const Request& req)
{
    std::lock_guard lock(sim.stateMutex());
    VideoStoreState& s = videoStore(sim);
    s.sliders = {req.header.subCode, req.header.param, req.header.arg};
    Reply r;
    r.header.command = req.header.command;
    return {r};
}

std::vector<Reply> upload(PlayerSim& sim, const Request& req)
{
    std::lock_guard lock(sim.stateMutex());
    VideoStoreState& s = videoStore(sim);
    if (s.uploadPackets++ == s.lockOnUploadPacket)
        s.locked = true;
    if (s.locked)
        return {replyTo(req, 1)};
    bool didChange = false;
    if (req.header.subCode == 0) {
        VideoUpload u;
        u.act = req.header.arg;
        const QByteArray field = req.payload.left(kCategoryBytes);
        u.category = fieldText(reinterpret_cast<const uint8_t*>(field.constData()), std::size_t(field.size()));
        u.name = ownBytes(req.payload.mid(kCategoryBytes));
        s.uploads.push_back(std::move(u));
    } else if (!s.uploads.empty() && !s.uploads.back().complete) {
        VideoUpload& u = s.uploads.back();
        appendOwn(u.data, req.payload);
        if (req.header.subCode == 2) {
            u.complete = true;
            PlayerCatalog& c = catalogOf(s, u.act);
            addVideo(c, u.category, u.name, uint64_t(u.data.size()));
            c.freeMB -= std::min<uint32_t>(c.freeMB, uint32_t(uint64_t(u.data.size()) >> 20));
            didChange = true;
        }
    }
    return storeReply(s, req, didChange);
}

std::vector<Reply> paramFile(PlayerSim& sim, const Request& req)
{
    if (req.header.param == kVideoPlayModeKind)
        return answerVideoPlayModes(sim, req);
    if (req.header.param == 0)
        return watermarkFile(sim, req);
    std::lock_guard lock(sim.stateMutex());
    VideoStoreState& s = videoStore(sim);
    Reply r;
    r.header.command = req.header.command;
    r.header.param = req.header.param;
    switch (req.header.param) {
    case 5:
        if (req.payload.size() >= 4)
            s.playTimeSeconds = proto::getI32(reinterpret_cast<const uint8_t*>(req.payload.constData()));
        else {
            r.payload = QByteArray(4, '\0');
            proto::putI32(reinterpret_cast<uint8_t*>(r.payload.data()), s.playTimeSeconds);
        }
        return {r};
    case 2:
        if (req.header.arg == 0) {
            s.archiveSent = 0;
            r.header.arg = 0;
            r.payload = QByteArray(8, '\0');
            proto::putU64(reinterpret_cast<uint8_t*>(r.payload.data()), (uint64_t(s.archive.size()) + 1023) / 1024);
        } else {
            const std::size_t chunk = std::max<std::size_t>(1, s.archiveChunk);
            r.payload = ownBytes(s.archive.mid(qsizetype(s.archiveSent), qsizetype(chunk)));
            s.archiveSent += std::size_t(r.payload.size());
            r.header.arg = s.archiveSent >= std::size_t(s.archive.size()) ? 2 : 1;
        }
        return {r};
    case 3:
        if (req.header.arg == 0) {
            s.recovered = QByteArray();
            s.recoveryComplete = false;
        } else {
            appendOwn(s.recovered, req.payload);
            s.recoveryComplete = req.header.arg == 2;
        }
        r.header.arg = req.header.arg;
        return {r};
    default: {
        Reply no;
        no.header.command = uint8_t(req.header.command | proto::kNotSupportedBit);
        return {no};
    }
    }
}

}  // namespace

int findCategory(const PlayerCatalog& catalog, const QByteArray& name)
{
    for (std::size_t i = 0; i < catalog.categories.size(); ++i) {
        const CatalogCategory& c = catalog.categories[i];
        if (c.name[0] != 0 && fieldText(c.name.data(), c.name.size()) == name)
            return int(i);
    }
    return -1;
}

int addCategory(PlayerCatalog& catalog, const QByteArray& name)
{
    for (std::size_t i = 0; i < catalog.categories.size(); ++i) {
        CatalogCategory& c = catalog.categories[i];
        if (c.name[0] == 0) {
            c = CatalogCategory{};
            setField(c.name.data(), c.name.size(), name.left(kCategoryBytes));
            return int(i);
        }
    }
    return -1;
}

bool addVideo(PlayerCatalog& catalog, const QByteArray& category, const QByteArray& name, uint64_t size)
{
    int ci = findCategory(catalog, category.left(kCategoryBytes));
    if (ci < 0)
        ci = addCategory(catalog, category);
    if (ci < 0)
        return false;
    CatalogCategory& cat = catalog.categories[std::size_t(ci)];
    if (cat.count >= PlayerCatalog::kVideoCount)
        return false;
    for (std::size_t i = 0; i < catalog.videos.size(); ++i) {
        CatalogVideo& v = catalog.videos[i];
        if (v.name[0] != 0)
            continue;
        setField(v.name.data(), v.name.size() - 1, name);
        setField(v.category.data(), v.category.size(), category.left(kCategoryBytes));
        v.size = size;
        cat.videoIndex[cat.count++] = uint16_t(i);
        return true;
    }
    return false;
}

VideoStoreState& videoStore(PlayerSim& sim)
{
    auto& slot = sim.state().videoStore;
    if (!slot)
        slot = std::make_shared<VideoStoreState>();
    return *slot;
}

void installVideoStore(PlayerSim& sim)
{
    {
        std::lock_guard lock(sim.stateMutex());
        sim.state().videoStore = std::make_shared<VideoStoreState>();
        for (PlayerCatalog& c : sim.state().videoStore->acts) {
            c.totalMB = 16384;
            c.freeMB = 12000;
        }
    }
    sim.registerCommand(proto::CMD_VIDEO_LIST, videoList);
    sim.registerCommand(proto::CMD_VIDEO_UPLOAD, upload);
    sim.registerCommand(proto::CMD_VIDEO_DELETE, deleteVideos);
    sim.registerCommand(proto::CMD_VIDEO_SELECT, playVideo);
    sim.registerCommand(proto::CMD_VIDEO_RENAME, renameVideo);
    sim.registerCommand(proto::CMD_TRACKBAR_VALUES, sliders);
    sim.registerCommand(proto::CMD_VIDEO_NEW_FOLDER, newFolder);
    sim.registerCommand(proto::CMD_PARAM_FILE, paramFile);
}

}  // namespace sim
