#include "cli/CliShared.h"

#include <sys/stat.h>
#include <unistd.h>

#include "paint/PictureFile.h"

namespace velmora::cli {

bool ParseCount(const std::string &text, long long &value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

bool ParseSize(const std::string &text, long long &w, long long &h) {
  const std::size_t x = text.find('x');
  return x != std::string::npos && ParseCount(text.substr(0, x), w) && ParseCount(text.substr(x + 1), h);
}

bool ParsePictureOption(const std::vector<std::string> &args, std::size_t &i, TPictureOptions &o, std::string &problem,
                        bool &bad) {
  const std::string &a = args[i];
  std::string v;
  // "--opt VALUE" or "--opt=VALUE"; false when the value is missing.
  auto value = [&](const char *name) {
    const std::string prefix = std::string(name) + "=";
    if (a.rfind(prefix, 0) == 0) return v = a.substr(prefix.size()), true;
    if (i + 1 >= args.size()) return false;
    v = args[++i];
    return true;
  };
  auto is = [&](const char *name) { return a == name || a.rfind(std::string(name) + "=", 0) == 0; };
  bad = true;
  if (is("--input")) {
    if (!value("--input")) return problem = "--input needs a picture file", true;
    o.Input = v;
  } else if (is("--size")) {
    if (!value("--size") || !ParseSize(v, o.Width, o.Height)) return problem = "--size needs WxH, e.g. 640x480", true;
    o.HasSize = true;
  } else if (is("--set")) {
    if (!value("--set")) return problem = "--set needs NAME=VALUE", true;
    TConstantOverride override;
    if (!ParseConstantOverride(v, override, problem)) return problem = "--set " + problem, true;
    o.Overrides.push_back(override);
  } else {
    bad = false;
    return false;
  }
  bad = false;
  return true;
}

TProgressBar::TProgressBar(std::FILE *err) : Err(err), Enabled(isatty(fileno(err)) != 0) {}

void TProgressBar::Update(long long done, long long total, const std::string &suffix) {
  if (!Enabled || total <= 0) return;
  const int percent = static_cast<int>(100LL * done / total);
  if (percent == Last) return;
  Last = percent;
  const int filled = percent * 30 / 100;
  std::fprintf(Err, "\r描画中 [%s%s] %3d%%%s", std::string(static_cast<std::size_t>(filled), '#').c_str(),
               std::string(static_cast<std::size_t>(30 - filled), ' ').c_str(), percent, suffix.c_str());
  std::fflush(Err);
}

void TProgressBar::Finish() {
  if (Enabled && Last >= 0) std::fputs("\r\033[K", Err);
  Last = -1;
}

std::atomic<bool> Interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

namespace {

struct sigaction PreviousInterrupt = {};

extern "C" void OnInterrupt(int) {
  if (!Interrupted.exchange(true)) return;
  // Blocked while we run: the previous handler takes it once we return.
  sigaction(SIGINT, &PreviousInterrupt, nullptr);
  raise(SIGINT);
}

}  // namespace

TInterruptScope::TInterruptScope() {
  Interrupted = false;
  sigaction(SIGINT, nullptr, &PreviousInterrupt);
  if (PreviousInterrupt.sa_handler == SIG_IGN) return;  // started in the background: Ctrl+C is not ours
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  Installed = true;
}

TInterruptScope::~TInterruptScope() {
  if (Installed) sigaction(SIGINT, &PreviousInterrupt, nullptr);
}

bool TCliDocument::Read(const std::string &path, std::FILE *err, const char *command) {
  Boxes.OnShow = [err](const TMessageRecorder::TEntry &e) {
    std::fprintf(err, "%s: %s\n", e.Caption.c_str(), e.Text.c_str());
  };
  if (!Document.Read(path)) {
    if (!Document.ErrorMessage.empty())
      std::fprintf(err, "velmora-cli %s: %s\n", command, Document.ErrorMessage.c_str());
    return false;
  }
  TakeWork(Document, Work);
  return true;
}

bool SameFile(const std::string &a, const std::string &b) {
  struct stat sa {}, sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool StartPicture(const TWork &work, const std::string &document, const TPictureOptions &o, TPicture &picture,
                  std::FILE *err, const char *command) {
  std::string error;
  if (!o.Input.empty()) {
    std::string warning;
    if (!LoadPicture(o.Input, picture, error, &warning)) {
      std::fprintf(err, "velmora-cli %s: %s: %s\n", command, o.Input.c_str(), error.c_str());
      return false;
    }
    if (!warning.empty()) std::fprintf(err, "velmora-cli %s: %s: %s\n", command, o.Input.c_str(), warning.c_str());
  } else if (!PictureSizeOf(work.Width, work.Height, picture.Width, picture.Height, error)) {
    std::fprintf(err, "velmora-cli %s: %s: %s\n", command, document.c_str(), error.c_str());
    return false;
  }
  if (!o.HasSize) return true;
  if (!CheckPictureSize(o.Width, o.Height, error)) {
    std::fprintf(err, "velmora-cli %s: %s\n", command, error.c_str());
    return false;
  }
  if (picture.Pixels.empty()) {
    picture.Width = static_cast<int>(o.Width);
    picture.Height = static_cast<int>(o.Height);
  } else {
    picture.Resize(static_cast<int>(o.Width), static_cast<int>(o.Height));
  }
  return true;
}

}  // namespace velmora::cli
