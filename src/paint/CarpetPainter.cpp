#include "paint/CarpetPainter.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "engine/MathErrorManager.h"
#include "paint/PassOrder.h"
#include "engine/SlotAnalysis.h"
#include "paint/PixelValues.h"
#include "paint/ReusedPixels.h"

namespace velmora {

namespace {

std::string ConstantsPrefix(std::size_t line) { return "定数式(" + std::to_string(line + 1) + "行目): "; }
std::string CarpetPrefix(std::size_t line) { return "絨毯の数式(" + std::to_string(line + 1) + "行目): "; }

// The variables the paint command reads and writes around the slots, on one
// machine (the engine's, or a painting thread's copy of it).
struct TPixelRunner {
  TMachine &Machine;
  TMachine::TSequence &Slots;
  TPaintVariables Names;
  TPixelInputs Inputs;
  long double *R, *G, *B;
  // Reused terms, where the plan covers the slots: tried first for every run
  // of pixels whose terms are sound.
  TReuseRunner *Reuse = nullptr;

  // `names`: the paint's variables in the engine (whose machine this is, or is a copy of).
  TPixelRunner(TMachine &machine, TMachine::TSequence &slots, const TPaintVariables &names)
      : Machine(machine), Slots(slots), Names(names), R(&Value(names.Colour[0])), G(&Value(names.Colour[1])),
        B(&Value(names.Colour[2])) {
    Inputs.X = &Value(names.X);
    Inputs.Y = &Value(names.Y);
    for (int c = 0; c < 3; ++c) Inputs.OldColour[c] = &Value(names.OldColour[c]);
    Inputs.ReadsOldColour = true;
  }
  long double &Value(std::int32_t variable) { return Machine.Cells[static_cast<std::size_t>(variable)].Value; }

  // One pixel: its inputs, the slots, its colour. False with `failed` the
  // failing slot when a slot fails.
  // `carefulFirst`: a fault is likely (the pixel before had one).
  bool Run(const TPicture &source, int px, int py, std::uint32_t &colour, int &failed, bool carefulFirst = false) {
    Inputs.Set(source, px, py);
    if (!Machine.RunChecked(Slots, failed, carefulFirst)) return false;
    colour = ColourOf(*R, *G, *B);
    return true;
  }

  void BeginColumn(int px) {
    if (Reuse) Reuse->BeginColumn(px);
  }

  // The call memos judge whether arguments repeat from their first lookups;
  // coarse passes are too sparse to show it, so the last, dense pass (three
  // quarters of the pixels) gets a trial of its own.
  int Pass = 0;
  void EnterPass(int pass) {
    if (pass == Pass) return;
    Pass = pass;
    if (pass != PaintPasses - 1) return;
    for (TMachine::TProgram *program : Slots.Programs) program->RearmMemos();
    if (Reuse) Reuse->RearmMemos();
  }

  // Pixels py, py+step, ... (count of them) of column px with one fault test
  // for all of them; false when that found one (nothing of the run is left then).
  // The math error records kept after each pixel are counted in `records`.
  bool RunBatch(const TPicture &source, int px, int py, int count, std::uint32_t *colours, int step,
                std::int32_t *records) {
    const TMathErrorManager &kept = MathErrorManager();
    if (Reuse && Reuse->Usable(py, count, step)) {
      std::fill(records, records + count, kept.Count);  // they leave none
      return Reuse->RunBatch(source, px, py, count, colours, step);
    }
    Machine.BeginRun(Slots);
    for (int j = 0; j < count; ++j) {
      Inputs.Set(source, px, py + j * step);
      Machine.Go(Slots);
      colours[j] = ColourOf(*R, *G, *B);
      records[j] = kept.Count;
    }
    return Machine.End();
  }

