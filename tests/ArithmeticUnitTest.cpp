#include "engine/ArithmeticUnit.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <ctime>

#include "engine/AddressingManager.h"
#include "engine/MathErrorManager.h"
#include "engine/Random.h"
#include "text/FloatFormat.h"

using velmora::TArithmeticUnit;
using velmora::TStringList;
using velmora::text::FormatGeneral;
using L = TStringList;

namespace {

struct TRun {
  bool Ok = false;
  long double Value = 0;
  std::string Error;
  L Report;
  std::string Text() const { return Ok ? FormatGeneral(Value) : Error; }
};

TRun RunLine(TArithmeticUnit &engine, const std::string &line, bool mathErrorMode = false) {
  TRun r;
  engine.MathErrorMode = mathErrorMode;
  if (!engine.SetExpression(0, line)) {
    r.Error = engine.ErrorMessage;
  } else if (engine.Calculate(0, r.Value)) {
    r.Ok = true;
  } else {
    r.Error = engine.ErrorMessage;
  }
  engine.GetMathErrors(r.Report);
  engine.MathErrorMode = false;
  return r;
}

std::string Eval(const std::string &line, bool mathErrorMode = false) {
  TArithmeticUnit engine;
  return RunLine(engine, line, mathErrorMode).Text();
}

long double Value(TArithmeticUnit &engine, const std::string &name) {
  long double v = -12345;
  EXPECT_TRUE(engine.GetVariableValue(name, v)) << name;
  return v;
}

// Keeps the compiler from folding a library call into a correctly rounded constant.
long double V(long double x) {
  volatile long double v = x;
  return v;
}

bool SameBits(long double a, long double b) { return std::memcmp(&a, &b, 10) == 0; }

}  // namespace

// ---------------------------------------------------------------------------
// Variables

TEST(ArithmeticUnitVariables, CreationLookupAndCase) {
  TArithmeticUnit e;
  long double *x = e.GetVariablePointer("x", true);
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(*x, 0);
  *x = 2.5L;
  EXPECT_EQ(Value(e, "x"), 2.5L);
  long double v;
  EXPECT_FALSE(e.GetVariableValue("X", v)) << "names are case-sensitive";
  EXPECT_EQ(e.ErrorMessage, "Variable \"X\" is not defined.");
  EXPECT_EQ(e.GetVariablePointer("nope", false), nullptr);
  EXPECT_EQ(e.SearchVariable("x", false), 0);
  EXPECT_NE(e.GetVariablePointer("ｘ", true), x) << "a full-width letter is another name";
}

TEST(ArithmeticUnitVariables, TableDoublesAndKeepsValues) {
  TArithmeticUnit e;
  for (int i = 0; i < 100; ++i) *e.GetVariablePointer("v" + std::to_string(i), true) = i;
  EXPECT_EQ(e.VariableCapacity, 100);
  *e.GetVariablePointer("v100", true) = 100;
  EXPECT_EQ(e.VariableCapacity, 200);
  EXPECT_EQ(e.VariableCount, 101);
  for (int i = 0; i <= 100; ++i) EXPECT_EQ(Value(e, "v" + std::to_string(i)), i);
}

TEST(ArithmeticUnitVariables, ClearForgetsNamesAndReusesPositions) {
  TArithmeticUnit e;
  e.GetVariablePointer("a", true);
  e.GetVariablePointer("b", true);
  e.ClearVariables();
  long double v;
  EXPECT_FALSE(e.GetVariableValue("a", v));
  EXPECT_EQ(e.SearchVariable("c", true), 0);
  EXPECT_EQ(e.VariableCapacity, 100);
}

