// The chunks of one file in order, valid for as long as their owner is
// held, a file that changed under them refused rather than sent cut short,
// and the announce-chunk-end sequence every upload runs through.
#include "transport/chunk_source.h"

#include "common/digest.h"
#include "common/file_stamp.h"

#include "tests/support/test_support.h"
#include "transport/records.h"
#include "transport/upload_chunks.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

using testsupport::randomBytes;
using namespace Qt::StringLiterals;

constexpr qsizetype kChunk = qsizetype(upload::kChunk);

QString writeFile(const QTemporaryDir& dir, const QByteArray& bytes)
{
    const QString path = dir.filePath(QStringLiteral("v.mp4"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    EXPECT_EQ(f.write(bytes), bytes.size());
    return path;
}

struct Chunk {
    QByteArray bytes;
    std::shared_ptr<const void> owner;
    bool last = false;
    uint64_t sent = 0;
    int percent = 0;
};

// Every chunk until the last (at most `limit`), or until Next fails.
std::vector<Chunk> allChunks(upload::ChunkSource& chunks, bool* failed, int limit = 10)
{
    std::vector<Chunk> out;
    *failed = false;
    for (int i = 0; i < limit; ++i) {
        Chunk c;
        if (!chunks.Next(c.bytes, c.owner, c.last)) {
            *failed = true;
            break;
        }
        c.sent = chunks.Sent();
        c.percent = chunks.Percent();
        out.push_back(std::move(c));
        if (out.back().last)
            break;
    }
    return out;
}

TEST(ChunkSource, ChunksInOrderTheLastShortOrEmpty)
{
    const struct { const char* name; qsizetype size; std::vector<qsizetype> chunks; } cases[] = {
        {"empty file: one empty last chunk", 0, {0}},
        {"one byte", 1, {1}},
        {"one byte short of a chunk", kChunk - 1, {kChunk - 1}},
        {"exactly one chunk: an empty last one follows", kChunk, {kChunk, 0}},
        {"one byte over", kChunk + 1, {kChunk, 1}},
        {"exactly two chunks", 2 * kChunk, {kChunk, kChunk, 0}},
        {"two chunks and a tail", 2 * kChunk + 5, {kChunk, kChunk, 5}},
    };
    QTemporaryDir dir;
    // Windows of one and two chunks cross their ends within these files.
    for (const int window : {1, 2, upload::ChunkSource::kWindowChunks}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            SCOPED_TRACE(window);
            const QByteArray bytes = randomBytes(std::size_t(c.size), quint32(c.size));
            const QString path = writeFile(dir, bytes);

            upload::ChunkSource mapped(window);
            ASSERT_TRUE(mapped.Open(path));
            EXPECT_EQ(mapped.Size(), uint64_t(c.size));
            bool failed = true;
            const std::vector<Chunk> got = allChunks(mapped, &failed);
            EXPECT_FALSE(failed);
            // Still open after the last chunk, to be looked at once more.
            EXPECT_TRUE(mapped.Unchanged());

            ASSERT_EQ(got.size(), c.chunks.size());
            qsizetype offset = 0;
            for (std::size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].bytes.size(), c.chunks[i]) << i;
                EXPECT_TRUE(got[i].bytes == bytes.mid(offset, c.chunks[i])) << i;
                EXPECT_EQ(got[i].last, i + 1 == got.size()) << i;
                EXPECT_EQ(got[i].sent, uint64_t(offset + c.chunks[i])) << i;
                EXPECT_EQ(got[i].percent, c.size == 0 ? 100 : int((offset + c.chunks[i]) * 100 / c.size)) << i;
                // Mapped, not copied: every chunk with bytes comes with its owner.
                EXPECT_EQ(got[i].owner != nullptr, !got[i].bytes.isEmpty()) << i;
                // Chunks of one window share its mapping; the next window is another.
                if (i > 0 && got[i].owner && got[i - 1].owner) {
                    EXPECT_EQ(got[i].owner == got[i - 1].owner, i % std::size_t(window) != 0) << i;
                }
                offset += c.chunks[i];
            }
            EXPECT_EQ(offset, c.size);
            bool afterLast = false;
            QByteArray none;
            std::shared_ptr<const void> noOwner;
            EXPECT_FALSE(mapped.Next(none, noOwner, afterLast));
            EXPECT_TRUE(none.isEmpty());
            EXPECT_TRUE(afterLast);
            EXPECT_FALSE(mapped.IsOpen());
        }
    }
}

