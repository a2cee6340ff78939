#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace {

struct Event {
  PlatEvent* e;
  Event(bool manual, bool set) : e(PlatEventCreate(manual, set)) {}
  ~Event() { PlatEventDestroy(e); }
};

TEST(EventTest, AutoResetIsTakenOnceAndManualStaysSet) {
  Event a(false, true), m(true, true);
  EXPECT_TRUE(PlatEventWait(a.e, 0));
  EXPECT_FALSE(PlatEventWait(a.e, 0));
  EXPECT_FALSE(PlatEventWait(a.e, 5));  // watches, then sleeps, then times out
  EXPECT_TRUE(PlatEventWait(m.e, 0));
  EXPECT_TRUE(PlatEventWait(m.e, 5));
  PlatEventReset(m.e);
  EXPECT_FALSE(PlatEventWait(m.e, 0));
  PlatEventSet(a.e);
  PlatEventReset(a.e);
  EXPECT_FALSE(PlatEventWait(a.e, 0));
}

// Waiters that have gone to sleep are woken: a manual event wakes all of them, an auto-reset
// event lets exactly one through per set.
TEST(EventTest, SleepersAreWokenAndAutoResetLetsOneThroughPerSet) {
  Event m(true, false), a(false, false);
  std::atomic<int> passed_m{0}, passed_a{0};
  std::vector<std::thread> ts;
  for (int i = 0; i < 3; i++)
    ts.emplace_back([&] {
      if (PlatEventWait(m.e, 10000)) passed_m++;
      if (PlatEventWait(a.e, 300)) passed_a++;
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // past the watching
  PlatEventSet(m.e);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  PlatEventSet(a.e);
  for (std::thread& t : ts) t.join();
  EXPECT_EQ(passed_m, 3);
  EXPECT_EQ(passed_a, 1);
}

// The posting protocol of the drawing workers, many times over: a lost wake-up shows as a
// wait that times out.
TEST(EventTest, PingPongNeverLosesASignal) {
  Event ping(false, false), pong(false, false);
  const int kRounds = 20000;
  std::atomic<int> missed{0};
  std::thread t([&] {
    for (int i = 0; i < kRounds; i++) {
      if (!PlatEventWait(ping.e, 5000)) missed++;
      PlatEventSet(pong.e);
    }
  });
  for (int i = 0; i < kRounds; i++) {
    if (i % 1000 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));  // let it sleep
    PlatEventSet(ping.e);
    if (!PlatEventWait(pong.e, 5000)) missed++;
  }
  t.join();
  EXPECT_EQ(missed, 0);
}

}  // namespace
