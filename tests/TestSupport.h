#pragma once
// Small helpers shared by the test files: temporary folders, whole-file reads
// and writes, and running velmora-cli as a user would.
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velmora::test {

// AddressSanitizer reserves terabytes of address space: limits on it (ulimit -v,
// RLIMIT_AS) cannot be tested in that build.
#ifdef __SANITIZE_ADDRESS__
constexpr bool AddressSanitized = true;
#else
constexpr bool AddressSanitized = false;
#endif

inline std::string Slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void Put(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class TTempDir {
 public:
  TTempDir() {
    char tmpl[] = "/tmp/velmora-test-XXXXXX";
    Path = mkdtemp(tmpl);
  }
  ~TTempDir() {
    if (std::system(("rm -rf '" + Path + "'").c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", Path.c_str());
  }
  TTempDir(const TTempDir &) = delete;
  TTempDir &operator=(const TTempDir &) = delete;

  std::string File(const std::string &name) const { return Path + "/" + name; }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    if (DIR *d = opendir(Path.c_str())) {
      while (dirent *e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
      }
      closedir(d);
    }
    return names;
  }
  std::string Path;
};

struct TCliResult {
  int Exit = -1;
  std::string Out;
  std::string Err;
};

#ifdef VELMORA_CLI
// Runs velmora-cli with `args` (shell words) in a fresh folder, `input` on its
// standard input. Files named in args are relative to that folder unless absolute.
inline TCliResult RunCli(const std::string &args, const std::string &input = "", const TTempDir *in = nullptr) {
  TTempDir own;
  const std::string dir = in ? in->Path : own.Path;
  Put(dir + "/.stdin", input);
  const std::string command = "cd '" + dir + "' && '" + std::string(VELMORA_CLI) + "' " + args +
                              " < .stdin > .stdout 2> .stderr";
  const int status = std::system(command.c_str());
  TCliResult r;
  r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.Out = Slurp(dir + "/.stdout");
  r.Err = Slurp(dir + "/.stderr");
  for (const char *f : {"/.stdin", "/.stdout", "/.stderr"}) std::remove((dir + f).c_str());
  return r;
}
#endif

}  // namespace velmora::test
