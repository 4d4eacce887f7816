#include "content/content_commands.h"
#include "content/import_and_export.h"
#include "content/set_mov_conf.h"
#include "content/set_mov_conf_tab.h"
#include "content/store_texts.h"
#include "core/command_registry.h"
#include "core/mainframe.h"
#include "tests/content/content_harness.h"

#include "common/controls/text_progress_ctrl.h"
#include "common/text_coding.h"
#include "transport/upload_chunks.h"

#include <QFile>
#include <QLabel>
#include <QTabWidget>

#include <gtest/gtest.h>

namespace {

using namespace Qt::StringLiterals;
using contenttest::Harness;
using testsupport::waitUntil;
namespace texts = store::texts;

constexpr int kChunk = int(proto::kChunkSize);

QString en(store::Message m)
{
    return QString::fromUtf8(m.english);
}

struct Backup {
    explicit Backup(Harness& h, const QString& path)
        : dialog(h.doc->titlePrefix(), h.home.path(), u"SIM000000001"_s)
    {
        dialog.progressRange = [this](int r) { ranges.push_back(r); };
        dialog.progressPos = [this](int p) { positions.push_back(p); };
        platform::setFileDialogAnswerer([this, path](const platform::FileDialogCall& c) {
            calls.push_back(c);
            return path;
        });
    }
    ~Backup() { platform::setFileDialogAnswerer({}); }
    CImportAndExport dialog;
    std::vector<int> ranges, positions;
    std::vector<platform::FileDialogCall> calls;
};

std::vector<uint16_t> states(const Harness& h, uint16_t kind)
{
    std::vector<uint16_t> out;
    for (const auto& e : h.requests(proto::CMD_PARAM_FILE))
        if (e.header.param == kind)
            out.push_back(e.header.arg);
    return out;
}

TEST(ParameterBackup, SavedFileEqualsTheStreamedArchive)
{
    const struct {
        int size;
        int chunk;
        std::size_t answers;  // state-1 requests the dialog sends
    } rows[] = {
        {50000, 16384, 4},  // chunks of 16,384, 16,384, 16,384 and the last 848
        {0, 16384, 1},      // an empty archive: size 0 KiB, never a division by zero
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.size);
        Harness h;
        const QByteArray archive = testsupport::randomBytes(std::size_t(r.size), 7);
        h.store([&](sim::VideoStoreState& s) {
            s.archive = archive;
            s.archiveChunk = std::size_t(r.chunk);
        });
        const QString path = h.home.path() + u"/backup.zip"_s;
        Backup b(h, path);
        EXPECT_EQ(b.dialog.windowTitle(), h.doc->titlePrefix() + u"Parameter Import and Export"_s);
        b.dialog.OnBackup();
        ASSERT_TRUE(waitUntil([&] { return !h.boxes.calls().empty(); }));
        EXPECT_EQ(h.boxTexts(), QStringList{en(texts::kExportCompleted)});
        EXPECT_EQ(testsupport::readFile(path), archive);
        EXPECT_TRUE(QFile::exists(path));
        std::vector<uint16_t> expected{0};
        expected.insert(expected.end(), r.answers, 1);
        EXPECT_EQ(states(h, 2), expected);
        ASSERT_EQ(b.calls.size(), 1u);
        EXPECT_EQ(b.calls[0].caption, u"Save zip file"_s);
        EXPECT_EQ(b.calls[0].fileName, u"SIM000000001"_s);
        EXPECT_EQ(b.calls[0].filter, u"zip file(*.zip)|*.zip||"_s);
        EXPECT_EQ(b.ranges, (std::vector<int>{100, -1}));
        ASSERT_FALSE(b.positions.empty());
        EXPECT_EQ(b.positions.back(), r.size ? 99 : 0);  // the size comes rounded up to whole KiB
    }
}

