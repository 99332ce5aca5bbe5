// The main window's picture: showing it, painting it, changing its size, and
// the marks and places of the paint's errors.
#include <QEventLoop>
#include <QMenuBar>
#include <QStatusBar>
#include <QTextBlock>
#include <algorithm>
#include <stdexcept>

#include "paint/PictureImage.h"
#include "ui/ErrorShowUnit.h"
#include "ui/MainUnit.h"
#include "ui/Memo.h"
#include "ui/ResizeUnit.h"

namespace velmora {

int MathErrorCount(const TStringList &errorLines) {
  // "数学エラー...", one line per error, and when cut an empty line and the notice.
  if (errorLines.empty() || errorLines.front() != "数学エラー...") return 0;
  const int lines = static_cast<int>(errorLines.size()) - 1;
  return lines > static_cast<int>(MaxMathErrorLines) ? static_cast<int>(MaxMathErrorLines) + 1 : lines;
}

QString MathErrorNote(const TStringList &errorLines) {
  const int mathErrors = MathErrorCount(errorLines);
  if (mathErrors > static_cast<int>(MaxMathErrorLines))
    return QStringLiteral("数学エラーが %1 件を超えました．").arg(static_cast<int>(MaxMathErrorLines));
  if (mathErrors > 0) return QStringLiteral("数学エラーが %1 件ありました．").arg(mathErrors);
  return {};
}

void TMainForm::ShowPicture() {
  ImgScrollBox->SetImage(ToQImage(Picture));
  ShowSizeAndZoom();
}

void TMainForm::ResizeImage(int width, int height) {
  if (width == Picture.Width && height == Picture.Height) return;
  std::string error;
  if (!CheckPictureSize(width, height, error)) throw std::runtime_error(error);
  KeepForUndo();
  Picture.Resize(width, height);
  ShowPicture();
}

void TMainForm::Paint1Click() {
  StopAutoPaint();  // this paint replaces a pending automatic one
  if (Painting()) {  // the paint button cancels while a paint runs
    CancelPaint();
    return;
  }
  ErrorShowForm->ClearErrors();
  ClearMarks(ConstsMemo);
  ClearMarks(MCMemo);
  ProgressBar->setRange(0, std::max(Picture.Width - 1, 0));
  ProgressBar->setValue(0);
  Ticks = 0;
  EngineBeforePaint = TEngineState::Of(Arithmetic);
  const TStringList constants = MemoLines(ConstsMemo), carpet = MemoLines(MCMemo);
  PictureRecipe.BeforePaint(constants, carpet, Document.Codes, Arithmetic, Picture, true);
  Job->Start(Arithmetic, constants, carpet, Picture, GrowingPicture);
  FocusBeforePaint = focusWidget();
  WasActiveBeforePaint = isActiveWindow();
  SetPaintingState(true);
  ProgressTimer->start();
}

void TMainForm::CancelPaint() {
  if (Painting()) Job->Cancel();
}

void TMainForm::WaitForPaint() {
  // An automatic paint asked for counts too, until it has painted or said why not.
  while (Painting() || AutoPaintPending()) {
    QEventLoop loop;
    connect(this, &TMainForm::PaintFinished, &loop, &QEventLoop::quit);
    if (!Painting()) QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
}

void TMainForm::ShowPaintedColumns() {
  if (!Painting()) return;
  int first = 0, end = 0, top = 0, bottom = 0;
  // Only what can be seen: the rest is shown with the finished picture.
  ImgScrollBox->VisibleRows(top, bottom);
  Job->TakeColumns(ImgScrollBox->ImageForChange(), top, bottom, first, end);
  ImgScrollBox->ColumnsChanged(first, end);
}

void TMainForm::SetPaintingState(bool painting) {
  // Nothing the paint reads may change under it: no typing, no menu command.
  // Zooming only changes the view: it stays, by key and from the menu.
  ConstsMemo->setEnabled(!painting);
  MCMemo->setEnabled(!painting);
  for (QAction *a : {New1, Open1, Save1, SaveAs1, Exit1, ErrorForm1, Paint1, SaveGraphics1, OpenGraphics1, ChangeSize1,
                     ColorToNum1, Template1, TempMng1, RestoreTemplates1, Help2, A1})
    a->setEnabled(!painting);
  RecentMenu->setEnabled(!painting);
  ExportAnimation1->setEnabled(!painting);  // the engine belongs to the paint
  UpdateUndoActions();
  PaintButton->setText(painting ? QStringLiteral("中止(Esc)") : QStringLiteral("描画(&P)"));
}

void TMainForm::FinishPaint() {
  if (!Painting()) return;  // already done (the window closed meanwhile)
  if (AutoJob) return FinishAutoPaint();
  Job->Finish();
  ProgressTimer->stop();
  ProgressBar->setValue(std::min(Job->ColumnsDone(), ProgressBar->maximum()));
  SetPaintingState(false);
  const TPaintResult &outcome = Job->Outcome;
  if (outcome.Painted) {
    KeepForUndo(std::move(Picture), std::move(EngineBeforePaint));
    Picture = std::move(Job->Painted);
    PictureRecipe.AfterPaint(Arithmetic, Picture);
    const QString done = QStringLiteral("描画しました（%1 秒）．").arg(Job->Seconds, 0, 'f', 2);
    ShowStatus(done + MathErrorNote(outcome.ErrorLines));
  } else if (outcome.Cancelled) {
    ShowStatus(QStringLiteral("描画を中止しました．"));
  } else {
    ShowStatus(QStringLiteral("エラーのため描画できませんでした．"));
  }
  // A failed or cancelled paint shows the old picture again, growing columns and all.
  ShowPicture();
  Job->Painted = TPicture();
  ProgressBar->setValue(0);
  for (const std::string &line : outcome.ErrorLines) ErrorShowForm->ErrorLines.Add(line);
  ErrorShowForm->ErrorsMemo->moveCursor(QTextCursor::Start);  // the first error, not the last
  if (!outcome.Painted) MarkErrorLines(outcome.ErrorLines);
  if (ErrorShowForm->ErrorLines.Count() > 0) ErrorShowForm->ShowFront(false);
  RestoreFocus();
  if (!Job->Failure.empty()) ShowError(Job->Failure);
  emit PaintFinished();
}

void TMainForm::RestoreFocus() {
  // The memos keep their cursors while disabled; only the focus has to come back.
  QWidget *target = FocusBeforePaint;
  if (!target || !target->isEnabled() || target->window() != this) target = MCMemo;
  target->setFocus(Qt::OtherFocusReason);
  // The error window may have come up meanwhile; it must not take the keys.
  if (WasActiveBeforePaint && !isActiveWindow()) activateWindow();
  FocusBeforePaint = nullptr;
}

void TMainForm::ChangeSize1Click() {
  ResizeForm->WidthEdit->setText(QString::number(Picture.Width));
  ResizeForm->HeightEdit->setText(QString::number(Picture.Height));
  ResizeForm->WidthEdit->setFocus();
  if (ResizeForm->exec() != 1) return;
  // Height first, as the size has always been read.
  bool heightOk = false, widthOk = false;
  const QString heightText = ResizeForm->HeightEdit->text(), widthText = ResizeForm->WidthEdit->text();
  const int height = heightText.toInt(&heightOk);
  if (!heightOk) throw std::runtime_error("'" + heightText.toStdString() + "' は整数ではありません");
  const int width = widthText.toInt(&widthOk);
  if (!widthOk) throw std::runtime_error("'" + widthText.toStdString() + "' は整数ではありません");
  ResizeImage(width, height);
  DocMng.Modified = true;
}

// ---------------------------------------------------------------------------
// Where the errors are

void TMainForm::MarkErrorLines(const TStringList &errorLines) {
  for (const std::string &line : errorLines) {
    TErrorPlace place;
    if (!ErrorPlaceOf(line, place)) continue;
    QPlainTextEdit *memo = place.Memo == TErrorPlace::Constants ? ConstsMemo : MCMemo;
    const QTextBlock block = memo->document()->findBlockByNumber(place.Line);
    const std::vector<int> marked = MarkedLines(memo);
    if (!block.isValid() || std::find(marked.begin(), marked.end(), place.Line) != marked.end()) continue;
    QList<QTextEdit::ExtraSelection> marks = memo->extraSelections();
    QTextEdit::ExtraSelection mark;
    mark.cursor = QTextCursor(block);
    mark.format.setBackground(QColor(0xFF, 0xD8, 0xD8));
    mark.format.setProperty(QTextFormat::FullWidthSelection, true);
    marks.append(mark);
    memo->setExtraSelections(marks);
  }
}

void TMainForm::ClearMarks(QPlainTextEdit *memo) {
  if (!memo->extraSelections().isEmpty()) memo->setExtraSelections({});
}

std::vector<int> TMainForm::MarkedLines(const QPlainTextEdit *memo) const {
  std::vector<int> lines;
  for (const QTextEdit::ExtraSelection &mark : memo->extraSelections()) lines.push_back(mark.cursor.blockNumber());
  return lines;
}

void TMainForm::GoToPlace(TErrorPlace place) {
  if (Painting() && !AutoJob) return;  // the memos are disabled meanwhile
  QPlainTextEdit *memo = place.Memo == TErrorPlace::Constants ? ConstsMemo : MCMemo;
  QTextBlock block = memo->document()->findBlockByNumber(place.Line);
  if (!block.isValid()) block = memo->document()->lastBlock();  // the memo has shrunk since
  QTextCursor cursor(block);
  cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  memo->setTextCursor(cursor);
  memo->ensureCursorVisible();
  raise();
  activateWindow();
  memo->setFocus(Qt::OtherFocusReason);
}

}  // namespace velmora
