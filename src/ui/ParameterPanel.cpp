#include "ui/ParameterPanel.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/Memo.h"

namespace velmora {

namespace {
// More rows than this scroll inside the panel: the memo above keeps its room.
constexpr int VisibleRows = 3;
}  // namespace

TParameterPanel::TParameterPanel(QPlainTextEdit *memo, QWidget *parent)
    : QWidget(parent), Memo(memo), Scroll(new QScrollArea), HintTimer(new QTimer(this)) {
  setObjectName("ParameterPanel");
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 4, 0, 0);
  layout->setSpacing(0);
  auto *caption = new QLabel(QStringLiteral(" [パラメータ]"));
  caption->setFixedHeight(17);
  layout->addWidget(caption);
  Scroll->setWidgetResizable(true);
  Scroll->setFrameShape(QFrame::NoFrame);
  Scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo->setMinimumHeight(Memo->fontMetrics().lineSpacing() * 3 + 2 * Memo->frameWidth() +
                         Memo->horizontalScrollBar()->sizeHint().height());
  layout->addWidget(Scroll);
  hide();
  HintTimer->setSingleShot(true);
  connect(HintTimer, &QTimer::timeout, this, [this] { emit Hint(LastHint); });
  // After a drag the slider has the keyboard: the undo and redo keys still reach the memo.
  auto *undo = new QShortcut(QKeySequence::Undo, this);
  auto *redo = new QShortcut(QKeySequence::Redo, this);
  undo->setContext(Qt::WidgetWithChildrenShortcut);
  redo->setContext(Qt::WidgetWithChildrenShortcut);
  connect(undo, &QShortcut::activated, Memo, &QPlainTextEdit::undo);
  connect(redo, &QShortcut::activated, Memo, &QPlainTextEdit::redo);
  connect(Memo->document(), &QTextDocument::contentsChanged, this, &TParameterPanel::Refresh);
  // While a paint keeps the memo from being edited, its sliders rest too.
  Memo->installEventFilter(this);
  Refresh();
}

bool TParameterPanel::eventFilter(QObject *watched, QEvent *event) {
  if (watched == Memo && event->type() == QEvent::EnabledChange) setEnabled(Memo->isEnabled());
  return QWidget::eventFilter(watched, event);
}

void TParameterPanel::Refresh() {
  const TStringList lines = MemoLines(Memo);
  std::vector<TSliderAnnotation> sliders;
  std::vector<TSliderHint> hints;
  FindSliders(lines, sliders, hints);
  ShowHints(hints);
  bool same = sliders.size() == Rows.size();
  for (std::size_t i = 0; same && i < sliders.size(); ++i) same = sliders[i].SameAs(Rows[i].Annotation);
  if (!same) {
    Rebuild(sliders);
    return;
  }
  // Only numbers changed: the rows stay, and the one being dragged is left alone.
  for (std::size_t i = 0; i < Rows.size(); ++i) {
    Rows[i].Annotation = sliders[i];
    if (static_cast<int>(i) != DragRow) ShowValue(Rows[i]);
  }
}

void TParameterPanel::Rebuild(const std::vector<TSliderAnnotation> &sliders) {
  // A slider may be the one under the mouse: the old rows go once the event is over.
  if (QWidget *old = Scroll->takeWidget()) old->deleteLater();
  Rows.clear();
  DragRow = -1;
  DragWrote = false;
  RowsBox = new QWidget;
  auto *grid = new QGridLayout(RowsBox);
  grid->setContentsMargins(4, 2, 4, 2);
  grid->setVerticalSpacing(2);
  grid->setColumnStretch(1, 1);
  for (const TSliderAnnotation &slider : sliders) AddRow(grid, slider);
  Scroll->setWidget(RowsBox);
  if (!Rows.empty()) {
    // As tall as its rows, up to a few; the splitter above the carpet
    // formulas makes room, and the memo keeps a few lines of its own.
    const int rowHeight = RowsBox->sizeHint().height() / RowCount();
    Scroll->setFixedHeight(rowHeight * std::min(RowCount(), VisibleRows) + 2);
  }
  setVisible(!Rows.empty());
}

void TParameterPanel::AddRow(QGridLayout *grid, const TSliderAnnotation &slider) {
  TRow row;
  row.Annotation = slider;
  row.Name = new QLabel(QString::fromStdString(slider.Name));
  row.Bar = new QSlider(Qt::Horizontal);
  row.Bar->setRange(0, SliderPositions(slider));
  row.Bar->setPageStep(std::max(1, SliderPositions(slider) / 10));
  row.Bar->setMinimumWidth(60);
  row.Field = new QLineEdit;
  row.Field->setFixedWidth(row.Field->fontMetrics().horizontalAdvance(QStringLiteral("-0.000000")) + 12);
  QSlider *bar = row.Bar;
  QLineEdit *field = row.Field;
  connect(bar, &QSlider::sliderPressed, this, [this, bar] { Pressed(bar); });
  connect(bar, &QSlider::valueChanged, this, [this, bar](int position) { Moved(bar, position); });
  connect(bar, &QSlider::sliderReleased, this, [this] { Released(); });
  connect(field, &QLineEdit::returnPressed, this, [this, field] { Entered(field); });
  const int r = RowCount();
  grid->addWidget(row.Name, r, 0);
  grid->addWidget(row.Bar, r, 1);
  grid->addWidget(row.Field, r, 2);
  Rows.push_back(row);
  ShowValue(Rows.back());
}

