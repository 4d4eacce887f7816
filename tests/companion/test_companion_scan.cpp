// Tollivar's "Scan For Devices": the tick limit, the rows and their texts,
// the clipboard, and automatic scans over loopback against simulated
// players. Everything is sent to 127.0.0.0/8 only.

#include "companion/scan_for_devices.h"
#include "companion/video_set_wizard.h"
#include "platform/app_identity.h"
#include "platform/messages.h"
#include "player/player_sim.h"
#include "tests/support/test_support.h"
#include "transport/scan_engine.h"
#include "transport/udp_server.h"

#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <set>

#include <netinet/in.h>

#include <algorithm>

namespace {

using namespace tollivar;
using testsupport::MessageBoxRecorder;
using testsupport::ScopedEnv;
using testsupport::ScopedLanguage;
using testsupport::waitUntil;

QByteArray AnnouncementBytes(const char* ip, const char* mac, const char* id = "id0000000001", uint16_t version = 0x1231,
                             uint16_t fpga = 0, uint16_t channel = 4)
{
    PlayerAnnouncement a;
    EXPECT_TRUE(a.setIpText(QString::fromLatin1(ip)));
    EXPECT_TRUE(a.setMacText(QString::fromLatin1(mac)));
    a.tcpPort = 8000;
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

QPushButton* Button(CScanForDevices& d, const char* id) { return d.findChild<QPushButton*>(QString::fromLatin1(id)); }
QTableWidget* List(CScanForDevices& d) { return d.findChild<QTableWidget*>(QStringLiteral("2001")); }

TEST(ScanCompanionModel, TickLimit)
{
    std::vector<PlayerRow> rows(9);
    for (int i = 0; i < 9; ++i) {
        rows[std::size_t(i)].ip = QStringLiteral("127.0.0.%1").arg(i + 2);
        rows[std::size_t(i)].portText = QStringLiteral("500%1").arg(i);
    }
    const struct {
        int ticked;
        const char* refusal;
    } cases[] = {
        {0, "Please tick the devices!"}, {1, ""}, {8, ""}, {9, "Too many devices selected!"},
    };
    for (const auto& c : cases) {
        std::vector<bool> ticks(9, false);
        for (int i = 0; i < c.ticked; ++i)
            ticks[std::size_t(i)] = true;
        const TickChoice choice = CheckTickedPlayers(rows, ticks, platform::kLanguageEnglish);
        EXPECT_EQ(choice.refusal, QString::fromUtf8(c.refusal)) << c.ticked;
        EXPECT_EQ(int(choice.players.size()), c.refusal[0] ? 0 : c.ticked);
    }
    const TickChoice one = CheckTickedPlayers(rows, {false, true}, platform::kLanguageEnglish);
    ASSERT_EQ(one.players.size(), 1u);
    EXPECT_EQ(one.players[0].ip, QStringLiteral("127.0.0.3"));
    EXPECT_EQ(one.players[0].portText, QStringLiteral("5001"));
    EXPECT_EQ(CheckTickedPlayers(rows, {}, platform::kLanguageChinese).refusal, QStringLiteral("请勾选设备！"));
}

TEST(ScanCompanionModel, DescriptionTable)
{
    const struct {
        uint16_t version, fpga, channel;
        unsigned language;
        const char* text;
    } cases[] = {
        {0x1230, 0, 4, 9, "VuvoPlayer ver:1.2.3 Channel:(No Input Four Output)"},
        {0x1231, 5, 41, 9, "RotatePlayer ver:1.2.3 FPGA ver:5.0 Channel:(One Input Four Output)"},
        {0x2102, 0, 91, 9, "QVEPlayer ver:2.1.0 Channel:(One Input Nine Output)"},
        {0x1233, 0, 4, 9, "Player ver:1.2.3 Channel:(No Input Four Output)"},
        {0x1230, 0, 10, 9, "VuvoUnknown Player"},
        {0x1231, 0, 0, 9, "RotateUnknown Player"},
        {0x1230, 0, 2, 4, "融合播放器版本号:1.2.3 通道:(无输入二输出)"},
        {0x1231, 0, 10, 4, "拼接未知播放器"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scan::DescribePlayer(c.version, c.fpga, c.channel, c.language), QString::fromUtf8(c.text));
}

TEST(ScanCompanionModel, OneRowAndRecordPerMac)
{
    std::vector<PlayerRow> rows;
    std::vector<DeviceRecord> records;
    const auto merge = [&](const char* ip, const char* mac) {
        auto a = PlayerAnnouncement::parse(AnnouncementBytes(ip, mac));
        return scan::MergeAnnouncement(rows, records, *a, platform::kLanguageEnglish);
    };
    EXPECT_TRUE(merge("127.0.0.9", "0000000000AA").appended);
    EXPECT_TRUE(merge("127.0.0.2", "0000000000BB").appended);
    const scan::MergeResult again = merge("127.0.0.7", "0000000000AA");
    EXPECT_FALSE(again.appended);
    EXPECT_EQ(again.row, 0);
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(rows[0].ip, QStringLiteral("127.0.0.7"));
    EXPECT_EQ(records[0].ip, QStringLiteral("127.0.0.7"));
    EXPECT_EQ(records[0].mac, QStringLiteral("0000000000AA"));
}

TEST(ScanCompanionDialog, TickBoxesAllInvertAndTheLimit)
{
    ScopedLanguage language(platform::kLanguageEnglish);
    {
        CScanForDevices single(QStringLiteral("Tollivar-"), true, false);
        EXPECT_EQ(single.windowTitle(), QStringLiteral("Tollivar-Scan For Devices"));
        EXPECT_TRUE(Button(single, "2005")->isHidden());
        EXPECT_TRUE(Button(single, "2006")->isHidden());
    }
    MessageBoxRecorder boxes;
    CScanForDevices dialog(QStringLiteral("Tollivar-"), false, true);
    EXPECT_FALSE(Button(dialog, "2005")->isHidden());
    for (int i = 0; i < 9; ++i)
        Feed(dialog, AnnouncementBytes(QStringLiteral("127.0.1.%1").arg(i).toLatin1().constData(),
                                       QStringLiteral("00000000000%1").arg(i).toLatin1().constData()));
    EXPECT_EQ(dialog.Rows().size(), 9u);
    dialog.OnTickAll();
    const std::vector<bool> ticks = dialog.Ticks();
    EXPECT_EQ(std::count(ticks.begin(), ticks.end(), true), 9);
    dialog.accept();
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("Too many devices selected!")});
    EXPECT_EQ(dialog.result(), 0);
    dialog.OnTickInvert();
    boxes.clear();
    dialog.accept();
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("Please tick the devices!")});
    for (int i = 0; i < 8; ++i)
        dialog.SetTick(i, true);
    boxes.clear();
    dialog.accept();
    EXPECT_TRUE(boxes.texts().isEmpty());
    EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
    EXPECT_EQ(dialog.TickedPlayers().size(), 8u);
}

