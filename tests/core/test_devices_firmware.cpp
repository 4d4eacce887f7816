#include "common/controls/text_progress_ctrl.h"
#include "core/command_table.h"
#include "core/devices/device_commands.h"
#include "core/devices/select_program_file.h"
#include "tests/core/device_harness.h"
#include "tests/support/small_link_buffers.h"
#include "transport/link_loss.h"

#include <QDir>

#include <atomic>
#include <optional>
#include <chrono>
#include <thread>
#include <cerrno>
#include <QFile>
#include <QLineEdit>

namespace {

using devtest::DeviceHarness;
using firmware::FirmwareTransfer;
using Step = firmware::FirmwareTransfer::Step;
using testsupport::waitUntil;

// Runs a whole transfer against a player that acknowledges everything.
std::vector<firmware::Packet> runTransfer(const QString& path, std::vector<Step>* steps = nullptr)
{
    FirmwareTransfer t;
    std::vector<firmware::Packet> packets;
    auto first = t.Begin(path, 1);
    EXPECT_TRUE(first.has_value());
    packets.push_back(*first);
    for (int i = 0; i < 10; ++i) {
        firmware::Packet p;
        const Step s = t.OnReply(proto::CMD_PROGRAM_UPGRADE, 0, &p);
        if (steps)
            steps->push_back(s);
        if (s != Step::Sent)
            break;
        packets.push_back(p);
    }
    return packets;
}

TEST(FirmwareTransfer, PacketSequencesBySize)
{
    testsupport::TempHome home;
    struct Row {
        qint64 size;
        std::vector<std::pair<uint16_t, qsizetype>> chunks;  // param, payload size
    };
    const Row rows[] = {
        {10000000, {{1, 8192000}, {2, 1808000}}},
        {8192000, {{1, 8192000}, {2, 0}}},
        {0, {{2, 0}}},
        {5, {{2, 5}}},
    };
    for (const Row& row : rows) {
        const QString path = home.path() + QStringLiteral("/fw.dat");
        ASSERT_TRUE(testsupport::writeFile(path, testsupport::randomBytes(std::size_t(row.size), 3)));
        std::vector<Step> steps;
        const auto packets = runTransfer(path, &steps);
        ASSERT_EQ(packets.size(), row.chunks.size() + 1) << row.size;
        EXPECT_EQ(packets[0].header.param, 0);
        EXPECT_EQ(packets[0].payload, QByteArray("fw.dat"));
        QByteArray joined;
        for (std::size_t i = 0; i < row.chunks.size(); ++i) {
            const auto& p = packets[i + 1];
            EXPECT_EQ(p.header.param, row.chunks[i].first) << row.size;
            EXPECT_EQ(p.payload.size(), row.chunks[i].second) << row.size;
            EXPECT_EQ(p.header.sequence, i + 1);  // raised by every reply
            EXPECT_EQ(p.header.subCode, 1);
            joined += p.payload;
        }
        EXPECT_EQ(joined, testsupport::readFile(path));
        EXPECT_EQ(steps.back(), Step::Completed) << row.size;
    }
}

TEST(FirmwareTransfer, NamesLinkLossAndVanishedFiles)
{
    testsupport::TempHome home;
    const QString path = home.path() + QStringLiteral("/cpu.bin");
    ASSERT_TRUE(testsupport::writeFile(path, "program"));
    FirmwareTransfer t;
    // A name of 300 bytes is refused whole, never cut; so is one code page 936 cannot hold.
    EXPECT_FALSE(t.Begin(home.path() + QLatin1Char('/') + QString(296, QLatin1Char('n')) + QStringLiteral(".bin"), 0));
    EXPECT_FALSE(t.Begin(home.path() + QStringLiteral("/\U0001F600.bin"), 0));
    EXPECT_EQ(t.state(), FirmwareTransfer::kIdle);
    EXPECT_EQ(t.Begin(home.path() + QStringLiteral("/固件.bin"), 0)->payload, QByteArray("\xB9\xCC\xBC\xFE.bin"));

    // The link went: the replies still due to the transfer never come.
    firmware::Packet p;
    FirmwareTransfer x;
    ASSERT_TRUE(x.Begin(path, 0));
    EXPECT_TRUE(x.Abort());
    EXPECT_FALSE(x.Abort());
    EXPECT_FALSE(x.AwaitsAnswer());
    ASSERT_TRUE(x.Begin(path, 0));
    EXPECT_EQ(x.OnReply(proto::CMD_PROGRAM_UPGRADE, 0, &p), Step::Sent);
    EXPECT_EQ(x.OnReply(17, 0, &p), Step::None);  // another command only counts
    EXPECT_EQ(x.counter(), 2);

    FirmwareTransfer v;
    ASSERT_TRUE(v.Begin(path, 0));
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_EQ(v.OnReply(proto::CMD_PROGRAM_UPGRADE, 0, &p), Step::OpenFailed);
}

// Update again goes on a new connection exactly when the transfer before
// still waits for an answer: one that came late could not be told from the
// retry's own. A player that said "latest version" or took the last chunk
// owes nothing, and the retry stays on the link.
TEST(FirmwareTransfer, ARetryAsksForANewConnectionWhileAnAnswerIsOwed)
{
    testsupport::TempHome home;
    const QString path = home.path() + QStringLiteral("/cpu.bin");
    ASSERT_TRUE(testsupport::writeFile(path, testsupport::randomBytes(8192000 + 5, 5)));
    const struct {
        const char* name;
        std::vector<uint16_t> answers;  // `arg` of each answer before the retry
        bool linkWent;
        bool freshLink;
    } rows[] = {
        {"name unanswered", {}, false, true},
        {"chunk unanswered", {0}, false, true},
        {"last chunk unanswered", {0, 0}, false, true},
        {"completed", {0, 0, 0}, false, false},
        {"latest version", {1}, false, false},
        {"link went with the name unanswered", {}, true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FirmwareTransfer t;
        ASSERT_TRUE(t.Begin(path, 0));
        firmware::Packet p;
        for (const uint16_t arg : row.answers)
            t.OnReply(proto::CMD_PROGRAM_UPGRADE, arg, &p);
        if (row.linkWent)
            t.Abort();
        EXPECT_EQ(t.AwaitsAnswer(), row.freshLink);
        const auto retry = t.Begin(path, 0);
        ASSERT_TRUE(retry);
        EXPECT_EQ(retry->freshLink, row.freshLink);
        EXPECT_EQ(retry->header.param, 0);
        EXPECT_EQ(retry->header.sequence, row.answers.size());  // the counter goes on
        EXPECT_TRUE(t.AwaitsAnswer());
    }
}

// "completed" only for the image that was sent: one written while its last
// chunk travelled (its size and modification time kept) is unreadable.
TEST(FirmwareTransfer, ImageWrittenWhileItsLastChunkTravelsIsNotCompleted)
{
    testsupport::TempHome home;
    const QString path = home.path() + QStringLiteral("/cpu.bin");
    for (const bool written : {false, true}) {
        SCOPED_TRACE(written ? "written" : "left alone");
        ASSERT_TRUE(testsupport::writeFile(path, testsupport::randomBytes(8192000 + 5, 6)));
        FirmwareTransfer t;
        ASSERT_TRUE(t.Begin(path, 0));
        firmware::Packet p;
        ASSERT_EQ(t.OnReply(proto::CMD_PROGRAM_UPGRADE, 0, &p), FirmwareTransfer::Step::Sent);
        ASSERT_EQ(t.OnReply(proto::CMD_PROGRAM_UPGRADE, 0, &p), FirmwareTransfer::Step::Sent);
        ASSERT_EQ(p.header.param, 2);  // the last chunk
        if (written) {
            testsupport::untilALaterChangeTime(path);
            ASSERT_TRUE(testsupport::rewriteKeepingTheTime(path, 8192000));
        }
        EXPECT_EQ(t.OnReply(proto::CMD_PROGRAM_UPGRADE, 0, &p),
                  written ? FirmwareTransfer::Step::ReadFailed : FirmwareTransfer::Step::Completed);
        EXPECT_FALSE(t.AwaitsAnswer());
    }
}

TEST(FirmwareTransfer, WhyTheLinkWentInBothLanguages)
{
    using platform::kLanguageChinese;
    using platform::kLanguageEnglish;
    const struct {
        uint16_t event;
        int error;
        unsigned language;
        const char* text;
    } rows[] = {
        {kLinkPeerClosed, 0, kLanguageEnglish, "the player closed the connection"},
        {kLinkReceiveError, ECONNRESET, kLanguageChinese, "播放器重置了连接"},
        {kLinkShortSend, EPIPE, kLanguageEnglish, "the player reset the connection"},
        {kLinkShortSend, ETIMEDOUT, kLanguageChinese, "播放器不再接收数据"},
        {kLinkReceiveError, ETIMEDOUT, kLanguageEnglish, "the connection to the player was lost (error 110)"},
        {kLinkReceiveError, EHOSTUNREACH, kLanguageChinese, "与播放器的连接已断开（错误 113）"},
        {kLinkReceiveException, 0, kLanguageChinese, "与播放器的连接已断开"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(LinkLossText(row.event, row.error, row.language), QString::fromUtf8(row.text)) << row.text;
}

TEST(FirmwareUpgrade, FpgaImageAgainstThePlayer)
{
    DeviceHarness h;
    const QString path = h.home.path() + QStringLiteral("/image.dat");
    const QByteArray image = testsupport::randomBytes(10000000, 11);
    ASSERT_TRUE(testsupport::writeFile(path, image));
    CSelectProgramFile dialog(firmware::kFpga, h.doc->currentPlayer().ip, h.doc->titlePrefix());
    EXPECT_EQ(dialog.windowTitle(), h.doc->titlePrefix() + QStringLiteral("Update App"));
    dialog.PathEdit()->setText(path);
    dialog.OnUpdate();
    ASSERT_TRUE(waitUntil([&] { return h.boxes.calls.size() == 2; }));
    EXPECT_EQ(h.boxes.calls[0].text,
              QStringLiteral("Updating FPGA may cause equipment damage. Do you want to continue？"));
    EXPECT_EQ(h.boxes.calls[1].text, QStringLiteral("The update of the program file is completed。"));
    EXPECT_FALSE(dialog.Progress()->isVisible());
    const auto sent = h.requests(proto::CMD_PROGRAM_UPGRADE);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].payload, QByteArray("image.dat"));
    EXPECT_EQ(sent[2].header.param, 2);
    EXPECT_TRUE(h.withStore<bool>([&](sim::DeviceStore& s) { return s.upgrades[1].data == image && s.upgrades[1].complete; }));

    // The same image again: the player says it has it.
    h.boxes.clear();
    dialog.OnUpdate();
    ASSERT_TRUE(waitUntil([&] { return h.boxes.calls.size() == 2; }));
    EXPECT_EQ(h.boxes.calls[1].text,
              QStringLiteral("The program file is the latest version and does not need to be upgraded。"));
    EXPECT_EQ(h.requests(proto::CMD_PROGRAM_UPGRADE).size(), 4u);
}

// The link goes while the first chunk awaits its acknowledgement: the
// dialog says why at once, and Update again in the same dialog sends the
// file from its beginning over a new connection.
TEST(FirmwareUpgrade, LinkLossIsToldAndARetryInTheSameDialogCompletes)
{
    using platform::kLanguageChinese;
    using platform::kLanguageEnglish;
    const struct {
        unsigned language;
        bool reset;  // else the player closes the connection in order
        const char* failure;
        const char* completed;
    } rows[] = {
        {kLanguageEnglish, false, "The update of the program file failed: the player closed the connection.",
         "The update of the program file is completed。"},
        {kLanguageEnglish, true, "The update of the program file failed: the player reset the connection.",
         "The update of the program file is completed。"},
        {kLanguageChinese, false, "程序文件更新失败：播放器关闭了连接。", "程序文件更新完成。"},
        {kLanguageChinese, true, "程序文件更新失败：播放器重置了连接。", "程序文件更新完成。"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.failure);
        DeviceHarness h(row.language);
        auto answerChunks = std::make_shared<std::atomic<bool>>(false);
        const sim::CommandHandler upgrade = h.player->commandHandler(proto::CMD_PROGRAM_UPGRADE);
        h.player->registerCommand(proto::CMD_PROGRAM_UPGRADE, [upgrade, answerChunks](sim::PlayerSim& s,
                                                                                     const sim::Request& req) {
            std::vector<sim::Reply> replies = upgrade(s, req);
            return req.header.param == 0 || *answerChunks ? replies : std::vector<sim::Reply>();
        });
        const QString path = h.home.path() + QStringLiteral("/cpu.bin");
        const QByteArray image = testsupport::randomBytes(10000000, 13);
        ASSERT_TRUE(testsupport::writeFile(path, image));
        CSelectProgramFile dialog(firmware::kCpu, h.doc->currentPlayer().ip, h.doc->titlePrefix());
        dialog.PathEdit()->setText(path);
        dialog.OnUpdate();
        ASSERT_TRUE(h.waitRequests(proto::CMD_PROGRAM_UPGRADE, 2));
        if (row.reset)
            h.player->resetConnections();
        else
            h.player->dropConnections();
        ASSERT_TRUE(waitUntil([&] { return h.boxes.calls.size() >= 2; }));
        EXPECT_EQ(h.boxes.calls[1].text, QString::fromUtf8(row.failure));
        EXPECT_EQ(dialog.Transfer().state(), FirmwareTransfer::kIdle);
        EXPECT_FALSE(dialog.Progress()->isVisibleTo(&dialog));

        *answerChunks = true;
        h.player->clearLog();
        dialog.OnUpdate();
        ASSERT_TRUE(waitUntil([&] { return h.boxes.calls.size() >= 4; }, 60000)) << h.boxes.texts().join('|').toStdString();
        EXPECT_EQ(h.boxes.calls[3].text, QString::fromUtf8(row.completed));
        const auto sent = h.requests(proto::CMD_PROGRAM_UPGRADE);
        ASSERT_EQ(sent.size(), 3u);
        EXPECT_EQ(sent[0].payload, QByteArray("cpu.bin"));
        EXPECT_EQ(sent[1].payload, image.left(8192000));
        EXPECT_TRUE(h.withStore<bool>([&](sim::DeviceStore& s) { return s.upgrades[0].data == image && s.upgrades[0].complete; }));
    }
}

TEST(FirmwareUpgrade, RefusalsBeforeAnythingIsSent)
{
    DeviceHarness h(platform::kLanguageChinese);
    CSelectProgramFile dialog(firmware::kCpu, h.doc->currentPlayer().ip, h.doc->titlePrefix());
    dialog.OnUpdate();
    dialog.PathEdit()->setText(h.home.path() + QStringLiteral("/none.bin"));
    dialog.OnUpdate();
    const QString path = h.home.path() + QStringLiteral("/cpu.bin");
    ASSERT_TRUE(testsupport::writeFile(path, "x"));
    dialog.PathEdit()->setText(path);
    h.boxes.answers = {platform::MsgResult::No};
    dialog.OnUpdate();
    EXPECT_EQ(h.boxes.texts(), QStringList({QStringLiteral("程序文件未选择吧？"), QStringLiteral("程序文件不存在吧？"),
                                            QStringLiteral("更新MCU有可能导致设备损坏，是否继续？")}));
    waitUntil([] { return false; }, 100);
    EXPECT_TRUE(h.requests(proto::CMD_PROGRAM_UPGRADE).empty());
}

// A stand-in for the debug bridge that writes each call's arguments, one
// per line in angle brackets, to $ADB_LOG.
QString writeFakeAdb(const QString& folder)
{
    const QString path = folder + QStringLiteral("/adb");
    testsupport::writeFile(path, "#!/bin/sh\n"
                                 "{ printf 'CALL'; for a in \"$@\"; do printf '\\n<%s>' \"$a\"; done; printf '\\n'; }"
                                 " >> \"$ADB_LOG\"\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

TEST(FirmwareUpgrade, ServerScriptGetsThePathIntactAsOneArgument)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << testsupport::kNoChildProcessesUnderThreadChecker;
    DeviceHarness h(platform::kLanguageEnglish, false);
    const QString bin = h.home.path() + QStringLiteral("/fakebin");
    ASSERT_TRUE(platform::ensureFolder(bin));
    writeFakeAdb(bin);
    const QString log = h.home.path() + QStringLiteral("/adb.log");
    testsupport::ScopedEnv adbLog("ADB_LOG", log.toUtf8());
    testsupport::ScopedEnv path("PATH", (bin + QStringLiteral(":/usr/bin:/bin")).toUtf8());
    ASSERT_EQ(firmware::AdbPath(), bin + QStringLiteral("/adb"));

    const QString nasty = h.home.path() + QStringLiteral("/a b;$(touch pwned)`id` 'q\"*&|>x.su");
    ASSERT_TRUE(testsupport::writeFile(nasty, "server"));
    CSelectProgramFile dialog(firmware::kServer, QStringLiteral("127.0.0.9"), h.doc->titlePrefix());
    dialog.PathEdit()->setText(nasty);
    dialog.OnUpdate();
    ASSERT_TRUE(waitUntil([&] { return testsupport::readFile(log).count("CALL") >= 6; }));
    const QString calls = QString::fromUtf8(testsupport::readFile(log));
    EXPECT_TRUE(calls.contains(QStringLiteral("<push>\n<") + nasty + QStringLiteral(">\n</data/local/tmp/update.su>")))
        << calls.toStdString();
    EXPECT_TRUE(calls.contains(QStringLiteral("<connect>\n<127.0.0.9:5555>")));
    EXPECT_FALSE(QFile::exists(QStringLiteral("pwned")));
    EXPECT_FALSE(QFile::exists(h.home.path() + QStringLiteral("/pwned")));
    EXPECT_EQ(h.boxes.calls.size(), 1u);  // only the confirmation
}

TEST(FirmwareUpgrade, OpenerChecksTheBridgeAndTheConnection)
{
    DeviceHarness h(platform::kLanguageEnglish, false);
    testsupport::ScopedEnv path("PATH", h.home.path().toUtf8());  // no adb here
    OpenUpgradeDialog(*h.doc, firmware::kServer);
    ASSERT_EQ(h.boxes.calls.size(), 1u);
    EXPECT_EQ(h.boxes.calls[0].text, QStringLiteral("ADB tool does not exist, please install it first！"));
    // Not connected: kinds 1 and 2 open nothing and say nothing.
    OpenUpgradeDialog(*h.doc, firmware::kCpu);
    OpenUpgradeDialog(*h.doc, firmware::kFpga);
    EXPECT_EQ(h.boxes.calls.size(), 1u);
    EXPECT_TRUE(QFileInfo(firmware::ScriptPath()).isFile());
}

}  // namespace

namespace {

// A program file cut short while its chunks travel: the transfer ends with a
// read failure before any part of the chunk it can no longer read whole.
TEST(FirmwareTransfer, FileCutShortEndsBeforeAHalfChunk)
{
    testsupport::TempHome home;
    const struct { qint64 cutTo; } rows[] = {{8192000 + 10}, {8192000}, {0}};
    for (const auto& row : rows) {
        const QString path = home.path() + QStringLiteral("/fw.bin");
        ASSERT_TRUE(testsupport::writeFile(path, testsupport::randomBytes(2 * 8192000 + 7, 4)));
        FirmwareTransfer t;
        firmware::Packet p;
        ASSERT_TRUE(t.Begin(path, 0));
        ASSERT_EQ(t.OnReply(proto::CMD_PROGRAM_UPGRADE, 0, &p), Step::Sent);
        EXPECT_EQ(p.payload.size(), 8192000);
        ASSERT_TRUE(QFile::resize(path, row.cutTo));
        firmware::Packet none;
        EXPECT_EQ(t.OnReply(proto::CMD_PROGRAM_UPGRADE, 0, &none), Step::ReadFailed) << row.cutTo;
        EXPECT_TRUE(none.payload.isEmpty());
        EXPECT_EQ(t.state(), FirmwareTransfer::kIdle);
        EXPECT_EQ(t.OnReply(proto::CMD_PROGRAM_UPGRADE, 0, &none), Step::None);
    }
}

}  // namespace

namespace {

// Update again while the player still owes the first transfer an answer
// that never comes: the retry sends the whole file and ends "completed".
TEST(FirmwareUpgrade, UpdateAgainAfterAnUnansweredPacketSendsTheFile)
{
    for (const uint16_t unanswered : {0, 1}) {  // the first transfer's name, or its first chunk
        SCOPED_TRACE(unanswered);
        DeviceHarness h;
        auto silent = std::make_shared<std::atomic<bool>>(true);
        const sim::CommandHandler upgrade = h.player->commandHandler(proto::CMD_PROGRAM_UPGRADE);
        h.player->registerCommand(proto::CMD_PROGRAM_UPGRADE, [=](sim::PlayerSim& s, const sim::Request& req) {
            std::vector<sim::Reply> replies = upgrade(s, req);
            return req.header.param == unanswered && silent->exchange(false) ? std::vector<sim::Reply>() : replies;
        });
        const QString path = h.home.path() + QStringLiteral("/cpu.bin");
        const QByteArray image = testsupport::randomBytes(10000000, 17);
        ASSERT_TRUE(testsupport::writeFile(path, image));
        CSelectProgramFile dialog(firmware::kCpu, h.doc->currentPlayer().ip, h.doc->titlePrefix());
        dialog.PathEdit()->setText(path);
        dialog.OnUpdate();
        // The guards only end a frozen run: an 8 MB chunk under the thread
        // checker on a busy machine takes longer than a few seconds.
        ASSERT_TRUE(waitUntil([&] { return !*silent; }, 60000));
        dialog.OnUpdate();
        ASSERT_TRUE(waitUntil([&] { return h.boxes.calls.size() >= 3; }, 60000));
        EXPECT_EQ(h.boxes.calls[2].text, QStringLiteral("The update of the program file is completed。"));
        EXPECT_TRUE(h.withStore<bool>([&](sim::DeviceStore& s) { return s.upgrades[0].data == image && s.upgrades[0].complete; }));
    }
}

// The link went and the window said so; whichever request links the player
// again shows it connected again, with the commands that need it.
TEST(FirmwareUpgrade, StatusBarAndCommandsFollowTheLinkBack)
{
    const struct {
        const char* how;
        bool firmware;    // the firmware dialog's Update again, else a temperature request
        bool playerBack;  // else the player is gone and the link cannot come back
    } rows[] = {
        {"firmware Update again", true, true},
        {"temperature request", false, true},
        {"player gone", false, false},
    };
    const QString disconnected = QStringLiteral("Disconnected player");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.how);
        DeviceHarness h(platform::kLanguageEnglish, false);
        QString pane;
        h.doc->setStatusPaneText = [&pane](int id, const QString& text) {
            if (id == CvelunaDoc::kPlayerInfoPane)
                pane = text;
        };
        auto rebootEnabled = [&] { return core::CommandEnabled(core::kCmdReboot, h.doc->commandState()); };
        h.doc->OnReconnect();
        ASSERT_TRUE(waitUntil([&] { return h.doc->IsConnected(); }));
        const QString shown = pane;
        ASSERT_FALSE(shown.isEmpty());
        ASSERT_NE(shown, disconnected);
        CSelectProgramFile dialog(firmware::kCpu, h.doc->currentPlayer().ip, h.doc->titlePrefix());

        h.player->dropConnections();
        ASSERT_TRUE(waitUntil([&] { return pane == disconnected; }));
        EXPECT_FALSE(h.doc->IsConnected());
        EXPECT_FALSE(rebootEnabled());
        if (!row.playerBack)
            h.player->stop();
        h.boxes.clear();
        if (row.firmware) {
            const QString path = h.home.path() + QStringLiteral("/cpu.bin");
            ASSERT_TRUE(testsupport::writeFile(path, "program"));
            dialog.PathEdit()->setText(path);
            dialog.OnUpdate();
            ASSERT_TRUE(waitUntil([&] { return h.boxes.calls.size() == 2; }));
            EXPECT_EQ(h.boxes.calls[1].text, QStringLiteral("The update of the program file is completed。"));
        } else {
            h.doc->SendToCurrentPlayer(h.doc->MakeRequest(proto::CMD_TEMPERATURE));
            if (row.playerBack)
                ASSERT_TRUE(h.waitRequests(proto::CMD_TEMPERATURE, 1));
            else
                EXPECT_EQ(h.boxes.texts(), QStringList{QStringLiteral("Failed to connect player！")});
        }
        EXPECT_EQ(pane, row.playerBack ? shown : disconnected);
        EXPECT_EQ(h.doc->IsConnected(), row.playerBack);
        EXPECT_EQ(rebootEnabled(), row.playerBack);
    }
}

}  // namespace

