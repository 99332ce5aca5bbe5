#include "engine/AddressingManager.h"

#include <new>

namespace velmora {

TAddressingManager::TAddressingManager(std::int32_t capacity) {
  Identifiers.resize(static_cast<std::size_t>(capacity > 0 ? capacity : 0));
  FirstIndex.reserve(Identifiers.size());  // no rehashing while a long line binds its names
}

std::int32_t TAddressingManager::Search(const std::string &name) {
  ErrorMessage.clear();
  const auto it = FirstIndex.find(name);
  return it == FirstIndex.end() ? -1 : it->second;
}

bool TAddressingManager::Add(const std::string &name, std::uint8_t kind, std::int32_t value) {
  ErrorMessage.clear();
  if (Search(name) != -1) {
    ErrorMessage = "addressing error... (that id adready exists)";
    return false;
  }
  if (static_cast<std::size_t>(Count) >= Identifiers.size()) {
    ErrorMessage = "addressing error... (no memory)";
    return false;
  }
  try {
    TIdentifier &id = Identifiers[static_cast<std::size_t>(Count)];
    id.Name = name;
    id.Kind = kind;
    id.Value = value;
    FirstIndex.emplace(name, Count);
  } catch (const std::bad_alloc &) {
    ErrorMessage = "addressing error... (no memory)";
    return false;
  }
  ++Count;
  return true;
}

}  // namespace velmora
