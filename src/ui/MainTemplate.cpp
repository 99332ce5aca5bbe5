// The main window's side of the template picker's 使う(&U).
#include <QStatusBar>
#include <QTextCursor>

#include "paint/LivePaintCheck.h"
#include "ui/MainUnit.h"
#include "ui/Memo.h"

namespace velmora {

void TMainForm::UseTemplate(const TStringList &lines) {
  if (Painting() && !AutoPainting()) {
    ShowStatus(QStringLiteral("描画中はテンプレートを使えません．"));
    return;
  }
  // One edit of the memo: its Ctrl+Z brings the old formulas back in one step.
  QTextCursor cursor(MCMemo->document());
  cursor.beginEditBlock();
  cursor.select(QTextCursor::Document);
  cursor.insertText(MemoText(lines));
  cursor.endEditBlock();
  MCMemo->moveCursor(QTextCursor::Start);
  raise();
  activateWindow();
  MCMemo->setFocus(Qt::OtherFocusReason);
  // The edit has asked for an automatic paint: when it will paint, it paints now, once.
  if (AutoPaint1->isChecked() && CheckLivePaint(MemoLines(ConstsMemo), MemoLines(MCMemo)).Kind == TLivePaintVerdict::Paint) {
    RequestAutoPaint(0);
    return;
  }
  Command([this] { Paint1Click(); });
}

}  // namespace velmora
