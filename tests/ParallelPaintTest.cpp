// Painting on several threads, or coarse to fine, must be indistinguishable
// from painting column by column on one: the same pixels, error lines, records
// left for the next report and variable values. Every shipped template and
// example is painted both ways, and so are sets built to be dependent, to
// fail, and to record many math errors.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>

#include "document/Work.h"
#include "engine/MathErrorManager.h"
#include "engine/Random.h"
#include "paint/CarpetPainter.h"
#include "text/LineList.h"

using velmora::TArithmeticUnit;
using velmora::TPaintControl;
using velmora::TPaintResult;
using velmora::TPicture;
using velmora::TStringList;

namespace {

const std::string Build = VELMORA_BUILD_DIR;
const std::string Source = VELMORA_SOURCE_DIR;

// A picture with something in it, for the sets that read the old colours.
TPicture Pattern(int w, int h) {
  TPicture p = TPicture::Filled(w, h, 0);
  for (int x = 0; x < w; ++x)
    for (int y = 0; y < h; ++y) p.SetPixel(x, y, velmora::Rgb((x * 7) % 256, (y * 13) % 256, (x * y) % 256));
  return p;
}

// Everything a user can observe after a paint.
struct TOutcome {
  TPaintResult Result;
  TPicture Picture;
  std::vector<std::pair<std::string, std::string>> Variables;  // name, value bytes
  TStringList LeftRecords;                                     // what the next report would start with
};

// `threads` 0: column by column on one thread, what the others must give.
TOutcome PaintWith(int threads, const TStringList &constants, const TStringList &carpet, const TPicture &start,
                   int paints = 1) {
  TOutcome o;
  TArithmeticUnit engine;
  // Coarse to fine on one thread both with and without reused terms.
  if (threads == 1) engine.ReuseEnabled = false;
  velmora::RandomGenerator().Seed(1);  // the same draws for every run
  o.Picture = start;
  TPaintControl control;
  control.Threads = std::max(threads, 1);
  control.ColumnOrder = threads == 0;
  for (int i = 0; i < paints; ++i) o.Result = velmora::PaintCarpet(engine, constants, carpet, o.Picture, control);
  for (std::int32_t i = 0; i < engine.VariableCount; ++i) {
    const auto &v = engine.Variables[static_cast<std::size_t>(i)];
    o.Variables.emplace_back(v.Name, std::string(reinterpret_cast<const char *>(&v.Value), 10));
  }
  engine.GetMathErrors(o.LeftRecords);
  return o;
}

// Paints both ways and compares; gives the parallel outcome for further checks.
TOutcome ExpectSameBothWays(const std::string &what, const TStringList &constants, const TStringList &carpet,
                            const TPicture &start, bool parallel, int paints = 1) {
  const TOutcome one = PaintWith(0, constants, carpet, start, paints);
  TOutcome many;
  for (int threads : {1, 2, 3, 5}) {
    many = PaintWith(threads, constants, carpet, start, paints);
    const std::string label = what + " on " + std::to_string(threads) + " threads";
    EXPECT_EQ(one.Result.Threads, 1) << label;
    EXPECT_FALSE(one.Result.InPasses) << label;
    EXPECT_EQ(many.Result.Threads, parallel ? threads : 1) << label << ": analysis decision";
    EXPECT_EQ(many.Result.InPasses, parallel) << label << ": coarse to fine";
    EXPECT_EQ(many.Result.Painted, one.Result.Painted) << label;
    EXPECT_EQ(many.Result.Cancelled, one.Result.Cancelled) << label;
    EXPECT_EQ(many.Result.ErrorLines, one.Result.ErrorLines) << label;
    EXPECT_TRUE(many.Picture.Pixels == one.Picture.Pixels) << label << ": pixels differ";
    EXPECT_EQ(many.Variables, one.Variables) << label << ": variable values differ";
    EXPECT_EQ(many.LeftRecords, one.LeftRecords) << label;
  }
  return many;
}

TStringList Load(const std::string &path) {
  TStringList lines;
  std::string error;
  EXPECT_TRUE(velmora::text::LoadLineList(path, lines, error)) << error;
  return lines;
}

}  // namespace