TEST(ArithmeticUnitVariables, CompiledSlotsSurviveTableGrowth) {
  // Operands are found by position, so a table that moves between compiling and
  // running must not leave a slot writing to the old place.
  TArithmeticUnit e;
  ASSERT_TRUE(e.SetExpression(1, "r = x + 1"));
  long double result;
  ASSERT_TRUE(e.Calculate(1, result));
  for (int i = 0; i < 500; ++i) e.GetVariablePointer("grow" + std::to_string(i), true);
  *e.GetVariablePointer("x", false) = 41;
  ASSERT_TRUE(e.Calculate(1, result));
  EXPECT_EQ(result, 42);
  EXPECT_EQ(Value(e, "r"), 42);
}

TEST(AddressingManager, DuplicatesAndCapacity) {
  velmora::TAddressingManager m(2);
  EXPECT_TRUE(m.Add("t0", 0, 7));
  EXPECT_FALSE(m.Add("t0", 1, 9));
  EXPECT_EQ(m.ErrorMessage, "addressing error... (that id adready exists)");
  EXPECT_EQ(m.Count, 1);
  EXPECT_EQ(m.Identifiers[static_cast<std::size_t>(m.Search("t0"))].Value, 7);
  EXPECT_TRUE(m.ErrorMessage.empty()) << "Search clears the message";
  EXPECT_TRUE(m.Add("t1", 0, 1));
  EXPECT_FALSE(m.Add("t2", 0, 2));
  EXPECT_EQ(m.ErrorMessage, "addressing error... (no memory)");
  EXPECT_EQ(m.Search("t2"), -1);
}

// ---------------------------------------------------------------------------
// Translation

TEST(ArithmeticUnitCompile, BuildsVariablesAndImmediates) {
  TArithmeticUnit e;
  ASSERT_TRUE(e.SetExpression(0, "r = 2*x + 1"));
  EXPECT_EQ(Value(e, "x"), 0);
  EXPECT_EQ(Value(e, "r"), 0);
  const auto &code = e.Expressions[0].Code;
  ASSERT_EQ(code.size(), 4u);
  EXPECT_EQ(code[0].Opcode, velmora::icMultiply);
  EXPECT_EQ(code[0].Operands[1].Mode, 0);
  EXPECT_EQ(code[0].Operands[1].Value, 2);
  EXPECT_EQ(code[0].Operands[2].Mode, 1);
  EXPECT_EQ(code[0].Operands[2].Area, 1);
  EXPECT_EQ(code[0].Operands[0].Area, 0) << "the product lives in a work register";
  EXPECT_EQ(code.back().Opcode, velmora::icEnd);
  EXPECT_EQ(e.Expressions[0].Source, "r = 2*x + 1");
}

TEST(ArithmeticUnitCompile, RefusalsWordForWord) {
  EXPECT_EQ(Eval("r = x % 3"), "演算子%は使用できない");
  EXPECT_EQ(Eval("r %= 3"), "演算子%は使用できない");
  EXPECT_EQ(Eval("r = x < 3"), "論理演算は使用できない");
  EXPECT_EQ(Eval("r = !x"), "論理演算は使用できない");
  EXPECT_EQ(Eval("r = a && b"), "論理演算は使用できない");
  for (const char *f : {"arg(1)", "conj(1)", "imag(1)", "real(1)", "polar(1, 2)"})
    EXPECT_EQ(Eval(std::string("r = ") + f), "関数(arg, conj, imag, real, polar)は使用できない") << f;
  EXPECT_EQ(Eval("r = sin(1, 2)"), "内部関数の引数が一致しない");
  EXPECT_EQ(Eval("r = pow(2)"), "内部関数の引数が一致しない");
  EXPECT_EQ(Eval("randomize(1)"), "内部関数の引数が一致しない");
  EXPECT_EQ(Eval("r = sin()"), "内部関数の引数が一致しない");
  EXPECT_EQ(Eval("r = foo(1)"), "式の文法エラー.");
  EXPECT_EQ(Eval("a b"), "数式の処理に失敗した");
  EXPECT_EQ(Eval("x << 1"), "数式の処理に失敗した");
  EXPECT_EQ(Eval("&x"), "アドレスに関する演算は行えない.");
  EXPECT_EQ(Eval("*x"), "アドレスに関する演算は行えない.");
  EXPECT_EQ(Eval("r = *x + 1"), "アドレスに関する演算は行えない.");
  EXPECT_EQ(Eval("& &x"), "アドレス演算子は重複してはならない");
  EXPECT_EQ(Eval("1E"), "SyntaxError: Put some numbers after exponential symbol");
  EXPECT_EQ(Eval("r = (a"), "括弧が閉じていない");
  EXPECT_EQ(Eval("r = 1e5000"), "数値が大きすぎる: 1e5000");
}

