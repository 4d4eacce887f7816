// The "Scan For Devices" dialog: its controls, the rows built from answers,
// the choice it hands back, and scans over loopback against simulated
// players. Everything is sent to 127.0.0.0/8 only.

#include "core/scan_for_devices.h"
#include "core/command_registry.h"
#include "core/document.h"
#include "platform/app_identity.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "player/player_sim.h"
#include "tests/support/test_support.h"
#include "transport/udp_server.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QTest>
#include <QTimer>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <netinet/in.h>

namespace {

using testsupport::MessageBoxRecorder;
using testsupport::ScopedEnv;
using testsupport::ScopedLanguage;
using testsupport::UdpPeer;
using testsupport::waitUntil;

// A datagram as a player would send it.
QByteArray AnnouncementBytes(const char* ip, const char* mac, uint16_t port = 8000, const char* id = "id0000000001",
                             uint16_t version = 0x1231, uint16_t fpga = 0, uint16_t channel = 4)
{
    PlayerAnnouncement a;
    EXPECT_TRUE(a.setIpText(QString::fromLatin1(ip)));
    EXPECT_TRUE(a.setMacText(QString::fromLatin1(mac)));
    a.tcpPort = port;
    a.version = version;
    a.fpgaVersion = fpga;
    a.channelCode = channel;
    a.setIdText(QString::fromLatin1(id));
    return a.toBytes();
}

void Feed(CScanForDevices& dialog, const QByteArray& bytes)
{
    dialog.OnDatagram(reinterpret_cast<const uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
}

QTableWidget* List(CScanForDevices& d) { return d.findChild<QTableWidget*>(QStringLiteral("2901")); }
QPushButton* Button(CScanForDevices& d, const char* id) { return d.findChild<QPushButton*>(QString::fromLatin1(id)); }

void SelectRowWithIp(CScanForDevices& dialog, const QString& ip)
{
    QTableWidget* list = List(dialog);
    list->clearSelection();
    for (int r = 0; r < list->rowCount(); ++r)
        if (list->item(r, 1) && list->item(r, 1)->text() == ip)
            list->selectRow(r);
}

// Records the scan dialog's requests (from 127.0.0.1:6001) that reach one
// address and port, sharing the port with the simulated players.
class ScanRequests {
public:
    ScanRequests(uint32_t addressHost, uint16_t port) : peer_(addressHost, port, true) {}
    bool ok() const { return peer_.bound(); }
    const std::vector<UdpPeer::Datagram>& get()
    {
        while (auto d = peer_.receiveFrom(scan::kLocalPort, 0))
            if (d->from == QLatin1String("127.0.0.1"))
                got_.push_back(*d);
        return got_;
    }

private:
    UdpPeer peer_;
    std::vector<UdpPeer::Datagram> got_;
};

TEST(ScanDialog, ControlsInBothLanguages)
{
    const struct {
        unsigned language;
        const char *caption, *scan, *update, *connect, *cancel, *firstColumn, *lastColumn;
    } cases[] = {
        {platform::kLanguageEnglish, "Pre-Scan For Devices", "Scan", "Update", "Connect", "Cancel", "SN", "Ver"},
        {platform::kLanguageChinese, "Pre-查找设备", "查找设备", "刷新", "连接设备", "关闭", "序号", "版本信息"},
    };
    for (const auto& c : cases) {
        ScopedLanguage language(c.language);
        CScanForDevices dialog(QStringLiteral("Pre-"), false);
        EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8(c.caption));
        EXPECT_EQ(platform::findWindow(QString::fromUtf8(c.caption)), &dialog);
        ASSERT_NE(dialog.findChild<QComboBox*>(QStringLiteral("2902")), nullptr);
        EXPECT_EQ(Button(dialog, "2904")->text(), QString::fromUtf8(c.scan));
        EXPECT_EQ(Button(dialog, "2903")->text(), QString::fromUtf8(c.update));
        EXPECT_EQ(Button(dialog, "1")->text(), QString::fromUtf8(c.connect));
        EXPECT_EQ(Button(dialog, "2")->text(), QString::fromUtf8(c.cancel));
        QTableWidget* list = List(dialog);
        ASSERT_EQ(list->columnCount(), 6);
        EXPECT_EQ(list->horizontalHeaderItem(0)->text(), QString::fromUtf8(c.firstColumn));
        EXPECT_EQ(list->horizontalHeaderItem(5)->text(), QString::fromUtf8(c.lastColumn));
        EXPECT_EQ(list->columnWidth(5), 380);
        // Not automatic: a plain list left with "Cancel".
        EXPECT_TRUE(Button(dialog, "1")->isHidden());
    }
}

TEST(ScanDialog, AnswersBecomeRows)
{
    const QByteArray good = AnnouncementBytes("192.168.1.20", "A1B2C3D4E5F6", 8000, "ab12cd34ef56");
    const auto with = [&](int index, char value) { return QByteArray(good).replace(index, 1, &value, 1); };
    const struct {
        QByteArray bytes;
        const char* id;  // null: dropped
    } cases[] = {
        {good, "AB12CD34EF56"},
        {good.left(40), "AB12CD"},  // the missing ID bytes read as zeros
        {good.left(44), "AB12CD34EF"},
        {good.left(39), nullptr},
        {QByteArray(), nullptr},
        {good + QByteArray(20, 'x'), "AB12CD34EF56"},  // only the record's 46 bytes are read
        {with(4, char(0x82)), nullptr},         // another command
        {with(4, char(0xC1)), "AB12CD34EF56"},  // only the low six bits name the command
        {with(12, 29), nullptr},                // a wrong length field
    };
    for (const auto& c : cases) {
        CScanForDevices dialog(QString(), false);
        Feed(dialog, c.bytes);
        ASSERT_EQ(dialog.Rows().size(), c.id ? 1u : 0u) << c.bytes.toHex().toStdString();
        ASSERT_EQ(dialog.Devices().size(), c.id ? 1u : 0u);
        if (!c.id)
            continue;
        ASSERT_EQ(List(dialog)->rowCount(), 1);
        const QStringList expected{"1", "192.168.1.20", "A1:B2:C3:D4:E5:F6", "8000", QString::fromLatin1(c.id),
                                   "RotatePlayer ver:1.2.3 Channel:(No Input Four Output)"};
        for (int col = 0; col < 6; ++col)
            EXPECT_EQ(List(dialog)->item(0, col)->text(), expected[col]) << col;
        EXPECT_EQ(dialog.Rows()[0].id, QString::fromLatin1(c.id));
        EXPECT_EQ(dialog.Devices()[0].mac, QStringLiteral("A1B2C3D4E5F6"));
        EXPECT_EQ(dialog.Devices()[0].port, 8000);
        EXPECT_EQ(dialog.Devices()[0].channelCode, 4);
    }
}

TEST(ScanDialog, OnePlayerOneRowAndRecord)
{
    CScanForDevices dialog(QString(), false);
    Feed(dialog, AnnouncementBytes("192.168.1.9", "000000000001", 8000, "first0000001"));
    Feed(dialog, AnnouncementBytes("192.168.1.10", "000000000002"));
    Feed(dialog, AnnouncementBytes("192.168.1.9", "000000000001"));
    // The same player from a new address, with a new port and layout.
    Feed(dialog, AnnouncementBytes("192.168.1.77", "000000000001", 9000, "first0000001", 0x1231, 0, 21));
    ASSERT_EQ(dialog.Rows().size(), 2u);
    EXPECT_EQ(dialog.Rows()[0].ip, QStringLiteral("192.168.1.77"));
    EXPECT_EQ(dialog.Rows()[0].portText, QStringLiteral("9000"));
    EXPECT_EQ(List(dialog)->item(0, 1)->text(), QStringLiteral("192.168.1.77"));
    EXPECT_EQ(List(dialog)->item(0, 0)->text(), QStringLiteral("1"));
    ASSERT_EQ(dialog.Devices().size(), 2u);
    EXPECT_EQ(dialog.Devices()[0].ip, QStringLiteral("192.168.1.77"));
    EXPECT_EQ(dialog.Devices()[0].port, 9000);
    EXPECT_EQ(dialog.Devices()[0].channelCode, 21);
}

TEST(ScanDialog, ConnectWithoutRowKeepsDialogOpen)
{
    for (unsigned language : {platform::kLanguageEnglish, platform::kLanguageChinese}) {
        ScopedLanguage scoped(language);
        MessageBoxRecorder boxes;
        CScanForDevices dialog(QString(), true);
        Feed(dialog, AnnouncementBytes("192.168.1.20", "A1B2C3D4E5F6"));
        dialog.accept();
        EXPECT_NE(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(boxes.texts(), QStringList{language == platform::kLanguageChinese
                                                 ? QStringLiteral("先选择一台设备，再连接！")
                                                 : QStringLiteral("Please choose a device first!")});
        EXPECT_EQ(boxes.calls()[0].icon, platform::MsgIcon::Warning);
        EXPECT_TRUE(dialog.ChosenPlayer().ip.isEmpty());
        dialog.reject();
        EXPECT_FALSE(ScanChoiceOf(dialog).has_value());
    }
}

TEST(ScanDialog, ConnectHandsBackChoiceAfterSegmentQuestion)
{
    ScopedEnv loopback("VELUNA_SCAN_LOOPBACK", "1");
    ScopedLanguage language(platform::kLanguageEnglish);
    for (auto answer : {platform::MsgResult::No, platform::MsgResult::Yes}) {
        MessageBoxRecorder boxes(answer);
        CScanForDevices dialog(QString(), true);
        ASSERT_EQ(dialog.Cards().front().address, QStringLiteral("127.0.0.1"));
        Feed(dialog, AnnouncementBytes("192.168.1.9", "00000000000A", 8001, "nine00000009", 0x1522, 5, 91));
        Feed(dialog, AnnouncementBytes("192.168.1.10", "00000000000B", 8002, "ten000000010"));
        Feed(dialog, AnnouncementBytes("192.168.1.2", "00000000000C", 8003, "two000000002"));
        SelectRowWithIp(dialog, QStringLiteral("192.168.1.9"));
        dialog.accept();
        EXPECT_EQ(boxes.texts(), QStringList{"The local IP and device IP do not belong to the same network segment. "
                                             "Do you want to continue?"});
        EXPECT_EQ(boxes.calls()[0].buttons, platform::MsgButtons::YesNo);
        EXPECT_EQ(boxes.calls()[0].icon, platform::MsgIcon::Question);
        const std::optional<ScanChoice> choice = ScanChoiceOf(dialog);
        ASSERT_EQ(choice.has_value(), answer == platform::MsgResult::Yes);
        if (!choice)
            continue;
        const PlayerRow& chosen = choice->player;
        EXPECT_EQ(QStringList({chosen.ip, chosen.mac, chosen.portText, chosen.id, chosen.versionText}),
                  QStringList({"192.168.1.9", "00000000000A", "8001", "NINE00000009",
                               "QVEPlayer ver:1.5.2 FPGA ver:5.0 Channel:(One Input Nine Output)"}));
        EXPECT_EQ(chosen.version + chosen.fpgaVersion + chosen.channelCode, 0);  // the handshake fills the numbers
        EXPECT_EQ(choice->localAddress, QStringLiteral("127.0.0.1"));
        QStringList order;
        for (const auto& r : choice->devices)
            order << r.ip;
        EXPECT_EQ(order, (QStringList{"192.168.1.10", "192.168.1.2", "192.168.1.9"}));
    }
}

TEST(ScanDialog, RightClickCopiesIds)
{
    ScopedLanguage language(platform::kLanguageChinese);
    MessageBoxRecorder boxes;
    CScanForDevices dialog(QString(), false);
    dialog.OnListRightClick();  // empty list: nothing to copy, nothing said
    EXPECT_TRUE(boxes.calls().empty());

    Feed(dialog, AnnouncementBytes("10.0.0.1", "000000000001", 8000, "aaa000000001"));
    Feed(dialog, AnnouncementBytes("10.0.0.2", "000000000002", 8000, "bbb000000002"));
    dialog.OnListRightClick();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("AAA000000001\r\nBBB000000002\r\n"));
    EXPECT_EQ(boxes.texts(), QStringList{"ID号已经拷贝到剪切板"});
    EXPECT_EQ(boxes.calls()[0].icon, platform::MsgIcon::Warning);

    SelectRowWithIp(dialog, QStringLiteral("10.0.0.2"));
    dialog.OnListRightClick();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("BBB000000002"));
}

