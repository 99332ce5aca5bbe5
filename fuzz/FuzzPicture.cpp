// Picture file bytes under a file name picked by the first byte, as a user's
// file comes: the reader follows the extension (letter case ignored), or the
// name is refused. No bytes reach a reader of another format.
#include <cstddef>
#include <cstdint>
#include <string>

#include "paint/PictureFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const char *const names[] = {"a.bmp", "a.BMP", "a.png", "a.Png", "a.jpg", "a.JPEG", "a.gif", "a"};
  if (size == 0) return 0;
  velmora::TPictureFormat format;
  std::string error, warning;
  if (!velmora::PictureFormatForReading(names[data[0] % 8], format, error)) return 0;
  velmora::TPicture picture;
  velmora::DecodePicture(std::string(reinterpret_cast<const char *>(data + 1), size - 1), format, picture, error,
                         &warning);
  return 0;
}
