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
// errno after a copy whose byte total differs from the source size.
inline constexpr int kCopyShortfallError = 666666;

// Returns the bytes written (into all pieces), the source size when the target
// was up to date, 0 when the user declined to overwrite or to clear a
// read-only flag, -1 after a failure, which was shown in a message box and
// left its reason in errno (kCopyShortfallError for a byte-count mismatch).
// `window` would own the boxes; the context's messenger shows them and answers
// the questions, and its overwrite-all flag is asked and set. The context's
// cancel is polled after every block: a cancelled copy deletes the unfinished
// piece (pieces closed on other media stay) and returns -1 with ECANCELED and
// no message; the caller rolls back and reports kPrjInterrupted.
[[nodiscard]] int64_t CopyFileWithSplit(extlib::OperationContext& ctx, void* window, const std::string& source,
                          const std::string& target);
// The same in the context bound to this thread (the process default).
[[nodiscard]] int64_t CopyFileWithSplit(void* window, const std::string& source, const std::string& target);

// The overwrite-all flag of the context bound to this thread: while set,
// older targets are replaced without asking. Host check-out clears it at its
// start; the engine sets it when the user agrees to overwrite all further files.
void SetOverwriteAll(bool on);
bool OverwriteAll();

// Creates every missing folder of dir's chain, never the server and share of a
// network path (nor a drive). A failure is shown as
// "CreateDirectory(%s) failed !\n\n%s" with the failing prefix; 0 or -errno.
[[nodiscard]] int CreateDirectoryChain(const std::string& dir);

// The up-to-date test. The target is up to date when it has the source's size
// and neither the source's creation time nor its write time is later than the
// target's, both compared at the target file system's time resolution
// (resolution_ns; a target time without a sub-second part counts as kept in
// whole seconds), since the copy's time is the source's cut to what that file
// system keeps (FAT: 2 s).
bool TargetIsUpToDate(const platform::FileInfo& source, const platform::FileInfo& target,
                      int64_t resolution_ns);

}  // namespace dovrane::fileops
