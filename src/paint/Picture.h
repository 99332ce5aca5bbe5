#pragma once
// A picture as the painting pipeline sees it: a plain 32-bit pixel buffer,
// red in bits 0-7, green 8-15, blue 16-23, the top byte zero.
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

namespace velmora {

// Pictures are 1 to MaxPictureSide pixels a side, wherever they come from
// (the size dialog, a picture file, a document, the command line).
constexpr int MaxPictureSide = 10000;

// True when w x h is an accepted picture size; otherwise false with a message.
bool CheckPictureSize(long long width, long long height, std::string &error);
// The picture size a document asks for: each value rounded down, then checked;
// the message quotes the values as the document gives them.
bool PictureSizeOf(long double width, long double height, int &w, int &h, std::string &error);

enum class TPictureFormat { Bmp, Jpeg, Png };

constexpr std::uint32_t White = 0x00FFFFFF;
constexpr std::uint32_t Black = 0;

inline std::uint32_t Rgb(int r, int g, int b) {
  return static_cast<std::uint32_t>(r) | static_cast<std::uint32_t>(g) << 8 | static_cast<std::uint32_t>(b) << 16;
}
// The channels of a colour, 0 to 255.
inline int RedOf(std::uint32_t colour) { return static_cast<int>(colour & 0xFF); }
inline int GreenOf(std::uint32_t colour) { return static_cast<int>(colour >> 8 & 0xFF); }
inline int BlueOf(std::uint32_t colour) { return static_cast<int>(colour >> 16 & 0xFF); }

// Large pixel buffers start on a 2 MB boundary and are offered to the kernel
// for huge pages: otherwise a fresh picture costs a page fault for every 4 KB
// when it is first written, as much as painting a cheap carpet into it.
void *AllocatePixels(std::size_t bytes);
void FreePixels(void *pixels, std::size_t bytes) noexcept;

template <class T>
struct TPixelAllocator {
  using value_type = T;
  TPixelAllocator() = default;
  template <class U>
  TPixelAllocator(const TPixelAllocator<U> &) noexcept {}
  T *allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T *>(AllocatePixels(n * sizeof(T)));
  }
  void deallocate(T *p, std::size_t n) noexcept { FreePixels(p, n * sizeof(T)); }
  friend bool operator==(const TPixelAllocator &, const TPixelAllocator &) { return true; }
};
using TPixels = std::vector<std::uint32_t, TPixelAllocator<std::uint32_t>>;

struct TPicture {
  int Width = 0;
  int Height = 0;
  TPixels Pixels;  // row by row, top row first

  static TPicture Filled(int width, int height, std::uint32_t colour);
  std::uint32_t Pixel(int x, int y) const { return Pixels[Index(x, y)]; }
  void SetPixel(int x, int y, std::uint32_t colour) { Pixels[Index(x, y)] = colour; }
  // A new size keeping the top-left part; new area is white.
  void Resize(int width, int height);

 private:
  std::size_t Index(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) + static_cast<std::size_t>(x);
  }
};

}  // namespace velmora
