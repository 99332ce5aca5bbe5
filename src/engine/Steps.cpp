// A program's instructions as the executor runs them: each operand's place
// worked out once, which operands the executor still holds in its register
// (the previous instruction's result), and which results need no store
// because no later instruction reads them from memory.
#include <vector>

#include "compiler/Opcodes.h"
#include "engine/Machine.h"

namespace velmora {

void TMachine::PrepareSteps(TProgram &e) {
  e.Steps.resize(e.Code.size());
  const long double *previous = nullptr;  // where the previous instruction wrote
  for (std::size_t i = 0; i < e.Code.size(); ++i) {
    TInstruction &ins = e.Code[i];
    TProgram::TStep &step = e.Steps[i];
    for (int k = 0; k < 3; ++k) {
      TOperand &o = ins.Operands[k];
      if (o.Mode == 0) step.P[k] = &o.Value;
      else if (o.Area == 0) step.P[k] = &Work[static_cast<std::size_t>(o.Index)];
      else step.P[k] = &Cells[static_cast<std::size_t>(o.Index)].Value;
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
    TProgram::TStep &step = e.Steps[i];
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

}  // namespace velmora