// Drawing a shown table or group box makes Qt hand work to its own thread
// pool, whose locks (futexes inside Qt) the thread checker cannot see.
constexpr const char* kShownWidgetsUnderThreadChecker =
    "draws shown widgets, which Qt spreads over its own threads that the thread checker cannot follow";

TEST(ScanDialog, ColumnsShowWholeTextsInBothLanguages)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << kShownWidgetsUnderThreadChecker;
    // Showing the dialog scans: on loopback only.
    ScopedEnv loopback("VELUNA_SCAN_LOOPBACK", "1");
    for (unsigned language : {platform::kLanguageEnglish, platform::kLanguageChinese}) {
        ScopedLanguage scoped(language);
        MessageBoxRecorder boxes;
        CScanForDevices dialog(QStringLiteral("QVE-"), true);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        Feed(dialog, AnnouncementBytes("192.168.100.200", "A1B2C3D4E5F6", 65535, "ab12cd34ef56", 0x1522, 12, 91));
        Feed(dialog, AnnouncementBytes("10.0.0.1", "0A0B0C0D0E0F", 8000, "id0000000002", 0x1230, 0, 10));
        if (dialog.IsScanning())
            dialog.OnScanButton();
        QTableWidget* list = List(dialog);
        EXPECT_FALSE(list->wordWrap());
        const QFontMetrics metrics(list->font());
        for (int c = 0; c < list->columnCount(); ++c) {
            int widest = QFontMetrics(list->horizontalHeader()->font())
                             .horizontalAdvance(list->horizontalHeaderItem(c)->text());
            for (int r = 0; r < list->rowCount(); ++r)
                widest = std::max(widest, metrics.horizontalAdvance(list->item(r, c)->text()));
            EXPECT_GE(list->columnWidth(c), widest) << "column " << c << " language " << language;
        }
        // Every column inside the list, none behind a sideways scroll.
        EXPECT_LE(list->horizontalHeader()->length(), list->viewport()->width()) << language;
        QDir().mkpath(testsupport::binDir() + QStringLiteral("/../screenshots"));
        dialog.grab().save(testsupport::binDir() + QStringLiteral("/../screenshots/scan_dialog_%1.png")
                                                        .arg(language == platform::kLanguageChinese ? "zh" : "en"));
        dialog.reject();
    }
}

