// Test surroundings for the UI text table and the language files: a private
// user settings file that chooses the language, and the resource folder.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "extlib/installation/language.h"
#include "services/ui_text_table.h"

namespace dovrane::services::testing {

inline constexpr long kEnglish = 1033;
inline constexpr long kGerman = 1031;

class UiTextEnv {
 public:
  UiTextEnv() {
    static int serial = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("dovrane_uitext_" + std::to_string(::getpid()) + "_" + std::to_string(++serial));
    std::filesystem::create_directories(dir_);
    for (const char* name : {"DOVRANE_HKCU", "DOVRANE_HKLM", "DOVRANE_RES_DIR"}) {
      const char* v = std::getenv(name);
      if (v) saved_[name] = v;
    }
    ::setenv("DOVRANE_HKCU", (dir_ / "user.toml").c_str(), 1);
    ::setenv("DOVRANE_HKLM", (dir_ / "machine.toml").c_str(), 1);
    UseResources(DOVRANE_SOURCE_RES_DIR);
    UseLanguage(kEnglish);
  }
  ~UiTextEnv() {
    for (const char* name : {"DOVRANE_HKCU", "DOVRANE_HKLM", "DOVRANE_RES_DIR"}) {
      auto it = saved_.find(name);
      if (it != saved_.end())
        ::setenv(name, it->second.c_str(), 1);
      else
        ::unsetenv(name);
    }
    extlib::ReloadLanguage();
    ResetUiTextCache();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Chooses the language through the user settings, as an installation does;
  // the UI text table keeps its cache (tests reset it when they need to).
  void UseLanguage(long lcid) {
    std::ofstream(dir_ / "user.toml") << "[Settings]\nInstalledLanguageLCID = " << lcid << "\n";
    extlib::ReloadLanguage();
  }
  void UseResources(const std::string& folder) {
    ::setenv("DOVRANE_RES_DIR", folder.c_str(), 1);
    extlib::ReloadLanguage();
  }
  // A resource folder of its own whose english.lng holds `lines`.
  std::string MakeResources(const std::string& lines) {
    std::filesystem::create_directories(dir_ / "res" / "lang");
    std::ofstream(dir_ / "res" / "lang" / "english.lng") << lines;
    return (dir_ / "res").string();
  }

 private:
  std::filesystem::path dir_;
  std::map<std::string, std::string> saved_;
};

}  // namespace dovrane::services::testing
