#include "ui/Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace velmora {

bool UseJapanese() {
  QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
  static QTranslator *toolkit = nullptr;
  if (toolkit) return true;
  auto *translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  QCoreApplication::installTranslator(translator);
  toolkit = translator;
  return true;
}

}  // namespace velmora
