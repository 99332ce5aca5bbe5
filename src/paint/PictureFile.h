#pragma once
// Picture files. The extension of the file name decides the format, letter
// case ignored, for reading and writing alike: ".bmp" BMP, ".png" PNG,
// ".jpg"/".jpeg" JPEG. Reading refuses other names; the window's save writes
// them as a 24-bit Windows bitmap, velmora-cli refuses them too.
#include <atomic>
#include <string>
#include <vector>

#include "paint/Picture.h"
#include "text/Paths.h"

namespace velmora {

// The extension from the last "." of the file name part on (text/Paths.h).
using text::FileExtension;
// The writer for a file name: BMP for a name that is not a picture's.
TPictureFormat PictureFormatFor(const std::string &path);
// The reader for a file name; false with a message naming the formats that open.
bool PictureFormatForReading(const std::string &path, TPictureFormat &format, std::string &error);
// The writer for a file name, refusing names that are not a picture's (with a
// message naming the accepted ones): a document must never become a bitmap.
bool PictureFormatForWriting(const std::string &path, TPictureFormat &format, std::string &error);

// Decodes a whole file's bytes as exactly that format: JPEG through libjpeg,
// BMP and PNG through the toolkit's readers behind our own checks.
// `warning` (when given) tells of a picture that opened but is incomplete.
bool DecodePicture(const std::string &bytes, TPictureFormat format, TPicture &picture, std::string &error,
                   std::string *warning = nullptr);

// On failure `picture` is left as it was and `error` says why.
bool LoadPicture(const std::string &path, TPicture &picture, std::string &error, std::string *warning = nullptr);
// Writes atomically: a failed save leaves an existing file as it was. When
// `cancel` is set before the new file replaces the old one, nothing is written
// (Ctrl+C in velmora-cli). A PNG file carries `recipe` when one is given
// (paint/Recipe.h); other formats carry none.
bool SavePicture(const std::string &path, const TPicture &picture, std::string &error,
                 const std::atomic<bool> *cancel = nullptr, const std::string *recipe = nullptr);

// The encoders on their own (whole file contents).
// A picture file's bytes, in memory that is cheap to fill when large.
using TPictureBytes = std::vector<char, TPixelAllocator<char>>;
TPictureBytes EncodeBmp(const TPicture &picture);
bool EncodePng(const TPicture &picture, std::string &bytes, std::string &error);

// JPEG pictures are saved at this quality, baseline.
constexpr int JpegQuality = 100;

}  // namespace velmora
