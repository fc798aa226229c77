#include "extlib/installation/installation.h"

#include <gtest/gtest.h>

#include <thread>

#include "extlib/installation/general.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"

namespace dovrane::extlib {
namespace {

TEST(InstallationTest, EachInstallationHasItsOwnSlotsAndTrace) {
  ScopedInstallation first;
  lfinipC(DefaultContext(), kSlotNet, "\\\\A\\cad\\Net");
  setFileAccessTrace(1);
  {
    ScopedInstallation second;
    EXPECT_EQ(lfinigC(DefaultContext(), kSlotNet), "");
    EXPECT_EQ(getFileAccessTrace(), 0);
    lfinipC(DefaultContext(), kSlotNet, "\\\\B\\cad\\Net\\");
  }
  EXPECT_EQ(lfinigC(DefaultContext(), kSlotNet), "\\\\A\\cad\\Net\\");
  EXPECT_EQ(getFileAccessTrace(), 1);
}

TEST(InstallationTest, PartsAreMadeOncePerInstallation) {
  Installation a, b;
  a.Part<std::string>() = "kept";
  EXPECT_EQ(a.Part<std::string>(), "kept");
  EXPECT_EQ(b.Part<std::string>(), "");
  EXPECT_EQ(a.Part<int>(), 0);  // another type is another part
}

TEST(InstallationTest, SlotsAreReadWhileAnotherThreadSetsThem) {
  Installation one;
  const std::string path = "\\\\SRV1\\cad\\Prj\\n0000012.prj\\";
  std::thread writer([&] {
    for (int i = 0; i < 500; ++i) one.SetSlot(kSlotProjectData, i % 2 ? path : "");
  });
  for (int i = 0; i < 500; ++i) {
    const std::string seen = one.Slot(kSlotProjectData);
    ASSERT_TRUE(seen.empty() || seen == path) << seen;
  }
  writer.join();
}

}  // namespace
}  // namespace dovrane::extlib
