#include "ui/NameList.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include "text/LineList.h"
#include "ui/Memo.h"

namespace velmora {

TNameList::TNameList() {
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QListWidget::itemSelectionChanged, this, [this] {
    SelectionMoved = true;
    if (!selectedItems().isEmpty()) Choose();
  });
  // A click on the row already selected shows it again.
  connect(this, &QListWidget::itemClicked, this, [this] {
    if (!SelectionMoved) Choose();
  });
}

int TNameList::SelectedRow() const {
  const QList<QListWidgetItem *> chosen = selectedItems();
  return chosen.isEmpty() ? -1 : row(chosen.first());
}

void TNameList::ChooseNone() {
  clearSelection();
  selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}

void TNameList::Choose() {
  if (OnChoose) OnChoose();
}

void TNameList::focusInEvent(QFocusEvent *event) {
  const bool hadCurrent = currentIndex().isValid();
  QListWidget::focusInEvent(event);
  // Focus alone chooses nothing; the arrow keys still start at the first row.
  if (!hadCurrent && currentIndex().isValid() && selectedItems().isEmpty()) ChooseNone();
}

void TNameList::mousePressEvent(QMouseEvent *event) {
  SelectionMoved = false;
  QListWidget::mousePressEvent(event);
}

void TNameList::keyPressEvent(QKeyEvent *event) {
  SelectionMoved = false;
  KeyDown = true;
  QListWidget::keyPressEvent(event);
}

void TNameList::keyReleaseEvent(QKeyEvent *event) {
  QListWidget::keyReleaseEvent(event);
  if (event->isAutoRepeat() || !KeyDown) return;
  KeyDown = false;
  if (!SelectionMoved) Choose();  // any key typed in the list shows the chosen entry again
}

namespace windows {

void FillList(QListWidget *list, const std::vector<std::string> &names) {
  for (const std::string &name : names) list->addItem(QString::fromStdString(name));
  list->sortItems();
}

void CentreOnce(QWidget *window, QWidget *on, bool &placed) {
  if (placed || !on) return;
  window->move(on->geometry().center() - window->rect().center());
  placed = true;
}

void ShowError(TMessageBoxes *boxes, const std::string &text) {
  if (boxes) boxes->ShowMessage(text, "Velmora 2", TMessageBoxes::Ok | TMessageBoxes::Stop);
}

bool LoadInto(QPlainTextEdit *memo, const std::string &path, TMessageBoxes *boxes, text::TCp932Codes *codes) {
  TStringList lines;
  std::string error, warning;
  if (!text::LoadLineList(path, lines, error, &warning, codes)) {
    ShowError(boxes, error);
    return false;
  }
  if (!warning.empty()) ShowError(boxes, warning);
  SetMemoText(memo, lines);
  return true;
}

}  // namespace windows

}  // namespace velmora
