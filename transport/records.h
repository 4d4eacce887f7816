#pragma once
// Plain records that carry packets between dialogs, the document and the
// links, and the record that rebuilds one reply from raw chunks.

#include "transport/protocol.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

struct SendTarget {
    QString ip;     // dotted IPv4 text
    QString spare;  // left empty
    uint16_t port = 0;
    uint16_t slot = 0;
};

// One outgoing packet handed to the main window with WM_SEND_TO_PLAYER.
// The receiver of that message owns (and deletes) the request.
struct SendRequest {
    std::vector<SendTarget> targets;  // empty: the document's current player
    // Targets AddTarget refused: a request left without targets because of
    // them names nobody and must not go to the current player instead.
    uint32_t refusedTargets = 0;
    QByteArray data;                  // header at 0, payload from 16; at most proto::kBufferSize bytes
    // A payload that follows `data` on the wire without being copied into
    // it (a mapped file chunk), and what keeps its memory; the link holds
    // both until the packet is written. Empty for most packets.
    QByteArray body;
    std::shared_ptr<const void> bodyOwner;
    QString bodySource;  // the file `body` comes from, if any
    // veluna's document ends the link it holds to each target and opens a
    // new one before the packet goes (a request without a packet only
    // renews the link): nothing the old connection still owes is read.
    bool freshLink = false;

    uint32_t length() const { return uint32_t(data.size() + body.size()); }
    // Ignores (and counts in refusedTargets) an empty IP and a port below
    // 1025. `tag` goes into the target's slot field: Tollivar's links report
    // it with every event of the link opened for this target.
    void AddTarget(const QString& ip, uint16_t port, uint16_t tag = 0);
    // Header (payloadLength set from the payload) followed by the payload.
    // False, leaving the request empty, when the packet would not fit.
    bool SetPacket(const proto::PlayerPacketHeader& header, const QByteArray& payload = QByteArray());
    // The same with the payload as `body` (shared, not copied, with what
    // keeps its memory, which may be null for an array that owns its bytes,
    // and the file it comes from): `data` becomes the 16-byte header alone.
    // Every file chunk goes so.
    bool SetPacketWithBody(const proto::PlayerPacketHeader& header, const QByteArray& payload,
                           std::shared_ptr<const void> owner, const QString& source = QString());
};

// Finds the main window by the application title and hands it the request
// (WM_SEND_TO_PLAYER, synchronous). The request is always consumed: freed
// here when no window has that title. True when a window took it.
bool SendToMainWindow(SendRequest* request);

// Rebuilds replies from the raw chunks of one link. One assembler per link:
// two players' replies never share one.
//
// The byte stream is framed by the 16-byte header: a reply may arrive split
// across any number of chunks (its header too), and one chunk may carry the
// end of one reply and the start of the next; every complete reply is handed
// to the completion callback, in order. Between replies, bytes that cannot
// begin a header (the magic 5A 5A 5A A5 followed by a command byte other than
// 0) are skipped. While a payload is being collected its bytes are taken as
// they come, even when they look like a header. A reply announcing more
// payload than the 10 MB buffer holds is dropped and the assembler looks for
// the next header.
//
// A length field larger than what follows would keep the assembler inside
// one reply for ever, taking every later reply as its payload. With an
// incomplete-reply limit set, such a reply is dropped and the bytes that came
// after its header are searched again for headers, so the complete replies
// among them are handed on. Bytes still coming do not prove the length true
// (the replies behind a lie keep coming too), so a reply is also bounded by
// its announced length: an honest reply on a slow link finishes, a lie is
// dropped once even a slow link would have brought that much.
class ReplyAssembler {
public:
    enum State : uint8_t {
        kIdle = 0x10,            // between replies
        kHeaderExpected = 0x20,  // fresh, or holding the first bytes of a header
        kCollecting = 0x40,      // header read, payload arriving
        kComplete = 0x80,        // set while the completion callback runs
    };
    static constexpr std::size_t kBufferSize = proto::kBufferSize;

    // Runs once per complete reply; the assembler's fields describe it
    // during the call. The callback may call reset(); the rest of the chunk
    // is then discarded.
    using Completion = std::function<void(const ReplyAssembler&)>;

    ReplyAssembler();

    using Clock = std::chrono::steady_clock;
    // A reply being collected is dropped when no byte of it has come for
    // `stall`, or when, since its header, it has taken longer than `stall`
    // plus its announced length at `slowBytesPerSecond` (0: no allowance
    // for the length). A `stall` of zero (the default) waits as long as it
    // takes. `now` replaces the clock (tests).
    void setIncompleteLimit(std::chrono::milliseconds stall, uint32_t slowBytesPerSecond,
                            std::function<Clock::time_point()> now = {});
    // Runs each time the limit drops a reply that was still arriving, before
    // the bytes after its header are searched again; `header` and
    // `received` describe the dropped reply during the call. The owner
    // learns so which link lost a reply; the notice must neither feed nor
    // reset this assembler. Kept when the limit is set again.
    using ExpiryNotice = std::function<void(const ReplyAssembler&)>;
    void setExpiryNotice(ExpiryNotice notice) { expiryNotice_ = std::move(notice); }
    // Whether a reply is being collected under a limit (its owner then
    // calls expireIncomplete now and then, as nothing else may arrive).
    bool awaitsExpiry() const { return limit_.count() > 0 && state == kCollecting; }
    // Drops a reply incomplete for longer than the limit and searches the
    // bytes after its header again, handing every complete reply among them
    // to `done`. True when one was dropped. feed() calls it first.
    bool expireIncomplete(const Completion& done);

