#pragma once
// Path helpers for every layer: folders, extensions, listing a folder. Names
// are split by hand where std::filesystem would treat a dot-file differently
// (".qtp" is a file whose extension is ".qtp", not a stem without one).
#include <string>
#include <vector>

namespace velmora::text {

// The extension from the last "." of the file name part on ("" when none).
// A dot-file's whole name is its extension: ".png" gives ".png".
std::string FileExtension(const std::string &path);

// The name with its last extension replaced ("abc.txt" -> "abc.qtp", "abc" -> "abc.qtp",
// ".txt" -> ".qtp").
std::string ChangeExtension(const std::string &name, const std::string &extension);

// Whether `name` ends in `extension`, letter case ignored, with something
// before it (a dot-file named just ".qtp" is no template).
bool HasExtension(const std::string &name, const std::string &extension);

// The names (with the last extension removed) of the entries of `folder` whose
// name ends in `extension` (".qtp"; letter case ignored, entries of any kind),
// in the folder's own order. False when the folder does not exist or cannot be read.
bool ListNames(const std::string &folder, const std::string &extension, std::vector<std::string> &names);

// Creates one folder level when it is missing; failures are ignored.
void EnsureFolder(const std::string &folder);

// The part of a path before its last separator ("." when none, "/" for the root).
std::string FolderOf(const std::string &path);

// The folder of the running executable, without a trailing separator.
std::string ExecutableFolder();

}  // namespace velmora::text
