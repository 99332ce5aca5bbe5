#pragma once
// What both commands share: asking for help, and noticing that standard output
// could not be written (a closed pipe, a full disk) instead of exiting 0.
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace velmora::cli {

inline bool WantsHelp(const std::vector<std::string> &args) {
  for (const std::string &a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

class TOutputCheck {
 public:
  // Flushes `out` and remembers the first failure.
  void Flush(std::FILE *out) {
    if ((std::fflush(out) != 0 || std::ferror(out)) && !Failed) {
      Failed = true;
      Errno = errno;
    }
  }
  bool Failed = false;
  // Reports the failure on `err`; the exit status for it.
  int Report(std::FILE *err, const char *command) const {
    const char *reason = Errno == EPIPE    ? "読み手がいません"
                         : Errno == ENOSPC ? "ディスクの空きが足りません"
                                           : "書き込みエラー";
    std::fprintf(err, "velmora-cli %s: 標準出力に書き込めません (%s)\n", command, reason);
    return 2;
  }

 private:
  int Errno = 0;
};

// Prints a usage text on `out`: 0, or 2 when it could not be written.
inline int PrintHelp(const char *usage, std::FILE *out, std::FILE *err, const char *command) {
  TOutputCheck output;
  std::fputs(usage, out);
  output.Flush(out);
  return output.Failed ? output.Report(err, command) : 0;
}

}  // namespace velmora::cli