TEST(ParallelPaint, EveryTemplateGivesTheSameResult) {
  std::vector<std::string> names;
  ASSERT_TRUE(velmora::text::ListNames(Build + "/Template", ".qtp", names));
  ASSERT_GE(names.size(), 12u);
  // Only these draw random numbers or carry a value from pixel to pixel.
  const std::vector<std::string> dependent = {"ノイズ", "足し続ける"};
  for (const std::string &name : names) {
    const bool parallel = std::find(dependent.begin(), dependent.end(), name) == dependent.end();
    ExpectSameBothWays(name, {}, Load(Build + "/Template/" + name + ".qtp"), Pattern(67, 41), parallel, 2);
  }
}

TEST(ParallelPaint, EveryExampleGivesTheSameResult) {
  std::vector<std::string> names;
  ASSERT_TRUE(velmora::text::ListNames(Source + "/examples", ".vokt", names));
  ASSERT_GE(names.size(), 6u);
  for (const std::string &name : names) {
    velmora::TMessageRecorder boxes;
    velmora::TVOKT document(&boxes);
    ASSERT_TRUE(document.Read(Source + "/examples/" + name + ".vokt")) << name;
    velmora::TWork work;
    ASSERT_TRUE(velmora::TakeWork(document, work)) << name;
    const TOutcome o = ExpectSameBothWays(name, work.Constants, work.Carpet, Pattern(50, 37), true, 2);
    EXPECT_TRUE(o.Result.Painted) << name;
  }
}

TEST(ParallelPaint, DependentSetsStayOnOneThread) {
  const std::vector<TStringList> sets = {
      {"n++", "r = n"},                        // carried from pixel to pixel
      {"r = prev", "prev = x*y"},              // read before it is written
      {"acc += x", "g = acc"},                 // op= reads first
      {"r = random(200)"},                     // the generator's sequence
      {"randomize()", "r = 5"},                // reseeds
      {"r = g + 1", "g = x"},                  // g is written, later in the order
      {"t = x", "r = t + u", "u = y"},         // u is read before its write
      {"a = b = a + 1"},                       // one line reading what it writes
      {"a = 5, b = a * 2", "r = b"},           // the product is taken before the assignment
  };
  for (const TStringList &set : sets) ExpectSameBothWays(set[0] + "; " + set[1 % set.size()], {}, set, Pattern(23, 19), false, 2);
}

TEST(ParallelPaint, IndependentSetsAreRecognised) {
  const std::vector<TStringList> sets = {
      {"x = x * 2", "r = x"},                // the paint command writes x first
      {"r = getr + k", "g = getg"},          // k is only read
      {"t = x + y", "t = t * 2", "r = t"},  // written before read
      {"r = r0", "g = ImgW"},                // constants from the header
      {"a = 5, b = x * 2", "r = a + b"},     // the comma
  };
  for (const TStringList &set : sets)
    ExpectSameBothWays(set[0], {"k = 3", "r0 = 9"}, set, Pattern(29, 11), true, 2);
}

TEST(ParallelPaint, MathErrorReportsAreJoinedInColumnOrder) {
  // A record in every pixel, with the pixel in its arguments: the order shows.
  ExpectSameBothWays("ln", {}, {"r = ln(-x - y * 1000 - 1)"}, Pattern(31, 17), true);
  // More than the report takes, so the cut falls inside one thread's part.
  const TOutcome o = ExpectSameBothWays("many", {}, {"r = sqrt(-x - 1) + ln(-y - 1)", "g = 1/(x - 5)"},
                                        Pattern(40, 30), true);
  ASSERT_TRUE(o.Result.Painted);
  EXPECT_EQ(o.Result.ErrorLines.back(), "エラーの数が多すぎるため，切り捨てられました．");
}

