// Scalar references for the pixel kernels and the blend modes, written from the formulas alone:
// floor and truncating divisions are spelt out, the division and product tables are computed
// in place, and the SIMD set's head / 8-byte groups / tail are modelled from the destination
// address. Tests compare every kernel variant with these byte for byte.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>

#include "common/types.h"

namespace ref {

enum KernelSet { kPlain, kSimd };

inline int FloorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
inline long long FloorDiv64(long long a, long long b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
inline int Clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }
inline int Op(int op) { return Clamp(op, 0, 256); }
inline int Min(int a, int b) { return a < b ? a : b; }
inline int Max(int a, int b) { return a > b ? a : b; }
// d + floor((t - d) * w / 256)
inline int Step(int d, int t, int w) { return d + FloorDiv((t - d) * w, 256); }

// The byte-wise parts of a row of n bytes: head [0, head), groups [head, groups_end), tail.
struct Parts {
  int head, groups_end;
};
inline Parts ByteParts(KernelSet set, uintptr_t dst_addr, int n) {
  int head = set == kSimd ? Min(static_cast<int>((8 - (dst_addr & 7)) & 7), n) : 0;
  return {head, head + (n - head) / 8 * 8};
}
// The pixel-wise parts of a row of np pixels, in pixels.
inline Parts PixelParts(KernelSet set, uintptr_t dst_addr, int np) {
  int head = set == kSimd && (dst_addr & 4) && np > 0 ? 1 : 0;
  return {head, head + (np - head) / 2 * 2};
}
inline bool InGroups(const Parts& p, int i) { return i >= p.head && i < p.groups_end; }

// Everything a slot may take; unused fields are ignored.
struct Args {
  u8* dst;                  // the destination (in: old row, out: result)
  const u8* src;            // source, or a for slot 8
  const u8* src2;           // b for slot 8
  const u8* mask;           // slot 7
  const i32* mask_weights;  // g_MaskWeights
  int op, f, progress, bytes;
  uintptr_t dst_addr;  // where the real destination lies (head rule)
};

inline int MaskWeight(const i32* w, int m) {
  int v = w[m];
  return v <= 1 ? 0 : Min(v, 256);
}

inline int DivTable(int o, int v) { return o == 0 ? 0 : v * 256 / o; }

// Reference of slot `slot` (not 21) of `set` applied to a.dst.
inline void Slot(int slot, KernelSet set, const Args& a) {
  u8* D = a.dst;
  const u8* S = a.src;
  const int n = a.bytes > 0 ? a.bytes : 0, np = n / 4, op = Op(a.op);
  switch (slot) {
    case 0:
      for (int i = 0; i < n; i++) D[i] = 0;
      break;
    case 1:
      for (int i = 0; i < n; i++) D[i] = static_cast<u8>(a.op);
      break;
    case 2:
      for (int p = 0; p < np; p++)
        for (int c = 0; c < 4; c++) D[4 * p + c] = static_cast<u8>(static_cast<u32>(a.op) >> (8 * c));
      break;
    case 3:
      for (int i = 0; i < n; i++) D[i] = S[i];
      break;
    case 4:
    case 8: {
      const u8* X = slot == 4 ? D : S;  // the "d" / "a" side
      const u8* Y = slot == 4 ? S : a.src2;
      Parts parts = ByteParts(set, a.dst_addr, n);
      for (int i = 0; i < n; i++) {
        int x = X[i], y = Y[i], r;
        if (!InGroups(parts, i)) r = x + FloorDiv((y - x) * op, 256);
        else if (op < 128) r = x + FloorDiv((y - x) * op, 256);
        else if (op > 128) r = y + FloorDiv((x - y) * (256 - op), 256);
        else r = set == kPlain ? (y >> 1) + (x >> 1) : (y + x + 1) >> 1;
        D[i] = static_cast<u8>(r);
      }
      break;
    }
    case 5:
    case 6: {
      Parts parts = PixelParts(set, a.dst_addr, np);
      for (int p = 0; p < np; p++) {
        u8* d = &D[4 * p];
        const u8* s = &S[4 * p];
        int sa = s[3];
        if (slot == 5) {
          int w = sa + 1;
          if (!InGroups(parts, p)) {
            for (int c = 0; c < 3; c++) d[c] = static_cast<u8>(d[c] + FloorDiv((s[c] - d[c]) * w, 256));
          } else {
            for (int c = 0; c < 4; c++)
              d[c] = static_cast<u8>(set == kPlain ? (s[c] * w + d[c] * (257 - w)) >> 8
                                                   : Min(((s[c] * w) >> 8) + ((d[c] * (257 - w)) >> 8), 255));
          }
        } else {
          int k = (sa * op) >> 8;
          if (!InGroups(parts, p)) {
            for (int c = 0; c < 3; c++) d[c] = static_cast<u8>((d[c] * (256 - k) >> 8) + (s[c] * (k + 1) >> 8));
          } else {
            for (int c = 0; c < 4; c++)
              d[c] = static_cast<u8>(set == kPlain ? (s[c] * (k + 1) + d[c] * (256 - k)) >> 8
                                                   : Min(((s[c] * (k + 1)) >> 8) + ((d[c] * (256 - k)) >> 8), 255));
          }
        }
      }
      break;
    }
    case 7: {
      long long f = a.f, pr = Op(a.progress);  // any softness, as it stands
      bool soft = set == kSimd && f != 256;
      Parts parts = PixelParts(set, a.dst_addr, np);
      for (int p = 0; p < np; p++) {
        u8* d = &D[4 * p];
        const u8* s = &S[4 * p];
        int m = a.mask[4 * p];
        if (soft && InGroups(parts, p)) {
          long long x = m * (f >> 1) + (f >> 1) * pr - 128 * f + pr;
          int w = static_cast<int>(x < 0 ? 0 : (x > 255 ? 255 : x)) + 1;
          for (int c = 0; c < 4; c++) d[c] = static_cast<u8>(d[c] + ((s[c] * w) >> 8) - ((d[c] * w) >> 8));
        } else {
          int w = MaskWeight(a.mask_weights, m);
          if (w == 0) continue;
          for (int c = 0; c < 3; c++) d[c] = static_cast<u8>(d[c] - FloorDiv((d[c] - s[c]) * w, 256));
        }
      }
      break;
    }
    case 9:
      for (int i = 0; i < n; i++) D[i] = static_cast<u8>(Min(D[i] + S[i], 255));
      break;
    case 10:
      for (int i = 0; i < n; i++) {
        int d = D[i], s = S[i];
        D[i] = static_cast<u8>(i < n / 8 * 8 ? Min(d + ((s * op) >> 8), 255)
                                             : d + FloorDiv((Min(d + s, 255) - d) * op, 256));
      }
      break;
    case 11:
    case 12:
      for (int p = 0; p < np; p++) {
        u8* d = &D[4 * p];
        const u8* s = &S[4 * p];
        int sa = s[3], w;
        if (slot == 11) w = set == kPlain ? sa + 1 : Min(sa + 1, 255);
        else w = set == kPlain ? (sa * op + op) >> 8 : (Min(sa + 1, 255) * op) >> 8;
        for (int c = 0; c < 3; c++) d[c] = static_cast<u8>(d[c] + FloorDiv((Min(d[c] + s[c], 255) - d[c]) * w, 256));
      }
      break;
    case 13:
      for (int i = 0; i < n; i++) D[i] = static_cast<u8>(Max(S[i] - D[i], 0));
      break;
    case 14:
      for (int i = 0; i < n; i++) D[i] = static_cast<u8>(i < n / 4 * 4 ? (D[i] * (S[i] + 1)) >> 8 : S[i] * D[i] / 255);
      break;
    case 15: {
      Parts parts = ByteParts(set, a.dst_addr, n);
      for (int i = 0; i < n; i++) {
        int d = D[i], s = S[i];
        D[i] = static_cast<u8>(InGroups(parts, i) ? Min(d + s - ((d * (s + 1)) >> 8), 255) : s + d - s * d / 255);
      }
      break;
    }
    case 16:
      for (int i = 0; i < n; i++) {
        int d = D[i], s = S[i];
        D[i] = static_cast<u8>(d + FloorDiv(((s + d - s * d / 255) - d) * op, 256));
      }
      break;
    case 17:
      for (int i = 0; i < n; i++) D[i] = static_cast<u8>(Max(S[i], D[i]));
      break;
    case 18:
      for (int i = 0; i < n; i++) D[i] = static_cast<u8>(Min(S[i], D[i]));
      break;
    case 19:
      for (int i = 0; i < n; i++) D[i] = static_cast<u8>(Max(D[i] + S[i] - 255, 0));
      break;
    case 20:
      for (int i = 0; i < n; i++) D[i] = static_cast<u8>(Clamp(D[i] + 2 * S[i] - 256, 0, 255));
      break;
    case 22:
    case 23:
    case 24:
    case 25:
      for (int p = 0; p < np; p++) {
        u8* d = &D[4 * p];
        const u8* s = &S[4 * p];
        int sa = s[3], da = d[3], oa;
        if (slot == 24 || slot == 25) da = (da * Op(a.f)) >> 8;
        if (slot == 22 || slot == 24) {
          oa = (da + sa - da * sa / 255) & 255;
          int w = DivTable(oa, sa);
          for (int c = 0; c < 3; c++) d[c] = static_cast<u8>(d[c] + FloorDiv((s[c] - d[c]) * w, 256));
        } else if (slot == 23) {
          oa = da + FloorDiv((sa - da * sa / 255) * op, 256);
          long long w = static_cast<long long>(DivTable(oa, sa)) * op;
          if (w > 65536) w = 65536;  // the weight may not pass 1.0
          for (int c = 0; c < 3; c++) d[c] = static_cast<u8>(d[c] + FloorDiv64((s[c] - d[c]) * w, 65536));
        } else {
          oa = (da + FloorDiv((sa - (((sa + 1) * da) >> 8)) * op, 256)) & 255;
          for (int c = 0; c < 3; c++) {
            int v = d[c] + FloorDiv((s[c] - d[c]) * op, 256) * sa / (oa + 1);    // C division truncates
            d[c] = static_cast<u8>(Clamp(v, Min(s[c], d[c]), Max(s[c], d[c])));  // stays between d and s
          }
        }
        d[3] = static_cast<u8>(oa);
      }
      break;
    default: break;
  }
}

// Slot 21: one output row of dst_pixels from the 2 x 2 blocks of src (rows stride pixels apart).
inline void Halve(KernelSet set, u8* dst, const u8* src, int stride, int dst_pixels) {
  const u8* below = src + stride * 4;
  for (int p = 0; p < dst_pixels; p++)
    for (int c = 0; c < 4; c++) {
      int a = src[8 * p + c], b = src[8 * p + 4 + c], e = below[8 * p + c], g = below[8 * p + 4 + c];
      dst[4 * p + c] =
          static_cast<u8>(set == kPlain ? (a + b + e + g) >> 2 : (((a + e + 1) >> 1) + ((b + g + 1) >> 1) + 1) >> 1);
    }
}

// ---- Blend modes ------------------------------------------------------------------------------

// T[s][d] of every mode, from the formulas.
inline int ModeT(int mode, int s, int d) {
  switch (mode) {
    case 0: return s;
    case 1: return Min(s + d, 255);
    case 2: return Max(s - d, 0);
    case 3: return s * d / 255;
    case 4: return d == 0 ? Min(255 * s, 255) : Min(255 * s / d, 255);
    case 5: return s + d - s * d / 255;
    case 6: return Max(s, d);
    case 7: return Min(s, d);
    case 8: return s > d ? s - d : d - s;
    case 9: return s + d - 2 * (s * d / 255);
    case 10: return d < 128 ? 2 * s * d / 255 : d == 128 ? s : 2 * d - 257 + s * (512 - 2 * d) / 255;
    case 11: return Min(256 * d / (256 - s), 255);
    case 12: return Max(255 - 256 * (255 - d) / (s + 1), 0);
    case 13: return Clamp(s + d - 255, 0, 255);
    case 14: return s < 128 ? 2 * s * d / 255 : s == 128 ? d : 2 * s - 257 + d * (512 - 2 * s) / 255;
    case 15: {
      double r = std::sqrt(256.0 - d);
      long long k;
      int t;
      if (s < 128) {
        k = static_cast<long long>(std::trunc(16384.0 - r));
        t = d + static_cast<int>(FloorDiv64((s - 128) * k, 32768));
      } else if (d <= 32) {
        k = static_cast<long long>(std::trunc(16384.0 - r * (768 - 8 * d)));
        t = d + static_cast<int>(FloorDiv64((s - 128) * k, 32768));
      } else {
        k = static_cast<long long>(std::trunc(16384.0 - r));
        t = d + static_cast<int>(FloorDiv64((s - 128) * k, 65536));
      }
      return Clamp(t, 0, 255);
    }
    case 16:
      if (s == 0) return 0;
      if (s < 128) return Max((510 * s - 65025 + 255 * d) / (2 * s), 0);
      if (s < 255) return Min(255 * d / (510 - 2 * s), 255);
      return 255;
    case 17: return Clamp(2 * s + d - 256, 0, 255);
    default: return s < 128 ? Min(d, 2 * s) : Max(d, 2 * s - 255);
  }
}

enum Entry { kPlainEntry, kOpacityEntry, kSrcAlphaEntry, kSrcAlphaOpacityEntry, kMaskEntry, kMaskSrcAlphaEntry };

// The general rows of a mode's entry (not the slot-routed ones).
inline void ModeRow(int mode, Entry e, u8* D, const u8* src, const u8* mask, const i32* weights, int op, int bytes) {
  op = Op(op);
  int n = bytes > 0 ? bytes : 0;
  if (e == kPlainEntry || e == kOpacityEntry) {
    for (int i = 0; i < n; i++) {
      int d = D[i], t = ModeT(mode, src[i], d);
      if (e == kPlainEntry) D[i] = static_cast<u8>(t);
      else if (mode == 8) D[i] = static_cast<u8>(d + (t - d) * op / 256);  // toward zero
      else D[i] = static_cast<u8>(d + FloorDiv((t - d) * op, 256));
    }
    return;
  }
  for (int p = 0; p < n / 4; p++) {
    int sa = src[4 * p + 3];
    int w = 0;
    if (e == kSrcAlphaEntry) w = sa + 1;
    else if (e == kSrcAlphaOpacityEntry) w = (op * (sa + 1)) >> 8;
    else {
      w = MaskWeight(weights, mask[4 * p]);
      if (w == 0) continue;
    }
    for (int c = 0; c < 3; c++) {
      int d = D[4 * p + c], t = ModeT(mode, src[4 * p + c], d);
      if (e == kMaskSrcAlphaEntry) {
        int v = w * (mode == 0 ? sa : sa + 1);
        D[4 * p + c] = static_cast<u8>(d + FloorDiv64(static_cast<long long>(t - d) * v, 65536));
      } else {
        D[4 * p + c] = static_cast<u8>(d + FloorDiv((t - d) * w, 256));
      }
    }
  }
}

}  // namespace ref
