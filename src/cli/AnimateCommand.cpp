#include "cli/AnimateCommand.h"

#include <cmath>

#include "cli/CliShared.h"
#include "cli/Output.h"
#include "document/Work.h"
#include "paint/AnimationFiles.h"
#include "paint/PictureFile.h"

namespace velmora::cli {

const char *const AnimateUsage =
    "usage: velmora-cli animate DOC.vokt -o OUT --vary NAME=FROM:TO --frames N [--fps F] [--end] [--carry]\n"
    "         [--size WxH] [--input PICTURE] [--set NAME=VALUE]... [--first K --last L]\n"
    "  Paints N frames, each with the variable NAME (one a constants line assigns)\n"
    "  set after the constants to FROM + (TO - FROM) * k / N for frame k = 0 .. N-1.\n"
    "  OUT: .webp animated WebP (lossless), .gif GIF, or a name with a %d field\n"
    "  (f%04d.png) for one picture file per frame (.png, .bmp, .jpg/.jpeg).\n"
    "  --fps     frames per second (default 30, at most 100)\n"
    "  --end     reach TO in the last frame: k / (N-1) instead of k / N\n"
    "  --carry   each frame starts from the frame before it (picture and variables)\n"
    "            instead of the state before the first frame\n"
    "  --first, --last  paint and write only frames K .. L (numbered from 0)\n"
    "  --size, --input, --set  as for render\n";

namespace {

struct TOptions : TPictureOptions {
  std::string Document, Output;
  TAnimation Animation;
  bool HasVary = false, HasFrames = false;
  long long First = -1, Last = -1;
  double Fps = 30;
};

bool ParseVary(const std::string &text, TAnimation &a, std::string &problem) {
  const std::size_t equals = text.find('='), colon = text.find(':', equals == std::string::npos ? 0 : equals);
  if (equals == std::string::npos || colon == std::string::npos) return problem = "--vary needs NAME=FROM:TO", false;
  TConstantOverride from;
  if (!ParseConstantOverride(text.substr(0, colon), from, problem) ||
      !ReadConstantValue(text.substr(colon + 1), a.To, problem))
    return problem = "--vary " + problem, false;
  a.Variable = from.Name;
  a.From = from.Value;
  return true;
}

bool ParseFps(const std::string &text, double &fps) {
  long double value = 0;
  std::string ignored;
  if (!ReadConstantValue(text, value, ignored) || !(value > 0) || value > MaxFramesPerSecond) return false;
  fps = static_cast<double>(value);
  return true;
}

// One option at args[i]; false with `problem` set when it is wrong.
bool ParseOption(const std::vector<std::string> &args, std::size_t &i, TOptions &o, std::string &problem) {
  const std::string &a = args[i];
  bool bad = false;
  if (ParsePictureOption(args, i, o, problem, bad)) return !bad;
  if (a == "--end") return o.Animation.IncludeEnd = true;
  if (a == "--carry") return o.Animation.Carry = true;
  const std::size_t equals = a.find('=');
  const std::string name = a.rfind("--", 0) == 0 ? a.substr(0, equals) : a;
  std::string v;
  if (equals != std::string::npos && name != a) {
    v = a.substr(equals + 1);
  } else if (name == "-o" || name == "--vary" || name == "--frames" || name == "--fps" || name == "--first" ||
             name == "--last") {
    if (i + 1 >= args.size()) return problem = name + " needs a value", false;
    v = args[++i];
  }
  long long count = 0;
  if (name == "-o") {
    o.Output = v;
  } else if (name == "--vary") {
    return o.HasVary = true, ParseVary(v, o.Animation, problem);
  } else if (name == "--frames") {
    if (!ParseCount(v, count) || count < 1 || count > MaxAnimationFrames)
      return problem = "--frames needs a count from 1 to " + std::to_string(MaxAnimationFrames), false;
    o.Animation.Frames = static_cast<int>(count);
    o.HasFrames = true;
  } else if (name == "--fps") {
    if (!ParseFps(v, o.Fps)) return problem = "--fps needs a number above 0, at most 100", false;
  } else if (name == "--first" || name == "--last") {
    if (!ParseCount(v, count)) return problem = name + " needs a frame number (from 0)", false;
    (name == "--first" ? o.First : o.Last) = count;
  } else if (a.size() > 1 && a[0] == '-') {
    return problem = "unknown option '" + a + "'", false;
  } else if (o.Document.empty()) {
    o.Document = a;
  } else {
    return problem = "unexpected argument '" + a + "'", false;
  }
  return true;
}

bool ParseArgs(const std::vector<std::string> &args, TOptions &o, std::string &problem) {
  for (std::size_t i = 0; i < args.size(); ++i)
    if (!ParseOption(args, i, o, problem)) return false;
  if (o.Document.empty()) return problem = "no document given", false;
  if (o.Output.empty()) return problem = "no output file given (-o OUT)", false;
  if (!o.HasVary) return problem = "no variable to vary given (--vary NAME=FROM:TO)", false;
  if (!o.HasFrames) return problem = "no frame count given (--frames N)", false;
  TAnimation &a = o.Animation;
  a.First = o.First < 0 ? 0 : static_cast<int>(std::min<long long>(o.First, MaxAnimationFrames));
  a.Last = o.Last < 0 ? a.Frames - 1 : static_cast<int>(std::min<long long>(o.Last, MaxAnimationFrames));
  if (a.Last >= a.Frames || a.First > a.Last)
    return problem = "--first and --last need 0 <= K <= L < N (" + std::to_string(a.Frames) + " frames)", false;
  for (const TConstantOverride &set : o.Overrides)
    if (set.Name == a.Variable) return problem = "'" + a.Variable + "' is given to both --vary and --set", false;
  a.Overrides = o.Overrides;
  return true;
}

// The output must not be the document or the starting picture, nor any of
// the frame files.
bool CheckOutput(const TOptions &o, std::string &problem) {
  TAnimationFormat format;
  if (!AnimationFormatFor(o.Output, format, problem)) return problem = o.Output + ": " + problem, false;
  const bool frames = format == TAnimationFormat::Frames;
  for (int k = o.Animation.First; k <= (frames ? o.Animation.Last : o.Animation.First); ++k) {
    const std::string name = frames ? FrameFileName(o.Output, k) : o.Output;
    const char *what = SameFile(name, o.Document)                   ? "文書"
                       : !o.Input.empty() && SameFile(name, o.Input) ? "元の画像 (--input)"
                                                                     : nullptr;
    if (what) {
      problem = name + ": " + what + "と同じファイルです．上書きすると元に戻せないため，別の名前を指定してください．";
      return false;
    }
  }
  return true;
}

int Interruption(std::FILE *err, int written, bool frames) {
  if (frames && written > 0)
    std::fprintf(err, "velmora-cli animate: 中断しました．書き出し済みの %d フレームのファイルは残っています．\n", written);
  else
    std::fprintf(err, "velmora-cli animate: interrupted, nothing written\n");
  return 130;
}

}  // namespace

int RunAnimate(const std::vector<std::string> &args, std::FILE *out, std::FILE *err) {
  if (WantsHelp(args)) return PrintHelp(AnimateUsage, out, err, "animate");
  TOptions o;
  std::string problem;
  if (!ParseArgs(args, o, problem)) {
    std::fprintf(err, "velmora-cli animate: %s\n%s", problem.c_str(), AnimateUsage);
    return 2;
  }
  if (!CheckOutput(o, problem)) {
    std::fprintf(err, "velmora-cli animate: %s\n", problem.c_str());
    return 2;
  }
  TInterruptScope interrupts;

  TCliDocument read;
  if (!read.Read(o.Document, err, "animate")) return 2;
  const TVOKT &document = read.Document;
  const TWork &work = read.Work;
  std::string error;
  TConstantOverrides all = o.Overrides;
  all.push_back({o.Animation.Variable, 0});
  if (!CheckConstantOverrides(all, work.Constants, error)) {
    std::fprintf(err, "velmora-cli animate: %s\n", error.c_str());
    return 2;
  }
  TPicture picture;
  if (!StartPicture(work, o.Document, o, picture, err, "animate")) return 2;
  if (picture.Pixels.empty()) picture = TPicture::Filled(picture.Width, picture.Height, White);

  const bool frames = IsFramePattern(o.Output);
  std::unique_ptr<TFrameWriter> writer =
      MakeFrameWriter(o.Output, picture.Width, picture.Height, o.Fps, &Interrupted, error);
  if (!writer) {
    std::fprintf(err, "velmora-cli animate: %s: %s\n", o.Output.c_str(), error.c_str());
    return 2;
  }
  TProgressBar bar(err);
  TOutputCheck output;
  TAnimationControl control;
  control.Cancel = &Interrupted;
  control.Progress = [&](int done, int total, int columns, int width) {
    bar.Update(static_cast<long long>(done) * width + columns, static_cast<long long>(total) * width,
               " フレーム " + std::to_string(done + 1) + "/" + std::to_string(total));
  };
  control.FrameErrors = [&](int frame, const TStringList &lines) {
    bar.Finish();
    const std::string prefix = FramePrefix(frame);
    for (const std::string &line : lines) std::fprintf(out, "%s%s\n", prefix.c_str(), line.c_str());
    output.Flush(out);
  };
  o.Animation.Codes = document.Codes;
  const TAnimationResult result = PaintAnimation(TArithmeticUnit(), work.Constants, work.Carpet, picture, o.Animation,
                                                 *writer, control);
  bar.Finish();
  if (result.Cancelled) return Interruption(err, result.FramesWritten, frames);
  if (result.FailedFrame >= 0) return output.Failed ? output.Report(err, "animate") : 1;
  if (!result.Written) {
    std::fprintf(err, "velmora-cli animate: %s\n", result.WriteError.c_str());
    return 2;
  }
  if (output.Failed) return output.Report(err, "animate");
  return 0;
}

}  // namespace velmora::cli
