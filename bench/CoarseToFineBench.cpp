// Coarse to fine in the desktop window, for every shipped template, best of
// ROUNDS runs each (prints figures, never fails):
//  - 800 x 600: from the paint's start until the window has taken the first
//    full coarse view (8 x 8 blocks), and until the exact picture is shown,
//    against the same picture painted column by column without the window
//    (what the paint cost before it came in passes; goal at most 1.2 x), and
//    the same paint without the window in passes (ratio: passes / plain);
//  - 800 x 600: the event loop's longest stall while the paint runs, as the
//    longest gap between the ticks of a 2 ms timer (goal at most 16 ms), and
//    what drawing the whole canvas anew costs (each full view does it once);
//  - 480 x 360: views a second when the paint is restarted as soon as the
//    first view is up, as a dragged slider does (goal at least 20).
// Run it offscreen on an idle machine: velmora_coarse_bench [ROUNDS [TEMPLATE]]
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "paint/CarpetPainter.h"
#include "text/LineList.h"
#include "text/Paths.h"
#include "ui/MainUnit.h"
#include "ui/Memo.h"
#include "ui/Windows.h"

namespace {

using namespace velmora;

double Ms(const QElapsedTimer &t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

// The same carpet without the window, column by column (what passes are
// measured against) or as it comes (in passes where it can).
double EnginePaintMs(const TStringList &carpet, int width, int height, bool columnOrder) {
  TArithmeticUnit engine;
  TPicture picture = TPicture::Filled(width, height, White);
  TPaintControl control;
  control.ColumnOrder = columnOrder;
  QElapsedTimer t;
  t.start();
  PaintCarpet(engine, {}, carpet, picture, control);
  return Ms(t);
}

struct TWindowPaint {
  double FirstView = -1;  // ms; -1: no coarse view (column by column)
  double Exact = 0;       // ms until the finished picture is shown
  double Thread = 0;      // ms the painting thread took
  double LongestStall = 0;
};

TWindowPaint PaintInWindow(TPaintJob *job) {
  TWindowPaint r;
  QElapsedTimer t, sinceTick;
  // Queued after the window's own: runs once the window has taken the view.
  const auto view = QObject::connect(
      job, &TPaintJob::PassFinished, MainForm,
      [&](int pass) {
        if (pass == 0) r.FirstView = Ms(t);
      },
      Qt::QueuedConnection);
  QTimer ticks;
  ticks.setTimerType(Qt::PreciseTimer);
  ticks.setInterval(2);
  QObject::connect(&ticks, &QTimer::timeout, [&] {
    r.LongestStall = std::max(r.LongestStall, Ms(sinceTick));
    sinceTick.restart();
  });
  t.start();
  sinceTick.start();
  ticks.start();
  MainForm->Paint1->trigger();
  MainForm->WaitForPaint();
  r.Exact = Ms(t);
  r.Thread = MainForm->PaintSeconds() * 1000;
  ticks.stop();
  QObject::disconnect(view);
  return r;
}

// Restarts the paint as soon as a view is up, for `seconds`; views a second.
double ViewsPerSecond(TPaintJob *job, double seconds) {
  bool viewed = false;
  const auto view = QObject::connect(
      job, &TPaintJob::PassFinished, MainForm, [&](int) { viewed = true; }, Qt::QueuedConnection);
  QElapsedTimer t;
  t.start();
  int views = 0;
  for (int i = 0; Ms(t) < seconds * 1000; ++i) {
    // A slider's new value: a constant the carpet does not read.
    SetMemoText(MainForm->ConstsMemo, {"slider = " + std::to_string(i)});
    viewed = false;
    MainForm->Paint1->trigger();
    while (!viewed && MainForm->Painting()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ++views;  // the first pass, or the finished picture of a quick paint
    MainForm->CancelPaint();
    MainForm->WaitForPaint();
  }
  QObject::disconnect(view);
  SetMemoText(MainForm->ConstsMemo, {});
  return views / (Ms(t) / 1000);
}

}  // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  CreateWindows();
  MainForm->resize(1400, 900);
  MainForm->show();
  TPaintJob *job = MainForm->findChild<TPaintJob *>();
  const std::string folder = std::string(VELMORA_BUILD_DIR) + "/Template";
  std::vector<std::string> names;
  if (!job || !text::ListNames(folder, ".qtp", names)) {
    std::fprintf(stderr, "no templates in %s\n", folder.c_str());
    return 1;
  }
  // coarse: the first full view in the window; exact: the finished picture
  // shown; thread: the window's painting thread alone; passes / plain: the
  // paint without the window, coarse to fine / column by column.
  std::printf("zoom %.2f\n", MainForm->ImgScrollBox->Zoom());
  std::printf("%-14s %9s %9s %9s %9s %9s %7s %9s %9s %8s\n", "800x600", "coarse", "exact", "thread", "passes", "plain",
              "ratio", "stall", "redraw", "views/s");
  for (const std::string &name : names) {
    if (argc > 2 && name != argv[2]) continue;
    TStringList carpet;
    std::string error;
    if (!text::LoadLineList(folder + "/" + name + ".qtp", carpet, error)) continue;
    SetMemoText(MainForm->MCMemo, carpet);
    MainForm->ResizeImage(800, 600);
    TWindowPaint best;
    double plain = 1e300, passes = 1e300;
    best.Exact = best.LongestStall = best.Thread = 1e300;
    for (int r = 0; r < rounds; ++r) {
      const TWindowPaint w = PaintInWindow(job);
      if (w.FirstView >= 0 && (best.FirstView < 0 || w.FirstView < best.FirstView)) best.FirstView = w.FirstView;
      best.Exact = std::min(best.Exact, w.Exact);
      best.LongestStall = std::min(best.LongestStall, w.LongestStall);
      best.Thread = std::min(best.Thread, w.Thread);
      plain = std::min(plain, EnginePaintMs(carpet, 800, 600, true));
      passes = std::min(passes, EnginePaintMs(carpet, 800, 600, false));
    }
    // What showing a whole new view costs the window's thread: the canvas drawn anew.
    double redraw = 1e300;
    for (int r = 0; r < rounds; ++r) {
      QElapsedTimer t;
      t.start();
      MainForm->ImgScrollBox->Canvas()->grab();
      redraw = std::min(redraw, Ms(t));
    }
    MainForm->ResizeImage(480, 360);
    double views = 0;
    for (int r = 0; r < std::min(rounds, 3); ++r) views = std::max(views, ViewsPerSecond(job, 1.0));
    char coarse[32] = "-";
    if (best.FirstView >= 0) std::snprintf(coarse, sizeof coarse, "%.1f ms", best.FirstView);
    std::printf("%-14s %9s %6.1f ms %6.1f ms %6.1f ms %6.1f ms %6.2f x %6.1f ms %6.1f ms %8.1f\n", name.c_str(),
                coarse, best.Exact, best.Thread, passes, plain, passes / plain, best.LongestStall, redraw, views);
    std::fflush(stdout);
  }
  MainForm->DocMng.Modified = false;
  DestroyWindows();
  return 0;
}
