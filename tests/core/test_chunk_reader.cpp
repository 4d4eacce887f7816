// The chunk reader of material uploads: chunks in order behind the header
// room, the last one short (empty after a file of whole chunks), the next one
// read ahead on the reader's thread, read errors part way.
#include "core/layout/chunk_reader.h"
#include "tests/support/test_support.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

constexpr qsizetype kChunk = qsizetype(proto::kChunkSize);
constexpr qsizetype kRoom = qsizetype(proto::kHeaderSize);

// Serves `data`, then fails every read from byte `failAt` on.
class FailingDevice : public QIODevice {
public:
    FailingDevice(QByteArray data, qint64 failAt) : data_(std::move(data)), failAt_(failAt)
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* out, qint64 max) override
    {
        if (at_ >= failAt_)
            return -1;
        const qint64 n = std::min({max, failAt_ - at_, qint64(data_.size()) - at_});
        std::copy_n(data_.constData() + at_, n, out);
        at_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray data_;
    qint64 failAt_;
    qint64 at_ = 0;
};

struct Chunk {
    QByteArray bytes;
    bool last = false;
};

// Every chunk up to the last or a failure; `ahead` reads each next one ahead.
std::vector<Chunk> drain(layout::ChunkReader& reader, bool ahead, bool* failed)
{
    std::vector<Chunk> out;
    *failed = false;
    while (reader.hasMore()) {
        QByteArray packet;
        bool last = false;
        if (!reader.next(packet, last)) {
            *failed = true;
            break;
        }
        EXPECT_GE(packet.size(), kRoom);
        out.push_back({packet.mid(kRoom), last});
        if (ahead && !last)
            reader.readAhead();
    }
    return out;
}

TEST(ChunkReader, ChunksComeInOrderAndTheLastIsShortOrEmpty)
{
    QTemporaryDir dir;
    const struct {
        qsizetype size;
        std::vector<qsizetype> chunks;
    } rows[] = {
        {0, {0}},
        {1000, {1000}},
        {kChunk - 1, {kChunk - 1}},
        {kChunk, {kChunk, 0}},  // a file of whole chunks ends with an empty one
        {2 * kChunk + 5, {kChunk, kChunk, 5}},
    };
    for (const bool ahead : {false, true}) {
        for (const auto& row : rows) {
            const QByteArray data = testsupport::randomBytes(std::size_t(row.size), quint32(row.size));
            const QString path = dir.filePath(QStringLiteral("m%1").arg(row.size));
            ASSERT_TRUE(testsupport::writeFile(path, data));
            layout::ChunkReader reader;
            ASSERT_TRUE(reader.open(path));
            EXPECT_EQ(reader.length(), uint64_t(row.size));
            bool failed = true;
            const std::vector<Chunk> chunks = drain(reader, ahead, &failed);
            EXPECT_FALSE(failed) << row.size << " ahead " << ahead;
            ASSERT_EQ(chunks.size(), row.chunks.size()) << row.size << " ahead " << ahead;
            QByteArray joined;
            for (std::size_t i = 0; i < chunks.size(); ++i) {
                EXPECT_EQ(chunks[i].bytes.size(), row.chunks[i]) << row.size << " chunk " << i;
                EXPECT_EQ(chunks[i].last, i + 1 == chunks.size()) << row.size << " chunk " << i;
                joined += chunks[i].bytes;
            }
            EXPECT_EQ(joined, data) << row.size;
            EXPECT_EQ(reader.sent(), uint64_t(row.size));
            EXPECT_EQ(reader.percent(), 100);
            // After the last chunk nothing more comes, and nothing is read ahead.
            reader.readAhead();
            QByteArray packet;
            bool last = true;
            EXPECT_FALSE(reader.next(packet, last));
            EXPECT_FALSE(last);
        }
    }
}

