#pragma once
// Recipes at work: recording one around a paint, finding one in a PNG file,
// and painting it again.
#include <string>

#include "paint/CarpetPainter.h"
#include "paint/Recipe.h"

namespace velmora {

// A recipe begun before the first paint: the document, the engine's state and
// the start picture (no pixels: a white one of its size).
TRecipe BeginRecipe(const TStringList &constants, const TStringList &carpet, const text::TCp932Codes &codes,
                    const TArithmeticUnit &engine, const TPicture &start);
// Completes it with the painted picture, `repeats` paints after the start.
// False with `error` when the hash is not available. `hash`: the picture's
// hash taken already ("" when it was not available).
bool FinishRecipe(TRecipe &recipe, const TPicture &painted, long long repeats, std::string &error,
                  const std::string *hash = nullptr);
// The text a PNG file carries; "" with `notice` when the recipe is too large.
std::string RecipeText(const TRecipe &recipe, std::string &notice);

// A picture file and the recipe it carries: false with `error` when the file
// cannot be read, carries no recipe (`none` set) or a damaged one, or one that
// does not fit its picture.
bool LoadRecipePicture(const std::string &path, TRecipe &recipe, TPicture &picture, bool &none, std::string &error);
bool RecipeOfPng(const std::string &bytes, const TPicture &picture, TRecipe &recipe, bool &none, std::string &error);

// Paints the recipe again into `painted`, from a white picture or from
// `start` (which must have the recorded hash), with the recorded state put
// into `engine` first. False with `error` when the start picture is missing or
// different, or a paint did not finish.
bool RepaintRecipe(const TRecipe &recipe, const TPicture *start, TArithmeticUnit &engine, const TPaintControl &control,
                   TPicture &painted, std::string &error);

// The first pixel, row by row from the top, where two pictures of one size differ.
bool FirstDifference(const TPicture &a, const TPicture &b, int &x, int &y);
// "#rrggbb".
std::string ColourText(std::uint32_t colour);

}  // namespace velmora
