// The settings library: the machine (HKLM) and user (HKCU) settings, kept in
// two TOML files. A key "InstallRoot\NetDrive" is the value NetDrive of the
// table [InstallRoot]. Writes replace the file atomically. The functions with
// the RVSYS_ names return non-zero in their low byte on success.
#pragma once

#include <cstddef>
#include <string>

#include "platform/path_map.h"

namespace dovrane::extlib {

// Paths of the two files: DOVRANE_HKLM / DOVRANE_HKCU, else the defaults
// /etc/dovrane/machine.toml and ~/.config/dovrane/user.toml.
std::string SettingsFilePath(const std::string& root);

bool GetSettingString(const std::string& root, const std::string& key, std::string* value);
bool GetSettingNumber(const std::string& root, const std::string& key, long* value);
bool PutSettingString(const std::string& root, const std::string& key, const std::string& value);
bool PutSettingNumber(const std::string& root, const std::string& key, long value);
bool DeleteSetting(const std::string& root, const std::string& key);

// "Net": HKLM InstallRoot\CheckedOutPath while it is set, else InstallRoot\NetDrive
// followed by InstallRoot\NetPath. "Data": InstallRoot\DataDrive + InstallRoot\DataPath.
// "Program": InstallRoot\ProgramPath. Windows form, no trailing backslash added.
bool GetSetupPath(const std::string& tag, std::string* path);

[[nodiscard]] int RVSYS_VekRegGetSetupPath(const char* tag, char* out, size_t size = 260);
[[nodiscard]] int RVSYS_VekRegGetString(const char* root, const char* key, char* out, size_t size);
[[nodiscard]] int RVSYS_VekRegGetNumber(const char* root, const char* key, unsigned long* value);
[[nodiscard]] int RVSYS_VekRegPutString(const char* root, const char* key, const char* value);
[[nodiscard]] int RVSYS_VekRegPutNumber(const char* root, const char* key, unsigned long value);
[[nodiscard]] int RVSYS_VekRegDelValue(const char* root, const char* key);
// The help folder for "HLP" (HKLM InstallRoot\HelpPath): false for another
// tag or when none is set.
bool GetFolderByTag(const std::string& tag, std::string* folder);
// The same as a text valid until the next call on this installation, else null.
const char* RVSYS_GetPelomarFolderByTag(const char* tag);
const char* RVSYS_GetResRegBaseStr();

// The application profile: a table [Profile.<section>] in the user file.
std::string GetProfileString(const std::string& section, const std::string& entry, const std::string& fallback);
bool WriteProfileString(const std::string& section, const std::string& entry, const std::string& value);
[[nodiscard]] long GetProfileInt(const std::string& section, const std::string& entry, long fallback);
bool WriteProfileInt(const std::string& section, const std::string& entry, long value);

// Hands the path map and the platform what the machine settings say about
// them: drive letters ([Drives] X = '/folder'), the UNC root ([Platform]
// UncRoot, unless DOVRANE_UNC_ROOT is set) and the domain ([Platform] Domain).
void ApplyPlatformSettings(platform::PathMap& map);

}  // namespace dovrane::extlib
