// What the processor offers, for code that picks its way at run time.
#pragma once

extern "C" {
// True when AVX2 may be used: the processor has it and the system saves its
// registers. Where the C library found it out at its start, the processor
// is not asked again (cpu_features.c).
bool dovrane_avx2_usable(void);
}
