// Linked into every program of a ThreadSanitizer build. By default such a
// process sleeps a second at its exit, for threads still running to report;
// the crash and fault runs start thousands of processes, which made the
// second most of their time. A twentieth of it is kept.
extern "C" const char* __tsan_default_options() { return "atexit_sleep_ms=50"; }
