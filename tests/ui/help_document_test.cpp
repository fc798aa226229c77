#include "ui/help_document.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "extlib/installation/installation.h"
#include "extlib/installation/language.h"
#include "extlib/installation/operation_context.h"
#include "support/mini_installation.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace dovrane::ui {
namespace {

// F1's document: the pages of the language in use, else of the language's
// main form, else English; the locale decides when no language is set.
class HelpDocumentTest : public ::testing::Test {
 protected:
  HelpDocumentTest() {
    installation_.Activate();
    env_.Set({{"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANGUAGE", ""}, {"LANG", "C.UTF-8"}});
  }
  ~HelpDocumentTest() override { extlib::ReloadLanguage(); }
  std::string Help() const { return installation_.root() + "/help"; }
  // Pages for these languages, and the language setting ("" for none).
  void Install(const std::vector<long>& pages, const std::string& lcid) {
    std::filesystem::remove_all(Help());
    for (long language : pages)
      testing::WriteFile(Help() + "/" + std::to_string(language) + "/" + kHelpDocumentName, "<html></html>");
    testing::WriteFile(installation_.machine_settings(),
                       "[InstallRoot]\nHelpPath = '" + Help() + "'\n" +
                           (lcid.empty() ? "" : "[Settings]\nInstalledLanguageLCID = " + lcid + "\n"));
    extlib::ReloadLanguage();
  }
  std::string Document() {
    std::string path;
    EXPECT_TRUE(HelpDocumentPath(extlib::DefaultContext(), &path));
    return path.substr(Help().size());
  }

  testing::MiniInstallation installation_;
  extlib::ScopedInstallation library_;
  testing::ScopedEnvironment env_;
};

TEST_F(HelpDocumentTest, EachLanguageGetsItsOwnPagesElseEnglish) {
  struct Case {
    std::vector<long> pages;
    std::string lcid, locale, document;
  };
  const Case cases[] = {
      {{1031, 1033}, "1031", "C.UTF-8", "/1031/dovrane.html"},
      {{1031, 1033}, "1033", "de_DE.UTF-8", "/1033/dovrane.html"},  // the setting wins over the locale
      {{1031, 1033}, "3079", "C.UTF-8", "/1031/dovrane.html"},      // de-AT: the German pages
      {{2055, 1031, 1033}, "2055", "C.UTF-8", "/2055/dovrane.html"},  // de-CH has pages of its own
      {{1033}, "1031", "C.UTF-8", "/1033/dovrane.html"},            // German without pages: English
      {{1031, 1033}, "1036", "C.UTF-8", "/1033/dovrane.html"},      // French: English
      {{1031, 1033}, "", "de_DE.UTF-8", "/1031/dovrane.html"},      // no setting: the locale
      {{1031, 1033}, "", "en_GB.UTF-8", "/1033/dovrane.html"},
      {{1031, 1033}, "", "C", "/1033/dovrane.html"},
      {{1033}, "", "de_DE.UTF-8", "/1033/dovrane.html"},
      {{}, "1031", "C.UTF-8", "/1031/dovrane.html"},  // none at all: the language's, named in the error
  };
  for (const Case& c : cases) {
    env_.Set({{"LANG", c.locale}});
    Install(c.pages, c.lcid);
    EXPECT_EQ(Document(), c.document) << "LCID " << c.lcid << ", LANG " << c.locale;
  }
}

TEST_F(HelpDocumentTest, WithoutAHelpFolderThereIsNoDocument) {
  testing::WriteFile(installation_.machine_settings(), "[InstallRoot]\nHelpPath = ''\n");
  env_.Set({{"DOVRANE_RES_DIR", installation_.root() + "/no-resources"}});
  std::string path;
  EXPECT_FALSE(HelpDocumentPath(extlib::DefaultContext(), &path));
}

}  // namespace
}  // namespace dovrane::ui
