// A small network installation for the trees' tests: SRV1 (the
// administration host) and SRV2, this computer named SRV2, and projects of
// every kind the trees tell apart.
#pragma once

#include <fcntl.h>

#include <memory>

#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/prj_record.h"
#include "platform/env.h"
#include "support/scoped_environment.h"
#include "support/small_installation.h"
#include "tree/host_table.h"

namespace dovrane::tree {

class TreeFixture {
 public:
  TreeFixture() {
    env_.Set({{"DOVRANE_COMPUTERNAME", "SRV2"}});
    using testing::SmallInstallation;
    // Project 1 free, 2 out alone, 3 out with its host, 4 with a held lock
    // file, 5 without a folder (unreachable), 6 on a host only the
    // administration names.
    std::vector<extlib::PRJ> records = {SmallInstallation::Record("Alpha", 1, "SRV2"),
                                        SmallInstallation::Record("Beta one", 2, "SRV2"),
                                        SmallInstallation::Record("Gamma", 3, "SRV1"),
                                        SmallInstallation::Record("Delta", 4, "SRV1"),
                                        SmallInstallation::Record("Epsilon", 5, "SRV2"),
                                        SmallInstallation::Record("Zeta", 6, "SRV3")};
    records[1].status = extlib::StatusCharacter(extlib::kStatusProjectOut);
    records[2].status = extlib::StatusCharacter(extlib::kStatusHostOut);
    extlib::SetMemberBit(&records[0], 2, true);
    extlib::SetMemberBit(&records[0], 3, true);
    small.WriteAdministration(records, 6);
    for (auto [host, number] : {std::pair{"SRV2", 1u}, {"SRV2", 2u}, {"SRV1", 3u}, {"SRV1", 4u}}) {
      small.MakeProjectFolder(host, number);
    }
  }
  ~TreeFixture() {
    if (lock_fd_ >= 0) platform::CurrentEnv()->Close(lock_fd_);
  }
  // Another holder of project 4's lock file (a lock of its own open file description).
  void HoldLockFile() {
    small.dir.Write("SRV1/cad/Prj/n0000004.prj/project.lck", "session");
    lock_fd_ = platform::CurrentEnv()->Open(small.Native("SRV1/cad/Prj/n0000004.prj/project.lck"), O_RDWR);
    platform::CurrentEnv()->Lock(lock_fd_, 0, 0, platform::LockMode::kExclusive, 0);
  }
  std::unique_ptr<HostTable> Build(std::set<uint32_t> unreachable = {}) {
    FillInput input;
    if (ReadFillInput(extlib::DefaultContext(), &input) != 0) return nullptr;
    input.unreachable = std::move(unreachable);
    return BuildHostTable(input);
  }

  testing::ScopedEnvironment env_;
  testing::SmallInstallation small;

 private:
  int lock_fd_ = -1;
};

}  // namespace dovrane::tree
