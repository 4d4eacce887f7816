// The whole program against the simulated player: the command line connects,
// the handshake fills the per-player folder, and the connection goes on to
// fetch the display-grid file, the status and the layout list.
#include "player/config_store.h"
#include "player/player_sim.h"
#include "tests/core/program_run.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

bool sawRequests(const sim::PlayerSim& player, std::initializer_list<uint8_t> codes)
{
    for (uint8_t code : codes)
        if (player.requestCount(code) == 0)
            return false;
    return true;
}

struct ConnectCase {
    const char* name;
    QStringList arguments;  // %1 = port
    bool connects;
    const char* message;    // expected on stderr
};

class VelunaConnect : public ::testing::TestWithParam<ConnectCase> {};

TEST_P(VelunaConnect, CommandLine)
{
    if (!QFileInfo(ProgramRun::program()).isExecutable())
        GTEST_SKIP() << "veluna is not built";
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << testsupport::kNoChildProcessesUnderThreadChecker;
    const ConnectCase& c = GetParam();

    QTemporaryDir seed;
    const QByteArray grid = "{\r\n\t\"rows\" : 3\r\n}\r\n";
    {
        QFile f(seed.filePath(QStringLiteral("Grid.QVE")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(grid);
    }
    sim::SimOptions options;
    options.address = QStringLiteral("127.0.0.1");
    options.configSeedFolder = seed.path();
    sim::PlayerSim player(options);
    sim::installStandardCommands(player);
    sim::installConfigStore(player);
    QString error;
    ASSERT_TRUE(player.start(&error)) << error.toStdString();
    const QString port = QString::number(player.tcpPort());

    ProgramRun run;
    QStringList arguments;
    for (const QString& a : c.arguments)
        arguments << QString(a).replace(QStringLiteral("%1"), port);
    QProcess* veluna = run.start(arguments);

    QString stderrText;
    const auto readErr = [&] { stderrText += QString::fromUtf8(veluna->readAllStandardError()); };
    if (c.connects) {
        EXPECT_TRUE(testsupport::waitUntil(
            [&] {
                readErr();
                return sawRequests(player, {proto::CMD_PLAYER_INFO, proto::CMD_CONFIG_FILE, proto::CMD_STATUS,
                                            proto::CMD_LAYOUT}) ||
                       veluna->state() == QProcess::NotRunning;
            }))
            << stderrText.toStdString();
        const QString folder = run.homeFolder() + QStringLiteral("/127.0.0.1-A1B2C3D4E5F6-") + port;
        EXPECT_TRUE(QDir(folder).exists()) << folder.toStdString();
        EXPECT_TRUE(testsupport::waitUntil([&] { return QFile::exists(folder + QStringLiteral("/config/Grid.QVE")); }));
        QFile fetched(folder + QStringLiteral("/config/Grid.QVE"));
        ASSERT_TRUE(fetched.open(QIODevice::ReadOnly));
        EXPECT_EQ(fetched.readAll(), grid);
    } else {
        // Give the countdown time to run out, then make sure nothing reached the player.
        testsupport::waitUntil([&] {
            readErr();
            return stderrText.contains(QString::fromUtf8(c.message));
        }, 8000);
        EXPECT_EQ(player.requestCount(proto::CMD_PLAYER_INFO), 0u);
    }
    // The message box may come a moment after the requests the player saw.
    testsupport::waitUntil([&] {
        readErr();
        return stderrText.contains(QString::fromUtf8(c.message));
    }, 5000);
    EXPECT_TRUE(stderrText.contains(QString::fromUtf8(c.message))) << stderrText.toStdString();
    EXPECT_EQ(veluna->state(), QProcess::Running) << stderrText.toStdString();
    player.stop();
}

INSTANTIATE_TEST_SUITE_P(
    Program, VelunaConnect,
    ::testing::Values(
        ConnectCase{"Connects", {"-127.0.0.1", "-%1", "-a1b2c3d4e5f6"}, true, "MessageBox: veluna V9.1.5: Connected"},
        ConnectCase{"MacNotTwelveHexDigits", {"-127.0.0.1", "-%1", "-A1B2C3D4E5"}, false, "MessageBox: veluna V9.1.5:"},
        ConnectCase{"PortNotANumber", {"-127.0.0.1", "-80a", "-A1B2C3D4E5F6"}, false, "MessageBox: veluna V9.1.5:"}),
    [](const ::testing::TestParamInfo<ConnectCase>& info) { return std::string(info.param.name); });

}  // namespace
