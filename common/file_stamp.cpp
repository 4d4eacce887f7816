#include "common/file_stamp.h"

#include <QFile>

#include <sys/stat.h>

namespace filestamp {

namespace {

std::optional<FileStamp> fromStat(const struct stat& st)
{
    if (!S_ISREG(st.st_mode) || st.st_size < 0)
        return std::nullopt;
    FileStamp stamp;
    stamp.device = uint64_t(st.st_dev);
    stamp.inode = uint64_t(st.st_ino);
    stamp.size = uint64_t(st.st_size);
    stamp.modifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + int64_t(st.st_mtim.tv_nsec);
    stamp.changedNs = int64_t(st.st_ctim.tv_sec) * 1000000000 + int64_t(st.st_ctim.tv_nsec);
    return stamp;
}

}  // namespace

std::optional<FileStamp> StampOf(int fd)
{
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return std::nullopt;
    return fromStat(st);
}

std::optional<FileStamp> StampOf(const QString& path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return fromStat(st);
}

}  // namespace filestamp