namespace {

// The file sent is the file announced, and a file that fails while it is
// written is named, not the player: an image cut to nothing between the
// name message and its first chunk sends no empty last chunk and never says
// "completed"; one cut while its chunk is on the wire ends the link with the
// file's message only, and Update again reconnects and completes. Small
// buffers on both ends keep that chunk being written until the cut: with the
// machine's own, all of it can rest in them first, and only the next chunk's
// read would find the file cut.
TEST(FirmwareUpgrade, ImageCutBeforeOrWhileItsChunkTravelsIsNamedAndNeverCompleted)
{
    const struct {
        const char* name;
        bool whileWritten;  // else between the name message and the first chunk
        const char* said;   // what the file is named with
    } rows[] = {{"cut after its name", false, "The file changed while it was being sent: "},
                {"cut while written", true, "Cannot read the file: "}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<testsupport::SmallLinkBuffers> small;
        if (row.whileWritten)
            small.emplace();
        DeviceHarness h(platform::kLanguageEnglish, true, row.whileWritten ? testsupport::kSmallSocketBuffer : 0);
        const QString path = h.home.path() + QStringLiteral("/cpu.bin");
        ASSERT_TRUE(QFile(path).open(QIODevice::WriteOnly));
        ASSERT_TRUE(QFile::resize(path, 20000000));
        const sim::CommandHandler upgrade = h.player->commandHandler(proto::CMD_PROGRAM_UPGRADE);
        auto cut = std::make_shared<std::atomic<bool>>(row.whileWritten);  // the first name only
        h.player->registerCommand(proto::CMD_PROGRAM_UPGRADE,
                                  [upgrade, path, cut](sim::PlayerSim& s, const sim::Request& req) {
                                      if (req.header.param == 0 && !cut->exchange(true))
                                          QFile::resize(path, 0);
                                      return upgrade(s, req);
                                  });
        if (row.whileWritten)
            h.player->setReadPause(200);  // the first chunk stays on its way
        const uint64_t before = h.player->bytesReceived();
        CSelectProgramFile dialog(firmware::kCpu, h.doc->currentPlayer().ip, h.doc->titlePrefix());
        dialog.PathEdit()->setText(path);
        dialog.OnUpdate();
        if (row.whileWritten) {
            ASSERT_TRUE(waitUntil([&] { return h.player->bytesReceived() > before + 100000; }));
            ASSERT_TRUE(QFile::resize(path, 0));
            h.player->setReadPause(0);
        }
        ASSERT_TRUE(waitUntil([&] { return h.boxes.calls.size() >= 2; }));
        waitUntil([] { return false; }, 400);  // nothing more may follow
        const QStringList expected{QStringLiteral("Updating MCU may cause equipment damage. Do you want to continue？"),
                                   row.said + QDir::toNativeSeparators(path)};
        EXPECT_EQ(h.boxes.texts(), expected);
        EXPECT_EQ(dialog.Transfer().state(), FirmwareTransfer::kIdle);
        EXPECT_FALSE(dialog.Progress()->isVisibleTo(&dialog));
        const auto sent = h.requests(proto::CMD_PROGRAM_UPGRADE);
        for (const auto& p : sent)
            EXPECT_NE(p.header.param, 2);  // no last chunk, empty or not
        // Cut while written, the chunk never arrives whole and the link goes
        // with it; the player is not blamed (the message above is all).
        EXPECT_EQ(sent.size(), 1u);
        EXPECT_EQ(h.doc->IsConnected(), !row.whileWritten);

        // Written again and sent again: it completes (over a new connection
        // where the link went).
        const QByteArray image = testsupport::randomBytes(100000, 17);
        ASSERT_TRUE(testsupport::writeFile(path, image));
        h.boxes.clear();
        dialog.OnUpdate();
        ASSERT_TRUE(waitUntil([&] { return h.boxes.calls.size() >= 2; }));
        EXPECT_EQ(h.boxes.texts().value(1), QStringLiteral("The update of the program file is completed。"));
        EXPECT_TRUE(h.withStore<bool>(
            [&](sim::DeviceStore& s) { return s.upgrades[0].data == image && s.upgrades[0].complete; }));
        EXPECT_TRUE(h.doc->IsConnected());
    }
}

}  // namespace

