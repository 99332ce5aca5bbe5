#pragma once
// The two parts of an 80-bit long double as it lies in memory: the 64-bit
// significand (with its explicit integer bit) and the sign with the 15-bit
// exponent. Equal values with other bits (0 and -0) have other parts.
#include <cstdint>
#include <cstring>

namespace velmora {

struct TFloat80Bits {
  std::uint64_t Significand;
  std::uint16_t SignExponent;
};

inline TFloat80Bits Float80Bits(long double x) {
  static_assert(sizeof(long double) >= 10, "80-bit long double");
  unsigned char bytes[sizeof(long double)];
  std::memcpy(bytes, &x, sizeof bytes);
  TFloat80Bits bits;
  std::memcpy(&bits.Significand, bytes, 8);
  std::memcpy(&bits.SignExponent, bytes + 8, 2);
  return bits;
}

}  // namespace velmora
