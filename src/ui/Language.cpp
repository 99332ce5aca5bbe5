#include "ui/Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QtGlobal>

namespace velmora {

void PrepareJapaneseLocale() {
  // LC_ALL would override the categories set below; it becomes the default
  // (LANG) for everything else instead.
  const QByteArray all = qgetenv("LC_ALL");
  if (!all.isEmpty()) {
    qputenv("LANG", all);
    qunsetenv("LC_ALL");
  }
  qputenv("LC_MESSAGES", "ja_JP.UTF-8");
  qputenv("LC_TIME", "ja_JP.UTF-8");
}

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