TEST(ArithmeticUnitCompile, BadSlotIndexChangesNothing) {
  TArithmeticUnit e;
  ASSERT_TRUE(e.SetExpression(799, "r = 1"));
  EXPECT_FALSE(e.SetExpression(800, "r = 2"));
  EXPECT_EQ(e.ErrorMessage, "Invalid expression index is selected.");
  EXPECT_FALSE(e.SetExpression(-1, "r = 2"));
  EXPECT_EQ(e.Expressions[799].Source, "r = 1");
  long double v;
  EXPECT_FALSE(e.Calculate(800, v));
  EXPECT_EQ(e.ErrorMessage, "Invalid expression index is selected.");
}

TEST(ArithmeticUnitCompile, EmptyLinesGiveZeroAndNeverCompiledSlotsToo) {
  TArithmeticUnit e;
  long double v = 7;
  EXPECT_TRUE(e.Calculate(5, v));
  EXPECT_EQ(v, 0);
  for (const char *line : {"", "   ", "// only a note", "/* block */"}) {
    ASSERT_TRUE(e.SetExpression(3, line)) << line;
    v = 7;
    EXPECT_TRUE(e.Calculate(3, v));
    EXPECT_EQ(v, 0);
  }
}

TEST(ArithmeticUnitCompile, FailedCompilationLeavesNoRunnableHalf) {
  TArithmeticUnit e;
  ASSERT_TRUE(e.SetExpression(0, "r = 5"));
  EXPECT_FALSE(e.SetExpression(0, "r = 1 + foo(2)"));
  long double v = 7;
  EXPECT_TRUE(e.Calculate(0, v));
  EXPECT_EQ(v, 0);
  EXPECT_EQ(Value(e, "r"), 0) << "nothing of the half-translated code ran";
}

TEST(ArithmeticUnitCompile, UnaryPlusSharesTheRegisterOfItsOperand) {
  TArithmeticUnit e;
  *e.GetVariablePointer("x", true) = 2;
  *e.GetVariablePointer("y", true) = 3;
  EXPECT_EQ(RunLine(e, "r = +(x + y)").Text(), "5");
  EXPECT_EQ(Value(e, "r"), 5);
}

TEST(ArithmeticUnitCompile, WorkAreaGrowsForManyTemporaries) {
  TArithmeticUnit e;
  std::string line = "r = 1";
  for (int i = 0; i < 200; ++i) line += "+1";  // 200 additions, 200 temporaries
  ASSERT_TRUE(e.SetExpression(0, line));
  EXPECT_EQ(e.WorkCapacity, 400);
  long double v;
  ASSERT_TRUE(e.Calculate(0, v));
  EXPECT_EQ(v, 201);
}

