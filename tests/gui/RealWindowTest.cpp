// Focus and activation, which Qt's offscreen platform does not show: these run
// on a real X server with a window manager (scripts/real-window-tests.sh) and
// are skipped elsewhere.
#include <QApplication>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "../TestSupport.h"
#include "GuiSupport.h"
#include "ui/ErrorShowUnit.h"
#include "ui/MainUnit.h"
#include "ui/TempMngUnit.h"
#include "ui/TempUnit.h"
#include "ui/HelpUnit.h"
#include "ui/Windows.h"

using namespace velmora;
using velmora::test::Put;
using velmora::test::TTempDir;
using velmora::test::WaitFor;

namespace {

class RealWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs a real window system";
    CreateWindows();
    MainForm->UseDialogs(&Boxes, MainForm->OpenDialog, MainForm->SaveDialog, MainForm->SavePicDialog,
                         MainForm->OpenPicDialog);
    mkdir(Dir.File("Template").c_str(), 0755);
    Put(Dir.File("Template/a.qtp"), "r = 1\r\n");
    Put(Dir.File("Template/b.qtp"), "r = 2\r\n");
    TempForm->Folder = TempMngForm->Folder = Dir.File("Template");
    HelpForm->Folder = Dir.File("Template");  // any folder with entries will do
    MainForm->show();
    ASSERT_TRUE(WaitFor([] { return MainForm->isActiveWindow(); }));
  }
  void TearDown() override {
    if (!MainForm) return;
    MainForm->DocMng.Modified = false;
    DestroyWindows();
  }
  static bool Exists(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
  }
  TMessageRecorder Boxes;
  TTempDir Dir;
};

}  // namespace

TEST_F(RealWindow, TypingAtStartGoesIntoTheCarpetMemo) {
  ASSERT_TRUE(WaitFor([] { return QApplication::focusWidget() == MainForm->MCMemo; }));
  QTest::keyClicks(MainForm->MCMemo, "r = x");
  const TStringList lines = TMainForm::MemoLines(MainForm->MCMemo);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[4], "r = x") << "typed on the empty line below the comments";
}

TEST_F(RealWindow, ListsThatGetTheFocusChooseNothing) {
  for (int show = 0; show < 2; ++show) {
    TempMngForm->show();
    ASSERT_TRUE(WaitFor([] { return TempMngForm->isActiveWindow(); }));
    TempMngForm->TempListBox->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(WaitFor([] { return TempMngForm->TempListBox->hasFocus(); }));
    EXPECT_FALSE(TempMngForm->TempListBox->currentIndex().isValid());
    EXPECT_TRUE(TempMngForm->NameEdit->text().isEmpty());
    EXPECT_FALSE(TempMngForm->SaveButton->isEnabled());
    QTest::mouseClick(TempMngForm->DelButton, Qt::LeftButton);
    EXPECT_TRUE(Exists(Dir.File("Template/a.qtp")));
    TempMngForm->hide();
    for (QWidget *window : {static_cast<QWidget *>(TempForm), static_cast<QWidget *>(HelpForm)}) {
      window->show();
      ASSERT_TRUE(WaitFor([window] { return window->isActiveWindow(); }));
      auto *list = window == TempForm ? TempForm->TempListBox : HelpForm->TempListBox;
      list->setFocus(Qt::TabFocusReason);
      ASSERT_TRUE(WaitFor([list] { return list->hasFocus(); }));
      EXPECT_FALSE(list->currentIndex().isValid());
      window->hide();
    }
  }
}

TEST_F(RealWindow, ShowingAnOpenWindowAgainMakesItActive) {
  for (QAction *action : {MainForm->Template1, MainForm->Help2}) {
    QWidget *window = action == MainForm->Template1 ? static_cast<QWidget *>(TempForm) : HelpForm;
    action->trigger();
    // QWindow counts a window whose transient parent is active as active: ask the widget.
    ASSERT_TRUE(WaitFor([window] { return window->isActiveWindow(); }));
    // The user clicks the main window: activation through the window manager,
    // as a pager or a click asks for it.
    ASSERT_EQ(QProcess::execute("xdotool", {"windowactivate", "--sync", QString::number(MainForm->winId())}), 0);
    ASSERT_TRUE(WaitFor([] { return MainForm->isActiveWindow(); }));
    ASSERT_FALSE(window->isActiveWindow());
    action->trigger();
    EXPECT_TRUE(WaitFor([window] { return window->isActiveWindow(); })) << action->text().toStdString();
    window->hide();
  }
}

// Edit, paint, edit on a real display: the keys go back into the memo, also
// when the paint failed and the error window came up, and that window leaves
// the memos visible.
TEST_F(RealWindow, AfterAPaintTheKeysGoBackIntoTheMemoAndTheErrorWindowLeavesItFree) {
  ASSERT_TRUE(WaitFor([] { return QApplication::focusWidget() == MainForm->MCMemo; }));
  MainForm->ResizeImage(60, 40);
  QTest::keyClicks(MainForm->MCMemo, "r = (x");
  QTest::keyClick(MainForm->MCMemo, Qt::Key_P, Qt::ControlModifier);
  ASSERT_TRUE(MainForm->Painting());
  MainForm->WaitForPaint();
  ASSERT_TRUE(WaitFor([] { return ErrorShowForm->isVisible(); }));
  // Give the window manager time to act on the new window.
  QTest::qWait(300);
  EXPECT_TRUE(WaitFor([] { return MainForm->isActiveWindow() && QApplication::focusWidget() == MainForm->MCMemo; }));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_BracketRight);  // any key; checked below
  QTest::keyClicks(QApplication::focusWidget(), ")");
  const TStringList lines = TMainForm::MemoLines(MainForm->MCMemo);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[4], "r = (x])");
  const QRect errors = ErrorShowForm->frameGeometry();
  for (QWidget *memo : {static_cast<QWidget *>(MainForm->ConstsMemo), static_cast<QWidget *>(MainForm->MCMemo)}) {
    const QRect shown(memo->mapToGlobal(QPoint(0, 0)), memo->size());
    EXPECT_FALSE(errors.intersects(shown)) << "error window " << errors.x() << "," << errors.y() << " "
                                           << errors.width() << "x" << errors.height() << " memo " << shown.x()
                                           << "," << shown.y() << " " << shown.width() << "x" << shown.height();
  }
}
