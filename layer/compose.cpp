// Composition of the layer tree (see compose.h). Blends into one target gather in a batch that
// the workers run in one go: they take chunks of the target's rows in turn and run every blend
// of the batch in order over a chunk, so the chunk stays in the cache while its layers are
// blended in, a worker that is held up takes fewer chunks, and there is one wake-up per batch
// instead of one per layer. Mask blends join the batch while they share its mask weights; one
// with other weights, one whose mask is the target itself, a folder's own composition and the
// end of a target run what is gathered first. The poster waits for every worker after each
// post, so g_BlitRect, g_MaskWeights and the records are only read while a post runs and only
// written between posts.
#include "layer/compose.h"

#include <cassert>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#include "core/config.h"
#include "core/err.h"
#include "core/hooks.h"
#include "core/obj.h"
#include "core/state.h"
#include "core/sys.h"
#include "layer/blend.h"
#include "layer/kernels.h"
#include "layer/layer.h"
#include "layer/worker.h"

i32 LayerComposeWindow(WindowObject* w) {
  if (!w) return g_QuitRequested;
  ObjNode* root = w->root_layer;
  LayerRecord* r = LayerOf(root);
  if (g_WindowOpen[w->index] != 1 || !r || !r->visible) return g_QuitRequested;
  if (w->index == 0 && g_D3dInUse && g_D3dRedraw) {
    g_D3dRedraw = 0;
    r->changed = 1;
    r->dirty_valid = 1;
    r->dirty_left = r->dirty_top = 0;
    r->dirty_right = i64{r->width} - 1;
    r->dirty_bottom = i64{r->height} - 1;
    r->needs_compose = 1;
    LayerCommitChanges(g_LayerRoot);
    HookCall(g_HookGpuFramePass);
  }
  w->has_drawn = 1;
  if (!r->needs_compose) return g_QuitRequested;
  if (LayerComposeTree(root, 0, 0) != 0) return -1;
  return g_QuitRequested;
}

i32 LayerComposeNow(ObjNode* node, i32 flag) { return LayerComposeTree(node, flag, 0); }

bool LayerBlitClipDirty(i64 x, i64 y, i32 width, i32 height, i64 left, i64 top, i64 right, i64 bottom) {
  i64 l = std::max(x, left), t = std::max(y, top);
  i64 r = std::min(x + width - 1, right), b = std::min(y + height - 1, bottom);
  if (l > r || t > b) return false;
  g_BlitRect.src_x = static_cast<i32>(l - x);
  g_BlitRect.src_y = static_cast<i32>(t - y);
  g_BlitRect.dst_x = static_cast<i32>(l);
  g_BlitRect.dst_y = static_cast<i32>(t);
  g_BlitRect.width = static_cast<i32>(r - l + 1);
  g_BlitRect.height = static_cast<i32>(b - t + 1);
  return true;
}

static bool HasMaskName(const LayerRecord* c) { return c->mask_name && c->mask_name[0]; }

// The topmost child that hides everything below it inside the dirty rectangle: drawn plainly
// and opaquely by the CPU over all of it. A child that is not drawn here cannot hide anything.
static bool HidesBelow(const LayerRecord* c, i64 left, i64 top, i64 right, i64 bottom) {
  i64 x = LayerClampPos(c->x), y = LayerClampPos(c->y);
  return c->visible && c->blend_mode == 0 && c->opacity >= 256 && !c->has_alpha &&
         (!HasMaskName(c) || c->mask_progress >= 256) && c->draw_kind == LAYER_DRAW_CPU && LayerHasPixels(c) &&
         x <= left && y <= top && x + c->width - 1 >= right && y + c->height - 1 >= bottom;
}

// The mask layer a child names: -1 when its name cannot be resolved, else 0 with *node_out the
// node the name finds (null when none) and *out its record (null when none or without pixels).
static i32 FindMask(const LayerRecord* c, ObjNode** node_out, const LayerRecord** out) {
  *out = nullptr;
  *node_out = nullptr;
  if (!HasMaskName(c)) return 0;
  char path[OBJ_PATH_MAX];
  i32 folder = ObjResolvePath(path, sizeof path, c->mask_name, g_LayerBase, 0);
  if (folder < 0) return -1;
  ObjNode* node = ObjFindNode(g_LayerRoot, path, folder == 1 ? OBJ_FIND_FOLDER : OBJ_FIND_ITEM);
  *node_out = node;  // noted as the user's mask even while it has no pixels
  const LayerRecord* m = LayerOf(node);
  if (LayerHasPixels(m)) *out = m;
  return 0;
}

