// Per-pixel cost of the engine against the same formulas written as native
// long double C++. Each benchmark walks a 1000 x 1000 grid column by column,
// as painting does; the "time/pixel" counter is the figure to compare.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "engine/ArithmeticUnit.h"
#include "document/DocumentManager.h"
#include "paint/CarpetPainter.h"
#include "text/LineList.h"

namespace {

constexpr int Size = 1000;

struct TFormulaSet {
  const char *Name;
  std::vector<std::string> Lines;
};

const TFormulaSet Sets[] = {
    {"trig", {"r = 128 + 127*sin(x/10 + y/13)*cos(y/17)"}},
    {"arith", {"r = (x*3 + y*5 - x*y/7 + 11) * (x - y) / 13 + (x + 2*y) * (y - 3*x) / 17 - x/19 + y/23 + x*y*0.001 - 5"}},
    {"powexp", {"r = sqrt(x*x + y*y) + pow(x/100 + 1, 1.5) + exp(-y/100) + ln(x + 1)"}},
    {"state", {"n++", "acc += x*0.5", "acc -= y*0.25", "r = acc/n", "g = r*2"}},
};

// The same formulas, natively. Variables live in memory as they do in the engine.
struct TNative {
  long double x, y, r, g, n, acc;
};

void Native(TNative &v, int set) {
  switch (set) {
    case 0: v.r = 128 + 127 * sinl(v.x / 10 + v.y / 13) * cosl(v.y / 17); break;
    case 1:
      v.r = (v.x * 3 + v.y * 5 - v.x * v.y / 7 + 11) * (v.x - v.y) / 13 + (v.x + 2 * v.y) * (v.y - 3 * v.x) / 17 -
            v.x / 19 + v.y / 23 + v.x * v.y * 0.001L - 5;
      break;
    case 2: v.r = sqrtl(v.x * v.x + v.y * v.y) + powl(v.x / 100 + 1, 1.5L) + expl(-v.y / 100) + logl(v.x + 1); break;
    case 3:
      v.n++;
      v.acc += v.x * 0.5L;
      v.acc -= v.y * 0.25L;
      v.r = v.acc / v.n;
      v.g = v.r * 2;
      break;
  }
}

void PerPixel(benchmark::State &state) {
  state.counters["time/pixel"] =
      benchmark::Counter(static_cast<double>(Size) * Size,
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The set in slots 0.., math error mode on, as a paint runs it.
bool Compile(benchmark::State &state, const TFormulaSet &set, velmora::TArithmeticUnit &engine, long double *&x,
             long double *&y) {
  for (std::size_t k = 0; k < set.Lines.size(); ++k) {
    if (!engine.SetExpression(static_cast<int>(k), set.Lines[k])) {
      state.SkipWithError(engine.ErrorMessage.c_str());
      return false;
    }
  }
  x = engine.GetVariablePointer("x", true);
  y = engine.GetVariablePointer("y", true);
  engine.MathErrorMode = true;
  return true;
}

// One Calculate per slot and pixel, each testing the fault flags itself (as
// the constants and velmora-cli calc run formulas).
void BM_Calculate(benchmark::State &state) {
  const TFormulaSet &set = Sets[state.range(0)];
  velmora::TArithmeticUnit engine;
  const int n = static_cast<int>(set.Lines.size());
  long double *x, *y;
  if (!Compile(state, set, engine, x, y)) return;
  long double result;
  for (auto _ : state) {
    for (int i = 0; i < Size; ++i) {
      for (int j = 0; j < Size; ++j) {
        *x = i;
        *y = j;
        for (int k = 0; k < n; ++k) engine.Calculate(k, result);
      }
    }
    benchmark::DoNotOptimize(result);
  }
  state.SetLabel(set.Name);
  PerPixel(state);
}

// The engine as the paint loop drives it: the slots of 64 pixels at a time
// with one fault test (a run of the machine: BeginRun / Go / End).
void BM_PixelLoop(benchmark::State &state) {
  const TFormulaSet &set = Sets[state.range(0)];
  velmora::TArithmeticUnit engine;
  const int n = static_cast<int>(set.Lines.size());
  long double *x, *y;
  if (!Compile(state, set, engine, x, y)) return;
  velmora::TMachine::TSequence &slots = engine.Slots(n);
  for (auto _ : state) {
    for (int i = 0; i < Size; ++i) {
      for (int j = 0; j < Size; j += 64) {
        engine.Machine.BeginRun(slots);
        for (int k = j; k < std::min(j + 64, Size); ++k) {
          *x = i;
          *y = k;
          engine.Machine.Go(slots);
        }
        if (!engine.Machine.End()) {
          state.SkipWithError("a fault");
          return;
        }
      }
    }
  }
  state.SetLabel(set.Name);
  PerPixel(state);
}

void BM_Native(benchmark::State &state) {
  const int set = static_cast<int>(state.range(0));
  TNative v{};
  for (auto _ : state) {
    for (int i = 0; i < Size; ++i) {
      for (int j = 0; j < Size; ++j) {
        v.x = i;
        v.y = j;
        Native(v, set);
        benchmark::DoNotOptimize(v);
      }
    }
  }
  state.SetLabel(Sets[set].Name);
  PerPixel(state);
}

// The whole paint command: compile, the pixel loop with getr/getg/getb, the
// clamp and the new picture. Its own share is the difference to BM_PixelLoop.
// Second argument: threads (1 one, 0 one per processor; the "state" set
// carries values from pixel to pixel and always runs on one). Third: reuse of
// terms that do not change per pixel (1) or every slot for every pixel (0).
void BM_Paint(benchmark::State &state) {
  const TFormulaSet &set = Sets[state.range(0)];
  velmora::TArithmeticUnit engine;
  engine.ReuseEnabled = engine.ReuseEnabled && state.range(2) != 0;
  velmora::TPicture picture = velmora::TPicture::Filled(Size, Size, velmora::White);
  velmora::TPaintControl control;
  control.Threads = static_cast<int>(state.range(1));
  int threads = 0;
  for (auto _ : state) {
    const velmora::TPaintResult result = velmora::PaintCarpet(engine, {}, set.Lines, picture, control);
    if (!result.Painted) {
      state.SkipWithError("paint failed");
      return;
    }
    threads = result.Threads;
  }
  state.SetLabel(std::string(set.Name) + ", " + std::to_string(threads) + " thread(s)" +
                 (engine.ReuseEnabled ? ", reuse" : ""));
  PerPixel(state);
}

}  // namespace

// Every shipped template painted at 600 x 600 on one thread and on all; the
// label says how many the carpet got (one when its pixels depend on each other).
void BM_Template(benchmark::State &state, const std::string &name, int threadsWanted) {
  velmora::TStringList lines;
  std::string error;
  if (!velmora::text::LoadLineList(velmora::ExecutableFolder() + "/Template/" + name + ".qtp", lines, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  velmora::TPaintControl control;
  control.Threads = threadsWanted;
  int threads = 0;
  for (auto _ : state) {
    velmora::TArithmeticUnit engine;
    velmora::TPicture picture = velmora::TPicture::Filled(600, 600, velmora::White);
    threads = velmora::PaintCarpet(engine, {}, lines, picture, control).Threads;
  }
  state.SetLabel(std::to_string(threads) + " thread(s)");
  state.counters["time/pixel"] = benchmark::Counter(600.0 * 600, benchmark::Counter::kIsIterationInvariantRate |
                                                                       benchmark::Counter::kInvert);
}

const int TemplatesRegistered = [] {
  std::vector<std::string> names;
  velmora::text::ListNames(velmora::ExecutableFolder() + "/Template", ".qtp", names);
  for (const std::string &name : names) {
    for (int threads : {1, 0}) {
      benchmark::RegisterBenchmark(("BM_Template/" + name + (threads ? "/1" : "/all")).c_str(), BM_Template, name,
                                   threads)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    }
  }
  return static_cast<int>(names.size());
}();

BENCHMARK(BM_Paint)->ArgsProduct({{0, 1, 2, 3}, {1, 0}, {1, 0}})->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Calculate)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixelLoop)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Native)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
