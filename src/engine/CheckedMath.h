#pragma once
// The long double math functions of the formula language, each checking the
// fault conditions its library counterpart is known for and consulting
// MathErrorHook: a handled fault yields the substitute value, a declined one the
// library's own result. A reported fault leaves the floating-point status flags
// as they were, so it never looks like a processor fault to the executor.
namespace velmora::checked {

// The compiler knows nothing of the status flags and may compute a value after
// the code that reads them; passing the value through here pins it down first.
inline void Settle(long double &value) {
#if defined(__x86_64__) || defined(__i386__)
  __asm__ volatile("" : "+t"(value));
#else
  __asm__ volatile("" : "+m"(value));
#endif
}

long double Asin(long double x);
long double Acos(long double x);
long double Atan(long double x);
long double Atan2(long double y, long double x);
long double Abs(long double x);
long double Cos(long double x);
long double Cosh(long double x);
long double Exp(long double x);
long double Ln(long double x);
long double Log10(long double x);
long double Sin(long double x);
long double Sinh(long double x);
long double Sqrt(long double x);
long double Tan(long double x);
long double Tanh(long double x);
long double Ceil(long double x);
long double Floor(long double x);
long double Pow(long double x, long double y);
long double Mod(long double x, long double y);

}  // namespace velmora::checked
