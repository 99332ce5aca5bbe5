// The machine-code translator's picture of the x87 register stack, and the
// steps every instruction is made of (see NativeTranslator.cpp).
#include <cstdint>

#include "compiler/Opcodes.h"
#include "engine/MathErrorManager.h"
#include "engine/NativeTranslator.h"

namespace velmora {

using native::LoadOperand;
using native::PlaceOf;
using native::TPlace;

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

}  // namespace velmora
