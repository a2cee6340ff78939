// The exactness arguments the SIMD kernels rest on, checked over their whole input domains
// (integer and float steps modelled as the vector instructions compute them), and the source
// over and mask kernels against the references on every alpha pair and on step weight tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel_ref.h"
#include "layer/blend.h"
#include "layer/cpu.h"
#include "layer/kernels.h"
#include "platform/platform.h"
#include "row_buffers.h"

namespace {

// The 16-bit high products as the instructions compute them.
int MulhiSigned(int a, int b) {
  return (static_cast<i16>(a) * static_cast<i16>(b)) >> 16;  // arithmetic shift
}
int MulhiUnsigned(int a, int b) { return (static_cast<u16>(a) * static_cast<u16>(b)) >> 16; }

// floor(x * w / 65536) for |x| <= 255 and w up to 65536 from one signed high product of x and
// w's low word, x added back where w >= 32768 (source over x opacity, mask x source alpha); for
// x >= 0 from the unsigned product, x added back only at w = 65536 (the add mode).
TEST(KernelExactTest, HighProductsGiveWideWeightProducts) {
  for (int w = 0; w <= 65536; w++) {
    int low = w & 0xFFFF;
    for (int x = -255; x <= 255; x++) {
      int want = static_cast<int>(ref::FloorDiv64(static_cast<long long>(x) * w, 65536));
      int got = MulhiSigned(x, low) + (w >= 32768 ? x : 0);
      ASSERT_EQ(got, want) << "signed x " << x << " w " << w;
      if (x >= 0) {
        int ugot = MulhiUnsigned(x, low) + (w == 65536 ? x : 0);
        ASSERT_EQ(ugot, want) << "unsigned x " << x << " w " << w;
      }
    }
  }
}

// Source over onto a scaled destination x opacity divides |y| * sa by oa + 1 (|y| < 256) as
// floor(|y| * K / 65536) with K = trunc(float(sa * 65536 - 1) / float(oa + 1)) + 1, the product
// formed from K's two words and fitting one.
TEST(KernelExactTest, CeilingReciprocalDividesExactly) {
  for (int sa = 0; sa < 256; sa++) {
    for (int den = 1; den <= 256; den++) {
      float q = static_cast<float>(sa * 65536 - 1) / static_cast<float>(den);
      int k = static_cast<int>(q) + 1;
      ASSERT_GE(k, 0);
      int high = k >> 16, low = k & 0xFFFF;
      for (int y = 0; y < 256; y++) {
        int got = y * high + MulhiUnsigned(y, low);
        ASSERT_LT(got, 65536) << "sa " << sa << " oa + 1 " << den << " y " << y;
        ASSERT_EQ(got, y * sa / den) << "sa " << sa << " oa + 1 " << den << " y " << y;
      }
    }
  }
}

// The source's share sa * 256 / oa from float quotients: truncated as it is for source over x
// opacity (any sa), and as 4x the share with two low bits cleared for source over (sa <= oa).
TEST(KernelExactTest, FloatSharesMatchTheDivisionTable) {
  for (int oa = 1; oa < 256; oa++) {
    for (int sa = 0; sa < 256; sa++) {
      int want = ref::DivTable(oa, sa);
      float q = static_cast<float>(sa * 256) / static_cast<float>(oa);
      ASSERT_EQ(static_cast<int>(q), want) << "sa " << sa << " oa " << oa;
      if (sa > oa) continue;
      float q4 = static_cast<float>(sa * 1024) / static_cast<float>(oa);
      ASSERT_EQ(static_cast<int>(q4) & ~3, 4 * want) << "sa " << sa << " oa " << oa;
    }
  }
}

struct Variant {
  std::string name;
  const PixelKernelTable* set;
};
std::vector<Variant> KernelVariants() {
  std::vector<Variant> v = {{"plain", &g_BlendKernelsPlain}};
  if (BlendKernelSetSse2()) v.push_back({"sse2", BlendKernelSetSse2()});
  if (PlatCpuGetInfo().avx2 && BlendKernelSetAvx2()) v.push_back({"avx2", BlendKernelSetAvx2()});
  return v;
}

struct ModeVariant {
  std::string name;
  BlendModeKernelSet set;
};
std::vector<ModeVariant> SimdModeVariants() {
  std::vector<ModeVariant> v;
  ModeVariant simd{"sse2", {}};
  if (BlendModeKernelsSse2(&simd.set)) v.push_back(simd);
  simd.name = "avx2";
  if (PlatCpuGetInfo().avx2 && BlendModeKernelsAvx2(&simd.set)) v.push_back(simd);
  return v;
}

struct KernelExactRows : ::testing::Test {
  static void SetUpTestSuite() {
    BlendCpuReset();
    BlendInitTables();
  }
  void TearDown() override { BlendReset(); }
};

u32 NextRandom(u32* x) { return *x = *x * 1664525u + 1013904223u; }

// Slots 22 to 25 on a row holding every (source alpha, destination alpha) pair once, with
// colours anywhere in 0..255, at opacities and factors across their range.
TEST_F(KernelExactRows, SourceOverMatchesReferenceOnEveryAlphaPair) {
  const int kPixels = 65536, kBytes = 4 * kPixels;
  std::vector<u8> d0(kBytes), s0(kBytes), want(kBytes);
  u32 x = 7;
  for (int i = 0; i < kPixels; i++) {
    for (int c = 0; c < 3; c++) {
      d0[4 * i + c] = static_cast<u8>(NextRandom(&x) >> 24);
      s0[4 * i + c] = static_cast<u8>(NextRandom(&x) >> 24);
    }
    s0[4 * i + 3] = static_cast<u8>(i & 255);
    d0[4 * i + 3] = static_cast<u8>(i >> 8);
  }
  RowBuf d(kBytes, 0x5A);
  const int ops[] = {0, 1, 2, 77, 127, 128, 129, 200, 255, 256};
  const int factors[] = {0, 1, 100, 200, 255, 256};
  for (const Variant& v : KernelVariants()) {
    ref::KernelSet kind = v.name == "plain" ? ref::kPlain : ref::kSimd;
    for (int slot = 22; slot <= 25; slot++) {
      for (int op : ops) {
        for (int f : factors) {
          if ((slot == 22 || slot == 24) && op != 256) continue;
          if ((slot == 22 || slot == 23) && f != 256) continue;
          if (slot == 25 && op % 2 == 1 && f % 100 != 0) continue;  // a spread, not all pairs
          int off = (op + f) % 8 * 4;
          u8* dr = d.Place(d0.data(), kBytes, off);
          if (slot == 22) v.set->over(dr, s0.data(), kBytes);
          if (slot == 23) v.set->over_opacity(dr, s0.data(), op, kBytes);
          if (slot == 24) v.set->over_dst_scaled(dr, s0.data(), f, kBytes);
          if (slot == 25) v.set->over_dst_scaled_opacity(dr, s0.data(), f, op, kBytes);
          want = d0;
          ref::Args a{want.data(), s0.data(), nullptr, nullptr, g_MaskWeights,
                      op,          f,         0,       kBytes,  reinterpret_cast<uintptr_t>(dr)};
          ref::Slot(slot, kind, a);
          int first = 0;
          while (first < kBytes && dr[first] == want[first]) first++;
          ASSERT_EQ(first, kBytes) << v.name << " slot " << slot << " op " << op << " f " << f << ": pixel "
                                   << first / 4 << " byte " << first % 4 << " got " << int(dr[first]) << " want "
                                   << int(want[first]);
          ASSERT_TRUE(d.GuardsIntact()) << v.name << " slot " << slot;
        }
      }
    }
  }
}

// Weight tables for a hard edge, where the SIMD mask kernels weigh pixels by a compare, and
// near misses that must take the lookups: slot 7 and every mode's mask entries against the
// references. Step tables run on a row holding every (mask byte, source alpha) pair, near
// misses on a shorter row holding every mask byte at three destination offsets.
TEST_F(KernelExactRows, MaskKernelsMatchReferenceOnStepTablesAndNearMisses) {
  struct Table {
    const char* what;
    int progress, opacity, index, value;  // BlendBuildMaskWeights(progress, 256, opacity), then
                                          // weight[index] = value where index >= 0
  };
  const Table tables[] = {
      {"uniform", 256, 200, -1, 0},          {"uniform half", 256, 128, -1, 0},   {"edge", 100, 256, -1, 0},
      {"edge, low opacity", 37, 3, -1, 0},   {"edge at 255", 1, 256, -1, 0},      {"none shown", 0, 200, -1, 0},
      {"opacity 1", 200, 1, -1, 0},          {"clamped top", 100, 256, 180, 300}, {"zero above", 100, 256, 200, 0},
      {"zero just above", 100, 256, 170, 0}, {"value below", 100, 256, 10, 256},  {"other value", 100, 256, 255, 77},
      {"unusable 1", 100, 256, 200, 1},      {"top zero", 100, 256, 255, -3},
  };
  const int kSteps = 8;  // the first tables are steps
  std::vector<u8> d0, s0, m0, want;
  RowBuf d(4 * 65536, 0x5A);
  u32 x = 11;
  auto make_row = [&](int pixels) {
    d0.resize(4 * pixels);
    s0.resize(4 * pixels);
    m0.resize(4 * pixels);
    for (int p = 0; p < pixels; p++) {
      for (int c = 0; c < 4; c++) {
        d0[4 * p + c] = static_cast<u8>(NextRandom(&x) >> 24);
        s0[4 * p + c] = static_cast<u8>(NextRandom(&x) >> 24);
        m0[4 * p + c] = static_cast<u8>(NextRandom(&x) >> 24);
      }
      m0[4 * p] = static_cast<u8>(p);
      s0[4 * p + 3] = static_cast<u8>(p >> 8);
    }
  };
  for (int ti = 0; ti < static_cast<int>(sizeof(tables) / sizeof(tables[0])); ti++) {
    const Table& t = tables[ti];
    if (ti == 0) make_row(65536);
    if (ti == kSteps) make_row(600);
    const int bytes = static_cast<int>(d0.size());
    BlendBuildMaskWeights(t.progress, 256, t.opacity);
    if (t.index >= 0) g_MaskWeights[t.index] = t.value;
    for (int off : {4, 0, 12}) {
      if (ti < kSteps && off != 4) break;
      auto check = [&](const std::string& what, const u8* dr) {
        int first = 0;
        while (first < bytes && dr[first] == want[first]) first++;
        ASSERT_EQ(first, bytes) << what << " table " << t.what << " offset " << off << ": byte " << first << " got "
                                << int(dr[first]) << " want " << int(want[first]);
        ASSERT_TRUE(d.GuardsIntact()) << what << " table " << t.what;
      };
      for (const Variant& v : KernelVariants()) {
        u8* dr = d.Place(d0.data(), bytes, off);
        v.set->mask(dr, s0.data(), m0.data(), t.progress, 256, bytes);
        want = d0;
        ref::Args a{want.data(), s0.data(), nullptr,    m0.data(), g_MaskWeights,
                    256,         256,       t.progress, bytes,     reinterpret_cast<uintptr_t>(dr)};
        ref::Slot(7, v.name == "plain" ? ref::kPlain : ref::kSimd, a);
        check(v.name + " slot 7", dr);
        if (HasFatalFailure()) return;
      }
      for (const ModeVariant& v : SimdModeVariants()) {
        for (int m = 0; m < kBlendModeCount; m++) {
          for (int e = 0; e < 2; e++) {
            u8* dr = d.Place(d0.data(), bytes, off);
            v.set.masks[m][e](dr, s0.data(), m0.data(), t.progress, 256, bytes);
            want = d0;
            ref::ModeRow(m, e ? ref::kMaskSrcAlphaEntry : ref::kMaskEntry, want.data(), s0.data(), m0.data(),
                         g_MaskWeights, 256, bytes);
            check(v.name + " mode " + std::to_string(m) + " entry " + std::to_string(e), dr);
            if (HasFatalFailure()) return;
          }
        }
      }
    }
  }
}

}  // namespace
