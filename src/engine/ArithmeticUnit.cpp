#include "engine/ArithmeticUnit.h"

#include <algorithm>
#include <atomic>
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
#include "engine/InstructionShape.h"
#include "engine/MathErrorManager.h"
#include "engine/Random.h"

namespace velmora {

namespace {

constexpr const char *OutOfMemoryText = "Memory allocation has been failed.";
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
  __asm__ volatile("fnstsw %0" : "=am"(status) : : "memory");
  __asm__ volatile("stmxcsr %0" : "=m"(mxcsr) : : "memory");
  return ((status | mxcsr) & FaultFlags) != 0;
#else
  return fetestexcept(FaultFlags) != 0;
#endif
}

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

TArithmeticUnit::TArithmeticUnit() : NativeCodeEnabled(std::getenv("VELMORA_INTERPRET") == nullptr), Expressions(800) {
  Work.assign(InitialCapacity, 0.0L);
  WorkCapacity = InitialCapacity;
  Variables.resize(InitialCapacity);
  VariableCapacity = InitialCapacity;
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
    ErrorMessage = OutOfMemoryText;
    OutOfMemory = true;
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
    ErrorMessage = OutOfMemoryText;
    OutOfMemory = true;
    return false;
  }
}

// ---------------------------------------------------------------------------
// Compilation

bool TArithmeticUnit::SetExpression(int index, const std::string &text) {
  OutOfMemory = false;
  try {
    return Compile(index, text);
  } catch (const std::bad_alloc &) {
    OutOfMemory = true;
    ErrorMessage = OutOfMemoryText;
    if (index >= 0 && index < ExpressionCount) {
      TExpression &slot = Expressions[static_cast<std::size_t>(index)];
      slot.Code.clear();  // nothing half-translated runs
      slot.Steps.clear();
      slot.Native.reset();
    }
    return false;
  }
}

