#pragma once
// The recipe a PNG picture carries: everything needed to paint it again, bit
// for bit. The document (constants, carpet formulas, the codes its characters
// were read from), the picture's size, the engine's state at the start of the
// paint (every variable's exact 80-bit value, the random generator), how the
// paint started (a white picture or the hash of the one it started from), how
// many paints in a row made it, and the hash of the painted pixels.
//
// It is kept as UTF-8 text, one field a line, in an international text chunk
// of the PNG file whose key is the program's name.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ArithmeticUnit.h"
#include "paint/Picture.h"
#include "text/Cp932.h"

namespace velmora {

struct TRecipeVariable {
  std::string Name;
  long double Value = 0;
};

struct TRecipe {
  std::string Version;  // the program's version that painted it
  TStringList Constants, Carpet;
  text::TCp932Codes Codes;
  int Width = 0, Height = 0;
  std::vector<TRecipeVariable> Variables;  // at the start of the first paint, in table order
  std::uint64_t RandomState = 0;
  // Variables set after the constants ran, before the first pixel (a value
  // given on the command line, an animation frame's varied variable).
  std::vector<TRecipeVariable> SetAfterConstants;
  // With several paints: the state at the start of the last one, which a
  // window that opens the picture takes, so that painting again gives it again.
  bool HasLast = false;
  std::vector<TRecipeVariable> LastVariables;
  std::uint64_t LastRandom = 0;
  std::string StartHash;  // "" : a white picture of Width x Height
  long long Repeats = 1;
  std::string PixelsHash;
};

// The PNG text key and the caps on what a recipe may hold.
constexpr const char *RecipeKey = "Velmora 2";
constexpr std::size_t MaxRecipeBytes = 4u * 1024 * 1024;
constexpr std::size_t MaxRecipeVariables = 100000;
constexpr long long MaxRecipeRepeats = 999999999;

std::string FormatRecipe(const TRecipe &recipe);
// False with a Japanese message when the text is not a sound recipe; `recipe`
// is then unchanged.
bool ParseRecipe(const std::string &text, TRecipe &recipe, std::string &error);

// The engine's state as the paint finds it, and putting it back.
void TakeStartState(const TArithmeticUnit &engine, TRecipe &recipe);
// The state at the start of the first paint, or with `last` of the last one.
bool PutStartState(const TRecipe &recipe, TArithmeticUnit &engine, bool last = false);
// Records the engine's state as that at the start of the last paint.
void TakeLastState(const TArithmeticUnit &engine, TRecipe &recipe);
// The variables set after the constants ran (for TPaintControl::AfterConstants).
void PutSetAfterConstants(const TRecipe &recipe, TArithmeticUnit &engine);

// Whether the engine's state is exactly the one recorded (variables in the
// same order, with the same bits, and the generator).
bool SameState(const TArithmeticUnit &engine, const std::vector<TRecipeVariable> &variables,
               std::uint64_t randomState);

// SHA-256 over "WxH\n" and the pixels' red, green and blue bytes, row by row
// from the top, as 64 lower-case hex digits; "" with `error` when the hash is
// not available.
std::string PixelsHash(const TPicture &picture, std::string &error);
bool AllWhite(const TPicture &picture);

// The program's version the recipes are written with.
const char *ProgramVersion();

}  // namespace velmora