// The link may still be writing a chunk when the page has moved on, closed
// the file or gone: the bytes live as long as the owner.
TEST(ChunkSource, ChunkOutlivesTheReaderWhileItsOwnerIsHeld)
{
    QTemporaryDir dir;
    const QByteArray bytes = randomBytes(std::size_t(kChunk) + 100, 11);
    const QString path = writeFile(dir, bytes);
    QByteArray first;
    std::shared_ptr<const void> owner;
    std::weak_ptr<const void> watch;
    {
        upload::ChunkSource mapped;
        ASSERT_TRUE(mapped.Open(path));
        bool last = true;
        ASSERT_TRUE(mapped.Next(first, owner, last));
        EXPECT_FALSE(last);
        watch = owner;
        mapped.Close();
    }
    EXPECT_TRUE(first == bytes.left(kChunk));
    first = QByteArray();
    owner.reset();
    EXPECT_TRUE(watch.expired());
}

TEST(ChunkSource, FileThatCannotBeReadOrWasCutShortIsRefused)
{
    QTemporaryDir dir;
    upload::ChunkSource mapped;
    EXPECT_FALSE(mapped.Open(dir.filePath(QStringLiteral("missing.mp4"))));
    EXPECT_FALSE(mapped.Open(dir.path()));  // a folder is no video
    EXPECT_FALSE(mapped.IsOpen());

    // Cut short after the first chunk: the second chunk's header would
    // promise bytes the file no longer has.
    const struct { const char* name; qsizetype cutTo; } cuts[] = {
        {"inside the second chunk", kChunk + 10},
        {"at the first chunk's end", kChunk},
        {"to nothing", 0},
    };
    for (const auto& c : cuts) {
        SCOPED_TRACE(c.name);
        const QByteArray bytes = randomBytes(std::size_t(2 * kChunk) + 100, 12);
        const QString path = writeFile(dir, bytes);
        ASSERT_TRUE(mapped.Open(path));
        QByteArray chunk;
        std::shared_ptr<const void> owner;
        bool last = true;
        ASSERT_TRUE(mapped.Next(chunk, owner, last));
        EXPECT_TRUE(chunk.left(64) == bytes.left(64));
        chunk = QByteArray();
        owner.reset();
        ASSERT_TRUE(QFile::resize(path, c.cutTo));
        EXPECT_FALSE(mapped.Next(chunk, owner, last));
        EXPECT_TRUE(chunk.isEmpty());
        EXPECT_FALSE(owner);
        EXPECT_TRUE(last);
        EXPECT_FALSE(mapped.IsOpen());
    }
}

// How many mappings of `path` the process holds (every window is one).
int mappingsOf(const QString& path)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray name = QFile::encodeName(QFileInfo(path).canonicalFilePath());
    int count = 0;
    for (const QByteArray& line : maps.readAll().split('\n'))
        if (line.endsWith(' ' + name))
            ++count;
    return count;
}

