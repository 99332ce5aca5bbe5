// Every math function the engine calls, near the limits of its fault rules,
// in machine code and interpreted, against the differential tests' reference.
#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "DifferentialReference.h"
#include "compiler/Opcodes.h"
#include "engine/ArithmeticUnit.h"
#include "engine/MathFaultRules.h"

using namespace differential;

namespace {

// Arguments on and beside the edges of the fault rules, where the library's
// results are finite but its status flags may say otherwise.
std::vector<long double> EdgeArguments() {
  const long double inf = INFINITY;
  std::vector<long double> edges = {0, 1, 0.5L, 2, 1e-4940L, LDBL_MIN, LDBL_MAX, 1e-300L, 1e300L, 1e-4000L,
                                    1e4000L, 0x1p63L, 11356.5L, 11355.0L, 11356.49L, 11354.99L, inf,
                                    static_cast<long double>(NAN)};
  for (long double e : std::vector<long double>(edges)) {
    edges.push_back(nextafterl(e, inf));
    edges.push_back(nextafterl(e, 0));
  }
  for (long double e : std::vector<long double>(edges)) edges.push_back(-e);
  return edges;
}

// pow's arguments: powers of ten near the limits with small whole exponents
// (exactly where 80-bit powl leaves its overflow and underflow flags on a
// finite result), and exponents that put y * ln|x| just inside and outside.
std::vector<std::pair<long double, long double>> PowArguments() {
  std::vector<std::pair<long double, long double>> pairs = {{1e2000L, 2}, {1e1500L, 3}, {1e2467L, 1}, {1e-3000L, -1}};
  for (int k = 1200; k <= 4932; k += 7) {
    for (long double y : {1.0L, 2.0L, 3.0L, 4.0L, -1.0L, -2.0L, -3.0L}) {
      const long double x = powl(10.0L, static_cast<long double>(k));
      pairs.push_back({x, y});
      pairs.push_back({-x, y});
      pairs.push_back({1 / x, y});
    }
  }
  for (int k = -16382; k <= 16383; k += 211) {
    const long double x = ldexpl(1.25L, k), ln = logl(x);
    if (ln == 0) continue;
    for (long double t : {11356.4L, 11356.49L, 11356.5L, 11356.6L, -11354.9L, -11354.99L, -11355.0L, -11355.1L,
                          10600.0L, -10600.0L}) {
      pairs.push_back({x, t / ln});
      pairs.push_back({-x, nearbyintl(t / ln)});
    }
  }
  return pairs;
}

const char *FaultWord(int fault) {
  using namespace velmora::checked::rules;
  switch (fault) {
    case Domain: return "domain error";
    case Singularity: return "singularity";
    case Overflow: return "overflow";
    case Underflow: return "underflow";
    case TotalLoss: return "total loss of significance";
    default: return "";
  }
}

struct TCounts {
  int Runs = 0, Finite = 0, Records = 0, Stops = 0;
};

// One call and what the reference made of it.
struct TCall {
  const std::string &F, &Text;
  long double P, Q;
  bool Mode;
  int Rule;
  bool RefStops;
  long double RefValue;
};

// The call on one engine (its slot 0 holds it) against the reference.
void CheckRun(velmora::TArithmeticUnit &engine, const TCall &c, TCounts &counts) {
  const std::string &f = c.F;
  *engine.GetVariablePointer("a", true) = c.P;
  *engine.GetVariablePointer("b", true) = c.Q;
  engine.MathErrorMode = c.Mode;
  long double value = 0;
  const bool ok = engine.Calculate(0, value);
  engine.MathErrorMode = false;
  velmora::TStringList lines;
  engine.GetMathErrors(lines);
  const std::string where = c.Text + (engine.NativeCodeEnabled ? " machine code" : " interpreted") +
                            (c.Mode ? ", math error mode" : "");
  ++counts.Runs;
  ASSERT_EQ(!ok, c.RefStops) << where << ": " << engine.ErrorMessage;
  ASSERT_EQ(fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW), 0) << where << ": flags left behind";
  if (!ok) {
    // Only what the processor itself faults on: mod's invalid
    // operation, or a logarithm of base 1 outside math error mode.
    ASSERT_TRUE(f == "mod" || f == "log") << where;
    ++counts.Stops;
    return;
  }
  ASSERT_TRUE(Same(value, c.RefValue)) << where << ": " << static_cast<double>(value) << " vs "
                                       << static_cast<double>(c.RefValue);
  if (f == "log") return;  // two calls, checked one by one as ln
  if (!c.Rule && std::isfinite(value)) ++counts.Finite;
  if (!c.Mode || !c.Rule) {
    ASSERT_TRUE(lines.empty()) << where << ": " << lines[0];
  } else {
    ASSERT_EQ(lines.size(), 1u) << where;
    EXPECT_NE(lines[0].find(FaultWord(c.Rule)), std::string::npos) << where << ": " << lines[0];
    ++counts.Records;
  }
}

}  // namespace

