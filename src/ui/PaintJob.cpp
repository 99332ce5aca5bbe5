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
  Done = false;
  Progress = 0;
  Width = picture.Width;
  Height = picture.Height;
  TakenUpTo = TakenTop = TakenBottom = 0;
  ColumnPasses.reset();
  ShownSize.reset();
  for (std::atomic<int> &pieces : PassPieces) pieces = 0;
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
      ColumnPasses = std::make_unique<std::atomic<unsigned>[]>(static_cast<std::size_t>(Width));
      ShownSize = std::make_unique<unsigned char[]>(static_cast<std::size_t>(Width));
    }
  }
  StartTime = std::chrono::steady_clock::now();
  Thread = std::thread([this, &engine, constants, carpet] {
    TPaintControl control;
    control.Cancel = &CancelFlag;
    control.Threads = Threads;
    control.Progress = [this](int done, int) { Progress.store(done, std::memory_order_relaxed); };
    if (ColumnPasses) {
      control.ColumnPainted = [this](int x, const std::uint32_t *column) { KeepColumn(x, column); };
      control.PassPainted = [this](int pass, int x, const std::uint32_t *colours) { KeepPass(pass, x, colours); };
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
    Done = true;
    emit Ended();
  });
}

void TPaintJob::KeepColumn(int x, const std::uint32_t *column) {
  const auto w = static_cast<std::size_t>(Width);
  std::uint32_t *to = Growing.get() + static_cast<std::size_t>(x);
  for (int y = 0; y < Height; ++y) to[static_cast<std::size_t>(y) * w] = column[y];
  ColumnPasses[static_cast<std::size_t>(x)].store((1u << PaintPasses) - 1, std::memory_order_release);
}

void TPaintJob::KeepPass(int pass, int x, const std::uint32_t *colours) {
  const TPassRows rows = PassRows(pass, x, Height);
  const auto w = static_cast<std::size_t>(Width);
  std::uint32_t *to = Growing.get() + static_cast<std::size_t>(x);
  for (int i = 0; i < rows.Count; ++i) to[static_cast<std::size_t>(rows.First + i * rows.Step) * w] = colours[i];
  ColumnPasses[static_cast<std::size_t>(x)].fetch_or(1u << pass, std::memory_order_release);
  // The last pass needs no word: the finished picture follows at once.
  const int columns = (Width + PassStep(pass) - 1) / PassStep(pass);
  if (pass + 1 < PaintPasses && PassPieces[pass].fetch_add(1) + 1 == columns) emit PassFinished(pass);
}

int TPaintJob::ShowableSize(int x) const {
  // The finest blocks whose top-left pixels are all done.
  for (int size = 1; size <= PassStep(0); size *= 2) {
    const int left = x - x % size;
    const unsigned need = PassesForBlocks(left, size);
    if ((ColumnPasses[static_cast<std::size_t>(left)].load(std::memory_order_acquire) & need) == need) return size;
  }
  return 0;
}

void TPaintJob::TakeColumns(QImage &image, int top, int bottom, int &first, int &end) {
  first = end = 0;
  if (!ColumnPasses || Done || image.width() != Width || image.height() != Height) return;
  top = std::clamp(top, 0, Height);
  bottom = std::clamp(bottom, top, Height);
  if (top != TakenTop || bottom != TakenBottom) {
    std::fill(ShownSize.get(), ShownSize.get() + Width, 0);
    TakenUpTo = 0;
    TakenTop = top;
    TakenBottom = bottom;
  }
  // Which columns can be shown finer now, then row by row (the image's order).
  std::vector<std::pair<int, int>> changed;  // column, block size
  for (int x = TakenUpTo; x < Width; ++x) {
    const int size = ShowableSize(x);
    unsigned char &shown = ShownSize[static_cast<std::size_t>(x)];
    if (size == 0 || (shown != 0 && size >= shown)) continue;
    shown = static_cast<unsigned char>(size);
    changed.emplace_back(x, size);
  }
  while (TakenUpTo < Width && ShownSize[static_cast<std::size_t>(TakenUpTo)] == 1) ++TakenUpTo;
  if (changed.empty()) return;
  const auto w = static_cast<std::size_t>(Width);
  for (int y = top; y < bottom; ++y) {
    auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
    for (const auto &[x, size] : changed) {
      const std::uint32_t colour = Growing[static_cast<std::size_t>(y - y % size) * w + static_cast<std::size_t>(x - x % size)];
      line[x] = ToQRgb(colour);
    }
  }
  first = changed.front().first;
  end = changed.back().first + 1;
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
  ColumnPasses.reset();
  ShownSize.reset();
  if (!Outcome.Painted) Painted = TPicture();
}

}  // namespace velmora
