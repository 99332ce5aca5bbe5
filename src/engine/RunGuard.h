#pragma once
// The machine's guard around one run (private to the engine).
#include "engine/Machine.h"
#include "engine/MathErrorManager.h"

namespace velmora {

// One run of one or more programs: switches the math error manager to
// collecting (in math error mode) until the run ends, and saves the snapshot
// that undoes it.
struct TMachine::TRunGuard {
  TMachine &Unit;
  TRunSnapshot &Saved;
  TMathErrorManager &Manager = MathErrorManager();
  const bool WasCollecting = Manager.Collecting;
  const std::int32_t *const OldPosition = Manager.PositionPointer;

  TRunGuard(TMachine &unit, const std::vector<std::int32_t> &written, TRunSnapshot &saved)
      : Unit(unit), Saved(saved) {
    if (Unit.MathErrorMode) {
      Manager.Collecting = true;
      Manager.PositionPointer = &Unit.InstructionIndex;
    }
    Saved.Save(Unit.Cells, written);
  }
  ~TRunGuard() {
    if (Unit.MathErrorMode) {
      Manager.Collecting = WasCollecting;
      Manager.PositionPointer = OldPosition;
    }
  }
  void Undo() {
    Saved.Restore(Unit.Cells);
    Unit.ErrorMessage.clear();
  }
};

}  // namespace velmora
