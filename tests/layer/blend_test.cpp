#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/config.h"
#include "display/gpu.h"
#include "kernel_ref.h"
#include "layer/blend.h"
#include "layer/cpu.h"
#include "layer/lut.h"
#include "platform/platform.h"
#include "row_buffers.h"
#include "script/save.h"
#include "shell/menu.h"
#include "sound/movie.h"

namespace {

const int kVals[] = {0, 1, 127, 128, 129, 254, 255};
const int kOps[] = {0, 1, 127, 128, 129, 255, 256};
const char* const kModeNames[] = {"normal",     "add",         "sub",          "mul",         "div",
                                  "screen",     "lighten",     "darken",       "diff",        "exclusion",
                                  "overlay",    "dodge",       "burn",         "linear burn", "hard light",
                                  "soft light", "vivid light", "linear light", "pin light"};

struct BlendTest : ::testing::Test {
  void SetUp() override {
    BlendCpuReset();
    BlendInitTables();
    BlendReset();
  }
  void TearDown() override {
    g_CfgUseSse = 1;
    g_CfgUseSse2 = 1;
    BlendCpuReset();
    BlendInitTables();
    BlendReset();
  }
};

struct ModeVariant {
  std::string name;
  BlendModeKernelSet set;
};

std::vector<ModeVariant> ModeVariants() {
  std::vector<ModeVariant> v = {{"portable", BlendModeKernelsPortable()}};
  ModeVariant simd{"sse2", {}};
  if (BlendModeKernelsSse2(&simd.set)) v.push_back(simd);
  simd.name = "avx2";
  if (PlatCpuGetInfo().avx2 && BlendModeKernelsAvx2(&simd.set)) v.push_back(simd);
  return v;
}

void PatternWeights() {
  const int pattern[] = {-300, -1, 0, 1, 2, 3, 64, 127, 128, 129, 200, 255, 256, 257, 1000};
  for (int i = 0; i < 256; i++) g_MaskWeights[i] = pattern[(i * 7 + i / 16) % 15];
}

TEST_F(BlendTest, EveryModeTableEntryMatchesItsFormula) {
  for (int m = 0; m < kBlendModeCount; m++)
    for (int s = 0; s < 256; s++)
      for (int d = 0; d < 256; d++)
        ASSERT_EQ(g_BlendModeTable[m][s * 256 + d], ref::ModeT(m, s, d)) << kModeNames[m] << " s " << s << " d " << d;
}

TEST_F(BlendTest, SharedLookupTablesMatchTheirFormulas) {
  for (int i = 0; i < 511; i++) {
    EXPECT_EQ(g_BlendSatSum[i], i < 255 ? i : 255) << i;
    EXPECT_EQ(g_BlendClampDiff[i], i > 255 ? i - 255 : 0) << i;
  }
  for (int o = 0; o < 256; o++)
    for (int v = 0; v < 256; v++) ASSERT_EQ(g_BlendDivTable[o][v], ref::DivTable(o, v)) << o << " " << v;
}

TEST_F(BlendTest, DocumentedModeValues) {
  struct Case {
    int mode, s, d, t;
  };
  const Case cases[] = {
      {2, 0, 77, 0},   {2, 200, 50, 150}, {4, 1, 0, 255},    {4, 200, 0, 255},    {4, 0, 0, 0},
      {11, 255, 0, 0}, {11, 255, 1, 255}, {12, 0, 254, 0},   {12, 0, 255, 255},   {16, 255, 3, 255},
      {16, 0, 200, 0}, {15, 128, 0, 0},   {15, 128, 99, 99}, {15, 128, 255, 255},
  };
  for (const Case& c : cases)
    EXPECT_EQ(g_BlendModeTable[c.mode][c.s * 256 + c.d], c.t) << kModeNames[c.mode] << " " << c.s << " " << c.d;
}

// Every SIMD variant of every general mode entry equals the reference: rows of every length
// at moving offsets, and the values that matter at every opacity.
TEST_F(BlendTest, EveryModeEntryMatchesReference) {
  PatternWeights();
  const int combos = 7 * 7 * 7 * 7;
  std::vector<u8> cd(combos * 4), cs(combos * 4), cm(combos * 4);
  for (int i = 0; i < combos; i++) {
    const u8 s[4] = {u8(kVals[i % 7]), u8(kVals[(i + 2) % 7]), u8(kVals[(i / 7 + 4) % 7]), u8(kVals[i / 49 % 7])};
    const u8 d[4] = {u8(kVals[i / 7 % 7]), u8(kVals[(i / 7 + 1) % 7]), u8(kVals[(i + 5) % 7]), u8(kVals[i / 343])};
    std::memcpy(&cs[4 * i], s, 4);
    std::memcpy(&cd[4 * i], d, 4);
    cm[4 * i] = static_cast<u8>(i * 37);
  }
  RowBuf d(combos * 4, 0x5A), src(combos * 4, 0xA5), mask(combos * 4, 0xA5);
  std::vector<u8> want(combos * 4), rd(300), rs(300), rm(300);
  u32 rng = 5;
  for (const ModeVariant& v : ModeVariants()) {
    for (int m = 0; m < kBlendModeCount; m++) {
      for (int e = 0; e < 6; e++) {
        BlendRowFn row = e < 4 ? v.set.rows[m][e] : nullptr;
        BlendMaskRowFn mrow = e >= 4 ? v.set.masks[m][e - 4] : nullptr;
        if (!row && !mrow) continue;  // routed to a slot: tested with the slots
        if (e < 4 && BlendRowRouted(m, e) && v.name == "portable") continue;
        auto run = [&](const u8* d0, const u8* s0, const u8* m0, int op, int bytes, int off) {
          u8* dr = d.Place(d0, bytes, off);
          const u8* sr = src.Place(s0, bytes, (off * 3 + 1) % 32);
          const u8* mr = mask.Place(m0, bytes, (off + 11) % 32);
          if (row) row(dr, sr, op, bytes);
          else mrow(dr, sr, mr, op, 256, bytes);
          std::memcpy(want.data(), d0, bytes);
          ref::ModeRow(m, static_cast<ref::Entry>(e), want.data(), s0, m0, g_MaskWeights, op, bytes);
          int first = 0;
          while (first < bytes && dr[first] == want[first]) first++;
          ASSERT_EQ(first, bytes) << v.name << " " << kModeNames[m] << " entry " << e << " op " << op << " bytes "
                                  << bytes << ": byte " << first << " d " << int(d0[first]) << " s " << int(s0[first])
                                  << " got " << int(dr[first]) << " want " << int(want[first]);
          ASSERT_TRUE(d.GuardsIntact()) << v.name << " " << kModeNames[m] << " entry " << e;
        };
        for (int op : kOps) {
          run(cd.data(), cs.data(), cm.data(), op, combos * 4, op % 8);
          if (HasFatalFailure()) return;
        }
        for (int len = 1; len <= 70; len++) {
          // Whole pixels, and for the byte-wise entries a ragged end as well.
          int bytes = 4 * len - (e < 2 ? len % 4 : 0);
          for (int i = 0; i < bytes; i++) {
            rng = rng * 1664525u + 1013904223u;
            rd[i] = static_cast<u8>(kVals[(rng >> 8) % 7]);
            rs[i] = static_cast<u8>(kVals[(rng >> 16) % 7]);
            rm[i] = static_cast<u8>(rng >> 24);
          }
          run(rd.data(), rs.data(), rm.data(), kOps[len % 7], bytes, len % 32);
          if (HasFatalFailure()) return;
        }
      }
    }
  }
}

// The vector forms of the modes' values equal the table for every (s, d) pair: one row holds
// all 65536 pairs, drawn through the plain entry or, where that routes to a slot, the opacity
// entry at full weight. The row starts off the vector grid, so head and tail vectors overlap.
TEST_F(BlendTest, VectorModeValuesMatchTheTableForEveryPair) {
  const int kBytes = 65536;
  std::vector<u8> s0(kBytes), d0(kBytes);
  for (int i = 0; i < kBytes; i++) {
    s0[i] = static_cast<u8>(i >> 8);
    d0[i] = static_cast<u8>(i);
  }
  RowBuf d(kBytes, 0x5A);
  int tested = 0;
  for (const ModeVariant& v : ModeVariants()) {
    if (v.name == "portable") continue;
    for (int m = 0; m < kBlendModeCount; m++) {
      BlendRowFn row = v.set.rows[m][0] ? v.set.rows[m][0] : v.set.rows[m][1];
      if (!row) continue;
      u8* dr = d.Place(d0.data(), kBytes, 4);
      row(dr, s0.data(), 256, kBytes);
      for (int i = 0; i < kBytes; i++)
        ASSERT_EQ(dr[i], g_BlendModeTable[m][i])
            << v.name << " " << kModeNames[m] << " s " << (i >> 8) << " d " << (i & 255);
      ASSERT_TRUE(d.GuardsIntact()) << v.name << " " << kModeNames[m];
      tested++;
    }
  }
  if (tested == 0) GTEST_SKIP() << "no SIMD mode kernels in this build";
}

// The weighted entries take the modes' values as words, clamped by each mode where they can
// leave 0..255: one row of colour bytes covering every (s, d) pair through the source-alpha
// entry at half weight (source alpha 127) checks those values and clamps; alpha bytes keep d.
TEST_F(BlendTest, WeightedEntriesTakeEveryPairsValue) {
  const int kPixels = (65536 + 2) / 3, kBytes = 4 * kPixels;
  std::vector<u8> s0(kBytes), d0(kBytes);
  for (int p = 0; p < kPixels; p++) {
    for (int c = 0; c < 3; c++) {
      int i = (3 * p + c) & 0xFFFF;
      s0[4 * p + c] = static_cast<u8>(i >> 8);
      d0[4 * p + c] = static_cast<u8>(i);
    }
    s0[4 * p + 3] = 127;
    d0[4 * p + 3] = static_cast<u8>(p * 7);
  }
  RowBuf d(kBytes, 0x5A);
  for (const ModeVariant& v : ModeVariants()) {
    for (int m = 0; m < kBlendModeCount; m++) {
      BlendRowFn row = v.set.rows[m][2];
      if (!row || v.name == "portable") continue;
      u8* dr = d.Place(d0.data(), kBytes, 12);
      row(dr, s0.data(), 256, kBytes);
      for (int p = 0; p < kPixels; p++) {
        for (int c = 0; c < 3; c++) {
          int i = (3 * p + c) & 0xFFFF;
          int dv = i & 255, want = (dv * 128 + g_BlendModeTable[m][i] * 128) >> 8;
          ASSERT_EQ(dr[4 * p + c], want) << v.name << " " << kModeNames[m] << " s " << (i >> 8) << " d " << (i & 255);
        }
        ASSERT_EQ(dr[4 * p + 3], d0[4 * p + 3]) << v.name << " " << kModeNames[m] << " pixel " << p;
      }
      ASSERT_TRUE(d.GuardsIntact()) << v.name << " " << kModeNames[m];
    }
  }
}

// The entries that route to kernel slots follow the installed set, for every settings level.
TEST_F(BlendTest, RoutedEntriesRunTheInstalledSlots) {
  PatternWeights();
  struct Route {
    int block, mode, k, slot;
  };
  const Route routes[] = {
      {0, 0, 1, 3},  {0, 0, 0, 4},  {1, 0, 1, 5},   {1, 0, 0, 6},   {0, 1, 1, 9},  {0, 1, 0, 10},
      {1, 1, 1, 11}, {1, 1, 0, 12}, {0, 2, 1, 13},  {0, 3, 1, 14},  {0, 5, 1, 15}, {0, 5, 0, 16},
      {0, 6, 1, 17}, {0, 7, 1, 18}, {0, 13, 1, 19}, {0, 17, 1, 20}, {2, 0, 1, 7},
  };
  for (u32 use_sse2 : {0u, 1u}) {
    g_CfgUseSse = 0;
    g_CfgUseSse2 = use_sse2;
    BlendInitCpuKernels();
    BlendInitTables();
    ref::KernelSet kind = g_BlendKernelLevel == 1 ? ref::kPlain : ref::kSimd;
    for (const Route& r : routes) {
      for (int off : {0, 4}) {
        std::vector<u8> d0(4 * 23), s0(4 * 23), m0(4 * 23), want;
        for (size_t i = 0; i < d0.size(); i++) {
          d0[i] = static_cast<u8>(kVals[(i * 5 + 1) % 7]);
          s0[i] = static_cast<u8>(kVals[(i * 3) % 7]);
          m0[i] = static_cast<u8>(i * 11);
        }
        want = d0;
        RowBuf d(static_cast<int>(d0.size()), 0x5A);
        u8* row = d.Place(d0.data(), static_cast<int>(d0.size()), off);
        int op = 128;  // the one opacity at which the two sets' opacity slots differ
        if (r.block < 2)
          g_BlendFuncTable.rows[r.block][r.mode * 2 + r.k](row, s0.data(), op, static_cast<int>(d0.size()));
        else g_BlendFuncTable.masks[0][1](row, s0.data(), m0.data(), 100, 90, static_cast<int>(d0.size()));
        ref::Args a{want.data(),
                    s0.data(),
                    nullptr,
                    m0.data(),
                    g_MaskWeights,
                    op,
                    90,
                    100,
                    static_cast<int>(d0.size()),
                    reinterpret_cast<uintptr_t>(row)};
        ref::Slot(r.slot, kind, a);
        EXPECT_EQ(0, std::memcmp(row, want.data(), want.size()))
            << "level " << g_BlendKernelLevel << " block " << r.block << " mode " << r.mode << " k " << r.k;
      }
    }
  }
}

TEST_F(BlendTest, TableLayout) {
  for (int b = 0; b < 4; b++) {
    for (int i = 0; i < kBlendBlockEntries; i++) {
      const void* fn = b < 2 ? reinterpret_cast<const void*>(g_BlendFuncTable.rows[b][i])
                             : reinterpret_cast<const void*>(g_BlendFuncTable.masks[b - 2][i]);
      bool empty = i >= 38 || (b == 3 && (i & 1));
      EXPECT_EQ(fn == nullptr, empty) << "block " << b << " entry " << i;
    }
  }
  for (int m = 1; m < kBlendModeCount; m++)
    EXPECT_EQ(g_BlendFuncTable.masks[0][m * 2], g_BlendFuncTable.masks[0][m * 2 + 1]) << m;
  EXPECT_EQ(g_BlendFuncTable.masks[0][1], &BlendNormalMaskDispatch);
  EXPECT_NE(g_BlendFuncTable.masks[0][0], &BlendNormalMaskDispatch);
  EXPECT_EQ(g_BlendFuncTable.rows[0][1], &BlendNormalPlain);
}

// A mode above 18, a negative mode or an opacity outside 0..256 still lands on a filled entry:
// the mode is drawn as mode 0 and the opacity clamped, k = 1 only at 256.
TEST_F(BlendTest, PicksNeverReachEmptyEntries) {
  for (int mode : {-5, -1, 19, 20, 39, 255, 100000}) {
    EXPECT_EQ(BlendPickRow(0, mode, 256), g_BlendFuncTable.rows[0][1]) << mode;
    EXPECT_EQ(BlendPickRow(1, mode, 10), g_BlendFuncTable.rows[1][0]) << mode;
    EXPECT_EQ(BlendPickMask(2, mode, 256), g_BlendFuncTable.masks[0][1]) << mode;
    EXPECT_EQ(BlendPickMask(3, mode, 256), g_BlendFuncTable.masks[1][0]) << mode;
  }
  struct Case {
    i32 opacity;
    int k;
  };
  const Case cases[] = {{-1, 0}, {-70000, 0}, {0, 0}, {255, 0}, {256, 1}, {257, 1}, {1 << 30, 1}};
  for (int mode = 0; mode < kBlendModeCount; mode++)
    for (const Case& c : cases) {
      EXPECT_EQ(BlendPickRow(0, mode, c.opacity), g_BlendFuncTable.rows[0][mode * 2 + c.k]);
      EXPECT_EQ(BlendPickRow(1, mode, c.opacity), g_BlendFuncTable.rows[1][mode * 2 + c.k]);
      EXPECT_EQ(BlendPickMask(2, mode, c.opacity), g_BlendFuncTable.masks[0][mode * 2 + c.k]);
      EXPECT_NE(BlendPickMask(3, mode, c.opacity), nullptr);
    }
}

// Start-up's tables: a mode's table is made by its first pick, on whichever thread picks it, and
// is whole when that pick returns; nothing of an earlier build is taken for made.
TEST_F(BlendTest, ModeTablesMadeOnFirstPickFromRacingThreads) {
  std::vector<u8> want(sizeof g_BlendModeTable);
  std::memcpy(want.data(), g_BlendModeTable, want.size());
  std::memset(g_BlendModeTable, 0xA5, sizeof g_BlendModeTable);
  BlendInitTablesLater();
  const BlendFuncTable functions = g_BlendFuncTable;
  std::vector<int> bad(4, -1);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++)
    threads.emplace_back([t, &want, &bad] {
      for (int i = 0; i < 2 * kBlendModeCount; i++) {
        const int mode = (i * (t + 1) + 3 * t) % kBlendModeCount;
        const int block = (i + t) % 4;
        if (block < 2) BlendPickRow(block, mode, 128 + i);
        else BlendPickMask(block, mode, 256);
        if (std::memcmp(g_BlendModeTable[mode], want.data() + size_t{65536} * static_cast<size_t>(mode), 65536) != 0) {
          bad[static_cast<size_t>(t)] = mode;
          return;
        }
      }
    });
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < 4; t++) EXPECT_EQ(bad[static_cast<size_t>(t)], -1) << "thread " << t << " read a partial table";
  // Modes that only an out-of-range pick reaches fall back to mode 0, whose table is made too.
  BlendPickRow(0, -3, 256);
  for (int m = 0; m < kBlendModeCount; m++) BlendPickMask(3, m, 256);
  EXPECT_EQ(std::memcmp(g_BlendModeTable, want.data(), want.size()), 0);
  EXPECT_EQ(std::memcmp(&functions, &g_BlendFuncTable, sizeof functions), 0) << "the function table is made at once";
  BlendInitTables();
  EXPECT_EQ(std::memcmp(&functions, &g_BlendFuncTable, sizeof functions), 0);
}

