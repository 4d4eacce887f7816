// A signal reaches the program's closing path on the UI thread, once per
// window that asked for it.
#include "platform/termination.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <vector>

namespace {

using testsupport::waitUntil;

// One process, windows one after another (a test program repeating its
// tests): each window's first signal runs its own callback. A signal raised
// before the next window's callback is given is not lost: it closes that one.
TEST(Termination, EachWindowClosesAtItsOwnFirstSignal)
{
    std::vector<int> ran;
    const auto closing = [&ran](int window) { return [&ran, window] { ran.push_back(window); }; };

    for (int window : {1, 2, 3}) {
        ASSERT_TRUE(platform::installTerminationHandler(closing(window)));
        ::raise(SIGTERM);
        ASSERT_TRUE(waitUntil([&] { return int(ran.size()) == window; }, 5000)) << window;
    }

    ASSERT_TRUE(platform::installTerminationHandler(closing(4)));
    ::raise(SIGINT);  // not yet read when window 5 takes over
    ASSERT_TRUE(platform::installTerminationHandler(closing(5)));
    ASSERT_TRUE(waitUntil([&] { return ran.size() == 4; }, 5000));

    platform::installTerminationHandler(nullptr);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3, 5}));
}

}  // namespace
