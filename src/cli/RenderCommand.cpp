#include "cli/RenderCommand.h"

#include <cmath>

#include "cli/CliShared.h"
#include "cli/Output.h"
#include "document/Work.h"
#include "paint/CarpetPainter.h"
#include "paint/PictureFile.h"
#include "paint/RecipePaint.h"

namespace velmora::cli {

const char *const RenderUsage =
    "usage: velmora-cli render DOC.vokt -o OUT [--size WxH] [--input PICTURE] [--repeat N] [--set NAME=VALUE]...\n"
    "  Paints the document into OUT (.bmp, .jpg/.jpeg or .png by its extension).\n"
    "  --input   start from this picture instead of a white one of the document's size\n"
    "  --size    then give the picture this size, keeping its top-left part\n"
    "  --repeat  paint N times, each paint reading the previous one's pixels\n"
    "  --set     after the constants run, give the variable NAME (one a constants\n"
    "            line assigns) the number VALUE; may be given more than once\n";

namespace {

struct TOptions : TPictureOptions {
  std::string Document, Output;
  long long Repeat = 1;
};

bool ParseArgs(const std::vector<std::string> &args, TOptions &o, std::string &problem) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    auto value = [&](std::string &into) {
      if (i + 1 >= args.size()) return false;
      into = args[++i];
      return true;
    };
    std::string v;
    bool bad = false;
    if (ParsePictureOption(args, i, o, problem, bad)) {
      if (bad) return false;
    } else if (a == "-o") {
      if (!value(o.Output)) return problem = "-o needs a file name", false;
    } else if (a == "--repeat" || a.rfind("--repeat=", 0) == 0) {
      if (a == "--repeat" ? !value(v) : (v = a.substr(9), false)) return problem = "--repeat needs a count", false;
      if (!ParseCount(v, o.Repeat) || o.Repeat < 1) return problem = "--repeat needs a count of at least 1", false;
    } else if (a.size() > 1 && a[0] == '-') {
      return problem = "unknown option '" + a + "'", false;
    } else if (o.Document.empty()) {
      o.Document = a;
    } else {
      return problem = "unexpected argument '" + a + "'", false;
    }
  }
  if (o.Document.empty()) return problem = "no document given", false;
  if (o.Output.empty()) return problem = "no output file given (-o OUT)", false;
  return true;
}

// The output must not be the document or the starting picture: painting into
// either would destroy what it was painted from.
bool CheckOutput(const TOptions &o, std::string &problem) {
  TPictureFormat format;
  if (!PictureFormatForWriting(o.Output, format, problem)) {
    problem = o.Output + ": " + problem;
    return false;
  }
  const char *what = SameFile(o.Output, o.Document)                   ? "文書"
                     : !o.Input.empty() && SameFile(o.Output, o.Input) ? "元の画像 (--input)"
                                                                       : nullptr;
  if (what) {
    problem = o.Output + ": " + what + "と同じファイルです．上書きすると元に戻せないため，別の名前を指定してください．";
    return false;
  }
  return true;
}

}  // namespace

int RunRender(const std::vector<std::string> &args, std::FILE *out, std::FILE *err) {
  if (WantsHelp(args)) return PrintHelp(RenderUsage, out, err, "render");
  TOptions o;
  std::string problem;
  if (!ParseArgs(args, o, problem)) {
    std::fprintf(err, "velmora-cli render: %s\n%s", problem.c_str(), RenderUsage);
    return 2;
  }
  if (!CheckOutput(o, problem)) {
    std::fprintf(err, "velmora-cli render: %s\n", problem.c_str());
    return 2;
  }
  // From here on Ctrl+C ends the work cleanly: a paint stops at its next
  // pixels, and loading a big document or picture is followed by no paint.
  TInterruptScope interrupts;

  TCliDocument read;
  if (!read.Read(o.Document, err, "render")) return 2;
  const TVOKT &document = read.Document;
  const TWork &work = read.Work;

  std::string error;
  if (!CheckConstantOverrides(o.Overrides, work.Constants, error)) {
    std::fprintf(err, "velmora-cli render: --set: %s\n", error.c_str());
    return 2;
  }
  // Without an input picture the new one is white: its pixels are made only
  // once the formulas have compiled (control.Prepare), so an error in a huge
  // document is quick.
  TPicture picture;
  if (!StartPicture(work, o.Document, o, picture, err, "render")) return 2;

  TArithmeticUnit engine;
  TProgressBar bar(err);
  TPaintControl control;
  control.Cancel = &Interrupted;
  control.Progress = [&bar](int done, int total) { bar.Update(done, total); };
  control.AfterConstants = [&o](TArithmeticUnit &e) { ApplyConstantOverrides(e, o.Overrides); };
  control.Prepare = [&picture] {
    if (picture.Pixels.empty()) picture = TPicture::Filled(picture.Width, picture.Height, White);
  };
  TOutputCheck output;
  // A PNG picture carries its recipe: the state before the first paint.
  const bool withRecipe = PictureFormatFor(o.Output) == TPictureFormat::Png;
  TRecipe recipe;
  if (withRecipe) {
    recipe = BeginRecipe(work.Constants, work.Carpet, document.Codes, engine, picture);
    for (const TConstantOverride &v : o.Overrides) recipe.SetAfterConstants.push_back({v.Name, v.Value});
  }
  for (long long pass = 0; pass < o.Repeat; ++pass) {
    if (withRecipe && pass + 1 == o.Repeat) TakeLastState(engine, recipe);
    const TPaintResult result = PaintCarpet(engine, work.Constants, work.Carpet, picture, control);
    bar.Finish();
    if (result.Cancelled) {
      std::fprintf(err, "velmora-cli render: interrupted, nothing written\n");
      return 130;
    }
    for (const std::string &line : result.ErrorLines) {
      std::fwrite(line.data(), 1, line.size(), out);
      std::fputc('\n', out);
    }
    output.Flush(out);
    if (!result.Painted) return output.Failed ? output.Report(err, "render") : 1;
  }
  std::string recipeText;
  if (withRecipe) {
    if (!FinishRecipe(recipe, picture, o.Repeat, error)) {
      std::fprintf(err, "velmora-cli render: %s\n", error.c_str());
      return 2;
    }
    std::string notice;
    recipeText = RecipeText(recipe, notice);
    if (!notice.empty()) std::fprintf(err, "velmora-cli render: %s\n", notice.c_str());
  }
  if (!SavePicture(o.Output, picture, error, &Interrupted, recipeText.empty() ? nullptr : &recipeText)) {
    if (Interrupted) {
      std::fprintf(err, "velmora-cli render: interrupted, nothing written\n");
      return 130;
    }
    std::fprintf(err, "velmora-cli render: %s\n", error.c_str());
    return 2;
  }
  if (Interrupted) {
    // Ctrl+C came as the new file took the old one's place: it is there.
    std::fprintf(err, "velmora-cli render: 中断しましたが，絵はすでに保存しました（%s）．\n", o.Output.c_str());
    return 130;
  }
  // The picture is saved; the error lines that went nowhere are still a failure.
  if (output.Failed) return output.Report(err, "render");
  return 0;
}

}  // namespace velmora::cli
