#include "platform/window.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimerEvent>
#include <QWidget>

#include <condition_variable>
#include <exception>

namespace platform {

namespace {

// All registered windows, in creation order (FindWindowW finds the first).
// Touched on the UI thread only.
std::vector<MessageWindow*>& registry()
{
    static std::vector<MessageWindow*> windows;
    return windows;
}

// Serialises the hand-over of a call to the UI thread: a worker builds and
// queues the call while holding it, and the UI thread takes it once before it
// reads what the worker captured. Qt's event queue orders the two as well,
// but in a way the thread checker cannot see; this makes the order explicit.
std::mutex& handoffMutex()
{
    static std::mutex mutex;
    return mutex;
}

void acquireHandoff()
{
    std::lock_guard<std::mutex> lock(handoffMutex());
}

WindowHandle nextHandle()
{
    static std::atomic<WindowHandle> counter{0};
    return ++counter;
}

}  // namespace

struct MessageWindow::TimerHost : QObject {
    explicit TimerHost(MessageWindow* owner) : owner(owner) {}
    MessageWindow* owner;
    struct Timer {
        int qtId;
        int period;
    };
    std::map<unsigned, Timer> byId;  // by window timer id

    void timerEvent(QTimerEvent* event) override
    {
        for (const auto& [id, timer] : byId) {
            if (timer.qtId == event->timerId()) {
                owner->onTimer(id);
                return;
            }
        }
    }
};

MessageWindow::MessageWindow(QWidget* widget)
    : widget_(widget), handle_(nextHandle()), timers_(std::make_unique<TimerHost>(this))
{
    registry().push_back(this);
}

MessageWindow::MessageWindow(const QString& caption)
    : caption_(caption), handle_(nextHandle()), timers_(std::make_unique<TimerHost>(this))
{
    registry().push_back(this);
}

MessageWindow::~MessageWindow()
{
    auto& windows = registry();
    std::erase(windows, this);
}

QString MessageWindow::caption() const
{
    return widget_ ? widget_->windowTitle() : caption_;
}

void MessageWindow::setCaption(const QString& caption)
{
    if (widget_)
        widget_->setWindowTitle(caption);
    else
        caption_ = caption;
}

void MessageWindow::onMessage(unsigned id, Handler handler)
{
    handlers_[id] = std::move(handler);
}

bool MessageWindow::handles(unsigned id) const
{
    return handlers_.count(id) != 0;
}

LRESULT MessageWindow::dispatch(unsigned id, WPARAM wParam, LPARAM lParam)
{
    auto it = handlers_.find(id);
    if (it == handlers_.end() || !it->second)
        return 0;
    // Copy: a handler may rebind its own id while it runs.
    Handler handler = it->second;
    return handler(wParam, lParam);
}

void MessageWindow::setTimer(unsigned id, int milliseconds)
{
    killTimer(id);
    // Like SetTimer, periods below 10 ms are raised to 10 ms: a zero period
    // would otherwise fire on every pass of the event loop.
    const int period = std::max(kMinimumTimerMs, milliseconds);
    int qtId = timers_->startTimer(period);
    if (qtId != 0)
        timers_->byId[id] = {qtId, period};
}

void MessageWindow::killTimer(unsigned id)
{
    auto it = timers_->byId.find(id);
    if (it == timers_->byId.end())
        return;
    timers_->killTimer(it->second.qtId);
    timers_->byId.erase(it);
}

bool MessageWindow::hasTimer(unsigned id) const
{
    return timers_->byId.count(id) != 0;
}

int MessageWindow::timerPeriod(unsigned id) const
{
    const auto it = timers_->byId.find(id);
    return it == timers_->byId.end() ? 0 : it->second.period;
}

void MessageWindow::onTimer(unsigned id)
{
    if (timerHandler_)
        timerHandler_(id);
}

void MessageWindow::setTimerHandler(std::function<void(unsigned)> handler)
{
    timerHandler_ = std::move(handler);
}

MessageWindow* findWindow(const QString& caption)
{
    for (MessageWindow* w : registry())
        if (w->caption() == caption)
            return w;
    return nullptr;
}

MessageWindow* findWindowNoCase(const QString& caption)
{
    for (MessageWindow* w : registry())
        if (w->caption().compare(caption, Qt::CaseInsensitive) == 0)
            return w;
    return nullptr;
}

MessageWindow* windowFromHandle(WindowHandle handle)
{
    if (handle == 0)
        return nullptr;
    for (MessageWindow* w : registry())
        if (w->handle() == handle)
            return w;
    return nullptr;
}

std::vector<MessageWindow*> allWindows()
{
    return registry();
}

LRESULT sendMessage(MessageWindow* window, unsigned id, WPARAM wParam, LPARAM lParam)
{
    return window ? window->dispatch(id, wParam, lParam) : 0;
}

LRESULT sendMessage(const QString& caption, unsigned id, WPARAM wParam, LPARAM lParam)
{
    return sendMessage(findWindow(caption), id, wParam, lParam);
}

bool isUiThread()
{
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

bool postMessage(WindowHandle window, unsigned id, WPARAM wParam, LPARAM lParam)
{
    auto* app = QCoreApplication::instance();
    if (!app)
        return false;
    std::lock_guard<std::mutex> handoff(handoffMutex());
    QMetaObject::invokeMethod(
        app,
        [window, id, wParam, lParam] {
            acquireHandoff();
            sendMessage(windowFromHandle(window), id, wParam, lParam);
        },
        Qt::QueuedConnection);
    return true;
}

bool postCall(QObject* context, std::function<void()> call)
{
    if (!context)
        return false;
    std::lock_guard<std::mutex> handoff(handoffMutex());
    QMetaObject::invokeMethod(
        context,
        [call = std::move(call)] {
            acquireHandoff();
            call();
        },
        Qt::QueuedConnection);
    return true;
}

// One cross-thread send. `state` moves pending -> running -> done, or
// pending -> cancelled when the gate closes first.
struct SendGate::Call {
    enum State { Pending, Running, Done, Cancelled };
    std::mutex mutex;
    std::condition_variable cv;
    State state = Pending;
    LRESULT result = 0;
    bool delivered = false;
};

SendGate::SendGate() = default;

SendGate::~SendGate()
{
    close();
}

void SendGate::close()
{
    std::vector<std::shared_ptr<Call>> calls;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        calls.swap(pending_);
    }
    for (auto& call : calls) {
        std::lock_guard<std::mutex> lock(call->mutex);
        if (call->state == Call::Pending) {
            call->state = Call::Cancelled;
            call->cv.notify_all();
        }
    }
}

void SendGate::reopen()
{
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = false;
}

bool SendGate::isClosed() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

bool SendGate::isDelivering() const
{
    return delivering_.load() > 0;
}

LRESULT sendMessageFromWorker(SendGate& gate, const std::function<MessageWindow*()>& resolve, unsigned id,
                              WPARAM wParam, LPARAM lParam, bool* delivered)
{
    if (delivered)
        *delivered = false;
    if (isUiThread()) {
        MessageWindow* w = resolve();
        if (!w)
            return 0;
        if (delivered)
            *delivered = true;
        return w->dispatch(id, wParam, lParam);
    }
    auto* app = QCoreApplication::instance();
    if (!app)
        return 0;

    auto call = std::make_shared<SendGate::Call>();
    {
        std::lock_guard<std::mutex> lock(gate.mutex_);
        if (gate.closed_)
            return 0;
        gate.pending_.push_back(call);
    }

    SendGate* gatePtr = &gate;
    std::unique_lock<std::mutex> handoff(handoffMutex());
    QMetaObject::invokeMethod(
        app,
        [call, gatePtr, resolve, id, wParam, lParam] {
            acquireHandoff();
            {
                std::lock_guard<std::mutex> lock(call->mutex);
                if (call->state != SendGate::Call::Pending)
                    return;  // the gate closed before we got here; the gate may be gone too
                call->state = SendGate::Call::Running;
            }
            // The gate outlives a running call: its owner closes it and waits
            // for the worker, which is still blocked below until Done.
            gatePtr->delivering_++;
            LRESULT result = 0;
            bool ran = false;
            // A handler that throws must neither take the event loop down nor
            // leave the worker waiting for an answer that never comes.
            try {
                if (MessageWindow* w = resolve()) {
                    ran = true;
                    result = w->dispatch(id, wParam, lParam);
                }
            } catch (const std::exception& e) {
                qWarning("Message %u: handler failed: %s", id, e.what());
                result = 0;
            } catch (...) {
                qWarning("Message %u: handler failed", id);
                result = 0;
            }
            gatePtr->delivering_--;
            std::lock_guard<std::mutex> lock(call->mutex);
            call->result = result;
            call->delivered = ran;
            call->state = SendGate::Call::Done;
            call->cv.notify_all();
        },
        Qt::QueuedConnection);
    handoff.unlock();

    LRESULT result = 0;
    {
        std::unique_lock<std::mutex> lock(call->mutex);
        call->cv.wait(lock, [&] {
            return call->state == SendGate::Call::Done || call->state == SendGate::Call::Cancelled;
        });
        result = call->result;
        if (delivered)
            *delivered = call->delivered;
    }
    {
        std::lock_guard<std::mutex> lock(gate.mutex_);
        std::erase(gate.pending_, call);
    }
    return result;
}

}  // namespace platform