// The window of the next chunk is mapped, and its pages warmed, while the
// current chunk is on the wire; none of that may outlive the upload. Whatever
// ends it (the last chunk, a stop halfway, the source going away), once the
// link lets go of the chunks nothing of the file stays mapped.
TEST(ChunkSource, NothingStaysMappedOnceTheChunksAreLetGo)
{
    enum class End { kLastChunk, kClosedAfterFirst, kGoneAfterFirst };
    const struct { const char* name; End end; } cases[] = {
        {"after the last chunk", End::kLastChunk},
        {"stopped after the first chunk", End::kClosedAfterFirst},
        {"the source gone after the first chunk", End::kGoneAfterFirst},
    };
    QTemporaryDir dir;
    const QByteArray bytes = randomBytes(std::size_t(2 * kChunk) + 5, 14);
    const QString path = writeFile(dir, bytes);
    ASSERT_EQ(mappingsOf(path), 0);
    for (const int window : {1, 2}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            SCOPED_TRACE(window);
            auto mapped = std::make_unique<upload::ChunkSource>(window);
            ASSERT_TRUE(mapped->Open(path));
            bool failed = true;
            std::vector<Chunk> held = allChunks(*mapped, &failed, c.end == End::kLastChunk ? 10 : 1);
            EXPECT_FALSE(failed);
            if (c.end == End::kClosedAfterFirst) {
                mapped->Close();  // and kept, closed, as a page keeps its upload
                // The link may still be writing the chunk: its bytes stay.
                EXPECT_GE(mappingsOf(path), 1);
            } else if (c.end == End::kGoneAfterFirst) {
                mapped.reset();
            }
            ASSERT_FALSE(held.empty());
            EXPECT_TRUE(held.front().bytes == bytes.left(kChunk));
            held.clear();
            // A warm still running holds its window until its call returns.
            QElapsedTimer waited;
            waited.start();
            while (mappingsOf(path) != 0 && waited.elapsed() < 5000)
                QThread::msleep(5);
            EXPECT_EQ(mappingsOf(path), 0);
        }
    }
}

// A request whose payload travels as a shared body puts the same bytes on
// the wire as one built whole; a payload too large is refused as it is there.
TEST(ChunkSource, RequestWithBodyMatchesThePacketBuiltWhole)
{
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_VIDEO_UPLOAD;
    h.subCode = 1;
    h.param = 3;
    h.arg = 1;
    const struct { qsizetype size; bool taken; } cases[] = {
        {0, true}, {1, true}, {kChunk, true}, {qsizetype(proto::kMaxPayload), true},
        {qsizetype(proto::kMaxPayload) + 1, false},
    };
    for (const auto& c : cases) {
        const QByteArray payload(c.size, 'p');
        SendRequest whole, split;
        EXPECT_EQ(whole.SetPacket(h, payload), c.taken) << c.size;
        auto owner = std::make_shared<int>(0);
        EXPECT_EQ(split.SetPacketWithBody(h, payload, owner), c.taken) << c.size;
        EXPECT_EQ(split.length(), whole.length()) << c.size;
        EXPECT_TRUE(split.data + split.body == whole.data) << c.size;
        EXPECT_EQ(split.bodyOwner == owner, c.taken) << c.size;
    }
}

// The steps an upload goes through as acknowledgements come: each row a
// file, the steps its acknowledgements bring, the ordinals of its chunks.
TEST(Upload, AcknowledgementsBringChunksThenTheEnd)
{
    using Step = upload::Upload::Step;
    using Stage = upload::Upload::Stage;
    const struct {
        const char* name;
        qsizetype size;
        std::vector<uint16_t> ordinals;
    } cases[] = {
        {"empty file", 0, {1}},
        {"one chunk less a byte", kChunk - 1, {1}},
        {"one whole chunk: an empty last", kChunk, {1, 1}},
        {"one byte over", kChunk + 1, {1, 2}},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray bytes = randomBytes(std::size_t(c.size), 21);
        const QString path = writeFile(dir, bytes);
        upload::Upload up(1);
        upload::Upload::Chunk chunk;
        EXPECT_EQ(up.Acknowledged(chunk), Step::kNone);  // a late answer starts nothing
        up.Announced(path);
        EXPECT_EQ(up.stage(), Stage::kAnnounced);
        QByteArray sent;
        for (std::size_t i = 0; i < c.ordinals.size(); ++i) {
            ASSERT_EQ(up.Acknowledged(chunk), Step::kChunk) << i;
            EXPECT_EQ(chunk.ordinal, c.ordinals[i]) << i;
            EXPECT_EQ(chunk.last, i + 1 == c.ordinals.size()) << i;
            EXPECT_EQ(up.stage(), chunk.last ? Stage::kLastSent : Stage::kChunks) << i;
            sent += chunk.bytes;
        }
        EXPECT_TRUE(sent == bytes);
        EXPECT_EQ(up.Acknowledged(chunk), Step::kEnd);
        EXPECT_EQ(up.stage(), Stage::kIdle);
        EXPECT_EQ(up.Acknowledged(chunk), Step::kNone);
    }
}

