// Slider annotations on constants lines: the grammar, the numbers a slider
// writes, and what the context menu adds.
#include "formula/SliderAnnotation.h"

#include <gtest/gtest.h>

#include "engine/ArithmeticUnit.h"

namespace velmora {
namespace {

struct TCase {
  const char *Line;
  TSliderParse Kind;
  const char *NameOrWhy;  // the name of a slider, a part of the hint otherwise
  long double Min = 0, Max = 0, Step = 0;
  bool Log = false;
};

TEST(SliderAnnotation, GrammarIncludingMalformedOnes) {
  const TCase cases[] = {
      {"s = 24 // @slider 4..96", TSliderParse::Slider, "s", 4, 96},
      {"  s=24//@slider 4 .. 96   step 0.5 log", TSliderParse::Slider, "s", 4, 96, 0.5L, true},
      {"t = -1.5 // @slider -10..-0.5", TSliderParse::Slider, "t", -10, -0.5L},
      {"u = 2 // @slider 0.5..1e1 log step 0.25 // 倍率", TSliderParse::Slider, "u", 0.5L, 10, 0.25L, true},
      {"幅 = +3 // 線の幅 @slider 0..10", TSliderParse::Slider, "幅", 0, 10},
      {"s = 24 // 幅", TSliderParse::None, ""},
      {"s = 24 // @sliders 0..10", TSliderParse::None, ""},
      {"// s = 24 // @slider 0..10", TSliderParse::None, ""},
      {"s = 24 // @slider 96..4", TSliderParse::Malformed, "最小値が最大値以上"},
      {"s = 24 // @slider 4..4", TSliderParse::Malformed, "最小値が最大値以上"},
      {"s = 24 // @slider 4..x", TSliderParse::Malformed, "範囲"},
      {"s = 24 // @slider", TSliderParse::Malformed, "範囲"},
      {"s = 24 // @slider -1..10 log", TSliderParse::Malformed, "log は正の範囲"},
      {"s = 24 // @slider 0..10 step 0", TSliderParse::Malformed, "step は正の数"},
      {"s = 24 // @slider 0..10 step -1", TSliderParse::Malformed, "step は正の数"},
      {"s = 24 // @slider 0..10 step", TSliderParse::Malformed, "step の後"},
      {"s = 24 // @slider 0..10 step 1 step 2", TSliderParse::Malformed, "二度"},
      {"s = 24 // @slider 0..10 fast", TSliderParse::Malformed, "知らない語「fast」"},
      {"s = 24 // @slider 1e5000..2e5000", TSliderParse::Malformed, "大きすぎ"},
      {"s = 2 * 12 // @slider 0..10", TSliderParse::Malformed, "名前 = 数値"},
      {"s == 24 // @slider 0..10", TSliderParse::Malformed, "名前 = 数値"},
      {"s = - 24 // @slider 0..10", TSliderParse::Malformed, "名前 = 数値"},
      {"s = x // @slider 0..10", TSliderParse::Malformed, "名前 = 数値"},
  };
  for (const TCase &c : cases) {
    TSliderAnnotation a;
    std::string why;
    const TSliderParse kind = ParseSliderLine(c.Line, a, why);
    EXPECT_EQ(kind, c.Kind) << c.Line << " / " << why;
    if (kind == TSliderParse::Slider && c.Kind == kind) {
      EXPECT_EQ(a.Name, c.NameOrWhy) << c.Line;
      EXPECT_EQ(a.Min, c.Min) << c.Line;
      EXPECT_EQ(a.Max, c.Max) << c.Line;
      EXPECT_EQ(a.Step, c.Step) << c.Line;
      EXPECT_EQ(a.Log, c.Log) << c.Line;
    }
    if (c.Kind == TSliderParse::Malformed) {
      EXPECT_NE(why.find(c.NameOrWhy), std::string::npos) << c.Line << " / " << why;
    }
  }
}

TEST(SliderAnnotation, FindsSlidersAndHintsByLine) {
  std::vector<TSliderAnnotation> sliders;
  std::vector<TSliderHint> hints;
  FindSliders({"//定数", "a = 1 // @slider 0..2", "b = 2", "c = 3 // @slider 5..1", "d = 4 // @slider 0..8"}, sliders,
              hints);
  ASSERT_EQ(sliders.size(), 2u);
  EXPECT_EQ(sliders[0].Line, 1);
  EXPECT_EQ(sliders[1].Name, "d");
  EXPECT_EQ(sliders[1].Line, 4);
  ASSERT_EQ(hints.size(), 1u);
  EXPECT_EQ(hints[0].Line, 3);
}

TSliderAnnotation Parsed(const std::string &line) {
  TSliderAnnotation a;
  std::string why;
  EXPECT_EQ(ParseSliderLine(line, a, why), TSliderParse::Slider) << line << " / " << why;
  return a;
}

TEST(SliderAnnotation, RewritesOnlyTheNumberByteForByte) {
  const std::string line = "  幅 = +24   // @slider -48..48 step 0.25 // 全角／コメント　";
  const TSliderAnnotation a = Parsed(line);
  EXPECT_EQ(WithSliderNumber(line, a, "30.75"), "  幅 = +30.75   // @slider -48..48 step 0.25 // 全角／コメント　");
  EXPECT_EQ(WithSliderNumber(line, a, "-3"), "  幅 = -3   // @slider -48..48 step 0.25 // 全角／コメント　");
  const std::string tight = "k=5.//@slider 0..10";
  EXPECT_EQ(WithSliderNumber(tight, Parsed(tight), "7.5"), "k=7.5//@slider 0..10");
}

// What a slider writes, run as the formula it is part of.
long double Evaluated(const std::string &line) {
  TArithmeticUnit unit;
  long double result = 0;
  EXPECT_TRUE(unit.SetExpression(0, line)) << line << ": " << unit.ErrorMessage;
  EXPECT_TRUE(unit.Calculate(0, result)) << line << ": " << unit.ErrorMessage;
  return result;
}

TEST(SliderAnnotation, NumbersAreShortAndKeepTheStepsPrecision) {
  const TSliderAnnotation half = Parsed("s = 24 // @slider 4..96 step 0.5");
  EXPECT_EQ(SliderPositions(half), 184);
  EXPECT_EQ(SliderNumberText(half, SliderValueAt(half, 3)), "5.5");
  EXPECT_EQ(SliderNumberText(half, SliderValueAt(half, 4)), "6");
  const TSliderAnnotation fine = Parsed("s = 0.1 // @slider 0.1..0.2 step 0.001");
  EXPECT_EQ(SliderNumberText(fine, SliderValueAt(fine, 37)), "0.137");
  const TSliderAnnotation free = Parsed("s = 0 // @slider -1..1");
  EXPECT_EQ(SliderNumberText(free, SliderValueAt(free, 500)), "0");
  EXPECT_EQ(SliderNumberText(free, SliderValueAt(free, 1)), "-0.998");
  const TSliderAnnotation huge = Parsed("s = 1e20 // @slider 1e20..3e20");
  const std::string text = SliderNumberText(huge, SliderValueAt(huge, 250));
  EXPECT_EQ(text, "1.5e+20");
  // A step of 1 keeps all 18 digits (more than a double holds).
  const TSliderAnnotation units = Parsed("s = 1 // @slider 0..1e18 step 1");
  EXPECT_EQ(SliderNumberText(units, 123456789012345678.0L), "123456789012345678");
  // The formulas read what the slider writes as the value it stands for.
  EXPECT_EQ(Evaluated(WithSliderNumber("s = 1 // @slider 4..96 step 0.5", half, "5.5")), 5.5L);
  EXPECT_EQ(Evaluated("s = " + text), 1.5e20L);
  // Every position comes back to itself.
  for (int p = 0; p <= SliderPositions(half); ++p) EXPECT_EQ(SliderPositionOf(half, SliderValueAt(half, p)), p);
}

TEST(SliderAnnotation, LogSlidersMoveInLogSpace) {
  const TSliderAnnotation log = Parsed("s = 1 // @slider 0.1..10 log");
  EXPECT_NEAR(static_cast<double>(SliderValueAt(log, 500)), 1.0, 1e-12);
  EXPECT_NEAR(static_cast<double>(SliderValueAt(log, 250)), 0.316227766, 1e-9);
  EXPECT_EQ(SliderPositionOf(log, 1), 500);
  // One position near the low end is still a different number.
  EXPECT_NE(SliderNumberText(log, SliderValueAt(log, 1)), SliderNumberText(log, SliderValueAt(log, 0)));
}

TEST(SliderAnnotation, ContextMenuCommentHasASensibleRange) {
  struct {
    const char *Line, *Result;
  } cases[] = {
      {"s = 24", "s = 24 // @slider 0..48 step 0.1"},
      {"k = -0.5 // 傾き", "k = -0.5 // @slider -1..1 step 0.01 // 傾き"},
      {"z = 0", "z = 0 // @slider -1..1 step 0.01"},
      {"w = 300  ", "w = 300 // @slider 0..600 step 1  "},
      {"big = 1e20", "big = 1e20 // @slider 0..2e+20 step 1e+18"},
      {"tiny = 3e-30", "tiny = 3e-30 // @slider 0..6e-30 step 1e-32"},
  };
  for (const auto &c : cases) {
    std::size_t at = 0;
    std::string inserted;
    ASSERT_TRUE(SliderCommentFor(c.Line, at, inserted)) << c.Line;
    const std::string result = std::string(c.Line).insert(at, inserted);
    EXPECT_EQ(result, c.Result);
    const TSliderAnnotation a = Parsed(result);
    EXPECT_LE(a.Min, a.Value);
    EXPECT_GE(a.Max, a.Value);
  }
  std::size_t at = 0;
  std::string inserted;
  EXPECT_FALSE(SliderCommentFor("s = 24 // @slider 0..1", at, inserted));
  EXPECT_FALSE(SliderCommentFor("s = x", at, inserted));
  EXPECT_FALSE(SliderCommentFor("// s = 24", at, inserted));
}

}  // namespace
}  // namespace velmora
