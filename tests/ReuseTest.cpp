// Terms computed once per paint, column or row, and terms merged within a
// pixel, must leave no trace: every paint with reuse is compared with the
// same paint computing every slot for every pixel, on one thread and on
// several, in machine code and in the interpreter, down to the error lines,
// the records left for the next report and the variables' bytes.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "engine/CallMemo.h"
#include "engine/CheckedMath.h"
#include "engine/MathErrorManager.h"
#include "engine/ReusePlan.h"
#include "compiler/Opcodes.h"
#include "paint/CarpetPainter.h"
#include "paint/ReusedPixels.h"

using velmora::TArithmeticUnit;
using velmora::TPicture;
using velmora::TStringList;

namespace {

struct TOutcome {
  velmora::TPaintResult Result;
  TPicture Picture;
  std::vector<std::string> Variables;  // name and value bytes
  TStringList LeftRecords;
};

TOutcome Paint(const TStringList &carpet, int w, int h, bool reuse, int threads, bool native) {
  TOutcome o;
  TArithmeticUnit engine;
  engine.ReuseEnabled = reuse;
  engine.NativeCodeEnabled = native;
  o.Picture = TPicture::Filled(w, h, 0);
  for (int x = 0; x < w; ++x)
    for (int y = 0; y < h; ++y) o.Picture.SetPixel(x, y, velmora::Rgb((x * 5) % 256, (y * 3) % 256, 77));
  velmora::TPaintControl control;
  control.Threads = threads;
  control.ColumnOrder = !reuse;  // the paint compared with: every pixel in full, column by column
  o.Result = velmora::PaintCarpet(engine, {"k = 2.5", "z = 0"}, carpet, o.Picture, control);
  for (std::int32_t i = 0; i < engine.VariableCount; ++i) {
    const auto &v = engine.Variables[static_cast<std::size_t>(i)];
    o.Variables.push_back(v.Name + "=" + std::string(reinterpret_cast<const char *>(&v.Value), 10));
  }
  engine.GetMathErrors(o.LeftRecords);
  return o;
}

// Paints with and without reuse and compares; gives the number of reused terms.
int ExpectSameWithReuse(const TStringList &carpet, int w = 61, int h = 130) {
  const TOutcome want = Paint(carpet, w, h, false, 1, true);
  EXPECT_EQ(want.Result.ReusedTerms, 0);
  int reused = -1;
  for (bool native : {true, false}) {
    for (int threads : {1, 2, 3}) {
      const TOutcome got = Paint(carpet, w, h, true, threads, native);
      const std::string label = carpet[0] + (native ? " (machine code, " : " (interpreter, ") +
                                std::to_string(threads) + " threads)";
      EXPECT_EQ(got.Result.Painted, want.Result.Painted) << label;
      EXPECT_EQ(got.Result.ErrorLines, want.Result.ErrorLines) << label;
      EXPECT_TRUE(got.Picture.Pixels == want.Picture.Pixels) << label << ": pixels differ";
      EXPECT_EQ(got.Variables, want.Variables) << label << ": variables differ";
      EXPECT_EQ(got.LeftRecords, want.LeftRecords) << label;
      reused = got.Result.ReusedTerms;
    }
  }
  return reused;
}

}  // namespace

TEST(Reuse, PaintsAsEveryPixelComputedInFull) {
  const std::vector<TStringList> sets = {
      {"r = 128 + 127*sin(x/10 + y/13)*cos(y/17)", "g = y", "b = x"},
      {"v = sin(x/24)", "r = 128 + 127*v", "g = v*v*200", "b = k*3 + cos(y/9)"},
      {"f = sqrt(x*x + y*y)", "r = f", "g = f + 2", "b = sqrt(x*x + y*y) - k"},
      {"r = getr*0.5 + getg", "g = getb - x", "b = y*2 + getr"},
      {"x = x*2", "r = x + y", "t = y*3", "t++", "g = t*x", "y = -y", "b = y + k"},
      {"a = atan2(y - 60, x - 30)", "r = a*40 + 128", "g = log(3, x + 1)*20 + log(y + 2, 10)", "b = -(x/3)"},
      {"r = 200", "g = k*k", "b = z"},
      // Arguments that repeat (symmetric distances, diagonals) go through the
      // call memos; ln faults inside the circle d < 20, and those are not kept.
      {"d = sqrt((x - 30)*(x - 30) + (y - 65)*(y - 65))", "r = 128 + 127*sin(d/6)", "g = ln(d - 20)*40",
       "b = cos((x + y)/7)*100 + 100"},
  };
  for (const TStringList &set : sets) EXPECT_GT(ExpectSameWithReuse(set), 0) << set[0];
}

