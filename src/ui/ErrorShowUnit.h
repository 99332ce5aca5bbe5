#pragma once
// TErrorShowForm: the window in which the paint command lists its errors.
#include <QPlainTextEdit>
#include <QWidget>
#include <string>

namespace velmora {

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
  // Modeless, brought to the front; centred on the main window the first time.
  void ShowFront();

 private:
  QWidget *MainWindow;
  bool ShownBefore = false;
};

extern TErrorShowForm *ErrorShowForm;

}  // namespace velmora