// A long line's intermediate code may be let go of while it is translated:
// the same code and value, and a failure half-way leaves a clean manager.
TEST(ArithmeticUnitCompile, LongLinesTranslateTheSameWithoutKeepingTheirIntercode) {
  std::string line = "r = 0.5";
  for (int i = 0; i < 3000; ++i) line += (i % 3 == 0 ? " + sin(" : i % 3 == 1 ? " * (" : " - (") + std::to_string(i) + ")";
  TArithmeticUnit keep, release;
  release.KeepIntercode = false;
  ASSERT_TRUE(keep.SetExpression(0, line)) << keep.ErrorMessage;
  ASSERT_TRUE(release.SetExpression(0, line)) << release.ErrorMessage;
  EXPECT_GT(keep.Intercode.GetCount(), 5000);
  EXPECT_EQ(release.Intercode.GetCount(), 0);
  EXPECT_EQ(release.Intercode.Capacity, 500);
  ASSERT_EQ(keep.Expressions[0].Code.size(), release.Expressions[0].Code.size());
  long double a = 0, b = 0;
  ASSERT_TRUE(keep.Calculate(0, a));
  ASSERT_TRUE(release.Calculate(0, b));
  EXPECT_EQ(FormatGeneral(a), FormatGeneral(b));
  // Refused in the middle of the translation (a comparison), then a short line.
  EXPECT_FALSE(release.SetExpression(0, line + " + (1 < 2)"));
  EXPECT_EQ(release.ErrorMessage, "論理演算は使用できない");
  EXPECT_EQ(release.Intercode.GetCount(), 0);
  EXPECT_EQ(RunLine(release, "r = 2 * 3").Text(), "6");
}

TEST(ArithmeticUnitCompile, NumbersAreTheNearestLongDouble) {
  TArithmeticUnit e;
  EXPECT_TRUE(SameBits(RunLine(e, "0.1").Value, 0.1L));
  EXPECT_TRUE(SameBits(RunLine(e, "1e-4930").Value, 1e-4930L));
  EXPECT_TRUE(SameBits(RunLine(e, "１２．５Ｅ－３").Value, 12.5e-3L));
  EXPECT_EQ(RunLine(e, "1e+").Text(), "1");
  EXPECT_EQ(RunLine(e, "2E-").Text(), "2");
  EXPECT_EQ(RunLine(e, "3.").Text(), "3");
  EXPECT_EQ(RunLine(e, "1.18973149535723176502e+4932").Text(), "1.18973149535723E4932");
}

// ---------------------------------------------------------------------------
// Execution

TEST(ArithmeticUnitRun, EachOpcode) {
  TArithmeticUnit e;
  struct TCase {
    const char *Line;
    long double Expected;
  } cases[] = {
      {"7 + 2.5", 9.5L}, {"7 - 2.5", 4.5L}, {"7 * 2.5", 17.5L}, {"7 / 2", 3.5L}, {"-(3)", -3},
      {"x = 4", 4}, {"x++", 4}, {"x", 5}, {"x--", 5}, {"x", 4}, {"++x", 5}, {"--x", 4},
      {"x += 3", 7}, {"x -= 1", 6}, {"x *= 2", 12}, {"x /= 8", 1.5L}, {"a = b = 2", 2},
      {"(a, b, 9)", 9}, {"asin(0.5)", asinl(V(0.5L))}, {"acos(0.5)", acosl(V(0.5L))},
      {"atan(2)", atanl(V(2))}, {"atan2(1, -1)", atan2l(V(1), V(-1))}, {"abs(-3)", 3},
      {"cos(0.5)", cosl(V(0.5L))}, {"cosh(2)", coshl(V(2))}, {"exp(1)", expl(V(1))}, {"ln(10)", logl(V(10))},
      {"log(2, 8)", 3}, {"log10(1000)", log10l(V(1000))}, {"pow(2, 10)", 1024}, {"sin(0.5)", sinl(V(0.5L))},
      {"sinh(2)", sinhl(V(2))}, {"sqrt(2)", sqrtl(V(2))}, {"tan(0.5)", tanl(V(0.5L))}, {"tanh(0.5)", tanhl(V(0.5L))},
      {"ceil(-2.5)", -2}, {"floor(-2.5)", -3}, {"mod(7, -3)", 1}, {"mod(-7, 3)", -1},
      {"ceil(1e30)", 1e30L}, {"random(0)", 0}};
  for (const auto &c : cases) {
    const TRun r = RunLine(e, c.Line);
    ASSERT_TRUE(r.Ok) << c.Line << ": " << r.Error;
    EXPECT_TRUE(SameBits(r.Value, c.Expected)) << c.Line << " gave " << FormatGeneral(r.Value);
  }
}

