#include <QAction>
#include <QColorDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QApplication>
#include <QKeySequence>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyleOptionButton>
#include <QLineEdit>
#include <QFileInfo>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <deque>
#include <thread>

#include "../TestSupport.h"
#include "GuiSupport.h"
#include "document/Work.h"
#include "engine/MathErrorManager.h"
#include "paint/PictureFile.h"
#include "ui/ErrorShowUnit.h"
#include "ui/MainUnit.h"
#include "ui/QtDialogs.h"
#include "ui/ResizeUnit.h"
#include "ui/AboutUnit.h"
#include "ui/HelpUnit.h"
#include "ui/TempMngUnit.h"
#include "ui/TempUnit.h"
#include "ui/Windows.h"

#include "MainFormFixture.h"

using namespace velmora;
using namespace velmora::test;

TEST_F(MainFormTest, StartsWithTheDocumentedWindow) {
  EXPECT_EQ(MainForm->windowTitle(), QStringLiteral("Velmora 2 ( NoFile )"));
  EXPECT_EQ(MainForm->Picture.Width, 400);
  EXPECT_EQ(MainForm->Image->size(), QSize(400, 400));
  EXPECT_EQ(At(399, 399), 0xFFFFFFu);
  EXPECT_EQ(TMainForm::MemoLines(MainForm->ConstsMemo),
            (L{"//定数を入力します．", "//ダブルスラッシュ(\"//\")で始まる行は無視されます．"}));
  const L carpet = TMainForm::MemoLines(MainForm->MCMemo);
  ASSERT_EQ(carpet.size(), 5u);
  EXPECT_EQ(carpet[3], "//r, g, b の範囲は0～255です．0未満なら0に，256以上なら255に修正されます．");
  EXPECT_EQ(carpet[4], "");
  EXPECT_FALSE(MainForm->DocMng.Modified);
  struct stat st {};
  EXPECT_EQ(stat(MainForm->DocMng.InitialDir.c_str(), &st), 0) << "the 作品 folder exists";
  EXPECT_NE(MainForm->DocMng.InitialDir.find("/作品"), std::string::npos);
  EXPECT_FALSE(ErrorShowForm->isVisible());
  EXPECT_EQ(ErrorShowForm->windowTitle(), QStringLiteral("Velmora 2"));
  EXPECT_EQ(ResizeForm->windowTitle(), QStringLiteral("リサイズ"));
  // Menu captions and shortcuts.
  struct TItem {
    QAction *Action;
    const char *Text;
    QKeySequence Key;
  } items[] = {{MainForm->New1, "新規作成(&N)", QKeySequence("Ctrl+N")},
               {MainForm->Open1, "開く(&O)", QKeySequence("Ctrl+O")},
               {MainForm->Save1, "保存(&S)", QKeySequence("Ctrl+S")},
               {MainForm->SaveAs1, "名前を付けて保存(&A)", {}},
               {MainForm->Exit1, "終了(&X)", {}},
               {MainForm->ErrorForm1, "エラーフォーム(&E)", {}},
               {MainForm->Paint1, "描画(&P)", QKeySequence("Ctrl+P")},
               {MainForm->SaveGraphics1, "画像を保存(&G)", {}},
               {MainForm->OpenGraphics1, "画像を開く(&O)", {}},
               {MainForm->ChangeSize1, "サイズ変更(&C)", {}},
               {MainForm->ColorToNum1, "カラーボックス(&B)", {}},
               {MainForm->Template1, "テンプレート(&M)", QKeySequence("Ctrl+T")},
               {MainForm->TempMng1, "テンプレートの管理(&R)", {}},
               {MainForm->Help2, "ヘルプ(&M)", QKeySequence(Qt::Key_F1)},  // F1: the access key is shared
               {MainForm->A1, "バージョン情報(&A)...", {}}};
  for (const TItem &item : items) {
    EXPECT_EQ(item.Action->text(), QString::fromUtf8(item.Text));
    EXPECT_EQ(item.Action->shortcut(), item.Key) << item.Text;
  }
}

