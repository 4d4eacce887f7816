// The batch dialog: command 32800, the three tabs in both languages, the
// page's own discovery (request, one row per MAC, IP text order, events kept
// by the page that scans), closing during a batch.

#include "content/batch_model.h"
#include "content/content_commands.h"
#include "core/command_registry.h"
#include "tests/content/content_harness.h"
#include "tests/content/test_harness_batch.h"
#include "transport/announcement.h"
#include "transport/udp_server.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTableWidget>
#include <QTabWidget>
#include <QTimer>

#include <netinet/in.h>

using namespace Qt::StringLiterals;

TEST(BatchDialog, CommandClosesTheDocumentsLinksAndRunsTheDialog)
{
    core::clearCommands();
    content::InstallContentCommands();
    const core::CommandEntry* entry = core::findCommand(content::kCmdBatchSend);
    ASSERT_TRUE(entry);
    contenttest::Harness h;
    EXPECT_TRUE(core::IsCommandEnabled(*h.doc, content::kCmdBatchSend));  // always enabled
    h.doc->OnReconnect();
    ASSERT_TRUE(testsupport::waitUntil([&] { return h.doc->IsConnected(); }));
    static QString caption;
    content::batchBeforeExec = [](CBatchSendFileTab& tab) {
        caption = tab.windowTitle();
        QTimer::singleShot(0, &tab, [&tab] { tab.done(0); });
    };
    entry->run(*h.doc);
    content::batchBeforeExec = nullptr;
    EXPECT_FALSE(h.doc->IsConnected());
    EXPECT_EQ(h.doc->sequence(), 0);
    EXPECT_EQ(caption, h.doc->titlePrefix() + u"Bach Send"_s);
}

TEST(BatchDialog, TabsAndColumnsInBothLanguagesWithScreenshots)
{
    const struct {
        unsigned language;
        const char *caption, *tab, *video, *ok;
    } rows[] = {
        {9, "Pre-Bach Send", "Bach1", "Update Video", "OK"},
        {4, "Pre-批量发送", "批量1", "更新视频", "完成"},
    };
    for (const auto& r : rows) {
        testsupport::ScopedLanguage language(r.language);
        batchtest::Bench b(2, r.language);
        ASSERT_TRUE(b.started);
        b.write({{u"A1/A/x.mp4"_s, 100}}, QByteArray());
        b.send();
        ASSERT_TRUE(b.waitDone());
        EXPECT_EQ(b.tab->windowTitle(), QString::fromUtf8(r.caption));
        EXPECT_EQ(b.tab->tabs()->tabText(0), QString::fromUtf8(r.tab));
        EXPECT_EQ(b.tab->tabs()->count(), 3);
        auto* list = b.page->findChild<QTableWidget*>(u"4201"_s);
        EXPECT_EQ(list->horizontalHeaderItem(CBatchSendFile::kColVideo)->text(), QString::fromUtf8(r.video));
        EXPECT_EQ(b.page->Cell(1, CBatchSendFile::kColVideo), QString::fromUtf8(r.ok));
        // Saving a picture converts it on Qt's own thread pool, which the
        // thread checker cannot follow: the pictures are made in the other builds.
        if (testsupport::kUnderThreadChecker)
            continue;
        b.tab->show();
        QCoreApplication::processEvents();
        EXPECT_TRUE(b.tab->grab().save(
            contenttest::screenshotPath(r.language == 4 ? u"batch_send_zh"_s : u"batch_send_en"_s)));
        b.tab->hide();
    }
}

TEST(BatchDialog, ClosingDuringABatchStopsEverything)
{
    batchtest::Bench b(1);
    ASSERT_TRUE(b.started);
    b.write({{u"A1/A/x.mp4"_s, 100}}, QByteArray());
    b.players[0]->setFault(sim::Fault::Silent, 0, proto::CMD_VIDEO_LIST);
    b.send();
    ASSERT_TRUE(b.players[0]->waitForRequests(proto::CMD_VIDEO_LIST, 1, 30000));
    ASSERT_FALSE(b.page->IsIdle());
    // Enter and Esc on a page close nothing and ask nothing.
    for (int key : {int(Qt::Key_Escape), int(Qt::Key_Return)}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(b.page->findChild<QTableWidget*>(u"4201"_s), &press);
    }
    EXPECT_EQ(b.tab->result(), 0);
    EXPECT_TRUE(b.boxes.texts().isEmpty());
    EXPECT_FALSE(b.page->IsIdle());
    b.tab->reject();  // the recorder answers Yes
    EXPECT_EQ(b.boxes.texts(), QStringList{u"Do you really want to quit?"_s});
    EXPECT_TRUE(b.page->IsIdle());
    b.tab.reset();  // pages go after their links and endpoints closed
}

