#include "engine/CallMemo.h"

#include <cstdint>
#include <cstring>

#include "compiler/Opcodes.h"
#include "engine/Float80.h"
#include "engine/HugePages.h"
#include "engine/MathErrorManager.h"
#include "engine/RunSnapshot.h"

namespace velmora {

namespace {
// After this many lookups a site with fewer than one hit in eight stops looking.
constexpr std::uint64_t TrialLookups = 4096;
constexpr std::size_t TableBytes = HugePageBytes;
}  // namespace

// The table is one huge page, touched only where arguments fall.
namespace {
void *ZeroTable() { return MapHugePages(TableBytes); }
void FreeTable(void *table) { UnmapHugePages(table, TableBytes); }
}  // namespace

TCallMemo::~TCallMemo() { FreeTable(Table); }

bool TCallMemo::Worth(int opcode) {
  switch (opcode) {
    case icSin: case icCos: case icTan: case icAsin: case icAcos: case icAtan:
    case icExp: case icLn: case icLog10: case icSinh: case icCosh: case icTanh:
      return true;
    default:
      return false;
  }
}

bool TCallMemo::Allocate() {
  static_assert(sizeof(TEntry) * (std::size_t{1} << Bits) == TableBytes);
  Table = static_cast<TEntry *>(ZeroTable());
  return Table != nullptr;
}

long double TCallMemo::Call(TCallMemo *memo, long double x) {
  if (memo->Off) return memo->Function(x);
  if (!memo->Table && !memo->Allocate()) {
    memo->Off = true;
    return memo->Function(x);
  }
  const TFloat80Bits bits = Float80Bits(x);
  const std::uint64_t mantissa = bits.Significand;
  const std::uint16_t exponent = bits.SignExponent;
  const std::uint64_t hash = (mantissa ^ (mantissa >> 29) ^ exponent * 0x9E3779B97F4A7C15ull) * 0xBF58476D1CE4E5B9ull;
  TEntry &entry = memo->Table[hash >> (64 - Bits)];
  ++memo->Lookups;
  const bool hit = entry.Used && entry.Mantissa == mantissa && entry.Exponent == exponent;
  if (hit) ++memo->Hits;
  // The trial ends at its last lookup, whether that one hit or not.
  if (memo->Lookups == TrialLookups && memo->Hits * 8 < TrialLookups) {
    const long double value = hit ? entry.Value : memo->Function(x);
    memo->Off = true;
    FreeTable(memo->Table);
    memo->Table = nullptr;
    return value;
  }
  if (hit) return entry.Value;
  // Kept only when the call itself met nothing: flags clear before and after,
  // no math error recorded.
  const bool clearBefore = !FaultFlagsRaised();
  const TRunMark mark(false);
  const long double value = memo->Function(x);
  if (clearBefore && mark.MetNothing(false)) {
    entry.Mantissa = mantissa;
    entry.Exponent = exponent;
    entry.Used = 1;
    entry.Value = value;
  }
  return value;
}

}  // namespace velmora
