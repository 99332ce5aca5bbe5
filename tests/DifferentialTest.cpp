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

namespace {

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

constexpr int FaultFlags = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;
const char *const ReadOnly[] = {"a", "b", "c", "x", "y"};
constexpr int Writable = 8;  // w0 .. w7

struct TFault {};  // the run stops

struct TNode {
  enum TKind { Number, Read, Write, Neg, Plus, PreInc, PreDec, PostInc, PostDec, Add, Sub, Mul, Div, Call1, Call2,
               Assign, Compound, Comma } Kind;
  std::string Text;  // number literal, variable or function name; compound operator
  long double Value = 0;
  std::unique_ptr<TNode> L, R;
};

// ---------------------------------------------------------------------------
// The reference evaluator

struct TReference {
  bool MathMode = false;
  std::uint64_t Random = 0;
  long double Vars[5 + Writable] = {};

  static int Slot(const std::string &name) {
    for (int i = 0; i < 5; ++i)
      if (name == ReadOnly[i]) return i;
    return 5 + (name[1] - '0');
  }

  // One native operation; a raised fault flag stops the run.
  template <class F>
  static long double Native(F f) {
    feclearexcept(FE_ALL_EXCEPT);
    volatile long double r = f();
    if (fetestexcept(FaultFlags)) throw TFault{};
    return r;
  }

  // The library's own result with flags put back: for a fault it declines, and
  // for a call the rules let through (its flags never stop a run).
  template <class F>
  static long double Quiet(F f) {
    volatile long double r = f();
    feclearexcept(FE_ALL_EXCEPT);
    return r;
  }

  // A math fault: substitute in math error mode, the library's result otherwise.
  template <class F>
  long double Fault(long double substitute, F library) const {
    return MathMode ? substitute : Quiet(library);
  }

  // The substitute of a fault type, as the math error manager supplies it.
  static long double Substitute(int fault) {
    using namespace velmora::checked::rules;
    return fault == Overflow ? LDBL_MAX : fault == Underflow ? LDBL_MIN : 0;
  }

  static int Opcode(const std::string &f) {
    for (int code = 0; code < velmora::OpcodeSpace; ++code)
      if (f == velmora::OpcodeInfo(code).Formula) return code;
    ADD_FAILURE() << f;
    return velmora::icInvalid;
  }

  // A function of the library with the fault rules the engine goes by
  // (tested on their own in MathErrorsTest).
  template <class F>
  long double Checked(const std::string &f, long double p, long double q, F library) {
    const int fault = velmora::checked::rules::FaultOf(Opcode(f), p, q);
    if (fault) return Fault(Substitute(fault), library);
    return Quiet(library);
  }

