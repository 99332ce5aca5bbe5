#pragma once
// A pixel's colour as the carpet formulas see it, both ways: the channel a
// value gives, and the old colour split into getr, getg and getb.
#include <cmath>
#include <cstdint>

#include "paint/Picture.h"

namespace velmora {

// >255 gives 255; below 0 or not a number gives 0; otherwise truncation.
// A plain cast would switch the x87 rounding mode twice per channel; instead
// round to the nearest integer by adding and taking away 2^63 (exact at 64-bit
// precision), step down when that went up, and convert the exact integer.
// Quiet comparisons: a NaN must not leave the invalid flag for the next run.
inline std::uint32_t Channel(long double v) {
  if (std::isgreater(v, 255.0L)) return 255;
  if (!std::isgreaterequal(v, 0.0L)) return 0;
  long double t = (v + 0x1p63L) - 0x1p63L;
  if (std::isgreater(t, v)) t -= 1;
  return static_cast<std::uint32_t>(static_cast<double>(t));
}

inline std::uint32_t ColourOf(long double r, long double g, long double b) {
  return Channel(r) | Channel(g) << 8 | Channel(b) << 16;
}

// The old colour split into channels by the remainder rule. For an ordinary
// pixel the remainders are its bytes; anything else takes the long way.
inline void SplitColour(std::uint32_t colour, long double &r, long double &g, long double &b) {
  if (colour < 0x01000000u) {
    r = RedOf(colour);
    g = GreenOf(colour);
    b = BlueOf(colour);
    return;
  }
  long double t = static_cast<std::int32_t>(colour);
  r = fmodl(t, 256);
  t = (t - r) * 0.00390625L;
  g = fmodl(t, 256);
  t = (t - g) * 0.00390625L;
  b = fmodl(t, 256);
}

// Where a pixel's inputs go: x, y, and (when something reads it) the old
// colour split into getr, getg and getb. Every pixel runner sets them here.
struct TPixelInputs {
  long double *X = nullptr, *Y = nullptr;
  long double *OldColour[3] = {nullptr, nullptr, nullptr};  // all three set when ReadsOldColour
  bool ReadsOldColour = false;

  void Set(const TPicture &source, int px, int py) const {
    *X = px;
    *Y = py;
    if (ReadsOldColour) SplitColour(source.Pixel(px, py), *OldColour[0], *OldColour[1], *OldColour[2]);
  }
};

}  // namespace velmora
