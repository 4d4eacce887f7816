#include "platform/termination.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

// Written by the signal handler, read by the UI thread.
int pipeEnds[2] = {-1, -1};
volatile std::sig_atomic_t signalled = 0;

extern "C" void onSignal(int signalNumber)
{
    if (signalled) {
        // Asked twice: the closing path hangs or the user insists.
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
        return;
    }
    signalled = 1;
    const int saved = errno;
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t n = ::write(pipeEnds[1], &byte, 1);
    errno = saved;
}

struct Watcher {
    QSocketNotifier* notifier = nullptr;
    std::function<void()> callback;
    bool ran = false;
};

Watcher& watcher()
{
    static Watcher w;
    return w;
}

}  // namespace

bool installTerminationHandler(std::function<void()> onTerminate)
{
    Watcher& w = watcher();
    // A window given after the last one closed on a signal starts afresh: its
    // own first signal closes it, where the old mark would kill the process.
    // A signal not yet handled stays in the pipe and closes the new window.
    if (onTerminate && w.ran) {
        w.ran = false;
        signalled = 0;
    }
    w.callback = std::move(onTerminate);
    if (w.notifier)
        return true;
    if (pipeEnds[0] < 0 && ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipeEnds[0] = pipeEnds[1] = -1;
        return false;
    }
    // Owned by the application object, so it goes with it.
    w.notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(w.notifier, &QSocketNotifier::activated, [] {
        Watcher& self = watcher();
        char buffer[16];
        while (::read(pipeEnds[0], buffer, sizeof buffer) > 0) {
        }
        if (self.ran || !self.callback)
            return;
        self.ran = true;
        self.callback();
    });
    QObject::connect(w.notifier, &QObject::destroyed, [] { watcher().notifier = nullptr; });

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGHUP, &action, nullptr) == 0;
}

}  // namespace platform
