#include "ui/HelpUnit.h"

#include <QEvent>
#include <QSplitter>
#include <QVBoxLayout>

#include "document/DocumentManager.h"
#include "text/LineList.h"
#include "ui/Folders.h"
#include "ui/Fonts.h"
#include "ui/Memo.h"
#include "ui/TempUnit.h"

namespace velmora {

THelpForm *HelpForm = nullptr;

THelpForm::THelpForm(QWidget *mainWindow)
    : QWidget(mainWindow, Qt::Window), TempListBox(new TNameList), TitlePanel(new QLabel),
      TempMemo(new QPlainTextEdit), Folder(ProgramFolders().Help), MainWindow(mainWindow) {
  setObjectName("HelpForm");
  setWindowTitle(QStringLiteral("ヘルプ"));
  setFont(FixedFont(15));
  resize(733, 269);
  TempListBox->setObjectName("TempListBox");
  TempListBox->setFont(FixedFont(12));
  TitlePanel->setObjectName("TitlePanel");
  TitlePanel->setFixedHeight(24);
  TitlePanel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  TitlePanel->setStyleSheet(QStringLiteral("QLabel { border-bottom: 1px solid palette(mid); }"));
  TempMemo->setObjectName("TempMemo");
  TempMemo->setReadOnly(true);
  TempMemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  TempMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  auto *right = new QWidget;
  auto *rightLayout = new QVBoxLayout(right);
  rightLayout->setContentsMargins(0, 0, 0, 0);
  rightLayout->setSpacing(0);
  rightLayout->addWidget(TitlePanel);
  rightLayout->addWidget(TempMemo);
  auto *splitter = new QSplitter(Qt::Horizontal);
  splitter->addWidget(TempListBox);
  splitter->addWidget(right);
  splitter->setSizes({185, 548});
  splitter->setStretchFactor(1, 1);
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(splitter);
  TempListBox->OnChoose = [this] { ShowSelected(); };
}

void THelpForm::showEvent(QShowEvent *event) {
  windows::CentreOnce(this, MainWindow, Placed);
  RefreshList();
  QWidget::showEvent(event);
}

void THelpForm::RefreshList() {
  const QSignalBlocker quiet(TempListBox);
  TempListBox->clear();
  TitlePanel->clear();
  std::vector<std::string> names;
  if (text::ListNames(Folder, ".txt", names)) {
    windows::FillList(TempListBox, names);
    TempListBox->ChooseNone();
    TitlePanel->clear();
    TempMemo->clear();
  } else {
    text::EnsureFolder(Folder);
  }
}

void THelpForm::ShowSelected() {
  const int row = TempListBox->SelectedRow();
  if (row < 0) return;
  const QString name = TempListBox->item(row)->text();
  if (windows::LoadInto(TempMemo, Folder + "/" + name.toStdString() + ".txt", Boxes)) TitlePanel->setText(name);
}

}  // namespace velmora
