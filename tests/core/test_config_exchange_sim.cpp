// The configuration-file exchange end to end against the simulated player:
// requests travel over a real TCP connection on loopback, replies are framed
// from the byte stream and handed to the exchange on the UI thread.

#include "common/digest.h"
#include "core/config_exchange.h"
#include "player/config_store.h"
#include "player/player_sim.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

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
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The document's side, cut down to what the exchange needs.
class SocketHost : public cfgx::ConfigExchangeHost {
public:
    SocketHost(QString folder, uint16_t port) : folder_(std::move(folder))
    {
        QObject::connect(&socket_, &QTcpSocket::readyRead, [this] { onReadyRead(); });
        socket_.connectToHost(QStringLiteral("127.0.0.1"), port);
        connected_ = socket_.waitForConnected(3000);
    }
    bool connected() const { return connected_; }
    void setExchange(cfgx::ConfigExchange* exchange) { exchange_ = exchange; }

    bool sendToCurrentPlayer(const proto::PlayerPacketHeader& header, const QByteArray& payload) override
    {
        const QByteArray packet = proto::buildPacket(header, payload);
        return socket_.write(packet) == packet.size();
    }
    QString playerFolder() const override { return folder_; }
    QString currentPlayerIp() const override { return QStringLiteral("127.0.0.1"); }
    uint16_t playerVersion() const override { return 0x1523; }
    uint16_t sequence() const override { return sequence_; }
    void setProgress(int percent) override { progress.push_back(percent); }
    void postToMainWindow(unsigned message) override { posted.push_back(message); }
    void onFetchEnded() override { ++fetchEnded; }
    void showWaitBox(const QString&) override { ++waitShown; }
    void hideWaitBox() override { ++waitHidden; }
    void notifyBlendWizard(uint16_t) override {}
    void onGridFileFetched(const QString&) override {}
    unsigned language() const override { return 9; }

    std::vector<int> progress;
    std::vector<unsigned> posted;
    int fetchEnded = 0;
    int waitShown = 0;
    int waitHidden = 0;
    int statusReplies = 0;

private:
    void onReadyRead()
    {
        buffer_ += socket_.readAll();
        while (std::size_t(buffer_.size()) >= proto::kHeaderSize) {
            const auto h = proto::PlayerPacketHeader::fromBytes(reinterpret_cast<const uint8_t*>(buffer_.constData()));
            const std::size_t total = proto::kHeaderSize + h.payloadLength;
            if (std::size_t(buffer_.size()) < total)
                return;
            const QByteArray payload = buffer_.mid(qsizetype(proto::kHeaderSize), qsizetype(h.payloadLength));
            buffer_.remove(0, qsizetype(total));
            sequence_ = uint16_t(h.sequence + 1);
            const uint8_t code = proto::decodeReplyCode(h.command);
            if (code == proto::CMD_CONFIG_FILE && exchange_)
                exchange_->OnConfigFileReply(QStringLiteral("127.0.0.1"), h, payload);
            else if (code == proto::CMD_STATUS)
                ++statusReplies;
            else if (code == 0 && exchange_)
                exchange_->OnNotSupportedReply(QStringLiteral("127.0.0.1"), h.command);
        }
    }

    QString folder_;
    QTcpSocket socket_;
    QByteArray buffer_;
    bool connected_ = false;
    uint16_t sequence_ = 0;
    cfgx::ConfigExchange* exchange_ = nullptr;
};

