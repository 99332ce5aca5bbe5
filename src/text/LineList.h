#pragma once
// Line lists on disk: code page 932 text, read with CR LF, LF or CR line ends,
// written with CR LF. Writing never damages the old file: the bytes go to a
// temporary file beside it, which is then renamed over it (or, where a rename
// would change more than the contents, into the file after a copy of its old bytes).
#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The path helpers (ListNames, EnsureFolder, ChangeExtension) live in Paths.h.
#include "text/Paths.h"
#include "text/Cp932.h"

namespace velmora::text {

// Files larger than this are refused instead of being read into memory.
constexpr std::size_t MaxTextFileBytes = 64u * 1024 * 1024;

// Splits at CR LF, LF or CR. A line end at the very end does not start another line.
std::vector<std::string> SplitLines(std::string_view text);

// Reads a whole file. False with a message when it cannot be read or is over maxBytes.
bool ReadFileBytes(const std::string &path, std::string &bytes, std::string &error,
                   std::size_t maxBytes = MaxTextFileBytes);

// Replaces the file's contents atomically; on failure the old file is untouched
// and no temporary file is left behind. A symbolic link is written through to
// its target; a read-only file is refused; mode, owner and group are kept as far
// as the user may set them. A file with other hard links, or in a folder that
// cannot be written, is written in place after a copy of its old bytes (beside
// it, or in $TMPDIR or /tmp), which a failure or a signal puts back. `written`
// runs once the new bytes are written (tests interrupt the save there). When
// `cancel` is set by the time the new bytes would replace the old, the save
// stops there: old file kept, no temporary left.
bool WriteFileAtomically(const std::string &path, std::string_view bytes, std::string &error,
                         const std::function<void()> &written = {},
                         const std::atomic<bool> *cancel = nullptr);

// Installed once by each program: a file-size limit fails a save instead of
// ending the process, and SIGTERM, SIGHUP or SIGINT (when not ignored) remove
// the temporary file of a save in progress before the process ends.
void CleanUpOnSignals();

// Loads a CP932 line list as UTF-8 lines. Bytes that are not CP932 are kept as
// placeholder characters (see Cp932ToUtf8) and `warning` says so; the load
// still succeeds. `codes` receives the codes of characters that have more than
// one, for the save of the same text.
bool LoadLineList(const std::string &path, std::vector<std::string> &lines, std::string &error,
                  std::string *warning = nullptr, TCp932Codes *codes = nullptr);

// Saves UTF-8 lines as CP932, each line followed by CR LF. Fails, writing
// nothing, when a character has no CP932 form. Characters with more than one
// code are written with the codes they were loaded from (see TCp932Codes).
bool SaveLineList(const std::string &path, const std::vector<std::string> &lines,
                  std::string &error, const TCp932Codes *codes = nullptr);

}  // namespace velmora::text