  // Runs a pixel again for the variable values it leaves, without adding to
  // the math error records (they were taken already).
  void Replay(const TPicture &source, std::int64_t pixel, int height) {
    const int px = static_cast<int>(pixel / height), py = static_cast<int>(pixel % height);
    Inputs.Set(source, px, py);
    TRunSnapshot records;
    records.SaveRecords();
    int failed;
    Machine.RunChecked(Slots, failed);
    records.RestoreRecords();
  }
};

// Serialises progress calls from several threads, keeping `done` rising:
// columns done, or for a paint in passes the pixels done in columns' worth.
class TProgressCounter {
 public:
  TProgressCounter(const TPaintControl &control, int width, int height)
      : Progress(control.Progress), ColumnPainted(control.ColumnPainted), PassPainted(control.PassPainted),
        Width(width), Pixels(static_cast<std::int64_t>(width) * height) {}
  // Whoever watches the columns gets each piece top to bottom, in one piece.
  bool WantsColumns() const { return ColumnPainted || PassPainted; }
  void PieceDone(const TPaintSchedule &order, const TPaintUnit &unit, int x, const TPassRows &rows,
                 const std::uint32_t *colours) {
    if (order.InPasses()) {
      if (PassPainted) PassPainted(unit.Pass, x, colours);
    } else if (ColumnPainted) {
      ColumnPainted(x, colours);
    }
    if (!Progress || rows.Count == 0) return;
    std::lock_guard<std::mutex> lock(Mutex);
    PixelsDone += rows.Count;
    const int columns = static_cast<int>(PixelsDone * Width / Pixels);
    while (Done < columns) Progress(++Done, Width);
  }

