/* C, not C++: the C library's <sys/platform/x86.h> declares its functions
   with C's _Bool, which only GCC's C++ takes (as an extension). */
#include <stdbool.h>

#if defined(__x86_64__) && __has_include(<sys/platform/x86.h>)
#include <sys/platform/x86.h>
#endif

bool dovrane_avx2_usable(void) {
#if defined(__x86_64__) && defined(CPU_FEATURE_ACTIVE)
  /* What the C library found at its start. libgcc's test
     (__builtin_cpu_supports) asks the processor again (cpuid) in a
     constructor at every start of the program, and cpuid is slow in a
     virtual machine. */
  return CPU_FEATURE_ACTIVE(AVX2);
#elif defined(__x86_64__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}
