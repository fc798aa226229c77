#include "extlib/installation/language.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "extlib/projects/project_code.h"
#include "extlib/installation/settings.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/text_codec.h"

namespace dovrane::extlib {

namespace {

using TextMap = std::unordered_map<uint64_t, std::string>;

uint64_t Key(long number, int line) { return (static_cast<uint64_t>(number) << 16) | static_cast<uint16_t>(line); }

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      char c = s[++i];
      out.push_back(c == 'n' ? '\n' : c == 't' ? '\t' : c);
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// Lines "2500400.1 = text"; '#' starts a comment line. UTF-8 on disk.
TextMap LoadFile(const std::string& path) {
  TextMap map;
  std::string contents;
  if (platform::ReadWholeFile(path, &contents) != 0) return map;
  size_t pos = 0;
  while (pos < contents.size()) {
    size_t end = contents.find('\n', pos);
    if (end == std::string::npos) end = contents.size();
    std::string line = contents.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    long number = 0;
    int text_line = 0, consumed = 0;
    if (std::sscanf(line.c_str(), "%ld.%d = %n", &number, &text_line, &consumed) < 2 || consumed == 0) continue;
    std::string text;
    std::string raw = Unescape(line.substr(static_cast<size_t>(consumed)));
    if (!platform::Utf8ToCp1252(raw, &text)) text = raw;
    map[Key(number, text_line)] = text;
  }
  return map;
}

// Loaded by the first thread that needs a text; the workers and the window's
// thread ask at once. A reader keeps the table it got while a reload drops it.
std::mutex g_texts_mutex;
std::shared_ptr<const TextMap> g_texts;

std::shared_ptr<const TextMap> Texts() {
  std::lock_guard<std::mutex> guard(g_texts_mutex);
  if (!g_texts) {
    const char* file = ll_get_language() ? "english.lng" : "german.lng";
    g_texts = std::make_shared<const TextMap>(LoadFile(ResourceFolder() + "/lang/" + file));
  }
  return g_texts;
}

std::string Substitute(const std::string& text, const char* arguments) {
  std::vector<std::string> values;
  if (arguments && *arguments) {
    const char* p = arguments;
    if (*p == ' ') ++p;
    std::string cur;
    for (; *p; ++p) {
      if (*p == '\x1E') {
        values.push_back(cur);
        cur.clear();
      } else {
        cur.push_back(*p);
      }
    }
    if (!cur.empty()) values.push_back(cur);
  }
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
      size_t index = static_cast<size_t>(text[i + 1] - '1');
      if (index < values.size()) out += values[index];
      ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace

std::string ResourceFolder() {
  std::string dir = platform::CurrentEnv()->GetEnv("DOVRANE_RES_DIR");
  if (!dir.empty()) return dir;
  char exe[4096];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    exe[n] = 0;
    std::string beside = platform::DirName(exe) + "/res";
    platform::FileInfo info;
    if (platform::CurrentEnv()->Stat(beside + "/lang", &info) == 0) return beside;
    // An installed program: /usr/bin/dovrane with /usr/share/dovrane/res.
    const std::string installed = platform::DirName(platform::DirName(exe)) + "/share/dovrane/res";
    if (platform::CurrentEnv()->Stat(installed + "/lang", &info) == 0) return installed;
  }
  return DOVRANE_SOURCE_RES_DIR;
}

namespace {

// A locale name ("de", "de_DE.UTF-8", "de_AT@euro") names German.
bool NamesGerman(const std::string& locale) {
  return locale.rfind("de", 0) == 0 &&
         (locale.size() == 2 || locale[2] == '_' || locale[2] == '.' || locale[2] == '@');
}

}  // namespace

bool LocaleIsGerman() {
  platform::Env* env = platform::CurrentEnv();
  // The messages' locale as the C library and gettext find it.
  std::string locale;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    locale = env->GetEnv(name);
    if (!locale.empty()) break;
  }
  if (locale.empty() || locale == "C" || locale == "POSIX") return false;
  // LANGUAGE, a list of preferences ("de:en"), overrides the locale's
  // language except in the C locale; its first German or English entry wins.
  const std::string preferences = env->GetEnv("LANGUAGE");
  size_t start = 0;
  while (start < preferences.size()) {
    size_t end = preferences.find(':', start);
    if (end == std::string::npos) end = preferences.size();
    const std::string entry = preferences.substr(start, end - start);
    if (NamesGerman(entry)) return true;
    if (entry.rfind("en", 0) == 0) return false;
    start = end + 1;
  }
  return NamesGerman(locale);
}

long InstalledLanguageId() {
  long lcid = 0;
  if (GetSettingNumber("HKCU", "Settings\\InstalledLanguageLCID", &lcid)) return lcid;
  if (GetSettingNumber("HKLM", "Settings\\InstalledLanguageLCID", &lcid)) return lcid;
  return LocaleIsGerman() ? kLanguageGerman : kLanguageEnglish;
}

int ll_get_language() { return (InstalledLanguageId() & 0x3FF) == 0x07 ? 0 : 1; }

void ReloadLanguage() {
  std::lock_guard<std::mutex> guard(g_texts_mutex);
  g_texts.reset();
}

std::string LanguageText(long text_number, int line, const std::string& arguments) {
  const std::shared_ptr<const TextMap> table = Texts();
  const TextMap& texts = *table;
  auto it = texts.find(Key(text_number, line));
  if (it == texts.end()) return "<text " + std::to_string(text_number) + "," + std::to_string(line) + ">";
  return Substitute(it->second, arguments.c_str());
}

std::string LanguageArguments(const std::vector<std::string>& values) {
  std::string arguments = " ";
  for (const std::string& value : values) arguments += value + "\x1E";
  return arguments;
}

std::string LanguageTextWith(long text_number, int line, const std::vector<std::string>& values) {
  return LanguageText(text_number, line, LanguageArguments(values));
}

std::string FillPlaceholders(const std::string& text, const std::vector<std::string>& values) {
  return Substitute(text, LanguageArguments(values).c_str());
}

int ll_getTextZeile(long text_number, int line, int max_len, const char* arguments, char* out, int* length) {
  const bool found = Texts()->count(Key(text_number, line)) != 0;
  std::string text = LanguageText(text_number, line, arguments ? arguments : "");
  if (max_len <= 0) {
    if (length) *length = 0;
    return kPrjFailed;
  }
  size_t n = std::min(text.size(), static_cast<size_t>(max_len - 1));
  std::memcpy(out, text.data(), n);
  out[n] = 0;
  if (length) *length = static_cast<int>(n);
  return found ? 0 : kPrjFailed;
}

void AsciiTextToIso(const char* in, char* out) {
  if (in != out) std::memmove(out, in, std::strlen(in) + 1);
}

void AsciiText2IsoInPlace(char* text) {
  std::string converted = platform::Cp850ToCp1252(text);
  std::memcpy(text, converted.data(), converted.size());
}

int sys_init_key_tab() { return 1; }

TextLine::TextLine(long text_number, int line) : text_(LanguageText(text_number, line)) {
  if (text_.size() > 80) text_.resize(80);
}

}  // namespace dovrane::extlib
