// The drawing-worker pool (see worker.h). Posting protocol: for each worker in index order, fill
// its job record and set its start event; then wait for every acknowledgement, then for every
// done event.
// A worker resets its done event before it acknowledges, so the poster's wait on done can never
// see the signal of an earlier job.
#include "layer/worker.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <utility>

#include "core/err.h"
#include "core/hooks.h"
#include "core/state.h"
#include "layer/compose.h"
#include "layer/image.h"
#include "layer/scale.h"
#include "platform/platform.h"

WorkerJob g_WorkerJobs[WORKER_MAX];
std::atomic<u32> g_WorkerBusy{0};
i64 g_WorkerInlinePixels = WORKER_INLINE_PIXELS;

static PlatEvent* s_Start[WORKER_MAX];
static PlatEvent* s_Ack[WORKER_MAX];
static PlatEvent* s_Done[WORKER_MAX];
static PlatThread* s_Threads[WORKER_MAX];
static i32 s_PoolCount = 0;                  // events made for this many workers; 0 = no pool
static std::atomic<bool> s_PoolStop{false};  // the workers' only reason to end
static std::atomic<bool> s_Linger{false};

void WorkerLinger(bool on) { s_Linger.store(on); }

// Waits for e, watching it without sleeping while keep_watching() holds; the watching gives
// the processor away between looks once it has gone on for a while, so a worker or poster
// that shares a processor with the thread it waits for does not hold that thread up.
template <class Keep>
static void WaitWatching(PlatEvent* e, Keep keep_watching) {
  for (u32 round = 0; keep_watching(); round++) {
    if (PlatEventWait(e, 0)) return;
    for (int k = 0; k < 32; k++) PlatCpuRelax();
    if (round >= 64) PlatThreadYield();
  }
  PlatEventWait(e, -1);
}
static bool Lingering() { return s_Linger.load(); }
// The poster watches for a blend's answers for up to 2 ms, longer than a share of any blend
// takes; a longer job (a large picture's decoding) lets it sleep.
struct WatchBriefly {
  std::chrono::steady_clock::time_point until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2);
  bool operator()() const { return std::chrono::steady_clock::now() < until; }
};

static void WorkerJobInflate(WorkerJob* job) {
  if (job->parts && job->index < 2) ImageJobInflate(&job->parts[job->index]);
}

// Job codes and their bodies, in the order the engine numbers them.
static const struct {
  i32 code;
  WorkerJobFn body;
} kWorkerJobs[] = {
    {WORKER_JOB_SCALE_NEAREST, LayerJobScaleNearest},
    {WORKER_JOB_SCALE_BILINEAR, LayerJobScaleBilinear},
    {WORKER_JOB_RESIZE_BILINEAR, LayerJobResizeBilinear},
    {WORKER_JOB_BLEND, LayerJobBlend},
    {WORKER_JOB_BLEND_MASK, LayerJobBlendMask},
    {WORKER_JOB_BLEND_ALPHA, LayerJobBlendAlpha},
    {WORKER_JOB_BLEND_MASK_ALPHA, LayerJobBlendMaskAlpha},
    {WORKER_JOB_BLEND_BATCH, LayerJobBlendBatch},
    {WORKER_JOB_INFLATE, WorkerJobInflate},
};

WorkerJobFn WorkerJobBody(i32 code) {
  for (const auto& j : kWorkerJobs)
    if (j.code == code) return j.body;
  return nullptr;
}

static i32 ClampedWorkerCount() {
  i32 n = g_WorkerCount;
  return n < 1 ? 1 : (n > WORKER_MAX ? i32{WORKER_MAX} : n);
}

i32 WorkerCount() { return s_PoolCount > 0 ? s_PoolCount : ClampedWorkerCount(); }

bool WorkerPoolRunning() { return s_PoolCount > 0; }

