#pragma once
// The name list of the template and help windows. A row counts as chosen only
// when the user has selected it: the item view's habit of making the first row
// current when the list gets the keyboard focus would otherwise load (and let
// the manager delete) an entry nobody picked.
#include <QListWidget>
#include <functional>

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

}  // namespace velmora
