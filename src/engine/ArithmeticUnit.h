#pragma once
// TArithmeticUnit: the formula engine. It owns the variables, 800 slots of
// compiled formulas and the work registers, compiles one formula line into a
// slot (scanner -> parser -> intermediate code -> executable instructions) and
// runs a slot over 80-bit long double values.
//
// The slots are programs of its machine (engine/Machine.h), which runs them.
// Its members are defined by job: Variables.cpp (the variable table and the
// work area), Translator.cpp (a line into a slot), SlotAnalysis.cpp (the
// slots as a sequence; copies for other threads) and RunGuard.cpp (the run
// interfaces).
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "compiler/QDExpression.h"
#include "compiler/QDIntercode.h"
#include "engine/Machine.h"
#include "formula/QDString.h"

namespace velmora {

class TAddressingManager;

class TArithmeticUnit {
 public:
  using TOperand = TMachine::TOperand;
  using TInstruction = TMachine::TInstruction;
  using TVariable = velmora::TVariable;
  // A slot: a program of the engine's machine, and the line it was compiled from.
  struct TExpression : TMachine::TProgram {
    std::string Source;
  };

  TArithmeticUnit();
  ~TArithmeticUnit();
  TArithmeticUnit(const TArithmeticUnit &) = delete;
  TArithmeticUnit &operator=(const TArithmeticUnit &) = delete;

  // Runs the slots; its cells are the variables' values (with their names).
  TMachine Machine;
  TQDString Scanner;
  TQDIntercodeManager Intercode;
  TQDExpression Parser;
  std::int32_t &WorkCapacity = Machine.WorkCapacity;
  std::vector<long double> &Work = Machine.Work;
  bool &MathErrorMode = Machine.MathErrorMode;
  // Runs slots as machine code where possible (the environment variable
  // VELMORA_INTERPRET turns it off, for comparisons).
  bool &NativeCodeEnabled = Machine.NativeCodeEnabled;
  // Computes once what the carpet formulas compute alike for many pixels
  // (VELMORA_NO_REUSE or VELMORA_INTERPRET turns it off, for comparisons).
  bool ReuseEnabled;
  const std::int32_t ExpressionCount = 800;
  std::vector<TExpression> Expressions;
  std::int32_t VariableCount = 0;
  std::int32_t VariableCapacity = 0;
  std::vector<TVariable> &Variables = Machine.Cells;
  std::string &ErrorMessage = Machine.ErrorMessage;
  // The last SetExpression or Calculate failed because memory ran out (and
  // ErrorMessage says so): the caller's job ends, it is no formula error.
  bool OutOfMemory = false;
  // Keep the intermediate code of the last SetExpression for reading (calc's
  // dump). Without it, the code of a long line is released while it is
  // translated and Intercode is empty afterwards.
  bool KeepIntercode = true;

  std::int32_t SearchVariable(const std::string &name, bool create);
  long double *GetVariablePointer(const std::string &name, bool create);
  bool GetVariableValue(const std::string &name, long double &value);
  void ClearVariables();

  bool SetExpression(int index, const std::string &text);
  bool Calculate(int index, long double &result);
  // Runs slots 0 .. count-1 in order, as the paint command does for one pixel,
  // exactly as that many Calculate calls would, but testing the processor's
  // fault flags once for all of them. On a failure `failedSlot` is the slot
  // that failed and ErrorMessage says why. `carefulFirst` skips the fast run
  // (the same result, sooner when a fault is likely); RanCarefully tells
  // afterwards whether the slots ran the careful way.
  bool CalculateSlots(int count, int &failedSlot, bool carefulFirst = false);
  bool &RanCarefully = Machine.RanCarefully;
  // Slots 0 .. count-1 as the machine runs them one after another (what
  // CalculateSlots runs), until a slot's code changes.
  TMachine::TSequence &Slots(int count);
  // Makes this engine a copy of `from` for running its slots 0 .. count-1 on
  // another thread: the variables (names, values and places), the work area
  // and those slots' code. `from` is only read.
  void CopyForRunning(const TArithmeticUnit &from, int count);
  // Appends the recorded math errors (at most `limit` lines) and empties the record.
  void GetMathErrors(TStringList &list, std::size_t limit = SIZE_MAX);

 private:
  bool Compile(int index, const std::string &text);
  std::unordered_map<std::string, std::int32_t> VariableIndex;  // name -> first index
  TMachine::TSequence SlotSequence;  // slots 0 .. SlotSequenceCount-1
  int SlotSequenceCount = -1;        // -1: to be worked out again
  bool GrowVariables();
  bool GrowWork();
  bool Fail(const char *message);

  // Translation state of one SetExpression.
  struct TTranslation;
  bool Translate(TExpression &slot, TTranslation &t);
  bool TranslateOne(const TQDIntercode &c, TExpression &slot, TTranslation &t);
  bool TranslateBind(const TQDIntercode &c, TTranslation &t);
  bool Emit(const TQDIntercode &c, int operands, TExpression &slot, TTranslation &t);
  bool ResolveOperand(const std::string &text, TOperand &operand, TTranslation &t);
  bool StripAddress(const std::string &text, std::string &name);
};

}  // namespace velmora
