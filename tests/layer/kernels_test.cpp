#include <cpuid.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "kernel_ref.h"
#include "layer/blend.h"
#include "layer/cpu.h"
#include "layer/kernels.h"
#include "layer/lut.h"
#include "platform/platform.h"
#include "row_buffers.h"

namespace {

const int kVals[] = {0, 1, 127, 128, 129, 254, 255};
const int kOps[] = {0, 1, 127, 128, 129, 255, 256};

struct Variant {
  std::string name;
  const PixelKernelTable* set;
  ref::KernelSet kind;
};

std::vector<Variant> Variants() {
  std::vector<Variant> v = {{"plain", &g_BlendKernelsPlain, ref::kPlain}};
  if (BlendKernelSetSse2()) v.push_back({"sse2", BlendKernelSetSse2(), ref::kSimd});
  if (PlatCpuGetInfo().avx2 && BlendKernelSetAvx2()) v.push_back({"avx2", BlendKernelSetAvx2(), ref::kSimd});
  return v;
}

struct Lcg {
  u32 x;
  u32 Next() { return x = x * 1664525u + 1013904223u; }
  int Val() { return kVals[(Next() >> 16) % 7]; }
};

// A destination, two sources and a mask of the values that matter (the mask any byte).
struct RandomRows {
  std::vector<u8> d0, s0, s2, m0;
  RandomRows(Lcg& rng, int bytes) : d0(bytes), s0(bytes), s2(bytes), m0(bytes) {
    for (int i = 0; i < bytes; i++) {
      d0[i] = static_cast<u8>(rng.Val());
      s0[i] = static_cast<u8>(rng.Val());
      s2[i] = static_cast<u8>(rng.Val());
      m0[i] = static_cast<u8>(rng.Next() >> 24);
    }
  }
};

bool TakesOp(int slot) {
  return slot == 4 || slot == 6 || slot == 8 || slot == 10 || slot == 12 || slot == 16 || slot == 23 || slot == 25;
}

void Call(const PixelKernelTable& t, int slot, u8* d, const u8* s, const u8* s2, const u8* m, int op, int f, int p,
          int n) {
  switch (slot) {
    case 0: t.zero(d, n); break;
    case 1: t.fill_bytes(d, n, static_cast<u8>(op)); break;
    case 2: t.fill_colour(d, n, static_cast<u32>(op)); break;
    case 3: t.copy(d, s, n); break;
    case 4: t.opacity(d, s, op, n); break;
    case 5: t.alpha(d, s, n); break;
    case 6: t.alpha_opacity(d, s, op, n); break;
    case 7: t.mask(d, s, m, p, f, n); break;
    case 8: t.cross_fade(d, s, s2, op, n); break;
    case 9: t.add(d, s, n); break;
    case 10: t.add_opacity(d, s, op, n); break;
    case 11: t.add_alpha(d, s, op, n); break;
    case 12: t.add_alpha_opacity(d, s, op, n); break;
    case 13: t.sub(d, s, n); break;
    case 14: t.mul(d, s, n); break;
    case 15: t.screen(d, s, n); break;
    case 16: t.screen_opacity(d, s, op, n); break;
    case 17: t.lighten(d, s, n); break;
    case 18: t.darken(d, s, n); break;
    case 19: t.linear_burn(d, s, n); break;
    case 20: t.linear_light(d, s, n); break;
    case 22: t.over(d, s, n); break;
    case 23: t.over_opacity(d, s, op, n); break;
    case 24: t.over_dst_scaled(d, s, f, n); break;
    case 25: t.over_dst_scaled_opacity(d, s, f, op, n); break;
    default: break;
  }
}

struct KernelTest : ::testing::Test {
  static void SetUpTestSuite() {
    BlendCpuReset();
    BlendInitTables();
  }
  void SetUp() override { BlendReset(); }
  void TearDown() override { BlendReset(); }
};

// Reused buffers: the destination and three inputs at their own offsets.
struct Rows {
  RowBuf d{10000, 0x5A}, s{10000, 0xA5}, b{10000, 0xA5}, m{10000, 0xA5};
  std::vector<u8> want = std::vector<u8>(10000);
};

Rows& TheRows() {
  static Rows rows;
  return rows;
}

// Runs one slot of one variant on guarded rows and compares with the reference.
void CheckSlot(const Variant& v, int slot, const u8* d0, const u8* s0, const u8* s2, const u8* m0, int op, int f, int p,
               int bytes, int dst_off, int src_off, const char* what, int what_n) {
  Rows& r = TheRows();
  u8* d = r.d.Place(d0, bytes, dst_off);
  const u8* s = r.s.Place(s0, bytes, src_off);
  const u8* b = r.b.Place(s2, bytes, (src_off + 9) % 32);
  const u8* m = r.m.Place(m0, bytes, (src_off + 17) % 32);
  Call(*v.set, slot, d, s, b, m, op, f, p, bytes);
  if (bytes > 0) std::memcpy(r.want.data(), d0, static_cast<size_t>(bytes));
  ref::Args a{r.want.data(), s0, s2, m0, g_MaskWeights, op, f, p, bytes, reinterpret_cast<uintptr_t>(d)};
  ref::Slot(slot, v.kind, a);
  int first = 0;
  while (first < bytes && d[first] == r.want[first]) first++;
  ASSERT_EQ(first, bytes) << v.name << " slot " << slot << " " << what << " " << what_n << " op " << op << " f " << f
                          << " p " << p << ": byte " << first << " is " << int(d[first]) << ", want "
                          << int(r.want[first]) << " (d " << int(d0[first]) << " s " << int(s0[first]) << ")";
  ASSERT_TRUE(r.d.GuardsIntact()) << v.name << " slot " << slot << " " << what << " " << what_n;
  ASSERT_EQ(0, bytes > 0 ? std::memcmp(s, s0, static_cast<size_t>(bytes)) : 0)
      << v.name << " slot " << slot << " wrote its source";
}

void PatternWeights() {
  // Below 2, inside, the top and out of range: every branch of the weight rule.
  const int pattern[] = {-300, -1, 0, 1, 2, 3, 64, 127, 128, 129, 200, 255, 256, 257, 1000};
  for (int i = 0; i < 256; i++) g_MaskWeights[i] = pattern[(i * 7 + i / 16) % 15];
}

TEST_F(KernelTest, EverySlotMatchesReferenceForEveryLengthAndOffset) {
  PatternWeights();
  const int softness[] = {256, 0, 1, 37, 128, 255, 256};
  for (const Variant& v : Variants()) {
    for (int slot = 0; slot < 26; slot++) {
      if (slot == 21) continue;
      Lcg rng{static_cast<u32>(slot * 977 + 1)};
      for (int len = 1; len <= 70; len++) {
        int bytes = 4 * len;
        RandomRows rows(rng, bytes);
        auto &d0 = rows.d0, &s0 = rows.s0, &s2 = rows.s2, &m0 = rows.m0;
        for (int off = 0; off < 32; off++) {
          int op = (len + off) % 9 == 8 ? 300 : (len + off) % 9 == 7 ? -7 : kOps[(len + off) % 9 % 7];
          if (slot == 1 || slot == 2) op = static_cast<int>(rng.Next());
          int f = softness[(len * 3 + off) % 7];
          if (slot == 24 || slot == 25) f = kOps[(len * 5 + off) % 7];
          int p = kOps[(len + 2 * off) % 7];
          CheckSlot(v, slot, d0.data(), s0.data(), s2.data(), m0.data(), op, f, p, bytes, off, (off * 5 + 3) % 32,
                    "offset", off);
          if (HasFatalFailure()) return;
        }
      }
    }
  }
}

// SSE code after 256-bit code that left the upper vector halves in use runs several times
// slower, so every AVX2 entry point must return with them clear. The processor reports their
// state through XGETBV with ECX = 1 (bit 2), where it supports that.
bool UpperHalvesInUse() {
  u32 lo, hi;
  asm volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(1));
  return (lo & 4) != 0;
}

