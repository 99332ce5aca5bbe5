#pragma once
// The order in which a paint computes its pixels. A carpet whose pixels do
// not depend on each other is painted coarse to fine, in four passes: every
// 8th column and row, then what every 4th adds, then every 2nd, then the
// rest; every pixel belongs to exactly one pass and is computed once. Any
// other carpet is painted column by column. Either way the outcome is what
// column order gives: this file also keeps the books that make it so (which
// pixels counted, the math error records in column order).
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/MathErrorManager.h"

namespace velmora {

constexpr int PaintPasses = 4;
// The grid of pass `pass` (0 to 3): every 8th, 4th, 2nd, 1st column and row.
constexpr int PassStep(int pass) { return 8 >> pass; }

// The rows of one column that one pass computes: First, First + Step, ...,
// Count of them.
struct TPassRows {
  int First = 0, Step = 1, Count = 0;
};
// Whether pass `pass` computes anything in column x (x on its grid), and
// which rows (none when the picture is too low for the pass there).
inline bool PassVisits(int pass, int x) { return x % PassStep(pass) == 0; }
TPassRows PassRows(int pass, int x, int height);
// The passes (a bit each) whose pixels fill the blocks `size` (8, 4, 2 or 1)
// pixels a side whose left column is x, a multiple of `size`: the block at
// (x, y) shows the pixel (x, y).
unsigned PassesForBlocks(int x, int size);

// Pixels are numbered in column order: x * height + y.
constexpr std::int64_t NoPixel = INT64_MAX;

// A failure: the pixel in column order, the failing slot and why.
struct TFailure {
  std::int64_t Pixel = -1;
  int Slot = 0;
  std::string Message;
};

enum class TLoopEnd { Done, Failed, Cancelled };

// A run of columns in one pass (or all of a column's rows, in column
// order), painted by one thread in column order.
struct TPaintUnit {
  int Pass = 0;
  int First = 0, End = 0;  // columns
  std::int64_t Next = 0;   // the first pixel not computed yet (NoPixel: all done)
  bool Failed = false;     // Next failed
  TFailure Failure;
  // Its math error records, and the pixel each came from.
  std::vector<TMathErrorManager::TMathError> Records;
  std::vector<std::int64_t> RecordPixels;
};

// The units of one paint, handed out in order (pass after pass) to whichever
// thread is free, and what became of them.
class TPaintSchedule {
 public:
  // `units` runs of columns per pass; `passes` false: column order.
  TPaintSchedule(int width, int height, int units, bool passes);
  bool InPasses() const { return Passes; }
  // The rows of column x that `unit` computes, and whether it visits x.
  bool Visits(const TPaintUnit &unit, int x) const { return !Passes || PassVisits(unit.Pass, x); }
  TPassRows Rows(const TPaintUnit &unit, int x) const;
  // The next unit worth painting (one with a pixel before every failure met
  // so far), null when none is left. Any thread.
  TPaintUnit *Take();
  // A unit failed at `pixel`: pixels after it no longer count. Any thread.
  void Failed(std::int64_t pixel);
  // Whether `pixel` comes after a failure met already.
  bool Beyond(std::int64_t pixel) const { return pixel > FirstFailure.load(std::memory_order_relaxed); }

  // Once every thread has ended: the first pixel in column order that was
  // not computed, or that failed (`failed` says which; NoPixel: the paint is
  // done), and the records of the pixels before it (and of a failing one)
  // added to `records` in column order. What one thread going column by
  // column would have left.
  std::int64_t Join(TMathErrorManager &records, bool &failed, TFailure &failure);

  std::vector<TPaintUnit> Units;

 private:
  std::int64_t FirstPixel(const TPaintUnit &unit) const;
  const int Height;
  const bool Passes;
  std::atomic<std::size_t> NextUnit{0};
  std::atomic<std::int64_t> FirstFailure{NoPixel};
};

}  // namespace velmora
