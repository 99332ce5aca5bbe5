#include "formula/SliderAnnotation.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace velmora {

namespace {

constexpr int FineGrid = 1000;              // positions of a slider without a step
constexpr int MostStepPositions = 100000;   // more steps than this: the fine grid, snapped
constexpr const char *Annotation = "@slider";

locale_t CLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// Names are words of the formulas: letters, digits, '_' and any non-ASCII character.
bool IsNameByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 0x80 || IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

std::size_t SkipSpaces(const std::string &s, std::size_t p, std::size_t end) {
  while (p < end && IsSpace(s[p])) ++p;
  return p;
}

std::size_t Digits(const std::string &s, std::size_t p, std::size_t end) {
  while (p < end && IsDigit(s[p])) ++p;
  return p;
}

// The end of an unsigned ASCII number at p, or p when there is none. As in the
// formulas "5." is a number; in a range ("1..5") a point needs a digit after it.
std::size_t NumberEnd(const std::string &s, std::size_t p, std::size_t end, bool pointNeedsDigit) {
  std::size_t q = Digits(s, p, end);
  if (q == p) return p;
  if (q < end && s[q] == '.' && (!pointNeedsDigit || (q + 1 < end && IsDigit(s[q + 1])))) q = Digits(s, q + 1, end);
  if (q < end && (s[q] == 'e' || s[q] == 'E')) {
    std::size_t e = q + 1;
    if (e < end && (s[e] == '+' || s[e] == '-')) ++e;
    const std::size_t digits = Digits(s, e, end);
    if (digits > e) q = digits;
  }
  return q;
}

// The end of a number with an optional sign, or p.
std::size_t SignedNumberEnd(const std::string &s, std::size_t p, std::size_t end, bool pointNeedsDigit) {
  const std::size_t digits = p < end && (s[p] == '+' || s[p] == '-') ? p + 1 : p;
  const std::size_t q = NumberEnd(s, digits, end, pointNeedsDigit);
  return q == digits ? p : q;
}

long double NumberValue(const std::string &text) { return strtold_l(text.c_str(), nullptr, CLocale()); }

// Fraction digits a number is written with, less its exponent ("1e20": -20);
// a zero says nothing about the digits that matter.
constexpr int NoDecimals = -100000;
int DecimalsOf(const std::string &text) {
  if (NumberValue(text) == 0) return NoDecimals;
  const std::size_t point = text.find('.');
  const std::size_t e = text.find_first_of("eE");
  const std::size_t fractionEnd = e == std::string::npos ? text.size() : e;
  long decimals = point == std::string::npos || point > fractionEnd ? 0 : static_cast<long>(fractionEnd - point - 1);
  if (e != std::string::npos) decimals -= std::clamp(std::strtol(text.c_str() + e + 1, nullptr, 10), -100000L, 100000L);
  return static_cast<int>(std::clamp(decimals, -100000L, 100000L));
}

// What a line looks like to the annotation: `name = number` with where its
// number and comment are, or anything else with where its first "//" is.
struct TShape {
  bool Commented = false;  // the whole line is a comment
  bool Assignment = false;
  std::string Name;
  std::size_t NumberStart = 0, NumberEnd = 0;
  std::size_t Comment = std::string::npos;
};

TShape ShapeOf(const std::string &line) {
  TShape shape;
  const std::size_t end = line.size();
  std::size_t p = SkipSpaces(line, 0, end);
  if (line.compare(p, 2, "//") == 0) {
    shape.Commented = true;
    return shape;
  }
  shape.Comment = line.find("//");
  std::size_t q = p;
  while (q < end && IsNameByte(line[q])) ++q;
  if (q == p || IsDigit(line[p])) return shape;
  const std::string name = line.substr(p, q - p);
  q = SkipSpaces(line, q, end);
  if (q >= end || line[q] != '=' || (q + 1 < end && line[q + 1] == '=')) return shape;
  const std::size_t start = SkipSpaces(line, q + 1, end);
  const std::size_t number = SignedNumberEnd(line, start, end, false);
  if (number == start) return shape;
  const std::size_t after = SkipSpaces(line, number, end);
  if (after < end && line.compare(after, 2, "//") != 0) return shape;
  shape.Assignment = true;
  shape.Name = name;
  shape.NumberStart = start;
  shape.NumberEnd = number;
  shape.Comment = after < end ? after : std::string::npos;
  return shape;
}

// Where "@slider" starts in the comment as a word of its own, or npos.
std::size_t AnnotationAt(const std::string &line, std::size_t comment) {
  if (comment == std::string::npos) return std::string::npos;
  for (std::size_t at = line.find(Annotation, comment); at != std::string::npos; at = line.find(Annotation, at + 1)) {
    const std::size_t after = at + 7;
    const bool wordStart = at == comment + 2 || IsSpace(line[at - 1]) || line[at - 1] == '/';
    if (wordStart && (after == line.size() || IsSpace(line[after]))) return at;
  }
  return std::string::npos;
}

// Reads one number of the annotation at p (after spaces); false when there is none.
bool ReadNumberAt(const std::string &s, std::size_t &p, std::size_t end, long double &value, int &decimals) {
  p = SkipSpaces(s, p, end);
  const std::size_t q = SignedNumberEnd(s, p, end, true);
  if (q == p) return false;
  const std::string text = s.substr(p, q - p);
  value = NumberValue(text);
  decimals = std::max(decimals, DecimalsOf(text));
  p = q;
  return true;
}

std::string Checked(const TSliderAnnotation &a, bool rangeRead) {
  if (!rangeRead) return "範囲「最小..最大」が読めません";
  if (!std::isfinite(a.Min) || !std::isfinite(a.Max) || !std::isfinite(a.Step)) return "数値が大きすぎます";
  if (a.Min >= a.Max) return "最小値が最大値以上です";
  if (!std::isfinite(a.Max - a.Min) || (a.Log && a.Min > 0 && !std::isfinite(std::log(a.Max / a.Min))))
    return "範囲が広すぎます";
  if (a.Step > 0 && !std::isfinite((a.Max - a.Min) / a.Step)) return "step が小さすぎます";
  if (a.Log && a.Min <= 0) return "log は正の範囲にだけ使えます";
  return {};
}

// The range and options from p up to the end or a further "//" (free text).
std::string ReadOptions(const std::string &s, std::size_t p, TSliderAnnotation &a) {
  std::size_t end = s.find("//", p);
  if (end == std::string::npos) end = s.size();
  int decimals = NoDecimals;
  bool range = ReadNumberAt(s, p, end, a.Min, decimals);
  p = SkipSpaces(s, p, end);
  range = range && s.compare(p, 2, "..") == 0;
  if (range) p += 2;
  range = range && ReadNumberAt(s, p, end, a.Max, decimals);
  if (!range) return Checked(a, false);
  bool stepSeen = false, logSeen = false;
  for (p = SkipSpaces(s, p, end); p < end; p = SkipSpaces(s, p, end)) {
    std::size_t q = p;
    while (q < end && !IsSpace(s[q])) ++q;
    const std::string word = s.substr(p, q - p);
    p = q;
    if (word == "log" && !logSeen) {
      logSeen = a.Log = true;
    } else if (word == "step" && !stepSeen) {
      stepSeen = true;
      if (!ReadNumberAt(s, p, end, a.Step, decimals)) return "step の後に数値がありません";
      if (a.Step <= 0) return "step は正の数にしてください";
    } else {
      return word == "log" || word == "step" ? "「" + word + "」が二度あります" : "知らない語「" + word + "」があります";
    }
  }
  a.Decimals = decimals;
  return Checked(a, true);
}

std::string Printed(const char *format, int precision, long double value) {
  char buffer[128];
  const locale_t previous = uselocale(CLocale());
  std::snprintf(buffer, sizeof buffer, format, precision, value);
  uselocale(previous);
  return buffer;
}

// Trailing zeros of the fraction go, and a point with nothing after it.
std::string WithoutTrailingZeros(std::string text) {
  const std::size_t e = text.find('e');
  std::string exponent = e == std::string::npos ? "" : text.substr(e);
  text = text.substr(0, e);
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  return text + exponent;
}

// The value to `decimals` fraction digits (fewer than none: to tens, hundreds,
// ...), in the shorter of fixed and exponent notation ("48", "0.25", "1e+18",
// "1.5e+20"), both of which the formulas read. Exponent notation keeps the
// digits that matter, at most the 21 a long double holds.
std::string FormatNumber(long double value, int decimals) {
  if (value == 0) return "0";
  const long double magnitude = std::fabs(value);
  const int significant = static_cast<int>(std::floor(std::log10(magnitude))) + 1 + decimals;
  std::string fixed, exponent;
  if (magnitude < 1e19L && decimals <= 18) fixed = WithoutTrailingZeros(Printed("%.*Lf", std::max(decimals, 0), value));
  if (significant >= 1 || fixed.empty())
    exponent = WithoutTrailingZeros(Printed("%.*Le", std::clamp(significant, 1, 21) - 1, value));
  std::string text = !fixed.empty() && (exponent.empty() || fixed.size() <= exponent.size()) ? fixed : exponent;
  if (text == "-0") text = "0";
  return text;
}

}  // namespace

