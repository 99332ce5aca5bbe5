// The main window's automatic painting (画像 > 自動描画): a pause in typing
// paints the formulas again, on the paint thread, while the memos stay
// editable. It paints only formulas whose paint gives exactly what 描画 gives
// and leaves nothing a later paint reads (paint/LivePaintCheck.h); a cancelled
// one puts the engine back as it found it.
#include <QMenu>
#include <QStatusBar>
#include <new>

#include "engine/MathErrorManager.h"
#include "paint/LivePaintCheck.h"
#include "text/AllocationFailed.h"
#include "ui/MainUnit.h"
#include "ui/QtDialogs.h"

namespace velmora {

namespace {
const QString AutoPaintKey = QStringLiteral("autoPaint");
}  // namespace

void TMainForm::AddAutoPaintMenu(QMenu *img) {
  AutoPaint1 = new QAction(QStringLiteral("自動描画(&L)"), this);
  AutoPaint1->setObjectName("AutoPaint1");
  AutoPaint1->setCheckable(true);
  AutoPaint1->setChecked(TRecentFiles::Choice(AutoPaintKey, true));
  // Right after 描画, before the separator that follows it.
  const QList<QAction *> entries = img->actions();
  const qsizetype at = entries.indexOf(Paint1) + 1;
  img->insertAction(at > 0 && at < entries.size() ? entries[at] : nullptr, AutoPaint1);
  connect(AutoPaint1, &QAction::toggled, this, [this](bool on) {
    TRecentFiles::SetChoice(AutoPaintKey, on);
    if (!on) StopAutoPaint();
  });
  AutoTimer = new QTimer(this);
  AutoTimer->setSingleShot(true);
  connect(AutoTimer, &QTimer::timeout, this, [this] { AutoPaintDue(); });
}

bool TMainForm::AutoPaintPending() const { return AutoJob || AutoRestart || AutoTimer->isActive(); }

void TMainForm::MemoEdited() {
  if (AutoPaint1 && AutoPaint1->isChecked()) RequestAutoPaint(AutoPaintDelayMs);
}

void TMainForm::RequestAutoPaint(int delayMs) {
  // Typing never waits: the running paint is only told to stop; it is put
  // right when its end is reported.
  if (AutoJob) Job->Cancel();
  AutoRestart = false;
  AutoTimer->start(std::max(delayMs, 0));
}

void TMainForm::AutoPaintDue() {
  if (Painting()) {
    // Starts once the running paint has ended (a cancelled automatic one ends soon).
    if (AutoJob) Job->Cancel();
    AutoRestart = true;
    return;
  }
  StartAutoPaint();
}

void TMainForm::StartAutoPaint() {
  AutoRestart = false;
  const TStringList constants = MemoLines(ConstsMemo), carpet = MemoLines(MCMemo);
  try {
    const TLivePaintVerdict verdict = CheckLivePaint(constants, carpet);
    if (verdict.Kind != TLivePaintVerdict::Paint) {
      ShowStatus(Q(verdict.Reason));
      return;
    }
    EngineBeforePaint = TEngineState::Of(Arithmetic);
    MathRecordsBefore = MathErrorManager().Count;
    PictureRecipe.BeforePaint(constants, carpet, Document.Codes, Arithmetic, Picture, true);
    Job->Start(Arithmetic, constants, carpet, Picture, GrowingPicture);
  } catch (const std::bad_alloc &) {
    ShowStatus(Q(OutOfMemoryMessage));
    return;
  }
  AutoJob = true;
  ProgressBar->setRange(0, std::max(Picture.Width - 1, 0));
  ProgressBar->setValue(0);
  Ticks = 0;
  ProgressTimer->start();
}

bool TMainForm::StopAutoPaint() {
  const bool was = AutoPaintPending();
  AutoTimer->stop();
  AutoRestart = false;
  if (AutoJob) {
    Job->Cancel();
    ++StaleEnds;  // its end signal is still on its way
    FinishPaint();
  }
  AutoStepOpen = false;  // anything else done closes the automatic paints' undo step
  return was;
}

std::function<void()> TMainForm::PauseAutoPaint() {
  if (!StopAutoPaint()) return [] {};
  const TStringList constants = MemoLines(ConstsMemo), carpet = MemoLines(MCMemo);
  const void *pixels = Picture.Pixels.data();
  const int width = Picture.Width, height = Picture.Height;
  return [this, constants, carpet, pixels, width, height] {
    // Not after the window has closed, nor when the command changed what it would paint.
    if (!isVisible() || Painting() || Picture.Pixels.data() != pixels || Picture.Width != width || Picture.Height != height) return;
    if (MemoLines(ConstsMemo) != constants || MemoLines(MCMemo) != carpet) return;
    RequestAutoPaint(0);
  };
}

void TMainForm::PaintEnded() {
  if (StaleEnds > 0) {
    --StaleEnds;
    return;
  }
  FinishPaint();
  if (AutoRestart && !Painting()) StartAutoPaint();
}

void TMainForm::FinishAutoPaint() {
  Job->Finish();
  AutoJob = false;
  ProgressTimer->stop();
  ProgressBar->setValue(0);
  const TPaintResult &outcome = Job->Outcome;
  if (outcome.Cancelled || !Job->Failure.empty()) {
    // As if it had never run: the next paint must find what 描画 would.
    EngineBeforePaint.RestoreTo(Arithmetic);
    TMathErrorManager &records = MathErrorManager();
    records.Count = std::min(records.Count, MathRecordsBefore);
    ShowPicture();  // without the columns it showed
    Job->Painted = TPicture();
    if (!Job->Failure.empty()) ShowStatus(Q(Job->Failure));
    emit PaintFinished();
    return;
  }
  // The error window follows the paint, but only comes up when asked for.
  ErrorShowForm->ClearErrors();
  for (const std::string &line : outcome.ErrorLines) ErrorShowForm->ErrorLines.Add(line);
  ErrorShowForm->ErrorsMemo->moveCursor(QTextCursor::Start);
  ClearMarks(ConstsMemo);
  ClearMarks(MCMemo);
  if (!outcome.Painted) {
    MarkErrorLines(outcome.ErrorLines);
    ShowStatus(outcome.ErrorLines.empty() ? QStringLiteral("エラーのため描画できませんでした．")
                                          : Q(outcome.ErrorLines.front()));
    emit PaintFinished();
    return;
  }
  // One undo step for a run of automatic paints with only typing in between.
  const bool sameStep = AutoStepOpen && Picture.Pixels.data() == AutoStepPixels;
  if (!sameStep) KeepForUndo(std::move(Picture), std::move(EngineBeforePaint));
  Picture = std::move(Job->Painted);
  Job->Painted = TPicture();
  AutoStepOpen = true;
  AutoStepPixels = Picture.Pixels.data();
  PictureRecipe.AfterPaint(Arithmetic, Picture);
  ShowPicture();
  ShowStatus(QStringLiteral("自動描画しました（%1 秒）．").arg(Job->Seconds, 0, 'f', 2) + MathErrorNote(outcome.ErrorLines));
  emit PaintFinished();
}

}  // namespace velmora