TEST(ParameterBackup, UnwritableTargetStopsWithAMessage)
{
    Harness h;
    h.store([](sim::VideoStoreState& s) {
        s.archive = testsupport::randomBytes(40000, 3);
        s.archiveChunk = 10000;
    });
    const QString path = h.home.path() + u"/missing-folder/backup.zip"_s;
    Backup b(h, path);
    b.dialog.OnBackup();
    ASSERT_TRUE(waitUntil([&] { return !h.boxes.calls().empty(); }));
    EXPECT_EQ(h.boxTexts(), QStringList{en(texts::kExportFailed) + path});
    // Nothing more is asked for, nothing is left behind, never "completed".
    ASSERT_TRUE(h.sendBehind(proto::CMD_QRCODE));  // a read no window here takes
    EXPECT_EQ(states(h, 2), std::vector<uint16_t>{0});
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(h.boxes.calls().size(), 1u);
    EXPECT_FALSE(b.dialog.backupRunning());
}

TEST(ParameterRecovery, ExactChunkThenEmptyLastChunk)
{
    const struct {
        int size;
        std::vector<std::pair<uint16_t, int>> chunks;  // state, payload size
    } rows[] = {
        {kChunk, {{0, 0}, {1, kChunk}, {2, 0}}},
        {1000, {{0, 0}, {2, 1000}}},
        {0, {{0, 0}, {2, 0}}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.size);
        Harness h;
        const QString path = h.home.path() + u"/restore.zip"_s;
        const QByteArray archive = testsupport::randomBytes(std::size_t(r.size), 9);
        ASSERT_TRUE(testsupport::writeFile(path, archive));
        Backup b(h, path);
        b.dialog.OnRecovery();
        ASSERT_TRUE(waitUntil([&] { return !h.boxes.calls().empty(); }));
        EXPECT_EQ(h.boxTexts(), QStringList{en(texts::kImportCompleted)});
        std::vector<std::pair<uint16_t, int>> sent;
        for (const auto& e : h.requests(proto::CMD_PARAM_FILE))
            sent.emplace_back(e.header.arg, int(e.payload.size()));
        EXPECT_EQ(sent, r.chunks);
        h.store([&](sim::VideoStoreState& s) {
            EXPECT_EQ(s.recovered, archive);
            EXPECT_TRUE(s.recoveryComplete);
        });
        EXPECT_EQ(b.calls[0].caption, u"Open zip file"_s);
        EXPECT_EQ(b.ranges, (std::vector<int>{-1, 100, -1}));
    }
}

// "completed" only for the archive that was sent: one written while its
// last chunk travelled (size and modification time kept) is unreadable.
TEST(ParameterRecovery, ArchiveWrittenWhileItsLastChunkTravelsIsNotCompleted)
{
    for (const bool written : {false, true}) {
        SCOPED_TRACE(written ? "written" : "left alone");
        Harness h;
        const QString path = h.home.path() + u"/restore.zip"_s;
        ASSERT_TRUE(testsupport::writeFile(path, testsupport::randomBytes(kChunk + 100, 9)));
        const sim::CommandHandler standard = h.player->commandHandler(proto::CMD_PARAM_FILE);
        h.player->registerCommand(proto::CMD_PARAM_FILE, [standard, path, written](sim::PlayerSim& s,
                                                                                   const sim::Request& req) {
            if (written && req.header.arg == 2) {
                testsupport::untilALaterChangeTime(path);
                testsupport::rewriteKeepingTheTime(path, kChunk);
            }
            return standard(s, req);
        });
        Backup b(h, path);
        b.dialog.OnRecovery();
        ASSERT_TRUE(waitUntil([&] { return !h.boxes.calls().empty(); }));
        EXPECT_EQ(h.boxTexts(), QStringList{written ? "The file changed while it was being sent: " + QDir::toNativeSeparators(path)
                                                    : en(texts::kImportCompleted)});
    }
}

