// Clock, threads, events, locks and processor facts. The fixed clock replaces the monotonic
// clock for repeatable runs: only the frame thread's pacing sleep and explicit advances move it.
#include <cpuid.h>
#include <sched.h>
#include <sys/sysinfo.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/platform.h"

static std::atomic<bool> s_FixedClock{false};
static std::atomic<u32> s_FixedNow{0};

u32 PlatTimeMs() {
  if (s_FixedClock.load(std::memory_order_relaxed)) return s_FixedNow.load(std::memory_order_relaxed);
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<u32>(static_cast<u64>(ts.tv_sec) * 1000u + static_cast<u64>(ts.tv_nsec) / 1000000u);
}

void PlatSleepMs(u32 ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void PlatFrameSleepMs(u32 ms) {
  if (s_FixedClock.load(std::memory_order_relaxed)) {
    s_FixedNow.fetch_add(ms, std::memory_order_relaxed);
    return;
  }
  PlatSleepMs(ms);
}

void PlatClockSetFixed(bool fixed, u32 start_ms) {
  s_FixedNow.store(start_ms);
  s_FixedClock.store(fixed);
}

bool PlatClockIsFixed() { return s_FixedClock.load(std::memory_order_relaxed); }

void PlatClockAdvance(u32 ms) { s_FixedNow.fetch_add(ms, std::memory_order_relaxed); }

PlatLocalTime PlatGetLocalTime() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm t;
  localtime_r(&ts.tv_sec, &t);
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_wday,
          t.tm_hour,        t.tm_min,     t.tm_sec,  static_cast<int>(ts.tv_nsec / 1000000)};
}

struct PlatThread {
  std::thread t;
};

PlatThread* PlatThreadStart(PlatThreadFn fn, void* arg) {
  try {
    PlatThread* t = new PlatThread;
    t->t = std::thread(fn, arg);
    return t;
  } catch (...) {
    return nullptr;
  }
}

void PlatThreadJoin(PlatThread* t) {
  if (!t) return;
  if (t->t.joinable()) t->t.join();
  delete t;
}

// An event is a flag. Waiters first watch it for a short while and only then sleep on the
// condition variable: the drawing workers are handed one job after another within a frame, and
// waking a sleeping thread costs far more than the job's wait (on a virtual machine, tens of
// microseconds a wake). Setting takes the lock and notifies only when somebody sleeps: a
// sleeper counts itself (sequentially consistent) before it looks at the flag under the lock,
// and the setter stores the flag before it reads the count, so one of the two always sees the
// other.
struct PlatEvent {
  std::atomic<bool> set{false};
  std::atomic<i32> sleepers{0};
  std::mutex m;
  std::condition_variable cv;
  bool manual = false;
};

static const i64 kEventSpinNs = 50000;

PlatEvent* PlatEventCreate(bool manual_reset, bool initially_set) {
  PlatEvent* e = new PlatEvent;
  e->manual = manual_reset;
  e->set.store(initially_set);
  return e;
}

void PlatEventDestroy(PlatEvent* e) { delete e; }

void PlatEventSet(PlatEvent* e) {
  e->set.store(true);
  if (e->sleepers.load() == 0) return;
  { std::lock_guard<std::mutex> g(e->m); }
  if (e->manual) e->cv.notify_all();
  else e->cv.notify_one();
}

void PlatEventReset(PlatEvent* e) { e->set.store(false); }

// Takes the signal: an auto-reset event is cleared by the one waiter that sees it set.
static bool EventTake(PlatEvent* e) {
  if (e->manual) return e->set.load();
  bool was = true;
  return e->set.compare_exchange_strong(was, false);
}

void PlatCpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

void PlatThreadYield() { sched_yield(); }

