#pragma once
// The MD5 digest text of a file and the CRC-16/MODBUS check of configuration
// files that travel to and from the player.

#include "common/file_stamp.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace digest {

// 32 lower-case hexadecimal characters, or empty when the file cannot be read.
std::string Md5OfFile(const QString& path);
// The same, telling `progress` the bytes done and the file's size after
// every block; it returns false to stop (the result is empty then). With
// `stamp`, the file's stamp as it was opened, before its first byte was read:
// a file that changes while it is read no longer matches it afterwards.
std::string Md5OfFile(const QString& path, const std::function<bool(uint64_t done, uint64_t size)>& progress,
                      filestamp::FileStamp* stamp = nullptr);

// A file's MD5 worked out on a thread of its own, so that the window goes on
// answering while a large file is read. The callbacks run on the thread that
// started the pass (it must run an event loop), never after Cancel or the
// destructor; a new Start cancels the pass before it. Neither Cancel nor the
// destructor waits for the thread: a pass stuck in a read of a slow disk
// must not hang the window; the thread ends on its own after that read.
class BackgroundMd5 {
public:
    using Progress = std::function<void(int percent)>;
    // `md5` empty when unreadable; `stamp`: the file as the digest was taken
    // of it, what its chunks must still match when they start.
    using Done = std::function<void(const std::string& md5, const filestamp::FileStamp& stamp)>;

    BackgroundMd5();
    ~BackgroundMd5();  // cancels
    BackgroundMd5(const BackgroundMd5&) = delete;
    BackgroundMd5& operator=(const BackgroundMd5&) = delete;

    void Start(const QString& path, Progress progress, Done done);
    void Cancel();
    bool Running() const { return running_; }

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<QObject> context_;  // the starting thread's end of the posts
    Progress progress_;  // the current pass's, kept on the starting thread
    Done done_;
    uint64_t generation_ = 0;
    bool running_ = false;
};

// CRC-16/MODBUS (reflected polynomial 0xA001, initial 0xFFFF, no final XOR).
uint16_t Crc16Modbus(const uint8_t* data, std::size_t length);

// True when the last two bytes of `data` are the CRC of the bytes before
// them, low byte first. False for fewer than two bytes.
bool CheckCrcTrailer(const uint8_t* data, std::size_t length);

// Appends the two-byte trailer (low byte first) to `data`.
void AppendCrcTrailer(QByteArray& data);

}  // namespace digest