TEST(ArithmeticUnitRun, OperandsAreReadBeforeTheResultIsWritten) {
  TArithmeticUnit e;
  *e.GetVariablePointer("x", true) = 7;
  EXPECT_EQ(RunLine(e, "x = x * x").Text(), "49");
  EXPECT_EQ(Value(e, "x"), 49);
  // The 80-bit value is copied exactly.
  *e.GetVariablePointer("p", true) = 1.0L / 3;
  RunLine(e, "q = p");
  EXPECT_TRUE(SameBits(Value(e, "q"), 1.0L / 3));
}

TEST(ArithmeticUnitRun, DivisionByZeroInBothModes) {
  TArithmeticUnit e;
  EXPECT_EQ(RunLine(e, "r = 1/0").Text(), "0での除算が行われました");
  const TRun r = RunLine(e, "r = 1/0", true);
  ASSERT_TRUE(r.Ok);
  EXPECT_TRUE(SameBits(r.Value, LDBL_MAX));
  EXPECT_EQ(r.Report, (L{"(0)zero division"}));
  EXPECT_EQ(RunLine(e, "r = -1/0", true).Value, LDBL_MAX) << "positive whatever the signs";
  EXPECT_EQ(RunLine(e, "r = sqrt(4) + 1/x", true).Report, (L{"(1)zero division"}))
      << "the index of the division instruction";
}

TEST(ArithmeticUnitRun, LogarithmBaseOne) {
  TArithmeticUnit e;
  EXPECT_EQ(RunLine(e, "r = log(1, 8)").Text(), "logの底が範囲外です.");
  const TRun r = RunLine(e, "r = log(1, 8)", true);
  ASSERT_TRUE(r.Ok);
  EXPECT_EQ(r.Value, 0);
  EXPECT_EQ(r.Report, (L{"(0)domain error: log(1, 8)"}));
}

TEST(ArithmeticUnitRun, ProcessorFaultsStopTheRunInEitherMode) {
  TArithmeticUnit e;
  for (bool mode : {false, true}) {
    EXPECT_EQ(RunLine(e, "r = 1e4000 * 1e4000", mode).Text(), "数式の実行中にエラーが発生しました");
    EXPECT_EQ(RunLine(e, "r = mod(1, 0)", mode).Text(), "数式の実行中にエラーが発生しました");
    EXPECT_EQ(RunLine(e, "r = random(1e30)", mode).Text(), "数式の実行中にエラーが発生しました");
    EXPECT_EQ(RunLine(e, "r = 1e4000 / 1e-4000", mode).Text(), "数式の実行中にエラーが発生しました");
  }
  // Underflow is masked: a tiny product is no fault.
  EXPECT_EQ(RunLine(e, "r = 1e-4000 * 1e-4000").Text(), "0");
  // Writes before the failing instruction stay; later ones never happen. (The
  // group is compiled first, so its assignment runs before the product.)
  *e.GetVariablePointer("c", true) = 1;
  EXPECT_FALSE(RunLine(e, "(a = 5), b = 1e4000 * 1e4000, c = 7").Ok);
  EXPECT_EQ(Value(e, "a"), 5);
  EXPECT_EQ(Value(e, "c"), 1);
  // The flags are clean for the next run.
  EXPECT_EQ(fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW), 0);
  EXPECT_EQ(RunLine(e, "r = 2 + 2").Text(), "4");
}

