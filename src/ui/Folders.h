#pragma once
// The program's folders for this run (templates, help topics, documents),
// decided and prepared on first use.
#include <string>

#include "document/ProgramFolders.h"

namespace velmora {

const TProgramFolders &ProgramFolders();

// Moves a file to the desktop's trash; false where there is none (or the move
// failed), and the file is then where it was. `inTrash` gets its new path.
bool MoveToTrash(const std::string &path, std::string *inTrash = nullptr);
// Moves a file just trashed back to where it was, and forgets it in the trash.
bool PutBackFromTrash(const std::string &inTrash, const std::string &path);

}  // namespace velmora
