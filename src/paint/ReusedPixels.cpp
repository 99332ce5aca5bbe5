#include "paint/ReusedPixels.h"

#include <new>

#include "engine/MathErrorManager.h"
#include "paint/PixelValues.h"

namespace velmora {

namespace {

// Row tables larger than this (64 MB) are not made: terms of y alone are then
// computed per pixel.
constexpr std::size_t MaxRowTableValues = std::size_t{1} << 22;

long double &Cell(TMachine &machine, std::int32_t cell) { return machine.Cells[static_cast<std::size_t>(cell)].Value; }

}  // namespace

std::unique_ptr<TReuseShared> PrepareReuse(TArithmeticUnit &engine, const TPaintVariables &names, int count,
                                           int height, const std::atomic<bool> *cancel) {
  const auto cancelled = [cancel] { return cancel && cancel->load(std::memory_order_relaxed); };
  auto shared = std::make_unique<TReuseShared>();
  TReusePlan &plan = shared->Plan;
  if (!PlanReuse(engine, count, names, true, plan, cancel)) return nullptr;
  if (plan.RowCells.size() * static_cast<std::size_t>(height) > MaxRowTableValues &&
      !PlanReuse(engine, count, names, false, plan, cancel))
    return nullptr;
  if (cancelled()) return nullptr;

  TMachine &p = shared->Machine;
  p.MathErrorMode = true;
  p.NativeCodeEnabled = engine.NativeCodeEnabled;
  p.Cells.resize(static_cast<std::size_t>(plan.Cells));
  for (const TReusePlan::TInitial &initial : plan.Initial) Cell(p, initial.Cell) = initial.Value;
  for (int program = 0; program < 4; ++program) {
    if (cancelled()) return nullptr;
    p.Load(shared->Programs[program], std::move(plan.Code[program]));
  }

  // Faults of the terms computed here are looked for, not reported: those
  // pixels are computed again the ordinary way, which reports them.
  TMathErrorManager probe;
  TThreadMathErrors useProbe(probe);
  if (cancelled()) return nullptr;
  if (plan.Operations[TReusePlan::Once] > 0) {
    p.BeginProbe();
    p.Go(shared->Programs[TReusePlan::Once]);
    if (!p.End()) return nullptr;
  }
  const std::size_t n = plan.RowCells.size();
  shared->RowTable.assign(n * static_cast<std::size_t>(height), 0.0L);
  shared->FaultedRowsBefore.assign(static_cast<std::size_t>(height) + 1, 0);
  shared->RowColours.assign(static_cast<std::size_t>(height), 0);
  const bool rowWork = plan.Operations[TReusePlan::PerRow] > 0;
  for (int y = 0; y < height; ++y) {
    if (cancelled()) return nullptr;
    bool sound = true;
    long double *row = shared->RowTable.data() + static_cast<std::size_t>(y) * n;
    if (rowWork) {
      Cell(p, plan.Y) = y;
      p.BeginProbe();
      p.Go(shared->Programs[TReusePlan::PerRow]);
      sound = p.End();
      for (std::size_t k = 0; k < n; ++k) row[k] = Cell(p, plan.RowCells[k]);
    }
    shared->FaultedRowsBefore[static_cast<std::size_t>(y) + 1] =
        shared->FaultedRowsBefore[static_cast<std::size_t>(y)] + (sound ? 0 : 1);
    for (int c = 0; c < 3; ++c) {
      if (plan.ChannelChanges[c] != TReusePlan::PerRow) continue;
      const TReusePlan::TPlace &place = plan.Channels[c];
      const long double value = place.Area == 0 ? row[place.Index] : static_cast<long double>(y);  // else y itself
      shared->RowColours[static_cast<std::size_t>(y)] |= Channel(value) << (8 * c);
    }
  }
  return shared;
}

TReuseRunner::TReuseRunner(const TReuseShared &shared)
    : Shared(shared), ColumnWork(shared.Plan.Operations[TReusePlan::PerColumn] > 0),
      PixelWork(shared.Plan.Operations[TReusePlan::PerPixel] > 0) {
  Machine.CopyFrom(shared.Machine);
  Machine.MathErrorMode = true;
  TMachine::CopyProgram(Column, shared.Programs[TReusePlan::PerColumn]);
  TMachine::CopyProgram(Pixel, shared.Programs[TReusePlan::PerPixel]);
  Pixel.MemoizeCalls = true;
  const TReusePlan &plan = shared.Plan;
  Machine.DeclareInputs(plan.RowCells);
  Inputs.X = &Cell(Machine, plan.X);
  Inputs.Y = &Cell(Machine, plan.Y);
  for (int c = 0; c < 3; ++c) {
    Inputs.OldColour[c] = plan.OldColour[c] >= 0 ? &Cell(Machine, plan.OldColour[c]) : &UnreadOldColour[c];
    if (plan.OldColour[c] >= 0) Inputs.ReadsOldColour = true;
    const TReusePlan::TPlace &place = plan.Channels[c];
    Channels[c] = &Cell(Machine, place.Area == 0 ? plan.RowCells[static_cast<std::size_t>(place.Index)] : place.Index);
  }
  for (int c = 0; c < 3; ++c)
    if (plan.ChannelChanges[c] == TReusePlan::PerPixel) PixelChannels[PixelChannelCount++] = c;
}

void TReuseRunner::BeginColumn(int px) {
  *Inputs.X = px;
  ColumnFaulted = false;
  if (ColumnWork) {
    Machine.BeginProbe();
    Machine.Go(Column);
    ColumnFaulted = !Machine.End();
  }
  ColumnColour = 0;
  for (int c = 0; c < 3; ++c) {
    const TReusePlan::TProgram changes = Shared.Plan.ChannelChanges[c];
    if (changes == TReusePlan::Once || changes == TReusePlan::PerColumn) ColumnColour |= Channel(*Channels[c]) << (8 * c);
  }
}

bool TReuseRunner::RunBatch(const TPicture &source, int px, int py, int count, std::uint32_t *colours, int step) {
  const std::size_t n = Shared.Plan.RowCells.size();
  Machine.BeginProbe();
  for (int j = 0; j < count; ++j) {
    const int y = py + j * step;
    Inputs.Set(source, px, y);
    if (n > 0) Machine.SetInputs(Shared.RowTable.data() + static_cast<std::size_t>(y) * n);
    if (PixelWork) Machine.Go(Pixel);
    std::uint32_t colour = ColumnColour | Shared.RowColours[static_cast<std::size_t>(y)];
    for (int k = 0; k < PixelChannelCount; ++k) {
      const int c = PixelChannels[k];
      colour |= Channel(*Channels[c]) << (8 * c);
    }
    colours[j] = colour;
  }
  return Machine.End();
}

}  // namespace velmora
