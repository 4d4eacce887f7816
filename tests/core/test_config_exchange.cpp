// The configuration-file exchange, twice over: step by step against the
// simulated player's file store in-process (replies come straight back and the
// timer is ticked by hand, so every case is deterministic), and end to end over
// a real loopback TCP connection to the simulated player.

#include "common/digest.h"
#include "core/config_exchange.h"
#include "core/layout/view_settings.h"
#include "core/output_config.h"
#include "platform/messages.h"
#include "player/config_store.h"
#include "player/player_sim.h"
#include "transport/records.h"
#include "tests/support/full_disk.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <tuple>

using cfgx::ConfigExchange;
using testsupport::randomBytes;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const QString kIp = QStringLiteral("127.0.0.1");
const QString kOtherIp = QStringLiteral("127.0.0.9");

// The document's side, cut down to what the exchange needs; records all it is told.
struct TestHost : cfgx::ConfigExchangeHost {
    QString folder;
    uint16_t version = 0x1523;
    uint16_t seq = 7;
    bool sendOk = true;
    std::deque<sim::Request> pending;  // sent, not yet answered
    std::vector<sim::Request> sent;
    std::vector<int> progress;
    std::vector<unsigned> posted;
    int fetchEnded = 0, waitHidden = 0;
    QStringList waitShown, gridRead;
    std::vector<uint16_t> blend;

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
    QString currentPlayerIp() const override { return kIp; }
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

    // File numbers of the fetches (or uploads) sent, in order.
    std::vector<int> configRequests(bool uploads = false) const
    {
        std::vector<int> out;
        for (const auto& r : sent)
            if (r.header.command == proto::CMD_CONFIG_FILE && (r.header.arg != 0) == uploads)
                out.push_back(r.header.subCode);
        return out;
    }
    int statusRequests() const
    {
        return int(std::count_if(sent.begin(), sent.end(),
                                 [](const sim::Request& r) { return r.header.command == proto::CMD_STATUS; }));
    }
};

const std::vector<std::pair<uint8_t, std::size_t>> kBlendFiles = {
    {1, cfgx::kWarpSize},         {2, cfgx::kJunctionPointSize}, {3, cfgx::kProjectorGraphSize},
    {4, cfgx::kCustomShapesSize}, {6, cfgx::kGammaSize},         {7, cfgx::kCustomShapesNewSize},
};
const std::vector<int> kBlendOrder{1, 2, 3, 4, 6, 7};

// The player's answer to leaving (1) or entering (0) the adjust mode.
proto::PlayerPacketHeader adjustReply(uint8_t sub)
{
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_ADJUST_MODE;
    h.subCode = sub;
    return h;
}

class ConfigExchangeTest : public ::testing::Test {
protected:
    void SetUp() override { host.folder = dir.path(); }
    QString local(uint8_t file) const { return cfgx::configFilePath(host.folder, file); }
    void reply(const sim::Request& r, const QString& from = kIp)
    {
        for (const sim::Reply& answer : store.handle(r))
            exchange.OnConfigFileReply(from, answer.header, answer.payload);
    }
    // Answers pending requests until none is left (bounded).
    void pump()
    {
        for (int i = 0; i < 100 && !host.pending.empty(); ++i) {
            const sim::Request r = host.pending.front();
            host.pending.pop_front();
            if (r.header.command == proto::CMD_CONFIG_FILE)
                reply(r);
        }
    }

    QTemporaryDir dir;
    TestHost host;
    sim::ConfigStore store;
    ConfigExchange exchange{host};
    testsupport::MessageBoxRecorder boxes;
};

}  // namespace

