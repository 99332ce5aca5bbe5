#include "cli/RenderCommand.h"

#include <atomic>
#include <cmath>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/Output.h"
#include "document/Work.h"
#include "paint/CarpetPainter.h"
#include "paint/PictureFile.h"
#include "paint/RecipePaint.h"

namespace velmora::cli {

const char *const RenderUsage =
    "usage: velmora-cli render DOC.vokt -o OUT [--size WxH] [--input PICTURE] [--repeat N]\n"
    "  Paints the document into OUT (.bmp, .jpg/.jpeg or .png by its extension).\n"
    "  --input   start from this picture instead of a white one of the document's size\n"
    "  --size    then give the picture this size, keeping its top-left part\n"
    "  --repeat  paint N times, each paint reading the previous one's pixels\n";

namespace {

struct TOptions {
  std::string Document, Output, Input;
  bool HasSize = false;
  long long Width = 0, Height = 0;
  long long Repeat = 1;
};

bool ParseCount(const std::string &text, long long &value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

bool ParseSize(const std::string &text, long long &w, long long &h) {
  const std::size_t x = text.find('x');
  return x != std::string::npos && ParseCount(text.substr(0, x), w) && ParseCount(text.substr(x + 1), h);
}

bool ParseArgs(const std::vector<std::string> &args, TOptions &o, std::string &problem) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    auto value = [&](std::string &into) {
      if (i + 1 >= args.size()) return false;
      into = args[++i];
      return true;
    };
    std::string v;
    if (a == "-o") {
      if (!value(o.Output)) return problem = "-o needs a file name", false;
    } else if (a == "--input") {
      if (!value(o.Input)) return problem = "--input needs a picture file", false;
    } else if (a == "--size" || a.rfind("--size=", 0) == 0) {
      if (a == "--size" ? !value(v) : (v = a.substr(7), false)) return problem = "--size needs WxH", false;
      if (!ParseSize(v, o.Width, o.Height)) return problem = "--size needs WxH, e.g. 640x480", false;
      o.HasSize = true;
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

// A one-line bar on a terminal, redrawn when the percentage changes.
class TProgressBar {
 public:
  explicit TProgressBar(std::FILE *err) : Err(err), Enabled(isatty(fileno(err)) != 0) {}
  void Update(int done, int total) {
    if (!Enabled || total <= 0) return;
    const int percent = static_cast<int>(100LL * done / total);
    if (percent == Last) return;
    Last = percent;
    const int filled = percent * 30 / 100;
    std::fprintf(Err, "\r描画中 [%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(30 - filled), ' ').c_str(), percent);
    std::fflush(Err);
  }
  void Finish() {
    if (Enabled && Last >= 0) std::fputs("\r\033[K", Err);
    Last = -1;
  }

 private:
  std::FILE *Err;
  bool Enabled;
  int Last = -1;
};

// Ctrl+C asks the paint or the save to stop; a second one ends the program
// the usual way: through the handler that was there before (the one that
// removes a save's temporary file), not the bare default.
std::atomic<bool> Interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
struct sigaction PreviousInterrupt = {};

extern "C" void OnInterrupt(int) {
  if (!Interrupted.exchange(true)) return;
  // Blocked while we run: the previous handler takes it once we return.
  sigaction(SIGINT, &PreviousInterrupt, nullptr);
  raise(SIGINT);
}

class TInterruptScope {
 public:
  TInterruptScope() {
    Interrupted = false;
    sigaction(SIGINT, nullptr, &PreviousInterrupt);
    if (PreviousInterrupt.sa_handler == SIG_IGN) return;  // started in the background: Ctrl+C is not ours
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    Installed = true;
  }
  ~TInterruptScope() {
    if (Installed) sigaction(SIGINT, &PreviousInterrupt, nullptr);
  }

 private:
  bool Installed = false;
};

// The output must not be the document or the starting picture: painting into
// either would destroy what it was painted from.
bool SameFile(const std::string &a, const std::string &b) {
  struct stat sa {}, sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

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

  TMessageRecorder boxes;
  boxes.OnShow = [err](const TMessageRecorder::TEntry &e) {
    std::fprintf(err, "%s: %s\n", e.Caption.c_str(), e.Text.c_str());
  };
  TVOKT document(&boxes);
  if (!document.Read(o.Document)) {
    if (!document.ErrorMessage.empty()) std::fprintf(err, "velmora-cli render: %s\n", document.ErrorMessage.c_str());
    return 2;
  }
  TWork work;
  TakeWork(document, work);

  TPicture picture;
  std::string error;
  // Without an input picture the new one is white: its pixels are made only
  // once the formulas have compiled (control.Prepare), so an error in a huge
  // document is quick.
  if (!o.Input.empty()) {
    std::string warning;
    if (!LoadPicture(o.Input, picture, error, &warning)) {
      std::fprintf(err, "velmora-cli render: %s: %s\n", o.Input.c_str(), error.c_str());
      return 2;
    }
    if (!warning.empty()) std::fprintf(err, "velmora-cli render: %s: %s\n", o.Input.c_str(), warning.c_str());
  } else if (!PictureSizeOf(work.Width, work.Height, picture.Width, picture.Height, error)) {
    std::fprintf(err, "velmora-cli render: %s: %s\n", o.Document.c_str(), error.c_str());
    return 2;
  }
  if (o.HasSize) {
    if (!CheckPictureSize(o.Width, o.Height, error)) {
      std::fprintf(err, "velmora-cli render: %s\n", error.c_str());
      return 2;
    }
    if (picture.Pixels.empty()) {
      picture.Width = static_cast<int>(o.Width);
      picture.Height = static_cast<int>(o.Height);
    } else {
      picture.Resize(static_cast<int>(o.Width), static_cast<int>(o.Height));
    }
  }

  TArithmeticUnit engine;
  TProgressBar bar(err);
  TPaintControl control;
  control.Cancel = &Interrupted;
  control.Progress = [&bar](int done, int total) { bar.Update(done, total); };
  control.Prepare = [&picture] {
    if (picture.Pixels.empty()) picture = TPicture::Filled(picture.Width, picture.Height, White);
  };
  TOutputCheck output;
  // A PNG picture carries its recipe: the state before the first paint.
  const bool withRecipe = PictureFormatFor(o.Output) == TPictureFormat::Png;
  TRecipe recipe;
  if (withRecipe) recipe = BeginRecipe(work.Constants, work.Carpet, document.Codes, engine, picture);
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
