// The interpreter. It is threaded: every instruction ends with its own jump to
// the next one, which the processor predicts far better than one shared switch.
// The jump table and the cases of the plain math functions are expanded from
// the opcode table; the rest are written out below.
#include <atomic>
#include <cfenv>

#include "compiler/Opcodes.h"
#include "engine/Machine.h"
#include "engine/Builtins.h"
#include "engine/CheckedMath.h"
#include "engine/MathErrorManager.h"

namespace velmora {

namespace {
constexpr const char *ProcessorFault = "数式の実行中にエラーが発生しました";
}  // namespace

template <bool Careful>
bool TMachine::Run(TProgram &e, long double &result) {
  // Each case is expanded once per variant V (which operands come from the
  // register holding the previous result), so that choice costs nothing at run time.
#define A0 ((V & 1) ? acc : *p[0])
#define A1 ((V & 1) ? acc : *p[1])
#define A2 ((V & 2) ? acc : *p[2])
#define STORE(value)         \
  acc = (value);             \
  if (Careful) checked::Settle(acc); \
  if (!(V & 4)) *p[0] = acc; \
  if (faulted()) return false;
#define NEXT()                                                \
  do {                                                        \
    ++step;                                                   \
    ++ip;                                                     \
    p = step->P;                                              \
    goto *table[step->Op].load(std::memory_order_relaxed);    \
  } while (0)
#define VARIANT(code, v, ...) \
  L_##code##_##v : {            \
    constexpr int V = v;        \
    __VA_ARGS__                 \
  }                             \
  NEXT();
#define CASE2(code, ...)                                                          \
  VARIANT(code, 0, __VA_ARGS__) VARIANT(code, 1, __VA_ARGS__)                    \
  VARIANT(code, 4, __VA_ARGS__) VARIANT(code, 5, __VA_ARGS__)
#define CASE4(code, ...)                                                          \
  CASE2(code, __VA_ARGS__)                                                        \
  VARIANT(code, 2, __VA_ARGS__) VARIANT(code, 3, __VA_ARGS__)                    \
  VARIANT(code, 6, __VA_ARGS__) VARIANT(code, 7, __VA_ARGS__)
#define LABEL(code, v) table[code * 8 + v].store(&&L_##code##_##v, std::memory_order_relaxed);
#define LABELS2(code) LABEL(code, 0) LABEL(code, 1) LABEL(code, 4) LABEL(code, 5)
#define LABELS4(code) LABELS2(code) LABEL(code, 2) LABEL(code, 3) LABEL(code, 6) LABEL(code, 7)
  // The variants each shape has (see HasVariant); a case missing for one of
  // them leaves its label undefined, which does not compile.
#define LABELS_Meta(code)
#define LABELS_Logic(code)
#define LABELS_Remainder(code)
#define LABELS_Complex(code)
#define LABELS_Invalid(code)
#define LABELS_Result(code) LABEL(code, 0) LABEL(code, 1)
#define LABELS_Builtin0(code) LABEL(code, 0)
#define LABELS_Update(code) LABELS2(code)
#define LABELS_Move(code) LABELS2(code)
#define LABELS_Func1(code) LABELS2(code)
#define LABELS_Builtin1(code) LABELS2(code)
#define LABELS_Arith(code) LABELS4(code)
#define LABELS_Func2(code) LABELS4(code)
#define LABELS_Builtin2(code) LABELS4(code)
#define LABELS_OF(value, name, formula, shape, record, library, fn) LABELS_##shape(name)
  // The cases of the math library functions, from the table.
#define CASES_Func1(code, fn) CASE2(code, InstructionIndex = ip; STORE(checked::fn(A1)))
#define CASES_Func2(code, fn) CASE4(code, InstructionIndex = ip; STORE(checked::fn(A1, A2)))
#define CASES_Meta(code, fn)
#define CASES_Logic(code, fn)
#define CASES_Remainder(code, fn)
#define CASES_Complex(code, fn)
#define CASES_Invalid(code, fn)
#define CASES_Result(code, fn)
#define CASES_Update(code, fn)
#define CASES_Move(code, fn)
#define CASES_Arith(code, fn)
#define CASES_Builtin0(code, fn)
#define CASES_Builtin1(code, fn)
#define CASES_Builtin2(code, fn)
#define CASES_OF(value, name, formula, shape, record, library, fn) CASES_##shape(name, fn)

