#pragma once
// What a file was when something was made from it (a digest, an announce, a
// progress range): its size and its last modification. A file whose stamp
// has changed since is no longer the file that was announced.

#include <QString>

#include <cstdint>
#include <optional>

namespace filestamp {

struct FileStamp {
    uint64_t size = 0;
    int64_t modifiedNs = 0;  // nanoseconds since the epoch
    bool operator==(const FileStamp&) const = default;
};

// The stamp of an open descriptor, or nothing when it is no regular file.
std::optional<FileStamp> StampOf(int fd);
// The stamp of the file at `path` (links followed), or nothing when there is
// no regular file there.
std::optional<FileStamp> StampOf(const QString& path);

}  // namespace filestamp
