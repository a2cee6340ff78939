// Composition: once a frame each window's root layer is rebuilt where it is dirty, depth first,
// every child blended bottom to top with its blend mode, opacity, source alpha and mask, the rows
// of each blend split over the drawing workers. Composition starts at the topmost opaque child
// that covers the dirty area and never leaves a folder's pending change behind: a folder's dirty
// rectangle is consumed only when the folder is composed.
#pragma once
#include "common/types.h"

struct ObjNode;
struct WindowObject;
struct WorkerJob;

// A batch of blends is shared in chunks of about this many bytes of target rows. Tests lower it
// to make every batch reach the workers in many chunks.
enum { COMPOSE_CHUNK_BYTES = 96 * 1024 };
extern i64 g_ComposeChunkBytes;

// g_QuitRequested, or -1 when composition failed (the frame loop then stops).
i32 LayerComposeWindow(WindowObject* w);
// Rebuilds the dirty part of a folder layer's picture. 0, or -1 after a fatal error.
i32 LayerComposeTree(ObjNode* node, i32 nested, i32 depth);
// Composes a folder layer at once (flag: it is nested in a parent).
i32 LayerComposeNow(ObjNode* node, i32 flag);

// g_BlitRect from a child's rectangle (in its parent's pixels) clipped to a rectangle, with the
// source position inside the child. false when nothing is left.
bool LayerBlitClipDirty(i64 x, i64 y, i32 width, i32 height, i64 left, i64 top, i64 right, i64 bottom);

// Blend job bodies: 101 plain or opacity, 102 mask, 103 source alpha, 104 mask x source alpha.
void LayerJobBlend(WorkerJob* job);
void LayerJobBlendMask(WorkerJob* job);
void LayerJobBlendAlpha(WorkerJob* job);
void LayerJobBlendMaskAlpha(WorkerJob* job);
