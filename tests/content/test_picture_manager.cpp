#include "content/picture_manager.h"
#include "content/content_commands.h"
#include "tests/content/content_harness.h"

#include "common/controls/folder_edit.h"
#include "common/text_coding.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "player/gallery_http.h"
#include "player/remote_commands.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QComboBox>
#include <QImage>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <memory>
#include <tuple>

#include <gtest/gtest.h>

namespace {

using contenttest::Harness;
using testsupport::waitUntil;

QByteArray png(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

struct Gallery {
    explicit Gallery(Harness& h, unsigned language = 9) : h(h), server(*h.player)
    {
        (void)language;
        ok = server.start(&why);
        std::lock_guard lock(h.player->stateMutex());
        auto& s = sim::remoteState(*h.player);
        s.gallery["A"] = {"c.png", "x.jpg", "y.jpg", "z.jpg"};
        s.pictureData["A:c.png"] = png(400, 200);
    }
    std::vector<sim::GalleryChange> changes()
    {
        std::lock_guard lock(h.player->stateMutex());
        return sim::remoteState(*h.player).galleryChanges;
    }
    void set(const std::function<void(sim::RemoteState&)>& f)
    {
        std::lock_guard lock(h.player->stateMutex());
        f(sim::remoteState(*h.player));
    }
    Harness& h;
    sim::GalleryHttpServer server;
    bool ok = false;
    QString why;
};

#define START_GALLERY(g)                                                                          \
    if (!(g).ok)                                                                                  \
        GTEST_SKIP() << "port 23333 on the simulator's address is taken: " << (g).why.toStdString()

struct Dialog {
    explicit Dialog(Harness& h) : dialog(h.doc->titlePrefix(), h.doc->tempFolder(), h.player->options().address)
    {
        dialog.OnInitDialog();
    }
    CPictureManager dialog;
};

TEST(PictureManager, ListThumbnailsAndPreview)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "Qt scales and converts pictures on threads the thread checker cannot follow";
    Harness h;
    Gallery g(h);
    START_GALLERY(g);
    Dialog d(h);
    ASSERT_EQ(d.dialog.folders()->count(), 1);
    EXPECT_EQ(d.dialog.folders()->itemText(0), "A (4)");
    EXPECT_EQ(d.dialog.thumbnails()->count(), 4);
    const auto lines = g.server.requestLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.front().startsWith("GET /image/names?time=")) << lines.front().constData();
    const QImage thumb(h.doc->tempFolder() + "/A/c.png");
    EXPECT_EQ(thumb.size(), QSize(100, 75));
    EXPECT_EQ(thumb.pixelColor(50, 5), QColor(Qt::white));
    EXPECT_EQ(thumb.pixelColor(50, 37), QColor(Qt::red));
    QString previewPath, previewTitle;
    d.dialog.openPreview = [&](const QString& p, const QString& t) {
        previewPath = p;
        previewTitle = t;
    };
    d.dialog.OnPreview(0);
    EXPECT_EQ(previewTitle, "c.png");
    EXPECT_EQ(QImage(previewPath).size(), QSize(400, 200));
    d.dialog.OnPreview(1);  // not served: the connection message
    EXPECT_EQ(h.boxTexts().back(), "Failed to connect gallery, please check the http server？");

    d.dialog.show();
    d.dialog.grab().save(contenttest::screenshotPath("picture_manager_en"));
}

TEST(PictureManager, FolderChangesAndDeletion)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "downloads run on Qt's network threads, which the thread checker cannot follow";
    Harness h;
    Gallery g(h);
    START_GALLERY(g);
    Dialog d(h);
    d.dialog.nameEdit()->setText("  New");
    d.dialog.OnNewFolder();
    EXPECT_TRUE(d.dialog.busy());
    ASSERT_TRUE(waitUntil([&] { return !d.dialog.busy(); }));
    EXPECT_EQ(d.dialog.folders()->count(), 2);
    d.dialog.folders()->setCurrentIndex(0);
    d.dialog.ShowFolder(0, true);
    for (int row : {1, 2, 3})
        d.dialog.thumbnails()->item(row)->setSelected(true);
    d.dialog.OnDelPictures();
    ASSERT_TRUE(waitUntil([&] { return !d.dialog.busy(); }));
    const auto changes = g.changes();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].operation, 0);
    EXPECT_EQ(changes[0].payload, "New");
    EXPECT_EQ(changes[1].operation, 3);
    EXPECT_EQ(changes[1].payload, "A:x.jpg:y.jpg:z.jpg");
    EXPECT_EQ(d.dialog.folders()->itemText(0), "A (1)");
    // Del Folder of the selection after the confirmation.
    d.dialog.OnDelFolder();
    ASSERT_TRUE(waitUntil([&] { return !d.dialog.busy(); }));
    EXPECT_EQ(g.changes().back().operation, 1);
    EXPECT_EQ(g.changes().back().payload, "A");
}

