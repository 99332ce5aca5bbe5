#pragma once
// velmora-cli recipe and verify: the recipe a PNG picture carries, as a
// document, and painted again to check the picture pixel for pixel.
#include <cstdio>
#include <string>
#include <vector>

namespace velmora::cli {

extern const char *const RecipeUsage;
extern const char *const VerifyUsage;

// 0 written; 2 no recipe, a damaged one, or a file that cannot be read or written.
int RunRecipe(const std::vector<std::string> &args, std::FILE *out, std::FILE *err);
// 0 every pixel matches ("一致"); 1 a pixel differs (the first is named);
// 2 no recipe, or the start picture needed and missing or different.
int RunVerify(const std::vector<std::string> &args, std::FILE *out, std::FILE *err);

}  // namespace velmora::cli
