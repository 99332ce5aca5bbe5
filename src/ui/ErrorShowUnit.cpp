#include "ui/ErrorShowUnit.h"

#include <QFrame>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTextBlock>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/Fonts.h"

namespace velmora {

TErrorShowForm *ErrorShowForm = nullptr;

bool ErrorPlaceOf(const std::string &errorLine, TErrorPlace &place) {
  static const QRegularExpression pattern(QStringLiteral("^(定数式|絨毯の数式)\\(([0-9]{1,9})行目\\): "));
  const QRegularExpressionMatch match = pattern.match(QString::fromStdString(errorLine));
  if (!match.hasMatch()) return false;
  const int line = match.captured(2).toInt();
  if (line < 1) return false;
  place.Memo = match.captured(1) == QStringLiteral("定数式") ? TErrorPlace::Constants : TErrorPlace::Carpet;
  place.Line = line - 1;
  return true;
}

void TErrorShowForm::TErrorLines::Add(const std::string &line) {
  Memo->appendPlainText(QString::fromStdString(line));
}

int TErrorShowForm::TErrorLines::Count() const {
  return Memo->document()->isEmpty() ? 0 : Memo->document()->blockCount();
}

std::string TErrorShowForm::TErrorLines::Line(int index) const {
  return Memo->document()->findBlockByNumber(index).text().toStdString();
}

TErrorShowForm::TErrorShowForm(QWidget *mainWindow)
    : QWidget(mainWindow, Qt::Window), ErrorsMemo(new QPlainTextEdit), ErrorLines(ErrorsMemo), MainWindow(mainWindow) {
  setObjectName("ErrorShowForm");
  setWindowTitle(QStringLiteral("Velmora 2"));
  resize(380, 236);
  setFont(FixedFont(13));
  auto *panel5 = new QFrame;
  panel5->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto *panel2 = new QLabel(QStringLiteral("Errors:"));
  panel2->setFixedHeight(19);
  ErrorsMemo->setObjectName("ErrorsMemo");
  ErrorsMemo->setReadOnly(true);
  ErrorsMemo->setFrameStyle(QFrame::NoFrame);
  ErrorsMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  ErrorsMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ErrorsMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ErrorsMemo->document()->setDocumentMargin(5);
  auto *inner = new QVBoxLayout(panel5);
  inner->setContentsMargins(2, 2, 2, 2);
  inner->setSpacing(0);
  inner->addWidget(panel2);
  inner->addWidget(ErrorsMemo);
  auto *outer = new QVBoxLayout(this);
  outer->setContentsMargins(1, 1, 1, 1);
  outer->addWidget(panel5);
  ErrorsMemo->viewport()->installEventFilter(this);
}

bool TErrorShowForm::eventFilter(QObject *watched, QEvent *event) {
  if (watched == ErrorsMemo->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    const QPoint at = static_cast<QMouseEvent *>(event)->position().toPoint();
    TErrorPlace place;
    if (ErrorPlaceOf(ErrorsMemo->cursorForPosition(at).block().text().toStdString(), place)) {
      emit PlaceChosen(place);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TErrorShowForm::ClearErrors() { ErrorsMemo->clear(); }

void TErrorShowForm::ShowFront() {
  if (!ShownBefore && MainWindow) {
    move(MainWindow->geometry().center() - rect().center());
    ShownBefore = true;
  }
  show();
  raise();
  activateWindow();
}

}  // namespace velmora
