#include "text/LineList.h"

#include <dirent.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
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

// A file being written in place and the copy of its old bytes, for the signal
// handler to put back.
std::atomic<int> InPlaceFile{-1}, InPlaceCopy{-1};
std::atomic<off_t> InPlaceOldSize{0};
char InPlaceCopyPath[PATH_MAX + 1];
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<off_t>::is_always_lock_free,
              "read in a signal handler");

// Copies `size` bytes from the start of one file to the start of another and
// cuts the second there. Only calls that are safe in a signal handler.
bool CopyBytes(int from, int to, off_t size, int &err) {
  char buffer[16384];
  off_t at = 0;
  for (;;) {
    const ssize_t n = ::pread(from, buffer, sizeof buffer, at);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::pwrite(to, buffer + done, static_cast<std::size_t>(n - done), at + done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        err = w < 0 ? errno : EIO;
        return false;
      }
      done += w;
    }
    at += n;
  }
  if (size >= 0 && at != size) {
    err = EIO;
    return false;
  }
  if (::ftruncate(to, at) != 0 || ::fsync(to) != 0) {
    err = errno;
    return false;
  }
  return true;
}

void RestoreInPlaceFile() {
  const int file = InPlaceFile.exchange(-1);
  if (file < 0) return;
  int err = 0;
  if (CopyBytes(InPlaceCopy.load(), file, InPlaceOldSize.load(), err)) ::unlink(InPlaceCopyPath);
}

