#include "engine/AddressingManager.h"

#include <new>

namespace velmora {

TAddressingManager::TAddressingManager(std::int32_t capacity) {
  Identifiers.resize(static_cast<std::size_t>(capacity > 0 ? capacity : 0));
}

TAddressingManager::TAddressingManager(std::int32_t capacity, std::string numberedPrefix)
    : TAddressingManager(capacity) {
  NumberedPrefix = std::move(numberedPrefix);
  FirstNumbered.assign(Identifiers.size(), -1);
}

std::int32_t TAddressingManager::NumberOf(const std::string &name) const {
  const std::size_t p = NumberedPrefix.size();
  if (p == 0 || name.size() <= p || name.size() > p + 9 || name.compare(0, p, NumberedPrefix) != 0) return -1;
  if (name[p] == '0' && name.size() > p + 1) return -1;  // "__temp01" is another name than "__temp1"
  std::int32_t number = 0;
  for (std::size_t i = p; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    number = number * 10 + (name[i] - '0');
  }
  return number < static_cast<std::int32_t>(FirstNumbered.size()) ? number : -1;
}

std::int32_t TAddressingManager::Search(const std::string &name) {
  ErrorMessage.clear();
  const std::int32_t number = NumberOf(name);
  if (number >= 0) return FirstNumbered[static_cast<std::size_t>(number)];
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
    const std::int32_t number = NumberOf(name);
    if (number >= 0) FirstNumbered[static_cast<std::size_t>(number)] = Count;
    else FirstIndex.emplace(name, Count);
  } catch (const std::bad_alloc &) {
    ErrorMessage = "addressing error... (no memory)";
    return false;
  }
  ++Count;
  return true;
}

}  // namespace velmora