TEST(PictureManager, UploadInChunks)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "downloads run on Qt's network threads, which the thread checker cannot follow";
    Harness h;
    Gallery g(h);
    START_GALLERY(g);
    QTemporaryDir dir;
    const QByteArray big = testsupport::randomBytes(8192000, 7);
    ASSERT_TRUE(testsupport::writeFile(dir.path() + "/big.jpg", big));
    ASSERT_TRUE(testsupport::writeFile(dir.path() + "/small.png", png(10, 10)));
    platform::setFileDialogMultiAnswerer(
        [&](const platform::FileDialogCall&) { return QStringList{dir.path() + "/big.jpg", dir.path() + "/small.png"}; });
    Dialog d(h);
    d.dialog.OnAddPic();
    platform::setFileDialogMultiAnswerer(nullptr);
    ASSERT_TRUE(waitUntil([&] { return !d.dialog.busy(); }));
    const auto changes = g.changes();
    ASSERT_EQ(changes.size(), 5u);
    struct Row {
        uint16_t arg;
        int size;
    };
    const Row rows[] = {{0, 9}, {1, 8192000}, {2, 0}, {0, 11}, {2, int(png(10, 10).size())}};
    for (std::size_t i = 0; i < changes.size(); ++i) {
        EXPECT_EQ(changes[i].operation, 2) << i;
        EXPECT_EQ(changes[i].argument, rows[i].arg) << i;
        EXPECT_EQ(changes[i].payload.size(), rows[i].size) << i;
    }
    EXPECT_EQ(changes[0].payload, "A:big.jpg");
    EXPECT_EQ(changes[1].payload, big);
    EXPECT_EQ(d.dialog.folders()->itemText(0), "A (6)");  // refreshed after the last acknowledgement

    // No free space in the list: refused before anything is sent.
    g.set([](sim::RemoteState& s) { s.freeSpace = 10; });
    d.dialog.Refresh();
    platform::setFileDialogMultiAnswerer(
        [&](const platform::FileDialogCall&) { return QStringList{dir.path() + "/small.png"}; });
    d.dialog.OnAddPic();
    platform::setFileDialogMultiAnswerer(nullptr);
    EXPECT_EQ(h.boxTexts().back(), "There is not enough storage space for the player, please reduce the send file");
    EXPECT_EQ(g.changes().size(), 5u);
}

TEST(PictureManager, BatchOfGifOnlyAndHostileNames)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "downloads run on Qt's network threads, which the thread checker cannot follow";
    Harness h;
    Gallery g(h);
    START_GALLERY(g);
    g.set([](sim::RemoteState& s) {
        s.gallery[".."] = {"evil.png"};
        s.pictureData["..:evil.png"] = png(4, 4);
    });
    QTemporaryDir dir;
    ASSERT_TRUE(testsupport::writeFile(dir.path() + "/G/a.gif", "GIF89a"));
    platform::setFileDialogAnswerer([&](const platform::FileDialogCall&) { return dir.path(); });
    Dialog d(h);
    d.dialog.OnBatchAddPic();
    platform::setFileDialogAnswerer(nullptr);
    EXPECT_EQ(h.boxTexts().back(), "No Picture files or duplicate Picture files for the selected category");
    EXPECT_FALSE(d.dialog.busy());
    // The folder ".." is listed but never becomes a path outside the working folder.
    d.dialog.ShowFolder(0, true);
    EXPECT_FALSE(QFile::exists(QDir(h.doc->tempFolder()).filePath("../evil.png")));
}

TEST(PictureManager, ChineseScreenshot)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "downloads run on Qt's network threads, which the thread checker cannot follow";
    Harness h(4);
    Gallery g(h);
    START_GALLERY(g);
    g.set([](sim::RemoteState& s) { s.gallery[text::CStringToDoubleByteText(QString::fromUtf8("图库"))] = {}; });
    Dialog d(h);
    EXPECT_EQ(d.dialog.windowTitle(), h.doc->titlePrefix() + QString::fromUtf8("图库管理"));
    d.dialog.show();
    d.dialog.grab().save(contenttest::screenshotPath("picture_manager_zh"));
}

}  // namespace

