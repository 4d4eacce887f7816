#include "content/set_mov_conf.h"
#include "content/set_mov_conf_tab.h"
#include "content/store_texts.h"
#include "tests/content/content_harness.h"

#include <QTabWidget>
#include <QTreeWidget>

#include <atomic>
#include <memory>

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

struct Upload {
    explicit Upload(Harness& h, uint32_t screens = 1)
        : h(h), dialog(h.doc->titlePrefix(), screens, 0x2640, h.player->options().address), page(dialog.page(0))
    {
        dialog.OnInitDialog();
        EXPECT_TRUE(waitUntil([&] { return page->catalog() != nullptr; }));
    }
    ~Upload()
    {
        platform::setFileDialogMultiAnswerer({});
        platform::setFileDialogAnswerer({});
    }

    // Sends `files` (written into the home folder) with "Send video file".
    QStringList files(const std::vector<std::pair<QString, QByteArray>>& named)
    {
        QStringList paths;
        for (const auto& [name, bytes] : named) {
            paths << h.home.path() + u"/pick/"_s + name;
            // Names past what this file system holds are only offered, not made.
            if (name.toUtf8().size() <= 255) {
                EXPECT_TRUE(testsupport::writeFile(paths.last(), bytes));
            }
        }
        platform::setFileDialogMultiAnswerer([paths](const platform::FileDialogCall&) { return paths; });
        return paths;
    }
    bool finished()
    {
        return waitUntil([&] { return !page->uploading() && !page->busy(); }, 20000);
    }

    Harness& h;
    CSetMovConfTab dialog;
    CSetMovConf* page;
};

void withCategory(Harness& h, bool push = false)
{
    h.store([push](sim::VideoStoreState& s) {
        sim::addCategory(s.acts[0], "A");
        s.pushChanges = push;
    });
}

TEST(VideoUpload, ChunkBoundariesPacketsAndSequences)
{
    Harness h;
    withCategory(h);
    Upload u(h);
    const QByteArray full = testsupport::randomBytes(std::size_t(kChunk), 1);
    const QByteArray over = testsupport::randomBytes(std::size_t(kChunk) + 1, 2);
    u.files({{u"empty.mp4"_s, {}}, {u"full.mp4"_s, full}, {u"over.mp4"_s, over}});
    ASSERT_TRUE(u.page->SelectPath({u"A"_s}));
    u.page->OnSendFiles();
    EXPECT_TRUE(u.page->busy());
    ASSERT_TRUE(u.finished());

    const struct {
        uint8_t sub;
        uint16_t seq, param;
        int size;
    } expected[] = {
        {0, 0, 0, 8 + 9},  {2, 1, 1, 0},              // empty.mp4: begin, one empty last chunk
        {0, 2, 0, 8 + 8},  {1, 3, 1, kChunk}, {2, 4, 0, 0},  // full.mp4: a full chunk, then an empty last one
        {0, 5, 0, 8 + 8},  {1, 6, 1, kChunk}, {2, 7, 0, 1},  // over.mp4
    };
    const auto sent = h.requests(proto::CMD_VIDEO_UPLOAD);
    ASSERT_EQ(sent.size(), std::size(expected));
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sent[i].header.subCode, expected[i].sub);
        EXPECT_EQ(sent[i].header.sequence, expected[i].seq);
        EXPECT_EQ(sent[i].header.param, expected[i].param);
        EXPECT_EQ(sent[i].header.arg, 0);
        EXPECT_EQ(sent[i].payload.size(), expected[i].size);
    }
    EXPECT_EQ(sent[0].payload, QByteArray("A\0\0\0\0\0\0\0empty.mp4", 17));
    // The refresh at the end carries the counter as its sequence.
    EXPECT_EQ(h.requests(proto::CMD_VIDEO_LIST).back().header.sequence, 8);
    h.store([&](sim::VideoStoreState& s) {
        ASSERT_EQ(s.uploads.size(), 3u);
        EXPECT_TRUE(s.uploads[0].data.isEmpty());
        EXPECT_EQ(s.uploads[1].data, full);
        EXPECT_EQ(s.uploads[2].data, over);
        EXPECT_TRUE(s.uploads[2].complete);
    });
    EXPECT_TRUE(h.boxTexts().isEmpty());
    EXPECT_FALSE(u.page->findChild<QWidget*>(u"1803"_s)->isVisible());
}

