// A scan over a real subnet broadcast: a simulated player in a network
// namespace of its own, behind a veth pair that this test creates and
// removes. Needs root and `ip netns`; skipped elsewhere.

#include "core/scan_for_devices.h"
#include "platform/adapters.h"
#include "tests/support/test_support.h"

#include <QComboBox>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

bool Ip(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("ip"), args);
    const bool finished = p.waitForFinished(5000);
    if (!finished) {
        p.kill();
        p.waitForFinished(1000);
    }
    return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The namespace, the veth pair and their addresses, gone with the object.
struct TestLink {
    const int tag = int(::getpid() % 100000);
    const QString ns = QStringLiteral("vscan%1").arg(tag), host = QStringLiteral("vsh%1").arg(tag),
                  peer = QStringLiteral("vsp%1").arg(tag);
    const QString net = QStringLiteral("10.213.%1.").arg(20 + tag % 200);
    const QString hostAddress = net + "1", playerAddress = net + "2";
    bool ok = Ip({"netns", "add", ns}) && Ip({"link", "add", host, "type", "veth", "peer", "name", peer}) &&
              Ip({"link", "set", peer, "netns", ns}) && Ip({"addr", "add", hostAddress + "/24", "dev", host}) &&
              Ip({"link", "set", host, "up"}) &&
              Ip({"netns", "exec", ns, "ip", "addr", "add", playerAddress + "/24", "dev", peer}) &&
              Ip({"netns", "exec", ns, "ip", "link", "set", peer, "up"}) &&
              Ip({"netns", "exec", ns, "ip", "link", "set", "lo", "up"});
    ~TestLink()
    {
        Ip({"netns", "del", ns});  // takes the peer, and with it the pair
        Ip({"link", "del", host});
    }
};

TEST(ScanNetworkNamespace, FindsPlayerBySubnetBroadcast)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to create a network namespace";
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << testsupport::kNoChildProcessesUnderThreadChecker;
    const QString simulator = testsupport::binDir() + QStringLiteral("/player-sim");
    if (!QFileInfo(simulator).isExecutable())
        GTEST_SKIP() << "player-sim is not built";
    if (!Ip({"netns", "list"}))
        GTEST_SKIP() << "ip netns is not available";
    // Port 6001 is one per machine: another program (or test) holding it
    // would make the scan hear nothing.
    if (!testsupport::waitUdpPortFree(scan::kLocalPort))
        GTEST_SKIP() << "UDP port 6001 is held by another program";
    TestLink link;
    if (!link.ok)
        GTEST_SKIP() << "cannot set up the namespace and veth pair";

    QProcess player;
    player.start(QStringLiteral("ip"), {"netns", "exec", link.ns, simulator, "--udp", "--address", link.playerAddress,
                                        "--mac", "02AB00C0FFEE", "--id", "netns0000001"});
    ASSERT_TRUE(player.waitForStarted(5000));
    // Ends the player however the test leaves.
    const std::unique_ptr<QProcess, void (*)(QProcess*)> stopper(&player, [](QProcess* p) {
        p->terminate();
        if (!p->waitForFinished(3000)) {
            p->kill();
            p->waitForFinished(1000);
        }
    });
    QByteArray out;
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            out += player.readAllStandardOutput();
            return out.contains("listening");
        }))
        << "player-sim did not start: " << out.toStdString() << player.readAllStandardError().toStdString();

    testsupport::MessageBoxRecorder boxes;
    std::optional<testsupport::ScopedEnv> interfaces(std::in_place, "VELUNA_SCAN_INTERFACES", link.host.toUtf8());
    // The automatic scan: five broadcasts, then it stops by itself.
    CScanForDevices dialog(QString(), true);
    interfaces.reset();
    const auto& cards = dialog.Cards();
    const auto card = std::find_if(cards.begin(), cards.end(), [&](const auto& c) { return c.address == link.hostAddress; });
    if (card == cards.end())
        GTEST_SKIP() << "the test link did not show in the card list";
    uint32_t expected = 0;
    ASSERT_TRUE(platform::parseDotted(link.hostAddress, expected));
    EXPECT_EQ(card->broadcast, expected | 0xFFu);  // x.y.z.255
    dialog.findChild<QComboBox*>(QStringLiteral("2902"))->setCurrentIndex(int(card - cards.begin()));
    dialog.OnInitDialog();  // what showing the dialog does first: the scan starts
    SKIP_IF_UDP_PORT_TAKEN_MEANWHILE(scan::kLocalPort, dialog.IsScanning());
    ASSERT_TRUE(dialog.IsScanning()) << boxes.texts().join(QStringLiteral(" | ")).toStdString();
    // The whole scan, however long the machine takes for it (bounded).
    ASSERT_TRUE(testsupport::waitUntil([&] { return !dialog.IsScanning(); }, 30000));
    ASSERT_EQ(dialog.Rows().size(), 1u);
    EXPECT_EQ(dialog.Rows()[0].mac, QStringLiteral("02:AB:00:C0:FF:EE"));
    EXPECT_EQ(dialog.Rows()[0].ip, link.playerAddress);
    EXPECT_EQ(dialog.Rows()[0].id, QStringLiteral("NETNS0000001"));
    dialog.reject();
}

}  // namespace
