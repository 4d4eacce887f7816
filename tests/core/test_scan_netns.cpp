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

namespace {

bool Ip(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("ip"), args);
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(1000);
        return false;
    }
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The namespace, the veth pair and their addresses, gone with the object.
class TestLink {
public:
    TestLink()
    {
        const int tag = int(::getpid() % 100000);
        ns_ = QStringLiteral("vscan%1").arg(tag);
        host_ = QStringLiteral("vsh%1").arg(tag);
        peer_ = QStringLiteral("vsp%1").arg(tag);
        const QString net = QStringLiteral("10.213.%1.").arg(20 + tag % 200);
        hostAddress_ = net + QStringLiteral("1");
        playerAddress_ = net + QStringLiteral("2");
        ok_ = Ip({"netns", "add", ns_}) && Ip({"link", "add", host_, "type", "veth", "peer", "name", peer_}) &&
              Ip({"link", "set", peer_, "netns", ns_}) && Ip({"addr", "add", hostAddress_ + "/24", "dev", host_}) &&
              Ip({"link", "set", host_, "up"}) &&
              Ip({"netns", "exec", ns_, "ip", "addr", "add", playerAddress_ + "/24", "dev", peer_}) &&
              Ip({"netns", "exec", ns_, "ip", "link", "set", peer_, "up"}) &&
              Ip({"netns", "exec", ns_, "ip", "link", "set", "lo", "up"});
    }
    ~TestLink()
    {
        Ip({"netns", "del", ns_});  // takes the peer, and with it the pair
        Ip({"link", "del", host_});
    }
    bool ok() const { return ok_; }
    QString ns() const { return ns_; }
    QString hostInterface() const { return host_; }
    QString hostAddress() const { return hostAddress_; }
    QString playerAddress() const { return playerAddress_; }

private:
    QString ns_, host_, peer_, hostAddress_, playerAddress_;
    bool ok_ = false;
};

TEST(ScanNetworkNamespace, FindsPlayerBySubnetBroadcast)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to create a network namespace";
    const QString simulator = testsupport::binDir() + QStringLiteral("/player-sim");
    if (!QFileInfo(simulator).isExecutable())
        GTEST_SKIP() << "player-sim is not built";
    if (!Ip({"netns", "list"}))
        GTEST_SKIP() << "ip netns is not available";
    TestLink link;
    if (!link.ok())
        GTEST_SKIP() << "cannot set up the namespace and veth pair";

    QProcess player;
    player.start(QStringLiteral("ip"), {"netns", "exec", link.ns(), simulator, "--udp", "--address",
                                        link.playerAddress(), "--mac", "02AB00C0FFEE", "--id", "netns0000001"});
    ASSERT_TRUE(player.waitForStarted(5000));
    QByteArray out;
    const bool listening = testsupport::waitUntil(
        [&] {
            out += player.readAllStandardOutput();
            return out.contains("listening");
        },
        5000);

    bool ran = false;
    if (listening) {
        testsupport::MessageBoxRecorder boxes;
        qputenv("VELUNA_SCAN_INTERFACES", link.hostInterface().toUtf8());
        CScanForDevices dialog(QString(), false);
        qunsetenv("VELUNA_SCAN_INTERFACES");
        int card = -1;
        for (int i = 0; i < int(dialog.Cards().size()); ++i)
            if (dialog.Cards()[std::size_t(i)].address == link.hostAddress())
                card = i;
        if (card >= 0) {
            ran = true;
            uint32_t expected = 0;
            ASSERT_TRUE(platform::parseDotted(link.hostAddress(), expected));
            EXPECT_EQ(dialog.Cards()[std::size_t(card)].broadcast, expected | 0xFFu);  // x.y.z.255
            dialog.findChild<QComboBox*>(QStringLiteral("2902"))->setCurrentIndex(card);
            dialog.OnScanButton();
            EXPECT_TRUE(testsupport::waitUntil(
                [&] {
                    for (const auto& row : dialog.Rows())
                        if (row.mac == QLatin1String("02:AB:00:C0:FF:EE"))
                            return true;
                    return false;
                },
                5000));
            dialog.OnScanButton();
            ASSERT_EQ(dialog.Rows().size(), 1u);
            EXPECT_EQ(dialog.Rows()[0].ip, link.playerAddress());
            EXPECT_EQ(dialog.Rows()[0].id, QStringLiteral("NETNS0000001"));
            dialog.reject();
        }
    }
    player.terminate();
    if (!player.waitForFinished(3000)) {
        player.kill();
        player.waitForFinished(1000);
    }
    ASSERT_TRUE(listening) << "player-sim did not start: " << out.toStdString()
                           << player.readAllStandardError().toStdString();
    if (!ran)
        GTEST_SKIP() << "the test link did not show in the card list";
}

}  // namespace
