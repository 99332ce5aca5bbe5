// A constants line with or without a slider annotation. Whatever the bytes: a
// slider's range is sound, every number it writes reads back inside its range,
// writing it keeps the line a slider with everything but the number unchanged,
// and the context menu's comment always makes a slider of the line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "formula/SliderAnnotation.h"

namespace {

void CheckWrites(const std::string &line, const velmora::TSliderAnnotation &a) {
  if (!(a.Min < a.Max) || (a.Log && a.Min <= 0)) std::abort();
  const int positions = velmora::SliderPositions(a);
  for (int p : {0, 1, positions / 3, positions - 1, positions}) {
    const long double value = velmora::SliderValueAt(a, p);
    if (!(value >= a.Min && value <= a.Max)) std::abort();
    const std::string text = velmora::SliderNumberText(a, value);
    long double back = 0;
    if (!velmora::ReadSliderNumber(text, back)) std::abort();
    const std::string written = velmora::WithSliderNumber(line, a, text);
    velmora::TSliderAnnotation again;
    std::string why;
    if (velmora::ParseSliderLine(written, again, why) != velmora::TSliderParse::Slider) std::abort();
    if (again.Name != a.Name || again.Min != a.Min || again.Max != a.Max || again.Step != a.Step) std::abort();
    if (written.compare(0, a.NumberStart, line, 0, a.NumberStart) != 0) std::abort();
    if (written.substr(again.NumberStart + again.NumberLength) != line.substr(a.NumberStart + a.NumberLength))
      std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string line(reinterpret_cast<const char *>(data), size);
  if (line.find('\n') != std::string::npos) return 0;  // one memo line
  velmora::TSliderAnnotation a;
  std::string why;
  const velmora::TSliderParse kind = velmora::ParseSliderLine(line, a, why);
  if (kind == velmora::TSliderParse::Malformed && why.empty()) std::abort();
  if (kind == velmora::TSliderParse::Slider) CheckWrites(line, a);
  std::size_t at = 0;
  std::string inserted;
  if (velmora::SliderCommentFor(line, at, inserted)) {
    const std::string commented = std::string(line).insert(at, inserted);
    if (velmora::ParseSliderLine(commented, a, why) != velmora::TSliderParse::Slider) std::abort();
    CheckWrites(commented, a);
  }
  return 0;
}