// Every math function the engine calls, in machine code and interpreted, in
// both math error modes, against the reference: a result the fault rules let
// through is just the result, whatever status flags the library left; a rule's
// fault gives exactly its record; only mod's invalid operation stops the run.
TEST(Differential, LibraryCallsNearTheRangeLimitsFaultOnlyByTheRules) {
  using velmora::OpcodeInfo;
  std::vector<std::string> functions;
  for (int code = 0; code < velmora::OpcodeSpace; ++code) {
    const velmora::TOpcodeShape &s = OpcodeInfo(code).Shape;
    if (s.Writes && s.CallsOut && !s.Inline && s.Operands > 1) functions.push_back(OpcodeInfo(code).Formula);
  }
  functions.push_back("log");  // the built-in of two logarithms
  ASSERT_EQ(functions.size(), 20u) << "every library function is swept";

  const std::vector<long double> edges = EdgeArguments();
  std::vector<std::pair<long double, long double>> pairs = PowArguments();
  const std::size_t powPairs = pairs.size();
  for (std::size_t i = 0; i < edges.size(); i += 3)
    for (long double q : edges) pairs.push_back({edges[i], q});

  velmora::TArithmeticUnit engines[2];
  engines[0].NativeCodeEnabled = false;
  engines[1].NativeCodeEnabled = true;
  TCounts counts;
  for (const std::string &f : functions) {
    const bool two = f == "atan2" || f == "pow" || f == "mod" || f == "log";
    for (velmora::TArithmeticUnit &engine : engines) ASSERT_TRUE(engine.SetExpression(0, "w0 = " + f + (two ? "(a, b)" : "(a)")));
    const std::size_t count = two ? (f == "pow" ? pairs.size() : pairs.size() - powPairs) : edges.size();
    for (std::size_t i = 0; i < count; ++i) {
      const long double p = two ? pairs[f == "pow" ? i : powPairs + i].first : edges[i];
      const long double q = two ? pairs[f == "pow" ? i : powPairs + i].second : 0;
      const std::string call = f + "(" + std::to_string(static_cast<double>(p)) + ", " +
                               std::to_string(static_cast<double>(q)) + ")";
      const int rule = velmora::checked::rules::FaultOf(TReference::Opcode(f == "log" ? "ln" : f), p, q);
      for (bool mode : {false, true}) {
        TReference ref;
        ref.MathMode = mode;
        bool refStops = false;
        long double refValue = 0;
        try {
          refValue = two ? ref.Call(f, p, q) : ref.Call(f, p);
        } catch (const TFault &) {
          refStops = true;
        }
        for (velmora::TArithmeticUnit &engine : engines)
          ASSERT_NO_FATAL_FAILURE(CheckRun(engine, {f, call, p, q, mode, rule, refStops, refValue}, counts));
      }
    }
  }
  EXPECT_GT(counts.Finite, 20000);
  EXPECT_GT(counts.Records, 2000);
  EXPECT_GT(counts.Stops, 50);
  EXPECT_GT(counts.Runs, 100000);
}

// A fault flag raised before a library call still stops the run: the call
// sets aside only the flags it raised itself.
TEST(Differential, AFaultBeforeALibraryCallStillStopsTheRun) {
  for (bool native : {false, true}) {
    velmora::TArithmeticUnit engine;
    engine.NativeCodeEnabled = native;
    for (const char *text : {"w0 = 1e4000 * 1e4000, w1 = pow(1e2000, 2)", "w0 = mod(1, 0), w1 = sin(1)",
                             "w0 = 1e4000 * 1e4000 + pow(1e2000, 2)"}) {
      for (bool mode : {false, true}) {
        ASSERT_TRUE(engine.SetExpression(0, text));
        engine.MathErrorMode = mode;
        long double value;
        EXPECT_FALSE(engine.Calculate(0, value)) << text << (native ? " machine code" : " interpreted");
        EXPECT_EQ(engine.ErrorMessage, "数式の実行中にエラーが発生しました") << text;
        engine.MathErrorMode = false;
      }
    }
  }
}