TEST(ContentCommands, EnableRulesAndScreenCount)
{
    core::clearCommands();
    content::InstallContentCommands();
    ASSERT_TRUE(core::findCommand(content::kCmdVideoSource) && core::findCommand(content::kCmdImportExport));
    const struct {
        uint16_t version;
        bool connect;
        bool storeOn, backupOn;
    } rows[] = {
        {0x1523, false, false, false},
        {0x1523, true, true, true},
        {0x1500, true, true, true},
        {0x14F0, true, true, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.version);
        sim::SimOptions o;
        o.version = r.version;
        Harness h(9, o);
        if (r.connect) {
            h.doc->OnReconnect();
            ASSERT_TRUE(waitUntil([&] { return h.doc->IsConnected(); }));
        }
        EXPECT_EQ(core::IsCommandEnabled(*h.doc, content::kCmdVideoSource), r.storeOn);
        EXPECT_EQ(core::IsCommandEnabled(*h.doc, content::kCmdImportExport), r.backupOn);
        if (r.connect) {
            // The status block the player sent gives the number of screens.
            ASSERT_TRUE(waitUntil([&] { return content::ScreenCount(h.doc->outputBlock()) == 4; }));
        }
    }
    std::array<uint8_t, 108> block{};
    const struct {
        int entry;
        uint16_t w, h;
        uint32_t count;
    } screens[] = {{0, 1920, 1080, 1}, {2, 1920, 0, 1}, {3, 0, 1080, 1}, {1, 800, 600, 2}};
    for (const auto& s : screens) {
        proto::putU16(block.data() + 4 + 8 * s.entry + 4, s.w);
        proto::putU16(block.data() + 4 + 8 * s.entry + 6, s.h);
        EXPECT_EQ(content::ScreenCount(block), s.count);
    }
    core::clearCommands();
}

TEST(ContentCommands, StatusBarPaneCarriesTheProgress)
{
    testsupport::TempHome home;
    platform::setAppTitle(contenttest::kTitle);
    CMainFrame frame(contenttest::kTitle, 9);
    content::SetStatusProgressPos(40);  // nothing shown yet: nothing happens
    content::SetStatusProgressRange(100);
    auto* bar = frame.Pane(CMainFrame::kPaneProgress)->findChild<CTextProgressCtrl*>();
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(bar->isHidden());
    content::SetStatusProgressPos(40);
    EXPECT_EQ(bar->GetPos(), 40u);
    EXPECT_EQ(bar->upper(), 100u);
    content::SetStatusProgressRange(-1);
    EXPECT_TRUE(bar->isHidden());
}

// Screenshots of each window in both languages, as an operator sees them.
TEST(ContentScreenshots, StoreAndBackupWindows)
{
    // Saving a picture converts it on Qt's own thread pool, which the thread
    // checker cannot follow (Qt is not built for it): the pictures are made
    // in the other builds.
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "Qt converts pictures on threads the thread checker cannot follow";
    for (unsigned language : {9u, 4u}) {
        Harness h(language);
        h.store([](sim::VideoStoreState& s) {
            sim::addVideo(s.acts[0], "Movies", "Opening.mp4", 52428800);
            sim::addVideo(s.acts[0], "Movies", "Closing.mp4", 1048576);
            sim::addVideo(s.acts[0], text::stringToLocal(u"广告"_s), text::stringToLocal(u"春节.mp4"_s), 10);
            sim::addCategory(s.acts[0], "Empty");
        });
        const QString suffix = language == 4 ? u"-zh"_s : u"-en"_s;
        {
            CSetMovConfTab tab(h.doc->titlePrefix(), 2, 0x2640, h.player->options().address);
            tab.OnInitDialog();
            tab.show();
            ASSERT_TRUE(waitUntil([&] { return tab.page(0)->catalog() != nullptr; }));
            tab.page(0)->SelectPath({u"Movies"_s, u"Opening.mp4"_s});
            waitUntil([] { return false; }, 100);
            EXPECT_TRUE(tab.grab().save(contenttest::screenshotPath(u"video-source-settings"_s + suffix)));
        }
        {
            CImportAndExport dialog(h.doc->titlePrefix(), h.home.path(), u"ID"_s);
            dialog.show();
            waitUntil([] { return false; }, 50);
            EXPECT_TRUE(dialog.grab().save(contenttest::screenshotPath(u"parameter-import-export"_s + suffix)));
        }
    }
}

}  // namespace