TEST_F(MainFormTest, PaintsTheTypedFormulas) {
  Type(MainForm->ConstsMemo, "k = 2");
  Type(MainForm->MCMemo, "r = x * k\ng = 255\nb = y // note");
  MainForm->DocMng.Modified = false;
  QSignalSpy progress(MainForm->ProgressBar, &QProgressBar::valueChanged);
  Paint();
  EXPECT_EQ(At(100, 7), qRgb(200, 255, 7) & 0xFFFFFF);
  EXPECT_EQ(At(399, 0), qRgb(255, 255, 0) & 0xFFFFFF);
  EXPECT_FALSE(ErrorShowForm->isVisible()) << "a clean paint leaves the error window alone";
  EXPECT_FALSE(MainForm->DocMng.Modified) << "painting does not modify the document";
  EXPECT_EQ(MainForm->ProgressBar->value(), 0);
  EXPECT_EQ(MainForm->ProgressBar->maximum(), 399);
  ASSERT_GE(progress.count(), 2) << "the bar moves while painting";
  EXPECT_EQ(progress.at(progress.count() - 2).at(0).toInt(), 399);
  long double imgW = 0;
  EXPECT_TRUE(MainForm->Arithmetic.GetVariableValue("ImgW", imgW));
  EXPECT_EQ(imgW, 400);
}

TEST_F(MainFormTest, APaintCanBeCancelledWithEscOrTheButton) {
  MainForm->ResizeImage(2500, 2500);
  MainForm->activateWindow();
  QApplication::setActiveWindow(MainForm);
  struct TCase {
    const char *Carpet;
    bool Escape;  // else the paint button
  } cases[] = {
      // Pixels of their own (painted on every core), then one carried value.
      {"r = 128 + 127*sin(x/10 + y/13)*cos(y/17)\ng = x\nb = y + pow(x + 1, 0.5)*0", true},
      {"n++\nr = n + sin(x)*cos(y)\ng = x\nb = y", false},
  };
  for (const TCase &c : cases) {
    Type(MainForm->MCMemo, c.Carpet);
    const QImage before = MainForm->ImageContents();
    MainForm->Paint1->trigger();
    ASSERT_TRUE(MainForm->Painting());
    // Nothing the paint reads can change meanwhile.
    EXPECT_FALSE(MainForm->MCMemo->isEnabled());
    EXPECT_FALSE(MainForm->ConstsMemo->isEnabled());
    EXPECT_FALSE(MainForm->Open1->isEnabled());
    EXPECT_FALSE(MainForm->ChangeSize1->isEnabled());
    EXPECT_EQ(MainForm->PaintButton->text(), QStringLiteral("中止(Esc)"));
    MainForm->ChangeSize1->trigger();  // disabled: does nothing
    EXPECT_EQ(MainForm->Picture.Width, 2500);
    ASSERT_TRUE(velmora::test::WaitFor([] { return MainForm->ProgressBar->value() > 0; }, 60000));
    if (c.Escape) QTest::keyClick(MainForm, Qt::Key_Escape);
    else QTest::mouseClick(MainForm->PaintButton, Qt::LeftButton);
    MainForm->WaitForPaint();
    EXPECT_FALSE(MainForm->Painting());
    EXPECT_TRUE(MainForm->ImageContents() == before) << "a cancelled paint leaves the picture";
    EXPECT_TRUE(Errors().empty());
    EXPECT_FALSE(ErrorShowForm->isVisible());
    EXPECT_EQ(MainForm->ProgressBar->value(), 0);
    EXPECT_TRUE(MainForm->MCMemo->isEnabled());
    EXPECT_TRUE(MainForm->Open1->isEnabled());
    EXPECT_EQ(MainForm->PaintButton->text(), QStringLiteral("描画(&P)"));
    // The variables hold what one computed pixel, not the last one, wrote.
    long double x = -1, y = -1, g = -1, b = -1;
    auto &e = MainForm->Arithmetic;
    ASSERT_TRUE(e.GetVariableValue("x", x) && e.GetVariableValue("y", y));
    ASSERT_TRUE(e.GetVariableValue("g", g) && e.GetVariableValue("b", b));
    EXPECT_EQ(g, x) << c.Carpet;
    EXPECT_EQ(b, y) << c.Carpet;
    EXPECT_LT(x * 2500 + y, 2500.0L * 2500 - 1) << c.Carpet;
  }
  // Afterwards a paint runs to its end as usual.
  MainForm->ResizeImage(30, 20);
  Type(MainForm->MCMemo, "r = x\ng = y\nb = 0");
  Paint();
  EXPECT_EQ(At(29, 19), qRgb(29, 19, 0) & 0xFFFFFF);
}

