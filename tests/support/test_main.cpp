#include <gtest/gtest.h>

#include "platform/platform.h"
#include "shell/startup.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  PlatDialogsSetStderr(true);
  SysInstallHooks();  // as start-up does, so every module answers its calls from below
  return RUN_ALL_TESTS();
}
