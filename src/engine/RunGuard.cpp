// The engine's run interfaces, on its machine: Calculate runs one slot and
// CalculateSlots the slots of a pixel, each as a checked run (TMachine::RunChecked).
#include <algorithm>
#include <new>

#include "engine/ArithmeticUnit.h"
#include "text/AllocationFailed.h"

namespace velmora {

namespace {
constexpr const char *OutOfMemoryText = AllocationFailedText;
}  // namespace

bool TArithmeticUnit::Fail(const char *message) {
  ErrorMessage = message;
  return false;
}

bool TArithmeticUnit::Calculate(int index, long double &result) {
  OutOfMemory = false;
  try {
    ErrorMessage.clear();
    result = 0;
    if (index < 0 || index >= ExpressionCount) return Fail("Invalid expression index is selected.");
    return Machine.RunChecked(Expressions[static_cast<std::size_t>(index)], result);
  } catch (const std::bad_alloc &) {
    OutOfMemory = true;
    ErrorMessage = OutOfMemoryText;
    result = 0;
    return false;
  }
}

bool TArithmeticUnit::CalculateSlots(int count, int &failedSlot, bool carefulFirst) {
  if (count < 0 || count > ExpressionCount) {
    failedSlot = 0;
    ErrorMessage.clear();
    RanCarefully = false;
    return Fail("Invalid expression index is selected.");
  }
  return Machine.RunChecked(Slots(count), failedSlot, carefulFirst);
}

TMachine::TSequence &TArithmeticUnit::Slots(int count) {
  count = std::clamp(count, 0, ExpressionCount);
  if (SlotSequenceCount != count) {
    std::vector<TMachine::TProgram *> programs;
    for (int k = 0; k < count; ++k) programs.push_back(&Expressions[static_cast<std::size_t>(k)]);
    SlotSequence.Set(std::move(programs));
    SlotSequenceCount = count;
  }
  return SlotSequence;
}

}  // namespace velmora
