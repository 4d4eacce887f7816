#include "content/gallery_model.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using gallery::Msg;

TEST(GalleryList, ParsingTable)
{
    struct Row {
        const char* text;
        bool parsed;
        uint64_t freeSpace;
        QStringList folders;  // "name (n)"
    };
    const Row rows[] = {
        {R"({"freeSpace":1000,"httpImageInfos":[{"type":"A","imagePath":["/t/a.jpg"],"originalImage":["/o/a.jpg"]}]})",
         true, 1000, {"A (1)"}},
        // Three thumbnails against two pictures: the folder is skipped.
        {R"({"freeSpace":5,"httpImageInfos":[{"type":"A","imagePath":["1","2","3"],"originalImage":["1","2"]},)"
         R"({"type":"B","imagePath":[],"originalImage":[]}]})",
         true, 5, {"B (0)"}},
        // No freeSpace: 0 (every upload is refused later).
        {R"({"httpImageInfos":[{"type":"A","imagePath":[],"originalImage":[]}]})", true, 0, {"A (0)"}},
        {R"({"freeSpace":-1,"httpImageInfos":[{"type":"A","imagePath":[],"originalImage":[]}]})", true, 0, {"A (0)"}},
        {R"({"freeSpace":7,"httpImageInfos":[{"type":3,"imagePath":[],"originalImage":[]},)"
         R"({"type":"C","imagePath":[1],"originalImage":["x"]},{"type":"图","imagePath":[],"originalImage":[]}]})",
         true, 7, {QString::fromUtf8("图 (0)")}},
        {R"({"freeSpace":7,"httpImageInfos":[]})", false, 0, {}},
        {R"({"freeSpace":7})", false, 0, {}},
        {R"({"freeSpace":7,"httpImageInfos":[})", false, 0, {}},
        {"", false, 0, {}},
        {"[1]", false, 0, {}},
    };
    for (const auto& row : rows) {
        const auto list = gallery::ParseList(QByteArray(row.text), "127.0.0.3");
        ASSERT_EQ(list.has_value(), row.parsed) << row.text;
        if (!list)
            continue;
        EXPECT_EQ(list->freeSpace, row.freeSpace) << row.text;
        QStringList items;
        for (const auto& f : list->folders)
            items << gallery::FolderItemText(f);
        EXPECT_EQ(items, row.folders) << row.text;
    }
}

TEST(GalleryList, UrlsAndSelection)
{
    const auto list = gallery::ParseList(
        R"({"freeSpace":1,"httpImageInfos":[{"type":"A","imagePath":["/a/b/c.jpg","d.jpg"],"originalImage":["/o/c.jpg","o\\d.jpg"]},)"
        R"({"type":"B","imagePath":[],"originalImage":[]},{"type":"A","imagePath":[],"originalImage":[]}]})",
        "127.0.0.3");
    ASSERT_TRUE(list);
    ASSERT_EQ(list->folders[0].pictures.size(), 2u);
    EXPECT_EQ(list->folders[0].pictures[0].thumbUrl, "http://127.0.0.3:23333/a/b/c.jpg");
    EXPECT_EQ(list->folders[0].pictures[1].thumbUrl, "http://127.0.0.3:23333/d.jpg");
    EXPECT_EQ(gallery::UrlFileName(list->folders[0].pictures[0].thumbUrl), "c.jpg");
    EXPECT_EQ(gallery::UrlFileName(list->folders[0].pictures[1].fullUrl), "d.jpg");
    EXPECT_EQ(gallery::UrlFileName("plain.jpg"), "plain.jpg");
    EXPECT_EQ(gallery::ListUrl("127.0.0.3"), "http://127.0.0.3:23333/image/names");
    // Two folders of the same name: the later one.
    EXPECT_EQ(gallery::FolderToSelect(list->folders, "A"), 2);
    EXPECT_EQ(gallery::FolderToSelect(list->folders, "a"), 0);
    EXPECT_EQ(gallery::FolderToSelect(list->folders, ""), 0);
    EXPECT_EQ(gallery::FolderToSelect({}, "A"), -1);
}

