// The engine's storage: the variable table (names, values, a name index) and
// the work area of temporaries (the machine's cells and work registers). Both
// grow by doubling; a move of either makes every slot work out its operands'
// places again.
#include <limits>
#include <new>

#include "engine/ArithmeticUnit.h"
#include "engine/MathErrorManager.h"
#include "text/AllocationFailed.h"

namespace velmora {

namespace {
constexpr const char *OutOfMemoryText = AllocationFailedText;
}  // namespace

bool TArithmeticUnit::GrowVariables() {
  try {
    if (VariableCapacity > std::numeric_limits<std::int32_t>::max() / 2) throw std::bad_alloc();
    std::vector<TVariable> bigger(static_cast<std::size_t>(VariableCapacity) * 2);
    for (std::int32_t i = 0; i < VariableCount; ++i)
      bigger[static_cast<std::size_t>(i)] = std::move(Variables[static_cast<std::size_t>(i)]);
    Variables.swap(bigger);
    VariableCapacity *= 2;
    Machine.Moved();
    return true;
  } catch (const std::bad_alloc &) {
    ErrorMessage = OutOfMemoryText;
    OutOfMemory = true;
    return false;
  }
}

std::int32_t TArithmeticUnit::SearchVariable(const std::string &name, bool create) {
  const auto it = VariableIndex.find(name);
  if (it != VariableIndex.end()) return it->second;
  if (!create) {
    ErrorMessage = "Variable \"" + name + "\" is not defined.";
    return -1;
  }
  if (VariableCount == VariableCapacity && !GrowVariables()) return -1;
  TVariable &v = Variables[static_cast<std::size_t>(VariableCount)];
  v.Name = name;
  v.Value = 0;
  VariableIndex.emplace(name, VariableCount);
  return VariableCount++;
}

long double *TArithmeticUnit::GetVariablePointer(const std::string &name, bool create) {
  const std::int32_t i = SearchVariable(name, create);
  return i < 0 ? nullptr : &Variables[static_cast<std::size_t>(i)].Value;
}

bool TArithmeticUnit::GetVariableValue(const std::string &name, long double &value) {
  const std::int32_t i = SearchVariable(name, false);
  if (i < 0) return false;
  value = Variables[static_cast<std::size_t>(i)].Value;
  return true;
}

void TArithmeticUnit::ClearVariables() {
  VariableCount = 0;
  VariableIndex.clear();
}

bool TArithmeticUnit::GrowWork() {
  try {
    if (!Machine.GrowWork()) throw std::bad_alloc();
    return true;
  } catch (const std::bad_alloc &) {
    ErrorMessage = OutOfMemoryText;
    OutOfMemory = true;
    return false;
  }
}

}  // namespace velmora
