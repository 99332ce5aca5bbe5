#include "paint/AnimationFiles.h"

#include <cmath>
#include <cstdio>

#include "paint/PictureFile.h"

namespace velmora {

namespace {

// The one field of a frame pattern: where it is, how long, its width and padding.
struct TField {
  std::size_t Begin = 0, Length = 0;
  int Width = 0;
  bool Zeros = false;
};

bool FindField(const std::string &path, TField &field) {
  int fields = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] != '%') continue;
    if (i + 1 < path.size() && path[i + 1] == '%') {
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    const bool zeros = j < path.size() && path[j] == '0';
    if (zeros) ++j;
    int width = 0;
    if (j < path.size() && path[j] >= '1' && path[j] <= '9') width = path[j++] - '0';
    if (j >= path.size() || path[j] != 'd') return false;
    field = {i, j + 1 - i, width, zeros};
    ++fields;
    i = j;
  }
  return fields == 1;
}

std::string Unescape(const std::string &text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') ++i;
  }
  return out;
}

class TFrameFiles : public TFrameWriter {
 public:
  TFrameFiles(std::string pattern, const std::atomic<bool> *cancel) : Pattern(std::move(pattern)), Cancel(cancel) {}
  bool Add(int frame, const TPicture &picture, std::string &error) override {
    return AddWithRecipe(frame, picture, std::string(), error);
  }
  // A PNG frame carries its recipe, as a painted picture saved alone does.
  bool WantsRecipes() const override { return PictureFormatFor(FrameFileName(Pattern, 0)) == TPictureFormat::Png; }
  bool AddWithRecipe(int frame, const TPicture &picture, const std::string &recipe, std::string &error) override {
    const std::string name = FrameFileName(Pattern, frame);
    if (SavePicture(name, picture, error, Cancel, recipe.empty() ? nullptr : &recipe)) return true;
    error = name + ": " + error;
    return false;
  }
  // Each frame is in its file already.
  bool Finish([[maybe_unused]] const std::atomic<bool> *cancel, [[maybe_unused]] std::string &error) override {
    return true;
  }

 private:
  std::string Pattern;
  const std::atomic<bool> *Cancel;
};

}  // namespace

bool IsFramePattern(const std::string &path) {
  TField field;
  return FindField(path, field);
}

std::string FrameFileName(const std::string &pattern, int frame) {
  TField field;
  if (!FindField(pattern, field)) return pattern;
  char number[32];
  std::snprintf(number, sizeof number, field.Zeros ? "%0*d" : "%*d", field.Width, frame);
  return Unescape(pattern.substr(0, field.Begin)) + number + Unescape(pattern.substr(field.Begin + field.Length));
}

bool AnimationFormatFor(const std::string &path, TAnimationFormat &format, std::string &error) {
  if (IsFramePattern(path)) {
    TPictureFormat picture;
    if (!PictureFormatForWriting(FrameFileName(path, 0), picture, error)) return false;
    format = TAnimationFormat::Frames;
    return true;
  }
  std::string extension = FileExtension(path);
  for (char &c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (extension == ".webp" || extension == ".gif") {
    format = extension == ".webp" ? TAnimationFormat::WebP : TAnimationFormat::Gif;
    return true;
  }
  error = "アニメーションは .webp（WebP），.gif（GIF），または f%04d.png のように %d の欄を一つ含む名前（1 フレーム 1 ファイル: "
          ".png, .bmp, .jpg）で書き出せます";
  return false;
}

long long FrameTimeMs(int k, double fps) { return std::llround(k * 1000.0 / fps); }

std::unique_ptr<TFrameWriter> MakeFrameWriter(const std::string &path, int width, int height, double fps,
                                              const std::atomic<bool> *cancel, std::string &error) {
  TAnimationFormat format;
  if (!AnimationFormatFor(path, format, error)) return nullptr;
  switch (format) {
    case TAnimationFormat::WebP:
      return MakeWebpWriter(path, width, height, fps, cancel);
    case TAnimationFormat::Gif:
      return MakeGifWriter(path, width, height, fps, cancel);
    case TAnimationFormat::Frames:
      break;
  }
  return std::make_unique<TFrameFiles>(path, cancel);
}

}  // namespace velmora
