// The main window's part of the sliders: the パラメータ panel under the
// constants memo, and the constants memo's context menu entry that adds a
// slider annotation to a `name = number` line.
#include <QBoxLayout>
#include <QMenu>
#include <QTextBlock>
#include <memory>

#include "formula/SliderAnnotation.h"
#include "ui/MainUnit.h"
#include "ui/ParameterPanel.h"

namespace velmora {

void TMainForm::BuildParameterPanel(QBoxLayout *layout) {
  ParameterPanel = new TParameterPanel(ConstsMemo);
  layout->addWidget(ParameterPanel);
  connect(ParameterPanel, &TParameterPanel::Hint, this, [this](const QString &text) { ShowStatus(text); });
  // A slider paints at once, not after the typing pause: each move restarts
  // the paint, so its coarse passes follow the drag and the release sharpens.
  const auto paintNow = [this] {
    if (AutoPaint1 && AutoPaint1->isChecked()) RequestAutoPaint(0);
  };
  connect(ParameterPanel, &TParameterPanel::ValueWritten, this, paintNow);
  connect(ParameterPanel, &TParameterPanel::DragFinished, this, paintNow);
  ConstsMemo->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ConstsMemo, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
    std::unique_ptr<QMenu> menu(ConstsMemoMenu(pos));
    menu->exec(ConstsMemo->viewport()->mapToGlobal(pos));
  });
}

QMenu *TMainForm::ConstsMemoMenu(const QPoint &pos) {
  QMenu *menu = ConstsMemo->createStandardContextMenu(pos);
  menu->addSeparator();
  QAction *add = menu->addAction(QStringLiteral("スライダーを付ける(&L)"));
  add->setObjectName("AddSlider1");
  const QTextBlock block = ConstsMemo->cursorForPosition(pos).block();
  std::size_t at = 0;
  std::string inserted;
  add->setEnabled(!ConstsMemo->isReadOnly() && SliderCommentFor(block.text().toStdString(), at, inserted));
  const int line = block.blockNumber();
  connect(add, &QAction::triggered, this, [this, line] {
    const QTextBlock now = ConstsMemo->document()->findBlockByNumber(line);
    const std::string text = now.text().toStdString();
    std::size_t where = 0;
    std::string comment;
    if (!now.isValid() || !SliderCommentFor(text, where, comment)) return;
    // One insertion, one undo step; the rest of the line stays as it was.
    QTextCursor cursor(now);
    cursor.setPosition(now.position() + static_cast<int>(QString::fromStdString(text.substr(0, where)).size()));
    cursor.insertText(QString::fromStdString(comment));
  });
  return menu;
}

}  // namespace velmora
