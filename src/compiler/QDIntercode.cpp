#include "compiler/QDIntercode.h"
#include "text/AllocationFailed.h"

#include <limits>
#include <new>
#include <stdexcept>

namespace velmora {

namespace {
constexpr const char *OutOfMemory = AllocationFailedText;
}  // namespace

const char *IntercodeName(std::uint8_t code) { return OpcodeInfo(code).Name; }

TQDIntercodeManager::TQDIntercodeManager() {
  try {
    Items.resize(InitialCapacity);
    Capacity = InitialCapacity;
  } catch (const std::bad_alloc &) {
    ErrorMessage = OutOfMemory;
  }
}

void TQDIntercodeManager::Reset() {
  Count = 0;
  std::deque<TQDIntercode>().swap(Items);
  try {
    Items.resize(InitialCapacity);
    Capacity = InitialCapacity;
  } catch (const std::bad_alloc &) {
    Capacity = 0;  // as after a failed construction: the next Add reports it
    ErrorMessage = OutOfMemory;
  }
}

bool TQDIntercodeManager::Add(const TQDIntercode &item) { return Add(TQDIntercode(item)); }

bool TQDIntercodeManager::Add(TQDIntercode &&item) {
  ErrorMessage.clear();
  if (Count + 1 >= Capacity && !Grow(2)) {
    ErrorMessage = OutOfMemory;
    return false;
  }
  Items[static_cast<std::size_t>(Count)] = std::move(item);
  ++Count;
  return true;
}

TQDIntercode TQDIntercodeManager::Get(int index) {
  ErrorMessage.clear();
  if (index < 0 || index >= Count) {
    ErrorMessage = "index is incorrect";
    return TQDIntercode{};
  }
  return Items[static_cast<std::size_t>(index)];
}

bool TQDIntercodeManager::Grow(int factor) {
  // A manager without slots cannot grow by multiplying; a product that does not
  // fit counts as running out of memory.
  if (Capacity <= 0 || factor < 1 ||
      Capacity > std::numeric_limits<std::int32_t>::max() / factor) {
    ErrorMessage = OutOfMemory;
    return false;
  }
  try {
    Items.resize(static_cast<std::size_t>(Capacity) * static_cast<std::size_t>(factor));  // all or nothing
    Capacity *= factor;
    return true;
  } catch (const std::bad_alloc &) {
    ErrorMessage = OutOfMemory;
    return false;
  } catch (const std::length_error &) {
    ErrorMessage = OutOfMemory;
    return false;
  }
}

}  // namespace velmora
