#include "paint/RecipeTracker.h"

namespace velmora {

void TRecipeTracker::BeforePaint(const TStringList &constants, const TStringList &carpet,
                                 const text::TCp932Codes &codes, const TArithmeticUnit &engine, const TPicture &start,
                                 bool hashLater) {
  MayContinue = Has && EndKnown && Current.Constants == constants && Current.Carpet == carpet &&
                SameState(engine, EndVariables, EndRandom);
  // The size only: the start's pixels come in through HashStart.
  TPicture size;
  size.Width = start.Width;
  size.Height = start.Height;
  Fresh = BeginRecipe(constants, carpet, codes, engine, size);
  TakeLastState(engine, LastState);
  StartHashed = PaintedHashed = false;
  if (!hashLater) HashStart(start);
}

void TRecipeTracker::HashStart(const TPicture &start) {
  std::string ignored;
  StartHash = PixelsHash(start, ignored);
  StartWhite = start.Pixels.empty() || AllWhite(start);
  StartHashed = true;
}

void TRecipeTracker::HashPainted(const TPicture &painted) {
  std::string ignored;
  PaintedHash = PixelsHash(painted, ignored);
  PaintedHashed = true;
}

void TRecipeTracker::AfterPaint(const TArithmeticUnit &engine, const TPicture &painted) {
  if (!PaintedHashed) HashPainted(painted);
  TRecipe next;
  if (MayContinue && StartHashed && StartHash == Current.PixelsHash) {
    next = Current;
    ++next.Repeats;
  } else {
    next = std::move(Fresh);
    if (!StartWhite) next.StartHash = StartHash;
  }
  next.LastVariables = std::move(LastState.LastVariables);
  next.LastRandom = LastState.LastRandom;
  next.HasLast = true;
  std::string error;
  // Without the start's hash nothing says what the paint began from.
  Has = StartHashed && FinishRecipe(next, painted, next.Repeats, error, &PaintedHash);
  if (Has) Current = std::move(next);
  StartHashed = PaintedHashed = false;
  TRecipe end;
  TakeStartState(engine, end);
  EndVariables = std::move(end.Variables);
  EndRandom = end.RandomState;
  EndKnown = Has;
}

void TRecipeTracker::Adopt(const TRecipe &recipe) {
  Current = recipe;
  Has = true;
  EndKnown = false;
}

std::string TRecipeTracker::TextFor(const TPicture &picture, std::string &notice) const {
  std::string ignored;
  if (!Has || picture.Width != Current.Width || picture.Height != Current.Height ||
      PixelsHash(picture, ignored) != Current.PixelsHash)
    return {};
  return RecipeText(Current, notice);
}

}  // namespace velmora
