#include "paint/CarpetPainter.h"

#include <cmath>

namespace velmora {

namespace {

std::string ConstantsPrefix(std::size_t line) { return "定数式(" + std::to_string(line + 1) + "行目): "; }
std::string CarpetPrefix(std::size_t line) { return "絨毯の数式(" + std::to_string(line + 1) + "行目): "; }

// >255 gives 255; below 0 or not a number gives 0; otherwise truncation.
// A plain cast would switch the x87 rounding mode twice per channel; instead
// round to the nearest integer by adding and taking away 2^63 (exact at 64-bit
// precision), step down when that went up, and convert the exact integer.
// Quiet comparisons: a NaN must not leave the invalid flag for the next run.
std::uint32_t Channel(long double v) {
  if (std::isgreater(v, 255.0L)) return 255;
  if (!std::isgreaterequal(v, 0.0L)) return 0;
  long double t = (v + 0x1p63L) - 0x1p63L;
  if (std::isgreater(t, v)) t -= 1;
  return static_cast<std::uint32_t>(static_cast<double>(t));
}

// The old colour split into channels by the remainder rule. For an ordinary
// pixel the remainders are its bytes; anything else takes the long way.
void SplitColour(std::uint32_t colour, long double &r, long double &g, long double &b) {
  if (colour < 0x01000000u) {
    r = colour & 0xFF;
    g = (colour >> 8) & 0xFF;
    b = (colour >> 16) & 0xFF;
    return;
  }
  long double t = static_cast<std::int32_t>(colour);
  r = fmodl(t, 256);
  t = (t - r) * 0.00390625L;
  g = fmodl(t, 256);
  t = (t - g) * 0.00390625L;
  b = fmodl(t, 256);
}

}  // namespace

TPaintResult PaintCarpet(TArithmeticUnit &engine, const TStringList &constants, const TStringList &carpet,
                         TPicture &picture, const TPaintProgress &progress) {
  TPaintResult result;
  TStringList &errors = result.ErrorLines;
  TQDString scanner;
  const int width = picture.Width, height = picture.Height;

  *engine.GetVariablePointer("ImgW", true) = width;
  *engine.GetVariablePointer("ImgH", true) = height;

  // Constants: each line compiled into slot 0 and run at once.
  engine.MathErrorMode = false;
  for (std::size_t i = 0; i < constants.size(); ++i) {
    scanner.Text = constants[i];
    if (!scanner.Tokenize()) errors.push_back(ConstantsPrefix(i) + scanner.ErrorMessage);
    if (scanner.Tokens->empty()) continue;
    long double value;
    if (!engine.SetExpression(0, constants[i]) || !engine.Calculate(0, value))
      errors.push_back(ConstantsPrefix(i) + engine.ErrorMessage);
  }

  // Carpet formulas: one slot each, in order; comment and blank lines take none.
  int slots = 0;
  for (std::size_t i = 0; i < carpet.size(); ++i) {
    scanner.Text = carpet[i];
    if (!scanner.Tokenize()) errors.push_back(CarpetPrefix(i) + scanner.ErrorMessage);
    if (scanner.Tokens->empty()) continue;
    if (slots >= engine.ExpressionCount) {
      errors.push_back(CarpetPrefix(i) + "絨毯の数式が多すぎます．");
      return result;
    }
    if (engine.SetExpression(slots, carpet[i]))
      engine.Expressions[static_cast<std::size_t>(slots)].Line = static_cast<std::int32_t>(i);
    else
      errors.push_back(CarpetPrefix(i) + engine.ErrorMessage);
    ++slots;
  }
  if (!errors.empty()) return result;

  // All eight exist before any pointer is taken: creating one may move the table.
  static const char *const names[] = {"x", "y", "r", "g", "b", "getr", "getg", "getb"};
  for (const char *name : names) engine.GetVariablePointer(name, true);
  long double *const x = engine.GetVariablePointer("x", false);
  long double *const y = engine.GetVariablePointer("y", false);
  long double *const r = engine.GetVariablePointer("r", false);
  long double *const g = engine.GetVariablePointer("g", false);
  long double *const b = engine.GetVariablePointer("b", false);
  long double *const getr = engine.GetVariablePointer("getr", false);
  long double *const getg = engine.GetVariablePointer("getg", false);
  long double *const getb = engine.GetVariablePointer("getb", false);

  engine.MathErrorMode = true;
  if (progress) progress(0, width);
  TPicture painted = TPicture::Filled(width, height, Black);
  for (int px = 0; px < width; ++px) {
    for (int py = 0; py < height; ++py) {
      *x = px;
      *y = py;
      SplitColour(picture.Pixel(px, py), *getr, *getg, *getb);
      int failed;
      if (!engine.CalculateSlots(slots, failed)) {
        errors.push_back(CarpetPrefix(static_cast<std::size_t>(engine.Expressions[static_cast<std::size_t>(failed)].Line)) +
                         engine.ErrorMessage);
        engine.MathErrorMode = false;
        return result;
      }
      painted.SetPixel(px, py, Channel(*r) | Channel(*g) << 8 | Channel(*b) << 16);
    }
    if (progress) progress(px + 1, width);
  }
  picture = std::move(painted);
  result.Painted = true;
  engine.MathErrorMode = false;

  TStringList report;
  // One line past the limit is enough to know that the report is cut.
  engine.GetMathErrors(report, MaxMathErrorLines + 1);
  if (!report.empty()) {
    errors.push_back("数学エラー...");
    if (report.size() > MaxMathErrorLines) {
      errors.insert(errors.end(), report.begin(), report.begin() + MaxMathErrorLines);
      errors.push_back("");
      errors.push_back("エラーの数が多すぎるため，切り捨てられました．");
    } else {
      errors.insert(errors.end(), report.begin(), report.end());
    }
  }
  return result;
}

}  // namespace velmora
