#pragma once
// The painter's side of the reuse plan (engine/ReusePlan.h): the values
// computed once per paint and the row table, shared by all painting threads,
// and each thread's runner of the per-column and per-pixel programs.
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/ArithmeticUnit.h"
#include "engine/Machine.h"
#include "engine/ReusePlan.h"
#include "paint/Picture.h"
#include "paint/PixelValues.h"

namespace velmora {

struct TReuseShared {
  TReusePlan Plan;
  // The machine the plan's programs run on, its cells holding the values
  // computed once, and the programs (once, per column, per row, per pixel).
  TMachine Machine;
  TMachine::TProgram Programs[4];
  std::vector<long double> RowTable;  // per row, the values of Plan.RowCells
  // How many rows before row y had a reused term fault, for y = 0 .. height.
  std::vector<std::int32_t> FaultedRowsBefore;
  // Per row, the colour bits of the channels that change only with the row.
  std::vector<std::uint32_t> RowColours;
};

// Plans and prepares reuse for painting slots 0 .. count-1 of `engine` (whose
// pixels must be independent) into a picture `height` rows high. Null when
// the slots hold something the plan does not cover (or too much to plan), or
// a term computed once faulted: then every pixel is computed the ordinary
// way. Null too as soon as `cancel` is set: the caller looks at it again.
std::unique_ptr<TReuseShared> PrepareReuse(TArithmeticUnit &engine, const TPaintVariables &names, int count,
                                           int height, const std::atomic<bool> *cancel = nullptr);
inline std::unique_ptr<TReuseShared> PrepareReuse(TArithmeticUnit &engine, int count, int height,
                                                  const std::atomic<bool> *cancel = nullptr) {
  return PrepareReuse(engine, ResolvePaintVariables(engine), count, height, cancel);
}

// One painting thread's runs of the shared plan.
class TReuseRunner {
 public:
  explicit TReuseRunner(const TReuseShared &shared);
  // Computes the column's terms; call before the column's first pixel.
  void BeginColumn(int px);
  // Whether the terms pixels py, py+step, ... (count of them) of the column
  // read are sound.
  bool Usable(int py, int count, int step = 1) const {
    return !ColumnFaulted && Shared.FaultedRowsBefore[static_cast<std::size_t>(py + (count - 1) * step + 1)] ==
                                 Shared.FaultedRowsBefore[static_cast<std::size_t>(py)];
  }
  // The colours of those pixels; false when their own code met a fault (the
  // caller computes them the ordinary way; no math error record is left).
  bool RunBatch(const TPicture &source, int px, int py, int count, std::uint32_t *colours, int step = 1);
  void RearmMemos() {
    Column.RearmMemos();
    Pixel.RearmMemos();
  }

 private:
  const TReuseShared &Shared;
  // A copy of the shared machine, running copies of the per-column and
  // per-pixel programs; the row values are the per-pixel program's inputs.
  TMachine Machine;
  TMachine::TProgram Column, Pixel;
  TPixelInputs Inputs;
  long double UnreadOldColour[3] = {};  // where the channels nothing reads go
  long double *Channels[3];
  // The channels worked out per pixel (their shifts), and the colour bits of
  // the others for the current column (those that change once or per column).
  int PixelChannels[3], PixelChannelCount = 0;
  std::uint32_t ColumnColour = 0;
  bool ColumnWork, PixelWork;
  bool ColumnFaulted = false;
};

}  // namespace velmora
