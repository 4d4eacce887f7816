// The configuration-file exchange driven step by step: requests go to a
// simulated player's file store in-process, its replies come straight back,
// and the timer is ticked by hand, so every case is deterministic.

#include "common/digest.h"
#include "core/config_exchange.h"
#include "core/output_config.h"
#include "platform/messages.h"
#include "player/config_store.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <deque>

using cfgx::ConfigExchange;

namespace {

QByteArray randomBytes(std::size_t size, quint32 seed)
{
    std::vector<quint32> words(size / 4 + 1);
    QRandomGenerator(seed).fillRange(words.data(), qsizetype(words.size()));
    return QByteArray(reinterpret_cast<const char*>(words.data()), qsizetype(size));
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

struct TestHost : cfgx::ConfigExchangeHost {
    QString folder;
    QString ip = QStringLiteral("127.0.0.1");
    uint16_t version = 0x1523;
    uint16_t seq = 7;
    bool sendOk = true;

    std::deque<sim::Request> pending;  // sent, not yet answered
    std::vector<sim::Request> sent;    // everything sent
    std::vector<int> progress;
    std::vector<unsigned> posted;
    int fetchEnded = 0;
    QStringList waitShown;
    int waitHidden = 0;
    std::vector<uint16_t> blend;
    QStringList gridRead;

    bool sendToCurrentPlayer(const proto::PlayerPacketHeader& header, const QByteArray& payload) override
    {
        if (!sendOk)
            return false;
        sim::Request r{header, payload};
        r.header.payloadLength = uint32_t(payload.size());
        pending.push_back(r);
        sent.push_back(r);
        return true;
    }
    QString playerFolder() const override { return folder; }
    QString currentPlayerIp() const override { return ip; }
    uint16_t playerVersion() const override { return version; }
    uint16_t sequence() const override { return seq; }
    void setProgress(int percent) override { progress.push_back(percent); }
    void postToMainWindow(unsigned message) override { posted.push_back(message); }
    void onFetchEnded() override { ++fetchEnded; }
    void showWaitBox(const QString& text) override { waitShown << text; }
    void hideWaitBox() override { ++waitHidden; }
    void notifyBlendWizard(uint16_t value) override { blend.push_back(value); }
    void onGridFileFetched(const QString& path) override { gridRead << path; }
    unsigned language() const override { return 9; }

    // Sub-codes of the configuration requests sent, in order.
    std::vector<int> configRequests(uint16_t arg) const
    {
        std::vector<int> out;
        for (const auto& r : sent)
            if (r.header.command == proto::CMD_CONFIG_FILE && (arg == 0 ? r.header.arg == 0 : r.header.arg != 0))
                out.push_back(r.header.subCode);
        return out;
    }
    int statusRequests() const
    {
        int n = 0;
        for (const auto& r : sent)
            n += r.header.command == proto::CMD_STATUS;
        return n;
    }
};

class ConfigExchangeTest : public ::testing::Test {
protected:
    void SetUp() override { host.folder = dir.path(); }

    QString local(uint8_t file) const { return cfgx::configFilePath(dir.path(), file); }

    // Answers pending requests until none is left (bounded).
    void pump(int limit = 100)
    {
        for (int i = 0; i < limit && !host.pending.empty(); ++i) {
            sim::Request r = host.pending.front();
            host.pending.pop_front();
            if (r.header.command != proto::CMD_CONFIG_FILE)
                continue;
            for (const sim::Reply& reply : store.handle(r))
                exchange.OnConfigFileReply(host.ip, reply.header, reply.payload);
        }
    }

    QTemporaryDir dir;
    TestHost host;
    sim::ConfigStore store;
    ConfigExchange exchange{host};
    testsupport::MessageBoxRecorder boxes;
};

const std::vector<std::pair<uint8_t, std::size_t>> kBlendFiles = {
    {1, cfgx::kWarpSize},         {2, cfgx::kJunctionPointSize}, {3, cfgx::kProjectorGraphSize},
    {4, cfgx::kCustomShapesSize}, {6, cfgx::kGammaSize},         {7, cfgx::kCustomShapesNewSize},
};

}  // namespace

TEST(ConfigTrailer, ModbusCheckValuesAsTheExchangeUsesThem)
{
    const QByteArray digits("123456789");
    EXPECT_EQ(digest::Crc16Modbus(reinterpret_cast<const uint8_t*>(digits.constData()), 9), 0x4B37);

    QByteArray withTrailer = digits;
    digest::AppendCrcTrailer(withTrailer);
    ASSERT_EQ(withTrailer.size(), 11);
    EXPECT_EQ(uint8_t(withTrailer[9]), 0x37);
    EXPECT_EQ(uint8_t(withTrailer[10]), 0x4B);

    struct Case {
        QByteArray bytes;
        bool ok;
    };
    const Case cases[] = {
        {withTrailer, true},
        {digits + QByteArray("\x4B\x37", 2), false},  // high byte first
        {QByteArray("\xFF\xFF", 2), true},            // CRC of nothing
        {QByteArray("\xFF\xFE", 2), false},
        {QByteArray("\xFF", 1), false},
        {QByteArray(), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(digest::CheckCrcTrailer(reinterpret_cast<const uint8_t*>(c.bytes.constData()), std::size_t(c.bytes.size())),
                  c.ok)
            << c.bytes.toHex().toStdString();
}

TEST_F(ConfigExchangeTest, FetchChainWritesEveryFileByteForByte)
{
    std::map<uint8_t, QByteArray> content;
    for (auto [file, size] : kBlendFiles) {
        content[file] = randomBytes(size, file);
        store.setFile(file, content[file]);
    }
    exchange.StartFetch(cfgx::kWarpFile);
    exchange.SetActive(true);
    pump();

    EXPECT_EQ(host.configRequests(0), (std::vector<int>{1, 2, 3, 4, 6, 7}));
    for (auto [file, size] : kBlendFiles)
        EXPECT_EQ(readAll(local(file)), content[file]) << int(file);
    EXPECT_EQ(host.progress, (std::vector<int>{0, 20, 40, 60, 80, 90, -1}));
    EXPECT_EQ(host.fetchEnded, 1);
    EXPECT_EQ(exchange.mode(), ConfigExchange::Idle);
    EXPECT_FALSE(exchange.active());
    EXPECT_TRUE(boxes.calls().empty());
    for (const auto& r : host.sent)
        EXPECT_EQ(r.header.sequence, 7);
}

TEST_F(ConfigExchangeTest, WrongTrailerSkipsThatFileOnlyAndKeepsTheOldCopy)
{
    // The large file is checked as well as the small ones.
    for (uint8_t bad : {uint8_t(1), uint8_t(3), uint8_t(6), uint8_t(7)}) {
        SCOPED_TRACE(int(bad));
        QTemporaryDir folder;
        host.folder = folder.path();
        host.fetchEnded = 0;
        for (auto [file, size] : kBlendFiles) {
            store.setFile(file, randomBytes(size, 100 + file));
            store.setCorruptTrailer(file, file == bad);
        }
        const QByteArray old("old copy");
        ASSERT_TRUE(writeAll(cfgx::configFilePath(folder.path(), bad), old));

        host.sent.clear();
        exchange.StartFetch(cfgx::kWarpFile);
        pump();

        EXPECT_EQ(host.configRequests(0), (std::vector<int>{1, 2, 3, 4, 6, 7}));
        EXPECT_EQ(readAll(cfgx::configFilePath(folder.path(), bad)), old);
        for (auto [file, size] : kBlendFiles) {
            if (file == bad)
                continue;
            EXPECT_EQ(std::size_t(readAll(cfgx::configFilePath(folder.path(), file)).size()), size) << int(file);
        }
        EXPECT_EQ(host.fetchEnded, 1);
        // No temporary file left behind.
        const QStringList left = QDir(folder.path() + "/config").entryList(QDir::Files);
        for (const QString& name : left)
            EXPECT_TRUE(name.endsWith(".QVE")) << name.toStdString();
    }
}

TEST_F(ConfigExchangeTest, MissingOrWronglySizedFilesWriteNothingAndTheChainGoesOn)
{
    store.setFile(1, randomBytes(cfgx::kWarpSize, 1));
    store.setFile(2, randomBytes(100, 2));  // too short for any form
    // 3 absent: empty reply, not an error
    store.setFile(4, randomBytes(cfgx::kCustomShapesSize, 4));
    store.setFile(6, randomBytes(cfgx::kGammaSize + 1, 6));
    store.setFile(7, randomBytes(cfgx::kCustomShapesNewSmallSize, 7));
    exchange.StartFetch(cfgx::kWarpFile);
    pump();

    EXPECT_EQ(host.configRequests(0), (std::vector<int>{1, 2, 3, 4, 6, 7}));
    EXPECT_TRUE(QFile::exists(local(1)));
    EXPECT_FALSE(QFile::exists(local(2)));
    EXPECT_FALSE(QFile::exists(local(3)));
    EXPECT_TRUE(QFile::exists(local(4)));
    EXPECT_FALSE(QFile::exists(local(6)));
    EXPECT_EQ(readAll(local(7)), *store.file(7));
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(ConfigExchangeTest, FileSevenOfAnotherLengthEndsTheFetchAtOnce)
{
    store.setFile(7, randomBytes(1000, 7));
    exchange.StartFetch(cfgx::kWarpFile);
    pump();
    EXPECT_FALSE(QFile::exists(local(7)));
    EXPECT_EQ(host.fetchEnded, 1);
    EXPECT_EQ(exchange.mode(), ConfigExchange::Idle);
}

TEST_F(ConfigExchangeTest, SingleFileFetches)
{
    const QByteArray video = randomBytes(cfgx::kVideoPicWindowSize, 5);
    const QByteArray rotate = randomBytes(1234, 17);
    const QByteArray gridJson("{\"Msg\":\"Grid config\"}");
    store.setFile(5, video);
    store.setFile(17, rotate);
    store.setFile(18, gridJson);

    exchange.StartFetch(cfgx::kVideoPicWindowFile);
    exchange.SetActive(true);
    pump();
    EXPECT_EQ(readAll(local(5)), video);
    EXPECT_EQ(host.posted, (std::vector<unsigned>{platform::WM_OPEN_VIDEO_PIC_WINDOW}));
    EXPECT_FALSE(exchange.active());

    exchange.StartFetch(cfgx::kRotateFile);
    pump();
    EXPECT_EQ(readAll(local(17)), rotate);
    EXPECT_EQ(host.fetchEnded, 1);

    exchange.StartFetch(cfgx::kGridFile);
    pump();
    EXPECT_EQ(readAll(local(18)), gridJson);
    EXPECT_EQ(host.gridRead, QStringList{local(18)});
    EXPECT_EQ(host.statusRequests(), 1);
    EXPECT_EQ(exchange.mode(), ConfigExchange::Idle);

    // No grid on the player, or a damaged one: nothing written or read, but
    // the connection still goes on to the status request.
    QFile::remove(local(18));
    store.removeFile(18);
    exchange.StartFetch(cfgx::kGridFile);
    pump();
    store.setFile(18, gridJson);
    store.setCorruptTrailer(18, true);
    exchange.StartFetch(cfgx::kGridFile);
    pump();
    EXPECT_FALSE(QFile::exists(local(18)));
    EXPECT_EQ(host.gridRead.size(), 1);
    EXPECT_EQ(host.statusRequests(), 3);
}

TEST_F(ConfigExchangeTest, SilentFileIsAskedAgainFromTheThirdTickOn)
{
    for (auto [file, size] : kBlendFiles)
        store.setFile(file, randomBytes(size / 50 + 3, file));  // sizes do not matter here
    store.setSilentFetches(3, 2);
    exchange.StartFetch(cfgx::kWarpFile);
    exchange.SetActive(true);
    pump();
    ASSERT_EQ(exchange.file(), 3);
    ASSERT_EQ(host.configRequests(0), (std::vector<int>{1, 2, 3}));

    exchange.FetchParamsStep();
    exchange.FetchParamsStep();
    EXPECT_EQ(host.configRequests(0).size(), 3u);
    host.progress.clear();
    exchange.FetchParamsStep();  // third silent tick
    EXPECT_EQ(host.configRequests(0), (std::vector<int>{1, 2, 3, 3}));
    EXPECT_EQ(host.progress, (std::vector<int>{40}));
    pump();  // still silent
    exchange.FetchParamsStep();  // and every later tick
    EXPECT_EQ(host.configRequests(0), (std::vector<int>{1, 2, 3, 3, 3}));
    pump();  // answered now
    EXPECT_EQ(host.configRequests(0), (std::vector<int>{1, 2, 3, 3, 3, 4, 6, 7}));
    EXPECT_EQ(host.fetchEnded, 1);
}

TEST_F(ConfigExchangeTest, LateDuplicateIsNeverTakenForTheNextFile)
{
    const QByteArray graph = randomBytes(cfgx::kProjectorGraphSize, 3);
    const QByteArray shapes = randomBytes(cfgx::kCustomShapesSize, 4);
    store.setFile(3, graph);
    store.setFile(4, shapes);
    exchange.SetActive(true);
    exchange.StartFetch(cfgx::kWarpFile);
    // Files 1 and 2 are not on the player: empty answers lead on to file 3.
    for (uint8_t f : {uint8_t(1), uint8_t(2)}) {
        proto::PlayerPacketHeader h;
        h.subCode = f;
        exchange.OnConfigFileReply(host.ip, h, QByteArray());
    }
    ASSERT_EQ(exchange.file(), 3);
    host.pending.clear();
    host.pending.push_back(host.sent.back());
    for (int i = 0; i < 3; ++i)
        exchange.FetchParamsStep();
    ASSERT_EQ(host.pending.size(), 2u);  // the request and its repeat

    // Both requests are answered: the first answer moves on to file 4, the
    // second (still sub-code 3) must not be written as file 4.
    sim::Request first = host.pending.front();
    host.pending.pop_front();
    sim::Request second = host.pending.front();
    host.pending.pop_front();
    const auto reply1 = store.handle(first);
    const auto reply2 = store.handle(second);
    exchange.OnConfigFileReply(host.ip, reply1[0].header, reply1[0].payload);
    ASSERT_EQ(exchange.file(), 4);
    exchange.OnConfigFileReply(host.ip, reply2[0].header, reply2[0].payload);
    EXPECT_EQ(exchange.file(), 4);
    EXPECT_FALSE(QFile::exists(local(4)));

    // A reply from another player does not count either.
    const auto other = store.handle(host.pending.front());
    exchange.OnConfigFileReply(QStringLiteral("127.0.0.9"), other[0].header, other[0].payload);
    EXPECT_EQ(exchange.file(), 4);
    pump();
    EXPECT_EQ(readAll(local(3)), graph);
    EXPECT_EQ(readAll(local(4)), shapes);
}

TEST_F(ConfigExchangeTest, RepeatsAreBoundedWithOneMessage)
{
    store.setSilentFetches(2, 1000);
    exchange.StartFetch(cfgx::kWarpFile);
    exchange.SetActive(true);
    pump();
    ASSERT_EQ(exchange.file(), 2);
    for (int i = 0; i < 40; ++i) {
        exchange.FetchParamsStep();
        pump();
    }
    std::size_t asked = 0;
    for (int f : host.configRequests(0))
        asked += f == 2;
    EXPECT_EQ(asked, std::size_t(1 + cfgx::kMaxRepeats));
    EXPECT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(host.fetchEnded, 1);
    EXPECT_FALSE(exchange.active());
    EXPECT_EQ(exchange.mode(), ConfigExchange::Idle);
}

TEST_F(ConfigExchangeTest, NotSupportedAnswerStopsTheExchange)
{
    exchange.StartFetch(cfgx::kGridFile);
    exchange.SetActive(true);
    host.pending.clear();
    EXPECT_FALSE(exchange.OnNotSupportedReply(QStringLiteral("127.0.0.9"), 0xC0 | proto::CMD_CONFIG_FILE));
    EXPECT_FALSE(exchange.OnNotSupportedReply(host.ip, 0xC0 | proto::CMD_STATUS));
    EXPECT_TRUE(exchange.OnNotSupportedReply(host.ip, 0xC0 | proto::CMD_CONFIG_FILE));
    EXPECT_EQ(host.statusRequests(), 1);  // the connection goes on
    const std::size_t before = host.sent.size();
    for (int i = 0; i < 10; ++i)
        exchange.FetchParamsStep();
    EXPECT_EQ(host.sent.size(), before);
    EXPECT_FALSE(exchange.OnNotSupportedReply(host.ip, 0xC0 | proto::CMD_CONFIG_FILE));
}

TEST_F(ConfigExchangeTest, AdjustModeReplyUploadsTheExistingFilesOneAtATime)
{
    std::map<uint8_t, QByteArray> content{{1, randomBytes(cfgx::kWarpSize, 11)},
                                          {2, randomBytes(cfgx::kJunctionPointSize, 12)},
                                          {6, randomBytes(cfgx::kGammaSize, 16)}};
    for (auto& [file, bytes] : content)
        ASSERT_TRUE(writeAll(local(file), bytes));

    proto::PlayerPacketHeader adjust;
    adjust.command = proto::CMD_ADJUST_MODE;
    adjust.subCode = 1;
    exchange.OnAdjustModeReply(host.ip, adjust);
    EXPECT_EQ(host.waitShown, QStringList{"Save Param Wait..."});
    EXPECT_TRUE(exchange.active());
    EXPECT_EQ(host.blend, (std::vector<uint16_t>{0x0C01}));
    ASSERT_EQ(host.pending.size(), 1u);  // nothing more until acknowledged
    EXPECT_EQ(host.pending.front().header.arg, 2);

    pump();
    EXPECT_EQ(host.configRequests(1), (std::vector<int>{1, 2, 6}));
    for (auto& [file, bytes] : content)
        EXPECT_EQ(*store.file(file), bytes) << int(file);
    EXPECT_EQ(store.uploadsRejected(), 0);
    EXPECT_EQ(host.waitHidden, 1);
    EXPECT_EQ(host.statusRequests(), 1);
    EXPECT_FALSE(exchange.active());
    EXPECT_EQ(exchange.mode(), ConfigExchange::Idle);
}

TEST_F(ConfigExchangeTest, AdjustModeReplyVersionAndSenderGates)
{
    proto::PlayerPacketHeader adjust;
    adjust.subCode = 1;
    ASSERT_TRUE(writeAll(local(1), randomBytes(cfgx::kWarpSize, 1)));

    host.version = 0x14FF;  // older player: status only
    exchange.OnAdjustModeReply(host.ip, adjust);
    EXPECT_TRUE(host.configRequests(1).empty());
    EXPECT_EQ(host.statusRequests(), 1);
    EXPECT_TRUE(host.waitShown.isEmpty());

    host.version = 0x1500;
    exchange.OnAdjustModeReply(QStringLiteral("127.0.0.9"), adjust);  // another player
    adjust.subCode = 0;
    exchange.OnAdjustModeReply(host.ip, adjust);  // entering, not leaving
    EXPECT_TRUE(host.configRequests(1).empty());
    EXPECT_EQ(host.blend, (std::vector<uint16_t>{0x0C01, 0x0C01, 0x0C00}));

    QFile::remove(local(1));  // nothing to save: box closed, status asked
    adjust.subCode = 1;
    exchange.OnAdjustModeReply(host.ip, adjust);
    EXPECT_EQ(host.waitShown.size(), 1);
    EXPECT_EQ(host.waitHidden, 1);
    EXPECT_EQ(host.statusRequests(), 2);
    EXPECT_FALSE(exchange.active());
}

TEST_F(ConfigExchangeTest, UploadTimerMovesOnOrSendsAgain)
{
    ASSERT_TRUE(writeAll(local(1), randomBytes(cfgx::kWarpSize, 1)));
    ASSERT_TRUE(writeAll(local(3), randomBytes(300, 3)));
    ASSERT_TRUE(writeAll(local(18), QByteArray("{}")));
    exchange.SetActive(true);
    ASSERT_TRUE(exchange.UploadConfigFile(1));
    for (int i = 0; i < 3; ++i)
        exchange.FetchParamsStep();  // no acknowledgement: file 3 is next
    EXPECT_EQ(host.configRequests(1), (std::vector<int>{1, 3}));
    exchange.FetchParamsStep();  // the new file has its own three ticks
    exchange.FetchParamsStep();
    EXPECT_EQ(host.configRequests(1), (std::vector<int>{1, 3}));
    exchange.FetchParamsStep();
    EXPECT_EQ(host.waitHidden, 1);
    EXPECT_EQ(host.statusRequests(), 1);

    // The grid file is sent again, a bounded number of times.
    exchange.SetActive(true);
    ASSERT_TRUE(exchange.UploadConfigFile(18));
    for (int i = 0; i < 30; ++i)
        exchange.FetchParamsStep();
    std::size_t grids = 0;
    for (int f : host.configRequests(1))
        grids += f == 18;
    EXPECT_EQ(grids, std::size_t(1 + cfgx::kMaxRepeats));
    EXPECT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(exchange.mode(), ConfigExchange::Idle);
}

TEST_F(ConfigExchangeTest, UploadAcknowledgementsOfTheSingleFiles)
{
    ASSERT_TRUE(writeAll(local(5), randomBytes(cfgx::kVideoPicWindowSize, 5)));
    ASSERT_TRUE(writeAll(local(18), QByteArray("{\"Msg\":\"Grid config\"}")));
    ASSERT_TRUE(writeAll(local(17), QByteArray("rotate")));

    ASSERT_TRUE(exchange.UploadConfigFile(5));
    pump();
    EXPECT_EQ(boxes.texts(), QStringList{"Video Picture setup completed"});
    EXPECT_EQ(exchange.mode(), ConfigExchange::Idle);

    ASSERT_TRUE(exchange.UploadConfigFile(18));
    pump();
    EXPECT_EQ(host.waitHidden, 1);
    EXPECT_EQ(host.statusRequests(), 0);

    ASSERT_TRUE(exchange.UploadConfigFile(17));
    pump();
    EXPECT_EQ(host.waitHidden, 2);
    EXPECT_EQ(host.statusRequests(), 1);
    EXPECT_EQ(*store.file(17), QByteArray("rotate"));

    EXPECT_FALSE(exchange.UploadConfigFile(6));  // not on disk
    host.sendOk = false;
    EXPECT_FALSE(exchange.UploadConfigFile(17));  // no main window
}

TEST_F(ConfigExchangeTest, UploadArgAndSizeLimit)
{
    struct Case {
        std::size_t size;
        bool sent;
        uint16_t arg;
    };
    const Case cases[] = {
        {8191997, true, 2},
        {8191998, true, 1},
        {8192000, true, 1},
        {8192001, false, 0},  // refused, not cut
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        ASSERT_TRUE(writeAll(local(17), QByteArray(qsizetype(c.size), 'r')));
        host.sent.clear();
        host.pending.clear();
        boxes.clear();
        EXPECT_EQ(exchange.UploadConfigFile(17), c.sent);
        if (c.sent) {
            ASSERT_EQ(host.sent.size(), 1u);
            EXPECT_EQ(host.sent[0].header.arg, c.arg);
            EXPECT_EQ(std::size_t(host.sent[0].payload.size()), c.size + 2);
            EXPECT_TRUE(boxes.calls().empty());
        } else {
            EXPECT_TRUE(host.sent.empty());
            EXPECT_EQ(boxes.calls().size(), 1u);
        }
    }
}

TEST_F(ConfigExchangeTest, FetchOfAnOldSizedGridConvertsTheLocalOldFile)
{
    // A local grid file of the older form, with one output.
    grid::OutputConfig config;
    config.outputCount = 1;
    QByteArray old(qsizetype(cfgx::kLegacyJunctionPointSize), '\0');
    config.pack(reinterpret_cast<uint8_t*>(old.data()));
    grid::GridPoint p;
    p.x = 77;
    p.y = 88;
    p.active = 1;
    p.pack(reinterpret_cast<uint8_t*>(old.data()) + grid::OutputConfig::kSize);  // column 0, row 0
    ASSERT_TRUE(writeAll(local(2), old));

    store.setFile(2, randomBytes(cfgx::kJunctionPointSize + 10, 2));
    exchange.StartFetch(cfgx::kWarpFile);
    pump();
    const QByteArray now = readAll(local(2));
    ASSERT_EQ(std::size_t(now.size()), cfgx::kJunctionPointSize);
    EXPECT_EQ(grid::GridPoint::unpack(reinterpret_cast<const uint8_t*>(now.constData()) + grid::OutputConfig::kSize), p);
}