namespace {

// A picture that cannot be opened when its turn comes is said once; the
// chain goes on with the next picture and the list is refreshed at the end,
// as after a good chain.
TEST(PictureManager, PictureThatCannotBeOpenedIsSaidAndTheNextGoes)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "downloads run on Qt's network threads, which the thread checker cannot follow";
    const struct {
        const char* name;
        bool batch;         // Batch Add Pic of the folder "G", else Add Pic to "A"
        const char* folder;
        const char* shown;  // the drop-down item of that folder afterwards
    } rows[] = {
        {"Add Pic, a folder named like a picture", false, "A", "A (6)"},
        {"Batch Add Pic, a picture removed before its turn", true, "G", "G (2)"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Harness h;
        Gallery g(h);
        START_GALLERY(g);
        QTemporaryDir dir;
        const QString sub = dir.path() + (r.batch ? "/G" : "");
        const QString bad = sub + "/b.png";
        ASSERT_TRUE(testsupport::writeFile(sub + "/a.png", png(4, 4)));
        ASSERT_TRUE(testsupport::writeFile(sub + "/c.png", png(6, 6)));
        if (r.batch) {
            ASSERT_TRUE(testsupport::writeFile(bad, png(5, 5)));
            // Gone once the first picture is announced.
            const sim::CommandHandler inner = h.player->commandHandler(proto::CMD_GALLERY);
            h.player->registerCommand(proto::CMD_GALLERY, [inner, bad](sim::PlayerSim& p, const sim::Request& req) {
                QFile::remove(bad);
                return inner(p, req);
            });
        } else {
            ASSERT_TRUE(QDir().mkpath(bad));  // listed, but no file to read
        }
        platform::setFileDialogAnswerer([&](const platform::FileDialogCall&) { return dir.path(); });
        platform::setFileDialogMultiAnswerer(
            [&](const platform::FileDialogCall&) { return QStringList{sub + "/a.png", bad, sub + "/c.png"}; });
        Dialog d(h);
        const qsizetype boxes = h.boxTexts().size();
        if (r.batch)
            d.dialog.OnBatchAddPic();
        else
            d.dialog.OnAddPic();
        platform::setFileDialogAnswerer(nullptr);
        platform::setFileDialogMultiAnswerer(nullptr);
        ASSERT_TRUE(waitUntil([&] { return !d.dialog.busy(); }));
        const QStringList said = h.boxTexts().mid(boxes);
        EXPECT_EQ(said, QStringList{"The picture cannot be opened: " + QDir::toNativeSeparators(bad)});
        const QByteArray folder(r.folder);
        std::vector<std::tuple<uint16_t, uint16_t, QByteArray>> sent;
        for (const sim::GalleryChange& c : g.changes())
            sent.emplace_back(c.operation, c.argument, c.payload);
        const decltype(sent) expected = {{2, 0, folder + ":a.png"}, {2, 2, png(4, 4)}, {2, 0, folder + ":b.png"},
                                         {2, 0, folder + ":c.png"}, {2, 2, png(6, 6)}};
        EXPECT_EQ(sent, expected);
        EXPECT_GE(d.dialog.folders()->findText(QString::fromLatin1(r.shown)), 0);  // the list was refreshed
    }
}

}  // namespace

namespace {

TEST(PictureManager, AcknowledgementDuringADownloadWaitsForIt)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "downloads run on Qt's network threads, which the thread checker cannot follow";
    Harness h;
    Gallery g(h);
    START_GALLERY(g);
    Dialog d(h);
    std::size_t listsAtReply = 0;
    bool sent = false;
    g.server.onRequest = [&](const QByteArray& line) {
        // While the dialog waits for this thumbnail, an acknowledgement comes.
        if (!sent && line.contains("/thumb/")) {
            sent = true;
            listsAtReply = g.server.requestLines().size();
            platform::sendMessage(&d.dialog, platform::WM_GALLERY_REPLY, 0, 0);
            EXPECT_EQ(g.server.requestLines().size(), listsAtReply);  // not handled inside the wait
        }
    };
    d.dialog.ShowFolder(0, true);
    ASSERT_TRUE(sent);
    // Handled afterwards: the refresh fetches the list again.
    EXPECT_TRUE(waitUntil([&] {
        const auto lines = g.server.requestLines();
        return std::count_if(lines.begin(), lines.end(),
                             [](const QByteArray& l) { return l.contains("/image/names"); }) == 2;
    }));
    g.server.onRequest = nullptr;
}

}  // namespace

namespace {

CPictureManager* openManager()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* m = qobject_cast<CPictureManager*>(w))
            return m;
    return nullptr;
}

