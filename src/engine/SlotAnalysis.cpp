// What slots read and write: whether the slots' pixels depend on each other
// (for painting on several threads), and the copy of an engine another thread runs.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "compiler/Opcodes.h"
#include "engine/SlotAnalysis.h"

namespace velmora {

void TArithmeticUnit::CopyForRunning(const TArithmeticUnit &from, int count) {
  Machine.CopyFrom(from.Machine);
  VariableCount = from.VariableCount;
  VariableCapacity = from.VariableCapacity;
  VariableIndex = from.VariableIndex;
  ReuseEnabled = from.ReuseEnabled;
  for (int k = 0; k < count && k < ExpressionCount; ++k) {
    const TExpression &source = from.Expressions[static_cast<std::size_t>(k)];
    TExpression &e = Expressions[static_cast<std::size_t>(k)];
    TMachine::CopyProgram(e, source);
    e.Source = source.Source;
  }
  SlotSequenceCount = -1;
}

bool SlotsIndependent(const TArithmeticUnit &engine, int count, const std::vector<std::int32_t> &preset) {
  using TOperand = TArithmeticUnit::TOperand;
  using TInstruction = TArithmeticUnit::TInstruction;
  const std::int32_t VariableCount = engine.VariableCount;
  const auto &Expressions = engine.Expressions;
  count = std::clamp(count, 0, engine.ExpressionCount);
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
