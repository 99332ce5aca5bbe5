#pragma once
// Where the program keeps its templates, help topics and documents. Beside the
// executable when that folder can be written to and is not an installed
// program's (the build folder, a portable copy: the way it always was);
// otherwise in the user's own data folder, filled once from the shipped,
// read-only copies. Toolkit-free: the Qt layer passes the user's data folder.
#include <string>
#include <vector>

namespace velmora {

struct TProgramFolders {
  std::string Template;  // .qtp templates
  std::string Help;      // .txt help topics
  std::string Works;     // 作品: where the document dialogs start
  // The program's own templates, untouched, to restore from ("" when none
  // ship): the installed data folder's, or the build folder's "shipped" copy.
  std::string ShippedTemplate;
  bool BesideExecutable = true;
};

// The shipped data folder of a program installed as `<prefix>/bin/velmora`
// (`<prefix>/share/velmora`, holding Template and Help), "" when there is none.
std::string ShippedDataFolder(const std::string &executableFolder);

// Whether the running user may create files in `folder`.
bool FolderWritable(const std::string &folder);

// The decision alone; nothing is created. An empty `userDataFolder` (no home
// folder known) keeps everything beside the executable.
TProgramFolders ChooseProgramFolders(const std::string &executableFolder, const std::string &userDataFolder);

// For the user's own folders: creates them and, the first time a folder is
// prepared, copies the shipped files of the same name into it. A file already
// there is never replaced, and a shipped file the user deleted later is not
// brought back (a hidden marker remembers the first copy).
void PrepareUserFolders(const TProgramFolders &folders, const std::string &shippedDataFolder);

// Both together, as the program does on start.
TProgramFolders SetUpProgramFolders(const std::string &executableFolder, const std::string &userDataFolder);

// The names of the files in `shipped` that are missing from `folder` or hold
// other bytes there, sorted; `changed` tells which of them exist in `folder`.
std::vector<std::string> DifferingShippedFiles(const std::string &folder, const std::string &shipped,
                                               std::vector<bool> *changed = nullptr);

// The marker file written into a user folder once the shipped files are in.
extern const char *const ShippedCopyMarker;

}  // namespace velmora
