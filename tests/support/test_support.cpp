#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QFileInfo>
#include <QFile>
#include <QDir>
#include <QThread>

namespace testsupport {

bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

MessageBoxRecorder::MessageBoxRecorder(platform::MsgResult answer)
{
    platform::setMessageBoxAnswerer([this, answer](const platform::MessageBoxCall& call) {
        calls_.push_back(call);
        return answer;
    });
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    platform::setMessageBoxAnswerer({});
}

QStringList MessageBoxRecorder::texts() const
{
    QStringList out;
    for (const auto& c : calls_)
        out << c.text;
    return out;
}

TempHome::TempHome()
{
    hadPrevious_ = qEnvironmentVariableIsSet("VELUNA_HOME");
    previous_ = qgetenv("VELUNA_HOME");
    qputenv("VELUNA_HOME", dir_.path().toUtf8());
}

TempHome::~TempHome()
{
    if (hadPrevious_)
        qputenv("VELUNA_HOME", previous_);
    else
        qunsetenv("VELUNA_HOME");
}

QString binDir()
{
    QByteArray dir = qgetenv("VELUNA_BIN_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() + "/../bin" : QString::fromUtf8(dir);
}

QString sourceDir()
{
    return QString::fromUtf8(qgetenv("VELUNA_SOURCE_DIR"));
}

QByteArray randomBytes(std::size_t size, quint32 seed)
{
    std::vector<quint32> words(size / 4 + 1);
    QRandomGenerator(seed).fillRange(words.data(), qsizetype(words.size()));
    return QByteArray(reinterpret_cast<const char*>(words.data()), qsizetype(size));
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

}  // namespace testsupport
