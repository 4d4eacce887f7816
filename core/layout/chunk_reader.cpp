// A file read in chunks, the next one ahead on a thread of its own.
#include "core/layout/chunk_reader.h"

#include <QFile>

#include <algorithm>
#include <system_error>

namespace layout {

ChunkReader::ChunkReader() = default;

ChunkReader::~ChunkReader()
{
    close();
}

bool ChunkReader::open(const QString& path)
{
    close();
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        return false;
    const uint64_t length = uint64_t(std::max<qint64>(0, file->size()));
    return open(std::move(file), length);
}

bool ChunkReader::open(std::unique_ptr<QIODevice> device, uint64_t length)
{
    close();
    if (!device || !device->isReadable())
        return false;
    device_ = std::move(device);
    length_ = length;
    return true;
}

void ChunkReader::close()
{
    release();
    length_ = sent_ = 0;
    ended_ = false;
}

void ChunkReader::release()
{
    if (thread_.joinable()) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (asked_)
                awaitRead(lock);  // the device stays the thread's until then
            quit_ = true;
            pending_ = QByteArray();
        }
        wake_.notify_all();
        thread_.join();
    }
    quit_ = false;
    want_ = done_ = asked_ = false;
    pending_ = QByteArray();
    device_.reset();
}

bool ChunkReader::read(QIODevice& device, QByteArray& packet)
{
    constexpr qsizetype room = qsizetype(proto::kHeaderSize);
    // Uninitialised: the read fills the chunk and the header fills the room.
    packet = QByteArray(room + qsizetype(proto::kChunkSize), Qt::Uninitialized);
    const qint64 n = device.read(packet.data() + room, qint64(proto::kChunkSize));
    if (n < 0) {
        packet = QByteArray();
        return false;
    }
    packet.resize(room + qsizetype(n));
    return true;
}

void ChunkReader::work()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || want_; });
        if (quit_)
            return;
        want_ = false;
        lock.unlock();
        QByteArray packet;
        bool ok = false;
        try {
            ok = read(*device_, packet);
        } catch (...) {
            // No memory for the chunk: it fails as a read does, and nothing
            // escapes the thread (that would end the program).
            packet = QByteArray();
        }
        lock.lock();
        pending_ = std::move(packet);
        pendingOk_ = ok;
        done_ = true;
        wake_.notify_all();
    }
}

void ChunkReader::awaitRead(std::unique_lock<std::mutex>& lock)
{
    wake_.wait(lock, [this] { return done_; });
    done_ = false;
    asked_ = false;
}

void ChunkReader::readAhead()
{
    if (!hasMore() || asked_)
        return;
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { work(); });
        } catch (const std::system_error&) {
            return;  // no thread: next() reads the chunk itself
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        want_ = true;
        asked_ = true;
    }
    wake_.notify_all();
}

bool ChunkReader::next(QByteArray& packet, bool& last)
{
    last = false;
    if (!hasMore())
        return false;
    bool ok = false;
    if (asked_) {
        std::unique_lock<std::mutex> lock(mutex_);
        awaitRead(lock);
        packet = std::move(pending_);
        pending_ = QByteArray();
        ok = pendingOk_;
    } else {
        ok = read(*device_, packet);
    }
    const uint64_t size = ok ? uint64_t(packet.size()) - proto::kHeaderSize : 0;
    // A short chunk before the length the file had when it was opened is a
    // read that failed part way (or a file cut short meanwhile): sent as the
    // last chunk, it would end the upload as if the file were whole.
    if (ok && size < proto::kChunkSize && sent_ + size < length_)
        ok = false;
    if (!ok) {
        ended_ = true;
        release();  // the file is not held open after its end
        packet = QByteArray();
        return false;
    }
    sent_ += size;
    last = size < proto::kChunkSize;
    if (last) {
        ended_ = true;
        release();
    }
    return true;
}

}  // namespace layout
