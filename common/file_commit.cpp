#include "common/file_commit.h"

#include "platform/dialogs.h"
#include "platform/home.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <atomic>
#include <cerrno>
#include <unistd.h>

namespace filecommit {

namespace {

bool fail(QFileDevice& file, QString* error)
{
    if (error)
        *error = file.errorString();
    return false;
}

// Writes every byte or reports the failure; the file is unbuffered, so a
// short write is seen here rather than lost in a later flush.
bool writeAll(QFileDevice& file, const char* data, qint64 size)
{
    qint64 written = 0;
    while (written < size) {
        const qint64 n = file.write(data + written, size - written);
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}

std::atomic<SyncCall> syncCall{nullptr};

// QSaveFile::commit() syncs as well but ignores the answer, so a disk that
// refuses only there (space promised by delayed allocation, an I/O error)
// would get the old file replaced by one whose bytes never arrived.
bool syncToDisk(QFileDevice& file, QString* error)
{
    const SyncCall call = syncCall.load();
    const int fd = file.handle();
    int rc = 0;
    // A signal may cut the wait short; a few retries, then it counts as a failure.
    for (int attempt = 0; attempt < 16; ++attempt) {
        rc = call ? call(fd) : ::fdatasync(fd);
        if (rc == 0 || errno != EINTR)
            break;
    }
    // EINVAL: a file system without a sync of its own; there is nothing to wait for.
    if (rc == 0 || errno == EINVAL)
        return true;
    if (error)
        *error = qt_error_string(errno);
    return false;
}

}  // namespace

SyncCall setSyncCall(SyncCall call)
{
    return syncCall.exchange(call);
}

bool replaceFile(const QString& path, const char* data, qint64 size, QString* error)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(out, error);
    if (!writeAll(out, data, size) || !out.flush()) {
        fail(out, error);
        out.cancelWriting();
        return false;
    }
    if (!syncToDisk(out, error)) {
        out.cancelWriting();
        return false;
    }
    if (!out.commit())
        return fail(out, error);
    return true;
}

bool appendRecord(const QString& path, const QByteArray& record, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return fail(file, error);
    qint64 before = file.size();
    if (!record.isEmpty() && before % record.size() != 0) {
        before -= before % record.size();
        if (!file.resize(before))
            return fail(file, error);
    }
    if (file.seek(before) && writeAll(file, record.constData(), record.size()) && file.flush()) {
        if (syncToDisk(file, error))
            return true;
    } else {
        fail(file, error);
    }
    // Cut the torn tail away; should the open handle refuse, try by name.
    if (!file.resize(before)) {
        file.close();
        QFile::resize(path, before);
    }
    return false;
}

QString cannotWriteMessage(unsigned language, const QString& path, const QString& reason)
{
    QString text = platform::pickText(language, "Cannot write %1", "无法写入 %1").arg(QDir::toNativeSeparators(path));
    // A writer that has no reason to give still names the file.
    if (!reason.isEmpty())
        text += u'\n' + reason;
    return text;
}

void showCannotWrite(unsigned language, const QString& path, const QString& reason, QWidget* parent)
{
    platform::messageBox(cannotWriteMessage(language, path, reason), QString(), platform::MsgButtons::Ok,
                         platform::MsgIcon::Warning, parent);
}

}  // namespace filecommit
