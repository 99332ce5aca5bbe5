#include "paint/QtImageCodec.h"

#include <cstdlib>

#include <QBuffer>
#include <QByteArray>
#include <QCryptographicHash>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include "paint/PictureImage.h"

namespace velmora {

namespace {

// The readers' own reasons are English; say them in the program's words.
std::string ReaderReason(QImageReader::ImageReaderError error) {
  switch (error) {
    case QImageReader::UnsupportedFormatError: return "この形式の画像には対応していません．";
    case QImageReader::DeviceError: return "ファイルを読めません．";
    default: return "画像データを解釈できません．";
  }
}

// The readers report an image they could not allocate as invalid data. A
// header that read well and an image of its size that cannot be made now
// either means memory, not a damaged file.
bool OutOfMemoryFor(QSize size, QImage::Format format) {
  if (!size.isValid() || size.isEmpty()) return false;
  if (format == QImage::Format_Invalid) format = QImage::Format_ARGB32;
  const QImage probe(size, format);
  if (probe.isNull()) return true;
  // The readers need some room beside the image (row tables, buffers).
  void *volatile room = std::malloc(4 * 1024 * 1024 + static_cast<std::size_t>(size.height()) * 16);
  const bool none = room == nullptr;  // volatile: the compiler may not drop the pair
  std::free(room);
  return none;
}

// BMP and PNG through Qt's reader for exactly that format: never one chosen
// by the content, which would bypass the guards of the others.
bool Decode(const std::string &bytes, TPictureFormat format, std::size_t maxBytes, TPicture &picture,
            std::string &error) {
  QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, format == TPictureFormat::Png ? "png" : "bmp");
  reader.setAutoDetectImageFormat(false);
  reader.setDecideFormatFromContent(false);
  reader.setAutoTransform(false);
  reader.setAllocationLimit(static_cast<int>(maxBytes / (1024 * 1024)));
  const QSize size = reader.size();
  if (size.isValid() && !CheckPictureSize(size.width(), size.height(), error)) return false;
  const QImage::Format decodedFormat = reader.imageFormat();
  QImage image;
  if (!reader.read(&image) || image.isNull()) {
    const std::string what = format == TPictureFormat::Png ? "PNG イメージ" : "ビットマップイメージ";
    if (reader.error() == QImageReader::InvalidDataError && OutOfMemoryFor(size, decodedFormat))
      error = "画像を読み込むにはメモリが足りません．";
    else
      error = reader.error() == QImageReader::InvalidDataError
                  ? what + "が不正です．"
                  : "画像ファイルを読み込めません: " + ReaderReason(reader.error());
    return false;
  }
  if (!CheckPictureSize(image.width(), image.height(), error)) return false;
  // In place where the depth allows: the decoded image and the result are the
  // only picture-sized buffers.
  image.convertTo(QImage::Format_RGB32);
  if (image.isNull()) {  // the conversion found no memory
    error = "画像を読み込むにはメモリが足りません．";
    return false;
  }
  TPicture p;
  p.Width = image.width();
  p.Height = image.height();
  p.Pixels.resize(static_cast<std::size_t>(p.Width) * static_cast<std::size_t>(p.Height));
  for (int y = 0; y < p.Height; ++y) {
    const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
    std::uint32_t *out = p.Pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(p.Width);
    for (int x = 0; x < p.Width; ++x) out[x] = Rgb(qRed(line[x]), qGreen(line[x]), qBlue(line[x]));
  }
  picture = std::move(p);
  return true;
}

bool EncodePng(const TPicture &picture, std::string &bytes, std::string &error) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "png");
  if (!writer.write(ToQImage(picture))) {
    error = "PNG を書き出せません．";
    return false;
  }
  bytes.assign(data.constData(), static_cast<std::size_t>(data.size()));
  return true;
}

std::string PixelsSha256(const TPicture &picture) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(QByteArray::fromStdString(std::to_string(picture.Width) + "x" + std::to_string(picture.Height) + "\n"));
  // Red, green and blue bytes: the same hash whatever the memory order of a pixel.
  std::string row(static_cast<std::size_t>(picture.Width) * 3, '\0');
  for (int y = 0; y < picture.Height; ++y) {
    for (int x = 0; x < picture.Width; ++x) {
      const std::uint32_t c = picture.Pixel(x, y);
      row[3 * static_cast<std::size_t>(x)] = static_cast<char>(RedOf(c));
      row[3 * static_cast<std::size_t>(x) + 1] = static_cast<char>(GreenOf(c));
      row[3 * static_cast<std::size_t>(x) + 2] = static_cast<char>(BlueOf(c));
    }
    hash.addData(QByteArrayView(row.data(), static_cast<qsizetype>(row.size())));
  }
  return hash.result().toHex().toStdString();
}

}  // namespace

const TQtImageCodec &ToolkitImageCodec() {
  static const TQtImageCodec codec{Decode, EncodePng, PixelsSha256};
  return codec;
}

}  // namespace velmora

// What velmora-cli looks up in the module.
extern "C" __attribute__((visibility("default"))) const velmora::TQtImageCodec *velmora_qt_image_codec() {
  return &velmora::ToolkitImageCodec();
}
