#include "paint/PassOrder.h"

#include <algorithm>
#include <new>
#include <queue>

namespace velmora {

TPassRows PassRows(int pass, int x, int height) {
  TPassRows rows;
  const int step = PassStep(pass);
  if (!PassVisits(pass, x)) return rows;
  if (pass == 0) {
    rows.Step = step;
  } else if (x % (2 * step) == 0) {
    // The coarser passes had this column: the rows between theirs.
    rows.First = step;
    rows.Step = 2 * step;
  } else {
    rows.Step = step;
  }
  rows.Count = height > rows.First ? (height - rows.First + rows.Step - 1) / rows.Step : 0;
  return rows;
}

unsigned PassesForBlocks(int x, int size) {
  unsigned passes = 0;
  for (int pass = 0; pass < PaintPasses && PassStep(pass) >= size; ++pass)
    if (PassVisits(pass, x)) passes |= 1u << pass;
  return passes;
}

TPaintSchedule::TPaintSchedule(int width, int height, int units, bool passes) : Height(height), Passes(passes) {
  units = std::clamp(units, 1, std::max(width, 1));
  for (int pass = 0; pass < (passes ? PaintPasses : 1); ++pass) {
    for (int c = 0; c < units; ++c) {
      TPaintUnit unit;
      unit.Pass = pass;
      unit.First = static_cast<int>(static_cast<std::int64_t>(width) * c / units);
      unit.End = static_cast<int>(static_cast<std::int64_t>(width) * (c + 1) / units);
      unit.Next = FirstPixel(unit);
      Units.push_back(std::move(unit));
    }
  }
}

TPassRows TPaintSchedule::Rows(const TPaintUnit &unit, int x) const {
  if (Passes) return PassRows(unit.Pass, x, Height);
  TPassRows all;
  all.Count = Height;
  return all;
}

std::int64_t TPaintSchedule::FirstPixel(const TPaintUnit &unit) const {
  for (int x = unit.First; x < unit.End; ++x) {
    const TPassRows rows = Rows(unit, x);
    if (rows.Count > 0) return static_cast<std::int64_t>(x) * Height + rows.First;
  }
  return NoPixel;
}

TPaintUnit *TPaintSchedule::Take() {
  for (;;) {
    const std::size_t u = NextUnit.fetch_add(1);
    if (u >= Units.size()) return nullptr;
    // A unit whose pixels all come after a failure cannot change the outcome.
    if (Units[u].Next <= FirstFailure.load()) return &Units[u];
  }
}

void TPaintSchedule::Failed(std::int64_t pixel) {
  std::int64_t seen = FirstFailure.load();
  while (pixel < seen && !FirstFailure.compare_exchange_weak(seen, pixel)) {
  }
}

std::int64_t TPaintSchedule::Join(TMathErrorManager &records, bool &failed, TFailure &failure) {
  // Every pixel before the first one some unit did not get to was computed.
  const TPaintUnit *stop = nullptr;
  std::int64_t first = NoPixel;
  for (const TPaintUnit &unit : Units) {
    if (unit.Next < first) {
      first = unit.Next;
      stop = &unit;
    }
  }
  failed = stop && stop->Failed;
  if (failed) failure = stop->Failure;
  // Each unit's records are in column order already: merge them, smallest
  // pixel first, for as long as the list has room.
  struct TCursor {
    std::int64_t Pixel;
    std::size_t Unit, Index;
    bool operator>(const TCursor &other) const { return Pixel > other.Pixel; }
  };
  std::priority_queue<TCursor, std::vector<TCursor>, std::greater<TCursor>> next;
  const auto counts = [&](std::int64_t pixel) { return pixel < first || (failed && pixel == first); };
  for (std::size_t u = 0; u < Units.size(); ++u)
    if (!Units[u].Records.empty() && counts(Units[u].RecordPixels[0])) next.push({Units[u].RecordPixels[0], u, 0});
  while (!next.empty() && records.Count < records.Limit) {
    TCursor c = next.top();
    next.pop();
    const TPaintUnit &unit = Units[c.Unit];
    if (!records.AddRecords(&unit.Records[c.Index], 1)) throw std::bad_alloc();
    if (++c.Index < unit.Records.size() && counts(unit.RecordPixels[c.Index])) {
      c.Pixel = unit.RecordPixels[c.Index];
      next.push(c);
    }
  }
  return first;
}

}  // namespace velmora
