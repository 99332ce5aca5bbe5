// Animated WebP through libwebp's animation encoder, lossless: a frame read
// back is the painted picture exactly.
#include <webp/encode.h>
#include <webp/mux.h>

#include <string_view>

#include "paint/AnimationFiles.h"
#include "text/LineList.h"

namespace velmora {

namespace {

class TWebpWriter : public TFrameWriter {
 public:
  TWebpWriter(std::string path, int width, int height, double fps, const std::atomic<bool> *cancel)
      : Path(std::move(path)), Width(width), Height(height), Fps(fps), Cancel(cancel) {
    WebPAnimEncoderOptions options;
    if (!WebPAnimEncoderOptionsInit(&options)) return;
    options.anim_params.loop_count = 0;  // for ever
    options.allow_mixed = 0;
    options.minimize_size = 0;
    Encoder = WebPAnimEncoderNew(width, height, &options);
  }
  ~TWebpWriter() override {
    if (Encoder) WebPAnimEncoderDelete(Encoder);
  }

  bool Add([[maybe_unused]] int frame, const TPicture &picture, std::string &error) override {
    if (!Encoder) return Fail("WebP の書き出しを始められません", error);
    WebPConfig config;
    if (!WebPConfigInit(&config) || !WebPConfigLosslessPreset(&config, LosslessLevel))
      return Fail("WebP の設定ができません", error);
    config.exact = 1;
    config.thread_level = 1;
    WebPPicture image;
    if (!WebPPictureInit(&image)) return Fail("WebP の設定ができません", error);
    image.use_argb = 1;
    image.width = Width;
    image.height = Height;
    // Our pixels are R, G, B and an unused byte in memory order.
    const bool imported = WebPPictureImportRGBX(&image, reinterpret_cast<const std::uint8_t *>(picture.Pixels.data()),
                                                Width * 4) != 0;
    const bool added = imported && WebPAnimEncoderAdd(Encoder, &image, static_cast<int>(FrameTimeMs(Count, Fps)),
                                                      &config) != 0;
    WebPPictureFree(&image);
    if (!added) return Fail(imported ? WebPAnimEncoderGetError(Encoder) : "メモリが足りません", error);
    ++Count;
    return true;
  }

  bool Finish(const std::atomic<bool> *cancel, std::string &error) override {
    if (!Encoder) return Fail("WebP の書き出しを始められません", error);
    // The last frame lasts as long as the others.
    if (!WebPAnimEncoderAdd(Encoder, nullptr, static_cast<int>(FrameTimeMs(Count, Fps)), nullptr))
      return Fail(WebPAnimEncoderGetError(Encoder), error);
    WebPData data;
    WebPDataInit(&data);
    if (!WebPAnimEncoderAssemble(Encoder, &data)) return Fail(WebPAnimEncoderGetError(Encoder), error);
    const bool saved = text::WriteFileAtomically(
        Path, std::string_view(reinterpret_cast<const char *>(data.bytes), data.size), error, {},
        cancel ? cancel : Cancel);
    WebPDataClear(&data);
    return saved;
  }

 private:
  static bool Fail(const std::string &why, std::string &error) {
    error = "WebP: " + why;
    return false;
  }
  // libwebp's lossless effort, 0 to 9: this one keeps the encoding well
  // behind the painting while the files stay small.
  static constexpr int LosslessLevel = 1;
  std::string Path;
  int Width, Height;
  double Fps;
  const std::atomic<bool> *Cancel;
  WebPAnimEncoder *Encoder = nullptr;
  int Count = 0;
};

}  // namespace

std::unique_ptr<TFrameWriter> MakeWebpWriter(const std::string &path, int width, int height, double fps,
                                             const std::atomic<bool> *cancel) {
  return std::make_unique<TWebpWriter>(path, width, height, fps, cancel);
}

}  // namespace velmora
