#include "engine/MathErrorManager.h"

#include <array>
#include <cfloat>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "compiler/Opcodes.h"
#include "text/FloatFormat.h"
#include "text/AllocationFailed.h"

namespace velmora {

namespace {

constexpr std::int32_t InitialCapacity = 200;

void WriteToStandardError(const std::string &text, const std::string &caption) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

void AllocationFailed() {
  // Text and caption stand the way round the user has always seen them.
  TMathErrorManager::Alert("Error/MathErrorManager", AllocationFailedText);
}

// The library's names for its faults with their record numbers, from the opcode table.
struct TLibraryName {
  const char *Name = "";
  std::uint8_t Record = 0;
};
constexpr int LibraryNameCount = [] {
  int n = 0;
  for (int code = 0; code < OpcodeSpace; ++code) n += OpcodeInfo(code).Library[0] != '\0';
  return n;
}();
constexpr std::array<TLibraryName, LibraryNameCount> LibraryNames = [] {
  std::array<TLibraryName, LibraryNameCount> names{};
  std::size_t n = 0;
  for (int code = 0; code < OpcodeSpace; ++code) {
    const TOpcodeInfo &row = OpcodeInfo(code);
    if (row.Library[0] != '\0') names[n++] = {row.Library, static_cast<std::uint8_t>(row.Record)};
  }
  return names;
}();
static_assert(TMathErrorManager::FunctionRandom == OpcodeInfo(icRandom).Record);
static_assert(TMathErrorManager::FunctionLogBase == OpcodeInfo(icLog).Record);

}  // namespace

TMathErrorManager::TAlert TMathErrorManager::Alert = WriteToStandardError;

TMathErrorManager::TMathErrorManager()
    : OverflowValue(LDBL_MAX), UnderflowValue(LDBL_MIN), ZeroDivisionValue(LDBL_MAX) {
  try {
    Errors.resize(InitialCapacity);
    Capacity = InitialCapacity;
  } catch (const std::bad_alloc &) {
    AllocationFailed();
  }
}

namespace {
thread_local TMathErrorManager *ThreadManager = nullptr;
}

TMathErrorManager &MathErrorManager() {
  if (ThreadManager) return *ThreadManager;
  static TMathErrorManager manager;
  return manager;
}

TThreadMathErrors::TThreadMathErrors(TMathErrorManager &manager) : Previous(ThreadManager) {
  ThreadManager = &manager;
}

TThreadMathErrors::~TThreadMathErrors() { ThreadManager = Previous; }

bool TMathErrorManager::Grow(std::int32_t factor) {
  if (Capacity <= 0 || factor < 1 || Capacity > std::numeric_limits<std::int32_t>::max() / factor) {
    AllocationFailed();
    return false;
  }
  try {
    std::vector<TMathError> bigger(static_cast<std::size_t>(Capacity) * static_cast<std::size_t>(factor));
    std::memcpy(static_cast<void *>(bigger.data()), Errors.data(), sizeof(TMathError) * static_cast<std::size_t>(Count));
    Errors.swap(bigger);
    Capacity *= factor;
    return true;
  } catch (const std::bad_alloc &) {
    AllocationFailed();
    return false;
  }
}

bool TMathErrorManager::Add(std::uint8_t kind, std::uint8_t function) {
  ++Faults;
  if (Count >= Limit) return true;  // recorded as far as anyone will read
  if (Count >= Capacity && !Grow(2)) return false;
  TMathError &e = Errors[static_cast<std::size_t>(Count)];
  e.Kind = kind;
  e.Function = function;
  e.Position = PositionPointer ? *PositionPointer : 0;
  e.Arg1 = Arg1Pointer ? *Arg1Pointer : 0;
  e.Arg2 = Arg2Pointer ? *Arg2Pointer : 0;
  ++Count;
  return true;
}

bool TMathErrorManager::AddRecords(const TMathError *records, std::int32_t count) {
  for (std::int32_t i = 0; i < count && Count < Limit; ++i) {
    if (Count >= Capacity && !Grow(2)) return false;
    Errors[static_cast<std::size_t>(Count++)] = records[i];
  }
  return true;
}

void TMathErrorManager::AppendReport(std::vector<std::string> &lines, std::size_t limit) {
  for (std::int32_t i = 0; i < Count && static_cast<std::size_t>(i) < limit; ++i) {
    const TMathError &e = Errors[static_cast<std::size_t>(i)];
    std::string line = "(" + std::to_string(e.Position) + ")";
    switch (e.Kind) {
      case KindDomain: line += "domain error: "; break;
      case KindSingularity: line += "singularity: "; break;
      case KindOverflow: line += "overflow: "; break;
      case KindUnderflow: line += "underflow: "; break;
      case KindTotalLoss: line += "total loss of significance: "; break;
      case KindZeroDivision: line += "zero division"; break;
      default: line += "undefined error: "; break;
    }
    if (const TOpcodeInfo *row = RecordRow(e.Function)) {
      line += std::string(row->Formula) + "(" + text::FormatGeneral(e.Arg1);
      if (row->Shape.Arguments == 2) line += ", " + text::FormatGeneral(e.Arg2);
      line += ")";
    } else if (e.Function == FunctionUnknown) {
      line += "undefined function";
    }
    lines.push_back(std::move(line));
  }
  Count = 0;
}

int MathErrorHook(TMathFault &fault) {
  TMathErrorManager &m = MathErrorManager();
  if (!m.Collecting) return 0;
  const std::uint8_t kind = fault.Type >= 1 && fault.Type <= 5 ? static_cast<std::uint8_t>(fault.Type - 1)
                                                               : static_cast<std::uint8_t>(TMathErrorManager::KindOther);
  std::uint8_t function = TMathErrorManager::FunctionUnknown;
  for (const TLibraryName &name : LibraryNames) {
    if (std::strcmp(fault.Name, name.Name) == 0) {
      function = name.Record;
      break;
    }
  }
  m.Arg1Pointer = &fault.Arg1;
  m.Arg2Pointer = &fault.Arg2;
  const bool added = m.Add(kind, function);
  m.Arg1Pointer = m.Arg2Pointer = nullptr;
  switch (kind) {
    case TMathErrorManager::KindDomain: fault.Result = m.DomainValue; break;
    case TMathErrorManager::KindSingularity: fault.Result = m.SingularityValue; break;
    case TMathErrorManager::KindOverflow: fault.Result = m.OverflowValue; break;
    case TMathErrorManager::KindUnderflow: fault.Result = m.UnderflowValue; break;
    case TMathErrorManager::KindTotalLoss: fault.Result = m.TotalLossValue; break;
    default: return 0;
  }
  return added ? 1 : 0;
}

}  // namespace velmora