TEST_F(KernelTest, Avx2KernelsReturnWithTheUpperVectorHalvesClear) {
  unsigned a, b, c, d;
  if (!PlatCpuGetInfo().avx2 || !BlendKernelSetAvx2() || !__get_cpuid_count(0xD, 1, &a, &b, &c, &d) || !(a & 4))
    GTEST_SKIP() << "no AVX2, or the processor does not report the vector state";
  if (UpperHalvesInUse()) GTEST_SKIP() << "the vector state is in use before any kernel ran";
  PatternWeights();
  const int n = 64 * 4;
  std::vector<u8> dst(2 * n, 7), src(2 * n, 200), src2(n, 90), mask(n, 130);
  const PixelKernelTable& t = *BlendKernelSetAvx2();
  for (int slot = 0; slot < 26; slot++) {
    if (slot == 21) t.halve(dst.data(), src.data(), 64, 32);
    else Call(t, slot, dst.data(), src.data(), src2.data(), mask.data(), 100, 64, 128, n);
    EXPECT_FALSE(UpperHalvesInUse()) << "slot " << slot;
  }
  BlendModeKernelSet set;
  ASSERT_TRUE(BlendModeKernelsAvx2(&set));
  for (int mode = 0; mode < kBlendModeCount; mode++) {
    for (int e = 0; e < 4; e++) {
      if (!set.rows[mode][e]) continue;
      set.rows[mode][e](dst.data(), src.data(), 100, n);
      EXPECT_FALSE(UpperHalvesInUse()) << "mode " << mode << " entry " << e;
    }
    for (int e = 0; e < 2; e++) {
      set.masks[mode][e](dst.data(), src.data(), mask.data(), 128, 64, n);
      EXPECT_FALSE(UpperHalvesInUse()) << "mode " << mode << " mask entry " << e;
    }
  }
}

