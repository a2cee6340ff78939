// Blend modes: the nineteen modes' lookup tables, the 160-entry function table that composition
// picks one row kernel from per layer, and the mask weights of the current mask blend. Tables
// are built once by BlendInitTables (a mode's table on its first pick after BlendInitTablesLater)
// and never change; entries that are empty stay unreachable because every pick goes through
// BlendPickRow / BlendPickMask, which clamp mode and opacity.
#pragma once
#include "common/types.h"
#include "layer/kernels.h"

enum {
  kBlendModeCount = 19,
  kBlendBlockEntries = 40,  // per block: mode * 2 + k, entries 38 and 39 stay empty
};

// Block 0 (plain / opacity) and block 1 (source alpha): (dst, src, opacity, bytes).
typedef KernelRowOpFn BlendRowFn;
// Block 2 (mask) and block 3 (mask x source alpha): (dst, src, mask, progress, softness, bytes).
typedef KernelMaskFn BlendMaskRowFn;

// Index block * 40 + mode * 2 + k of the engine's table, as two typed halves.
struct BlendFuncTable {
  BlendRowFn rows[2][kBlendBlockEntries];       // blocks 0 and 1
  BlendMaskRowFn masks[2][kBlendBlockEntries];  // blocks 2 and 3 (block 3: even entries only)
};
extern BlendFuncTable g_BlendFuncTable;

// The clipped rectangle of the current layer-to-layer blend or blit.
struct BlitRect {
  i32 src_x, src_y, dst_x, dst_y, width, height;
};
extern BlitRect g_BlitRect;

// Weight per mask byte value of the current mask blend: 1 or less leaves a pixel, 256 replaces
// it. Written by the composing thread only while no worker runs.
extern i32 g_MaskWeights[256];

// Shared lookup tables: saturating sum min(i, 255), clamped difference max(i - 255, 0) (index
// 255 + s - d), and the division table [o][v] = v * 256 / o (row 0 all zero).
extern u8 g_BlendSatSum[511];
extern u8 g_BlendClampDiff[511];
extern u16 g_BlendDivTable[256][256];
// T[s][d] of every mode at [mode][s * 256 + d] (mode 0 holds s).
extern u8 g_BlendModeTable[kBlendModeCount][65536];
// Soft light's step for s >= 128 is floor((s - 128) * K / 65536), K by d: low bytes in row 0,
// high bytes in row 1. Entries 0 to 32 hold the dark-destination multipliers; from 33 on the
// step is the same for every d and K is 16383.
extern u8 g_BlendSoftLightK[2][48];

// Builds the lookup tables (the product tables too, so it stands on its own) and fills the
// function table, with SIMD mode kernels when the SIMD kernel set is installed. Run after
// BlendInitCpuKernels; later calls rebuild the same contents.
void BlendInitTables();
// The same, except that each mode's g_BlendModeTable row is made when BlendPickRow or
// BlendPickMask first picks an entry of that mode (on whichever thread picks it; safe while
// workers run). Start-up uses it: building all nineteen takes most of the time.
void BlendInitTablesLater();
// g_MaskWeights from progress p and opacity o (each clamped to 0..256) and softness f (256 a
// hard edge; any other value, negative or above 256 too, spreads the edge as it stands).
void BlendBuildMaskWeights(i32 progress, i32 softness, i32 opacity);
// The same at full opacity for the layer edit's rule transition, whose progress is 256 less the
// edit's value and goes above 256 as it stands when the value is negative.
void BlendBuildRuleWeights(i64 progress, i32 softness);
// The entry composition runs: block 0..1, any mode (above 18 or negative: mode 0), any opacity
// (clamped to 0..256; k = 1 exactly at 256). Never null once the tables are built.
BlendRowFn BlendPickRow(int block, int mode, i32 opacity);
// Block 2 or 3 (block 3 always takes k = 0).
BlendMaskRowFn BlendPickMask(int block, int mode, i32 opacity);
// Tests: clears g_MaskWeights and g_BlitRect.
void BlendReset();

// Per mode the six entries: Plain (block 0, k = 1), Opacity (block 0, k = 0), SrcAlpha (block 1,
// k = 1), SrcAlphaOpacity (block 1, k = 0), Mask (block 2) and MaskSrcAlpha (block 3).
#define ZP_BLEND_MODE_LIST(X)                                                                                        \
  X(0, Normal)                                                                                                       \
  X(1, Add)                                                                                                          \
  X(2, Sub)                                                                                                          \
  X(3, Mul) X(4, Div) X(5, Screen) X(6, Lighten) X(7, Darken) X(8, Diff) X(9, Exclusion) X(10, Overlay) X(11, Dodge) \
      X(12, Burn) X(13, LinearBurn) X(14, HardLight) X(15, SoftLight) X(16, VividLight) X(17, LinearLight)           \
          X(18, PinLight)

#define ZP_BLEND_DECLARE_MODE(num, Mode)                                                   \
  void Blend##Mode##Plain(u8* dst, const u8* src, i32 op, i32 bytes);                      \
  void Blend##Mode##Opacity(u8* dst, const u8* src, i32 op, i32 bytes);                    \
  void Blend##Mode##SrcAlpha(u8* dst, const u8* src, i32 op, i32 bytes);                   \
  void Blend##Mode##SrcAlphaOpacity(u8* dst, const u8* src, i32 op, i32 bytes);            \
  void Blend##Mode##Mask(u8* dst, const u8* src, const u8* mask, i32 p, i32 f, i32 bytes); \
  void Blend##Mode##MaskSrcAlpha(u8* dst, const u8* src, const u8* mask, i32 p, i32 f, i32 bytes);
ZP_BLEND_MODE_LIST(ZP_BLEND_DECLARE_MODE)
#undef ZP_BLEND_DECLARE_MODE
// Mode 0's mask entry at full opacity: slot 7 of the installed kernel set.
void BlendNormalMaskDispatch(u8* dst, const u8* src, const u8* mask, i32 p, i32 f, i32 bytes);

// Entries (mode, e: 0 Plain, 1 Opacity, 2 SrcAlpha, 3 SrcAlphaOpacity) that route to a slot of
// g_PixelKernels; the SIMD mode sets leave them null.
static constexpr bool BlendRowRouted(int mode, int e) {
  return mode == 0 || mode == 1 ||
         (e == 0 && (mode == 2 || mode == 3 || mode == 5 || mode == 6 || mode == 7 || mode == 13 || mode == 17)) ||
         (e == 1 && mode == 5);
}

// The mode kernels one instruction set provides, [mode][entry] in the order above (entries that
// route to kernel slots are left null by the SIMD sets).
struct BlendModeKernelSet {
  BlendRowFn rows[kBlendModeCount][4];
  BlendMaskRowFn masks[kBlendModeCount][2];
};
// Fill *set from this build's SSE2 / AVX2 code; false when the build has none. The AVX2 one is
// compiled for AVX2 as a whole: call it only when g_CpuHasAvx2 is set.
bool BlendModeKernelsSse2(BlendModeKernelSet* set);
bool BlendModeKernelsAvx2(BlendModeKernelSet* set);
// The set BlendInitTables installed (tests compare the variants through it).
const BlendModeKernelSet& BlendModeKernelsPortable();
