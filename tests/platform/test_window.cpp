// Windows found by caption, numbered messages (direct, queued, from worker
// threads through a gate) and timers by id.
#include "platform/messages.h"
#include "platform/window.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QWidget>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace platform;
using testsupport::waitUntil;

TEST(WindowRegistry, FindsByCaptionExactlyOrIgnoringCase)
{
    MessageWindow first(QStringLiteral("Scan For Devices"));
    MessageWindow second(QStringLiteral("scan for devices"));
    QWidget widget;
    widget.setWindowTitle(QStringLiteral("查找设备"));
    MessageWindow mixed(&widget);

    const struct {
        QString caption;
        MessageWindow* exact;
        MessageWindow* noCase;
    } cases[] = {
        {QStringLiteral("Scan For Devices"), &first, &first},
        {QStringLiteral("scan for devices"), &second, &first},  // the first created wins
        {QStringLiteral("SCAN FOR DEVICES"), nullptr, &first},
        {QStringLiteral("Scan For Devices "), nullptr, nullptr},
        {QStringLiteral("查找设备"), &mixed, &mixed},
        {QString(), nullptr, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(findWindow(c.caption), c.exact) << c.caption.toStdString();
        EXPECT_EQ(findWindowNoCase(c.caption), c.noCase) << c.caption.toStdString();
    }

    // A widget's caption is its window title, also after a change.
    mixed.setCaption(QStringLiteral("Renamed"));
    EXPECT_EQ(widget.windowTitle(), QStringLiteral("Renamed"));
    EXPECT_EQ(findWindow(QStringLiteral("Renamed")), &mixed);
    EXPECT_EQ(findWindow(QStringLiteral("查找设备")), nullptr);
}

TEST(WindowRegistry, DestroyedWindowsAreNotFoundAndTheirHandlesGoStale)
{
    WindowHandle handle = 0;
    {
        MessageWindow w(QStringLiteral("short lived"));
        handle = w.handle();
        EXPECT_EQ(windowFromHandle(handle), &w);
    }
    EXPECT_EQ(findWindow(QStringLiteral("short lived")), nullptr);
    EXPECT_EQ(windowFromHandle(handle), nullptr);
    EXPECT_EQ(windowFromHandle(0), nullptr);
    MessageWindow later(QStringLiteral("short lived"));
    EXPECT_NE(later.handle(), handle);  // handles are never reused
}

TEST(WindowMessages, SendRunsTheHandlerNowAndReturnsItsResult)
{
    MessageWindow w(QStringLiteral("receiver"));
    std::vector<std::pair<WPARAM, LPARAM>> got;
    w.onMessage(WM_TEMPERATURE_REPLY, [&](WPARAM wp, LPARAM lp) {
        got.emplace_back(wp, lp);
        return LRESULT(42);
    });
    EXPECT_TRUE(w.handles(WM_TEMPERATURE_REPLY));
    EXPECT_FALSE(w.handles(WM_POWER_REPLY));
    EXPECT_EQ(sendMessage(&w, WM_TEMPERATURE_REPLY, 7, -3), 42);
    EXPECT_EQ(sendMessage(QStringLiteral("receiver"), WM_TEMPERATURE_REPLY, 8, 9), 42);
    EXPECT_EQ(sendMessage(&w, WM_POWER_REPLY, 1, 1), 0);                       // no handler
    EXPECT_EQ(sendMessage(QStringLiteral("nobody"), WM_TEMPERATURE_REPLY, 1, 1), 0);  // no window
    EXPECT_EQ(sendMessage(static_cast<MessageWindow*>(nullptr), WM_TEMPERATURE_REPLY, 1, 1), 0);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], std::make_pair(WPARAM(7), LPARAM(-3)));
    EXPECT_EQ(got[1], std::make_pair(WPARAM(8), LPARAM(9)));

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
    auto w = std::make_unique<MessageWindow>(QStringLiteral("posted to"));
    std::vector<WPARAM> order;
    w->onMessage(WM_OSD_REPLY, [&](WPARAM wp, LPARAM) {
        order.push_back(wp);
        return LRESULT(0);
    });
    for (WPARAM i = 1; i <= 3; ++i)
        ASSERT_TRUE(postMessage(w->handle(), WM_OSD_REPLY, i, 0));
    EXPECT_TRUE(order.empty());  // not before the event loop runs
    ASSERT_TRUE(waitUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<WPARAM>{1, 2, 3}));

    // From another thread, then the window goes before the loop runs.
    std::thread poster([h = w->handle()] { postMessage(h, WM_OSD_REPLY, 4, 0); });
    poster.join();
    w.reset();
    QElapsedTimer t;
    t.start();
    waitUntil([&] { return t.elapsed() > 30; });
    EXPECT_EQ(order.size(), 3u);
}

