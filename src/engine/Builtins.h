#pragma once
// The inner functions that are not plain math library calls, in the one form
// both the interpreter and the machine code call: log with a base, random and
// randomize; and a division by zero. Each says what happened; the caller decides how a refusal ends
// its run (the interpreter stops, the machine code asks for a replay).
#include <cstdint>
#include <ctime>

#include "engine/CheckedMath.h"
#include "engine/MathErrorManager.h"
#include "engine/Random.h"

namespace velmora::builtin {

enum class TOutcome : std::uint8_t {
  Value,       // `result` is the function's value
  Substitute,  // a math error was recorded; `result` is its substitute
  Refused      // the run stops with an error
};

// log(base, value): ln(value) / ln(base). A base whose logarithm is 0 is
// recorded as a domain error in math error mode and refused otherwise.
inline TOutcome LogBase(long double baseValue, long double value, bool mathErrorMode, long double &result) {
  const long double base = checked::Ln(baseValue);
  if (base != 0) {
    result = checked::Ln(value) / base;
    return TOutcome::Value;
  }
  if (!mathErrorMode) return TOutcome::Refused;
  TMathErrorManager &m = MathErrorManager();
  m.Arg1Pointer = &baseValue;
  m.Arg2Pointer = &value;
  m.Add(TMathErrorManager::KindDomain, TMathErrorManager::FunctionLogBase);
  m.Arg1Pointer = m.Arg2Pointer = nullptr;
  result = m.DomainValue;
  return TOutcome::Substitute;
}
inline constexpr const char *LogBaseRefused = "logの底が範囲外です.";

// A division by zero: recorded with its substitute value in math error mode,
// refused otherwise.
inline TOutcome ZeroDivision(bool mathErrorMode, long double &result) {
  if (!mathErrorMode) return TOutcome::Refused;
  TMathErrorManager &m = MathErrorManager();
  m.Add(TMathErrorManager::KindZeroDivision, TMathErrorManager::FunctionZeroDivision);
  result = m.ZeroDivisionValue;
  return TOutcome::Substitute;
}
inline constexpr const char *ZeroDivisionRefused = "0での除算が行われました";

// random(v): a draw below the bound (see RandomBound), 0 for a bound of 0;
// refused for a bound the processor cannot convert.
inline TOutcome Random(long double v, long double &result) {
  std::int32_t n = 0;
  if (!RandomBound(v, n)) return TOutcome::Refused;
  result = n == 0 ? 0.0L : static_cast<long double>(RandomGenerator().Draw() % n);
  return TOutcome::Value;
}

// randomize(): seeds the generator from the clock.
inline void Randomize() { RandomGenerator().Seed(static_cast<std::uint32_t>(std::time(nullptr))); }

}  // namespace velmora::builtin
