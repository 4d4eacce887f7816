// The simulated player's configuration-file store.

#include "common/digest.h"
#include "player/config_store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using sim::ConfigStore;

namespace {

sim::Request request(uint8_t file, uint16_t arg, const QByteArray& payload = QByteArray())
{
    sim::Request r;
    r.header.command = proto::CMD_CONFIG_FILE;
    r.header.subCode = file;
    r.header.sequence = 42;
    r.header.arg = arg;
    r.header.payloadLength = uint32_t(payload.size());
    r.payload = payload;
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

    struct Case {
        uint8_t file;
        QByteArray payload;
    };
    const Case cases[] = {
        {6, withTrailer("gamma")},
        {17, QByteArray("\xFF\xFF", 2)},  // an empty file still carries its trailer
        {3, QByteArray()},                // no such file
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.file));
        const auto replies = store.handle(request(c.file, 0));
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].header.command, proto::CMD_CONFIG_FILE);
        EXPECT_EQ(replies[0].header.subCode, c.file);
        EXPECT_EQ(replies[0].header.sequence, 42);
        EXPECT_EQ(replies[0].payload, c.payload);
    }

    store.setCorruptTrailer(6, true);
    const auto bad = store.handle(request(6, 0));
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_FALSE(digest::CheckCrcTrailer(reinterpret_cast<const uint8_t*>(bad[0].payload.constData()),
                                         std::size_t(bad[0].payload.size())));

    store.setSilentFetches(6, 2);
    EXPECT_TRUE(store.handle(request(6, 0)).empty());
    EXPECT_TRUE(store.handle(request(6, 0)).empty());
    EXPECT_EQ(store.handle(request(6, 0)).size(), 1u);
}

TEST(ConfigStore, UploadIsStoredOnlyWithItsTrailer)
{
    ConfigStore store;
    struct Case {
        uint8_t file;
        uint16_t arg;
        QByteArray payload;
        bool stored;
    };
    QByteArray damaged = withTrailer("warp");
    damaged[0] = 'W';
    const Case cases[] = {
        {1, 2, withTrailer("warp"), true},
        {1, 2, damaged, false},
        {18, 1, withTrailer("{}"), true},
        {5, 2, QByteArray("x", 1), false},
        {6, 2, QByteArray(), false},
    };
    int stored = 0, rejected = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.file));
        const auto replies = store.handle(request(c.file, c.arg, c.payload));
        ASSERT_EQ(replies.size(), 1u);  // acknowledged either way
        EXPECT_EQ(replies[0].header.subCode, c.file);
        EXPECT_EQ(replies[0].header.param, c.stored ? ConfigStore::kStored : ConfigStore::kRejected);
        EXPECT_TRUE(replies[0].payload.isEmpty());
        EXPECT_EQ(store.lastUploadArg(c.file), c.arg);
        (c.stored ? stored : rejected)++;
    }
    EXPECT_EQ(store.uploadsStored(), stored);
    EXPECT_EQ(store.uploadsRejected(), rejected);
    EXPECT_EQ(*store.file(1), QByteArray("warp"));  // the damaged copy did not replace it
    EXPECT_EQ(*store.file(18), QByteArray("{}"));
    EXPECT_FALSE(store.file(5).has_value());
}

TEST(ConfigStore, SeedsFromTheToolsFileNames)
{
    for (bool nested : {false, true}) {
        SCOPED_TRACE(nested);
        QTemporaryDir dir;
        QString folder = dir.path();
        if (nested) {
            QDir(folder).mkdir("config");
            folder += "/config";
        }
        ASSERT_TRUE(writeAll(folder + "/Warp.QVE", "w"));
        ASSERT_TRUE(writeAll(folder + "/CustomShapesPointNew.QVE", "n"));
        ASSERT_TRUE(writeAll(folder + "/Grid.QVE", "g"));
        ASSERT_TRUE(writeAll(folder + "/Other.QVE", "o"));

        ConfigStore store;
        EXPECT_EQ(store.seedFromFolder(dir.path()), 3);
        EXPECT_EQ(*store.file(1), QByteArray("w"));
        EXPECT_EQ(*store.file(7), QByteArray("n"));
        EXPECT_EQ(*store.file(18), QByteArray("g"));
        EXPECT_FALSE(store.file(2).has_value());
    }
    ConfigStore empty;
    EXPECT_EQ(empty.seedFromFolder(QString()), 0);
}

TEST(ConfigStore, InstalledStoreIsFoundAndSeeded)
{
    QTemporaryDir dir;
    ASSERT_TRUE(writeAll(dir.filePath("Gamma.QVE"), "g"));
    sim::SimOptions o;
    o.configSeedFolder = dir.path();
    sim::PlayerSim player(o);
    EXPECT_FALSE(sim::configStoreOf(player));
    sim::installConfigStore(player);
    const auto store = sim::configStoreOf(player);
    ASSERT_TRUE(store);
    EXPECT_EQ(*store->file(6), QByteArray("g"));
}
