#pragma once
// What a run of compiled formulas may change, saved before a fast run so that
// the run can be taken back when it has to be done again with care: the
// variables it writes, the random generator, the count of math error records
// and the processor's fault flags. Every run interface of the engine goes
// through this one primitive.
#include <cfenv>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/MathErrorManager.h"
#include "engine/Random.h"

namespace velmora {

struct TVariable {
  std::string Name;
  long double Value = 0;
};

// The fault flags that stop a run: invalid, division by zero, overflow.
constexpr int RunFaultFlags = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

// An invalid operation, a division by zero or an overflow shows in the x87
// status word (long double arithmetic) or in MXCSR (where some library
// functions do their work). Reading both inline is much cheaper than a call
// to fetestexcept. The raised ones of RunFaultFlags, as FE_* bits.
inline int RaisedFaultFlags() {
#if defined(__x86_64__)
  unsigned short status;
  unsigned int mxcsr;
  __asm__ volatile("fnstsw %0" : "=am"(status) : : "memory");
  __asm__ volatile("stmxcsr %0" : "=m"(mxcsr) : : "memory");
  return static_cast<int>(status | mxcsr) & RunFaultFlags;
#else
  return fetestexcept(RunFaultFlags);
#endif
}
inline bool FaultFlagsRaised() { return RaisedFaultFlags() != 0; }

// Where a run started, for asking afterwards whether it met anything: a fault
// flag raised, a replay requested (the machine code met what only the
// interpreter reports, or the run failed), or, unless the run keeps its math
// error records, a record added. Every run interface, probes and the call
// memo decide by this one test.
class TRunMark {
 public:
  // `recordsKept`: the run's math error records stay, so they do not count.
  explicit TRunMark(bool recordsKept)
      : RecordsKept(recordsKept), Faults(recordsKept ? 0 : MathErrorManager().Faults) {}
  bool MetNothing(bool replayRequested) const {
    return !replayRequested && !FaultFlagsRaised() && (RecordsKept || MathErrorManager().Faults == Faults);
  }

 private:
  bool RecordsKept;
  std::uint64_t Faults;
};

class TRunSnapshot {
 public:
  // Keeps the values of the `written` variables (which must stay as they are
  // until the last Restore), the generator's state and the record count.
  void Save(const std::vector<TVariable> &variables, const std::vector<std::int32_t> &written) {
    Written = &written;
    if (Values.size() < written.size()) Values.resize(written.size());
    for (std::size_t i = 0; i < written.size(); ++i) Values[i] = variables[static_cast<std::size_t>(written[i])].Value;
    RandomState = RandomGenerator().State;
    RecordCount = MathErrorManager().Count;
  }
  // Puts back the variables, the generator and the records, and clears the
  // fault flags (also those that someone else left behind).
  void Restore(std::vector<TVariable> &variables) const {
    if (Written) {
      for (std::size_t i = 0; i < Written->size(); ++i)
        variables[static_cast<std::size_t>((*Written)[i])].Value = Values[i];
    }
    // Written only when changed: painting threads share the generator and
    // never draw from it, so they must not write it either.
    if (RandomGenerator().State != RandomState) RandomGenerator().State = RandomState;
    RestoreRecords();
    feclearexcept(RunFaultFlags);
  }
  // Keeps only the record count, for RestoreRecords.
  void SaveRecords() {
    Written = nullptr;
    RecordCount = MathErrorManager().Count;
  }
  // Takes back only the math error records added since Save.
  void RestoreRecords() const { MathErrorManager().Count = RecordCount; }

 private:
  const std::vector<std::int32_t> *Written = nullptr;
  std::vector<long double> Values;
  std::uint64_t RandomState = 0;
  std::int32_t RecordCount = 0;
};

}  // namespace velmora
