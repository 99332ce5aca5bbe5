#pragma once
// The machine-code translator's class (private to the engine): see
// NativeTranslator.cpp for how it works. Its register-stack bookkeeping and
// the steps every instruction is made of are in NativeStack.cpp.
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/Machine.h"
#include "engine/NativeEmitter.h"

namespace velmora {

namespace native {

// A place a value can come from: a work register or a variable.
struct TPlace {
  int Area = -1;  // 0 work register, 1 variable, -1 none (an immediate, or nothing)
  std::int32_t Index = 0;
  bool operator==(const TPlace &o) const { return Area == o.Area && Index == o.Index; }
};

inline TPlace PlaceOf(const TMachine::TOperand &o) {
  TPlace p;
  if (o.Mode == 1) p.Area = o.Area, p.Index = o.Index;
  return p;
}

// Loads an operand from memory onto the stack; 0 and 1 need no memory.
inline void LoadOperand(TEmitter &out, const TMachine::TOperand &o, const long double *p) {
  if (o.Mode != 0) out.Load(p);
  else if (o.Value == 0 && !std::signbit(o.Value)) out.Zero();
  else if (o.Value == 1) out.One();
  else out.LoadConstant(o.Value);
}

}  // namespace native

class TNativeTranslator {
 public:
  TNativeTranslator(TMachine &unit, TMachine::TProgram &e)
      : Unit(unit), E(e), N(e.Code.size()), ReadAgain(N, {false, false, false}), WrittenValueUsed(N, false) {}

  // The machine code, or null when some instruction has none.
  std::unique_ptr<TNativeCode> Translate();

 private:
  using TOperand = TMachine::TOperand;
  using TInstruction = TMachine::TInstruction;

  TMachine &Unit;
  TMachine::TProgram &E;
  const std::size_t N;
  // For each read, whether the place is read again before it is written
  // (variables: also before the next call, which empties the registers); for
  // each write, whether the value is read afterwards.
  std::vector<std::array<bool, 3>> ReadAgain;
  std::vector<bool> WrittenValueUsed;
  TEmitter Out;
  // The register stack as the translator sees it; Stack.back() is st(0).
  struct TEntry {
    native::TPlace Place;  // Area -1: a value that is not needed any more
  };
  std::vector<TEntry> Stack;
  // The instruction being translated.
  std::size_t I = 0;
  const TInstruction *Ins = nullptr;
  long double *const *P = nullptr;

  void Analyse();
  bool TranslateInstruction();
  void TranslateArithmetic(int opcode);
  void CallFunction(const void *function, int arguments);
  void CallMemoized(long double (*function)(long double));
  void CallBuiltin(long double (*function)(TMachine *, std::int32_t, long double, long double));

  // The register stack.
  int Depth(std::size_t position) const { return static_cast<int>(Stack.size() - 1 - position); }
  std::size_t Position(int depth) const { return Stack.size() - 1 - static_cast<std::size_t>(depth); }
  int Find(const native::TPlace &place) const;
  void Push(native::TPlace place = {}) { Stack.push_back({place}); }
  void Forget(const native::TPlace &place);
  void Remove(int depth);
  void Tidy(std::size_t limit);
  void Flush();
  std::size_t NextRead(const native::TPlace &place) const;

  // Steps of one instruction.
  void Fetch(int k, bool mayTake);
  void Deliver();
  void Release(int k);
  // How a division leaves its quotient (see Divide).
  enum class TDivision { WithRegister, Pop, IntoBelow };
  void Divide(TDivision form, int depth, int registers);
  void Arguments(int count);

  // What the machine code calls for the built-ins.
  static long double NativeLog(TMachine *unit, std::int32_t ip, long double baseValue, long double value);
  static long double NativeRandom(TMachine *unit, std::int32_t ip, long double v, long double unused);
  static long double NativeRandomize(TMachine *unit, std::int32_t ip, long double, long double);
  static long double NativeZeroDivision(TMachine *unit, std::int32_t ip);
};

}  // namespace velmora
