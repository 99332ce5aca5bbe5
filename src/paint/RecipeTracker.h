#pragma once
// The recipe of the picture a window shows: begun before each paint, kept
// when the paint replaces the picture, and written only while the picture is
// still exactly what that paint (or the opened recipe picture) gave. Paints
// in a row from the same formulas, with nothing else touching the engine in
// between, make one recipe with a count of repeats from their first start.
#include <string>

#include "paint/RecipePaint.h"

namespace velmora {

class TRecipeTracker {
 public:
  // Before a paint of `start` with these formulas and the engine as it is now.
  // With `hashLater` no pixel is read here (a big picture takes a while): the
  // paint's own thread calls HashStart before it paints and HashPainted after.
  void BeforePaint(const TStringList &constants, const TStringList &carpet, const text::TCp932Codes &codes,
                   const TArithmeticUnit &engine, const TPicture &start, bool hashLater = false);
  void HashStart(const TPicture &start);
  void HashPainted(const TPicture &painted);
  // After the paint replaced the picture with `painted`.
  void AfterPaint(const TArithmeticUnit &engine, const TPicture &painted);
  // A picture opened with its recipe (the engine holds the recipe's start state).
  void Adopt(const TRecipe &recipe);
  // The recipe text to save with `picture`: "" when the picture is not exactly
  // what the recipe paints (changed since, or never painted); `notice` tells
  // of a recipe too large to write.
  std::string TextFor(const TPicture &picture, std::string &notice) const;
  // How many paints in a row the current recipe holds (0: none).
  long long Repeats() const { return Has ? Current.Repeats : 0; }

 private:
  bool Has = false;
  TRecipe Current;
  // The engine's state after the last paint, for telling whether the next
  // paint continues it.
  bool EndKnown = false;
  std::vector<TRecipeVariable> EndVariables;
  std::uint64_t EndRandom = 0;
  // The paint under way: the recipe it begins, whether its formulas and
  // state continue the current one, its start state, and the hashes.
  TRecipe Fresh, LastState;
  bool MayContinue = false;
  bool StartHashed = false, StartWhite = false, PaintedHashed = false;
  std::string StartHash, PaintedHash;
};

}  // namespace velmora
