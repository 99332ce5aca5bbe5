#include "paint/PictureFile.h"

#include <cstring>

#include "paint/JpegCodec.h"
#include "paint/PngRecipe.h"
#include "paint/QtImageCodec.h"
#include "text/LineList.h"

namespace velmora {

namespace {

// Picture files may be big, but not bigger than the largest picture we accept.
constexpr std::size_t MaxPictureFileBytes = 512u * 1024 * 1024;

std::uint32_t ReadLe32(const std::string &b, std::size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
std::uint16_t ReadLe16(const std::string &b, std::size_t at) {
  std::uint16_t v = 0;
  std::memcpy(&v, b.data() + at, 2);
  return v;
}

// Whether run-length coded pixel data (RLE8, or RLE4 with `nibbles`) reaches
// its end-of-bitmap mark or its last row before the file ends. The reader
// fills the rows of a cut file with colour 0 and says nothing.
bool RleDataComplete(const std::string &bytes, std::size_t at, long long height, bool nibbles) {
  long long row = 0;
  while (at + 2 <= bytes.size()) {
    const unsigned count = static_cast<unsigned char>(bytes[at]);
    const unsigned value = static_cast<unsigned char>(bytes[at + 1]);
    at += 2;
    if (count > 0) continue;  // a run of `count` pixels
    if (value == 0) {         // end of row
      if (++row >= height) return true;
    } else if (value == 1) {  // end of bitmap
      return true;
    } else if (value == 2) {  // move right and down
      if (at + 2 > bytes.size()) return false;
      row += static_cast<unsigned char>(bytes[at + 1]);
      at += 2;
      if (row >= height) return true;
    } else {  // `value` pixels as they are, padded to two bytes
      std::size_t length = nibbles ? (value + 1) / 2 : value;
      length += length & 1;
      if (length > bytes.size() - at) return false;
      at += length;
    }
  }
  return false;
}

// Qt's BMP reader accepts a file whose pixel data stops short and shows the
// missing part as garbage; refuse such files instead. A cut run-length coded
// file still opens, with a warning (as a cut JPEG file does).
bool CheckBmpLength(const std::string &bytes, std::string &error, std::string *warning) {
  if (bytes.size() < 54 || bytes.compare(0, 2, "BM") != 0) return true;  // not a plain BMP: Qt decides
  const std::uint32_t offset = ReadLe32(bytes, 10);
  const std::uint32_t headerSize = ReadLe32(bytes, 14);
  if (headerSize < 40) return true;  // OS/2 bitmaps: left to Qt
  const auto width = static_cast<std::int32_t>(ReadLe32(bytes, 18));
  const auto height = static_cast<std::int32_t>(ReadLe32(bytes, 22));
  const std::uint16_t bits = ReadLe16(bytes, 28);
  const std::uint32_t compression = ReadLe32(bytes, 30);
  // Sizes beyond any picture we accept are refused here, before the arithmetic
  // below could overflow.
  const long long w = width < 0 ? -static_cast<long long>(width) : width;
  const long long h = height < 0 ? -static_cast<long long>(height) : height;
  if (!CheckPictureSize(w, h, error)) return false;
  if ((compression == 1 || compression == 2) && offset <= bytes.size() &&
      !RleDataComplete(bytes, offset, h, compression == 2)) {
    if (warning) *warning = "ビットマップファイルが途中で切れています．欠けた部分は正しく表示されません．";
    return true;
  }
  if (compression != 0 && compression != 3) return true;  // RLE and others: no fixed length
  if (bits > 64) return true;                             // nonsense depth: the reader refuses it
  const long long rowBytes = (static_cast<long long>(width < 0 ? -width : width) * bits + 31) / 32 * 4;
  const long long rows = height < 0 ? -static_cast<long long>(height) : height;
  const long long needed = static_cast<long long>(offset) + rowBytes * rows;
  if (static_cast<long long>(bytes.size()) < needed) {
    error = "ビットマップイメージが不正です（画素データが途中で切れています）．";
    return false;
  }
  return true;
}

std::uint32_t ReadBe32(const std::string &b, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) << 24 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3]));
}

// Every chunk of a PNG file must lie within the file. The PNG reader trusts the
// length fields: one text chunk claiming 2 GB made it allocate that much.
bool CheckPngChunks(const std::string &bytes, std::string &error) {
  static const char signature[] = "\x89PNG\r\n\x1a\n";
  if (bytes.size() < 8 || bytes.compare(0, 8, signature, 8) != 0) return true;  // not PNG: others decide
  std::size_t at = 8;
  while (at + 12 <= bytes.size()) {
    const std::uint32_t length = ReadBe32(bytes, at);
    if (length > bytes.size() - at - 12) break;
    if (bytes.compare(at + 4, 4, "IEND") == 0) return true;
    at += 12 + static_cast<std::size_t>(length);
  }
  error = "PNG ファイルが壊れています（チャンクがファイルの終わりを越えています）．";
  return false;
}

// BMP and PNG through the toolkit's reader for exactly that format.
bool DecodeWithQt(const std::string &bytes, TPictureFormat format, TPicture &picture, std::string &error) {
  const TQtImageCodec *codec = QtImageCodec(error);
  return codec && codec->Decode(bytes, format, MaxPictureFileBytes, picture, error);
}

}  // namespace

