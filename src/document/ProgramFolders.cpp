#include "document/ProgramFolders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <system_error>

// The installed data folder, relative to the installed executables (set by the
// build from the install directories).
#ifndef VELMORA_SHIPPED_DATA_FROM_BIN
#define VELMORA_SHIPPED_DATA_FROM_BIN "../share/velmora"
#endif

namespace velmora {

const char *const ShippedCopyMarker = ".velmora-shipped";

namespace {

bool IsFolder(const std::string &path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

bool WriteAll(int fd, const std::string &bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Copies `source` to `target` unless `target` exists. The bytes go to a
// temporary file first and are linked in under the final name: link() never
// replaces an existing file, and a cut-short copy never shows under that name.
// True when `target` exists afterwards.
bool CopyUnlessPresent(const std::string &source, const std::string &target, const std::string &folder) {
  if (::access(target.c_str(), F_OK) == 0) return true;
  std::ifstream in(source, std::ios::binary);
  std::string bytes;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
  if (!in.eof() || in.bad()) return false;  // not opened, or a read error
  std::string temporary = folder + "/.velmora-copy-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  // mkstemp makes the file private; a copy gets the permissions a new file would.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  const bool written = WriteAll(fd, bytes);
  const bool closed = ::close(fd) == 0;
  bool linked = false;
  if (written && closed) linked = ::link(temporary.c_str(), target.c_str()) == 0 || errno == EEXIST;
  ::unlink(temporary.c_str());
  return linked;
}

// Fills one user folder from its shipped twin, once.
void FillOnce(const std::string &folder, const std::string &shipped) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  const std::string marker = folder + "/" + ShippedCopyMarker;
  if (shipped.empty() || !IsFolder(shipped) || ::access(marker.c_str(), F_OK) == 0) return;
  if (std::filesystem::equivalent(folder, shipped, error)) return;  // installed into the user's own data folder
  bool all = true;
  std::filesystem::directory_iterator it(shipped, error), end;
  if (error) return;
  for (; it != end; it.increment(error)) {
    if (!it->is_regular_file(error)) continue;
    const std::string name = it->path().filename().string();
    all = CopyUnlessPresent(it->path().string(), folder + "/" + name, folder) && all;
  }
  // A failed copy (a full disk) is tried again on the next start.
  if (all && !error) std::ofstream(marker) << "Velmora 2\n";
}

bool ReadAll(const std::string &path, std::string &bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

std::vector<std::string> DifferingShippedFiles(const std::string &folder, const std::string &shipped,
                                               std::vector<bool> *changed) {
  std::vector<std::string> names;
  std::error_code error;
  std::filesystem::directory_iterator it(shipped, error), end;
  if (error) return names;
  for (; it != end; it.increment(error)) {
    if (!it->is_regular_file(error) || it->path().filename().string()[0] == '.') continue;
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> differing;
  if (changed) changed->clear();
  for (const std::string &name : names) {
    std::string original, current;
    if (!ReadAll(shipped + "/" + name, original)) continue;
    const bool present = ::access((folder + "/" + name).c_str(), F_OK) == 0;
    if (present && ReadAll(folder + "/" + name, current) && current == original) continue;
    differing.push_back(name);
    if (changed) changed->push_back(present);
  }
  return differing;
}

std::string ShippedDataFolder(const std::string &executableFolder) {
  const std::string folder = executableFolder + "/" VELMORA_SHIPPED_DATA_FROM_BIN;
  return IsFolder(folder) ? folder : std::string();
}

bool FolderWritable(const std::string &folder) {
  return IsFolder(folder) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

TProgramFolders ChooseProgramFolders(const std::string &executableFolder, const std::string &userDataFolder) {
  TProgramFolders folders;
  folders.BesideExecutable = userDataFolder.empty() ||
                             (FolderWritable(executableFolder) && ShippedDataFolder(executableFolder).empty());
  const std::string base = folders.BesideExecutable ? executableFolder : userDataFolder;
  folders.Template = base + "/Template";
  folders.Help = base + "/Help";
  folders.Works = base + "/作品";
  const std::string installed = ShippedDataFolder(executableFolder);
  const std::string shipped = installed.empty() ? executableFolder + "/shipped" : installed;
  if (IsFolder(shipped + "/Template")) folders.ShippedTemplate = shipped + "/Template";
  return folders;
}

void PrepareUserFolders(const TProgramFolders &folders, const std::string &shippedDataFolder) {
  const std::string shipped = shippedDataFolder;
  FillOnce(folders.Template, shipped.empty() ? shipped : shipped + "/Template");
  FillOnce(folders.Help, shipped.empty() ? shipped : shipped + "/Help");
}

TProgramFolders SetUpProgramFolders(const std::string &executableFolder, const std::string &userDataFolder) {
  TProgramFolders folders = ChooseProgramFolders(executableFolder, userDataFolder);
  if (!folders.BesideExecutable) PrepareUserFolders(folders, ShippedDataFolder(executableFolder));
  return folders;
}

}  // namespace velmora
