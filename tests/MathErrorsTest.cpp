// The fault conditions of the checked math functions and the report lines.
#include <gtest/gtest.h>

#include "paint/CarpetPainter.h"

#include <cfenv>
#include <cfloat>
#include <cmath>

#include "engine/ArithmeticUnit.h"
#include "engine/CheckedMath.h"
#include "engine/MathErrorManager.h"
#include "text/FloatFormat.h"

using velmora::TArithmeticUnit;
using velmora::TMathErrorManager;
using L = velmora::TStringList;

namespace {

struct TOutcome {
  std::string Value;
  L Report;
};

// One formula in MathErrorMode: its value and the report lines it left.
TOutcome Collect(const std::string &line) {
  TArithmeticUnit e;
  e.MathErrorMode = true;
  TOutcome o;
  long double v = 0;
  if (!e.SetExpression(0, line) || !e.Calculate(0, v)) {
    o.Value = e.ErrorMessage;
  } else {
    o.Value = velmora::text::FormatGeneral(v);
  }
  e.GetMathErrors(o.Report);
  return o;
}

void ExpectFault(const std::string &call, const std::string &value, const std::string &line) {
  const TOutcome o = Collect(call);
  EXPECT_EQ(o.Value, value) << call;
  EXPECT_EQ(o.Report, (L{line})) << call;
}

void ExpectClean(const std::string &call, const std::string &value) {
  const TOutcome o = Collect(call);
  EXPECT_EQ(o.Value, value) << call;
  EXPECT_TRUE(o.Report.empty()) << call << ": " << (o.Report.empty() ? "" : o.Report[0]);
}

}  // namespace

TEST(MathFaults, InverseTrigonometry) {
  ExpectFault("asin(2)", "0", "(0)domain error: asin(2)");
  ExpectFault("acos(-1.5)", "0", "(1)domain error: acos(-1.5)");
  ExpectClean("asin(1)", velmora::text::FormatGeneral(asinl(1)));
  // atan2's arguments are recorded the way the library hands them over: x, y.
  ExpectFault("atan2(0, 0)", "0", "(0)domain error: atan2(0, 0)");
  ExpectClean("atan2(1, 0)", velmora::text::FormatGeneral(atan2l(1, 0)));
}

TEST(MathFaults, SquareRootAndLogarithms) {
  ExpectFault("sqrt(x - 1000)", "0", "(1)domain error: sqrt(-1000)");
  ExpectClean("sqrt(-0)", "0");
  // A negative denormal comes back unchanged.
  ExpectClean("sqrt(-1e-4940)", velmora::text::FormatGeneral(-1e-4940L));
  ExpectFault("ln(0)", "0", "(0)singularity: ln(0)");
  ExpectFault("ln(1e-4940)", "0", "(0)singularity: ln(" + velmora::text::FormatGeneral(1e-4940L) + ")");
  ExpectFault("ln(-2)", "0", "(1)domain error: ln(-2)");
  ExpectFault("log10(0)", "0", "(0)singularity: log10(0)");
  ExpectFault("log10(-1)", "0", "(1)domain error: log10(-1)");
}

TEST(MathFaults, TrigonometryLosesSignificanceBeyond2To63) {
  ExpectFault("sin(1e20)", "0", "(0)total loss of significance: sin(1E20)");
  ExpectFault("cos(-1e19)", "0", "(1)total loss of significance: cos(-1E19)");
  ExpectFault("tan(9223372036854775808)", "0", "(0)total loss of significance: tan(9.22337203685478E18)");
  ExpectClean("sin(9223372036854775807)", velmora::text::FormatGeneral(sinl(9223372036854775807.0L)));
}

TEST(MathFaults, ExponentialRanges) {
  ExpectFault("exp(20000)", "1.18973149535723E4932", "(0)overflow: exp(20000)");
  ExpectFault("exp(11356.5)", "1.18973149535723E4932", "(0)overflow: exp(11356.5)");
  ExpectClean("exp(11356.25)", velmora::text::FormatGeneral(expl(11356.25L)));
  ExpectFault("exp(-11355)", "3.36210314311209E-4932", "(1)underflow: exp(-11355)");
  ExpectClean("exp(-11354.75)", velmora::text::FormatGeneral(expl(-11354.75L)));
  ExpectFault("sinh(-20000)", "1.18973149535723E4932", "(1)overflow: sinh(-20000)");
  ExpectFault("sinh(20000)", "1.18973149535723E4932", "(0)overflow: sinh(20000)");
  ExpectFault("cosh(20000)", "1.18973149535723E4932", "(0)overflow: cosh(20000)");
  ExpectFault("cosh(-20000)", "3.36210314311209E-4932", "(1)underflow: cosh(-20000)");
}

