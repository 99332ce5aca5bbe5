#include "paint/JpegCodec.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

namespace velmora {

namespace {

// libjpeg reports errors by calling error_exit, which must not return. Ours
// jumps back into the phase function that set `Jump`. The phase functions
// below hold no C++ objects with destructors, so the jump skips nothing.
struct TJpegError {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
  int Code;
  bool TooManyScans;
  bool Truncated;  // the data ended early; libjpeg filled in the rest
};

void ErrorExit(j_common_ptr cinfo) {
  TJpegError *err = reinterpret_cast<TJpegError *>(cinfo->err);
  err->Code = err->Manager.msg_code;
  (*err->Manager.format_message)(cinfo, err->Message);
  std::longjmp(err->Jump, 1);
}

// Corrupt-data warnings are not fatal; one of them is worth telling the user.
// A scan that meets a marker (often the end marker) before its data is
// complete is a cut file too.
void NoteWarning(j_common_ptr cinfo, int level) {
  TJpegError *err = reinterpret_cast<TJpegError *>(cinfo->err);
  if (level < 0 && (err->Manager.msg_code == JWRN_JPEG_EOF || err->Manager.msg_code == JWRN_HIT_MARKER))
    err->Truncated = true;
}

struct TReader {
  jpeg_decompress_struct Info;
  TJpegError Error;
  jpeg_progress_mgr Progress;
};

void CheckScans(j_common_ptr cinfo) {
  auto *info = reinterpret_cast<j_decompress_ptr>(cinfo);
  const long long work = static_cast<long long>(info->input_scan_number) * info->image_width * info->image_height;
  if (info->input_scan_number > MaxJpegScans || work > MaxJpegScanWork) {
    TJpegError *err = reinterpret_cast<TJpegError *>(cinfo->err);
    err->TooManyScans = true;
    std::longjmp(err->Jump, 1);
  }
}

void InitError(TJpegError &e) {
  jpeg_std_error(&e.Manager);
  e.Manager.error_exit = ErrorExit;
  e.Manager.emit_message = NoteWarning;
  e.Message[0] = '\0';
  e.Code = 0;
  e.TooManyScans = false;
  e.Truncated = false;
}

// Phase 1: read the header. Returns false on a libjpeg error.
bool ReadHeader(TReader *r, const unsigned char *data, std::size_t size) {
  if (setjmp(r->Error.Jump)) return false;
  jpeg_mem_src(&r->Info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&r->Info, TRUE);
  return true;
}

// Phase 2: decode row by row through `row` (width * 3 bytes) into `pixels`.
bool ReadPixels(TReader *r, std::uint32_t *pixels, unsigned char *row) {
  if (setjmp(r->Error.Jump)) return false;
  j_decompress_ptr info = &r->Info;
  info->out_color_space = JCS_RGB;
  info->dct_method = JDCT_ISLOW;
  info->do_fancy_upsampling = TRUE;
  r->Progress.progress_monitor = CheckScans;
  info->progress = &r->Progress;
  jpeg_start_decompress(info);
  const std::size_t width = info->output_width;
  while (info->output_scanline < info->output_height) {
    std::uint32_t *out = pixels + static_cast<std::size_t>(info->output_scanline) * width;
    JSAMPROW rows = row;
    jpeg_read_scanlines(info, &rows, 1);
    for (std::size_t x = 0; x < width; ++x) out[x] = Rgb(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
  }
  jpeg_finish_decompress(info);
  return true;
}

std::string Describe(const TJpegError &e) {
  if (e.Code == JERR_OUT_OF_MEMORY) return "JPEG の処理中にメモリが足りません．";
  if (e.TooManyScans)
    return "JPEG ファイルのスキャン数が多すぎます（" + std::to_string(MaxJpegScans) +
           " まで，大きな画像ではスキャン数 × 画素数が " + std::to_string(MaxJpegScanWork) + " まで）．";
  return "JPEG エラー #" + std::to_string(e.Code) + " (" + e.Message + ")";
}

// Our own memory destination: libjpeg's (jpeg_mem_dest) frees its buffer when
// it grows and tells the caller the new one only at the end, so after an error
// the caller would free a freed buffer. Here `Buffer` is always the live one.
struct TWriter {
  jpeg_compress_struct Info;
  TJpegError Error;
  jpeg_destination_mgr Destination;
  unsigned char *Buffer;
  std::size_t Capacity;
  std::size_t Size;  // bytes finished, set by TermDestination
};

constexpr std::size_t FirstJpegBuffer = 64 * 1024;

TWriter *WriterOf(j_compress_ptr cinfo) {
  return reinterpret_cast<TWriter *>(reinterpret_cast<char *>(cinfo) - offsetof(TWriter, Info));
}

void InitDestination(j_compress_ptr cinfo) {
  TWriter *w = WriterOf(cinfo);
  w->Buffer = static_cast<unsigned char *>(std::malloc(FirstJpegBuffer));
  if (!w->Buffer) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 10);
  w->Capacity = FirstJpegBuffer;
  w->Destination.next_output_byte = w->Buffer;
  w->Destination.free_in_buffer = w->Capacity;
}

// libjpeg calls this when the buffer is full, whatever free_in_buffer says.
boolean GrowDestination(j_compress_ptr cinfo) {
  TWriter *w = WriterOf(cinfo);
  const std::size_t used = w->Capacity;
  auto *grown = static_cast<unsigned char *>(std::realloc(w->Buffer, used * 2));
  if (!grown) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 10);  // the old buffer stays ours, freed once
  w->Buffer = grown;
  w->Capacity = used * 2;
  w->Destination.next_output_byte = w->Buffer + used;
  w->Destination.free_in_buffer = w->Capacity - used;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  TWriter *w = WriterOf(cinfo);
  w->Size = w->Capacity - w->Destination.free_in_buffer;
}

bool WritePixels(TWriter *w, const unsigned char *rgb, int width, int height, int quality) {
  if (setjmp(w->Error.Jump)) return false;
  j_compress_ptr info = &w->Info;
  w->Destination.init_destination = InitDestination;
  w->Destination.empty_output_buffer = GrowDestination;
  w->Destination.term_destination = TermDestination;
  info->dest = &w->Destination;
  info->image_width = static_cast<JDIMENSION>(width);
  info->image_height = static_cast<JDIMENSION>(height);
  info->input_components = 3;
  info->in_color_space = JCS_RGB;
  jpeg_set_defaults(info);
  jpeg_set_quality(info, quality, TRUE);
  jpeg_start_compress(info, TRUE);  // baseline: no progression script is set
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  while (info->next_scanline < info->image_height) {
    JSAMPROW row = const_cast<unsigned char *>(rgb) + static_cast<std::size_t>(info->next_scanline) * stride;
    jpeg_write_scanlines(info, &row, 1);
  }
  jpeg_finish_compress(info);
  return true;
}

}  // namespace

