#pragma once
// TPaintJob: one paint of the main window on its own thread. It paints a copy
// of the picture, so the window may go on showing (and reading) its own; what
// is finished so far can be taken for showing while it runs: the columns of a
// paint that goes column by column, or the blocks of a paint in passes (each
// block of 8, 4, 2 pixels a side filled with its top-left pixel, until exact).
#include <QImage>
#include <cstdint>
#include <QObject>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/ArithmeticUnit.h"
#include "paint/CarpetPainter.h"
#include "paint/PassOrder.h"
#include "paint/Picture.h"

namespace velmora {

class TPaintJob : public QObject {
  Q_OBJECT
 public:
  explicit TPaintJob(QObject *parent = nullptr) : QObject(parent) {}
  ~TPaintJob() override;

  // Starts painting `picture` with the engine, which belongs to the paint
  // until Finish. With `growing` the finished pixels are kept for TakeColumns.
  void Start(TArithmeticUnit &engine, const TStringList &constants, const TStringList &carpet, const TPicture &picture,
             bool growing);
  // Painting threads, as for any paint (0: one per processor).
  int Threads = 0;
  bool Running() const { return Thread.joinable(); }
  void Cancel() { CancelFlag = true; }
  int ColumnsDone() const { return Progress.load(std::memory_order_relaxed); }
  // Copies rows top .. bottom-1 (the visible ones) of the columns that can be
  // shown finer than at the last call into `image` (the shown picture, of the
  // painted size); other rows than last time bring every column again.
  // Gives the first and one-past-last column changed (first == end: none).
  // Nothing once the paint has ended: its picture comes whole.
  void TakeColumns(QImage &image, int top, int bottom, int &first, int &end);

  // Waits for the thread. Afterwards: the outcome, the new picture when one
  // was painted, an error that escaped the paint, and the time it took.
  void Finish();
  TPaintResult Outcome;
  TPicture Painted;
  std::string Failure;
  // Run on the painting thread, so that their work (the recipe's hashes)
  // keeps the window free: with the picture before the paint, and with the
  // new one after a paint that replaced it.
  std::function<void(const TPicture &)> BeforeRun, AfterRun;
  double Seconds = 0;  // wall time from Start to the end of the thread

 signals:
  // From the painting thread when the paint has ended; call Finish then.
  void Ended();
  // From a painting thread when every pixel of pass `pass` (all but the
  // last) is done: the whole picture can be shown in blocks of its size.
  void PassFinished(int pass);

 private:
  std::thread Thread;
  std::atomic<bool> CancelFlag{false};
  std::atomic<int> Progress{0};
  std::chrono::steady_clock::time_point StartTime;
  void KeepColumn(int x, const std::uint32_t *column);
  void KeepPass(int pass, int x, const std::uint32_t *colours);
  int ShowableSize(int x) const;
  // Finished pixels, row by row like the picture: the painting threads copy
  // each column or pass's piece of a column into Growing and then mark the
  // column's passes done (all of them for a finished column); the window's
  // thread reads the pixels of done passes only.
  std::unique_ptr<std::uint32_t[]> Growing;
  std::size_t GrowingPixels = 0;
  static constexpr std::size_t KeptGrowingPixels = 4096 * 4096;
  std::unique_ptr<std::atomic<unsigned>[]> ColumnPasses;  // a bit per pass done
  std::atomic<int> PassPieces[PaintPasses] = {};          // columns done per pass
  std::atomic<bool> Done{false};                          // the thread's paint has ended
  // Per column, the size of the blocks shown (1 exact; 0 nothing yet).
  std::unique_ptr<unsigned char[]> ShownSize;
  int Width = 0, Height = 0;
  int TakenTop = 0, TakenBottom = 0;  // the rows taken so far
  int TakenUpTo = 0;  // every column before it is shown exactly
};

}  // namespace velmora
