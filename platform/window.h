#pragma once
// Windows that find each other by caption and talk with numbered messages.
//
// A MessageWindow is a receiver of WM_USER+n messages with a caption. It is
// either mixed into a QWidget (the caption is then the widget's window title)
// or stands alone with a caption of its own (a hidden receiver). Lookups and
// handlers run on the UI thread only; worker threads reach a window through
// sendMessageFromWorker / postMessage, which hand the call to the UI thread.

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class QWidget;
class QObject;

namespace platform {

using WPARAM = quintptr;
using LPARAM = qintptr;
using LRESULT = qintptr;

// An opaque number that stays valid to pass around after the window is gone;
// messages to a handle whose window no longer exists are dropped.
using WindowHandle = quint64;

class MessageWindow {
public:
    using Handler = std::function<LRESULT(WPARAM, LPARAM)>;

    explicit MessageWindow(QWidget* widget);
    explicit MessageWindow(const QString& caption);
    virtual ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    QString caption() const;
    void setCaption(const QString& caption);
    QWidget* widget() const { return widget_; }
    WindowHandle handle() const { return handle_; }

    // Binds a handler to a message id (a message map entry). A second
    // binding for the same id replaces the first.
    void onMessage(unsigned id, Handler handler);
    bool handles(unsigned id) const;
    // Runs the handler for `id` at once; 0 when there is none. UI thread.
    LRESULT dispatch(unsigned id, WPARAM wParam, LPARAM lParam);

    // SetTimer / KillTimer: one repeating timer per id; setting an id again
    // restarts it with the new period (at least kMinimumTimerMs). onTimer
    // runs on the UI thread.
    static constexpr int kMinimumTimerMs = 10;
    void setTimer(unsigned id, int milliseconds);
    void killTimer(unsigned id);
    bool hasTimer(unsigned id) const;
    // The period the timer runs at (after the raise to kMinimumTimerMs);
    // 0 when `id` is not set.
    int timerPeriod(unsigned id) const;
    virtual void onTimer(unsigned id);
    // Called by onTimer's default; lets owners that are not subclasses react.
    void setTimerHandler(std::function<void(unsigned)> handler);

private:
    struct TimerHost;
    QWidget* widget_ = nullptr;
    QString caption_;
    WindowHandle handle_ = 0;
    std::map<unsigned, Handler> handlers_;
    std::unique_ptr<TimerHost> timers_;
    std::function<void(unsigned)> timerHandler_;
};

// FindWindowW: the first live window whose caption equals `caption` exactly
// (or, for the NoCase variant, equals it ignoring case). UI thread only.
MessageWindow* findWindow(const QString& caption);
MessageWindow* findWindowNoCase(const QString& caption);
MessageWindow* windowFromHandle(WindowHandle handle);
std::vector<MessageWindow*> allWindows();

// SendMessageW on the UI thread: runs the handler now. A null window gives 0.
LRESULT sendMessage(MessageWindow* window, unsigned id, WPARAM wParam, LPARAM lParam);
LRESULT sendMessage(const QString& caption, unsigned id, WPARAM wParam, LPARAM lParam);

// PostMessageW from any thread: queued to the UI thread, run later in order.
// Dropped when the window has gone by then. Returns false when no
// application object exists to queue to.
bool postMessage(WindowHandle window, unsigned id, WPARAM wParam, LPARAM lParam);
// A call from any thread run later on `context`'s thread, in order; dropped
// when `context` is gone by then. What the caller wrote before posting is
// seen by the call (the hand-off is one the thread checker understands).
bool postCall(QObject* context, std::function<void()> call);

// A gate that a worker thread sends through. The owner on the UI thread
// closes it before it stops the worker: every call waiting in the gate
// returns at once (its handler never runs), and later calls return at once,
// so a worker blocked in a send can never deadlock with an owner that waits
// for the worker to end.
class SendGate {
public:
    SendGate();
    ~SendGate();
    SendGate(const SendGate&) = delete;
    SendGate& operator=(const SendGate&) = delete;

    void close();   // from any thread; idempotent
    void reopen();  // before the worker is started again
    bool isClosed() const;
    // True while the UI thread is running a handler delivered through this
    // gate (so the owner knows it is called from inside its own delivery).
    bool isDelivering() const;

    struct Call;
private:
    friend LRESULT sendMessageFromWorker(SendGate&, const std::function<MessageWindow*()>&, unsigned, WPARAM,
                                         LPARAM, bool*);
    mutable std::mutex mutex_;
    bool closed_ = false;
    std::vector<std::shared_ptr<Call>> pending_;
    std::atomic<int> delivering_{0};
};

// SendMessageW from a worker thread: `resolve` runs on the UI thread to find
// the receiver (for example by caption), then the handler runs there while
// the worker waits. Returns the handler's result; `delivered` (optional) says
// whether a handler ran. On the UI thread itself the call runs directly.
// A handler that throws gives 0 (the exception is logged, not passed on).
LRESULT sendMessageFromWorker(SendGate& gate, const std::function<MessageWindow*()>& resolve, unsigned id,
                              WPARAM wParam, LPARAM lParam, bool* delivered = nullptr);

// True on the thread that runs the application's event loop.
bool isUiThread();

}  // namespace platform
