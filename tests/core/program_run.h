#pragma once
// Runs build/bin/veluna as a child process in a sandbox of its own, for the
// tests that need the whole program.

#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <memory>
#include <vector>

// One sandbox per program run: its own home, runtime folder (where the
// instance lock lies) and screen.
class ProgramRun {
public:
    explicit ProgramRun(int width = 1920, int height = 1080, int dpi = 96)
    {
        QString screen = dir_.filePath(QStringLiteral("screen.json"));
        const QString shared = qEnvironmentVariable("VELUNA_TEST_SCREEN_FILE");
        QFile f(screen);
        if (width == 1920 && height == 1080 && dpi == 96 && QFileInfo::exists(shared)) {
            screen = shared;  // the suite's own screen
        } else if (f.open(QIODevice::WriteOnly)) {
            f.write(QStringLiteral("{ \"synchronousWindowSystemEvents\": false, \"windowFrameMargins\": true,"
                                   " \"screens\": [ { \"name\": \"OffscreenScreen\", \"x\": 0, \"y\": 0,"
                                   " \"width\": %1, \"height\": %2, \"logicalDpi\": %3, \"logicalBaseDpi\": 96,"
                                   " \"dpr\": 1 } ] }")
                        .arg(width)
                        .arg(height)
                        .arg(dpi)
                        .toUtf8());
        }
        QDir(dir_.path()).mkpath(QStringLiteral("home"));
        QDir(dir_.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(runtimeFolder(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + screen);
        env_.insert(QStringLiteral("VELUNA_HOME"), homeFolder());
        env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeFolder());
        env_.insert(QStringLiteral("VELUNA_AUTO_ANSWER"), QStringLiteral("ok"));
        env_.insert(QStringLiteral("VELUNA_LANGUAGE"), QStringLiteral("en"));
    }
    ~ProgramRun()
    {
        for (auto& p : processes_) {
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                if (!p->waitForFinished(5000)) {
                    p->kill();
                    p->waitForFinished(5000);
                }
            }
        }
    }
    void setEnv(const QString& key, const QString& value) { env_.insert(key, value); }
    QString homeFolder() const { return dir_.filePath(QStringLiteral("home")); }
    QString runtimeFolder() const { return dir_.filePath(QStringLiteral("run")); }
    static QString program() { return testsupport::binDir() + QStringLiteral("/veluna"); }

    QProcess* start(const QStringList& args = {})
    {
        processes_.push_back(std::make_unique<QProcess>());
        QProcess* p = processes_.back().get();
        p->setProcessEnvironment(env_);
        p->start(program(), args);
        return p;
    }
    // Runs to the end (bounded); returns the exit code, -1 when it did not end.
    int run(const QStringList& args, QString* out, QString* err, int timeoutMs = 20000)
    {
        QProcess* p = start(args);
        if (!p->waitForFinished(timeoutMs))
            return -1;
        if (out)
            *out = QString::fromUtf8(p->readAllStandardOutput());
        if (err)
            *err = QString::fromUtf8(p->readAllStandardError());
        return p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
    }

private:
    QTemporaryDir dir_;
    QProcessEnvironment env_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

