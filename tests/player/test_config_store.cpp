// The simulated player's configuration-file store.

#include "common/digest.h"
#include "player/config_store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cctype>
#include <optional>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

using sim::ConfigStore;

namespace {

sim::Request request(uint8_t file, uint16_t arg, const QByteArray& payload = QByteArray())
{
    sim::Request r{{}, payload};
    r.header.command = proto::CMD_CONFIG_FILE;
    r.header.subCode = file;
    r.header.sequence = 42;
    r.header.arg = arg;
    r.header.payloadLength = uint32_t(payload.size());
    return r;
}

QByteArray withTrailer(QByteArray bytes)
{
    digest::AppendCrcTrailer(bytes);
    return bytes;
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

}  // namespace

TEST(ConfigStore, FetchAnswersWithFileAndTrailerOrEmpty)
{
    ConfigStore store;
    store.setFile(6, QByteArray("gamma"));
    store.setFile(17, QByteArray());
    // The payload of the one reply to a fetch; nothing when there is none.
    auto fetch = [&](uint8_t file) -> std::optional<QByteArray> {
        const auto replies = store.handle(request(file, 0));
        if (replies.size() != 1)
            return std::nullopt;
        const auto& h = replies[0].header;
        EXPECT_EQ(std::make_tuple(h.command, h.subCode, h.sequence),
                  std::make_tuple(uint8_t(proto::CMD_CONFIG_FILE), file, uint16_t(42)));
        return replies[0].payload;
    };
    EXPECT_EQ(fetch(6), withTrailer("gamma"));
    EXPECT_EQ(fetch(17), QByteArray("\xFF\xFF", 2));  // an empty file still carries its trailer
    EXPECT_EQ(fetch(3), QByteArray());                // no such file

    store.setCorruptTrailer(6, true);
    const QByteArray bad = fetch(6).value_or(QByteArray());
    EXPECT_FALSE(digest::CheckCrcTrailer(reinterpret_cast<const uint8_t*>(bad.constData()), std::size_t(bad.size())));
    store.setSilentFetches(6, 2);
    EXPECT_FALSE(fetch(6) || fetch(6));
    EXPECT_TRUE(fetch(6));
}

TEST(ConfigStore, UploadIsStoredOnlyWithItsTrailer)
{
    ConfigStore store;
    QByteArray damaged = withTrailer("warp");
    damaged[0] = 'W';
    const struct {
        uint8_t file;
        uint16_t arg;
        QByteArray payload;
        bool stored;
    } cases[] = {
        {1, 2, withTrailer("warp"), true}, {1, 2, damaged, false}, {18, 1, withTrailer("{}"), true},
        {5, 2, QByteArray("x", 1), false}, {6, 2, QByteArray(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.file));
        const auto replies = store.handle(request(c.file, c.arg, c.payload));
        ASSERT_EQ(replies.size(), 1u);  // acknowledged either way, with no payload
        EXPECT_EQ(replies[0].header.subCode, c.file);
        EXPECT_EQ(replies[0].header.param, c.stored ? ConfigStore::kStored : ConfigStore::kRejected);
        EXPECT_TRUE(replies[0].payload.isEmpty());
        EXPECT_EQ(store.lastUploadArg(c.file), c.arg);
    }
    EXPECT_EQ(std::make_pair(store.uploadsStored(), store.uploadsRejected()), std::make_pair(2, 3));
    EXPECT_EQ(store.file(1), QByteArray("warp"));  // the damaged copy did not replace it
    EXPECT_EQ(store.file(18), QByteArray("{}"));
    EXPECT_FALSE(store.file(5).has_value());
}

// Seeds from the tool's file names, in the folder itself or in its "config"
// folder, and through the installed store of a simulated player.
TEST(ConfigStore, SeedsFromTheToolsFileNames)
{
    for (bool nested : {false, true}) {
        SCOPED_TRACE(nested);
        QTemporaryDir dir;
        const QString folder = nested && QDir(dir.path()).mkdir("config") ? dir.filePath("config") : dir.path();
        for (const char* name : {"Warp", "CustomShapesPointNew", "Grid", "Other"})
            ASSERT_TRUE(writeAll(folder + "/" + name + ".QVE", QByteArray(1, char(::tolower(name[0])))));
        ConfigStore store;
        EXPECT_EQ(store.seedFromFolder(dir.path()), 3);
        EXPECT_EQ(store.file(1), QByteArray("w"));
        EXPECT_EQ(store.file(7), QByteArray("c"));
        EXPECT_EQ(store.file(18), QByteArray("g"));
        EXPECT_FALSE(store.file(2).has_value());
    }
    EXPECT_EQ(ConfigStore().seedFromFolder(QString()), 0);

    QTemporaryDir dir;
    ASSERT_TRUE(writeAll(dir.filePath("Gamma.QVE"), "g"));
    sim::SimOptions o;
    o.configSeedFolder = dir.path();
    sim::PlayerSim player(o);
    EXPECT_FALSE(sim::configStoreOf(player));
    sim::installConfigStore(player);
    const auto store = sim::configStoreOf(player);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->file(6), QByteArray("g"));
}
