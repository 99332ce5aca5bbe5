#pragma once
// THelpForm: the help viewer. Topics are the .txt files of the Help folder.
#include <QLabel>
#include <QPlainTextEdit>
#include <QWidget>
#include <string>

#include "document/MessageBoxes.h"
#include "ui/NameList.h"

namespace velmora {

class THelpForm : public QWidget {
  Q_OBJECT
 public:
  explicit THelpForm(QWidget *mainWindow);
  TNameList *TempListBox;
  QLabel *TitlePanel;
  QPlainTextEdit *TempMemo;
  std::string Folder;
  TMessageBoxes *Boxes = nullptr;

  void RefreshList();
  void ShowSelected();

 protected:
  void showEvent(QShowEvent *event) override;

 private:
  QWidget *MainWindow;
  bool Placed = false;
};

extern THelpForm *HelpForm;

}  // namespace velmora
