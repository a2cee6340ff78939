// Scalar references for the pixel effects, written pixel by pixel from the formulas: every
// window, block and source position is worked out for the pixel itself, without running sums,
// tables or the engine's helpers. Pictures are B, G, R, A words, rows top-down.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "common/types.h"

namespace fxref {

struct Pic {
  i32 w = 0, h = 0;
  std::vector<u32> px;
  u32 at(i64 x, i64 y) const { return px[static_cast<size_t>(y * w + x)]; }
  u32& at(i64 x, i64 y) { return px[static_cast<size_t>(y * w + x)]; }
};

inline i32 Ch(u32 v, i32 c) { return static_cast<i32>((v >> (8 * c)) & 255); }
inline u32 Make(i32 b, i32 g, i32 r, i32 a) {
  return static_cast<u32>(b) | static_cast<u32>(g) << 8 | static_cast<u32>(r) << 16 | static_cast<u32>(a) << 24;
}

struct Job {
  i32 code;
  i32 x1, y1, x2, y2;
  i32 value, value2;
  bool has_alpha;
  i32 mode;
  u32 seed;  // the scatter's generator state
};

// The picture cut to the rectangle, each pixel given by f(x, y) in source coordinates.
template <class F>
Pic Cut(const Job& j, F f) {
  Pic o;
  o.w = j.x2 - j.x1 + 1;
  o.h = j.y2 - j.y1 + 1;
  o.px.resize(static_cast<size_t>(o.w) * o.h);
  for (i32 y = j.y1; y <= j.y2; y++)
    for (i32 x = j.x1; x <= j.x2; x++) o.at(x - j.x1, y - j.y1) = f(x, y);
  return o;
}

// Average of the pixels of the rectangle [x0, x1] x [y0, y1] per channel set in chans.
inline u32 BoxAverage(const Pic& s, i32 x0, i32 x1, i32 y0, i32 y1, u32 keep, u32 chans) {
  i64 sum[4] = {0, 0, 0, 0};
  for (i32 y = y0; y <= y1; y++)
    for (i32 x = x0; x <= x1; x++)
      for (i32 c = 0; c < 4; c++) sum[c] += Ch(s.at(x, y), c);
  const i64 n = i64{x1 - x0 + 1} * (y1 - y0 + 1);
  u32 out = 0;
  for (i32 c = 0; c < 4; c++) out |= static_cast<u32>((chans >> c) & 1 ? sum[c] / n : Ch(keep, c)) << (8 * c);
  return out;
}

// A box blur along rows (dirs 1), columns (2) or rows then columns (3): each window is the
// pixels of the rectangle within the radius.
inline Pic Blur(const Pic& s, const Job& j, i32 dirs, u32 chans) {
  const i32 r = std::max(1, j.value);
  Pic rows = s;
  if (dirs & 1)
    for (i32 y = j.y1; y <= j.y2; y++)
      for (i32 x = j.x1; x <= j.x2; x++)
        rows.at(x, y) = BoxAverage(s, std::max(j.x1, x - r), std::min(j.x2, x + r), y, y, s.at(x, y), chans);
  Pic cols = rows;
  if (dirs & 2)
    for (i32 y = j.y1; y <= j.y2; y++)
      for (i32 x = j.x1; x <= j.x2; x++)
        cols.at(x, y) = BoxAverage(rows, x, x, std::max(j.y1, y - r), std::min(j.y2, y + r), rows.at(x, y), chans);
  return Cut(j, [&](i32 x, i32 y) { return cols.at(x, y); });
}

inline Pic Shadow(const Pic& s, const Job& j) {
  Pic b = Blur(s, j, 3, 8);
  for (u32& v : b.px) v &= 0xFF000000u;
  return b;
}

inline u32 MapRgb(u32 v, i32 (*f)(i32 c, i32 ch, const Job&), const Job& j) {
  return Make(f(Ch(v, 0), 0, j), f(Ch(v, 1), 1, j), f(Ch(v, 2), 2, j), Ch(v, 3));
}

inline u32 Saturate(u32 v, i32 s) {
  const i32 grey = (Ch(v, 0) + Ch(v, 1) + Ch(v, 2)) / 3;
  i32 out[3];
  if (s < 128) {
    for (i32 c = 0; c < 3; c++)
      out[c] = Ch(v, c) + static_cast<i32>(std::floor((grey - Ch(v, c)) * (128.0 - s) / 128.0));
  } else {
    i32 k = s - 128;
    for (i32 c = 0; c < 3; c++) {
      const i32 cv = Ch(v, c);
      const double r = cv + std::floor((cv - grey) * static_cast<double>(k) / 128.0);
      if (r > 255) k = std::min(k, static_cast<i32>(std::trunc((255.0 - cv) * 128.0 / (cv - grey))));
      if (r < 0) k = std::min(k, static_cast<i32>(std::trunc(-cv * 128.0 / (cv - grey))));
    }
    for (i32 c = 0; c < 3; c++)
      out[c] = Ch(v, c) + static_cast<i32>(std::floor((Ch(v, c) - grey) * static_cast<double>(k) / 128.0));
  }
  return Make(out[0], out[1], out[2], Ch(v, 3));
}

// The mosaic cell of position p: [lo, hi) with grid lines at centre + k * n.
inline void MosaicCell(i32 p, i32 first, i32 last, i32 centre, i32 n, i32* lo, i32* hi) {
  i32 g = first;
  while ((g - centre) % n != 0) g++;
  if (p < g) {
    *lo = first;
    *hi = g;
  } else {
    *lo = g + (p - g) / n * n;
    *hi = std::min(*lo + n, last + 1);
  }
}

inline i32 CrtRand(u32* state) {
  *state = *state * 214013u + 2531011u;
  return static_cast<i32>((*state >> 16) & 0x7FFF);
}

inline void ScatterBlock(Pic* o, i32 x, i32 y, u32* state) {
  static const u8 perm[24][4] = {{3, 2, 1, 0}, {2, 3, 1, 0}, {3, 1, 2, 0}, {1, 3, 2, 0}, {2, 1, 3, 0}, {1, 2, 3, 0},
                                 {3, 2, 0, 1}, {2, 3, 0, 1}, {3, 0, 2, 1}, {0, 3, 2, 1}, {2, 0, 3, 1}, {0, 2, 3, 1},
                                 {3, 1, 0, 2}, {1, 3, 0, 2}, {3, 0, 1, 2}, {0, 3, 1, 2}, {1, 0, 3, 2}, {0, 1, 3, 2},
                                 {2, 1, 0, 3}, {1, 2, 0, 3}, {2, 0, 1, 3}, {0, 2, 1, 3}, {1, 0, 2, 3}, {0, 1, 2, 3}};
  u32* p[4] = {&o->at(x, y), &o->at(x + 1, y), &o->at(x, y + 1), &o->at(x + 1, y + 1)};
  const u32 old[4] = {*p[0], *p[1], *p[2], *p[3]};
  const u8* e = perm[CrtRand(state) % 24];
  for (i32 k = 0; k < 4; k++) *p[k] = (old[e[k]] & 0xFFFFFFu) | (old[k] & 0xFF000000u);
}

inline i64 WaveShift(i64 pos, i64 phase, i64 a, bool cosine) {
  const float ang = static_cast<float>(pos + phase) * 0.017453292f;
  return static_cast<i64>(std::trunc(
      (cosine ? std::cos(static_cast<double>(ang)) : std::sin(static_cast<double>(ang))) * static_cast<double>(a)));
}

// The effect's result: a w x h picture, or the full-size picture for the threshold and fills.
inline Pic Apply(const Pic& s, const Job& j) {
  auto same = [&](i32 x, i32 y) { return s.at(x, y); };
  switch (j.code) {
    case 1:
      return Cut(j, [&](i32 x, i32 y) {
        return MapRgb(
            s.at(x, y),
            [](i32 c, i32, const Job& jj) {
              return jj.value < 128 ? std::max(0, c - 128 + jj.value) : std::min(255, c + jj.value - 128);
            },
            j);
      });
    case 2:
    case 5: return Blur(s, j, 3, j.has_alpha ? 15 : 7);
    case 3: return Blur(s, j, 1, j.has_alpha ? 15 : 7);
    case 4: return Blur(s, j, 2, j.has_alpha ? 15 : 7);
    case 6: return Shadow(s, j);
    case 7: return j.has_alpha ? Shadow(s, j) : Blur(s, j, 3, 7);
    case 10: {
      Pic o = Cut(j, same);
      u32 state = j.seed;
      const i32 x2 = o.w - 1, y2 = o.h - 1;
      for (i32 k = 0; k < j.value / 2; k++) {
        std::vector<i32> cols;
        for (i32 x = k; x < x2; x += 2) cols.push_back(x);
        for (i32 y = k; y < y2; y += 2)
          for (i32 x : cols) ScatterBlock(&o, x, y, &state);
        for (i32 y = y2 - 1; y >= k; y -= 2)
          for (size_t c = 0; c < cols.size(); c++) ScatterBlock(&o, x2 - 1 - k - 2 * static_cast<i32>(c), y, &state);
      }
      return o;
    }
    case 11: return Cut(j, [&](i32 x, i32 y) { return s.at(s.w - 1 - x, y); });
    case 12:
      return Cut(j, [&](i32 x, i32 y) {
        return MapRgb(
            s.at(x, y),
            [](i32 c, i32 ch, const Job& jj) {
              const i32 t = (jj.value >> (8 * ch)) & 255;
              return c + (255 - c) * std::max(0, t - 128) / 128 - c * std::max(0, 128 - t) / 128;
            },
            j);
      });
    case 19: {
      Pic o = s;
      for (i32 y = j.y1; y <= j.y2; y++)
        for (i32 x = j.x1; x <= j.x2; x++) {
          const u32 v = s.at(x, y);
          o.at(x, y) = (Ch(v, 0) + Ch(v, 1) + Ch(v, 2) < 3 * j.value ? 0u : 0xFFFFFFu) | (v & 0xFF000000u);
        }
      return o;
    }
    case 20: {
      const i32 n = std::max(1, j.value);
      return Cut(j, [&](i32 x, i32 y) {
        i32 x0, x1, y0, y1;
        MosaicCell(x, j.x1, j.x2, (j.x2 + 1) / 2, n, &x0, &x1);
        MosaicCell(y, j.y1, j.y2, (j.y2 + 1) / 2, n, &y0, &y1);
        return BoxAverage(s, x0, x1 - 1, y0, y1 - 1, s.at(x, y), 7);
      });
    }
    case 21:
    case 22:
    case 23:
      return Cut(j, [&](i32 x, i32 y) {
        const i64 dx = j.code != 22 ? WaveShift(y, j.value2, j.value, false) : 0;
        const i64 dy = j.code != 21 ? WaveShift(x, j.value2, j.value, true) : 0;
        i64 cx = x + dx;
        if (cx < j.x1) cx = j.x1;
        if (cx > j.x2) cx = std::max(j.x1, j.x2 - 1);
        return s.at(cx, std::clamp<i64>(y + dy, j.y1, j.y2));
      });
    case 24:
    case 25:
    case 26: {
      Pic o = s;
      const u32 v = static_cast<u32>(j.value);
      for (i32 y = j.y1; y <= j.y2; y++)
        for (i32 x = j.x1; x <= j.x2; x++)
          o.at(x, y) = j.mode == 1 ? 0xFF000000u | (v & 0xFFFFFFu)
                                   : (j.mode == 2 ? (s.at(x, y) & 0xFFFFFFu) | (v & 255) << 24 : v);
      return o;
    }
    case 27: return Cut(j, [&](i32 x, i32 y) { return s.at(x, y) ^ 0xFFFFFFu; });
    case 29: return Cut(j, [&](i32 x, i32 y) { return Saturate(s.at(x, y), j.value); });
    case 37: return Cut(j, [&](i32 x, i32 y) { return s.at(x, j.y2 - (y - j.y1)); });
    case 38:
      return Cut(j, [&](i32 x, i32 y) {
        const u32 v = s.at(x, y);
        const i64 S = (117 * Ch(v, 0) + 601 * Ch(v, 1) + 306 * Ch(v, 2)) * 1024;
        auto div = [](i64 n) { return static_cast<i32>(std::clamp<i64>(n / 1048576, 0, 255)); };
        return Make(div(S - 46347025), div(S - 287585), static_cast<i32>(std::min<i64>(255, (S + 18748416) / 1048576)),
                    Ch(v, 3));
      });
    case 39: {
      const i32 w = j.x2 - j.x1 + 1, h = j.y2 - j.y1 + 1, cx = w / 2, cy = h / 2;
      const i32 n = static_cast<i32>((std::hypot(w, h) + 1) * 0.5 + 1);
      return Cut(j, [&](i32 x, i32 y) {
        const i32 rx = x - j.x1 - cx, ry = y - j.y1 - cy;
        const i32 d = std::min(n - 1, static_cast<i32>(std::hypot(std::abs(rx), std::abs(ry))));
        const double rad = (j.value / 10.0 - d * static_cast<double>(j.value) / (10.0 * n)) * 0.017453292519444445;
        const i64 c = static_cast<i64>(std::cos(rad) * 256), sn = static_cast<i64>(std::sin(rad) * 256);
        const i64 sx = std::clamp<i64>(static_cast<i64>(std::floor((rx * c - ry * sn) / 256.0)) + cx, 0, w - 1);
        const i64 sy = std::clamp<i64>(static_cast<i64>(std::floor((rx * sn + ry * c) / 256.0)) + cy, 0, h - 1);
        return s.at(j.x1 + sx, j.y1 + sy);
      });
    }
    default: return Cut(j, same);  // 8 and 9: the rectangle copied
  }
}

}  // namespace fxref