bool TSliderAnnotation::SameAs(const TSliderAnnotation &o) const {
  return Line == o.Line && Name == o.Name && Min == o.Min && Max == o.Max && Step == o.Step && Log == o.Log &&
         Decimals == o.Decimals;
}

bool ReadSliderNumber(const std::string &text, long double &value, bool signed_) {
  const std::size_t p = SkipSpaces(text, 0, text.size());
  const std::size_t q = signed_ ? SignedNumberEnd(text, p, text.size(), false) : NumberEnd(text, p, text.size(), false);
  if (q == p || SkipSpaces(text, q, text.size()) != text.size()) return false;
  value = NumberValue(text.substr(p, q - p));
  return std::isfinite(value);
}

TSliderParse ParseSliderLine(const std::string &line, TSliderAnnotation &slider, std::string &why) {
  why.clear();
  const TShape shape = ShapeOf(line);
  if (shape.Commented) return TSliderParse::None;
  const std::size_t at = AnnotationAt(line, shape.Comment);
  if (at == std::string::npos) return TSliderParse::None;
  if (!shape.Assignment) {
    why = "「名前 = 数値」の行ではありません";
    return TSliderParse::Malformed;
  }
  TSliderAnnotation a;
  a.Name = shape.Name;
  a.NumberStart = shape.NumberStart;
  a.NumberLength = shape.NumberEnd - shape.NumberStart;
  a.Value = NumberValue(line.substr(a.NumberStart, a.NumberLength));
  why = std::isfinite(a.Value) ? ReadOptions(line, at + 7, a) : "数値が大きすぎます";
  if (!why.empty()) return TSliderParse::Malformed;
  slider = a;
  return TSliderParse::Slider;
}