// Keys as an operator without a mouse uses them: Tab leaves the list, Enter
// on a row connects, Esc closes.
TEST(ScanDialog, KeyboardReachesConnectAndCancel)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << kShownWidgetsUnderThreadChecker;
    ScopedLanguage scoped(platform::kLanguageEnglish);
    ScopedEnv loopback("VELUNA_SCAN_LOOPBACK", "1");
    const struct {
        bool automatic;
        const char* focus;  // object name; "2901" is the list
        Qt::Key key;
        bool accepted, closed;
    } cases[] = {
        {true, "2901", Qt::Key_Return, true, true},  // as a double click
        {true, "2901", Qt::Key_Enter, true, true},
        {true, "1", Qt::Key_Return, true, true},     // the focused button
        {true, "2", Qt::Key_Return, false, true},
        {true, "2901", Qt::Key_Escape, false, true}, // as "Cancel"
        {false, "2901", Qt::Key_Escape, false, true},
        {false, "2901", Qt::Key_Return, false, false},  // the plain list only lists
        {true, "2902", Qt::Key_Return, false, false},   // a stray Enter closes nothing
    };
    for (const auto& c : cases) {
        MessageBoxRecorder boxes(platform::MsgResult::Yes);
        CScanForDevices dialog(QString(), c.automatic);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        Feed(dialog, AnnouncementBytes("192.168.1.20", "A1B2C3D4E5F6"));
        if (dialog.IsScanning())
            dialog.OnScanButton();  // stopped with a row listed: "Connect" is enabled
        SelectRowWithIp(dialog, QStringLiteral("192.168.1.20"));
        QWidget* target = dialog.findChild<QWidget*>(QString::fromLatin1(c.focus));
        ASSERT_NE(target, nullptr);
        target->setFocus();
        QTest::keyClick(target, c.key);
        EXPECT_EQ(dialog.isVisible(), !c.closed) << c.focus << " " << c.key;
        EXPECT_EQ(dialog.result() == QDialog::Accepted, c.accepted) << c.focus << " " << c.key;
        EXPECT_EQ(dialog.ChosenPlayer().ip, c.accepted ? QStringLiteral("192.168.1.20") : QString());
        dialog.reject();
    }

    // Tab walks out of the list to the buttons, not through its cells.
    MessageBoxRecorder boxes;
    CScanForDevices dialog(QString(), true);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    Feed(dialog, AnnouncementBytes("192.168.1.20", "A1B2C3D4E5F6"));
    Feed(dialog, AnnouncementBytes("192.168.1.21", "A1B2C3D4E5F7"));
    if (dialog.IsScanning())
        dialog.OnScanButton();
    List(dialog)->setFocus();
    List(dialog)->setCurrentCell(0, 0);
    QTest::keyClick(List(dialog), Qt::Key_Tab);
    EXPECT_EQ(dialog.focusWidget(), Button(dialog, "1"));
    EXPECT_EQ(List(dialog)->currentColumn(), 0);
    dialog.reject();
}

