#include "engine/ArithmeticUnit.h"

#include <cerrno>
#include <cfenv>
#include <clocale>
#include <cmath>
#include <ctime>
#include <limits>
#include <locale.h>
#include <new>
#include <stdlib.h>

#include "engine/AddressingManager.h"
#include "engine/CheckedMath.h"
#include "engine/MathErrorManager.h"
#include "engine/Random.h"

namespace velmora {

namespace {

constexpr const char *OutOfMemory = "Memory allocation has been failed.";
constexpr const char *AddressRefused = "アドレスに関する演算は行えない.";
constexpr const char *SyntaxError = "式の文法エラー.";
constexpr const char *ArgumentMismatch = "内部関数の引数が一致しない";
constexpr const char *ProcessorFault = "数式の実行中にエラーが発生しました";
constexpr int FaultFlags = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;
constexpr std::int32_t InitialCapacity = 100;

// An invalid operation, a division by zero or an overflow shows in the x87
// status word (long double arithmetic) or in MXCSR (where some library
// functions do their work). Reading both inline is much cheaper than a call
// to fetestexcept.
inline bool FaultFlagsRaised() {
#if defined(__x86_64__)
  unsigned short status;
  unsigned int mxcsr;
  __asm__ volatile("fnstsw %0" : "=am"(status));
  __asm__ volatile("stmxcsr %0" : "=m"(mxcsr));
  return ((status | mxcsr) & FaultFlags) != 0;
#else
  return fetestexcept(FaultFlags) != 0;
#endif
}

bool WritesOperand0(std::uint8_t opcode) { return opcode != icEnd && opcode != icRandomize; }

bool StartsWith(const std::string &s, const std::string &prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// Number tokens are plain ASCII; read them the same way whatever the user's locale.
long double ParseNumber(const std::string &token) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  // "1e+" and "2E-" count as exponent 0: strtold stops before the bare mark.
  return strtold_l(token.c_str(), nullptr, cLocale);
}

}  // namespace

struct TArithmeticUnit::TTranslation {
  std::string ConstPrefix;
  std::vector<long double> Constants;
  TAddressingManager *Bindings = nullptr;
  std::int32_t Declared = 0;
  bool EndSeen = false;

