// What slots write and read: the variables a run may change (for its
// snapshot), whether the slots' pixels depend on each other (for painting on
// several threads), and the copy of an engine another thread runs.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "compiler/Opcodes.h"
#include "engine/ArithmeticUnit.h"

namespace velmora {

namespace {
// Whether a variable is noted already: one mark per variable, so that noting
// stays linear however many variables a slot writes (the painter's installed
// code writes one per term).
class TVariableMarks {
 public:
  bool Mark(std::int32_t index) {
    const auto i = static_cast<std::size_t>(index);
    if (i >= Marks.size()) Marks.resize(std::max(i + 1, Marks.size() * 2), 0);
    if (Marks[i]) return false;
    Marks[i] = 1;
    return true;
  }

 private:
  std::vector<std::uint8_t> Marks;
};
}  // namespace

void TArithmeticUnit::NoteWrittenVariables(TExpression &slot) {
  slot.WrittenVariables.clear();
  TVariableMarks seen;
  for (const TInstruction &ins : slot.Code) {
    const TOperand &o = ins.Operands[0];
    if (!WritesOperand0(ins.Opcode) || o.Mode != 1 || o.Area != 1 || o.Index < 0) continue;
    if (seen.Mark(o.Index)) slot.WrittenVariables.push_back(o.Index);
  }
}

void TArithmeticUnit::PrepareSlotsWritten(int count) {
  if (SlotsWrittenCount == count) return;
  SlotsWritten.clear();
  TVariableMarks seen;
  for (int k = 0; k < count; ++k) {
    for (std::int32_t v : Expressions[static_cast<std::size_t>(k)].WrittenVariables) {
      if (seen.Mark(v)) SlotsWritten.push_back(v);
    }
  }
  SlotsWrittenCount = count;
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
  ReuseEnabled = from.ReuseEnabled;
  ++StorageGeneration;  // every slot works out its places anew, in this engine
  for (int k = 0; k < count && k < ExpressionCount; ++k) {
    const TExpression &source = from.Expressions[static_cast<std::size_t>(k)];
    TExpression &e = Expressions[static_cast<std::size_t>(k)];
    e.Code = source.Code;
    e.Source = source.Source;
    e.WrittenVariables = source.WrittenVariables;
    e.Steps.clear();
    e.StepsGeneration = 0;
    e.Native.reset();
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

}  // namespace velmora
