#include "paint/RecipeTracker.h"

namespace velmora {

void TRecipeTracker::BeforePaint(const TStringList &constants, const TStringList &carpet,
                                 const text::TCp932Codes &codes, const TArithmeticUnit &engine, const TPicture &start) {
  std::string ignored;
  const bool continues = Has && EndKnown && Current.Constants == constants && Current.Carpet == carpet &&
                         SameState(engine, EndVariables, EndRandom) && PixelsHash(start, ignored) == Current.PixelsHash;
  if (continues) {
    Next = Current;
    ++Next.Repeats;
  } else {
    Next = BeginRecipe(constants, carpet, codes, engine, start);
  }
  TakeLastState(engine, Next);
}

void TRecipeTracker::AfterPaint(const TArithmeticUnit &engine, const TPicture &painted) {
  std::string error;
  Has = FinishRecipe(Next, painted, Next.Repeats, error);
  if (Has) Current = std::move(Next);
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
