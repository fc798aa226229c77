// The signals that ask a program to end: SIGTERM (kill, a session logging
// out, a service manager), SIGHUP (its terminal gone) and SIGINT (Ctrl+C in
// the terminal that started it). A program with a window ends as by its
// close button instead of being cut off where it stands.
#pragma once

namespace dovrane::platform {

// From now on those signals no longer end the process: each writes a byte to
// a pipe whose reading end is returned (non-blocking, close-on-exec), for an
// event loop to watch. Once per process; a second call returns the same end.
// -1 when the pipe or a handler could not be made (the signals keep their
// default then).
int WatchTerminationSignals();

// Reads what has arrived on that end; returns how many signals it read.
int TakeTerminationSignals(int fd);

// Gives the signals their default back: once the window is asked to close, a
// second request ends the process where it stands, as it would without a
// window (a close that cannot finish must not make the process unkillable
// but by SIGKILL).
void EndOnNextTerminationSignal();

}  // namespace dovrane::platform
