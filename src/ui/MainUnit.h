#pragma once
// TMainForm: the main window. The picture on the left, the constants and the
// carpet formulas on the right, the menu above; painting, the picture commands
// and the document commands.
#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "document/DocumentManager.h"
#include "document/VOKT.h"
#include "engine/ArithmeticUnit.h"
#include "paint/CarpetPainter.h"
#include "paint/Picture.h"

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

  // The displayed picture: its pixels, and the control that shows them.
  TPicture Picture;
  QLabel *Image;
  QScrollArea *ImgScrollBox;
  QProgressBar *ProgressBar;
  QPlainTextEdit *ConstsMemo;
  QPlainTextEdit *MCMemo;
  QPushButton *PaintButton;
  QAction *New1, *Open1, *Save1, *SaveAs1, *Exit1, *ErrorForm1, *Paint1, *SaveGraphics1, *OpenGraphics1,
      *ChangeSize1, *ColorToNum1, *Template1, *TempMng1, *Help2, *A1;

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

  // Painting runs on its own thread; meanwhile the window shows progress and
  // takes only Esc or the paint button, which cancels.
  bool Painting() const { return PaintThread.joinable(); }
  void CancelPaint();
  // Runs the event loop until the current paint has ended (tests use it).
  void WaitForPaint();

  // Document call-backs.
  bool OpenDocument(const std::string &fileName);
  bool SaveDocument(const std::string &fileName);
  void NewDocument(const std::string &fileName);
  // A new picture size keeping the top-left part (white elsewhere).
  void ResizeImage(int width, int height);

  // The memos as line lists, and back.
  static TStringList MemoLines(const QPlainTextEdit *memo);
  void SetMemoLines(QPlainTextEdit *memo, const TStringList &lines);
  // The picture as it is shown.
  QImage ImageContents() const;

 signals:
  void PaintFinished();

 protected:
  void closeEvent(QCloseEvent *event) override;
  void showEvent(QShowEvent *event) override;

 private:
  std::unique_ptr<TMessageBoxes> OwnBoxes;
  std::unique_ptr<TFileDialog> OwnDialogs[4];
  bool SettingText = false;  // memo text set by the program, not typed
  bool Shown = false;        // shown once already

  void BuildLayout();
  void BuildMenu();
  void UpdateCaption(const std::string &fileName);
  void ShowPicture();
  // Runs a command; an error escaping it is shown in the standard error box.
  void Command(const std::function<void()> &command);
  void ShowError(const std::string &text);

  std::thread PaintThread;
  std::atomic<bool> PaintCancel{false};
  std::atomic<int> PaintProgress{0};
  QTimer *ProgressTimer = nullptr;
  TPicture PaintPicture;     // the picture being painted; shown when the paint succeeds
  TPaintResult PaintOutcome;
  std::string PaintFailure;  // an error that escaped the paint (out of memory)
  void SetPaintingState(bool painting);
  void FinishPaint();
};

extern TMainForm *MainForm;

// What the standard error box says when memory ran out.
extern const char *const OutOfMemoryText;

// The caption of the main window for a document file name.
QString MainCaption(const std::string &fileName);

}  // namespace velmora
