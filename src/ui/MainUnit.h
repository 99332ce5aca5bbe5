#pragma once
// TMainForm: the main window. The picture on the left, the constants and the
// carpet formulas on the right, the menu above and a status bar below;
// painting, the picture commands and the document commands. Construction and
// menus are in MainUnit.cpp, painting in MainPaint.cpp, files in MainFiles.cpp.
#include <QAction>
#include <QBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>

#include "document/DocumentManager.h"
#include "document/VOKT.h"
#include "engine/ArithmeticUnit.h"
#include "paint/CarpetPainter.h"
#include "paint/Picture.h"
#include "paint/RecipeTracker.h"
#include "ui/ErrorShowUnit.h"
#include "ui/PaintJob.h"
#include "ui/PictureHistory.h"
#include "ui/PictureView.h"
#include "ui/RecentFiles.h"

namespace velmora {

class TMainForm : public QMainWindow {
  Q_OBJECT
 public:
  TMainForm();
  ~TMainForm() override;

  // How the window talks to the user; the program shows Qt boxes and dialogs,
  // tests put their own in place.
  TMessageBoxes *Boxes;
  TFileDialog *OpenDialog;
  TFileDialog *SaveDialog;
  TFileDialog *SavePicDialog;
  TFileDialog *OpenPicDialog;
  // What the colour box does; tests replace it.
  std::function<void()> ShowColorDialog;

  // Puts other message boxes and file dialogs in place (tests script them).
  void UseDialogs(TMessageBoxes *boxes, TFileDialog *open, TFileDialog *save, TFileDialog *savePic,
                  TFileDialog *openPic);

  // Owned for the window's whole life, destroyed in the reverse order.
  TVOKT Document;
  TDocumentManager DocMng;
  TArithmeticUnit Arithmetic;

  // The displayed picture: its pixels, the zooming box and the control in it.
  TPicture Picture;
  TPictureView *ImgScrollBox;
  QWidget *Image;
  QProgressBar *ProgressBar;
  QPlainTextEdit *ConstsMemo = nullptr;
  QPlainTextEdit *MCMemo = nullptr;
  QPushButton *PaintButton;
  QAction *New1, *Open1, *Save1, *SaveAs1, *Exit1, *ErrorForm1, *Paint1, *SaveGraphics1, *OpenGraphics1,
      *ChangeSize1, *ColorToNum1, *Template1, *TempMng1, *Help2, *A1;
  // After ツール's own entries: puts the shipped templates back.
  QAction *RestoreTemplates1;
  // After the menus' own entries: zoom, and the recent documents.
  QAction *ZoomFit1, *ZoomActual1, *ZoomIn1, *ZoomOut1;
  QMenu *RecentMenu;
  // After 画像's own entries: writes an animation (MainAnimate.cpp).
  QAction *ExportAnimation1 = nullptr;
  class TAnimateForm *AnimateForm = nullptr;
  // After 画像's own entries: the picture's undo and redo (with the variables).
  QAction *UndoPicture1 = nullptr, *RedoPicture1 = nullptr;
  TPictureHistory History;
  // Under the constants memo: a slider per annotated constants line (MainSliders.cpp).
  class TParameterPanel *ParameterPanel = nullptr;
  // The constants memo's context menu at a point of its viewport, with
  // スライダーを付ける after the standard entries; the caller owns it.
  QMenu *ConstsMemoMenu(const QPoint &pos);
  // The status bar: picture size and zoom, the pixel under the mouse, messages.
  QLabel *SizeLabel, *ZoomLabel, *PixelLabel;
  TRecentFiles Recent;

  // Menu commands.
  void New1Click();
  void Open1Click();
  void Save1Click();
  void SaveAs1Click();
  void Exit1Click();
  void ErrorForm1Click();
  void Paint1Click();
  void SaveGraphics1Click();
  void OpenGraphics1Click();
  void ChangeSize1Click();
  void ColorToNum1Click();
  void Template1Click();
  void TempMng1Click();
  void Help2Click();
  void A1Click();
  void RestoreTemplates1Click();
  void ExportAnimation1Click();
  void UndoPicture1Click();
  void RedoPicture1Click();
  void UpdateUndoActions();
  // Replaces the carpet formulas by a template's lines and paints (MainTemplate.cpp).
  void UseTemplate(const TStringList &lines);
  // Shows the picture anew with a message in the status bar.
  void RefreshPicture(const QString &said);

  // Painting runs on its own thread; meanwhile the window shows progress and
  // the finished columns, and takes only Esc or the paint button, which cancels.
  bool Painting() const { return Job->Running(); }
  void CancelPaint();
  // Runs the event loop until the current paint, and an automatic one asked
  // for, has ended (tests use it).
  void WaitForPaint();
  // Shows the columns painted so far (the window's timer does it while painting).
  void ShowPaintedColumns();
  // False: a paint shows its picture only when it is done.
  bool GrowingPicture = true;
  // A paint shows its finished columns only once it has run this long: a
  // short paint is over before anyone could look, and would only be slowed.
  int GrowAfterMs = 400;
  // Seconds the last paint took.
  double PaintSeconds() const { return Job->Seconds; }

