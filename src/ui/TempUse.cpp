// The template picker's additions: 使う(&U), and the names' small pictures.
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QSplitter>

#include "text/LineList.h"
#include "ui/Memo.h"
#include "ui/TempUnit.h"

namespace velmora {

namespace {
// Names wait for their picture in a blank of its size, so rows do not jump.
QIcon Blank() {
  QPixmap blank(TTemplateThumbnails::Width, TTemplateThumbnails::Height);
  blank.fill(Qt::transparent);
  return QIcon(blank);
}
}  // namespace

void TTempForm::AddUse(QHBoxLayout *header) {
  UseButton = new QPushButton(QStringLiteral("使う(&U)"));
  UseButton->setObjectName("UseButton");
  UseButton->setToolTip(QStringLiteral("絨毯の数式をこのテンプレートに置き換えて描画します"));
  header->insertWidget(header->indexOf(CopyButton) + 1, UseButton);
  connect(UseButton, &QPushButton::clicked, this, [this] { UseButtonClick(); });
  connect(TempListBox, &QListWidget::itemDoubleClicked, this, [this] { UseButtonClick(); });
  TempListBox->installEventFilter(this);
  TempListBox->setIconSize(QSize(TTemplateThumbnails::Width, TTemplateThumbnails::Height));
  // The pictures take room from the names: the list gets some more.
  if (auto *splitter = qobject_cast<QSplitter *>(TempListBox->parentWidget())) splitter->setSizes({220, 302});
  Thumbnails = new TTemplateThumbnails(this);
  connect(Thumbnails, &TTemplateThumbnails::Ready, this, [this](const QString &name, const QImage &thumbnail) {
    const QList<QListWidgetItem *> items = TempListBox->findItems(name, Qt::MatchExactly);
    for (QListWidgetItem *item : items) item->setIcon(QIcon(QPixmap::fromImage(thumbnail)));
  });
}

void TTempForm::RequestThumbnails() {
  std::vector<std::pair<QString, std::string>> templates;
  const QIcon blank = Blank();
  for (int row = 0; row < TempListBox->count(); ++row) {
    QListWidgetItem *item = TempListBox->item(row);
    item->setIcon(blank);
    templates.emplace_back(item->text(), Folder + "/" + item->text().toStdString() + ".qtp");
  }
  Thumbnails->Request(std::move(templates));
}

void TTempForm::hideEvent(QHideEvent *event) {
  // Pictures not painted yet are painted the next time the picker shows.
  Thumbnails->Stop();
  QWidget::hideEvent(event);
}

bool TTempForm::eventFilter(QObject *watched, QEvent *event) {
  if (watched == TempListBox && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent *>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && TempListBox->SelectedRow() >= 0) {
      UseButtonClick();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TTempForm::UseButtonClick() {
  const int row = TempListBox->SelectedRow();
  if (row < 0) return;
  // Read afresh: what is used is the file as it is now, and a file that
  // cannot be read is reported here and used for nothing.
  if (!windows::LoadInto(TempMemo, Folder + "/" + TempListBox->item(row)->text().toStdString() + ".qtp", Boxes))
    return;
  const TStringList lines = MemoLines(TempMemo);
  hide();
  if (OnUse) OnUse(lines);
}

}  // namespace velmora
