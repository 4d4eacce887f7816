// The "Scan For Devices" dialog: its controls, the rows built from answers,
// the choice it hands back, and scans over loopback against simulated
// players. Everything is sent to 127.0.0.0/8 only.

#include "core/scan_for_devices.h"
#include "core/document.h"
#include "platform/app_identity.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "player/player_sim.h"
#include "tests/support/test_support.h"
#include "transport/udp_server.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTableWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <ostream>
#include <thread>

static void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

using testsupport::MessageBoxRecorder;
using testsupport::waitUntil;

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value) : name_(name), previous_(qgetenv(name))
    {
        had_ = qEnvironmentVariableIsSet(name);
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (had_)
            qputenv(name_, previous_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    QByteArray previous_;
    bool had_ = false;
};

class ScopedLanguage {
public:
    explicit ScopedLanguage(unsigned language) : previous_(platform::appLanguage())
    {
        platform::setAppLanguage(language);
    }
    ~ScopedLanguage() { platform::setAppLanguage(previous_); }

private:
    unsigned previous_;
};

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
    for (int r = 0; r < list->rowCount(); ++r) {
        if (list->item(r, 1) && list->item(r, 1)->text() == ip)
            list->selectRow(r);
    }
}

// A UDP socket on loopback that records what reaches one port.
class Listener {
public:
    struct Datagram {
        QByteArray bytes;
        QString from;
        uint16_t fromPort;
        qint64 atMs;
    };

    // Bound to `address` (0 = every address) and `port`, sharing the port
    // with the simulated players.
    Listener(uint32_t addressHost, uint16_t port) : port_(port)
    {
        clock_.start();
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
        timeval tv{0, 20000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr.s_addr = htonl(addressHost);
        ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
        if (ok_)
            thread_ = std::thread([this] { Run(); });
    }
    ~Listener()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        ::close(fd_);
    }
    bool ok() const { return ok_; }

    // Requests of the scan dialog (from local port 6001).
    std::vector<Datagram> FromScan() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Datagram> out;
        for (const auto& d : got_)
            if (d.fromPort == scan::kLocalPort && d.from == QLatin1String("127.0.0.1"))
                out.push_back(d);
        return out;
    }

private:
    void Run()
    {
        // Bounded: ends when the owner asks, each wait lasts at most 20 ms.
        char buffer[2048];
        while (!stop_) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0)
                continue;
            // The kernel's arrival time, not when this thread got around to it.
            timeval stamp{};
            qint64 atMs = clock_.elapsed();
            if (::ioctl(fd_, SIOCGSTAMP, &stamp) == 0)
                atMs = qint64(stamp.tv_sec) * 1000 + stamp.tv_usec / 1000;
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
            std::lock_guard<std::mutex> lock(mutex_);
            got_.push_back({QByteArray(buffer, int(n)), QString::fromLatin1(text), ntohs(from.sin_port), atMs});
        }
    }

    uint16_t port_;
    int fd_ = -1;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<Datagram> got_;
    QElapsedTimer clock_;
};

// Port 6001 is one per machine; wait a moment when another test holds it.
bool ScanPortFree()
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 3000) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(scan::kLocalPort);
        sa.sin_addr.s_addr = htonl(INADDR_ANY);
        const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
        ::close(fd);
        if (free)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

QString RandomMac()
{
    QString mac = QStringLiteral("02");  // locally administered
    for (int i = 0; i < 5; ++i)
        mac += QStringLiteral("%1").arg(QRandomGenerator::global()->bounded(256), 2, 16, QLatin1Char('0')).toUpper();
    return mac;
}

QString WithColons(const QString& mac)
{
    QStringList parts;
    for (int i = 0; i < mac.size(); i += 2)
        parts << mac.mid(i, 2);
    return parts.join(QLatin1Char(':'));
}

// ---------------------------------------------------------------------------

