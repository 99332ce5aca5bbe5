#pragma once
// Intermediate code: straight-line three-address instructions whose operands are
// texts naming temporaries, constants and variables ("&name" for a place).
#include <cstdint>
#include <deque>
#include <string>

namespace velmora {

// Every opcode once: value, name. Values 1-8 and 11-15 are unused.
#define VELMORA_INTERCODES(X)                                                            \
  X(0, icDeclare) X(9, icBegin) X(10, icEnd) X(16, icAssign) X(17, icBind) X(18, icAdd)  \
  X(19, icSubtract) X(20, icMultiply) X(21, icDivide) X(22, icRemainder) X(23, icNegate) \
  X(24, icIncrement) X(25, icDecrement) X(26, icEqual) X(27, icNotEqual) X(28, icLess)   \
  X(29, icLessEqual) X(30, icGreater) X(31, icGreaterEqual) X(32, icLogicalAnd)          \
  X(33, icLogicalOr) X(34, icLogicalNot) X(35, icRandomize) X(36, icAsin) X(37, icAcos)  \
  X(38, icAtan) X(39, icAtan2) X(40, icAbs) X(41, icArg) X(42, icConj) X(43, icCos)      \
  X(44, icCosh) X(45, icExp) X(46, icImag) X(47, icLn) X(48, icLog) X(49, icLog10)       \
  X(50, icPolar) X(51, icPow) X(52, icReal) X(53, icSin) X(54, icSinh) X(55, icSqrt)     \
  X(56, icTan) X(57, icTanh) X(58, icCeil) X(59, icFloor) X(60, icMod) X(61, icRandom)   \
  X(62, icCall) X(63, icInvalid)

enum TIntercodeCode : std::uint8_t {
#define VELMORA_INTERCODE_ENUM(value, name) name = value,
  VELMORA_INTERCODES(VELMORA_INTERCODE_ENUM)
#undef VELMORA_INTERCODE_ENUM
};

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
