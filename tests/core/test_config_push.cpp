// Pushing one file an editor has just written (file 17 after the rotation
// editor closes): the wait box, the upload, and the way back when the upload
// cannot start.

#include "core/config_exchange.h"
#include "player/config_store.h"
#include "tests/support/test_support.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct PushHost : cfgx::ConfigExchangeHost {
    QString folder;
    bool sendOk = true;
    std::vector<sim::Request> sent;
    std::vector<int> progress;
    QStringList waits;
    int hidden = 0;

    bool sendToCurrentPlayer(const proto::PlayerPacketHeader& header, const QByteArray& payload) override
    {
        if (!sendOk)
            return false;
        sim::Request r{header, payload};
        r.header.payloadLength = uint32_t(payload.size());
        sent.push_back(r);
        return true;
    }
    QString playerFolder() const override { return folder; }
    QString currentPlayerIp() const override { return QStringLiteral("127.0.0.1"); }
    uint16_t playerVersion() const override { return 0x1521; }
    uint16_t sequence() const override { return 3; }
    void setProgress(int percent) override { progress.push_back(percent); }
    void postToMainWindow(unsigned) override {}
    void onFetchEnded() override {}
    void showWaitBox(const QString& text) override { waits << text; }
    void hideWaitBox() override { ++hidden; }
    void notifyBlendWizard(uint16_t) override {}
    void onGridFileFetched(const QString&) override {}
    unsigned language() const override { return 9; }
};

}  // namespace

TEST(ConfigPush, RotateFileIsPushedAndTheBoxClosesOnTheAcknowledgement)
{
    QTemporaryDir dir;
    PushHost host;
    host.folder = dir.path();
    cfgx::ConfigExchange exchange(host);
    const QByteArray file = "{\n\t\"Msg\" : \"Rotate config V2\"\n}";
    ASSERT_TRUE(testsupport::writeFile(cfgx::configFilePath(dir.path(), cfgx::kRotateFile), file));

    ASSERT_TRUE(exchange.PushConfigFile(cfgx::kRotateFile));
    EXPECT_EQ(host.waits, QStringList{QStringLiteral("Save Param Wait...")});
    ASSERT_EQ(host.sent.size(), 1u);
    EXPECT_EQ(host.sent[0].header.subCode, cfgx::kRotateFile);
    EXPECT_EQ(host.sent[0].payload.left(file.size()), file);
    EXPECT_TRUE(exchange.active());

    sim::ConfigStore store;
    for (const sim::Reply& r : store.handle(host.sent[0]))
        exchange.OnConfigFileReply(QStringLiteral("127.0.0.1"), r.header, r.payload);
    EXPECT_EQ(store.file(cfgx::kRotateFile).value_or(QByteArray()), file);
    EXPECT_EQ(host.hidden, 1);
    EXPECT_EQ(host.progress.back(), -1);
    EXPECT_EQ(exchange.mode(), cfgx::ConfigExchange::Idle);
}

TEST(ConfigPush, AnUploadThatCannotStartHidesTheBoxAndTheProgress)
{
    const struct { bool fileThere; bool sendOk; } rows[] = {{false, true}, {true, false}};
    for (const auto& row : rows) {
        QTemporaryDir dir;
        PushHost host;
        host.folder = dir.path();
        host.sendOk = row.sendOk;
        if (row.fileThere) {
            ASSERT_TRUE(testsupport::writeFile(cfgx::configFilePath(dir.path(), cfgx::kRotateFile), "{}"));
        }
        cfgx::ConfigExchange exchange(host);
        EXPECT_FALSE(exchange.PushConfigFile(cfgx::kRotateFile));
        EXPECT_EQ(host.hidden, 1);
        ASSERT_FALSE(host.progress.empty());
        EXPECT_EQ(host.progress.back(), -1);
        EXPECT_FALSE(exchange.active());
    }
}
