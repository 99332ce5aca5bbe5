#pragma once
// An animation: one constant of the document runs through the frames. Frame
// k of N is the paint with that variable set, after the constants have run,
// to From + (To - From) * k / N (the end left out, so that the last frame
// leads back into the first), or * k / (N - 1) when the end is included.
// Each frame starts from the picture and variables there were before the
// first frame; or, carrying on, from the frame before it.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "paint/CarpetPainter.h"
#include "paint/ConstantOverrides.h"
#include "text/Cp932.h"

namespace velmora {

struct TAnimation {
  std::string Variable;
  long double From = 0, To = 0;
  int Frames = 1;
  bool IncludeEnd = false;
  bool Carry = false;
  // The frames painted and written: First .. Last (Last < 0: to the end).
  // Carrying on, the frames before First are painted too but not written.
  int First = 0, Last = -1;
  // Set after the constants of every frame, before the frame's own value.
  TConstantOverrides Overrides;
  // The codes the document's characters were read from, for the recipes
  // frames written as PNG pictures carry.
  text::TCp932Codes Codes;

  int LastFrame() const { return Last < 0 ? Frames - 1 : Last; }
};

constexpr int MaxAnimationFrames = 100000;

// The varied variable's value in frame k.
long double FrameValue(const TAnimation &animation, int k);

// Where the frames go. Add is called in frame order from one thread (not
// the painting one); Finish once after the last frame, not when stopped.
class TFrameWriter {
 public:
  virtual ~TFrameWriter() = default;
  virtual bool Add(int frame, const TPicture &picture, std::string &error) = 0;
  // A writer whose frames carry their recipe (PNG pictures) says so; it then
  // gets each frame with its recipe text ("" when none could be made).
  virtual bool WantsRecipes() const { return false; }
  virtual bool AddWithRecipe(int frame, const TPicture &picture, [[maybe_unused]] const std::string &recipe,
                             std::string &error) {
    return Add(frame, picture, error);
  }
  // Writes what is left; when `cancel` is set before the file is in place,
  // nothing is written.
  virtual bool Finish(const std::atomic<bool> *cancel, std::string &error) = 0;
};

struct TAnimationControl {
  const std::atomic<bool> *Cancel = nullptr;
  int Threads = 0;  // as for a paint
  // Frames done (of those to paint) and the columns of the one being painted.
  std::function<void(int framesDone, int frames, int columns, int width)> Progress;
  // A frame's error lines (math errors included), as a paint gives them.
  std::function<void(int frame, const TStringList &lines)> FrameErrors;
  // The random generator's state before the first frame; null: the calling
  // thread's generator as it is.
  const std::uint64_t *RandomState = nullptr;
};

struct TAnimationResult {
  bool Written = false;    // every frame painted and written
  bool Cancelled = false;  // stopped on request
  int FailedFrame = -1;    // a frame whose paint failed (its lines went to FrameErrors)
  std::string WriteError;  // the writer failed
  int FramesWritten = 0;
};

// Paints and writes the frames. `engine` and `picture` are the state before
// the first frame; neither is changed, nor is the program's random generator:
// the frames draw from a generator of their own. Writing runs on a thread of its own
// while the next frames paint, with at most a few pictures waiting.
TAnimationResult PaintAnimation(const TArithmeticUnit &engine, const TStringList &constants,
                                const TStringList &carpet, const TPicture &picture, const TAnimation &animation,
                                TFrameWriter &writer, const TAnimationControl &control);

// The prefix that names a frame in its error lines.
std::string FramePrefix(int frame);

}  // namespace velmora
