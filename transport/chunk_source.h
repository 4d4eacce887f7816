#pragma once
// The one source of every file upload's chunks, and the sequence of
// announce, chunks and end every upload to a player runs through.
//
// Chunks are handed out without copying them: each is part of a read-only
// mapping of the file, shared with the link that writes it, so the bytes go
// from the page cache into the socket in one copy instead of being read into
// a buffer first. The file is mapped a window of chunks at a time: one
// mapping and its undoing for many chunks, while the page tables of a long
// video stay bounded.
//
// Chunks are at most 8,192,000 bytes, the last one shorter (a file of whole
// chunks ends with an empty one), cut from the size the file had when it was
// opened. Where the system cannot map the file, the chunk is read into an
// array of its own instead. Before every chunk the open file's whole stamp is
// looked at again: a file written, cut, grown or touched since it was opened
// is refused before any of that chunk goes out, also when its size and its
// modification time were kept.
//
// While one chunk is on the wire, the next one's pages are read from the disk
// if need be and faulted into the mapping on a thread of the source's own
// (see PageWarmer). Neither the disk nor a page fault every few pages then
// stands between an acknowledgement and the next chunk, and the UI thread,
// which hands the chunks out, waits for neither.

#include "common/file_stamp.h"
#include "transport/records.h"
#include "transport/upload_chunks.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace upload {

class PageWarmer;

class ChunkSource {
public:
    static constexpr int kWindowChunks = 32;  // 262,144,000 bytes a mapping

    explicit ChunkSource(int windowChunks = kWindowChunks);
    ~ChunkSource();
    ChunkSource(const ChunkSource&) = delete;
    ChunkSource& operator=(const ChunkSource&) = delete;

    bool Open(const QString& path);  // false when it cannot be opened
    // Chunks handed out stay valid for as long as their owners are held.
    void Close();
    // Open until Close, also after the last chunk: the file can still be
    // looked at while that chunk is on the wire.
    bool IsOpen() const { return fd_ >= 0; }
    // The open file is still as it was opened: no byte of it written, no
    // change of its size or status since (false when closed).
    bool Unchanged() const;
    // The file as it was opened (its size is the one the chunks are cut from).
    const filestamp::FileStamp& Opened() const { return opened_; }
    uint64_t Size() const { return opened_.size; }
    uint64_t Sent() const { return sent_; }

    // The next chunk. `chunk` refers to a mapping, which `owner` keeps;
    // whoever uses the bytes holds `owner` until done (the array must not be
    // changed: a change would copy it). Read instead of mapped, `chunk` owns
    // its bytes and `owner` is empty. False, with the file closed, `chunk`
    // empty and `last` true, when the file has changed since it was opened
    // or cannot be read (a chunk cut short or mixed would not be the one its
    // header announces), and after the last chunk.
    bool Next(QByteArray& chunk, std::shared_ptr<const void>& owner, bool& last);
    // Whether the last refusal of Next was for a change of the file rather
    // than a failed read; cleared by Open.
    bool RefusedAsChanged() const { return refusedAsChanged_; }
    // Done x 100 / size (100 for an empty file).
    int Percent() const;

private:
    bool ReadChunk(QByteArray& chunk, uint64_t length);
    bool MapWindow();
    void WarmNext();
    void ReleaseWindow();

    int windowChunks_;
    std::shared_ptr<const void> window_;  // the mapping the next chunk is in
    const char* windowBase_ = nullptr;
    uint64_t windowStart_ = 0;
    uint64_t windowEnd_ = 0;
    int fd_ = -1;
    filestamp::FileStamp opened_;
    uint64_t sent_ = 0;
    bool lastOut_ = false;  // the last chunk was handed out
    bool refusedAsChanged_ = false;
    std::unique_ptr<PageWarmer> warmer_;  // started by the first file of more than one chunk
};

