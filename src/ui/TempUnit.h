#pragma once
// TTempForm: the template picker. Browse the templates read-only and copy one
// to the clipboard, to paste it into a formula memo.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QHBoxLayout>
#include <QWidget>
#include <functional>
#include <string>

#include "document/MessageBoxes.h"
#include "engine/ArithmeticUnit.h"
#include "ui/NameList.h"
#include "ui/TemplateThumbnails.h"

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

  // After the picker's own: 使う(&U) (also a double-click or Enter on a name)
  // hands the chosen template's lines to OnUse and closes the picker.
  QPushButton *UseButton;
  std::function<void(const TStringList &lines)> OnUse;
  void UseButtonClick();
  // The names' small pictures, painted on the side.
  TTemplateThumbnails *Thumbnails;

 protected:
  void showEvent(QShowEvent *event) override;
  void hideEvent(QHideEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  QWidget *MainWindow;
  bool Placed = false;
  void AddUse(QHBoxLayout *header);  // TempUse.cpp
  void RequestThumbnails();
};

extern TTempForm *TempForm;

// Shared by the template and help windows.

}  // namespace velmora
