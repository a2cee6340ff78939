// The demo game built from examples/demo by the kit and run headless on the fixed clock: its last
// frame (the scene at dusk with the two typed message lines) matches the golden picture.
#include <cstdlib>

#include "support/golden_frame.h"
#include "support/zephra_run.h"

namespace fs = std::filesystem;

using zephra_run::ZephraRun;

TEST_F(ZephraRun, DemoTypesItsMessageAndEndsOnTheGoldenPicture) {
  const fs::path game = BuildExample("demo"), out = root / "last.png";
  ASSERT_FALSE(HasFailure());
  std::string err;
  ASSERT_EQ(
      RunToEnd({game.string()},
               {"ZEPHRA_EXIT_AFTER_FRAMES=5000", "ZEPHRA_FIXED_CLOCK=1", "ZEPHRA_FRAME_DUMP=" + out.string()}, &err),
      0)
      << err;
  EXPECT_EQ(err.find("[error dialog]"), std::string::npos) << err;
  // The text layer's place in the 640 x 480 demo.
  ExpectFrameMatchesGolden(out, "demo_last_frame.png", {44, 368, 44 + 552, 368 + 84});
}
