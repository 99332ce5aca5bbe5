// A constants text and a carpet text (split at the first NUL byte) painted
// onto a tiny picture.
#include <cstddef>
#include <cstdint>
#include <string>

#include "paint/CarpetPainter.h"
#include "text/LineList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string all(reinterpret_cast<const char *>(data), size);
  const std::size_t split = all.find('\0');
  const std::string constants = split == std::string::npos ? std::string() : all.substr(0, split);
  const std::string carpet = split == std::string::npos ? all : all.substr(split + 1);
  velmora::TArithmeticUnit engine;
  velmora::TPicture picture = velmora::TPicture::Filled(4, 3, velmora::Rgb(10, 200, 30));
  velmora::PaintCarpet(engine, velmora::text::SplitLines(constants), velmora::text::SplitLines(carpet), picture);
  return 0;
}
