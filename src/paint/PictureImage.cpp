#include "paint/PictureImage.h"

#include <new>

namespace velmora {

QImage ToQImage(const TPicture &picture) {
  QImage image(picture.Width, picture.Height, QImage::Format_RGB32);
  if (image.isNull()) throw std::bad_alloc();
  for (int y = 0; y < picture.Height; ++y) {
    auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
    const std::uint32_t *source = picture.Pixels.data() + static_cast<std::size_t>(y) * picture.Width;
    for (int x = 0; x < picture.Width; ++x) line[x] = ToQRgb(source[x]);
  }
  return image;
}

}  // namespace velmora