TEST(ScanCompanionDialog, SingleChoiceAndClipboard)
{
    ScopedLanguage language(platform::kLanguageEnglish);
    MessageBoxRecorder boxes;
    CScanForDevices dialog(QString(), false, false);
    Feed(dialog, AnnouncementBytes("127.0.0.9", "A1B2C3D4E5F6", "ab12"));
    Feed(dialog, AnnouncementBytes("127.0.0.10", "A1B2C3D4E5F7", "cd34"));
    dialog.OnListRightClick();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("AB12\r\nCD34\r\n"));
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("ID number has been copied to the Clipboard")});
    boxes.clear();
    dialog.accept();
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("Please choose a device first!")});
    List(dialog)->selectRow(0);
    dialog.OnListRightClick();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("AB12"));
    boxes.clear();
    dialog.accept();
    EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
    EXPECT_EQ(dialog.ChosenPlayer().mac, QStringLiteral("A1B2C3D4E5F6"));
    ASSERT_EQ(dialog.Devices().size(), 2u);
    // By IP text: "127.0.0.10" before "127.0.0.9".
    EXPECT_EQ(dialog.Devices()[0].ip, QStringLiteral("127.0.0.10"));
}

// Port 6001 is one per machine: a second run of the suite may take it between
// the fixture's check and the scan's own open, and the scan then does not
// start. Only then is the test skipped.
#define SKIP_IF_PORT_TAKEN_MEANWHILE(scanner) \
    SKIP_IF_UDP_PORT_TAKEN_MEANWHILE(scan::kLocalPort, (scanner).IsScanning() || (scanner).IsEndpointOpen())

