#include "ui/RecentFiles.h"

#include <QFileInfo>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <cerrno>
#include <sys/stat.h>

namespace velmora {

namespace {

const QString Key = QStringLiteral("recentFiles");

QSettings Settings() { return QSettings(QSettings::IniFormat, QSettings::UserScope, "velmora", "velmora"); }

// Reading a FIFO or a device waits for a writer that may never come (and the
// window would never show): the settings are used only when their file is a
// regular file or not there yet.
bool SettingsUsable() {
  const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                       QStringLiteral("/velmora/velmora.ini");
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return errno == ENOENT;
  return S_ISREG(st.st_mode);
}

}  // namespace

QStringList TRecentFiles::Files() const {
  if (!SettingsUsable()) return {};
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
  if (SettingsUsable()) Settings().setValue(Key, files);
}

void TRecentFiles::Remove(const QString &path) {
  QStringList files = Files();
  files.removeAll(path);
  if (SettingsUsable()) Settings().setValue(Key, files);
}

bool TRecentFiles::Choice(const QString &key, bool fallback) {
  return SettingsUsable() ? Settings().value(key, fallback).toBool() : fallback;
}

void TRecentFiles::SetChoice(const QString &key, bool on) {
  if (SettingsUsable()) Settings().setValue(key, on);
}

}  // namespace velmora
