// Preloading while the sound thread loads: the preload lists are changed by the script thread
// and looked up by the sound thread, which holds g_EngineLock for its whole pass (as
// SoundOpenFile reads a file through the sources). CI runs this under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/pack.h"
#include "core/sys.h"
#include "script/file.h"
#include "support/game_folder.h"

TEST(SoundPreload, ListsChangeUnderTheLockWhileTheSoundThreadLoads) {
  TestGameFolder game;
  PackReset();
  for (int i = 0; i < 40; i++) game.Write("se/s" + std::to_string(i) + ".wav", std::string(16 + i, 'w'));
  std::atomic<bool> done{false};
  std::atomic<int> loads{0};
  std::thread sound([&] {
    while (!done) {
      for (int i = 0; i < 40 && !done; i++) {
        EngineLockGuard lock;
        u8* data = nullptr;
        u32 size = 0;
        const std::string name = "se\\s" + std::to_string(i) + ".wav";
        if (PackReadWholeFile(name.c_str(), &data, &size) == 0) {
          EXPECT_EQ(size, static_cast<u32>(16 + i));
          loads++;
        }
        std::free(data);
      }
    }
  });
  for (int round = 0; round < 10; round++)
    for (int i = 0; i < 40; i++)
      EXPECT_EQ(
          FileMemListPreload(round % 2, ("se/s" + std::to_string((i * 7 + round) % 40)).c_str(), PACK_MEDIA_SOUND), 0);
  done = true;
  sound.join();
  EXPECT_GT(loads.load(), 0);
  EXPECT_EQ(g_PackMemoryLists[0].count, 40);
  u64 sum = 0;
  for (i32 i = 0; i < g_PackMemoryLists[0].count; i++) sum += g_PackMemoryLists[0].items[i].size;
  EXPECT_EQ(g_PackMemoryLists[0].total, sum);
  PackReset();
}
