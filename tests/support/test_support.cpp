#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
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

}  // namespace testsupport
