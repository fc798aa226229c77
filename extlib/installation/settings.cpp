#include "extlib/installation/settings.h"

#include <cerrno>

#include <toml++/toml.h>

#include <cstring>
#include <mutex>
#include <sstream>
#include <vector>

#include "extlib/installation/installation.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"
#include "platform/system_names.h"
#include "platform/text_codec.h"

namespace dovrane::extlib {

namespace {

using platform::CurrentEnv;

std::vector<std::string> SplitKey(const std::string& key) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : key) {
    if (c == '\\' || c == '/') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

// A missing file reads as empty settings. A damaged one reads as empty too,
// but returns false, so that no write replaces what a person may still mend.
bool Load(const std::string& root, toml::table* table) {
  std::string text;
  *table = {};
  // Only a missing file is an empty one: a file that cannot be read now must
  // not be rewritten with nothing but the one value being put.
  if (int rc = platform::ReadWholeFile(SettingsFilePath(root), &text); rc != 0) return rc == -ENOENT;
  try {
    *table = toml::parse(text);
    return true;
  } catch (const toml::parse_error&) {
    return false;
  }
}

toml::table Load(const std::string& root) {
  toml::table t;
  Load(root, &t);
  return t;
}

bool Save(const std::string& root, const toml::table& table) {
  std::ostringstream out;
  out << toml::toml_formatter(table) << "\n";  // literal strings, UTF-8 kept
  std::string path = SettingsFilePath(root);
  platform::MakeDirectories(platform::DirName(path));
  return platform::WriteFileAtomic(path, out.str()) == 0;
}

const toml::node* Find(const toml::table& table, const std::string& key) {
  std::vector<std::string> parts = SplitKey(key);
  if (parts.empty()) return nullptr;
  const toml::table* t = &table;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    t = t->get_as<toml::table>(parts[i]);
    if (!t) return nullptr;
  }
  return t->get(parts.back());
}

// The table that holds key's value, created on the way; null for an empty key.
toml::table* Parent(toml::table& table, const std::string& key, std::string* leaf) {
  std::vector<std::string> parts = SplitKey(key);
  if (parts.empty()) return nullptr;
  toml::table* t = &table;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    toml::table* next = t->get_as<toml::table>(parts[i]);
    if (!next) {
      t->insert_or_assign(parts[i], toml::table{});
      next = t->get_as<toml::table>(parts[i]);
    }
    t = next;
  }
  *leaf = parts.back();
  return t;
}

std::string DefaultUserFile() {
  std::string xdg = CurrentEnv()->GetEnv("XDG_CONFIG_HOME");
  if (!xdg.empty()) return xdg + "/dovrane/user.toml";
  return CurrentEnv()->GetEnv("HOME") + "/.config/dovrane/user.toml";
}

int CopyOut(const std::string& value, char* out, size_t size) {
  if (!out || size == 0 || value.size() >= size) return 0;
  std::memcpy(out, value.c_str(), value.size() + 1);
  return 1;
}

}  // namespace

std::string SettingsFilePath(const std::string& root) {
  if (root == "HKLM") {
    std::string p = CurrentEnv()->GetEnv("DOVRANE_HKLM");
    return p.empty() ? "/etc/dovrane/machine.toml" : p;
  }
  std::string p = CurrentEnv()->GetEnv("DOVRANE_HKCU");
  return p.empty() ? DefaultUserFile() : p;
}

bool GetSettingString(const std::string& root, const std::string& key, std::string* value) {
  toml::table t = Load(root);
  const toml::node* n = Find(t, key);
  if (!n) return false;
  if (auto s = n->value<std::string>()) {
    // TOML holds UTF-8; the system keeps Windows-1252.
    if (!platform::Utf8ToCp1252(*s, value)) *value = *s;
    return true;
  }
  if (auto i = n->value<int64_t>()) {
    *value = std::to_string(*i);
    return true;
  }
  return false;
}

bool GetSettingNumber(const std::string& root, const std::string& key, long* value) {
  toml::table t = Load(root);
  const toml::node* n = Find(t, key);
  if (!n) return false;
  if (auto i = n->value<int64_t>()) {
    *value = static_cast<long>(*i);
    return true;
  }
  return false;
}

bool PutSettingString(const std::string& root, const std::string& key, const std::string& value) {
  toml::table t;
  if (!Load(root, &t)) return false;
  std::string leaf;
  toml::table* parent = Parent(t, key, &leaf);
  if (!parent) return false;
  parent->insert_or_assign(leaf, platform::Cp1252ToUtf8(value));
  return Save(root, t);
}

bool PutSettingNumber(const std::string& root, const std::string& key, long value) {
  toml::table t;
  if (!Load(root, &t)) return false;
  std::string leaf;
  toml::table* parent = Parent(t, key, &leaf);
  if (!parent) return false;
  parent->insert_or_assign(leaf, static_cast<int64_t>(value));
  return Save(root, t);
}

