#include "paint/Picture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "engine/HugePages.h"
#include "text/FloatFormat.h"

namespace velmora {

namespace {
constexpr std::size_t HugePage = HugePageBytes;
std::size_t Rounded(std::size_t bytes) { return (bytes + HugePage - 1) / HugePage * HugePage; }

// The last large buffer let go of, kept for the next one of about its size:
// a picture replaced by a new one of the same size, or a saved picture's
// file bytes, then need no fresh memory (whose first touch costs more than
// writing it). Only one, and not the largest pictures, so little is held.
constexpr std::size_t MaxKeptBytes = std::size_t{64} << 20;
std::mutex KeptLock;
void *Kept = nullptr;
std::size_t KeptBytes = 0;
}  // namespace

void *AllocatePixels(std::size_t bytes) {
  if (bytes < HugePage) return ::operator new(bytes);
  if (bytes > SIZE_MAX - HugePage) throw std::bad_alloc();
  const std::size_t rounded = Rounded(bytes);
  {
    const std::lock_guard<std::mutex> hold(KeptLock);
    if (Kept && KeptBytes >= rounded && KeptBytes / 2 <= rounded) {
      void *pixels = Kept;
      ShrinkHugePages(pixels, KeptBytes, rounded);
      Kept = nullptr;
      KeptBytes = 0;
      return pixels;
    }
  }
  void *pixels = MapHugePages(rounded);
  if (!pixels) throw std::bad_alloc();
  return pixels;
}

void FreePixels(void *pixels, std::size_t bytes) noexcept {
  if (bytes < HugePage) {
    ::operator delete(pixels);
    return;
  }
  std::size_t rounded = Rounded(bytes);
  if (rounded <= MaxKeptBytes) {
    const std::lock_guard<std::mutex> hold(KeptLock);
    std::swap(pixels, Kept);  // this one is kept; the one kept before goes
    std::swap(rounded, KeptBytes);
  }
  UnmapHugePages(pixels, rounded);
}

bool CheckPictureSize(long long width, long long height, std::string &error) {
  if (width >= 1 && height >= 1 && width <= MaxPictureSide && height <= MaxPictureSide) return true;
  error = "画像の大きさは横幅・高さとも 1 から " + std::to_string(MaxPictureSide) + " ピクセルまでです（" +
          std::to_string(width) + " × " + std::to_string(height) + " は扱えません）．";
  return false;
}

bool PictureSizeOf(long double width, long double height, int &w, int &h, std::string &error) {
  const long double fw = floorl(width), fh = floorl(height);
  if (fw >= 1 && fh >= 1 && fw <= MaxPictureSide && fh <= MaxPictureSide) {  // NaN fails here
    w = static_cast<int>(fw);
    h = static_cast<int>(fh);
    return true;
  }
  error = "画像の大きさは横幅・高さとも 1 から " + std::to_string(MaxPictureSide) + " ピクセルまでです（" +
          text::FormatGeneral(width) + " × " + text::FormatGeneral(height) + " は扱えません）．";
  return false;
}

TPicture TPicture::Filled(int width, int height, std::uint32_t colour) {
  TPicture p;
  p.Width = width;
  p.Height = height;
  p.Pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), colour);
  return p;
}

void TPicture::Resize(int width, int height) {
  if (width == Width && height == Height) return;
  TPicture bigger = Filled(width, height, White);
  const int w = std::min(width, Width), h = std::min(height, Height);
  for (int y = 0; y < h; ++y) {
    std::copy_n(Pixels.begin() + static_cast<long>(Index(0, y)), w,
                bigger.Pixels.begin() + static_cast<long>(bigger.Index(0, y)));
  }
  *this = std::move(bigger);
}

}  // namespace velmora