TEST(MathFaults, Power) {
  ExpectFault("pow(0, 0)", "0", "(0)domain error: pow(0, 0)");
  ExpectFault("pow(0, -1)", "0", "(1)domain error: pow(0, -1)");
  ExpectFault("pow(x - 8, 0.5)", "0", "(1)domain error: pow(-8, 0.5)");
  ExpectClean("pow(x - 2, 3)", "-8");
  ExpectFault("pow(10, 5000)", "1.18973149535723E4932", "(0)overflow: pow(10, 5000)");
  ExpectFault("pow(10, -5000)", "3.36210314311209E-4932", "(1)underflow: pow(10, -5000)");
  ExpectClean("pow(5, 0)", "1");
  ExpectClean("pow(0, 2)", "0");
  ExpectClean("pow(2, 0.5)", velmora::text::FormatGeneral(sqrtl(2)));
}

TEST(MathFaults, InfinitiesAndNaNsAsArguments) {
  using namespace velmora::checked;
  TMathErrorManager &m = velmora::MathErrorManager();
  m.Clear();
  m.Collecting = true;
  const long double inf = INFINITY, nan = NAN;
  EXPECT_EQ(Asin(inf), 0);
  EXPECT_EQ(Acos(nan), 0);
  EXPECT_EQ(Atan2(inf, -inf), 0);
  EXPECT_TRUE(std::isnan(Atan2(nan, 1))) << "only one of them not finite: no fault";
  EXPECT_EQ(Ln(inf), LDBL_MAX);
  EXPECT_EQ(Log10(nan), LDBL_MAX);
  EXPECT_EQ(Ln(-inf), 0);
  EXPECT_EQ(Sin(inf), 0);
  EXPECT_EQ(Exp(inf), LDBL_MAX);
  EXPECT_EQ(Exp(-inf), LDBL_MIN);
  EXPECT_EQ(Pow(inf, 0), LDBL_MAX) << "an infinite base with a non-negative exponent overflows";
  EXPECT_EQ(Pow(-inf, -1), LDBL_MIN);
  EXPECT_EQ(Pow(2, inf), LDBL_MAX);
  EXPECT_EQ(Pow(0, nan), 0) << "a zero base with a NaN exponent is a domain error";
  EXPECT_EQ(Pow(1, inf), LDBL_MAX);
  m.Collecting = false;
  L lines;
  m.AppendReport(lines);
  EXPECT_EQ(lines.size(), 14u);
  EXPECT_EQ(lines[2], "(0)domain error: atan2(-INF, INF)") << "recorded as (x, y)";
  EXPECT_EQ(lines[13], "(0)overflow: pow(1, INF)");
}

TEST(MathFaults, DeclinedFaultsGiveTheLibraryResultAndLeaveNoFlags) {
  ASSERT_FALSE(velmora::MathErrorManager().Collecting);
  feclearexcept(FE_ALL_EXCEPT);
  EXPECT_TRUE(std::isnan(velmora::checked::Sqrt(-1)));
  EXPECT_TRUE(std::isinf(velmora::checked::Exp(20000)));
  EXPECT_EQ(velmora::checked::Ln(0), -INFINITY);
  EXPECT_TRUE(std::isnan(velmora::checked::Sin(INFINITY)));
  EXPECT_TRUE(std::isinf(velmora::checked::Pow(10, 5000)));
  EXPECT_EQ(fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW), 0);
  EXPECT_EQ(velmora::MathErrorManager().Count, 0);
}

TEST(MathErrorManager, RecordsGrowAndEmpty) {
  // A manager of its own: the shared one may have grown in earlier tests.
  TMathErrorManager own;
  velmora::TThreadMathErrors use(own);
  TMathErrorManager &m = velmora::MathErrorManager();
  m.Clear();
  const std::int32_t start = m.Capacity;
  for (int i = 0; i < start + 1; ++i) ASSERT_TRUE(m.Add(TMathErrorManager::KindZeroDivision, 20));
  EXPECT_EQ(m.Capacity, 2 * start);
  L lines;
  m.AppendReport(lines);
  EXPECT_EQ(lines.size(), static_cast<std::size_t>(start + 1));
  lines.clear();
  m.AppendReport(lines);
  EXPECT_TRUE(lines.empty()) << "a second report appends nothing";
}