TEST(ConfigTrailer, ModbusCheckValuesAsTheExchangeUsesThem)
{
    // The standard check value of "123456789" is 0x4B37, sent low byte first.
    QByteArray withTrailer("123456789");
    digest::AppendCrcTrailer(withTrailer);
    EXPECT_EQ(withTrailer, QByteArray("123456789\x37\x4B"));
    const QByteArray digits("123456789");
    const std::pair<QByteArray, bool> cases[] = {
        {withTrailer, true},
        {digits + QByteArray("\x4B\x37", 2), false},  // high byte first
        {QByteArray("\xFF\xFF", 2), true},            // CRC of nothing
        {QByteArray("\xFF\xFE", 2), false},
        {QByteArray("\xFF", 1), false},
        {QByteArray(), false},
    };
    for (const auto& [bytes, ok] : cases)
        EXPECT_EQ(digest::CheckCrcTrailer(reinterpret_cast<const uint8_t*>(bytes.constData()), std::size_t(bytes.size())),
                  ok)
            << bytes.toHex().toStdString();
}

TEST_F(ConfigExchangeTest, WrongTrailerSkipsThatFileOnlyAndKeepsTheOldCopy)
{
    // The large file is checked as well as the small ones.
    for (uint8_t bad : {uint8_t(1), uint8_t(3), uint8_t(6), uint8_t(7)}) {
        SCOPED_TRACE(int(bad));
        QTemporaryDir folder;
        host.folder = folder.path();
        host.fetchEnded = 0;
        host.sent.clear();
        for (auto [file, size] : kBlendFiles) {
            store.setFile(file, randomBytes(size, 100 + file));
            store.setCorruptTrailer(file, file == bad);
        }
        ASSERT_TRUE(writeFile(local(bad), "old copy"));
        exchange.StartFetch(cfgx::kWarpFile);
        pump();

        EXPECT_EQ(host.configRequests(), kBlendOrder);
        for (auto [file, size] : kBlendFiles)
            EXPECT_EQ(readFile(local(file)), file == bad ? QByteArray("old copy") : *store.file(file)) << int(file);
        EXPECT_EQ(host.fetchEnded, 1);
        // No temporary file left behind.
        for (const QString& name : QDir(folder.path() + "/config").entryList(QDir::Files))
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
    EXPECT_EQ(host.configRequests(), kBlendOrder);
    for (uint8_t file : {1, 2, 3, 4, 6})
        EXPECT_EQ(QFile::exists(local(file)), file == 1 || file == 4) << int(file);
    EXPECT_EQ(readFile(local(7)), *store.file(7));
    EXPECT_TRUE(boxes.calls().empty());

    // File 7 of any other length ends the fetch without writing it.
    QFile::remove(local(7));
    store.setFile(7, randomBytes(1000, 7));
    exchange.StartFetch(cfgx::kWarpFile);
    pump();
    EXPECT_FALSE(QFile::exists(local(7)));
    EXPECT_EQ(host.fetchEnded, 2);
    EXPECT_EQ(exchange.mode(), ConfigExchange::Idle);
}

TEST_F(ConfigExchangeTest, SingleFileFetches)
{
    const QByteArray gridJson("{\"Msg\":\"Grid config\"}");
    store.setFile(5, randomBytes(cfgx::kVideoPicWindowSize, 5));
    store.setFile(17, randomBytes(1234, 17));
    store.setFile(18, gridJson);

    exchange.StartFetch(cfgx::kVideoPicWindowFile);
    exchange.SetActive(true);
    pump();
    EXPECT_EQ(readFile(local(5)), *store.file(5));
    EXPECT_EQ(host.posted, (std::vector<unsigned>{platform::WM_OPEN_VIDEO_PIC_WINDOW}));
    EXPECT_FALSE(exchange.active());

    exchange.StartFetch(cfgx::kRotateFile);
    pump();
    EXPECT_EQ(readFile(local(17)), *store.file(17));
    EXPECT_EQ(host.fetchEnded, 1);

    exchange.StartFetch(cfgx::kGridFile);
    pump();
    EXPECT_EQ(readFile(local(18)), gridJson);
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

TEST_F(ConfigExchangeTest, FullDiskKeepsEveryGoodFileAndSaysSoOnce)
{
    testsupport::FullDisk disk;
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason().toStdString();
    host.folder = disk.path();
    const QByteArray goodWarp = randomBytes(cfgx::kWarpSize, 41);
    const QByteArray goodGrid("{\"Msg\":\"Grid config\",\"ViewOneGridWidth\":3}");
    ASSERT_TRUE(writeFile(local(cfgx::kWarpFile), goodWarp));
    ASSERT_TRUE(writeFile(local(cfgx::kGridFile), goodGrid));
    for (auto [file, size] : kBlendFiles)
        store.setFile(file, randomBytes(size, 200 + file));
    // Small files: their bytes sit in the write buffer until the flush.
    store.setFile(cfgx::kGridFile, QByteArray("{\"Msg\":\"Grid config\",\"ViewOneGridWidth\":5}"));
    disk.fill();

    // The setup's fetch chain, then the connection's grid fetch.
    const struct {
        uint8_t start;
        int statusRequests, fetchEnded;
    } rows[] = {
        {cfgx::kWarpFile, 0, 1},
        {cfgx::kGridFile, 1, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(int(row.start));
        boxes.clear();
        exchange.StartFetch(row.start);
        pump();
        EXPECT_EQ(boxes.calls().size(), 1u) << boxes.texts().join('|').toStdString();
        EXPECT_TRUE(boxes.texts().value(0).startsWith("Cannot write")) << boxes.texts().join('|').toStdString();
        EXPECT_EQ(host.statusRequests(), row.statusRequests);
        EXPECT_EQ(host.fetchEnded, row.fetchEnded);
        EXPECT_EQ(exchange.mode(), ConfigExchange::Idle);
    }
    EXPECT_EQ(readFile(local(cfgx::kWarpFile)), goodWarp);
    EXPECT_EQ(readFile(local(cfgx::kGridFile)), goodGrid);
    EXPECT_TRUE(host.gridRead.isEmpty());  // the old settings stay in force

    // Zoom, grid or lock changes write the same file through the JSON writer.
    QString error;
    layout::ViewSettings settings;
    settings.columns = {7, 7};
    EXPECT_FALSE(layout::WriteGridFile(local(cfgx::kGridFile), settings, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readFile(local(cfgx::kGridFile)), goodGrid);
    EXPECT_EQ(QDir(disk.path() + "/config").entryList(QDir::Files),
              (QStringList{"Grid.QVE", "Warp.QVE"}));  // no temporary file left

    // Once space is back the next fetch writes the file.
    disk.release();
    exchange.StartFetch(cfgx::kGridFile);
    pump();
    EXPECT_EQ(readFile(local(cfgx::kGridFile)), *store.file(cfgx::kGridFile));
    EXPECT_EQ(host.gridRead.size(), 1);
}

TEST_F(ConfigExchangeTest, LateDuplicateIsNeverTakenForTheNextFile)
{
    store.setFile(3, randomBytes(cfgx::kProjectorGraphSize, 3));
    store.setFile(4, randomBytes(cfgx::kCustomShapesSize, 4));
    store.setSilentFetches(3, 1);  // the first request for file 3 is answered only below
    exchange.SetActive(true);
    exchange.StartFetch(cfgx::kWarpFile);
    pump();
    ASSERT_EQ(exchange.file(), 3);
    host.pending = {host.sent.back()};
    for (int i = 0; i < 3; ++i)
        exchange.FetchParamsStep();
    ASSERT_EQ(host.pending.size(), 2u);  // the request and its repeat

    // Both are answered: the first answer moves on to file 4, the second
    // (still sub-code 3) must not be written as file 4.
    const sim::Request first = host.pending[0], second = host.pending[1];
    host.pending.erase(host.pending.begin(), host.pending.begin() + 2);
    reply(first);
    ASSERT_EQ(exchange.file(), 4);
    reply(second);
    EXPECT_EQ(exchange.file(), 4);
    EXPECT_FALSE(QFile::exists(local(4)));

    // A reply from another player does not count either.
    reply(host.pending.front(), kOtherIp);
    EXPECT_EQ(exchange.file(), 4);
    pump();
    EXPECT_EQ(readFile(local(3)), *store.file(3));
    EXPECT_EQ(readFile(local(4)), *store.file(4));
}

// A file the player never answers is asked (or sent) again a bounded number
// of times, then one message ends the exchange.
TEST_F(ConfigExchangeTest, RepeatsAreBoundedWithOneMessage)
{
    for (bool upload : {false, true}) {
        SCOPED_TRACE(upload);
        const uint8_t file = upload ? cfgx::kGridFile : cfgx::kJunctionPointFile;
        host.sent.clear();
        boxes.clear();
        exchange.SetActive(true);
        if (upload) {
            ASSERT_TRUE(writeFile(local(file), "{}"));
            ASSERT_TRUE(exchange.UploadConfigFile(file));
        } else {
            store.setSilentFetches(file, 1000);
            exchange.StartFetch(cfgx::kWarpFile);
        }
        for (int i = 0; i < 40; ++i) {
            if (upload)
                host.pending.clear();  // never acknowledged
            pump();
            exchange.FetchParamsStep();
        }
        const auto asked = host.configRequests(upload);
        EXPECT_EQ(std::count(asked.begin(), asked.end(), file), 1 + cfgx::kMaxRepeats);
        EXPECT_EQ(boxes.calls().size(), 1u);
        EXPECT_FALSE(exchange.active());
        EXPECT_EQ(exchange.mode(), ConfigExchange::Idle);
    }
    EXPECT_EQ(host.fetchEnded, 1);
}

TEST_F(ConfigExchangeTest, NotSupportedAnswerStopsTheExchange)
{
    exchange.StartFetch(cfgx::kGridFile);
    exchange.SetActive(true);
    EXPECT_FALSE(exchange.OnNotSupportedReply(kOtherIp, 0xC0 | proto::CMD_CONFIG_FILE));
    EXPECT_FALSE(exchange.OnNotSupportedReply(kIp, 0xC0 | proto::CMD_STATUS));
    EXPECT_TRUE(exchange.OnNotSupportedReply(kIp, 0xC0 | proto::CMD_CONFIG_FILE));
    EXPECT_EQ(host.statusRequests(), 1);  // the connection goes on
    const std::size_t before = host.sent.size();
    for (int i = 0; i < 10; ++i)
        exchange.FetchParamsStep();
    EXPECT_EQ(host.sent.size(), before);
    EXPECT_FALSE(exchange.OnNotSupportedReply(kIp, 0xC0 | proto::CMD_CONFIG_FILE));
}

// "Not supported" has two forms: bit 6 set, or the reply bit clear. Either
// ends the fetch at once, instead of repeating the request every few ticks.
TEST_F(ConfigExchangeTest, BothNotSupportedFormsStopTheFetch)
{
    const struct {
        uint8_t raw;
        bool stops;
    } cases[] = {
        {0xC0 | proto::CMD_CONFIG_FILE, true},  // bit 6
        {proto::CMD_CONFIG_FILE, true},         // bit 7 clear
        {0x40 | proto::CMD_CONFIG_FILE, true},  // both
        {0x80 | proto::CMD_CONFIG_FILE, false}, // a plain reply
        {proto::CMD_STATUS, false},             // another command
    };
    for (const auto& c : cases) {
        ConfigExchange x(host);
        x.StartFetch(cfgx::kWarpFile);
        x.SetActive(true);
        EXPECT_EQ(x.OnNotSupportedReply(kIp, c.raw), c.stops) << int(c.raw);
        EXPECT_EQ(x.mode() == ConfigExchange::Idle, c.stops) << int(c.raw);
    }
}

TEST_F(ConfigExchangeTest, AdjustModeReplyVersionAndSenderGates)
{
    ASSERT_TRUE(writeFile(local(1), randomBytes(cfgx::kWarpSize, 1)));
    host.version = 0x14FF;  // older player: status only
    exchange.OnAdjustModeReply(kIp, adjustReply(1));
    EXPECT_EQ(host.statusRequests(), 1);
    EXPECT_TRUE(host.waitShown.isEmpty());

    host.version = 0x1500;
    exchange.OnAdjustModeReply(kOtherIp, adjustReply(1));  // another player
    exchange.OnAdjustModeReply(kIp, adjustReply(0));       // entering, not leaving
    EXPECT_TRUE(host.configRequests(true).empty());
    EXPECT_EQ(host.blend, (std::vector<uint16_t>{0x0C01, 0x0C01, 0x0C00}));

    QFile::remove(local(1));  // nothing to save: box closed, status asked
    exchange.OnAdjustModeReply(kIp, adjustReply(1));
    EXPECT_EQ(host.waitShown.size(), 1);
    EXPECT_EQ(host.waitHidden, 1);
    EXPECT_EQ(host.statusRequests(), 2);
    EXPECT_FALSE(exchange.active());
}

TEST_F(ConfigExchangeTest, UploadTimerMovesOnWithoutAcknowledgement)
{
    ASSERT_TRUE(writeFile(local(1), randomBytes(cfgx::kWarpSize, 1)));
    ASSERT_TRUE(writeFile(local(3), randomBytes(300, 3)));
    exchange.SetActive(true);
    ASSERT_TRUE(exchange.UploadConfigFile(1));
    for (int i = 0; i < 3; ++i)
        exchange.FetchParamsStep();  // no acknowledgement: file 3 is next
    EXPECT_EQ(host.configRequests(true), (std::vector<int>{1, 3}));
    exchange.FetchParamsStep();  // the new file has its own three ticks
    exchange.FetchParamsStep();
    EXPECT_EQ(host.configRequests(true), (std::vector<int>{1, 3}));
    exchange.FetchParamsStep();
    EXPECT_EQ(host.waitHidden, 1);
    EXPECT_EQ(host.statusRequests(), 1);
}

TEST_F(ConfigExchangeTest, UploadAcknowledgementsOfTheSingleFiles)
{
    ASSERT_TRUE(writeFile(local(5), randomBytes(cfgx::kVideoPicWindowSize, 5)));
    ASSERT_TRUE(writeFile(local(18), "{\"Msg\":\"Grid config\"}"));
    ASSERT_TRUE(writeFile(local(17), "rotate"));

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
    // {size, arg sent (0: refused, not cut)}
    const std::pair<qsizetype, uint16_t> cases[] = {{8191997, 2}, {8191998, 1}, {8192000, 1}, {8192001, 0}};
    for (auto [size, arg] : cases) {
        SCOPED_TRACE(size);
        ASSERT_TRUE(writeFile(local(17), QByteArray(size, 'r')));
        host.sent.clear();
        boxes.clear();
        EXPECT_EQ(exchange.UploadConfigFile(17), arg != 0);
        ASSERT_EQ(host.sent.size(), arg ? 1u : 0u);
        EXPECT_EQ(boxes.calls().size(), arg ? 0u : 1u);
        if (arg) {
            EXPECT_EQ(host.sent[0].header.arg, arg);
            EXPECT_EQ(host.sent[0].payload.size(), size + 2);
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
    std::tie(p.x, p.y, p.active) = std::make_tuple(77, 88, 1);
    p.pack(reinterpret_cast<uint8_t*>(old.data()) + grid::OutputConfig::kSize);  // column 0, row 0
    ASSERT_TRUE(writeFile(local(2), old));

    store.setFile(2, randomBytes(cfgx::kJunctionPointSize + 10, 2));
    exchange.StartFetch(cfgx::kWarpFile);
    pump();
    const QByteArray now = readFile(local(2));
    ASSERT_EQ(std::size_t(now.size()), cfgx::kJunctionPointSize);
    EXPECT_EQ(grid::GridPoint::unpack(reinterpret_cast<const uint8_t*>(now.constData()) + grid::OutputConfig::kSize), p);
}

// ---------------------------------------------------------------------------
// End to end: requests travel over TCP to the simulated player, replies are
// framed from the byte stream and handed to the exchange on the UI thread.

namespace {

class SocketHost : public TestHost {
public:
    SocketHost(const QString& playerFolder, uint16_t port)
    {
        folder = playerFolder;
        QObject::connect(&socket_, &QTcpSocket::readyRead, [this] { onReadyRead(); });
        socket_.connectToHost(kIp, port);
        connected = socket_.waitForConnected(3000);
    }
    bool sendToCurrentPlayer(const proto::PlayerPacketHeader& header, const QByteArray& payload) override
    {
        TestHost::sendToCurrentPlayer(header, payload);  // recorded only
        const QByteArray packet = proto::buildPacket(header, payload);
        return socket_.write(packet) == packet.size();
    }
    uint16_t sequence() const override { return sequence_; }
    // A request of `code` past the exchange and its record, numbered so that
    // its answer leaves the next number as it is.
    void sendAside(uint8_t code)
    {
        proto::PlayerPacketHeader header;
        header.command = code;
        header.sequence = uint16_t(sequence_ - 1);
        socket_.write(proto::buildPacket(header, {}));
    }

    bool connected = false;
    int statusReplies = 0;
    cfgx::ConfigExchange* exchange = nullptr;

private:
    void onReadyRead()
    {
        const QByteArray bytes = socket_.readAll();
        assembler_.feed(kIp, 0, 0, reinterpret_cast<const uint8_t*>(bytes.constData()), std::size_t(bytes.size()),
                        [this](const ReplyAssembler& r) {
                            sequence_ = uint16_t(r.header.sequence + 1);
                            const uint8_t code = proto::decodeReplyCode(r.header.command);
                            statusReplies += code == proto::CMD_STATUS;
                            if (code == proto::CMD_CONFIG_FILE && exchange)
                                exchange->OnConfigFileReply(kIp, r.header, r.payloadBytes());
                            else if (code == 0 && exchange)
                                exchange->OnNotSupportedReply(kIp, r.header.command);
                        });
    }

    QTcpSocket socket_;
    ReplyAssembler assembler_;
    uint16_t sequence_ = 0;
};

class ConfigExchangeSim : public ::testing::Test {
protected:
    void start(const QString& seedFolder = QString())
    {
        sim::SimOptions o;
        o.configSeedFolder = seedFolder;
        player = std::make_unique<sim::PlayerSim>(o);
        sim::installStandardCommands(*player);
        sim::installConfigStore(*player);
        QString error;
        ASSERT_TRUE(player->start(&error)) << error.toStdString();
        store = sim::configStoreOf(*player);
        ASSERT_TRUE(store);
        host = std::make_unique<SocketHost>(folder.path(), player->tcpPort());
        ASSERT_TRUE(host->connected);
        exchange = std::make_unique<cfgx::ConfigExchange>(*host);
        host->exchange = exchange.get();
    }
    QString local(uint8_t file) const { return cfgx::configFilePath(folder.path(), file); }
    std::size_t fetches() const { return player->requestCount(proto::CMD_CONFIG_FILE); }
    // Lets every request sent so far reach the player: it acts on one
    // connection's requests in order, so once it has acted on one sent after
    // them, they are all counted.
    void settle()
    {
        const std::size_t before = player->requestCount(proto::CMD_TEMPERATURE);
        host->sendAside(proto::CMD_TEMPERATURE);
        ASSERT_TRUE(testsupport::waitUntil([&] { return player->requestCount(proto::CMD_TEMPERATURE) > before; }));
    }

    QTemporaryDir folder;  // the tool's per-player folder
    QTemporaryDir seed;    // the player's files
    testsupport::MessageBoxRecorder boxes;
    // Declared in the order they are needed, so they go in the reverse one.
    std::unique_ptr<sim::PlayerSim> player;
    std::shared_ptr<sim::ConfigStore> store;
    std::unique_ptr<SocketHost> host;
    std::unique_ptr<cfgx::ConfigExchange> exchange;
};

}  // namespace

TEST_F(ConfigExchangeSim, FetchChainFromASeededPlayer)
{
    std::map<uint8_t, QByteArray> content;
    for (auto [file, size] : kBlendFiles) {
        content[file] = randomBytes(size, 200 + file);
        ASSERT_TRUE(writeFile(seed.filePath("config/" + cfgx::configFileName(file)), content[file]));
    }
    start(seed.path());
    exchange->StartFetch(cfgx::kWarpFile);
    exchange->SetActive(true);
    ASSERT_TRUE(testsupport::waitUntil([&] { return host->fetchEnded == 1; }));
    for (auto [file, size] : kBlendFiles)
        EXPECT_EQ(readFile(local(file)), content[file]) << int(file);
    EXPECT_EQ(host->configRequests(), kBlendOrder);
    // Each request takes the number the previous reply left.
    for (std::size_t i = 0; i < host->sent.size(); ++i)
        EXPECT_EQ(host->sent[i].header.sequence, i);
    EXPECT_EQ(host->progress, (std::vector<int>{0, 20, 40, 60, 80, 90, -1}));
    EXPECT_FALSE(exchange->active());
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(ConfigExchangeSim, UploadChainStoresEveryExistingFile)
{
    start();
    std::map<uint8_t, QByteArray> content{{1, randomBytes(cfgx::kWarpSize, 1)},
                                          {3, randomBytes(cfgx::kProjectorGraphSize, 3)},
                                          {7, randomBytes(cfgx::kCustomShapesNewSmallSize, 7)}};
    for (auto& [file, bytes] : content)
        ASSERT_TRUE(writeFile(local(file), bytes));

    exchange->OnAdjustModeReply(kIp, adjustReply(1));
    EXPECT_EQ(host->waitShown, QStringList{"Save Param Wait..."});
    EXPECT_EQ(host->blend, (std::vector<uint16_t>{0x0C01}));
    EXPECT_TRUE(exchange->active());
    EXPECT_EQ(host->sent.size(), 1u);  // nothing more until acknowledged
    ASSERT_TRUE(testsupport::waitUntil([&] { return host->waitHidden == 1 && host->statusReplies == 1; }));
    EXPECT_EQ(host->configRequests(true), (std::vector<int>{1, 3, 7}));
    for (auto& [file, bytes] : content) {
        EXPECT_EQ(store->file(file).value_or(QByteArray()), bytes) << int(file);
        EXPECT_EQ(store->lastUploadArg(file), 2);
    }
    EXPECT_EQ(store->uploadsRejected(), 0);
    EXPECT_FALSE(exchange->active());
}

TEST_F(ConfigExchangeSim, SilentFileRetriedDamagedFileSkippedNotSupportedStops)
{
    start();
    store->setFile(1, randomBytes(cfgx::kWarpSize, 1));
    store->setCorruptTrailer(1, true);
    store->setFile(6, randomBytes(cfgx::kGammaSize, 6));
    store->setSilentFetches(3, 1);
    exchange->StartFetch(cfgx::kWarpFile);
    exchange->SetActive(true);
    ASSERT_TRUE(testsupport::waitUntil([&] { return fetches() == 3 && exchange->file() == 3; }));
    EXPECT_FALSE(QFile::exists(local(1)));  // wrong trailer: skipped, chain went on

    exchange->FetchParamsStep();
    exchange->FetchParamsStep();
    settle();
    EXPECT_EQ(fetches(), 3u);
    exchange->FetchParamsStep();  // third silent tick: asked again, answered this time
    ASSERT_TRUE(testsupport::waitUntil([&] { return host->fetchEnded == 1; }));
    EXPECT_EQ(host->configRequests(), (std::vector<int>{1, 2, 3, 3, 4, 6, 7}));
    EXPECT_EQ(readFile(local(6)), *store->file(6));

    // A player that does not know the request ends the exchange, unrepeated.
    player->setFault(sim::Fault::NotSupported, 0, proto::CMD_CONFIG_FILE);
    exchange->StartFetch(cfgx::kGridFile);
    exchange->SetActive(true);
    ASSERT_TRUE(testsupport::waitUntil([&] { return host->statusReplies == 1; }));
    EXPECT_EQ(exchange->mode(), ConfigExchange::Idle);
    for (int i = 0; i < 6; ++i)
        exchange->FetchParamsStep();
    settle();
    EXPECT_EQ(fetches(), 8u);
}