namespace {

// One answer of the simulated player kept back until the test lets it go
// (or a minute passes): the connection's thread waits, as a busy player does.
struct HeldAnswer {
    std::atomic<bool> used{false};
    std::atomic<bool> held{false};
    std::atomic<bool> open{false};
    void hold()
    {
        held = true;
        for (int i = 0; i < 6000 && !open; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
};

// Lets every held answer go before the player stops (it joins the thread
// that holds one).
struct OpenOnExit {
    std::vector<std::shared_ptr<HeldAnswer>> answers;
    ~OpenOnExit()
    {
        for (const auto& a : answers)
            a->open = true;
    }
};

// Update again (or a new dialog) while the player still owes the first
// attempt an answer, which then comes just after the retry's name: it is
// never taken for an answer of the retry, whether the player echoes the step
// in its answer or answers every packet with 0 there. "completed" comes only
// once the player answered the retry's last chunk, and the player holds the
// whole image.
TEST(FirmwareUpgrade, ARetryNeverTakesAnAnswerOfTheAttemptBefore)
{
    const struct {
        const char* name;
        bool echoesStep;
        uint16_t late;   // the first attempt's packet answered late: 0 its name, 1 its first chunk
        bool newDialog;  // the first dialog is closed and the retry is another's
    } rows[] = {
        {"echoing player, chunk answer late", true, 1, false},
        {"echoing player, name answer late", true, 0, false},
        {"echoing player, new dialog while a chunk answer is late", true, 1, true},
        {"player answering 0, chunk answer late", false, 1, false},
        {"player answering 0, name answer late", false, 0, false},
        {"player answering 0, new dialog while a chunk answer is late", false, 1, true},
    };
    const QString completed = QStringLiteral("The update of the program file is completed。");
    const QString confirm = QStringLiteral("Updating MCU may cause equipment damage. Do you want to continue？");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        DeviceHarness h;
        auto first = std::make_shared<HeldAnswer>();
        auto last = std::make_shared<HeldAnswer>();  // the retry's last chunk: the first attempt sends none
        OpenOnExit openOnExit{{first, last}};
        const sim::CommandHandler upgrade = h.player->commandHandler(proto::CMD_PROGRAM_UPGRADE);
        h.player->registerCommand(proto::CMD_PROGRAM_UPGRADE, [=, echoes = row.echoesStep, late = row.late](
                                                                  sim::PlayerSim& s, const sim::Request& req) {
            std::vector<sim::Reply> replies = upgrade(s, req);
            if (!echoes)
                for (sim::Reply& r : replies)
                    r.header.param = 0;
            if (req.header.param == late && !first->used.exchange(true))
                first->hold();
            else if (req.header.param == 2 && !last->used.exchange(true))
                last->hold();
            return replies;
        });
        const QString path = h.home.path() + QStringLiteral("/cpu.bin");
        const QByteArray image = testsupport::randomBytes(10000000, 19);
        ASSERT_TRUE(testsupport::writeFile(path, image));
        auto dialog = std::make_unique<CSelectProgramFile>(firmware::kCpu, h.doc->currentPlayer().ip,
                                                           h.doc->titlePrefix());
        dialog->PathEdit()->setText(path);
        dialog->OnUpdate();
        ASSERT_TRUE(waitUntil([&] { return first->held.load(); }, 60000));
        if (row.newDialog) {
            dialog->reject();
            dialog = std::make_unique<CSelectProgramFile>(firmware::kCpu, h.doc->currentPlayer().ip,
                                                          h.doc->titlePrefix());
            dialog->PathEdit()->setText(path);
        }
        dialog->OnUpdate();
        first->open = true;  // the retry's name is on its way
        ASSERT_TRUE(waitUntil([&] { return last->held.load(); }, 60000)) << h.boxes.texts().join('|').toStdString();
        // Every other answer has gone out; the last chunk's is still held.
        EXPECT_FALSE(waitUntil([&] { return h.boxes.texts().contains(completed); }, 1000));
        last->open = true;
        ASSERT_TRUE(waitUntil([&] { return h.boxes.texts().contains(completed); }, 60000));
        EXPECT_EQ(h.boxes.texts(), QStringList({confirm, confirm, completed}));
        EXPECT_TRUE(h.withStore<bool>(
            [&](sim::DeviceStore& s) { return s.upgrades[0].data == image && s.upgrades[0].complete; }));
    }
}

}  // namespace
