#include "transport/chunk_source.h"

#include <QFile>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace upload {

namespace {

// One window's mapping, undone when its last holder lets go (the reader, or
// the link thread once the window's last chunk is written).
struct Mapping {
    void* address = nullptr;
    std::size_t length = 0;
    ~Mapping() { ::munmap(address, length); }
};

}  // namespace

// One pending range at a time: a newer one replaces a range not yet begun,
// since the source only ever needs the chunk after the one just handed out.
// The range's owner keeps its mapping alive until its pages are in. Only
// the page tables are touched (MADV_POPULATE_READ), never the bytes: a file
// cut short meanwhile makes the call fail instead of raising SIGBUS, and a
// system without the call simply goes without.
//
// The thread is not waited for: a page closed during an upload from a slow
// disk must not hang the UI thread until the chunk being warmed is read. It
// holds the state it shares with the warmer and ends on its own once told to
// stop, after the call it may be in.
class PageWarmer {
public:
    PageWarmer() : state_(std::make_shared<State>())
    {
        std::thread thread([state = state_] { run(*state); });
        ::pthread_setname_np(thread.native_handle(), "chunk-warm");
        thread.detach();
    }
    ~PageWarmer()
    {
        std::shared_ptr<const void> dropped;
        {
            std::lock_guard lock(state_->mutex);
            state_->stopping = true;
            dropped = std::move(state_->owner);
        }
        state_->wake.notify_one();
    }
    PageWarmer(const PageWarmer&) = delete;
    PageWarmer& operator=(const PageWarmer&) = delete;

    void Warm(std::shared_ptr<const void> owner, const char* address, std::size_t length)
    {
        std::shared_ptr<const void> replaced;
        {
            std::lock_guard lock(state_->mutex);
            replaced = std::exchange(state_->owner, std::move(owner));
            state_->address = address;
            state_->length = length;
        }
        state_->wake.notify_one();
    }

    void Drop()
    {
        std::shared_ptr<const void> dropped;
        std::lock_guard lock(state_->mutex);
        dropped = std::move(state_->owner);
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::shared_ptr<const void> owner;  // set: a range waits
        const char* address = nullptr;
        std::size_t length = 0;
        bool stopping = false;
    };

    static void run(State& state)
    {
        std::unique_lock lock(state.mutex);
        for (;;) {
            state.wake.wait(lock, [&state] { return state.stopping || state.owner; });
            if (state.stopping)
                return;
            std::shared_ptr<const void> owner = std::move(state.owner);
            const char* address = state.address;
            const std::size_t length = state.length;
            lock.unlock();
#ifdef MADV_POPULATE_READ
            ::madvise(const_cast<char*>(address), length, MADV_POPULATE_READ);
#else
            (void)address;
            (void)length;
#endif
            owner.reset();  // may undo the mapping: outside the lock
            lock.lock();
        }
    }

    std::shared_ptr<State> state_;
};

ChunkSource::ChunkSource(int windowChunks) : windowChunks_(windowChunks < 1 ? 1 : windowChunks) {}

ChunkSource::~ChunkSource()
{
    Close();
}

bool ChunkSource::Open(const QString& path)
{
    Close();
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // A regular file only: a pipe or a device has no size to cut chunks from.
    const std::optional<filestamp::FileStamp> opened = filestamp::StampOf(fd);
    if (!opened) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    opened_ = *opened;
    sent_ = 0;
    lastOut_ = false;
    refusedAsChanged_ = false;
    return true;
}

void ChunkSource::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    lastOut_ = false;
    ReleaseWindow();
}

void ChunkSource::ReleaseWindow()
{
    if (warmer_)
        warmer_->Drop();
    window_.reset();
    windowBase_ = nullptr;
    windowStart_ = windowEnd_ = 0;
}

bool ChunkSource::Unchanged() const
{
    return fd_ >= 0 && filestamp::StampOf(fd_) == opened_;
}

bool ChunkSource::MapWindow()
{
    window_.reset();
    windowBase_ = nullptr;
    // Windows start at multiples of 8,192,000 bytes, which pages of 4 and
    // 64 KiB divide; anything else is read instead of mapped.
    const long page = ::sysconf(_SC_PAGESIZE);
    if (page <= 0 || sent_ % uint64_t(page) != 0)
        return false;
    const uint64_t length = std::min<uint64_t>(uint64_t(windowChunks_) * kChunk, opened_.size - sent_);
    void* address = ::mmap(nullptr, std::size_t(length), PROT_READ, MAP_SHARED, fd_, off_t(sent_));
    if (address == MAP_FAILED)
        return false;
    ::madvise(address, std::size_t(length), MADV_SEQUENTIAL);
    auto mapping = std::make_shared<Mapping>();
    mapping->address = address;
    mapping->length = std::size_t(length);
    windowBase_ = static_cast<const char*>(address);
    windowStart_ = sent_;
    windowEnd_ = sent_ + length;
    window_ = std::move(mapping);
    return true;
}

bool ChunkSource::ReadChunk(QByteArray& chunk, uint64_t length)
{
    chunk = QByteArray(qsizetype(length), Qt::Uninitialized);
    uint64_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd_, chunk.data() + done, std::size_t(length - done), off_t(sent_ + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += uint64_t(n);
    }
    return true;
}

