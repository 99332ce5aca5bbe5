#pragma once
// A picture's recipe in its PNG file (paint/Recipe.h): written as one
// international text chunk ahead of the pixel data, through libpng.
#include <string>

#include "paint/Picture.h"

namespace velmora {

// The whole PNG file: 8-bit RGB pixels and the recipe text, compressed.
bool EncodePngWithRecipe(const TPicture &picture, const std::string &recipeText, std::string &bytes,
                         std::string &error);

// The recipe text of a PNG file's bytes. True with `found` false when the file
// carries none; false with `error` when the file cannot be read that far or
// its recipe is too large.
bool ReadPngRecipeText(const std::string &bytes, std::string &text, bool &found, std::string &error);

}  // namespace velmora