 private:
  const TPaintProgress &Progress;
  const std::function<void(int, const std::uint32_t *)> &ColumnPainted;
  const std::function<void(int, int, const std::uint32_t *)> &PassPainted;
  const int Width;
  const std::int64_t Pixels;
  std::mutex Mutex;
  std::int64_t PixelsDone = 0;
  int Done = 0;
};

bool Cancelled(const TPaintControl &control) {
  return control.Cancel && control.Cancel->load(std::memory_order_relaxed);
}

// Pixels at a time between fault tests: a test waits for the floating-point
// unit to finish, which costs as much as a short formula.
constexpr int BatchPixels = 64;

// Paints the pixels of `unit` in column order. `stop` is asked with the next
// pixel before each run of pixels. The unit keeps where it ended, how, and
// the math error records of its pixels (when the calling thread records into
// a manager of its own).
template <class TStop>
TLoopEnd PaintColumns(TPixelRunner &runner, const TPicture &source, TPicture &painted, const TPaintSchedule &order,
                      TPaintUnit &unit, const TStop &stop, TProgressCounter &progress) {
  const int height = source.Height;
  if (order.InPasses()) runner.EnterPass(unit.Pass);
  std::uint32_t colours[BatchPixels];
  std::int32_t recordsAfter[BatchPixels];
  std::vector<std::uint32_t> column(progress.WantsColumns() ? static_cast<std::size_t>(height) : 0);
  TMathErrorManager &records = MathErrorManager();
  // Faults come in patches: after one, the next runs of pixels go straight to
  // the pixel-at-a-time lane instead of being tried in one go first, more of
  // them while faults keep coming; and a pixel after a faulting one skips
  // the fast attempt that would only be undone.
  int oneByOne = 0, backOff = 4;
  bool carefulNext = false;
  for (int px = unit.First; px < unit.End; ++px) {
    if (!order.Visits(unit, px)) continue;
    const TPassRows rows = order.Rows(unit, px);
    if (rows.Count > 0) runner.BeginColumn(px);
    for (int i = 0; i < rows.Count; i += BatchPixels) {
      const int py = rows.First + i * rows.Step;
      const std::int64_t pixel = static_cast<std::int64_t>(px) * height + py;
      if (stop(pixel)) {
        unit.Next = pixel;
        return TLoopEnd::Cancelled;
      }
      const int count = std::min(BatchPixels, rows.Count - i);
      bool batched = false;
      const std::int32_t before = records.Count;
      if (oneByOne > 0) {
        --oneByOne;
      } else if ((batched = runner.RunBatch(source, px, py, count, colours, rows.Step, recordsAfter))) {
        backOff = 4;
        // A run may keep records (a math function's substitute): whose they are counts.
        for (int j = 0, from = before; j < count; from = recordsAfter[j++])
          unit.RecordPixels.insert(unit.RecordPixels.end(), static_cast<std::size_t>(recordsAfter[j] - from),
                                   pixel + j * rows.Step);
      } else {
        oneByOne = backOff;
        backOff = std::min(backOff * 2, 64);
      }
      if (!batched) {
        // Again one pixel at a time, which stops exactly where it must; each
        // record is marked with its pixel for joining in column order.
        for (int j = 0; j < count; ++j) {
          const std::int32_t had = records.Count;
          const bool ran = runner.Run(source, px, py + j * rows.Step, colours[j], unit.Failure.Slot, carefulNext);
          carefulNext = runner.Machine.RanCarefully;
          unit.RecordPixels.insert(unit.RecordPixels.end(), static_cast<std::size_t>(records.Count - had),
                                   pixel + j * rows.Step);
          if (!ran) {
            unit.Failure.Pixel = unit.Next = pixel + j * rows.Step;
            unit.Failure.Message = runner.Machine.ErrorMessage;
            unit.Failed = true;
            return TLoopEnd::Failed;
          }
        }
      }
      for (int j = 0; j < count; ++j) painted.SetPixel(px, py + j * rows.Step, colours[j]);
      if (!column.empty()) std::copy(colours, colours + count, column.begin() + i);
    }
    progress.PieceDone(order, unit, px, rows, column.data());
  }
  unit.Next = NoPixel;
  return TLoopEnd::Done;
}

TLoopEnd PaintSequentially(TPixelRunner &runner, const TPicture &source, TPicture &painted,
                           const TPaintControl &control, TFailure &failure) {
  TPaintSchedule order(source.Width, source.Height, 1, false);
  TProgressCounter progress(control, source.Width, source.Height);
  TPaintUnit &all = order.Units[0];
  const TLoopEnd end =
      PaintColumns(runner, source, painted, order, all, [&](std::int64_t) { return Cancelled(control); }, progress);
  failure = all.Failure;
  return end;
}

// Pixels that do not depend on each other, on several threads, column by
// column or coarse to fine (`passes`): runs of columns are handed out in
// order (pass after pass) to whichever thread is free; each thread has its
// own copy of the engine's machine and its own math error records, which are joined
// in column order afterwards. The caller's engine is then brought to the
// state one thread would have left by running again the last pixel that
// counts (and the failing one), which gives the same values because every
// variable a pixel reads was written by that same pixel. Reused terms
// (`reuse`, which may be null) need the same independence; they go this way
// on one thread too, since their runs leave the engine's variables unwritten.
TLoopEnd PaintInParallel(TPixelRunner &runner, int threads, const TReuseShared *reuse, bool passes,
                         const TPicture &source, TPicture &painted, const TPaintControl &control, TFailure &failure) {
  const int width = source.Width, height = source.Height;
  // Several runs of columns per thread, so that a slow part of the picture is shared.
  TPaintSchedule order(width, height, threads * 16, passes);
  TProgressCounter progress(control, width, height);

  // No run of columns can add more records than the joined list has room for.
  const std::int32_t room = std::max(0, MathErrorManager().Limit - MathErrorManager().Count);
  // An error in a painting thread (memory running out) stops the others and
  // is raised again in the caller's thread once all have ended.
  std::exception_ptr threadError;
  std::mutex threadErrorLock;
  std::atomic<bool> abandoned{false};
  auto workOnUnits = [&](TMachineCopy &copy) {
    TMathErrorManager records;
    records.Limit = room;
    TThreadMathErrors useOwnRecords(records);
    TPixelRunner own(copy.Machine, copy.Sequence, runner.Names);
    std::unique_ptr<TReuseRunner> reused = reuse ? std::make_unique<TReuseRunner>(*reuse) : nullptr;
    own.Reuse = reused.get();
    const auto stop = [&](std::int64_t pixel) {
      return Cancelled(control) || abandoned.load(std::memory_order_relaxed) || order.Beyond(pixel);
    };
    while (TPaintUnit *unit = order.Take()) {
      records.Clear();
      if (PaintColumns(own, source, painted, order, *unit, stop, progress) == TLoopEnd::Failed)
        order.Failed(unit->Failure.Pixel);
      unit->Records.assign(records.Errors.begin(), records.Errors.begin() + records.Count);
      records.Clear();
      // After a failure the units with pixels before it still count.
      if (Cancelled(control) || abandoned.load()) return;
    }
  };
  auto work = [&](TMachineCopy &copy) {
    try {
      workOnUnits(copy);
    } catch (...) {
      const std::lock_guard<std::mutex> hold(threadErrorLock);
      if (!threadError) threadError = std::current_exception();
      abandoned = true;
    }
  };

  std::vector<std::unique_ptr<TMachineCopy>> engines;
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) engines.push_back(std::make_unique<TMachineCopy>(runner.Machine, runner.Slots));
  for (int t = 1; t < threads; ++t) {
    try {
      pool.emplace_back(work, std::ref(*engines[static_cast<std::size_t>(t)]));
    } catch (const std::system_error &) {
      break;  // no room for another thread: the ones there share the chunks
    }
  }
  work(*engines[0]);
  for (std::thread &thread : pool) thread.join();
  if (threadError) std::rethrow_exception(threadError);