TEST(ScanDialog, CardsWrittenInOneForm)
{
    const struct {
        const char *name, *address, *label;
    } cases[] = {
        {"lo", "127.0.0.1", "lo(127.0.0.1)"},
        {"eth0", "192.0.2.2", "eth0(192.0.2.2)"},
        {"veth-scan", "10.200.0.1", "veth-scan(10.200.0.1)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scan::CardLabel(QString::fromLatin1(c.name), QString::fromLatin1(c.address)),
                  QString::fromLatin1(c.label));
}

// "Scan for Devices" is always enabled and opens the plain list, with the
// document's caption prefix, connected or not.
TEST(ScanDialog, ScanForDevicesCommandOpensThePlainList)
{
    testsupport::TempHome home;
    ScopedLanguage scoped(platform::kLanguageEnglish);
    const QString title = QStringLiteral("veluna scan command");
    platform::setAppTitle(title);
    platform::MessageWindow frame(title);
    CvelunaDoc doc(&frame, QStringList());
    core::clearCommands();
    InstallScanCommands();
    const core::CommandEntry* entry = core::findCommand(kCmdScanForDevices);
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(core::IsCommandEnabled(doc, kCmdScanForDevices));  // always enabled
    ASSERT_TRUE(entry->run);
    if (testsupport::kUnderThreadChecker) {
        core::clearCommands();
        GTEST_SKIP() << kShownWidgetsUnderThreadChecker;
    }

    bool seen = false;
    QTimer::singleShot(50, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        auto* scanDialog = dynamic_cast<CScanForDevices*>(dialog);
        if (scanDialog) {
            seen = true;
            EXPECT_EQ(scanDialog->windowTitle(), doc.titlePrefix() + QStringLiteral("Scan For Devices"));
            EXPECT_TRUE(Button(*scanDialog, "1")->isHidden());  // no "Connect"
            EXPECT_FALSE(scanDialog->IsScanning());             // no automatic scan
        }
        if (dialog)
            dialog->reject();
    });
    entry->run(doc);
    EXPECT_TRUE(seen);
    core::clearCommands();
}

