#pragma once
// TLineNumberMemo: a formula memo with a line-number margin, as code editors
// have. The numbers are the ones error lines name (絨毯の数式(5行目)): one per
// memo line; the current line's number is emphasised and a line marked after
// a failed paint is marked in the margin too.
#include <QPlainTextEdit>
#include <vector>

namespace velmora {

class TLineNumberMemo : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit TLineNumberMemo(QWidget *parent = nullptr);
  int MarginWidth() const;
  // What the margin shows: the number drawn at each visible line's top
  // (viewport coordinates), and whether it is emphasised or marked.
  struct TNumber {
    int Number = 0;
    int Top = 0;
    bool Current = false;
    bool Marked = false;
  };
  std::vector<TNumber> VisibleNumbers() const;

 protected:
  void resizeEvent(QResizeEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  void insertFromMimeData(const QMimeData *source) override;

 private:
  class TMargin;
  TMargin *Margin;
  void PaintMargin(QPaintEvent *event);
  void UpdateMarginWidth();
};

}  // namespace velmora
