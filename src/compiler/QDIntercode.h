#pragma once
// Intermediate code: straight-line three-address instructions whose operands are
// texts naming temporaries, constants and variables ("&name" for a place).
#include <cstdint>
#include <deque>
#include <string>

#include "compiler/Opcodes.h"

namespace velmora {

// The opcode's name ("icAdd"), or "" for an unused value.
const char *IntercodeName(std::uint8_t code);

struct TQDIntercode {
  std::uint8_t Code = icInvalid;
  std::int32_t ArgCount = 0;  // number of arguments of a call (codes 35 to 62)
  std::string Operand1;       // the receiving object for codes that produce a value
  std::string Operand2;
  std::string Operand3;
  std::string Operand4;  // no opcode uses it
};

// Owning, growable list of instructions: 500 slots to start, doubling when full,
// always at least one slot free.
class TQDIntercodeManager {
 public:
  TQDIntercodeManager();

  std::int32_t Capacity = 0;
  std::int32_t Count = 0;
  // Grows in place block by block: a long line's code is never copied or held
  // twice while it grows.
  std::deque<TQDIntercode> Items;
  std::string ErrorMessage;

  static constexpr std::int32_t InitialCapacity = 500;

  int GetCount() const { return Count; }
  void Clear() { Count = 0; }
  // Empty with the first capacity again, the memory of a grown list given back.
  void Reset();
  bool Add(const TQDIntercode &item);
  bool Add(TQDIntercode &&item);
  TQDIntercode Get(int index);
  bool Grow(int factor);
};

}  // namespace velmora
