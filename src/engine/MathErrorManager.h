#pragma once
// Records faults of the math functions (and the executor's zero divisions and
// bad logarithm bases) while a picture is painted, so that one bad pixel does
// not stop the picture; the records are worded afterwards.
#include <cstdint>
#include <cstddef>
#include <string>
#include <vector>

namespace velmora {

class TMathErrorManager {
 public:
  struct TMathError {
    std::int32_t Position = 0;  // instruction index within the formula
    long double Arg1 = 0;
    long double Arg2 = 0;
    std::uint8_t Kind = 0;      // 0 domain .. 4 total loss, 5 zero division, 6 other
    std::uint8_t Function = 0;  // see the function codes below and the opcode table
  };
  enum : std::uint8_t {
    KindDomain = 0, KindSingularity = 1, KindOverflow = 2, KindUnderflow = 3,
    KindTotalLoss = 4, KindZeroDivision = 5, KindOther = 6
  };
  enum : std::uint8_t { FunctionRandom = 16, FunctionZeroDivision = 20, FunctionLogBase = 21, FunctionUnknown = 22 };

  TMathErrorManager();

  std::int32_t Capacity = 0;
  bool Collecting = false;
  std::vector<TMathError> Errors;
  const std::int32_t *PositionPointer = nullptr;
  const long double *Arg1Pointer = nullptr;
  const long double *Arg2Pointer = nullptr;
  const long double DomainValue = 0;
  const long double SingularityValue = 0;
  const long double OverflowValue;
  const long double UnderflowValue;
  const long double TotalLossValue = 0;
  const long double ZeroDivisionValue;
  std::int32_t Count = 0;
  // Every fault added, kept or dropped: a run that added one met a fault.
  std::uint64_t Faults = 0;
  // Records beyond this many are dropped: a report shows the first thousand,
  // and a fault in every pixel of a big picture would otherwise take gigabytes.
  std::int32_t Limit = 10000;

  bool Add(std::uint8_t kind, std::uint8_t function);
  bool Grow(std::int32_t factor);
  // Appends records taken from another manager, in their order.
  bool AddRecords(const TMathError *records, std::int32_t count);
  void Clear() { Count = 0; }

  // Appends one line per record ("(3)domain error: sqrt(-1)"), at most `limit`
  // of them, and empties the records.
  void AppendReport(std::vector<std::string> &lines, std::size_t limit = SIZE_MAX);

  // How a message box is shown; the program installs its own. The default
  // writes to standard error.
  using TAlert = void (*)(const std::string &text, const std::string &caption);
  static TAlert Alert;
};

// The manager the calling thread records into: the one of the process,
// unless the thread has put its own in place (a painting thread does, so that
// each records only its own pixels).
TMathErrorManager &MathErrorManager();

// Makes `manager` the calling thread's manager for the scope's life.
class TThreadMathErrors {
 public:
  explicit TThreadMathErrors(TMathErrorManager &manager);
  ~TThreadMathErrors();
  TThreadMathErrors(const TThreadMathErrors &) = delete;
  TThreadMathErrors &operator=(const TThreadMathErrors &) = delete;

 private:
  TMathErrorManager *Previous;
};

// A fault as the math library describes it: kind 1 domain, 2 singularity,
// 3 overflow, 4 underflow, 5 total loss, 6 partial loss of significance.
struct TMathFault {
  int Type = 0;
  const char *Name = "";
  long double Arg1 = 0;
  long double Arg2 = 0;
  long double Result = 0;
};

// Consulted for every fault of a checked math function: records it while the
// manager collects and supplies the substitute in Result; nonzero when handled.
int MathErrorHook(TMathFault &fault);

}  // namespace velmora