// The blends gathered for one target (COMPOSE_BATCH_MAX at most: a full batch runs at once).
// Mask blends join a batch as long as they share its mask weights (g_MaskWeights is one table).
enum { COMPOSE_BATCH_MAX = 256 };
static WorkerJob s_Batch[COMPOSE_BATCH_MAX];
static i32 s_BatchCount = 0;
static i32 s_BatchTop = 0, s_BatchEnd = 0;  // target rows the batch covers
static i64 s_BatchPixels = 0;
static i64 s_BatchWeights = -1;  // the mask weights' progress, softness and opacity; -1: none yet
static std::atomic<i32> s_BatchChunkNext{0};

// Rows per chunk of a batch: about this many bytes of the target, so that a chunk and the rows
// of the layers blended into it stay in the worker's cache while every blend runs over it.
i64 g_ComposeChunkBytes = COMPOSE_CHUNK_BYTES;

static void RunBatch() {
  if (s_BatchCount == 0) return;
  WorkerJob job{};
  job.code = WORKER_JOB_BLEND_BATCH;
  job.batch = s_Batch;
  job.batch_count = s_BatchCount;
  job.chunk_rows =
      static_cast<i32>(std::clamp<i64>(g_ComposeChunkBytes / (i64{s_Batch[0].target->width} * 4 + 1), 1, 1 << 30));
  job.chunk_next = &s_BatchChunkNext;
  s_BatchChunkNext.store(0, std::memory_order_relaxed);  // no worker runs: the last post is done
  WorkerPostRowsSized(job, s_BatchTop, s_BatchEnd, s_BatchPixels);
  s_BatchCount = 0;
  s_BatchPixels = 0;
  s_BatchWeights = -1;
}

static void Gather(const WorkerJob& job, i32 rows) {
  if (s_BatchCount == COMPOSE_BATCH_MAX) RunBatch();
  WorkerJob& j = s_Batch[s_BatchCount];
  j = job;
  j.row_first = 0;
  j.row_end = rows;
  const i32 end = job.dst_y + rows;
  s_BatchTop = s_BatchCount == 0 ? job.dst_y : std::min(s_BatchTop, job.dst_y);
  s_BatchEnd = s_BatchCount == 0 ? end : std::max(s_BatchEnd, end);
  s_BatchPixels += i64{job.width} * rows;
  s_BatchCount++;
}

// Every blend of the batch, in batch order, on target rows [first, end).
static void BlendBatchRows(const WorkerJob* band, i64 first_row, i64 end_row) {
  for (i32 k = 0; k < band->batch_count; k++) {
    WorkerJob j = band->batch[k];
    // These rows of the blend's rectangle.
    const i64 first = std::max<i64>(0, first_row - j.dst_y), end = std::min<i64>(j.row_end, end_row - j.dst_y);
    if (first >= end) continue;
    j.index = band->index;
    j.row_first = static_cast<i32>(first);
    j.row_end = static_cast<i32>(end);
    if (WorkerJobFn body = WorkerJobBody(j.code)) body(&j);
  }
}

// Each row is blended on its own, so the rows may be taken in any grouping and any order among
// workers: the chunks give the same pixels as one pass of each blend over all rows.
void LayerJobBlendBatch(WorkerJob* band) {
  i32 first, end;
  for (WorkerRows rows{band}; rows.Take(&first, &end);) BlendBatchRows(band, first, end);
}

