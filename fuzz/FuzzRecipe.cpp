// The recipe reader: bytes as a PNG file's recipe chunk (when they start like
// a PNG file) or as recipe text. A recipe that reads must write back to a
// text that reads to the same recipe.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "paint/PngRecipe.h"
#include "paint/Recipe.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size), error;
  if (text.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) == 0) {
    bool found = false;
    std::string inside;
    if (!velmora::ReadPngRecipeText(text, inside, found, error) || !found) return 0;
    text = inside;
  }
  velmora::TRecipe recipe, again;
  if (!velmora::ParseRecipe(text, recipe, error)) return 0;
  const std::string written = velmora::FormatRecipe(recipe);
  if (!velmora::ParseRecipe(written, again, error) || velmora::FormatRecipe(again) != written) std::abort();
  return 0;
}