// ---------------------------------------------------------------------------
// Over loopback

// Another program may still take port 6001 between the fixture's check and
// the scan's bind; the scan then cannot start, and the test has nothing to
// test (SKIP_IF_UDP_PORT_TAKEN_MEANWHILE).
class ScanOverLoopback : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Port 6001 is one per machine; wait a moment when another test holds it.
        if (!testsupport::waitUdpPortFree(scan::kLocalPort))
            GTEST_SKIP() << "UDP port 6001 is held by another program";
    }
    ScopedEnv loopback_{"VELUNA_SCAN_LOOPBACK", "1"};
    ScopedLanguage language_{platform::kLanguageEnglish};
};

TEST_F(ScanOverLoopback, RequestBytesPortsAndCadence)
{
    ScanRequests first(INADDR_ANY, scan::kPlayerPort), second(INADDR_ANY, scan::kPlayerAltPort);
    ASSERT_TRUE(first.ok() && second.ok());

    MessageBoxRecorder boxes;
    CScanForDevices dialog(QString(), false);
    dialog.OnScanButton();
    SKIP_IF_UDP_PORT_TAKEN_MEANWHILE(scan::kLocalPort, dialog.IsScanning());
    ASSERT_TRUE(dialog.IsScanning());
    EXPECT_EQ(Button(dialog, "2904")->text(), QStringLiteral("Stop"));
    EXPECT_FALSE(dialog.findChild<QComboBox*>(QStringLiteral("2902"))->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !first.get().empty() && !second.get().empty(); }));
    const auto a = first.get().front();
    const auto b = second.get().front();
    EXPECT_EQ(a.bytes, scan::BuildDiscoveryRequest(false));
    EXPECT_EQ(b.bytes, scan::BuildDiscoveryRequest(false));
    // The second copy is handed over 20 ms after the first; when the first
    // leaves late (a busy machine) they may arrive closer, but never reversed.
    EXPECT_GE(b.atMs, a.atMs);
    EXPECT_LT(b.atMs - a.atMs, 500);

    // Not automatic: one more broadcast every second until stopped.
    ASSERT_TRUE(waitUntil([&] { return first.get().size() >= 2; }));
    dialog.OnScanButton();
    EXPECT_FALSE(dialog.IsScanning());
    EXPECT_EQ(Button(dialog, "2904")->text(), QStringLiteral("Scan"));
    EXPECT_TRUE(dialog.IsEndpointOpen());  // late answers still come in

    // A click on a row asks that player alone.
    ScanRequests player(0x7F00004Du, scan::kPlayerPort), playerAlt(0x7F00004Du, scan::kPlayerAltPort);  // 127.0.0.77
    ASSERT_TRUE(player.ok() && playerAlt.ok());
    Feed(dialog, AnnouncementBytes("127.0.0.77", "0000000000AA"));
    SelectRowWithIp(dialog, QStringLiteral("127.0.0.77"));
    dialog.OnListLeftClick();
    ASSERT_TRUE(waitUntil([&] { return !player.get().empty() && !playerAlt.get().empty(); }));
    EXPECT_EQ(player.get().front().bytes, scan::BuildDiscoveryRequest(true));
    EXPECT_EQ(playerAlt.get().front().bytes, scan::BuildDiscoveryRequest(true));
    EXPECT_TRUE(boxes.calls().empty());
    dialog.reject();
    EXPECT_FALSE(dialog.IsEndpointOpen());
}

