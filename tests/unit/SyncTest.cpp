#include "platform/Sync.h"

#include <gtest/gtest.h>

#include <atomic>

namespace qm {
namespace {

TEST(Event, ManualResetStaysSetUntilReset) {
    Event e(true);
    ASSERT_TRUE(e.Valid());
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(10));
    e.Reset();
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, AutoResetIsConsumedByOneWait) {
    Event e(false);
    e.Set();
    e.Set();  // two sets before a wait count once
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, InitiallySet) {
    Event e(true, true);
    EXPECT_TRUE(e.IsSet());
}

TEST(Event, BoundedWaitTimesOut) {
    Event e(true);
    const uint64_t start = MonotonicMs();
    EXPECT_FALSE(e.Wait(50));
    const uint64_t elapsed = MonotonicMs() - start;
    EXPECT_GE(elapsed, 45u);
    EXPECT_LT(elapsed, 1000u);
}

TEST(WaitForEither, NamesTheSignalledEventFirstBeforeSecond) {
    Event first(true), second(false);
    EXPECT_EQ(WaitForEither(first, second, 0), WaitResult::Timeout);
    second.Set();
    EXPECT_EQ(WaitForEither(first, second, 0), WaitResult::Second);
    EXPECT_EQ(WaitForEither(first, second, 0), WaitResult::Timeout);  // auto-reset consumed
    second.Set();
    first.Set();
    EXPECT_EQ(WaitForEither(first, second, 0), WaitResult::First);
    first.Reset();
    EXPECT_EQ(WaitForEither(first, second, 0), WaitResult::Second);
}

TEST(WaitForEither, WakesWhenAnotherThreadSets) {
    Event stop(true), ready(false);
    Thread t;
    ASSERT_TRUE(t.Start([](void* p) { static_cast<Event*>(p)->Set(); }, &ready));
    EXPECT_EQ(WaitForEither(stop, ready, 5000), WaitResult::Second);
    EXPECT_TRUE(t.Join(5000));
}

struct Blocker {
    Event release{true};
    std::atomic<bool> finished{false};
};

TEST(Thread, JoinIsBoundedAndDetachLetsTheThreadFinish) {
    auto* b = new Blocker;
    Thread t;
    ASSERT_TRUE(t.Start(
        [](void* p) {
            auto* blocker = static_cast<Blocker*>(p);
            blocker->release.Wait(kWaitForever);
            blocker->finished = true;
        },
        b));
    EXPECT_TRUE(t.Running());
    const uint64_t start = MonotonicMs();
    EXPECT_FALSE(t.Join(50));
    EXPECT_LT(MonotonicMs() - start, 1000u);
    EXPECT_TRUE(t.Running());
    b->release.Set();
    EXPECT_TRUE(t.Join(5000));
    EXPECT_FALSE(t.Running());
    EXPECT_TRUE(b->finished);
    delete b;
}

TEST(Thread, DetachedThreadEndsOnItsOwn) {
    static Event done(true);
    // Set after the event's use, so that the event's end at exit comes after it: a wait on an
    // event is no ordering that ThreadSanitizer sees.
    static std::atomic<bool> used{false};
    done.Reset();  // a repeated run starts afresh
    used = false;
    Thread t;
    ASSERT_TRUE(t.Start(
        [](void*) {
            done.Set();
            used.store(true, std::memory_order_release);
        },
        nullptr));
    t.Detach();
    EXPECT_FALSE(t.Running());
    EXPECT_TRUE(done.Wait(5000));
    for (int i = 0; i < 5000 && !used.load(std::memory_order_acquire); ++i)
        SleepMs(1);
    EXPECT_TRUE(used.load(std::memory_order_acquire));
}

TEST(Mutex, GuardsACounterAcrossThreads) {
    struct Shared {
        Mutex lock;
        int counter = 0;
    } shared;
    auto body = [](void* p) {
        auto* s = static_cast<Shared*>(p);
        for (int i = 0; i < 10000; ++i) {
            LockGuard g(s->lock);
            ++s->counter;
        }
    };
    Thread a, b;
    ASSERT_TRUE(a.Start(body, &shared));
    ASSERT_TRUE(b.Start(body, &shared));
    EXPECT_TRUE(a.Join(10000));
    EXPECT_TRUE(b.Join(10000));
    EXPECT_EQ(shared.counter, 20000);
}

TEST(LastError, IsPerThread) {
    SetLastErrorCode(1200);
    Thread t;
    static std::atomic<uint32_t> seen{99};
    ASSERT_TRUE(t.Start([](void*) { seen = GetLastErrorCode(); }, nullptr));
    EXPECT_TRUE(t.Join(5000));
    EXPECT_EQ(seen.load(), 0u);
    EXPECT_EQ(GetLastErrorCode(), 1200u);
}

}  // namespace
}  // namespace qm
