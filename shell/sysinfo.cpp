// System information (see sysinfo.h). Every probe degrades quietly to a safe value; none stops
// the start-up, and the report only traces.
#include "shell/sysinfo.h"
#include "core/config.h"

#include <cstring>
#include <string>

#include "core/err.h"
#include "display/gpu.h"
#include "platform/platform.h"
#include "platform/video.h"
#include "script/save.h"
#include "shell/menu.h"
#include "sound/movie.h"

struct OsBuildRow {
  u8 code;
  u16 builds[12];  // 0 ends the list
};

static const OsBuildRow kOsBuilds[] = {
    {1, {950}},
    {2, {1111}},
    {3, {1212}},
    {4, {1214}},
    {12, {1057}},
    {13, {1381}},
    {20, {1998}},
    {21, {2222}},
    {30, {3000}},
    {40, {2195}},
    {45, {2211, 2223, 2239, 2247, 2250, 2257}},
    {50, {2600}},
    {60, {3790}},
    {65, {5219, 5260, 5270, 5381, 5384, 5536, 5568, 5600, 5743}},
    {70, {6000, 6001, 6002}},
    {80, {6801, 7000, 7100, 7600}},
    {90, {8158, 8250, 8375, 9200}},
    {91, {9374, 9600}},
    {100, {10240, 10586, 14393, 15063, 16299, 17134, 17763, 18362, 18363, 19041, 19042, 19043}},
};

u8 SysOsCodeFromBuild(u32 build) {
  for (const OsBuildRow& row : kOsBuilds)
    for (u16 b : row.builds)
      if (b != 0 && b == build) return row.code;
  return 255;
}

i8 SysOsVersionCode() { return static_cast<i8>(SysOsCodeFromBuild(SYS_REPORTED_BUILD)); }

i8 SysWorkerCountFor(i64 cpu_count, i32 limit) {
  i64 upper = limit == 0 ? 1 : 4;
  i64 n = cpu_count < 1 ? 1 : cpu_count;
  return static_cast<i8>(n > upper ? upper : n);
}

i32 SysInfoCollect() {
  g_OsCode = SysOsVersionCode();
  g_CpuCount = static_cast<i32>(PlatCpuCount());
  g_WorkerCount = SysWorkerCountFor(g_CpuCount, g_CfgWorkerLimit);
  PlatDesktop desk;
  PlatDesktopGet(&desk);
  g_MonitorSize = SizeI32{desk.width, desk.height};
  // Games ask for 32-bit modes; a 24-bit desktop shows them all the same.
  g_DesktopBitsPerPixel = desk.bits_per_pixel == 24 ? 32 : desk.bits_per_pixel;
  g_DesktopRefreshRate = desk.refresh_hz < 60 ? -1 : desk.refresh_hz;
  return 0;
}

i32 SysProbeDirectXVersion(i32* major, i32* minor, char* letter) {
  *major = 9;
  *minor = 0;
  *letter = 'c';
  return 0;
}

u64 SysMakeVersion(u16 a, u16 b, u16 c, u16 d) {
  return static_cast<u64>(a) << 48 | static_cast<u64>(b) << 32 | static_cast<u64>(c) << 16 | d;
}

i32 SysCompareVersion(u64 x, u64 y) { return x < y ? -1 : x > y ? 1 : 0; }

i32 SysIsUserAdmin() {
  u8 code = static_cast<u8>(g_OsCode);
  if (code >= 20 && code <= 39) return 1;  // Windows 98 and Me: everyone
  return PlatIsAdmin() ? 1 : 0;
}

const char* SysSoundFormatName(u32 mask) {
  if (mask & 0xC00) return "44.1kHz(16-bit)";
  if (mask & 0x300) return "44.1kHz(8-bit)";
  if (mask & 0x0C0) return "22.05kHz(16-bit)";
  if (mask & 0x030) return "22.05kHz,(8-bit)";
  if (mask & 0x00C) return "11.025kHz(16-bit)";
  if (mask & 0x003) return "11.025kHz(8-bit)";
  return "Disable";
}

u32 SysSoundFormatMask(i32 frequency, i32 channels, i32 bits) {
  // Per rate four bits: mono 8-bit, stereo 8-bit, mono 16-bit, stereo 16-bit.
  static const i32 kRates[3] = {11025, 22050, 44100};
  if (frequency <= 0 || channels <= 0 || bits <= 0) return 0;
  u32 mask = 0;
  for (int r = 0; r < 3; r++) {
    if (kRates[r] > frequency) break;
    u32 group = 0x1;  // mono 8-bit
    if (channels >= 2) group |= 0x2;
    if (bits >= 16) group |= channels >= 2 ? 0xC : 0x4;
    mask |= group << (4 * r);
  }
  return mask;
}

