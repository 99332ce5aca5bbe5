#pragma once
// The name table of one compilation: binds the names of the intermediate code
// to work registers, variables and constants.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace velmora {

class TAddressingManager {
 public:
  enum : std::uint8_t { KindWork = 0, KindVariable = 1, KindConstant = 2 };
  struct TIdentifier {
    std::string Name;
    std::uint8_t Kind = KindWork;
    std::int32_t Value = 0;
  };

  explicit TAddressingManager(std::int32_t capacity);
  // Names of the form prefix + a decimal number below the capacity (the
  // parser's temporaries: nearly every name bound) are then found by their
  // number instead of through the hash table.
  TAddressingManager(std::int32_t capacity, std::string numberedPrefix);

  std::int32_t Count = 0;
  std::vector<TIdentifier> Identifiers;  // room for the capacity; never grown
  std::string ErrorMessage;

  bool Add(const std::string &name, std::uint8_t kind, std::int32_t value);
  // Index of the first entry with this name, or -1.
  std::int32_t Search(const std::string &name);

 private:
  std::unordered_map<std::string, std::int32_t> FirstIndex;  // keeps look-ups constant time
  std::string NumberedPrefix;
  std::vector<std::int32_t> FirstNumbered;  // by number; -1 when not bound
  // The number of a prefix + number name, or -1.
  std::int32_t NumberOf(const std::string &name) const;
};

}  // namespace velmora
