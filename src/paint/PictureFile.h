#pragma once
// Picture files. The format follows the exact, lower-case extension of the
// file name: ".jpg" and ".jpeg" are JPEG, ".png" is PNG, anything else is a
// 24-bit Windows bitmap when writing. Reading takes BMP, PNG and whatever
// else the image readers recognise by content.
#include <string>

#include "paint/Picture.h"

namespace velmora {

enum class TPictureFormat { Bmp, Jpeg, Png };

// The extension from the last "." of the file name part on ("" when none).
std::string FileExtension(const std::string &path);
TPictureFormat PictureFormatFor(const std::string &path);

// Decodes a whole file's bytes: JPEG through libjpeg, anything else through the
// image readers (with the bitmap length check).
bool DecodePicture(const std::string &bytes, TPictureFormat format, TPicture &picture, std::string &error);

// On failure `picture` is left as it was and `error` says why.
bool LoadPicture(const std::string &path, TPicture &picture, std::string &error);
// Writes atomically: a failed save leaves an existing file as it was.
bool SavePicture(const std::string &path, const TPicture &picture, std::string &error);

// The encoders on their own (whole file contents).
std::string EncodeBmp(const TPicture &picture);
bool EncodePng(const TPicture &picture, std::string &bytes, std::string &error);

// JPEG pictures are saved at this quality, baseline.
constexpr int JpegQuality = 100;

}  // namespace velmora
