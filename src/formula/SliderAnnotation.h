#pragma once
// Slider annotations on constants lines:
//
//   s = 24 // @slider 4..96 step 0.5 log
//
// The scanner drops the comment, so the formula never sees the annotation; the
// window reads it to show a slider that rewrites the number. Only a line of the
// form `name = number` (optional sign, ASCII) can carry one, and only the sign
// and digits of that number are ever rewritten.
#include <cstddef>
#include <string>
#include <vector>

namespace velmora {

struct TSliderAnnotation {
  int Line = -1;  // 0-based line of the memo
  std::string Name;
  // The sign (if written) and the number, in bytes of the line.
  std::size_t NumberStart = 0;
  std::size_t NumberLength = 0;
  long double Value = 0;
  long double Min = 0, Max = 0;
  long double Step = 0;  // 0: none
  bool Log = false;
  // Fraction digits the range and the step are written with, less their
  // exponents (a step of 1e18 gives -18).
  int Decimals = 0;
  // The same slider (name, line and options): a row of the panel can stay.
  bool SameAs(const TSliderAnnotation &other) const;
};

enum class TSliderParse { None, Slider, Malformed };

// None: the line carries no annotation (a line that is a comment as a whole
// counts as none). Malformed: `why` says in one short Japanese phrase what is wrong.
TSliderParse ParseSliderLine(const std::string &line, TSliderAnnotation &slider, std::string &why);

struct TSliderHint {
  int Line = 0;  // 0-based
  std::string Why;
};
void FindSliders(const std::vector<std::string> &lines, std::vector<TSliderAnnotation> &sliders,
                 std::vector<TSliderHint> &hints);

// An ASCII number as the formulas read it: digits, an optional fraction and
// exponent, with an optional leading sign when `signed_`. False for anything else.
bool ReadSliderNumber(const std::string &text, long double &value, bool signed_ = true);

// Slider positions 0..SliderPositions(s); a step gives one position per step
// (up to a limit), otherwise a fine even grid, in log space with `log`.
int SliderPositions(const TSliderAnnotation &slider);
long double SliderValueAt(const TSliderAnnotation &slider, int position);
int SliderPositionOf(const TSliderAnnotation &slider, long double value);

// The shortest text that keeps the precision the step (or, without one, a
// slider position) stands for: "48", "1.5", "-0.25", "1.5e+20".
std::string SliderNumberText(const TSliderAnnotation &slider, long double value);
// The line with only the number's characters replaced by `number`.
std::string WithSliderNumber(const std::string &line, const TSliderAnnotation &slider, const std::string &number);

// What the context menu adds to a `name = number` line without an annotation:
// " // @slider MIN..MAX step S" inserted right after the number (an existing
// comment stays behind it). False for any other line.
bool SliderCommentFor(const std::string &line, std::size_t &at, std::string &inserted);

}  // namespace velmora
