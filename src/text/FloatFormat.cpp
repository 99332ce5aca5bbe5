#include "text/FloatFormat.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace velmora::text {

namespace {
constexpr int Precision = 15;
}

std::string FormatGeneral(long double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";

  // Round to 15 significant digits once; the layout is decided on the rounded
  // value so that 999999999999999.9 becomes "1E15", not "1000000000000000".
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*Le", Precision - 1, value);
  const bool negative = buf[0] == '-';
  const char *p = buf + (negative ? 1 : 0);
  std::string digits;
  for (; *p && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') digits += *p;
  }
  const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = negative ? "-" : "";
  if (exponent >= Precision || exponent < -5) {
    out += digits[0];
    if (digits.size() > 1) {
      out += '.';
      out.append(digits, 1, std::string::npos);
    }
    out += 'E';
    out += std::to_string(exponent);
  } else if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
  } else {
    const auto intDigits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= intDigits) {
      out += digits;
      out.append(intDigits - digits.size(), '0');
    } else {
      out.append(digits, 0, intDigits);
      out += '.';
      out.append(digits, intDigits, std::string::npos);
    }
  }
  return out;
}

}  // namespace velmora::text
