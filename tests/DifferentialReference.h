#pragma once
// The differential tests' reference: a small tree evaluator over native long
// double operations, with the engine's fault rules, and how two results are
// compared. Shared by DifferentialTest.cpp and LibraryCallsTest.cpp.
#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "compiler/Opcodes.h"
#include "engine/MathFaultRules.h"
#include "engine/Random.h"

namespace differential {

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


inline bool Same(long double a, long double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::memcmp(&a, &b, 10) == 0;
}

}  // namespace differential
