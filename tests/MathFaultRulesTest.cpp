// The math fault rules, once, at the edges of their documented conditions:
// asin/acos outside [-1, 1]; sin/cos/tan from 2^63 on (total loss); exp/cosh
// from 11356.5 up (overflow) and from -11355 down (underflow), sinh from
// 11356.5 in magnitude, judged by sign, exponent and the significand's top 16
// bits; ln/log10 of zero or a denormal (singularity), of a negative (domain),
// of NaN or +infinity (overflow); sqrt of a negative that is no denormal; pow
// by the rules of its library; atan2 of two zeros or two non-finite values.
// The checked functions must fault exactly where their rule says.
#include "engine/MathFaultRules.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "engine/CheckedMath.h"
#include "engine/MathErrorManager.h"

namespace {

using namespace velmora::checked::rules;
using velmora::TMathErrorManager;

constexpr long double Inf = INFINITY;
const long double NaN = std::nanl("");

struct TCase {
  int Opcode;
  long double X, Y;
  TFault Expected;
};

// Calls the checked function of an opcode while the manager collects: true
// when it recorded a fault.
bool CheckedFaults(int opcode, long double x, long double y) {
  namespace c = velmora::checked;
  TMathErrorManager &m = velmora::MathErrorManager();
  m.Clear();
  m.Collecting = true;
  switch (opcode) {
    case velmora::icAsin: c::Asin(x); break;
    case velmora::icAcos: c::Acos(x); break;
    case velmora::icAtan2: c::Atan2(x, y); break;
    case velmora::icSin: c::Sin(x); break;
    case velmora::icCos: c::Cos(x); break;
    case velmora::icTan: c::Tan(x); break;
    case velmora::icExp: c::Exp(x); break;
    case velmora::icCosh: c::Cosh(x); break;
    case velmora::icSinh: c::Sinh(x); break;
    case velmora::icLn: c::Ln(x); break;
    case velmora::icLog10: c::Log10(x); break;
    case velmora::icSqrt: c::Sqrt(x); break;
    case velmora::icPow: c::Pow(x, y); break;
    default: ADD_FAILURE() << opcode;
  }
  m.Collecting = false;
  const bool recorded = m.Count > 0;
  m.Clear();
  return recorded;
}

}  // namespace

TEST(MathFaultRules, EdgesOfTheDocumentedConditions) {
  using namespace velmora;
  const long double below1 = nextafterl(1.0L, 0.0L), above1 = nextafterl(1.0L, 2.0L);
  const long double below63 = nextafterl(0x1p63L, 0.0L);
  const TCase cases[] = {
      {icAsin, 1, 0, None},        {icAsin, -1, 0, None},           {icAsin, above1, 0, Domain},
      {icAcos, -above1, 0, Domain}, {icAcos, below1, 0, None},       {icAsin, NaN, 0, Domain},
      {icSin, 0x1p63L, 0, TotalLoss}, {icSin, below63, 0, None},     {icCos, -0x1p63L, 0, TotalLoss},
      {icTan, Inf, 0, TotalLoss},  {icTan, NaN, 0, None},
      {icExp, 11356.5L, 0, Overflow}, {icExp, 11356.0L, 0, None},    {icExp, -11355.0L, 0, Underflow},
      {icExp, -11354.0L, 0, None}, {icExp, Inf, 0, Overflow},        {icExp, -Inf, 0, Underflow},
      {icExp, NaN, 0, Overflow},   {icCosh, 11356.5L, 0, Overflow},  {icCosh, -11355.0L, 0, Underflow},
      {icSinh, -11356.5L, 0, Overflow}, {icSinh, -11355.0L, 0, None},
      {icLn, 0, 0, Singularity},   {icLn, LDBL_TRUE_MIN, 0, Singularity}, {icLn, LDBL_MIN, 0, None},
      {icLn, -1, 0, Domain},       {icLog10, -Inf, 0, Domain},       {icLog10, Inf, 0, Overflow},
      {icLn, NaN, 0, Overflow},    {icLn, 1, 0, None},
      {icSqrt, -1, 0, Domain},     {icSqrt, -LDBL_TRUE_MIN, 0, None}, {icSqrt, -0.0L, 0, None},
      {icPow, 0, 0, Domain},       {icPow, 0, -1, Domain},           {icPow, -2, 0.5L, Domain},
      {icPow, -2, 3, None},        {icPow, 2, 16384, Overflow},      {icPow, 2, 16383, None},
      {icPow, 2, -16383, Underflow}, {icPow, 2, -16380, None},       {icPow, Inf, 1, Overflow},
      {icPow, Inf, -1, Underflow}, {icPow, NaN, -1, None},           {icPow, NaN, 1, Overflow},
      {icPow, 2, Inf, Overflow},   {icPow, 0, Inf, None},            {icPow, 5, 0, None},
      {icAtan2, 0, 0, Domain},     {icAtan2, Inf, -Inf, Domain},     {icAtan2, Inf, 1, None},
  };
  for (const TCase &c : cases) {
    const std::string what = std::string(OpcodeInfo(c.Opcode).Formula) + "(" + std::to_string(static_cast<double>(c.X)) +
                             ", " + std::to_string(static_cast<double>(c.Y)) + ")";
    EXPECT_EQ(FaultOf(c.Opcode, c.X, c.Y), c.Expected) << what;
    EXPECT_EQ(CheckedFaults(c.Opcode, c.X, c.Y), c.Expected != None) << what;
  }
  EXPECT_TRUE(SqrtPassesThrough(-LDBL_TRUE_MIN));
  EXPECT_FALSE(SqrtPassesThrough(-1));
}
