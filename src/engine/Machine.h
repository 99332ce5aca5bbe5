#pragma once
// TMachine: runs compiled programs over 80-bit long double values. It owns
// its cells (the values programs read and write by index; the formula engine
// keeps its variables' names in them too), its work registers (a program's
// temporaries, written before they are read within one run) and the input
// cells declared for its programs, and holds what a program needs to run: its
// steps, its machine code and the memos of its calls.
//
// A machine runs programs in two ways, both opened by Begin, continued by Go
// for each program and closed by End, which answers whether anything happened
// (one test, TRunMark, which the call memos use too):
//  - a run that keeps its records: the math error records stay; when the run
//    met anything (a fault flag, a replay request) it is taken back;
//  - a probe: the same, but a math error record counts as something happened
//    and is taken back too.
// RunChecked is the run that keeps its records followed, when it met
// something, by the careful run that stops exactly where the fault is.
//
// Members by file: Machine.cpp (storage, copies, the runs), Steps.cpp (a
// program's steps), Executor.cpp (the interpreter), NativeTranslator.cpp
// (the machine code).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "compiler/QDIntercode.h"
#include "engine/CallMemo.h"
#include "engine/NativeCode.h"
#include "engine/RunSnapshot.h"

namespace velmora {

class TMachine {
 public:
  struct TOperand {
    std::uint8_t Mode = 0;  // 0 immediate (Value), 1 reference (Area, Index)
    std::uint8_t Area = 0;  // 0 work register, 1 cell
    std::int32_t Index = 0;
    long double Value = 0;
  };
  struct TInstruction {
    std::uint8_t Opcode = icInvalid;
    TOperand Operands[3];
  };
  struct TProgram {
    std::vector<TInstruction> Code;  // empty: nothing to run
    // The instructions as the executor runs them: each operand's place worked
    // out once (refreshed only when the machine's storage has moved since),
    // and a note of which operands are the result of the instruction just
    // before, which the executor still holds in a register.
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
    // The cells the code writes, so that a run can be taken back.
    std::vector<std::int32_t> WrittenVariables;

    // Forgets the steps and the machine code (the code changed or moved machine).
    void Forget() {
      Steps.clear();
      StepsGeneration = 0;
      Native.reset();
    }
    // Works out WrittenVariables from Code.
    void NoteWritten();
    void RearmMemos() {
      for (auto &memo : Memos) memo->Rearm();
    }
  };
  // Programs run one after another (for one pixel), and every cell they write.
  struct TSequence {
    std::vector<TProgram *> Programs;
    std::vector<std::int32_t> Written;
    // Sets Programs and works out Written.
    void Set(std::vector<TProgram *> programs);
  };

  TMachine();
  ~TMachine();
  TMachine(const TMachine &) = delete;
  TMachine &operator=(const TMachine &) = delete;

  std::vector<TVariable> Cells;
  std::vector<long double> Work;
  std::int32_t WorkCapacity = 0;
  bool MathErrorMode = false;
  // Runs programs as machine code where possible (the environment variable
  // VELMORA_INTERPRET turns it off, for comparisons).
  bool NativeCodeEnabled;
  // Why the last run failed.
  std::string ErrorMessage;
  // Whether the last RunChecked ran the careful way.
  bool RanCarefully = false;

  // The cells or the work registers moved: every program works out its places again.
  void Moved() { ++StorageGeneration; }
  // Twice the work registers; false when there can be no more (memory running
  // out throws).
  bool GrowWork();
  // Makes this machine a copy of `from` for running copies of its programs
  // (CopyProgram) on another thread: the cells, as many work registers and
  // the modes. `from` is only read.
  void CopyFrom(const TMachine &from);
  // The code of `from` as a program of this machine.
  static void CopyProgram(TProgram &to, const TProgram &from);
  // Gives `program` the code `code`, with room for its work registers.
  void Load(TProgram &program, std::vector<TInstruction> code);
  // Works out the program's steps (and machine code) now, as its first run
  // would; nothing to do when they are up to date.
  void Prepare(TProgram &p) {
    if (!p.Code.empty() && p.StepsGeneration != StorageGeneration) PrepareSteps(p);
  }

  // Declares the cells the caller fills before each run (SetInputs), in order.
  void DeclareInputs(std::vector<std::int32_t> cells) { Inputs = std::move(cells); }
  // (Copied as bytes: through the floating-point unit a value costs far more.)
  void SetInputs(const long double *values) {
    TVariable *cells = Cells.data();
    const std::int32_t *inputs = Inputs.data();
    for (std::size_t k = 0, n = Inputs.size(); k < n; ++k)
      std::memcpy(&cells[inputs[k]].Value, values + k, sizeof(long double));
  }
  std::size_t InputCount() const { return Inputs.size(); }

  // The two ways of running (see above). `written`: the cells the programs
  // may write, to be taken back (it must stay as it is until End).
  void BeginRun(const std::vector<std::int32_t> &written);
  void BeginProbe();
  void Go(TProgram &p);
  bool End();
  // A run of a sequence, any number of times (the pixel loop's fast lane):
  // Begin works out the programs' steps, so that Go need not look.
  void BeginRun(TSequence &sequence);
  void Go(TSequence &sequence);

  // Runs the sequence's programs in order, as that many checked runs would:
  // fast, and when that met something, again carefully one by one, stopping
  // at the one that fails (`failed`, with ErrorMessage). `carefulFirst` skips
  // the fast run (the same result, sooner when a fault is likely).
  bool RunChecked(TSequence &sequence, int &failed, bool carefulFirst = false);
  // One program so, giving its value.
  bool RunChecked(TProgram &p, long double &result);

 private:
  std::uint64_t StorageGeneration = 1;  // bumped whenever Cells or Work move
  std::vector<std::int32_t> Inputs;
  friend class TNativeTranslator;
  std::int32_t InstructionIndex = 0;  // the running instruction, for math error records
  bool NativeBailout = false;         // the machine code met something only the interpreter can report
  // Where the machine code puts its registers aside around a call out of
  // line (a zero divisor), and the call's value after them.
  long double NativeSpill[9] = {};

  struct TRunGuard;
  std::unique_ptr<TRunGuard> Open;  // the run between Begin and End
  bool Failed = false;
  TRunMark Mark{true};
  TRunSnapshot Snapshot;  // before an open run or a checked one

  bool Fail(const char *message);
  void PrepareSteps(TProgram &p);
  bool CompileNative(TProgram &p);
  bool RunFast(TProgram &p, long double &result);
  template <bool Careful>
  bool Run(TProgram &p, long double &result);
};

// A machine that is a copy of another, with copies of a sequence of its
// programs: what one painting thread runs.
struct TMachineCopy {
  TMachineCopy(const TMachine &from, const TMachine::TSequence &sequence);
  TMachine Machine;
  std::vector<TMachine::TProgram> Programs;
  TMachine::TSequence Sequence;
};

}  // namespace velmora