TEST(GalleryNames, HostileLocalNamesRefused)
{
    struct Row {
        const char* name;
        bool safe;
    };
    const Row rows[] = {
        {"c.jpg", true}, {"图片", true},       {"", false},       {".", false},      {"..", false},
        {"a/b", false},  {"..\\x", false},     {"C:x", false},    {"/etc", false},   {"a\nb", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(gallery::IsSafeLocalName(QString::fromUtf8(row.name)), row.safe) << row.name;
}

TEST(GalleryNames, NewFolderChecks)
{
    const std::vector<gallery::GalleryFolder> folders{{"A", {}}, {QString::fromUtf8("图"), {}}};
    struct Row {
        QString typed;
        int language;
        QString message;  // empty: accepted
        QByteArray bytes;
    };
    const QString c64(64, QChar(0x56FE));
    const QString c65(65, QChar(0x56FE));
    const Row rows[] = {
        {"  New", 9, "", "New"},
        {"A", 9, "The folder name already exists", ""},
        {"  A", 4, QString::fromUtf8("文件夹名称已存在"), ""},
        {"", 9, "Enter folder name", ""},
        {"   ", 9, "Enter folder name", ""},
        {c64, 9, "", QByteArray(64 * 2, 'x')},
        {c65, 9, "The folder name is too long", ""},
        {QString(129, 'a'), 9, "The folder name is too long", ""},
        {"a:b", 9, "A name must not contain \":\": a:b", ""},
    };
    for (const auto& row : rows) {
        QByteArray bytes;
        EXPECT_EQ(gallery::CheckNewFolder(row.typed, folders, row.language, &bytes), row.message)
            << row.typed.toStdString();
        if (row.message.isEmpty()) {
            EXPECT_EQ(bytes.size(), row.bytes.size()) << row.typed.toStdString();
        }
    }
    EXPECT_FALSE(gallery::CheckNewFolder(QString::fromUtf8("\u20AC\U0001F600"), folders, 9, nullptr).isEmpty());
    EXPECT_EQ(gallery::CheckFileName(QString(256, 'a'), 9), "");
    EXPECT_EQ(gallery::CheckFileName(QString(257, 'a'), 9), QString(257, 'a') + "File name is too long");
}

TEST(GalleryPackets, PayloadsOfTheFourOperations)
{
    QString why;
    const QByteArray del =
        gallery::DeletePayload("A", {"x.jpg", "y.jpg", "z.jpg"}, 9, &why);
    EXPECT_EQ(del, "A:x.jpg:y.jpg:z.jpg");
    EXPECT_EQ(gallery::DeletePayload(QString::fromUtf8("图"), {"x.jpg"}, 9, &why), QByteArray("\xCD\xBC:x.jpg"));
    EXPECT_TRUE(gallery::DeletePayload("A", {"x:y.jpg"}, 9, &why).isEmpty());
    EXPECT_FALSE(why.isEmpty());

    struct Row {
        uint16_t op, arg;
        QByteArray payload;
    };
    const Row rows[] = {{0, 0, "New"}, {1, 0, "Old"}, {2, 0, "A:x.jpg"}, {2, 1, QByteArray(10, 'p')},
                        {2, 2, ""},    {3, 0, del}};
    for (const auto& row : rows) {
        const QByteArray packet = gallery::Packet(row.op, row.arg, row.payload);
        ASSERT_EQ(packet.size(), 16 + row.payload.size());
        const auto h = proto::PlayerPacketHeader::fromBytes(reinterpret_cast<const uint8_t*>(packet.constData()));
        EXPECT_EQ(h.command, proto::CMD_GALLERY);
        EXPECT_EQ(h.param, row.op);
        EXPECT_EQ(h.arg, row.arg);
        EXPECT_EQ(h.payloadLength, uint32_t(row.payload.size()));
        EXPECT_EQ(packet.mid(16), row.payload);
    }
    EXPECT_EQ(gallery::ChunkArgument(8192000), gallery::kChunk);
    EXPECT_EQ(gallery::ChunkArgument(8191999), gallery::kLastChunk);
    EXPECT_EQ(gallery::ChunkArgument(0), gallery::kLastChunk);
}

void touch(const QString& path, int size = 10)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(size, 'j'));
}