TEST(MathErrorManager, RecordsStopAtTheLimitAndPaintingStillReportsTheCut) {
  {
    TMathErrorManager own;
    velmora::TThreadMathErrors use(own);
    own.Limit = 50;
    for (int i = 0; i < 80; ++i) ASSERT_TRUE(own.Add(TMathErrorManager::KindDomain, 11));
    EXPECT_EQ(own.Count, 50);
    TMathErrorManager::TMathError more[3];
    ASSERT_TRUE(own.AddRecords(more, 3));
    EXPECT_EQ(own.Count, 50);
    L lines;
    own.AppendReport(lines);
    EXPECT_EQ(lines.size(), 50u);
  }
  // A fault in every pixel of a 500 x 300 picture: 150,000 faults, of which
  // the report shows a thousand and says it was cut, on one thread or two.
  for (int threads : {1, 2}) {
    velmora::TArithmeticUnit engine;
    velmora::TPicture picture = velmora::TPicture::Filled(500, 300, velmora::White);
    velmora::TPaintControl control;
    control.Threads = threads;
    const velmora::TPaintResult r = velmora::PaintCarpet(engine, {}, {"r = sqrt(-1 - x - y * 1000)"}, picture, control);
    ASSERT_TRUE(r.Painted);
    ASSERT_EQ(r.ErrorLines.size(), 1003u);
    EXPECT_EQ(r.ErrorLines[1], "(4)domain error: sqrt(-1)");
    EXPECT_EQ(r.ErrorLines[1000], "(4)domain error: sqrt(-99004)") << "the thousandth: column 3, y = 99";
    EXPECT_EQ(r.ErrorLines.back(), "エラーの数が多すぎるため，切り捨てられました．");
    EXPECT_LE(velmora::MathErrorManager().Capacity, 20000) << "not every record was kept";
  }
}

TEST(MathErrorManager, FreshManagerAndReportTexts) {
  TMathErrorManager m;
  EXPECT_EQ(m.Capacity, 200);
  EXPECT_FALSE(m.Collecting);
  EXPECT_TRUE(m.OverflowValue == LDBL_MAX && m.ZeroDivisionValue == LDBL_MAX);
  EXPECT_TRUE(m.UnderflowValue == LDBL_MIN);
  long double a1 = 2, a2 = -0.5L;
  std::int32_t position = 4;
  m.PositionPointer = &position;
  m.Arg1Pointer = &a1;
  m.Arg2Pointer = &a2;
  m.Add(6, 3);
  m.Add(4, 19);
  m.Add(2, 22);
  m.Add(5, 20);
  L lines;
  m.AppendReport(lines);
  EXPECT_EQ(lines, (L{"(4)undefined error: abs(2)", "(4)total loss of significance: mod(2, -0.5)",
                      "(4)overflow: undefined function", "(4)zero division"}));
}

// pow skips its overflow test when the exponents are small; near the limits
// and across the whole exponent range it must decide exactly as the rule
// (y * ln|x| >= 11356.5 overflows, <= -11355 underflows) does.
TEST(MathFaults, PowDecidesRangeFaultsByTheRule) {
  using namespace velmora::checked;
  TMathErrorManager &m = velmora::MathErrorManager();
  m.Clear();
  m.Collecting = true;
  int checked = 0, faults = 0;
  for (int k = -16380; k <= 16383; k += 37) {
    for (long double mantissa : {1.0L, 1.5L, 1.9999L}) {
      const long double x = ldexpl(mantissa, k);
      const long double edge = 16000.0L / (std::abs(k) + 1);
      for (long double y : {edge * 0.999L, edge, edge * 1.001L, 11356.0L / k, 11356.5L / (k * 0.6931471805599453L),
                            0.5L, 3.0L, 1e-30L}) {
        for (long double sign : {1.0L, -1.0L}) {
          const long double exponent = y * sign;
          if (!std::isfinite(exponent)) continue;
          const long double t = exponent * logl(fabsl(x));
          const int before = m.Count;
          const long double r = Pow(x, exponent);
          const bool fault = m.Count != before;
          const bool expected = t >= 11356.5L || t <= -11355.0L;
          ASSERT_EQ(fault, expected) << "pow(" << static_cast<double>(mantissa) << " * 2^" << k << ", "
                                     << static_cast<double>(exponent) << ")";
          if (!fault) {
            EXPECT_EQ(r, powl(x, exponent));
          }
          ++checked;
          faults += fault;
        }
      }
    }
  }
  m.Collecting = false;
  m.Clear();
  EXPECT_GT(faults, 1000);
  EXPECT_GT(checked, 20000);
}
