// Animations: a frame is exactly the paint with the frame's value typed into
// the constants; constants set from outside.
#include <gtest/gtest.h>

#include <map>

#include "paint/Animation.h"

using velmora::TArithmeticUnit;
using velmora::TPicture;
using L = velmora::TStringList;

namespace {

// Keeps every frame it is given.
class TKeptFrames : public velmora::TFrameWriter {
 public:
  bool Add(int frame, const TPicture &picture, std::string &) override {
    Frames[frame] = picture;
    return true;
  }
  bool Finish(const std::atomic<bool> *, std::string &) override { return Finished = true; }
  std::map<int, TPicture> Frames;
  bool Finished = false;
};

// The constants with the line that assigns `t` replaced by one with `value` typed in.
L Typed(L constants, const std::string &value) {
  for (std::string &line : constants)
    if (line.rfind("t = ", 0) == 0) line = "t = " + value;
  return constants;
}

const L Constants = {"t = 0", "s = s + 1", "k = 3"};
const L Values = {"0", "0.5", "1", "1.5", "2", "2.5"};  // 0 to 3 in 6 frames

velmora::TAnimation Vary(bool carry) {
  velmora::TAnimation a;
  a.Variable = "t";
  a.From = 0;
  a.To = 3;
  a.Frames = 6;
  a.Carry = carry;
  return a;
}

}  // namespace

TEST(Animation, EachFrameIsThePaintWithItsValueTyped) {
  const L carpet = {"r = 128 + 127*sin(x/3 + t) + s", "g = y*k + t*10", "b = getb/2 + s*20"};
  const TPicture start = TPicture::Filled(9, 7, velmora::Rgb(1, 2, 200));
  TKeptFrames kept;
  TArithmeticUnit before;
  *before.GetVariablePointer("s", true) = 4;  // variables there were before the first frame
  const auto result = velmora::PaintAnimation(before, Constants, carpet, start, Vary(false), kept, {});
  ASSERT_TRUE(result.Written);
  ASSERT_TRUE(kept.Finished);
  ASSERT_EQ(kept.Frames.size(), Values.size());
  for (std::size_t k = 0; k < Values.size(); ++k) {
    TArithmeticUnit engine;
    *engine.GetVariablePointer("s", true) = 4;
    TPicture picture = start;
    ASSERT_TRUE(velmora::PaintCarpet(engine, Typed(Constants, Values[k]), carpet, picture).Painted);
    EXPECT_EQ(kept.Frames[static_cast<int>(k)].Pixels, picture.Pixels) << "frame " << k;
  }
}

TEST(Animation, CarryingOnEachFrameStartsFromTheOneBefore) {
  // Reads the picture before it and a variable that grows from frame to frame.
  const L carpet = {"r = getr/2 + 40*t + s", "g = getg + 1", "b = x*10 + s"};
  const TPicture start = TPicture::Filled(5, 4, velmora::Rgb(100, 0, 50));
  TKeptFrames kept;
  const auto result = velmora::PaintAnimation(TArithmeticUnit(), Constants, carpet, start, Vary(true), kept, {});
  ASSERT_TRUE(result.Written);
  TArithmeticUnit engine;
  TPicture picture = start;
  for (std::size_t k = 0; k < Values.size(); ++k) {
    ASSERT_TRUE(velmora::PaintCarpet(engine, Typed(Constants, Values[k]), carpet, picture).Painted);
    EXPECT_EQ(kept.Frames[static_cast<int>(k)].Pixels, picture.Pixels) << "frame " << k;
  }
}

TEST(Animation, LoopLeavesTheEndOutUnlessItIsIncluded) {
  velmora::TAnimation a;
  a.From = 2;
  a.To = 4;
  a.Frames = 4;
  EXPECT_EQ(velmora::FrameValue(a, 0), 2.0L);
  EXPECT_EQ(velmora::FrameValue(a, 1), 2.5L);
  EXPECT_EQ(velmora::FrameValue(a, 3), 3.5L) << "the last frame leads back into the first";
  a.IncludeEnd = true;
  a.Frames = 5;
  EXPECT_EQ(velmora::FrameValue(a, 1), 2.5L);
  EXPECT_EQ(velmora::FrameValue(a, 4), 4.0L);
}

TEST(Animation, AFailingFrameStopsAndIsNamed) {
  TKeptFrames kept;
  velmora::TAnimation a = Vary(false);
  a.To = 6;  // t = 0, 1, 2, ...
  std::vector<std::pair<int, L>> errors;
  velmora::TAnimationControl control;
  control.FrameErrors = [&](int frame, const L &lines) { errors.emplace_back(frame, lines); };
  const auto result = velmora::PaintAnimation(TArithmeticUnit(), Constants, {"r = sqrt(t - 1.5)", "q = t * (t - 1) * 5e4931 * 3"}, TPicture::Filled(2, 2, 0), a,
                                              kept, control);
  EXPECT_FALSE(result.Written);
  EXPECT_FALSE(kept.Finished);
  EXPECT_EQ(result.FailedFrame, 2) << "2 * 1 * 5e4931 * 3 overflows";
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0].first, 0);
  EXPECT_EQ(errors[0].second[0], "数学エラー...") << "sqrt(-1.5) painted on";
  EXPECT_EQ(errors[1].first, 1);
  EXPECT_EQ(errors[2].first, 2);
  EXPECT_EQ(errors[2].second, L{"絨毯の数式(2行目): 数式の実行中にエラーが発生しました"});
}

TEST(ConstantOverrides, ValuesAreReadAsAFormulaReadsThem) {
  velmora::TConstantOverride o;
  std::string error;
  ASSERT_TRUE(velmora::ParseConstantOverride("t=-1.25e1", o, error)) << error;
  EXPECT_EQ(o.Name, "t");
  EXPECT_EQ(o.Value, -12.5L);
  ASSERT_TRUE(velmora::ParseConstantOverride("t=０．１", o, error)) << "full-width digits as typed";
  TArithmeticUnit engine;
  long double typed = 0;
  ASSERT_TRUE(engine.SetExpression(0, "0.1") && engine.Calculate(0, typed));
  EXPECT_EQ(o.Value, typed);
  for (const char *bad : {"t", "t=", "t=a", "t=1+1", "1=2", "=3", "t=1e99999", "a b=1"})
    EXPECT_FALSE(velmora::ParseConstantOverride(bad, o, error)) << bad;
}

TEST(ConstantOverrides, OnlyAssignedVariablesCanBeSet) {
  const L constants = {"a = 1, b += 2 // c = 3", "d++", "--e", "f * 2", "/* g = 1 */"};
  EXPECT_EQ(velmora::AssignedVariables(constants), (std::vector<std::string>{"a", "b", "d", "e"}));
  std::string error;
  EXPECT_TRUE(velmora::CheckConstantOverrides({{"b", 1}, {"e", 2}}, constants, error));
  EXPECT_FALSE(velmora::CheckConstantOverrides({{"b", 1}, {"f", 2}}, constants, error));
  EXPECT_EQ(error, "変数 'f' はどの定数式でも代入されていません（代入される変数: a b d e）");
}
