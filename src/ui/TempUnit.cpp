#include "ui/TempUnit.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QSplitter>
#include <QVBoxLayout>

#include "document/DocumentManager.h"
#include "text/LineList.h"
#include "ui/Folders.h"
#include "ui/Fonts.h"
#include "ui/Memo.h"

namespace velmora {

TTempForm *TempForm = nullptr;


TTempForm::TTempForm(QWidget *mainWindow)
    : QWidget(mainWindow, Qt::Window), TempListBox(new TNameList), TempMemo(new QPlainTextEdit),
      CopyButton(new QPushButton(QStringLiteral("コピー(&C)"))), Folder(ProgramFolders().Template),
      MainWindow(mainWindow) {
  setObjectName("TempForm");
  setWindowTitle(QStringLiteral("テンプレート"));
  setFont(FixedFont(12));
  resize(522, 319);
  TempListBox->setObjectName("TempListBox");
  TempMemo->setObjectName("TempMemo");
  TempMemo->setReadOnly(true);
  TempMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  TempMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  TempMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  CopyButton->setObjectName("CopyButton");

  auto *content = new QWidget;
  auto *header = new QHBoxLayout;
  header->addWidget(new QLabel(QStringLiteral("[内容]")));
  header->addWidget(CopyButton);
  header->addStretch();
  auto *contentLayout = new QVBoxLayout(content);
  contentLayout->setContentsMargins(0, 0, 0, 0);
  contentLayout->setSpacing(2);
  contentLayout->addLayout(header);
  contentLayout->addWidget(TempMemo);
  auto *splitter = new QSplitter(Qt::Horizontal);
  splitter->addWidget(TempListBox);
  splitter->addWidget(content);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({161, 361});
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  auto *headerStrip = new QLabel(QStringLiteral(" テンプレートを選択し，コピーしてください．"));
  headerStrip->setFixedHeight(20);
  layout->addWidget(headerStrip);
  layout->addWidget(splitter);

  TempListBox->OnChoose = [this] { ShowSelected(); };
  connect(CopyButton, &QPushButton::clicked, this, [this] { CopyButtonClick(); });
  AddUse(header);
}

void TTempForm::showEvent(QShowEvent *event) {
  windows::CentreOnce(this, MainWindow, Placed);
  RefreshList();
  QWidget::showEvent(event);
}

void TTempForm::RefreshList() {
  const QSignalBlocker quiet(TempListBox);
  TempListBox->clear();
  std::vector<std::string> names;
  if (text::ListNames(Folder, ".qtp", names)) {
    windows::FillList(TempListBox, names);
    TempListBox->ChooseNone();
    TempMemo->clear();
    RequestThumbnails();
  } else {
    text::EnsureFolder(Folder);
  }
}

void TTempForm::ShowSelected() {
  const int row = TempListBox->SelectedRow();
  if (row < 0) return;
  windows::LoadInto(TempMemo, Folder + "/" + TempListBox->item(row)->text().toStdString() + ".qtp", Boxes);
}

void TTempForm::CopyButtonClick() {
  TempMemo->selectAll();
  TempMemo->copy();
  QTextCursor cursor = TempMemo->textCursor();
  cursor.clearSelection();
  TempMemo->setTextCursor(cursor);
}

}  // namespace velmora
