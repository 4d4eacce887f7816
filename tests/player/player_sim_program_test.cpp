#include "tests/support/test_support.h"
#include "transport/protocol.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>

namespace {

struct ProgramCase {
    const char* name;
    QStringList args;
    bool starts;
};

// Starts the program, reads its first line and returns the port (0 on failure).
uint16_t startProgram(QProcess& p, const QStringList& args)
{
    p.start(testsupport::binDir() + QStringLiteral("/player-sim"), args);
    if (!p.waitForStarted(5000))
        return 0;
    if (!testsupport::waitUntil([&] { return p.canReadLine() || p.state() == QProcess::NotRunning; }, 5000))
        return 0;
    const QString first = QString::fromLatin1(p.readLine());
    const auto m = QRegularExpression(QStringLiteral("listening on ([0-9.]+):(\\d+)")).match(first);
    return m.hasMatch() ? uint16_t(m.captured(2).toUInt()) : 0;
}

TEST(PlayerSimProgram, ParsesOptionsAndServes)
{
    QProcess p;
    const uint16_t port = startProgram(
        p, {QStringLiteral("--address"), QStringLiteral("127.0.0.4"), QStringLiteral("--version"),
            QStringLiteral("0x2640"), QStringLiteral("--channel"), QStringLiteral("41"), QStringLiteral("--fpga"),
            QStringLiteral("6"), QStringLiteral("--no-android"), QStringLiteral("--build"), QString(),
            QStringLiteral("--fault"), QStringLiteral("notsupported@16")});
    ASSERT_NE(port, 0) << p.readAllStandardError().toStdString();

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

    p.terminate();
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), 0);
    const QString err = QString::fromLatin1(p.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("in  cmd=1 ")));
    EXPECT_TRUE(err.contains(QStringLiteral("out cmd=16 (not supported)")));
}

TEST(PlayerSimProgram, RefusesBadOptions)
{
    const ProgramCase cases[] = {
        {"unknown option", {QStringLiteral("--frobnicate")}, false},
        {"missing value", {QStringLiteral("--port")}, false},
        {"port too large", {QStringLiteral("--port"), QStringLiteral("70000")}, false},
        {"short MAC", {QStringLiteral("--mac"), QStringLiteral("A1B2")}, false},
        {"long ID", {QStringLiteral("--id"), QStringLiteral("0123456789ABC")}, false},
        {"unknown fault", {QStringLiteral("--fault"), QStringLiteral("explode")}, false},
        {"delay without time", {QStringLiteral("--fault"), QStringLiteral("delay")}, false},
        {"address that is not IPv4", {QStringLiteral("--address"), QStringLiteral("127.0.0")}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QProcess p;
        p.start(testsupport::binDir() + QStringLiteral("/player-sim"), c.args);
        ASSERT_TRUE(p.waitForFinished(5000));
        EXPECT_NE(p.exitCode(), 0);
        EXPECT_FALSE(p.readAllStandardError().isEmpty());
    }
}

}  // namespace
