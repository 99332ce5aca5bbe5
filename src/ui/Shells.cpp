#include "ui/Shells.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Fonts.h"

namespace velmora {

TTempMngForm *TempMngForm = nullptr;
TTempForm *TempForm = nullptr;
TAboutForm *AboutForm = nullptr;
THelpForm *HelpForm = nullptr;

TTempForm::TTempForm(QWidget *mainWindow) : QWidget(mainWindow, Qt::Window) {
  setObjectName("TempForm");
  setWindowTitle(QStringLiteral("テンプレート"));
  resize(522, 319);
}

TTempMngForm::TTempMngForm(QWidget *mainWindow) : QDialog(mainWindow) {
  setObjectName("TempMngForm");
  setWindowTitle(QStringLiteral("テンプレートの管理"));
  setModal(true);
  resize(439, 356);
  auto *ok = new QPushButton(QStringLiteral("OK"), this);
  connect(ok, &QPushButton::clicked, this, [this] { done(1); });
  auto *layout = new QVBoxLayout(this);
  layout->addStretch();
  layout->addWidget(ok, 0, Qt::AlignRight);
}

THelpForm::THelpForm(QWidget *mainWindow) : QWidget(mainWindow, Qt::Window) {
  setObjectName("HelpForm");
  setWindowTitle(QStringLiteral("ヘルプ"));
  resize(733, 269);
}

TAboutForm::TAboutForm(QWidget *mainWindow) : QDialog(mainWindow, Qt::FramelessWindowHint) {
  setObjectName("AboutForm");
  setModal(true);
  setFixedSize(400, 400);
}

void TAboutForm::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  QLinearGradient bands(0, 0, 400, 400);
  bands.setColorAt(0, QColor(255, 214, 222));
  bands.setColorAt(0.5, QColor(214, 236, 255));
  bands.setColorAt(1, QColor(222, 255, 214));
  painter.fillRect(rect(), bands);
  painter.setFont(FixedFont(48));
  painter.setPen(QColor(60, 60, 90));
  painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Velmora 2"));
}

void TAboutForm::mousePressEvent(QMouseEvent *) { done(1); }

}  // namespace velmora
