// A disk that refuses only at the sync to disk: the file on disk is kept as
// it was, and the caller hears why.
#include "common/file_commit.h"

#include "tests/support/full_disk.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <unistd.h>

namespace {

std::atomic<int> syncCalls{0};

// Interrupted once, then the real sync of the handle it was given.
int interruptedOnce(int fd)
{
    if (syncCalls++ == 0) {
        errno = EINTR;
        return -1;
    }
    return ::fdatasync(fd);
}

using testsupport::SyncCallInPlace;

TEST(FileCommit, ASyncThatFailsKeepsTheOldFile)
{
    const QByteArray before(100, 'o');
    const QByteArray record(10, 'r');
    const struct {
        const char* name;
        filecommit::SyncCall sync;
        bool written;
        int error;  // errno the caller hears about; 0 when written
    } rows[] = {
        {"I/O error", testsupport::RefusedSync, false, EIO},
        {"no space", +[](int) { return errno = ENOSPC, -1; }, false, ENOSPC},
        {"interrupted once", interruptedOnce, true, 0},
        {"interrupted every time", +[](int) { return errno = EINTR, -1; }, false, EINTR},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        const QString path = dir.filePath("file.QVE");
        const QString log = dir.filePath("log.dat");
        ASSERT_TRUE(testsupport::writeFile(path, before));
        ASSERT_TRUE(testsupport::writeFile(log, before));
        QString replaceError, appendError;
        {
            syncCalls = 0;
            SyncCallInPlace sync(row.sync);
            EXPECT_EQ(filecommit::replaceFile(path, QByteArray(300, 'n'), &replaceError), row.written);
            syncCalls = 0;
            EXPECT_EQ(filecommit::appendRecord(log, record, &appendError), row.written);
        }
        EXPECT_EQ(testsupport::readFile(path), row.written ? QByteArray(300, 'n') : before);
        EXPECT_EQ(testsupport::readFile(log), row.written ? before + record : before);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"file.QVE", "log.dat"}));
        const QString expected = row.error ? qt_error_string(row.error) : QString();
        EXPECT_EQ(replaceError, expected);
        EXPECT_EQ(appendError, expected);
    }
}

}  // namespace