TEST(Reuse, FaultsInReusedTermsAreThoseOfEveryPixel) {
  const std::vector<TStringList> sets = {
      // Math errors in column terms, row terms and both; zero divisions too.
      {"a = sqrt(x - 20)", "b = ln(y - 5) + a", "r = a*getr", "g = 1/(y - 7) + x/(x - 3)"},
      {"r = exp(x*200)", "g = exp(y*300)*0", "b = pow(x - 30, y/2 - 10)"},
      {"r = log(x - 5, y + 2)", "g = log(2, y - 4)", "b = acos(x/40) + asin(y/100)"},
      // Processor faults end the paint: in a column term (column 40), a row
      // term (row 61), and per pixel.
      {"a = x + y", "b = mod(1, x - 40)", "r = a"},
      {"r = (y - 60 + abs(y - 60))*1e4931*10", "g = x"},
      {"b = mod(1, y*1000 - x*7 - 27993)", "r = cos(y/3)", "g = sin(x)"},
  };
  for (const TStringList &set : sets) EXPECT_GT(ExpectSameWithReuse(set), 0) << set[0];
  // A term computed once that faults would fault in every pixel: nothing is reused.
  EXPECT_EQ(ExpectSameWithReuse({"c = sqrt(-1) + k", "r = x + c", "g = y"}), 0);
  EXPECT_EQ(ExpectSameWithReuse({"r = 1e4000*k*1e4000", "g = x"}), 0);
  // More records than are kept, from a column term, then a failure at the
  // end: the records left must be the first ones in column order.
  EXPECT_GT(ExpectSameWithReuse({"r = ln(-x - 1)", "b = mod(1, x*1000 + y - 149099)"}, 150, 100), 0);
}

TEST(Reuse, DependentPixelsAreComputedInFull) {
  for (const TStringList &set : std::vector<TStringList>{{"n++", "r = n + sin(x)"}, {"r = random(9) + cos(y)"}}) {
    const TOutcome o = Paint(set, 20, 10, true, 2, true);
    EXPECT_TRUE(o.Result.Painted) << set[0];
    EXPECT_EQ(o.Result.ReusedTerms, 0) << set[0];
  }
}

TEST(Reuse, PlanPutsEachTermWhereItChanges) {
  struct TCase {
    TStringList Carpet;
    std::array<int, 4> Operations;  // once, per column, per row, per pixel
    int Merged;
  } cases[] = {
      // x/10 | y/13 y/17 cos | + sin * * +
      {{"r = 128 + 127*sin(x/10 + y/13)*cos(y/17)"}, {0, 1, 3, 5}, 0},
      // A written variable carries its value's class: everything is per column.
      {{"v = sin(x/24)", "r = 128 + 127*v"}, {0, 4, 0, 0}, 0},
      // One sqrt for three slots; k*k once.
      {{"r = sqrt(x*y)", "g = sqrt(x*y) + 2", "b = k*k*sqrt(x*y)"}, {1, 0, 0, 4}, 4},
      // The old colour changes per pixel.
      {{"r = getr + x*2"}, {0, 1, 0, 1}, 0},
  };
  for (const TCase &c : cases) {
    TArithmeticUnit engine;
    for (const char *name : {"x", "y", "getr", "getg", "getb", "r", "g", "b"}) engine.GetVariablePointer(name, true);
    *engine.GetVariablePointer("k", true) = 3;
    for (std::size_t i = 0; i < c.Carpet.size(); ++i) ASSERT_TRUE(engine.SetExpression(static_cast<int>(i), c.Carpet[i]));
    velmora::TPaintVariables names{};
    names.X = engine.SearchVariable("x", false);
    names.Y = engine.SearchVariable("y", false);
    for (int k = 0; k < 3; ++k) {
      names.OldColour[k] = engine.SearchVariable(std::string("get") + "rgb"[k], false);
      names.Colour[k] = engine.SearchVariable(std::string(1, "rgb"[k]), false);
    }
    velmora::TReusePlan plan;
    ASSERT_TRUE(velmora::PlanReuse(engine, static_cast<int>(c.Carpet.size()), names, true, plan)) << c.Carpet[0];
    EXPECT_EQ((std::array<int, 4>{plan.Operations[0], plan.Operations[1], plan.Operations[2], plan.Operations[3]}),
              c.Operations)
        << c.Carpet[0];
    EXPECT_EQ(plan.Merged, c.Merged) << c.Carpet[0];
    // Without a row table, terms of y alone are computed per pixel.
    ASSERT_TRUE(velmora::PlanReuse(engine, static_cast<int>(c.Carpet.size()), names, false, plan));
    EXPECT_EQ(plan.Operations[2], 0) << c.Carpet[0];
  }
}

