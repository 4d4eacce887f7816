#pragma once
// A file read in chunks of at most proto::kChunkSize bytes for an upload in
// acknowledged chunks. While one chunk is on the wire, the next is read on a
// thread of the reader's own, so that the player's acknowledgement finds it
// ready and the UI thread never waits for the disk in the middle of a file.

#include "transport/protocol.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace layout {

class ChunkReader {
public:
    ChunkReader();
    ~ChunkReader();  // waits for a read in progress
    ChunkReader(const ChunkReader&) = delete;
    ChunkReader& operator=(const ChunkReader&) = delete;

    // False when the file cannot be opened.
    bool open(const QString& path);
    // Any device open for reading, `length` bytes long (tests give devices
    // that fail part way).
    bool open(std::unique_ptr<QIODevice> device, uint64_t length);
    // Waits for a read in progress, then drops the file and what was read.
    void close();
    // True while a chunk is still to come: the file is open and its last
    // chunk (or a failure) has not been handed over yet. The file is closed
    // as soon as that happens.
    bool hasMore() const { return device_ != nullptr && !ended_; }
    // The next chunk as a packet to be: proto::kHeaderSize bytes of room for
    // the header, then the chunk (SendRequest::SetPacketInPlace fills the
    // room, so the chunk is read once and never copied). The chunk read
    // ahead is taken (waiting for it when it is not read yet), otherwise the
    // chunk is read now. `last` is set when the chunk is shorter than a whole
    // chunk, so a file whose length is a multiple of the chunk ends with an
    // empty one. False when reading fails, when the file ends before the
    // length it had when it was opened, or when no chunk is left; nothing
    // more comes from this file then.
    bool next(QByteArray& packet, bool& last);
    // Starts reading the following chunk on the reader's thread, while the
    // one just handed over is on its way. Nothing when no chunk is left or
    // a read is under way already.
    void readAhead();
    uint64_t length() const { return length_; }
    uint64_t sent() const { return sent_; }
    // Bytes sent / length x 100 (100 for an empty file).
    int percent() const { return length_ == 0 ? 100 : int(sent_ * 100 / length_); }

private:
    // One chunk behind the header room from `device`; false on a read error.
    static bool read(QIODevice& device, QByteArray& packet);
    void work();
    // Ends the thread (after a read in progress) and drops the device.
    void release();
    // Waits until the read asked for has finished. UI side.
    void awaitRead(std::unique_lock<std::mutex>& lock);

    // The device is used by the reader's thread only while a read it was
    // asked for runs (asked_ and not done_), by the owner's thread otherwise.
    std::unique_ptr<QIODevice> device_;
    uint64_t length_ = 0;
    uint64_t sent_ = 0;
    bool ended_ = false;  // the last chunk or a failure was handed over
    bool asked_ = false;  // a read ahead was started and not taken yet

    std::mutex mutex_;
    std::condition_variable wake_;
    bool want_ = false;  // the thread is to read one chunk
    bool done_ = false;  // it has: pending_ and pendingOk_ hold the result
    bool quit_ = false;
    QByteArray pending_;
    bool pendingOk_ = false;
    std::thread thread_;
};

}  // namespace layout
