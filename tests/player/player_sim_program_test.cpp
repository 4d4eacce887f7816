#include "tests/support/test_support.h"
#include "transport/protocol.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTcpSocket>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct ProgramCase {
    const char* name;
    QStringList args;
};

// The program as a child process. Started with plain fork and exec rather
// than QProcess: the thread checker loses track of memory touched by a
// child that shares the parent's address space before exec.
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
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Program()
    {
        if (pid_ > 0 && exitCode_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            ::close(out_);
        if (err_ >= 0)
            ::close(err_);
    }

    // The first line on standard output, or empty after the time-out.
    QString firstLine(int timeoutMs)
    {
        QByteArray line;
        while (!line.endsWith('\n')) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0)
                return {};
            char c;
            if (::read(out_, &c, 1) != 1)
                return {};
            line += c;
        }
        return QString::fromLatin1(line);
    }

    // Waits for the end (sending SIGTERM first when asked); the exit code,
    // or -1 when it did not end in time.
    int finish(bool terminate, int timeoutMs = 5000)
    {
        if (terminate)
            ::kill(pid_, SIGTERM);
        for (int waited = 0; waited < timeoutMs; waited += 5) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
                return exitCode_;
            }
            ::usleep(5000);
        }
        return -1;
    }

    QString standardError()
    {
        QByteArray all;
        char buf[4096];
        for (;;) {
            pollfd p{err_, POLLIN, 0};
            if (::poll(&p, 1, 0) <= 0)
                break;
            const ssize_t n = ::read(err_, buf, sizeof buf);
            if (n <= 0)
                break;
            all.append(buf, int(n));
        }
        return QString::fromLatin1(all);
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int exitCode_ = -1;
};

TEST(PlayerSimProgram, ParsesOptionsAndServes)
{
    Program p(
        {QStringLiteral("--address"), QStringLiteral("127.0.0.4"), QStringLiteral("--version"),
            QStringLiteral("0x2640"), QStringLiteral("--channel"), QStringLiteral("41"), QStringLiteral("--fpga"),
            QStringLiteral("6"), QStringLiteral("--no-android"), QStringLiteral("--build"), QString(),
            QStringLiteral("--fault"), QStringLiteral("notsupported@16")});
    const auto m = QRegularExpression(QStringLiteral("listening on 127\\.0\\.0\\.4:(\\d+)")).match(p.firstLine(5000));
    ASSERT_TRUE(m.hasMatch()) << p.standardError().toStdString();
    const uint16_t port = uint16_t(m.captured(1).toUInt());

    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.4"), port);
    ASSERT_TRUE(s.waitForConnected(3000));
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_PLAYER_INFO;
    h.sequence = 21;
    s.write(proto::buildPacket(h));
    h.command = proto::CMD_TEMPERATURE;
    s.write(proto::buildPacket(h));
    QByteArray in;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        in += s.readAll();
        return in.size() >= 16 + 5 + 16;
    }));
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
    const ProgramCase cases[] = {
        {"unknown option", {QStringLiteral("--frobnicate")}},
        {"missing value", {QStringLiteral("--port")}},
        {"port too large", {QStringLiteral("--port"), QStringLiteral("70000")}},
        {"short MAC", {QStringLiteral("--mac"), QStringLiteral("A1B2")}},
        {"long ID", {QStringLiteral("--id"), QStringLiteral("0123456789ABC")}},
        {"unknown fault", {QStringLiteral("--fault"), QStringLiteral("explode")}},
        {"delay without time", {QStringLiteral("--fault"), QStringLiteral("delay")}},
        {"address that is not IPv4", {QStringLiteral("--address"), QStringLiteral("127.0.0")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Program p(c.args);
        const int code = p.finish(false);
        EXPECT_GT(code, 0);
        EXPECT_NE(code, 127);  // the program was found
        EXPECT_FALSE(p.standardError().isEmpty());
    }
}

}  // namespace
