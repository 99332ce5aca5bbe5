#include "ui/PaintJob.h"

#include <new>
#include <stdexcept>

#include "paint/PictureImage.h"

namespace velmora {

extern const char *const OutOfMemoryText;

TPaintJob::~TPaintJob() {
  if (Thread.joinable()) {
    CancelFlag = true;
    Thread.join();
  }
}

void TPaintJob::Start(TArithmeticUnit &engine, const TStringList &constants, const TStringList &carpet,
                      const TPicture &picture, bool growing) {
  if (Running()) throw std::logic_error("a paint is already running");
  Painted = picture;
  Outcome = TPaintResult();
  Failure.clear();
  Seconds = 0;
  CancelFlag = false;
  Progress = 0;
  Width = picture.Width;
  TakenUpTo = 0;
  Growing = QImage();
  GrowingPixels = nullptr;
  ColumnReady.reset();
  ColumnTaken.reset();
  if (growing) {
    // Room for the growing picture is made before the thread starts; without
    // it the paint simply shows its result at the end.
    Growing = QImage(picture.Width, picture.Height, QImage::Format_RGB32);
    if (!Growing.isNull()) {
      // Both threads use the pixels through this pointer: no sharing, no detaching.
      GrowingPixels = reinterpret_cast<QRgb *>(Growing.bits());
      GrowingStride = static_cast<std::size_t>(Growing.bytesPerLine()) / sizeof(QRgb);
      ColumnReady = std::make_unique<std::atomic<bool>[]>(static_cast<std::size_t>(Width));
      ColumnTaken = std::make_unique<bool[]>(static_cast<std::size_t>(Width));
    }
  }
  StartTime = std::chrono::steady_clock::now();
  Thread = std::thread([this, &engine, constants, carpet] {
    TPaintControl control;
    control.Cancel = &CancelFlag;
    control.Progress = [this](int done, int) { Progress.store(done, std::memory_order_relaxed); };
    if (ColumnReady) {
      control.ColumnPainted = [this](const TPicture &painted, int x) {
        const std::uint32_t *from = painted.Pixels.data() + x;
        QRgb *to = GrowingPixels + x;
        for (int y = 0; y < painted.Height; ++y, from += Width, to += GrowingStride) *to = ToQRgb(*from);
        ColumnReady[static_cast<std::size_t>(x)].store(true, std::memory_order_release);
      };
    }
    try {
      Outcome = PaintCarpet(engine, constants, carpet, Painted, control);
    } catch (const std::bad_alloc &) {
      Failure = OutOfMemoryText;
    } catch (const std::exception &e) {
      Failure = e.what();
    }
    emit Ended();
  });
}

void TPaintJob::TakeColumns(QImage &image, int &first, int &end) {
  first = end = 0;
  if (!ColumnReady || image.size() != Growing.size()) return;
  first = Width;
  for (int x = TakenUpTo; x < Width; ++x) {
    if (ColumnTaken[static_cast<std::size_t>(x)]) continue;
    if (!ColumnReady[static_cast<std::size_t>(x)].load(std::memory_order_acquire)) continue;
    ColumnTaken[static_cast<std::size_t>(x)] = true;
    const QRgb *from = GrowingPixels + x;
    for (int y = 0; y < image.height(); ++y, from += GrowingStride) reinterpret_cast<QRgb *>(image.scanLine(y))[x] = *from;
    first = std::min(first, x);
    end = x + 1;
  }
  if (first >= end) first = end = 0;
  while (TakenUpTo < Width && ColumnTaken[static_cast<std::size_t>(TakenUpTo)]) ++TakenUpTo;
}

void TPaintJob::Finish() {
  if (!Thread.joinable()) return;
  Thread.join();
  Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - StartTime).count();
  Growing = QImage();
  GrowingPixels = nullptr;
  ColumnReady.reset();
  ColumnTaken.reset();
  if (!Outcome.Painted) Painted = TPicture();
}

}  // namespace velmora
