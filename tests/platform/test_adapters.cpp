// Interface addresses, the physical-adapter test and the owner of a UDP port.
#include "platform/adapters.h"
#include "platform/port_owner.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace platform;

TEST(Dotted, TextAndNumberBothWays)
{
    const struct {
        const char* text;
        bool ok;
        uint32_t value;
    } cases[] = {
        {"127.0.0.1", true, 0x7F000001u},   {"255.255.255.255", true, 0xFFFFFFFFu}, {"0.0.0.0", true, 0},
        {"192.168.1.10", true, 0xC0A8010Au}, {" 10.1.2.3 ", true, 0x0A010203u},   {"256.0.0.1", false, 0},
        {"1.2.3", false, 0},                 {"1.2.3.4.5", false, 0},             {"1..3.4", false, 0},
        {"a.b.c.d", false, 0},               {"-1.2.3.4", false, 0},              {"1.2.3.0004", false, 0},
        {"", false, 0},
    };
    for (const auto& c : cases) {
        uint32_t v = 0xDEADBEEF;
        EXPECT_EQ(parseDotted(QString::fromLatin1(c.text), v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
            EXPECT_EQ(dottedText(v), QString::fromLatin1(c.text).trimmed());
        } else {
            EXPECT_EQ(v, 0xDEADBEEF) << c.text;  // untouched
        }
    }
}

TEST(Adapters, LoopbackIsListedAndFoundByAddress)
{
    std::vector<InterfaceAddress> all;
    ASSERT_TRUE(interfaceAddresses(all));
    auto lo = std::find_if(all.begin(), all.end(), [](const auto& a) { return a.address == "127.0.0.1"; });
    ASSERT_NE(lo, all.end());
    EXPECT_TRUE(lo->loopback);
    EXPECT_TRUE(lo->up);
    EXPECT_EQ(lo->addressHost, 0x7F000001u);
    EXPECT_EQ(lo->netmask, QStringLiteral("255.0.0.0"));
    EXPECT_NE(lo->index, 0u);
    EXPECT_EQ(interfaceIndexOf(0x7F000001u), lo->index);
    EXPECT_EQ(interfaceIndexOf(0xC0000263u), 0u);  // 192.0.2.99 (documentation range)
    EXPECT_FALSE(isPhysicalInterface(lo->interfaceName));
}

TEST(Adapters, PhysicalMeansADeviceBehindTheInterface)
{
    QTemporaryDir sys;
    const struct {
        const char* name;
        bool device;
        bool wireless;
    } tree[] = {{"enp3s0", true, false}, {"wlp2s0", true, true}, {"docker0", false, false}, {"veth12", false, false}};
    for (const auto& t : tree) {
        QDir(sys.path()).mkpath(QString::fromLatin1(t.name));
        if (t.device)
            QDir(sys.path()).mkpath(QStringLiteral("%1/device").arg(t.name));
        if (t.wireless)
            QDir(sys.path()).mkpath(QStringLiteral("%1/wireless").arg(t.name));
    }
    for (const auto& t : tree) {
        EXPECT_EQ(isPhysicalInterface(QString::fromLatin1(t.name), sys.path()), t.device) << t.name;
        EXPECT_EQ(isWirelessInterface(QString::fromLatin1(t.name), sys.path()), t.wireless) << t.name;
    }
    for (const char* odd : {"", "missing", "../enp3s0", ".", ".."})
        EXPECT_FALSE(isPhysicalInterface(QString::fromLatin1(odd), sys.path())) << odd;
}

TEST(PortOwner, InodesOfAPortFromTheUdpTable)
{
    const QByteArray table =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode ref pointer drops\n"
        "  133: 00000000:1771 00000000:0000 07 00000000:00000000 00:00000000 00000000  1000        0 424242 2 0000 0\n"
        "  134: 0100007F:1771 00000000:0000 07 00000000:00000000 00:00000000 00000000  1000        0 515151 2 0000 0\n"
        "  135: 0100007F:1770 00000000:0000 07 00000000:00000000 00:00000000 00000000  1000        0 606060 2 0000 0\n"
        "  136: 00000000:1771 00000000:0000 07 00000000:00000000 00:00000000 00000000  1000        0 0 2 0000 0\n"
        "garbage line\n"
        "  137: 00000000 00000000:0000 07 00000000:00000000 00:00000000 00000000  1000        0 777 2 0000 0\n";
    EXPECT_EQ(udpInodesForPort(table, 6001), (std::vector<quint64>{424242, 515151}));
    EXPECT_EQ(udpInodesForPort(table, 6000), (std::vector<quint64>{606060}));
    EXPECT_TRUE(udpInodesForPort(table, 7656).empty());
    EXPECT_TRUE(udpInodesForPort(QByteArray(), 6001).empty());
}

TEST(PortOwner, FoundThroughAProcTree)
{
    QTemporaryDir proc;
    const auto write = [&](const QString& path, const QByteArray& text) {
        QDir(proc.path()).mkpath(QFileInfo(proc.path() + path).path());
        QFile f(proc.path() + path);
        return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
    };
    ASSERT_TRUE(write("/net/udp", "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
                                  "timeout inode\n   1: 00000000:1771 00000000:0000 07 00000000:00000000 00:00000000 "
                                  "00000000  1000        0 9001 2\n"));
    const struct {
        const char *pid, *comm, *link;
    } processes[] = {{"17", "unrelated", "socket:[1234]"}, {"42", "otherplayer\n", "socket:[9001]"}, {"self", "", ""}};
    for (const auto& p : processes) {
        ASSERT_TRUE(write(QStringLiteral("/%1/comm").arg(p.pid), p.comm));
        QDir(proc.path()).mkpath(QStringLiteral("%1/fd").arg(p.pid));
        if (*p.link) {
            ASSERT_EQ(::symlink(p.link, QFile::encodeName(proc.path() + QStringLiteral("/%1/fd/5").arg(p.pid))), 0);
        }
    }
    auto owner = findUdpPortOwner(6001, proc.path());
    ASSERT_TRUE(owner.has_value());
    EXPECT_EQ(owner->pid, 42);
    EXPECT_EQ(owner->name, QStringLiteral("otherplayer"));
    EXPECT_FALSE(findUdpPortOwner(6000, proc.path()).has_value());
    EXPECT_FALSE(findUdpPortOwner(6001, proc.path() + "/missing").has_value());
}

TEST(PortOwner, ThisProcessIsNamedForASocketItHolds)
{
    std::optional<testsupport::UdpPeer> socket(std::in_place);
    ASSERT_TRUE(socket->bound());
    const uint16_t port = socket->port();
    auto owner = findUdpPortOwner(port);
    socket.reset();
    ASSERT_TRUE(owner.has_value());
    EXPECT_EQ(owner->pid, QCoreApplication::applicationPid());
    EXPECT_EQ(owner->name, QStringLiteral("test_platform"));
    EXPECT_FALSE(findUdpPortOwner(port).has_value());
}

// What lets a test skip for a port taken meanwhile: a socket of this process
// does not count (its own bind failing is a fault), one of another does.
TEST(PortOwner, TakenMeanwhileMeansHeldByAnotherProcess)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << testsupport::kNoChildProcessesUnderThreadChecker;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length), 0);
    const uint16_t port = ntohs(a.sin_port);
    EXPECT_FALSE(testsupport::udpPortHeldByAnotherProcess(port));
    int release[2];
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Holds its copy of the socket until the pipe closes.
        ::close(release[1]);
        char c;
        [[maybe_unused]] const ssize_t n = ::read(release[0], &c, 1);
        ::_exit(0);
    }
    ::close(fd);
    ::close(release[0]);
    EXPECT_TRUE(testsupport::udpPortHeldByAnotherProcess(port));
    ::close(release[1]);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    EXPECT_FALSE(testsupport::udpPortHeldByAnotherProcess(port));
}

