#include "extlib/installation/operation_context.h"

#include <cstdarg>
#include <cstdio>

#include "extlib/installation/installation.h"

namespace dovrane::extlib {

Installation& OperationContext::installation() const {
  return installation_ ? *installation_ : ProcessInstallation();
}

std::string OperationContext::Native(const std::string& path) const { return installation().Paths().ToNative(path); }
std::string OperationContext::Windows(const std::string& path) const { return installation().Paths().ToWindows(path); }

platform::Env& OperationContext::Env() const { return installation().Env(); }

platform::Messenger& OperationContext::Messenger() const {
  return messenger_ ? *messenger_ : *platform::CurrentMessenger();
}

void OperationContext::Title(const std::string& title) {
  if (progress_ && lines_) progress_->Title(title);
}

void OperationContext::Print(const char* format, ...) {
  if (!progress_ || !lines_) return;
  char text[1024];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  if (n >= 0) progress_->Line(text);
}

bool OperationContext::Cancelled() {
  if (cancel_.load()) return true;
  if (progress_ && progress_->CancelRequested()) cancel_.store(true);
  return cancel_.load();
}

OperationContext& DefaultContext() {
  static OperationContext context;
  return context;
}

}  // namespace dovrane::extlib
