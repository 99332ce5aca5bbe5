#pragma once
// TResizeForm: the size dialog of the picture.
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

namespace velmora {

class TResizeForm : public QDialog {
  Q_OBJECT
 public:
  explicit TResizeForm(QWidget *parent);
  QLineEdit *WidthEdit;
  QLineEdit *HeightEdit;
  QPushButton *OKBtn;
  QPushButton *CancelBtn;

 protected:
  // Sees every key before the focused control: Enter moves on like Tab.
  bool eventFilter(QObject *watched, QEvent *event) override;
};

extern TResizeForm *ResizeForm;

}  // namespace velmora