// One file's upload, whatever the path: the announce goes out, the player's
// acknowledgement of it opens the file and brings the first chunk, each
// further acknowledgement the next, and the acknowledgement of the last
// chunk ends the file. The path builds its own announce and headers (their
// sub-codes, ordinals and arguments are its own); this holds where the file
// is and hands out the chunks.
//
// The file sent is the file announced: what the announce was made from (the
// file's stamp when it went out, or when its digest was taken) must still be
// the file when its chunks start, before each further chunk, and when the
// last one is acknowledged. A file written, cut or replaced in between is
// refused as unreadable, instead of going out whole in appearance under a
// digest or a progress range it no longer matches; before any of it goes
// when that is still to come. The user is told which of the two it was.
class Upload {
public:
    enum class Stage : uint8_t {
        kIdle = 0,       // nothing announced
        kAnnounced = 1,  // the announce awaits its acknowledgement
        kChunks = 2,     // a chunk awaits its acknowledgement, more to come
        kLastSent = 3,   // the last chunk awaits its acknowledgement
    };
    enum class Step : uint8_t {
        kNone,         // idle: nothing awaited an acknowledgement
        kChunk,        // `chunk` is the next to send
        kEnd,          // the last chunk was acknowledged: the file is done
        kOpenFailed,   // the file could not be opened: nothing was sent
        // Unreadable, or changed since it was announced or opened: no part of
        // the chunk was sent. At the last chunk's acknowledgement: the file
        // changed while that chunk was on the wire, so what went may not be
        // the file announced.
        kReadFailed,
    };
    struct Chunk {
        QByteArray bytes;                    // refers to `owner`'s memory when mapped
        std::shared_ptr<const void> owner;   // keeps the bytes; the link holds it until written
        bool last = true;
        uint16_t ordinal = 1;                // ChunkOrdinal of the bytes sent with this one
        int percent = 100;
        QString source;                      // the file the bytes come from
    };

    explicit Upload(int windowChunks = ChunkSource::kWindowChunks) : source_(windowChunks) {}

    // The announce of `path` went out (the file is not opened yet: a player
    // that has it already never makes us read it). The file as it is now is
    // what the chunks must come from.
    void Announced(const QString& path);
    // The same for an announce made from `stamp` (the file as its digest
    // was taken, or as its size was counted), which the chunks must come
    // from; nothing when there was no file to stamp.
    void Announced(const QString& path, const std::optional<filestamp::FileStamp>& stamp);
    // Starts at the first chunk without an announce (paths whose first
    // chunk goes out unasked). False when the file cannot be opened.
    bool Open(const QString& path);
    // What the acknowledgement of the packet last sent brings. After kEnd,
    // kOpenFailed and kReadFailed the upload is idle and the file closed.
    Step Acknowledged(Chunk& chunk);
    // The same where no chunk can follow: the last chunk's acknowledgement,
    // kEnd when the file is still the one announced, else kReadFailed.
    Step Acknowledged()
    {
        Chunk none;
        return Acknowledged(none);
    }
    // The next chunk at once (after Open, or to send without waiting).
    Step Next(Chunk& chunk);
    void Reset();
    // After kReadFailed: whether the file was refused because it changed
    // (written, cut, replaced, its status changed) since it was announced
    // or opened, rather than because it could not be read.
    bool RefusedAsChanged() const { return refusedAsChanged_; }
    // What the user is told of the last kReadFailed: that the file changed
    // while it was being sent, or that it cannot be read, naming it.
    QString FailureMessage(int language) const;

    Stage stage() const { return stage_; }
    const QString& path() const { return path_; }
    uint64_t size() const { return source_.Size(); }
    uint64_t sent() const { return source_.Sent(); }
    int percent() const { return source_.Percent(); }

private:
    void announce(const QString& path, std::optional<filestamp::FileStamp> stamp);

    ChunkSource source_;
    QString path_;
    std::optional<filestamp::FileStamp> announced_;  // nothing: no file was there to announce
    Stage stage_ = Stage::kIdle;
    bool refusedAsChanged_ = false;
};

// The request for one chunk: the header with its payload length, the chunk
// as the shared body (never copied), named by its file so that a body the
// link cannot read is reported by that name. Null when the chunk cannot travel.
std::unique_ptr<SendRequest> ChunkRequest(const proto::PlayerPacketHeader& header, Upload::Chunk&& chunk);

}  // namespace upload
