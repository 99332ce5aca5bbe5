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
#include "engine/Machine.h"
#include "engine/Builtins.h"
#include "engine/CheckedMath.h"
#include "engine/MathErrorManager.h"
#include "engine/NativeTranslator.h"

namespace velmora {

using native::LoadOperand;
using native::PlaceOf;
using native::TPlace;

namespace {

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

// ---------------------------------------------------------------------------
// Built-ins

long double TNativeTranslator::NativeLog(TMachine *unit, std::int32_t ip, long double baseValue,
                                         long double value) {
  unit->InstructionIndex = ip;
  long double result;
  if (builtin::LogBase(baseValue, value, unit->MathErrorMode, result) != builtin::TOutcome::Refused) return result;
  unit->NativeBailout = true;
  return 0;
}

long double TNativeTranslator::NativeRandom(TMachine *unit, std::int32_t, long double v, long double) {
  long double result;
  if (builtin::Random(v, result) != builtin::TOutcome::Refused) return result;
  unit->NativeBailout = true;
  return 0;
}

// A zero divisor, as the interpreter handles it: recorded with its
// substitute value in math error mode; otherwise the run is replayed, which
// stops there.
long double TNativeTranslator::NativeZeroDivision(TMachine *unit, std::int32_t ip) {
  unit->InstructionIndex = ip;
  long double result = 0;
  if (builtin::ZeroDivision(unit->MathErrorMode, result) == builtin::TOutcome::Refused) unit->NativeBailout = true;
  return result;
}

long double TNativeTranslator::NativeRandomize(TMachine *, std::int32_t, long double, long double) {
  builtin::Randomize();
  return 0;
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

void TNativeTranslator::CallBuiltin(long double (*function)(TMachine *, std::int32_t, long double,
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

bool TMachine::CompileNative(TProgram &e) {
  e.Native.reset();
  e.Memos.clear();
  if (!TNativeCode::Supported || !NativeCodeEnabled) return false;
  const std::size_t n = e.Code.size();
  if (n == 0 || n != e.Steps.size()) return false;
  e.Native = TNativeTranslator(*this, e).Translate();
  return e.Native != nullptr;
}

}  // namespace velmora