  // k of a constant name, or -1 when the rest is not a valid index.
  long ConstantIndex(const std::string &name) const {
    if (!StartsWith(name, ConstPrefix) || name.size() == ConstPrefix.size()) return -1;
    long k = 0;
    for (std::size_t i = ConstPrefix.size(); i < name.size(); ++i) {
      if (name[i] < '0' || name[i] > '9') return -1;
      k = k * 10 + (name[i] - '0');
      if (k >= static_cast<long>(Constants.size())) return -1;
    }
    return k;
  }
};

TArithmeticUnit::TArithmeticUnit() : Expressions(800) {
  Work.assign(InitialCapacity, 0.0L);
  WorkCapacity = InitialCapacity;
  Variables.resize(InitialCapacity);
  VariableCapacity = InitialCapacity;
}

TArithmeticUnit::~TArithmeticUnit() {
  TMathErrorManager &m = MathErrorManager();
  if (m.PositionPointer == &InstructionIndex) m.PositionPointer = nullptr;
}

// ---------------------------------------------------------------------------
// Variables

bool TArithmeticUnit::GrowVariables() {
  try {
    if (VariableCapacity > std::numeric_limits<std::int32_t>::max() / 2) throw std::bad_alloc();
    std::vector<TVariable> bigger(static_cast<std::size_t>(VariableCapacity) * 2);
    for (std::int32_t i = 0; i < VariableCount; ++i)
      bigger[static_cast<std::size_t>(i)] = std::move(Variables[static_cast<std::size_t>(i)]);
    Variables.swap(bigger);
    VariableCapacity *= 2;
    ++StorageGeneration;
    return true;
  } catch (const std::bad_alloc &) {
    ErrorMessage = OutOfMemory;
    return false;
  }
}

std::int32_t TArithmeticUnit::SearchVariable(const std::string &name, bool create) {
  const auto it = VariableIndex.find(name);
  if (it != VariableIndex.end()) return it->second;
  if (!create) {
    ErrorMessage = "Variable \"" + name + "\" is not defined.";
    return -1;
  }
  if (VariableCount == VariableCapacity && !GrowVariables()) return -1;
  TVariable &v = Variables[static_cast<std::size_t>(VariableCount)];
  v.Name = name;
  v.Value = 0;
  VariableIndex.emplace(name, VariableCount);
  return VariableCount++;
}

long double *TArithmeticUnit::GetVariablePointer(const std::string &name, bool create) {
  const std::int32_t i = SearchVariable(name, create);
  return i < 0 ? nullptr : &Variables[static_cast<std::size_t>(i)].Value;
}

bool TArithmeticUnit::GetVariableValue(const std::string &name, long double &value) {
  const std::int32_t i = SearchVariable(name, false);
  if (i < 0) return false;
  value = Variables[static_cast<std::size_t>(i)].Value;
  return true;
}

void TArithmeticUnit::ClearVariables() {
  VariableCount = 0;
  VariableIndex.clear();
}

bool TArithmeticUnit::GrowWork() {
  try {
    if (WorkCapacity > std::numeric_limits<std::int32_t>::max() / 2) throw std::bad_alloc();
    // Temporaries are written before they are read; nothing needs carrying over.
    std::vector<long double> bigger(static_cast<std::size_t>(WorkCapacity) * 2, 0.0L);
    Work.swap(bigger);
    WorkCapacity *= 2;
    ++StorageGeneration;
    return true;
  } catch (const std::bad_alloc &) {
    ErrorMessage = OutOfMemory;
    return false;
  }
}

// ---------------------------------------------------------------------------
// Compilation

bool TArithmeticUnit::SetExpression(int index, const std::string &text) {
  Intercode.Clear();
  ErrorMessage.clear();
  if (index < 0 || index >= ExpressionCount) {
    ErrorMessage = "Invalid expression index is selected.";
    return false;
  }
  TExpression &slot = Expressions[static_cast<std::size_t>(index)];
  slot.Source = text;

  Scanner.Text = text;
  if (!Scanner.Tokenize()) {
    ErrorMessage = Scanner.ErrorMessage;
    return false;
  }
  TStringList &tokens = *Scanner.Tokens;
  slot.Places.clear();
  slot.PlacesGeneration = 0;
  if (tokens.empty()) {
    TInstruction end;
    end.Opcode = icEnd;  // operand 0: the immediate 0
    slot.Code.assign(1, end);
    return true;
  }

  TTranslation t;
  t.ConstPrefix = Parser.ChooseTempPrefix(&tokens) + "_const";
  for (int i = 0; i < static_cast<int>(tokens.size()); ++i) {
    if (!Scanner.IsNumberToken(i)) continue;
    std::string &token = tokens[static_cast<std::size_t>(i)];
    const long double value = ParseNumber(token);
    if (std::isinf(value)) {
      // The literal lies beyond the long double range; say so instead of
      // silently computing with infinity.
      ErrorMessage = "数値が大きすぎる: " + token;
      return false;
    }
    token = t.ConstPrefix + std::to_string(t.Constants.size());
    t.Constants.push_back(value);
  }

  std::int32_t block = 1;
  Parser.Intercode = &Intercode;
  Parser.BlockNumber = &block;
  Parser.Tokens = tokens;
  Parser.TempCount = 0;
  const bool compiled = Parser.Compile();
  Parser.BlockNumber = nullptr;
  if (!compiled) {
    ErrorMessage = Parser.ErrorMessage;
    return false;
  }

  slot.Code.clear();
  TAddressingManager bindings(Parser.TempCount + 10);
  t.Bindings = &bindings;
  bool ok = Translate(slot, t);
  if (ok && !t.EndSeen) {
    ErrorMessage = "数式が完結していない.";
    ok = false;
  }
  while (ok && t.Declared + 10 > WorkCapacity) {
    if (!GrowWork()) ok = false;
  }
  // A slot whose compilation failed holds no code: running it can never reach
  // half-translated instructions.
  if (!ok) {
    slot.Code.clear();
    return false;
  }
  slot.WrittenVariables.clear();
  for (const TInstruction &ins : slot.Code) {
    const TOperand &o = ins.Operands[0];
    if (!WritesOperand0(ins.Opcode) || o.Mode != 1 || o.Area != 1) continue;
    bool seen = false;
    for (std::int32_t v : slot.WrittenVariables) seen = seen || v == o.Index;
    if (!seen) slot.WrittenVariables.push_back(o.Index);
  }
  if (Snapshot.size() < slot.WrittenVariables.size()) Snapshot.resize(slot.WrittenVariables.size());
  return true;
}

bool TArithmeticUnit::StripAddress(const std::string &text, std::string &name) {
  if (text.empty() || text[0] != '&' || (text.size() > 1 && (text[1] == '&' || text[1] == '*'))) {
    ErrorMessage = AddressRefused;
    return false;
  }
  name = text.substr(1);
  return true;
}

bool TArithmeticUnit::ResolveOperand(const std::string &text, TOperand &operand, TTranslation &t) {
  std::string name;
  if (!StripAddress(text, name)) return false;
  const std::int32_t k = t.Bindings->Search(name);
  if (k >= 0) {
    const auto &id = t.Bindings->Identifiers[static_cast<std::size_t>(k)];
    if (id.Kind == TAddressingManager::KindConstant) {
      operand.Mode = 0;
      operand.Value = t.Constants[static_cast<std::size_t>(id.Value)];
    } else {
      operand.Mode = 1;
      operand.Area = id.Kind;
      operand.Index = id.Value;
    }
    return true;
  }
  if (StartsWith(name, t.ConstPrefix)) {
    const long c = t.ConstantIndex(name);
    if (c < 0) {
      ErrorMessage = SyntaxError;
      return false;
    }
    operand.Mode = 0;
    operand.Value = t.Constants[static_cast<std::size_t>(c)];
    return true;
  }
  const std::int32_t v = SearchVariable(name, true);
  if (!ErrorMessage.empty()) return false;
  operand.Mode = 1;
  operand.Area = 1;
  operand.Index = v;
  return true;
}

bool TArithmeticUnit::Translate(TExpression &slot, TTranslation &t) {
  const int n = Intercode.GetCount();
  slot.Code.reserve(static_cast<std::size_t>(n));
  auto emit = [&](const TQDIntercode &c, int operands) {
    TInstruction ins;
    ins.Opcode = c.Code;
    const std::string *texts[3] = {&c.Operand1, &c.Operand2, &c.Operand3};
    for (int k = 0; k < operands; ++k) {
      if (!ResolveOperand(*texts[k], ins.Operands[k], t)) return false;
    }
    slot.Code.push_back(ins);
    return true;
  };
  auto refuse = [&](const char *message) {
    ErrorMessage = message;
    return false;
  };
  for (int i = 0; i < n; ++i) {
    TQDIntercode c = Intercode.Get(i);
    switch (c.Code) {
      case icDeclare:
        t.Bindings->Add(c.Operand1, TAddressingManager::KindWork, t.Declared);
        ++t.Declared;
        break;
      case icBegin:
        break;
      case icBind: {
        std::string target;
        if (!StripAddress(c.Operand2, target)) return false;
        const std::int32_t k = t.Bindings->Search(target);
        if (k >= 0) {
          const auto id = t.Bindings->Identifiers[static_cast<std::size_t>(k)];
          t.Bindings->Add(c.Operand1, id.Kind, id.Value);
        } else if (StartsWith(target, t.ConstPrefix)) {
          const long constant = t.ConstantIndex(target);
          if (constant < 0) return refuse(SyntaxError);
          t.Bindings->Add(c.Operand1, TAddressingManager::KindConstant, static_cast<std::int32_t>(constant));
        } else {
          const std::int32_t v = SearchVariable(target, true);
          if (!ErrorMessage.empty()) return false;
          t.Bindings->Add(c.Operand1, TAddressingManager::KindVariable, v);
        }
        break;
      }
      case icEqual: case icNotEqual: case icLess: case icLessEqual: case icGreater:
      case icGreaterEqual: case icLogicalAnd: case icLogicalOr: case icLogicalNot:
        return refuse("論理演算は使用できない");
      case icRemainder:
        return refuse("演算子%は使用できない");
      case icArg: case icConj: case icImag: case icPolar: case icReal:
        return refuse("関数(arg, conj, imag, real, polar)は使用できない");
      case icIncrement: case icDecrement:
        if (!emit(c, 1)) return false;
        break;
      case icAssign: case icNegate:
        if (!emit(c, 2)) return false;
        break;
      case icAdd: case icSubtract: case icMultiply: case icDivide:
        if (!emit(c, 3)) return false;
        break;
      case icRandomize:
        if (c.ArgCount != 0) return refuse(ArgumentMismatch);
        if (!emit(c, 0)) return false;
        break;
      case icAsin: case icAcos: case icAtan: case icAbs: case icCos: case icCosh: case icExp:
      case icLn: case icLog10: case icSin: case icSinh: case icSqrt: case icTan: case icTanh:
      case icCeil: case icFloor: case icRandom:
        if (c.ArgCount != 1) return refuse(ArgumentMismatch);
        if (!emit(c, 2)) return false;
        break;
      case icAtan2: case icLog: case icPow: case icMod:
        if (c.ArgCount != 2) return refuse(ArgumentMismatch);
        if (!emit(c, 3)) return false;
        break;
      case icEnd:
        if (Parser.Tokens.size() != 1) return refuse("数式の処理に失敗した");
        c.Operand1 = Parser.AddressOf(Parser.Tokens[0]);
        if (!Parser.ErrorMessage.empty()) {
          ErrorMessage = Parser.ErrorMessage;
          return false;
        }
        if (!emit(c, 1)) return false;
        t.EndSeen = true;
        break;
      default:
        return refuse(SyntaxError);
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Execution

void TArithmeticUnit::ResolvePlaces(TExpression &e) {
  e.Places.resize(e.Code.size());
  for (std::size_t i = 0; i < e.Code.size(); ++i) {
    for (int k = 0; k < 3; ++k) {
      TOperand &o = e.Code[i].Operands[k];
      long double *&place = e.Places[i].P[k];
      if (o.Mode == 0) place = &o.Value;
      else if (o.Area == 0) place = &Work[static_cast<std::size_t>(o.Index)];
      else place = &Variables[static_cast<std::size_t>(o.Index)].Value;
    }
  }
  e.PlacesGeneration = StorageGeneration;
}

bool TArithmeticUnit::Fail(const char *message) {
  ErrorMessage = message;
  return false;
}

bool TArithmeticUnit::Calculate(int index, long double &result) {
  ErrorMessage.clear();
  result = 0;
  if (index < 0 || index >= ExpressionCount) return Fail("Invalid expression index is selected.");
  TExpression &e = Expressions[static_cast<std::size_t>(index)];
  if (e.Code.empty()) return true;
  if (e.PlacesGeneration != StorageGeneration) ResolvePlaces(e);
  TMathErrorManager &m = MathErrorManager();
  const bool wasCollecting = m.Collecting;
  const std::int32_t *oldPosition = m.PositionPointer;
  if (MathErrorMode) {
    m.Collecting = true;
    m.PositionPointer = &InstructionIndex;
  }

  // Run at full speed, testing the processor's fault flags once at the end. If
  // one is raised (rare: it ends the paint), put back everything the run changed
  // and run again testing after every instruction, so that the run stops exactly
  // at the faulting instruction with exactly the earlier writes in place.
  const std::uint64_t randomState = RandomGenerator().State;
  const std::int32_t recordCount = m.Count;
  const std::size_t written = e.WrittenVariables.size();
  for (std::size_t i = 0; i < written; ++i)
    Snapshot[i] = Variables[static_cast<std::size_t>(e.WrittenVariables[i])].Value;
  bool ok = Run<false>(e, result);
  if (FaultFlagsRaised()) {
    for (std::size_t i = 0; i < written; ++i)
      Variables[static_cast<std::size_t>(e.WrittenVariables[i])].Value = Snapshot[i];
    RandomGenerator().State = randomState;
    m.Count = recordCount;
    feclearexcept(FaultFlags);  // also drops flags that someone else left behind
    ErrorMessage.clear();
    result = 0;
    ok = Run<true>(e, result);
  }

  if (MathErrorMode) {
    m.Collecting = wasCollecting;
    m.PositionPointer = oldPosition;
  }
  return ok;
}

template <bool Careful>
bool TArithmeticUnit::Run(TExpression &e, long double &result) {
  const TInstruction *code = e.Code.data();
  const TExpression::TPlaces *places = e.Places.data();
  auto faulted = [this] {
    if (!Careful || !FaultFlagsRaised()) return false;
    feclearexcept(FaultFlags);
    ErrorMessage = ProcessorFault;
    return true;
  };
  for (std::int32_t ip = 0;; ++ip) {
    long double *const *p = places[ip].P;
    switch (code[ip].Opcode) {
      case icIncrement: *p[0] = *p[0] + 1; if (faulted()) return false; break;
      case icDecrement: *p[0] = *p[0] - 1; if (faulted()) return false; break;
      case icAssign: *p[0] = *p[1]; break;
      case icNegate: *p[0] = -*p[1]; break;
      case icAdd: *p[0] = *p[1] + *p[2]; if (faulted()) return false; break;
      case icSubtract: *p[0] = *p[1] - *p[2]; if (faulted()) return false; break;
      case icMultiply: *p[0] = *p[1] * *p[2]; if (faulted()) return false; break;
      case icDivide: {
        const long double divisor = *p[2];
        if (divisor != 0) {
          *p[0] = *p[1] / divisor;
          if (faulted()) return false;
        } else if (!MathErrorMode) {
          return Fail("0での除算が行われました");
        } else {
          TMathErrorManager &m = MathErrorManager();
          InstructionIndex = ip;
          m.Add(TMathErrorManager::KindZeroDivision, TMathErrorManager::FunctionZeroDivision);
          *p[0] = m.ZeroDivisionValue;
        }
        break;
      }
      case icRandomize:
        RandomGenerator().Seed(static_cast<std::uint32_t>(std::time(nullptr)));
        break;
      case icRandom: {
        const long double v = *p[1];
        // Truncating NaN or a value beyond 64 bits is an invalid operation of the processor.
        if (!(std::fabs(v) < 0x1p63L)) return Fail(ProcessorFault);
        const auto n = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(v)));
        *p[0] = n == 0 ? 0.0L : static_cast<long double>(RandomGenerator().Draw() % n);
        break;
      }
#define VELMORA_UNARY(code, fn)              \
  case code: {                               \
    InstructionIndex = ip;                   \
    *p[0] = checked::fn(*p[1]);              \
    if (faulted()) return false;             \
    break;                                   \
  }
        VELMORA_UNARY(icAsin, Asin)
        VELMORA_UNARY(icAcos, Acos)
        VELMORA_UNARY(icAtan, Atan)
        VELMORA_UNARY(icAbs, Abs)
        VELMORA_UNARY(icCos, Cos)
        VELMORA_UNARY(icCosh, Cosh)
        VELMORA_UNARY(icExp, Exp)
        VELMORA_UNARY(icLn, Ln)
        VELMORA_UNARY(icLog10, Log10)
        VELMORA_UNARY(icSin, Sin)
        VELMORA_UNARY(icSinh, Sinh)
        VELMORA_UNARY(icSqrt, Sqrt)
        VELMORA_UNARY(icTan, Tan)
        VELMORA_UNARY(icTanh, Tanh)
        VELMORA_UNARY(icCeil, Ceil)
        VELMORA_UNARY(icFloor, Floor)
#undef VELMORA_UNARY
      case icAtan2: InstructionIndex = ip; *p[0] = checked::Atan2(*p[1], *p[2]); if (faulted()) return false; break;
      case icPow: InstructionIndex = ip; *p[0] = checked::Pow(*p[1], *p[2]); if (faulted()) return false; break;
      case icMod: InstructionIndex = ip; *p[0] = checked::Mod(*p[1], *p[2]); if (faulted()) return false; break;
      case icLog: {
        InstructionIndex = ip;
        const long double baseValue = *p[1], value = *p[2];
        const long double base = checked::Ln(baseValue);
        if (base != 0) {
          *p[0] = checked::Ln(value) / base;
          if (faulted()) return false;
        } else if (!MathErrorMode) {
          return Fail("logの底が範囲外です.");
        } else {
          TMathErrorManager &m = MathErrorManager();
          m.Arg1Pointer = &baseValue;
          m.Arg2Pointer = &value;
          m.Add(TMathErrorManager::KindDomain, TMathErrorManager::FunctionLogBase);
          m.Arg1Pointer = m.Arg2Pointer = nullptr;
          *p[0] = m.DomainValue;
        }
        break;
      }
      case icEnd:
        result = *p[0];
        return true;
      default:
        return Fail("unknown instruction code is used.");
    }
  }
}

void TArithmeticUnit::GetMathErrors(TStringList &list) { MathErrorManager().AppendReport(list); }

}  // namespace velmora
