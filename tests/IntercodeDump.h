#pragma once
// One intermediate-code instruction as the parser tests write it: the opcode
// name, the operands that are set, and "#n" for a call's argument count.
#include <string>

#include "compiler/QDIntercode.h"

namespace velmora::test {

inline std::string Dump(const TQDIntercode &c) {
  std::string line = IntercodeName(c.Code);
  for (const std::string *o : {&c.Operand1, &c.Operand2, &c.Operand3}) {
    if (!o->empty()) line += " " + *o;
  }
  if (c.Code >= icRandomize && c.Code <= icCall) line += " #" + std::to_string(c.ArgCount);
  return line;
}

}  // namespace velmora::test