TEST(ScanDialog, ControlsInBothLanguages)
{
    struct Case {
        unsigned language;
        const char *caption, *scan, *update, *connect, *cancel, *firstColumn, *lastColumn;
    };
    const Case cases[] = {
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
        ASSERT_NE(list, nullptr);
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
    struct Case {
        QByteArray bytes;
        bool accepted;
        const char* id;
    };
    const QByteArray good = AnnouncementBytes("192.168.1.20", "A1B2C3D4E5F6", 8000, "ab12cd34ef56");
    QByteArray otherCommand = good;
    otherCommand[4] = char(0x82);
    QByteArray notSupportedBit = good;
    notSupportedBit[4] = char(0xC1);
    QByteArray wrongLength = good;
    wrongLength[12] = 29;
    QByteArray longer = good + QByteArray(20, 'x');
    const Case cases[] = {
        {good, true, "AB12CD34EF56"},
        {good.left(40), true, "AB12CD"},      // the missing ID bytes read as zeros
        {good.left(44), true, "AB12CD34EF"},
        {good.left(39), false, ""},
        {QByteArray(), false, ""},
        {longer, true, "AB12CD34EF56"},       // only the record's 46 bytes are read
        {otherCommand, false, ""},
        {notSupportedBit, true, "AB12CD34EF56"},  // only the low six bits name the command
        {wrongLength, false, ""},
    };
    for (const auto& c : cases) {
        CScanForDevices dialog(QString(), false);
        Feed(dialog, c.bytes);
        ASSERT_EQ(dialog.Rows().size(), c.accepted ? 1u : 0u) << c.bytes.toHex().toStdString();
        ASSERT_EQ(dialog.Devices().size(), c.accepted ? 1u : 0u);
        if (!c.accepted)
            continue;
        EXPECT_EQ(dialog.Rows()[0].id, QString::fromLatin1(c.id));
        QTableWidget* list = List(dialog);
        ASSERT_EQ(list->rowCount(), 1);
        const QStringList expected{"1", "192.168.1.20", "A1:B2:C3:D4:E5:F6", "8000", QString::fromLatin1(c.id),
                                   "RotatePlayer ver:1.2.3 Channel:(No Input Four Output)"};
        for (int col = 0; col < 6; ++col)
            EXPECT_EQ(list->item(0, col)->text(), expected[col]) << col;
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
        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_EQ(boxes.calls()[0].text, language == platform::kLanguageChinese
                                              ? QStringLiteral("先选择一台设备，再连接！")
                                              : QStringLiteral("Please choose a device first!"));
        EXPECT_EQ(boxes.calls()[0].icon, platform::MsgIcon::Warning);
        EXPECT_TRUE(dialog.ChosenPlayer().ip.isEmpty());
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
        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_EQ(boxes.calls()[0].text, QStringLiteral("The local IP and device IP do not belong to the same "
                                                         "network segment. Do you want to continue?"));
        EXPECT_EQ(boxes.calls()[0].buttons, platform::MsgButtons::YesNo);
        EXPECT_EQ(boxes.calls()[0].icon, platform::MsgIcon::Question);
        if (answer == platform::MsgResult::No) {
            EXPECT_NE(dialog.result(), QDialog::Accepted);
            continue;
        }
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        const PlayerRow& chosen = dialog.ChosenPlayer();
        EXPECT_EQ(chosen.ip, QStringLiteral("192.168.1.9"));
        EXPECT_EQ(chosen.mac, QStringLiteral("00000000000A"));
        EXPECT_EQ(chosen.portText, QStringLiteral("8001"));
        EXPECT_EQ(chosen.id, QStringLiteral("NINE00000009"));
        EXPECT_EQ(chosen.versionText, QStringLiteral("QVEPlayer ver:1.5.2 FPGA ver:5.0 Channel:(One Input Nine Output)"));
        EXPECT_EQ(chosen.version, 0);  // the handshake fills the numbers
        EXPECT_EQ(chosen.fpgaVersion, 0);
        EXPECT_EQ(chosen.channelCode, 0);
        EXPECT_EQ(dialog.LocalAddress(), QStringLiteral("127.0.0.1"));
        QStringList order;
        for (const auto& r : dialog.Devices())
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
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, QStringLiteral("ID号已经拷贝到剪切板"));
    EXPECT_EQ(boxes.calls()[0].icon, platform::MsgIcon::Warning);

    SelectRowWithIp(dialog, QStringLiteral("10.0.0.2"));
    dialog.OnListRightClick();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("BBB000000002"));
}

// ---------------------------------------------------------------------------
// Over loopback

class ScanOverLoopback : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ScanPortFree())
            GTEST_SKIP() << "UDP port 6001 is held by another program";
    }
    ScopedEnv loopback_{"VELUNA_SCAN_LOOPBACK", "1"};
    ScopedLanguage language_{platform::kLanguageEnglish};
};

