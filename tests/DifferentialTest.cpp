// Random formulas run by the engine and by a small tree evaluator written here
// with native long double operations: the same value bits (NaNs as one class),
// the same written variables and the same fault/no-fault outcome, in both math
// error modes.
//
// Writes go only to fresh variables that occur once in a formula, so the order
// in which independent parts are evaluated cannot change a result; random()
// draws happen in the order of their calls, left to right, inner calls first,
// which is also a post-order walk of the tree.
#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <random>

#include "engine/ArithmeticUnit.h"
#include "compiler/Opcodes.h"
#include "engine/MathFaultRules.h"
#include "engine/Random.h"
#include "DifferentialReference.h"

namespace {

using namespace differential;

// The inner functions of a formula taking `arguments` arguments, in the
// opcode table's order.
std::vector<const char *> InnerFunctions(int arguments) {
  std::vector<const char *> names;
  for (int code = 0; code < velmora::OpcodeSpace; ++code) {
    const velmora::TOpcodeInfo &row = velmora::OpcodeInfo(code);
    if (row.Shape.Operands >= 0 && row.Shape.Arguments == arguments) names.push_back(row.Formula);
  }
  return names;
}


// ---------------------------------------------------------------------------
// The generator and printer

class TGenerator {
 public:
  explicit TGenerator(unsigned seed) : Rng(seed) {}
  std::mt19937_64 Rng;
  int NextWritable = 0;

  int Pick(int n) { return static_cast<int>(Rng() % static_cast<unsigned>(n)); }

  std::unique_ptr<TNode> Leaf(TNode::TKind kind, std::string text) {
    auto n = std::make_unique<TNode>();
    n->Kind = kind;
    n->Text = std::move(text);
    return n;
  }
  std::unique_ptr<TNode> Fresh() {
    if (NextWritable >= Writable) return nullptr;
    return Leaf(TNode::Write, "w" + std::to_string(NextWritable++));
  }

  std::unique_ptr<TNode> NumberNode() {
    static const char *const fixed[] = {"0", "1", "2", "0.5", "255", "3.25", "10", "0.1", "1e308", "1e-320",
                                        "1e4000", "1e-4000", "11356.5", "11355", "9223372036854775808", "1e+", "7."};
    std::string text;
    if (Pick(3) == 0) {
      text = fixed[Pick(sizeof fixed / sizeof *fixed)];
    } else {
      text = std::to_string(Pick(100000)) + "." + std::to_string(Pick(1000)) + "e" +
             std::to_string(Pick(9855) - 4930);
    }
    auto n = Leaf(TNode::Number, text);
    std::string parse = text;
    n->Value = strtold(parse.c_str(), nullptr);
    return n;
  }

