#pragma once
// TPaintJob: one paint of the main window on its own thread. It paints a copy
// of the picture, so the window may go on showing (and reading) its own; the
// columns finished so far can be taken for showing while it runs.
#include <QImage>
#include <QObject>
#include <atomic>
#include <chrono>
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
  // Copies the columns finished since the last call into `image` (the shown
  // picture, of the painted size); the first and one-past-last column changed,
  // or first == end when none.
  void TakeColumns(QImage &image, int &first, int &end);

  // Waits for the thread. Afterwards: the outcome, the new picture when one
  // was painted, an error that escaped the paint, and the time it took.
  void Finish();
  TPaintResult Outcome;
  TPicture Painted;
  std::string Failure;
  double Seconds = 0;

 signals:
  // From the painting thread when the paint has ended; call Finish then.
  void Ended();

 private:
  std::thread Thread;
  std::atomic<bool> CancelFlag{false};
  std::atomic<int> Progress{0};
  std::chrono::steady_clock::time_point StartTime;
  // Finished columns: the painting threads copy each into Growing and then
  // mark it; the window's thread takes marked columns only.
  QImage Growing;
  QRgb *GrowingPixels = nullptr;
  std::size_t GrowingStride = 0;  // pixels from one row to the next
  std::unique_ptr<std::atomic<bool>[]> ColumnReady;
  std::unique_ptr<bool[]> ColumnTaken;
  int Width = 0;
  int TakenUpTo = 0;  // every column before it has been taken
};

}  // namespace velmora
