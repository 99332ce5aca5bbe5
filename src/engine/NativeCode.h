#pragma once
// Machine code for one slot's instructions (x86-64 with the x87 unit): the
// value an instruction passes to the next stays in the floating-point
// register, which an interpreter cannot do between its handlers. Used for
// the fast run only; a run that needs to stop is replayed by the interpreter.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace velmora {

class TNativeCode {
 public:
  using TEntry = long double (*)();
  // Takes finished machine code into executable memory; null when the system
  // refuses executable memory (the interpreter then does the work).
  static std::unique_ptr<TNativeCode> Install(const std::uint8_t *code, std::size_t size);
  ~TNativeCode();
  TNativeCode(const TNativeCode &) = delete;
  TNativeCode &operator=(const TNativeCode &) = delete;

  TEntry Entry() const { return reinterpret_cast<TEntry>(Memory); }

  // Whether this build and processor can run such code at all.
  static constexpr bool Supported =
#if defined(__x86_64__) && defined(__linux__)
      true;
#else
      false;
#endif

 private:
  TNativeCode(void *memory, std::size_t size) : Memory(memory), Size(size) {}
  void *Memory;
  std::size_t Size;
};

}  // namespace velmora