// The bounds a soft mask uses to leave vectors alone or copy them, against the weight rule
// itself, for every softness below a hard edge and every progress.
TEST(MaskSoftBoundsTest, MatchTheWeightRuleEverywhere) {
  for (int f = 0; f < 256; f++) {
    for (int p = 0; p <= 256; p++) {
      int half_f = f >> 1, c = half_f * p - 128 * f + p, skip_below, copy_from;
      BlendMaskSoftBounds(half_f, c, &skip_below, &copy_from);
      for (int m = 0; m < 256; m++) {
        int w = std::min(std::max(m * half_f + c, 0), 255) + 1;
        ASSERT_EQ(m < skip_below, w == 1) << "f " << f << " p " << p << " m " << m;
        ASSERT_EQ(m >= copy_from, w == 256) << "f " << f << " p " << p << " m " << m;
      }
    }
  }
}

// A soft-edged wipe: the mask ramps across the row, so whole vectors are left alone (every
// weight 1), take the source (every weight 256) or mix, at every offset and any softness.
TEST_F(KernelTest, SoftMaskWipesMatchReference) {
  // Softness outside 0..255 too (taken as it stands: a negative one turns the edge round).
  const int softness[] = {8, 64, 128, 255, -50, -1, 257, 4000, -32768, 32767};
  const int kinds = sizeof softness / sizeof softness[0];
  const int progress[] = {0, 40, 128, 200, 256};
  for (const Variant& v : Variants()) {
    Lcg rng{99};
    for (int len = 1; len <= 70; len++) {
      int bytes = 4 * len;
      RandomRows rows(rng, bytes);
      auto &d0 = rows.d0, &s0 = rows.s0, &s2 = rows.s2, &m0 = rows.m0;
      for (int px = 0; px < len; px++) m0[4 * px] = static_cast<u8>(px * 255 / len);
      for (int off = 0; off < 32; off++) {
        int f = softness[(len + off) % kinds], p = progress[(len * 3 + off) % 5];
        CheckSlot(v, 7, d0.data(), s0.data(), s2.data(), m0.data(), 256, f, p, bytes, off, (off * 3 + 1) % 32, "wipe",
                  len);
        if (HasFatalFailure()) return;
      }
    }
  }
}

