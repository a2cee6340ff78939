// The blend-mode kernels over a vector type V, compiled with the SIMD kernel set. A mode's
// T[s][d] is computed in vectors, equal to the mode's table for all 65536 pairs; the entry's
// weighting then runs on 16-bit words. Include after kernels_simd_impl.h.
#pragma once
#include "layer/blend.h"
#include "layer/kernels_simd_impl.h"

namespace ZP_SIMD_NS {

// min(floor(n / e), 255) per word, for n in 0..65535 and e in 1..256. The float quotient is
// correctly rounded: where n / e is below 256 and not whole it lies at least 1 / e >= 1 / 256
// under the next whole number, far more than the quotient's rounding error (256 * 2^-24), so
// truncating it gives the floor; at 256 and above it truncates to 256 or more, capped at 255
// (the pack saturates at 32767 first).
template <class V>
static inline typename V::R DivCap255(typename V::R n, typename V::R e) {
  typedef typename V::R R;
  R z = V::Zero();
  R lo = V::TruncF(V::DivF(V::ToF(V::UnpackLo16(n, z)), V::ToF(V::UnpackLo16(e, z))));
  R hi = V::TruncF(V::DivF(V::ToF(V::UnpackHi16(n, z)), V::ToF(V::UnpackHi16(e, z))));
  return V::Min16(V::Packs32(lo, hi), V::Set16(255));
}

// Soft light's multiplier K per byte of D for s >= 128 over d <= 47 (row 0 of the table: low
// bytes, row 1: high bytes, as two byte vectors); other bytes' K are not used. Without a byte
// shuffle the bytes are looked up one by one, and only when some byte needs them.
template <class V>
static inline void SoftLightDarkK(typename V::R S, typename V::R D, const u8* d, typename V::R* klo,
                                  typename V::R* khi) {
  typedef typename V::R R;
  if constexpr (V::kHasShuffle8) {
    (void)S, (void)d;
    R under16 = V::Cmpeq8(V::Subs8u(D, V::Set8(15)), V::Zero());
    R under32 = V::Cmpeq8(V::Subs8u(D, V::Set8(31)), V::Zero());
    R k[2];
    for (int b = 0; b < 2; b++) {
      const u8* t = g_BlendSoftLightK[b];
      R k0 = V::Shuffle8(V::LoadTable16(t), D), k1 = V::Shuffle8(V::LoadTable16(t + 16), D);
      R k2 = V::Shuffle8(V::LoadTable16(t + 32), D);
      k[b] = V::Select8(under16, V::Select8(under32, k2, k1), k0);
    }
    *klo = k[0];
    *khi = k[1];
  } else {
    R light = V::Cmpeq8(V::Max8u(S, V::Set8(128)), S);
    R dark = V::Cmpeq8(V::Subs8u(D, V::Set8(32)), V::Zero());
    if (V::AllZero(V::And(light, dark))) {
      *klo = *khi = V::Zero();
      return;
    }
    alignas(32) u8 lo[V::kBytes], hi[V::kBytes];
    for (int i = 0; i < V::kBytes; i++) {
      int j = d[i] < 48 ? d[i] : 47;
      lo[i] = g_BlendSoftLightK[0][j];
      hi[i] = g_BlendSoftLightK[1][j];
    }
    *klo = V::Load(lo);
    *khi = V::Load(hi);
  }
}

// The modes computed on 16-bit words: T per word for the low and high byte halves, before the
// pack clamps it to 0..255 (see ModeWordsClamped for the modes whose words may lie outside).
template <class V, int M>
static inline void ModeWords(typename V::R S, typename V::R D, const u8* d, typename V::R r[2]) {
  typedef typename V::R R;
  R klo = V::Zero(), khi = V::Zero();
  if constexpr (M == 15) SoftLightDarkK<V>(S, D, d, &klo, &khi);
  else (void)d;
  for (int h = 0; h < 2; h++) {
    R s16 = h ? Hi<V>(S) : Lo<V>(S), d16 = h ? Hi<V>(D) : Lo<V>(D);
    if constexpr (M == 4) {
      // d = 0 divides by 1: 255 s, capped, is 255 for any s > 0 and 0 for s = 0.
      r[h] = DivCap255<V>(V::Mullo16(s16, V::Set16(255)), V::Max16(d16, V::Set16(1)));
    } else if constexpr (M == 11) {
      r[h] = DivCap255<V>(V::template Slli16<8>(d16), V::Sub16(V::Set16(256), s16));
    } else if constexpr (M == 12) {
      R q = DivCap255<V>(V::template Slli16<8>(V::Sub16(V::Set16(255), d16)), V::Add16(s16, V::Set16(1)));
      r[h] = V::Sub16(V::Set16(255), q);
    } else if constexpr (M == 15) {
      // t = d + floor((s - 128) * k / 2^n): below 128 that is d + floor((s - 128) / 2) and
      // over d > 32 d + floor((s - 128) * 16383 / 65536) whatever the root (its share of
      // the product stays under the step's fraction); over d <= 32 K comes from the table.
      R a = V::Sub16(s16, V::Set16(128));
      R k = V::UnpackLo8(klo, khi);
      if (h) k = V::UnpackHi8(klo, khi);
      R over32 = V::Cmpgt16(d16, V::Set16(32)), dark = V::Cmpgt16(V::Zero(), a);
      k = V::Or(V::And(over32, V::Set16(16383)), V::AndNot(over32, k));
      k = V::Or(V::And(dark, V::Set16(32767)), V::AndNot(dark, k));
      r[h] = V::Add16(d16, V::Mulhi16s(a, k));
    } else if constexpr (M == 16) {
      // Below 128: 255 (2s + d - 255) / 2s, negative numerators giving 0; from 128 on
      // 255 d / (510 - 2s); s = 255 gives 255 and s = 0 (numerator 0) gives 0.
      R two = V::Add16(s16, s16), dark = V::Cmpgt16(V::Set16(128), s16);
      R x = V::Max16(V::Sub16(V::Add16(two, d16), V::Set16(255)), V::Zero());
      R n = V::Mullo16(V::Or(V::And(dark, x), V::AndNot(dark, d16)), V::Set16(255));
      R e = V::Or(V::And(dark, two), V::AndNot(dark, V::Sub16(V::Set16(510), two)));
      R q = DivCap255<V>(n, V::Max16(e, V::Set16(1)));
      r[h] = V::Max16(q, V::And(V::Cmpeq16(s16, V::Set16(255)), V::Set16(255)));
    } else if constexpr (M == 3) {
      r[h] = Div255<V>(V::Mullo16(s16, d16));
    } else if constexpr (M == 5) {
      r[h] = V::Sub16(V::Add16(s16, d16), Div255<V>(V::Mullo16(s16, d16)));
    } else if constexpr (M == 9) {
      R p = Div255<V>(V::Mullo16(s16, d16));
      r[h] = V::Sub16(V::Add16(s16, d16), V::Add16(p, p));
    } else if constexpr (M == 10 || M == 14) {
      // Overlay keys on d, hard light on s. Up to 128: floor(2 * other * key / 255), which at
      // key = 128 is other (256 for 255, which the pack brings back to 255); above:
      // 2 key - 257 + floor(other * (512 - 2 key) / 255). One product serves both: the factor
      // min(2 key, 512 - 2 key) is 2 key up to 128 and 512 - 2 key above, and 2 key - 257 is
      // below 0 exactly up to 128.
      R key = M == 10 ? d16 : s16, other = M == 10 ? s16 : d16;
      R k2 = V::Add16(key, key);
      R p = Div255<V>(V::Mullo16(other, V::Min16(k2, V::Sub16(V::Set16(512), k2))));
      r[h] = V::Add16(p, V::Max16(V::Sub16(k2, V::Set16(257)), V::Zero()));
    } else if constexpr (M == 17) {
      r[h] = V::Sub16(V::Add16(d16, V::Add16(s16, s16)), V::Set16(256));
    } else {
      static_assert(M == 18, "mode");
      R two = V::Add16(s16, s16);
      R dark = V::Min16(d16, two), light = V::Max16(d16, V::Sub16(two, V::Set16(255)));
      R lt = V::Cmpgt16(V::Set16(128), s16);
      r[h] = V::Or(V::And(lt, dark), V::AndNot(lt, light));
    }
  }
}

// T of mode M for the bytes at s and d (S and D are those bytes, loaded).
template <class V, int M>
static inline typename V::R ModeBytes(typename V::R S, typename V::R D, const u8* s, const u8* d) {
  typedef typename V::R R;
  // clang-format off
  if constexpr (M == 0) return S;
  else if constexpr (M == 1) return V::Adds8u(S, D);
  else if constexpr (M == 2) return V::Subs8u(S, D);
  else if constexpr (M == 6) return V::Max8u(S, D);
  else if constexpr (M == 7) return V::Min8u(S, D);
  else if constexpr (M == 8) return V::Or(V::Subs8u(S, D), V::Subs8u(D, S));
  else if constexpr (M == 13) return V::Subs8u(S, V::Xor(D, V::Set8(-1)));
  // clang-format on
  else {
    (void)s;
    R r[2];
    ModeWords<V, M>(S, D, d, r);
    return V::PackUs16(r[0], r[1]);
  }
}

// T of mode M as words for the low and high byte halves (t[0], t[1]), for the entries that
// weigh it: the word modes skip the pack and unpack, clamping only where they can leave 0..255.
template <class V, int M>
static inline void ModeHalves(typename V::R S, typename V::R D, const u8* s, const u8* d, typename V::R t[2]) {
  if constexpr (M == 4 || M == 10 || M == 11 || M == 12 || M == 14 || M == 15 || M == 16) {
    (void)s;
    ModeWords<V, M>(S, D, d, t);
    for (int h = 0; h < 2; h++) {
      // The divisions come capped; overlay and hard light reach 256 only above; soft light
      // can leave either end.
      if constexpr (M == 10 || M == 14 || M == 15) t[h] = V::Min16(t[h], V::Set16(255));
      if constexpr (M == 15) t[h] = V::Max16(t[h], V::Zero());
    }
  } else {
    typename V::R T = ModeBytes<V, M>(S, D, s, d);
    t[0] = Lo<V>(T);
    t[1] = Hi<V>(T);
  }
}

template <class V, int M>
struct EntryPlain {
  void operator()(u8* d, const u8* s) const { V::Store(d, ModeBytes<V, M>(V::Load(s), V::Load(d), s, d)); }
};

template <class V, int M>
struct EntryOpacity {
  typename V::R op, op2;  // op and 2 * op
  void operator()(u8* d, const u8* s) const {
    typename V::R S = V::Load(s), D = V::Load(d), T[2], r[2];
    ModeHalves<V, M>(S, D, s, d, T);
    for (int h = 0; h < 2; h++) {
      typename V::R t16 = T[h], d16 = h ? Hi<V>(D) : Lo<V>(D);
      if constexpr (M == 8) {
        // Difference steps by |t - d| * op / 256 rounded toward zero, in the sign of t - d.
        typename V::R neg = V::Cmpgt16(d16, t16);
        typename V::R mag = V::Sub16(V::Max16(t16, d16), V::Min16(t16, d16));
        typename V::R step = V::template Srli16<8>(V::Mullo16(mag, op));
        r[h] = V::Sub16(V::Add16(d16, V::Xor(step, neg)), neg);
      } else {
        r[h] = Lerp2<V>(d16, t16, op2);
      }
    }
    V::Store(d, V::PackUs16(r[0], r[1]));
  }
};

// Colour words weighted per pixel: w = sa + 1, or (op * (sa + 1)) >> 8 when with_op.
template <class V, int M, bool kWithOp>
struct EntrySrcAlpha {
  typename V::R op2;  // 2 * op
  void operator()(u8* d, const u8* s) const {
    typename V::R S = V::Load(s), D = V::Load(d), T[2], r[2];
    ModeHalves<V, M>(S, D, s, d, T);
    for (int h = 0; h < 2; h++) {
      typename V::R d16 = h ? Hi<V>(D) : Lo<V>(D);
      typename V::R w = V::Add16(h ? V::AlphaWordsHi(S) : V::AlphaWordsLo(S), V::Set16(1));
      // (w * op) >> 8 as ((w << 7) * (op << 1)) >> 16: w * op reaches 65536.
      if (kWithOp) w = V::Mulhi16u(V::template Slli16<7>(w), op2);
      r[h] = Lerp16<V>(d16, T[h], V::And(w, ColourWords<V>()));
    }
    V::Store(d, V::PackUs16(r[0], r[1]));
  }
};

template <class V, int M>
struct EntryMask {
  MaskWeigher<V> weigh;
  struct State {
    typename V::R w;  // w per pixel; 2w where the step is signed
    bool skip;
  };
  void Prepare(const u8*, const u8* m, State* st) const {
    typename V::R W = weigh(m);
    st->skip = V::AllZero(W);
    st->w = M == 1 ? W : V::Add32(W, W);
  }
  void Finish(u8* d, const u8* s, const State& st) const {
    if (st.skip) return;
    typename V::R S = V::Load(s), D = V::Load(d), r[2];
    if constexpr (M == 1) {
      // Add: t - d = min(s, 255 - d) is never negative, so the step is the unsigned high
      // product of (t - d) << 8 and w, added to d as bytes (the sum stays at most t).
      typename V::R step = V::Subs8u(V::Adds8u(D, S), D);
      for (int h = 0; h < 2; h++) {
        typename V::R w = h ? V::SpreadColourWordsHi(st.w) : V::SpreadColourWordsLo(st.w);
        r[h] = V::Mulhi16u(h ? Hi8<V>(step) : Lo8<V>(step), w);
      }
      return V::Store(d, V::Add8(D, V::PackUs16(r[0], r[1])));
    }
    typename V::R T[2];
    ModeHalves<V, M>(S, D, s, d, T);
    for (int h = 0; h < 2; h++) {
      typename V::R w2 = h ? V::SpreadColourWordsHi(st.w) : V::SpreadColourWordsLo(st.w);
      r[h] = Lerp2<V>(h ? Hi<V>(D) : Lo<V>(D), T[h], w2);
    }
    V::Store(d, V::PackUs16(r[0], r[1]));
  }
  void operator()(u8* d, const u8* s, const u8* m) const {
    State st;
    Prepare(s, m, &st);
    Finish(d, s, st);
  }
};

// v = w * (sa + 1) (normal mode: w * sa), d + floor((t - d) * v / 65536). Staged: the weight
// gather runs ahead of the colours. The product is one high product: with v's low word taken
// as signed, mulhi(x, low) is floor(x * v / 65536) - x exactly when v >= 32768 (v = 65536
// included, where the low word is 0), so x is added back there; the weight goes in as
// low | (v >= 32768 ? 0xFFFF << 16 : 0). The add mode's step x is never negative, so
// x * (sa + 1) fits 16 bits unsigned and is formed first: the weight goes in as w | (sa + 1) << 16
// and the step is the unsigned high product of x * (sa + 1) and w (w <= 256).
template <class V, int M>
struct EntryMaskSrcAlpha {
  MaskWeigher<V> weigh;
  struct State {
    typename V::R k;
    bool skip;
  };
  void Prepare(const u8* s, const u8* m, State* st) const {
    typename V::R W = weigh(m);
    st->skip = V::AllZero(W);
    if constexpr (M == 1) {
      st->k = V::Or(W, V::Add32(V::AlphaToByte2(V::Load(s)), V::Set32(0x10000)));
      return;
    }
    // w * sa fits 16 bits (w <= 256, sa <= 255); w * (sa + 1) = w * sa + w.
    typename V::R v = V::Mullo16(W, V::template Srli32<24>(V::Load(s)));
    if (M != 0) v = V::Add32(v, W);
    typename V::R big = V::Cmpgt32(v, V::Set32(M == 1 ? 65535 : 32767));
    st->k = V::Or(v, V::And(big, V::Set32(static_cast<int>(0xFFFF0000u))));
  }
  void Finish(u8* d, const u8* s, const State& st) const {
    if (st.skip) return;
    typename V::R S = V::Load(s), D = V::Load(d), r[2];
    if constexpr (M == 1) {
      // The alpha word's weight is 0, so the alpha byte keeps d.
      typename V::R step = V::Subs8u(V::Adds8u(D, S), D);
      for (int h = 0; h < 2; h++) {
        typename V::R w = h ? V::SpreadColourWordsHi(st.k) : V::SpreadColourWordsLo(st.k);
        typename V::R sa1 = h ? V::SpreadHighWordsHi(st.k) : V::SpreadHighWordsLo(st.k);
        typename V::R x = h ? Hi<V>(step) : Lo<V>(step);
        r[h] = V::Mulhi16u(V::Mullo16(x, sa1), w);
      }
      return V::Store(d, V::Add8(D, V::PackUs16(r[0], r[1])));
    }
    typename V::R T[2];
    ModeHalves<V, M>(S, D, s, d, T);
    for (int h = 0; h < 2; h++) {
      typename V::R d16 = h ? Hi<V>(D) : Lo<V>(D);
      // The alpha word's weight is 0, so the alpha byte keeps d.
      typename V::R x = V::Sub16(T[h], d16);
      typename V::R low = h ? V::SpreadColourWordsHi(st.k) : V::SpreadColourWordsLo(st.k);
      typename V::R big = h ? V::SpreadColourHighWordsHi(st.k) : V::SpreadColourHighWordsLo(st.k);
      r[h] = V::Add16(V::Add16(d16, V::Mulhi16s(x, low)), V::And(x, big));
    }
    V::Store(d, V::PackUs16(r[0], r[1]));
  }
  void operator()(u8* d, const u8* s, const u8* m) const {
    State st;
    Prepare(s, m, &st);
    Finish(d, s, st);
  }
};

template <class V, int M>
static void ModePlain(u8* d, const u8* s, i32, i32 n) {
  Run2<V>(d, s, n, EntryPlain<V, M>{});
}
template <class V, int M>
static void ModeOpacity(u8* d, const u8* s, i32 op, i32 n) {
  op = BlendClampWeight(op);
  Run2<V>(d, s, n, EntryOpacity<V, M>{V::Set16(op), V::Set16(2 * op)});
}
template <class V, int M>
static void ModeSrcAlpha(u8* d, const u8* s, i32, i32 n) {
  Run2<V>(d, s, n > 0 ? n & ~3 : 0, EntrySrcAlpha<V, M, false>{V::Zero()});
}
template <class V, int M>
static void ModeSrcAlphaOpacity(u8* d, const u8* s, i32 op, i32 n) {
  Run2<V>(d, s, n > 0 ? n & ~3 : 0, EntrySrcAlpha<V, M, true>{V::Set16(2 * BlendClampWeight(op))});
}
template <class V, int M>
static void ModeMask(u8* d, const u8* s, const u8* m, i32, i32 softness, i32 n) {
  MaskWeightTable table;
  MaskWeightsUsable<V>(&table, softness == 256);
  RunAhead3<V>(d, s, m, n > 0 ? n & ~3 : 0, EntryMask<V, M>{MaskWeigher<V>(table)});
}
template <class V, int M>
static void ModeMaskSrcAlpha(u8* d, const u8* s, const u8* m, i32, i32 softness, i32 n) {
  MaskWeightTable table;
  MaskWeightsUsable<V>(&table, softness == 256);
  RunAhead3<V>(d, s, m, n > 0 ? n & ~3 : 0, EntryMaskSrcAlpha<V, M>{MaskWeigher<V>(table)});
}

template <class V, int M>
static void FillMode(BlendModeKernelSet* set) {
  set->rows[M][0] = BlendRowRouted(M, 0) ? nullptr : Clean<V, ModePlain<V, M>>::Call;
  set->rows[M][1] = BlendRowRouted(M, 1) ? nullptr : Clean<V, ModeOpacity<V, M>>::Call;
  set->rows[M][2] = BlendRowRouted(M, 2) ? nullptr : Clean<V, ModeSrcAlpha<V, M>>::Call;
  set->rows[M][3] = BlendRowRouted(M, 3) ? nullptr : Clean<V, ModeSrcAlphaOpacity<V, M>>::Call;
  set->masks[M][0] = Clean<V, ModeMask<V, M>>::Call;
  set->masks[M][1] = Clean<V, ModeMaskSrcAlpha<V, M>>::Call;
}

template <class V>
static void FillModeKernels(BlendModeKernelSet* set) {
#define ZP_FILL(num, Mode) FillMode<V, num>(set);
  ZP_BLEND_MODE_LIST(ZP_FILL)
#undef ZP_FILL
}

}  // namespace ZP_SIMD_NS
