// The run interfaces: each runs at full speed, testing the processor's fault
// flags once at the end. If one is raised (rare: it ends the paint), the run is
// taken back with its snapshot and done again testing after every
// instruction, so that it stops exactly at the faulting instruction with
// exactly the earlier writes in place.
#include <algorithm>
#include <new>

#include "engine/ArithmeticUnit.h"
#include "engine/MathErrorManager.h"
#include "engine/RunGuard.h"
#include "text/AllocationFailed.h"

namespace velmora {

namespace {
constexpr const char *OutOfMemoryText = AllocationFailedText;
}  // namespace

bool TArithmeticUnit::Fail(const char *message) {
  ErrorMessage = message;
  return false;
}

// The fast run: machine code or the interpreter, without testing the fault
// flags. The caller tests them and NativeBailout, and replays on either.
bool TArithmeticUnit::RunFast(TExpression &e, long double &result) {
  if (!e.Native) return Run<false>(e, result);
  result = e.Native->Entry()();
  return true;
}

bool TArithmeticUnit::Calculate(int index, long double &result) {
  OutOfMemory = false;
  try {
    return CalculateGuarded(index, result);
  } catch (const std::bad_alloc &) {
    OutOfMemory = true;
    ErrorMessage = OutOfMemoryText;
    result = 0;
    return false;
  }
}

bool TArithmeticUnit::CalculateGuarded(int index, long double &result) {
  ErrorMessage.clear();
  result = 0;
  if (index < 0 || index >= ExpressionCount) return Fail("Invalid expression index is selected.");
  TExpression &e = Expressions[static_cast<std::size_t>(index)];
  if (e.Code.empty()) return true;
  if (e.StepsGeneration != StorageGeneration) PrepareSteps(e);

  TRunGuard guard(*this, e.WrittenVariables, Snapshot);
  NativeBailout = false;
  const TRunMark mark(true);
  bool ok = RunFast(e, result);
  if (!mark.MetNothing(NativeBailout)) {
    guard.Undo();
    result = 0;
    ok = Run<true>(e, result);
  }
  return ok;
}

bool TArithmeticUnit::CalculateSlots(int count, int &failedSlot, bool carefulFirst) {
  failedSlot = -1;
  ErrorMessage.clear();
  RanCarefully = false;
  if (count < 0 || count > ExpressionCount) {
    failedSlot = 0;
    return Fail("Invalid expression index is selected.");
  }
  PrepareSlotsWritten(count);
  TRunGuard guard(*this, SlotsWritten, SlotsSnapshot);
  NativeBailout = false;
  const TRunMark mark(true);
  bool ok = true;
  long double result;
  for (int k = 0; k < count && ok && !carefulFirst; ++k) {
    TExpression &e = Expressions[static_cast<std::size_t>(k)];
    if (e.Code.empty()) continue;
    if (e.StepsGeneration != StorageGeneration) PrepareSteps(e);
    ok = RunFast(e, result);
    if (!ok) failedSlot = k;
  }
  if (!carefulFirst && mark.MetNothing(NativeBailout)) return ok;

  // Some slot raised a fault flag: undo the whole pixel and run the slots one
  // by one, each testing after every instruction: what a Calculate per slot
  // would do once its own fast run had found the fault.
  guard.Undo();
  RanCarefully = true;
  for (int k = 0; k < count; ++k) {
    TExpression &e = Expressions[static_cast<std::size_t>(k)];
    ErrorMessage.clear();
    result = 0;
    if (!e.Code.empty() && e.StepsGeneration != StorageGeneration) PrepareSteps(e);
    if (!e.Code.empty() && !Run<true>(e, result)) {
      failedSlot = k;
      return false;
    }
  }
  failedSlot = -1;
  return true;
}

void TArithmeticUnit::ReplaySlots(int count) {
  TRunSnapshot records;
  records.SaveRecords();
  int failed;
  CalculateSlots(count, failed);
  records.RestoreRecords();
}

void TArithmeticUnit::BeginBatch(int count) {
  count = std::clamp(count, 0, ExpressionCount);
  PrepareSlotsWritten(count);
  for (int k = 0; k < count; ++k) {
    TExpression &e = Expressions[static_cast<std::size_t>(k)];
    if (!e.Code.empty() && e.StepsGeneration != StorageGeneration) PrepareSteps(e);
  }
  Batch.reset();
  Batch = std::make_unique<TRunGuard>(*this, SlotsWritten, SlotsSnapshot);
  Mark = TRunMark(true);
  NativeBailout = false;
  BatchFailed = false;
}

void TArithmeticUnit::RunSlotsUnchecked(int count) {
  count = std::clamp(count, 0, ExpressionCount);
  long double result;
  for (int k = 0; k < count && !BatchFailed; ++k) {
    TExpression &e = Expressions[static_cast<std::size_t>(k)];
    if (e.Native) e.Native->Entry()();  // the value is not wanted: no store
    else if (!e.Code.empty() && !Run<false>(e, result)) BatchFailed = true;
  }
}

bool TArithmeticUnit::EndBatch() {
  if (!Batch) return false;
  const bool clean = Mark.MetNothing(BatchFailed || NativeBailout);
  if (!clean) Batch->Undo();
  Batch.reset();
  return clean;
}

void TArithmeticUnit::InstallCode(int index, std::vector<TInstruction> code) {
  TExpression &e = Expressions.at(static_cast<std::size_t>(index));
  std::int32_t work = 0;
  for (const TInstruction &ins : code) {
    for (const TOperand &o : ins.Operands)
      if (o.Mode == 1 && o.Area == 0) work = std::max(work, o.Index + 1);
  }
  while (work > WorkCapacity) {
    if (!GrowWork()) throw std::bad_alloc();
  }
  e.Code = std::move(code);
  e.Source.clear();
  e.Steps.clear();
  e.StepsGeneration = 0;
  e.Native.reset();
  NoteWrittenVariables(e);
  SlotsWrittenCount = -1;
}

void TArithmeticUnit::BeginProbe() {
  static const std::vector<std::int32_t> none;
  Batch.reset();
  Batch = std::make_unique<TRunGuard>(*this, none, SlotsSnapshot);
  Mark = TRunMark(false);
  NativeBailout = false;
  BatchFailed = false;
}

void TArithmeticUnit::RunRaw(int index) {
  TExpression &e = Expressions[static_cast<std::size_t>(index)];
  if (e.Code.empty()) return;
  if (e.StepsGeneration != StorageGeneration) PrepareSteps(e);
  long double result;
  if (e.Native) e.Native->Entry()();
  else if (!Run<false>(e, result)) BatchFailed = true;
}

bool TArithmeticUnit::EndProbe() {
  if (!Batch) return false;
  const bool clean = Mark.MetNothing(BatchFailed || NativeBailout);
  if (!clean) Batch->Undo();
  Batch.reset();
  return clean;
}

}  // namespace velmora