  // Everything before the first pixel that was not computed counts, as it
  // would have on one thread going column by column.
  bool failed = false;
  const std::int64_t stopped = order.Join(MathErrorManager(), failed, failure);
  if (failed) {
    if (failure.Pixel > 0) runner.Replay(source, failure.Pixel - 1, height);
    runner.Replay(source, failure.Pixel, height);
    return TLoopEnd::Failed;
  }
  if (stopped != NoPixel) {
    if (stopped > 0) runner.Replay(source, stopped - 1, height);
    return TLoopEnd::Cancelled;
  }
  runner.Replay(source, static_cast<std::int64_t>(width) * height - 1, height);
  return TLoopEnd::Done;
}

}  // namespace

namespace {

// Memory that runs out is no formula error: the paint ends as a whole.
void CheckMemory(const TQDString &scanner, const TArithmeticUnit &engine) {
  if (scanner.OutOfMemory || engine.OutOfMemory) throw std::bad_alloc();
}

// Constants: each line compiled into slot 0 and run at once.
void RunConstants(TArithmeticUnit &engine, TQDString &scanner, const TStringList &constants, TStringList &errors) {
  engine.MathErrorMode = false;
  for (std::size_t i = 0; i < constants.size(); ++i) {
    scanner.Text = constants[i];
    if (!scanner.Tokenize()) CheckMemory(scanner, engine), errors.push_back(ConstantsPrefix(i) + scanner.ErrorMessage);
    if (scanner.Tokens->empty()) continue;
    TStringList().swap(*scanner.Tokens);  // the engine scans the line again
    long double value;
    if (!engine.SetExpression(0, constants[i]) || !engine.Calculate(0, value)) {
      CheckMemory(scanner, engine);
      errors.push_back(ConstantsPrefix(i) + engine.ErrorMessage);
    }
  }
}

}  // namespace

TPaintResult PaintCarpet(TArithmeticUnit &engine, const TStringList &constants, const TStringList &carpet,
                         TPicture &picture, const TPaintProgress &progress) {
  TPaintControl control;
  control.Progress = progress;
  return PaintCarpet(engine, constants, carpet, picture, control);
}