namespace {

// One rule for reading and writing: ".PNG" is a PNG file, so that every
// picture the program writes opens again.
bool KnownPictureFormat(const std::string &path, TPictureFormat &format, std::string &ext) {
  ext = FileExtension(path);
  std::string lower = ext;
  for (char &c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (lower == ".bmp") format = TPictureFormat::Bmp;
  else if (lower == ".png") format = TPictureFormat::Png;
  else if (lower == ".jpg" || lower == ".jpeg") format = TPictureFormat::Jpeg;
  else return false;
  return true;
}

std::string NotAPictureName(const std::string &ext, const char *what) {
  return (ext.empty() ? std::string("拡張子のないファイル") : "拡張子「" + ext + "」のファイル") + what +
         "BMP (.bmp)，JPEG (.jpg, .jpeg)，PNG (.png) です．";
}

}  // namespace

TPictureFormat PictureFormatFor(const std::string &path) {
  TPictureFormat format;
  std::string ext;
  return KnownPictureFormat(path, format, ext) ? format : TPictureFormat::Bmp;
}

bool PictureFormatForReading(const std::string &path, TPictureFormat &format, std::string &error) {
  std::string ext;
  if (KnownPictureFormat(path, format, ext)) return true;
  error = NotAPictureName(ext, "は画像として開けません．開けるのは ");
  return false;
}

bool PictureFormatForWriting(const std::string &path, TPictureFormat &format, std::string &error) {
  std::string ext;
  if (KnownPictureFormat(path, format, ext)) return true;
  error = NotAPictureName(ext, "には画像を書き出しません．書き出せるのは ");
  return false;
}

bool DecodePicture(const std::string &bytes, TPictureFormat format, TPicture &picture, std::string &error,
                   std::string *warning) {
  TPicture decoded;
  if (format == TPictureFormat::Jpeg) {
    if (!DecodeJpeg(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), decoded, error, warning))
      return false;
  } else if (format == TPictureFormat::Png) {
    if (!CheckPngChunks(bytes, error) || !DecodeWithQt(bytes, format, decoded, error)) return false;
  } else {
    std::string cut;
    if (!CheckBmpLength(bytes, error, &cut) || !DecodeWithQt(bytes, format, decoded, error)) return false;
    if (warning && !cut.empty()) *warning = cut;
  }
  picture = std::move(decoded);
  return true;
}

bool LoadPicture(const std::string &path, TPicture &picture, std::string &error, std::string *warning) {
  TPictureFormat format;
  if (!PictureFormatForReading(path, format, error)) return false;
  std::string bytes;
  if (!text::ReadFileBytes(path, bytes, error, MaxPictureFileBytes)) return false;
  return DecodePicture(bytes, format, picture, error, warning);
}

TPictureBytes EncodeBmp(const TPicture &picture) {
  const std::size_t rowBytes = (static_cast<std::size_t>(picture.Width) * 3 + 3) / 4 * 4;
  const std::size_t dataBytes = rowBytes * static_cast<std::size_t>(picture.Height);
  TPictureBytes out(54 + dataBytes, '\0');
  auto put32 = [&out](std::size_t at, std::uint32_t v) { std::memcpy(out.data() + at, &v, 4); };
  auto put16 = [&out](std::size_t at, std::uint16_t v) { std::memcpy(out.data() + at, &v, 2); };
  out[0] = 'B';
  out[1] = 'M';
  put32(2, static_cast<std::uint32_t>(out.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(picture.Width));
  put32(22, static_cast<std::uint32_t>(picture.Height));  // bottom-up
  put16(26, 1);
  put16(28, 24);
  put32(34, static_cast<std::uint32_t>(dataBytes));
  put32(38, 2835);  // 72 dpi
  put32(42, 2835);
  for (int y = 0; y < picture.Height; ++y) {
    char *row = out.data() + 54 + rowBytes * static_cast<std::size_t>(picture.Height - 1 - y);
    for (int x = 0; x < picture.Width; ++x) {
      const std::uint32_t c = picture.Pixel(x, y);
      row[3 * x + 0] = static_cast<char>(BlueOf(c));  // blue, green, red
      row[3 * x + 1] = static_cast<char>(GreenOf(c));
      row[3 * x + 2] = static_cast<char>(RedOf(c));
    }
  }
  return out;
}

bool EncodePng(const TPicture &picture, std::string &bytes, std::string &error) {
  const TQtImageCodec *codec = QtImageCodec(error);
  return codec && codec->EncodePng(picture, bytes, error);
}

bool SavePicture(const std::string &path, const TPicture &picture, std::string &error,
                 const std::atomic<bool> *cancel, const std::string *recipe) {
  std::string bytes;
  switch (PictureFormatFor(path)) {
    case TPictureFormat::Jpeg:
      if (!EncodeJpeg(picture, JpegQuality, bytes, error)) return false;
      break;
    case TPictureFormat::Png:
      if (recipe ? !EncodePngWithRecipe(picture, *recipe, bytes, error) : !EncodePng(picture, bytes, error))
        return false;
      break;
    case TPictureFormat::Bmp: {
      const TPictureBytes bmp = EncodeBmp(picture);
      return text::WriteFileAtomically(path, std::string_view(bmp.data(), bmp.size()), error, {}, cancel);
    }
  }
  return text::WriteFileAtomically(path, bytes, error, {}, cancel);
}

}  // namespace velmora
