#include "paint/PictureFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <jpeglib.h>

#include "TestSupport.h"
#include "paint/JpegCodec.h"

using velmora::TPicture;
using velmora::test::Put;
using velmora::test::Slurp;
using velmora::test::TTempDir;

namespace {

std::string Bmp(const TPicture &picture) {
  const velmora::TPictureBytes bytes = velmora::EncodeBmp(picture);
  return std::string(bytes.begin(), bytes.end());
}

TPicture Sample(int w, int h) {
  TPicture p = TPicture::Filled(w, h, velmora::Black);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p.SetPixel(x, y, velmora::Rgb((x * 7) & 255, (y * 5) & 255, (x + y) & 255));
  return p;
}

// An independent look at a JPEG file through libjpeg: header facts and the
// pixels decoded at best quality.
struct TJpegFacts {
  bool Progressive = true;
  bool AllQuantOne = false;
  int Width = 0, Height = 0;
  velmora::TPixels Pixels;
};

TJpegFacts Inspect(const std::string &bytes) {
  TJpegFacts f;
  jpeg_decompress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
  jpeg_read_header(&info, TRUE);
  f.Progressive = info.progressive_mode;
  f.AllQuantOne = true;
  for (int t = 0; t < 2; ++t) {
    if (!info.quant_tbl_ptrs[t]) continue;
    for (int i = 0; i < 64; ++i) f.AllQuantOne = f.AllQuantOne && info.quant_tbl_ptrs[t]->quantval[i] == 1;
  }
  info.out_color_space = JCS_RGB;
  info.dct_method = JDCT_ISLOW;
  info.do_fancy_upsampling = TRUE;
  jpeg_start_decompress(&info);
  f.Width = static_cast<int>(info.output_width);
  f.Height = static_cast<int>(info.output_height);
  std::vector<unsigned char> row(static_cast<std::size_t>(f.Width) * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW r = row.data();
    jpeg_read_scanlines(&info, &r, 1);
    for (int x = 0; x < f.Width; ++x) f.Pixels.push_back(velmora::Rgb(row[3 * x], row[3 * x + 1], row[3 * x + 2]));
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return f;
}

}  // namespace

// One rule for reading and writing: a ".JPG" written as BMP data would not open again.
TEST(PictureFile, FormatFollowsTheExtensionLetterCaseIgnored) {
  using velmora::PictureFormatFor;
  using velmora::TPictureFormat;
  EXPECT_EQ(PictureFormatFor("a.jpg"), TPictureFormat::Jpeg);
  EXPECT_EQ(PictureFormatFor("dir/a.b.jpeg"), TPictureFormat::Jpeg);
  EXPECT_EQ(PictureFormatFor("a.JPG"), TPictureFormat::Jpeg);
  EXPECT_EQ(PictureFormatFor("a.Jpeg"), TPictureFormat::Jpeg);
  EXPECT_EQ(PictureFormatFor("a.PNG"), TPictureFormat::Png);
  EXPECT_EQ(PictureFormatFor("a.png"), TPictureFormat::Png);
  EXPECT_EQ(PictureFormatFor("a.gif"), TPictureFormat::Bmp);
  TPictureFormat format;
  std::string error;
  EXPECT_TRUE(velmora::PictureFormatForWriting("a.BMP", format, error));
  EXPECT_EQ(format, TPictureFormat::Bmp);
  EXPECT_FALSE(velmora::PictureFormatForWriting("doc.vokt", format, error));
  EXPECT_NE(error.find("「.vokt」"), std::string::npos) << error;
  EXPECT_NE(error.find("BMP (.bmp)，JPEG (.jpg, .jpeg)，PNG (.png)"), std::string::npos) << error;
  EXPECT_EQ(velmora::FileExtension("dir.jpg/file"), "");
  EXPECT_EQ(velmora::FileExtension("file"), "");
}

TEST(PictureFile, BmpIs24BitAndRoundTrips) {
  TTempDir dir;
  const TPicture p = Sample(31, 17);  // odd width: rows are padded
  std::string error;
  for (const char *name : {"a.bmp", "b.BMP", "c"}) {
    ASSERT_TRUE(velmora::SavePicture(dir.File(name), p, error)) << error;
    const std::string bytes = Slurp(dir.File(name));
    ASSERT_EQ(bytes.substr(0, 2), "BM") << name;
    EXPECT_EQ(bytes[28], 24) << "24 bits per pixel";
    EXPECT_EQ(bytes.size(), 54u + 96u * 17u);
  }
  TPicture back;
  ASSERT_TRUE(velmora::LoadPicture(dir.File("a.bmp"), back, error)) << error;
  EXPECT_EQ(back.Width, 31);
  EXPECT_EQ(back.Pixels, p.Pixels);
  // Reading goes by the extension too: ".JPG" is read as JPEG, a name without
  // a picture extension is not read at all.
  Put(dir.File("b.JPG"), Slurp(dir.File("b.BMP")));
  EXPECT_FALSE(velmora::LoadPicture(dir.File("b.JPG"), back, error));
  EXPECT_NE(error.find("JPEG"), std::string::npos) << error;
  EXPECT_FALSE(velmora::LoadPicture(dir.File("c"), back, error));
  EXPECT_NE(error.find("BMP (.bmp)，JPEG (.jpg, .jpeg)，PNG (.png)"), std::string::npos) << error;
}

// The reader is chosen by the extension, never by the content, so no file
// reaches a reader past another format's guards.
TEST(PictureFile, ReadingFollowsTheExtensionLetterCaseIgnored) {
  TTempDir dir;
  const TPicture p = Sample(12, 10);
  std::string jpeg, png, error;
  ASSERT_TRUE(velmora::EncodeJpeg(p, 100, jpeg, error));
  ASSERT_TRUE(velmora::EncodePng(p, png, error));
  Put(dir.File("jpeg.bmp"), jpeg);
  Put(dir.File("png.bmp"), png);
  Put(dir.File("bmp.png"), Bmp(p));
  // A GIF that claims a 10000 x 10000 screen (a content-guessing reader made it a picture).
  Put(dir.File("tiny.png"), std::string("GIF89a\x10\x27\x10\x27\x80\x00\x00", 13) + std::string(22, '\0'));
  Put(dir.File("tiny.gif"), Slurp(dir.File("tiny.png")));
  TPicture back = TPicture::Filled(1, 1, velmora::White);
  for (const char *name : {"jpeg.bmp", "png.bmp", "bmp.png", "tiny.png", "tiny.gif"}) {
    EXPECT_FALSE(velmora::LoadPicture(dir.File(name), back, error)) << name;
    EXPECT_EQ(back.Width, 1) << name;
  }
  Put(dir.File("upper.JPEG"), jpeg);
  Put(dir.File("upper.PNG"), png);
  Put(dir.File("upper.Bmp"), Bmp(p));
  for (const char *name : {"upper.JPEG", "upper.PNG", "upper.Bmp"}) {
    EXPECT_TRUE(velmora::LoadPicture(dir.File(name), back, error)) << name << ": " << error;
    EXPECT_EQ(back.Width, 12) << name;
  }
}

TEST(PictureFile, ATruncatedJpegOpensWithAWarning) {
  TTempDir dir;
  std::string jpeg, error, warning;
  ASSERT_TRUE(velmora::EncodeJpeg(Sample(64, 64), 90, jpeg, error));
  Put(dir.File("cut.jpg"), jpeg.substr(0, jpeg.size() * 2 / 3));
  TPicture back;
  ASSERT_TRUE(velmora::LoadPicture(dir.File("cut.jpg"), back, error, &warning)) << error;
  EXPECT_EQ(back.Width, 64);
  EXPECT_NE(warning.find("途中で切れています"), std::string::npos) << warning;
  Put(dir.File("whole.jpg"), jpeg);
  warning.clear();
  ASSERT_TRUE(velmora::LoadPicture(dir.File("whole.jpg"), back, error, &warning));
  EXPECT_TRUE(warning.empty());
}

TEST(PictureFile, UpperCaseExtensionsWriteWhatTheyName) {
  TTempDir dir;
  const TPicture p = Sample(12, 10);
  std::string error;
  for (const char *name : {"w.PNG", "w.JPG", "w.Jpeg"}) {
    ASSERT_TRUE(velmora::SavePicture(dir.File(name), p, error)) << error;
    const std::string bytes = Slurp(dir.File(name));
    EXPECT_EQ(bytes.substr(0, 2), name[2] == 'P' ? "\x89P" : "\xFF\xD8") << name;
    TPicture back;
    EXPECT_TRUE(velmora::LoadPicture(dir.File(name), back, error)) << name << ": " << error;
    EXPECT_EQ(back.Width, 12) << name;
  }
}

namespace {

// An 8-bit run-length coded bitmap (two colours) with `data` as its pixels.
std::string Rle8Bmp(int width, int height, const std::string &data) {
  std::string b(62, '\0');
  auto put32 = [&b](std::size_t at, std::uint32_t v) { std::memcpy(&b[at], &v, 4); };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, static_cast<std::uint32_t>(62 + data.size()));
  put32(10, 62);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(width));
  put32(22, static_cast<std::uint32_t>(height));
  b[26] = 1;
  b[28] = 8;
  put32(30, 1);  // RLE8
  put32(34, static_cast<std::uint32_t>(data.size()));
  put32(46, 2);                                      // colours used
  b[58] = b[59] = b[60] = static_cast<char>(0xFF);  // colour 1 white, colour 0 black
  return b + data;
}

}  // namespace