void SysCpuDetect(SysCpuReport* out) {
  std::memset(out, 0, sizeof *out);
  const PlatCpuInfo& ci = PlatCpuGetInfo();
  if (!ci.has_cpuid) return;
  const char* name = ci.brand[0] ? ci.brand : ci.vendor;
  while (*name == ' ') name++;
  std::strncpy(out->name, name, sizeof out->name - 1);
  out->mmx = ci.mmx;
  out->sse = ci.sse;
  out->sse2 = ci.sse2;
}

void SysReportInfo() {
  // The original deletes ".\info.txt" here; that name may be a game's own file, so it stays.
  SysCpuReport cpu;
  SysCpuDetect(&cpu);
  u64 total = 0, avail = 0;
  PlatMemoryStatus(&total, &avail);
  ErrTrace("OS_VER = %d", static_cast<i32>(g_OsCode));
  ErrTrace("CPU_NAME = %s", cpu.name);
  ErrTrace("CPU_MMX = %d", cpu.mmx);
  ErrTrace("CPU_SSE = %d", cpu.sse);
  ErrTrace("CPU_SSE2 = %d", cpu.sse2);
  ErrTrace("CPU_CORENUM = %d", g_CpuCount);
  ErrTrace("CPU_COREUSE = %d", static_cast<i32>(g_WorkerCount));
  ErrTrace("DirectX_VER = %d", g_DxVersion);
  ErrTrace("MEM_TOTAL = %u MB", static_cast<u32>(total >> 20));
  ErrTrace("MEM_AVAIL = %u MB", static_cast<u32>(avail >> 20));
  ErrTrace("SCREEN = %d x %d x %d bit (%dHz)", g_MonitorSize.load().width, g_MonitorSize.load().height,
           g_DesktopBitsPerPixel, g_DesktopRefreshRate);
  ErrTrace("ADMIN = %d", SysIsUserAdmin());
  ErrTrace("VIDEO");
  std::vector<PlatDisplayInfo> displays = PlatDisplayList();
  for (const PlatDisplayInfo& d : displays) {
    std::string name = PlatUtf8ToSjis(d.name), driver = PlatUtf8ToSjis(d.driver);
    ErrTrace(PlatUtf8ToSjis("▼ Name: %s [%s] %s%s").c_str(), name, driver, d.primary ? "PRIMARY" : "", "");
  }
  for (int capture = 0; capture < 2; capture++) {
    ErrTrace(capture ? "SOUND[INPUT]" : "SOUND[OUTPUT]");
    for (const PlatSoundDeviceInfo& s : PlatSoundDeviceList(capture != 0)) {
      u32 mask = SysSoundFormatMask(s.frequency, s.channels, s.bits);
      ErrTrace(PlatUtf8ToSjis("▼ Name: %s, %d, %s, %s").c_str(), PlatUtf8ToSjis(s.name), s.channels,
               s.channels >= 2 ? "Stereo" : "Mono", SysSoundFormatName(mask));
    }
  }
  ErrTrace("DISPLAYMODE");
  if (!displays.empty()) {
    i32 i = 0;
    for (const PlatDisplayMode& m : displays[0].modes)
      ErrTrace("[%3d]%4dx%4d %2d bit (%d Hz)", i++, m.width, m.height, m.bits_per_pixel, m.refresh_hz);
  }
}

void SysListAdapterModes(i32 adapter) {
  // The formats in the engine's order with the display depths that offer them.
  static const struct {
    const char* name;
    i32 depth1, depth2;
  } kFormats[] = {{"D3DFMT_X8R8G8B8", 24, 32}, {"D3DFMT_A8R8G8B8", 32, 32}, {"D3DFMT_A2B10G10R10", 30, 30},
                  {"D3DFMT_X1R5G5B5", 15, 16}, {"D3DFMT_A1R5G5B5", 15, 16}, {"D3DFMT_R5G6B5", 16, 16}};
  std::vector<PlatDisplayInfo> displays = PlatDisplayList();
  if (adapter < 0 || static_cast<size_t>(adapter) >= displays.size()) return;
  for (const auto& f : kFormats) {
    i32 n = 0;
    for (const PlatDisplayMode& m : displays[static_cast<size_t>(adapter)].modes)
      if (m.bits_per_pixel == f.depth1 || m.bits_per_pixel == f.depth2)
        ErrTrace("%s [%3d] %4d x %4d (%d Hz)", f.name, n++, m.width, m.height, m.refresh_hz);
    ErrTrace("%s: %d", f.name, n);
  }
}

void SysInfoReset() {
  g_OsCode = 0;
  g_CpuCount = 1;
  g_WorkerCount = 1;
  g_MonitorSize = SizeI32{0, 0};
  g_DesktopBitsPerPixel = 32;
  g_DesktopRefreshRate = -1;
  g_DxVersion = 0;
}
