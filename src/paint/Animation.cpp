#include "paint/Animation.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "engine/Random.h"
#include "paint/RecipePaint.h"

namespace velmora {

long double FrameValue(const TAnimation &animation, int k) {
  const int steps = animation.IncludeEnd ? animation.Frames - 1 : animation.Frames;
  if (steps <= 0) return animation.From;
  return animation.From + (animation.To - animation.From) * k / steps;
}

std::string FramePrefix(int frame) { return "フレーム" + std::to_string(frame) + ": "; }

namespace {

// Painted frames on their way to the writer: a few at most, so that memory
// does not grow with the number of frames.
struct TQueuedFrame {
  int Frame = 0;
  TPicture Picture;
  std::string Recipe;
};

class TFrameQueue {
 public:
  static constexpr std::size_t Room = 2;

  // Waits for room; false when the writer has stopped.
  bool Push(TQueuedFrame frame) {
    std::unique_lock<std::mutex> lock(Mutex);
    Changed.wait(lock, [&] { return Frames.size() < Room || Stopped; });
    if (Stopped) return false;
    Frames.push_back(std::move(frame));
    Changed.notify_all();
    return true;
  }
  // Waits for a frame; false when there are no more.
  bool Pop(TQueuedFrame &frame) {
    std::unique_lock<std::mutex> lock(Mutex);
    Changed.wait(lock, [&] { return !Frames.empty() || Closed || Stopped; });
    if (Stopped || Frames.empty()) return false;
    frame = std::move(Frames.front());
    Frames.pop_front();
    Changed.notify_all();
    return true;
  }
  void Close() { Set(Closed); }  // no more frames come
  void Stop() { Set(Stopped); }  // nothing more is taken

 private:
  void Set(bool &flag) {
    const std::lock_guard<std::mutex> lock(Mutex);
    flag = true;
    Changed.notify_all();
  }
  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<TQueuedFrame> Frames;
  bool Closed = false, Stopped = false;
};

// The writing thread: frames from the queue to the writer, until there are
// no more or the writer fails.
void WriteFrames(TFrameQueue &queue, TFrameWriter &writer, int &written, std::string &error,
                 std::exception_ptr &exception) {
  try {
    TQueuedFrame next;
    while (queue.Pop(next)) {
      if (!writer.AddWithRecipe(next.Frame, next.Picture, next.Recipe, error)) break;
      ++written;
    }
  } catch (...) {
    exception = std::current_exception();
  }
  queue.Stop();  // a painter waiting for room learns that nothing more is taken
}

// Frame k, the `done`th of `total` to paint, painted into `frame` by `unit`.
// With `recipe`, what the frame's PNG picture carries: the state the frame
// starts from and the values set after the constants.
TPaintResult PaintFrame(TArithmeticUnit &unit, const TStringList &constants, const TStringList &carpet,
                        TPicture &frame, const TAnimation &animation, int k, int done, int total,
                        const TAnimationControl &control, std::string *recipe) {
  TPaintControl paint;
  paint.Cancel = control.Cancel;
  paint.Threads = control.Threads;
  if (control.Progress) paint.Progress = [&](int columns, int width) { control.Progress(done, total, columns, width); };
  TConstantOverrides values = animation.Overrides;
  values.push_back({animation.Variable, FrameValue(animation, k)});
  paint.AfterConstants = [&values](TArithmeticUnit &e) { ApplyConstantOverrides(e, values); };
  if (!recipe) return PaintCarpet(unit, constants, carpet, frame, paint);
  TRecipe r = BeginRecipe(constants, carpet, animation.Codes, unit, frame);
  for (const TConstantOverride &v : values) r.SetAfterConstants.push_back({v.Name, v.Value});
  TPaintResult painted = PaintCarpet(unit, constants, carpet, frame, paint);
  // Without a hash there is no recipe; the frame itself is still written.
  std::string error, notice;
  if (painted.Painted && FinishRecipe(r, frame, 1, error)) *recipe = RecipeText(r, notice);
  return painted;
}

bool Stopped(const TAnimationControl &control) {
  return control.Cancel && control.Cancel->load(std::memory_order_relaxed);
}

}  // namespace

TAnimationResult PaintAnimation(const TArithmeticUnit &engine, const TStringList &constants,
                                const TStringList &carpet, const TPicture &picture, const TAnimation &animation,
                                TFrameWriter &writer, const TAnimationControl &control) {
  TAnimationResult result;
  TFrameQueue queue;
  std::string writeError;
  std::exception_ptr writerException;
  int written = 0;
  std::thread writing([&] { WriteFrames(queue, writer, written, writeError, writerException); });

  const int first = animation.Carry ? 0 : animation.First, last = animation.LastFrame();
  const int total = last - first + 1;
  TArithmeticUnit carried;
  TPicture carriedPicture;
  if (animation.Carry) {
    carried.CopyForRunning(engine, 0);
    carriedPicture = picture;
  }
  // The frames draw from a generator of their own, so that nothing the window
  // does meanwhile (an undo puts its generator back) reaches them; each frame
  // starts from its state before the first frame too.
  TRandomGenerator frames = RandomGenerator();
  if (control.RandomState) frames.State = *control.RandomState;
  const std::uint64_t randomBefore = frames.State;
  const TThreadRandomGenerator framesDraw(frames);
  std::exception_ptr paintException;
  try {
    for (int k = first; k <= last && !Stopped(control); ++k) {
      if (!animation.Carry) frames.State = randomBefore;
      // Each frame on its own copy, unless carrying on from the one before.
      TArithmeticUnit own;
      if (!animation.Carry) own.CopyForRunning(engine, 0);
      TArithmeticUnit &unit = animation.Carry ? carried : own;
      TPicture frame = animation.Carry ? std::move(carriedPicture) : picture;
      const bool kept = k >= animation.First;
      std::string recipe;
      const TPaintResult painted = PaintFrame(unit, constants, carpet, frame, animation, k, k - first, total, control,
                                              kept && writer.WantsRecipes() ? &recipe : nullptr);
      if (painted.Cancelled) break;
      if (!painted.ErrorLines.empty() && control.FrameErrors) control.FrameErrors(k, painted.ErrorLines);
      if (!painted.Painted) {
        result.FailedFrame = k;
        break;
      }
      if (animation.Carry) carriedPicture = frame;
      if (kept && !queue.Push({k, std::move(frame), std::move(recipe)})) break;
    }
  } catch (...) {
    paintException = std::current_exception();
  }
  const bool complete = !paintException && result.FailedFrame < 0 && !Stopped(control);
  if (complete) {
    queue.Close();
  } else {
    queue.Stop();
  }
  writing.join();
  if (paintException) std::rethrow_exception(paintException);
  if (writerException) std::rethrow_exception(writerException);
  result.FramesWritten = written;
  result.WriteError = writeError;
  result.Cancelled = Stopped(control);
  if (!complete || !writeError.empty()) return result;
  if (written != last - animation.First + 1) return result;
  result.Written = writer.Finish(control.Cancel, result.WriteError);
  if (!result.Written && Stopped(control)) result.Cancelled = true;
  return result;
}

}  // namespace velmora
