// Loaded into velmora-cli by the tests, in two roles:
// - preloaded (LD_PRELOAD): presses Ctrl+C right after the save's fsync or
//   rename returns, as VELMORA_SIGINT_AFTER says ("fsync", "fsync2" for twice,
//   "rename"), so that a test can interrupt a save at an exact moment;
// - as the picture module: a module whose entry point gives no codecs.
#include <dlfcn.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {

int Presses(const char *call) {
  const char *at = std::getenv("VELMORA_SIGINT_AFTER");
  if (!at || std::strncmp(at, call, std::strlen(call)) != 0) return 0;
  return at[std::strlen(call)] == '2' ? 2 : 1;
}

void Press(const char *call) {
  for (int i = Presses(call); i > 0; --i) raise(SIGINT);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int fsync(int fd) {
  using TFsync = int (*)(int);
  const int result = reinterpret_cast<TFsync>(dlsym(RTLD_NEXT, "fsync"))(fd);
  Press("fsync");
  return result;
}

__attribute__((visibility("default"))) int rename(const char *from, const char *to) noexcept {
  using TRename = int (*)(const char *, const char *);
  const int result = reinterpret_cast<TRename>(dlsym(RTLD_NEXT, "rename"))(from, to);
  Press("rename");
  return result;
}

__attribute__((visibility("default"))) const void *velmora_qt_image_codec() { return nullptr; }

}  // extern "C"