bool TArithmeticUnit::Compile(int index, const std::string &text) {
  Intercode.Clear();
  ErrorMessage.clear();
  if (index < 0 || index >= ExpressionCount) {
    ErrorMessage = "Invalid expression index is selected.";
    return false;
  }
  TExpression &slot = Expressions[static_cast<std::size_t>(index)];
  slot.Source = text;

  SlotsWrittenCount = -1;  // the slot's code changes
  Scanner.Text = text;
  if (!Scanner.Tokenize()) {
    ErrorMessage = Scanner.ErrorMessage;
    OutOfMemory = Scanner.OutOfMemory;
    return false;
  }
  TStringList &tokens = *Scanner.Tokens;
  slot.Steps.clear();
  slot.StepsGeneration = 0;
  slot.Native.reset();
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
  // The tokens are the parser's now; a long line is not kept twice.
  Parser.Tokens = std::move(tokens);
  tokens = TStringList();
  Parser.TempCount = 0;
  const bool compiled = Parser.Compile();
  Parser.BlockNumber = nullptr;
  if (!compiled) {
    ErrorMessage = Parser.ErrorMessage;
    OutOfMemory = Parser.OutOfMemory;
    return false;
  }

  slot.Code.clear();
  TAddressingManager bindings(Parser.TempCount + 10, Parser.TempPrefix);
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
  // A long line's intermediate code is let go of as it is translated, unless
  // someone wants to read it afterwards: the two are never held whole at once.
  const bool release = !KeepIntercode && Intercode.Capacity > TQDIntercodeManager::InitialCapacity;
  struct TReleaseAtEnd {
    TQDIntercodeManager *Manager;
    ~TReleaseAtEnd() {
      if (Manager) Manager->Reset();
    }
  } releaseAtEnd{release ? &Intercode : nullptr};
  if (!release) {
    // Room for exactly the instructions that become code (declarations and
    // bindings become none).
    std::size_t produced = 0;
    for (int i = 0; i < n; ++i) {
      const std::uint8_t code = Intercode.Items[static_cast<std::size_t>(i)].Code;
      produced += code != icDeclare && code != icBegin && code != icBind;
    }
    slot.Code.reserve(produced);
  }
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
  // A name left unbound would later read as a variable of that name: a failed
  // binding (no room; names never repeat) ends the compilation.
  auto bind = [&](const std::string &name, std::uint8_t kind, std::int32_t value) {
    if (!t.Bindings->Add(name, kind, value)) throw std::bad_alloc();
  };
  for (int i = 0; i < n; ++i) {
    if (release && i > 0) Intercode.Items.pop_front();  // the one before is done
    TQDIntercode &c = Intercode.Items[release ? 0 : static_cast<std::size_t>(i)];
    switch (c.Code) {
      case icDeclare:
        bind(c.Operand1, TAddressingManager::KindWork, t.Declared);
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
          bind(c.Operand1, id.Kind, id.Value);
        } else if (StartsWith(target, t.ConstPrefix)) {
          const long constant = t.ConstantIndex(target);
          if (constant < 0) return refuse(SyntaxError);
          bind(c.Operand1, TAddressingManager::KindConstant, static_cast<std::int32_t>(constant));
        } else {
          const std::int32_t v = SearchVariable(target, true);
          if (!ErrorMessage.empty()) return false;
          bind(c.Operand1, TAddressingManager::KindVariable, v);
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
      case icEnd: {
        if (Parser.Tokens.size() != 1) return refuse("数式の処理に失敗した");
        // The result is the one token left; the stored code keeps its end as it was.
        TQDIntercode end = c;
        end.Operand1 = Parser.AddressOf(Parser.Tokens[0]);
        if (!Parser.ErrorMessage.empty()) {
          ErrorMessage = Parser.ErrorMessage;
          return false;
        }
        if (!emit(end, 1)) return false;
        t.EndSeen = true;
        break;
      }
      default:
        return refuse(SyntaxError);
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Execution

void TArithmeticUnit::PrepareSteps(TExpression &e) {
  e.Steps.resize(e.Code.size());
  const long double *previous = nullptr;  // where the previous instruction wrote
  for (std::size_t i = 0; i < e.Code.size(); ++i) {
    TInstruction &ins = e.Code[i];
    TExpression::TStep &step = e.Steps[i];
    for (int k = 0; k < 3; ++k) {
      TOperand &o = ins.Operands[k];
      if (o.Mode == 0) step.P[k] = &o.Value;
      else if (o.Area == 0) step.P[k] = &Work[static_cast<std::size_t>(o.Index)];
      else step.P[k] = &Variables[static_cast<std::size_t>(o.Index)].Value;
    }
    const bool readsOperand0 = ReadsOperand0(ins.Opcode);
    int variant = 0;
    if (previous) {
      if (readsOperand0 ? step.P[0] == previous : step.P[1] == previous) variant |= 1;
      if (!readsOperand0 && step.P[2] == previous) variant |= 2;
    }
    step.Op = static_cast<std::uint16_t>(ins.Opcode * 8 + variant);
    previous = WritesOperand0(ins.Opcode) ? step.P[0] : nullptr;
  }
  // A temporary that no later instruction reads from memory (the next one
  // takes it from the register) need not be stored at all. Walk backwards,
  // knowing for each work register whether its next access is a read.
  std::vector<std::uint8_t> readNext(static_cast<std::size_t>(WorkCapacity), 0);
  for (std::size_t i = e.Code.size(); i-- > 0;) {
    const TInstruction &ins = e.Code[i];
    TExpression::TStep &step = e.Steps[i];
    const int variant = step.Op % 8;
    auto isWork = [](const TOperand &o) { return o.Mode == 1 && o.Area == 0; };
    if (WritesOperand0(ins.Opcode) && isWork(ins.Operands[0])) {
      std::uint8_t &next = readNext[static_cast<std::size_t>(ins.Operands[0].Index)];
      if (!next) step.Op = static_cast<std::uint16_t>(step.Op | 4);
      next = 0;
    }
    // This instruction's own reads come before its write.
    const bool readsOperand0 = ReadsOperand0(ins.Opcode);
    int reads[2] = {-1, -1};
    if (readsOperand0) {
      if (!(variant & 1)) reads[0] = 0;
    } else if (ins.Opcode != icRandomize) {
      if (!(variant & 1)) reads[0] = 1;
      if (!(variant & 2)) reads[1] = 2;
    }
    for (int k : reads) {
      if (k >= 0 && isWork(ins.Operands[k])) readNext[static_cast<std::size_t>(ins.Operands[k].Index)] = 1;
    }
  }
  e.StepsGeneration = StorageGeneration;
  CompileNative(e);
}

// The fast run: machine code or the interpreter, without testing the fault
// flags. The caller tests them and NativeBailout, and replays on either.
bool TArithmeticUnit::RunFast(TExpression &e, long double &result) {
  if (!e.Native) return Run<false>(e, result);
  result = e.Native->Entry()();
  return true;
}

void TArithmeticUnit::CopyForRunning(const TArithmeticUnit &from, int count) {
  Variables = from.Variables;
  VariableCount = from.VariableCount;
  VariableCapacity = from.VariableCapacity;
  VariableIndex = from.VariableIndex;
  Work.assign(from.Work.size(), 0.0L);
  WorkCapacity = from.WorkCapacity;
  MathErrorMode = from.MathErrorMode;
  NativeCodeEnabled = from.NativeCodeEnabled;
  ++StorageGeneration;  // every slot works out its places anew, in this engine
  for (int k = 0; k < count && k < ExpressionCount; ++k) {
    const TExpression &source = from.Expressions[static_cast<std::size_t>(k)];
    TExpression &e = Expressions[static_cast<std::size_t>(k)];
    e.Code = source.Code;
    e.Source = source.Source;
    e.Line = source.Line;
    e.WrittenVariables = source.WrittenVariables;
    e.Steps.clear();
    e.StepsGeneration = 0;
    e.Native.reset();
    if (Snapshot.size() < e.WrittenVariables.size()) Snapshot.resize(e.WrittenVariables.size());
  }
  SlotsWrittenCount = -1;
}

bool TArithmeticUnit::SlotsIndependent(int count, const std::vector<std::int32_t> &preset) const {
  count = std::clamp(count, 0, ExpressionCount);
  const auto isVariable = [](const TOperand &o) { return o.Mode == 1 && o.Area == 1; };
  std::vector<std::uint8_t> writtenBySlots(static_cast<std::size_t>(VariableCount), 0);
  for (int k = 0; k < count; ++k) {
    for (const TInstruction &ins : Expressions[static_cast<std::size_t>(k)].Code) {
      if (ins.Opcode == icRandom || ins.Opcode == icRandomize) return false;
      if (WritesOperand0(ins.Opcode) && isVariable(ins.Operands[0]))
        writtenBySlots[static_cast<std::size_t>(ins.Operands[0].Index)] = 1;
    }
  }
  std::vector<std::uint8_t> written(static_cast<std::size_t>(VariableCount), 0);
  for (std::int32_t v : preset) {
    if (v >= 0 && v < VariableCount) written[static_cast<std::size_t>(v)] = 1;
  }
  for (int k = 0; k < count; ++k) {
    for (const TInstruction &ins : Expressions[static_cast<std::size_t>(k)].Code) {
      // An instruction reads its operands before it writes.
      for (int i = FirstRead(ins.Opcode); i < FirstRead(ins.Opcode) + ReadCount(ins.Opcode); ++i) {
        const TOperand &o = ins.Operands[i];
        if (isVariable(o) && writtenBySlots[static_cast<std::size_t>(o.Index)] && !written[static_cast<std::size_t>(o.Index)])
          return false;
      }
      if (WritesOperand0(ins.Opcode) && isVariable(ins.Operands[0])) written[static_cast<std::size_t>(ins.Operands[0].Index)] = 1;
    }
  }
  return true;
}

bool TArithmeticUnit::Fail(const char *message) {
  ErrorMessage = message;
  return false;
}

// One run of one or more slots: switches the math error manager to collecting
// (in math error mode) until the run ends, and keeps what the run may change
// besides variables, so that a run that raised a fault flag can be undone.
struct TArithmeticUnit::TRunGuard {
  TArithmeticUnit &Unit;
  TMathErrorManager &Manager = MathErrorManager();
  const bool WasCollecting = Manager.Collecting;
  const std::int32_t *const OldPosition = Manager.PositionPointer;
  const std::uint64_t RandomState = RandomGenerator().State;
  const std::int32_t RecordCount = Manager.Count;

  TRunGuard(TArithmeticUnit &unit, const std::vector<std::int32_t> &written, std::vector<long double> &saved)
      : Unit(unit) {
    if (Unit.MathErrorMode) {
      Manager.Collecting = true;
      Manager.PositionPointer = &Unit.InstructionIndex;
    }
    for (std::size_t i = 0; i < written.size(); ++i)
      saved[i] = Unit.Variables[static_cast<std::size_t>(written[i])].Value;
  }
  ~TRunGuard() {
    if (Unit.MathErrorMode) {
      Manager.Collecting = WasCollecting;
      Manager.PositionPointer = OldPosition;
    }
  }
  // Puts back the variables, the generator and the records, and clears the
  // flags (also those that someone else left behind).
  void Undo(const std::vector<std::int32_t> &written, const std::vector<long double> &saved) {
    for (std::size_t i = 0; i < written.size(); ++i)
      Unit.Variables[static_cast<std::size_t>(written[i])].Value = saved[i];
    // Written only when changed: painting threads share the generator and
    // never draw from it, so they must not write it either.
    if (RandomGenerator().State != RandomState) RandomGenerator().State = RandomState;
    Manager.Count = RecordCount;
    feclearexcept(FaultFlags);
    Unit.ErrorMessage.clear();
  }
};

bool TArithmeticUnit::Calculate(int index, long double &result) {
  OutOfMemory = false;
  try {
    return CalculateGuarded(index, result);
  } catch (const std::bad_alloc &) {
    OutOfMemory = true;
    ErrorMessage = OutOfMemoryText;
    result = 0;
    return false;
  }
}

bool TArithmeticUnit::CalculateGuarded(int index, long double &result) {
  ErrorMessage.clear();
  result = 0;
  if (index < 0 || index >= ExpressionCount) return Fail("Invalid expression index is selected.");
  TExpression &e = Expressions[static_cast<std::size_t>(index)];
  if (e.Code.empty()) return true;
  if (e.StepsGeneration != StorageGeneration) PrepareSteps(e);

  // Run at full speed, testing the processor's fault flags once at the end. If
  // one is raised (rare: it ends the paint), put back everything the run changed
  // and run again testing after every instruction, so that the run stops exactly
  // at the faulting instruction with exactly the earlier writes in place.
  TRunGuard guard(*this, e.WrittenVariables, Snapshot);
  NativeBailout = false;
  bool ok = RunFast(e, result);
  if (NativeBailout || FaultFlagsRaised()) {
    guard.Undo(e.WrittenVariables, Snapshot);
    result = 0;
    ok = Run<true>(e, result);
  }
  return ok;
}

void TArithmeticUnit::PrepareSlotsWritten(int count) {
  if (SlotsWrittenCount == count) return;
  SlotsWritten.clear();
  for (int k = 0; k < count; ++k) {
    for (std::int32_t v : Expressions[static_cast<std::size_t>(k)].WrittenVariables) {
      if (std::find(SlotsWritten.begin(), SlotsWritten.end(), v) == SlotsWritten.end()) SlotsWritten.push_back(v);
    }
  }
  SlotsSnapshot.resize(SlotsWritten.size());
  SlotsWrittenCount = count;
}

bool TArithmeticUnit::CalculateSlots(int count, int &failedSlot) {
  failedSlot = -1;
  ErrorMessage.clear();
  if (count < 0 || count > ExpressionCount) {
    failedSlot = 0;
    return Fail("Invalid expression index is selected.");
  }
  PrepareSlotsWritten(count);
  TRunGuard guard(*this, SlotsWritten, SlotsSnapshot);
  NativeBailout = false;
  bool ok = true;
  long double result;
  for (int k = 0; k < count && ok; ++k) {
    TExpression &e = Expressions[static_cast<std::size_t>(k)];
    if (e.Code.empty()) continue;
    if (e.StepsGeneration != StorageGeneration) PrepareSteps(e);
    ok = RunFast(e, result);
    if (!ok) failedSlot = k;
  }
  if (!NativeBailout && !FaultFlagsRaised()) return ok;

  // Some slot raised a fault flag: undo the whole pixel and run the slots one
  // by one, each of which finds its own faulting instruction.
  guard.Undo(SlotsWritten, SlotsSnapshot);
  // Slot by slot, each testing after every instruction: what a Calculate per
  // slot would do once its own fast run had found the fault.
  for (int k = 0; k < count; ++k) {
    TExpression &e = Expressions[static_cast<std::size_t>(k)];
    ErrorMessage.clear();
    result = 0;
    if (!e.Code.empty() && !Run<true>(e, result)) {
      failedSlot = k;
      return false;
    }
  }
  failedSlot = -1;
  return true;
}

TArithmeticUnit::~TArithmeticUnit() {
  Batch.reset();
  TMathErrorManager &m = MathErrorManager();
  if (m.PositionPointer == &InstructionIndex) m.PositionPointer = nullptr;
}

void TArithmeticUnit::BeginBatch(int count) {
  count = std::clamp(count, 0, ExpressionCount);
  PrepareSlotsWritten(count);
  for (int k = 0; k < count; ++k) {
    TExpression &e = Expressions[static_cast<std::size_t>(k)];
    if (!e.Code.empty() && e.StepsGeneration != StorageGeneration) PrepareSteps(e);
  }
  Batch.reset();
  Batch = std::make_unique<TRunGuard>(*this, SlotsWritten, SlotsSnapshot);
  NativeBailout = false;
  BatchFailed = false;
}

void TArithmeticUnit::RunSlotsUnchecked(int count) {
  count = std::clamp(count, 0, ExpressionCount);
  long double result;
  for (int k = 0; k < count && !BatchFailed; ++k) {
    TExpression &e = Expressions[static_cast<std::size_t>(k)];
    if (e.Native) e.Native->Entry()();  // the value is not wanted: no store
    else if (!e.Code.empty() && !Run<false>(e, result)) BatchFailed = true;
  }
}

bool TArithmeticUnit::EndBatch() {
  if (!Batch) return false;
  const bool clean = !BatchFailed && !NativeBailout && !FaultFlagsRaised();
  if (!clean) Batch->Undo(SlotsWritten, SlotsSnapshot);
  Batch.reset();
  return clean;
}

// The executor is threaded: every instruction ends with its own jump to the
// next one, which the processor predicts far better than one shared switch.
template <bool Careful>
bool TArithmeticUnit::Run(TExpression &e, long double &result) {
  // Each case is expanded once per variant V (which operands come from the
  // register holding the previous result), so that choice costs nothing at run time.
#define A0 ((V & 1) ? acc : *p[0])
#define A1 ((V & 1) ? acc : *p[1])
#define A2 ((V & 2) ? acc : *p[2])
#define STORE(value)         \
  acc = (value);             \
  if (Careful) checked::Settle(acc); \
  if (!(V & 4)) *p[0] = acc; \
  if (faulted()) return false;
#define NEXT()                                                \
  do {                                                        \
    ++step;                                                   \
    ++ip;                                                     \
    p = step->P;                                              \
    goto *table[step->Op].load(std::memory_order_relaxed);    \
  } while (0)
#define VARIANT(code, v, ...) \
  L_##code##_##v : {            \
    constexpr int V = v;        \
    __VA_ARGS__                 \
  }                             \
  NEXT();
#define CASE2(code, ...)                                                          \
  VARIANT(code, 0, __VA_ARGS__) VARIANT(code, 1, __VA_ARGS__)                    \
  VARIANT(code, 4, __VA_ARGS__) VARIANT(code, 5, __VA_ARGS__)
#define CASE4(code, ...)                                                          \
  CASE2(code, __VA_ARGS__)                                                        \
  VARIANT(code, 2, __VA_ARGS__) VARIANT(code, 3, __VA_ARGS__)                    \
  VARIANT(code, 6, __VA_ARGS__) VARIANT(code, 7, __VA_ARGS__)
#define UNARY(code, fn) CASE2(code, InstructionIndex = ip; STORE(checked::fn(A1)))
#define LABEL(code, v) table[code * 8 + v].store(&&L_##code##_##v, std::memory_order_relaxed);
#define LABELS2(code) LABEL(code, 0) LABEL(code, 1) LABEL(code, 4) LABEL(code, 5)
#define LABELS4(code) LABELS2(code) LABEL(code, 2) LABEL(code, 3) LABEL(code, 6) LABEL(code, 7)

  // Jump targets by step code; filled on first use (the same values whichever
  // thread gets there first).
  static std::atomic<const void *> table[64 * 8];
  static std::atomic<bool> ready{false};
  if (!ready.load(std::memory_order_acquire)) {
    for (auto &entry : table) entry.store(&&L_unknown, std::memory_order_relaxed);
    LABELS2(icIncrement) LABELS2(icDecrement) LABELS2(icAssign) LABELS2(icNegate)
    LABELS4(icAdd) LABELS4(icSubtract) LABELS4(icMultiply) LABELS4(icDivide)
    table[icRandomize * 8].store(&&L_icRandomize, std::memory_order_relaxed);
    LABELS2(icRandom) LABELS2(icAsin) LABELS2(icAcos) LABELS2(icAtan) LABELS2(icAbs)
    LABELS2(icCos) LABELS2(icCosh) LABELS2(icExp) LABELS2(icLn) LABELS2(icLog10)
    LABELS2(icSin) LABELS2(icSinh) LABELS2(icSqrt) LABELS2(icTan) LABELS2(icTanh)
    LABELS2(icCeil) LABELS2(icFloor)
    LABELS4(icAtan2) LABELS4(icPow) LABELS4(icMod) LABELS4(icLog)
    LABEL(icEnd, 0) LABEL(icEnd, 1)
    ready.store(true, std::memory_order_release);
  }

  auto faulted = [this] {
    if (!Careful || !FaultFlagsRaised()) return false;
    feclearexcept(FaultFlags);
    ErrorMessage = ProcessorFault;
    return true;
  };
  const TExpression::TStep *step = e.Steps.data();
  std::int32_t ip = 0;
  long double *const *p = step->P;
  long double acc = 0;  // the value the previous instruction wrote
  goto *table[step->Op].load(std::memory_order_relaxed);

  CASE2(icIncrement, STORE(A0 + 1))
  CASE2(icDecrement, STORE(A0 - 1))
  CASE2(icAssign, acc = A1; if (!(V & 4)) *p[0] = acc;)
  CASE2(icNegate, acc = -A1; if (!(V & 4)) *p[0] = acc;)
  CASE4(icAdd, STORE(A1 + A2))
  CASE4(icSubtract, STORE(A1 - A2))
  CASE4(icMultiply, STORE(A1 * A2))
  CASE4(icDivide, {
    const long double dividend = A1, divisor = A2;
    if (divisor != 0) {
      STORE(dividend / divisor)
    } else if (!MathErrorMode) {
      return Fail("0での除算が行われました");
    } else {
      TMathErrorManager &m = MathErrorManager();
      InstructionIndex = ip;
      m.Add(TMathErrorManager::KindZeroDivision, TMathErrorManager::FunctionZeroDivision);
      acc = m.ZeroDivisionValue;
      if (!(V & 4)) *p[0] = acc;
    }
  })
L_icRandomize:
  RandomGenerator().Seed(static_cast<std::uint32_t>(std::time(nullptr)));
  NEXT();
  CASE2(icRandom, {
    const long double v = A1;
    std::int32_t n = 0;
    if (!RandomBound(v, n)) return Fail(ProcessorFault);
    acc = n == 0 ? 0.0L : static_cast<long double>(RandomGenerator().Draw() % n);
    if (!(V & 4)) *p[0] = acc;
  })
  UNARY(icAsin, Asin)
  UNARY(icAcos, Acos)
  UNARY(icAtan, Atan)
  UNARY(icAbs, Abs)
  UNARY(icCos, Cos)
  UNARY(icCosh, Cosh)
  UNARY(icExp, Exp)
  UNARY(icLn, Ln)
  UNARY(icLog10, Log10)
  UNARY(icSin, Sin)
  UNARY(icSinh, Sinh)
  UNARY(icSqrt, Sqrt)
  UNARY(icTan, Tan)
  UNARY(icTanh, Tanh)
  UNARY(icCeil, Ceil)
  UNARY(icFloor, Floor)
  CASE4(icAtan2, InstructionIndex = ip; STORE(checked::Atan2(A1, A2)))
  CASE4(icPow, InstructionIndex = ip; STORE(checked::Pow(A1, A2)))
  CASE4(icMod, InstructionIndex = ip; STORE(checked::Mod(A1, A2)))
  CASE4(icLog, {
    InstructionIndex = ip;
    const long double baseValue = A1, value = A2;
    const long double base = checked::Ln(baseValue);
    if (base != 0) {
      STORE(checked::Ln(value) / base)
    } else if (!MathErrorMode) {
      return Fail("logの底が範囲外です.");
    } else {
      TMathErrorManager &m = MathErrorManager();
      m.Arg1Pointer = &baseValue;
      m.Arg2Pointer = &value;
      m.Add(TMathErrorManager::KindDomain, TMathErrorManager::FunctionLogBase);
      m.Arg1Pointer = m.Arg2Pointer = nullptr;
      acc = m.DomainValue;
      if (!(V & 4)) *p[0] = acc;
    }
  })
L_icEnd_0:
  result = *p[0];
  return true;
L_icEnd_1:
  result = acc;
  return true;
L_unknown:
  return Fail("unknown instruction code is used.");
#undef LABELS4
#undef LABELS2
#undef LABEL
#undef VARIANT
#undef UNARY
#undef CASE4
#undef CASE2
#undef NEXT
#undef STORE
#undef A2
#undef A1
#undef A0
}

void TArithmeticUnit::GetMathErrors(TStringList &list, std::size_t limit) {
  MathErrorManager().AppendReport(list, limit);
}

}  // namespace velmora
