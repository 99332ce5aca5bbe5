// A carpet whose pixels do not depend on each other appears coarse first:
// once the first pass is done the whole picture is shown in 8 x 8 blocks,
// each the colour its top-left pixel will have in the finished picture.
#include <atomic>
#include <thread>

#include "MainFormFixture.h"

using namespace velmora;
using namespace velmora::test;

TEST_F(MainFormTest, TheFirstPassShowsTheWholePictureInBlocks) {
  MainForm->ResizeImage(203, 61);  // all of it in view; blocks cut at the edges
  MainForm->GrowAfterMs = 1000000;   // no columns on the timer: only the pass's word
  Type(MainForm->MCMemo, "r = x*5\ng = y*7\nb = x*y");
  TPaintJob *job = MainForm->findChild<TPaintJob *>();
  ASSERT_NE(job, nullptr);
  job->Threads = 1;  // held at the end of the first pass, nothing else paints on
  std::atomic<bool> held{false}, go{false};
  const QMetaObject::Connection hold = QObject::connect(
      job, &TPaintJob::PassFinished, job,
      [&](int pass) {
        if (pass != 0) return;
        held = true;
        while (!go) std::this_thread::yield();
      },
      Qt::DirectConnection);
  const QImage before = MainForm->ImageContents();
  MainForm->Paint1->trigger();
  ASSERT_TRUE(WaitFor([&] { return held.load(); }));
  ASSERT_TRUE(WaitFor([&] { return MainForm->ImageContents() != before; })) << "the first pass is shown while painting";
  const QImage blocks = MainForm->ImageContents();
  go = true;
  MainForm->WaitForPaint();
  QObject::disconnect(hold);
  const QImage exact = MainForm->ImageContents();
  int wrong = 0;
  for (int y = 0; y < exact.height(); ++y)
    for (int x = 0; x < exact.width(); ++x) wrong += blocks.pixel(x, y) != exact.pixel(x - x % 8, y - y % 8);
  EXPECT_EQ(wrong, 0);
  EXPECT_NE(exact.pixel(9, 1), exact.pixel(8, 0)) << "the finished picture is exact";
}
