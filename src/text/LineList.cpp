#include "text/LineList.h"

#include <dirent.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
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
  // Non-blocking, so that a FIFO is refused below instead of waiting for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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

namespace {

// The temporary file of the save in progress, for the signal handler to remove.
char PendingTemp[PATH_MAX + 1];
std::atomic<bool> HavePendingTemp{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read in a signal handler");

extern "C" void RemovePendingTempAndDie(int sig) {
  if (HavePendingTemp.load()) ::unlink(PendingTemp);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

class TPendingTemp {
 public:
  explicit TPendingTemp(const std::string &temp) {
    if (temp.size() >= sizeof PendingTemp) return;
    std::memcpy(PendingTemp, temp.c_str(), temp.size() + 1);
    HavePendingTemp = true;
  }
  ~TPendingTemp() { HavePendingTemp = false; }
  TPendingTemp(const TPendingTemp &) = delete;
  TPendingTemp &operator=(const TPendingTemp &) = delete;
};

// The file a path names, following symbolic links (even to a file that does
// not exist yet), so that a save writes through a link instead of replacing it.
bool FollowLinks(std::string &path, int &err) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n < 0) {
      err = errno;
      return false;
    }
    const std::string link(target, static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    path = link[0] == '/' || slash == std::string::npos ? link : path.substr(0, slash + 1) + link;
  }
  err = ELOOP;
  return false;
}

// A hidden name beside the target that fits the file system's name limit too.
std::string TemporaryName(const std::string &dir, const std::string &base) {
  long nameMax = ::pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
  if (nameMax <= 0 || nameMax > 255) nameMax = 255;
  const std::string suffix = ".tmp-XXXXXX";
  std::string stem = "." + base;
  const std::size_t room = static_cast<std::size_t>(nameMax) - suffix.size();
  if (stem.size() > room) {
    stem.resize(room);
    // Do not leave half a UTF-8 character at the cut.
    while (!stem.empty() && (static_cast<unsigned char>(stem.back()) & 0xC0) == 0x80) stem.pop_back();
    if (!stem.empty() && static_cast<unsigned char>(stem.back()) >= 0xC0) stem.pop_back();
  }
  return dir + stem + suffix;
}

}  // namespace

void CleanUpOnSignals() {
  // A file-size limit then fails the write (EFBIG) instead of ending the process.
  ::signal(SIGXFSZ, SIG_IGN);
  for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;  // ignored stays ignored
    struct sigaction action {};
    action.sa_handler = RemovePendingTempAndDie;
    sigemptyset(&action.sa_mask);
    ::sigaction(sig, &action, nullptr);
  }
}

bool WriteFileAtomically(const std::string &path, std::string_view bytes, std::string &error,
                         const std::function<void()> &written, const std::atomic<bool> *cancel) {
  error.clear();
  std::string target = path;
  int linkErr = 0;
  if (!FollowLinks(target, linkErr)) {
    error = "ファイル" + Quoted(path) + "に書き込めません: " + SystemReason(linkErr);
    return false;
  }
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) {
    error = "ファイル" + Quoted(path) + "に書き込めません: 通常のファイルではありません．";
    return false;
  }
  // Renaming over a read-only file would succeed; the user meant it to stay.
  if (exists && ((old.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)) {
    error = "ファイル" + Quoted(path) + "は読み取り専用のため上書きできません．";
    return false;
  }
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = TemporaryName(dir, base);
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    error = "ファイル" + Quoted(path) + "に書き込めません: " + SystemReason(errno);
    return false;
  }
  const TPendingTemp pending(temp);
  int err = 0;
  bool ok = WriteAll(fd, bytes, err);
  if (ok && written) written();
  if (ok) {
    // Keep the old file's permissions; a new file gets the usual ones.
    mode_t mode = 0666;
    if (exists) {
      mode = old.st_mode & 07777;
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
  const bool cancelled = ok && cancel && cancel->load();
  if (ok && !cancelled && ::rename(temp.c_str(), target.c_str()) != 0) {
    err = errno;
    ok = false;
  }
  if (!ok || cancelled) {
    ::unlink(temp.c_str());
    error = cancelled ? "ファイル" + Quoted(path) + "の保存を中断しました．元のファイルはそのままです．"
                      : "ファイル" + Quoted(path) + "に書き込めません: " + SystemReason(err);
    return false;
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

}  // namespace velmora::text
