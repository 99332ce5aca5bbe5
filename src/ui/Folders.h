#pragma once
// The program's folders for this run (templates, help topics, documents),
// decided and prepared on first use.
#include "document/ProgramFolders.h"

namespace velmora {

const TProgramFolders &ProgramFolders();

}  // namespace velmora
