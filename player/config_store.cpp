#include "player/config_store.h"

#include "common/digest.h"

#include <QDir>
#include <QFile>

namespace sim {

namespace {

struct KnownFile {
    uint8_t number;
    const char* name;
};

// The names the tool gives these files in its config folder.
constexpr KnownFile kKnownFiles[] = {
    {1, "Warp.QVE"},          {2, "JunctionPoint.QVE"}, {3, "ProjectorGraph.QVE"},
    {4, "CustomShapesPoint.QVE"}, {5, "VideoPicWindow.QVE"}, {6, "Gamma.QVE"},
    {7, "CustomShapesPointNew.QVE"}, {17, "Rotate.QVE"},      {18, "Grid.QVE"},
};

std::mutex registryMutex;
std::map<const PlayerSim*, std::weak_ptr<ConfigStore>>& registry()
{
    static std::map<const PlayerSim*, std::weak_ptr<ConfigStore>> stores;
    return stores;
}

}  // namespace

int ConfigStore::seedFromFolder(const QString& folder)
{
    if (folder.isEmpty())
        return 0;
    QDir dir(folder);
    if (dir.exists(QStringLiteral("config")) && !dir.exists(QString::fromLatin1(kKnownFiles[0].name)))
        dir.cd(QStringLiteral("config"));
    int loaded = 0;
    for (const KnownFile& k : kKnownFiles) {
        QFile f(dir.filePath(QString::fromLatin1(k.name)));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = f.readAll();
        setFile(k.number, bytes);
        ++loaded;
    }
    return loaded;
}

std::vector<Reply> ConfigStore::handle(const Request& request)
{
    const uint8_t number = request.header.subCode;
    Reply reply;
    reply.header.command = proto::CMD_CONFIG_FILE;
    reply.header.subCode = number;
    reply.header.sequence = request.header.sequence;

    std::lock_guard<std::mutex> lock(mutex_);
    if (request.header.arg == 0) {
        auto silent = silent_.find(number);
        if (silent != silent_.end() && silent->second > 0) {
            --silent->second;
            return {};
        }
        auto it = files_.find(number);
        if (it != files_.end()) {
            QByteArray payload = ownBytes(it->second);
            digest::AppendCrcTrailer(payload);
            if (corrupt_[number])
                payload[payload.size() - 1] = char(payload.at(payload.size() - 1) ^ 0x5A);
            reply.payload = payload;
        }
        return {reply};
    }

    lastArg_[number] = request.header.arg;
    const QByteArray& p = request.payload;
    if (p.size() >= 2 && digest::CheckCrcTrailer(reinterpret_cast<const uint8_t*>(p.constData()), std::size_t(p.size()))) {
        files_[number] = ownBytes(p.left(p.size() - 2));
        ++stored_;
        reply.header.param = kStored;
    } else {
        ++rejected_;
        reply.header.param = kRejected;
    }
    return {reply};
}

void ConfigStore::setFile(uint8_t file, const QByteArray& bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    files_[file] = ownBytes(bytes);
}

void ConfigStore::removeFile(uint8_t file)
{
    std::lock_guard<std::mutex> lock(mutex_);
    files_.erase(file);
}

std::optional<QByteArray> ConfigStore::file(uint8_t file) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(file);
    if (it == files_.end())
        return std::nullopt;
    return ownBytes(it->second);
}

void ConfigStore::setCorruptTrailer(uint8_t file, bool corrupt)
{
    std::lock_guard<std::mutex> lock(mutex_);
    corrupt_[file] = corrupt;
}

void ConfigStore::setSilentFetches(uint8_t file, int count)
{
    std::lock_guard<std::mutex> lock(mutex_);
    silent_[file] = count;
}

int ConfigStore::uploadsStored() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return stored_;
}

int ConfigStore::uploadsRejected() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return rejected_;
}

uint16_t ConfigStore::lastUploadArg(uint8_t file) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = lastArg_.find(file);
    return it == lastArg_.end() ? 0 : it->second;
}

void installConfigStore(PlayerSim& sim)
{
    auto store = std::make_shared<ConfigStore>();
    store->seedFromFolder(sim.options().configSeedFolder);
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        registry()[&sim] = store;
    }
    sim.registerCommand(proto::CMD_CONFIG_FILE,
                        [store](PlayerSim&, const Request& request) { return store->handle(request); });
}

std::shared_ptr<ConfigStore> configStoreOf(const PlayerSim& sim)
{
    std::lock_guard<std::mutex> lock(registryMutex);
    auto it = registry().find(&sim);
    if (it == registry().end())
        return nullptr;
    auto store = it->second.lock();
    if (!store)
        registry().erase(it);
    return store;
}

}  // namespace sim
