#pragma once
// TTempMngForm: the template manager. Create, edit, save and delete templates.
#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <string>

#include "document/MessageBoxes.h"
#include "ui/NameList.h"

namespace velmora {

class TTempMngForm : public QDialog {
  Q_OBJECT
 public:
  explicit TTempMngForm(QWidget *mainWindow);
  TNameList *TempListBox;
  QPlainTextEdit *TempMemo;
  QLineEdit *NameEdit;
  QPushButton *OKButton, *NewButton, *SaveButton, *DelButton;
  std::string Folder;
  std::string ShippedFolder;  // the program's own templates ("" when none ship)
  TMessageBoxes *Boxes = nullptr;
  // The codes of the template shown, written back when it is saved.
  text::TCp932Codes Codes;

  void RefreshList();
  void ShowSelected();
  void NewButtonClick();
  void NameEditChange();
  void SaveButtonClick();
  void DelButtonClick();
  // Puts back the shipped templates that are missing or changed, after a
  // question naming them; changed ones go to the trash. True when done.
  bool RestoreShipped();

 protected:
  void showEvent(QShowEvent *event) override;

 private:
  QWidget *MainWindow;
  bool Placed = false;
};

extern TTempMngForm *TempMngForm;

}  // namespace velmora