TEST(WindowMessages, WorkerSendWaitsForTheHandlerOnTheUiThread)
{
    MessageWindow w(QStringLiteral("worker target"));
    std::atomic<bool> handlerOnUi{false};
    w.onMessage(WM_UDP_EVENT, [&](WPARAM wp, LPARAM lp) {
        handlerOnUi = isUiThread();
        return LRESULT(wp + lp);
    });
    SendGate gate;
    std::atomic<LRESULT> result{-1};
    std::atomic<bool> delivered{false};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        bool d = false;
        result = sendMessageFromWorker(gate, [] { return findWindow(QStringLiteral("worker target")); },
                                       WM_UDP_EVENT, 40, 2, &d);
        delivered = d;
        done = true;
    });
    ASSERT_TRUE(waitUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(result.load(), 42);
    EXPECT_TRUE(delivered.load());
    EXPECT_TRUE(handlerOnUi.load());

    // On the UI thread the call runs directly.
    bool d = false;
    EXPECT_EQ(sendMessageFromWorker(gate, [&] { return &w; }, WM_UDP_EVENT, 1, 1, &d), 2);
    EXPECT_TRUE(d);
    // No receiver: 0 and not delivered.
    EXPECT_EQ(sendMessageFromWorker(gate, [] { return static_cast<MessageWindow*>(nullptr); }, WM_UDP_EVENT, 1, 1, &d),
              0);
    EXPECT_FALSE(d);
}

TEST(WindowMessages, ClosingTheGateReleasesWaitingWorkersWithoutRunningHandlers)
{
    MessageWindow w(QStringLiteral("gate target"));
    std::atomic<int> handled{0};
    w.onMessage(WM_TCP_EVENT, [&](WPARAM, LPARAM) {
        ++handled;
        return LRESULT(1);
    });
    SendGate gate;
    std::atomic<int> returned{0};
    // Workers block in the gate; the UI thread never runs the event loop
    // until the gate is closed, like an owner that stops its threads.
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i)
        workers.emplace_back([&] {
            sendMessageFromWorker(gate, [&] { return &w; }, WM_TCP_EVENT, 0, 0);
            ++returned;
        });
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 30)
        std::this_thread::yield();
    gate.close();
    for (auto& worker : workers)
        worker.join();  // would hang if a cancelled call still waited
    EXPECT_EQ(returned.load(), 3);
    EXPECT_TRUE(gate.isClosed());
    // The queued calls are stale now: running the loop must not run handlers.
    QElapsedTimer t2;
    t2.start();
    waitUntil([&] { return t2.elapsed() > 20; });
    EXPECT_EQ(handled.load(), 0);

    // A closed gate turns later sends away at once; reopen lets them through.
    bool d = true;
    std::thread late([&] { sendMessageFromWorker(gate, [&] { return &w; }, WM_TCP_EVENT, 0, 0, &d); });
    late.join();
    EXPECT_FALSE(d);
    gate.reopen();
    std::atomic<bool> done{false};
    std::thread again([&] {
        sendMessageFromWorker(gate, [&] { return &w; }, WM_TCP_EVENT, 0, 0);
        done = true;
    });
    ASSERT_TRUE(waitUntil([&] { return done.load(); }));
    again.join();
    EXPECT_EQ(handled.load(), 1);
}