  // Jump targets by step code; filled on first use (the same values whichever
  // thread gets there first).
  static std::atomic<const void *> table[OpcodeSpace * 8];
  static std::atomic<bool> ready{false};
  if (!ready.load(std::memory_order_acquire)) {
    for (auto &entry : table) entry.store(&&L_unknown, std::memory_order_relaxed);
    VELMORA_OPCODES(LABELS_OF)
    ready.store(true, std::memory_order_release);
  }

  auto faulted = [this] {
    if (!Careful || !FaultFlagsRaised()) return false;
    feclearexcept(RunFaultFlags);
    ErrorMessage = ProcessorFault;
    return true;
  };
  const TProgram::TStep *step = e.Steps.data();
  std::int32_t ip = 0;
  long double *const *p = step->P;
  long double acc = 0;  // the value the previous instruction wrote
  goto *table[step->Op].load(std::memory_order_relaxed);

  CASE2(icIncrement, STORE(A0 + 1))
  CASE2(icDecrement, STORE(A0 - 1))
  CASE2(icAssign, acc = A1; if (!(V & 4)) *p[0] = acc;)
  CASE2(icNegate, acc = -A1; if (!(V & 4)) *p[0] = acc;)
  CASE4(icAdd, STORE(A1 + A2))
  CASE4(icSubtract, STORE(A1 - A2))
  CASE4(icMultiply, STORE(A1 * A2))
  CASE4(icDivide, {
    const long double dividend = A1, divisor = A2;
    if (divisor != 0) {
      STORE(dividend / divisor)
    } else {
      InstructionIndex = ip;
      if (builtin::ZeroDivision(MathErrorMode, acc) == builtin::TOutcome::Refused)
        return Fail(builtin::ZeroDivisionRefused);
      if (!(V & 4)) *p[0] = acc;
    }
  })
L_icRandomize_0:
  builtin::Randomize();
  NEXT();
  CASE2(icRandom, {
    if (builtin::Random(A1, acc) == builtin::TOutcome::Refused) return Fail(ProcessorFault);
    if (!(V & 4)) *p[0] = acc;
  })
  VELMORA_OPCODES(CASES_OF)
  CASE4(icLog, {
    InstructionIndex = ip;
    long double value;
    const builtin::TOutcome outcome = builtin::LogBase(A1, A2, MathErrorMode, value);
    if (outcome == builtin::TOutcome::Value) {
      STORE(value)
    } else if (outcome == builtin::TOutcome::Refused) {
      return Fail(builtin::LogBaseRefused);
    } else {
      acc = value;
      if (!(V & 4)) *p[0] = acc;
    }
  })
L_icEnd_0:
  result = *p[0];
  return true;
L_icEnd_1:
  result = acc;
  return true;
L_unknown:
  return Fail("unknown instruction code is used.");
#undef CASES_OF
#undef CASES_Builtin2
#undef CASES_Builtin1
#undef CASES_Builtin0
#undef CASES_Arith
#undef CASES_Move
#undef CASES_Update
#undef CASES_Result
#undef CASES_Invalid
#undef CASES_Complex
#undef CASES_Remainder
#undef CASES_Logic
#undef CASES_Meta
#undef CASES_Func2
#undef CASES_Func1
#undef LABELS_OF
#undef LABELS_Builtin2
#undef LABELS_Func2
#undef LABELS_Arith
#undef LABELS_Builtin1
#undef LABELS_Func1
#undef LABELS_Move
#undef LABELS_Update
#undef LABELS_Builtin0
#undef LABELS_Result
#undef LABELS_Invalid
#undef LABELS_Complex
#undef LABELS_Remainder
#undef LABELS_Logic
#undef LABELS_Meta
#undef LABELS4
#undef LABELS2
#undef LABEL
#undef VARIANT
#undef CASE4
#undef CASE2
#undef NEXT
#undef STORE
#undef A2
#undef A1
#undef A0
}

template bool TMachine::Run<false>(TProgram &e, long double &result);
template bool TMachine::Run<true>(TProgram &e, long double &result);

}  // namespace velmora
