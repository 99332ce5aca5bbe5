#include "paint/RecipePaint.h"

#include <cstdio>

#include "paint/PictureFile.h"
#include "paint/PngRecipe.h"
#include "text/LineList.h"

namespace velmora {

TRecipe BeginRecipe(const TStringList &constants, const TStringList &carpet, const text::TCp932Codes &codes,
                    const TArithmeticUnit &engine, const TPicture &start) {
  TRecipe r;
  r.Version = ProgramVersion();
  r.Constants = constants;
  r.Carpet = carpet;
  r.Codes = codes;
  r.Width = start.Width;
  r.Height = start.Height;
  TakeStartState(engine, r);
  std::string ignored;
  // A white start is recorded as such: it needs no picture to paint again.
  if (!start.Pixels.empty() && !AllWhite(start)) r.StartHash = PixelsHash(start, ignored);
  return r;
}

bool FinishRecipe(TRecipe &recipe, const TPicture &painted, long long repeats, std::string &error,
                  const std::string *hash) {
  recipe.Repeats = repeats;
  if (repeats == 1) recipe.HasLast = false;  // the last start is the first
  recipe.PixelsHash = hash ? *hash : PixelsHash(painted, error);
  // The start hash was taken when the hash was there too, or not at all.
  return !recipe.PixelsHash.empty() && (recipe.StartHash.empty() || recipe.StartHash.size() == 64);
}

std::string RecipeText(const TRecipe &recipe, std::string &notice) {
  std::string text = FormatRecipe(recipe);
  if (text.size() <= MaxRecipeBytes) return text;
  notice = "文書が大きすぎるため，画像にレシピを書き込みませんでした（" +
           std::to_string(MaxRecipeBytes / (1024 * 1024)) + " MB まで）．";
  return {};
}

bool RecipeOfPng(const std::string &bytes, const TPicture &picture, TRecipe &recipe, bool &none, std::string &error) {
  std::string text;
  bool found = false;
  none = false;
  if (!ReadPngRecipeText(bytes, text, found, error)) return false;
  if (!found) {
    none = true;
    error = "この画像にはレシピがありません．";
    return false;
  }
  TRecipe r;
  if (!ParseRecipe(text, r, error)) return false;
  if (r.Width != picture.Width || r.Height != picture.Height) {
    error = "レシピの絵の大きさ（" + std::to_string(r.Width) + "x" + std::to_string(r.Height) + "）が画像（" +
            std::to_string(picture.Width) + "x" + std::to_string(picture.Height) + "）と合いません．";
    return false;
  }
  recipe = std::move(r);
  return true;
}

bool LoadRecipePicture(const std::string &path, TRecipe &recipe, TPicture &picture, bool &none, std::string &error) {
  none = false;
  TPictureFormat format;
  if (!PictureFormatForReading(path, format, error)) return false;
  if (format != TPictureFormat::Png) {
    none = true;
    error = "レシピを持てるのは PNG 画像だけです．";
    return false;
  }
  std::string bytes;
  TPicture p;
  if (!text::ReadFileBytes(path, bytes, error, 512u * 1024 * 1024) || !DecodePicture(bytes, format, p, error))
    return false;
  if (!RecipeOfPng(bytes, p, recipe, none, error)) return false;
  picture = std::move(p);
  return true;
}

bool RepaintRecipe(const TRecipe &recipe, const TPicture *start, TArithmeticUnit &engine, const TPaintControl &control,
                   TPicture &painted, std::string &error) {
  TPicture picture;
  if (recipe.StartHash.empty()) {
    picture = TPicture::Filled(recipe.Width, recipe.Height, White);
  } else {
    if (!start) {
      error = "この画像は別の絵から描かれています．元の絵を --input で指定してください．";
      return false;
    }
    const std::string hash = PixelsHash(*start, error);
    if (hash.empty()) return false;
    if (hash != recipe.StartHash) {
      error = "元の絵がレシピに記録された絵と違います．";
      return false;
    }
    picture = *start;
  }
  if (!PutStartState(recipe, engine)) {
    error = engine.ErrorMessage;
    return false;
  }
  TPaintControl own = control;
  own.AfterConstants = [&recipe](TArithmeticUnit &e) { PutSetAfterConstants(recipe, e); };
  for (long long pass = 0; pass < recipe.Repeats; ++pass) {
    const TPaintResult result = PaintCarpet(engine, recipe.Constants, recipe.Carpet, picture, own);
    if (!result.Painted) {
      error = result.Cancelled ? "中断しました．"
                               : "描き直せませんでした" +
                                     (result.ErrorLines.empty() ? std::string("．") : "（" + result.ErrorLines[0] + "）．");
      return false;
    }
  }
  painted = std::move(picture);
  return true;
}

bool FirstDifference(const TPicture &a, const TPicture &b, int &x, int &y) {
  for (y = 0; y < a.Height; ++y)
    for (x = 0; x < a.Width; ++x)
      if (a.Pixel(x, y) != b.Pixel(x, y)) return true;
  return false;
}

std::string ColourText(std::uint32_t colour) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", RedOf(colour), GreenOf(colour), BlueOf(colour));
  return text;
}

}  // namespace velmora