const std::vector<std::pair<uint8_t, std::size_t>> kBlendFiles = {
    {1, cfgx::kWarpSize},         {2, cfgx::kJunctionPointSize}, {3, cfgx::kProjectorGraphSize},
    {4, cfgx::kCustomShapesSize}, {6, cfgx::kGammaSize},         {7, cfgx::kCustomShapesNewSize},
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
        ASSERT_TRUE(host->connected());
        exchange = std::make_unique<cfgx::ConfigExchange>(*host);
        host->setExchange(exchange.get());
    }
    void TearDown() override
    {
        if (host)
            host->setExchange(nullptr);
        exchange.reset();
        host.reset();
        if (player)
            player->stop();
    }
    QString local(uint8_t file) const { return cfgx::configFilePath(folder.path(), file); }

    QTemporaryDir folder;  // the tool's per-player folder
    QTemporaryDir seed;    // the player's files
    testsupport::MessageBoxRecorder boxes;
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
        ASSERT_TRUE(writeAll(seed.filePath("config/" + cfgx::configFileName(file)), content[file]));
    }
    start(seed.path());
    exchange->StartFetch(cfgx::kWarpFile);
    exchange->SetActive(true);
    ASSERT_TRUE(testsupport::waitUntil([&] { return host->fetchEnded == 1; }, 20000));
    for (auto [file, size] : kBlendFiles)
        EXPECT_EQ(readAll(local(file)), content[file]) << int(file);
    EXPECT_EQ(player->requestCount(proto::CMD_CONFIG_FILE), kBlendFiles.size());
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(ConfigExchangeSim, UploadChainStoresEveryExistingFile)
{
    start();
    std::map<uint8_t, QByteArray> content{{1, randomBytes(cfgx::kWarpSize, 1)},
                                          {3, randomBytes(cfgx::kProjectorGraphSize, 3)},
                                          {7, randomBytes(cfgx::kCustomShapesNewSmallSize, 7)}};
    for (auto& [file, bytes] : content)
        ASSERT_TRUE(writeAll(local(file), bytes));

    proto::PlayerPacketHeader adjust;
    adjust.command = proto::CMD_ADJUST_MODE;
    adjust.subCode = 1;
    exchange->OnAdjustModeReply(QStringLiteral("127.0.0.1"), adjust);
    ASSERT_TRUE(testsupport::waitUntil([&] { return host->waitHidden == 1 && host->statusReplies == 1; }, 20000));
    for (auto& [file, bytes] : content) {
        ASSERT_TRUE(store->file(file).has_value()) << int(file);
        EXPECT_EQ(*store->file(file), bytes) << int(file);
        EXPECT_EQ(store->lastUploadArg(file), 2);
    }
    EXPECT_EQ(store->uploadsStored(), 3);
    EXPECT_EQ(host->waitShown, 1);
    EXPECT_FALSE(exchange->active());
}

TEST_F(ConfigExchangeSim, SilentFileIsRetriedOnTheThirdTickAndDamagedFileSkipped)
{
    start();
    store->setFile(1, randomBytes(cfgx::kWarpSize, 1));
    store->setCorruptTrailer(1, true);
    const QByteArray gamma = randomBytes(cfgx::kGammaSize, 6);
    store->setFile(6, gamma);
    store->setSilentFetches(3, 1);
    exchange->StartFetch(cfgx::kWarpFile);
    exchange->SetActive(true);
    ASSERT_TRUE(testsupport::waitUntil([&] { return player->requestCount(proto::CMD_CONFIG_FILE) == 3; }));
    ASSERT_TRUE(testsupport::waitUntil([&] { return exchange->file() == 3; }));
    EXPECT_FALSE(QFile::exists(local(1)));  // wrong trailer: skipped, chain went on

    exchange->FetchParamsStep();
    exchange->FetchParamsStep();
    testsupport::waitUntil([] { return false; }, 50);
    EXPECT_EQ(player->requestCount(proto::CMD_CONFIG_FILE), 3u);
    exchange->FetchParamsStep();  // third silent tick: asked again, answered this time
    ASSERT_TRUE(testsupport::waitUntil([&] { return host->fetchEnded == 1; }));
    EXPECT_EQ(player->requestCount(proto::CMD_CONFIG_FILE), 7u);  // 1, 2, 3, 3, 4, 6, 7
    EXPECT_EQ(readAll(local(6)), gamma);
}

TEST_F(ConfigExchangeSim, NotSupportedAnswerStopsTheFetchWithoutRepeats)
{
    start();
    player->setFault(sim::Fault::NotSupported, 0, proto::CMD_CONFIG_FILE);
    exchange->StartFetch(cfgx::kGridFile);
    exchange->SetActive(true);
    ASSERT_TRUE(testsupport::waitUntil([&] { return host->statusReplies == 1; }));
    EXPECT_EQ(exchange->mode(), cfgx::ConfigExchange::Idle);
    for (int i = 0; i < 6; ++i)
        exchange->FetchParamsStep();
    testsupport::waitUntil([] { return false; }, 50);
    EXPECT_EQ(player->requestCount(proto::CMD_CONFIG_FILE), 1u);
}
