#pragma once
// TArithmeticUnit: the formula engine. It owns the variables, 800 slots of
// compiled formulas and the work registers, compiles one formula line into a
// slot (scanner -> parser -> intermediate code -> executable instructions) and
// runs a slot over 80-bit long double values.
//
// Its members are defined by job: Variables.cpp (the variable table and the
// work area), Translator.cpp (a line into a slot), Steps.cpp (a slot's
// instructions as the executor runs them), SlotAnalysis.cpp (what slots write
// and read; copies for other threads), RunGuard.cpp (the run interfaces: fast
// run, undo, careful replay), Executor.cpp (the interpreter) and
// NativeTranslator.cpp (the machine code).
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "compiler/QDExpression.h"
#include "compiler/QDIntercode.h"
#include "engine/CallMemo.h"
#include "engine/NativeCode.h"
#include "engine/RunSnapshot.h"
#include "formula/QDString.h"

namespace velmora {

class TAddressingManager;

class TArithmeticUnit {
 public:
  struct TOperand {
    std::uint8_t Mode = 0;  // 0 immediate (Value), 1 reference (Area, Index)
    std::uint8_t Area = 0;  // 0 work register, 1 variable
    std::int32_t Index = 0;
    long double Value = 0;
  };
  struct TInstruction {
    std::uint8_t Opcode = icInvalid;
    TOperand Operands[3];
  };
  using TVariable = velmora::TVariable;
  struct TExpression {
    std::vector<TInstruction> Code;  // empty: the slot has no code
    std::string Source;
    // The instructions as the executor runs them: each operand's place worked
    // out once (refreshed only when the work area or the variable table has
    // moved since), and a note of which operands are the result of the
    // instruction just before, which the executor still holds in a register.
    struct TStep {
      long double *P[3] = {nullptr, nullptr, nullptr};
      // opcode * 8 + 1 (operand 1, or 0 where it is read, is the previous result)
      // + 2 (operand 2 is) + 4 (the result need not be stored)
      std::uint16_t Op = 0;
    };
    std::vector<TStep> Steps;
    std::uint64_t StepsGeneration = 0;
    // The same steps as machine code, where the processor allows it.
    std::unique_ptr<TNativeCode> Native;
    // Costly math calls of the machine code go through memos (per-pixel code
    // whose arguments often repeat); the memos live as long as the code.
    bool MemoizeCalls = false;
    std::vector<std::unique_ptr<TCallMemo>> Memos;
    // The variables the code writes, so that a run can be rolled back.
    std::vector<std::int32_t> WrittenVariables;
  };

  TArithmeticUnit();
  ~TArithmeticUnit();
  TArithmeticUnit(const TArithmeticUnit &) = delete;
  TArithmeticUnit &operator=(const TArithmeticUnit &) = delete;

  TQDString Scanner;
  TQDIntercodeManager Intercode;
  TQDExpression Parser;
  std::int32_t WorkCapacity = 0;
  std::vector<long double> Work;
  bool MathErrorMode = false;
  // Runs slots as machine code where possible (the environment variable
  // VELMORA_INTERPRET turns it off, for comparisons).
  bool NativeCodeEnabled;
  // Computes once what the carpet formulas compute alike for many pixels
  // (VELMORA_NO_REUSE or VELMORA_INTERPRET turns it off, for comparisons).
  bool ReuseEnabled;
  const std::int32_t ExpressionCount = 800;
  std::vector<TExpression> Expressions;
  std::int32_t VariableCount = 0;
  std::int32_t VariableCapacity = 0;
  std::vector<TVariable> Variables;
  std::string ErrorMessage;
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
  bool RanCarefully = false;
  // The pixel loop's fast lane: BeginBatch, then RunSlotsUnchecked for any
  // number of pixels, then EndBatch, which tests the fault flags once for all
  // of them. It gives false when some run met a fault or a failure; then
  // everything since BeginBatch is undone (variables, generator, math error
  // records) and the caller runs those pixels again with CalculateSlots.
  void BeginBatch(int count);
  void RunSlotsUnchecked(int count);
  bool EndBatch();
  // Runs slots 0 .. count-1 again as CalculateSlots does, for the variable
  // values they leave, adding nothing to the math error records (a pixel whose
  // records were taken already).
  void ReplaySlots(int count);
  // Makes this engine a copy of `from` for running its slots 0 .. count-1 on
  // another thread: the variables (names, values and places), the work area
  // and those slots' code. `from` is only read.
  void CopyForRunning(const TArithmeticUnit &from, int count);
  // Whether running slots 0 .. count-1 once per pixel gives each pixel a
  // result of its own, whatever ran before: no slot draws random numbers, and
  // every variable the slots write is written, in slot order, before any slot
  // reads it. Variables in `preset` count as written before the first slot.
  bool SlotsIndependent(int count, const std::vector<std::int32_t> &preset) const;
  // Works out slot `index`'s steps (and machine code) now, as its first run
  // would; nothing to do when they are up to date.
  void PrepareSlot(int index);
  // Puts code made by the painter (not compiled from a line) into slot `index`.
  void InstallCode(int index, std::vector<TInstruction> code);
  // Runs of installed code over scratch variables: BeginProbe, any number of
  // RunRaw, then EndProbe, which is true when none of them met anything (a
  // fault flag, a math error, a run the machine code could not finish).
  // Otherwise the math error records they added are taken back and the flags
  // cleared; the variables are left as the runs wrote them.
  void BeginProbe();
  void RunRaw(int index);
  bool EndProbe();
  // Appends the recorded math errors (at most `limit` lines) and empties the record.
  void GetMathErrors(TStringList &list, std::size_t limit = SIZE_MAX);

 private:
  bool Compile(int index, const std::string &text);
  bool CalculateGuarded(int index, long double &result);
  std::unordered_map<std::string, std::int32_t> VariableIndex;  // name -> first index
  std::uint64_t StorageGeneration = 1;  // bumped whenever Work or Variables move
  std::int32_t InstructionIndex = 0;    // the running instruction, for math error records

  bool GrowVariables();
  bool GrowWork();
  TRunSnapshot Snapshot;                   // before a Calculate
  TRunSnapshot SlotsSnapshot;              // before a run of slots 0 .. count-1
  std::vector<std::int32_t> SlotsWritten;  // variables written by slots 0 .. SlotsWrittenCount-1
  int SlotsWrittenCount = -1;              // -1: to be worked out again
  struct TRunGuard;
  std::unique_ptr<TRunGuard> Batch;
  bool BatchFailed = false;
  TRunMark Mark{true};  // where the batch or probe began
  void PrepareSlotsWritten(int count);
  void PrepareSteps(TExpression &e);
  bool CompileNative(TExpression &e);
  friend class TNativeTranslator;
  bool NativeBailout = false;  // the machine code met something only the interpreter can report
  // Where the machine code puts its registers aside around a call out of
  // line (a zero divisor), and the call's value after them.
  long double NativeSpill[9] = {};
  bool RunFast(TExpression &e, long double &result);
  template <bool Careful>
  bool Run(TExpression &e, long double &result);
  bool Fail(const char *message);
  void NoteWrittenVariables(TExpression &slot);

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
