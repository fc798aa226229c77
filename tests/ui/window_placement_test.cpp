#include "ui/window_placement.h"

#include <gtest/gtest.h>

#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace dovrane::ui {
namespace {

TEST(WindowPlacementTest, PlacementMustShareAnAreaWithTheScreens) {
  struct Case {
    int left, top, right, bottom;
    bool on_screen;
  };
  const Case cases[] = {
      {100, 100, 900, 700, true},   {-500, -300, 10, 10, true},   {1920, 0, 2600, 500, false},
      {-800, 0, 0, 600, false},     {0, 1080, 800, 1600, false},  {1900, 1060, 2500, 1600, true},
      {300, 300, 300, 700, false},  // no width
  };
  for (const Case& c : cases) {
    WindowPlacement p;
    p.left = c.left, p.top = c.top, p.right = c.right, p.bottom = c.bottom;
    EXPECT_EQ(PlacementOnScreen(p, 0, 0, 1920, 1080), c.on_screen) << c.left << "," << c.top;
  }
}

TEST(WindowPlacementTest, TenValuesRoundTripAndMissingOnesKeepTheCurrent) {
  testing::TempDir dir;
  testing::ScopedEnvironment env;
  env.Set({{"DOVRANE_HKCU", dir / "user.toml"}});
  WindowPlacement current;
  current.left = 5, current.right = 645, current.top = 6, current.bottom = 406;
  WindowPlacement loaded = LoadWindowPlacement(current);
  EXPECT_EQ(loaded.right, 645);  // nothing stored yet
  WindowPlacement saved{kShowNormal, 2, 3, 4, 5, 6, 70, 870, 80, 680};
  ASSERT_TRUE(SaveWindowPlacement(saved));
  loaded = LoadWindowPlacement(current);
  const int expected[] = {kShowNormal, 2, 3, 4, 5, 6, 70, 870, 80, 680};
  const int got[] = {loaded.show_cmd, loaded.flags, loaded.min_x, loaded.min_y, loaded.max_x,
                     loaded.max_y,    loaded.left,  loaded.right, loaded.top,   loaded.bottom};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(got[i], expected[i]) << i;
  EXPECT_NE(testing::ReadFile(dir / "user.toml").find("DovranePlcmnt"), std::string::npos);
}

}  // namespace
}  // namespace dovrane::ui