void FindSliders(const std::vector<std::string> &lines, std::vector<TSliderAnnotation> &sliders,
                 std::vector<TSliderHint> &hints) {
  sliders.clear();
  hints.clear();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    // Most lines have no annotation: look for one before anything else.
    if (lines[i].find(Annotation) == std::string::npos) continue;
    TSliderAnnotation slider;
    std::string why;
    const TSliderParse found = ParseSliderLine(lines[i], slider, why);
    slider.Line = static_cast<int>(i);
    if (found == TSliderParse::Slider) sliders.push_back(slider);
    if (found == TSliderParse::Malformed) hints.push_back({static_cast<int>(i), why});
  }
}

int SliderPositions(const TSliderAnnotation &s) {
  if (s.Step > 0 && !s.Log) {
    const long double steps = std::floor((s.Max - s.Min) / s.Step + 1e-9L);
    if (steps >= 1 && steps <= MostStepPositions) return static_cast<int>(steps);
  }
  return FineGrid;
}

long double SliderValueAt(const TSliderAnnotation &s, int position) {
  const int positions = SliderPositions(s);
  position = std::clamp(position, 0, positions);
  const long double t = static_cast<long double>(position) / positions;
  long double v = s.Log ? s.Min * std::exp(t * std::log(s.Max / s.Min)) : s.Min + t * (s.Max - s.Min);
  if (position == positions) v = s.Max;
  if (position == 0) v = s.Min;
  if (s.Step > 0) {
    v = s.Min + std::round((v - s.Min) / s.Step) * s.Step;
    if (v > s.Max) v = s.Min + std::floor((s.Max - s.Min) / s.Step + 1e-9L) * s.Step;
  }
  // min + k * step may round a hair past the end.
  return std::clamp(v, s.Min, s.Max);
}

