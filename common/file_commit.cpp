#include "common/file_commit.h"

#include <QFile>
#include <QSaveFile>

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

}  // namespace

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
    if (file.seek(before) && writeAll(file, record.constData(), record.size()) && file.flush())
        return true;
    fail(file, error);
    // Cut the torn tail away; should the open handle refuse, try by name.
    if (!file.resize(before)) {
        file.close();
        QFile::resize(path, before);
    }
    return false;
}

}  // namespace filecommit
