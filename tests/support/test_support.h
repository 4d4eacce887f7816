#pragma once
// Helpers shared by the test programs.

#include "platform/dialogs.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <vector>

namespace testsupport {

// Runs the Qt event loop until `done` holds or `timeoutMs` passes; returns
// whether `done` held.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Answers every message box with `answer` and records what was shown, for
// the lifetime of the object.
class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(platform::MsgResult answer = platform::MsgResult::Ok);
    ~MessageBoxRecorder();
    const std::vector<platform::MessageBoxCall>& calls() const { return calls_; }
    QStringList texts() const;
    void clear() { calls_.clear(); }

private:
    std::vector<platform::MessageBoxCall> calls_;
};

// A fresh folder used as VELUNA_HOME for the lifetime of the object.
class TempHome {
public:
    TempHome();
    ~TempHome();
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QByteArray previous_;
    bool hadPrevious_ = false;
};

// Folder of the built programs (player-sim, veluna, ...).
QString binDir();
// Folder of the source tree.
QString sourceDir();

// Reproducible pseudo-random bytes for file contents.
QByteArray randomBytes(std::size_t size, quint32 seed);
// A file's whole content (empty when it cannot be read).
QByteArray readFile(const QString& path);
// Writes `bytes` to `path`, making its folder first.
bool writeFile(const QString& path, const QByteArray& bytes);

}  // namespace testsupport
