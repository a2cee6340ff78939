// The drawing workers: a pool of one to four workers that run row jobs by job code (frame
// scaling, resizing, blends, picture inflation). The posting thread is worker 0 itself: it runs
// share 0 while threads run shares 1 and up, so n workers keep n processors busy and none waits
// idle beside them (a pool of one has no thread). Only the thread that runs the frame posts, and
// it waits for every worker before it posts again or touches what the job reads, so a job
// record is written only while its worker waits for its start event. Workers end only when the
// pool is stopped; a quit request alone never leaves a later post waiting for a worker that is
// gone. Without a running pool (tests, start-up) the same shares run on the posting thread.
#pragma once
#include <atomic>

#include "common/types.h"

struct LayerRecord;
struct ImageInflatePart;

enum { WORKER_MAX = 4 };

// Job codes.
enum {
  WORKER_JOB_SCALE_NEAREST = 11,
  WORKER_JOB_SCALE_BILINEAR = 21,
  WORKER_JOB_RESIZE_BILINEAR = 41,
  WORKER_JOB_BLEND = 101,
  WORKER_JOB_BLEND_MASK = 102,
  WORKER_JOB_BLEND_ALPHA = 103,
  WORKER_JOB_BLEND_MASK_ALPHA = 104,
  WORKER_JOB_BLEND_BATCH = 110,
  WORKER_JOB_INFLATE = 1001,
};

// One worker's job. Rows [row_first, row_end) are this worker's share: destination rows for the
// scalers, rows relative to the blend rectangle for the blends.
struct WorkerJob {
  i32 index;  // the worker's own index
  i32 code;
  i32 row_first, row_end;
  // Scalers (11, 21, 41): destination columns, the source bounds (pixels for 11, hundredths of a
  // pixel for 21 and 41), the sizes (21 and 41: destination sizes times 100) and the buffers.
  i32 col_first, col_end;
  i64 src_left, src_top, src_right, src_bottom;
  i32 src_width, src_height;
  i64 dst_width, dst_height;
  u8* dst_pixels;
  const u8* src_pixels;
  // Blends (101 to 104): the clipped rectangle, the columns the child covers in the target, and
  // the records it joins.
  i32 width, src_x, src_y, dst_x, dst_y;
  i32 span_left, span_right;
  LayerRecord* target;
  const LayerRecord* child;
  const LayerRecord* mask;
  const u8* mask_pixels;
  // Inflation (1001): the two parts of the picture; worker 0 does part 1, worker 1 part 2.
  ImageInflatePart* parts;
  // A batch of blends into one target (110): the blends (each with its rows [0, row_end) of its
  // rectangle), and this worker's share as rows of the target.
  const WorkerJob* batch;
  i32 batch_count;
  // A job shared in chunks (chunk_next set): every worker gets the job's whole row range and
  // takes chunks of it through WorkerTakeRows until none is left, so a worker that starts late or
  // is held up takes fewer. *chunk_next counts the rows taken (0 when posted); chunks have
  // chunk_rows rows, or with chunk_shrink a share of what is left (at least chunk_rows), large
  // while much is left and small at the end, so the workers end together.
  std::atomic<i32>* chunk_next;
  i32 chunk_rows;
  bool chunk_shrink;
  i32 share_count;  // workers the job is shared among
};

// A worker's walk over its rows: Take gives the next chunk it takes of a chunked job, or its own
// rows once for a job that is not; false once none is left.
struct WorkerRows {
  const WorkerJob* job;
  bool given = false;
  bool Take(i32* first, i32* end);
};

typedef void (*WorkerJobFn)(WorkerJob* job);
// Job 110: every blend of the batch on this worker's band of target rows, in batch order.
void LayerJobBlendBatch(WorkerJob* job);
// Job 41: bilinear rows of a resized layer picture (the threaded resize filter).
void LayerJobResizeBilinear(WorkerJob* job);

extern WorkerJob g_WorkerJobs[WORKER_MAX];
// A job of fewer pixels than this costs less than waking the workers: the poster runs all of it
// (the same shares, the same results). Tests lower it to make every job reach the workers.
enum { WORKER_INLINE_PIXELS = 64 * 1024 };
extern i64 g_WorkerInlinePixels;
// Set by a worker while it waits for work.
extern std::atomic<u32> g_WorkerBusy;

// Starts g_WorkerCount workers: events for each, a thread for each but worker 0 (the poster). 0, or -1 after the
// message box (start-up stops); workers already running are stopped by SysWorkerPoolStop.
i32 SysWorkerPoolStart();
// Sets the quit flag, wakes and waits for every worker, frees the events. Safe when not started.
void SysWorkerPoolStop();
// Workers of the running pool, or the number a post would split over without one.
i32 WorkerCount();
bool WorkerPoolRunning();

// The thread function of worker job->index.
void LayerWorkerMain(void* job);
// While on, idle workers watch for their next job instead of going to sleep: a composition
// posts one batch after another (one per folder, and one for each change of mask weights), and
// a sleeping worker takes long to wake (far longer than a batch's share on a virtual machine). The compositor turns it on for the length of a
// composition; off, workers sleep as soon as they are idle.
void WorkerLinger(bool on);

// Posts job (its index, rows and code filled per worker) to every worker with rows [first, end)
// split as first + i * H / n .. first + (i + 1) * H / n, and waits for all of them. With one
// worker, or a job below g_WorkerInlinePixels, the poster runs it itself as worker 0 would.
void WorkerPostRows(const WorkerJob& job, i32 first, i32 end);
// The same for a job whose size is given as its pixel count (a batch's rows do not tell it).
void WorkerPostRowsSized(const WorkerJob& job, i32 first, i32 end, i64 pixels);
// The body that runs a job code (null for an unknown code, which does nothing).
WorkerJobFn WorkerJobBody(i32 code);
// Inflates both parts of an own-format picture on workers 0 and 1 (the image module's hook while
// the pool runs with two or more workers).
void WorkerInflatePair(ImageInflatePart parts[2]);

// Tests: stop the pool and forget everything.
void WorkerReset();
