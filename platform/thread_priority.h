// Background work that must not take the processor from the window: the
// host ping runs below the normal priority, as a Windows thread would with
// THREAD_PRIORITY_BELOW_NORMAL.
#pragma once

namespace dovrane::platform {

// How far below normal "below normal" is, in nice steps.
inline constexpr int kBelowNormalNice = 5;

// Lowers the calling thread's priority by kBelowNormalNice (Linux keeps the
// nice value per thread; threads it starts afterwards inherit it). 0 or -errno.
int LowerThisThreadPriority();
// The calling thread's nice value.
int ThisThreadNice();

}  // namespace dovrane::platform
