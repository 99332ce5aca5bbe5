#include "ui/Folders.h"

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

}  // namespace velmora
