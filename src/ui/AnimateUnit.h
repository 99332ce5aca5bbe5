#pragma once
// 画像 → アニメーションを書き出す: the dialog that paints the frames of an
// animation (one constant of the document running through them) and writes
// them, on a thread of its own so that the main window stays usable.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "document/DocumentManager.h"
#include "paint/Animation.h"

namespace velmora {

// What the frames are painted from: copies of the main window's state.
struct TAnimationSource {
  std::unique_ptr<TArithmeticUnit> Engine;
  TStringList Constants, Carpet;
  TPicture Picture;
  std::uint64_t RandomState = 0;
  text::TCp932Codes Codes;  // for the recipes of PNG frames
};

class TAnimateForm : public QDialog {
  Q_OBJECT
 public:
  explicit TAnimateForm(QWidget *parent);
  ~TAnimateForm() override;  // stops a running export and waits for it

  // The variables offered: those the constants assign (the choice is kept
  // when it is still among them).
  void SetVariables(const std::vector<std::string> &names);

  QComboBox *VariableBox;
  QLineEdit *FromEdit, *ToEdit;
  QSpinBox *FramesSpin, *FpsSpin;
  QCheckBox *IncludeEndCheck, *CarryCheck;
  QLineEdit *FileEdit;
  QPushButton *BrowseButton, *StartButton, *StopButton, *CloseButton;
  QProgressBar *Progress;
  QLabel *StatusLabel;

  // Asks for the output file (replaceable by tests).
  TFileDialog *FileDialog = nullptr;
  // Gives the main window's state at the start; false (with a message) when
  // it cannot now.
  std::function<bool(TAnimationSource &source, std::string &why)> TakeSource;
  // The frames' error lines, for the error window.
  std::function<void(const TStringList &lines)> ShowErrors;

  bool Running() const { return Worker.joinable(); }
  void Start();  // 書き出す
  void Stop();   // 中止
  void WaitForEnd();

 signals:
  void Ended();     // from the painting thread
  void RunningChanged(bool running);
  void Finished();  // after the outcome is shown

 protected:
  void closeEvent(QCloseEvent *event) override;
  void reject() override;

 private:
  void Browse();
  void Finish();
  void SetRunning(bool running);
  bool ReadSettings(TAnimation &animation, std::string &why);

  std::unique_ptr<TFileDialog> OwnDialog;
  std::thread Worker;
  std::atomic<bool> CancelFlag{false};
  std::atomic<long long> Done{0}, Total{1};
  QTimer *Ticker;
  // Filled by the painting thread, read once it has ended.
  TAnimationSource Source;
  std::unique_ptr<TFrameWriter> Writer;
  TAnimationResult Result;
  TStringList ErrorLines;
  std::string Failure;
  double Seconds = 0;
};

}  // namespace velmora