  // 画像's 自動描画 (ui/MainAutoPaint.cpp): an edit of either memo paints
  // again once typing pauses, when that paint gives exactly what 描画 would.
  QAction *AutoPaint1 = nullptr;
  static constexpr int AutoPaintDelayMs = 300;
  // (Re)starts the countdown to an automatic paint, whether 自動描画 is on or
  // not; a running automatic paint is cancelled and starts again after it.
  void RequestAutoPaint(int delayMs);
  // The paint running now started by itself (and may be cancelled at any time).
  bool AutoPainting() const { return AutoJob; }
  // An automatic paint is counting down or running.
  bool AutoPaintPending() const;

  // Opens a file named on the command line or dropped on the window: a
  // picture (by its extension) as a picture, anything else as a document.
  void OpenPath(const QString &path);
  // A recent document; a missing one is taken off the list with a message.
  void OpenRecent(const QString &path);
  // Puts the cursor on a memo line, selects it and brings the window forward.
  void GoToPlace(TErrorPlace place);
  // The memo lines marked after a failed paint, until the memo is edited.
  std::vector<int> MarkedLines(const QPlainTextEdit *memo) const;

  // Document call-backs.
  bool OpenDocument(const std::string &fileName);
  // A PNG picture's recipe as the document, the picture and the engine's
  // state at the start of its paint (ui/MainRecipe.cpp).
  bool OpenRecipePicture(const std::string &chosen);
  // The recipe of the picture on screen.
  TRecipeTracker PictureRecipe;
  bool SaveDocument(const std::string &fileName);
  void NewDocument(const std::string &fileName);
  // A new picture size keeping the top-left part (white elsewhere).
  void ResizeImage(int width, int height);

  // The memos as line lists, and back.
  static TStringList MemoLines(const QPlainTextEdit *memo);
  void SetMemoLines(QPlainTextEdit *memo, const TStringList &lines);
  // The picture as it is shown.
  QImage ImageContents() const { return ImgScrollBox->Image(); }

 signals:
  void PaintFinished();

 protected:
  void closeEvent(QCloseEvent *event) override;
  void showEvent(QShowEvent *event) override;
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dropEvent(QDropEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  std::unique_ptr<TMessageBoxes> OwnBoxes;
  std::unique_ptr<TFileDialog> OwnDialogs[4];
  bool SettingText = false;  // memo text set by the program, not typed
  bool Shown = false;        // shown once already

  void BuildLayout();
  void BuildMenu();
  void BuildStatusBar();
  void BuildParameterPanel(QBoxLayout *layout);
  void UpdateCaption(const std::string &fileName);
  void ShowPicture();
  void ShowSizeAndZoom();
  void ShowPixel(int x, int y);
  void ShowStatus(const QString &text);
  // Runs a command; an error escaping it is shown in the standard error box.
  void Command(const std::function<void()> &command);
  void ShowError(const std::string &text);

  TPaintJob *Job = nullptr;
  // Where the keyboard focus was when the paint started: disabling the memos
  // takes it away, and the next keystrokes belong there again.
  QPointer<QWidget> FocusBeforePaint;
  bool WasActiveBeforePaint = false;
  QTimer *ProgressTimer = nullptr;
  int Ticks = 0;
  void SetPaintingState(bool painting);
  void FinishPaint();
  void RestoreFocus();
  void MarkErrorLines(const TStringList &errorLines);
  void ClearMarks(QPlainTextEdit *memo);
  void FillRecentMenu();
  // Opens a picture file as the picture (menu, command line, drop).
  void OpenPicture(const std::string &fileName);
  // The engine as a paint found it, kept for undo once the paint has succeeded.
  TEngineState EngineBeforePaint;
  // Keeps the state a change of the picture replaces (MainUndo.cpp).
  void KeepForUndo(TPicture before, TEngineState engine);
  void KeepForUndo() { KeepForUndo(Picture, TEngineState::Of(Arithmetic)); }
  void AddUndoMenu(QMenu *img);

  // Automatic painting (ui/MainAutoPaint.cpp).
  QTimer *AutoTimer = nullptr;
  bool AutoJob = false;      // the running paint is an automatic one
  bool AutoRestart = false;  // start one as soon as the running paint has ended
  int StaleEnds = 0;         // end signals of paints already finished by hand
  std::int32_t MathRecordsBefore = 0;
  // The undo step that the automatic paints since the last other change share.
  bool AutoStepOpen = false;
  const void *AutoStepPixels = nullptr;
  void AddAutoPaintMenu(QMenu *img);
  void MemoEdited();
  void AutoPaintDue();
  void StartAutoPaint();
  // Ends an automatic paint at once (and the countdown); true when there was one.
  bool StopAutoPaint();
  // Around a command: stops the automatic paint; the function given back
  // starts it again if the command left the formulas and the picture alone.
  std::function<void()> PauseAutoPaint();
  void FinishAutoPaint();
  void PaintEnded();
};

extern TMainForm *MainForm;

// How many math errors a paint's error lines report; MaxMathErrorLines + 1
// when the report was cut.
int MathErrorCount(const TStringList &errorLines);
// The status bar's note of them ("" for none).
QString MathErrorNote(const TStringList &errorLines);

// The caption of the main window for a document file name.
QString MainCaption(const std::string &fileName);

}  // namespace velmora
