// Windows found by caption, numbered messages (direct, queued, from worker
// threads through a gate) and timers by id.
#include "platform/messages.h"
#include "platform/window.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QWidget>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace platform;
using namespace Qt::StringLiterals;
using testsupport::waitUntil;
MessageWindow* const kNobody = nullptr;

// Lets the event loop run for `ms` milliseconds.
void pumpFor(int ms)
{
    waitUntil([] { return false; }, ms);
}

// Runs `work` on a worker thread while the UI thread pumps events, and
// joins it.
void onWorker(const std::function<void()>& work)
{
    std::atomic<bool> done{false};
    std::thread worker([&] { work(), done = true; });
    EXPECT_TRUE(waitUntil([&] { return done.load(); }));
    worker.join();
}

TEST(WindowRegistry, FindsByCaptionExactlyOrIgnoringCase)
{
    MessageWindow first(u"Scan For Devices"_s), second(u"scan for devices"_s);
    QWidget widget;
    widget.setWindowTitle(u"查找设备"_s);
    MessageWindow mixed(&widget);

    const struct { QString caption; MessageWindow *exact, *noCase; } cases[] = {
        {u"Scan For Devices"_s, &first, &first},
        {u"scan for devices"_s, &second, &first},  // the first created wins
        {u"SCAN FOR DEVICES"_s, nullptr, &first}, {u"Scan For Devices "_s, nullptr, nullptr},
        {u"查找设备"_s, &mixed, &mixed},           {QString(), nullptr, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(findWindow(c.caption), c.exact) << c.caption.toStdString();
        EXPECT_EQ(findWindowNoCase(c.caption), c.noCase) << c.caption.toStdString();
    }

    // A widget's caption is its window title, also after a change.
    mixed.setCaption(u"Renamed"_s);
    EXPECT_EQ(widget.windowTitle(), u"Renamed"_s);
    EXPECT_EQ(findWindow(u"Renamed"_s), &mixed);
    EXPECT_EQ(findWindow(u"查找设备"_s), nullptr);
}

TEST(WindowRegistry, DestroyedWindowsAreNotFoundAndTheirHandlesGoStale)
{
    WindowHandle handle = 0;
    {
        MessageWindow w(u"short lived"_s);
        handle = w.handle();
        EXPECT_EQ(windowFromHandle(handle), &w);
    }
    EXPECT_EQ(findWindow(u"short lived"_s), nullptr);
    EXPECT_EQ(windowFromHandle(handle), nullptr);
    EXPECT_EQ(windowFromHandle(0), nullptr);
    MessageWindow later(u"short lived"_s);
    EXPECT_NE(later.handle(), handle);  // handles are never reused
}

TEST(WindowMessages, SendRunsTheHandlerNowAndReturnsItsResult)
{
    MessageWindow w(u"receiver"_s);
    std::vector<std::pair<WPARAM, LPARAM>> got;
    w.onMessage(WM_TEMPERATURE_REPLY, [&](WPARAM wp, LPARAM lp) { return got.emplace_back(wp, lp), LRESULT(42); });
    EXPECT_TRUE(w.handles(WM_TEMPERATURE_REPLY));
    EXPECT_FALSE(w.handles(WM_POWER_REPLY));
    EXPECT_EQ(sendMessage(&w, WM_TEMPERATURE_REPLY, 7, -3), 42);
    EXPECT_EQ(sendMessage(u"receiver"_s, WM_TEMPERATURE_REPLY, 8, 9), 42);
    EXPECT_EQ(sendMessage(&w, WM_POWER_REPLY, 1, 1), 0);                      // no handler
    EXPECT_EQ(sendMessage(u"nobody"_s, WM_TEMPERATURE_REPLY, 1, 1), 0);       // no window
    EXPECT_EQ(sendMessage(kNobody, WM_TEMPERATURE_REPLY, 1, 1), 0);
    EXPECT_EQ(got, (std::vector<std::pair<WPARAM, LPARAM>>{{7, -3}, {8, 9}}));

    // A handler may rebind its own message while it runs.
    w.onMessage(WM_POWER_REPLY, [&](WPARAM, LPARAM) {
        w.onMessage(WM_POWER_REPLY, [](WPARAM, LPARAM) { return LRESULT(2); });
        return LRESULT(1);
    });
    EXPECT_EQ(sendMessage(&w, WM_POWER_REPLY, 0, 0), 1);
    EXPECT_EQ(sendMessage(&w, WM_POWER_REPLY, 0, 0), 2);
}

TEST(WindowMessages, PostedMessagesRunLaterInOrderAndAreDroppedForGoneWindows)
{
    auto w = std::make_unique<MessageWindow>(u"posted to"_s);
    std::vector<WPARAM> order;
    w->onMessage(WM_OSD_REPLY, [&](WPARAM wp, LPARAM) { return order.push_back(wp), LRESULT(0); });
    for (WPARAM i = 1; i <= 3; ++i)
        ASSERT_TRUE(postMessage(w->handle(), WM_OSD_REPLY, i, 0));
    EXPECT_TRUE(order.empty());  // not before the event loop runs
    ASSERT_TRUE(waitUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<WPARAM>{1, 2, 3}));

    // From another thread, then the window goes before the loop runs.
    std::thread([h = w->handle()] { postMessage(h, WM_OSD_REPLY, 4, 0); }).join();
    w.reset();
    pumpFor(30);
    EXPECT_EQ(order.size(), 3u);
}

