#include "engine/CheckedMath.h"

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/MathErrorManager.h"

// Comparisons use the quiet forms (isless and friends): an ordinary < on a NaN
// raises the invalid-operation flag, which the executor would take for a
// processor fault although the library reports NaN arguments as math errors.

namespace velmora::checked {

namespace {

enum { Domain = 1, Singularity = 2, Overflow = 3, Underflow = 4, TotalLoss = 5 };

// Runs f with the status flags restored afterwards.
template <class F>
long double Quietly(F f) {
  fexcept_t saved;
  fegetexceptflag(&saved, FE_ALL_EXCEPT);
  long double r = f();
  Settle(r);
  fesetexceptflag(&saved, FE_ALL_EXCEPT);
  return r;
}

template <class F>
long double Fault(int type, const char *name, long double arg1, long double arg2, F library) {
  TMathFault fault;
  fault.Type = type;
  fault.Name = name;
  fault.Arg1 = arg1;
  fault.Arg2 = arg2;
  if (MathErrorHook(fault)) return fault.Result;
  return Quietly(library);
}

// The exponential functions judge their range from the sign, the exponent and
// the top 16 bits of the 80-bit significand: this key orders magnitudes that way
// (infinities and NaNs, with the largest exponent, count as huge).
std::uint32_t MagnitudeKey(long double x, bool &negative) {
  unsigned char bytes[sizeof(long double)];
  std::memcpy(bytes, &x, sizeof bytes);
  std::uint64_t significand;
  std::uint16_t signExponent;
  std::memcpy(&significand, bytes, 8);
  std::memcpy(&signExponent, bytes + 8, 2);
  negative = (signExponent & 0x8000) != 0;
  return (static_cast<std::uint32_t>(signExponent & 0x7FFF) << 16) | static_cast<std::uint32_t>(significand >> 48);
}

const std::uint32_t OverflowKey = [] { bool n; return MagnitudeKey(11356.5L, n); }();
const std::uint32_t UnderflowKey = [] { bool n; return MagnitudeKey(11355.0L, n); }();

bool IsInfOrNaN(long double x) { return !std::isfinite(x); }

// The 15-bit exponent field of an 80-bit value (0 for zeros and subnormals).
int BinaryExponentField(long double x) {
  unsigned char bytes[sizeof(long double)];
  std::memcpy(bytes, &x, sizeof bytes);
  std::uint16_t signExponent;
  std::memcpy(&signExponent, bytes + 8, 2);
  return signExponent & 0x7FFF;
}

}  // namespace

long double Asin(long double x) {
  if (!std::islessequal(std::fabs(x), 1.0L)) return Fault(Domain, "asinl", x, 0, [x] { return asinl(x); });
  return asinl(x);
}

long double Acos(long double x) {
  if (!std::islessequal(std::fabs(x), 1.0L)) return Fault(Domain, "acosl", x, 0, [x] { return acosl(x); });
  return acosl(x);
}

long double Atan(long double x) { return atanl(x); }

long double Atan2(long double y, long double x) {
  // The library hands the arguments over as (x, y).
  if ((y == 0 && x == 0) || (IsInfOrNaN(y) && IsInfOrNaN(x)))
    return Fault(Domain, "atan2l", x, y, [x, y] { return atan2l(y, x); });
  return atan2l(y, x);
}

long double Abs(long double x) { return fabsl(x); }

long double Cos(long double x) {
  if (std::isgreaterequal(std::fabs(x), 0x1p63L)) return Fault(TotalLoss, "cosl", x, 0, [x] { return cosl(x); });
  return cosl(x);
}

long double Sin(long double x) {
  if (std::isgreaterequal(std::fabs(x), 0x1p63L)) return Fault(TotalLoss, "sinl", x, 0, [x] { return sinl(x); });
  return sinl(x);
}

long double Tan(long double x) {
  if (std::isgreaterequal(std::fabs(x), 0x1p63L)) return Fault(TotalLoss, "tanl", x, 0, [x] { return tanl(x); });
  return tanl(x);
}

long double Exp(long double x) {
  bool negative;
  const std::uint32_t key = MagnitudeKey(x, negative);
  if (!negative && key >= OverflowKey) return Fault(Overflow, "expl", x, 0, [x] { return expl(x); });
  if (negative && key >= UnderflowKey) return Fault(Underflow, "expl", x, 0, [x] { return expl(x); });
  return expl(x);
}

long double Cosh(long double x) {
  bool negative;
  const std::uint32_t key = MagnitudeKey(x, negative);
  if (!negative && key >= OverflowKey) return Fault(Overflow, "coshl", x, 0, [x] { return coshl(x); });
  if (negative && key >= UnderflowKey) return Fault(Underflow, "coshl", x, 0, [x] { return coshl(x); });
  return coshl(x);
}

long double Sinh(long double x) {
  bool negative;
  if (MagnitudeKey(x, negative) >= OverflowKey) return Fault(Overflow, "sinhl", x, 0, [x] { return sinhl(x); });
  return sinhl(x);
}

long double Tanh(long double x) { return tanhl(x); }

namespace {
long double CheckedLog(long double x, const char *name, long double (*library)(long double)) {
  const int kind = std::fpclassify(x);
  if (kind == FP_ZERO || kind == FP_SUBNORMAL) return Fault(Singularity, name, x, 0, [=] { return library(x); });
  if (std::isless(x, 0.0L)) return Fault(Domain, name, x, 0, [=] { return library(x); });
  if (kind == FP_NAN || (kind == FP_INFINITE && x > 0)) return Fault(Overflow, name, x, 0, [=] { return library(x); });
  return library(x);
}
}  // namespace

long double Ln(long double x) { return CheckedLog(x, "logl", logl); }
long double Log10(long double x) { return CheckedLog(x, "log10l", log10l); }

long double Sqrt(long double x) {
  if (std::isless(x, 0.0L)) {
    // A negative zero or denormal comes back unchanged.
    if (std::fpclassify(x) == FP_SUBNORMAL) return x;
    return Fault(Domain, "sqrtl", x, 0, [x] { return sqrtl(x); });
  }
  return sqrtl(x);
}

long double Ceil(long double x) { return ceill(x); }
long double Floor(long double x) { return floorl(x); }

long double Pow(long double x, long double y) {
  // The common case first. For x = m * 2^e (1 <= m < 2, not subnormal),
  // |y * ln|x|| <= |y| * (|e| + 1) * ln 2; below 16000 * 0.7 it is far from
  // both limits and none of the tests below can apply to a positive x.
  const int exponentField = BinaryExponentField(x);
  if (exponentField != 0 && exponentField != 0x7FFF && std::isgreater(x, 0.0L)) {
    const long double magnitude = std::fabs(y);
    if (std::isless(magnitude, 16000.0L) && magnitude * (std::abs(exponentField - 16383) + 1) < 16000.0L)
      return powl(x, y);
  }
  auto library = [x, y] { return powl(x, y); };
  if (IsInfOrNaN(x)) {
    if (!std::isless(y, 0.0L)) return Fault(Overflow, "powl", x, y, library);
    if (std::isinf(x)) return Fault(Underflow, "powl", x, y, library);
    return powl(x, y);
  }
  if (IsInfOrNaN(y) && x != 0) return Fault(Overflow, "powl", x, y, library);
  if (x == 0 && !std::isgreater(y, 0.0L)) return Fault(Domain, "powl", x, y, library);
  if (std::isless(x, 0.0L) && floorl(y) != y) return Fault(Domain, "powl", x, y, library);
  if (y == 0) return 1;
  if (x == 0) return 0;
  const long double t = Quietly([x, y] { return y * logl(std::fabs(x)); });
  if (std::isgreaterequal(t, 11356.5L)) return Fault(Overflow, "powl", x, y, library);
  if (std::islessequal(t, -11355.0L)) return Fault(Underflow, "powl", x, y, library);
  return powl(x, y);
}

long double Mod(long double x, long double y) { return fmodl(x, y); }

}  // namespace velmora::checked