// Cut files open with a warning instead of showing made-up pixels as if whole.
TEST(PictureFile, CutRunLengthBitmapsAndEarlyEndMarkersWarn) {
  TTempDir dir;
  std::string error, warning;
  TPicture back;
  const std::string row("\x04\x01\x00\x00", 4);  // four pixels of colour 1, end of row
  Put(dir.File("whole.bmp"), Rle8Bmp(4, 4, row + row + row + row + std::string("\x00\x01", 2)));
  ASSERT_TRUE(velmora::LoadPicture(dir.File("whole.bmp"), back, error, &warning)) << error;
  EXPECT_EQ(back.Pixel(0, 0), velmora::White);
  EXPECT_EQ(warning, "");
  Put(dir.File("cut.bmp"), Rle8Bmp(4, 4, row + row));
  ASSERT_TRUE(velmora::LoadPicture(dir.File("cut.bmp"), back, error, &warning)) << error;
  EXPECT_NE(warning.find("途中で切れています"), std::string::npos) << warning;
  // A JPEG whose scan data ends early at its end marker.
  std::string jpeg;
  ASSERT_TRUE(velmora::EncodeJpeg(Sample(64, 64), 90, jpeg, error));
  const std::size_t sos = jpeg.find("\xFF\xDA");
  ASSERT_NE(sos, std::string::npos);
  const std::size_t data = sos + 2 + (static_cast<unsigned char>(jpeg[sos + 2]) << 8 | static_cast<unsigned char>(jpeg[sos + 3]));
  Put(dir.File("ended.jpg"), jpeg.substr(0, data + (jpeg.size() - data) / 3) + "\xFF\xD9");
  warning.clear();
  ASSERT_TRUE(velmora::LoadPicture(dir.File("ended.jpg"), back, error, &warning)) << error;
  EXPECT_NE(warning.find("途中で切れています"), std::string::npos) << warning;
}

