// Keeps the windows alive during long loops. The main window installs the
// function that takes and dispatches every waiting message of the calling
// thread; on the command line none is installed and pumping does nothing.
#pragma once

namespace dovrane::fileops {

using MessagePumpFunction = void (*)();

// Runs every message waiting for the calling thread, returning when none is
// left. Cheap when no pump is installed, so loops may call it per block or entry.
void PumpMessages();

// Installs the pump (null: none); returns the previous one. Set once by the
// user-interface thread before any long operation runs.
MessagePumpFunction SetMessagePump(MessagePumpFunction pump);

}  // namespace dovrane::fileops
