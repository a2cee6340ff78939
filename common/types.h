// Fixed-width integer names used across the engine, and the small macros every module shares.
#pragma once
#include <cstddef>
#include <cstdint>

typedef std::uint8_t u8;
typedef std::int8_t i8;
typedef std::uint16_t u16;
typedef std::int16_t i16;
typedef std::uint32_t u32;
typedef std::int32_t i32;
typedef std::uint64_t u64;
typedef std::int64_t i64;

#define ZP_COUNTOF(a) (sizeof(a) / sizeof((a)[0]))

// A width and height pair (the engine's screen, display, output and monitor sizes).
struct SizeI32 {
  i32 width, height;
};

// A point or an offset in pixels.
struct PointI32 {
  i32 x, y;
};