TEST(GalleryUploads, BatchScan)
{
    QTemporaryDir dir;
    const QString root = dir.path();
    touch(root + "/loose.jpg");          // directly in the chosen folder: ignored
    touch(root + "/A/one.jpg");
    touch(root + "/A/two.PNG");
    touch(root + "/A/listed.jpg");       // already in gallery folder A
    touch(root + "/A/skip.gif");
    touch(root + "/A/deeper/three.jpg");  // sub-folder of a sub-folder: ignored
    touch(root + "/B/only.gif");
    touch(root + "/C/x.Bmp", 20);
    const std::vector<gallery::GalleryFolder> folders{
        {"A", {{"http://127.0.0.3:23333/t/listed.jpg", "http://127.0.0.3:23333/o/listed.jpg"}}},
        {"C", {{"http://127.0.0.3:23333/t/other.jpg", ""}}}};
    std::vector<gallery::GalleryUpload> queue;
    QString why;
    ASSERT_TRUE(gallery::ScanBatchFolder(root, folders, 9, queue, &why)) << why.toStdString();
    ASSERT_EQ(queue.size(), 2u);
    EXPECT_EQ(queue[0].folder, "A");
    EXPECT_EQ(queue[0].files, QStringList({root + "/A/one.jpg", root + "/A/two.PNG"}));
    EXPECT_EQ(queue[1].folder, "C");
    EXPECT_EQ(gallery::QueueBytes(queue), 40u);
    EXPECT_EQ(gallery::CheckUploadSize(40, 39, 9),
              "There is not enough storage space for the player, please reduce the send file");
    EXPECT_EQ(gallery::CheckUploadSize(40, 40, 9), "");

    QTemporaryDir gifs;
    touch(gifs.path() + "/G/a.gif");
    touch(gifs.path() + "/H/b.GIF");
    ASSERT_TRUE(gallery::ScanBatchFolder(gifs.path(), {}, 9, queue, &why));
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(gallery::CheckUploadSize(gallery::QueueBytes(queue), 1000, 9),
              "No Picture files or duplicate Picture files for the selected category");

    QTemporaryDir longName;
    touch(longName.path() + "/" + QString(129, 'f') + "/a.jpg");
    EXPECT_FALSE(gallery::ScanBatchFolder(longName.path(), {}, 9, queue, &why));
    EXPECT_TRUE(why.endsWith("The folder is too long"));
    EXPECT_TRUE(queue.empty());
}

TEST(GalleryUploads, AddPicQueuesEveryChosenFile)
{
    std::vector<gallery::GalleryUpload> queue;
    QString why;
    ASSERT_TRUE(gallery::QueueFiles({"/p/a.jpg", "/p/listed.jpg"}, "A", 9, queue, &why));
    ASSERT_EQ(queue.size(), 1u);
    EXPECT_EQ(queue[0].files.size(), 2);
    EXPECT_FALSE(gallery::QueueFiles({"/p/a.jpg", "/p/" + QString(257, 'n')}, "A", 9, queue, &why));
    EXPECT_TRUE(queue.empty());
    EXPECT_FALSE(gallery::QueueFiles({"/p/a:b.jpg"}, "A", 9, queue, &why));
}

TEST(GalleryThumbnails, FittedOnWhite)
{
    struct Row {
        int w, h;
        QRect expected;
    };
    const Row rows[] = {
        {400, 200, QRect(0, 12, 100, 50)}, {200, 400, QRect(31, 0, 37, 75)}, {100, 75, QRect(0, 0, 100, 75)},
        {1, 1, QRect(12, 0, 75, 75)}, {300, 260, QRect(7, 0, 86, 75)}, {0, 5, QRect()},
    };
    for (const auto& row : rows)
        EXPECT_EQ(gallery::FitRect(row.w, row.h, QRect(0, 0, 100, 75)), row.expected) << row.w << "x" << row.h;

    QTemporaryDir dir;
    QImage red(400, 200, QImage::Format_RGB32);
    red.fill(Qt::red);
    const QString path = dir.path() + "/c.png";
    ASSERT_TRUE(red.save(path));
    ASSERT_TRUE(gallery::RescaleFileInPlace(path));
    const QImage thumb(path);
    EXPECT_EQ(thumb.size(), QSize(100, 75));
    EXPECT_EQ(thumb.pixelColor(50, 5), QColor(Qt::white));
    EXPECT_EQ(thumb.pixelColor(50, 37), QColor(Qt::red));
    EXPECT_EQ(thumb.pixelColor(50, 70), QColor(Qt::white));
    touch(dir.path() + "/broken.jpg");
    EXPECT_FALSE(gallery::RescaleFileInPlace(dir.path() + "/broken.jpg"));
}

}  // namespace