TEST(ArithmeticUnitRun, InfinityFromADeclinedFaultFlowsOn) {
  TArithmeticUnit e;
  EXPECT_EQ(RunLine(e, "r = exp(20000)").Text(), "INF");
  EXPECT_EQ(RunLine(e, "r = sqrt(-1)").Text(), "NAN");
  EXPECT_EQ(RunLine(e, "r = exp(20000) - exp(20000)").Text(), "数式の実行中にエラーが発生しました");
}

TEST(ArithmeticUnitRun, NaNArgumentsAreMathErrorsNotProcessorFaults) {
  // Found by the differential test: an ordinary comparison on a NaN argument
  // raised the invalid flag and stopped the run.
  TArithmeticUnit e;
  ASSERT_TRUE(RunLine(e, "n = sqrt(-1)").Ok);
  for (const char *f : {"asin(n)", "acos(n)", "sin(n)", "ln(n)", "sqrt(n)", "pow(n, 2)", "pow(2, n)", "exp(n)",
                        "atan2(n, n)", "log(n, 2)"})
    EXPECT_TRUE(RunLine(e, f).Ok) << f << ": " << RunLine(e, f).Error;
  const TRun r = RunLine(e, "asin(n)", true);
  ASSERT_TRUE(r.Ok);
  EXPECT_EQ(r.Value, 0);
  EXPECT_EQ(r.Report, (L{"(0)domain error: asin(NAN)"}));
}

TEST(ArithmeticUnitRun, RandomTruncatesAndWraps) {
  TArithmeticUnit e;
  for (int i = 0; i < 200; ++i) {
    const long double a = RunLine(e, "random(-5)").Value;
    EXPECT_TRUE(a >= 0 && a <= 4 && a == floorl(a)) << FormatGeneral(a);
    const long double b = RunLine(e, "random(2.9)").Value;
    EXPECT_TRUE(b == 0 || b == 1) << FormatGeneral(b);
  }
  EXPECT_EQ(RunLine(e, "random(4294967296)").Text(), "0") << "the low 32 bits of 2^32 are 0";
  velmora::RandomGenerator().Seed(12345);
  EXPECT_EQ(RunLine(e, "random(2147483647)").Text(), "1220244142");
  EXPECT_EQ(RunLine(e, "random(-2147483648)").Text(), "1374406965") << "2^31 wraps to -2^31";
  EXPECT_EQ(RunLine(e, "random(4294967306)").Text(), std::to_string(308141128 % 10)) << "2^32 + 10 -> 10";
  // -2^63 fits in 64 bits (low 32 bits 0); one beyond either end does not.
  for (bool mode : {false, true}) {
    TArithmeticUnit f;
    EXPECT_EQ(RunLine(f, "r = random(-9223372036854775808)", mode).Text(), "0") << mode;
    EXPECT_EQ(RunLine(f, "r = random(-9223372036854775809)", mode).Text(), "数式の実行中にエラーが発生しました");
    EXPECT_EQ(RunLine(f, "r = random(9223372036854775808)", mode).Text(), "数式の実行中にエラーが発生しました");
  }
}

TEST(ArithmeticUnitRun, RandomizeReseedsFromTheClock) {
  TArithmeticUnit e;
  const std::uint32_t now = static_cast<std::uint32_t>(std::time(nullptr));
  ASSERT_TRUE(RunLine(e, "randomize()").Ok);
  const std::uint64_t state = velmora::RandomGenerator().State;
  EXPECT_EQ(state >> 32, 0u);
  const bool fromClock = state == static_cast<std::uint32_t>(now * 0x015A4E35u + 1u) ||
                         state == static_cast<std::uint32_t>((now + 1) * 0x015A4E35u + 1u);
  EXPECT_TRUE(fromClock);
}

