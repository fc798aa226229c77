// The native path of a copy target. As everywhere, a name that does not exist
// with its exact spelling takes the spelling of an existing name that differs
// only in letter case (as on an SMB share). Finding that needs the folder's
// names; copying many new files into one folder would list it once per file,
// so the names of the last folder are kept while its write time shows that
// nothing but this process's own creations changed it.
#pragma once

#include <string>

#include "extlib/installation/installation.h"
#include "platform/env.h"

namespace dovrane::fileops {

// Native path of target (Windows form or native) through the installation's
// path map; the kept names are the installation's.
std::string NativeTargetPath(extlib::Installation& installation, const std::string& target);

// The target's folder as a caller has just looked at it: its native path
// (ParentPath(target) mapped) and its status, followed.
struct KnownFolder {
  std::string native;
  platform::FileInfo info;
};
// What the lookup learnt of the path it returned (not followed), so a copy
// need not look at it again.
struct TargetState {
  enum class Known { kUnknown, kAbsent, kPresent } known = Known::kUnknown;
  platform::FileInfo info;  // kPresent: its status
};
// The same; folder (may be null): the target's folder, not looked at again.
std::string NativeTargetPath(extlib::Installation& installation, const std::string& target, const KnownFolder* folder,
                             TargetState* state);

// Tells the installation's kept names that native was just created by this process.
void NoteTargetCreated(extlib::Installation& installation, const std::string& native);

}  // namespace dovrane::fileops
