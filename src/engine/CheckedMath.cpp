#include "engine/CheckedMath.h"

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/Float80.h"
#include "engine/MathErrorManager.h"
#include "engine/MathFaultRules.h"
#include "engine/RunSnapshot.h"

// Each function asks its rule (MathFaultRules.h) first; a fault goes to the hook.

namespace velmora::checked {

namespace {

using namespace rules;

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

// A library call the rules let through. Its result is just the result: the
// status flags it leaves behind say nothing the rules have not said already
// (80-bit powl, for one, returns finite values near the range limits with the
// overflow or underflow flag set), and the executor would take them for a
// processor fault. Flags raised before the call stay as they were.
template <class F>
[[gnu::always_inline]] inline long double Library(F f) {
  const int before = RaisedFaultFlags();
  long double r = f();
  Settle(r);
  const int raised = RaisedFaultFlags() & ~before;
  if (__builtin_expect(raised != 0, 0)) feclearexcept(raised);
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

// The 15-bit exponent field of an 80-bit value (0 for zeros and subnormals).
int BinaryExponentField(long double x) {
  return Float80Bits(x).SignExponent & 0x7FFF;
}

}  // namespace

long double Asin(long double x) {
  if (const TFault f = AsinAcos(x)) return Fault(f, "asinl", x, 0, [x] { return asinl(x); });
  return Library([x] { return asinl(x); });
}

long double Acos(long double x) {
  if (const TFault f = AsinAcos(x)) return Fault(f, "acosl", x, 0, [x] { return acosl(x); });
  return Library([x] { return acosl(x); });
}

long double Atan(long double x) {
  return Library([x] { return atanl(x); });
}

long double Atan2(long double y, long double x) {
  // The library hands the arguments over as (x, y).
  if (const TFault f = rules::Atan2(y, x)) return Fault(f, "atan2l", x, y, [x, y] { return atan2l(y, x); });
  return Library([x, y] { return atan2l(y, x); });
}

long double Abs(long double x) { return fabsl(x); }

long double Cos(long double x) {
  if (const TFault f = Trigonometric(x)) return Fault(f, "cosl", x, 0, [x] { return cosl(x); });
  return Library([x] { return cosl(x); });
}

long double Sin(long double x) {
  if (const TFault f = Trigonometric(x)) return Fault(f, "sinl", x, 0, [x] { return sinl(x); });
  return Library([x] { return sinl(x); });
}

long double Tan(long double x) {
  if (const TFault f = Trigonometric(x)) return Fault(f, "tanl", x, 0, [x] { return tanl(x); });
  return Library([x] { return tanl(x); });
}

long double Exp(long double x) {
  if (const TFault f = Exponential(x)) return Fault(f, "expl", x, 0, [x] { return expl(x); });
  return Library([x] { return expl(x); });
}

long double Cosh(long double x) {
  if (const TFault f = Exponential(x)) return Fault(f, "coshl", x, 0, [x] { return coshl(x); });
  return Library([x] { return coshl(x); });
}

long double Sinh(long double x) {
  if (const TFault f = rules::Sinh(x)) return Fault(f, "sinhl", x, 0, [x] { return sinhl(x); });
  return Library([x] { return sinhl(x); });
}

long double Tanh(long double x) {
  return Library([x] { return tanhl(x); });
}

namespace {
long double CheckedLog(long double x, const char *name, long double (*library)(long double)) {
  if (const TFault f = Logarithm(x)) return Fault(f, name, x, 0, [=] { return library(x); });
  return Library([=] { return library(x); });
}
}  // namespace

long double Ln(long double x) { return CheckedLog(x, "logl", logl); }
long double Log10(long double x) { return CheckedLog(x, "log10l", log10l); }

long double Sqrt(long double x) {
  if (SqrtPassesThrough(x)) return x;
  if (const TFault f = rules::Sqrt(x)) return Fault(f, "sqrtl", x, 0, [x] { return sqrtl(x); });
  return sqrtl(x);
}

// sqrt (the processor's own instruction), fabs, ceil, floor and fmod are
// exact: they raise a flag only where the processor itself would (fmod's
// invalid operation for a zero divisor or an infinite dividend), and that is a
// fault of the run.
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
      return Library([x, y] { return powl(x, y); });
  }
  if (const TFault f = rules::Pow(x, y)) return Fault(f, "powl", x, y, [x, y] { return powl(x, y); });
  if (std::isfinite(x) && y == 0) return 1;
  if (std::isfinite(x) && x == 0) return 0;
  return Library([x, y] { return powl(x, y); });
}

long double Mod(long double x, long double y) { return fmodl(x, y); }

}  // namespace velmora::checked