TEST_F(ScanOverLoopback, RequestBytesPortsAndCadence)
{
    Listener first(INADDR_ANY, scan::kPlayerPort);
    Listener second(INADDR_ANY, scan::kPlayerAltPort);
    ASSERT_TRUE(first.ok() && second.ok());

    MessageBoxRecorder boxes;
    CScanForDevices dialog(QString(), false);
    dialog.OnScanButton();
    ASSERT_TRUE(dialog.IsScanning());
    EXPECT_EQ(Button(dialog, "2904")->text(), QStringLiteral("Stop"));
    EXPECT_FALSE(dialog.findChild<QComboBox*>(QStringLiteral("2902"))->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !first.FromScan().empty() && !second.FromScan().empty(); }, 3000));
    const auto a = first.FromScan().front();
    const auto b = second.FromScan().front();
    EXPECT_EQ(a.bytes, scan::BuildDiscoveryRequest(false));
    EXPECT_EQ(b.bytes, scan::BuildDiscoveryRequest(false));
    EXPECT_GE(b.atMs - a.atMs, 15);  // the second copy follows about 20 ms later
    EXPECT_LT(b.atMs - a.atMs, 500);

    // Not automatic: one more broadcast every second until stopped.
    ASSERT_TRUE(waitUntil([&] { return first.FromScan().size() >= 2; }, 3000));
    dialog.OnScanButton();
    EXPECT_FALSE(dialog.IsScanning());
    EXPECT_EQ(Button(dialog, "2904")->text(), QStringLiteral("Scan"));
    EXPECT_TRUE(dialog.IsEndpointOpen());  // late answers still come in

    // A click on a row asks that player alone.
    Listener player(0x7F00004Du, scan::kPlayerPort);  // 127.0.0.77
    Listener playerAlt(0x7F00004Du, scan::kPlayerAltPort);
    ASSERT_TRUE(player.ok() && playerAlt.ok());
    Feed(dialog, AnnouncementBytes("127.0.0.77", "0000000000AA"));
    SelectRowWithIp(dialog, QStringLiteral("127.0.0.77"));
    dialog.OnListLeftClick();
    ASSERT_TRUE(waitUntil([&] { return !player.FromScan().empty() && !playerAlt.FromScan().empty(); }, 3000));
    EXPECT_EQ(player.FromScan().front().bytes, scan::BuildDiscoveryRequest(true));
    EXPECT_EQ(playerAlt.FromScan().front().bytes, scan::BuildDiscoveryRequest(true));
    EXPECT_TRUE(boxes.calls().empty());
    dialog.reject();
    EXPECT_FALSE(dialog.IsEndpointOpen());
}

TEST_F(ScanOverLoopback, AutomaticScanFindsSimulatedPlayers)
{
    Listener requests(INADDR_ANY, scan::kPlayerPort);
    ASSERT_TRUE(requests.ok());
    std::vector<std::unique_ptr<sim::PlayerSim>> players;
    QStringList macs;
    for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.4"}) {
        sim::SimOptions options;
        options.address = QString::fromLatin1(address);
        options.mac = RandomMac();
        options.id = QStringLiteral("scan%1").arg(address[8]).leftJustified(12, QLatin1Char('x'));
        options.udpDiscovery = true;
        options.version = 0x1231;
        options.fpgaVersion = 0;
        auto player = std::make_unique<sim::PlayerSim>(options);
        QString error;
        if (!player->start(&error))
            GTEST_SKIP() << "simulated player cannot start: " << error.toStdString();
        macs << WithColons(options.mac);
        players.push_back(std::move(player));
    }

    MessageBoxRecorder boxes(platform::MsgResult::Yes);
    CScanForDevices dialog(QString(), true);
    QStringList texts;
    dialog.OnInitDialog();  // what showing the dialog does first
    ASSERT_TRUE(dialog.IsScanning());
    EXPECT_FALSE(Button(dialog, "1")->isHidden());
    EXPECT_FALSE(Button(dialog, "1")->isEnabled());
    ASSERT_TRUE(waitUntil(
        [&] {
            const QString t = Button(dialog, "2904")->text();
            if (texts.isEmpty() || texts.back() != t)
                texts << t;
            return !dialog.IsScanning();
        },
        8000));
    EXPECT_EQ(texts, (QStringList{"Stop", "Stop(4)", "Stop(3)", "Stop(2)", "Stop(1)", "Scan"}));
    EXPECT_EQ(requests.FromScan().size(), 5u);
    EXPECT_TRUE(Button(dialog, "1")->isEnabled());

    // Other players on this machine may answer too; ours are there once each.
    const auto& rows = dialog.Rows();
    for (const QString& mac : macs)
        EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [&](const PlayerRow& r) { return r.mac == mac; }), 1)
            << mac.toStdString();
    for (std::size_t i = 1; i < rows.size(); ++i)
        EXPECT_LE(rows[i - 1].ip, rows[i].ip);
    EXPECT_EQ(List(dialog)->rowCount(), int(rows.size()));

    SelectRowWithIp(dialog, QStringLiteral("127.0.0.3"));
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(boxes.calls().empty());  // 127.0.0.1 and 127.0.0.3: one class A network
    EXPECT_EQ(dialog.ChosenPlayer().ip, QStringLiteral("127.0.0.3"));
    EXPECT_EQ(dialog.ChosenPlayer().mac, players[1]->options().mac);
    EXPECT_EQ(dialog.ChosenPlayer().portText, QString::number(players[1]->tcpPort()));
    EXPECT_EQ(dialog.ChosenPlayer().id, QStringLiteral("SCAN3XXXXXXX"));
    EXPECT_EQ(dialog.LocalAddress(), QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(dialog.IsEndpointOpen());
    int ours = 0;
    for (const auto& record : dialog.Devices())
        ours += macs.contains(WithColons(record.mac));
    EXPECT_EQ(ours, 3);
    for (std::size_t i = 1; i < dialog.Devices().size(); ++i)
        EXPECT_LE(dialog.Devices()[i - 1].ip, dialog.Devices()[i].ip);
    for (auto& p : players)
        p->stop();
}

