#include "ui/LineNumberMemo.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QTextBlock>
#include <algorithm>

namespace velmora {

class TLineNumberMemo::TMargin : public QWidget {
 public:
  explicit TMargin(TLineNumberMemo *memo) : QWidget(memo), Memo(memo) { setObjectName("LineNumbers"); }
  QSize sizeHint() const override { return {Memo->MarginWidth(), 0}; }

 protected:
  void paintEvent(QPaintEvent *event) override { Memo->PaintMargin(event); }

 private:
  TLineNumberMemo *Memo;
};

TLineNumberMemo::TLineNumberMemo(QWidget *parent) : QPlainTextEdit(parent), Margin(new TMargin(this)) {
  connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { UpdateMarginWidth(); });
  connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect &rect, int dy) {
    if (dy) Margin->scroll(0, dy);
    else Margin->update(0, rect.y(), Margin->width(), rect.height());
  });
  // The emphasis follows the cursor.
  connect(this, &QPlainTextEdit::cursorPositionChanged, Margin, qOverload<>(&QWidget::update));
  UpdateMarginWidth();
}

int TLineNumberMemo::MarginWidth() const {
  int digits = 2;
  for (int n = std::max(1, blockCount()) / 100; n > 0; n /= 10) ++digits;
  return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits;
}

void TLineNumberMemo::UpdateMarginWidth() {
  // A hundredth line widens the margin without the memo changing its size.
  setViewportMargins(MarginWidth(), 0, 0, 0);
  const QRect r = contentsRect();
  Margin->setGeometry(QRect(r.left(), r.top(), MarginWidth(), r.height()));
}

void TLineNumberMemo::resizeEvent(QResizeEvent *event) {
  QPlainTextEdit::resizeEvent(event);
  UpdateMarginWidth();
}

std::vector<TLineNumberMemo::TNumber> TLineNumberMemo::VisibleNumbers() const {
  std::vector<int> marked;
  for (const QTextEdit::ExtraSelection &mark : extraSelections()) marked.push_back(mark.cursor.blockNumber());
  const int current = textCursor().blockNumber();
  std::vector<TNumber> numbers;
  QTextBlock block = firstVisibleBlock();
  int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
  const int bottom = viewport()->height();
  while (block.isValid() && top <= bottom) {
    if (block.isVisible()) {
      const int n = block.blockNumber();
      numbers.push_back({n + 1, top, n == current, std::find(marked.begin(), marked.end(), n) != marked.end()});
    }
    top += qRound(blockBoundingRect(block).height());
    block = block.next();
  }
  return numbers;
}

void TLineNumberMemo::PaintMargin(QPaintEvent *event) {
  QPainter painter(Margin);
  painter.fillRect(event->rect(), QColor(0xF0, 0xF0, 0xF0));
  const int width = Margin->width(), height = fontMetrics().height();
  const QColor plain(0x90, 0x90, 0x90), mark(0xFF, 0xD8, 0xD8), markText(0xC0, 0x00, 0x00);
  QFont emphasised = font();
  emphasised.setBold(true);
  for (const TNumber &n : VisibleNumbers()) {
    const QRect line(0, n.Top, width - 4, height);
    if (n.Marked) painter.fillRect(QRect(0, n.Top, width, height), mark);
    painter.setFont(n.Current ? emphasised : font());
    painter.setPen(n.Marked ? markText : n.Current ? palette().color(QPalette::Text) : plain);
    painter.drawText(line, Qt::AlignRight | Qt::AlignVCenter, QString::number(n.Number));
  }
}

namespace {
// The paint reads the memo's lines from its plain text, where a line
// separator (U+2028, U+2029) also ends a line; kept inside a line of the
// memo, it would make the memo's line numbers and the error lines' differ.
QString WithLineBreaks(QString text) {
  text.replace(QChar::LineSeparator, QLatin1Char('\n'));
  text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  return text;
}
}  // namespace

void TLineNumberMemo::keyPressEvent(QKeyEvent *event) {
  // Shift+Enter would put a line separator inside the line: make it a new line.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && (event->modifiers() & Qt::ShiftModifier)) {
    QKeyEvent plain(event->type(), event->key(), event->modifiers() & ~Qt::ShiftModifier, event->text());
    QPlainTextEdit::keyPressEvent(&plain);
    event->setAccepted(plain.isAccepted());
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

void TLineNumberMemo::insertFromMimeData(const QMimeData *source) {
  if (!source->hasText() || isReadOnly()) {
    QPlainTextEdit::insertFromMimeData(source);
    return;
  }
  textCursor().insertText(WithLineBreaks(source->text()));
  ensureCursorVisible();
}

}  // namespace velmora