static i64 MonotonicNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<i64>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool PlatEventWait(PlatEvent* e, i32 timeout_ms) {
  if (EventTake(e)) return true;
  if (timeout_ms == 0) return false;
  // Watching only helps while another processor can set the event.
  static const bool spin = std::thread::hardware_concurrency() > 1;
  if (spin) {
    i64 start = MonotonicNs();
    for (u32 i = 1;; i++) {
      PlatCpuRelax();
      if ((i & 15) == 0) {
        if (EventTake(e)) return true;
        if (MonotonicNs() - start >= kEventSpinNs) break;
      }
    }
  }
  std::unique_lock<std::mutex> g(e->m);
  e->sleepers.fetch_add(1);
  bool got = true;
  if (timeout_ms < 0) {
    e->cv.wait(g, [e] { return EventTake(e); });
  } else {
    got = e->cv.wait_for(g, std::chrono::milliseconds(timeout_ms), [e] { return EventTake(e); });
  }
  e->sleepers.fetch_sub(1);
  return got;
}

struct PlatLock {
  std::recursive_mutex m;
};

PlatLock* PlatLockCreate() { return new PlatLock; }
void PlatLockDestroy(PlatLock* l) { delete l; }
void PlatLockEnter(PlatLock* l) { l->m.lock(); }
void PlatLockLeave(PlatLock* l) { l->m.unlock(); }

unsigned PlatCpuCount() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<unsigned>(n) : 1u;
}

static PlatCpuInfo ReadCpuInfo() {
  PlatCpuInfo ci;
  std::memset(&ci, 0, sizeof ci);
  unsigned a, b, c, d;
  unsigned max_leaf = __get_cpuid_max(0, nullptr);
  if (max_leaf == 0) return ci;
  ci.has_cpuid = true;
  __cpuid(0, a, b, c, d);
  std::memcpy(ci.vendor + 0, &b, 4);
  std::memcpy(ci.vendor + 4, &d, 4);
  std::memcpy(ci.vendor + 8, &c, 4);
  __cpuid(1, a, b, c, d);
  ci.stepping = a & 0xF;
  ci.model = (a >> 4) & 0xF;
  ci.family = (a >> 8) & 0xF;
  if (ci.family == 0xF) ci.family += (a >> 20) & 0xFF;
  if (ci.family == 0x6 || ci.family >= 0xF) ci.model += ((a >> 16) & 0xF) << 4;
  ci.mmx = d & (1u << 23);
  ci.sse = d & (1u << 25);
  ci.sse2 = d & (1u << 26);
  ci.sse3 = c & 1u;
  ci.ssse3 = c & (1u << 9);
  ci.sse41 = c & (1u << 19);
  ci.sse42 = c & (1u << 20);
  ci.avx = __builtin_cpu_supports("avx");
  ci.avx2 = __builtin_cpu_supports("avx2");
  ci.avx512bw = __builtin_cpu_supports("avx512bw");
  ci.avx512vbmi = __builtin_cpu_supports("avx512vbmi");
  unsigned ext = __get_cpuid_max(0x80000000u, nullptr);
  if (ext >= 0x80000001u) {
    __cpuid(0x80000001u, a, b, c, d);
    ci.amd3dnow = d & (1u << 31);
    ci.amd3dnowext = d & (1u << 30);
    ci.mmxext = d & (1u << 22);
    ci.sse4a = c & (1u << 6);
    ci.ext_ecx11 = c & (1u << 11);
  }
  if (ext >= 0x80000004u) {
    unsigned r[12];
    for (unsigned i = 0; i < 3; i++) __cpuid(0x80000002u + i, r[4 * i], r[4 * i + 1], r[4 * i + 2], r[4 * i + 3]);
    std::memcpy(ci.brand, r, 48);
  }
  return ci;
}

const PlatCpuInfo& PlatCpuGetInfo() {
  static const PlatCpuInfo info = ReadCpuInfo();
  return info;
}

void PlatMemoryStatus(u64* total, u64* avail) {
  struct sysinfo si;
  if (sysinfo(&si) != 0) {
    *total = *avail = 0;
    return;
  }
  *total = static_cast<u64>(si.totalram) * si.mem_unit;
  *avail = static_cast<u64>(si.freeram + si.bufferram) * si.mem_unit;
}

bool PlatIsAdmin() { return geteuid() == 0; }
