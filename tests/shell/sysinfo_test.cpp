#include <gtest/gtest.h>

#include "core/config.h"
#include "display/gpu.h"
#include "platform/video.h"
#include "script/save.h"
#include "shell/menu.h"
#include "shell/sysinfo.h"
#include "sound/movie.h"

TEST(SysInfo, OsCodesByBuildNumber) {
  struct Case {
    u32 build;
    u8 code;
  } cases[] = {{950, 1},   {1381, 13}, {1998, 20}, {2195, 40},   {2250, 45},   {2600, 50}, {5743, 65},
               {6002, 70}, {7600, 80}, {9600, 91}, {19043, 100}, {22000, 255}, {0, 255},   {1, 255}};
  for (const Case& c : cases) EXPECT_EQ(SysOsCodeFromBuild(c.build), c.code) << c.build;
  // This platform reports the newest known Windows, which start-up treats as Vista or later.
  EXPECT_EQ(static_cast<u8>(SysOsVersionCode()), 100);
}

TEST(SysInfo, WorkerCountIsClampedInAFullInteger) {
  struct Case {
    i64 cpus;
    i32 setting;
    i8 workers;
  } cases[] = {{8, 4, 4},   {1, 4, 1},    {2, 4, 2}, {0, 4, 1}, {128, 4, 4},
               {255, 1, 4}, {1000, 4, 4}, {8, 0, 1}, {1, 0, 1}, {300, 0, 1}};
  for (const Case& c : cases) EXPECT_EQ(SysWorkerCountFor(c.cpus, c.setting), c.workers) << c.cpus << "/" << c.setting;
}

TEST(SysInfo, SoundFormatNamesTakeTheBestFormat) {
  struct Case {
    u32 mask;
    const char* name;
  } cases[] = {{0xFFF, "44.1kHz(16-bit)"},  {0x800, "44.1kHz(16-bit)"},
               {0x100, "44.1kHz(8-bit)"},   {0x0C0, "22.05kHz(16-bit)"},
               {0x010, "22.05kHz,(8-bit)"}, {0x008, "11.025kHz(16-bit)"},
               {0x002, "11.025kHz(8-bit)"}, {0, "Disable"},
               {0x1000, "Disable"}};
  for (const Case& c : cases) EXPECT_STREQ(SysSoundFormatName(c.mask), c.name) << c.mask;
  EXPECT_STREQ(SysSoundFormatName(SysSoundFormatMask(48000, 2, 16)), "44.1kHz(16-bit)");
  EXPECT_STREQ(SysSoundFormatName(SysSoundFormatMask(22050, 1, 8)), "22.05kHz,(8-bit)");
  EXPECT_STREQ(SysSoundFormatName(SysSoundFormatMask(0, 2, 16)), "Disable");
  EXPECT_EQ(SysSoundFormatMask(11025, 1, 16), 0x5u);
}

TEST(SysInfo, VersionsAdministratorAndDirectX) {
  EXPECT_EQ(SysCompareVersion(SysMakeVersion(4, 9, 0, 904), SysMakeVersion(4, 9, 0, 902)), 1);
  EXPECT_EQ(SysCompareVersion(SysMakeVersion(4, 9, 0, 0), SysMakeVersion(5, 0, 0, 0)), -1);
  EXPECT_EQ(SysCompareVersion(SysMakeVersion(1, 2, 3, 4), SysMakeVersion(1, 2, 3, 4)), 0);
  i32 major = 0, minor = -1;
  char letter = 0;
  EXPECT_EQ(SysProbeDirectXVersion(&major, &minor, &letter), 0);
  EXPECT_EQ(major, 9);
  g_OsCode = 21;  // Windows 98 SE: every user is an administrator
  EXPECT_EQ(SysIsUserAdmin(), 1);
  SysInfoReset();
}

TEST(SysInfo, CollectFillsTheMachineFacts) {
  ASSERT_EQ(PlatVideoInit(), 0);
  g_CfgWorkerLimit = 0;
  EXPECT_EQ(SysInfoCollect(), 0);
  EXPECT_EQ(g_WorkerCount, 1);
  g_CfgWorkerLimit = 4;
  SysInfoCollect();
  EXPECT_GE(g_CpuCount, 1);
  EXPECT_EQ(g_WorkerCount, g_CpuCount < 4 ? g_CpuCount : 4);
  EXPECT_GT(g_MonitorSize.load().width, 0);
  EXPECT_NE(g_DesktopBitsPerPixel, 24);
  EXPECT_TRUE(g_DesktopRefreshRate == -1 || g_DesktopRefreshRate >= 60);
  SysReportInfo();  // traces only; must not touch files
  PlatVideoQuit();
  SysInfoReset();
}
