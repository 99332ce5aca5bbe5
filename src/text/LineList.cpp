#include "text/LineList.h"

#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "text/Cp932.h"

namespace velmora::text {

namespace {

// The system's own texts are English here; the user reads the program's words.
std::string SystemReason(int err) {
  switch (err) {
    case EACCES:
    case EPERM: return "アクセスが許可されていません";
    case ENOENT: return "ファイルまたはフォルダがありません";
    case ENOTDIR: return "パスの途中にフォルダでないものがあります";
    case EISDIR: return "フォルダです";
    case ENAMETOOLONG: return "名前が長すぎます";
    case ELOOP: return "シンボリックリンクが多すぎます";
    case ENOSPC: return "ディスクの空きが足りません";
    case EDQUOT: return "ディスクの使用量の上限を超えています";
    case EFBIG: return "ファイルが大きすぎます";
    case EROFS: return "読み取り専用のファイルシステムです";
    case EIO: return "入出力エラーが起きました";
    case EMFILE:
    case ENFILE: return "開いているファイルが多すぎます";
    case ENOMEM: return "メモリが足りません";
    case EBUSY:
    case ETXTBSY: return "ファイルが使用中です";
    case EXDEV: return "別のファイルシステムには移せません";
    default: return "システムエラー " + std::to_string(err) + " (" + std::strerror(err) + ")";
  }
}

std::string Quoted(const std::string &path) { return "「" + path + "」"; }

// Writes all bytes, retrying short writes and interrupts.
bool WriteAll(int fd, std::string_view bytes, int &err) {
  const char *p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    if (n == 0) {
      err = EIO;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

bool ReadFileBytes(const std::string &path, std::string &bytes, std::string &error,
                   std::size_t maxBytes) {
  bytes.clear();
  error.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "ファイル" + Quoted(path) + "を開けません: " + SystemReason(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const bool statFailed = !S_ISREG(st.st_mode) && st.st_mode == 0;
    const int err = errno;
    ::close(fd);
    error = "ファイル" + Quoted(path) + "を読めません: " +
            (statFailed             ? SystemReason(err)
             : S_ISDIR(st.st_mode) ? std::string("フォルダです")
                                   : std::string("通常のファイルではありません"));
    return false;
  }
  if (static_cast<std::size_t>(st.st_size) > maxBytes) {
    ::close(fd);
    error = "ファイル" + Quoted(path) + "は大きすぎるため開けません (" +
            std::to_string(st.st_size) + " バイト，上限 " + std::to_string(maxBytes) + " バイト)．";
    return false;
  }
  bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      bytes.clear();
      error = "ファイル" + Quoted(path) + "を読めません: " + SystemReason(err);
      return false;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > maxBytes) {  // the file grew while we read it
      ::close(fd);
      bytes.clear();
      error = "ファイル" + Quoted(path) + "は大きすぎるため開けません．";
      return false;
    }
  }
  ::close(fd);
  return true;
}

bool WriteFileAtomically(const std::string &path, std::string_view bytes, std::string &error) {
  error.clear();
  struct stat target {};
  const bool exists = ::stat(path.c_str(), &target) == 0;
  if (exists && !S_ISREG(target.st_mode)) {
    error = "ファイル" + Quoted(path) + "に書き込めません: 通常のファイルではありません．";
    return false;
  }
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = dir + "." + base + ".tmp-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    error = "ファイル" + Quoted(path) + "に書き込めません: " + SystemReason(errno);
    return false;
  }
  int err = 0;
  bool ok = WriteAll(fd, bytes, err);
  if (ok) {
    // Keep the old file's permissions; a new file gets the usual ones.
    mode_t mode = 0666;
    if (exists) {
      mode = target.st_mode & 07777;
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      mode &= ~mask;
    }
    ::fchmod(fd, mode);
    if (::fsync(fd) != 0) {
      err = errno;
      ok = false;
    }
  }
  if (::close(fd) != 0 && ok) {
    err = errno;
    ok = false;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    err = errno;
    ok = false;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    error = "ファイル" + Quoted(path) + "に書き込めません: " + SystemReason(err);
  }
  return ok;
}

bool LoadLineList(const std::string &path, std::vector<std::string> &lines, std::string &error,
                  std::string *warning) {
  lines.clear();
  if (warning) warning->clear();
  std::string bytes;
  if (!ReadFileBytes(path, bytes, error)) return false;
  std::string utf8;
  if (!Cp932ToUtf8(bytes, utf8) && warning) {
    *warning = "ファイル" + Quoted(path) +
               "にはコードページ932 (Shift-JIS) として読めないバイトがあります．その部分は記号で表示し，保存するときは元のバイトのまま書き戻します．";
  }
  lines = SplitLines(utf8);
  return true;
}

bool SaveLineList(const std::string &path, const std::vector<std::string> &lines,
                  std::string &error) {
  std::string utf8;
  for (const std::string &line : lines) {
    utf8 += line;
    utf8 += "\r\n";
  }
  std::string bytes;
  if (!Utf8ToCp932(utf8, bytes, error)) return false;
  return WriteFileAtomically(path, bytes, error);
}

bool ListNames(const std::string &folder, const std::string &extension, std::vector<std::string> &names) {
  names.clear();
  DIR *dir = ::opendir(folder.c_str());
  if (!dir) return false;
  auto lower = [](std::string s) {
    for (char &c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
  };
  const std::string wanted = lower(extension);
  while (const dirent *entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name.size() <= wanted.size()) continue;
    if (lower(name.substr(name.size() - wanted.size())) != wanted) continue;
    names.push_back(ChangeExtension(name, ""));
  }
  ::closedir(dir);
  return true;
}

void EnsureFolder(const std::string &folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) ::mkdir(folder.c_str(), 0777);
}

std::string ChangeExtension(const std::string &name, const std::string &extension) {
  const std::size_t slash = name.rfind('/');
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name + extension;
  return name.substr(0, dot) + extension;
}

}  // namespace velmora::text
