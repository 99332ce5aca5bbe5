// The machine-code translator. The x87 registers form a stack of eight; the
// translator keeps a picture of what each holds (a temporary, a copy of a
// variable, or a value nobody needs any more) so that temporaries live in
// registers instead of memory and a variable read twice is loaded once.
// Variables are always written through to memory. Calls need an empty register
// stack: before one, the temporaries still needed go to their memory. The frame
// keeps 32 bytes for the long double arguments of calls, which go in memory.
//
// The machine code cannot stop a run by itself: where the interpreter would
// stop (a zero divisor outside math error mode, a refused built-in) it notes
// that the run must be replayed and goes on with a harmless value; the caller
// then undoes the run and lets the interpreter run it again.
#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "compiler/Opcodes.h"
#include "engine/ArithmeticUnit.h"
#include "engine/Builtins.h"
#include "engine/CheckedMath.h"
#include "engine/MathErrorManager.h"
#include "engine/NativeEmitter.h"

namespace velmora {

namespace {

// A place a value can come from: a work register or a variable.
struct TPlace {
  int Area = -1;  // 0 work register, 1 variable, -1 none (an immediate, or nothing)
  std::int32_t Index = 0;
  bool operator==(const TPlace &o) const { return Area == o.Area && Index == o.Index; }
};

TPlace PlaceOf(const TArithmeticUnit::TOperand &o) {
  TPlace p;
  if (o.Mode == 1) p.Area = o.Area, p.Index = o.Index;
  return p;
}

// Loads an operand from memory onto the stack; 0 and 1 need no memory.
void LoadOperand(TEmitter &out, const TArithmeticUnit::TOperand &o, const long double *p) {
  if (o.Mode != 0) out.Load(p);
  else if (o.Value == 0 && !std::signbit(o.Value)) out.Zero();
  else if (o.Value == 1) out.One();
  else out.LoadConstant(o.Value);
}

using TFunction1 = long double (*)(long double);
using TFunction2 = long double (*)(long double, long double);

// The checked math functions by opcode, from the opcode table.
struct TFunctionTable {
  TFunction1 One[OpcodeSpace] = {};
  TFunction2 Two[OpcodeSpace] = {};
  constexpr TFunctionTable() {
#define VELMORA_FUNCTION_Func1(code, fn) One[code] = checked::fn;
#define VELMORA_FUNCTION_Func2(code, fn) Two[code] = checked::fn;
#define VELMORA_FUNCTION_OTHER(code, fn)
#define VELMORA_FUNCTION_Meta VELMORA_FUNCTION_OTHER
#define VELMORA_FUNCTION_Result VELMORA_FUNCTION_OTHER
#define VELMORA_FUNCTION_Move VELMORA_FUNCTION_OTHER
#define VELMORA_FUNCTION_Arith VELMORA_FUNCTION_OTHER
#define VELMORA_FUNCTION_Update VELMORA_FUNCTION_OTHER
#define VELMORA_FUNCTION_Builtin0 VELMORA_FUNCTION_OTHER
#define VELMORA_FUNCTION_Builtin1 VELMORA_FUNCTION_OTHER
#define VELMORA_FUNCTION_Builtin2 VELMORA_FUNCTION_OTHER
#define VELMORA_FUNCTION_Logic VELMORA_FUNCTION_OTHER
#define VELMORA_FUNCTION_Remainder VELMORA_FUNCTION_OTHER
#define VELMORA_FUNCTION_Complex VELMORA_FUNCTION_OTHER
#define VELMORA_FUNCTION_Invalid VELMORA_FUNCTION_OTHER
#define VELMORA_FUNCTION_ROW(value, name, formula, shape, record, library, fn) VELMORA_FUNCTION_##shape(value, fn)
    VELMORA_OPCODES(VELMORA_FUNCTION_ROW)
#undef VELMORA_FUNCTION_ROW
  }
};
constexpr TFunctionTable Functions{};

}  // namespace

class TNativeTranslator {
 public:
  TNativeTranslator(TArithmeticUnit &unit, TArithmeticUnit::TExpression &e)
      : Unit(unit), E(e), N(e.Code.size()), ReadAgain(N, {false, false, false}), WrittenValueUsed(N, false) {}

  // The machine code, or null when some instruction has none.
  std::unique_ptr<TNativeCode> Translate();

 private:
  using TOperand = TArithmeticUnit::TOperand;
  using TInstruction = TArithmeticUnit::TInstruction;