bool ChunkSource::Next(QByteArray& chunk, std::shared_ptr<const void>& owner, bool& last)
{
    chunk = QByteArray();
    owner.reset();
    last = true;
    refusedAsChanged_ = false;
    if (fd_ < 0)
        return false;
    // Written since it was opened, even at the same size with its time put
    // back: the chunks already out and this one would not be one file.
    if (lastOut_ || !Unchanged()) {
        refusedAsChanged_ = !lastOut_;
        Close();
        return false;
    }
    const uint64_t length = std::min<uint64_t>(kChunk, opened_.size - sent_);
    if (length > 0) {
        const bool inWindow = window_ && sent_ >= windowStart_ && sent_ + length <= windowEnd_;
        if (inWindow || MapWindow()) {
            // Only the kernel reads these bytes (the link's send): a file cut
            // short meanwhile fails that write instead of raising SIGBUS here.
            chunk = QByteArray::fromRawData(windowBase_ + (sent_ - windowStart_), qsizetype(length));
            owner = window_;
        } else if (!ReadChunk(chunk, length)) {
            chunk = QByteArray();
            Close();
            return false;
        }
    }
    sent_ += length;
    last = length < kChunk;
    if (last) {
        // Nothing more is mapped or read; the file stays open so that it can
        // be looked at once more when this chunk has been taken.
        lastOut_ = true;
        ReleaseWindow();
    } else {
        WarmNext();
    }
    return true;
}

void ChunkSource::WarmNext()
{
    const uint64_t length = std::min<uint64_t>(kChunk, opened_.size - sent_);
    if (length == 0)
        return;
    // The window the next chunk is in is mapped now rather than when it is
    // asked for; the chunk just handed out keeps its own window alive.
    const bool inWindow = window_ && sent_ >= windowStart_ && sent_ + length <= windowEnd_;
    if (!inWindow && !MapWindow()) {
        // Read instead: the next chunk comes from the disk while this one is
        // on the wire. Not for mapped chunks: on this thread the hint costs
        // about as much as the rest of an acknowledgement's handling (it walks
        // the chunk's pages even when they are all cached), and the warmer
        // brings them in anyway.
        ::posix_fadvise(fd_, off_t(sent_), off_t(length), POSIX_FADV_WILLNEED);
        return;
    }
    if (!warmer_)
        warmer_ = std::make_unique<PageWarmer>();
    warmer_->Warm(window_, windowBase_ + (sent_ - windowStart_), std::size_t(length));
}

int ChunkSource::Percent() const
{
    if (opened_.size == 0)
        return 100;
    // 128-bit: bytes x 100 must not wrap for any file size.
    const auto percent = static_cast<unsigned __int128>(sent_) * 100u / opened_.size;
    return int(std::min<unsigned __int128>(percent, 100));
}

void Upload::Announced(const QString& path)
{
    announce(path, filestamp::StampOf(path));
}

void Upload::Announced(const QString& path, const std::optional<filestamp::FileStamp>& stamp)
{
    announce(path, stamp);
}

void Upload::announce(const QString& path, std::optional<filestamp::FileStamp> stamp)
{
    source_.Close();
    path_ = path;
    announced_ = stamp;
    stage_ = Stage::kAnnounced;
    refusedAsChanged_ = false;
}

bool Upload::Open(const QString& path)
{
    Reset();
    path_ = path;
    refusedAsChanged_ = false;
    if (!source_.Open(path))
        return false;
    stage_ = Stage::kChunks;
    return true;
}

void Upload::Reset()
{
    source_.Close();
    stage_ = Stage::kIdle;
}

Upload::Step Upload::Next(Chunk& chunk)
{
    chunk = Chunk();
    if (!source_.IsOpen()) {
        Reset();
        return Step::kReadFailed;
    }
    if (!source_.Next(chunk.bytes, chunk.owner, chunk.last)) {
        refusedAsChanged_ = source_.RefusedAsChanged();
        chunk = Chunk();
        Reset();
        return Step::kReadFailed;
    }
    chunk.source = path_;
    chunk.ordinal = ChunkOrdinal(source_.Sent());
    chunk.percent = source_.Percent();
    stage_ = chunk.last ? Stage::kLastSent : Stage::kChunks;
    return Step::kChunk;
}

Upload::Step Upload::Acknowledged(Chunk& chunk)
{
    chunk = Chunk();
    switch (stage_) {
    case Stage::kIdle:
        return Step::kNone;
    case Stage::kAnnounced:
        if (!source_.Open(path_)) {
            Reset();
            return Step::kOpenFailed;
        }
        // Written or cut since it was announced: none of it goes.
        if (!announced_ || source_.Opened() != *announced_) {
            refusedAsChanged_ = announced_.has_value();
            Reset();
            return Step::kReadFailed;
        }
        return Next(chunk);
    case Stage::kChunks:
        return Next(chunk);
    case Stage::kLastSent: {
        // A write while the last chunk was on the wire may have gone out
        // with it: the player took a file that is not the one announced.
        const bool unchanged = source_.Unchanged();
        refusedAsChanged_ = !unchanged;
        Reset();
        return unchanged ? Step::kEnd : Step::kReadFailed;
    }
    }
    return Step::kNone;
}

QString Upload::FailureMessage(int language) const
{
    return refusedAsChanged_ ? ChangedFileMessage(path_, language) : ReadFailureMessage(path_, language);
}

std::unique_ptr<SendRequest> ChunkRequest(const proto::PlayerPacketHeader& header, Upload::Chunk&& chunk)
{
    auto request = std::make_unique<SendRequest>();
    const bool taken = request->SetPacketWithBody(header, chunk.bytes, std::move(chunk.owner), chunk.source);
    chunk = Upload::Chunk();
    if (!taken)
        return nullptr;
    return request;
}

}  // namespace upload
