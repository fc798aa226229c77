// Linked into every test program that runs the window in its own process.
#if defined(__SANITIZE_THREAD__)
// Qt is not built with ThreadSanitizer: queued calls and thread-pool tasks
// hand their objects from one thread to another through Qt's own queues,
// which it cannot see. Reports with a Qt frame are left out here only; the
// core's threads are tested without Qt in the other test program.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libQt6Core.so\n"
         "race:libQt6Gui.so\n"
         "race:libQt6Widgets.so\n"
         "race:libQt6Test.so\n"
         "race:libglib-2.0.so\n"
         "race:libdbus-1.so\n";
}
#endif