namespace {

QByteArray announcement(const QString& ip, const QString& mac, uint16_t port)
{
    PlayerAnnouncement a;
    a.setIpText(ip);
    a.setMacText(mac);
    a.tcpPort = port;
    a.version = 0x1523;
    a.channelCode = 4;
    a.setIdText(u"abc"_s);
    return a.toBytes();
}

void deliver(CBatchSendFile& page, const QByteArray& datagram)
{
    UdpLinkEvent e;
    e.type = kUdpDatagram;
    e.length = uint32_t(datagram.size());
    e.data = reinterpret_cast<const uint8_t*>(datagram.constData());
    page.OnUdpEvent(e);
}

QString randomMac()
{
    const qulonglong low = QRandomGenerator::global()->generate64() & 0xFFFFFFFFFFull;
    return (u"02"_s + QString::number(low, 16).rightJustified(10, u'0')).toUpper();
}

}  // namespace

// Named Scan* so that it takes turns with the other users of the discovery ports.
TEST(ScanBatchPage, FindsPlayersSortsByIpTextAndKeepsItsRows)
{
    if (!testsupport::waitUdpPortFree(6001))
        GTEST_SKIP() << "UDP port 6001 is held by another program";
    testsupport::ScopedEnv loopback("VELUNA_SCAN_LOOPBACK", "1");
    testsupport::UdpPeer requests(INADDR_ANY, 6000, true), alt(INADDR_ANY, 7656, true);
    ASSERT_TRUE(requests.bound() && alt.bound());
    std::vector<std::unique_ptr<sim::PlayerSim>> players;
    QStringList macs;
    for (const char* address : {"127.0.0.9", "127.0.0.10"}) {
        sim::SimOptions o;
        o.address = QString::fromLatin1(address);
        o.mac = randomMac();
        o.udpDiscovery = true;
        auto p = std::make_unique<sim::PlayerSim>(o);
        QString error;
        if (!p->start(&error))
            GTEST_SKIP() << "simulated player cannot start: " << error.toStdString();
        macs << o.mac;
        players.push_back(std::move(p));
    }
    batchtest::Bench b(0);
    CBatchSendFile& page = *b.page;
    ASSERT_FALSE(page.Cards().empty());
    ASSERT_EQ(page.Cards().front().label, u"lo(127.0.0.1)"_s);
    page.OnScan();
    // Another program may take the port between the check above and the
    // page's own open; there is nothing to test then.
    SKIP_IF_UDP_PORT_TAKEN_MEANWHILE(6001, page.IsScanning());
    ASSERT_TRUE(page.IsScanning());
    EXPECT_FALSE(page.findChild<QPushButton*>(u"4210"_s)->isEnabled());
    // Shown tab 2 while page 0 scans: page 0 keeps receiving.
    b.tab->tabs()->setCurrentIndex(2);
    auto ours = [&](CBatchSendFile& p) {
        int n = 0;
        for (int r = 0; r < p.RowCount(); ++r)
            n += macs.contains(scan::MacWithoutColons(p.Cell(r, CBatchSendFile::kColMac))) ? 1 : 0;
        return n;
    };
    ASSERT_TRUE(testsupport::waitUntil([&] { return ours(page) == 2; }));
    EXPECT_EQ(ours(*b.tab->page(2)), 0);

    // Only the page sends from 6001 while it holds it.
    std::optional<testsupport::UdpPeer::Datagram> first, second;
    ASSERT_TRUE(testsupport::waitUntil([&] { return (first = requests.receiveFrom(6001, 0)).has_value(); }));
    EXPECT_EQ(first->bytes, scan::BuildDiscoveryRequest(false).left(16));
    // The second copy leaves 20 ms later, from the UI thread's event loop.
    ASSERT_TRUE(testsupport::waitUntil([&] { return (second = alt.receiveFrom(6001, 0)).has_value(); }));
    EXPECT_EQ(second->bytes, first->bytes);

    // One row per MAC: a second answer (from a new address) updates the row.
    const int before = page.RowCount();
    const QString extra = randomMac();
    deliver(page, announcement(u"127.0.0.77"_s, extra, 5000));
    deliver(page, announcement(u"127.0.0.78"_s, extra, 5000));
    EXPECT_EQ(page.RowCount(), before + 1);
    page.OnScan();  // Stop
    EXPECT_FALSE(page.IsScanning());
    QStringList ips;
    for (int r = 0; r < page.RowCount(); ++r) {
        ips << page.Cell(r, CBatchSendFile::kColIp);
        EXPECT_EQ(page.Cell(r, CBatchSendFile::kColSn), QString::number(r + 1));
    }
    QStringList sorted = ips;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(ips, sorted);  // text order: "...10" before "...9"
    const qsizetype ten = ips.indexOf(u"127.0.0.10"_s), nine = ips.indexOf(u"127.0.0.9"_s);
    EXPECT_TRUE(ten >= 0 && ten < nine) << ips.join(u' ').toStdString();
    // The description carries no product word.
    for (int r = 0; r < page.RowCount(); ++r)
        EXPECT_TRUE(page.Cell(r, CBatchSendFile::kColVer).startsWith(u"Player ver:"_s))
            << page.Cell(r, CBatchSendFile::kColVer).toStdString();
    page.OnAll();
    EXPECT_TRUE(page.IsTicked(0));
    page.OnInvert();
    EXPECT_FALSE(page.IsTicked(0));
}
