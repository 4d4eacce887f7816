#include "common/digest.h"

#include "platform/window.h"

#include <QCryptographicHash>
#include <QFile>

#include <array>
#include <memory>
#include <mutex>
#include <thread>

namespace digest {

namespace {

// The two 256-entry tables of the table-driven CRC-16/MODBUS, built once at
// compile time from the reflected polynomial 0xA001.
struct CrcTables {
    std::array<uint8_t, 256> hi{};
    std::array<uint8_t, 256> lo{};
};

constexpr CrcTables makeTables()
{
    CrcTables t;
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1;
        t.lo[i] = uint8_t(crc & 0xFF);
        t.hi[i] = uint8_t(crc >> 8);
    }
    return t;
}

constexpr CrcTables kTables = makeTables();

}  // namespace

std::string Md5OfFile(const QString& path)
{
    return Md5OfFile(path, nullptr);
}

std::string Md5OfFile(const QString& path, const std::function<bool(uint64_t done, uint64_t size)>& progress,
                      filestamp::FileStamp* stamp)
{
    QFile file(path);
    // Unbuffered, in blocks of 1 MiB: the bytes go from the system straight
    // into the block, a gigabyte of material in a thousand reads.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return std::string();
    if (stamp) {
        const std::optional<filestamp::FileStamp> opened = filestamp::StampOf(file.handle());
        if (!opened)
            return std::string();
        *stamp = *opened;
    }
    QCryptographicHash hash(QCryptographicHash::Md5);
    constexpr qint64 kBlock = 1 << 20;
    const std::unique_ptr<char[]> block(new char[std::size_t(kBlock)]);
    const uint64_t size = uint64_t(std::max<qint64>(0, file.size()));
    uint64_t done = 0;
    for (;;) {
        const qint64 n = file.read(block.get(), kBlock);
        if (n < 0)
            return std::string();  // a read error must not pass as a digest
        if (n == 0)
            break;
        hash.addData(QByteArrayView(block.get(), n));
        done += uint64_t(n);
        if (progress && !progress(done, size))
            return std::string();
    }
    return hash.result().toHex().toStdString();
}

uint16_t Crc16Modbus(const uint8_t* data, std::size_t length)
{
    uint8_t lo = 0xFF;
    uint8_t hi = 0xFF;
    for (std::size_t i = 0; i < length; ++i) {
        const uint8_t index = lo ^ data[i];
        lo = hi ^ kTables.lo[index];
        hi = kTables.hi[index];
    }
    return uint16_t(hi << 8 | lo);
}

bool CheckCrcTrailer(const uint8_t* data, std::size_t length)
{
    if (data == nullptr || length < 2)
        return false;
    const uint16_t crc = Crc16Modbus(data, length - 2);
    return data[length - 2] == uint8_t(crc & 0xFF) && data[length - 1] == uint8_t(crc >> 8);
}

void AppendCrcTrailer(QByteArray& data)
{
    const uint16_t crc =
        Crc16Modbus(reinterpret_cast<const uint8_t*>(data.constData()), std::size_t(data.size()));
    data.append(char(crc & 0xFF));
    data.append(char(crc >> 8));
}

// ------------------------------------------------------------ BackgroundMd5

// What the starting thread and its passes share. A pass posts only under
// the lock and only while it is not cancelled, so once Cancel has marked it
// the pass never touches the context again, whether or not it still runs.
struct BackgroundMd5::Shared {
    std::mutex mutex;
    uint64_t cancelled = 0;  // the generation cancelled last
};

BackgroundMd5::BackgroundMd5() : shared_(std::make_shared<Shared>()), context_(std::make_unique<QObject>()) {}

BackgroundMd5::~BackgroundMd5()
{
    Cancel();
}

void BackgroundMd5::Cancel()
{
    {
        std::lock_guard lock(shared_->mutex);
        shared_->cancelled = generation_;
    }
    running_ = false;
}

void BackgroundMd5::Start(const QString& path, Progress progress, Done done)
{
    Cancel();
    const uint64_t generation = ++generation_;
    running_ = true;
    // The callbacks, and the strings they hold, stay on this thread; the pass
    // posts only numbers and the digest. A string shared with the pass would
    // be freed by whichever thread let go last, through a count inside Qt
    // that the thread checker cannot see.
    progress_ = std::move(progress);
    done_ = std::move(done);
    const bool wantProgress = bool(progress_);
    std::shared_ptr<Shared> shared = shared_;
    QObject* context = context_.get();
    // What the thread posts runs on this thread, and only while this pass is
    // the current one: a cancelled pass's last posts are dropped here.
    auto current = [this, generation] { return generation_ == generation && running_; };
    // Posts `call` unless the pass was cancelled; false when it was.
    auto post = [shared, context, generation](std::function<void()> call) {
        std::lock_guard lock(shared->mutex);
        if (shared->cancelled >= generation)
            return false;
        platform::postCall(context, std::move(call));
        return true;
    };
    // The pass reads a copy of the path of its own, for the same reason.
    std::thread thread([file = QString(path.constData(), path.size()), shared, generation, wantProgress, current,
                        post, this]() {
        int shown = -1;
        filestamp::FileStamp stamp;
        const std::string md5 = Md5OfFile(
            file,
            [&](uint64_t doneBytes, uint64_t size) {
                const int percent = size == 0 ? 100 : int(doneBytes * 100 / size);
                if (percent == shown || !wantProgress) {
                    std::lock_guard lock(shared->mutex);
                    return shared->cancelled < generation;
                }
                shown = percent;
                return post([=, this] {
                    // A copy: the callback may start the next pass.
                    const Progress progress = progress_;
                    if (current() && progress)
                        progress(percent);
                });
            },
            &stamp);
        post([=, this] {
            if (!current())
                return;
            running_ = false;
            const Done done = std::move(done_);
            done_ = nullptr;
            progress_ = nullptr;
            if (done)
                done(md5, stamp);
        });
    });
    thread.detach();
}

}  // namespace digest
