// System information: what machine the engine runs on, learnt once at start-up. On this
// platform the operating system reports itself as the newest Windows generation the engine
// knows, the DirectX major version is 9 (the version whose drawing the engine reproduces), and
// administrator means effective user 0. The report goes to the trace sink only.
#pragma once
#include <atomic>
#include "common/types.h"
#include "core/state.h"

// The build number this platform reports: the newest Windows 10 build of the table.
enum { SYS_REPORTED_BUILD = 19043 };

i32 SysInfoCollect();
// OS code of a Windows build number (255 for a build outside the table).
u8 SysOsCodeFromBuild(u32 build);
i8 SysOsVersionCode();
// Workers for a processor count under the settings' worker value (0 allows one worker, any
// other value four): the count clamped to 1 and that bound.
i8 SysWorkerCountFor(i64 cpu_count, i32 limit);
// 0 on success; major 9, minor 0, letter 'c'.
i32 SysProbeDirectXVersion(i32* major, i32* minor, char* letter);
u64 SysMakeVersion(u16 a, u16 b, u16 c, u16 d);
i32 SysCompareVersion(u64 x, u64 y);
i32 SysIsUserAdmin();
// The best sound format of a wave device's format mask (bit layout of the wave device caps).
const char* SysSoundFormatName(u32 format_mask);
// The format mask a device offering this rate, channel count and sample size would report.
u32 SysSoundFormatMask(i32 frequency, i32 channels, i32 bits);

struct SysCpuReport {
  char name[64];
  u8 mmx, sse, sse2;
};
void SysCpuDetect(SysCpuReport* out);
// The system report, line by line to the trace sink. A game's own ".\info.txt" is left alone.
void SysReportInfo();
// The display modes of an adapter (a display), per engine format, to the trace sink.
void SysListAdapterModes(i32 adapter);

// Tests: the values before collection.
void SysInfoReset();
