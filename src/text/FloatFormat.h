#pragma once
#include <string>

namespace velmora::text {

// The general number format used in error reports and documents: 15 significant
// digits; fixed notation without trailing zeros while the integer part has at
// most 15 digits and the magnitude is at least 0.00001, otherwise scientific
// with "E" and a bare exponent ("1.5E-10", "1.18973149535723E4932").
// Non-finite values are written "NAN", "INF" and "-INF".
std::string FormatGeneral(long double value);

}  // namespace velmora::text