bool DeleteSetting(const std::string& root, const std::string& key) {
  toml::table t;
  if (!Load(root, &t)) return false;
  std::string leaf;
  if (!Find(t, key)) return false;
  toml::table* parent = Parent(t, key, &leaf);
  parent->erase(leaf);
  return Save(root, t);
}

bool GetSetupPath(const std::string& tag, std::string* path) {
  std::string a, b;
  if (tag == "Net") {
    if (GetSettingString("HKLM", "InstallRoot\\CheckedOutPath", &a) && !a.empty()) {
      *path = a;
      return true;
    }
    if (!GetSettingString("HKLM", "InstallRoot\\NetDrive", &a)) return false;
    GetSettingString("HKLM", "InstallRoot\\NetPath", &b);
    *path = a + b;
    return true;
  }
  if (tag == "Data") {
    if (!GetSettingString("HKLM", "InstallRoot\\DataDrive", &a)) return false;
    GetSettingString("HKLM", "InstallRoot\\DataPath", &b);
    *path = a + b;
    return true;
  }
  if (tag == "Program") return GetSettingString("HKLM", "InstallRoot\\ProgramPath", path);
  return false;
}

int RVSYS_VekRegGetSetupPath(const char* tag, char* out, size_t size) {
  std::string p;
  return GetSetupPath(tag ? tag : "", &p) ? CopyOut(p, out, size) : 0;
}

int RVSYS_VekRegGetString(const char* root, const char* key, char* out, size_t size) {
  std::string v;
  return GetSettingString(root, key, &v) ? CopyOut(v, out, size) : 0;
}

int RVSYS_VekRegGetNumber(const char* root, const char* key, unsigned long* value) {
  long v;
  if (!GetSettingNumber(root, key, &v)) return 0;
  *value = static_cast<unsigned long>(v);
  return 1;
}

int RVSYS_VekRegPutString(const char* root, const char* key, const char* value) {
  return PutSettingString(root, key, value) ? 1 : 0;
}

int RVSYS_VekRegPutNumber(const char* root, const char* key, unsigned long value) {
  return PutSettingNumber(root, key, static_cast<long>(value)) ? 1 : 0;
}

int RVSYS_VekRegDelValue(const char* root, const char* key) { return DeleteSetting(root, key) ? 1 : 0; }

bool GetFolderByTag(const std::string& tag, std::string* folder) {
  return tag == "HLP" && GetSettingString("HKLM", "InstallRoot\\HelpPath", folder) && !folder->empty();
}

namespace {
// The text RVSYS_GetPelomarFolderByTag hands out, one per installation.
struct FolderByTag {
  std::mutex mutex;
  std::string text;
};
}  // namespace

const char* RVSYS_GetPelomarFolderByTag(const char* tag) {
  std::string folder;
  if (!tag || !GetFolderByTag(tag, &folder)) return nullptr;
  FolderByTag& kept = ProcessInstallation().Part<FolderByTag>();
  std::lock_guard<std::mutex> guard(kept.mutex);
  kept.text = std::move(folder);
  return kept.text.c_str();
}

const char* RVSYS_GetResRegBaseStr() { return "Software\\Varnholtek\\Dovranix"; }

std::string GetProfileString(const std::string& section, const std::string& entry, const std::string& fallback) {
  std::string v;
  return GetSettingString("HKCU", "Profile\\" + section + "\\" + entry, &v) ? v : fallback;
}

bool WriteProfileString(const std::string& section, const std::string& entry, const std::string& value) {
  return PutSettingString("HKCU", "Profile\\" + section + "\\" + entry, value);
}

long GetProfileInt(const std::string& section, const std::string& entry, long fallback) {
  long v;
  return GetSettingNumber("HKCU", "Profile\\" + section + "\\" + entry, &v) ? v : fallback;
}

bool WriteProfileInt(const std::string& section, const std::string& entry, long value) {
  return PutSettingNumber("HKCU", "Profile\\" + section + "\\" + entry, value);
}

void ApplyPlatformSettings(platform::PathMap& map) {
  toml::table t = Load("HKLM");
  if (const toml::table* drives = t.get_as<toml::table>("Drives")) {
    for (const auto& [k, v] : *drives) {
      auto folder = v.value<std::string>();
      if (k.str().size() >= 1 && folder) map.SetDriveFolder(k.str()[0], *folder);
    }
  }
  if (const toml::table* plat = t.get_as<toml::table>("Platform")) {
    if (CurrentEnv()->GetEnv("DOVRANE_UNC_ROOT").empty())
      if (auto root = (*plat)["UncRoot"].value<std::string>()) map.SetUncRoot(*root);
    if (auto domain = (*plat)["Domain"].value<std::string>()) platform::SetConfiguredDomain(*domain);
  }
}

}  // namespace dovrane::extlib
