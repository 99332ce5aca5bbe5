#include "cli/RecipeCommands.h"

#include <sys/stat.h>

#include "cli/Output.h"
#include "document/Work.h"
#include "paint/PictureFile.h"
#include "paint/RecipePaint.h"

namespace velmora::cli {

const char *const RecipeUsage =
    "usage: velmora-cli recipe PICTURE.png -o DOC.vokt\n"
    "  Writes the document whose recipe the picture carries (formulas and picture size).\n";

const char *const VerifyUsage =
    "usage: velmora-cli verify PICTURE.png [--input START]\n"
    "  Paints the picture's recipe again and compares every pixel.\n"
    "  --input   the picture the paint started from, when it did not start from white\n"
    "  exit 0: 一致; 1: the first differing pixel is named; 2: no recipe, or START missing or different\n";

namespace {

struct TArgs {
  std::string Picture, Output, Input;
};

bool Parse(const std::vector<std::string> &args, const char *option, TArgs &a, std::string &problem) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &s = args[i];
    if (s == option) {
      if (i + 1 >= args.size()) return problem = std::string(option) + " needs a file name", false;
      (std::string(option) == "-o" ? a.Output : a.Input) = args[++i];
    } else if (s.size() > 1 && s[0] == '-') {
      return problem = "unknown option '" + s + "'", false;
    } else if (a.Picture.empty()) {
      a.Picture = s;
    } else {
      return problem = "unexpected argument '" + s + "'", false;
    }
  }
  if (a.Picture.empty()) return problem = "no picture given", false;
  return true;
}

bool SameFile(const std::string &a, const std::string &b) {
  struct stat sa {}, sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

int Fail(std::FILE *err, const char *command, const std::string &what, const std::string &why) {
  std::fprintf(err, "velmora-cli %s: %s%s\n", command, what.empty() ? "" : (what + ": ").c_str(), why.c_str());
  return 2;
}

}  // namespace

int RunRecipe(const std::vector<std::string> &args, std::FILE *out, std::FILE *err) {
  if (WantsHelp(args)) return PrintHelp(RecipeUsage, out, err, "recipe");
  TArgs a;
  std::string problem;
  if (!Parse(args, "-o", a, problem) || (a.Output.empty() && (problem = "no output file given (-o DOC.vokt)", true))) {
    std::fprintf(err, "velmora-cli recipe: %s\n%s", problem.c_str(), RecipeUsage);
    return 2;
  }
  if (SameFile(a.Picture, a.Output))
    return Fail(err, "recipe", a.Output, "画像と同じファイルです．別の名前を指定してください．");
  TRecipe recipe;
  TPicture picture;
  bool none = false;
  if (!LoadRecipePicture(a.Picture, recipe, picture, none, problem)) return Fail(err, "recipe", a.Picture, problem);
  TVOKT document;
  TWork work;
  work.Constants = recipe.Constants;
  work.Carpet = recipe.Carpet;
  work.Width = recipe.Width;
  work.Height = recipe.Height;
  PutWork(document, work);
  document.Codes = recipe.Codes;
  if (!document.Write(a.Output)) return Fail(err, "recipe", "", document.ErrorMessage);
  return 0;
}

int RunVerify(const std::vector<std::string> &args, std::FILE *out, std::FILE *err) {
  if (WantsHelp(args)) return PrintHelp(VerifyUsage, out, err, "verify");
  TArgs a;
  std::string problem;
  if (!Parse(args, "--input", a, problem)) {
    std::fprintf(err, "velmora-cli verify: %s\n%s", problem.c_str(), VerifyUsage);
    return 2;
  }
  TRecipe recipe;
  TPicture picture, start, painted;
  bool none = false;
  if (!LoadRecipePicture(a.Picture, recipe, picture, none, problem)) return Fail(err, "verify", a.Picture, problem);
  if (!a.Input.empty() && !LoadPicture(a.Input, start, problem)) return Fail(err, "verify", a.Input, problem);
  if (recipe.Version != ProgramVersion())
    std::fprintf(err, "velmora-cli verify: %s は版 %s で描かれました（この版は %s）．\n", a.Picture.c_str(),
                 recipe.Version.c_str(), ProgramVersion());
  TArithmeticUnit engine;
  if (!RepaintRecipe(recipe, a.Input.empty() ? nullptr : &start, engine, TPaintControl(), painted, problem))
    return Fail(err, "verify", a.Picture, problem);
  TOutputCheck output;
  int x = 0, y = 0;
  int status = 0;
  if (FirstDifference(picture, painted, x, y)) {
    std::fprintf(out, "不一致: 画素 (%d, %d) 画像 %s，描き直し %s\n", x, y, ColourText(picture.Pixel(x, y)).c_str(),
                 ColourText(painted.Pixel(x, y)).c_str());
    status = 1;
  } else if (PixelsHash(picture, problem) != recipe.PixelsHash) {
    std::fprintf(out, "不一致: 画素はレシピどおりですが，記録されたハッシュ値と違います\n");
    status = 1;
  } else {
    std::fputs("一致\n", out);
  }
  output.Flush(out);
  return output.Failed ? output.Report(err, "verify") : status;
}

}  // namespace velmora::cli