TEST_F(KernelTest, ByteWiseSlotsHandleCountsThatAreNotWholePixels) {
  for (const Variant& v : Variants()) {
    for (int slot : {0, 1, 3, 4, 8, 9, 10, 13, 14, 15, 16, 17, 18, 19, 20}) {
      Lcg rng{static_cast<u32>(slot + 5)};
      for (int bytes = 0; bytes <= 45; bytes++) {
        for (int off = 0; off < 8; off++) {
          std::vector<u8> d0(bytes), s0(bytes), s2(bytes), m0(bytes);
          for (int i = 0; i < bytes; i++) {
            d0[i] = static_cast<u8>(rng.Val());
            s0[i] = static_cast<u8>(rng.Val());
            s2[i] = static_cast<u8>(rng.Val());
          }
          CheckSlot(v, slot, d0.data(), s0.data(), s2.data(), m0.data(), kOps[(bytes + off) % 7], 256, 0, bytes, off,
                    7 - off, "bytes", bytes);
          if (HasFatalFailure()) return;
        }
      }
    }
  }
}

// Every combination of source, destination, source alpha and destination alpha over the byte
// values that matter, at every opacity: once as one long row at both positions mod 8 (groups
// and head) and once pixel by pixel (the formula outside the groups).
TEST_F(KernelTest, EverySlotMatchesReferenceOverTheValuesThatMatter) {
  const int combos = 7 * 7 * 7 * 7;
  std::vector<u8> d0(combos * 4), s0(combos * 4), m0(combos * 4);
  for (int i = 0; i < combos; i++) {
    int s = kVals[i % 7], d = kVals[i / 7 % 7], sa = kVals[i / 49 % 7], da = kVals[i / 343];
    const u8 src[4] = {static_cast<u8>(s), static_cast<u8>(kVals[(i + 1) % 7]), static_cast<u8>(kVals[(i + 3) % 7]),
                       static_cast<u8>(sa)};
    const u8 dst[4] = {static_cast<u8>(d), static_cast<u8>(kVals[(i / 7 + 2) % 7]),
                       static_cast<u8>(kVals[(i / 7 + 5) % 7]), static_cast<u8>(da)};
    std::memcpy(&s0[4 * i], src, 4);
    std::memcpy(&d0[4 * i], dst, 4);
    m0[4 * i] = static_cast<u8>(kVals[i / 343]);  // mask byte varies with the alphas
  }
  for (const Variant& v : Variants()) {
    for (int slot = 3; slot < 26; slot++) {
      if (slot == 21) continue;
      // Slots whose bytes outside the groups have a formula of their own.
      bool single = slot == 4 || slot == 5 || slot == 6 || slot == 7 || slot == 8 || slot == 10 || slot == 15;
      for (int op : kOps) {
        if (!TakesOp(slot) && slot != 7 && slot != 24 && op != 256) continue;
        int f = slot == 7 ? (op == 256 ? 256 : 255 - op / 2) : op;
        if (slot == 7) BlendBuildMaskWeights(op, f, 200);
        for (int off : {0, 4})
          CheckSlot(v, slot, d0.data(), s0.data(), d0.data(), m0.data(), op, f, op, combos * 4, off, 8, "combos at",
                    off);
        if (HasFatalFailure()) return;
        if (!single) continue;
        for (int i = 0; i < combos; i++) {
          CheckSlot(v, slot, &d0[4 * i], &s0[4 * i], &d0[4 * i], &m0[4 * i], op, f, op, 4, 0, 4, "pixel", i);
          if (HasFatalFailure()) return;
        }
      }
    }
  }
}

TEST_F(KernelTest, HalvingMatchesReference) {
  for (const Variant& v : Variants()) {
    Lcg rng{99};
    for (int px = 1; px <= 40; px++) {
      for (int extra : {0, 3}) {
        int stride = 2 * px + extra;
        std::vector<u8> src(static_cast<size_t>(stride) * 8 + 8);
        for (u8& b : src) b = static_cast<u8>(rng.Next() >> 24);
        std::vector<u8> zero(px * 4), want(px * 4);
        RowBuf d(px * 4, 0x5A);
        v.set->halve(d.Place(zero.data(), px * 4, px % 8), src.data(), stride, px);
        ref::Halve(v.kind, want.data(), src.data(), stride, px);
        ASSERT_EQ(0, std::memcmp(d.row, want.data(), want.size())) << v.name << " pixels " << px;
        ASSERT_TRUE(d.GuardsIntact());
      }
    }
  }
}

