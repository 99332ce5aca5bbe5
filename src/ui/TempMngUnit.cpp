#include "ui/TempMngUnit.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QSplitter>
#include <QVBoxLayout>
#include <cstdio>

#include "document/DocumentManager.h"
#include "text/LineList.h"
#include "ui/Folders.h"
#include "ui/Fonts.h"
#include "ui/Memo.h"
#include "ui/TempUnit.h"

namespace velmora {

TTempMngForm *TempMngForm = nullptr;

TTempMngForm::TTempMngForm(QWidget *mainWindow)
    : QDialog(mainWindow), TempListBox(new TNameList), TempMemo(new QPlainTextEdit), NameEdit(new QLineEdit),
      OKButton(new QPushButton(QStringLiteral("OK"))), NewButton(new QPushButton(QStringLiteral("新規(&N)"))),
      SaveButton(new QPushButton(QStringLiteral("保存(&S)"))), DelButton(new QPushButton(QStringLiteral("削除(&D)"))),
      Folder(ProgramFolders().Template), MainWindow(mainWindow) {
  setObjectName("TempMngForm");
  setWindowTitle(QStringLiteral("テンプレートの管理"));
  setModal(true);
  setFont(FixedFont(12));
  resize(439, 356);
  TempListBox->setObjectName("TempListBox");
  TempMemo->setObjectName("TempMemo");
  TempMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  TempMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  TempMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  NameEdit->setObjectName("NameEdit");
  SaveButton->setEnabled(false);
  for (QPushButton *b : {OKButton, NewButton, SaveButton, DelButton}) b->setAutoDefault(false);

  auto *nameStrip = new QWidget;
  auto *nameLayout = new QHBoxLayout(nameStrip);
  nameLayout->setContentsMargins(0, 0, 0, 0);
  nameLayout->addWidget(new QLabel(QStringLiteral(" 名前：")));
  nameLayout->addWidget(NameEdit);
  auto *content = new QWidget;
  auto *contentLayout = new QVBoxLayout(content);
  contentLayout->setContentsMargins(0, 0, 0, 0);
  contentLayout->addWidget(new QLabel(QStringLiteral("[内容]")));
  contentLayout->addWidget(TempMemo);
  auto *top = new QWidget;
  auto *topLayout = new QVBoxLayout(top);
  topLayout->setContentsMargins(0, 0, 0, 0);
  topLayout->addWidget(TempListBox);
  topLayout->addWidget(nameStrip);
  auto *splitter = new QSplitter(Qt::Vertical);
  splitter->addWidget(top);
  splitter->addWidget(content);
  auto *buttons = new QVBoxLayout;
  for (QPushButton *b : {OKButton, NewButton, SaveButton, DelButton}) buttons->addWidget(b);
  buttons->addStretch();
  auto *layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(splitter, 1);
  layout->addLayout(buttons);

  TempListBox->OnChoose = [this] { ShowSelected(); };
  connect(NameEdit, &QLineEdit::textChanged, this, [this] { NameEditChange(); });
  connect(OKButton, &QPushButton::clicked, this, [this] { done(1); });
  connect(NewButton, &QPushButton::clicked, this, [this] { NewButtonClick(); });
  connect(SaveButton, &QPushButton::clicked, this, [this] { SaveButtonClick(); });
  connect(DelButton, &QPushButton::clicked, this, [this] { DelButtonClick(); });
}

void TTempMngForm::showEvent(QShowEvent *event) {
  windows::CentreOnce(this, MainWindow, Placed);
  RefreshList();
  QDialog::showEvent(event);
}

void TTempMngForm::RefreshList() {
  const QSignalBlocker quiet(TempListBox);
  TempListBox->ChooseNone();
  NameEdit->clear();  // disables the save button
  TempMemo->clear();
  Codes.Clear();
  TempListBox->clear();
  std::vector<std::string> names;
  if (text::ListNames(Folder, ".qtp", names)) windows::FillList(TempListBox, names);
  else text::EnsureFolder(Folder);
  TempListBox->ChooseNone();
}

void TTempMngForm::ShowSelected() {
  const int row = TempListBox->SelectedRow();
  if (row < 0) return;
  const QString name = TempListBox->item(row)->text();
  text::TCp932Codes codes;
  if (!windows::LoadInto(TempMemo, Folder + "/" + name.toStdString() + ".qtp", Boxes, &codes)) return;
  Codes = std::move(codes);
  NameEdit->setText(name);
}

void TTempMngForm::NewButtonClick() {
  NameEdit->clear();
  TempMemo->clear();
  Codes.Clear();
}

void TTempMngForm::NameEditChange() { SaveButton->setEnabled(!NameEdit->text().isEmpty()); }

void TTempMngForm::SaveButtonClick() {
  const std::string fileName = text::ChangeExtension(NameEdit->text().toStdString(), ".qtp");
  // The name is a file name in the template folder, never a path elsewhere.
  if (fileName.find('/') != std::string::npos || fileName == ".qtp") {
    windows::ShowError(Boxes, "テンプレートの名前「" + NameEdit->text().toStdString() +
                                  "」はファイル名に使えません（\"/\" を含む名前や空の名前は使えません）．");
    return;
  }
  std::string error;
  if (!text::SaveLineList(Folder + "/" + fileName, MemoLines(TempMemo), error, &Codes)) {
    windows::ShowError(Boxes, error);
    return;
  }
  RefreshList();
}

void TTempMngForm::DelButtonClick() {
  const int row = TempListBox->SelectedRow();
  if (row < 0) return;
  std::remove((Folder + "/" + TempListBox->item(row)->text().toStdString() + ".qtp").c_str());
  RefreshList();
}

}  // namespace velmora
