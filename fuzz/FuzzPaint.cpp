// A constants text and a carpet text (split at the first NUL byte) painted
// onto a small picture twice: computing every slot for every pixel on one
// thread column by column, and reusing terms on two, coarse to fine. Any difference in what a user could see
// (pixels, error lines, variables, records left for the next report) aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/Random.h"
#include "paint/CarpetPainter.h"
#include "text/LineList.h"

namespace {

struct TSeen {
  velmora::TPaintResult Result;
  velmora::TPicture Picture;
  std::string Variables;
  velmora::TStringList Records;
};

TSeen Paint(const velmora::TStringList &constants, const velmora::TStringList &carpet, bool reuse) {
  TSeen seen;
  velmora::TArithmeticUnit engine;
  engine.ReuseEnabled = reuse;
  velmora::RandomGenerator().Seed(7);
  seen.Picture = velmora::TPicture::Filled(7, 5, velmora::Rgb(10, 200, 30));
  seen.Picture.SetPixel(3, 2, 0xFF123456u);  // a colour only the remainder rule splits
  velmora::TPaintControl control;
  control.Threads = reuse ? 2 : 1;
  control.ColumnOrder = !reuse;  // and coarse to fine, where the pixels allow it
  seen.Result = velmora::PaintCarpet(engine, constants, carpet, seen.Picture, control);
  for (std::int32_t i = 0; i < engine.VariableCount; ++i) {
    const velmora::TVariable &v = engine.Variables[static_cast<std::size_t>(i)];
    seen.Variables += v.Name + '=' + std::string(reinterpret_cast<const char *>(&v.Value), 10) + '\n';
  }
  engine.GetMathErrors(seen.Records);
  return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string all(reinterpret_cast<const char *>(data), size);
  const std::size_t split = all.find('\0');
  const std::string constants = split == std::string::npos ? std::string() : all.substr(0, split);
  const std::string carpet = split == std::string::npos ? all : all.substr(split + 1);
  const velmora::TStringList c = velmora::text::SplitLines(constants), l = velmora::text::SplitLines(carpet);
  const TSeen plain = Paint(c, l, false), reused = Paint(c, l, true);
  if (plain.Result.Painted != reused.Result.Painted || plain.Result.ErrorLines != reused.Result.ErrorLines ||
      plain.Picture.Pixels != reused.Picture.Pixels || plain.Variables != reused.Variables ||
      plain.Records != reused.Records)
    std::abort();
  return 0;
}
