#pragma once
// The documents opened or saved last, newest first, kept in the user's
// settings between runs.
#include <QStringList>

namespace velmora {

class TRecentFiles {
 public:
  static constexpr int MaxCount = 8;
  QStringList Files() const;
  // Puts a document first (once); the oldest beyond MaxCount is dropped.
  void Add(const QString &path);
  void Remove(const QString &path);
  // Other on/off choices kept in the same settings file.
  static bool Choice(const QString &key, bool fallback);
  static void SetChoice(const QString &key, bool on);
};

}  // namespace velmora
