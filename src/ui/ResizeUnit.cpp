#include "ui/ResizeUnit.h"

#include <QKeyEvent>
#include <QLabel>

#include "ui/Fonts.h"

namespace velmora {

TResizeForm *ResizeForm = nullptr;

TResizeForm::TResizeForm(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::MSWindowsFixedSizeDialogHint), WidthEdit(new QLineEdit(QStringLiteral("400"), this)),
      HeightEdit(new QLineEdit(QStringLiteral("400"), this)), OKBtn(new QPushButton(QStringLiteral("OK"), this)),
      CancelBtn(new QPushButton(QStringLiteral("キャンセル"), this)) {
  setObjectName("ResizeForm");
  setWindowTitle(QStringLiteral("リサイズ"));
  setModal(true);
  setFont(FixedFont(12));
  setFixedSize(212, 136);
  auto *label1 = new QLabel(QStringLiteral("新しいサイズを入力してください"), this);
  auto *label2 = new QLabel(QStringLiteral("横幅："), this);
  auto *label3 = new QLabel(QStringLiteral("高さ："), this);
  label1->move(13, 16);
  label2->move(21, 44);
  label3->move(24, 68);
  WidthEdit->setObjectName("WidthEdit");
  HeightEdit->setObjectName("HeightEdit");
  OKBtn->setObjectName("OKBtn");
  CancelBtn->setObjectName("CancelBtn");
  WidthEdit->setGeometry(69, 40, 121, 20);
  HeightEdit->setGeometry(69, 64, 121, 20);
  OKBtn->setGeometry(20, 104, 75, 20);
  CancelBtn->setGeometry(116, 104, 75, 20);
  OKBtn->setAutoDefault(false);
  CancelBtn->setAutoDefault(false);
  setTabOrder(WidthEdit, HeightEdit);
  setTabOrder(HeightEdit, OKBtn);
  setTabOrder(OKBtn, CancelBtn);
  connect(OKBtn, &QPushButton::clicked, this, [this] { done(1); });
  connect(CancelBtn, &QPushButton::clicked, this, [this] { done(2); });
  for (QWidget *w : {static_cast<QWidget *>(WidthEdit), static_cast<QWidget *>(HeightEdit),
                     static_cast<QWidget *>(OKBtn), static_cast<QWidget *>(CancelBtn)})
    w->installEventFilter(this);
}

bool TResizeForm::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      // In the fields Enter moves on like Tab (width, height, OK); on a
      // button it presses that button.
      if (auto *button = qobject_cast<QPushButton *>(watched)) {
        button->click();
      } else {
        // The focus frame shows as after Tab: the user is moving by keyboard.
        setAttribute(Qt::WA_KeyboardFocusChange);
        focusNextChild();
      }
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace velmora