TEST(PictureFile, PngRoundTrips) {
  TTempDir dir;
  const TPicture p = Sample(20, 9);
  std::string error;
  ASSERT_TRUE(velmora::SavePicture(dir.File("a.png"), p, error)) << error;
  EXPECT_EQ(Slurp(dir.File("a.png")).substr(1, 3), "PNG");
  TPicture back;
  ASSERT_TRUE(velmora::LoadPicture(dir.File("a.png"), back, error)) << error;
  EXPECT_EQ(back.Pixels, p.Pixels);
}

TEST(PictureFile, JpegIsQuality100BaselineAndDecodesAtBestQuality) {
  TTempDir dir;
  TPicture p = TPicture::Filled(640, 480, velmora::Black);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) p.SetPixel(x, y, velmora::Rgb(x * 255 / 639, y * 255 / 479, 128));
  std::string error;
  for (const char *name : {"a.jpg", "a.jpeg"}) {
    ASSERT_TRUE(velmora::SavePicture(dir.File(name), p, error)) << error;
    const std::string bytes = Slurp(dir.File(name));
    ASSERT_EQ(bytes.substr(0, 2), "\xFF\xD8");
    EXPECT_NE(bytes.find("\xFF\xC0"), std::string::npos) << "a baseline frame";
    const TJpegFacts facts = Inspect(bytes);
    EXPECT_FALSE(facts.Progressive);
    EXPECT_TRUE(facts.AllQuantOne) << "quality 100";
    TPicture back;
    ASSERT_TRUE(velmora::LoadPicture(dir.File(name), back, error)) << error;
    EXPECT_EQ(back.Width, 640);
    EXPECT_EQ(back.Height, 480);
    EXPECT_EQ(back.Pixels, facts.Pixels) << "exactly the pixels libjpeg decodes at best quality";
    double total = 0;
    for (std::size_t i = 0; i < p.Pixels.size(); ++i)
      for (int shift : {0, 8, 16})
        total += std::abs(static_cast<int>((p.Pixels[i] >> shift) & 255) - static_cast<int>((back.Pixels[i] >> shift) & 255));
    EXPECT_LT(total / (3.0 * static_cast<double>(p.Pixels.size())), 1.0) << "close to the original";
  }
}

