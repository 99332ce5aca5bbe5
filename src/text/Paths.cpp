#include "text/Paths.h"

#include <filesystem>
#include <system_error>

namespace velmora::text {

namespace {

std::string Lower(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The position of the last "." of the file name part, or npos.
std::size_t ExtensionDot(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string::npos;
  return dot;
}

}  // namespace

std::string FileExtension(const std::string &path) {
  const std::size_t dot = ExtensionDot(path);
  return dot == std::string::npos ? std::string() : path.substr(dot);
}

std::string ChangeExtension(const std::string &name, const std::string &extension) {
  const std::size_t dot = ExtensionDot(name);
  return (dot == std::string::npos ? name : name.substr(0, dot)) + extension;
}

bool HasExtension(const std::string &name, const std::string &extension) {
  if (name.size() <= extension.size()) return false;
  return Lower(name.substr(name.size() - extension.size())) == Lower(extension);
}

bool ListNames(const std::string &folder, const std::string &extension, std::vector<std::string> &names) {
  names.clear();
  std::error_code error;
  std::filesystem::directory_iterator it(folder, error), end;
  if (error) return false;
  for (; it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (HasExtension(name, extension)) names.push_back(ChangeExtension(name, ""));
  }
  return true;
}

void EnsureFolder(const std::string &folder) {
  std::error_code ignored;
  std::filesystem::create_directory(folder, ignored);
}

std::string FolderOf(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string ExecutableFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || self.empty()) return ".";
  return FolderOf(self.string());
}

}  // namespace velmora::text
