#pragma once
// The process-wide generator behind random() and randomize(): a 64-bit linear
// congruential state, seeded with 1 when the program starts.
#include <cstdint>

namespace velmora {

class TRandomGenerator {
 public:
  TRandomGenerator() { Seed(1); }
  std::uint64_t State = 0;

  // Low 32 bits := seed * 0x015A4E35 + 1, high 32 bits := 0.
  void Seed(std::uint32_t seed) { State = static_cast<std::uint32_t>(seed * 0x015A4E35u + 1u); }
  // A value in 0 .. 2^31 - 1.
  std::int32_t Draw() {
    State = State * 0x0000015A00004E35ull + 1;
    return static_cast<std::int32_t>((State >> 32) & 0x7FFFFFFF);
  }
};

// The generator the calling thread draws from: the process's one, unless the
// thread has put its own in place (a picture painted on the side must not
// move the main window's sequence).
TRandomGenerator &RandomGenerator();

// Makes `generator` the calling thread's generator for the scope's life.
class TThreadRandomGenerator {
 public:
  explicit TThreadRandomGenerator(TRandomGenerator &generator);
  ~TThreadRandomGenerator();
  TThreadRandomGenerator(const TThreadRandomGenerator &) = delete;
  TThreadRandomGenerator &operator=(const TThreadRandomGenerator &) = delete;

 private:
  TRandomGenerator *Previous;
};

// random(v)'s bound: v truncated towards zero to a 64-bit integer, of which the
// low 32 bits count as a signed number. False for NaN and values that do not
// fit in 64 bits (-2^63 does), which the processor refuses as invalid.
inline bool RandomBound(long double v, std::int32_t &n) {
  if (!(v >= -0x1p63L && v < 0x1p63L)) return false;
  n = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(v)));
  return true;
}

}  // namespace velmora
