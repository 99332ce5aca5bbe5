#pragma once
// TPictureHistory: what 画像's 元に戻す and やり直し go back and forth through.
// Every change of the picture first keeps the state it replaces: the picture
// and the engine's variables and random state, so that stepping back and
// painting again continues exactly from there. The history is bounded by the
// bytes of the pictures it keeps; equal neighbouring pictures share one buffer.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "engine/ArithmeticUnit.h"
#include "paint/Picture.h"

namespace velmora {

// The engine's variables (names, order and 80-bit values) and the random
// generator's state.
struct TEngineState {
  std::vector<TVariable> Variables;
  std::uint64_t RandomState = 0;

  static TEngineState Of(const TArithmeticUnit &engine);
  // Makes the engine's variables exactly these (variables made since are gone)
  // and puts the generator back.
  void RestoreTo(TArithmeticUnit &engine) const;
};

struct TPictureState {
  std::shared_ptr<TPicture> Picture;
  TEngineState Engine;
};

class TPictureHistory {
 public:
  static constexpr std::size_t DefaultLimit = std::size_t{512} << 20;
  // Tiny pictures are cheap, but each step keeps the variables too.
  static constexpr std::size_t MaxSteps = 1000;
  explicit TPictureHistory(std::size_t limitBytes = DefaultLimit) : Limit(limitBytes) {}

  // Keeps `before` as the state to go back to; what could be redone is gone.
  void Push(TPicture before, TEngineState engine);
  bool CanUndo() const { return !Undos.empty(); }
  bool CanRedo() const { return !Redos.empty(); }
  // Steps back: `current` is kept for redo; `picture` and `engine` become the
  // state before the last change. False (nothing changes) when there is none.
  bool Undo(TPicture &picture, TEngineState &engine) { return Step(Undos, Redos, picture, engine); }
  bool Redo(TPicture &picture, TEngineState &engine) { return Step(Redos, Undos, picture, engine); }
  void Clear();

  std::size_t UndoSteps() const { return Undos.size(); }
  std::size_t RedoSteps() const { return Redos.size(); }
  // The bytes of the distinct pictures kept.
  std::size_t Bytes() const;
  // How many distinct picture buffers are kept.
  std::size_t Buffers() const;

 private:
  std::size_t Limit;
  std::deque<TPictureState> Undos;  // oldest first
  std::deque<TPictureState> Redos;  // farthest first

  static void Keep(std::deque<TPictureState> &stack, TPicture picture, TEngineState engine);
  bool Step(std::deque<TPictureState> &from, std::deque<TPictureState> &to, TPicture &picture, TEngineState &engine);
  void Trim();
};

}  // namespace velmora
