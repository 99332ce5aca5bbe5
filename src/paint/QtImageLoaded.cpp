// The toolkit's codecs loaded from their module on first use (velmora-cli):
// beside the executable in the build tree, or where the installation put it.
#include <dlfcn.h>

#include <mutex>

#include "paint/QtImageCodec.h"
#include "text/Paths.h"

#ifndef VELMORA_QT_IMAGE_MODULE_FROM_BIN
#define VELMORA_QT_IMAGE_MODULE_FROM_BIN "."
#endif

namespace velmora {

namespace {
constexpr const char *ModuleName = "velmora-qtimage.so";
}  // namespace

const TQtImageCodec *QtImageCodec(std::string &error) {
  static std::once_flag once;
  static const TQtImageCodec *codec = nullptr;
  static std::string failure;
  std::call_once(once, [] {
    const std::string folder = text::ExecutableFolder();
    std::string reason;
    for (const std::string &path : {folder + "/" + ModuleName,
                                    folder + "/" + VELMORA_QT_IMAGE_MODULE_FROM_BIN + "/" + ModuleName}) {
      void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!module) {
        if (const char *why = dlerror(); reason.empty() && why) reason = why;
        continue;
      }
      using TEntry = const TQtImageCodec *(*)();
      if (const auto entry = reinterpret_cast<TEntry>(dlsym(module, "velmora_qt_image_codec"))) {
        codec = entry();
        return;
      }
    }
    failure = std::string("BMP と PNG の読み書きに必要なモジュール ") + ModuleName + " を読み込めません．" +
              (reason.empty() ? "" : "（" + reason + "）");
  });
  if (!codec) error = failure;
  return codec;
}

}  // namespace velmora
