#pragma once
// The picture codecs that come from the toolkit: BMP and PNG reading, PNG
// writing. The desktop program and the tests have them linked in; velmora-cli
// loads them from a module of their own (velmora-qtimage.so) the first time a
// picture needs them, so that painting into a BMP or JPEG file does not pay
// for loading the toolkit.
#include <cstddef>
#include <string>

#include "paint/Picture.h"

namespace velmora {

struct TQtImageCodec {
  // Decodes `bytes` as exactly `format` (BMP or PNG), allocating at most
  // `maxBytes` for the decoded image.
  bool (*Decode)(const std::string &bytes, TPictureFormat format, std::size_t maxBytes, TPicture &picture,
                 std::string &error);
  bool (*EncodePng)(const TPicture &picture, std::string &bytes, std::string &error);
  // SHA-256 of a picture's pixels as a recipe records it (paint/Recipe.h).
  std::string (*PixelsSha256)(const TPicture &picture);
};

// The toolkit's codecs, or null with `error` saying why they are not there.
const TQtImageCodec *QtImageCodec(std::string &error);

// The codecs themselves (in the module, or linked in).
const TQtImageCodec &ToolkitImageCodec();

}  // namespace velmora