  std::unique_ptr<TNode> Expr(int depth) {
    const int choice = depth <= 0 ? Pick(2) : Pick(14);
    switch (choice) {
      case 0: return NumberNode();
      case 1: return Leaf(TNode::Read, ReadOnly[Pick(5)]);
      case 2: case 3: {
        static const TNode::TKind ops[] = {TNode::Add, TNode::Sub, TNode::Mul, TNode::Div};
        auto n = Leaf(ops[Pick(4)], "");
        n->L = Expr(depth - 1);
        n->R = Expr(depth - 1);
        return n;
      }
      case 4: { auto n = Leaf(Pick(2) ? TNode::Neg : TNode::Plus, ""); n->L = Expr(depth - 1); return n; }
      case 5: case 6: {
        static const std::vector<const char *> one = InnerFunctions(1);
        auto n = Leaf(TNode::Call1, one[static_cast<std::size_t>(Pick(static_cast<int>(one.size())))]);
        n->L = Expr(depth - 1);
        return n;
      }
      case 7: {
        static const std::vector<const char *> two = InnerFunctions(2);
        auto n = Leaf(TNode::Call2, two[static_cast<std::size_t>(Pick(static_cast<int>(two.size())))]);
        n->L = Expr(depth - 1);
        n->R = Expr(depth - 1);
        return n;
      }
      case 8: {
        auto w = Fresh();
        if (!w) return NumberNode();
        static const TNode::TKind kinds[] = {TNode::PreInc, TNode::PreDec, TNode::PostInc, TNode::PostDec};
        auto n = Leaf(kinds[Pick(4)], "");
        n->L = std::move(w);
        return n;
      }
      case 9: case 10: {
        auto w = Fresh();
        if (!w) return NumberNode();
        static const char *const compound[] = {"+=", "-=", "*=", "/="};
        auto n = Leaf(Pick(2) ? TNode::Assign : TNode::Compound, compound[Pick(4)]);
        n->L = std::move(w);
        n->R = Expr(depth - 1);
        return n;
      }
      case 11: { auto n = Leaf(TNode::Comma, ""); n->L = Expr(depth - 1); n->R = Expr(depth - 1); return n; }
      default: return Leaf(TNode::Read, ReadOnly[Pick(5)]);
    }
  }
};

// The level of a node's operator in the language (higher binds weaker).
int Level(const TNode &n) {
  switch (n.Kind) {
    case TNode::Add: case TNode::Sub: return 5;
    case TNode::Mul: case TNode::Div: return 4;
    case TNode::Neg: case TNode::Plus: case TNode::PreInc: case TNode::PreDec: return 2;
    case TNode::Assign: case TNode::Compound: return 15;
    case TNode::Comma: return 16;
    default: return 0;  // operands, calls, postfix
  }
}

std::string Print(const TNode &n, std::mt19937_64 &rng);

std::string Wrap(const TNode &n, bool needed, std::mt19937_64 &rng) {
  const bool extra = rng() % 8 == 0;
  const std::string inner = Print(n, rng);
  return needed || extra ? "( " + inner + " )" : inner;
}

std::string Print(const TNode &n, std::mt19937_64 &rng) {
  const int level = Level(n);
  switch (n.Kind) {
    case TNode::Number: case TNode::Read: case TNode::Write: return n.Text;
    case TNode::Neg: return "- " + Wrap(*n.L, Level(*n.L) > 2, rng);
    case TNode::Plus: return "+ " + Wrap(*n.L, Level(*n.L) > 2, rng);
    case TNode::PreInc: return "++ " + n.L->Text;
    case TNode::PreDec: return "-- " + n.L->Text;
    case TNode::PostInc: return n.L->Text + " ++";
    case TNode::PostDec: return n.L->Text + " --";
    case TNode::Add: case TNode::Sub: case TNode::Mul: case TNode::Div: {
      static const char *const ops = "+-*/";
      const char op = ops[n.Kind - TNode::Add];
      return Wrap(*n.L, Level(*n.L) > level, rng) + " " + op + " " + Wrap(*n.R, Level(*n.R) >= level, rng);
    }
    case TNode::Call1: return n.Text + "( " + Wrap(*n.L, Level(*n.L) == 16, rng) + " )";
    case TNode::Call2:
      return n.Text + "( " + Wrap(*n.L, Level(*n.L) == 16, rng) + " , " + Wrap(*n.R, Level(*n.R) == 16, rng) + " )";
    case TNode::Assign: return n.L->Text + " = " + Wrap(*n.R, Level(*n.R) > 15, rng);
    case TNode::Compound: return n.L->Text + " " + n.Text + " " + Wrap(*n.R, Level(*n.R) > 15, rng);
    case TNode::Comma: return Wrap(*n.L, false, rng) + " , " + Wrap(*n.R, Level(*n.R) >= 16, rng);
  }
  return "";
}

}  // namespace

