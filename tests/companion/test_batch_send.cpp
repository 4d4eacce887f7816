// The Video Set wizard's data and its last page: folder listing and the
// checks before sending, the master/slave comparison, the catalogue skip,
// the free-space rule, and "Batch Send" end to end against simulated players
// through Tollivar's link hub.
#include "companion/batch_send.h"
#include "companion/link_hub.h"
#include "companion/video_set_model.h"
#include "player/companion_commands.h"
#include "player/player_sim.h"
#include "player/video_store.h"
#include "platform/app_identity.h"
#include "platform/messages.h"
#include "tests/support/send_behind.h"
#include "tests/support/test_support.h"
#include "transport/protocol.h"
#include "transport/upload_chunks.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

using namespace Qt::StringLiterals;
using testsupport::waitUntil;
using videoset::BatchDevice;
using videoset::DeviceSetup;

void makeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    ASSERT_TRUE(testsupport::writeFile(path, bytes)) << path.toStdString();
}

QByteArray pattern(qsizetype size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(seed + i * 7 + (i >> 13));
    return bytes;
}

DeviceSetup act0(const QString& folder, const QString& alias = {}, bool filter = false, uint8_t mode = 0)
{
    DeviceSetup d;
    d.ip = u"127.0.0.2"_s;
    d.portText = u"5000"_s;
    d.mode = mode;
    d.acts[0].folder = folder;
    d.acts[0].alias = alias;
    d.acts[0].aliasFilter = filter;
    videoset::RebuildCategories(d.acts[0]);
    return d;
}

