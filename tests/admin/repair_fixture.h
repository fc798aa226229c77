// For the tests of the administration repair: the sample site (hosts
// SRV1..SRVn, projects with their folders) that this process works on, a
// fresh one per MakeInstallation, with the repair's own state dropped at the
// end; and the same installation for runs of the real program.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "admin/host_scan.h"
#include "admin/project_index.h"
#include "admin/record_writes.h"
#include "extlib/records/administration.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/prj_record.h"
#include "extlib/records/project_list.h"
#include "extlib/installation/sample_installation.h"
#include "platform/path_map.h"
#include "services/console.h"
#include "support/recording_messenger.h"
#include "support/run_program.h"
#include "support/sample_site.h"
#include "support/temp_dir.h"

namespace dovrane::admin {

class RepairTest : public ::testing::Test {
 protected:
  // hosts, projects: the sample installation's size.
  void MakeInstallation(int hosts = 3, int projects = 24) {
    site_.reset();  // the former one puts the environment back first
    site_.emplace(projects, hosts);
    env_ = site_->Environment();
    ASSERT_NO_FATAL_FAILURE(site_->Activate());
    extlib::SetRecordLockTimeoutMs(500);
  }
  void TearDown() override {
    extlib::close_prj_info_handle(extlib::kSlotNet);
    extlib::UnCachPrjList(extlib::DefaultContext());
    DropIndex();
    extlib::SetRecordLockTimeoutMs(10000);
    site_.reset();
  }

  std::string root() const { return site_ ? site_->root() : std::string(); }
  // A path below the UNC root, "SRV1/cad/Prj/...".
  std::string Unc(const std::string& relative) const { return root() + "/unc/" + relative; }
  std::string Folder(const std::string& host, uint32_t number) const {
    return Unc(host + "/cad/Prj/" + extlib::NumberText(number) + ".prj");
  }
  std::string Admin() const { return testing::ReadFile(Unc("SRV1/cad/Net/project.dat")); }

  // Another writer's change: the record written whole, under its lock.
  static int WriteWhole(const extlib::PRJ& record, int handle, long slot = 0) {
    return RewriteRecord(extlib::DefaultContext(), record, handle, slot, [&record](extlib::PRJ* now) {
      *now = record;
      return true;
    });
  }

  // The records as the library reads them now.
  std::vector<extlib::PRJ> Records() const {
    extlib::close_prj_info_handle(extlib::kSlotNet);
    extlib::UnCachPrjList(extlib::DefaultContext());
    int count = 0;
    extlib::PRJ* list = nullptr;
    std::vector<extlib::PRJ> out;
    if (extlib::ltbpliC_new(extlib::DefaultContext(), extlib::kSlotNet, &count, &list, 0, nullptr) == 0)
      out.assign(list, list + count);
    extlib::ltbpliC_delete(&list);
    return out;
  }
  const extlib::PRJ* Find(const std::vector<extlib::PRJ>& records, uint32_t number) const {
    for (const extlib::PRJ& r : records)
      if (r.number == number) return &r;
    return nullptr;
  }
  const extlib::PRJ* FindName(const std::vector<extlib::PRJ>& records, const std::string& name) const {
    for (const extlib::PRJ& r : records)
      if (extlib::TrimmedName(r.name) == name) return &r;
    return nullptr;
  }
  // The first record on host.
  extlib::PRJ OnHost(const std::string& host) const {
    for (const extlib::PRJ& r : Records())
      if (host == r.host) return r;
    ADD_FAILURE() << "no project on " << host;
    return {};
  }

  // Runs the real program on the installation.
  // Runs the real program on the installation, in its folder, with env_.
  testing::ProgramResult Run(const std::vector<std::string>& args) const {
    return testing::RunProgram(DOVRANE_BIN, args, env_, root());
  }

  // The slots, the host list and the scan's pending entries are this test's own.
  extlib::ScopedInstallation installation_;
  std::optional<testing::SampleSite> site_;
  testing::RecordingMessenger messages_;
  // An operation with the progress console, and one without progress lines.
  services::ConsoleProgress console_progress_;
  extlib::OperationContext console_{extlib::ProcessInstallation(), nullptr, &console_progress_};
  extlib::OperationContext quiet_{extlib::ProcessInstallation()};
  std::map<std::string, std::string> env_;
};

}  // namespace dovrane::admin
