// The window's texts through Qt's translator, from the .qm files made of po/<lang>.po at build
// time and built into the program (qt/CMakeLists.txt).
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <map>
#include <mutex>
#include <string>

#include "qt/qt_dialog.h"
#include "qt/translations.inc"

namespace valdrix {
namespace {

QTranslator translator;
// Qt's own texts in the same language (the buttons of the "Other port" dialog), where the system
// has Qt's translations (qt6-translations-l10n).
QTranslator qtOwn;
QString current;  // the catalogue's language; empty: English

const char* Lookup(const char* english) {
  static std::mutex lock;
  static std::map<std::string, std::string> texts;  // nodes stay put: the pointers live on
  const std::lock_guard<std::mutex> held(lock);
  const std::string key = current.toStdString() + '\n' + english;
  auto found = texts.find(key);
  if (found == texts.end()) {
    // The catalogues' messages have no context: lconvert puts them in the empty one.
    const QString text = QCoreApplication::translate("", english);
    found = texts.emplace(key, text.toUtf8().toStdString()).first;
  }
  return found->second.c_str();
}

}  // namespace

QStringList UserLanguages() {
  // As gettext reads them on the command line: the locale of the messages decides, and LANGUAGE's
  // list comes first unless that locale is C.
  QString locale;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (!(locale = qEnvironmentVariable(name)).isEmpty())
      break;
  }
  if (locale.isEmpty() || locale == "C" || locale.startsWith("C.") || locale == "POSIX")
    return {};
  QStringList languages = qEnvironmentVariable("LANGUAGE").split(':', Qt::SkipEmptyParts);
  languages << locale;
  for (QString& language : languages)  // de_DE.UTF-8@euro: de
    language = language.section('_', 0, 0).section('.', 0, 0).section('@', 0, 0);
  return languages;
}

void UseQtTranslations(const QStringList& languages) {
  QCoreApplication::removeTranslator(&translator);
  QCoreApplication::removeTranslator(&qtOwn);
  SetTranslator(nullptr);
  current.clear();
  for (const QString& language : languages) {
    for (const EmbeddedCatalogue& catalogue : EMBEDDED_CATALOGUES) {
      if (language != QLatin1String(catalogue.language) ||
          !translator.load(catalogue.data, catalogue.size))
        continue;
      QCoreApplication::installTranslator(&translator);
      if (qtOwn.load("qtbase_" + language, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtOwn);
      current = catalogue.language;
      SetTranslator(Lookup);
      return;
    }
  }
}

}  // namespace valdrix
