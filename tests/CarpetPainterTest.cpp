#include "paint/CarpetPainter.h"

#include <gtest/gtest.h>

using velmora::TArithmeticUnit;
using velmora::TPaintResult;
using velmora::TPicture;
using L = velmora::TStringList;

namespace {

long double Var(TArithmeticUnit &e, const std::string &name) {
  long double v = -1;
  EXPECT_TRUE(e.GetVariableValue(name, v)) << name;
  return v;
}

TPaintResult Paint(TArithmeticUnit &e, const L &constants, const L &carpet, TPicture &picture) {
  return velmora::PaintCarpet(e, constants, carpet, picture);
}

}  // namespace

TEST(CarpetPainter, ClampsEachChannel) {
  struct TCase {
    const char *Formula;
    std::uint32_t Red;
  } cases[] = {{"r = 255.5", 255}, {"r = 300", 255}, {"r = -0.5", 0}, {"r = 0.99", 0},
               {"r = 254.99", 254}, {"r = n", 0}, {"r = 1e4000", 255}, {"r = -1e4000", 0}};
  for (const auto &c : cases) {
    TArithmeticUnit e;
    TPicture p = TPicture::Filled(2, 2, velmora::White);
    // A constant may hold NaN: sqrt(-1) outside math error mode.
    const TPaintResult r = Paint(e, {"n = sqrt(-1)"}, {c.Formula, "g = 7", "b = 300"}, p);
    ASSERT_TRUE(r.Painted) << c.Formula;
    EXPECT_TRUE(r.ErrorLines.empty()) << c.Formula;
    EXPECT_EQ(p.Pixel(1, 1), c.Red | 7u << 8 | 255u << 16) << c.Formula;
  }
}

TEST(CarpetPainter, EmptyCarpetPaintsTheCurrentColour) {
  TArithmeticUnit e;
  TPicture p = TPicture::Filled(3, 2, velmora::White);
  ASSERT_TRUE(Paint(e, {}, {"// nothing", ""}, p).Painted);
  EXPECT_EQ(p.Pixels, std::vector<std::uint32_t>(6, velmora::Black)) << "new variables start at 0";
  ASSERT_TRUE(Paint(e, {"r = 10", "b = 30"}, {}, p).Painted);
  EXPECT_EQ(p.Pixel(2, 1), velmora::Rgb(10, 0, 30)) << "and keep their values from paint to paint";
}

TEST(CarpetPainter, ReadsThePreviousPicture) {
  TArithmeticUnit e;
  TPicture p = TPicture::Filled(4, 3, velmora::Black);
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 3; ++y) p.SetPixel(x, y, velmora::Rgb(x * 60, y * 100, 7));
  const TPicture original = p;
  ASSERT_TRUE(Paint(e, {}, {"r = getr", "g = getg", "b = getb"}, p).Painted);
  EXPECT_EQ(p.Pixels, original.Pixels);
  const L rotate = {"r = getg", "g = getb", "b = getr"};
  ASSERT_TRUE(Paint(e, {}, rotate, p).Painted);
  EXPECT_EQ(p.Pixel(3, 2), velmora::Rgb(200, 7, 180));
  ASSERT_TRUE(Paint(e, {}, rotate, p).Painted);
  ASSERT_TRUE(Paint(e, {}, rotate, p).Painted);
  EXPECT_EQ(p.Pixels, original.Pixels) << "three rotations come back";
}

TEST(CarpetPainter, CoordinatesRunColumnByColumn) {
  TArithmeticUnit e;
  TPicture p = TPicture::Filled(3, 4, velmora::White);
  // n counts pixels in painting order: x outer, y inner.
  ASSERT_TRUE(Paint(e, {"n = 0"}, {"r = n++", "g = x", "b = y"}, p).Painted);
  EXPECT_EQ(p.Pixel(0, 3), velmora::Rgb(3, 0, 3));
  EXPECT_EQ(p.Pixel(1, 0), velmora::Rgb(4, 1, 0));
  EXPECT_EQ(p.Pixel(2, 3), velmora::Rgb(11, 2, 3));
  EXPECT_EQ(Var(e, "x"), 2);
  EXPECT_EQ(Var(e, "y"), 3);
}

TEST(CarpetPainter, ErrorLinesAndNumbering) {
  TArithmeticUnit e;
  TPicture p = TPicture::Filled(2, 2, velmora::White);
  const TPicture before = p;
  const TPaintResult r = Paint(e, {"a = 1", "", "b = (2", "c = \"x"},
                               {"// comment", "r = x +", "", "g = foo(1)", "b = 1"}, p);
  EXPECT_FALSE(r.Painted);
  EXPECT_EQ(r.ErrorLines, (L{"定数式(3行目): 括弧が閉じていない", "定数式(4行目): SyntaxError: String is not closed.",
                             "定数式(4行目): SyntaxError: String is not closed.",
                             "絨毯の数式(2行目): 二項(+,-)演算子の右側は乗除式でなければならない",
                             "絨毯の数式(4行目): 式の文法エラー."}));
  EXPECT_EQ(p.Pixels, before.Pixels);
  EXPECT_EQ(Var(e, "a"), 1) << "constants before the error keep their values";
}

