#include "ui/ErrorShowUnit.h"

#include <QFrame>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QScreen>
#include <algorithm>
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

QPoint ErrorWindowPlace(const QRect &mainFrame, const QRect &pictureSide, const QSize &frameSize, const QRect &screen) {
  const int w = frameSize.width(), h = frameSize.height();
  const int top = std::clamp(mainFrame.top(), screen.top(), std::max(screen.top(), screen.bottom() + 1 - h));
  if (mainFrame.right() + w <= screen.right()) return {mainFrame.right() + 1, top};
  if (mainFrame.left() - w >= screen.left()) return {mainFrame.left() - w, top};
  // Over the picture, right-aligned with it when wider, and low.
  int x = pictureSide.left() + std::max(0, (pictureSide.width() - w) / 2);
  if (x + w > pictureSide.right() + 1) x = pictureSide.right() + 1 - w;
  x = std::clamp(x, screen.left(), std::max(screen.left(), screen.right() + 1 - w));
  const int y = std::clamp(pictureSide.bottom() + 1 - h, screen.top(), std::max(screen.top(), screen.bottom() + 1 - h));
  return {x, y};
}

void TErrorShowForm::ShowFront(bool activate) {
  if (!ShownBefore && MainWindow) {
    const QScreen *screen = MainWindow->screen();
    const QRect frame = MainWindow->frameGeometry();
    const QSize decoration = frame.size() - MainWindow->geometry().size();
    const QRect picture = PictureSide ? QRect(PictureSide->mapToGlobal(QPoint(0, 0)), PictureSide->size()) : frame;
    move(ErrorWindowPlace(frame, picture, size() + decoration,
                          screen ? screen->availableGeometry() : QRect(QPoint(0, 0), QSize(1 << 20, 1 << 20))));
    ShownBefore = true;
  }
  setAttribute(Qt::WA_ShowWithoutActivating, !activate);
  show();
  raise();
  if (activate) activateWindow();
}

}  // namespace velmora