TEST(WindowMessages, WorkerSendWaitsForTheHandlerOnTheUiThread)
{
    MessageWindow w(u"worker target"_s);
    std::atomic<bool> handlerOnUi{false};
    w.onMessage(WM_UDP_EVENT, [&](WPARAM wp, LPARAM lp) { return handlerOnUi = isUiThread(), LRESULT(wp + lp); });
    SendGate gate;
    LRESULT result = -1;
    bool delivered = false;
    onWorker([&] {
        result = sendMessageFromWorker(gate, [] { return findWindow(u"worker target"_s); }, WM_UDP_EVENT, 40, 2,
                                       &delivered);
    });
    EXPECT_EQ(result, 42);
    EXPECT_TRUE(delivered);
    EXPECT_TRUE(handlerOnUi.load());

    // On the UI thread the call runs directly; with no receiver it gives 0, undelivered.
    EXPECT_EQ(sendMessageFromWorker(gate, [&] { return &w; }, WM_UDP_EVENT, 1, 1, &delivered), 2);
    EXPECT_TRUE(delivered);
    EXPECT_EQ(sendMessageFromWorker(gate, [] { return kNobody; }, WM_UDP_EVENT, 1, 1, &delivered), 0);
    EXPECT_FALSE(delivered);
}

TEST(WindowMessages, ClosingTheGateReleasesWaitingWorkersWithoutRunningHandlers)
{
    MessageWindow w(u"gate target"_s);
    std::atomic<int> handled{0};
    w.onMessage(WM_TCP_EVENT, [&](WPARAM, LPARAM) { return ++handled, LRESULT(1); });
    SendGate gate;
    const auto target = [&] { return &w; };
    const auto send = [&](bool* delivered = nullptr) { sendMessageFromWorker(gate, target, WM_TCP_EVENT, 0, 0, delivered); };
    // Workers block in the gate; the UI thread never runs the event loop
    // until the gate is closed, like an owner that stops its threads.
    std::atomic<int> returned{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i)
        workers.emplace_back([&] { send(), ++returned; });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    gate.close();
    for (auto& worker : workers)
        worker.join();  // would hang if a cancelled call still waited
    EXPECT_EQ(returned.load(), 3);
    EXPECT_TRUE(gate.isClosed());
    // The queued calls are stale now: running the loop must not run handlers.
    pumpFor(20);
    EXPECT_EQ(handled.load(), 0);

    // A closed gate turns later sends away at once; reopen lets them through.
    bool delivered = true;
    std::thread([&] { send(&delivered); }).join();
    EXPECT_FALSE(delivered);
    gate.reopen();
    onWorker([&] { send(); });
    EXPECT_EQ(handled.load(), 1);
}

TEST(WindowMessages, HandlerThatClosesItsGateFromInsideAndAThrowingHandler)
{
    MessageWindow w(u"inside"_s);
    SendGate gate, other;
    bool deliveringSeen = false;
    w.onMessage(WM_LINK_CLOSED, [&](WPARAM, LPARAM) {
        deliveringSeen = gate.isDelivering();
        gate.close();  // the running call still finishes
        return LRESULT(5);
    });
    w.onMessage(WM_GAME_REPLY, [](WPARAM, LPARAM) -> LRESULT { throw std::runtime_error("bad record"); });
    LRESULT first = -1, second = -1;
    onWorker([&] {
        first = sendMessageFromWorker(gate, [&] { return &w; }, WM_LINK_CLOSED, 0, 0);
        second = sendMessageFromWorker(other, [&] { return &w; }, WM_GAME_REPLY, 0, 0);
    });
    EXPECT_TRUE(deliveringSeen);
    EXPECT_FALSE(gate.isDelivering());
    EXPECT_EQ(first, 5);
    EXPECT_EQ(second, 0);
}

TEST(WindowTimers, RepeatRestartAndKillById)
{
    MessageWindow w(u"timers"_s);
    std::vector<unsigned> ticks;
    const auto count = [&](unsigned id) { return std::count(ticks.begin(), ticks.end(), id); };
    w.setTimerHandler([&](unsigned id) {
        ticks.push_back(id);
        if (id == 4 && count(4) == 3)
            w.killTimer(4);  // killing from inside the tick
    });
    w.setTimer(4, 10);
    w.setTimer(1, 1000);
    EXPECT_TRUE(w.hasTimer(4) && w.hasTimer(1));
    EXPECT_EQ(w.timerPeriod(1), 1000);
    w.setTimer(2, 0);  // raised, as SetTimer does
    EXPECT_EQ(w.timerPeriod(2), MessageWindow::kMinimumTimerMs);
    w.killTimer(2);
    EXPECT_EQ(w.timerPeriod(2), 0);
    ASSERT_TRUE(waitUntil([&] { return !w.hasTimer(4); }));
    pumpFor(40);
    EXPECT_EQ(count(4), 3);
    EXPECT_EQ(count(1), 0);

    // Setting an id again restarts it with the new period; kill stops it.
    w.setTimer(1, 10);
    ASSERT_TRUE(waitUntil([&] { return count(1) >= 2; }));
    w.killTimer(1);
    w.killTimer(1);   // twice is harmless
    w.killTimer(77);  // never set
    EXPECT_FALSE(w.hasTimer(1));
    const auto total = ticks.size();
    pumpFor(40);
    EXPECT_EQ(ticks.size(), total);
}

TEST(WindowTimers, SubclassTicksThroughOnTimerAndZeroPeriodIsRaisedToTheMinimum)
{
    struct Frame : MessageWindow {
        Frame() : MessageWindow(u"frame"_s) {}
        void onTimer(unsigned id) override { seen.push_back(id); }
        std::vector<unsigned> seen;
    } frame;
    frame.setTimer(9, 0);
    pumpFor(100);
    frame.killTimer(9);
    ASSERT_GE(frame.seen.size(), 1u);
    EXPECT_LE(frame.seen.size(), std::size_t(100 / MessageWindow::kMinimumTimerMs + 2));
    EXPECT_EQ(frame.seen.front(), 9u);
}

}  // namespace
