#include "paint/ReusedPixels.h"

#include <cstring>
#include <new>
#include <string>

#include "engine/MathErrorManager.h"
#include "paint/PixelValues.h"

namespace velmora {

namespace {

// Row tables larger than this (64 MB) are not made: terms of y alone are then
// computed per pixel.
constexpr std::size_t MaxRowTableValues = std::size_t{1} << 22;

long double &Cell(TArithmeticUnit &engine, std::int32_t cell) {
  return engine.Variables[static_cast<std::size_t>(cell)].Value;
}

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

  TArithmeticUnit &p = shared->Prototype;
  p.MathErrorMode = true;
  p.NativeCodeEnabled = engine.NativeCodeEnabled;
  p.ReuseEnabled = false;
  // Cell k is variable k; the names cannot come from a formula.
  for (std::int32_t k = 0; k < plan.Cells; ++k) {
    if (p.SearchVariable("#" + std::to_string(k), true) != k) throw std::bad_alloc();
  }
  for (const TReusePlan::TInitial &initial : plan.Initial) Cell(p, initial.Cell) = initial.Value;
  for (int program = 0; program < 4; ++program) {
    if (cancelled()) return nullptr;
    p.InstallCode(program, std::move(plan.Code[program]));
  }

  // Faults of the terms computed here are looked for, not reported: those
  // pixels are computed again the ordinary way, which reports them.
  TMathErrorManager probe;
  TThreadMathErrors useProbe(probe);
  if (cancelled()) return nullptr;
  if (plan.Operations[TReusePlan::Once] > 0) {
    p.BeginProbe();
    p.RunRaw(TReusePlan::Once);
    if (!p.EndProbe()) return nullptr;
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
      p.RunRaw(TReusePlan::PerRow);
      sound = p.EndProbe();
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
  Engine.CopyForRunning(shared.Prototype, 4);
  Engine.MathErrorMode = true;
  Engine.Expressions[TReusePlan::PerPixel].MemoizeCalls = true;
  const TReusePlan &plan = shared.Plan;
  Inputs.X = &Cell(Engine, plan.X);
  Inputs.Y = &Cell(Engine, plan.Y);
  for (int c = 0; c < 3; ++c) {
    Inputs.OldColour[c] = plan.OldColour[c] >= 0 ? &Cell(Engine, plan.OldColour[c]) : &UnreadOldColour[c];
    if (plan.OldColour[c] >= 0) Inputs.ReadsOldColour = true;
    const TReusePlan::TPlace &place = plan.Channels[c];
    Channels[c] = place.Area == 0 ? &Engine.Work[static_cast<std::size_t>(place.Index)] : &Cell(Engine, place.Index);
  }
  RowWork = Engine.Work.data();
  for (int c = 0; c < 3; ++c)
    if (plan.ChannelChanges[c] == TReusePlan::PerPixel) PixelChannels[PixelChannelCount++] = c;
}

void TReuseRunner::BeginColumn(int px) {
  *Inputs.X = px;
  ColumnFaulted = false;
  if (ColumnWork) {
    Engine.BeginProbe();
    Engine.RunRaw(TReusePlan::PerColumn);
    ColumnFaulted = !Engine.EndProbe();
  }
  ColumnColour = 0;
  for (int c = 0; c < 3; ++c) {
    const TReusePlan::TProgram changes = Shared.Plan.ChannelChanges[c];
    if (changes == TReusePlan::Once || changes == TReusePlan::PerColumn) ColumnColour |= Channel(*Channels[c]) << (8 * c);
  }
}

bool TReuseRunner::RunBatch(const TPicture &source, int px, int py, int count, std::uint32_t *colours, int step) {
  const std::size_t n = Shared.Plan.RowCells.size();
  Engine.BeginProbe();
  for (int j = 0; j < count; ++j) {
    const int y = py + j * step;
    Inputs.Set(source, px, y);
    if (n > 0) std::memcpy(RowWork, Shared.RowTable.data() + static_cast<std::size_t>(y) * n, n * sizeof(long double));
    if (PixelWork) Engine.RunRaw(TReusePlan::PerPixel);
    std::uint32_t colour = ColumnColour | Shared.RowColours[static_cast<std::size_t>(y)];
    for (int k = 0; k < PixelChannelCount; ++k) {
      const int c = PixelChannels[k];
      colour |= Channel(*Channels[c]) << (8 * c);
    }
    colours[j] = colour;
  }
  return Engine.EndProbe();
}

}  // namespace velmora
