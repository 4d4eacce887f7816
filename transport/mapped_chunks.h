#pragma once
// One file's upload chunks handed out without copying them: each chunk is a
// read-only mapping of its part of the file, shared with the link that
// writes it, so the bytes go from the page cache into the socket in one
// copy instead of being read into a buffer first.
//
// The chunks are those of upload::ChunkReader: at most 8,192,000 bytes, the
// last one shorter (a file of whole chunks ends with an empty one), cut from
// the size the file had when it was opened. Where the system cannot map the
// file, the chunk is read into an array of its own instead.

#include "transport/upload_chunks.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

namespace upload {

class MappedChunks {
public:
    MappedChunks() = default;
    ~MappedChunks();
    MappedChunks(const MappedChunks&) = delete;
    MappedChunks& operator=(const MappedChunks&) = delete;

    bool Open(const QString& path);  // false when it cannot be opened
    // Chunks handed out stay valid for as long as their owners are held.
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    uint64_t Size() const { return size_; }
    uint64_t Sent() const { return sent_; }

    // The next chunk. `chunk` refers to the mapping, which `owner` keeps;
    // whoever uses the bytes holds `owner` until done (the array must not be
    // changed: a change would copy it). Read instead of mapped, `chunk` owns
    // its bytes and `owner` is empty. False, with the file closed, `chunk`
    // empty and `last` true, when the file is now shorter than the chunk to come or
    // cannot be read: it has changed since it was opened, and a chunk cut
    // short would not be the one its header announces.
    bool Next(QByteArray& chunk, std::shared_ptr<const void>& owner, bool& last);
    // Done x 100 / size (100 for an empty file).
    int Percent() const;

private:
    bool ReadChunk(QByteArray& chunk, uint64_t length);

    int fd_ = -1;
    uint64_t size_ = 0;
    uint64_t sent_ = 0;
};

}  // namespace upload
