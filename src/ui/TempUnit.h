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
namespace windows {
// The list's names sorted as the list control sorts them.
void FillList(QListWidget *list, const std::vector<std::string> &names);
// Centres `window` on `on` the first time it is shown.
void CentreOnce(QWidget *window, QWidget *on, bool &placed);
void ShowError(TMessageBoxes *boxes, const std::string &text);
// Loads a code page 932 text file into `memo`; a failure or bytes that are not
// code page 932 are shown in a box. False when nothing was loaded.
bool LoadInto(QPlainTextEdit *memo, const std::string &path, TMessageBoxes *boxes);
}  // namespace windows

}  // namespace velmora