void TParameterPanel::ShowValue(TRow &row) {
  const TSliderAnnotation &a = row.Annotation;
  const QTextBlock block = Memo->document()->findBlockByNumber(a.Line);
  const std::string line = block.text().toStdString();
  const bool blocked = row.Bar->blockSignals(true);
  row.Bar->setValue(SliderPositionOf(a, a.Value));
  row.Bar->blockSignals(blocked);
  // A value being typed is not overwritten.
  if (!(row.Field->hasFocus() && row.Field->isModified()))
    row.Field->setText(QString::fromStdString(line.substr(a.NumberStart, a.NumberLength)));
}

void TParameterPanel::ShowHints(const std::vector<TSliderHint> &hints) {
  QString text;
  if (!hints.empty()) {
    text = QStringLiteral("スライダー注釈を無視しました（定数 %1行目：%2）")
               .arg(hints[0].Line + 1)
               .arg(QString::fromStdString(hints[0].Why));
    if (hints.size() > 1) text += QStringLiteral("ほか %1 件").arg(hints.size() - 1);
  }
  if (text == LastHint) return;
  LastHint = text;
  if (text.isEmpty()) HintTimer->stop();
  else HintTimer->start(HintDelayMs);
}

void TParameterPanel::Pressed(const QSlider *bar) {
  for (std::size_t i = 0; i < Rows.size(); ++i)
    if (Rows[i].Bar == bar) DragRow = static_cast<int>(i);
  DragWrote = false;
}

void TParameterPanel::Released() {
  DragRow = -1;
  DragWrote = false;
  Refresh();  // the dragged row shows the number as it is in the memo
  emit DragFinished();
}

void TParameterPanel::Moved(const QSlider *bar, int position) {
  for (std::size_t i = 0; i < Rows.size(); ++i) {
    if (Rows[i].Bar != bar) continue;
    const TSliderAnnotation &a = Rows[i].Annotation;
    const std::string number = SliderNumberText(a, SliderValueAt(a, position));
    Rows[i].Field->setText(QString::fromStdString(number));
    const bool dragging = bar->isSliderDown();
    if (WriteNumber(i, number)) emit ValueWritten(dragging);
    return;
  }
}

void TParameterPanel::Entered(const QLineEdit *field) {
  for (std::size_t i = 0; i < Rows.size(); ++i) {
    if (Rows[i].Field != field) continue;
    const QString typed = field->text().trimmed();
    long double value = 0;
    if (!ReadSliderNumber(typed.toStdString(), value)) {
      emit Hint(QStringLiteral("「%1」は数値として読めません（例: 24, -0.5, 1.5e3）").arg(typed));
      Rows[i].Field->setModified(false);
      ShowValue(Rows[i]);
      return;
    }
    // The number goes in as typed: the memo may hold values beyond the slider's range.
    Rows[i].Field->setModified(false);
    if (WriteNumber(i, typed.toStdString())) emit ValueWritten(false);
    return;
  }
}

bool TParameterPanel::WriteNumber(std::size_t row, const std::string &number) {
  const int lineNumber = Rows[row].Annotation.Line;
  const std::string name = Rows[row].Annotation.Name;
  const QTextBlock block = Memo->document()->findBlockByNumber(lineNumber);
  if (!block.isValid()) return false;
  const std::string line = block.text().toStdString();
  TSliderAnnotation now;
  std::string why;
  if (ParseSliderLine(line, now, why) != TSliderParse::Slider || now.Name != name) return false;
  const std::string changed = WithSliderNumber(line, now, number);
  if (changed == line) return false;
  // Only the number's characters are replaced; the memo counts in UTF-16 units.
  const int start = static_cast<int>(QString::fromStdString(line.substr(0, now.NumberStart)).size());
  const int length = static_cast<int>(now.NumberLength);
  const std::string written = changed.substr(now.NumberStart, changed.size() - line.size() + now.NumberLength);
  QTextCursor cursor(block);
  const bool ownDrag = DragRow == static_cast<int>(row);
  // One drag, one undo step: the drag's later numbers join the step of its first.
  if (ownDrag && DragWrote) cursor.joinPreviousEditBlock();
  else cursor.beginEditBlock();
  cursor.setPosition(block.position() + start);
  cursor.setPosition(block.position() + start + length, QTextCursor::KeepAnchor);
  cursor.insertText(QString::fromStdString(written));
  cursor.endEditBlock();
  if (ownDrag) DragWrote = true;
  return true;
}

}  // namespace velmora
