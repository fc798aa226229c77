#include "platform/cpu_features.h"

#include <gtest/gtest.h>

namespace {

#if defined(__x86_64__)
// The C library's findings against the compiler's own test, which asks the
// processor (cpuid, and the system's saved registers) itself.
TEST(CpuFeaturesTest, Avx2AsTheProcessorAndSystemSay) {
  __builtin_cpu_init();
  EXPECT_EQ(dovrane_avx2_usable(), __builtin_cpu_supports("avx2") != 0);
}
#else
TEST(CpuFeaturesTest, NoAvx2OffX86) { EXPECT_FALSE(dovrane_avx2_usable()); }
#endif

}  // namespace
