#include "tests/support/test_support.h"
#include "transport/protocol.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryFile>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

QStringList words(const char* text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '));
}

// The program as a child process. Started with plain fork and exec rather
// than QProcess: the thread checker loses track of memory touched by a
// child that shares the parent's address space before exec. Its standard
// error goes to a file, read once it has ended.
class Program {
public:
    explicit Program(const QStringList& args)
    {
        std::vector<std::string> strings{(testsupport::binDir() + QStringLiteral("/player-sim")).toStdString()};
        for (const QString& a : args)
            strings.push_back(a.toStdString());
        std::vector<char*> argv;
        for (auto& s : strings)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        if (!errFile_.open())
            return;
        const int err = ::open(errFile_.fileName().toLocal8Bit().constData(), O_WRONLY | O_CLOEXEC);
        int out[2];
        if (err < 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::dup2(err, 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err);
        out_ = out[0];
    }
    ~Program()
    {
        if (pid_ > 0 && exitCode_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            ::close(out_);
    }

    // The first line on standard output, or empty after the time-out.
    QString firstLine(int timeoutMs)
    {
        QByteArray line;
        char c = 0;
        pollfd p{out_, POLLIN, 0};
        while (!line.endsWith('\n') && ::poll(&p, 1, timeoutMs) == 1 && ::read(out_, &c, 1) == 1)
            line += c;
        return line.endsWith('\n') ? QString::fromLatin1(line) : QString();
    }

    // Waits for the end (sending SIGTERM first when asked); the exit code,
    // or -1 when it did not end in time.
    int finish(bool terminate, int timeoutMs = 5000)
    {
        if (terminate)
            ::kill(pid_, SIGTERM);
        int status = 0;
        for (int waited = 0; waited < timeoutMs; waited += 5, ::usleep(5000))
            if (::waitpid(pid_, &status, WNOHANG) == pid_)
                return exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        return -1;
    }

    QString standardError() { return errFile_.seek(0) ? QString::fromLatin1(errFile_.readAll()) : QString(); }

private:
    QTemporaryFile errFile_;
    pid_t pid_ = -1;
    int out_ = -1;
    int exitCode_ = -1;
};

TEST(PlayerSimProgram, ParsesOptionsAndServes)
{
    Program p(words("--address 127.0.0.4 --version 0x2640 --channel 41 --fpga 6 --no-android --fault notsupported@16 "
                    "--build") << QString());
    const auto m = QRegularExpression(QStringLiteral("listening on 127\\.0\\.0\\.4:(\\d+)")).match(p.firstLine(5000));
    ASSERT_TRUE(m.hasMatch()) << p.standardError().toStdString();

    testsupport::TcpPeer s(QStringLiteral("127.0.0.4"), uint16_t(m.captured(1).toUInt()));
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_PLAYER_INFO;
    h.sequence = 21;
    QByteArray requests = proto::buildPacket(h);
    h.command = proto::CMD_TEMPERATURE;
    ASSERT_TRUE(s.send(requests + proto::buildPacket(h)));
    const QByteArray in = s.read(16 + 5 + 16);
    ASSERT_EQ(in.size(), 16 + 5 + 16);
    const auto* b = reinterpret_cast<const uint8_t*>(in.constData());
    const auto reply = proto::PlayerPacketHeader::fromBytes(b);
    EXPECT_EQ(reply.command, 0x81);
    EXPECT_EQ(reply.subCode, 41);
    EXPECT_EQ(reply.param, 0x2640);
    EXPECT_EQ(reply.arg, 0x0006);
    EXPECT_EQ(reply.payloadLength, 5u);
    EXPECT_EQ(reply.sequence, 21);
    EXPECT_EQ(proto::PlayerPacketHeader::fromBytes(b + 21).command, 0xC0 | proto::CMD_TEMPERATURE);

    s.close();
    EXPECT_EQ(p.finish(true), 0);
    const QString err = p.standardError();
    EXPECT_TRUE(err.contains(QStringLiteral("in  cmd=1 ")));
    EXPECT_TRUE(err.contains(QStringLiteral("out cmd=16 (not supported)")));
}

TEST(PlayerSimProgram, RefusesBadOptions)
{
    for (const char* args : {"--frobnicate", "--port", "--port 70000", "--mac A1B2", "--id 0123456789ABC",
                             "--fault explode", "--fault delay", "--fault trickle:0", "--address 127.0.0"}) {
        SCOPED_TRACE(args);
        Program p(words(args));
        const int code = p.finish(false);
        EXPECT_GT(code, 0);
        EXPECT_NE(code, 127);  // the program was found
        EXPECT_FALSE(p.standardError().isEmpty());
    }
}

}  // namespace