  TArithmeticUnit &Unit;
  TArithmeticUnit::TExpression &E;
  const std::size_t N;
  // For each read, whether the place is read again before it is written
  // (variables: also before the next call, which empties the registers); for
  // each write, whether the value is read afterwards.
  std::vector<std::array<bool, 3>> ReadAgain;
  std::vector<bool> WrittenValueUsed;
  TEmitter Out;
  // The register stack as the translator sees it; Stack.back() is st(0).
  struct TEntry {
    TPlace Place;  // Area -1: a value that is not needed any more
  };
  std::vector<TEntry> Stack;
  // The instruction being translated.
  std::size_t I = 0;
  const TInstruction *Ins = nullptr;
  long double *const *P = nullptr;

  void Analyse();
  bool TranslateInstruction();
  void TranslateArithmetic(int opcode);
  void CallFunction(const void *function, int arguments);
  void CallMemoized(long double (*function)(long double));
  void CallBuiltin(long double (*function)(TArithmeticUnit *, std::int32_t, long double, long double));

  // The register stack.
  int Depth(std::size_t position) const { return static_cast<int>(Stack.size() - 1 - position); }
  std::size_t Position(int depth) const { return Stack.size() - 1 - static_cast<std::size_t>(depth); }
  int Find(const TPlace &place) const;
  void Push(TPlace place = {}) { Stack.push_back({place}); }
  void Forget(const TPlace &place);
  void Remove(int depth);
  void Tidy(std::size_t limit);
  void Flush();
  std::size_t NextRead(const TPlace &place) const;

  // Steps of one instruction.
  void Fetch(int k, bool mayTake);
  void Deliver();
  void Release(int k);
  // How a division leaves its quotient (see Divide).
  enum class TDivision { WithRegister, Pop, IntoBelow };
  void Divide(TDivision form, int depth, int registers);
  void Arguments(int count);

