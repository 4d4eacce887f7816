#pragma once
// Writing files so that a failure never leaves a damaged one behind: a file
// is replaced only once its new contents are complete on disk, and a record
// is appended whole or not at all. A full disk often shows only when the
// buffered bytes are flushed, so every write, the flush, the sync to disk and
// the commit are checked.

#include <QByteArray>
#include <QString>

class QWidget;

namespace filecommit {

// Replaces `path` with `size` bytes through a temporary file beside it and a
// rename. The folder must exist. On failure the old file (if any) stays as it
// was, no temporary file remains, and `error` (when given) says why.
bool replaceFile(const QString& path, const char* data, qint64 size, QString* error = nullptr);
inline bool replaceFile(const QString& path, const QByteArray& bytes, QString* error = nullptr)
{
    return replaceFile(path, bytes.constData(), bytes.size(), error);
}

// Appends one fixed-size record to `path` (created when missing). A file
// whose length is not a whole number of records (an earlier write torn by a
// crash) is first cut back to its last whole record. When the record cannot
// be written completely, the file is cut back to its length before, so no
// partial record stays.
bool appendRecord(const QString& path, const QByteArray& record, QString* error = nullptr);

// The call that forces a written file's bytes onto the disk: fdatasync, or
// what a test put in its place to make the disk refuse at that step. Returns
// 0, or -1 with errno set. setSyncCall(nullptr) brings fdatasync back; the
// call before is returned.
using SyncCall = int (*)(int fd);
SyncCall setSyncCall(SyncCall call);

// A write that failed: which file, and the reason its writer reported.
struct WriteFailure {
    QString path;
    QString reason;
};

// What the user is told when a file could not be written, whichever writer
// it was: "Cannot write <file>" in the language given (4 Chinese), then the
// reason the write above reported on a line of its own.
QString cannotWriteMessage(unsigned language, const QString& path, const QString& reason);
// That message in a warning box over `parent` (the main window when null):
// every writer tells a refused write the same way.
void showCannotWrite(unsigned language, const QString& path, const QString& reason, QWidget* parent = nullptr);
inline void showCannotWrite(unsigned language, const WriteFailure& failure, QWidget* parent = nullptr)
{
    showCannotWrite(language, failure.path, failure.reason, parent);
}

}  // namespace filecommit