TEST(ParallelPaint, RecordsBeyondTheKeptNumberAreTheSameToo) {
  // 15,000 faults, more than the records keep, and a failure at the very end:
  // what stays for the next report must be the first ones in column order.
  const TOutcome o = ExpectSameBothWays("records", {}, {"r = ln(-x - y * 1000 - 1)", "b = mod(1, x*1000 + y - 149099)"},
                                        Pattern(150, 100), true);
  EXPECT_FALSE(o.Result.Painted);
  ASSERT_EQ(o.LeftRecords.size(), 10000u);
  EXPECT_EQ(o.LeftRecords.back(), "(4)domain error: ln(-99100)") << "the 10,000th pixel: column 99, y = 99";
}

TEST(ParallelPaint, FailuresReportTheFirstFailingPixel) {
  struct TCase {
    const char *What;
    TStringList Carpet;
  } cases[] = {
      // mod by zero is a processor fault that ends the paint; the records made
      // before it stay for the next report.
      {"mid column", {"a = x + y", "r = sqrt(-a)", "b = mod(1, x*100 + y - 2907)", "c = 5 + y"}},
      {"first pixel of a column", {"a = x + y", "b = mod(1, x*100 + y - 2900)", "c = 5 + y"}},
      {"first pixel", {"a = x + y", "b = mod(1, x*100 + y)", "c = 5 + y"}},
      {"last pixel", {"a = x + y", "c = 5 + y", "b = mod(1, x*100 + y - 6310)"}},
      {"two failing columns", {"c = 5 + y", "b = mod(1, (x - 40)*(x - 20)*100 + y - 3)"}},
      // (8, 0) fails in the first pass, long before (1, 1), which comes first
      // column by column; the records before (1, 1) stay, none after it.
      {"later pixel in an earlier pass", {"a = x + y", "r = sqrt(-a)", "b = mod(1, (x - 8)*(x*100 + y - 101))"}},
  };
  for (const TCase &c : cases) {
    const TOutcome o = ExpectSameBothWays(c.What, {}, c.Carpet, Pattern(64, 11), true);
    EXPECT_FALSE(o.Result.Painted) << c.What;
    ASSERT_EQ(o.Result.ErrorLines.size(), 1u) << c.What;
    EXPECT_NE(o.Result.ErrorLines[0].find("数式の実行中にエラーが発生しました"), std::string::npos) << c.What;
  }
}

TEST(ParallelPaint, CancelledBeforeAnyPixelChangesNothing) {
  for (int threads : {1, 2}) {
    TArithmeticUnit engine;
    TPicture picture = Pattern(20, 10);
    const TPicture before = picture;
    std::atomic<bool> cancel{true};
    TPaintControl control;
    control.Threads = threads;
    control.Cancel = &cancel;
    const TPaintResult r = velmora::PaintCarpet(engine, {}, {"r = 1/0", "g = x"}, picture, control);
    EXPECT_TRUE(r.Cancelled);
    EXPECT_FALSE(r.Painted);
    EXPECT_TRUE(r.ErrorLines.empty());
    EXPECT_TRUE(picture.Pixels == before.Pixels);
    long double g = -1;
    ASSERT_TRUE(engine.GetVariableValue("g", g));
    EXPECT_EQ(g, 0) << "no pixel ran";
    TStringList left;
    engine.GetMathErrors(left);
    EXPECT_TRUE(left.empty());
  }
}

