// The longest gap between the window's event-loop turns that the tests
// allow. ThreadSanitizer makes every step of the window's own work several
// times slower; there the bound still catches the window thread waiting
// for a hanging disk (the tests hold it half a second or longer).
#pragma once

namespace dovrane::testing {

#if defined(__SANITIZE_THREAD__)
inline constexpr int kStallBoundMs = 400;
#else
inline constexpr int kStallBoundMs = 100;
#endif

}  // namespace dovrane::testing
