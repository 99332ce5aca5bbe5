#include "ui/TempMngUnit.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QSplitter>
#include <QVBoxLayout>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

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
      Folder(ProgramFolders().Template), ShippedFolder(ProgramFolders().ShippedTemplate), MainWindow(mainWindow) {
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

bool TTempMngForm::RestoreShipped() {
  if (ShippedFolder.empty()) {
    windows::ShowError(Boxes, "付属のテンプレートが見つかりません．");
    return false;
  }
  std::vector<bool> changed;
  const std::vector<std::string> names = DifferingShippedFiles(Folder, ShippedFolder, &changed);
  if (names.empty()) {
    Boxes->ShowMessage("付属のテンプレートはすべてそろっています．", "テンプレート", TMessageBoxes::Ok);
    return false;
  }
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i)
    list += "\n" + text::ChangeExtension(names[i], "") + (changed[i] ? "（変更されています）" : "（ありません）");
  const std::string question = "次の付属のテンプレートを元に戻します．\n変更されたものはごみ箱に移します．よろしいですか？\n" + list;
  if (Boxes->ShowMessage(question, "テンプレート", TMessageBoxes::YesNo) != TMessageBoxes::IdYes) return false;
  text::EnsureFolder(Folder);
  std::string failures;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string path = Folder + "/" + names[i];
    std::string bytes, error, trashed;
    if (!text::ReadFileBytes(ShippedFolder + "/" + names[i], bytes, error)) {
      failures += error + "\n";
      continue;
    }
    if (changed[i]) MoveToTrash(path, &trashed);
    if (!text::WriteFileAtomically(path, bytes, error)) {
      if (!trashed.empty()) PutBackFromTrash(trashed, path);
      failures += error + "\n";
    }
  }
  if (!failures.empty()) windows::ShowError(Boxes, failures);
  if (isVisible()) RefreshList();
  return failures.empty();
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
  // A template replaced by other text goes to the trash first, so that one
  // click cannot lose it.
  // (A read-only file or a link is left to the save, which refuses the one
  // and writes through the other.)
  const std::string path = Folder + "/" + fileName;
  const TStringList lines = MemoLines(TempMemo);
  TStringList old;
  std::string error, warning, trashed;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), W_OK) == 0 &&
      !(text::LoadLineList(path, old, error, &warning) && old == lines))
    MoveToTrash(path, &trashed);
  error.clear();
  if (!text::SaveLineList(path, lines, error, &Codes)) {
    if (!trashed.empty()) PutBackFromTrash(trashed, path);  // the old one stays where it was
    windows::ShowError(Boxes, error);
    return;
  }
  RefreshList();
}

void TTempMngForm::DelButtonClick() {
  const int row = TempListBox->SelectedRow();
  if (row < 0) return;
  const std::string path = Folder + "/" + TempListBox->item(row)->text().toStdString() + ".qtp";
  if (!MoveToTrash(path)) std::remove(path.c_str());  // no trash: deleted, as always
  RefreshList();
}

}  // namespace velmora
