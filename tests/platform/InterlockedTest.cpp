// Tests of the stand-in's interlocked operations.
#include <limits.h>

#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

namespace {

TEST(Interlocked, WrapsAtTheEnds) {
    LONG volatile value = INT_MAX;
    EXPECT_LT(InterlockedIncrement(&value), 0);
    EXPECT_EQ(INT_MIN, value);
    EXPECT_GT(InterlockedDecrement(&value), 0);
    EXPECT_EQ(INT_MAX, value);
}

TEST(Interlocked, NoUpdateIsLostBetweenThreads) {
    LONG volatile value = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&value, t] {
            for (int i = 0; i < 100000; ++i) {
                if (t % 2 == 0) {
                    InterlockedIncrement(&value);
                } else {
                    InterlockedIncrement(&value);
                    InterlockedDecrement(&value);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(200000, value);
}

}  // namespace