  // What the machine code calls for the built-ins.
  static long double NativeLog(TArithmeticUnit *unit, std::int32_t ip, long double baseValue, long double value);
  static long double NativeRandom(TArithmeticUnit *unit, std::int32_t ip, long double v, long double unused);
  static long double NativeRandomize(TArithmeticUnit *unit, std::int32_t ip, long double, long double);
  static long double NativeZeroDivision(TArithmeticUnit *unit, std::int32_t ip);
};

// ---------------------------------------------------------------------------
// Built-ins

long double TNativeTranslator::NativeLog(TArithmeticUnit *unit, std::int32_t ip, long double baseValue,
                                         long double value) {
  unit->InstructionIndex = ip;
  long double result;
  if (builtin::LogBase(baseValue, value, unit->MathErrorMode, result) != builtin::TOutcome::Refused) return result;
  unit->NativeBailout = true;
  return 0;
}

long double TNativeTranslator::NativeRandom(TArithmeticUnit *unit, std::int32_t, long double v, long double) {
  long double result;
  if (builtin::Random(v, result) != builtin::TOutcome::Refused) return result;
  unit->NativeBailout = true;
  return 0;
}

// A zero divisor, as the interpreter handles it: recorded with its
// substitute value in math error mode; otherwise the run is replayed, which
// stops there.
long double TNativeTranslator::NativeZeroDivision(TArithmeticUnit *unit, std::int32_t ip) {
  unit->InstructionIndex = ip;
  long double result = 0;
  if (builtin::ZeroDivision(unit->MathErrorMode, result) == builtin::TOutcome::Refused) unit->NativeBailout = true;
  return result;
}

long double TNativeTranslator::NativeRandomize(TArithmeticUnit *, std::int32_t, long double, long double) {
  builtin::Randomize();
  return 0;
}

// ---------------------------------------------------------------------------
// The register stack

// The register holding the value of a place, or -1.
int TNativeTranslator::Find(const TPlace &place) const {
  if (place.Area < 0) return -1;
  for (std::size_t i = Stack.size(); i-- > 0;)
    if (Stack[i].Place == place) return Depth(i);
  return -1;
}

// Forgets the register copy of a place (its value changes, or nobody needs it).
void TNativeTranslator::Forget(const TPlace &place) {
  for (TEntry &e : Stack)
    if (e.Place == place) e.Place = {};
}

// Removes the register at `depth`, storing it first when it is a temporary.
void TNativeTranslator::Remove(int depth) {
  TEntry &e = Stack[Position(depth)];
  if (e.Place.Area == 0) {
    if (depth > 0) {
      Out.Exchange(depth);
      std::swap(Stack[Position(depth)], Stack.back());
    }
    Out.StorePop(&Unit.Work[static_cast<std::size_t>(Stack.back().Place.Index)]);
    Stack.pop_back();
    return;
  }
  Out.PopInto(depth);  // st(depth) := st(0), pop: the top takes its place
  if (depth > 0) Stack[Position(depth)] = Stack.back();
  Stack.pop_back();
}

// Drops values nobody needs from the top, and makes room for an instruction.
void TNativeTranslator::Tidy(std::size_t limit) {
  while (!Stack.empty() && Stack.back().Place.Area < 0) Remove(0);
  while (Stack.size() > limit) {
    // The one needed last goes (unneeded values first); on a tie a
    // variable's copy, which needs no store.
    std::size_t best = 0, bestDistance = 0;
    bool bestIsTemporary = true;
    for (std::size_t i = 0; i < Stack.size(); ++i) {
      const TPlace &place = Stack[i].Place;
      const std::size_t distance = place.Area < 0 ? SIZE_MAX : NextRead(place);
      const bool temporary = place.Area == 0;
      if (i == 0 || distance > bestDistance || (distance == bestDistance && bestIsTemporary && !temporary)) {
        best = i, bestDistance = distance, bestIsTemporary = temporary;
      }
    }
    Remove(Depth(best));
  }
}

// Empties the stack; temporaries still needed go to memory.
void TNativeTranslator::Flush() {
  while (!Stack.empty()) Remove(0);
}

// How many instructions from the current one until a place is read next (large: never).
std::size_t TNativeTranslator::NextRead(const TPlace &place) const {
  for (std::size_t j = I; j < N && j < I + 512; ++j) {
    const TInstruction &next = E.Code[j];
    const int first = FirstRead(next.Opcode), last = first + ReadCount(next.Opcode);
    for (int k = first; k < last; ++k)
      if (PlaceOf(next.Operands[k]) == place) return j - I;
    if (WritesOperand0(next.Opcode) && PlaceOf(next.Operands[0]) == place) break;
    if (place.Area == 1 && CallsOut(next.Opcode)) break;
  }
  return SIZE_MAX / 2;
}

// ---------------------------------------------------------------------------
// Steps of one instruction

// Puts operand k on top as a value of its own: a copy of its register, the
// register itself on the place's last use (`mayTake`; a variable's is written
// through already), or a load, keeping a copy below when a variable is read
// again soon.
void TNativeTranslator::Fetch(int k, bool mayTake) {
  const TOperand &o = Ins->Operands[k];
  const TPlace place = PlaceOf(o);
  const bool again = ReadAgain[I][static_cast<std::size_t>(k)];
  const int depth = Find(place);
  if (depth >= 0) {
    if (mayTake && !again) {
      if (depth > 0) {
        Out.Exchange(depth);
        std::swap(Stack[Position(depth)], Stack.back());
      }
      Stack.back().Place = {};
      return;
    }
    Out.Copy(depth);
    Push();
    return;
  }
  LoadOperand(Out, o, P[k]);
  const bool keepCopy = place.Area == 1 && again;
  Push(keepCopy ? place : TPlace{});
  if (keepCopy) {
    Out.Copy(0);
    Push();
  }
}

// The value on top is the instruction's result: give it to operand 0.
void TNativeTranslator::Deliver() {
  const TPlace dest = PlaceOf(Ins->Operands[0]);
  Forget(dest);  // older copies are stale now
  const bool used = WrittenValueUsed[I];
  if (dest.Area == 1) {  // variables are written through
    if (used) Out.Copy(0), Push();
    Out.StorePop(P[0]);
    Stack.pop_back();
    if (used) Stack.back().Place = dest;
    return;
  }
  Stack.back().Place = dest.Area == 0 && used ? dest : TPlace{};
}

// A read that was a place's last use frees its register: copies nobody reads
// again would otherwise fill the stack, and each would be weighed before every
// instruction of a long run of code.
void TNativeTranslator::Release(int k) {
  const TPlace place = PlaceOf(Ins->Operands[k]);
  if (place.Area >= 0 && !ReadAgain[I][static_cast<std::size_t>(k)]) Forget(place);
}

// The division in one of its forms: WithRegister st(0) := st(0) / st(depth);
// Pop st(1) := st(1) / st(0), popped; IntoBelow st(1) := st(1) / st(0). A
// divisor (in st(depth) before it) that may be zero is tested first; a zero
// takes the interpreter's way, out of line: the `registers` in use are put
// aside, the helper called, they come back, and the helper's value goes
// where the quotient would be.
void TNativeTranslator::Divide(TDivision form, int depth, int registers) {
  const TOperand &divisor = Ins->Operands[2];
  const bool mayBeZero = !(divisor.Mode == 0 && divisor.Value != 0);
  std::size_t notEqual = 0, unordered = 0, done = 0;
  if (mayBeZero) {
    Out.Zero();
    Out.CompareWithPop(depth + 1);
    notEqual = Out.Jump(0x75), unordered = Out.Jump(0x7A);
    // Ten-byte values twelve bytes apart: every offset fits one signed byte,
    // and the whole way round stays within a short jump (eight registers: 107 bytes).
    long double *const spill = Unit.NativeSpill;
    Out.RaxIs(spill);
    for (int k = 0; k < registers; ++k) Out.StorePopAtRax(12 * k);
    Out.RdiIs(&Unit);
    Out.EsiIs(static_cast<std::int32_t>(I));
    Out.Call(reinterpret_cast<const void *>(NativeZeroDivision));
    Out.RaxIs(spill);
    Out.StorePopAtRax(12 * 8);  // the value
    for (int k = registers; k-- > 0;) Out.LoadAtRax(12 * k);
    if (form == TDivision::Pop) Out.PopInto(0);  // the divisor goes
    Out.LoadAtRax(12 * 8);
    Out.PopInto(form == TDivision::IntoBelow ? 2 : 1);
    done = Out.Jump(0xEB);
    Out.Land(notEqual);
    Out.Land(unordered);
  }
  if (form == TDivision::WithRegister) Out.OpWith(icDivide, depth);
  else if (form == TDivision::Pop) Out.OpPop(icDivide);
  else Out.OpIntoBelow(icDivide);
  if (mayBeZero) Out.Land(done);
}

// Call arguments from operand 1 on, then an empty register stack.
void TNativeTranslator::Arguments(int count) {
  for (int k = 1; k <= count; ++k) {
    const int depth = Find(PlaceOf(Ins->Operands[k]));
    if (depth >= 0) {
      Out.Copy(depth);
      Out.ArgumentFromStack(16 * (k - 1));
    } else {
      Out.ArgumentFromMemory(P[k], 16 * (k - 1));
    }
  }
  for (int k = 1; k <= count; ++k) Release(k);
  Flush();
}

void TNativeTranslator::CallFunction(const void *function, int arguments) {
  Arguments(arguments);
  Out.SetIndex(&Unit.InstructionIndex, static_cast<std::int32_t>(I));
  Out.Call(function);
  Push();
  Deliver();
}

// The function through a memo of this call site's own.
void TNativeTranslator::CallMemoized(long double (*function)(long double)) {
  E.Memos.push_back(std::make_unique<TCallMemo>(function));
  Arguments(1);
  Out.SetIndex(&Unit.InstructionIndex, static_cast<std::int32_t>(I));
  Out.RdiIs(E.Memos.back().get());
  Out.Call(reinterpret_cast<const void *>(TCallMemo::Call));
  Push();
  Deliver();
}

void TNativeTranslator::CallBuiltin(long double (*function)(TArithmeticUnit *, std::int32_t, long double,
                                                            long double)) {
  Out.RdiIs(&Unit);
  Out.EsiIs(static_cast<std::int32_t>(I));
  Out.Call(reinterpret_cast<const void *>(function));
  Push();
}

// ---------------------------------------------------------------------------
// Instructions

void TNativeTranslator::Analyse() {
  std::vector<char> workRead(static_cast<std::size_t>(Unit.WorkCapacity), 0);
  std::unordered_map<std::int32_t, char> variableRead;
  auto readLater = [&](const TPlace &place) -> char * {
    if (place.Area == 0) return &workRead[static_cast<std::size_t>(place.Index)];
    if (place.Area == 1) return &variableRead[place.Index];
    return nullptr;
  };
  for (std::size_t i = N; i-- > 0;) {
    const TInstruction &ins = E.Code[i];
    const int opcode = ins.Opcode;
    if (CallsOut(opcode)) variableRead.clear();
    if (WritesOperand0(opcode)) {
      if (char *later = readLater(PlaceOf(ins.Operands[0]))) {
        WrittenValueUsed[i] = *later != 0;
        *later = 0;
      }
    }
    const int first = FirstRead(opcode), last = first + ReadCount(opcode);
    for (int k = first; k < last; ++k) {
      const char *later = readLater(PlaceOf(ins.Operands[k]));
      ReadAgain[i][static_cast<std::size_t>(k)] = later && *later;
    }
    for (int k = first; k < last; ++k) {
      if (char *later = readLater(PlaceOf(ins.Operands[k]))) *later = 1;
    }
  }
}

void TNativeTranslator::TranslateArithmetic(int opcode) {
  const TPlace second = PlaceOf(Ins->Operands[2]);
  const bool same = second.Area >= 0 && second == PlaceOf(Ins->Operands[1]);
  Fetch(1, !same);  // st(0): operand 1, to become the result
  const bool divide = opcode == icDivide;
  const int depth = Find(second);
  if (depth >= 0) {
    if (divide) Divide(TDivision::WithRegister, depth, static_cast<int>(Stack.size()));
    else Out.OpWith(opcode, depth);  // st(0) := st(0) op st(depth)
    Release(2);
  } else if (same) {
    Out.Copy(0);
    Push();
    if (divide) Divide(TDivision::Pop, 0, static_cast<int>(Stack.size()));
    else Out.OpPop(opcode);
    Stack.pop_back();
  } else {
    LoadOperand(Out, Ins->Operands[2], P[2]);
    if (second.Area == 1 && ReadAgain[I][2]) {
      // Keep the loaded variable: st(1) := st(1) op st(0), then swap.
      // (the loaded divisor is not on the translator's stack yet)
      if (divide) Divide(TDivision::IntoBelow, 0, static_cast<int>(Stack.size()) + 1);
      else Out.OpIntoBelow(opcode);
      Out.Exchange(1);
      Stack.back().Place = second;  // below: the variable; on top: the result
      Push();
    } else {
      if (divide) Divide(TDivision::Pop, 0, static_cast<int>(Stack.size()) + 1);
      else Out.OpPop(opcode);
    }
  }
  Deliver();
}

// False when the instruction has no machine code (the interpreter reports it).
bool TNativeTranslator::TranslateInstruction() {
  const int opcode = Ins->Opcode;
  switch (opcode) {
    case icIncrement: case icDecrement:
      Fetch(0, true);
      Out.One();
      Out.OpPop(opcode == icIncrement ? icAdd : icSubtract);
      Deliver();
      return true;
    case icAssign:
      Fetch(1, true);
      Deliver();
      return true;
    case icNegate:
      Fetch(1, true);
      Out.Negate();
      Deliver();
      return true;
    case icAdd: case icSubtract: case icMultiply: case icDivide:
      TranslateArithmetic(opcode);
      return true;
    case icRandomize:
      Flush();
      CallBuiltin(NativeRandomize);
      Remove(0);
      return true;
    case icRandom:
      Arguments(1), CallBuiltin(NativeRandom), Deliver();
      return true;
    case icLog:
      Arguments(2), CallBuiltin(NativeLog), Deliver();
      return true;
    default:
      break;
  }
  if (const TFunction1 f = Functions.One[opcode]) {
    if (E.MemoizeCalls && TCallMemo::Worth(opcode) && E.Memos.size() < TCallMemo::MaxPerCode)
      return CallMemoized(f), true;
    return CallFunction(reinterpret_cast<const void *>(f), 1), true;
  }
  if (const TFunction2 f = Functions.Two[opcode]) return CallFunction(reinterpret_cast<const void *>(f), 2), true;
  return false;
}

std::unique_ptr<TNativeCode> TNativeTranslator::Translate() {
  Analyse();
  Out.Prologue();
  for (I = 0; I < N; ++I) {
    Ins = &E.Code[I];
    P = E.Steps[I].P;
    const int opcode = Ins->Opcode;
    // Room for what this instruction pushes: up to two for its first operand
    // (a variable's copy stays), one for the second, one for a zero test.
    std::size_t pushes = 2;
    if (opcode == icIncrement || opcode == icDecrement) pushes = 3;
    if (opcode == icAdd || opcode == icSubtract || opcode == icMultiply) pushes = 3;
    if (opcode == icDivide) pushes = 4;
    Tidy(8 - pushes);
    if (opcode == icEnd) {
      Fetch(0, false);
      while (Stack.size() > 1) {
        Out.PopInto(1);  // st(1) := st(0), pop: the result stays on top
        Stack.erase(Stack.end() - 2);
      }
      Out.Return();
      Out.Finish();
      return TNativeCode::Install(Out.Code.data(), Out.Code.size());
    }
    if (!TranslateInstruction()) return nullptr;
  }
  return nullptr;  // no end instruction
}

bool TArithmeticUnit::CompileNative(TExpression &e) {
  e.Native.reset();
  e.Memos.clear();
  if (!TNativeCode::Supported || !NativeCodeEnabled) return false;
  const std::size_t n = e.Code.size();
  if (n == 0 || n != e.Steps.size()) return false;
  e.Native = TNativeTranslator(*this, e).Translate();
  return e.Native != nullptr;
}

}  // namespace velmora
