// The file copy engine: copies one file onto removable or nearly full media.
// It creates the target's missing folders, skips an up-to-date target, asks
// before overwriting an older one or clearing a read-only flag, copies in
// blocks of 131072 bytes, stops when the person cancels, splits the file into
// "_1", "_2", ... pieces across media when the disk runs full, and gives the
// copy (every piece) the source's times. Paths are Windows-style (or native);
// the messages name them as given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/env.h"

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::fileops {

inline constexpr size_t kCopyBlockSize = 131072;
// The error number a short copy reports (the byte total differs from the
// source size): what its message and its callers' messages name.
inline constexpr int kCopyShortfallError = 666666;

// What one copy came to.
struct CopyResult {
  enum class Outcome {
    kCopied,     // written whole (in numbered pieces where media ran full)
    kUpToDate,   // the target was up to date, or the source itself, and was left
    kDeclined,   // the person declined to overwrite or to clear a read-only flag
    kFailed,     // a call failed, shown in a message box; `error` is its errno
    kShortfall,  // the byte total differs from the source size (shown); the unfinished piece went
    kCancelled,  // the person stopped it: no message, the unfinished piece went
  };
  Outcome outcome = Outcome::kFailed;
  // Written into the target and all its pieces; the source size when up to date.
  int64_t bytes = 0;
  // The failing call's errno (kFailed); for a shortfall the read's, or 0.
  int error = 0;
  // The target was not there and this copy made the file that is now under
  // its name (whatever the outcome): what a caller that rolls back removes.
  bool made = false;

  // Copied, up to date or declined: nothing failed.
  bool ok() const { return outcome <= Outcome::kDeclined; }
  // 0, or the failure as a negative error number: -ECANCELED, -kCopyShortfallError.
  int Code() const;
};

// Copies source to target (Windows-style or native paths). `window` would own
// the boxes; the context's messenger shows them and answers the questions,
// and its overwrite-all flag is asked and set. The context's cancel is polled
// after every block; the caller of a cancelled copy rolls back and reports
// kPrjInterrupted.
[[nodiscard]] CopyResult CopyFileWithSplit(extlib::OperationContext& ctx, void* window, const std::string& source,
                                           const std::string& target);

// Creates every missing folder of dir's chain, never the server and share of a
// network path (nor a drive). A failure is shown as
// "CreateDirectory(%s) failed !\n\n%s" with the failing prefix; 0 or -errno.
[[nodiscard]] int CreateDirectoryChain(extlib::OperationContext& ctx, const std::string& dir);

// The up-to-date test. The target is up to date when it has the source's size
// and neither the source's creation time nor its write time is later than the
// target's, both compared at the target file system's time resolution
// (resolution_ns; a target time without a sub-second part counts as kept in
// whole seconds), since the copy's time is the source's cut to what that file
// system keeps (FAT: 2 s).
bool TargetIsUpToDate(const platform::FileInfo& source, const platform::FileInfo& target,
                      int64_t resolution_ns);

}  // namespace dovrane::fileops