TEST(ChunkReader, ReadErrorPartWayEndsTheFileAndTheNextFileReadsWhole)
{
    QTemporaryDir dir;
    const QByteArray data = testsupport::randomBytes(std::size_t(3 * kChunk), 3);
    const QString nextPath = dir.filePath(QStringLiteral("next"));
    const QByteArray nextData = testsupport::randomBytes(std::size_t(kChunk + 9), 4);
    ASSERT_TRUE(testsupport::writeFile(nextPath, nextData));
    // failAt: where reads start failing; whole: the chunks that still come.
    const struct {
        qint64 failAt;
        std::size_t whole;
    } rows[] = {
        {0, 0},
        {kChunk, 1},           // the read ahead of the second chunk fails
        {kChunk + 100, 1},     // part of the second chunk is there, then the failure
        {2 * kChunk + 1, 2},
    };
    for (const bool ahead : {false, true}) {
        for (const auto& row : rows) {
            layout::ChunkReader reader;
            ASSERT_TRUE(reader.open(std::make_unique<FailingDevice>(data, row.failAt), uint64_t(data.size())));
            bool failed = false;
            const std::vector<Chunk> chunks = drain(reader, ahead, &failed);
            EXPECT_TRUE(failed) << row.failAt;
            ASSERT_EQ(chunks.size(), row.whole) << row.failAt << " ahead " << ahead;
            for (std::size_t i = 0; i < chunks.size(); ++i) {
                EXPECT_EQ(chunks[i].bytes, data.mid(qsizetype(i) * kChunk, kChunk)) << i;
                EXPECT_FALSE(chunks[i].last);
            }
            EXPECT_FALSE(reader.hasMore());
            EXPECT_LT(reader.percent(), 100);
            // The upload goes on with the next file through the same reader.
            ASSERT_TRUE(reader.open(nextPath));
            const std::vector<Chunk> next = drain(reader, ahead, &failed);
            EXPECT_FALSE(failed);
            ASSERT_EQ(next.size(), 2u);
            EXPECT_EQ(next[0].bytes + next[1].bytes, nextData);
            EXPECT_TRUE(next[1].last);
        }
    }
}

TEST(ChunkReader, CloseOrReopenWhileReadingAheadDropsTheChunk)
{
    QTemporaryDir dir;
    const QByteArray first = testsupport::randomBytes(std::size_t(2 * kChunk), 5);
    const QByteArray second = testsupport::randomBytes(100, 6);
    const QString a = dir.filePath(QStringLiteral("a")), b = dir.filePath(QStringLiteral("b"));
    ASSERT_TRUE(testsupport::writeFile(a, first) && testsupport::writeFile(b, second));
    layout::ChunkReader reader;
    QByteArray packet;
    bool last = false;
    EXPECT_FALSE(reader.open(dir.filePath(QStringLiteral("missing"))));
    EXPECT_FALSE(reader.hasMore());
    EXPECT_FALSE(reader.next(packet, last));

    ASSERT_TRUE(reader.open(a));
    ASSERT_TRUE(reader.next(packet, last));
    reader.readAhead();
    reader.readAhead();  // one read at a time
    ASSERT_TRUE(reader.open(b));  // the chunk read ahead of `a` is not handed over
    EXPECT_EQ(reader.sent(), 0u);
    ASSERT_TRUE(reader.next(packet, last));
    EXPECT_TRUE(last);
    EXPECT_EQ(packet.mid(kRoom), second);

    ASSERT_TRUE(reader.open(a));
    ASSERT_TRUE(reader.next(packet, last));
    reader.readAhead();
    reader.close();
    EXPECT_FALSE(reader.hasMore());
    EXPECT_EQ(reader.length(), 0u);
    // Destroyed with a read under way: waits for it, leaks nothing.
    layout::ChunkReader other;
    ASSERT_TRUE(other.open(a));
    ASSERT_TRUE(other.next(packet, last));
    other.readAhead();
}

}  // namespace
