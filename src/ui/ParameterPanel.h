#pragma once
// TParameterPanel: the パラメータ panel under the constants memo. One row per
// constants line with a slider annotation (name, slider, value field); hidden
// when there is none. The memo is the one truth: the panel reads its rows from
// the memo's text and writes a moved slider's number back into that line, one
// whole drag being one undo step of the memo.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>
#include <QWidget>
#include <vector>

#include "formula/SliderAnnotation.h"

class QGridLayout;
class QLabel;
class QScrollArea;
class QTimer;

namespace velmora {

class TParameterPanel : public QWidget {
  Q_OBJECT
 public:
  explicit TParameterPanel(QPlainTextEdit *memo, QWidget *parent = nullptr);

  // Reads the memo's lines again; the memo's edits call it.
  void Refresh();
  int RowCount() const { return static_cast<int>(Rows.size()); }
  QLabel *NameLabel(int row) const { return Rows[static_cast<std::size_t>(row)].Name; }
  QSlider *Slider(int row) const { return Rows[static_cast<std::size_t>(row)].Bar; }
  QLineEdit *Field(int row) const { return Rows[static_cast<std::size_t>(row)].Field; }
  // True while a slider is held down.
  bool Dragging() const { return DragRow >= 0; }
  // A malformed annotation is mentioned once typing has paused this long: a
  // line being typed is malformed on its way.
  int HintDelayMs = 700;

 signals:
  // Annotations that are ignored, in one line for the status bar (only when it changes).
  void Hint(const QString &text);
  // A number was written into the memo; `dragging` while the slider is still held.
  void ValueWritten(bool dragging);
  // The slider was let go.
  void DragFinished();

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  struct TRow {
    TSliderAnnotation Annotation;
    QLabel *Name = nullptr;
    QSlider *Bar = nullptr;
    QLineEdit *Field = nullptr;
  };
  QPlainTextEdit *Memo;
  QScrollArea *Scroll;
  QWidget *RowsBox = nullptr;
  std::vector<TRow> Rows;
  int DragRow = -1;
  bool DragWrote = false;  // the drag's first number is in: the next ones join its undo step
  QString LastHint;
  QTimer *HintTimer;

  void Rebuild(const std::vector<TSliderAnnotation> &sliders);
  void AddRow(QGridLayout *grid, const TSliderAnnotation &slider);
  void ShowValue(TRow &row);
  void ShowHints(const std::vector<TSliderHint> &hints);
  void Moved(const QSlider *bar, int position);
  void Entered(const QLineEdit *field);
  void Pressed(const QSlider *bar);
  void Released();
  // Writes `number` over the row's number in its memo line; false when the
  // line no longer carries that slider.
  bool WriteNumber(std::size_t row, const std::string &number);
};

}  // namespace velmora