// Blends child c (node cn) into r over g_BlitRect. 0, or -1 after a fatal error.
static i32 BlendChild(LayerRecord* r, ObjNode* cn, const LayerRecord* c) {
  ObjNode* mask_node;
  const LayerRecord* mask;
  if (FindMask(c, &mask_node, &mask) != 0) {
    RunBatch();
    return -1;
  }
  LayerNoteMaskUser(cn, mask_node);
  mask_node = mask ? mask_node : nullptr;
  if (!LayerHasPixels(c)) return 0;
  WorkerJob job{};
  const bool masked = mask && c->mask_progress < 256;
  // A mask that is the target itself reads rows other blends write: it runs alone, after them.
  const bool alone = masked && mask == r;
  // The softness is taken as it stands (all 16 bits), progress and opacity as clamped.
  const i64 weights = (i64{BlendClampWeight(c->mask_progress)} << 40) |
                      (i64{static_cast<u16>(c->mask_softness)} << 16) | BlendClampWeight(c->opacity);
  if (masked) {
    if (alone || (s_BatchWeights >= 0 && s_BatchWeights != weights)) RunBatch();  // one weight table per batch
    if (mask->width != c->width || mask->height != c->height) {
      RunBatch();  // what is gathered is drawn, as before the error
      ErrRaiseF(ERR_LAYER_MASK_SIZE, 1, cn->name, c->width, c->height, mask_node->name, mask->width, mask->height);
      return -1;
    }
    BlendBuildMaskWeights(c->mask_progress, c->mask_softness, c->opacity);
    job.code = c->has_alpha ? WORKER_JOB_BLEND_MASK_ALPHA : WORKER_JOB_BLEND_MASK;
    job.mask = mask;
    job.mask_pixels = mask->pixels;
  } else {
    job.code = c->has_alpha ? WORKER_JOB_BLEND_ALPHA : WORKER_JOB_BLEND;
  }
  job.width = g_BlitRect.width;
  job.src_x = g_BlitRect.src_x;
  job.src_y = g_BlitRect.src_y;
  job.dst_x = g_BlitRect.dst_x;
  job.dst_y = g_BlitRect.dst_y;
  i64 x = LayerClampPos(c->x);
  job.span_left = static_cast<i32>(std::max<i64>(x, 0));
  job.span_right = static_cast<i32>(std::min<i64>(x + c->width - 1, i64{r->width} - 1));
  job.target = r;
  job.child = c;
  if (alone) {
    // Its rows read rows of the target that its own other rows write: split over workers they
    // would race, so the poster runs them all, top to bottom, as a single worker does.
    job.row_first = 0;
    job.row_end = g_BlitRect.height;
    if (WorkerJobFn body = WorkerJobBody(job.code)) body(&job);
    s_BatchWeights = -1;
  } else {
    Gather(job, g_BlitRect.height);  // which runs a full batch first
    if (masked) s_BatchWeights = weights;
  }
  return 0;
}

// A composition from the top keeps the drawing workers watching for its blends.
struct LingerScope {
  bool on;
  explicit LingerScope(bool top) : on(top) {
    if (on) WorkerLinger(true);
  }
  ~LingerScope() {
    if (on) WorkerLinger(false);
  }
};

i32 LayerComposeTree(ObjNode* node, i32 nested, i32 depth) {
  LingerScope linger(depth == 0);
  LayerRecord* r = LayerOf(node);
  if (!r) return 0;
  r->has_alpha = nested ? 0 : 1;
  if (!r->dirty_valid) return 0;
  if (!LayerHasPixels(r)) {
    r->dirty_valid = 0;  // nothing to compose into: the change is spent
    return 0;
  }
  i64 wmax = i64{r->width} - 1, hmax = i64{r->height} - 1;
  r->dirty_left = std::min(std::max<i64>(r->dirty_left, 0), wmax);
  r->dirty_right = std::min(std::max<i64>(r->dirty_right, 0), wmax);
  r->dirty_top = std::min(std::max<i64>(r->dirty_top, 0), hmax);
  r->dirty_bottom = std::min(std::max<i64>(r->dirty_bottom, 0), hmax);
  LayerMergeDirty(node, 0);
  const i64 left = r->dirty_left, top = r->dirty_top, right = r->dirty_right, bottom = r->dirty_bottom;
  // The merge may only shrink the clamped rectangle: composition writes inside the layer alone.
  assert(left >= 0 && top >= 0 && right <= wmax && bottom <= hmax);
  r->dirty_valid = 0;
  if (left > right || top > bottom) return 0;

  ObjNode* start = nullptr;
  for (ObjNode* c = node->last_child; c && !start; c = c->prev)
    if (const LayerRecord* cr = LayerOf(c); cr && HidesBelow(cr, left, top, right, bottom)) start = c;
  if (!start) {
    i32 bytes = static_cast<i32>((right - left + 1) * 4);
    for (i64 y = top; y <= bottom; y++) g_PixelKernels.zero(r->pixels + (y * r->width + left) * 4, bytes);
    start = node->first_child;
  }

  RunBatch();  // a batch of another target (none is left over from a finished composition)
  for (ObjNode* cn = start; cn; cn = cn->next) {
    LayerRecord* c = LayerOf(cn);
    if (!c) continue;
    if (cn->kind == OBJ_FOLDER) {
      RunBatch();  // the folder's blends gather in a batch of their own
      LayerComposeTree(cn, 1, depth + 1);
    }
    if (!c->visible || c->opacity <= 0 || (HasMaskName(c) && c->mask_progress <= 0)) continue;
    i64 x = LayerClampPos(c->x), y = LayerClampPos(c->y);
    if (x > right || y > bottom || x + c->width <= left || y + c->height <= top) continue;
    if (c->draw_kind != LAYER_DRAW_CPU) continue;
    if (LayerBlitClipDirty(x, y, c->width, c->height, left, top, right, bottom) && BlendChild(r, cn, c) != 0) return -1;
    c->blended = 1;
  }
  RunBatch();
  return 0;
}

