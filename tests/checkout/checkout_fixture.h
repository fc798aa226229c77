// A sample installation with a laptop host WS01 (this computer) for the
// check-out tests: the host's check-out list, the dialogs' answers, and a
// snapshot of every file to show that a refused or failed check-out changed
// nothing.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "checkout/checkout.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/project_list.h"
#include "extlib/installation/settings.h"
#include "support/recording_messenger.h"
#include "support/sample_site.h"
#include "support/temp_dir.h"

namespace dovrane::checkout {

// Every file below root: its bytes, read-only files marked with a leading
// "r:"; folders as "<dir>". The date line of the information files is left
// out (two runs a second apart differ there), and so are database files.
inline std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  namespace fs = std::filesystem;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = it->path().string().substr(root.size());
    // The backups and the audit log record what happened; they are not the
    // installation's state.
    if (rel.find("/Net/backup") != std::string::npos || rel.ends_with("/Net/dovrane.log")) continue;
    if (it->is_directory()) {
      files[rel] = "<dir>";
      continue;
    }
    if (rel.ends_with(".db") || rel.ends_with(".db-journal")) continue;
    std::string text = testing::ReadFile(it->path().string());
    if (rel.ends_with(".out")) {
      size_t date = text.find("[Date]\r\n");
      if (date != std::string::npos) text.erase(date + 8, text.find('\r', date + 8) - date - 8);
    }
    const bool read_only = (fs::status(it->path()).permissions() & fs::perms::owner_write) == fs::perms::none;
    files[rel] = (read_only ? "r:" : "") + text;
  }
  return files;
}

// The names whose contents differ between two snapshots, for failure messages.
inline std::string Difference(const std::map<std::string, std::string>& a,
                              const std::map<std::string, std::string>& b) {
  std::string d;
  for (const auto& [name, text] : a)
    if (!b.count(name) || b.at(name) != text) d += (b.count(name) ? "changed " : "added ") + name + "\n";
  for (const auto& [name, text] : b)
    if (!a.count(name)) d += "gone " + name + "\n";
  return d;
}

// A snapshot as a take-back of WS01's check-out cut short leaves it equal to
// the one before: the office-standard files the check-out copied stay (copies
// of the network's), and so do, on this computer only, the settings test
// value and a temporary of the settings file that a kill at that write leaves
// (the next check-out removes the value; nothing reads the temporary).
inline std::map<std::string, std::string> TakenBackView(std::map<std::string, std::string> files) {
  std::erase_if(files, [](const auto& f) {
    return f.first.starts_with("/unc/WS01/cad/STD") || f.first.starts_with("/unc/WS01/cad/HLP") ||
           f.first.starts_with("/hklm.toml.new~");
  });
  if (auto it = files.find("/hklm.toml"); it != files.end()) {
    std::string kept;
    size_t pos = 0;
    while (pos < it->second.size()) {
      size_t end = it->second.find('\n', pos);
      end = end == std::string::npos ? it->second.size() : end + 1;
      const std::string line = it->second.substr(pos, end - pos);
      if (line.find("ChkOut_Test") == std::string::npos) kept += line;
      pos = end;
    }
    it->second = kept;
  }
  return files;
}

class CheckoutFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    site_.Activate();
    extlib::SetProjectListRevalidateMs(0);
    // The settings file in the form the settings library writes it, so that
    // a snapshot compares its values, not the sample tool's key order.
    ASSERT_TRUE(extlib::PutSettingString("HKLM", "InstallRoot\\ChkOut_Test", "-"));
    ASSERT_TRUE(extlib::DeleteSetting("HKLM", "InstallRoot\\ChkOut_Test"));
    for (uint32_t n = 1; n <= kProjects; ++n) {
      extlib::PRJ r;
      if (!site_.Record(n, &r) || std::string(r.host) != "WS01") continue;
      char location[64];
      std::snprintf(location, sizeof location, "\\\\WS01\\cad\\Prj\\n%07u.prj", n);
      std::string name = r.name;
      name.erase(name.find_last_not_of(' ') + 1);
      list_.push_back({list_.empty() ? "WS01" : "", name, location});
      numbers_.push_back(n);
    }
    ASSERT_GE(list_.size(), 2u);
    answers_.comment = "Baustelle\nbis Freitag";
    StdChoice choice = ReadStdChoice();
    choice.checked[static_cast<size_t>(StdComponent::kTextures)] = false;
    StdSizes sizes;
    ASSERT_TRUE(MeasureOfficeStandard(ctx_, "\\\\SRV1\\cad", &sizes));
    answers_.components = FillStdItemTable(sizes, choice);
  }
  std::string Unc(const std::string& rel) const { return site_.root() + "/unc/" + rel; }
  std::map<std::string, std::string> State() const { return Snapshot(site_.root()); }
  // Keeps a copy of the installation as it is now...
  void KeepCopy() {
    std::filesystem::copy(site_.root(), kept_.path() + "/inst", std::filesystem::copy_options::recursive);
  }
  // ...and puts it back, with the library on it afresh, before another run.
  void Restore() {
    extlib::lzende(extlib::DefaultContext());
    std::filesystem::remove_all(site_.root());
    std::filesystem::copy(kept_.path() + "/inst", site_.root(), std::filesystem::copy_options::recursive);
    site_.Activate();
    messenger_.messages.clear();
  }
  unsigned Status(uint32_t number) {
    extlib::PRJ r;
    return site_.Record(number, &r) ? r.status : 0;
  }
  std::string CheckedOutPath() const {
    std::string value;
    return extlib::GetSettingString("HKLM", "InstallRoot\\CheckedOutPath", &value) ? value : "<none>";
  }

  static constexpr uint32_t kProjects = 12;
  testing::SampleSite site_{kProjects, 2, true};
  testing::RecordingMessenger messenger_;
  extlib::OperationContext ctx_{extlib::ProcessInstallation(), &messenger_};
  std::vector<CheckoutEntry> list_;
  std::vector<uint32_t> numbers_;  // of the entries, in list order
  CheckoutAnswers answers_;
  testing::TempDir kept_;
};

// The same installation with the host WS01 checked out, for the check-in.
class CheckedOutFixture : public CheckoutFixture {
 protected:
  void SetUp() override {
    CheckoutFixture::SetUp();
    ASSERT_EQ(CheckOut(ctx_, kCheckoutHost, list_, answers_), 1) << messenger_.All();
    messenger_.messages.clear();
    messenger_.texts.clear();
    messenger_.icons.clear();
  }
  // The names in a folder that end in suffix.
  std::vector<std::string> Files(const std::string& rel, const std::string& suffix) const {
    std::vector<std::string> names;
    for (const auto& f : std::filesystem::directory_iterator(Unc(rel)))
      if (f.path().filename().string().ends_with(suffix)) names.push_back(f.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

}  // namespace dovrane::checkout
