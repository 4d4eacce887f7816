#pragma once
// One file's upload chunks handed out without copying them: each chunk is
// part of a read-only mapping of the file, shared with the link that writes
// it, so the bytes go from the page cache into the socket in one copy
// instead of being read into a buffer first. The file is mapped a window of
// chunks at a time: one mapping and its undoing for many chunks, while the
// page tables of a long video stay bounded.
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
    static constexpr int kWindowChunks = 32;  // 262,144,000 bytes a mapping

    explicit MappedChunks(int windowChunks = kWindowChunks) : windowChunks_(windowChunks < 1 ? 1 : windowChunks) {}
    ~MappedChunks();
    MappedChunks(const MappedChunks&) = delete;
    MappedChunks& operator=(const MappedChunks&) = delete;

    bool Open(const QString& path);  // false when it cannot be opened
    // Chunks handed out stay valid for as long as their owners are held.
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    uint64_t Size() const { return size_; }
    uint64_t Sent() const { return sent_; }

    // The next chunk. `chunk` refers to a mapping, which `owner` keeps;
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
    bool MapWindow();

    int windowChunks_;
    std::shared_ptr<const void> window_;  // the mapping the next chunk is in
    const char* windowBase_ = nullptr;
    uint64_t windowStart_ = 0;
    uint64_t windowEnd_ = 0;
    int fd_ = -1;
    uint64_t size_ = 0;
    uint64_t sent_ = 0;
};

}  // namespace upload
