#include "fileops/message_pump.h"

namespace dovrane::fileops {

namespace {
MessagePumpFunction g_pump = nullptr;
}  // namespace

void PumpMessages() {
  if (g_pump) g_pump();
}

MessagePumpFunction SetMessagePump(MessagePumpFunction pump) {
  MessagePumpFunction previous = g_pump;
  g_pump = pump;
  return previous;
}

}  // namespace dovrane::fileops
