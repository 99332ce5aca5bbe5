// How long the window's event loop stands still while automatic paints run:
// every shipped template is typed into an offscreen window of the given size
// (default 800 x 600) and painted automatically, while a 1 ms timer notes the
// longest gap between its calls (goal: at most 16 ms).
// Run it on an idle machine: velmora_autopaint_bench [width height rounds]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "ui/Folders.h"
#include "text/LineList.h"
#include "ui/Language.h"
#include "ui/MainUnit.h"
#include "ui/Memo.h"
#include "ui/Windows.h"

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int width = argc > 2 ? std::atoi(argv[1]) : 800, height = argc > 2 ? std::atoi(argv[2]) : 600;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  using namespace velmora;
  CreateWindows();
  MainForm->show();
  MainForm->ResizeImage(width, height);
  MainForm->AutoPaint1->setChecked(true);

  QElapsedTimer clock;
  qint64 last = 0, longest = 0;
  QTimer ticker;
  ticker.setInterval(1);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    longest = std::max(longest, now - last);
    last = now;
  });
  const QDir folder(QString::fromStdString(ProgramFolders().Template));
  double worstStall = 0;
  for (const QString &name : folder.entryList({QStringLiteral("*.qtp")}, QDir::Files, QDir::Name)) {
    TStringList lines;
    std::string error;
    if (!text::LoadLineList(folder.filePath(name).toStdString(), lines, error)) continue;
    qint64 stall = 0;
    double seconds = 0;
    for (int i = 0; i < rounds; ++i) {
      // An edit as typing makes it: the memo's text changes, not set by the program.
      MainForm->MCMemo->selectAll();
      MainForm->MCMemo->insertPlainText(MemoText(lines) + (i % 2 ? QStringLiteral(" ") : QString()));
      MainForm->RequestAutoPaint(0);
      clock.start();
      last = 0;
      longest = 0;
      ticker.start();
      MainForm->WaitForPaint();
      ticker.stop();
      stall = std::max(stall, longest);
      seconds = std::max(seconds, MainForm->PaintSeconds());
    }
    const bool painted = MainForm->statusBar()->currentMessage().startsWith(QStringLiteral("自動描画しました"));
    std::printf("%-24s %dx%d %s paint %.3f s  longest stall %.1f ms\n", name.toStdString().c_str(), width, height,
                painted ? "painted" : "refused", seconds, stall / 1e6);
    if (painted) worstStall = std::max(worstStall, stall / 1e6);
  }
  std::printf("worst stall over painted templates: %.1f ms\n", worstStall);
  MainForm->DocMng.Modified = false;
  DestroyWindows();
  return 0;
}
