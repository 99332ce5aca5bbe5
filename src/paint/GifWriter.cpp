// Animated GIF through giflib, each frame with a palette of its own chosen
// by libimagequant (256 colours, dithered).
#include <gif_lib.h>
#include <libimagequant.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "paint/AnimationFiles.h"
#include "text/LineList.h"

namespace velmora {

namespace {

int WriteToString(GifFileType *gif, const GifByteType *bytes, int count) {
  static_cast<std::string *>(gif->UserData)->append(reinterpret_cast<const char *>(bytes), static_cast<std::size_t>(count));
  return count;
}

// Holders that give the libraries' objects back on every path.
struct TQuantized {
  liq_attr *Attr = liq_attr_create();
  liq_image *Image = nullptr;
  liq_result *Result = nullptr;
  ~TQuantized() {
    if (Result) liq_result_destroy(Result);
    if (Image) liq_image_destroy(Image);
    if (Attr) liq_attr_destroy(Attr);
  }
};

class TGifWriter : public TFrameWriter {
 public:
  TGifWriter(std::string path, int width, int height, double fps, const std::atomic<bool> *cancel)
      : Path(std::move(path)), Width(width), Height(height), Fps(fps), Cancel(cancel) {
    int status = 0;
    Gif = EGifOpen(&Bytes, WriteToString, &status);
    if (!Gif) return;
    EGifSetGifVersion(Gif, true);
    // A screen without a palette of its own; then "loop for ever".
    static const GifByteType Loop[] = {1, 0, 0};
    Ready = EGifPutScreenDesc(Gif, width, height, 8, 0, nullptr) == GIF_OK &&
            EGifPutExtensionLeader(Gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
            EGifPutExtensionBlock(Gif, 11, "NETSCAPE2.0") == GIF_OK && EGifPutExtensionBlock(Gif, 3, Loop) == GIF_OK &&
            EGifPutExtensionTrailer(Gif) == GIF_OK;
  }
  ~TGifWriter() override {
    if (Gif) EGifCloseFile(Gif, nullptr);
  }

  bool Add([[maybe_unused]] int frame, const TPicture &picture, std::string &error) override {
    if (!Ready) return Fail("GIF の書き出しを始められません", error);
    std::vector<std::uint8_t> indices;
    ColorMapObject *map = Quantize(picture, indices);
    if (!map) return Fail("色の選択に失敗しました", error);
    // Delays in hundredths of a second, rounded so that they add up to the frame rate.
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSE_DO_NOT;
    control.DelayTime = static_cast<int>((FrameTimeMs(Count + 1, Fps) + 5) / 10 - (FrameTimeMs(Count, Fps) + 5) / 10);
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType extension[4];
    EGifGCBToExtension(&control, extension);
    bool ok = EGifPutExtension(Gif, GRAPHICS_EXT_FUNC_CODE, 4, extension) == GIF_OK &&
              EGifPutImageDesc(Gif, 0, 0, Width, Height, false, map) == GIF_OK;
    for (int y = 0; ok && y < Height; ++y)
      ok = EGifPutLine(Gif, indices.data() + static_cast<std::size_t>(y) * Width, Width) == GIF_OK;
    GifFreeMapObject(map);
    if (!ok) return Ready = false, Fail(GifErrorString(Gif->Error), error);
    ++Count;
    return true;
  }

  bool Finish(const std::atomic<bool> *cancel, std::string &error) override {
    if (!Ready) return Fail("GIF の書き出しを始められません", error);
    int status = 0;
    const bool closed = EGifCloseFile(Gif, &status) == GIF_OK;
    Gif = nullptr;
    if (!closed) return Fail(GifErrorString(status), error);
    return text::WriteFileAtomically(Path, Bytes, error, {}, cancel ? cancel : Cancel);
  }

 private:
  static bool Fail(const char *why, std::string &error) {
    error = std::string("GIF: ") + (why ? why : "書き出しに失敗しました");
    return false;
  }

  // The frame's palette (null on failure) and each pixel's index into it.
  ColorMapObject *Quantize(const TPicture &picture, std::vector<std::uint8_t> &indices) const {
    std::vector<std::uint32_t> rgba(picture.Pixels.begin(), picture.Pixels.end());
    for (std::uint32_t &p : rgba) p |= 0xFF000000u;  // opaque: R, G, B, A in memory order
    TQuantized q;
    if (!q.Attr || liq_set_speed(q.Attr, 5) != LIQ_OK) return nullptr;
    q.Image = liq_image_create_rgba(q.Attr, rgba.data(), Width, Height, 0);
    if (!q.Image || liq_image_quantize(q.Image, q.Attr, &q.Result) != LIQ_OK) return nullptr;
    liq_set_dithering_level(q.Result, 1.0f);
    indices.resize(static_cast<std::size_t>(Width) * Height);
    if (liq_write_remapped_image(q.Result, q.Image, indices.data(), indices.size()) != LIQ_OK) return nullptr;
    const liq_palette *palette = liq_get_palette(q.Result);
    // giflib wants a power of two; the rest stays black.
    ColorMapObject *map = GifMakeMapObject(256, nullptr);
    if (!map) return nullptr;
    std::memset(map->Colors, 0, sizeof(GifColorType) * 256);
    for (unsigned i = 0; i < palette->count && i < 256; ++i)
      map->Colors[i] = {palette->entries[i].r, palette->entries[i].g, palette->entries[i].b};
    return map;
  }

  std::string Path;
  int Width, Height;
  double Fps;
  const std::atomic<bool> *Cancel;
  std::string Bytes;
  GifFileType *Gif = nullptr;
  bool Ready = false;
  int Count = 0;
};

}  // namespace

std::unique_ptr<TFrameWriter> MakeGifWriter(const std::string &path, int width, int height, double fps,
                                            const std::atomic<bool> *cancel) {
  return std::make_unique<TGifWriter>(path, width, height, fps, cancel);
}

}  // namespace velmora
