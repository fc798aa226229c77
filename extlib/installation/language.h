// The language library: texts by text number and line in the installed
// language, and the character set conversions of names and records.
#pragma once

#include <string>
#include <vector>

namespace dovrane::extlib {

// Copies the text (number, line) of the installed language into out (at most
// max_len - 1 bytes and a zero) and its length into *length. Arguments are a
// blank followed by values each ended by the character 0x1E; they replace the
// placeholders %1 to %9 of the text in order. Returns 0 when the text was
// found; otherwise writes "<text N,L>" and returns -1.
int ll_getTextZeile(long text_number, int line, int max_len, const char* arguments, char* out,
                    int* length);
std::string LanguageText(long text_number, int line, const std::string& arguments = "");
// The arguments of a text as the language library takes them: a blank, then
// every value ended by 0x1E. Values may hold any other character ('#' too).
std::string LanguageArguments(const std::vector<std::string>& values);
// The text with values in place of %1, %2, ... (a name of its own: a braced
// list of one value would otherwise pick the arguments-string form above).
std::string LanguageTextWith(long text_number, int line, const std::vector<std::string>& values);
// Values put into a text of the caller's own, by the same rules.
std::string FillPlaceholders(const std::string& text, const std::vector<std::string>& values);

// Text numbers of the program's own texts (docs/language.md): the main
// window's Help menu, the network browser's notes, the window's own messages,
// the reasons the network could not be listed.
inline constexpr long kHelpMenuTexts = 2509000;
inline constexpr long kBrowseNoteTexts = 2509001;
inline constexpr long kWindowMessageTexts = 2509002;
inline constexpr long kNetErrorTexts = 2509003;
// The lines of the check-in report as the window shows them; the messages of
// the repairs and of the administration; those of check-out, check-in, host
// registration and file copies.
inline constexpr long kCheckinReportTexts = 2509004;
inline constexpr long kRepairTexts = 2509005;
inline constexpr long kCheckoutTexts = 2509006;
// The messages of moving, renaming and erasing projects and of a host that
// cannot be reached.
inline constexpr long kProjectCommandTexts = 2509007;

// Windows language identifiers of the two languages the program speaks.
inline constexpr long kLanguageEnglish = 1033;
inline constexpr long kLanguageGerman = 1031;
// The language in use: Settings\InstalledLanguageLCID of the user settings,
// else of the machine settings; without either, the user's locale (LC_ALL,
// LC_MESSAGES, LANG, with LANGUAGE's preferences): German for a German
// locale, English for every other one.
[[nodiscard]] long InstalledLanguageId();
// The locale names German (the environment as above).
bool LocaleIsGerman();
// Non-zero: English; zero: German, for an identifier of the primary
// language 0x07 (de-DE, de-CH, de-AT, ...).
[[nodiscard]] int ll_get_language();
// Tests and the settings dialog switch the language of the running process.
void ReloadLanguage();

// Names typed by the user reach the system already in Windows-1252 (the
// command line and the widgets convert at the edge), so this copies them.
void AsciiTextToIso(const char* in, char* out);
// DOS text (code page 850) of old administrations to Windows-1252, in place.
void AsciiText2IsoInPlace(char* text);
// 1: the conversion table is ready.
[[nodiscard]] int sys_init_key_tab();

// A language text of at most 80 characters, for building messages.
class TextLine {
 public:
  TextLine(long text_number, int line);
  const std::string& str() const { return text_; }
  TextLine& operator+=(const std::string& more) {
    text_ += more;
    return *this;
  }
  friend std::string operator+(const TextLine& a, const std::string& b) { return a.text_ + b; }

 private:
  std::string text_;
};

// The folder of the program's resources: DOVRANE_RES_DIR, else res/ beside
// the program, else the source tree's res/.
std::string ResourceFolder();

}  // namespace dovrane::extlib
