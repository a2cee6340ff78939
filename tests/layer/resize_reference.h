// Per-pixel references for the resize filters and rotation, written from the arithmetic of each
// (nothing shared with the code under test but the installed halving kernel's rounding). Shared
// by the filter tests and the game that resizes end to end.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/config.h"
#include "layer/cpu.h"
#include "layer/kernels.h"
#include "layer/layer_resize.h"

namespace resize_ref {

struct Pic {
  i32 w, h;
  std::vector<u8> px;  // with the spare bytes
  u32 at(i64 x, i64 y) const {
    u32 v;
    std::memcpy(&v, px.data() + (y * w + x) * 4, 4);
    return v;
  }
  u8 ch(i64 x, i64 y, int c) const { return px[static_cast<size_t>((y * w + x) * 4 + c)]; }
};

struct Rect {
  i64 x1, y1, x2, y2;  // hundredths
};

// ---- References ------------------------------------------------------------------------------

using Out = std::vector<u32>;

// The references work out every row of small pictures and every seventh (and the last) of large
// ones; only those rows are compared.
inline i64 g_RowStep = 1;
inline bool RowWanted(i64 y, i64 h) { return y % g_RowStep == 0 || y == h - 1; }

inline Out RefNearest(const Pic& s, Rect r, i64 w100, i64 h100) {
  i64 W = w100 / 100, H = h100 / 100, x1 = r.x1 / 100, y1 = r.y1 / 100, x2 = r.x2 / 100, y2 = r.y2 / 100;
  Out o(W * H, 0);
  if (x2 < x1 || y2 < y1) return o;
  i64 cs = ((x2 - x1 + 1) << 16) / W, rs = ((y2 - y1 + 1) << 16) / H;
  for (i64 y = 0; y < H; y++)
    if (RowWanted(y, H))
      for (i64 x = 0; x < W; x++) {
        i64 sx = x1 + ((x * cs) >> 16), sy = y1 + ((y * rs) >> 16);
        if (sx >= 0 && sx < s.w && sy >= 0 && sy < s.h) o[y * W + x] = s.at(sx, sy);
      }
  return o;
}

inline i64 Sharpen(i64 v) {
  i64 f = static_cast<i64>(std::trunc(((v & 255) - 128) * 1.25 + 128));
  return (v & ~i64{255}) | std::clamp<i64>(f, 0, 255);
}

// A bilinear sample at an absolute position in 1/256 pixel; at the last column or row the
// neighbour beyond weighs nothing.
inline u8 Bilinear(const Pic& s, i64 vx, i64 vy, int c, bool exact_sum) {
  i64 sx = vx >> 8, sy = vy >> 8, fx = vx & 255, fy = vy & 255;
  if (sx == s.w - 1) fx = 0;
  if (sy == s.h - 1) fy = 0;
  i64 nx = std::min<i64>(sx + 1, s.w - 1), ny = std::min<i64>(sy + 1, s.h - 1);
  i64 t = s.ch(sx, sy, c) * (256 - fx) + s.ch(nx, sy, c) * fx;
  i64 b = s.ch(sx, ny, c) * (256 - fx) + s.ch(nx, ny, c) * fx;
  i64 v = exact_sum ? ((t * (256 - fy)) >> 16) + ((b * fy) >> 16) : ((t >> 8) * (256 - fy) + (b >> 8) * fy) >> 8;
  return static_cast<u8>(std::min<i64>(v, 255));
}

inline Out RefBilinear(const Pic& s, Rect r, i64 w100, i64 h100) {
  const bool threaded = g_CpuFeatures.sse && g_CfgUseSse;
  i64 W = w100 / 100, H = h100 / 100;
  auto pos = [](i64 i, i64 lo, i64 hi, i64 d100) {
    i64 f0 = (lo % 100) * 256 / 100, span = hi - lo, den = d100 - 100 == 0 ? 100 : d100 - 100;
    i64 v = d100 < span ? span * (256 * i + f0) / den : span * 256 * i / den + f0;
    return Sharpen(v) + (lo / 100) * 256;
  };
  Out o(W * H, 0);
  for (i64 y = 0; y < H; y++)
    if (RowWanted(y, H))
      for (i64 x = 0; x < W; x++) {
        i64 vx = pos(x, r.x1, r.x2, w100), vy = pos(y, r.y1, r.y2, h100);
        if (vx < 0 || (vx >> 8) >= s.w || vy < 0 || (vy >> 8) >= s.h) continue;
        u32 v = 0;
        for (int c = 0; c < 4; c++) v |= u32{Bilinear(s, vx, vy, c, threaded)} << (8 * c);
        o[y * W + x] = v;
      }
  return o;
}

// 256 * w(k / 256) of the cubic convolution kernel with a = -1, truncated.
inline i64 CubicW(i64 k) {
  double t = k / 256.0;
  double w = t <= 1 ? 1 - 2 * t * t + t * t * t : 4 - 8 * t + 5 * t * t - t * t * t;
  return static_cast<i64>(std::trunc(w * 256));
}

inline Out RefBicubic(const Pic& s, Rect r, i64 w100, i64 h100) {
  i64 W = w100 / 100, H = h100 / 100, x1 = r.x1 / 100, y1 = r.y1 / 100, x2 = r.x2 / 100, y2 = r.y2 / 100;
  Out o(W * H, 0);
  for (i64 y = 0; y < H; y++)
    if (RowWanted(y, H))
      for (i64 x = 0; x < W; x++) {
        i64 py = ((y * 65536 / H) * (y2 - y1 + 1)) >> 8, px = ((x * 65536 / W) * (x2 - x1 + 1)) >> 8;
        i64 sy = y1 + (py >> 8), sx = x1 + (px >> 8), fy = py & 255, fx = px & 255;
        if (sx < 0 || sx >= s.w || sy < 0 || sy >= s.h) continue;
        i64 sum[4] = {0, 0, 0, 0}, ws = 0;
        for (i64 a = -1; a <= 2; a++)
          for (i64 b = -1; b <= 2; b++) {
            i64 yy = sy + a, xx = sx + b;
            if (yy < 0 || yy >= s.h || xx < 0 || xx >= s.w) continue;
            i64 wt = CubicW(std::abs(a * 256 - fy)) * CubicW(std::abs(b * 256 - fx)) / 256;
            for (int c = 0; c < 4; c++) sum[c] += s.ch(xx, yy, c) * wt;
            ws += wt;
          }
        if (ws == 0) ws = 1;
        u32 v = 0;
        for (int c = 0; c < 4; c++) v |= static_cast<u32>(std::clamp<i64>(sum[c] / ws, 0, 255)) << (8 * c);
        o[y * W + x] = v;
      }
  return o;
}

// The 2 x 2 halving of the installed kernel set.
inline u8 Halve(u8 tl, u8 tr, u8 bl, u8 br) {
  if (g_PixelKernels.halve == BlendKernelHalveC) return static_cast<u8>((tl + tr + bl + br) >> 2);
  int l = (tl + bl + 1) >> 1, rr = (tr + br + 1) >> 1;
  return static_cast<u8>((l + rr + 1) >> 1);
}

inline Out RefThreaded(const Pic& s, Rect r, i64 w100, i64 h100) {
  i64 W = w100 / 100, H = h100 / 100;
  // Sub-sample k of the doubled grid: over 2 * size - 100; shrinking starts the index term at the
  // first fraction.
  auto pos = [](i64 k, i64 lo, i64 hi, i64 d100) {
    i64 f = (lo % 100) * 256 / 100, span = hi - lo, den = 2 * d100 - 100;
    i64 v = d100 < span ? span * (f + 256 * k) / den : span * 256 * k / den + f;
    return Sharpen(v) + (lo / 100) * 256;
  };
  auto inside = [](i64 v, i64 n) { return v >= 0 && (v >> 8) < n; };
  Out o(W * H, 0);
  for (i64 y = 0; y < H; y++)
    if (RowWanted(y, H))
      for (i64 x = 0; x < W; x++) {
        i64 vx[2] = {pos(2 * x, r.x1, r.x2, w100), pos(2 * x + 1, r.x1, r.x2, w100)};
        i64 vy[2] = {pos(2 * y, r.y1, r.y2, h100), pos(2 * y + 1, r.y1, r.y2, h100)};
        if (!inside(vx[0], s.w) || !inside(vx[1], s.w) || !inside(vy[0], s.h) || !inside(vy[1], s.h)) continue;
        u32 v = 0;
        for (int c = 0; c < 4; c++) {
          u8 q[2][2];
          for (int a = 0; a < 2; a++)
            for (int b = 0; b < 2; b++) q[a][b] = Bilinear(s, vx[b], vy[a], c, false);
          v |= u32{Halve(q[0][0], q[0][1], q[1][0], q[1][1])} << (8 * c);
        }
        o[y * W + x] = v;
      }
  return o;
}

inline double Sinc(double x) {
  const double pi = static_cast<double>(3.1415927410125732f);
  return x == 0 ? 1.0 : std::sin(pi * x) / (pi * x);
}
inline double Lanczos2(double x) { return std::fabs(x) < 2 ? Sinc(std::fabs(x)) * Sinc(std::fabs(x) * 0.5) : 0.0; }

// One direction of the windowed sinc, n values to m: per output index its taps (source index,
// weight), those outside 0..n - 1 left out.
struct SincTaps {
  std::vector<std::vector<std::pair<i64, i64>>> taps;
};
inline SincTaps SincWeights(i64 n, i64 m) {
  double s = n == 1 ? m : (m == 1 ? 1.0 / n : double(m - 1) / double(n - 1));
  double k = std::min(s, 1.0), sup = 2 / k;
  SincTaps t;
  t.taps.resize(m);
  for (i64 i = 0; i < m; i++) {
    i64 left = static_cast<i64>(std::floor(i / s - sup)), right = static_cast<i64>(std::ceil(i / s + sup));
    for (i64 j = 0; j <= right - left; j++) {
      if (left + j < 0 || left + j >= n) continue;
      t.taps[i].push_back({left + j, static_cast<i64>(Lanczos2((i / s - left - j) * k) * k * 65536)});
    }
  }
  return t;
}

template <class In>
inline u8 SincApply(const std::vector<std::pair<i64, i64>>& taps, In in) {
  i64 sum = 0, ws = 0;
  for (auto [j, wt] : taps) {
    sum += in(j)*wt;
    ws += wt;
  }
  i64 d = 1 + ws == 0 ? 1 : 1 + ws;
  return static_cast<u8>(std::clamp<i64>(sum / d, 0, 255));
}

inline Out RefSinc(const Pic& s, Rect, i64 w100, i64 h100) {
  i64 W = w100 / 100, H = h100 / 100;
  SincTaps hx = SincWeights(s.w, W), vy = SincWeights(s.h, H);
  std::vector<u8> mid(static_cast<size_t>(W) * s.h * 4);  // W x source height, along rows first
  std::vector<bool> need(s.h, false);
  for (i64 y = 0; y < H; y++)
    if (RowWanted(y, H))
      for (auto [j, wt] : vy.taps[y]) need[j] = true;
  const u8* sp = s.px.data();
  for (i64 y = 0; y < s.h; y++)
    if (need[y])
      for (i64 x = 0; x < W; x++)
        for (int c = 0; c < 4; c++)
          mid[(y * W + x) * 4 + c] = SincApply(hx.taps[x], [&](i64 j) { return sp[(y * s.w + j) * 4 + c]; });
  Out o(W * H, 0);
  const u8* mp = mid.data();
  for (i64 y = 0; y < H; y++)
    if (RowWanted(y, H))
      for (i64 x = 0; x < W; x++)
        for (int c = 0; c < 4; c++)
          o[y * W + x] |= u32{SincApply(vy.taps[y], [&](i64 j) { return mp[(j * W + x) * 4 + c]; })} << (8 * c);
  return o;
}

// under: what the output held where no source pixel lands (transparent black without it).
inline Out RefRotate(const Pic& s, i64 deg, i32 variant, const Out* under = nullptr) {
  i64 w = s.w, h = s.h, a = deg % 360;
  Out o = under ? *under : Out(w * h, 0);
  if (a == 0 || a == 180 || a == -180) {
    for (i64 i = 0; i < w * h; i++) o[i] = a == 0 ? s.at(i % w, i / w) : s.at(w - 1 - i % w, h - 1 - i / w);
    return o;
  }
  i64 c, sn;
  if (a % 90 == 0) {  // exact quarter turns
    c = 0;
    sn = (a == 90 || a == -270) ? 65536 : -65536;
  } else {
    double rad = a * 3.1415926535 / 180;
    c = static_cast<i64>(std::cos(rad) * 65536);
    sn = static_cast<i64>(std::sin(rad) * 65536);
  }
  i64 cx = w / 2, cy = h / 2;
  for (i64 y = 0; y < h; y++)
    for (i64 x = 0; x < w; x++) {
      i64 sx = cx * 65536 + c * (x - cx) - sn * (y - cy), sy = cy * 65536 + sn * (x - cx) + c * (y - cy);
      i64 ix = variant == ROTATE_CLAMPED ? sx / 65536 : static_cast<i64>(std::floor(sx / 65536.0));
      i64 iy = variant == ROTATE_CLAMPED ? sy / 65536 : static_cast<i64>(std::floor(sy / 65536.0));
      if (ix >= 0 && ix < w && iy >= 0 && iy < h) o[y * w + x] = s.at(ix, iy);
    }
  return o;
}

}  // namespace resize_ref