TEST_F(ScanOverLoopback, AutomaticScanFindsSimulatedPlayers)
{
    ScanRequests requests(INADDR_ANY, scan::kPlayerPort);
    ASSERT_TRUE(requests.ok());
    std::vector<std::unique_ptr<sim::PlayerSim>> players;
    QStringList macs;
    for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.4"}) {
        sim::SimOptions options;
        options.address = QString::fromLatin1(address);
        // Locally administered and random: other players on this machine may answer too.
        options.mac = QStringLiteral("02%1").arg(QRandomGenerator::global()->generate64() & 0xFFFFFFFFFFull, 10, 16,
                                                 QLatin1Char('0')).toUpper();
        options.id = QStringLiteral("scan%1").arg(address[8]).leftJustified(12, QLatin1Char('x'));
        options.udpDiscovery = true;
        auto player = std::make_unique<sim::PlayerSim>(options);
        QString error;
        if (!player->start(&error))
            GTEST_SKIP() << "simulated player cannot start: " << error.toStdString();
        macs << options.mac;
        players.push_back(std::move(player));
    }

    MessageBoxRecorder boxes(platform::MsgResult::Yes);
    CScanForDevices dialog(QString(), true);
    QStringList texts;
    dialog.OnInitDialog();  // what showing the dialog does first
    SKIP_IF_UDP_PORT_TAKEN_MEANWHILE(scan::kLocalPort, dialog.IsScanning());
    ASSERT_TRUE(dialog.IsScanning());
    EXPECT_FALSE(Button(dialog, "1")->isHidden());
    EXPECT_FALSE(Button(dialog, "1")->isEnabled());
    ASSERT_TRUE(waitUntil(
        [&] {
            const QString t = Button(dialog, "2904")->text();
            if (texts.isEmpty() || texts.back() != t)
                texts << t;
            return !dialog.IsScanning();
        }));
    EXPECT_EQ(texts, (QStringList{"Stop", "Stop(4)", "Stop(3)", "Stop(2)", "Stop(1)", "Scan"}));
    EXPECT_EQ(requests.get().size(), 5u);
    EXPECT_TRUE(Button(dialog, "1")->isEnabled());

    const auto& rows = dialog.Rows();
    for (const QString& mac : macs)
        EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                                [&](const PlayerRow& r) { return scan::MacWithoutColons(r.mac) == mac; }),
                  1)
            << mac.toStdString();
    for (std::size_t i = 1; i < rows.size(); ++i)
        EXPECT_LE(rows[i - 1].ip, rows[i].ip);
    EXPECT_EQ(List(dialog)->rowCount(), int(rows.size()));

    // By MAC: a player of another program may also sit on 127.0.0.3.
    const auto second = std::find_if(rows.begin(), rows.end(),
                                     [&](const PlayerRow& r) { return scan::MacWithoutColons(r.mac) == macs[1]; });
    ASSERT_NE(second, rows.end());
    List(dialog)->selectRow(int(second - rows.begin()));
    dialog.accept();
    EXPECT_TRUE(boxes.calls().empty());  // 127.0.0.1 and 127.0.0.3: one class A network
    EXPECT_FALSE(dialog.IsEndpointOpen());
    const std::optional<ScanChoice> choice = ScanChoiceOf(dialog);
    ASSERT_TRUE(choice.has_value());
    const PlayerRow& chosen = choice->player;
    EXPECT_EQ(QStringList({chosen.ip, chosen.mac, chosen.portText, chosen.id, choice->localAddress}),
              QStringList({"127.0.0.3", macs[1], QString::number(players[1]->tcpPort()), "SCAN3XXXXXXX", "127.0.0.1"}));
    int ours = 0;
    for (std::size_t i = 0; i < choice->devices.size(); ++i) {
        ours += macs.contains(choice->devices[i].mac);
        EXPECT_LE(choice->devices[i > 0 ? i - 1 : 0].ip, choice->devices[i].ip);
    }
    EXPECT_EQ(ours, 3);
    for (auto& p : players)
        p->stop();
}