TEST(VideoUpload, RefusalsBeforeAnythingIsSent)
{
    Harness h;
    withCategory(h);
    h.store([](sim::VideoStoreState& s) {
        sim::addCategory(s.acts[0], "B");
        s.acts[0].freeMB = 1;
    });
    Upload u(h);
    const struct {
        QStringList select;
        std::vector<std::pair<QString, QByteArray>> files;
        QString message;
    } rows[] = {
        {{}, {{u"a.mp4"_s, "x"}}, en(texts::kSelectFolderFirst)},  // root with two categories
        {{u"A"_s}, {{u"big.mp4"_s, QByteArray(2 << 20, 'b')}}, en(texts::kNoStorage)},
        {{u"A"_s}, {{u"a.mp4"_s, {}}, {u"b.mp4"_s, {}}}, en(texts::kNoContent)},
        {{u"A"_s}, {{u"what?.mp4"_s, "x"}}, u"what?.mp4"_s + en(texts::kNameSeparator)},
        {{u"A"_s}, {{u"a:b.mp4"_s, "x"}}, u"a:b.mp4"_s + en(texts::kNameSeparator)},
        {{u"A"_s}, {{QString(257, u'n'), "x"}}, QString(257, u'n') + en(texts::kFileNameTooLong)},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.message.left(60).toStdString());
        h.boxes.clear();
        u.files(r.files);
        ASSERT_TRUE(u.page->SelectPath(r.select));
        u.page->OnSendFiles();
        EXPECT_EQ(h.boxTexts(), QStringList{r.message});
        EXPECT_FALSE(u.page->busy());
        EXPECT_FALSE(u.page->uploading());
    }
    ASSERT_TRUE(h.sendBehind(proto::CMD_QRCODE));  // a read no window here takes
    EXPECT_TRUE(h.requests(proto::CMD_VIDEO_UPLOAD).empty());
}

TEST(VideoUpload, FolderSkipsWhatThePlayerHolds)
{
    Harness h;
    h.store([](sim::VideoStoreState& s) {
        sim::addVideo(s.acts[0], "clips", "held.mp4", 4);
        s.pushChanges = false;
    });
    Upload u(h);
    const QString folder = h.home.path() + u"/clips"_s;
    ASSERT_TRUE(testsupport::writeFile(folder + u"/held.mp4"_s, "1234"));
    platform::setFileDialogAnswerer([folder](const platform::FileDialogCall& c) {
        return c.kind == platform::FileDialogKind::Folder ? folder : QString();
    });
    u.page->OnSendFolder();
    EXPECT_EQ(h.boxTexts(), QStringList{en(texts::kNothingToSend)});
    EXPECT_FALSE(u.page->busy());

    // A new file and one of the same name but another size go; other files stay.
    h.boxes.clear();
    ASSERT_TRUE(testsupport::writeFile(folder + u"/new.mp4"_s, "new"));
    ASSERT_TRUE(testsupport::writeFile(folder + u"/notes.txt"_s, "no"));
    ASSERT_TRUE(testsupport::writeFile(folder + u"/held.mp4"_s, "12345"));
    u.page->OnSendFolder();
    EXPECT_FALSE(u.page->busy());  // a folder upload leaves the page free
    EXPECT_TRUE(u.page->uploading());
    ASSERT_TRUE(u.finished());
    QStringList names;
    for (const auto& e : h.requests(proto::CMD_VIDEO_UPLOAD))
        if (e.header.subCode == 0)
            names << QString::fromLatin1(e.payload);
    EXPECT_EQ(names, (QStringList{QString::fromLatin1(QByteArray("clips\0\0\0held.mp4", 16)),
                                  QString::fromLatin1(QByteArray("clips\0\0\0new.mp4", 15))}));
    EXPECT_TRUE(h.boxTexts().isEmpty());

    // The 64th category in use (its first byte is enough) leaves no room.
    h.store([](sim::VideoStoreState& s) { s.acts[0].categories[63].name[0] = 'Z'; });
    u.page->OnRefresh();
    ASSERT_TRUE(waitUntil([&] { return u.page->catalog()->categories[63].name[0] == 'Z'; }));
    u.page->OnSendFolder();
    EXPECT_EQ(h.boxTexts(), QStringList{en(texts::kNoTypeSpace)});
}

