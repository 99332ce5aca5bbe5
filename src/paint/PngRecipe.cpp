#include "paint/PngRecipe.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <new>

#include "paint/Recipe.h"

namespace velmora {

namespace {

// libpng reports errors by longjmp: the functions that call it hold no C++
// objects with destructors, only what these plain structures point to.
struct TSink {
  std::string *Bytes;
  bool OutOfMemory;
};
struct TSource {
  const char *Data;
  std::size_t Size, At;
};

// Text chunks beyond this are not even decompressed (a small compressed chunk
// may claim gigabytes).
constexpr std::size_t ChunkLimit = 4 * MaxRecipeBytes;

extern "C" void OnPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
extern "C" void OnPngWarning(png_structp, png_const_charp) {}

extern "C" void WriteToSink(png_structp png, png_bytep data, png_size_t length) {
  auto *sink = static_cast<TSink *>(png_get_io_ptr(png));
  bool failed = false;
  try {
    sink->Bytes->append(reinterpret_cast<const char *>(data), length);
  } catch (const std::bad_alloc &) {
    failed = true;
  }
  if (failed) {
    sink->OutOfMemory = true;
    png_error(png, "out of memory");
  }
}
extern "C" void FlushSink(png_structp) {}

extern "C" void ReadFromSource(png_structp png, png_bytep data, png_size_t length) {
  auto *source = static_cast<TSource *>(png_get_io_ptr(png));
  if (length > source->Size - source->At) png_error(png, "file ends early");
  std::memcpy(data, source->Data + source->At, length);
  source->At += length;
}

bool WritePng(const TPicture &picture, const char *text, TSink &sink, unsigned char *row) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &sink, WriteToSink, FlushSink);
  png_set_IHDR(png, info, static_cast<png_uint_32>(picture.Width), static_cast<png_uint_32>(picture.Height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_text chunk = {};
  chunk.compression = PNG_ITXT_COMPRESSION_zTXt;
  chunk.key = const_cast<char *>(RecipeKey);
  chunk.text = const_cast<char *>(text);
  chunk.lang = const_cast<char *>("");
  chunk.lang_key = const_cast<char *>("");
  png_set_text(png, info, &chunk, 1);
  png_write_info(png, info);
  for (int y = 0; y < picture.Height; ++y) {
    for (int x = 0; x < picture.Width; ++x) {
      const std::uint32_t c = picture.Pixel(x, y);
      row[3 * x] = static_cast<unsigned char>(RedOf(c));
      row[3 * x + 1] = static_cast<unsigned char>(GreenOf(c));
      row[3 * x + 2] = static_cast<unsigned char>(BlueOf(c));
    }
    png_write_row(png, row);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

// 1: found (`*copy` is filled), 0: none, -1: unreadable, -2: more than one,
// -3: too large, -4: no memory for the copy.
int ReadText(TSource &source, std::string *copy) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
  if (!png) return -1;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return -1;
  }
  png_set_read_fn(png, &source, ReadFromSource);
  png_set_chunk_malloc_max(png, ChunkLimit);
  png_read_info(png, info);
  png_textp texts = nullptr;
  const int count = png_get_text(png, info, &texts, nullptr);
  int result = 0;
  const png_text *found = nullptr;
  for (int i = 0; i < count; ++i) {
    const png_text &t = texts[i];
    const bool international = t.compression == PNG_ITXT_COMPRESSION_NONE || t.compression == PNG_ITXT_COMPRESSION_zTXt;
    if (!international || std::strcmp(t.key, RecipeKey) != 0) continue;
    result = found ? -2 : 1;
    found = &t;
  }
  if (result == 1 && found->itxt_length > MaxRecipeBytes) result = -3;
  if (result == 1) {
    try {
      copy->assign(found->text, found->itxt_length);
    } catch (const std::bad_alloc &) {
      result = -4;  // thrown again once libpng's memory is let go
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return result;
}

}  // namespace

bool EncodePngWithRecipe(const TPicture &picture, const std::string &recipeText, std::string &bytes,
                         std::string &error) {
  std::string out;
  TSink sink{&out, false};
  std::unique_ptr<unsigned char[]> row(new unsigned char[static_cast<std::size_t>(picture.Width) * 3 + 1]);
  if (!WritePng(picture, recipeText.c_str(), sink, row.get())) {
    if (sink.OutOfMemory) throw std::bad_alloc();
    error = "PNG を書き出せません．";
    return false;
  }
  bytes = std::move(out);
  return true;
}

bool ReadPngRecipeText(const std::string &bytes, std::string &text, bool &found, std::string &error) {
  found = false;
  TSource source{bytes.data(), bytes.size(), 0};
  std::string copy;
  switch (ReadText(source, &copy)) {
    case 0: return true;
    case 1:
      text = std::move(copy);
      found = true;
      return true;
    case -2: error = "PNG 画像にレシピが二つあります．"; return false;
    case -4: throw std::bad_alloc();
    case -3: error = "レシピが大きすぎます（" + std::to_string(MaxRecipeBytes / (1024 * 1024)) + " MB まで）．"; return false;
    default: error = "PNG 画像のレシピを読めません（ファイルが壊れています）．"; return false;
  }
}

}  // namespace velmora