TEST(Reuse, CallMemoKeepsOnlyCallsThatMetNothing) {
  velmora::TMathErrorManager records;
  velmora::TThreadMathErrors use(records);
  records.Collecting = true;
  velmora::TCallMemo memo(velmora::checked::Ln);
  const long double first = velmora::TCallMemo::Call(&memo, 7.25L);
  const long double again = velmora::TCallMemo::Call(&memo, 7.25L);
  EXPECT_EQ(memo.Hits, 1u);
  EXPECT_EQ(std::memcmp(&first, &again, 10), 0);
  EXPECT_EQ(again, velmora::checked::Ln(7.25L));
  // A call that recorded a math error is made again, and records again.
  velmora::TCallMemo::Call(&memo, -3);
  velmora::TCallMemo::Call(&memo, -3);
  EXPECT_EQ(records.Count, 2);
  EXPECT_EQ(memo.Hits, 1u);
  // A site whose arguments do not repeat stops looking them up.
  for (int i = 0; i < 5000 && !memo.Off; ++i) velmora::TCallMemo::Call(&memo, 100 + i);
  EXPECT_TRUE(memo.Off);
  EXPECT_EQ(velmora::TCallMemo::Call(&memo, 7.25L), first);
  records.Collecting = false;
}

TEST(Reuse, CallMemoTrialEndsOnAHitToo) {
  velmora::TCallMemo memo(velmora::checked::Sin);
  // 4095 arguments seen once, then a repeat as the last lookup of the trial.
  for (int i = 0; i < 4095; ++i) velmora::TCallMemo::Call(&memo, 1 + i);
  EXPECT_FALSE(memo.Off);
  EXPECT_EQ(velmora::TCallMemo::Call(&memo, 1), velmora::checked::Sin(1));
  EXPECT_EQ(memo.Hits, 1u);
  EXPECT_TRUE(memo.Off);
}

namespace {

std::string LongSum(const std::string &term, int terms) {
  std::string line = "r = " + term;
  for (int i = 1; i < terms; ++i) line += "+" + term;
  return line;
}

std::string SinesOfRows(int terms) {
  std::string line = "r = 0";
  for (int i = 1; i <= terms; ++i) line += "+sin(y+" + std::to_string(i) + ")";
  return line;
}

double SecondsToPaint(const TStringList &carpet, bool reuse, int &reused) {
  TArithmeticUnit engine;
  engine.ReuseEnabled = reuse;
  TPicture picture = TPicture::Filled(16, 16, 0);
  velmora::TPaintControl control;
  control.Threads = 2;
  // Processor time of the whole process (both threads): a busy machine
  // stretches the wall clock of one paint more than that of another.
  const std::clock_t start = std::clock();
  const velmora::TPaintResult r = velmora::PaintCarpet(engine, {}, carpet, picture, control);
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  EXPECT_TRUE(r.Painted);
  reused = r.ReusedTerms;
  return seconds;
}

// Slots 0 .. count-1 of `engine` and the paint's variable names.
velmora::TPaintVariables PaintNames(TArithmeticUnit &engine) {
  for (const char *name : {"x", "y", "getr", "getg", "getb", "r", "g", "b"}) engine.GetVariablePointer(name, true);
  velmora::TPaintVariables names{};
  names.X = engine.SearchVariable("x", false);
  names.Y = engine.SearchVariable("y", false);
  for (int k = 0; k < 3; ++k) {
    names.OldColour[k] = engine.SearchVariable(std::string("get") + "rgb"[k], false);
    names.Colour[k] = engine.SearchVariable(std::string(1, "rgb"[k]), false);
  }
  return names;
}

}  // namespace

// Preparing reuse is linear in the terms: a long line with most of its terms
// reused costs a small multiple of painting it without reuse (a quadratic
// preparation took twenty times as long at these sizes), measured against
// that paint on the same machine in the same run.
TEST(Reuse, LongLinesArePreparedInLinearTime) {
  for (const std::string &line : {LongSum("1", 120000), SinesOfRows(25000)}) {
    int reused = 0, none = 0;
    const double without = SecondsToPaint({line}, false, none);
    const double with = SecondsToPaint({line}, true, reused);
    EXPECT_GT(reused, 50000) << line.substr(0, 20) << ": planned in full, below the cap";
    EXPECT_EQ(none, 0);
    EXPECT_LT(with, 5 * without + 0.5) << line.substr(0, 20) << ": " << with << " s with reuse, " << without
                                        << " s without";
    std::printf("%.20s...: %.2f s with reuse, %.2f s without\n", line.c_str(), with, without);
  }
}

