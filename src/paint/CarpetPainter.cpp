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

  // Pixels py .. py+count-1 of column px with one fault test for all of them;
  // false when that found one (nothing of the run is left then).
  bool RunBatch(const TPicture &source, int px, int py, int count, std::uint32_t *colours) {
    if (Reuse && Reuse->Usable(py, count)) return Reuse->RunBatch(source, px, py, count, colours);
    Machine.BeginRun(Slots);
    for (int j = 0; j < count; ++j) {
      Inputs.Set(source, px, py + j);
      Machine.Go(Slots);
      colours[j] = ColourOf(*R, *G, *B);
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

// Serialises progress calls from several threads, keeping `done` rising.
class TProgressCounter {
 public:
  TProgressCounter(const TPaintControl &control, int width)
      : Progress(control.Progress), ColumnPainted(control.ColumnPainted), Width(width) {}
  // Whoever watches the columns gets each one top to bottom, in one piece.
  bool WantsColumns() const { return static_cast<bool>(ColumnPainted); }
  void ColumnDone(int x, const std::uint32_t *column) {
    if (ColumnPainted) ColumnPainted(x, column);
    if (!Progress) return;
    std::lock_guard<std::mutex> lock(Mutex);
    Progress(++Done, Width);
  }

 private:
  const TPaintProgress &Progress;
  const std::function<void(int, const std::uint32_t *)> &ColumnPainted;
  const int Width;
  std::mutex Mutex;
  int Done = 0;
};

bool Cancelled(const TPaintControl &control) {
  return control.Cancel && control.Cancel->load(std::memory_order_relaxed);
}

// A failure: the pixel in column order, the failing slot and why.
struct TFailure {
  std::int64_t Pixel = -1;
  int Slot = 0;
  std::string Message;
};

enum class TLoopEnd { Done, Failed, Cancelled };

// Pixels at a time between fault tests: a test waits for the floating-point
// unit to finish, which costs as much as a short formula.
constexpr int BatchPixels = 64;

// Paints columns first .. end-1 in column order. `stop` is asked before each
// run of pixels; `done` counts the pixels painted, in order.
template <class TStop>
TLoopEnd PaintColumns(TPixelRunner &runner, const TPicture &source, TPicture &painted, int first, int end,
                      const TStop &stop, TProgressCounter &progress, TFailure &failure, std::int64_t &done) {
  const int height = source.Height;
  std::uint32_t colours[BatchPixels];
  std::vector<std::uint32_t> column(progress.WantsColumns() ? static_cast<std::size_t>(height) : 0);
  // Faults come in patches: after one, the next runs of pixels go straight to
  // the pixel-at-a-time lane instead of being tried in one go first, more of
  // them while faults keep coming; and a pixel after a faulting one skips
  // the fast attempt that would only be undone.
  int oneByOne = 0, backOff = 4;
  bool carefulNext = false;
  for (int px = first; px < end; ++px) {
    runner.BeginColumn(px);
    for (int py = 0; py < height; py += BatchPixels) {
      if (stop()) return TLoopEnd::Cancelled;
      const int count = std::min(BatchPixels, height - py);
      bool batched = false;
      if (oneByOne > 0) {
        --oneByOne;
      } else if ((batched = runner.RunBatch(source, px, py, count, colours))) {
        backOff = 4;
      } else {
        oneByOne = backOff;
        backOff = std::min(backOff * 2, 64);
      }
      if (!batched) {
        // Again one pixel at a time, which stops exactly where it must.
        for (int j = 0; j < count; ++j) {
          const bool ran = runner.Run(source, px, py + j, colours[j], failure.Slot, carefulNext);
          carefulNext = runner.Machine.RanCarefully;
          if (!ran) {
            failure.Pixel = static_cast<std::int64_t>(px) * height + py + j;
            failure.Message = runner.Machine.ErrorMessage;
            for (int k = 0; k < j; ++k) painted.SetPixel(px, py + k, colours[k]);
            done += j;
            return TLoopEnd::Failed;
          }
        }
      }
      for (int j = 0; j < count; ++j) painted.SetPixel(px, py + j, colours[j]);
      if (!column.empty()) std::copy(colours, colours + count, column.begin() + py);
      done += count;
    }
    progress.ColumnDone(px, column.data());
  }
  return TLoopEnd::Done;
}

TLoopEnd PaintSequentially(TPixelRunner &runner, const TPicture &source, TPicture &painted,
                           const TPaintControl &control, TFailure &failure) {
  TProgressCounter progress(control, source.Width);
  std::int64_t done = 0;
  return PaintColumns(runner, source, painted, 0, source.Width, [&] { return Cancelled(control); }, progress, failure,
                      done);
}

// Pixels that do not depend on each other, on several threads: runs of
// columns are handed out in order to whichever thread is free; each thread
// has its own copy of the engine's machine and its own math error records, which are
// joined in column order afterwards. The caller's engine is then brought to
// the state one thread would have left by running again the last pixel that
// counts (and the failing one), which gives the same values because every
// variable a pixel reads was written by that same pixel. Reused terms
// (`reuse`, which may be null) need the same independence; they go this way
// on one thread too, since their runs leave the engine's variables unwritten.
TLoopEnd PaintInParallel(TPixelRunner &runner, int threads, const TReuseShared *reuse, const TPicture &source,
                         TPicture &painted, const TPaintControl &control, TFailure &failure) {
  const int width = source.Width, height = source.Height;
  struct TChunk {
    int First = 0, End = 0;               // columns
    std::int64_t PixelsDone = 0;          // from the chunk's first pixel on, in column order
    bool Failed = false;
    TFailure Failure;
    std::vector<TMathErrorManager::TMathError> Records;
  };
  // Several chunks per thread, so that a slow part of the picture is shared.
  const int chunkCount = std::min(width, threads * 16);
  std::vector<TChunk> chunks(static_cast<std::size_t>(chunkCount));
  for (int c = 0; c < chunkCount; ++c) {
    chunks[static_cast<std::size_t>(c)].First = static_cast<int>(static_cast<std::int64_t>(width) * c / chunkCount);
    chunks[static_cast<std::size_t>(c)].End = static_cast<int>(static_cast<std::int64_t>(width) * (c + 1) / chunkCount);
  }
  std::atomic<int> nextChunk{0};
  std::atomic<int> firstFailedChunk{chunkCount};  // chunks after a failed one need not run
  TProgressCounter progress(control, width);

  // No run of columns can add more records than the joined list has room for.
  const std::int32_t room = std::max(0, MathErrorManager().Limit - MathErrorManager().Count);
  // An error in a painting thread (memory running out) stops the others and
  // is raised again in the caller's thread once all have ended.
  std::exception_ptr threadError;
  std::mutex threadErrorLock;
  std::atomic<bool> abandoned{false};
  auto workOnChunks = [&](TMachineCopy &copy) {
    TMathErrorManager records;
    records.Limit = room;
    TThreadMathErrors useOwnRecords(records);
    TPixelRunner own(copy.Machine, copy.Sequence, runner.Names);
    std::unique_ptr<TReuseRunner> reused = reuse ? std::make_unique<TReuseRunner>(*reuse) : nullptr;
    own.Reuse = reused.get();
    for (;;) {
      const int c = nextChunk.fetch_add(1);
      if (c >= chunkCount || c > firstFailedChunk.load()) return;
      TChunk &chunk = chunks[static_cast<std::size_t>(c)];
      records.Clear();
      const auto stop = [&] {
        return Cancelled(control) || abandoned.load(std::memory_order_relaxed) ||
               c > firstFailedChunk.load(std::memory_order_relaxed);
      };
      const TLoopEnd end =
          PaintColumns(own, source, painted, chunk.First, chunk.End, stop, progress, chunk.Failure, chunk.PixelsDone);
      if (end == TLoopEnd::Failed) {
        chunk.Failed = true;
        int seen = firstFailedChunk.load();
        while (c < seen && !firstFailedChunk.compare_exchange_weak(seen, c)) {
        }
      }
      const bool stopped = end != TLoopEnd::Done;
      chunk.Records.assign(records.Errors.begin(), records.Errors.begin() + records.Count);
      records.Clear();
      if (stopped) return;
    }
  };
  auto work = [&](TMachineCopy &copy) {
    try {
      workOnChunks(copy);
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

  // Everything up to the first chunk that did not finish counts, as it would
  // have on one thread; so do that chunk's records (its pixels ran in order).
  TMathErrorManager &records = MathErrorManager();
  std::int64_t computed = 0;  // pixels done in column order
  for (const TChunk &chunk : chunks) {
    records.AddRecords(chunk.Records.data(), static_cast<std::int32_t>(chunk.Records.size()));
    computed += chunk.PixelsDone;
    if (chunk.Failed) {
      failure = chunk.Failure;
      if (failure.Pixel > 0) runner.Replay(source, failure.Pixel - 1, height);
      runner.Replay(source, failure.Pixel, height);
      return TLoopEnd::Failed;
    }
    if (chunk.PixelsDone != static_cast<std::int64_t>(chunk.End - chunk.First) * height) {
      if (computed > 0) runner.Replay(source, computed - 1, height);
      return TLoopEnd::Cancelled;
    }
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
  const TLoopEnd end = threads > 1 || reuse
                           ? PaintInParallel(runner, threads, reuse.get(), picture, painted, control, failure)
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
