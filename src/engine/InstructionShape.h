#pragma once
// Which operands an executable instruction reads and writes. The executor,
// the machine-code translator and the dependency analysis all go by this.
#include "compiler/QDIntercode.h"

namespace velmora {

// ++, -- and the end read operand 0; the others read from operand 1 on.
inline bool ReadsOperand0(int opcode) { return opcode == icIncrement || opcode == icDecrement || opcode == icEnd; }
inline bool WritesOperand0(int opcode) { return opcode != icEnd && opcode != icRandomize; }
inline int FirstRead(int opcode) { return ReadsOperand0(opcode) ? 0 : 1; }
// How many operands are read, from FirstRead on.
inline int ReadCount(int opcode) {
  switch (opcode) {
    case icIncrement: case icDecrement: case icEnd: case icAssign: case icNegate: case icRandom:
    case icAsin: case icAcos: case icAtan: case icAbs: case icCos: case icCosh: case icExp: case icLn:
    case icLog10: case icSin: case icSinh: case icSqrt: case icTan: case icTanh: case icCeil: case icFloor:
      return 1;
    case icRandomize: return 0;
    default: return 2;
  }
}

}  // namespace velmora