TEST(VideoUpload, LockMidUploadStopsAndTheNextUploadStartsClean)
{
    Harness h;
    withCategory(h);
    h.store([](sim::VideoStoreState& s) { s.lockOnUploadPacket = 2; });  // the second begin
    Upload u(h);
    u.files({{u"one.mp4"_s, "1"}, {u"two.mp4"_s, "22"}});
    ASSERT_TRUE(u.page->SelectPath({u"A"_s}));
    u.page->OnSendFiles();
    ASSERT_TRUE(waitUntil([&] { return h.boxTexts().contains(en(texts::kLocked)); }));
    EXPECT_FALSE(u.page->uploading());
    EXPECT_FALSE(u.page->busy());
    ASSERT_TRUE(h.sendBehind(proto::CMD_QRCODE));  // a read no window here takes
    EXPECT_EQ(h.requests(proto::CMD_VIDEO_UPLOAD).size(), 3u);

    // A stray upload reply now is not acted on.
    const uint16_t counter = u.page->counter();
    u.page->HandleMessage(platform::WM_VIDEO_UPLOAD_REPLY, 0, 0);
    EXPECT_EQ(u.page->counter(), counter);

    // The next upload sends only its own file: the old queue is gone.
    h.store([](sim::VideoStoreState& s) { s.locked = false; });
    h.boxes.clear();
    u.files({{u"three.mp4"_s, "333"}});
    ASSERT_TRUE(u.page->SelectPath({u"A"_s}));
    u.page->OnSendFiles();
    ASSERT_TRUE(u.finished());
    h.store([](sim::VideoStoreState& s) {
        ASSERT_EQ(s.uploads.size(), 2u);
        EXPECT_EQ(s.uploads[1].name, QByteArray("three.mp4"));
        EXPECT_TRUE(s.uploads[1].complete);
    });
}

TEST(VideoUpload, VideoNamedLikeItsCategoryAndOneUploadAtATime)
{
    Harness h;
    withCategory(h, true);
    h.player->setFault(sim::Fault::Delay, 150, proto::CMD_VIDEO_UPLOAD);
    Upload u(h, 2);
    u.files({{u"A"_s, "same name as the category"}});
    ASSERT_TRUE(u.page->SelectPath({u"A"_s}));
    u.page->OnSendFiles();
    ASSERT_TRUE(u.page->uploading());
    // A second upload cannot start while this one runs, and the replies of
    // this one reach its page though the other tab is shown meanwhile.
    bool asked = false;
    platform::setFileDialogMultiAnswerer([&](const platform::FileDialogCall&) {
        asked = true;
        return QStringList();
    });
    u.page->OnSendFiles();
    u.page->OnSendFolder();
    EXPECT_FALSE(asked);
    u.dialog.tabs()->setCurrentIndex(1);
    ASSERT_TRUE(waitUntil([&] { return !u.page->uploading(); }));
    h.store([](sim::VideoStoreState& s) {
        ASSERT_EQ(s.uploads.size(), 1u);
        EXPECT_TRUE(s.uploads[0].complete);
    });
    u.dialog.tabs()->setCurrentIndex(0);
    ASSERT_TRUE(waitUntil([&] { return u.page->SelectPath({u"A"_s, u"A"_s}) && !u.page->busy(); }));
    h.player->setFault(sim::Fault::None);
    u.page->OnDelete();
    ASSERT_TRUE(waitUntil([&] { return !h.requests(proto::CMD_VIDEO_DELETE).empty(); }));
    EXPECT_EQ(h.requests(proto::CMD_VIDEO_DELETE)[0].header.param, 0);
    EXPECT_EQ(h.requests(proto::CMD_VIDEO_DELETE)[0].payload, QByteArray("A:A?"));
    ASSERT_TRUE(waitUntil([&] { return !u.page->busy(); }));
    EXPECT_TRUE(u.page->SelectPath({u"A"_s}));
}

}  // namespace

