// The machine's storage and copies, and its runs: each runs at full speed,
// testing the processor's fault flags once at the end. If one is raised (rare:
// it ends the paint), the run is taken back with its snapshot and, for a
// checked run, done again testing after every instruction, so that it stops
// exactly at the faulting instruction with exactly the earlier writes in place.
#include "engine/Machine.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <new>

#include "compiler/Opcodes.h"
#include "engine/MathErrorManager.h"
#include "engine/RunGuard.h"

namespace velmora {

namespace {
constexpr std::int32_t InitialCapacity = 100;

// Whether a cell is noted already: one mark per cell, so that noting stays
// linear however many cells a program writes.
class TCellMarks {
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

void TMachine::TProgram::NoteWritten() {
  WrittenVariables.clear();
  TCellMarks seen;
  for (const TInstruction &ins : Code) {
    const TOperand &o = ins.Operands[0];
    if (!WritesOperand0(ins.Opcode) || o.Mode != 1 || o.Area != 1 || o.Index < 0) continue;
    if (seen.Mark(o.Index)) WrittenVariables.push_back(o.Index);
  }
}

void TMachine::TSequence::Set(std::vector<TProgram *> programs) {
  Programs = std::move(programs);
  Written.clear();
  TCellMarks seen;
  for (const TProgram *p : Programs) {
    for (std::int32_t v : p->WrittenVariables) {
      if (seen.Mark(v)) Written.push_back(v);
    }
  }
}

TMachine::TMachine() : NativeCodeEnabled(std::getenv("VELMORA_INTERPRET") == nullptr) {
  Work.assign(InitialCapacity, 0.0L);
  WorkCapacity = InitialCapacity;
}

TMachine::~TMachine() {
  Open.reset();
  TMathErrorManager &m = MathErrorManager();
  if (m.PositionPointer == &InstructionIndex) m.PositionPointer = nullptr;
}

bool TMachine::Fail(const char *message) {
  ErrorMessage = message;
  return false;
}

bool TMachine::GrowWork() {
  if (WorkCapacity > std::numeric_limits<std::int32_t>::max() / 2) return false;
  // Temporaries are written before they are read; nothing needs carrying over.
  std::vector<long double> bigger(static_cast<std::size_t>(WorkCapacity) * 2, 0.0L);
  Work.swap(bigger);
  WorkCapacity *= 2;
  Moved();
  return true;
}

void TMachine::CopyFrom(const TMachine &from) {
  Cells = from.Cells;
  Work.assign(from.Work.size(), 0.0L);
  WorkCapacity = from.WorkCapacity;
  MathErrorMode = from.MathErrorMode;
  NativeCodeEnabled = from.NativeCodeEnabled;
  Inputs = from.Inputs;
  Moved();  // every program works out its places anew, in this machine
}

void TMachine::CopyProgram(TProgram &to, const TProgram &from) {
  to.Code = from.Code;
  to.WrittenVariables = from.WrittenVariables;
  to.MemoizeCalls = from.MemoizeCalls;
  to.Forget();
}

TMachineCopy::TMachineCopy(const TMachine &from, const TMachine::TSequence &sequence)
    : Programs(sequence.Programs.size()) {
  Machine.CopyFrom(from);
  std::vector<TMachine::TProgram *> programs;
  for (std::size_t k = 0; k < Programs.size(); ++k) {
    TMachine::CopyProgram(Programs[k], *sequence.Programs[k]);
    programs.push_back(&Programs[k]);
  }
  Sequence.Set(std::move(programs));
}

void TMachine::Load(TProgram &program, std::vector<TInstruction> code) {
  std::int32_t work = 0;
  for (const TInstruction &ins : code) {
    for (const TOperand &o : ins.Operands)
      if (o.Mode == 1 && o.Area == 0) work = std::max(work, o.Index + 1);
  }
  while (work > WorkCapacity) {
    if (!GrowWork()) throw std::bad_alloc();
  }
  program.Code = std::move(code);
  program.Forget();
  program.NoteWritten();
}

// The fast run: machine code or the interpreter, without testing the fault
// flags. The caller tests them and NativeBailout, and replays on either.
bool TMachine::RunFast(TProgram &p, long double &result) {
  if (!p.Native) return Run<false>(p, result);
  result = p.Native->Entry()();
  return true;
}

void TMachine::BeginRun(const std::vector<std::int32_t> &written) {
  Open.reset();
  Open = std::make_unique<TRunGuard>(*this, written, Snapshot);
  Mark = TRunMark(true);
  NativeBailout = false;
  Failed = false;
}

void TMachine::BeginProbe() {
  static const std::vector<std::int32_t> none;
  Open.reset();
  Open = std::make_unique<TRunGuard>(*this, none, Snapshot);
  Mark = TRunMark(false);
  NativeBailout = false;
  Failed = false;
}

void TMachine::Go(TProgram &p) {
  if (Failed || p.Code.empty()) return;
  if (p.StepsGeneration != StorageGeneration) PrepareSteps(p);
  long double result;
  if (p.Native) p.Native->Entry()();  // the value is not wanted: no store
  else if (!Run<false>(p, result)) Failed = true;
}

void TMachine::BeginRun(TSequence &sequence) {
  for (TProgram *p : sequence.Programs) Prepare(*p);
  BeginRun(sequence.Written);
}

void TMachine::Go(TSequence &sequence) {
  long double result;
  for (TProgram *p : sequence.Programs) {
    if (Failed) return;
    if (p->Native) p->Native->Entry()();  // the value is not wanted: no store
    else if (!p->Code.empty() && !Run<false>(*p, result)) Failed = true;
  }
}

bool TMachine::End() {
  if (!Open) return false;
  const bool clean = Mark.MetNothing(Failed || NativeBailout);
  if (!clean) Open->Undo();
  Open.reset();
  return clean;
}

bool TMachine::RunChecked(TProgram &p, long double &result) {
  ErrorMessage.clear();
  result = 0;
  if (p.Code.empty()) return true;
  Prepare(p);
  TRunGuard guard(*this, p.WrittenVariables, Snapshot);
  NativeBailout = false;
  const TRunMark mark(true);
  bool ok = RunFast(p, result);
  if (!mark.MetNothing(NativeBailout)) {
    guard.Undo();
    result = 0;
    ok = Run<true>(p, result);
  }
  return ok;
}

bool TMachine::RunChecked(TSequence &sequence, int &failed, bool carefulFirst) {
  failed = -1;
  ErrorMessage.clear();
  RanCarefully = false;
  const int count = static_cast<int>(sequence.Programs.size());
  TRunGuard guard(*this, sequence.Written, Snapshot);
  NativeBailout = false;
  const TRunMark mark(true);
  bool ok = true;
  long double result;
  for (int k = 0; k < count && ok && !carefulFirst; ++k) {
    TProgram &p = *sequence.Programs[static_cast<std::size_t>(k)];
    if (p.Code.empty()) continue;
    Prepare(p);
    ok = RunFast(p, result);
    if (!ok) failed = k;
  }
  if (!carefulFirst && mark.MetNothing(NativeBailout)) return ok;

  // Some program raised a fault flag: undo the whole run and run the
  // programs one by one, each testing after every instruction: what a checked
  // run per program would do once its own fast run had found the fault.
  guard.Undo();
  RanCarefully = true;
  for (int k = 0; k < count; ++k) {
    TProgram &p = *sequence.Programs[static_cast<std::size_t>(k)];
    ErrorMessage.clear();
    result = 0;
    Prepare(p);
    if (!p.Code.empty() && !Run<true>(p, result)) {
      failed = k;
      return false;
    }
  }
  failed = -1;
  return true;
}

}  // namespace velmora