TEST_F(ScanOverLoopback, TakenPortStopsTheScan)
{
    UdpPeer holder(INADDR_ANY, scan::kLocalPort);
    if (!holder.bound())
        GTEST_SKIP() << "cannot hold port 6001";
    MessageBoxRecorder boxes;
    CScanForDevices dialog(QString(), false);
    dialog.OnScanButton();
    EXPECT_FALSE(dialog.IsScanning());
    EXPECT_FALSE(dialog.IsEndpointOpen());
    EXPECT_EQ(Button(dialog, "2904")->text(), QStringLiteral("Scan"));
    ASSERT_EQ(boxes.calls().size(), 1u);  // the endpoint's own message, once
    EXPECT_TRUE(boxes.calls()[0].text.startsWith(QStringLiteral("Port 6001 has been occupied by <test_core>")))
        << boxes.calls()[0].text.toStdString();
}

TEST_F(ScanOverLoopback, ReceiveErrorsReopenWithoutFlood)
{
    MessageBoxRecorder boxes;
    CScanForDevices dialog(QString(), false);
    dialog.OnScanButton();
    SKIP_IF_UDP_PORT_TAKEN_MEANWHILE(scan::kLocalPort, dialog.IsScanning());
    ASSERT_TRUE(dialog.IsScanning());
    UdpLinkEvent error;
    error.type = kUdpReceiveError;
    error.error = 111;
    const auto sendError = [&] {
        platform::sendMessage(&dialog, platform::WM_UDP_EVENT, 0, reinterpret_cast<platform::LPARAM>(&error));
    };
    // A burst: one reopen.
    for (int i = 0; i < 20; ++i)
        sendError();
    EXPECT_FALSE(dialog.hasTimer(scan::kScanTimerId));
    // Each reopen binds port 6001 afresh: another program may take it in
    // between, and the endpoint then says so and the scan ends.
    const bool reopened = waitUntil([&] { return dialog.hasTimer(scan::kScanTimerId) || !dialog.IsScanning(); }, 30000);
    SKIP_IF_UDP_PORT_TAKEN_MEANWHILE(scan::kLocalPort, dialog.IsScanning());
    ASSERT_TRUE(reopened && dialog.hasTimer(scan::kScanTimerId));
    EXPECT_TRUE(dialog.IsEndpointOpen());
    EXPECT_TRUE(dialog.IsScanning());
    EXPECT_EQ(Button(dialog, "2904")->text(), QStringLiteral("Stop"));

    // An answer in between shows the card works again.
    Feed(dialog, AnnouncementBytes("127.0.0.9", "000000000009"));
    // Errors that keep coming: a few reopens, then the scan gives up.
    for (int round = 0; round <= scan::kMaxEndpointReopens; ++round) {
        sendError();
        waitUntil([&] { return dialog.hasTimer(scan::kScanTimerId) || !dialog.IsScanning(); }, 30000);
    }
    // A reopen that found the port taken told so in a message box.
    SKIP_IF_UDP_PORT_TAKEN_MEANWHILE(scan::kLocalPort, boxes.calls().empty());
    EXPECT_FALSE(dialog.IsScanning());
    EXPECT_FALSE(dialog.IsEndpointOpen());
    EXPECT_EQ(Button(dialog, "2904")->text(), QStringLiteral("Scan"));
    EXPECT_TRUE(boxes.calls().empty());
}