TEST(ArithmeticUnitRun, CollectingSwitchIsRestored) {
  TArithmeticUnit e;
  auto &m = velmora::MathErrorManager();
  ASSERT_FALSE(m.Collecting);
  RunLine(e, "r = sqrt(-1)", true);
  EXPECT_FALSE(m.Collecting);
  m.Collecting = true;
  e.MathErrorMode = true;
  ASSERT_TRUE(e.SetExpression(0, "r = 1e4000 * 1e4000"));
  long double v;
  EXPECT_FALSE(e.Calculate(0, v));
  EXPECT_TRUE(m.Collecting) << "a failed run restores it too";
  m.Collecting = false;
  // Outside MathErrorMode nothing is recorded.
  EXPECT_TRUE(RunLine(e, "r = sqrt(-1)").Report.empty());
}

TEST(ArithmeticUnitRun, SlotsRunTogetherExactlyAsOneByOne) {
  // One pixel's slots with a single fault-flag test must leave everything as
  // the same slots run one Calculate at a time: the outcome, the failing slot,
  // the variables, the generator and the math error records.
  const std::vector<std::vector<std::string>> sets = {
      {"n++", "acc += x*0.5", "r = acc/n + random(7)"},
      {"a = x", "q = exp(x) * 1e4930", "r = 1"},          // overflow from x = 5
      {"a = x", "b = sqrt(x - 3)", "c = 1/(x - 4)", "r = a"},  // math errors only
      {"j = x", "k = random(x * 2e18)", "r = k"},          // beyond 64 bits from x = 5
      {"w = 1e4000 * (x - 2)", "v = w * 1e4000", "r = v"},  // fails at once, in slot 1
      {"m = mod(x, x - 3)", "r = m"},                     // invalid at x = 3
  };
  int failures = 0;
  for (const auto &lines : sets) {
    TArithmeticUnit together, apart;
    for (std::size_t k = 0; k < lines.size(); ++k) {
      ASSERT_TRUE(together.SetExpression(static_cast<int>(k), lines[k])) << lines[k];
      apart.SetExpression(static_cast<int>(k), lines[k]);
    }
    const int n = static_cast<int>(lines.size());
    together.MathErrorMode = apart.MathErrorMode = true;
    for (int px = 0; px < 9; ++px) {
      *together.GetVariablePointer("x", true) = px;
      *apart.GetVariablePointer("x", true) = px;
      velmora::RandomGenerator().Seed(static_cast<std::uint32_t>(px));
      int failed = -1;
      const bool ok1 = together.CalculateSlots(n, failed);
      const std::string message1 = together.ErrorMessage;
      L records1;
      together.GetMathErrors(records1);
      const std::uint64_t state1 = velmora::RandomGenerator().State;
      velmora::RandomGenerator().Seed(static_cast<std::uint32_t>(px));
      bool ok2 = true;
      int failed2 = -1;
      long double v;
      for (int k = 0; k < n && ok2; ++k) {
        ok2 = apart.Calculate(k, v);
        if (!ok2) failed2 = k;
      }
      L records2;
      apart.GetMathErrors(records2);
      ASSERT_EQ(ok1, ok2) << lines[0] << " at x = " << px;
      EXPECT_EQ(failed, failed2);
      EXPECT_EQ(message1, apart.ErrorMessage);
      EXPECT_EQ(records1, records2);
      EXPECT_EQ(state1, velmora::RandomGenerator().State);
      ASSERT_EQ(together.VariableCount, apart.VariableCount);
      for (std::int32_t i = 0; i < together.VariableCount; ++i) {
        const auto &a = together.Variables[static_cast<std::size_t>(i)], &b = apart.Variables[static_cast<std::size_t>(i)];
        EXPECT_EQ(a.Name, b.Name);
        EXPECT_TRUE(SameBits(a.Value, b.Value) || (std::isnan(a.Value) && std::isnan(b.Value)))
            << lines[0] << ": " << a.Name << " at x = " << px;
      }
      if (!ok1) {
        ++failures;
        break;  // the paint would stop here
      }
    }
  }
  EXPECT_EQ(failures, 4) << "four of the sets stop at some pixel";
}