// ---- Blend job bodies ------------------------------------------------------------------------

static u8* TargetRow(const WorkerJob* j, i32 r) {
  const LayerRecord* t = j->target;
  return t->pixels + ((i64{j->dst_y} + r) * t->width + j->dst_x) * 4;
}

static const u8* SourceRow(const WorkerJob* j, i32 r) {
  const LayerRecord* c = j->child;
  return c->pixels + ((i64{j->src_y} + r) * c->width + j->src_x) * 4;
}

// The mask is addressed in the child's coordinates.
static const u8* MaskRow(const WorkerJob* j, i32 r) {
  return j->mask_pixels + ((i64{j->src_y} + r) * j->mask->width + j->src_x) * 4;
}

// The kernels of the installed set treat a row's first and last pixel by their position (the
// plain set pairs pixels from the row's start, the SIMD set by address), so each row is blended
// as part of the child's whole row would be: widened by a pixel at an edge that would otherwise
// fall differently, that pixel kept as it was. A recomposed area therefore always equals what a
// recomposition of everything gives.
template <class Call>
static void BlendRowAsWhole(const WorkerJob* j, i32 r, const Call& call) {
  u8* d = TargetRow(j, r);
  const u8* s = SourceRow(j, r);
  const u8* m = j->mask_pixels ? MaskRow(j, r) : nullptr;
  const i32 a = j->dst_x, b = j->dst_x + j->width - 1;
  i32 e1, e2;
  if (g_PixelKernels.alpha == g_BlendKernelsPlain.alpha) {
    e1 = (a - j->span_left) & 1;
    e2 = b < j->span_right && ((b - (a - e1)) & 1) == 0;
  } else {
    e1 = a > j->span_left && (reinterpret_cast<uintptr_t>(d) & 4) != 0;
    e2 = b < j->span_right && (reinterpret_cast<uintptr_t>(d + i64{j->width - 1} * 4) & 4) == 0;
  }
  u8 keep_left[4], keep_right[4];
  u8* right = d + i64{j->width} * 4;
  if (e1) std::memcpy(keep_left, d - 4, 4);
  if (e2) std::memcpy(keep_right, right, 4);
  call(d - e1 * 4, s - e1 * 4, m ? m - e1 * 4 : nullptr, (j->width + e1 + e2) * 4);
  if (e1) std::memcpy(d - 4, keep_left, 4);
  if (e2) std::memcpy(right, keep_right, 4);
}

static void BlendRows(WorkerJob* j, int block) {
  // The child's opacity and mode stay as they are while the job runs.
  const i32 op = BlendClampWeight(j->child->opacity);
  const BlendRowFn fn = BlendPickRow(block, j->child->blend_mode, op);
  for (i32 r = j->row_first; r < j->row_end; r++)
    BlendRowAsWhole(j, r, [&](u8* d, const u8* s, const u8*, i32 bytes) { fn(d, s, op, bytes); });
}

static void BlendMaskRows(WorkerJob* j, int block) {
  const LayerRecord* c = j->child;
  BlendMaskRowFn fn = BlendPickMask(block, c->blend_mode, BlendClampWeight(c->opacity));
  for (i32 r = j->row_first; r < j->row_end; r++)
    BlendRowAsWhole(j, r, [&](u8* d, const u8* s, const u8* m, i32 bytes) {
      fn(d, s, m, c->mask_progress, c->mask_softness, bytes);
    });
}

void LayerJobBlend(WorkerJob* job) { BlendRows(job, 0); }
void LayerJobBlendAlpha(WorkerJob* job) { BlendRows(job, 1); }
void LayerJobBlendMask(WorkerJob* job) { BlendMaskRows(job, 2); }
void LayerJobBlendMaskAlpha(WorkerJob* job) { BlendMaskRows(job, 3); }
