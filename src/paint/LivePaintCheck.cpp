#include "paint/LivePaintCheck.h"

#include <cstdint>
#include <vector>

#include "compiler/Opcodes.h"
#include "engine/ArithmeticUnit.h"
#include "engine/ReusePlan.h"
#include "engine/SlotAnalysis.h"

namespace velmora {

namespace {

using TInstruction = TArithmeticUnit::TInstruction;

bool IsVariable(const TArithmeticUnit::TOperand &o) { return o.Mode == 1 && o.Area == 1 && o.Index >= 0; }

// Variables written so far, in the order the formulas run.
class TWritten {
 public:
  bool Has(std::int32_t v) const { return static_cast<std::size_t>(v) < Marks.size() && Marks[static_cast<std::size_t>(v)]; }
  void Add(std::int32_t v) {
    if (v < 0) return;
    if (static_cast<std::size_t>(v) >= Marks.size()) Marks.resize(static_cast<std::size_t>(v) + 1, 0);
    Marks[static_cast<std::size_t>(v)] = 1;
  }

 private:
  std::vector<std::uint8_t> Marks;
};

bool DrawsRandom(const std::vector<TInstruction> &code) {
  for (const TInstruction &ins : code)
    if (ins.Opcode == icRandom || ins.Opcode == icRandomize) return true;
  return false;
}

// The first variable `code` reads before anything wrote it (-1: none); notes
// what it writes. `only` >= 0 looks at reads of that variable only.
std::int32_t ReadBeforeWritten(const std::vector<TInstruction> &code, TWritten &written,
                               const std::vector<std::int32_t> *only = nullptr) {
  for (const TInstruction &ins : code) {
    // An instruction reads its operands before it writes.
    for (int i = FirstRead(ins.Opcode); i < FirstRead(ins.Opcode) + ReadCount(ins.Opcode); ++i) {
      const TArithmeticUnit::TOperand &o = ins.Operands[i];
      if (!IsVariable(o) || written.Has(o.Index)) continue;
      if (!only) return o.Index;
      for (std::int32_t v : *only)
        if (v == o.Index) return o.Index;
    }
    if (WritesOperand0(ins.Opcode) && IsVariable(ins.Operands[0])) written.Add(ins.Operands[0].Index);
  }
  return -1;
}

TLivePaintVerdict Refuse(TLivePaintVerdict::TKind kind, const std::string &why) {
  return {kind, "自動描画しません：" + why};
}

// A line the paint skips (a comment or blank), or one it reports as an error.
enum class TLine { Skipped, Error, Compiled };

TLine Compile(TArithmeticUnit &engine, TQDString &scanner, int slot, const std::string &line) {
  scanner.Text = line;
  const bool scanned = scanner.Tokenize();
  if (scanned && scanner.Tokens->empty()) return TLine::Skipped;
  if (scanner.Tokens) TStringList().swap(*scanner.Tokens);
  if (!scanned) return TLine::Error;
  return engine.SetExpression(slot, line) ? TLine::Compiled : TLine::Error;
}

}  // namespace

TLivePaintVerdict CheckLivePaint(const TStringList &constants, const TStringList &carpet) {
  TArithmeticUnit engine;
  engine.KeepIntercode = false;
  TQDString scanner;
  bool errors = false;

  // The constants run once, in order, after the paint has set the picture's size.
  TWritten written;
  written.Add(engine.SearchVariable("ImgW", true));
  written.Add(engine.SearchVariable("ImgH", true));
  for (const std::string &line : constants) {
    const TLine compiled = Compile(engine, scanner, 0, line);
    errors = errors || compiled == TLine::Error;
    if (compiled != TLine::Compiled) continue;
    const std::vector<TInstruction> &code = engine.Expressions[0].Code;
    if (DrawsRandom(code)) return Refuse(TLivePaintVerdict::UsesRandom, "定数式が乱数を使います．");
    const std::int32_t read = ReadBeforeWritten(code, written);
    if (read >= 0)
      return Refuse(TLivePaintVerdict::ConstantsCarryOn,
                    "定数式が代入前の " + engine.Variables[static_cast<std::size_t>(read)].Name + " を読みます．");
  }

  int slots = 0;
  for (const std::string &line : carpet) {
    if (slots >= engine.ExpressionCount) return {};  // too many formulas: the paint says so
    const TLine compiled = Compile(engine, scanner, slots, line);
    errors = errors || compiled == TLine::Error;
    if (compiled != TLine::Skipped) ++slots;
  }
  // A formula with an error paints no pixel: the paint only reports it.
  if (errors) return {};

  const TPaintVariables names = ResolvePaintVariables(engine);
  for (int k = 0; k < slots; ++k)
    if (DrawsRandom(engine.Expressions[static_cast<std::size_t>(k)].Code))
      return Refuse(TLivePaintVerdict::UsesRandom, "絨毯の数式が乱数を使います．");
  TWritten pixelInputs;
  pixelInputs.Add(names.X);
  pixelInputs.Add(names.Y);
  const std::vector<std::int32_t> oldColour(names.OldColour, names.OldColour + 3);
  for (int k = 0; k < slots; ++k)
    if (ReadBeforeWritten(engine.Expressions[static_cast<std::size_t>(k)].Code, pixelInputs, &oldColour) >= 0)
      return Refuse(TLivePaintVerdict::ReadsOldPicture, "前の絵の色（getr 等）を読みます．");
  const std::vector<std::int32_t> preset = {names.X, names.Y, names.OldColour[0], names.OldColour[1],
                                            names.OldColour[2]};
  if (!SlotsIndependent(engine, slots, preset))
    return Refuse(TLivePaintVerdict::PixelsDepend, "前の画素の値を読みます．");
  return {};
}

}  // namespace velmora
