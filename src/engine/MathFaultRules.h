#pragma once
// When a math function of the formula language faults: the conditions its
// library counterpart is known for, written once. The checked functions
// (CheckedMath.cpp) go by them, and so does the tests' reference evaluator.
// Comparisons use the quiet forms (isless and friends): an ordinary < on a NaN
// raises the invalid-operation flag, which the executor would take for a
// processor fault although the library reports NaN arguments as math errors.
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "compiler/Opcodes.h"
#include "engine/Float80.h"

namespace velmora::checked::rules {

// The fault types as TMathFault numbers them.
enum TFault : int { None = 0, Domain = 1, Singularity = 2, Overflow = 3, Underflow = 4, TotalLoss = 5 };

// The exponential functions judge their range from the sign, the exponent and
// the top 16 bits of the 80-bit significand: this key orders magnitudes that way
// (infinities and NaNs, with the largest exponent, count as huge).
inline std::uint32_t MagnitudeKey(long double x, bool &negative) {
  const TFloat80Bits bits = Float80Bits(x);
  const std::uint64_t significand = bits.Significand;
  const std::uint16_t signExponent = bits.SignExponent;
  negative = (signExponent & 0x8000) != 0;
  return (static_cast<std::uint32_t>(signExponent & 0x7FFF) << 16) | static_cast<std::uint32_t>(significand >> 48);
}
// The keys of 11356.5 and 11355.0 (exponent 13, significand top bits).
inline constexpr std::uint32_t OverflowKey = (0x3FFFu + 13u) << 16 | 0xB172u;
inline constexpr std::uint32_t UnderflowKey = (0x3FFFu + 13u) << 16 | 0xB16Cu;

inline TFault AsinAcos(long double x) { return std::islessequal(std::fabs(x), 1.0L) ? None : Domain; }
// atan2(y, x)
inline TFault Atan2(long double y, long double x) {
  return (y == 0 && x == 0) || (!std::isfinite(y) && !std::isfinite(x)) ? Domain : None;
}
// sin, cos, tan
inline TFault Trigonometric(long double x) {
  return std::isgreaterequal(std::fabs(x), 0x1p63L) ? TotalLoss : None;
}
// exp, cosh
inline TFault Exponential(long double x) {
  bool negative;
  const std::uint32_t key = MagnitudeKey(x, negative);
  if (!negative && key >= OverflowKey) return Overflow;
  if (negative && key >= UnderflowKey) return Underflow;
  return None;
}
inline TFault Sinh(long double x) {
  bool negative;
  return MagnitudeKey(x, negative) >= OverflowKey ? Overflow : None;
}
// ln, log10
inline TFault Logarithm(long double x) {
  const int kind = std::fpclassify(x);
  if (kind == FP_ZERO || kind == FP_SUBNORMAL) return Singularity;
  if (std::isless(x, 0.0L)) return Domain;
  if (kind == FP_NAN || (kind == FP_INFINITE && x > 0)) return Overflow;
  return None;
}
// A negative zero or denormal comes back unchanged, without a fault.
inline bool SqrtPassesThrough(long double x) { return std::isless(x, 0.0L) && std::fpclassify(x) == FP_SUBNORMAL; }
inline TFault Sqrt(long double x) { return std::isless(x, 0.0L) && !SqrtPassesThrough(x) ? Domain : None; }

// pow(x, y). A NaN base with a negative exponent is no fault (the library's
// NaN comes back); y = 0 gives 1 and x = 0 gives 0 without a fault.
inline TFault Pow(long double x, long double y) {
  if (!std::isfinite(x)) {
    if (!std::isless(y, 0.0L)) return Overflow;
    return std::isinf(x) ? Underflow : None;
  }
  if (!std::isfinite(y) && x != 0) return Overflow;
  if (x == 0 && !std::isgreater(y, 0.0L)) return Domain;
  if (std::isless(x, 0.0L) && floorl(y) != y) return Domain;
  if (y == 0 || x == 0) return None;
  fexcept_t saved;
  fegetexceptflag(&saved, FE_ALL_EXCEPT);
  volatile long double t = y * logl(std::fabs(x));
  const long double magnitude = t;
  fesetexceptflag(&saved, FE_ALL_EXCEPT);
  if (std::isgreaterequal(magnitude, 11356.5L)) return Overflow;
  if (std::islessequal(magnitude, -11355.0L)) return Underflow;
  return None;
}

// The rule of an inner function by opcode (None for those that never fault).
inline TFault FaultOf(int opcode, long double x, long double y = 0) {
  switch (opcode) {
    case icAsin: case icAcos: return AsinAcos(x);
    case icAtan2: return Atan2(x, y);
    case icSin: case icCos: case icTan: return Trigonometric(x);
    case icExp: case icCosh: return Exponential(x);
    case icSinh: return Sinh(x);
    case icLn: case icLog10: return Logarithm(x);
    case icSqrt: return Sqrt(x);
    case icPow: return Pow(x, y);
    default: return None;
  }
}

}  // namespace velmora::checked::rules