TEST(Upload, MissingOrShrunkFileEndsTheUploadBeforeAnyOfTheChunk)
{
    using Step = upload::Upload::Step;
    QTemporaryDir dir;
    upload::Upload up;
    upload::Upload::Chunk chunk;
    up.Announced(dir.filePath(QStringLiteral("gone.mp4")));
    EXPECT_EQ(up.Acknowledged(chunk), Step::kOpenFailed);
    EXPECT_EQ(up.stage(), upload::Upload::Stage::kIdle);

    const QString path = writeFile(dir, randomBytes(std::size_t(kChunk) + 10, 22));
    up.Announced(path);
    ASSERT_EQ(up.Acknowledged(chunk), Step::kChunk);
    chunk = upload::Upload::Chunk();
    ASSERT_TRUE(QFile::resize(path, kChunk + 5));
    EXPECT_EQ(up.Acknowledged(chunk), Step::kReadFailed);
    EXPECT_TRUE(chunk.bytes.isEmpty());
    EXPECT_EQ(up.stage(), upload::Upload::Stage::kIdle);
}

// The request carries the chunk as its body: the header says how long, and
// the mapping stays held by the request.
TEST(Upload, ChunkRequestSharesTheChunk)
{
    QTemporaryDir dir;
    const QByteArray bytes = randomBytes(5000, 23);
    upload::Upload up;
    ASSERT_TRUE(up.Open(writeFile(dir, bytes)));
    upload::Upload::Chunk chunk;
    ASSERT_EQ(up.Next(chunk), upload::Upload::Step::kChunk);
    const char* where = chunk.bytes.constData();
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_MATERIAL;
    h.subCode = 2;
    auto request = upload::ChunkRequest(h, std::move(chunk));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->body.constData(), where);
    EXPECT_TRUE(request->bodyOwner);
    SendRequest whole;
    ASSERT_TRUE(whole.SetPacket(h, bytes));
    EXPECT_TRUE(request->data + request->body == whole.data);
}

}  // namespace