TEST_F(ScanOverLoopback, TakenPortStopsTheScan)
{
    const int holder = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(scan::kLocalPort);
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(holder, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(holder);
        GTEST_SKIP() << "cannot hold port 6001";
    }
    MessageBoxRecorder boxes;
    CScanForDevices dialog(QString(), false);
    dialog.OnScanButton();
    ::close(holder);
    EXPECT_FALSE(dialog.IsScanning());
    EXPECT_FALSE(dialog.IsEndpointOpen());
    EXPECT_EQ(Button(dialog, "2904")->text(), QStringLiteral("Scan"));
    ASSERT_EQ(boxes.calls().size(), 1u);  // the endpoint's own message, once
    EXPECT_TRUE(boxes.calls()[0].text.startsWith(QStringLiteral("Port 6001 has been occupied by")))
        << boxes.calls()[0].text.toStdString();
}

TEST_F(ScanOverLoopback, ReceiveErrorsReopenWithoutFlood)
{
    MessageBoxRecorder boxes;
    CScanForDevices dialog(QString(), false);
    dialog.OnScanButton();
    ASSERT_TRUE(dialog.IsScanning());
    UdpLinkEvent error;
    error.type = kUdpReceiveError;
    error.error = 111;
    // A burst: one reopen.
    for (int i = 0; i < 20; ++i)
        platform::sendMessage(&dialog, platform::WM_UDP_EVENT, 0, reinterpret_cast<platform::LPARAM>(&error));
    EXPECT_FALSE(dialog.hasTimer(scan::kScanTimerId));
    ASSERT_TRUE(waitUntil([&] { return dialog.hasTimer(scan::kScanTimerId); }, 2000));
    EXPECT_TRUE(dialog.IsEndpointOpen());
    EXPECT_TRUE(dialog.IsScanning());
    EXPECT_EQ(Button(dialog, "2904")->text(), QStringLiteral("Stop"));

    // An answer in between shows the card works again.
    Feed(dialog, AnnouncementBytes("127.0.0.9", "000000000009"));
    // Errors that keep coming: a few reopens, then the scan gives up.
    for (int round = 0; round <= scan::kMaxEndpointReopens; ++round) {
        platform::sendMessage(&dialog, platform::WM_UDP_EVENT, 0, reinterpret_cast<platform::LPARAM>(&error));
        waitUntil([&] { return dialog.hasTimer(scan::kScanTimerId) || !dialog.IsScanning(); }, 2000);
    }
    EXPECT_FALSE(dialog.IsScanning());
    EXPECT_FALSE(dialog.IsEndpointOpen());
    EXPECT_EQ(Button(dialog, "2904")->text(), QStringLiteral("Scan"));
    EXPECT_TRUE(boxes.calls().empty());
}

}  // namespace

namespace {

TEST_F(ScanOverLoopback, DocumentHookReturnsTheChoice)
{
    // The same steps as RunPlayerConnectionScan, without showing the window.
    MessageBoxRecorder boxes(platform::MsgResult::Yes);
    for (bool connect : {true, false}) {
        CScanForDevices dialog(QStringLiteral("P-"), true);
        dialog.OnInitDialog();
        ASSERT_TRUE(dialog.IsScanning());
        Feed(dialog, AnnouncementBytes("127.0.0.66", "0000000000F1", 8123, "hook00000001", 0x1231, 0, 2));
        SelectRowWithIp(dialog, QStringLiteral("127.0.0.66"));
        if (connect)
            dialog.accept();
        else
            dialog.reject();
        const std::optional<ScanChoice> choice = ScanChoiceOf(dialog);
        EXPECT_FALSE(dialog.IsEndpointOpen());
        ASSERT_EQ(choice.has_value(), connect);
        if (!connect)
            continue;
        EXPECT_EQ(choice->player.ip, QStringLiteral("127.0.0.66"));
        EXPECT_EQ(choice->player.mac, QStringLiteral("0000000000F1"));
        EXPECT_EQ(choice->player.portText, QStringLiteral("8123"));
        EXPECT_EQ(choice->localAddress, QStringLiteral("127.0.0.1"));
        ASSERT_FALSE(choice->devices.empty());
        EXPECT_TRUE(std::any_of(choice->devices.begin(), choice->devices.end(),
                                [](const DeviceRecord& r) { return r.mac == QLatin1String("0000000000F1"); }));
    }
}

}  // namespace
