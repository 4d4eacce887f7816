#pragma once
// What a file was when something was made from it (a digest, an announce, a
// progress range): which file it was (its device and inode), its size, its
// last modification and its last status change. A file whose stamp has
// changed since is no longer the file that was announced.
//
// The modification time alone can be put back (cp -p, rsync -t, a tool that
// restores it); the status-change time cannot: the system sets it on every
// write, cut and time set, and a file renamed over the old one is another
// inode. So a file written or replaced with its time kept still shows.

#include <QString>

#include <cstdint>
#include <optional>

namespace filestamp {

struct FileStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modifiedNs = 0;  // nanoseconds since the epoch
    int64_t changedNs = 0;   // the last status change, nanoseconds since the epoch
    bool operator==(const FileStamp&) const = default;
};

// The stamp of an open descriptor, or nothing when it is no regular file.
std::optional<FileStamp> StampOf(int fd);
// The stamp of the file at `path` (links followed), or nothing when there is
// no regular file there.
std::optional<FileStamp> StampOf(const QString& path);

}  // namespace filestamp
