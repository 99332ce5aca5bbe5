#include "ui/PaintJob.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "paint/PictureImage.h"
#include "text/AllocationFailed.h"

namespace velmora {

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
  Height = picture.Height;
  TakenUpTo = TakenTop = TakenBottom = 0;
  ColumnReady.reset();
  ColumnTaken.reset();
  const auto pixels = static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height);
  if (pixels != GrowingPixels) {
    Growing.reset();
    GrowingPixels = 0;
  }
  if (growing) {
    // Without room for the growing picture the paint simply shows its result at the end.
    if (!Growing) Growing.reset(new (std::nothrow) std::uint32_t[pixels]);
    if (Growing) {
      GrowingPixels = pixels;
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
      control.ColumnPainted = [this](int x, const std::uint32_t *column) {
        std::copy(column, column + Height, Growing.get() + static_cast<std::size_t>(x) * static_cast<std::size_t>(Height));
        ColumnReady[static_cast<std::size_t>(x)].store(true, std::memory_order_release);
      };
    }
    try {
      if (BeforeRun) BeforeRun(Painted);
      Outcome = PaintCarpet(engine, constants, carpet, Painted, control);
      if (Outcome.Painted && AfterRun) AfterRun(Painted);
    } catch (const std::bad_alloc &) {
      Failure = OutOfMemoryMessage;
    } catch (const std::exception &e) {
      Failure = e.what();
    }
    Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - StartTime).count();
    emit Ended();
  });
}

void TPaintJob::TakeColumns(QImage &image, int top, int bottom, int &first, int &end) {
  first = end = 0;
  if (!ColumnReady || image.width() != Width || image.height() != Height) return;
  top = std::clamp(top, 0, Height);
  bottom = std::clamp(bottom, top, Height);
  if (top != TakenTop || bottom != TakenBottom) {
    std::fill(ColumnTaken.get(), ColumnTaken.get() + Width, false);
    TakenUpTo = 0;
    TakenTop = top;
    TakenBottom = bottom;
  }
  first = Width;
  for (int x = TakenUpTo; x < Width; ++x) {
    if (ColumnTaken[static_cast<std::size_t>(x)]) continue;
    if (!ColumnReady[static_cast<std::size_t>(x)].load(std::memory_order_acquire)) continue;
    ColumnTaken[static_cast<std::size_t>(x)] = true;
    const std::uint32_t *from = Growing.get() + static_cast<std::size_t>(x) * static_cast<std::size_t>(Height);
    for (int y = top; y < bottom; ++y) reinterpret_cast<QRgb *>(image.scanLine(y))[x] = ToQRgb(from[y]);
    first = std::min(first, x);
    end = x + 1;
  }
  if (first >= end) first = end = 0;
  while (TakenUpTo < Width && ColumnTaken[static_cast<std::size_t>(TakenUpTo)]) ++TakenUpTo;
}

void TPaintJob::Finish() {
  if (!Thread.joinable()) return;
  Thread.join();
  // The columns' room is kept for the next paint of the same size: fresh
  // memory costs a fault per page on first touch, as much as a cheap formula.
  if (GrowingPixels > KeptGrowingPixels) {
    Growing.reset();
    GrowingPixels = 0;
  }
  ColumnReady.reset();
  ColumnTaken.reset();
  if (!Outcome.Painted) Painted = TPicture();
}

}  // namespace velmora