// What lets two runs of the suite take turns on a port of which the machine
// has one: a lock another process holds is waited for, a bounded time, and
// is free once that process ends, without its having let go.
TEST(MachineLock, TakenInTurnWithAnotherProcessAndFreedWhenItEnds)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << testsupport::kNoChildProcessesUnderThreadChecker;
    const QString name = QStringLiteral("turn-test-%1").arg(::getpid());
    int go[2], done[2];
    ASSERT_EQ(::pipe(go), 0);
    ASSERT_EQ(::pipe(done), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(go[1]);
        testsupport::MachineLock mine(name, 0);
        char c = mine.held() ? 'y' : 'n';
        [[maybe_unused]] ssize_t n = ::write(done[1], &c, 1);
        n = ::read(go[0], &c, 1);
        ::_exit(0);  // no destructor lets go of it
    }
    ::close(go[0]);
    ::close(done[1]);
    char c = 0;
    ASSERT_EQ(::read(done[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    EXPECT_FALSE(testsupport::MachineLock(name, 200).held());
    ::close(go[1]);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    EXPECT_TRUE(testsupport::MachineLock(name, 200).held());
    ::close(done[0]);
    QFile::remove(QStringLiteral("/tmp/veluna-tests-%1.lock").arg(name));
}

}  // namespace
