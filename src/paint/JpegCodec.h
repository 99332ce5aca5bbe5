#pragma once
// JPEG through libjpeg: decoding at best quality (accurate integer DCT, fancy
// upsampling) and encoding at a given quality, baseline. libjpeg errors come
// back as messages; they never end the process.
#include <cstddef>
#include <string>

#include "paint/Picture.h"

namespace velmora {

bool DecodeJpeg(const unsigned char *data, std::size_t size, TPicture &picture, std::string &error);
bool EncodeJpeg(const TPicture &picture, int quality, std::string &bytes, std::string &error);

// Progressive files with more scans than this are refused: each scan costs a
// pass over the whole picture.
constexpr int MaxJpegScans = 1000;

}  // namespace velmora