// Each tick of the scan timer, by hand: a scan started with the button
// empties the list and keeps what is known of the players; an automatic one
// counts down five rounds and stops; a tick after the end does nothing.
TEST_F(ScanOverLoopback, EachTickFollowsTheRoundRule)
{
    const struct {
        bool automatic;
        int ticks;
        const char* button;
        bool scanning;
        bool listed;  // our player still has its row
    } rows[] = {
        {false, 1, "Stop", true, false}, {false, 3, "Stop", true, false}, {true, 1, "Stop(4)", true, true},
        {true, 4, "Stop(1)", true, true}, {true, 5, "Scan", false, true}, {true, 7, "Scan", false, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << (r.automatic ? "automatic " : "by hand ") << r.ticks);
        MessageBoxRecorder boxes;
        CScanForDevices dialog(QString(), r.automatic);
        if (r.automatic)
            dialog.OnInitDialog();
        else
            dialog.OnScanButton();
        SKIP_IF_UDP_PORT_TAKEN_MEANWHILE(scan::kLocalPort, dialog.IsScanning());
        ASSERT_TRUE(dialog.IsScanning());
        Feed(dialog, AnnouncementBytes("127.0.0.78", "0000000000AB"));
        // Well inside the timer's first second, so its own ticks do not mix in.
        for (int i = 0; i < r.ticks; ++i)
            dialog.onTimer(scan::kScanTimerId);
        EXPECT_EQ(Button(dialog, "2904")->text(), QString::fromLatin1(r.button));
        EXPECT_EQ(dialog.IsScanning(), r.scanning);
        EXPECT_EQ(dialog.BroadcastCount(), std::min(r.ticks, scan::kAutoRounds));
        const auto& list = dialog.Rows();
        EXPECT_EQ(std::any_of(list.begin(), list.end(), [](const PlayerRow& p) { return p.ip == "127.0.0.78"; }),
                  r.listed);
        const auto& known = dialog.Devices();
        EXPECT_TRUE(std::any_of(known.begin(), known.end(), [](const DeviceRecord& d) { return d.ip == "127.0.0.78"; }));
        dialog.reject();
    }
}

}  // namespace