    // Address, port and link index of the player whose reply is complete.
    QString peerIp;
    uint16_t port = 0;
    uint16_t linkIndex = 0;
    proto::PlayerPacketHeader header;  // of the reply being rebuilt / handed over
    uint8_t state = kHeaderExpected;
    uint32_t received = 0;  // payload bytes held

    void feed(const QString& peer, uint16_t peerPort, uint16_t link, const uint8_t* data, std::size_t length,
              const Completion& done);
    // Discards a partly rebuilt reply: state idle, nothing held.
    void reset();

    const uint8_t* payload() const { return buffer_.data(); }
    QByteArray payloadBytes() const;
    // Bytes of a header held while it is still incomplete (0..15).
    std::size_t pendingHeaderBytes() const { return pending_.size(); }
    // Replies dropped because they could not be held (for diagnostics).
    uint32_t droppedReplies() const { return dropped_; }

private:
    std::vector<uint8_t> buffer_;   // grows up to kBufferSize, never shrinks
    std::vector<uint8_t> pending_;  // first bytes of a header
    uint64_t generation_ = 0;       // bumped by reset()
    uint32_t dropped_ = 0;
    std::chrono::milliseconds limit_{0};  // the stall limit
    uint32_t slowRate_ = 0;               // bytes a second the length is allowed at
    std::function<Clock::time_point()> now_;
    ExpiryNotice expiryNotice_;
    Clock::time_point headerAt_{};     // when the reply being collected began
    Clock::time_point lastBytesAt_{};  // when its last bytes came
    // Where the last bytes came from, for the replies found again on expiry.
    QString lastPeer_;
    uint16_t lastPort_ = 0;
    uint16_t lastLink_ = 0;
};

// One player as the user chose it; also the document's current player.
struct PlayerRow {
    QString ip;
    QString mac;
    QString portText;
    QString id;
    QString versionText;
    uint16_t version = 0;      // player version word
    uint16_t fpgaVersion = 0;
    uint16_t channelCode = 0;  // channel-layout code
};

// One video of the player's store: 276 bytes on the wire.
struct CatalogVideo {
    static constexpr std::size_t kSize = 276;
    std::array<uint8_t, 256> name{};   // double-byte code-page text, zero-filled
    std::array<uint8_t, 8> category{};
    uint64_t size = 0;
    std::array<uint8_t, 4> spare{};    // not read by this tool
};

// One category of the player's store: 1,034 bytes on the wire.
struct CatalogCategory {
    static constexpr std::size_t kSize = 1034;
    std::array<uint8_t, 8> name{};
    uint16_t count = 0;
    std::array<uint16_t, 512> videoIndex{};  // indexes into PlayerCatalog::videos
};

// The player's video store: the payload of the CMD_VIDEO_LIST reply.
struct PlayerCatalog {
    static constexpr std::size_t kVideoCount = 512;
    static constexpr std::size_t kCategoryCount = 64;
    static constexpr std::size_t kVideosOffset = 8;
    static constexpr std::size_t kCategoriesOffset = kVideosOffset + kVideoCount * CatalogVideo::kSize;  // 141,320
    static constexpr std::size_t kSize = kCategoriesOffset + kCategoryCount * CatalogCategory::kSize;     // 207,496

    uint32_t totalMB = 0;
    uint32_t freeMB = 0;
    std::array<CatalogVideo, kVideoCount> videos{};
    std::array<CatalogCategory, kCategoryCount> categories{};

    // False (and *this untouched) unless `length` is exactly kSize.
    bool unpack(const uint8_t* data, std::size_t length);
    QByteArray pack() const;
};

// A file queued for sending with the kind that goes into the announce packet.
struct SendFileEntry {
    QString path;
    QString spare;
    uint16_t kind = 0;  // 0 picture, 1 video (param of the announce packet)
    uint16_t reserved = 0;
};

// A queue of files to send and the transfer state of the first one.
template <class Entry>
struct SendList {
    std::vector<Entry> entries;
    std::unique_ptr<QFile> file;  // the file being sent; null when idle
    uint32_t reserved = 0;
    uint32_t fileLength = 0;
    uint32_t sent = 0;  // bytes sent; in the layout-name list: layouts sent in a batch
    uint8_t stage = 0;  // 0 announced, 1 more to send, 2 last chunk sent

    void closeFile() { file.reset(); }
    void clear()
    {
        entries.clear();
        closeFile();
        reserved = fileLength = sent = 0;
        stage = 0;
    }
};
using LayoutNameList = SendList<QString>;
using MaterialList = SendList<SendFileEntry>;
