#pragma once
// A memo for one call site of a costly math function in per-pixel code: the
// functions are pure, so an argument seen before (bit for bit) gives the value
// computed then. Carpets are full of such repeats (distances from a centre
// come back in every quadrant, x + y along every diagonal), and a long double
// sine costs as much as a hundred additions. Only calls that met no fault are
// kept, so a hit never hides a record or a fault flag. A site whose arguments
// hardly repeat stops looking them up.
#include <cstddef>
#include <cstdint>

namespace velmora {

class TCallMemo {
 public:
  using TFunction = long double (*)(long double);
  explicit TCallMemo(TFunction function) : Function(function) {}
  ~TCallMemo();
  TCallMemo(const TCallMemo &) = delete;
  TCallMemo &operator=(const TCallMemo &) = delete;

  // What the machine code calls instead of the function (the memo in rdi,
  // the argument where the function takes it).
  static long double Call(TCallMemo *memo, long double x);

  std::uint64_t Lookups = 0, Hits = 0;
  bool Off = false;

  // Gives a site that stopped looking a new trial (a paint whose first
  // pixels were too sparse to show its repeats, such as a coarse pass).
  void Rearm() {
    Off = false;
    Lookups = Hits = 0;
  }

  // Whether an opcode's function is worth a memo.
  static bool Worth(int opcode);
  // Memos one piece of code gets at most (each table is 2 MB); later calls go
  // straight to their function.
  static constexpr std::size_t MaxPerCode = 8;

 private:
  struct TEntry {
    std::uint64_t Mantissa;
    std::uint16_t Exponent;  // sign and exponent
    std::uint16_t Used;
    long double Value;
  };
  static constexpr int Bits = 16;
  TFunction Function;
  TEntry *Table = nullptr;
  bool Allocate();
};

}  // namespace velmora