namespace {

// A file cut short between two chunks ends with the read-failure message and
// no part of the chunk it no longer holds; the next file still goes whole.
TEST(VideoUpload, FileCutShortIsSaidAndTheNextFileGoesWhole)
{
    Harness h;
    withCategory(h);
    Upload u(h);
    const QByteArray next = testsupport::randomBytes(300, 5);
    const QStringList paths =
        u.files({{u"cut.mp4"_s, testsupport::randomBytes(std::size_t(2 * kChunk) + 9, 4)}, {u"next.mp4"_s, next}});
    const QString cut = paths[0];
    const sim::CommandHandler store = h.player->commandHandler(proto::CMD_VIDEO_UPLOAD);
    h.player->registerCommand(proto::CMD_VIDEO_UPLOAD, [store, cut](sim::PlayerSim& p, const sim::Request& r) {
        if (r.header.subCode == 1)
            QFile::resize(cut, kChunk + 4);
        return store(p, r);
    });
    ASSERT_TRUE(u.page->SelectPath({u"A"_s}));
    u.page->OnSendFiles();
    ASSERT_TRUE(u.finished());
    EXPECT_EQ(h.boxTexts(), QStringList{u"The file changed while it was being sent: "_s + QDir::toNativeSeparators(cut)});
    std::vector<std::pair<int, int>> sent;  // sub-code, payload size
    for (const auto& e : h.requests(proto::CMD_VIDEO_UPLOAD))
        sent.emplace_back(e.header.subCode, int(e.payload.size()));
    const std::vector<std::pair<int, int>> expected = {{0, 8 + 7}, {1, kChunk}, {0, 8 + 8}, {2, 300}};
    EXPECT_EQ(sent, expected);
    h.store([&](sim::VideoStoreState& s) {
        ASSERT_EQ(s.uploads.size(), 2u);
        EXPECT_FALSE(s.uploads[0].complete);
        EXPECT_EQ(s.uploads[1].data, next);
    });
}

// A file of the selection that changed before its turn came is not sent at
// its new size under the progress range and space check made from the old:
// it is said, and nothing of it goes.
TEST(VideoUpload, FileChangedAfterTheSelectionIsSaidAndNotSent)
{
    Harness h;
    withCategory(h);
    Upload u(h);
    const QStringList paths =
        u.files({{u"first.mp4"_s, testsupport::randomBytes(300, 6)}, {u"grown.mp4"_s, testsupport::randomBytes(300, 7)}});
    const QString grown = paths[1];
    const sim::CommandHandler store = h.player->commandHandler(proto::CMD_VIDEO_UPLOAD);
    h.player->registerCommand(proto::CMD_VIDEO_UPLOAD, [store, grown](sim::PlayerSim& p, const sim::Request& r) {
        if (r.header.subCode == 2)
            QFile::resize(grown, 5000);
        return store(p, r);
    });
    ASSERT_TRUE(u.page->SelectPath({u"A"_s}));
    u.page->OnSendFiles();
    ASSERT_TRUE(u.finished());
    EXPECT_EQ(h.boxTexts(), QStringList{u"The file changed while it was being sent: "_s + QDir::toNativeSeparators(grown)});
    std::vector<std::pair<int, int>> sent;  // sub-code, payload size
    for (const auto& e : h.requests(proto::CMD_VIDEO_UPLOAD))
        sent.emplace_back(e.header.subCode, int(e.payload.size()));
    const std::vector<std::pair<int, int>> expected = {{0, 8 + 9}, {2, 300}, {0, 8 + 9}};
    EXPECT_EQ(sent, expected);
}

}  // namespace

namespace {

// A file written while its last chunk travels (its size and time kept) did
// not reach the player as it was: said by its own name, and the next file
// of the selection still goes whole.
TEST(VideoUpload, FileWrittenWhileItsLastChunkTravelsIsSaidAndTheNextGoes)
{
    Harness h;
    withCategory(h);
    Upload u(h);
    const QByteArray next = testsupport::randomBytes(300, 9);
    const QStringList paths =
        u.files({{u"first.mp4"_s, testsupport::randomBytes(300, 8)}, {u"next.mp4"_s, next}});
    const QString first = paths[0];
    const auto once = std::make_shared<std::atomic<bool>>(false);
    const sim::CommandHandler store = h.player->commandHandler(proto::CMD_VIDEO_UPLOAD);
    h.player->registerCommand(proto::CMD_VIDEO_UPLOAD, [store, first, once](sim::PlayerSim& p, const sim::Request& r) {
        if (r.header.subCode == 2 && !once->exchange(true))
            testsupport::rewriteKeepingTheTime(first);
        return store(p, r);
    });
    ASSERT_TRUE(u.page->SelectPath({u"A"_s}));
    u.page->OnSendFiles();
    ASSERT_TRUE(u.finished());
    EXPECT_EQ(h.boxTexts(), QStringList{u"The file changed while it was being sent: "_s + QDir::toNativeSeparators(first)});
    std::vector<std::pair<int, int>> sent;  // sub-code, payload size
    for (const auto& e : h.requests(proto::CMD_VIDEO_UPLOAD))
        sent.emplace_back(e.header.subCode, int(e.payload.size()));
    const std::vector<std::pair<int, int>> expected = {{0, 8 + 9}, {2, 300}, {0, 8 + 8}, {2, 300}};
    EXPECT_EQ(sent, expected);
    h.store([&](sim::VideoStoreState& s) {
        ASSERT_EQ(s.uploads.size(), 2u);
        EXPECT_EQ(s.uploads[1].data, next);
    });
}

}  // namespace
