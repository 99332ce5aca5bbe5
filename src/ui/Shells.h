#pragma once
// The template picker and manager, the help viewer and the about box. Their
// contents come with the template and help work; the windows, their captions
// and how they are opened are in place.
#include <QDialog>
#include <QWidget>

namespace velmora {

class TTempForm : public QWidget {
  Q_OBJECT
 public:
  explicit TTempForm(QWidget *mainWindow);
};

class TTempMngForm : public QDialog {
  Q_OBJECT
 public:
  explicit TTempMngForm(QWidget *mainWindow);
};

class THelpForm : public QWidget {
  Q_OBJECT
 public:
  explicit THelpForm(QWidget *mainWindow);
};

class TAboutForm : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutForm(QWidget *mainWindow);

 protected:
  void paintEvent(QPaintEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
};

extern TTempMngForm *TempMngForm;
extern TTempForm *TempForm;
extern TAboutForm *AboutForm;
extern THelpForm *HelpForm;

}  // namespace velmora
