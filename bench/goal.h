// One line of a benchmark's summary: a measurement against the bound it must stay under.
#pragma once
#include <cstdio>

// Prints "goal NAME: ..." with met or missed; a negative measurement (nothing measured) misses.
// Returns 1 when missed, so a summary counts its misses.
inline int BenchGoalUnder(const char* name, double measured, double target, const char* unit) {
  const bool met = measured >= 0 && measured < target;
  std::printf("goal %s: %.2f %s (goal under %g %s) %s\n", name, measured, unit, target, unit, met ? "met" : "missed");
  return met ? 0 : 1;
}