TEST_F(BlendTest, OpacityEntryAt255DiffersFromPlain) {
  std::vector<u8> a(64), b(64), s(64);
  for (int i = 0; i < 64; i++) {
    a[i] = b[i] = static_cast<u8>(i * 4);
    s[i] = static_cast<u8>(255 - i);
  }
  BlendPickRow(0, 4, 256)(a.data(), s.data(), 256, 64);
  BlendPickRow(0, 4, 255)(b.data(), s.data(), 255, 64);
  EXPECT_NE(a, b);
}

TEST_F(BlendTest, MaskWeights) {
  BlendBuildMaskWeights(100, 256, 256);  // hard edge: visible from 256 - p
  for (int i = 0; i < 256; i++) EXPECT_EQ(g_MaskWeights[i], i >= 156 ? 256 : 0) << i;
  BlendBuildMaskWeights(0, 256, 256);
  for (int i = 0; i < 256; i++) EXPECT_EQ(g_MaskWeights[i], 0);
  BlendBuildMaskWeights(256, 256, 128);
  for (int i = 0; i < 256; i++) EXPECT_EQ(g_MaskWeights[i], 128);
  struct Soft {
    int p, f, o;
  };
  // Softness as it stands, below 0 and above 256 too; progress and opacity clamped to 0..256
  // (-5 counts as 0, 999 as 256).
  const Soft soft[] = {{128, 64, 256}, {37, 3, 200},  {256, 0, 256},     {0, 255, 255},    {84, -50, 256},
                       {200, -1, 256}, {-5, 300, 999}, {128, 32767, 256}, {1, -32768, 256}, {128, -7, 100}};
  for (Soft c : soft) {
    BlendBuildMaskWeights(c.p, c.f, c.o);
    const long long p = ref::Op(c.p), o = ref::Op(c.o), f = c.f;  // >> on the signed values: floor
    for (long long i = 0; i < 256; i++) {
      long long w = std::min<long long>(((i * f) >> 1) + (f >> 1) * p - 128 * f + p, 255) + 1;
      EXPECT_EQ(g_MaskWeights[i], ref::FloorDiv64(w * o, 256)) << c.p << " " << c.f << " " << i;
    }
  }
  BlendBuildMaskWeights(1000, 256, -3);
  for (int i = 0; i < 256; i++) EXPECT_EQ(g_MaskWeights[i], 0);
}

// With a hard edge, progress 0 leaves the destination and progress 256 gives the mode's blend
// at full weight on the colour bytes (alpha kept).
TEST_F(BlendTest, HardEdgeMaskEndpoints) {
  std::vector<u8> s(32), m(32), d0(32);
  for (int i = 0; i < 32; i++) {
    s[i] = static_cast<u8>(i * 8 + 3);
    d0[i] = static_cast<u8>(250 - i * 5);
    m[i] = static_cast<u8>(i * 9);
  }
  for (int mode = 1; mode < kBlendModeCount; mode++) {
    std::vector<u8> d = d0;
    BlendBuildMaskWeights(0, 256, 256);
    BlendPickMask(2, mode, 256)(d.data(), s.data(), m.data(), 0, 256, 32);
    EXPECT_EQ(d, d0) << kModeNames[mode];
    BlendBuildMaskWeights(256, 256, 256);
    BlendPickMask(2, mode, 256)(d.data(), s.data(), m.data(), 256, 256, 32);
    for (int i = 0; i < 32; i++)
      EXPECT_EQ(d[i], i % 4 == 3 ? d0[i] : g_BlendModeTable[mode][s[i] * 256 + d0[i]]) << kModeNames[mode] << " " << i;
  }
}

}  // namespace