TEST_F(MainFormTest, ErrorsGoToTheErrorWindowAndThePictureStays) {
  Type(MainForm->MCMemo, "r = 1\n// c\ng = (x");
  const QImage before = MainForm->ImageContents();
  QTest::mouseClick(MainForm->PaintButton, Qt::LeftButton);
  MainForm->WaitForPaint();
  EXPECT_TRUE(ErrorShowForm->isVisible());
  EXPECT_EQ(Errors(), (L{"絨毯の数式(3行目): 括弧が閉じていない"}));
  EXPECT_EQ(MainForm->ImageContents(), before);
  // Correcting the formula and painting again empties the list; the window stays open.
  Type(MainForm->MCMemo, "r = sqrt(x - 1)");
  Paint();
  EXPECT_EQ(Errors().size(), 401u) << "the heading and one domain error per pixel of column 0";
  EXPECT_EQ(Errors()[0], "数学エラー...");
  Type(MainForm->MCMemo, "r = 1");
  Paint();
  EXPECT_TRUE(Errors().empty());
  EXPECT_TRUE(ErrorShowForm->isVisible());
}

TEST_F(MainFormTest, SizeDialog) {
  bool enterMoves = false;
  WhenModal([&] {
    EXPECT_EQ(ResizeForm->WidthEdit->text(), QStringLiteral("400"));
    ResizeForm->WidthEdit->setFocus();
    QTest::keyClick(ResizeForm->WidthEdit, Qt::Key_Return);
    enterMoves = ResizeForm->HeightEdit->hasFocus();
    QTest::keyClick(ResizeForm->HeightEdit, Qt::Key_Return);
    enterMoves = enterMoves && ResizeForm->OKBtn->hasFocus() && ResizeForm->isVisible();
    ResizeForm->WidthEdit->setText("200");
    ResizeForm->HeightEdit->setText("300");
    QTest::mouseClick(ResizeForm->OKBtn, Qt::LeftButton);
  });
  Trigger(MainForm->ChangeSize1);
  EXPECT_TRUE(enterMoves) << "Enter moves to the next control and never closes the dialog";
  EXPECT_EQ(MainForm->Picture.Width, 200);
  EXPECT_EQ(MainForm->Picture.Height, 300);
  EXPECT_EQ(MainForm->Image->size(), QSize(200, 300));
  EXPECT_TRUE(MainForm->DocMng.Modified);

  // Not an integer (the height is read first), out of range, cancelled: nothing changes.
  for (auto [w, h, message] : std::vector<std::tuple<const char *, const char *, std::string>>{
           {"x", "abc", "'abc' は整数ではありません"}, {"50", "0", "1 から 10000"}, {"20000", "5", "20000"}}) {
    Boxes.Entries.clear();
    WhenModal([w = w, h = h] {
      ResizeForm->WidthEdit->setText(w);
      ResizeForm->HeightEdit->setText(h);
      QTest::mouseClick(ResizeForm->OKBtn, Qt::LeftButton);
    });
    Trigger(MainForm->ChangeSize1);
    ASSERT_EQ(Boxes.Entries.size(), 1u) << h;
    EXPECT_NE(Boxes.Entries[0].Text.find(message), std::string::npos) << Boxes.Entries[0].Text;
    EXPECT_EQ(MainForm->Picture.Width, 200);
  }
  MainForm->DocMng.Modified = false;
  WhenModal([] { QTest::mouseClick(ResizeForm->CancelBtn, Qt::LeftButton); });
  Trigger(MainForm->ChangeSize1);
  EXPECT_EQ(MainForm->Picture.Height, 300);
  EXPECT_FALSE(MainForm->DocMng.Modified);
  // Confirming the same numbers changes nothing but marks the document.
  WhenModal([] { QTest::mouseClick(ResizeForm->OKBtn, Qt::LeftButton); });
  Trigger(MainForm->ChangeSize1);
  EXPECT_TRUE(MainForm->DocMng.Modified);
}

