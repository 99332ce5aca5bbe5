#pragma once
// JPEG through libjpeg: decoding at best quality (accurate integer DCT, fancy
// upsampling) and encoding at a given quality, baseline. libjpeg errors come
// back as messages; they never end the process.
#include <cstddef>
#include <string>

#include "paint/Picture.h"

namespace velmora {

// `warning` (when given) tells of a file that ended early and was filled in.
bool DecodeJpeg(const unsigned char *data, std::size_t size, TPicture &picture, std::string &error,
                std::string *warning = nullptr);
bool EncodeJpeg(const TPicture &picture, int quality, std::string &bytes, std::string &error);

// Progressive files with more scans than this are refused: each scan costs a
// pass over the whole picture.
constexpr int MaxJpegScans = 1000;
// And the work they make is bounded: scans times pixels (about 10 seconds).
constexpr long long MaxJpegScanWork = 3'000'000'000LL;

}  // namespace velmora
