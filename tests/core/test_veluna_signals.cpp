// SIGTERM, SIGINT and SIGHUP end the whole program as Exit does, without its
// questions: the player sees its connection end in order (not a reset) and
// the Temp folder is gone.
#include "tests/core/program_run.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>

namespace {

using testsupport::TcpListener;
using testsupport::TcpPeer;

TEST(VelunaSignals, EndTheProgramAsExitDoes)
{
    if (!QFileInfo(ProgramRun::program()).isExecutable())
        GTEST_SKIP() << "veluna is not built";
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << testsupport::kNoChildProcessesUnderThreadChecker;
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        // A player that takes the connection and the handshake request.
        TcpListener player;
        ASSERT_NE(player.port(), 0);
        ProgramRun run;
        QProcess* veluna = run.start({"-127.0.0.1", "-" + QString::number(player.port()), "-A1B2C3D4E5F6"});
        ASSERT_TRUE(veluna->waitForStarted(5000));
        const std::unique_ptr<TcpPeer> link = player.accept(10000);
        ASSERT_TRUE(link) << "veluna did not connect";
        EXPECT_EQ(link->read(16, 5000).size(), 16);  // the handshake request
        const QString temp = run.homeFolder() + QStringLiteral("/Temp");
        ASSERT_TRUE(QFileInfo(temp).isDir());

        ::kill(pid_t(veluna->processId()), signalNumber);
        EXPECT_EQ(link->waitForEnd(5000), TcpPeer::End::Orderly) << signalNumber;
        ASSERT_TRUE(veluna->waitForFinished(10000)) << signalNumber;
        EXPECT_EQ(veluna->exitStatus(), QProcess::NormalExit) << signalNumber;
        EXPECT_EQ(veluna->exitCode(), 0) << signalNumber;
        EXPECT_FALSE(QFileInfo::exists(temp)) << signalNumber;
        // No question was asked on the way out.
        EXPECT_FALSE(QString::fromUtf8(veluna->readAllStandardError()).contains(QStringLiteral("Do you really want")));
    }
}

}  // namespace

namespace {

// `make run`'s script after the program it opened has ended. A program that
// died before it could close (under xvfb-run, Ctrl+C can end the display
// first) leaves the Temp folder it made, which the script removes; a Temp
// that was there before may be another program's and stays. A run the user
// interrupted ends well, whichever way the program went.
TEST(RunScript, RemovesTheTempADeadProgramLeftAndEndsWellWhenInterrupted)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << testsupport::kNoChildProcessesUnderThreadChecker;
    const struct {
        const char* name;
        const char* program;  // the stand-in veluna's body, run by sh in the home folder
        bool tempBefore;
        int status;
        bool tempAfter;
        bool said;
    } rows[] = {
        {"closes in order", "rm -rf Temp; exit 0", false, 0, false, false},
        {"dies leaving its Temp", "mkdir -p Temp; exit 1", false, 1, false, true},
        {"dies, Temp was there before", "exit 1", true, 1, true, false},
        {"interrupted, dies with its display", "mkdir -p Temp; kill -INT $PPID; exit 1", false, 0, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString bin = dir.filePath(QStringLiteral("bin"));
        const QString home = dir.filePath(QStringLiteral("home"));
        ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(home));
        const auto script = [&](const QString& name, const QByteArray& body) {
            const QString path = bin + QLatin1Char('/') + name;
            ASSERT_TRUE(testsupport::writeFile(path, "#!/bin/sh\n" + body + "\n"));
            ASSERT_TRUE(QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner));
        };
        script(QStringLiteral("player-sim"), "exec sleep 60");
        script(QStringLiteral("veluna"), "cd \"$VELUNA_HOME\" || exit 9\n" + QByteArray(row.program));
        if (row.tempBefore) {
            ASSERT_TRUE(QDir().mkpath(home + QStringLiteral("/Temp")));
        }

        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VELUNA_HOME"), home);
        env.insert(QStringLiteral("VELUNA_RUN_PORT"), QStringLiteral("5099"));
        run.setProcessEnvironment(env);
        run.start(QStringLiteral("bash"), {testsupport::sourceDir() + QStringLiteral("/scripts/run.sh"), bin});
        ASSERT_TRUE(run.waitForFinished(30000));
        const QString said = QString::fromUtf8(run.readAllStandardError());
        EXPECT_EQ(run.exitCode(), row.status) << said.toStdString();
        EXPECT_EQ(QFileInfo::exists(home + QStringLiteral("/Temp")), row.tempAfter);
        EXPECT_EQ(said.contains(QStringLiteral("removed")), row.said) << said.toStdString();
    }
}

}  // namespace
