#pragma once
// TTempForm: the template picker. Browse the templates read-only and copy one
// to the clipboard, to paste it into a formula memo.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <string>

#include "document/MessageBoxes.h"
#include "ui/NameList.h"

namespace velmora {

class TTempForm : public QWidget {
  Q_OBJECT
 public:
  explicit TTempForm(QWidget *mainWindow);
  TNameList *TempListBox;
  QPlainTextEdit *TempMemo;
  QPushButton *CopyButton;
  std::string Folder;              // the Template folder beside the executable
  TMessageBoxes *Boxes = nullptr;  // where read errors are shown

  void RefreshList();
  void ShowSelected();
  void CopyButtonClick();

 protected:
  void showEvent(QShowEvent *event) override;

 private:
  QWidget *MainWindow;
  bool Placed = false;
};

extern TTempForm *TempForm;

// Shared by the template and help windows.

}  // namespace velmora