TEST(Differential, EngineAgreesWithANativeTreeEvaluator) {
  const unsigned seed = 20261209;
  const int formulas = 100000;
  TGenerator gen(seed);
  velmora::TArithmeticUnit engine;
  int faults[2] = {0, 0};
  for (int i = 0; i < formulas; ++i) {
    gen.NextWritable = 0;
    const std::unique_ptr<TNode> tree = gen.Expr(1 + gen.Pick(5));
    const std::string text = Print(*tree, gen.Rng);
    long double start[5 + Writable];
    for (long double &v : start) v = static_cast<long double>(gen.Pick(2001) - 1000) / 8;
    const std::uint64_t randomState = gen.Rng();

    for (bool mode : {false, true}) {
      TReference ref;
      ref.MathMode = mode;
      ref.Random = randomState;
      std::copy(std::begin(start), std::end(start), ref.Vars);
      bool refFault = false;
      long double refValue = 0;
      try {
        refValue = ref.Eval(*tree);
      } catch (const TFault &) {
        refFault = true;
      }

      ASSERT_TRUE(engine.SetExpression(0, text)) << text << ": " << engine.ErrorMessage << " (seed " << seed << ")";
      for (int k = 0; k < 5 + Writable; ++k) {
        const std::string name = k < 5 ? ReadOnly[k] : "w" + std::to_string(k - 5);
        *engine.GetVariablePointer(name, true) = start[k];
      }
      velmora::RandomGenerator().State = randomState;
      engine.MathErrorMode = mode;
      long double value = 0;
      const bool ok = engine.Calculate(0, value);
      engine.MathErrorMode = false;
      velmora::TStringList records;
      engine.GetMathErrors(records);

      ASSERT_EQ(!ok, refFault) << "formula " << i << ": " << text << "\nmode " << mode << ", engine says '"
                               << engine.ErrorMessage << "' (seed " << seed << ")";
      if (refFault) {
        ++faults[mode];
        continue;
      }
      ASSERT_TRUE(Same(value, refValue)) << "formula " << i << ": " << text << "\nmode " << mode << ": "
                                         << static_cast<double>(value) << " vs " << static_cast<double>(refValue)
                                         << " (seed " << seed << ")";
      for (int k = 5; k < 5 + Writable; ++k) {
        long double v = 0;
        engine.GetVariableValue("w" + std::to_string(k - 5), v);
        ASSERT_TRUE(Same(v, ref.Vars[k])) << "formula " << i << ": " << text << "\nw" << k - 5 << " differs, mode "
                                          << mode << " (seed " << seed << ")";
      }
      ASSERT_EQ(velmora::RandomGenerator().State, ref.Random) << text << " (seed " << seed << ")";
    }
  }
  // The generator must reach both outcomes often enough to mean something.
  EXPECT_GT(faults[0], formulas / 100);
  EXPECT_LT(faults[1], formulas / 2);
  std::printf("differential: %d formulas in two modes, %d and %d runs stopped by faults\n", formulas, faults[0],
              faults[1]);
}

namespace {

// Everything a run leaves behind.
struct TRun {
  bool Ok = false;
  std::string Message;
  long double Value = 0;
  long double Vars[5 + Writable] = {};
  std::uint64_t Random = 0;
  velmora::TStringList Records;
};

TRun RunOnce(velmora::TArithmeticUnit &engine, const std::string &text, const long double *start,
             std::uint64_t randomState, bool mathMode) {
  TRun r;
  EXPECT_TRUE(engine.SetExpression(0, text)) << text << ": " << engine.ErrorMessage;
  for (int k = 0; k < 5 + Writable; ++k)
    *engine.GetVariablePointer(k < 5 ? ReadOnly[k] : "w" + std::to_string(k - 5), true) = start[k];
  velmora::RandomGenerator().State = randomState;
  engine.MathErrorMode = mathMode;
  // Twice: the second run uses what the first one prepared.
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k < 5 + Writable; ++k)
      *engine.GetVariablePointer(k < 5 ? ReadOnly[k] : "w" + std::to_string(k - 5), false) = start[k];
    velmora::RandomGenerator().State = randomState;
    engine.GetMathErrors(r.Records);
    r.Records.clear();
    r.Ok = engine.Calculate(0, r.Value);
  }
  engine.MathErrorMode = false;
  r.Message = engine.ErrorMessage;
  for (int k = 0; k < 5 + Writable; ++k)
    engine.GetVariableValue(k < 5 ? ReadOnly[k] : "w" + std::to_string(k - 5), r.Vars[k]);
  r.Random = velmora::RandomGenerator().State;
  engine.GetMathErrors(r.Records);
  return r;
}

void ExpectSameRun(const TRun &a, const TRun &b, const std::string &what) {
  ASSERT_EQ(a.Ok, b.Ok) << what << ": " << a.Message << " / " << b.Message;
  EXPECT_EQ(a.Message, b.Message) << what;
  EXPECT_TRUE(Same(a.Value, b.Value)) << what << ": " << static_cast<double>(a.Value) << " vs "
                                      << static_cast<double>(b.Value);
  for (int k = 0; k < 5 + Writable; ++k) EXPECT_TRUE(Same(a.Vars[k], b.Vars[k])) << what << ": variable " << k;
  EXPECT_EQ(a.Random, b.Random) << what;
  EXPECT_EQ(a.Records, b.Records) << what;
}

}  // namespace