// The code reuse installs writes a variable per term: a chain of 200,000
// (v1 = v0 + 1, v2 = v1 + 1, ...) is noted, translated and run in about a
// tenth of a second of processor time; noting written variables by scanning
// those noted before took tens of seconds, and weighing every dead register
// copy before each instruction 1.6 s.
TEST(Reuse, InstalledCodeIsTakenInLinearTime) {
  constexpr int Length = 200000;
  for (bool native : {true, false}) {
    TArithmeticUnit engine;
    engine.NativeCodeEnabled = native;
    std::vector<TArithmeticUnit::TInstruction> code;
    for (int k = 0; k <= Length; ++k) {
      const std::int32_t v = engine.SearchVariable("v" + std::to_string(k), true);
      TArithmeticUnit::TInstruction ins;
      ins.Opcode = k == 0 ? velmora::icAssign : velmora::icAdd;
      ins.Operands[0] = {1, 1, v, 0};
      ins.Operands[1] = k == 0 ? TArithmeticUnit::TOperand{0, 0, 0, 2} : TArithmeticUnit::TOperand{1, 1, v - 1, 0};
      ins.Operands[2] = {0, 0, 0, 1};
      code.push_back(ins);
    }
    code.push_back(TArithmeticUnit::TInstruction{velmora::icEnd, {}});
    const std::clock_t start = std::clock();
    engine.Machine.Load(engine.Expressions[0], std::move(code));
    int failed = -1;
    ASSERT_TRUE(engine.CalculateSlots(1, failed));
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    long double last = 0;
    ASSERT_TRUE(engine.GetVariableValue("v" + std::to_string(Length), last));
    EXPECT_EQ(last, 2 + Length);
    EXPECT_EQ(engine.Expressions[0].WrittenVariables.size(), static_cast<std::size_t>(Length + 1));
    EXPECT_LT(seconds, 0.8) << (native ? "machine code" : "interpreter");
    std::printf("%s: %.3f s\n", native ? "machine code" : "interpreter", seconds);
  }
}

// Beyond the cap nothing is planned: the carpet is painted without reuse.
TEST(Reuse, PlansStopAtTheirCap) {
  for (int terms : {velmora::MaxPlannedValues / 2, velmora::MaxPlannedValues + 10}) {
    TArithmeticUnit engine;
    const velmora::TPaintVariables names = PaintNames(engine);
    ASSERT_TRUE(engine.SetExpression(0, LongSum("x", terms)));
    velmora::TReusePlan plan;
    EXPECT_EQ(velmora::PlanReuse(engine, 1, names, true, plan), terms < velmora::MaxPlannedValues) << terms;
  }
  int reused = -1;
  SecondsToPaint({LongSum("1", velmora::MaxPlannedValues + 10)}, true, reused);
  EXPECT_EQ(reused, 0);
}

// A cancel that comes while reuse is prepared ends the paint there: no pixel,
// no progress, the picture as it was.
TEST(Reuse, CancelActsDuringPreparation) {
  const TStringList carpet = {SinesOfRows(3000), "g = x*2 + 1"};
  {
    TArithmeticUnit engine;
    PaintNames(engine);
    for (std::size_t i = 0; i < carpet.size(); ++i) ASSERT_TRUE(engine.SetExpression(static_cast<int>(i), carpet[i]));
    std::atomic<bool> cancel{false};
    EXPECT_NE(velmora::PrepareReuse(engine, 2, 50, &cancel), nullptr);
    cancel = true;
    EXPECT_EQ(velmora::PrepareReuse(engine, 2, 50, &cancel), nullptr);
  }
  TArithmeticUnit engine;
  TPicture picture = TPicture::Filled(40, 50, velmora::White);
  std::atomic<bool> cancel{false};
  velmora::TPaintControl control;
  control.Cancel = &cancel;
  control.Prepare = [&] { cancel = true; };  // once the lines compiled: before reuse is prepared
  int progressCalls = 0;
  control.Progress = [&](int, int) { ++progressCalls; };
  const velmora::TPaintResult r = velmora::PaintCarpet(engine, {}, carpet, picture, control);
  EXPECT_TRUE(r.Cancelled);
  EXPECT_FALSE(r.Painted);
  EXPECT_EQ(progressCalls, 0);
  EXPECT_TRUE(picture.Pixels == TPicture::Filled(40, 50, velmora::White).Pixels);
}
