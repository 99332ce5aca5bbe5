#pragma once
// What the list windows (template picker, template manager, help) share: the
// name list, and filling it, placing the window, loading an entry.
//
// The name list of the template and help windows. A row counts as chosen only
// when the user has selected it: the item view's habit of making the first row
// current when the list gets the keyboard focus would otherwise load (and let
// the manager delete) an entry nobody picked.
#include <QListWidget>
#include <QPlainTextEdit>
#include <functional>
#include <string>
#include <vector>

#include "document/MessageBoxes.h"
#include "text/Cp932.h"

namespace velmora {

class TNameList : public QListWidget {
 public:
  TNameList();

  // Shows the chosen entry: called once for a click, for a selection moved by
  // keys or by the program, and for any other key typed in the list.
  std::function<void()> OnChoose;

  // The selected row, or -1 when the user has chosen none.
  int SelectedRow() const;
  // No row selected and none current, as the list is right after a refresh.
  void ChooseNone();

 protected:
  void focusInEvent(QFocusEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  void keyReleaseEvent(QKeyEvent *event) override;

 private:
  void Choose();
  bool SelectionMoved = false;  // since the last press; the press then chose already
  bool KeyDown = false;         // a key was pressed here, not only released
};

namespace windows {
// The list's names sorted as the list control sorts them.
void FillList(QListWidget *list, const std::vector<std::string> &names);
// Centres `window` on `on` the first time it is shown.
void CentreOnce(QWidget *window, QWidget *on, bool &placed);
void ShowError(TMessageBoxes *boxes, const std::string &text);
// Loads a code page 932 text file into `memo`; a failure or bytes that are not
// code page 932 are shown in a box. False when nothing was loaded. `codes`
// receives the codes to write back when the memo is saved (see TCp932Codes).
bool LoadInto(QPlainTextEdit *memo, const std::string &path, TMessageBoxes *boxes,
              text::TCp932Codes *codes = nullptr);
}  // namespace windows

}  // namespace velmora
