#pragma once
// TAboutForm: the about box, a borderless 400 x 400 picture; a click closes it.
#include <QDialog>
#include <QLabel>

namespace velmora {

class TAboutForm : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutForm(QWidget *mainWindow);
  QLabel *Image1;

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
};

extern TAboutForm *AboutForm;

}  // namespace velmora