TPaintResult PaintCarpet(TArithmeticUnit &engine, const TStringList &constants, const TStringList &carpet,
                         TPicture &picture, const TPaintControl &control) {
  TPaintResult result;
  TStringList &errors = result.ErrorLines;
  TQDString scanner;
  const int width = picture.Width, height = picture.Height;

  engine.KeepIntercode = false;  // nobody reads it after a paint; a long line's is let go early
  *engine.GetVariablePointer("ImgW", true) = width;
  *engine.GetVariablePointer("ImgH", true) = height;

  const auto checkMemory = [&] { CheckMemory(scanner, engine); };
  RunConstants(engine, scanner, constants, errors);
  if (control.AfterConstants && errors.empty()) control.AfterConstants(engine);

  // Carpet formulas: one slot each, in order; comment and blank lines take none.
  int slots = 0;
  std::vector<std::size_t> slotLines;  // the carpet line of each slot
  for (std::size_t i = 0; i < carpet.size(); ++i) {
    scanner.Text = carpet[i];
    if (!scanner.Tokenize()) checkMemory(), errors.push_back(CarpetPrefix(i) + scanner.ErrorMessage);
    if (scanner.Tokens->empty()) continue;
    TStringList().swap(*scanner.Tokens);
    if (slots >= engine.ExpressionCount) {
      errors.push_back(CarpetPrefix(i) + "絨毯の数式が多すぎます．");
      return result;
    }
    if (!engine.SetExpression(slots, carpet[i])) {
      checkMemory();
      errors.push_back(CarpetPrefix(i) + engine.ErrorMessage);
    }
    slotLines.push_back(i);
    ++slots;
  }
  if (!errors.empty()) return result;
  if (control.Prepare) control.Prepare();

  const TPaintVariables names = ResolvePaintVariables(engine);
  TPixelRunner runner(engine.Machine, engine.Slots(slots), names);

  int threads = control.Threads > 0 ? control.Threads : static_cast<int>(std::thread::hardware_concurrency());
  threads = std::clamp(threads, 1, std::max(width, 1));
  // The paint command writes these before the slots run.
  const std::vector<std::int32_t> preset = {names.X, names.Y, names.OldColour[0], names.OldColour[1],
                                            names.OldColour[2]};
  const bool independent = SlotsIndependent(engine, slots, preset);
  if (!independent) threads = 1;
  result.Threads = threads;
  // Such pixels may as well come coarse to fine: a picture to look at sooner.
  result.InPasses = independent && !control.ColumnOrder;
  // Terms that do not change from pixel to pixel are reused; that too needs
  // pixels that do not depend on each other.
  std::unique_ptr<TReuseShared> reuse;
  if (independent && engine.ReuseEnabled) reuse = PrepareReuse(engine, names, slots, height, control.Cancel);
  if (Cancelled(control)) {
    result.Cancelled = true;
    return result;
  }
  if (reuse) {
    const TReusePlan &plan = reuse->Plan;
    result.ReusedTerms = plan.Operations[TReusePlan::Once] + plan.Operations[TReusePlan::PerColumn] +
                         plan.Operations[TReusePlan::PerRow] + plan.Merged;
  }

  engine.MathErrorMode = true;
  if (control.Progress) control.Progress(0, width);
  TPicture painted = TPicture::Filled(width, height, Black);
  TFailure failure;
  const TLoopEnd end = threads > 1 || reuse || result.InPasses
                           ? PaintInParallel(runner, threads, reuse.get(), result.InPasses, picture, painted, control,
                                             failure)
                           : PaintSequentially(runner, picture, painted, control, failure);
  engine.MathErrorMode = false;
  if (end == TLoopEnd::Failed) {
    engine.ErrorMessage = failure.Message;
    errors.push_back(CarpetPrefix(slotLines[static_cast<std::size_t>(failure.Slot)]) + failure.Message);
    return result;
  }
  if (end == TLoopEnd::Cancelled) {
    result.Cancelled = true;
    return result;
  }
  picture = std::move(painted);
  result.Painted = true;

  TStringList report;
  // One line past the limit is enough to know that the report is cut.
  engine.GetMathErrors(report, MaxMathErrorLines + 1);
  if (!report.empty()) {
    errors.push_back("数学エラー...");
    if (report.size() > MaxMathErrorLines) {
      errors.insert(errors.end(), report.begin(), report.begin() + MaxMathErrorLines);
      errors.push_back("");
      errors.push_back("エラーの数が多すぎるため，切り捨てられました．");
    } else {
      errors.insert(errors.end(), report.begin(), report.end());
    }
  }
  return result;
}

}  // namespace velmora