namespace {

// New bytes over the first ones, the size unchanged.
void rewriteInPlace(const QString& path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_EQ(f.write(QByteArray(64, 'w')), 64);
}

void rewriteKeepingTheTime(const QString& path)
{
    ASSERT_TRUE(testsupport::rewriteKeepingTheTime(path));
}

void replaceKeepingTheTime(const QString& path)
{
    ASSERT_TRUE(testsupport::replaceKeepingTheTime(path));
}

// The file sent is the file announced: an upload whose file was cut, grown,
// written again or replaced between its announce (or its digest) and its
// first chunk, between two chunks, or while its last chunk travelled is
// refused before any further byte of it goes, and the user is told it
// changed while it was being sent; a file gone before it could be opened
// cannot be read.
TEST(Upload, FileChangedSinceItsAnnounceIsRefusedBeforeAnyOfIt)
{
    using Step = upload::Upload::Step;
    enum class Made { kAtAnnounce, kFromDigest };
    enum class When {
        kBeforeFirst,  // between the announce and its acknowledgement
        kAfterFirst,   // between the first chunk and its acknowledgement
        kAfterLast,    // while the last chunk awaits its acknowledgement
    };
    const struct {
        const char* name;
        Made made;
        When when;
        qsizetype size;
        std::function<void(const QString&)> change;
        Step next;  // what the acknowledgement after the change brings
    } rows[] = {
        {"unchanged", Made::kAtAnnounce, When::kBeforeFirst, kChunk + 10, [](const QString&) {}, Step::kChunk},
        {"unchanged since its digest", Made::kFromDigest, When::kBeforeFirst, kChunk + 10, [](const QString&) {},
         Step::kChunk},
        {"cut, still over a chunk", Made::kFromDigest, When::kBeforeFirst, 2 * kChunk + 10,
         [](const QString& p) { ASSERT_TRUE(QFile::resize(p, kChunk + 7)); }, Step::kReadFailed},
        {"cut to nothing", Made::kAtAnnounce, When::kBeforeFirst, 1000,
         [](const QString& p) { ASSERT_TRUE(QFile::resize(p, 0)); }, Step::kReadFailed},
        {"grown", Made::kAtAnnounce, When::kBeforeFirst, 1000,
         [](const QString& p) { ASSERT_TRUE(QFile::resize(p, 5000)); }, Step::kReadFailed},
        {"written again at the same size", Made::kFromDigest, When::kBeforeFirst, 1000,
         [](const QString& p) {
             QFile f(p);
             ASSERT_TRUE(f.open(QIODevice::ReadWrite));
             ASSERT_TRUE(f.setFileTime(f.fileTime(QFileDevice::FileModificationTime).addSecs(-60),
                                       QFileDevice::FileModificationTime));
         },
         Step::kReadFailed},
        {"gone", Made::kAtAnnounce, When::kBeforeFirst, 1000, [](const QString& p) { ASSERT_TRUE(QFile::remove(p)); },
         Step::kOpenFailed},
        {"replaced with its modification time kept", Made::kFromDigest, When::kBeforeFirst, 1000,
         replaceKeepingTheTime, Step::kReadFailed},
        {"written again in place with its time put back", Made::kAtAnnounce, When::kBeforeFirst, 1000,
         rewriteKeepingTheTime, Step::kReadFailed},
        {"written again at the same size between two chunks", Made::kAtAnnounce, When::kAfterFirst, kChunk + 10,
         rewriteInPlace, Step::kReadFailed},
        {"written again between two chunks, its time put back", Made::kFromDigest, When::kAfterFirst, kChunk + 10,
         rewriteKeepingTheTime, Step::kReadFailed},
        {"grown between two chunks", Made::kAtAnnounce, When::kAfterFirst, kChunk + 10,
         [](const QString& p) { ASSERT_TRUE(QFile::resize(p, 3 * kChunk)); }, Step::kReadFailed},
        {"unchanged while the last chunk travels", Made::kAtAnnounce, When::kAfterLast, 1000,
         [](const QString&) {}, Step::kEnd},
        {"written again while the last chunk travels, its time put back", Made::kAtAnnounce, When::kAfterLast, 1000,
         rewriteKeepingTheTime, Step::kReadFailed},
    };
    QTemporaryDir dir;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const QByteArray bytes = randomBytes(std::size_t(r.size), 31);
        const QString path = writeFile(dir, bytes);
        upload::Upload up(1);
        if (r.made == Made::kFromDigest) {
            filestamp::FileStamp stamp;
            ASSERT_EQ(digest::Md5OfFile(path, nullptr, &stamp).size(), 32u);
            EXPECT_EQ(stamp, filestamp::StampOf(path));
            up.Announced(path, stamp);
        } else {
            up.Announced(path);
        }
        upload::Upload::Chunk chunk;
        if (r.when != When::kBeforeFirst) {
            ASSERT_EQ(up.Acknowledged(chunk), Step::kChunk);
            ASSERT_EQ(chunk.last, r.when == When::kAfterLast);
            chunk = upload::Upload::Chunk();  // the link has written it
        }
        // A change in the same tick of file times as the stamp would not show.
        testsupport::untilALaterChangeTime(path);
        r.change(path);
        EXPECT_EQ(up.Acknowledged(chunk), r.next);
        if (r.next == Step::kChunk) {
            EXPECT_TRUE(chunk.bytes == bytes.left(kChunk));
            EXPECT_EQ(chunk.source, path);
        } else {
            EXPECT_TRUE(chunk.bytes.isEmpty());
            EXPECT_EQ(up.stage(), upload::Upload::Stage::kIdle);
            EXPECT_EQ(up.Acknowledged(chunk), Step::kNone);
            const bool changed = r.next == Step::kReadFailed;
            const QString file = QDir::toNativeSeparators(path);
            EXPECT_EQ(up.FailureMessage(9),
                      (changed ? u"The file changed while it was being sent: "_s : u"Cannot read the file: "_s) + file);
            EXPECT_EQ(up.FailureMessage(4), (changed ? u"文件在发送过程中被改动："_s : u"无法读取文件："_s) + file);
        }
    }
}

}  // namespace
