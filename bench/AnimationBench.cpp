// What writing an animation costs next to painting its frames one by one:
// 60 frames of the プラズマ template at 480 x 360 with the colour phase
// varied, written as a lossless WebP, against 60 single paints of the same
// frames (goal: at most 1.3 x). Prints the median of a few rounds.
// Run it on an idle machine: velmora_animation_bench [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "paint/AnimationFiles.h"
#include "text/LineList.h"

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

template <class TWork>
double Seconds(const TWork &work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char **argv) {
  using namespace velmora;
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  TStringList carpet;
  std::string error;
  if (!text::LoadLineList(std::string(VELMORA_BUILD_DIR) + "/Template/プラズマ.qtp", carpet, error)) {
    std::fprintf(stderr, "プラズマ.qtp: %s\n", error.c_str());
    return 1;
  }
  // The colour phase p: added inside the three colour waves.
  for (std::string &line : carpet) {
    const std::size_t at = line.find("v * 3.14159");
    if (at != std::string::npos) line.insert(at + 11, " + p");
  }
  const TStringList constants = {"p = 0"};
  TAnimation animation;
  animation.Variable = "p";
  animation.From = 0;
  animation.To = 6.283185307179586L;
  animation.Frames = 60;
  const TPicture start = TPicture::Filled(480, 360, White);
  const std::string out = "/tmp/velmora-animation-bench-" + std::to_string(getpid()) + ".webp";

  std::vector<double> single, animated;
  for (int round = 0; round < rounds; ++round) {
    single.push_back(Seconds([&] {
      for (int k = 0; k < animation.Frames; ++k) {
        TArithmeticUnit engine;
        TPicture picture = start;
        TPaintControl control;
        const long double p = FrameValue(animation, k);
        control.AfterConstants = [p](TArithmeticUnit &e) { *e.GetVariablePointer("p", true) = p; };
        PaintCarpet(engine, constants, carpet, picture, control);
      }
    }));
    animated.push_back(Seconds([&] {
      const auto writer = MakeWebpWriter(out, start.Width, start.Height, 30, nullptr);
      const TAnimationResult result =
          PaintAnimation(TArithmeticUnit(), constants, carpet, start, animation, *writer, {});
      if (!result.Written) std::fprintf(stderr, "not written: %s\n", result.WriteError.c_str());
    }));
  }
  std::remove(out.c_str());
  const double a = Median(single), b = Median(animated);
  std::printf("60 single paints:        %.3f s\n", a);
  std::printf("60 frames written as WebP: %.3f s\n", b);
  std::printf("ratio: %.2f (goal <= 1.30)\n", b / a);
  return 0;
}
