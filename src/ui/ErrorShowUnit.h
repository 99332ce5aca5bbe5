#pragma once
// TErrorShowForm: the window in which the paint command lists its errors.
#include <QPlainTextEdit>
#include <QWidget>
#include <string>

namespace velmora {

// The memo line an error line names ("定数式(N行目): …", "絨毯の数式(N行目): …").
struct TErrorPlace {
  enum TMemo { Constants, Carpet } Memo = Constants;
  int Line = 0;  // 0-based
};
bool ErrorPlaceOf(const std::string &errorLine, TErrorPlace &place);

// Where the error window's frame of `frameSize` goes: beside the main window
// (right, then left) when the screen has room, else over the lower part of the
// picture side, so that the memo lines an error leads to stay visible.
QPoint ErrorWindowPlace(const QRect &mainFrame, const QRect &pictureSide, const QSize &frameSize, const QRect &screen);

class TErrorShowForm : public QWidget {
  Q_OBJECT
 public:
  // The line list of ErrorsMemo: producers append lines and count them.
  class TErrorLines {
   public:
    explicit TErrorLines(QPlainTextEdit *memo) : Memo(memo) {}
    void Add(const std::string &line);
    int Count() const;
    std::string Line(int index) const;

   private:
    QPlainTextEdit *Memo;
  };

  explicit TErrorShowForm(QWidget *mainWindow);
  QPlainTextEdit *ErrorsMemo;
  TErrorLines ErrorLines;
  void ClearErrors();
  // Modeless, brought to the front; the first time placed where it leaves the
  // memos free (see ErrorWindowPlace). Without `activate` the keyboard stays
  // where it is (after a paint the user goes on typing).
  void ShowFront(bool activate = true);
  // The part of the main window the error window may cover (the picture).
  QWidget *PictureSide = nullptr;

 signals:
  // A line naming a memo line was double-clicked.
  void PlaceChosen(TErrorPlace place);

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  QWidget *MainWindow;
  bool ShownBefore = false;
};

extern TErrorShowForm *ErrorShowForm;

}  // namespace velmora
