#include "ui/AboutUnit.h"

#include <QEvent>
#include <QPixmap>

namespace velmora {

TAboutForm *AboutForm = nullptr;

TAboutForm::TAboutForm(QWidget *mainWindow) : QDialog(mainWindow, Qt::Dialog | Qt::FramelessWindowHint), Image1(new QLabel(this)) {
  setObjectName("AboutForm");
  setModal(true);
  setFixedSize(400, 400);
  Image1->setObjectName("Image1");
  Image1->setGeometry(0, 0, 400, 400);
  Image1->setPixmap(QPixmap(QStringLiteral(":/about.png")));
  Image1->installEventFilter(this);
}

bool TAboutForm::eventFilter(QObject *watched, QEvent *event) {
  if (watched == Image1 && event->type() == QEvent::MouseButtonPress) {
    done(1);
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace velmora