  long double Call(const std::string &f, long double v) {
    static const std::map<std::string, long double (*)(long double)> library = {
        {"asin", asinl}, {"acos", acosl}, {"atan", atanl}, {"abs", fabsl},  {"tanh", tanhl},
        {"ceil", ceill}, {"floor", floorl}, {"sin", sinl}, {"cos", cosl},   {"tan", tanl},
        {"exp", expl},   {"cosh", coshl},  {"sinh", sinhl}, {"ln", logl},   {"log10", log10l},
        {"sqrt", sqrtl}};
    if (f == "sqrt" && velmora::checked::rules::SqrtPassesThrough(v)) return v;
    const auto it = library.find(f);
    if (it != library.end()) return Checked(f, v, 0, [fn = it->second, v] { return fn(v); });
    // random(n)
    if (!(v >= -0x1p63L && v < 0x1p63L)) throw TFault{};  // -2^63 still fits in 64 bits
    const auto n = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(v)));
    if (n == 0) return 0;
    Random = Random * 0x0000015A00004E35ull + 1;
    return static_cast<long double>(static_cast<std::int32_t>((Random >> 32) & 0x7FFFFFFF) % n);
  }

  long double Call(const std::string &f, long double p, long double q) {
    if (f == "atan2") return Checked(f, p, q, [=] { return atan2l(p, q); });
    if (f == "mod") return Native([=] { return fmodl(p, q); });
    if (f == "log") {
      const long double base = Call("ln", p);
      if (base == 0) {
        if (!MathMode) throw TFault{};
        return 0;
      }
      const long double value = Call("ln", q);
      return Native([=] { return value / base; });
    }
    // pow: y = 0 gives 1 and a zero base 0 (for a finite base) without a fault.
    const int fault = velmora::checked::rules::Pow(p, q);
    if (fault) return Fault(Substitute(fault), [=] { return powl(p, q); });
    if (std::isfinite(p) && q == 0) return 1;
    if (std::isfinite(p) && p == 0) return 0;
    return Quiet([=] { return powl(p, q); });
  }

  long double Eval(const TNode &n) {
    switch (n.Kind) {
      case TNode::Number: return n.Value;
      case TNode::Read: return Vars[Slot(n.Text)];
      case TNode::Write: return Vars[Slot(n.Text)];
      case TNode::Neg: { const long double v = Eval(*n.L); return -v; }
      case TNode::Plus: return Eval(*n.L);
      case TNode::PreInc: case TNode::PreDec: case TNode::PostInc: case TNode::PostDec: {
        long double &var = Vars[Slot(n.L->Text)];
        const long double old = var;
        const bool up = n.Kind == TNode::PreInc || n.Kind == TNode::PostInc;
        var = Native([=] { return up ? old + 1 : old - 1; });
        return (n.Kind == TNode::PostInc || n.Kind == TNode::PostDec) ? old : var;
      }
      case TNode::Add: case TNode::Sub: case TNode::Mul: case TNode::Div: {
        const long double l = Eval(*n.L), r = Eval(*n.R);
        if (n.Kind == TNode::Div) {
          if (r != 0) return Native([=] { return l / r; });
          if (!MathMode) throw TFault{};
          return LDBL_MAX;
        }
        if (n.Kind == TNode::Add) return Native([=] { return l + r; });
        if (n.Kind == TNode::Sub) return Native([=] { return l - r; });
        return Native([=] { return l * r; });
      }
      case TNode::Call1: return Call(n.Text, Eval(*n.L));
      case TNode::Call2: { const long double p = Eval(*n.L), q = Eval(*n.R); return Call(n.Text, p, q); }
      case TNode::Assign: { const long double v = Eval(*n.R); Vars[Slot(n.L->Text)] = v; return v; }
      case TNode::Compound: {
        const long double r = Eval(*n.R);
        long double &var = Vars[Slot(n.L->Text)];
        const long double l = var;
        if (n.Text == "/=" && r == 0) {
          if (!MathMode) throw TFault{};
          var = LDBL_MAX;
          return var;
        }
        const char op = n.Text[0];
        var = Native([=] { return op == '+' ? l + r : op == '-' ? l - r : op == '*' ? l * r : l / r; });
        return var;
      }
      case TNode::Comma: { Eval(*n.L); return Eval(*n.R); }
    }
    return 0;
  }
};

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

bool Same(long double a, long double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::memcmp(&a, &b, 10) == 0;
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
  int runs = 0, finite = 0, records = 0, stops = 0;
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
        for (velmora::TArithmeticUnit &engine : engines) {
          *engine.GetVariablePointer("a", true) = p;
          *engine.GetVariablePointer("b", true) = q;
          engine.MathErrorMode = mode;
          long double value = 0;
          const bool ok = engine.Calculate(0, value);
          engine.MathErrorMode = false;
          velmora::TStringList lines;
          engine.GetMathErrors(lines);
          const std::string where = call + (engine.NativeCodeEnabled ? " machine code" : " interpreted") +
                                    (mode ? ", math error mode" : "");
          ++runs;
          ASSERT_EQ(!ok, refStops) << where << ": " << engine.ErrorMessage;
          ASSERT_EQ(fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW), 0) << where << ": flags left behind";
          if (!ok) {
            // Only what the processor itself faults on: mod's invalid
            // operation, or a logarithm of base 1 outside math error mode.
            ASSERT_TRUE(f == "mod" || f == "log") << where;
            ++stops;
            continue;
          }
          ASSERT_TRUE(Same(value, refValue)) << where << ": " << static_cast<double>(value) << " vs "
                                             << static_cast<double>(refValue);
          if (f == "log") continue;  // two calls, checked one by one as ln
          if (!rule && std::isfinite(value)) ++finite;
          if (!mode || !rule) {
            ASSERT_TRUE(lines.empty()) << where << ": " << lines[0];
          } else {
            ASSERT_EQ(lines.size(), 1u) << where;
            EXPECT_NE(lines[0].find(FaultWord(rule)), std::string::npos) << where << ": " << lines[0];
            ++records;
          }
        }
      }
    }
  }
  EXPECT_GT(finite, 20000);
  EXPECT_GT(records, 2000);
  EXPECT_GT(stops, 50);
  EXPECT_GT(runs, 100000);
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