TEST(ParallelPaint, CancelLeavesWhatTheLastComputedPixelWrote) {
  for (int threads : {0, 1, 2, 3}) {  // 0: one thread, column by column
    TArithmeticUnit engine;
    TPicture picture = Pattern(60, 25);
    const TPicture before = picture;
    std::atomic<bool> cancel{false};
    TPaintControl control;
    control.Threads = std::max(threads, 1);
    control.ColumnOrder = threads == 0;
    control.Cancel = &cancel;
    control.Progress = [&](int done, int) {
      if (done == 7) cancel = true;
    };
    // A zero division in every pixel of columns 0 and 1 leaves records.
    const TPaintResult r = velmora::PaintCarpet(engine, {}, {"r = 1/(x - x*x)", "g = x*1000 + y", "b = y"}, picture, control);
    const std::string label = std::to_string(threads) + " threads";
    ASSERT_TRUE(r.Cancelled) << label;
    EXPECT_FALSE(r.Painted) << label;
    EXPECT_TRUE(r.ErrorLines.empty()) << label;
    EXPECT_TRUE(picture.Pixels == before.Pixels) << label;
    long double x = -1, y = -1, g = -1, b = -1;
    ASSERT_TRUE(engine.GetVariableValue("x", x) && engine.GetVariableValue("y", y));
    ASSERT_TRUE(engine.GetVariableValue("g", g) && engine.GetVariableValue("b", b));
    // One thread going column by column stops right after the seventh
    // column; otherwise the paint stops wherever the first pixel in column
    // order not computed yet was. Either way every variable comes from one
    // pixel, the last computed in column order...
    if (threads == 0) {
      EXPECT_EQ(x * 25 + y, 7 * 25 - 1) << label;
    }
    EXPECT_EQ(g, x * 1000 + y) << label;
    EXPECT_EQ(b, y) << label;
    // ...and the records are those of the pixels up to it: one division by
    // zero in each pixel of columns 0 and 1. Several threads may also stop
    // before the first run of columns was finished (a slow first thread):
    // then no pixel counts as computed, and nothing is left at all.
    TStringList left;
    engine.GetMathErrors(left);
    if (threads > 0 && left.empty()) {
      EXPECT_TRUE(x == 0 && y == 0 && g == 0 && b == 0) << label << ": no records, yet a pixel's variables";
      continue;
    }
    EXPECT_EQ(left.size(), static_cast<std::size_t>(std::min<long double>(x * 25 + y + 1, 50))) << label;
  }
}

TEST(ParallelPaint, ProgressRisesToTheWidth) {
  TArithmeticUnit engine;
  TPicture picture = Pattern(45, 9);
  std::vector<int> seen;
  std::mutex m;
  TPaintControl control;
  control.Threads = 3;
  control.Progress = [&](int done, int width) {
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(width, 45);
    seen.push_back(done);
  };
  ASSERT_TRUE(velmora::PaintCarpet(engine, {}, {"r = x"}, picture, control).Painted);
  ASSERT_EQ(seen.size(), 46u);
  for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], static_cast<int>(i));
}

TEST(ParallelPaint, AnEngineCopyRunsLikeTheOriginal) {
  TArithmeticUnit original;
  ASSERT_TRUE(original.SetExpression(0, "a = x * 3 + q"));
  ASSERT_TRUE(original.SetExpression(1, "b = sqrt(a) / 7"));
  *original.GetVariablePointer("q", false) = 0.25L;
  *original.GetVariablePointer("x", false) = 11;
  TArithmeticUnit copy;
  copy.CopyForRunning(original, 2);
  int failed;
  ASSERT_TRUE(copy.CalculateSlots(2, failed));
  long double b = 0;
  ASSERT_TRUE(copy.GetVariableValue("b", b));
  EXPECT_EQ(b, sqrtl(33.25L) / 7);
  long double untouched = -1;
  ASSERT_TRUE(original.GetVariableValue("b", untouched));
  EXPECT_EQ(untouched, 0) << "the original is only read";
  // Growing the copy's tables moves nothing of the original.
  for (int i = 0; i < 300; ++i) copy.GetVariablePointer("v" + std::to_string(i), true);
  ASSERT_TRUE(copy.CalculateSlots(2, failed));
  EXPECT_EQ(original.VariableCount + 300, copy.VariableCount);
}