static void DestroyEvents() {
  for (i32 i = 0; i < WORKER_MAX; i++) {
    PlatEvent** sets[] = {&s_Start[i], &s_Ack[i], &s_Done[i]};
    for (PlatEvent** e : sets) {
      if (*e) PlatEventDestroy(*e);
      *e = nullptr;
    }
  }
}

i32 SysWorkerPoolStart() {
  if (s_PoolCount > 0) return 0;
  i32 n = ClampedWorkerCount();
  for (i32 i = 0; i < n; i++) {
    s_Start[i] = PlatEventCreate(false, false);
    s_Ack[i] = PlatEventCreate(false, false);
    s_Done[i] = PlatEventCreate(false, true);
    if (!s_Start[i] || !s_Ack[i] || !s_Done[i]) {
      DestroyEvents();
      static const std::string text = PlatUtf8ToSjis("[エラー]\n\nイベントが作成できませんでした。");
      ErrMessageBoxF("", "%s", text);
      return -1;
    }
  }
  s_PoolStop = false;
  s_PoolCount = n;
  bool failed = false;
  for (i32 i = 0; i < n; i++) {
    g_WorkerJobs[i] = WorkerJob{};
    g_WorkerJobs[i].index = i;
    if (i == 0) continue;  // worker 0 is the posting thread
    // No ideal-processor hint here: the only way to give one on this platform is a hard
    // affinity, which would pin a worker to a processor another program keeps busy.
    s_Threads[i] = PlatThreadStart(LayerWorkerMain, &g_WorkerJobs[i]);
    if (!s_Threads[i]) failed = true;
  }
  if (failed) {
    static const std::string text = PlatUtf8ToSjis("[エラー]\n\nスレッドが起動できませんでした。");
    ErrMessageBoxF("", "%s", text);
    return -1;
  }
  if (n >= 2) g_ImageInflatePair = WorkerInflatePair;
  return 0;
}

void SysWorkerPoolStop() {
  if (s_PoolCount == 0) return;
  if (g_ImageInflatePair == WorkerInflatePair) g_ImageInflatePair = ImageInflatePairHere;
  s_PoolStop = true;
  for (i32 i = 0; i < s_PoolCount; i++) PlatEventSet(s_Start[i]);
  for (i32 i = 0; i < s_PoolCount; i++) {
    if (s_Threads[i]) PlatThreadJoin(s_Threads[i]);
    s_Threads[i] = nullptr;
  }
  DestroyEvents();
  s_PoolCount = 0;
}

void LayerWorkerMain(void* arg) {
  WorkerJob* job = static_cast<WorkerJob*>(arg);
  // The index comes from the record's place, not its contents: the poster may already be
  // filling the record for the first job.
  i32 i = static_cast<i32>(job - g_WorkerJobs);
  for (;;) {
    g_WorkerBusy = 1;
    WaitWatching(s_Start[i], Lingering);
    g_WorkerBusy = 0;
    PlatEventReset(s_Done[i]);
    PlatEventSet(s_Ack[i]);
    if (s_PoolStop) break;
    if (WorkerJobFn body = WorkerJobBody(job->code)) body(job);
    PlatEventSet(s_Done[i]);
  }
  PlatEventSet(s_Done[i]);
}

bool WorkerRows::Take(i32* first, i32* end) {
  const WorkerJob& j = *job;
  if (!j.chunk_next) {
    *first = j.row_first;
    *end = j.row_end;
    return !std::exchange(given, true);
  }
  const i64 rows = i64{j.row_end} - j.row_first;
  const i64 least = std::max(j.chunk_rows, 1);
  i32 taken = j.chunk_next->load(std::memory_order_relaxed);
  i64 size;
  do {
    if (taken >= rows) return false;
    size = least;
    if (j.chunk_shrink) size = std::max(least, (rows - taken) / (2 * i64{std::max(j.share_count, 1)}));
    size = std::min(size, rows - taken);
  } while (!j.chunk_next->compare_exchange_weak(taken, static_cast<i32>(taken + size), std::memory_order_relaxed));
  *first = static_cast<i32>(j.row_first + taken);
  *end = static_cast<i32>(j.row_first + taken + size);
  return true;
}

