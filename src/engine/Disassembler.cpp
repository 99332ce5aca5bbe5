#include "engine/Disassembler.h"

#include "compiler/Opcodes.h"
#include "text/FloatFormat.h"

namespace velmora {

namespace {

std::string OperandText(const TArithmeticUnit &engine, const TArithmeticUnit::TOperand &o) {
  if (o.Mode == 0) return text::FormatGeneral(o.Value);
  if (o.Area == 0) return "w" + std::to_string(o.Index);
  return "v:" + engine.Variables[static_cast<std::size_t>(o.Index)].Name;
}

}  // namespace

TStringList DisassembleSteps(TArithmeticUnit &engine, int index) {
  TStringList lines;
  if (index < 0 || index >= engine.ExpressionCount) return lines;
  engine.Machine.Prepare(engine.Expressions[static_cast<std::size_t>(index)]);
  const TArithmeticUnit::TExpression &e = engine.Expressions[static_cast<std::size_t>(index)];
  if (e.Code.empty() || e.Steps.size() != e.Code.size()) return lines;
  lines.push_back("steps " + std::to_string(e.Steps.size()) + (e.Native ? " machine-code" : " interpreter"));
  for (std::size_t i = 0; i < e.Code.size(); ++i) {
    const TArithmeticUnit::TInstruction &ins = e.Code[i];
    const int variant = e.Steps[i].Op % 8;
    std::string line = std::to_string(i) + "\t" + IntercodeName(static_cast<std::uint8_t>(e.Steps[i].Op / 8)) + "\t";
    for (int k = 0; k < ShapeOf(ins.Opcode).Operands; ++k) line += (k ? " " : "") + OperandText(engine, ins.Operands[k]);
    line += "\t";
    std::string flags;
    if (variant & 1) flags += " acc1";
    if (variant & 2) flags += " acc2";
    if (variant & 4) flags += " nostore";
    line += flags.empty() ? "-" : flags.substr(1);
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace velmora