TEST(VideoSetModel, AliasIsRemovedEverywhere)
{
    const struct { const char* name; const char* alias; const char* out; } cases[] = {
        {"A_x_B_x.mp4", "_x", "A_B.mp4"},
        {"plain.mp4", "", "plain.mp4"},
        {"xx.mp4", "x", ".mp4"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(videoset::StripAlias(QString::fromUtf8(c.name), QString::fromUtf8(c.alias)), QString::fromUtf8(c.out));
}

TEST(VideoSetModel, ListingIsSortedAndMatchesMp4InAnyCase)
{
    QTemporaryDir dir;
    for (const char* f : {"Pop/b.MP4", "Pop/a.mp4", "Pop/c.txt", "Pop/d.Mp4", "Jazz/z_L.mp4", "Jazz/y.mp4"})
        makeFile(dir.filePath(QString::fromUtf8(f)), "x");
    QDir().mkpath(dir.filePath(u"Pop/folder.mp4"_s));
    std::vector<DeviceSetup> devices{act0(dir.path())};
    EXPECT_EQ(videoset::ListVideos(devices, 9), QString());
    const auto& categories = devices[0].acts[0].categories;
    ASSERT_EQ(categories.size(), 2u);
    EXPECT_EQ(categories[0].name, u"Jazz"_s);
    EXPECT_EQ(categories[1].name, u"Pop"_s);
    EXPECT_EQ(categories[1].files, (QStringList{u"a.mp4"_s, u"b.MP4"_s, u"d.Mp4"_s}));
    // With an alias only the names that contain it.
    devices = {act0(dir.path(), u"_L"_s)};
    EXPECT_EQ(videoset::ListVideos(devices, 9), QString());
    EXPECT_EQ(devices[0].acts[0].categories[0].files, QStringList{u"z_L.mp4"_s});
    EXPECT_TRUE(devices[0].acts[0].categories[1].files.isEmpty());
}

TEST(VideoSetModel, NextChecksTable)
{
    const struct {
        const char* name;
        QString category;
        QString file;
        QString alias;
        bool filter;
        QString message;  // empty: accepted
    } cases[] = {
        {"8-byte category", u"ABCDEFGH"_s, u"a.mp4"_s, {}, false, {}},
        {"9-byte category", u"ABCDEFGHI"_s, u"a.mp4"_s, {}, false, u" >> Typename is too long"_s},
        {"4 Chinese characters are 8 bytes", u"流行音乐"_s, u"a.mp4"_s, {}, false, {}},
        {"filter without alias", u"Pop"_s, u"a.mp4"_s, {}, true, u" >> Didn't you fill in the alias!"_s},
        {"filter with alias", u"Pop"_s, u"a_L.mp4"_s, u"_L"_s, true, {}},
        {"name outside the code page", u"Pop"_s, u"a\U0001F600.mp4"_s, {}, false, u"a\U0001F600.mp4"_s},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        makeFile(QDir(dir.path()).filePath(c.category + u"/"_s + c.file), "x");
        std::vector<DeviceSetup> devices{act0(dir.path(), c.alias, c.filter)};
        const QString message = videoset::ListVideos(devices, 9);
        if (c.message.isEmpty()) {
            EXPECT_EQ(message, QString()) << c.name;
        } else {
            EXPECT_TRUE(message.contains(c.message)) << c.name << ": " << message.toStdString();
        }
    }
}

TEST(VideoSetModel, NameLimitsInCodePageBytes)
{
    // Longer than the file system allows: checked on the names themselves.
    const struct { QString name; bool category; bool ok; const char* message; } cases[] = {
        {QString(252, u'n') + u".mp4"_s, false, true, ""},
        {QString(253, u'n') + u".mp4"_s, false, false, "<< /p >> File name is too long"},
        {QString(126, u'汉') + u".mp4"_s, false, true, ""},
        {QString(127, u'汉') + u".mp4"_s, false, false, "<< /p >> File name is too long"},
        {u"ABCDEFGH"_s, true, true, ""},
        {u"ABCDEFGHI"_s, true, false, "<< /p >> Typename is too long"},
        {u"流行音乐"_s, true, true, ""},
        {u"流行音乐a"_s, true, false, "<< /p >> Typename is too long"},
    };
    for (const auto& c : cases) {
        const QString message = videoset::CheckName(c.name, u"/p"_s, c.category, 9);
        EXPECT_EQ(message, c.ok ? QString() : QString::fromUtf8(c.message)) << c.name.size();
    }
}

TEST(VideoSetModel, MasterAndSlavesTable)
{
    auto device = [](uint8_t mode, QStringList files, QString category = u"Pop"_s, QString alias = {},
                     bool filter = false) {
        DeviceSetup d;
        d.mode = mode;
        d.acts[0].folder = u"/videos"_s;
        d.acts[0].alias = alias;
        d.acts[0].aliasFilter = filter;
        d.acts[0].categories.push_back({category, files});
        return d;
    };
    const struct { const char* name; std::vector<DeviceSetup> devices; bool match; } cases[] = {
        {"no master", {device(0, {u"a.mp4"_s}), device(2, {})}, true},
        {"same names", {device(1, {u"a.mp4"_s}), device(2, {u"a.mp4"_s})}, true},
        {"slave lacks a file", {device(1, {u"a.mp4"_s, u"b.mp4"_s}), device(2, {u"a.mp4"_s})}, false},
        {"other category", {device(1, {u"a.mp4"_s}), device(2, {u"a.mp4"_s}, u"Rock"_s)}, false},
        {"slave alias stripped", {device(1, {u"a.mp4"_s}), device(2, {u"a_S.mp4"_s}, u"Pop"_s, u"_S"_s, true)}, true},
        {"master alias stripped", {device(1, {u"a_M.mp4"_s}, u"Pop"_s, u"_M"_s, true), device(2, {u"a.mp4"_s})}, true},
        {"alias not filtered", {device(1, {u"a.mp4"_s}), device(2, {u"a_S.mp4"_s}, u"Pop"_s, u"_S"_s, false)}, false},
        {"twice after stripping", {device(1, {u"a.mp4"_s}), device(2, {u"a_S.mp4"_s, u"a.mp4"_s}, u"Pop"_s, u"_S"_s, true)}, false},
        {"independent not compared", {device(1, {u"a.mp4"_s}), device(0, {})}, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(videoset::MasterAndSlavesMatch(c.devices), c.match) << c.name;
    EXPECT_EQ(videoset::ReferenceIndex({device(0, {}), device(2, {}), device(1, {})}), 2);
    EXPECT_EQ(videoset::ReferenceIndex({device(0, {}), device(2, {})}), 0);
}

TEST(VideoSetModel, SkipAndFreeSpace)
{
    PlayerCatalog acts[2];
    sim::addVideo(acts[0], "Pop", "a.mp4", 3);
    sim::addVideo(acts[1], "Pop", "b.mp4", 3);
    sim::addVideo(acts[0], "Pop", "c.mp4", 3);
    auto file = [](uint16_t act, const char* name, uint64_t size, QString alias = {}, bool filter = false) {
        videoset::BatchFile f;
        f.act = act;
        f.category = u"Pop"_s;
        f.path = u"/v/Pop/"_s + QString::fromUtf8(name);
        f.size = size;
        f.alias = alias;
        f.aliasFilter = filter;
        return f;
    };
    const struct { const char* name; videoset::BatchFile f; bool kept; } cases[] = {
        {"held in act 0", file(0, "a.mp4", 3), false},
        {"held in the other act only", file(0, "b.mp4", 3), true},
        {"held in act 1", file(1, "b.mp4", 3), false},
        {"other size", file(0, "a.mp4", 4), true},
        {"held under the stripped name", file(0, "c_X.mp4", 3, u"_X"_s, true), false},
        {"act 2 never skipped", file(2, "a.mp4", 3), true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(videoset::WithoutHeld({c.f}, acts[0], acts[1]).size(), c.kept ? 1u : 0u) << c.name;

    const struct { uint64_t needed; uint32_t freeMB; bool fits; } space[] = {
        {1048576, 1, false},  // equal is too little
        {1048575, 1, true},
        {6000ull * 1048576 - 1, 6000, true},  // beyond 32 bits
        {6000ull * 1048576, 6000, false},
        {0, 0, false},
    };
    for (const auto& s : space)
        EXPECT_EQ(videoset::FitsFreeSpace(s.needed, s.freeMB), s.fits) << s.needed;
}

// Tollivar's main window with its hub and the batch page, on a short clock.
struct BatchFixture {
    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes;
    QTemporaryDir temp;
    QString previousTitle = platform::appTitle();
    std::unique_ptr<platform::MessageWindow> main;
    std::unique_ptr<tollivar::CLinkHub> hub;
    std::vector<std::unique_ptr<sim::PlayerSim>> players;
    std::unique_ptr<CBatchSend> page;
    QByteArray document = "{\"VideoType\":[{\"TypeName\":\"Pop\",\"SendCmd\":\"01\",\"RecvCmd\":\"\"}]}";

    BatchFixture()
    {
        platform::setAppTitle(u"Tollivar V1.23"_s);
        platform::setAppLanguage(platform::kLanguageEnglish);
        main = std::make_unique<platform::MessageWindow>(platform::appTitle());
        hub = std::make_unique<tollivar::CLinkHub>(*main, u"Tollivar-"_s, platform::kLanguageEnglish);
        makeFile(temp.filePath(QString::fromLatin1(videoset::kVideoTypeFileName)), document);
        page = std::make_unique<CBatchSend>(temp.path() + u"/"_s);
        page->SetClock(5, 20);
    }
    ~BatchFixture()
    {
        page.reset();
        hub.reset();
        main.reset();
        players.clear();
        platform::setAppTitle(previousTitle);
    }
    sim::PlayerSim& addPlayer(int host, uint32_t freeMB = 6000)
    {
        sim::SimOptions o;
        o.address = u"127.0.0.%1"_s.arg(host);
        players.push_back(std::make_unique<sim::PlayerSim>(o));
        sim::PlayerSim& p = *players.back();
        sim::installStandardCommands(p);
        QString error;
        EXPECT_TRUE(p.start(&error)) << error.toStdString();
        std::lock_guard<std::mutex> lk(p.stateMutex());
        sim::videoStore(p).acts[0].freeMB = freeMB;
        sim::videoStore(p).acts[1].freeMB = freeMB;
        return p;
    }
    static DeviceSetup setupFor(const sim::PlayerSim& p, const QString& folder, const QString& folder1 = {})
    {
        DeviceSetup d;
        d.ip = p.options().address;
        d.portText = QString::number(p.tcpPort());
        d.acts[0].folder = folder;
        videoset::RebuildCategories(d.acts[0]);
        d.acts[1].folder = folder1;
        videoset::RebuildCategories(d.acts[1]);
        return d;
    }
    bool allSettled()
    {
        return page->IsStopped();
    }
};

std::vector<sim::VideoUpload> uploadsOf(sim::PlayerSim& p)
{
    std::lock_guard<std::mutex> lk(p.stateMutex());
    return sim::videoStore(p).uploads;
}

QByteArray storedDocument(sim::PlayerSim& p)
{
    std::lock_guard<std::mutex> lk(p.stateMutex());
    return sim::companionState(p)->protocolDocument;
}

TEST(CompanionBatchSend, ThreePlayersReceiveTheirVideosAndTheDocument)
{
    BatchFixture f;
    // The page's own watchdog of 30 s rather than the fixture's 150 ms: an
    // 8 MB chunk to a simulated player that copies it takes seconds under
    // the thread checker on a busy machine, and a restarted file would
    // change the packets.
    f.page->SetClock(1000, 20);
    QTemporaryDir videos;
    const QByteArray exact = pattern(qsizetype(upload::kChunk), 3);  // one full chunk and an empty last one
    const QByteArray small = pattern(1000, 5);
    const QByteArray longer = pattern(qsizetype(upload::kChunk) + 17, 9);
    makeFile(videos.filePath(u"LongCate/b.mp4"_s), exact);
    makeFile(videos.filePath(u"LongCate/a.MP4"_s), small);
    makeFile(videos.filePath(u"Act2/c.mp4"_s), longer);
    sim::PlayerSim& independent = f.addPlayer(2);
    sim::PlayerSim& master = f.addPlayer(3);
    sim::PlayerSim& slave = f.addPlayer(4);
    {
        // The slave holds a.MP4 of act 0 already.
        std::lock_guard<std::mutex> lk(slave.stateMutex());
        sim::addVideo(sim::videoStore(slave).acts[0], "LongCate", "a.MP4", 1000);
    }
    QTemporaryDir act1;
    makeFile(act1.filePath(u"Act2/c.mp4"_s), longer);
    std::vector<DeviceSetup> setups;
    for (sim::PlayerSim* p : {&independent, &master, &slave})
        setups.push_back(BatchFixture::setupFor(*p, videos.path()));
    setups[1].acts[1].folder = act1.path();
    videoset::RebuildCategories(setups[1].acts[1]);
    ASSERT_EQ(videoset::ListVideos(setups, 9), QString());
    f.page->SetDevices(setups);
    f.page->OnSend();
    ASSERT_TRUE(waitUntil([&] { return f.page->IsStopped(); }, 90000));
    EXPECT_EQ(f.page->StatusLine(), u"Batch Send OK!"_s);
    for (const BatchDevice& d : f.page->Devices())
        EXPECT_EQ(d.status, uint32_t(BatchDevice::kDone)) << d.ip.toStdString();
    EXPECT_TRUE(f.boxes.texts().isEmpty());

    struct Expect { QByteArray category; QByteArray name; uint16_t act; QByteArray data; };
    const std::vector<Expect> all = {{"Act2", "c.mp4", 0, longer},
                                     {"LongCate", "a.MP4", 0, small},
                                     {"LongCate", "b.mp4", 0, exact}};
    const struct { sim::PlayerSim* player; std::vector<Expect> expected; } cases[] = {
        {&independent, all},
        {&master, {all[0], all[1], all[2], {"Act2", "c.mp4", 1, longer}}},
        {&slave, {all[0], all[2]}},
    };
    for (const auto& c : cases) {
        const auto uploads = uploadsOf(*c.player);
        ASSERT_EQ(uploads.size(), c.expected.size()) << c.player->options().address.toStdString();
        for (std::size_t i = 0; i < uploads.size(); ++i) {
            EXPECT_EQ(uploads[i].category, c.expected[i].category);
            EXPECT_EQ(uploads[i].name, c.expected[i].name);
            EXPECT_EQ(uploads[i].act, c.expected[i].act);
            EXPECT_TRUE(uploads[i].complete);
            EXPECT_TRUE(uploads[i].data == c.expected[i].data) << i;
        }
        EXPECT_EQ(storedDocument(*c.player), f.document);
    }
    // Chunks of the independent player: announce (sub 0, act at 10), then the
    // chunk numbers of 8,192,000-byte blocks, an empty last chunk after an
    // exact block.
    std::vector<std::tuple<int, int, int, qsizetype>> chunks;  // sub, param, arg, payload size
    for (const auto& e : independent.log())
        if (e.incoming && e.header.command == proto::CMD_VIDEO_UPLOAD)
            chunks.emplace_back(e.header.subCode, e.header.param, e.header.arg, qsizetype(e.header.payloadLength));
    const std::vector<std::tuple<int, int, int, qsizetype>> expectedChunks = {
        {0, 0, 0, 8 + 5}, {1, 1, 0, qsizetype(upload::kChunk)}, {2, 2, 0, 17},
        {0, 0, 0, 8 + 5}, {2, 1, 0, 1000},
        {0, 0, 0, 8 + 5}, {1, 1, 0, qsizetype(upload::kChunk)}, {2, 1, 0, 0},
    };
    EXPECT_EQ(chunks, expectedChunks);
}

TEST(CompanionBatchSend, HeldEverythingSmallDiskAndUnreachablePlayer)
{
    BatchFixture f;
    QTemporaryDir videos;
    makeFile(videos.filePath(u"Pop/a.mp4"_s), pattern(3 * 1048576, 1));
    sim::PlayerSim& holder = f.addPlayer(2);
    sim::PlayerSim& small = f.addPlayer(3, 3);  // 3 MB free for a 3 MB file: too little
    sim::PlayerSim& gone = f.addPlayer(4);
    {
        std::lock_guard<std::mutex> lk(holder.stateMutex());
        sim::addVideo(sim::videoStore(holder).acts[0], "Pop", "a.mp4", 3 * 1048576);
    }
    std::vector<DeviceSetup> setups;
    for (sim::PlayerSim* p : {&holder, &small, &gone})
        setups.push_back(BatchFixture::setupFor(*p, videos.path()));
    ASSERT_EQ(videoset::ListVideos(setups, 9), QString());
    gone.stop();  // nobody listens there any more
    // A watchdog of 1.5 s: the players that answer, slow under a sanitizer on
    // a busy machine, answer well inside it, and only the gone one times out.
    f.page->SetClock(50, 20);
    f.page->SetDevices(setups);
    f.page->OnSend();
    ASSERT_TRUE(waitUntil([&] { return f.page->IsStopped(); }, 30000));
    const auto& d = f.page->Devices();
    EXPECT_EQ(d[0].status, uint32_t(BatchDevice::kDone));
    EXPECT_EQ(d[1].status, uint32_t(BatchDevice::kSmallDisk));
    EXPECT_EQ(d[2].status, uint32_t(BatchDevice::kTimeOut));
    EXPECT_TRUE(uploadsOf(holder).empty());
    EXPECT_EQ(storedDocument(holder), f.document);
    EXPECT_TRUE(uploadsOf(small).empty());
    EXPECT_TRUE(storedDocument(small).isEmpty());
    EXPECT_EQ(f.page->List()->item(1, 3)->text(), u"Small disk surplus"_s);
    EXPECT_EQ(f.page->List()->item(2, 3)->text(), u"Time Out"_s);
    EXPECT_EQ(f.boxes.texts().size(), 4);  // one refused connection per try
}

TEST(CompanionBatchSend, SilentPlayerIsAskedAgainAndStopEndsIt)
{
    BatchFixture f;
    QTemporaryDir videos;
    makeFile(videos.filePath(u"Pop/a.mp4"_s), pattern(100, 1));
    sim::PlayerSim& silent = f.addPlayer(2);
    silent.setFault(sim::Fault::Silent);
    f.page->SetDevices({BatchFixture::setupFor(silent, videos.path())});
    f.page->OnSend();
    // Four tries of 30 ticks, then "Time Out" and a fresh start.
    ASSERT_TRUE(waitUntil([&] { return silent.requestCount(proto::CMD_VIDEO_LIST) >= 5; }));
    EXPECT_FALSE(f.page->IsStopped());
    f.page->OnStop();
    // What was asked before Stop, counted once the player has all of it (a
    // query behind it, which the silent player leaves unanswered).
    ASSERT_TRUE(testsupport::SendBehind(silent, proto::CMD_PRODUCT_INFO, 0, true));
    const std::size_t asked = silent.requestCount(proto::CMD_VIDEO_LIST);
    silent.setFault(sim::Fault::None);
    // Two tries' worth of ticks, then what a try in them would have sent.
    testsupport::waitUntil([] { return false; }, 300);
    ASSERT_TRUE(testsupport::SendBehind(silent, proto::CMD_PRODUCT_INFO, 0, true));
    EXPECT_EQ(silent.requestCount(proto::CMD_VIDEO_LIST), asked);
    EXPECT_TRUE(f.page->IsStopped());
    EXPECT_TRUE(uploadsOf(silent).empty());
}

// A video cut short while it is being sent: no chunk goes out whose header
// promises bytes the file no longer has; the file is passed over and the
// batch goes on with the next one.
TEST(CompanionBatchSend, VideoCutShortDuringTheUploadIsPassedOver)
{
    BatchFixture f;
    // The page's own clock: 8 MB chunks take seconds under the thread
    // checker on a busy machine, and a restarted file would change the packets.
    f.page->SetClock(1000, 20);
    QTemporaryDir videos;
    const QString cut = videos.filePath(u"Pop/a.mp4"_s);
    makeFile(cut, pattern(2 * qsizetype(upload::kChunk) + 50, 2));
    const QByteArray next = pattern(700, 6);
    makeFile(videos.filePath(u"Pop/b.mp4"_s), next);
    sim::PlayerSim& player = f.addPlayer(2);
    // The first chunk of a.mp4 cuts the file to less than two chunks before
    // it is acknowledged.
    const sim::CommandHandler store = player.commandHandler(proto::CMD_VIDEO_UPLOAD);
    player.registerCommand(proto::CMD_VIDEO_UPLOAD, [store, cut](sim::PlayerSim& p, const sim::Request& r) {
        if (r.header.subCode == 1 && r.header.param == 1)
            QFile::resize(cut, qsizetype(upload::kChunk) + 10);
        return store(p, r);
    });
    std::vector<DeviceSetup> setups{BatchFixture::setupFor(player, videos.path())};
    ASSERT_EQ(videoset::ListVideos(setups, 9), QString());
    f.page->SetDevices(setups);
    f.page->OnSend();
    ASSERT_TRUE(waitUntil([&] { return f.page->IsStopped(); }, 90000));
    EXPECT_EQ(f.page->Devices()[0].status, uint32_t(BatchDevice::kDone));

    std::vector<std::tuple<int, int, qsizetype>> packets;  // sub, param, payload size
    for (const auto& e : player.log())
        if (e.incoming && e.header.command == proto::CMD_VIDEO_UPLOAD)
            packets.emplace_back(e.header.subCode, e.header.param, qsizetype(e.header.payloadLength));
    const std::vector<std::tuple<int, int, qsizetype>> expected = {
        {0, 0, 8 + 5}, {1, 1, qsizetype(upload::kChunk)},  // a.mp4: announce, first chunk, then nothing
        {0, 0, 8 + 5}, {2, 1, 700},                          // b.mp4 whole
    };
    EXPECT_EQ(packets, expected);
    const auto uploads = uploadsOf(player);
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_FALSE(uploads[0].complete);
    EXPECT_TRUE(uploads[1].complete);
    EXPECT_TRUE(uploads[1].data == next);
}

}  // namespace

namespace {

TEST(CompanionBatchSend, ScreenshotsInBothLanguages)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "Qt paints on threads the thread checker cannot follow";
    const QString folder = testsupport::binDir() + u"/../screenshots"_s;
    QDir().mkpath(folder);
    const struct { unsigned language; const char* file; QString caption; } cases[] = {
        {platform::kLanguageEnglish, "batch_send_en.png", u"Batch Send"_s},
        {platform::kLanguageChinese, "batch_send_zh.png", u"批量发送"_s},
    };
    for (const auto& c : cases) {
        BatchFixture f;
        platform::setAppLanguage(c.language);
        CBatchSend page(f.temp.path() + u"/"_s);
        EXPECT_EQ(page.windowTitle(), c.caption);
        std::vector<DeviceSetup> setups(3);
        for (int i = 0; i < 3; ++i) {
            setups[std::size_t(i)].ip = u"192.168.1.%1"_s.arg(20 + i);
            setups[std::size_t(i)].portText = u"5000"_s;
        }
        page.SetDevices(setups);
        page.resize(520, 360);
        page.show();
        QApplication::processEvents();
        EXPECT_TRUE(page.grab().save(folder + u"/"_s + QString::fromLatin1(c.file)));
        platform::setAppLanguage(platform::kLanguageEnglish);
    }
}

}  // namespace

namespace {

std::size_t announcements(const sim::PlayerSim& p)
{
    std::size_t n = 0;
    for (const auto& e : p.log())
        if (e.incoming && e.header.command == proto::CMD_VIDEO_UPLOAD && e.header.subCode == 0)
            ++n;
    return n;
}

TEST(CompanionBatchSend, WatchdogCountsFromTheLastReplyAndResendsOnlyTheDocument)
{
    const struct {
        const char* name;
        sim::Fault fault;
        int value;
        int onlyCode;
        bool done;
    } cases[] = {
        // Each reply is 1 s late and comes within the 1.5 s window; a file,
        // announce and chunk, takes longer. Half a second either side to
        // spare on a busy machine. Nothing is sent twice.
        {"slow but steady uploads", sim::Fault::Delay, 1000, proto::CMD_VIDEO_UPLOAD, true},
        // The document is never answered: it is sent again, never a file
        // past the end of the list.
        {"document unanswered", sim::Fault::Silent, 0, proto::CMD_PARAM_FILE, false},
    };
    for (const auto& c : cases) {
        BatchFixture f;
        f.page->SetClock(50, 20);  // a watchdog of 30 ticks: 1.5 s
        QTemporaryDir videos;
        for (int i = 0; i < 3; ++i)
            makeFile(videos.filePath(u"Pop/v%1.mp4"_s.arg(i)), pattern(100, char(i)));
        sim::PlayerSim& p = f.addPlayer(2);
        {
            // A pushed catalogue change, late too, would hold the next reply
            // back a second delay.
            std::lock_guard<std::mutex> lk(p.stateMutex());
            sim::videoStore(p).pushChanges = false;
        }
        p.setFault(c.fault, c.value, c.onlyCode);
        std::vector<DeviceSetup> setups{BatchFixture::setupFor(p, videos.path())};
        ASSERT_EQ(videoset::ListVideos(setups, 9), QString());
        f.page->SetDevices(setups);
        f.page->OnSend();
        if (c.done) {
            ASSERT_TRUE(waitUntil([&] { return f.page->IsStopped(); }, 60000)) << c.name;
            EXPECT_EQ(f.page->Devices()[0].status, uint32_t(BatchDevice::kDone)) << c.name;
            EXPECT_EQ(p.requestCount(proto::CMD_PARAM_FILE), 1u) << c.name;
        } else {
            ASSERT_TRUE(waitUntil([&] { return p.requestCount(proto::CMD_PARAM_FILE) >= 3; }, 60000)) << c.name;
            f.page->OnStop();
        }
        EXPECT_EQ(announcements(p), 3u) << c.name;
        EXPECT_EQ(uploadsOf(p).size(), 3u) << c.name;
    }
}

}  // namespace

namespace {

// A player that stops reading in the middle of its only video: after "Time
// Out" the batch starts it again, and its row counts the video as sent only
// once the video's last chunk has gone out, also when an acknowledgement of
// the stalled chunk comes late, while the player waits to be started again.
TEST(CompanionBatchSend, RowAfterATimeOutRestartCountsOnlyFilesWhoseLastChunkWent)
{
    const qsizetype chunk = qsizetype(upload::kChunk);
    struct Row {
        const char* name;
        qsizetype size;
        int stallAt;    // the data chunk (from 0) the player stops reading at
        bool lateAck;   // an acknowledgement reaches the page after "Time Out"
    };
    const Row rows[] = {
        {"one full chunk, stalled on it", chunk, 0, false},
        {"one full chunk, late acknowledgement", chunk, 0, true},
        {"two chunks and a short one, stalled on the second", 2 * chunk + 1000, 1, true},
        {"short file, late acknowledgement", 5000, 0, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        BatchFixture f;
        // A pause long enough for the late acknowledgement to come inside it,
        // shorter than a watchdog round. The page's own one-second tick
        // until the player stalls: a short watchdog could time out an 8 MB
        // chunk on a busy machine before the stall, and the stall would then
        // come in the restart instead.
        f.page->SetClock(1000, r.lateAck ? 300 : 20);
        QTemporaryDir videos;
        const QByteArray bytes = pattern(r.size, 4);
        makeFile(videos.filePath(u"Pop/a.mp4"_s), bytes);
        sim::PlayerSim& player = f.addPlayer(2);
        struct Stall {
            std::atomic<bool> release{false};
            std::atomic<bool> entered{false};
            std::atomic<int> count{0};
        };
        // Shared with the player's connection thread, which may outlive this scope.
        const auto stall = std::make_shared<Stall>();
        // Released only once the player's state has been read: the stalled
        // connection then reads on through the retries queued behind it, and
        // each retry's announce would add an unfinished upload after the
        // restart's.
        struct ReleaseOnExit {
            std::shared_ptr<Stall> stall;
            ~ReleaseOnExit() { stall->release = true; }
        } releaseOnExit{stall};
        const sim::CommandHandler store = player.commandHandler(proto::CMD_VIDEO_UPLOAD);
        const int stallAt = r.stallAt;
        player.registerCommand(proto::CMD_VIDEO_UPLOAD, [stall, store, stallAt](sim::PlayerSim& p, const sim::Request& q) {
            if (q.header.subCode != 0 && stall->count++ == stallAt) {
                stall->entered = true;
                QElapsedTimer stalled;
                stalled.start();
                while (!stall->release.load() && stalled.elapsed() < 120000)
                    QThread::msleep(5);
                return std::vector<sim::Reply>{};
            }
            return store(p, q);
        });
        std::vector<DeviceSetup> setups{BatchFixture::setupFor(player, videos.path())};
        ASSERT_EQ(videoset::ListVideos(setups, 9), QString());
        f.page->SetDevices(setups);
        f.page->OnSend();
        bool shortened = false, timedOut = false, lateAckSent = false;
        std::vector<std::pair<QString, uint64_t>> seen;  // row text, bar position
        const auto row = [&] { return videoset::StatusText(f.page->Devices()[0], platform::kLanguageEnglish); };
        ASSERT_TRUE(waitUntil(
            [&] {
                if (!shortened && stall->entered) {
                    shortened = true;
                    f.page->setTimer(CBatchSend::kWatchdogTimer, 20);  // 600 ms a round
                }
                if (!timedOut && f.page->Devices()[0].status == BatchDevice::kTimeOut) {
                    timedOut = true;
                    // The restart runs on the page's own watchdog again, for
                    // the same reason.
                    f.page->setTimer(CBatchSend::kWatchdogTimer, 1000);
                }
                if (timedOut && r.lateAck && !lateAckSent) {
                    lateAckSent = true;
                    platform::sendMessage(f.page.get(), platform::WM_VIDEO_UPLOAD_REPLY, 0, 0);
                }
                const std::pair<QString, uint64_t> now{row(), f.page->Progress()};
                if (seen.empty() || seen.back() != now)
                    seen.push_back(now);
                return f.page->IsStopped();
            },
            60000));
        EXPECT_TRUE(timedOut);
        // "1/1" only once the bar is full: the last chunk went out.
        for (const auto& [text, bar] : seen) {
            if (text == u"1/1"_s) {
                EXPECT_EQ(bar, 100u);
            }
        }
        EXPECT_EQ(f.page->Devices()[0].status, uint32_t(BatchDevice::kDone));
        // The document follows the video's last chunk, never a video cut short.
        bool lastChunkSeen = false;
        for (const auto& e : player.log()) {
            if (!e.incoming)
                continue;
            if (e.header.command == proto::CMD_VIDEO_UPLOAD && e.header.subCode == 2)
                lastChunkSeen = true;
            if (e.header.command == proto::CMD_PARAM_FILE) {
                EXPECT_TRUE(lastChunkSeen) << "the document went before the video's last chunk";
            }
        }
        const auto uploads = uploadsOf(player);
        ASSERT_FALSE(uploads.empty());
        EXPECT_TRUE(uploads.back().complete);
        EXPECT_TRUE(uploads.back().data == bytes);
    }
}

}  // namespace

namespace {

// What the catalogue and free-space checks saw of a video is what is sent:
// one grown after the listing (so that it no longer fits the player's disk)
// or written again while its last chunk travels is passed over with the
// read-failure message, counted as not sent, and the batch goes on with the
// next video.
TEST(CompanionBatchSend, VideoChangedSinceItsListingIsPassedOver)
{
    enum class When { kAfterTheListing, kWhileItsLastChunkTravels };
    const struct {
        const char* name;
        When when;
        std::vector<std::tuple<int, int, qsizetype>> packets;  // sub, param, payload size
    } rows[] = {
        {"grown after the listing beyond the free space", When::kAfterTheListing,
         {{0, 0, 8 + 5}, {0, 0, 8 + 5}, {2, 1, 700}}},
        {"written again while its last chunk travels, its time kept", When::kWhileItsLastChunkTravels,
         {{0, 0, 8 + 5}, {2, 1, 500000}, {0, 0, 8 + 5}, {2, 1, 700}}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        BatchFixture f;
        f.page->SetClock(1000, 20);
        QTemporaryDir videos;
        const QString changed = videos.filePath(u"Pop/a.mp4"_s);
        makeFile(changed, pattern(500000, 2));
        const QByteArray next = pattern(700, 6);
        makeFile(videos.filePath(u"Pop/b.mp4"_s), next);
        sim::PlayerSim& player = f.addPlayer(2, 1);  // 1 MB free: a as listed fits, a grown does not
        const auto once = std::make_shared<std::atomic<bool>>(false);
        const When when = r.when;
        const sim::CommandHandler list = player.commandHandler(proto::CMD_VIDEO_LIST);
        player.registerCommand(proto::CMD_VIDEO_LIST, [list, changed, once, when](sim::PlayerSim& p,
                                                                                   const sim::Request& q) {
            if (when == When::kAfterTheListing && !once->exchange(true))
                QFile::resize(changed, 3000000);
            return list(p, q);
        });
        const sim::CommandHandler store = player.commandHandler(proto::CMD_VIDEO_UPLOAD);
        player.registerCommand(proto::CMD_VIDEO_UPLOAD, [store, changed, once, when](sim::PlayerSim& p,
                                                                                     const sim::Request& q) {
            if (when == When::kWhileItsLastChunkTravels && q.header.subCode == 2 && !once->exchange(true))
                testsupport::rewriteKeepingTheTime(changed, 1000);
            return store(p, q);
        });
        std::vector<DeviceSetup> setups{BatchFixture::setupFor(player, videos.path())};
        ASSERT_EQ(videoset::ListVideos(setups, 9), QString());
        f.page->SetDevices(setups);
        f.page->OnSend();
        ASSERT_TRUE(waitUntil([&] { return f.page->IsStopped(); }, 60000));
        const BatchDevice& device = f.page->Devices()[0];
        EXPECT_EQ(device.status, uint32_t(BatchDevice::kDone));
        EXPECT_EQ(device.filesSent, 1u);
        EXPECT_EQ(device.filesPassedOver, 1u);
        EXPECT_EQ(f.page->StatusLine(),
                  u"Batch Send OK! The file changed while it was being sent: "_s + QDir::toNativeSeparators(changed));

        std::vector<std::tuple<int, int, qsizetype>> packets;
        for (const auto& e : player.log())
            if (e.incoming && e.header.command == proto::CMD_VIDEO_UPLOAD)
                packets.emplace_back(e.header.subCode, e.header.param, qsizetype(e.header.payloadLength));
        EXPECT_EQ(packets, r.packets);
        const auto uploads = uploadsOf(player);
        ASSERT_FALSE(uploads.empty());
        EXPECT_EQ(uploads.back().name, "b.mp4");
        EXPECT_TRUE(uploads.back().complete);
        EXPECT_TRUE(uploads.back().data == next);
        EXPECT_EQ(storedDocument(player), f.document);
    }
}

}  // namespace
