// The toolkit's codecs loaded from their module on first use (velmora-cli):
// beside the executable in the build tree, or where the installation put it.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

#include "paint/QtImageCodec.h"
#include "text/Paths.h"

#ifndef VELMORA_QT_IMAGE_MODULE_FROM_BIN
#define VELMORA_QT_IMAGE_MODULE_FROM_BIN "."
#endif

namespace velmora {

namespace {
constexpr const char *ModuleName = "velmora-qtimage.so";

const TQtImageCodec *Loaded = nullptr;

// The toolkit's PNG library prints its own "libpng error: ..." lines on
// standard error (straight from the library, past any message handler), ahead
// of our message about the same file: while it decodes, standard error goes
// nowhere. velmora-cli is single-threaded here.
class TQuietStandardError {
 public:
  TQuietStandardError() {
    std::fflush(stderr);
    Saved = dup(2);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (Saved >= 0 && null >= 0) dup2(null, 2);
    if (null >= 0) close(null);
  }
  ~TQuietStandardError() {
    std::fflush(stderr);
    if (Saved < 0) return;
    dup2(Saved, 2);
    close(Saved);
  }
  TQuietStandardError(const TQuietStandardError &) = delete;
  TQuietStandardError &operator=(const TQuietStandardError &) = delete;

 private:
  int Saved = -1;
};

bool QuietDecode(const std::string &bytes, TPictureFormat format, std::size_t maxBytes, TPicture &picture,
                 std::string &error) {
  const TQuietStandardError quiet;
  return Loaded->Decode(bytes, format, maxBytes, picture, error);
}

// The loader says "failed to map segment" (errno is not kept) or "Cannot
// allocate memory" when the module or the toolkit could not be mapped for want
// of address space: not a broken installation.
bool OutOfMemory(const std::string &why) {
  return why.find("failed to map segment") != std::string::npos ||
         why.find("Cannot allocate memory") != std::string::npos;
}
}  // namespace

const TQtImageCodec *QtImageCodec(std::string &error) {
  static std::once_flag once;
  static const TQtImageCodec *codec = nullptr;
  static std::string failure;
  std::call_once(once, [] {
    const std::string folder = text::ExecutableFolder();
    // The reason given is that of the first file that is there (a foreign
    // library in the module's place), else that of the first path.
    std::string reason;
    bool reasonOfAFile = false, memory = false;
    for (const std::string &path : {folder + "/" + ModuleName,
                                    folder + "/" + VELMORA_QT_IMAGE_MODULE_FROM_BIN + "/" + ModuleName}) {
      std::string why;
      if (void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        using TEntry = const TQtImageCodec *(*)();
        if (const auto entry = reinterpret_cast<TEntry>(dlsym(module, "velmora_qt_image_codec"))) {
          if ((Loaded = entry())) {
            static const TQtImageCodec quiet{QuietDecode, Loaded->EncodePng, Loaded->PixelsSha256};
            codec = &quiet;
            return;
          }
          why = path + ": 画像の読み書きを返しませんでした";
        } else {
          why = path + ": velmora の画像モジュールではありません";
        }
      } else {
        const char *said = dlerror();
        why = said ? said : path;
      }
      memory = memory || OutOfMemory(why);
      const bool isFile = access(path.c_str(), F_OK) == 0;
      if (reason.empty() || (isFile && !reasonOfAFile)) {
        reason = why;
        reasonOfAFile = isFile;
      }
    }
    failure = memory ? std::string("BMP と PNG の読み書きに必要なモジュール ") + ModuleName +
                           " を読み込むにはメモリが足りません．"
                     : std::string("BMP と PNG の読み書きに必要なモジュール ") + ModuleName + " を読み込めません．（" +
                           reason + "）";
  });
  if (!codec) error = failure;
  return codec;
}

}  // namespace velmora