extern "C" void RemovePendingTempAndDie(int sig) {
  if (HavePendingTemp.load()) ::unlink(PendingTemp);
  RestoreInPlaceFile();
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
std::string TemporaryName(const std::string &dir, const std::string &base,
                          const std::string &suffix = ".tmp-XXXXXX") {
  long nameMax = ::pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
  if (nameMax <= 0 || nameMax > 255) nameMax = 255;
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

namespace {

// A copy of a file's old bytes, beside it or else in the temporary folder.
// Removed on destruction unless kept.
class TOldCopy {
 public:
  ~TOldCopy() {
    if (Fd >= 0) ::close(Fd);
    if (!Path.empty() && !Keep) ::unlink(Path.c_str());
  }
  bool Create(const std::string &dir, const std::string &base, int &err) {
    std::vector<std::string> places = {dir};
    const char *tmp = std::getenv("TMPDIR");
    places.push_back(std::string(tmp && *tmp ? tmp : "/tmp") + "/");
    for (const std::string &place : places) {
      std::string name = TemporaryName(place, base, ".old-XXXXXX");
      Fd = ::mkostemp(name.data(), O_CLOEXEC);  // readable by the owner only
      if (Fd >= 0) {
        Path = name;
        return true;
      }
      err = errno;
    }
    return false;
  }
  int Fd = -1;
  std::string Path;
  bool Keep = false;
};

std::string CancelledMessage(const std::string &path) {
  return "ファイル" + Quoted(path) + "の保存を中断しました．元のファイルはそのままです．";
}

// For a file whose other names must stay its names, or in a folder the user
// cannot write: the new bytes go into the file itself, after its old bytes
// were copied aside. A failure or a signal puts the old bytes back.
bool WriteInPlace(const std::string &path, const std::string &dir, const std::string &base,
                  const std::string &target, std::string_view bytes, std::string &error,
                  const std::function<void()> &written, const std::atomic<bool> *cancel) {
  const int fd = ::open(target.c_str(), O_RDWR | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = fd < 0 ? errno : EIO;
    if (fd >= 0) ::close(fd);
    error = "ファイル" + Quoted(path) + "に書き込めません: " + SystemReason(err);
    return false;
  }
  TOldCopy copy;
  int err = 0;
  if (!copy.Create(dir, base, err) || !CopyBytes(fd, copy.Fd, st.st_size, err)) {
    ::close(fd);
    const std::string shownDir = dir.empty() ? std::string(".") : dir;
    const std::string where = ::access(shownDir.c_str(), W_OK | X_OK) != 0
                                  ? "フォルダ" + Quoted(shownDir) + "に書き込めず，一時フォルダにも作れません: "
                                  : std::string();
    error = "ファイル" + Quoted(path) + "を上書きする前に元の内容の控えを作れないため，保存しませんでした (" + where +
            SystemReason(err) + ")．";
    return false;
  }
  const bool watched = copy.Path.size() < sizeof InPlaceCopyPath;
  if (watched) {
    std::memcpy(InPlaceCopyPath, copy.Path.c_str(), copy.Path.size() + 1);
    InPlaceOldSize = st.st_size;
    InPlaceCopy = copy.Fd;
    InPlaceFile = fd;
  }
  bool ok = ::lseek(fd, 0, SEEK_SET) == 0 ? WriteAll(fd, bytes, err) : (err = errno, false);
  if (ok && written) written();
  if (ok && (::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0 || ::fsync(fd) != 0)) {
    err = errno;
    ok = false;
  }
  // A cancel that came while the new bytes went in takes them back out.
  const bool cancelled = ok && cancel && cancel->load();
  // A signal handler that took the file restores it and ends the process.
  const bool handled = watched && InPlaceFile.exchange(-1) < 0;
  if ((!ok || cancelled) && !handled) {
    int restoreErr = 0;
    if (!CopyBytes(copy.Fd, fd, st.st_size, restoreErr)) {
      copy.Keep = true;
      error = "ファイル" + Quoted(path) + "に書き込めず，元の内容も戻せませんでした: " + SystemReason(err) +
              "．元の内容は" + Quoted(copy.Path) + "に残してあります．";
      ::close(fd);
      return false;
    }
  }
  ::close(fd);  // the bytes are on the disk already (fsync)
  if (cancelled) {
    error = CancelledMessage(path);
    return false;
  }
  if (!ok) error = "ファイル" + Quoted(path) + "に書き込めません: " + SystemReason(err);
  return ok;
}

}  // namespace

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
  const std::string shownDir = dir.empty() ? std::string(".") : dir;
  // A new name would split a hard-linked file from its other names, and a
  // folder that cannot be written takes no new name at all.
  // Another user's file (shared by a group, say) would become the saver's.
  const bool othersFile = exists && ::geteuid() != 0 && old.st_uid != ::geteuid();
  if (exists && (old.st_nlink > 1 || othersFile || ::access(shownDir.c_str(), W_OK | X_OK) != 0))
    return WriteInPlace(path, dir, base, target, bytes, error, written, cancel);
  std::string temp = TemporaryName(dir, base);
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    error = "フォルダ" + Quoted(shownDir) + "にファイル" + Quoted(base) + "を作れません: " + SystemReason(errno);
    return false;
  }
  const TPendingTemp pending(temp);
  int err = 0;
  bool ok = WriteAll(fd, bytes, err);
  if (ok && written) written();
  if (ok) {
    // Keep the old file's owner, group and permissions as far as the user may
    // set them (only the superuser gives a file away; a group needs membership).
    // The mode goes last: a change of owner clears the set-id bits.
    mode_t mode = 0666;
    if (exists) {
      struct stat now {};
      if (::fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
          ::fchown(fd, old.st_uid, old.st_gid) != 0 && now.st_gid != old.st_gid)
        if (::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
          // Not in the group: the file gets the saver's, as any new file would.
        }
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
    // A folder with the sticky bit refuses to replace another user's file by
    // name; the file itself may still be written.
    if (!cancelled && exists && (err == EPERM || err == EACCES))
      return WriteInPlace(path, dir, base, target, bytes, error, written, cancel);
    error = cancelled ? CancelledMessage(path) : "ファイル" + Quoted(path) + "に書き込めません: " + SystemReason(err);
    return false;
  }
  return ok;
}

bool LoadLineList(const std::string &path, std::vector<std::string> &lines, std::string &error,
                  std::string *warning, TCp932Codes *codes) {
  lines.clear();
  if (warning) warning->clear();
  std::string bytes;
  if (!ReadFileBytes(path, bytes, error)) return false;
  std::string utf8;
  if (!Cp932ToUtf8(bytes, utf8, codes) && warning) {
    *warning = "ファイル" + Quoted(path) +
               "にはコードページ932 (Shift-JIS) として読めないバイトがあります．その部分は記号で表示し，保存するときは元のバイトのまま書き戻します．";
  }
  lines = SplitLines(utf8);
  return true;
}

bool SaveLineList(const std::string &path, const std::vector<std::string> &lines,
                  std::string &error, const TCp932Codes *codes) {
  std::string utf8;
  for (const std::string &line : lines) {
    utf8 += line;
    utf8 += "\r\n";
  }
  std::string bytes;
  if (!Utf8ToCp932(utf8, bytes, error, codes)) return false;
  return WriteFileAtomically(path, bytes, error);
}

}  // namespace velmora::text
