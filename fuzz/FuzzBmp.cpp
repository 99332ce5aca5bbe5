// Picture file bytes through the Bmp reader.
#include <cstddef>
#include <cstdint>
#include <string>

#include "paint/PictureFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  velmora::TPicture picture;
  std::string error;
  velmora::DecodePicture(std::string(reinterpret_cast<const char *>(data), size), velmora::TPictureFormat::Bmp,
                         picture, error);
  return 0;
}
