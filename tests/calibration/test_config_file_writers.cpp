// Every configuration file veluna writes for a player, refused by the disk at
// the last step of the write: the file already there stays as it was, nothing
// is left beside it, and the one box names the file and the system's reason,
// in the language of the program, as the layout files always have.

#include "calibration/warp_param_page.h"
#include "core/config_exchange.h"
#include "core/document.h"
#include "core/layout/layout_commands.h"
#include "platform/home.h"
#include "player/config_store.h"
#include "tests/support/frame_harness.h"
#include "tests/support/full_disk.h"
#include "tests/support/test_support.h"
#include "warp_session.h"

#include <QCheckBox>
#include <QDir>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

namespace {

using testsupport::readFile;
using testsupport::waitUntil;
using testsupport::writeFile;

// A fetch of `file` from the player, until its reply was taken.
void fetch(CvelunaDoc& doc, uint8_t file, const testsupport::MessageBoxRecorder& boxes)
{
    cfgx::ConfigExchange& exchange = doc.configExchange();
    exchange.SetActive(true);
    exchange.StartFetch(file);
    EXPECT_TRUE(waitUntil([&] { return !boxes.calls().empty(); }));
}

// The first step of the warp wizard, the way its "Next>" stores it.
bool saveWarpPage(CvelunaDoc& doc, int cursorRed)
{
    calib::CWarpParamPage::Inputs in;
    in.channelCount = 4;
    in.playerFolder = doc.playerFolder();
    calib::CWarpParamPage page(in);
    page.findChild<QCheckBox*>(QStringLiteral("3140"))->setChecked(true);
    page.findChild<QSpinBox*>(QStringLiteral("3131"))->setValue(cursorRed);
    return page.ValidateAndSave();
}

}  // namespace

TEST(ConfigFileWriters, ARefusedWriteKeepsTheFileAndSaysWhichAndWhy)
{
    const QByteArray servedGrid("{\"Msg\":\"Grid config\",\"ViewOneGridWidth\":5}");
    const struct Row {
        const char* writer;
        unsigned language;
        const char* name;  // below the player folder
        // Puts the earlier file in place (the sync still works), then writes
        // it again while the disk refuses.
        std::function<void(CvelunaDoc&, const QString& path)> before;
        std::function<void(CvelunaDoc&, const testsupport::MessageBoxRecorder&)> write;
    } rows[] = {
        {"Warp.QVE fetched from the player", platform::kLanguageEnglish, "config/Warp.QVE",
         [](CvelunaDoc&, const QString& path) { ASSERT_TRUE(writeFile(path, testsupport::randomBytes(6515, 1))); },
         [](CvelunaDoc& doc, const auto& boxes) { fetch(doc, cfgx::kWarpFile, boxes); }},
        {"Grid.QVE fetched from the player", platform::kLanguageChinese, "config/Grid.QVE",
         [](CvelunaDoc&, const QString& path) { ASSERT_TRUE(writeFile(path, "{\"Msg\":\"Grid config\"}")); },
         [](CvelunaDoc& doc, const auto& boxes) { fetch(doc, cfgx::kGridFile, boxes); }},
        {"Grid.QVE after a zoom", platform::kLanguageEnglish, "config/Grid.QVE",
         [](CvelunaDoc& doc, const QString&) { ASSERT_TRUE(layout::PushGridSettings(doc)); },
         [](CvelunaDoc& doc, const auto&) {
             doc.viewSettings().zoom[0] = 0.5;
             EXPECT_FALSE(layout::PushGridSettings(doc));
         }},
        {"Warp.QVE from the warp wizard's first step", platform::kLanguageChinese, "config/Warp.QVE",
         [](CvelunaDoc& doc, const QString&) { ASSERT_TRUE(saveWarpPage(doc, 255)); },
         [](CvelunaDoc& doc, const auto&) { EXPECT_FALSE(saveWarpPage(doc, 17)); }},
        {"a layout saved", platform::kLanguageEnglish, "Saved.GFD",
         [](CvelunaDoc& doc, const QString& path) {
             doc.setCurrentLayoutPath(path);
             ASSERT_TRUE(layout::SaveLayoutFile(doc, false));
         },
         [](CvelunaDoc& doc, const auto&) {
             PictureWindow w;
             w.rect = {0, 0, 100, 100};
             w.name = QStringLiteral("a.png");
             ASSERT_TRUE(doc.imageManage().AddWindowRecord(w));
             EXPECT_FALSE(layout::SaveLayoutFile(doc, false));
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.writer);
        warptest::Session session;
        const testsupport::MessageBoxRecorder& boxes = session.boxes;
        testsupport::ScopedLanguage language(row.language);
        auto player = testsupport::StartPlayerWithConfigStore(warptest::WarpPlayer(QStringLiteral("127.0.0.2"), 4));
        ASSERT_TRUE(player);
        auto store = sim::configStoreOf(*player);
        store->setFile(cfgx::kWarpFile, testsupport::randomBytes(cfgx::kWarpSize, 2));
        store->setFile(cfgx::kGridFile, servedGrid);
        testsupport::LinkedDocument link(warptest::kTitle, *player);
        CvelunaDoc& doc = *link.doc;
        ASSERT_TRUE(waitUntil([&] { return doc.IsConnected(); }));
        const QString path = QDir(doc.playerFolder()).filePath(QString::fromLatin1(row.name));
        QDir().mkpath(QFileInfo(path).absolutePath());

        row.before(doc, path);
        const QByteArray earlier = readFile(path);
        ASSERT_FALSE(earlier.isEmpty());
        const QStringList filesBefore = QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files);
        session.boxes.clear();
        {
            testsupport::SyncCallInPlace refused(testsupport::RefusedSync);
            row.write(doc, boxes);
        }
        // Room for a second box, should one follow.
        waitUntil([] { return false; }, 300);

        EXPECT_EQ(readFile(path), earlier);
        EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files), filesBefore);
        const QString words = row.language == platform::kLanguageChinese ? QString::fromUtf8("无法写入 ")
                                                                           : QStringLiteral("Cannot write ");
        EXPECT_EQ(boxes.texts(), QStringList{words + QDir::toNativeSeparators(path) + u'\n' + qt_error_string(EIO)});

        link.doc.reset();
        link.frame.reset();
        player->stop();
    }
}
