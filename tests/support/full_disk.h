#pragma once
// A small tmpfs mounted on a fresh folder that can be filled to the last
// byte, so that writes fail with ENOSPC as on a full disk. Needs the right to
// mount (root in the test machines); `mounted()` is false otherwise and the
// test skips with the reason.
//
// SyncCallInPlace puts another call in the place of the sync that ends every
// write (an I/O error, say), on any machine, for as long as it lives.

#include "common/file_commit.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace testsupport {

class FullDisk {
public:
    explicit FullDisk(const char* options = "size=512k")
    {
        if (::mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", 0, options) == 0)
            mounted_ = true;
        else
            reason_ = QStringLiteral("cannot mount a tmpfs: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    }
    ~FullDisk()
    {
        if (mounted_)
            ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    bool mounted() const { return mounted_; }
    QString reason() const { return reason_; }
    QString path() const { return dir_.path(); }

    // Takes every free byte with a filler file; the space in the last page
    // of files already there stays, as on a real disk's partly used block.
    void fill()
    {
        const int fd = ::open(QFile::encodeName(fillerPath()).constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (fd < 0)
            return;
        const QByteArray block(4096, 'f');
        // Bounded: the tmpfs is small.
        for (int i = 0; i < 1 << 20 && ::write(fd, block.constData(), std::size_t(block.size())) > 0; ++i) {
        }
        for (int i = 0; i < 4096 && ::write(fd, "f", 1) > 0; ++i) {
        }
        ::close(fd);
    }
    // Space comes back.
    void release() { ::unlink(QFile::encodeName(fillerPath()).constData()); }

private:
    QString fillerPath() const { return dir_.path() + QStringLiteral("/.filler"); }

    QTemporaryDir dir_;
    bool mounted_ = false;
    QString reason_;
};

// While it lives, every file written is synced through `call` instead of
// the disk's own sync; RefusedSync below makes it fail with EIO.
struct SyncCallInPlace {
    explicit SyncCallInPlace(filecommit::SyncCall call) : before(filecommit::setSyncCall(call)) {}
    ~SyncCallInPlace() { filecommit::setSyncCall(before); }
    SyncCallInPlace(const SyncCallInPlace&) = delete;
    SyncCallInPlace& operator=(const SyncCallInPlace&) = delete;
    filecommit::SyncCall before;
};

// The disk reports an I/O error at the last step of every write: the bytes
// went out, but the file system cannot vouch for them.
inline int RefusedSync(int)
{
    errno = EIO;
    return -1;
}

}  // namespace testsupport
