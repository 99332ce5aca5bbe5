#include "ui/PictureHistory.h"

#include <algorithm>
#include <new>
#include <unordered_set>
#include <utility>

#include "engine/Random.h"

namespace velmora {

TEngineState TEngineState::Of(const TArithmeticUnit &engine) {
  TEngineState state;
  state.Variables.assign(engine.Variables.begin(), engine.Variables.begin() + engine.VariableCount);
  state.RandomState = RandomGenerator().State;
  return state;
}

void TEngineState::RestoreTo(TArithmeticUnit &engine) const {
  // Variables are made one after the other, so making them again in their
  // order gives each its old place; the compiled formulas are made anew by
  // the next paint anyway.
  engine.ClearVariables();
  for (const TVariable &v : Variables) {
    long double *value = engine.GetVariablePointer(v.Name, true);
    if (!value) throw std::bad_alloc();
    *value = v.Value;
  }
  RandomGenerator().State = RandomState;
}

namespace {

bool SamePixels(const TPicture &a, const TPicture &b) {
  return a.Width == b.Width && a.Height == b.Height && a.Pixels == b.Pixels;
}

std::size_t PictureBytes(const TPicture &p) { return p.Pixels.size() * sizeof(std::uint32_t); }

}  // namespace

void TPictureHistory::Keep(std::deque<TPictureState> &stack, TPicture picture, TEngineState engine) {
  TPictureState state;
  // A step that left the picture as it was keeps no second copy of it.
  if (!stack.empty() && SamePixels(*stack.back().Picture, picture)) state.Picture = stack.back().Picture;
  else state.Picture = std::make_shared<TPicture>(std::move(picture));
  state.Engine = std::move(engine);
  stack.push_back(std::move(state));
}

void TPictureHistory::Push(TPicture before, TEngineState engine) {
  Redos.clear();
  Keep(Undos, std::move(before), std::move(engine));
  Trim();
}

bool TPictureHistory::Step(std::deque<TPictureState> &from, std::deque<TPictureState> &to, TPicture &picture,
                           TEngineState &engine) {
  if (from.empty()) return false;
  TPictureState target = std::move(from.back());
  from.pop_back();
  Keep(to, std::move(picture), std::move(engine));
  // The last holder of a picture gives it away; a shared one is copied.
  if (target.Picture.use_count() == 1) picture = std::move(*target.Picture);
  else picture = *target.Picture;
  engine = std::move(target.Engine);
  Trim();
  return true;
}

void TPictureHistory::Clear() {
  Undos.clear();
  Redos.clear();
}

std::size_t TPictureHistory::Bytes() const {
  std::unordered_set<const TPicture *> seen;
  std::size_t bytes = 0;
  for (const auto *stack : {&Undos, &Redos})
    for (const TPictureState &s : *stack)
      if (seen.insert(s.Picture.get()).second) bytes += PictureBytes(*s.Picture);
  return bytes;
}

std::size_t TPictureHistory::Buffers() const {
  std::unordered_set<const TPicture *> seen;
  for (const auto *stack : {&Undos, &Redos})
    for (const TPictureState &s : *stack) seen.insert(s.Picture.get());
  return seen.size();
}

void TPictureHistory::Trim() {
  // The oldest steps go first, then the farthest redo; the newest step stays
  // whatever its size.
  while (Undos.size() + Redos.size() > 1 && (Undos.size() + Redos.size() > MaxSteps || Bytes() > Limit)) {
    if (Undos.size() > 1 || Redos.empty()) Undos.pop_front();
    else Redos.pop_front();
  }
}

}  // namespace velmora
