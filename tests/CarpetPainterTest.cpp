#include "paint/CarpetPainter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "engine/Random.h"

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
  EXPECT_EQ(p.Pixels, velmora::TPixels(6, velmora::Black)) << "new variables start at 0";
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
  EXPECT_EQ(p.Pixels, velmora::TPixels(16, velmora::White));
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

namespace {

// The paint loop written the plain way: every slot by its own Calculate, one
// pixel after another, stopping at the first failure. The painter's batches,
// machine code and threads must all come out exactly like this.
struct TPlainOutcome {
  bool Painted = false;
  std::string Failure;  // "slot: message" of the failing run
  velmora::TPixels Pixels;
  std::vector<std::string> Values;  // variable value bytes, by position
  L Records;
};

std::uint32_t PlainChannel(long double v) {
  if (std::isnan(v) || v < 0) return 0;
  if (v > 255) return 255;
  return static_cast<std::uint32_t>(v);
}

TPlainOutcome PlainPaint(TArithmeticUnit &e, const L &carpet, const TPicture &start) {
  TPlainOutcome o;
  TPicture p = TPicture::Filled(start.Width, start.Height, velmora::Black);
  int slots = 0;
  for (const std::string &line : carpet) EXPECT_TRUE(e.SetExpression(slots++, line)) << line;
  for (const char *name : {"x", "y", "r", "g", "b", "getr", "getg", "getb"}) e.GetVariablePointer(name, true);
  e.MathErrorMode = true;
  bool ok = true;
  for (int px = 0; px < start.Width && ok; ++px) {
    for (int py = 0; py < start.Height && ok; ++py) {
      *e.GetVariablePointer("x", false) = px;
      *e.GetVariablePointer("y", false) = py;
      const std::uint32_t c = start.Pixel(px, py);
      *e.GetVariablePointer("getr", false) = c & 0xFF;
      *e.GetVariablePointer("getg", false) = (c >> 8) & 0xFF;
      *e.GetVariablePointer("getb", false) = (c >> 16) & 0xFF;
      long double v;
      for (int k = 0; k < slots && ok; ++k) {
        ok = e.Calculate(k, v);
        if (!ok) o.Failure = std::to_string(k) + ": " + e.ErrorMessage;
      }
      if (ok) {
        long double r = 0, g = 0, b = 0;
        e.GetVariableValue("r", r), e.GetVariableValue("g", g), e.GetVariableValue("b", b);
        p.SetPixel(px, py, PlainChannel(r) | PlainChannel(g) << 8 | PlainChannel(b) << 16);
      }
    }
  }
  e.MathErrorMode = false;
  o.Painted = ok;
  if (ok) o.Pixels = p.Pixels;
  for (std::int32_t i = 0; i < e.VariableCount; ++i)
    o.Values.emplace_back(reinterpret_cast<const char *>(&e.Variables[static_cast<std::size_t>(i)].Value), 10);
  e.GetMathErrors(o.Records);
  return o;
}

}  // namespace

TEST(CarpetPainter, FastLoopMatchesThePlainLoop) {
  const std::vector<L> sets = {
      {"r = x * 3", "g = y * 2", "b = getr"},
      {"n++", "acc += x*0.5 - y", "r = acc/n", "g = getg + random(9)"},
      {"a = sqrt(x - 40)", "b = ln(y - 70)", "c = 1/(x - y)", "r = a + b + c"},     // records mid-run
      {"a = x", "q = exp(x) * 1e4925", "r = 1"},                                      // overflow from x = 12
      {"a = x + y", "b = mod(1, x*1000 + y - 3077)", "r = a"},                         // fails mid-column
      {"k = y", "j = random(y * 1e17)", "r = j"},                                     // beyond 64 bits at y = 93
      {"j = random(-9223372036854775808 - y*4096)", "r = j + 1"},                     // fits at y = 0 only
      {"n++", "z = 1/(n - 500)", "w = log(1, n - 700)", "r = z"},                     // the executor's own records
      {"v = 1e4000 * (x - 5)", "u = v * 1e4000 + sqrt(-1)", "r = u"},
  };
  for (const L &set : sets) {
    for (int threads : {1, 2}) {
      for (bool native : {true, false}) {
        TArithmeticUnit plain, fast;
        plain.NativeCodeEnabled = fast.NativeCodeEnabled = native;
        TPicture start = TPicture::Filled(60, 130, velmora::Black);
        for (int x = 0; x < 60; ++x)
          for (int y = 0; y < 130; ++y) start.SetPixel(x, y, velmora::Rgb(x * 4, y, 9));
        velmora::RandomGenerator().Seed(3);
        const TPlainOutcome want = PlainPaint(plain, set, start);
        const std::uint64_t randomAfter = velmora::RandomGenerator().State;
        velmora::RandomGenerator().Seed(3);
        TPicture picture = start;
        velmora::TPaintControl control;
        control.Threads = threads;
        const TPaintResult got = velmora::PaintCarpet(fast, {}, set, picture, control);
        const std::string label = set[1] + (native ? " (machine code, " : " (interpreter, ") + std::to_string(threads) + ")";
        EXPECT_EQ(velmora::RandomGenerator().State, randomAfter) << label;
        ASSERT_EQ(got.Painted, want.Painted) << label;
        if (want.Painted) {
          EXPECT_TRUE(picture.Pixels == want.Pixels) << label;
          // The report holds the plain loop's records, one line each.
          const L lines(got.ErrorLines.begin() + (got.ErrorLines.empty() ? 0 : 1),
                        got.ErrorLines.begin() + std::min<std::size_t>(got.ErrorLines.size(), 1001));
          const L expected(want.Records.begin(), want.Records.begin() + std::min<std::size_t>(want.Records.size(), 1000));
          EXPECT_EQ(lines, expected) << label;
        } else {
          ASSERT_EQ(got.ErrorLines.size(), 1u) << label;
          const std::string slot = want.Failure.substr(0, want.Failure.find(':'));
          EXPECT_EQ(got.ErrorLines[0], "絨毯の数式(" + std::to_string(std::stoi(slot) + 1) + "行目): " +
                                           want.Failure.substr(want.Failure.find(": ") + 2))
              << label;
          L left;
          fast.GetMathErrors(left);
          EXPECT_EQ(left, want.Records) << label << ": records before the failure stay for the next report";
        }
        std::vector<std::string> values;
        for (std::int32_t i = 0; i < fast.VariableCount; ++i)
          values.emplace_back(reinterpret_cast<const char *>(&fast.Variables[static_cast<std::size_t>(i)].Value), 10);
        // The painter also has ImgW and ImgH, created first.
        ASSERT_EQ(values.size(), want.Values.size() + 2) << label;
        EXPECT_TRUE(std::equal(want.Values.begin(), want.Values.end(), values.begin() + 2)) << label << ": variables";
      }
    }
  }
}
