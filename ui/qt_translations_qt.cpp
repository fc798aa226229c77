#include "ui/qt_translations_qt.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

#include "extlib/installation/language.h"

namespace dovrane::ui {

namespace {

// The one translator installed; the window's thread only.
std::unique_ptr<QTranslator> g_translator;

}  // namespace

QString QtTranslationsFolder() { return QLibraryInfo::path(QLibraryInfo::TranslationsPath); }

bool InstallQtTranslations() {
  if (g_translator) {
    QCoreApplication::removeTranslator(g_translator.get());
    g_translator.reset();
  }
  if (extlib::ll_get_language() != 0) return true;  // Qt's own texts are English
  auto translator = std::make_unique<QTranslator>();
  // qtbase holds the texts of the widgets the program uses.
  if (!translator->load(QStringLiteral("qtbase_de"), QtTranslationsFolder())) return false;
  QCoreApplication::installTranslator(translator.get());
  g_translator = std::move(translator);
  return true;
}

}  // namespace dovrane::ui
