// Which folder a link file of a host's project folder may name. A repair
// only registers such a link; it never renames, moves or writes into the
// folder the link names, and it takes the link only when that folder is a
// project folder of its own: not the network folder or anything around it,
// not a host's project folder, not the folder of an entry that a host's
// project folder holds itself, and not what another link record names.
#pragma once

#include <string>

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::admin {

class ProjectIndex;

enum class LinkTarget {
  kProject,     // a project folder of its own: the link may be registered
  kNotProject,  // the link names something else
  kDuplicate,   // the folder is another project's (registered at most once)
};

// link: the link file; target: the folder it resolves to (both Windows form).
// Warns about every answer but kProject.
LinkTarget CheckLinkTarget(extlib::OperationContext& ctx, const std::string& link, const std::string& target,
                           const ProjectIndex& index);

}  // namespace dovrane::admin