TEST(CarpetPainter, EightHundredFormulasButNotMore) {
  TArithmeticUnit e;
  TPicture p = TPicture::Filled(1, 1, velmora::White);
  L carpet(800, "r = r + 1");
  carpet.insert(carpet.begin() + 5, "// comments take no slot");
  ASSERT_TRUE(Paint(e, {"r = 0"}, carpet, p).Painted);
  EXPECT_EQ(p.Pixel(0, 0), velmora::Rgb(255, 0, 0));
  EXPECT_EQ(Var(e, "r"), 800);
  carpet.push_back("g = 1");
  carpet.push_back("b = foo(");  // never looked at
  const TPaintResult r = Paint(e, {}, carpet, p);
  EXPECT_FALSE(r.Painted);
  EXPECT_EQ(r.ErrorLines, (L{"絨毯の数式(802行目): 絨毯の数式が多すぎます．"}));
}

TEST(CarpetPainter, RunTimeFailureKeepsThePictureAndTheFailedPixelsValues) {
  TArithmeticUnit e;
  TPicture p = TPicture::Filled(8, 2, velmora::White);
  // exp(x) * 1e4930 overflows from x = 5 on.
  const TPaintResult r = Paint(e, {}, {"a = x", "q = exp(x) * 1e4930", "r = 1"}, p);
  EXPECT_FALSE(r.Painted);
  EXPECT_EQ(r.ErrorLines, (L{"絨毯の数式(2行目): 数式の実行中にエラーが発生しました"}));
  EXPECT_EQ(p.Pixels, std::vector<std::uint32_t>(16, velmora::White));
  EXPECT_EQ(Var(e, "a"), 5);
  EXPECT_EQ(Var(e, "y"), 0);
  EXPECT_FALSE(e.MathErrorMode);
}

TEST(CarpetPainter, MathErrorsAreReportedAndCut) {
  for (int count : {999, 1000, 1001, 5000}) {
    TArithmeticUnit e;
    TPicture p = TPicture::Filled(count, 1, velmora::White);
    const TPaintResult r = Paint(e, {}, {"r = sqrt(-1 - x)"}, p);
    ASSERT_TRUE(r.Painted);
    const std::size_t shown = std::min<std::size_t>(static_cast<std::size_t>(count), 1000);
    ASSERT_EQ(r.ErrorLines.size(), 1 + shown + (count > 1000 ? 2 : 0)) << count;
    EXPECT_EQ(r.ErrorLines[0], "数学エラー...");
    EXPECT_EQ(r.ErrorLines[1], "(2)domain error: sqrt(-1)");
    EXPECT_EQ(r.ErrorLines[shown], "(2)domain error: sqrt(-" + std::to_string(shown) + ")");
    if (count > 1000) {
      EXPECT_EQ(r.ErrorLines[1001], "");
      EXPECT_EQ(r.ErrorLines[1002], "エラーの数が多すぎるため，切り捨てられました．");
    }
    L again;
    e.GetMathErrors(again);
    EXPECT_TRUE(again.empty()) << "the report empties the records";
  }
}

TEST(CarpetPainter, PictureSizeVariablesAreInformative) {
  TArithmeticUnit e;
  TPicture p = TPicture::Filled(6, 4, velmora::White);
  ASSERT_TRUE(Paint(e, {"ImgW = 100"}, {"r = ImgW", "g = ImgH"}, p).Painted);
  EXPECT_EQ(p.Width, 6);
  EXPECT_EQ(p.Pixel(5, 3), velmora::Rgb(100, 4, 0));
  ASSERT_TRUE(Paint(e, {}, {"r = ImgW"}, p).Painted);
  EXPECT_EQ(p.Pixel(0, 0) & 0xFF, 6u) << "the next paint sets it back";
}

TEST(CarpetPainter, ProgressOncePerColumn) {
  TArithmeticUnit e;
  TPicture p = TPicture::Filled(5, 3, velmora::White);
  std::vector<int> seen;
  velmora::PaintCarpet(e, {}, {"r = 1"}, p, [&](int done, int width) {
    EXPECT_EQ(width, 5);
    seen.push_back(done);
  });
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST(Picture, ResizeKeepsTheTopLeftAndFillsWhite) {
  TPicture p = TPicture::Filled(4, 4, velmora::Black);
  p.SetPixel(1, 2, velmora::Rgb(1, 2, 3));
  p.Resize(2, 3);
  EXPECT_EQ(p.Width, 2);
  EXPECT_EQ(p.Pixel(1, 2), velmora::Rgb(1, 2, 3));
  p.Resize(4, 4);
  EXPECT_EQ(p.Pixel(1, 2), velmora::Rgb(1, 2, 3));
  EXPECT_EQ(p.Pixel(3, 0), velmora::White);
  EXPECT_EQ(p.Pixel(0, 3), velmora::White);
  EXPECT_EQ(p.Pixel(1, 1), velmora::Black);
  std::string error;
  EXPECT_TRUE(velmora::CheckPictureSize(1, 10000, error));
  EXPECT_FALSE(velmora::CheckPictureSize(0, 5, error));
  EXPECT_FALSE(velmora::CheckPictureSize(10001, 5, error));
  EXPECT_NE(error.find("10001"), std::string::npos) << error;
}
