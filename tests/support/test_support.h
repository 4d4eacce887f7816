#pragma once
// Helpers shared by the test programs.

#include "platform/dialogs.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class QWidget;
class QDialog;
class QTimer;

#include <algorithm>
#include <chrono>
#include <functional>
#include <ostream>
#include <vector>
#include <memory>
#include <optional>

class QTreeWidget;
#include <cstdint>

namespace testsupport {

// Tests that start programs as child processes do not run under the thread
// checker: a fork from a threaded test program, and Qt's own thread pool in
// the child (Qt is not built for the checker), make it report races that are
// not ours. They run in the plain and the address-checked builds.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kUnderThreadChecker = true;
#else
inline constexpr bool kUnderThreadChecker = false;
#endif
inline constexpr const char* kNoChildProcessesUnderThreadChecker =
    "starts child processes, which the thread checker cannot follow";


// Runs the Qt event loop until `done` holds or `timeoutMs` passes; returns
// whether `done` held. The default only ends a frozen run: under a sanitizer,
// with another build's tests on every core, a reply that takes milliseconds
// on a quiet machine can take seconds. A test that means to wait a set time
// passes its own.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 30000);

// How a window answered while something ran on another thread: the
// slowest repaint after an update(), the repaints asked for, and whether one
// never came (within 2 s).
struct Answering {
    int64_t slowestMs = 0;
    int rounds = 0;
    bool stalled = false;
};
// Shows a small window and asks it to repaint again and again while `busy`
// holds (at most `maxRounds` times), calling `eachRound` after each repaint.
Answering measureRepaints(const std::function<bool()>& busy, const std::function<void()>& eachRound = {},
                          int maxRounds = 200);
// The longest repaint a window that keeps answering may take during work of
// `workMs` done on another thread. Work done on the window's own thread holds
// it for about the whole of it; a loaded machine or a sanitizer build delays
// a repaint too, but by far less than half of work that lasts seconds, so
// half of it, and never less than a second, tells the two apart on any
// machine.
inline int64_t longestPauseWhileAnswering(int64_t workMs)
{
    return std::max<int64_t>(1000, workMs / 2);
}

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

// While it lives, every 50 ms: each visible top-level dialog with a caption
// is handed to `seen`, then rejected, so that a command that opens a modal
// window returns. With `ready`, a dialog that is still loading (ready says
// false) is left open for up to 10 s first: on a busy machine the load may
// take longer than one tick.
class ModalCloser {
public:
    explicit ModalCloser(std::function<void(QDialog&)> seen, std::function<bool(QDialog&)> ready = {});
    ~ModalCloser();
    void stop();

private:
    std::unique_ptr<QTimer> timer_;
};

// Folder of the built programs (player-sim, veluna, ...).
QString binDir();
// Folder of the source tree.
QString sourceDir();

// <build>/screenshots/<name>.png, the folder made.
QString screenshotPath(const QString& name);
// Saves a picture of `widget` as <build>/screenshots/<name>.png for a person
// to look at; false when it could not be written. Under the thread checker
// it saves nothing (Qt converts and encodes large images on its own pooled
// threads, which the checker cannot follow) and says true.
bool saveScreenshot(QWidget& widget, const QString& name);

// The texts of `column` the view shows cut (elided), of every row, those
// scrolled away included; the view must be laid out (shown).
QStringList cutTreeLabels(const QTreeWidget& tree, int column = 0);

// Reproducible pseudo-random bytes for file contents.
QByteArray randomBytes(std::size_t size, quint32 seed);
// A file's whole content (empty when it cannot be read).
QByteArray readFile(const QString& path);
// Writes `bytes` to `path`, making its folder first.
bool writeFile(const QString& path, const QByteArray& bytes);
// Waits (bounded) until a file changed now gets a later status-change time
// than `path` has: where file times count in coarse ticks, a change in the
// same tick as the last would carry the same one.
void untilALaterChangeTime(const QString& path);
// New bytes over `path` from `at`, in place, its size kept and its
// modification time put back to the nanosecond, as cp -p over an existing
// file does: only the status-change time tells. False when a step failed.
bool rewriteKeepingTheTime(const QString& path, qint64 at = 0);
// Another file of the same size and modification time renamed over `path`,
// as rsync -t does. False when a step failed.
bool replaceKeepingTheTime(const QString& path);

// One end of a loopback TCP connection: plain blocking calls with time-outs,
// for the other side of a conversation with a link or a simulated player.
// As with waitUntil, the default time-outs only end a frozen run.
class TcpPeer {
public:
    explicit TcpPeer(int fd = -1) : fd_(fd) {}
    // Connects, with small writes sent at once; valid() says whether it did.
    TcpPeer(const QString& address, uint16_t port);
    ~TcpPeer() { close(); }
    TcpPeer(const TcpPeer&) = delete;
    TcpPeer& operator=(const TcpPeer&) = delete;
    bool valid() const { return fd_ >= 0; }
    // Writes all of `bytes`; false when the peer has gone (never SIGPIPE).
    bool send(const QByteArray& bytes) const;
    // One read: the bytes, empty after the time-out, nullopt once the peer has gone.
    std::optional<QByteArray> readSome(int timeoutMs) const;
    // Reads until `count` bytes arrived, the peer went or time ran out;
    // bytes beyond `count` stay unread.
    QByteArray read(std::size_t count, int timeoutMs = 30000) const;
    // True when the peer's end has gone (FIN or reset); data before it is dropped.
    bool seesEnd(int timeoutMs = 30000) const;
    // How the peer's end came, reading (and dropping) data before it.
    enum class End { None, Orderly, Reset };
    End waitForEnd(int timeoutMs = 30000) const;
    void close();
    void reset();  // closes with a reset instead of an orderly end

private:
    int fd_ = -1;
};

// A TCP socket listening on a free loopback port.
class TcpListener {
public:
    // receiveBufferBytes > 0: the accepted connections' receive buffer.
    explicit TcpListener(int receiveBufferBytes = 0);
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;
    uint16_t port() const { return port_; }
    // The next connection, or null after the time-out.
    std::unique_ptr<TcpPeer> accept(int timeoutMs = 30000) const;

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// Sets (or, with a null value, removes) an environment variable for the
// lifetime of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value);
    ~ScopedEnv();

private:
    const char* name_;
    QByteArray previous_;
    bool hadPrevious_ = false;
};

// Sets the program's language for the lifetime of the object.
class ScopedLanguage {
public:
    explicit ScopedLanguage(unsigned language);
    ~ScopedLanguage();

private:
    unsigned previous_;
};

// A plain UDP socket for the other side of a conversation. Addresses are
// host-order numbers (0: every address; 0x7F000001: 127.0.0.1).
class UdpPeer {
public:
    struct Datagram {
        QByteArray bytes;
        QString from;
        uint16_t fromPort = 0;
        qint64 atMs = 0;  // when the kernel took it in
    };
    // Port 0 takes any free port; `sharePort` lets other sockets bind the
    // same port too (as simulated players do).
    explicit UdpPeer(uint32_t addressHost = 0x7F000001u, uint16_t port = 0, bool sharePort = false);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;
    bool bound() const { return bound_; }
    uint16_t port() const;
    bool sendTo(uint16_t port, const QByteArray& bytes, uint32_t hostAddress = 0x7F000001u) const;
    // The next datagram, waiting at most `timeoutMs`.
    std::optional<Datagram> receive(int timeoutMs = 200) const;
    // The next datagram sent from `fromPort`, passing over the others: the
    // discovery ports are shared, so other programs' scans reach them too.
    std::optional<Datagram> receiveFrom(uint16_t fromPort, int timeoutMs = 200) const;

private:
    int fd_ = -1;
    bool bound_ = false;
};

// Whether a process other than this one holds local UDP `port` now: a socket
// on the port that is none of this process's own. A port that only this
// process holds (its own socket still open, say) does not count.
bool udpPortHeldByAnotherProcess(uint16_t port);

// A lock on a file of the machine's /tmp, for what is one per machine (a
// fixed port) and so must be taken in turn with other runs of the suite.
// Waits up to `timeoutMs`; `held()` says whether it got the lock. Released
// when destroyed, or when the process ends however it ends.
class MachineLock {
public:
    explicit MachineLock(const QString& name, int timeoutMs);
    ~MachineLock();
    MachineLock(const MachineLock&) = delete;
    MachineLock& operator=(const MachineLock&) = delete;
    bool held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

// A UDP port that was free on every address a moment ago.
uint16_t freeUdpPort();
// Waits up to `timeoutMs` for UDP `port` to be free on every address.
bool waitUdpPortFree(uint16_t port, int timeoutMs = 3000);

}  // namespace testsupport

// Skips the test when the program under test did not get UDP `port`
// (`opened` false) and another process holds it at this moment: another
// program, such as a second run of the suite, took it between the test's own
// check and the program's bind. What the program says about it is not asked:
// a fault that makes its own bind fail fails the test.
#define SKIP_IF_UDP_PORT_TAKEN_MEANWHILE(port, opened)                                        \
    do {                                                                                    \
        if (!(opened) && testsupport::udpPortHeldByAnotherProcess(port))                    \
            GTEST_SKIP() << "UDP port " << (port) << " was taken by another program";      \
    } while (false)

// Readable QStrings in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
