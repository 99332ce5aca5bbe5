// What showing the picture while it grows costs a paint: the desktop window
// paints the same carpet with the growing picture on and off, in turns, and
// prints the median wall time of each (goal: at most 5 % more with it on).
// Run it on an idle machine: velmora_growing_bench [width height rounds]
#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ui/Language.h"
#include "ui/MainUnit.h"
#include "ui/Memo.h"
#include "ui/Windows.h"

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int width = argc > 2 ? std::atoi(argv[1]) : 2000, height = argc > 2 ? std::atoi(argv[2]) : 2000;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
  using namespace velmora;
  CreateWindows();
  MainForm->show();
  MainForm->ResizeImage(width, height);
  struct TSet {
    const char *Name;
    TStringList Carpet;
  } sets[] = {{"cheap", {"r = x", "g = y", "b = x + y"}},
              {"trig", {"r = 128 + 127*sin(x/10 + y/13)*cos(y/17)", "g = x", "b = y"}}};
  for (const bool fit : {false, true}) {
    // 100 %: the growing columns are copied for the rows in view; fit: for all rows.
    if (fit) MainForm->ImgScrollBox->ZoomToFit();
    else MainForm->ImgScrollBox->SetZoom(1);
    for (const TSet &set : sets) {
      SetMemoText(MainForm->MCMemo, set.Carpet);
      std::vector<double> on, off;
      for (int i = 0; i < rounds; ++i) {
        for (bool growing : {true, false}) {
          MainForm->GrowingPicture = growing;
          MainForm->Paint1->trigger();
          MainForm->WaitForPaint();
          (growing ? on : off).push_back(MainForm->PaintSeconds());
        }
      }
      const double a = Median(on), b = Median(off);
      std::printf("%-6s %dx%d %-4s growing %.3f s  plain %.3f s  %+.1f %%\n", set.Name, width, height,
                  fit ? "fit" : "100%", a, b, (a / b - 1) * 100);
    }
  }
  MainForm->DocMng.Modified = false;
  DestroyWindows();
  return 0;
}
