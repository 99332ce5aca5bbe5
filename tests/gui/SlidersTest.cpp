// The パラメータ panel: its rows follow the constants memo, a drag writes only
// the number and undoes in one step, and the context menu adds a slider.
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QTextBlock>

#include "MainFormFixture.h"
#include "ui/ParameterPanel.h"

namespace velmora::test {

namespace {

using TSlidersTest = MainFormTest;

TParameterPanel *Panel() { return MainForm->ParameterPanel; }
std::string Line(int n) { return MainForm->ConstsMemo->document()->findBlockByNumber(n).text().toStdString(); }
void SetConsts(const L &lines) { MainForm->SetMemoLines(MainForm->ConstsMemo, lines); }

}  // namespace

TEST_F(TSlidersTest, PanelHidesWithoutSlidersAndShowsARowPerSlider) {
  SetConsts({"//定数", "s = 24", "t = 1"});
  EXPECT_FALSE(Panel()->isVisible());
  SetConsts({"//定数", "s = 24 // @slider 4..96", "t = 1", "u = 2 // @slider 5..1", "幅 = 0.5 // @slider 0..1 log"});
  for (int i = 0; i < 100 && MainForm->statusBar()->currentMessage().isEmpty(); ++i) QTest::qWait(20);
  EXPECT_TRUE(MainForm->statusBar()->currentMessage().contains(QStringLiteral("4行目")))
      << MainForm->statusBar()->currentMessage().toStdString();
  SetConsts({"//定数", "s = 24 // @slider 4..96", "t = 1", "幅 = 0.5 // @slider 0.1..1 log"});
  ASSERT_TRUE(Panel()->isVisible());
  ASSERT_EQ(Panel()->RowCount(), 2);
  EXPECT_EQ(Panel()->NameLabel(0)->text(), QStringLiteral("s"));
  EXPECT_EQ(Panel()->NameLabel(1)->text(), QStringLiteral("幅"));
  EXPECT_EQ(Panel()->Field(1)->text(), QStringLiteral("0.5"));
  // Typing in the memo follows: the annotation goes, the row goes.
  QTextCursor cursor(MainForm->ConstsMemo->document()->findBlockByNumber(1));
  cursor.movePosition(QTextCursor::EndOfBlock);
  cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
  cursor.insertText(QStringLiteral("s = 24"));
  EXPECT_EQ(Panel()->RowCount(), 1);
  SetConsts({"s = 24"});
  EXPECT_FALSE(Panel()->isVisible());
}

TEST_F(TSlidersTest, ADragWritesOnlyTheNumberAndUndoesInOneStep) {
  SetConsts({"//定数", "  s = 24   // @slider 4..96 step 0.5 // 大きさ", "t = 1"});
  const std::string before = MainForm->ConstsMemo->toPlainText().toStdString();
  MainForm->DocMng.Modified = false;
  ASSERT_EQ(Panel()->RowCount(), 1);
  QSlider *bar = Panel()->Slider(0);
  EXPECT_EQ(bar->value(), 40);  // (24 - 4) / 0.5
  int written = 0;
  QObject::connect(Panel(), &TParameterPanel::ValueWritten, [&written](bool dragging) { written += dragging; });
  bar->setSliderDown(true);
  for (int position : {41, 60, 75}) bar->setValue(position);
  EXPECT_EQ(Panel()->Slider(0), bar) << "the row must stay while it is dragged";
  bar->setSliderDown(false);
  EXPECT_EQ(written, 3);
  EXPECT_EQ(Line(1), "  s = 41.5   // @slider 4..96 step 0.5 // 大きさ");
  EXPECT_EQ(Line(2), "t = 1");
  EXPECT_EQ(Panel()->Field(0)->text(), QStringLiteral("41.5"));
  EXPECT_TRUE(MainForm->DocMng.Modified);
  // The slider keeps the keyboard after the drag; Ctrl+Z there is the memo's.
  MainForm->activateWindow();
  QApplication::setActiveWindow(MainForm);
  bar->setFocus();
  QTest::keyClick(bar, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(MainForm->ConstsMemo->toPlainText().toStdString(), before);
  EXPECT_FALSE(MainForm->ConstsMemo->document()->isUndoAvailable());
  EXPECT_EQ(Panel()->Slider(0)->value(), 40);
}

TEST_F(TSlidersTest, TypingAValueAndEnterWritesIt) {
  SetConsts({"s = 24 // @slider 4..96 step 0.5"});
  QLineEdit *field = Panel()->Field(0);
  field->setFocus();
  field->selectAll();
  QTest::keyClicks(field, "200.125");
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_EQ(Line(0), "s = 200.125 // @slider 4..96 step 0.5");
  EXPECT_EQ(Panel()->Slider(0)->value(), Panel()->Slider(0)->maximum());
  field->selectAll();
  QTest::keyClicks(field, "abc");
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_EQ(Line(0), "s = 200.125 // @slider 4..96 step 0.5");
  EXPECT_EQ(field->text(), QStringLiteral("200.125"));
}

TEST_F(TSlidersTest, TheContextMenuAddsASliderInOneUndoStep) {
  SetConsts({"//定数", "s = 24 // 大きさ", "t = s * 2"});
  QPlainTextEdit *memo = MainForm->ConstsMemo;
  auto at = [memo](int line) { return memo->cursorRect(QTextCursor(memo->document()->findBlockByNumber(line))).center(); };
  std::unique_ptr<QMenu> other(MainForm->ConstsMemoMenu(at(2)));
  QAction *last = other->actions().back();
  EXPECT_EQ(last->objectName(), QStringLiteral("AddSlider1"));
  EXPECT_FALSE(last->isEnabled());
  std::unique_ptr<QMenu> menu(MainForm->ConstsMemoMenu(at(1)));
  QAction *add = menu->actions().back();
  ASSERT_TRUE(add->isEnabled());
  add->trigger();
  EXPECT_EQ(Line(1), "s = 24 // @slider 0..48 step 0.1 // 大きさ");
  EXPECT_EQ(Panel()->RowCount(), 1);
  EXPECT_TRUE(Panel()->isVisible());
  memo->undo();
  EXPECT_EQ(Line(1), "s = 24 // 大きさ");
  EXPECT_FALSE(memo->document()->isUndoAvailable());
}

}  // namespace velmora::test
