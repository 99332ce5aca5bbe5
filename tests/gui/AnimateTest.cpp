// 画像 → アニメーションを書き出す on the main window.
#include <QMenu>
#include <QMenuBar>
#include <gtest/gtest.h>
#include <unistd.h>

#include "MainFormFixture.h"
#include "paint/PictureFile.h"
#include "ui/AnimateUnit.h"

using namespace velmora;
using namespace velmora::test;

namespace {

TPicture LoadFrame(const std::string &path) {
  TPicture p;
  std::string error;
  EXPECT_TRUE(LoadPicture(path, p, error)) << path << ": " << error;
  return p;
}

}  // namespace

TEST_F(MainFormTest, AnimationDialogWritesFramesAndLeavesTheWindowAsItWas) {
  Type(MainForm->ConstsMemo, "t = 0\nk = 2");
  Type(MainForm->MCMemo, "r = 100 + 50*sin(x/3 + t)\ng = y*k\nb = t*40");
  MainForm->ResizeImage(16, 12);
  Paint();
  const TPicture before = MainForm->Picture;
  QList<QAction *> entries;
  for (QAction *menu : MainForm->menuBar()->actions())
    if (menu->text() == QStringLiteral("画像(&I)")) entries = menu->menu()->actions();
  ASSERT_TRUE(entries.contains(MainForm->ChangeSize1));
  EXPECT_EQ(entries.last(), MainForm->ExportAnimation1) << "after 画像's own entries";
  EXPECT_EQ(MainForm->ExportAnimation1->text(), QStringLiteral("アニメーションを書き出す(&A)..."));

  MainForm->ExportAnimation1->trigger();
  TAnimateForm *form = MainForm->AnimateForm;
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->isVisible());
  ASSERT_EQ(form->VariableBox->count(), 2);
  EXPECT_EQ(form->VariableBox->itemText(1), QStringLiteral("k"));
  TScriptedDialog files;
  files.Answers = {Dir.File("f.png")};
  form->FileDialog = &files;
  form->BrowseButton->click();
  EXPECT_EQ(form->FileEdit->text().toStdString(), Dir.File("f%04d.png")) << "a numbered name for 連番 PNG";
  form->ToEdit->setText(QStringLiteral("2"));
  form->FramesSpin->setValue(4);
  form->StartButton->click();
  EXPECT_TRUE(form->StopButton->isEnabled());
  EXPECT_FALSE(form->StartButton->isEnabled());
  EXPECT_FALSE(MainForm->PaintButton->isEnabled()) << "no paint of the window's own meanwhile";
  form->WaitForEnd();
  EXPECT_TRUE(MainForm->Paint1->isEnabled());
  EXPECT_TRUE(form->StatusLabel->text().startsWith(QStringLiteral("4 フレームを書き出しました"))) << form->StatusLabel->text().toStdString();
  EXPECT_EQ(LoadFrame(Dir.File("f0000.png")).Pixels, before.Pixels) << "t = 0 from the window's picture";
  TPicture typed = before;
  TArithmeticUnit engine;
  ASSERT_TRUE(PaintCarpet(engine, {"t = 1.5", "k = 2"}, TMainForm::MemoLines(MainForm->MCMemo), typed).Painted);
  EXPECT_EQ(LoadFrame(Dir.File("f0003.png")).Pixels, typed.Pixels);
  EXPECT_NE(typed.Pixels, before.Pixels);
  EXPECT_EQ(MainForm->Picture.Pixels, before.Pixels) << "the window's picture stays";
  long double t = -1;
  ASSERT_TRUE(MainForm->Arithmetic.GetVariableValue("t", t));
  EXPECT_EQ(t, 0.0L) << "and so do its variables";
}

TEST_F(MainFormTest, AnimationStoppedWritesNothing) {
  Type(MainForm->ConstsMemo, "t = 0");
  Type(MainForm->MCMemo, "r = 128 + 127*sin(x/10 + y/13 + t)*cos(y/17)\ng = pow(x + y + 1, 0.3)");
  MainForm->ResizeImage(2000, 2000);
  MainForm->ExportAnimation1->trigger();
  TAnimateForm *form = MainForm->AnimateForm;
  form->FileEdit->setText(QString::fromStdString(Dir.File("a.webp")));
  form->FramesSpin->setValue(1000);
  form->StartButton->click();
  form->StopButton->click();
  form->WaitForEnd();
  EXPECT_EQ(form->StatusLabel->text(), QStringLiteral("中止しました．"));
  EXPECT_NE(access(Dir.File("a.webp").c_str(), F_OK), 0);
  EXPECT_TRUE(form->StartButton->isEnabled());
}