// Exit and Yes while a slow gallery is still answering: the dialog stays
// closed, asks for nothing more and opens no window of its own.
TEST(PictureManager, ClosedWhileLoadingStaysClosed)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "downloads run on Qt's network threads, which the thread checker cannot follow";
    constexpr int kHeldAnswerMs = 20000;
    const struct {
        const char* name;
        const char* closeOn;  // the request during which Exit is pressed
        int occurrence;
    } rows[] = {
        {"during the list", "/image/names", 1},
        {"during the thumbnails", "/thumb/", 2},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Harness h;
        Gallery g(h);
        START_GALLERY(g);
        g.server.replyDelayMs = 400;
        int seen = 0;
        std::size_t requestsAtClose = 0;
        bool closed = false, reappeared = false;
        QElapsedTimer sinceClose;
        g.server.onRequest = [&](const QByteArray& line) {
            if (!line.contains(r.closeOn) || ++seen != r.occurrence)
                return;
            // This answer would come long after any close that waited for it.
            g.server.replyDelayMs = kHeldAnswerMs;
            QTimer::singleShot(0, [&] {
                CPictureManager* m = openManager();
                ASSERT_NE(m, nullptr);
                requestsAtClose = g.server.requestLines().size();
                sinceClose.start();
                closed = true;
                m->findChild<QPushButton*>(QStringLiteral("2"))->click();  // Exit; the recorder answers Yes
            });
        };
        QTimer guard;
        QObject::connect(&guard, &QTimer::timeout, [&] {
            CPictureManager* m = openManager();
            if (closed && m && m->isVisible()) {
                reappeared = true;
                m->done(QDialog::Rejected);
            }
        });
        guard.start(20);
        content::OpenPictureManager(*h.doc);
        ASSERT_TRUE(closed);
        EXPECT_LT(sinceClose.elapsed(), kHeldAnswerMs / 2);  // the answer pending was not waited for
        QTest::qWait(600);                     // a thumbnail would have been asked for by now
        guard.stop();
        g.server.onRequest = nullptr;
        EXPECT_FALSE(reappeared);
        EXPECT_EQ(g.server.requestLines().size(), requestsAtClose) << g.server.requestLines().back().toStdString();
        EXPECT_EQ(h.boxTexts(), QStringList{"Do you really want to exit?"});
    }
}

}  // namespace

namespace {

// "Batch Add Pic" first offers the home folder (beside the program), then
// the folder chosen last.
TEST(PictureManager, BatchAddPicStartsInTheHomeFolder)
{
    Harness h;
    CPictureManager dialog(h.doc->titlePrefix(), h.doc->tempFolder(), QStringLiteral("127.0.0.9"));
    QTemporaryDir chosen;
    QStringList offered;
    platform::setFileDialogAnswerer([&](const platform::FileDialogCall& call) {
        offered << call.folder;
        return chosen.path();
    });
    dialog.OnBatchAddPic();
    dialog.OnBatchAddPic();
    platform::setFileDialogAnswerer(nullptr);
    EXPECT_EQ(offered, (QStringList{platform::homeFolder(), chosen.path()}));
}

}  // namespace

namespace {

// A picture written while its last chunk travels (its size and time kept)
// is said by its own name, and the next picture of the choice still goes.
TEST(PictureManager, PictureWrittenWhileItsLastChunkTravelsIsSaidAndTheNextGoes)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "downloads run on Qt's network threads, which the thread checker cannot follow";
    Harness h;
    Gallery g(h);
    START_GALLERY(g);
    QTemporaryDir dir;
    const QString a = dir.path() + "/a.png", b = dir.path() + "/b.png";
    ASSERT_TRUE(testsupport::writeFile(a, png(4, 4)));
    ASSERT_TRUE(testsupport::writeFile(b, png(5, 5)));
    const auto once = std::make_shared<std::atomic<bool>>(false);
    const sim::CommandHandler inner = h.player->commandHandler(proto::CMD_GALLERY);
    h.player->registerCommand(proto::CMD_GALLERY, [inner, a, once](sim::PlayerSim& p, const sim::Request& req) {
        if (req.header.param == gallery::kPicture && req.header.arg == gallery::kLastChunk && !once->exchange(true))
            testsupport::rewriteKeepingTheTime(a, 20);
        return inner(p, req);
    });
    platform::setFileDialogAnswerer([&](const platform::FileDialogCall&) { return dir.path(); });
    platform::setFileDialogMultiAnswerer([&](const platform::FileDialogCall&) { return QStringList{a, b}; });
    Dialog d(h);
    const qsizetype boxes = h.boxTexts().size();
    d.dialog.OnAddPic();
    platform::setFileDialogAnswerer(nullptr);
    platform::setFileDialogMultiAnswerer(nullptr);
    ASSERT_TRUE(waitUntil([&] { return !d.dialog.busy(); }));
    EXPECT_EQ(h.boxTexts().mid(boxes), QStringList{"The file changed while it was being sent: " + QDir::toNativeSeparators(a)});
    std::vector<std::tuple<uint16_t, uint16_t, QByteArray>> sent;
    for (const sim::GalleryChange& c : g.changes())
        sent.emplace_back(c.operation, c.argument, c.payload);
    const decltype(sent) expected = {{2, 0, "A:a.png"}, {2, 2, png(4, 4)}, {2, 0, "A:b.png"}, {2, 2, png(5, 5)}};
    EXPECT_EQ(sent, expected);
}

}  // namespace