// The machine code must do exactly what the interpreter does, including where
// a run stops, what it wrote before, and the math error records (with their
// instruction positions). Here variables are written and read in any order.
TEST(Differential, MachineCodeAgreesWithTheInterpreter) {
  velmora::TArithmeticUnit compiled, interpreted;
  compiled.NativeCodeEnabled = true;
  interpreted.NativeCodeEnabled = false;
  std::vector<std::string> formulas = {
      "w0 = x / 0", "w0 = (x + 1) / 0", "w0 = 1 / (x - x)", "w0 = (x - x) / (y - y)", "w0 = x / (y * 0)",
      "w0 = (a + 0) / (a - a) + 1", "w0 = log(1, x)", "w0 = log(x - x + 1, y)", "w0 = log(2, 0)",
      "w0 = random(1e30)", "w0 = random(x) + random(y + 0.5)", "randomize(), w0 = random(100)",
      "w0 = x, w1 = w0 * w0, w0 += w1 / w0, w0++", "w0 = ++w1 * w1--", "w0 = -(-x) - -(y)",
      "w0 = sqrt(-x - 1) + ln(0) + exp(1e5) + pow(0, -1) + asin(2)", "w0 = x / 0 + sqrt(-1)",
      "w0 = exp(20000) * 10", "w0 = 1e4900 * 1e4900", "w0 = mod(x, 0)", "w0 = atan2(0, 0) + atan2(x, y)",
      "w0 = w0 = w1 = x * y / 3", "w0 = x - y - a - b - c", "w0 = x / (y / (a / (b / c)))",
      "w0 = (x + y) * (x - y) / ((a + b) * (a - b))", "w0 = pow(x, y) + pow(x + y, 0.5) + pow(-x, 3)",
      // Many values alive at once: more than the eight floating-point registers.
      "w0 = ((x+1)*(y+2)) / ((a+3)*(b+4)) - ((c+5)*(x+6)) / ((y+7)*(a+8)) + (((x*y)+(a*b))*((c*x)+(y*a)))",
      "w0 = (x+(y+(a+(b+(c+(x+(y+(a+(b+(c+1))))))))))*(x*(y*(a*(b*(c*(x*(y*(a*(b*c)))))))))",
      "w0 = x*x*x + x*y - y*y/x + x - y, w1 = w0*w0 - x, w2 = w1/w0 + w0/w1",
      "w0 = sqrt(x)*sqrt(x) + sin(x)/sin(x) + x/x + (x-y)/(x-y)", "w0 = atan2(x, x) + pow(y, y) + log(x, x)",
      "w0 = x, w0 *= w0, w0 -= x, w0 /= y, w1 = w0++ + ++w0", "w0 = -x - -y - -(-a)",
      "w0 = 0 * x + 1 * y + 0 / (x + 1) + 1 / (y - y + 1) - 0 - 1",
      "w0 = exp(x/100) + exp(y/100) + (x + y) * (exp(a/100) - exp(b/100)) / (1 + exp(c/100))",
  };
  TGenerator gen(8);
  for (int i = 0; i < 30000; ++i) {
    gen.NextWritable = 0;
    std::string text = Print(*gen.Expr(1 + gen.Pick(5)), gen.Rng);
    // Read some of the written variables back, in the same formula and after.
    if (gen.Pick(2)) text = "w0 = x * 2, " + text + " , w1 = w0 + w1 * w2";
    formulas.push_back(text);
  }
  int native = 0, faults = 0;
  for (std::size_t i = 0; i < formulas.size(); ++i) {
    long double start[5 + Writable];
    for (long double &v : start) v = static_cast<long double>(gen.Pick(2001) - 1000) / 8;
    const std::uint64_t randomState = gen.Rng();
    for (bool mode : {false, true}) {
      const TRun a = RunOnce(compiled, formulas[i], start, randomState, mode);
      const TRun b = RunOnce(interpreted, formulas[i], start, randomState, mode);
      ExpectSameRun(a, b, formulas[i] + (mode ? " (math error mode)" : ""));
      if (::testing::Test::HasFatalFailure() || ::testing::Test::HasNonfatalFailure()) return;
      faults += !a.Ok;
    }
    native += compiled.Expressions[0].Native != nullptr;
    ASSERT_EQ(interpreted.Expressions[0].Native, nullptr);
  }
  if (velmora::TNativeCode::Supported) {
    EXPECT_EQ(native, static_cast<int>(formulas.size())) << "every formula ran as machine code";
  }
  EXPECT_GT(faults, 300) << "the runs that stop are compared too";
}