TEST_F(MainFormTest, SaveNewOpenKeepsTheWork) {
  const std::string path = Dir.File("work.vokt");
  Type(MainForm->ConstsMemo, "a = 3");
  Type(MainForm->MCMemo, "r = a\n\ng = 1");
  MainForm->ResizeImage(320, 200);
  EXPECT_TRUE(MainForm->DocMng.Modified);
  Save.Answers = {path};
  Trigger(MainForm->Save1);  // no file yet: save as
  EXPECT_FALSE(MainForm->DocMng.Modified);
  EXPECT_EQ(MainForm->windowTitle(), MainCaption(path));
  EXPECT_EQ(MainForm->DocMng.InitialDir, Dir.Path);
  const std::string saved = Slurp(path);
  ASSERT_FALSE(saved.empty());

  Trigger(MainForm->New1);
  EXPECT_EQ(MainForm->windowTitle(), QStringLiteral("Velmora 2 ( NoFile )"));
  EXPECT_TRUE(TMainForm::MemoLines(MainForm->ConstsMemo).empty());
  EXPECT_EQ(MainForm->Picture.Width, 400);
  EXPECT_FALSE(MainForm->DocMng.Modified) << "emptying the memos is not an edit";

  Open.Answers = {path};
  Trigger(MainForm->Open1);
  EXPECT_EQ(Open.SeenInitialDirs.back(), Dir.Path);
  EXPECT_EQ(TMainForm::MemoLines(MainForm->ConstsMemo), (L{"a = 3"}));
  EXPECT_EQ(TMainForm::MemoLines(MainForm->MCMemo), (L{"r = a", "", "g = 1"}));
  EXPECT_EQ(MainForm->Picture.Width, 320);
  EXPECT_EQ(MainForm->Picture.Height, 200);
  EXPECT_FALSE(MainForm->DocMng.Modified);
  Trigger(MainForm->Save1);
  EXPECT_EQ(Slurp(path), saved) << "open and save again changes nothing";
  EXPECT_TRUE(Boxes.Entries.empty());
}

TEST_F(MainFormTest, CloseQuery) {
  Type(MainForm->MCMemo, "r = 1");
  Boxes.Answers = {TMessageBoxes::IdYes};  // save? yes -- then the save dialog is cancelled
  EXPECT_FALSE(MainForm->close());
  EXPECT_TRUE(MainForm->isVisible());
  ASSERT_EQ(Boxes.Entries.size(), 1u);
  EXPECT_EQ(Boxes.Entries[0].Text, "変更を保存しますか？");
  EXPECT_EQ(Boxes.Entries[0].Caption, "終了確認");
  EXPECT_EQ(Boxes.Entries[0].Flags, 3);
  Boxes.Answers = {TMessageBoxes::IdCancel};
  EXPECT_FALSE(MainForm->close());
  // No at the question, then a cancelled open: the work stays, still modified.
  Boxes.Answers = {TMessageBoxes::IdNo};
  Trigger(MainForm->Open1);
  EXPECT_EQ(TMainForm::MemoLines(MainForm->MCMemo), (L{"r = 1"}));
  EXPECT_TRUE(MainForm->DocMng.Modified);
  Boxes.Answers = {TMessageBoxes::IdNo};
  EXPECT_TRUE(MainForm->close());
}

TEST_F(MainFormTest, ForeignAndBrokenDocuments) {
  velmora::test::Put(Dir.File("other.vokt"),
                     "<VOKT 1.0>\r\n<system_str>\r\nAppName = \"Other\"\r\n</system_str>\r\n<loop>\r\nr = 9\r\n</loop>\r\n");
  Open.Answers = {Dir.File("other.vokt")};
  Trigger(MainForm->Open1);
  EXPECT_EQ(TMainForm::MemoLines(MainForm->MCMemo), (L{"r = 9"}));
  EXPECT_TRUE(MainForm->DocMng.Modified);
  ASSERT_EQ(Boxes.Entries.size(), 3u);
  EXPECT_EQ(Boxes.Entries[0].Text, "このVOKTファイルは, Velmora 2用ではありません．");
  EXPECT_EQ(Boxes.Entries[1].Text, "System variable ImageWidth does not exist.");
  Boxes.Entries.clear();
  Boxes.Answers = {TMessageBoxes::IdNo};
  Open.Answers = {Dir.File("missing.vokt")};
  Trigger(MainForm->Open1);
  ASSERT_EQ(Boxes.Entries.size(), 2u);
  EXPECT_EQ(Boxes.Entries[1].Text, Dir.File("missing.vokt") + "は存在しません．");
  EXPECT_EQ(Boxes.Entries[1].Caption, "Error (DocumentManager)");
}