TEST(WindowMessages, HandlerThatClosesItsGateFromInsideAndAThrowingHandler)
{
    MessageWindow w(QStringLiteral("inside"));
    SendGate gate;
    bool deliveringSeen = false;
    w.onMessage(WM_LINK_CLOSED, [&](WPARAM, LPARAM) {
        deliveringSeen = gate.isDelivering();
        gate.close();  // the running call still finishes
        return LRESULT(5);
    });
    w.onMessage(WM_GAME_REPLY, [](WPARAM, LPARAM) -> LRESULT { throw std::runtime_error("bad record"); });
    std::atomic<LRESULT> first{-1};
    std::atomic<LRESULT> second{-1};
    std::atomic<bool> done{false};
    SendGate other;
    std::thread worker([&] {
        first = sendMessageFromWorker(gate, [&] { return &w; }, WM_LINK_CLOSED, 0, 0);
        second = sendMessageFromWorker(other, [&] { return &w; }, WM_GAME_REPLY, 0, 0);
        done = true;
    });
    ASSERT_TRUE(waitUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(deliveringSeen);
    EXPECT_FALSE(gate.isDelivering());
    EXPECT_EQ(first.load(), 5);
    EXPECT_EQ(second.load(), 0);
}

TEST(WindowTimers, RepeatRestartAndKillById)
{
    MessageWindow w(QStringLiteral("timers"));
    std::vector<unsigned> ticks;
    w.setTimerHandler([&](unsigned id) {
        ticks.push_back(id);
        if (id == 4 && std::count(ticks.begin(), ticks.end(), 4u) == 3)
            w.killTimer(4);  // killing from inside the tick
    });
    w.setTimer(4, 10);
    w.setTimer(1, 1000);
    EXPECT_TRUE(w.hasTimer(4));
    EXPECT_TRUE(w.hasTimer(1));
    ASSERT_TRUE(waitUntil([&] { return !w.hasTimer(4); }, 3000));
    QElapsedTimer t;
    t.start();
    waitUntil([&] { return t.elapsed() > 40; });
    EXPECT_EQ(std::count(ticks.begin(), ticks.end(), 4u), 3);
    EXPECT_EQ(std::count(ticks.begin(), ticks.end(), 1u), 0);

    // Setting an id again restarts it with the new period; kill stops it.
    w.setTimer(1, 10);
    ASSERT_TRUE(waitUntil([&] { return std::count(ticks.begin(), ticks.end(), 1u) >= 2; }, 3000));
    w.killTimer(1);
    w.killTimer(1);   // twice is harmless
    w.killTimer(77);  // never set
    EXPECT_FALSE(w.hasTimer(1));
    const auto count = ticks.size();
    QElapsedTimer t2;
    t2.start();
    waitUntil([&] { return t2.elapsed() > 40; });
    EXPECT_EQ(ticks.size(), count);
}

TEST(WindowTimers, ZeroPeriodIsRaisedToTheMinimum)
{
    MessageWindow w(QStringLiteral("fast timer"));
    int ticks = 0;
    w.setTimerHandler([&](unsigned) { ++ticks; });
    w.setTimer(9, 0);
    QElapsedTimer t;
    t.start();
    waitUntil([&] { return t.elapsed() > 100; });
    w.killTimer(9);
    EXPECT_GE(ticks, 1);
    EXPECT_LE(ticks, 100 / MessageWindow::kMinimumTimerMs + 2);
}

TEST(WindowTimers, SubclassReceivesTicksThroughOnTimer)
{
    struct Frame : MessageWindow {
        Frame() : MessageWindow(QStringLiteral("frame")) {}
        void onTimer(unsigned id) override { seen.push_back(id); }
        std::vector<unsigned> seen;
    } frame;
    frame.setTimer(1, 10);
    ASSERT_TRUE(waitUntil([&] { return !frame.seen.empty(); }, 3000));
    frame.killTimer(1);
    EXPECT_EQ(frame.seen.front(), 1u);
}

TEST(WindowMessages, IdsKeepTheirNumbers)
{
    const struct {
        unsigned id;
        unsigned number;
    } ids[] = {{WM_TCP_EVENT, 1124}, {WM_UDP_EVENT, 1224}, {WM_SEND_TO_PLAYER, 1333}, {WM_TEMPERATURE_REPLY, 1336},
               {WM_LINK_CLOSED, 1431}};
    for (const auto& i : ids)
        EXPECT_EQ(i.id, i.number);
}

}  // namespace
