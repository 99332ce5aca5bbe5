#include "ui/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "text/Paths.h"

namespace velmora {

const TProgramFolders &ProgramFolders() {
  // ~/.local/share/velmora (or $XDG_DATA_HOME/velmora) when the executable's own
  // folder cannot be used.
  static const TProgramFolders folders = [] {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return SetUpProgramFolders(text::ExecutableFolder(),
                               data.isEmpty() ? std::string() : (data + QStringLiteral("/velmora")).toStdString());
  }();
  return folders;
}

bool MoveToTrash(const std::string &path, std::string *inTrash) {
  QString where;
  if (!QFile::moveToTrash(QString::fromStdString(path), &where)) return false;
  if (inTrash) *inTrash = where.toStdString();
  return true;
}

bool PutBackFromTrash(const std::string &inTrash, const std::string &path) {
  const QFileInfo trashed(QString::fromStdString(inTrash));
  if (!QFile::rename(trashed.filePath(), QString::fromStdString(path))) return false;
  // The trash keeps "files/NAME" and "info/NAME.trashinfo".
  QFile::remove(trashed.dir().filePath(QStringLiteral("../info/") + trashed.fileName() + QStringLiteral(".trashinfo")));
  return true;
}

}  // namespace velmora