TEST(PictureFile, HostileFilesFailCleanly) {
  TTempDir dir;
  std::string error;
  TPicture picture = TPicture::Filled(3, 3, velmora::White);
  const TPicture before = picture;
  auto refuses = [&](const std::string &name, const std::string &bytes, const std::string &needle) {
    Put(dir.File(name), bytes);
    error.clear();
    EXPECT_FALSE(velmora::LoadPicture(dir.File(name), picture, error)) << name;
    EXPECT_NE(error.find(needle), std::string::npos) << name << ": " << error;
    EXPECT_EQ(picture.Pixels, before.Pixels) << name;
  };

  // A bitmap whose pixel data stops half-way.
  const std::string bmp = Bmp(Sample(50, 40));
  refuses("cut.bmp", bmp.substr(0, bmp.size() / 2), "ビットマップ");
  // A bitmap wider than any picture we accept.
  refuses("wide.bmp", Bmp(TPicture::Filled(10001, 1, 0)), "10001");
  // A bitmap header claiming absurd sizes and depth (found by fuzzing: the
  // length check overflowed).
  std::string absurd = Bmp(Sample(4, 4));
  absurd[18] = absurd[19] = absurd[20] = static_cast<char>(0xF0);
  absurd[21] = 0x7F;
  absurd[22] = absurd[23] = absurd[24] = static_cast<char>(0xF0);
  absurd[25] = 0x7F;
  absurd[28] = static_cast<char>(0xFF);
  refuses("absurd.bmp", absurd, "扱えません");
  // A JPEG header claiming 65000 x 65000.
  std::string jpeg, jerr;
  ASSERT_TRUE(velmora::EncodeJpeg(Sample(16, 16), 90, jpeg, jerr));
  const std::size_t sof = jpeg.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  std::string huge = jpeg;
  huge[sof + 5] = huge[sof + 7] = static_cast<char>(0xFD);
  huge[sof + 6] = huge[sof + 8] = static_cast<char>(0xE8);
  refuses("huge.jpg", huge, "65000");
  refuses("garbage.jpg", std::string(300, 'x'), "JPEG エラー");
  refuses("empty.jpg", "", "JPEG エラー");
  refuses("garbage.bmp", "BM" + std::string(100, '\x01'), "");
  refuses("noise.png", "\x89PNG\r\n\x1a\n" + std::string(64, '\x7f'), "PNG");
  // A text chunk claiming 2 GB (found by fuzzing: the reader allocated it).
  std::string png;
  ASSERT_TRUE(velmora::EncodePng(Sample(9, 7), png, jerr));
  std::string text = std::string("\x7f\xff\xff\xf0", 4) + "tEXtComment" + std::string(20, 'x');
  refuses("bomb.png", png.substr(0, 33) + text + png.substr(33), "PNG");
  // A PNG cut short.
  refuses("cut.png", png.substr(0, png.size() - 20), "PNG");
  EXPECT_FALSE(velmora::LoadPicture(dir.File("missing.bmp"), picture, error));
  EXPECT_FALSE(velmora::LoadPicture(dir.Path, picture, error));
}

TEST(PictureFile, FailedSavesKeepTheOldFile) {
  TTempDir dir;
  std::string error;
  Put(dir.File("old.bmp"), "old");
  ASSERT_EQ(mkdir(dir.File("taken.bmp").c_str(), 0755), 0);
  EXPECT_FALSE(velmora::SavePicture(dir.File("taken.bmp"), Sample(2, 2), error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(velmora::SavePicture(dir.File("no/such/dir.bmp"), Sample(2, 2), error));
  EXPECT_EQ(Slurp(dir.File("old.bmp")), "old");
  EXPECT_EQ(dir.Entries().size(), 2u) << "no temporary file is left";
}

// Pictures are saved by the same primitive as documents: a hard-linked picture
// stays one file with its group and mode.
TEST(PictureFile, SavesKeepLinksGroupAndMode) {
  TTempDir dir;
  const std::string path = dir.File("p.png"), other = dir.File("same.png");
  Put(path, "old picture");
  ASSERT_EQ(chmod(path.c_str(), 0604), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(path.c_str(), 12345, 12346), 0);
  }
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  std::string error;
  ASSERT_TRUE(velmora::SavePicture(path, Sample(8, 8), error)) << error;
  ASSERT_EQ(link(path.c_str(), other.c_str()), 0);
  ASSERT_TRUE(velmora::SavePicture(path, Sample(5, 5), error)) << error;
  struct stat a {}, b {};
  ASSERT_EQ(stat(path.c_str(), &a), 0);
  ASSERT_EQ(stat(other.c_str(), &b), 0);
  EXPECT_EQ(a.st_ino, b.st_ino);
  EXPECT_EQ(a.st_mode & 07777, 0604u);
  EXPECT_EQ(a.st_uid, before.st_uid);
  EXPECT_EQ(a.st_gid, before.st_gid);
  TPicture back;
  ASSERT_TRUE(velmora::LoadPicture(other, back, error)) << error;
  EXPECT_EQ(back.Width, 5);
  EXPECT_EQ(dir.Entries().size(), 2u);
}