int SliderPositionOf(const TSliderAnnotation &s, long double value) {
  if (std::isnan(value)) return 0;
  const long double v = std::clamp(value, s.Min, s.Max);
  const long double t = s.Log ? std::log(v / s.Min) / std::log(s.Max / s.Min) : (v - s.Min) / (s.Max - s.Min);
  const int positions = SliderPositions(s);
  return std::clamp(static_cast<int>(std::lround(t * positions)), 0, positions);
}

std::string SliderNumberText(const TSliderAnnotation &s, long double value) {
  int decimals = s.Decimals;
  if (s.Step <= 0) {
    // One position of the slider must still show in the number.
    const long double resolution =
        s.Log ? std::fabs(value) * std::log(s.Max / s.Min) / FineGrid : (s.Max - s.Min) / FineGrid;
    if (resolution > 0 && std::isfinite(resolution))
      decimals = std::max(decimals, static_cast<int>(std::ceil(-std::log10(resolution))));
  }
  return FormatNumber(value, std::clamp(decimals, -5000, 5000));
}

std::string WithSliderNumber(const std::string &line, const TSliderAnnotation &s, const std::string &number) {
  // A written plus sign stays while the number is not negative.
  const bool plus = line.compare(s.NumberStart, 1, "+") == 0 && number.compare(0, 1, "-") != 0;
  return line.substr(0, s.NumberStart) + (plus ? "+" : "") + number + line.substr(s.NumberStart + s.NumberLength);
}

bool SliderCommentFor(const std::string &line, std::size_t &at, std::string &inserted) {
  const TShape shape = ShapeOf(line);
  if (!shape.Assignment || AnnotationAt(line, shape.Comment) != std::string::npos) return false;
  const long double v = NumberValue(line.substr(shape.NumberStart, shape.NumberEnd - shape.NumberStart));
  if (!std::isfinite(v)) return false;
  // 0..2v for a positive value, symmetric around 0 for a negative one, -1..1 for 0;
  // a step that gives the range some hundred positions.
  const long double lo = v > 0 ? 0 : v < 0 ? 2 * v : -1, hi = v > 0 ? 2 * v : v < 0 ? -2 * v : 1;
  const long double hundredth = (hi - lo) / 100;
  if (!std::isfinite(hundredth) || hundredth < 1e-4900L) return false;
  const int exponent = static_cast<int>(std::floor(std::log10(hundredth)));
  const long double step = std::pow(10.0L, exponent);
  at = shape.NumberEnd;
  inserted = " // @slider " + FormatNumber(lo, -exponent) + ".." + FormatNumber(hi, -exponent) + " step " +
             FormatNumber(step, -exponent);
  return true;
}

}  // namespace velmora