// Worker i's rows of n; a job shared in chunks gives every worker the whole range.
static void Share(WorkerJob* j, i32 i, i32 n, i32 first, i32 end) {
  i64 h = i64{end} - first;
  j->index = i;
  j->share_count = n;
  if (j->chunk_next) {
    j->row_first = first;
    j->row_end = end;
    return;
  }
  j->row_first = static_cast<i32>(first + i * h / n);
  j->row_end = static_cast<i32>(first + (i + 1) * h / n);
}

// Posts job to workers 0 .. n - 1 (n at most the pool's size) and waits for all of them. The
// poster is worker 0: it starts workers 1 .. n - 1, runs share 0 in record 0 itself, then waits
// for the others. One worker, a small job or no pool: the poster runs every share itself, in
// the same records, so the rows and their results are the same as the workers' would be.
static void PostTo(i32 n, const WorkerJob& job, i32 first, i32 end) {
  WorkerJobFn body = WorkerJobBody(job.code);
  if (s_PoolCount == 0 || n == 1) {
    for (i32 i = 0; i < n; i++) {
      g_WorkerJobs[i] = job;
      Share(&g_WorkerJobs[i], i, n, first, end);
      if (body) body(&g_WorkerJobs[i]);
    }
    return;
  }
  // Every worker is started before any acknowledgement is awaited: each has its own record and
  // events, and a worker asleep since the last frame takes a while to wake, so the wake-ups
  // overlap instead of queueing one behind another, and behind the poster's own share.
  for (i32 i = 1; i < n; i++) {
    g_WorkerJobs[i] = job;
    Share(&g_WorkerJobs[i], i, n, first, end);
    PlatEventSet(s_Start[i]);
  }
  g_WorkerJobs[0] = job;
  Share(&g_WorkerJobs[0], 0, n, first, end);
  if (body) body(&g_WorkerJobs[0]);
  // The others finish about when the poster does: it watches for a while rather than sleeps.
  // A chunked job's rows are all taken once the poster's share is over: a worker that has not
  // woken by then gets its start taken back (it goes on waiting, and never sees the job) rather
  // than being waited for.
  WatchBriefly watch;
  for (i32 i = 1; i < n; i++) {
    if (job.chunk_next && PlatEventWait(s_Start[i], 0)) continue;
    WaitWatching(s_Ack[i], watch);
    WaitWatching(s_Done[i], watch);
  }
}

// Pixels a row job produces: the blend width, or the scaled destination's width.
static i64 JobPixels(const WorkerJob& job, i32 first, i32 end) {
  i64 width = job.width > 0 ? job.width : job.dst_width / (job.code == WORKER_JOB_SCALE_NEAREST ? 1 : 100);
  return (i64{end} - first) * width;
}

void WorkerPostRows(const WorkerJob& job, i32 first, i32 end) {
  i32 n = WorkerCount();
  if (n > 1 && JobPixels(job, first, end) < g_WorkerInlinePixels) n = 1;
  PostTo(n, job, first, end);
}

void WorkerPostRowsSized(const WorkerJob& job, i32 first, i32 end, i64 pixels) {
  i32 n = WorkerCount();
  if (n > 1 && pixels < g_WorkerInlinePixels) n = 1;
  PostTo(n, job, first, end);
}

void WorkerInflatePair(ImageInflatePart parts[2]) {
  WorkerJob job{};
  job.code = WORKER_JOB_INFLATE;
  job.parts = parts;
  if (WorkerCount() < 2) ImageInflatePairHere(parts);
  else PostTo(2, job, 0, 0);
}

void WorkerReset() {
  SysWorkerPoolStop();
  for (WorkerJob& j : g_WorkerJobs) j = WorkerJob{};
  g_WorkerBusy = 0;
  g_WorkerInlinePixels = WORKER_INLINE_PIXELS;
  g_ComposeChunkBytes = COMPOSE_CHUNK_BYTES;
  s_Linger = false;
}
