#pragma once
// Picture files. Writing follows the exact, lower-case extension of the file
// name: ".jpg" and ".jpeg" are JPEG, ".png" is PNG, anything else is a 24-bit
// Windows bitmap. Reading follows the extension too, letter case ignored:
// ".bmp" BMP, ".png" PNG, ".jpg"/".jpeg" JPEG; other names are refused.
#include <string>
#include <vector>

#include "paint/Picture.h"
#include "text/Paths.h"

namespace velmora {

// The extension from the last "." of the file name part on (text/Paths.h).
using text::FileExtension;
TPictureFormat PictureFormatFor(const std::string &path);
// The reader for a file name; false with a message naming the formats that open.
bool PictureFormatForReading(const std::string &path, TPictureFormat &format, std::string &error);

// Decodes a whole file's bytes as exactly that format: JPEG through libjpeg,
// BMP and PNG through the toolkit's readers behind our own checks.
// `warning` (when given) tells of a picture that opened but is incomplete.
bool DecodePicture(const std::string &bytes, TPictureFormat format, TPicture &picture, std::string &error,
                   std::string *warning = nullptr);

// On failure `picture` is left as it was and `error` says why.
bool LoadPicture(const std::string &path, TPicture &picture, std::string &error, std::string *warning = nullptr);
// Writes atomically: a failed save leaves an existing file as it was.
bool SavePicture(const std::string &path, const TPicture &picture, std::string &error);

// The encoders on their own (whole file contents).
// A picture file's bytes, in memory that is cheap to fill when large.
using TPictureBytes = std::vector<char, TPixelAllocator<char>>;
TPictureBytes EncodeBmp(const TPicture &picture);
bool EncodePng(const TPicture &picture, std::string &bytes, std::string &error);

// JPEG pictures are saved at this quality, baseline.
constexpr int JpegQuality = 100;

}  // namespace velmora
