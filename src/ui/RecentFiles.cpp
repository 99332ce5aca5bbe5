#include "ui/RecentFiles.h"

#include <QFileInfo>
#include <QSettings>

namespace velmora {

namespace {

const QString Key = QStringLiteral("recentFiles");

QSettings Settings() { return QSettings(QSettings::IniFormat, QSettings::UserScope, "velmora", "velmora"); }

}  // namespace

QStringList TRecentFiles::Files() const {
  QStringList files = Settings().value(Key).toStringList();
  files.removeAll(QString());
  while (files.size() > MaxCount) files.removeLast();
  return files;
}

void TRecentFiles::Add(const QString &path) {
  const QString full = QFileInfo(path).absoluteFilePath();
  QStringList files = Files();
  files.removeAll(full);
  files.prepend(full);
  while (files.size() > MaxCount) files.removeLast();
  Settings().setValue(Key, files);
}

void TRecentFiles::Remove(const QString &path) {
  QStringList files = Files();
  files.removeAll(path);
  Settings().setValue(Key, files);
}

}  // namespace velmora