// The documented examples, each set by itself.
TEST_F(KernelTest, DocumentedExamples) {
  for (const Variant& v : Variants()) {
    alignas(16) u8 d[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    alignas(16) u8 s[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    v.set->opacity(d, s, 128, 8);  // one whole group at an aligned destination
    EXPECT_EQ(d[0], v.kind == ref::kPlain ? 0 : 1) << v.name;

    u8 a[4] = {200, 10, 0, 0}, b[4] = {10, 200, 0, 0};
    v.set->sub(a, b, 4);  // max(s - d, 0)
    EXPECT_EQ(a[0], 0) << v.name;
    EXPECT_EQ(a[1], 190) << v.name;

    u8 dst[8] = {10, 20, 30, 77, 10, 20, 30, 77};
    u8 src[8] = {99, 98, 97, 0, 50, 60, 70, 255};
    v.set->over(dst, src, 8);
    const u8 want[8] = {10, 20, 30, 77, 50, 60, 70, 255};
    EXPECT_EQ(0, std::memcmp(dst, want, 8)) << v.name;

    for (int i = 0; i < 256; i++) g_MaskWeights[i] = i == 7 ? 1 : 0;
    u8 md[4] = {5, 6, 7, 8}, ms[4] = {200, 200, 200, 200}, mm[4] = {7, 0, 0, 0};
    v.set->mask(md, ms, mm, 0, 256, 4);
    EXPECT_EQ(md[0], 5) << v.name;
  }
}

// A low destination alpha makes slot 23's weight pass 65536; it is capped, so the colour
// reaches the source instead of wrapping.
TEST_F(KernelTest, SourceOverOpacityWeightIsCapped) {
  for (const Variant& v : Variants()) {
    u8 d[4] = {10, 250, 128, 0};
    u8 s[4] = {200, 0, 128, 7};
    v.set->over_opacity(d, s, 73, 4);
    EXPECT_EQ(d[0], 200) << v.name;
    EXPECT_EQ(d[1], 0) << v.name;
    EXPECT_EQ(d[2], 128) << v.name;
    EXPECT_EQ(d[3], 1) << v.name;
  }
}

// Slot 25 divides its step by oa + 1; with a small oa the step overshoots the source and would
// wrap. The result stays between destination and source.
TEST_F(KernelTest, ScaledSourceOverOpacityStaysBetweenDestinationAndSource) {
  for (const Variant& v : Variants()) {
    u8 d[4] = {1, 100, 0, 0};
    u8 s[4] = {0, 50, 0, 255};
    v.set->over_dst_scaled_opacity(d, s, 256, 1, 4);
    EXPECT_EQ(d[0], 0) << v.name;
    EXPECT_EQ(d[1], 50) << v.name;
  }
}

TEST_F(KernelTest, OutOfRangeOpacityAndFactorAreClamped) {
  PatternWeights();
  for (const Variant& v : Variants()) {
    for (int slot = 4; slot < 26; slot++) {
      if (!TakesOp(slot) && slot != 24) continue;
      for (auto [bad, good] : {std::pair{-7, 0}, std::pair{-100000, 0}, std::pair{300, 256}, std::pair{1 << 30, 256}}) {
        std::vector<u8> d1(64), s(64), d2;
        Lcg rng{static_cast<u32>(slot)};
        for (int i = 0; i < 64; i++) {
          d1[i] = static_cast<u8>(rng.Val());
          s[i] = static_cast<u8>(rng.Val());
        }
        d2 = d1;
        int f_bad = slot >= 24 ? bad : 256, f_good = slot >= 24 ? good : 256;
        Call(*v.set, slot, d1.data(), s.data(), s.data(), s.data(), bad, f_bad, 0, 64);
        Call(*v.set, slot, d2.data(), s.data(), s.data(), s.data(), good, f_good, 0, 64);
        EXPECT_EQ(d1, d2) << v.name << " slot " << slot << " value " << bad;
      }
    }
  }
}

}  // namespace
