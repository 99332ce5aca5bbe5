#pragma once
// What the carpet formulas compute that cannot change from pixel to pixel,
// or changes only with the column or only with the row: such terms are worked
// out once per paint, once per column, or once per row (into a table), and
// the per-pixel code reads them. Within one pixel a term several slots
// compute alike is computed once.
//
// The plan is made from the slots' instructions as values: every instruction
// result is a value named by its operation and the values it reads, so a
// variable written before it is read carries the value written to it. That
// holds for slots whose pixels are independent (SlotsIndependent), which the
// plan requires. Every operation of the slots is still computed somewhere
// (none is dropped as unused): a fault in any of them must show, and when a
// reused term faults, the pixels that read it are computed the ordinary way.
#include <atomic>
#include <cstdint>
#include <vector>

#include "engine/ArithmeticUnit.h"

namespace velmora {

struct TReusePlan {
  using TInstruction = TArithmeticUnit::TInstruction;
  // The programs over the cells of a machine of their own, each ending with an end.
  enum TProgram { Once = 0, PerColumn = 1, PerRow = 2, PerPixel = 3 };
  std::vector<TInstruction> Code[4];
  std::int32_t Cells = 0;  // the cells the programs use
  std::int32_t X = -1, Y = -1;
  std::int32_t OldColour[3] = {-1, -1, -1};  // getr, getg, getb; -1 when nothing reads them
  // Cells that start with a value: the variables the slots only read, and constants.
  struct TInitial {
    std::int32_t Cell;
    long double Value;
  };
  std::vector<TInitial> Initial;
  // The cells of the row values a pixel reads, in the order of a row table's
  // entries: the per-row program writes them, and they are the per-pixel
  // program's inputs, which take the row's entries.
  std::vector<std::int32_t> RowCells;
  // Where r, g and b are after a pixel: a row value or a cell.
  struct TPlace {
    std::uint8_t Area = 1;  // 0 a row value (an entry of RowCells), 1 cell
    std::int32_t Index = -1;
  };
  TPlace Channels[3];
  // How often each changes: once (a constant), per column, per row (a row
  // value, or y itself in its cell), or per pixel.
  TProgram ChannelChanges[3] = {PerPixel, PerPixel, PerPixel};
  // Operations computed once, per column, per row and per pixel, and those
  // merged with an equal one.
  std::int32_t Operations[4] = {0, 0, 0, 0};
  std::int32_t Merged = 0;
};

// The paint's own variables, by index in the engine.
struct TPaintVariables {
  std::int32_t X, Y, OldColour[3], Colour[3];
};

// The paint's variables x, y, getr, getg, getb, r, g and b of `engine`,
// created where missing: looked up once per paint.
TPaintVariables ResolvePaintVariables(TArithmeticUnit &engine);

// The values (terms, leaves and constants) a plan holds at most. Beyond it the
// carpet is painted without reuse: a plan costs a few hundred bytes per term
// and per painting thread, and such a carpet is rarely painted more than once.
inline constexpr std::int32_t MaxPlannedValues = 1 << 17;

// Plans slots 0 .. count-1 of `engine`, which must be independent. Without
// `rows` a term of y alone counts as per pixel (no row table). False when the
// slots hold something the plan does not cover or more than MaxPlannedValues
// values (they are then run as they are), or when `cancel` is set meanwhile.
// The work is linear in the slots' instructions.
bool PlanReuse(const TArithmeticUnit &engine, int count, const TPaintVariables &names, bool rows,
               TReusePlan &plan, const std::atomic<bool> *cancel = nullptr);

}  // namespace velmora
