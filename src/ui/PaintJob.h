#pragma once
// TPaintJob: one paint of the main window on its own thread. It paints a copy
// of the picture, so the window may go on showing (and reading) its own; the
// columns finished so far can be taken for showing while it runs.
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
#include "paint/Picture.h"

namespace velmora {

class TPaintJob : public QObject {
  Q_OBJECT
 public:
  explicit TPaintJob(QObject *parent = nullptr) : QObject(parent) {}
  ~TPaintJob() override;

  // Starts painting `picture` with the engine, which belongs to the paint
  // until Finish. With `growing` the finished columns are kept for TakeColumns.
  void Start(TArithmeticUnit &engine, const TStringList &constants, const TStringList &carpet, const TPicture &picture,
             bool growing);
  bool Running() const { return Thread.joinable(); }
  void Cancel() { CancelFlag = true; }
  int ColumnsDone() const { return Progress.load(std::memory_order_relaxed); }
  // Copies rows top .. bottom-1 (the visible ones) of the columns finished
  // since the last call into `image` (the shown picture, of the painted
  // size); other rows than last time bring every finished column again.
  // Gives the first and one-past-last column changed (first == end: none).
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

 private:
  std::thread Thread;
  std::atomic<bool> CancelFlag{false};
  std::atomic<int> Progress{0};
  std::chrono::steady_clock::time_point StartTime;
  // Finished columns: the painting threads copy each into Growing (column
  // by column, so each copy is one piece) and then mark it ready; the
  // window's thread reads ready columns only.
  std::unique_ptr<std::uint32_t[]> Growing;
  std::size_t GrowingPixels = 0;
  static constexpr std::size_t KeptGrowingPixels = 4096 * 4096;
  std::unique_ptr<std::atomic<bool>[]> ColumnReady;
  std::unique_ptr<bool[]> ColumnTaken;
  int Width = 0, Height = 0;
  int TakenTop = 0, TakenBottom = 0;  // the rows taken so far
  int TakenUpTo = 0;  // every column before it has been taken
};

}  // namespace velmora