class ScanCompanionLoopback : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::waitUdpPortFree(scan::kLocalPort))
            GTEST_SKIP() << "UDP port 6001 is held by another program";
    }
    ScopedEnv loopback_{"VELUNA_SCAN_LOOPBACK", "1"};
};

void saveScreenshot(QWidget& widget, const QString& name)
{
    // Drawing a shown widget starts Qt's own pooled threads, which the
    // thread checker cannot follow (Qt is not built for it).
    if (testsupport::kUnderThreadChecker)
        return;
    widget.show();
    waitUntil([] { return false; }, 50);
    const QString folder = testsupport::binDir() + QStringLiteral("/../screenshots");
    QDir().mkpath(folder);
    EXPECT_TRUE(widget.grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png")));
}

TEST_F(ScanCompanionLoopback, AutomaticScanRoundsAndPlayersFound)
{
    std::vector<std::unique_ptr<sim::PlayerSim>> players;
    QStringList macs;
    for (const char* address : {"127.0.0.2", "127.0.0.3"}) {
        sim::SimOptions options;
        options.address = QString::fromLatin1(address);
        options.mac = QStringLiteral("02%1").arg(QRandomGenerator::global()->generate64() & 0xFFFFFFFFFFull, 10, 16,
                                                 QLatin1Char('0')).toUpper();
        options.udpDiscovery = true;
        auto player = std::make_unique<sim::PlayerSim>(options);
        QString error;
        if (!player->start(&error))
            GTEST_SKIP() << "simulated player cannot start: " << error.toStdString();
        macs << options.mac;
        players.push_back(std::move(player));
    }
    for (unsigned lang : {platform::kLanguageEnglish, platform::kLanguageChinese}) {
        ScopedLanguage language(lang);
        MessageBoxRecorder boxes;
        CScanForDevices dialog(QStringLiteral("Tollivar-"), true, true);
        dialog.OnInitDialog();
        SKIP_IF_PORT_TAKEN_MEANWHILE(dialog);
        ASSERT_TRUE(dialog.IsScanning());
        EXPECT_FALSE(Button(dialog, "2005")->isEnabled());
        QStringList texts;
        ASSERT_TRUE(waitUntil(
            [&] {
                const QString t = dialog.ScanButtonText();
                if (texts.isEmpty() || texts.back() != t)
                    texts << t;
                return !dialog.IsScanning();
            }));
        if (lang == platform::kLanguageEnglish) {
            EXPECT_EQ(texts, (QStringList{"Stop", "Stop(4)", "Stop(3)", "Stop(2)", "Stop(1)", "Scan"}));
        }
        int ours = 0;
        for (const PlayerRow& row : dialog.Rows())
            ours += macs.contains(scan::MacWithoutColons(row.mac));
        EXPECT_EQ(ours, 2);
        EXPECT_TRUE(Button(dialog, "2005")->isEnabled());
        EXPECT_TRUE(Button(dialog, "1")->isEnabled());
        // A description longer than the column's opening width.
        Feed(dialog, AnnouncementBytes("127.0.0.250", "0A:0B:0C:0D:0E:0F", "id0000000250", 0x1230, 5, 71));
        saveScreenshot(dialog, lang == platform::kLanguageChinese ? QStringLiteral("tollivar_scan_zh")
                                                                    : QStringLiteral("tollivar_scan_en"));
        if (dialog.isVisible()) {
            // Every column whole, the last one too: nothing behind a scroll bar.
            QTableWidget* list = List(dialog);
            EXPECT_LE(list->columnViewportPosition(5) + list->columnWidth(5), list->viewport()->width());
        }
        dialog.reject();
        EXPECT_TRUE(boxes.texts().isEmpty());
    }
}

TEST_F(ScanCompanionLoopback, ReceiveErrorKeepsButtonCounterAndFlagConsistent)
{
    ScopedLanguage language(platform::kLanguageEnglish);
    MessageBoxRecorder boxes;
    CScanForDevices dialog(QString(), true, false);
    dialog.OnInitDialog();
    SKIP_IF_PORT_TAKEN_MEANWHILE(dialog);
    ASSERT_TRUE(dialog.IsScanning());
    ASSERT_TRUE(waitUntil([&] { return dialog.RoundCounter() >= 1; }));
    // From here on the endpoint hands the dialog its errors only: players of
    // another run on this machine answer our broadcasts, and an answer
    // between two errors counts them afresh, by design.
    dialog.onMessage(platform::WM_UDP_EVENT, [&dialog](platform::WPARAM, platform::LPARAM lParam) {
        const auto* event = reinterpret_cast<const UdpLinkEvent*>(lParam);
        if (event && event->type == kUdpReceiveError)
            dialog.OnReceiveError();
        return platform::LRESULT(0);
    });
    UdpLinkEvent error;
    error.type = kUdpReceiveError;
    error.error = 111;
    const auto sendError = [&] {
        platform::sendMessage(&dialog, platform::WM_UDP_EVENT, 0, reinterpret_cast<platform::LPARAM>(&error));
    };
    sendError();
    sendError();
    ASSERT_TRUE(waitUntil([&] { return dialog.hasTimer(scan::kScanTimerId); }));
    EXPECT_TRUE(dialog.IsScanning());
    EXPECT_TRUE(dialog.IsEndpointOpen());
    EXPECT_EQ(dialog.RoundCounter(), 0);
    EXPECT_EQ(dialog.ScanButtonText(), QStringLiteral("Stop"));
    // Errors that keep coming: the scan ends as "Stop" would end it.
    for (int round = 0; round <= scan::kMaxEndpointReopens && dialog.IsScanning(); ++round) {
        sendError();
        waitUntil([&] { return dialog.hasTimer(scan::kScanTimerId) || !dialog.IsScanning(); });
    }
    EXPECT_FALSE(dialog.IsScanning());
    EXPECT_FALSE(dialog.hasTimer(scan::kScanTimerId));
    EXPECT_EQ(dialog.ScanButtonText(), QStringLiteral("Scan"));
    EXPECT_TRUE(boxes.texts().isEmpty());
}

// The wizard's device page: five rounds a second apart, each one emptying
// the list, then the scan ends by itself with the tick boxes offered; one
// press of Stop ends it at any time.
TEST_F(ScanCompanionLoopback, WizardPageScansFiveRoundsThenOffersTicks)
{
    sim::SimOptions options;
    options.address = QStringLiteral("127.0.0.2");
    options.mac = QStringLiteral("02%1").arg(QRandomGenerator::global()->generate64() & 0xFFFFFFFFFFull, 10, 16,
                                             QLatin1Char('0')).toUpper();
    options.udpDiscovery = true;
    sim::PlayerSim player(options);
    QString error;
    if (!player.start(&error))
        GTEST_SKIP() << "simulated player cannot start: " << error.toStdString();
    QTemporaryDir temp;
    ScopedLanguage language(platform::kLanguageEnglish);
    MessageBoxRecorder boxes;

    // Our requests, told from other programs' by their source: the scan's
    // endpoint (127.0.0.1:6001), which nothing else holds while it is open.
    // Once it is closed, another program (a second test run) may take that
    // port and scan from it: what comes from there then is not ours.
    QUdpSocket requests;
    ASSERT_TRUE(requests.bind(QHostAddress::AnyIPv4, scan::kPlayerPort,
                              QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint));
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> rounds;
    std::set<int> periods;
    QStringList texts;

    // What another program sent from that port is queued by now (loopback
    // hands a datagram over as it is sent), and it sends no more once the
    // page holds the port: drop it, so that it is not taken for a round.
    while (requests.hasPendingDatagrams())
        requests.receiveDatagram(256);
    CVideoSetWizard wizard(QStringLiteral("Tollivar-"), temp.path() + QLatin1Char('/'));
    CScanForDevices& page = *wizard.SelectPage();
    SKIP_IF_PORT_TAKEN_MEANWHILE(page);
    ASSERT_TRUE(page.IsScanning());
    EXPECT_FALSE(Button(page, "2005")->isEnabled());
    const auto watch = [&] {
        for (int i = 0; i < 64 && requests.hasPendingDatagrams(); ++i) {
            const QNetworkDatagram d = requests.receiveDatagram(256);
            if (d.senderAddress() == QHostAddress::LocalHost && d.senderPort() == scan::kLocalPort &&
                page.IsEndpointOpen()) {
                rounds.push_back(clock.elapsed());
                periods.insert(page.timerPeriod(scan::kScanTimerId));
            }
        }
        if (texts.isEmpty() || texts.back() != page.ScanButtonText())
            texts << page.ScanButtonText();
    };
    ASSERT_TRUE(waitUntil([&] { watch(); return !page.IsScanning(); }, 30000));
    waitUntil([&] { watch(); return false; }, 1500);  // nothing more is sent
    EXPECT_EQ(texts, (QStringList{"Stop", "Stop(4)", "Stop(3)", "Stop(2)", "Stop(1)", "Scan"}));
    ASSERT_EQ(rounds.size(), 5u);
    // A second apart: the cadence is the period timer 4 ran at while the
    // rounds went, read off the page rather than off a clock that a loaded
    // machine stretches. One round a tick is what the texts above count.
    EXPECT_EQ(periods, std::set<int>{1000});
    EXPECT_FALSE(page.IsEndpointOpen());
    EXPECT_TRUE(Button(page, "2005")->isEnabled());
    EXPECT_TRUE(Button(page, "2006")->isEnabled());
    // The last round's answer, once (other players on loopback may answer too).
    const auto& rows = page.Rows();
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                            [&](const PlayerRow& r) { return scan::MacWithoutColons(r.mac) == options.mac; }),
              1);
    page.OnTickAll();
    EXPECT_EQ(page.Ticks(), std::vector<bool>(rows.size(), true));

    // Back on the page: a new scan; one press of Stop ends it.
    wizard.EnterParamPage({{QStringLiteral("127.0.0.2"), QString::number(player.tcpPort())}});
    wizard.OnBack();
    SKIP_IF_PORT_TAKEN_MEANWHILE(page);
    ASSERT_TRUE(page.IsScanning());
    EXPECT_TRUE(page.Rows().empty());
    page.OnScanButton();
    EXPECT_FALSE(page.IsScanning());
    EXPECT_FALSE(page.IsEndpointOpen());
    EXPECT_EQ(page.ScanButtonText(), QStringLiteral("Scan"));
    EXPECT_TRUE(Button(page, "2005")->isEnabled());
    EXPECT_FALSE(page.hasTimer(scan::kScanTimerId));
}

}  // namespace