TEST_F(MainFormTest, FailedSaveKeepsModifiedAndTheOldFile) {
  const std::string path = Dir.File("keep.vokt");
  velmora::test::Put(path, "old");
  Type(MainForm->MCMemo, "r = 1 // ¥");  // U+00A5 has no CP932 form
  Save.Answers = {path};
  Trigger(MainForm->SaveAs1);
  EXPECT_TRUE(MainForm->DocMng.Modified);
  EXPECT_EQ(Slurp(path), "old");
  ASSERT_EQ(Boxes.Entries.size(), 1u);
  EXPECT_NE(Boxes.Entries[0].Text.find("U+00A5"), std::string::npos);
  EXPECT_EQ(MainForm->windowTitle(), QStringLiteral("Velmora 2 ( NoFile )")) << "the caption keeps its value";
}

TEST_F(MainFormTest, PictureFiles) {
  Type(MainForm->MCMemo, "r = x\ng = y\nb = 7");
  Paint();
  SavePic.Answers = {Dir.File("p.bmp"), Dir.File("p.jpg"), ""};
  Trigger(MainForm->SaveGraphics1);
  Trigger(MainForm->SaveGraphics1);
  Trigger(MainForm->SaveGraphics1);  // cancelled
  EXPECT_EQ(Slurp(Dir.File("p.bmp")).substr(0, 2), "BM");
  EXPECT_EQ(Slurp(Dir.File("p.jpg")).substr(0, 2), "\xFF\xD8");
  std::string error;
  ASSERT_TRUE(SavePicture(Dir.File("big.bmp"), TPicture::Filled(640, 480, Rgb(1, 2, 3)), error));
  OpenPic.Answers = {Dir.File("big.bmp")};
  Trigger(MainForm->OpenGraphics1);
  EXPECT_EQ(MainForm->Picture.Width, 640);
  EXPECT_EQ(MainForm->Image->size(), QSize(640, 480));
  Paint();
  long double imgW = 0;
  MainForm->Arithmetic.GetVariableValue("ImgW", imgW);
  EXPECT_EQ(imgW, 640);
  velmora::test::Put(Dir.File("bad.bmp"), "BMnot really");
  OpenPic.Answers = {Dir.File("bad.bmp")};
  Trigger(MainForm->OpenGraphics1);
  EXPECT_EQ(MainForm->Picture.Width, 640) << "a bad file changes nothing";
  ASSERT_EQ(Boxes.Entries.size(), 1u);
  EXPECT_EQ(Boxes.Entries[0].Caption, "Velmora 2");
  const std::string &reason = Boxes.Entries[0].Text;
  EXPECT_TRUE(std::none_of(reason.begin(), reason.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); }))
      << reason << ": the reader's reason in the program's own words";
}

TEST_F(MainFormTest, MenuEntriesOpenTheirWindows) {
  Trigger(MainForm->ErrorForm1);
  EXPECT_TRUE(ErrorShowForm->isVisible());
  EXPECT_TRUE(Errors().empty());
  Trigger(MainForm->Template1);
  EXPECT_TRUE(TempForm->isVisible());
  bool pickerHidden = false;
  WhenModal([&] {
    pickerHidden = !TempForm->isVisible() && TempMngForm->isVisible();
    TempMngForm->done(1);
  });
  Trigger(MainForm->TempMng1);
  EXPECT_TRUE(pickerHidden) << "the manager hides the picker first";
  Trigger(MainForm->Help2);
  EXPECT_TRUE(HelpForm->isVisible());
  bool aboutShown = false;
  WhenModal([&] {
    aboutShown = AboutForm->isVisible() && AboutForm->size() == QSize(400, 400) &&
                 AboutForm->Image1->pixmap().size() == QSize(400, 400);
    QTest::mouseClick(AboutForm->Image1, Qt::LeftButton);
  });
  Trigger(MainForm->A1);
  EXPECT_TRUE(aboutShown);
  EXPECT_FALSE(AboutForm->isVisible()) << "a click closes it";
  int colourBoxes = 0;
  MainForm->ShowColorDialog = [&] { ++colourBoxes; };
  MainForm->DocMng.Modified = false;
  Trigger(MainForm->ColorToNum1);
  EXPECT_EQ(colourBoxes, 1);
  EXPECT_FALSE(MainForm->DocMng.Modified);
}
