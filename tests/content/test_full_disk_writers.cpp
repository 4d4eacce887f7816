// Every file the content windows save, saved onto a full disk: the earlier
// file stays whole, no temporary file is left, and the user is told once.

#include "content/gallery_model.h"
#include "content/import_and_export.h"
#include "content/mobile_settings.h"
#include "content/play_mode_texts.h"
#include "content/qr_code.h"
#include "content/qr_model.h"
#include "content/set_mov_conf.h"
#include "content/set_mov_conf_tab.h"
#include "tests/content/content_harness.h"
#include "tests/content/qr_fixture.h"
#include "tests/support/full_disk.h"

#include "platform/dialogs.h"
#include "player/play_mode_commands.h"
#include "player/remote_commands.h"

#include <QBuffer>
#include <QImage>
#include <QListWidget>

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace Qt::StringLiterals;
using contenttest::Harness;
using testsupport::waitUntil;

std::array<uint8_t, 108> oneScreen()
{
    std::array<uint8_t, 108> b{};
    const uint16_t screen[4] = {0, 0, 1920, 1080};
    for (int k = 0; k < 4; ++k)
        proto::putU16(b.data() + 4 + 2 * k, screen[k]);
    const uint16_t output[4] = {0, 1919, 0, 1079};
    for (int k = 0; k < 4; ++k)
        proto::putU16(b.data() + 36 + 2 * k, output[k]);
    return b;
}

// What the user reads when a full disk refuses `path`: the file, then why.
QString cannotWrite(const QString& path)
{
    return u"Cannot write "_s + QDir::toNativeSeparators(path) + u'\n' + qt_error_string(ENOSPC);
}

// Saves through the file dialog's answer `path`.
void answerWith(const QString& path)
{
    platform::setFileDialogAnswerer([path](const platform::FileDialogCall&) { return path; });
}

// The earlier file: a picture (the thumbnail writer rereads it), larger than
// one page so no new contents fit in its last page.
QByteArray earlierFile()
{
    QImage picture(300, 200, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return bytes.leftJustified(8192, '\0');
}

TEST(FullDisk, ContentWritersKeepTheEarlierFile)
{
    const struct Row {
        const char* writer;
        const char* name;
        // Saves `path`; the message expected (empty: none, the caller is told).
        std::function<QString(Harness&, const QString& path)> save;
    } rows[] = {
        {"phrase file", "Words.GFDW",
         [](Harness& h, const QString& path) {
             {
                 std::lock_guard lock(h.player->stateMutex());
                 sim::playModeStore(*h.player).mobileSettings = R"({"words":["a","b"]})";
             }
             CMobileSettings d(h.doc->titlePrefix(), h.doc->tempFolder());
             d.OnInitDialog();
             EXPECT_TRUE(waitUntil([&] { return d.words()->count() == 2; }));
             answerWith(path);
             d.OnExportWords();
             return cannotWrite(path);
         }},
        {"file list", "list.DAT",
         [](Harness& h, const QString& path) {
             h.store([](sim::VideoStoreState& s) { sim::addVideo(s.acts[0], "A", "x.mp4", 10); });
             CSetMovConfTab tab(h.doc->titlePrefix(), 1, 0x2640, h.player->options().address);
             tab.OnInitDialog();
             EXPECT_TRUE(waitUntil([&] { return tab.page(0)->catalog() != nullptr; }));
             answerWith(path);
             tab.page(0)->OnExportFileList();
             return cannotWrite(path);
         }},
        {"parameter backup", "backup.zip",
         [](Harness& h, const QString& path) {
             h.store([](sim::VideoStoreState& s) {
                 s.archive = testsupport::randomBytes(40000, 5);
                 s.archiveChunk = 16384;
             });
             CImportAndExport d(h.doc->titlePrefix(), h.home.path(), u"SIM000000001"_s);
             answerWith(path);
             d.OnBackup();
             EXPECT_TRUE(waitUntil([&] { return !h.boxes.calls().empty(); }));
             return cannotWrite(path);
         }},
        {"QR code document", qr::kDocumentName,
         [](Harness& h, const QString& path) {
             CQRCode d(h.doc->titlePrefix(), QFileInfo(path).path(), oneScreen());
             d.OnInitDialog();
             EXPECT_TRUE(waitUntil([&] { return h.requests(proto::CMD_QRCODE).size() == 1; }));
             EXPECT_FALSE(d.OnApply());
             EXPECT_TRUE(h.sendBehind(proto::CMD_QRCODE));  // a read
             EXPECT_EQ(contenttest::QrDocumentsSent(h), 0u);  // nothing sent after the failure
             return cannotWrite(path);
         }},
        {"QR code picture", "saved.JPG",
         [](Harness& h, const QString& path) {
             {
                 std::lock_guard lock(h.player->stateMutex());
                 sim::remoteState(*h.player).qrPicture = QByteArray("\xFF\xD8\xFF\xE0 picture \xFF\xD9", 15);
             }
             CQRCode d(h.doc->titlePrefix(), h.doc->tempFolder(), oneScreen());
             d.OnInitDialog();
             EXPECT_TRUE(waitUntil([&] { return h.requests(proto::CMD_QRCODE).size() == 1; }));
             answerWith(path);
             d.OnGetPicture();  // the document saves what the player sends
             EXPECT_TRUE(waitUntil([&] { return !h.boxes.calls().empty(); }));
             return cannotWrite(path);
         }},
        {"gallery thumbnail", "picture.png",
         [](Harness&, const QString& path) {
             QString error;
             EXPECT_FALSE(gallery::RescaleFileInPlace(path, &error));
             EXPECT_FALSE(error.isEmpty());
             return QString();
         }},
    };
    const QByteArray earlier = earlierFile();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.writer);
        testsupport::FullDisk disk;
        if (!disk.mounted())
            GTEST_SKIP() << disk.reason().toStdString();
        const QString path = disk.path() + u'/' + QString::fromLatin1(row.name);
        ASSERT_TRUE(testsupport::writeFile(path, earlier));
        disk.fill();
        Harness h;
        const QString message = row.save(h, path);
        platform::setFileDialogAnswerer({});
        EXPECT_EQ(testsupport::readFile(path), earlier);
        EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files), QStringList{QString::fromLatin1(row.name)});
        EXPECT_EQ(h.boxTexts(), message.isEmpty() ? QStringList() : QStringList{message});
        disk.release();
    }
}

}  // namespace
