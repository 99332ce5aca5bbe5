#include "engine/ArithmeticUnit.h"

#include <cstdlib>

#include "engine/MathErrorManager.h"

namespace velmora {

namespace {
constexpr std::int32_t InitialCapacity = 100;
}  // namespace

TArithmeticUnit::TArithmeticUnit()
    : ReuseEnabled(NativeCodeEnabled && std::getenv("VELMORA_NO_REUSE") == nullptr), Expressions(800) {
  Variables.resize(InitialCapacity);
  VariableCapacity = InitialCapacity;
}

TArithmeticUnit::~TArithmeticUnit() = default;

void TArithmeticUnit::GetMathErrors(TStringList &list, std::size_t limit) {
  MathErrorManager().AppendReport(list, limit);
}

}  // namespace velmora
