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
