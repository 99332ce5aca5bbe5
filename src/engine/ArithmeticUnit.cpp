#include "engine/ArithmeticUnit.h"

#include <cstdlib>

#include "engine/MathErrorManager.h"
#include "engine/RunGuard.h"

namespace velmora {

namespace {
constexpr std::int32_t InitialCapacity = 100;
}  // namespace

TArithmeticUnit::TArithmeticUnit()
    : NativeCodeEnabled(std::getenv("VELMORA_INTERPRET") == nullptr),
      ReuseEnabled(NativeCodeEnabled && std::getenv("VELMORA_NO_REUSE") == nullptr), Expressions(800) {
  Work.assign(InitialCapacity, 0.0L);
  WorkCapacity = InitialCapacity;
  Variables.resize(InitialCapacity);
  VariableCapacity = InitialCapacity;
}

TArithmeticUnit::~TArithmeticUnit() {
  Batch.reset();
  TMathErrorManager &m = MathErrorManager();
  if (m.PositionPointer == &InstructionIndex) m.PositionPointer = nullptr;
}

void TArithmeticUnit::GetMathErrors(TStringList &list, std::size_t limit) {
  MathErrorManager().AppendReport(list, limit);
}

}  // namespace velmora