bool DecodeJpeg(const unsigned char *data, std::size_t size, TPicture &picture, std::string &error,
                std::string *warning) {
  TReader *r = static_cast<TReader *>(std::calloc(1, sizeof(TReader)));
  if (!r) {
    error = "JPEG の読み込みに必要なメモリがありません．";
    return false;
  }
  InitError(r->Error);
  r->Info.err = &r->Error.Manager;
  jpeg_create_decompress(&r->Info);
  bool ok = ReadHeader(r, data, size);
  if (!ok) {
    error = Describe(r->Error);
  } else if (!CheckPictureSize(r->Info.image_width, r->Info.image_height, error)) {
    ok = false;  // refused before any pixel memory is taken
  } else {
    const int width = static_cast<int>(r->Info.image_width), height = static_cast<int>(r->Info.image_height);
    // The only picture-sized buffer is the result itself.
    TPicture decoded;
    std::string row;
    try {
      decoded = TPicture::Filled(width, height, Black);
      row.resize(static_cast<std::size_t>(width) * 3);
    } catch (...) {
      jpeg_destroy_decompress(&r->Info);
      std::free(r);
      throw;
    }
    ok = ReadPixels(r, decoded.Pixels.data(), reinterpret_cast<unsigned char *>(row.data()));
    if (!ok) {
      error = Describe(r->Error);
    } else {
      if (r->Error.Truncated && warning)
        *warning = "JPEG ファイルが途中で切れています．欠けた部分は正しく表示されません．";
      picture = std::move(decoded);
    }
  }
  jpeg_destroy_decompress(&r->Info);
  std::free(r);
  return ok;
}

bool EncodeJpeg(const TPicture &picture, int quality, std::string &bytes, std::string &error) {
  std::string rgb(picture.Pixels.size() * 3, '\0');
  auto *q = reinterpret_cast<unsigned char *>(rgb.data());
  for (std::uint32_t pixel : picture.Pixels) {
    *q++ = static_cast<unsigned char>(RedOf(pixel));
    *q++ = static_cast<unsigned char>(GreenOf(pixel));
    *q++ = static_cast<unsigned char>(BlueOf(pixel));
  }
  TWriter *w = static_cast<TWriter *>(std::calloc(1, sizeof(TWriter)));
  if (!w) {
    error = "JPEG の書き出しに必要なメモリがありません．";
    return false;
  }
  InitError(w->Error);
  w->Info.err = &w->Error.Manager;
  jpeg_create_compress(&w->Info);
  const bool ok = WritePixels(w, reinterpret_cast<const unsigned char *>(rgb.data()), picture.Width,
                              picture.Height, quality);
  if (!ok) error = Describe(w->Error);
  jpeg_destroy_compress(&w->Info);
  unsigned char *buffer = w->Buffer;
  const std::size_t size = w->Size;
  std::free(w);
  rgb = std::string();  // room for the copy below
  try {
    if (ok) bytes.assign(reinterpret_cast<const char *>(buffer), size);
  } catch (...) {
    std::free(buffer);
    throw;
  }
  std::free(buffer);
  return ok;
}

}  // namespace velmora
