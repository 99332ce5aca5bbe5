// The main window, continued: focus, memo lines, unreadable and foreign files,
// the picture dialogs, and what a paint leaves behind.
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

TEST_F(MainFormTest, TheCarpetMemoHasTheFocusAtStart) {
  EXPECT_EQ(MainForm->focusWidget(), MainForm->MCMemo);
}

// Memo text and the line list a document stores agree at the ends: an empty
// memo is no lines, a final line end starts no line.
TEST_F(MainFormTest, MemoLinesAreTheLinesOfTheText) {
  const std::string path = Dir.File("ends.vokt");
  MainForm->SetMemoLines(MainForm->ConstsMemo, {});
  MainForm->MCMemo->setPlainText("r = 1\n");
  EXPECT_TRUE(TMainForm::MemoLines(MainForm->ConstsMemo).empty());
  EXPECT_EQ(TMainForm::MemoLines(MainForm->MCMemo), (L{"r = 1"}));
  Save.Answers = {path};
  Trigger(MainForm->SaveAs1);
  const std::string saved = Slurp(path);
  EXPECT_NE(saved.find("<header>\r\n\r\n</header>\r\n<loop>\r\nr = 1\r\n\r\n</loop>\r\n"), std::string::npos) << saved;
  // Lines that end in empty lines come back as they were, and save byte for byte.
  MainForm->SetMemoLines(MainForm->MCMemo, {"r = 1", "", ""});
  Trigger(MainForm->Save1);
  const std::string blanks = Slurp(path);
  Open.Answers = {path};
  Trigger(MainForm->Open1);
  EXPECT_EQ(TMainForm::MemoLines(MainForm->MCMemo), (L{"r = 1", "", ""}));
  EXPECT_TRUE(TMainForm::MemoLines(MainForm->ConstsMemo).empty());
  Trigger(MainForm->Save1);
  EXPECT_EQ(Slurp(path), blanks);
  EXPECT_TRUE(Boxes.Entries.empty());
}

// A file that exists but cannot be read: one box, and the window as it was.
TEST_F(MainFormTest, AnUnreadableDocumentChangesNothing) {
  const std::string good = Dir.File("good.vokt");
  Type(MainForm->MCMemo, "r = 5");
  MainForm->ResizeImage(50, 40);
  Save.Answers = {good};
  Trigger(MainForm->SaveAs1);
  Type(MainForm->MCMemo, "r = 6");  // unsaved, answered No below
  const std::string folder = Dir.File("folder.vokt"), huge = Dir.File("huge.vokt");
  mkdir(folder.c_str(), 0755);
  velmora::test::Put(huge, "<VOKT 1.0>\r\n");
  ASSERT_EQ(truncate(huge.c_str(), 100LL << 20), 0);  // beyond the size any document may have
  for (const std::string &bad : {folder, huge}) {
    Boxes.Entries.clear();
    Boxes.Answers = {TMessageBoxes::IdNo};
    Open.Answers = {bad};
    Trigger(MainForm->Open1);
    ASSERT_EQ(Boxes.Entries.size(), 2u) << bad;  // the question, then the reason
    EXPECT_NE(Boxes.Entries[1].Text.find(bad), std::string::npos) << Boxes.Entries[1].Text;
    EXPECT_EQ(TMainForm::MemoLines(MainForm->MCMemo), (L{"r = 6"}));
    EXPECT_EQ(MainForm->windowTitle(), MainCaption(good));
    EXPECT_EQ(MainForm->DocMng.FileName, good) << "a save must not go to the unread file";
    EXPECT_TRUE(MainForm->DocMng.Modified);
    EXPECT_EQ(MainForm->Picture.Width, 50);
  }
}

// The warnings about a foreign document come when its formulas are on screen.
TEST_F(MainFormTest, DocumentWarningsFollowTheFilledMemos) {
  velmora::test::Put(Dir.File("other.vokt"),
                     "<VOKT 1.0>\r\n<system_str>\r\nAppName = \"Other\"\r\n</system_str>\r\n<loop>\r\nr = 9\r\n</loop>\r\n");
  std::vector<L> seen;
  Boxes.OnShow = [&](const TMessageRecorder::TEntry &) { seen.push_back(TMainForm::MemoLines(MainForm->MCMemo)); };
  Open.Answers = {Dir.File("other.vokt")};
  Trigger(MainForm->Open1);
  ASSERT_EQ(seen.size(), 3u);
  for (const L &memo : seen) EXPECT_EQ(memo, (L{"r = 9"}));
}

// The toolkit's dialogs speak Japanese; the picture dialogs offer PNG.
TEST_F(MainFormTest, PictureDialogsAreJapaneseAndOfferPng) {
  for (TFileDialog *dialog : {QtSavePic, QtOpenPic}) {
    QStringList filters;
    QString lookIn, fileName;
    WhenModal([&] {
      auto *shown = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
      if (!shown) return;
      filters = shown->nameFilters();
      if (auto *label = shown->findChild<QLabel *>("lookInLabel")) lookIn = label->text();
      if (auto *label = shown->findChild<QLabel *>("fileNameLabel")) fileName = label->text();
      shown->reject();
    });
    std::string chosen;
    EXPECT_FALSE(dialog->Execute(chosen));
    EXPECT_TRUE(filters.contains(QStringLiteral("PNG イメージ (*.png)"))) << filters.join("|").toStdString();
    ASSERT_FALSE(filters.isEmpty());
    if (dialog == QtOpenPic) {
      EXPECT_TRUE(filters.first().contains(QStringLiteral("*.png")));
    }
    EXPECT_FALSE(lookIn.isEmpty());
    EXPECT_NE(lookIn, QStringLiteral("Look in:"));
    EXPECT_NE(fileName, QStringLiteral("File name:"));
  }
  // What the file and colour dialogs say besides their labels.
  EXPECT_NE(QFileDialog::tr("%1 already exists.\nDo you want to replace it?"),
            QStringLiteral("%1 already exists.\nDo you want to replace it?"));
  EXPECT_NE(QColorDialog::tr("&Basic colors"), QStringLiteral("&Basic colors"));
  EXPECT_NE(QColorDialog::tr("Select Color"), QStringLiteral("Select Color"));
  // Sizes and dates in the file list follow a Japanese locale.
  EXPECT_EQ(QLocale::system().language(), QLocale::Japanese);
  EXPECT_NE(QLocale::system().formattedDataSize(206).indexOf(QStringLiteral("バイト")), -1)
      << QLocale::system().formattedDataSize(206).toStdString();
}

// The math error records could not grow: a box, also when a painting thread
// hit it.
TEST_F(MainFormTest, MathErrorRecordsThatCannotGrowAreReported) {
  auto failGrowth = [] {
    TMathErrorManager records;
    records.Capacity = INT32_MAX;  // no room to double: fails as an allocation would
    return records.Grow(2);
  };
  EXPECT_FALSE(failGrowth());
  ASSERT_EQ(Boxes.Entries.size(), 1u);
  EXPECT_EQ(Boxes.Entries[0].Text, "Error/MathErrorManager");
  EXPECT_EQ(Boxes.Entries[0].Caption, "Memory allocation has been failed.");
  EXPECT_EQ(Boxes.Entries[0].Flags, TMessageBoxes::Ok | TMessageBoxes::Exclamation);
  std::thread painting([&] { EXPECT_FALSE(failGrowth()); });
  painting.join();
  EXPECT_TRUE(velmora::test::WaitFor([&] { return Boxes.Entries.size() == 2; }));
}

// The memos hold characters, the file holds codes: ≒ read as 0x8790 and ∵ as
// 0xFA5B go back under those codes, a new document gets the usual ones.
TEST_F(MainFormTest, OpenAndSaveKeepTheCodesOfCharactersWithTwo) {
  const std::string path = Dir.File("codes.vokt");
  Type(MainForm->MCMemo, "r = 1 // ≒∵");
  Save.Answers = {path};
  Trigger(MainForm->SaveAs1);
  std::string file = Slurp(path);
  const std::size_t at = file.find("\x81\xE0\x81\xE6");
  ASSERT_NE(at, std::string::npos) << "the encoder's codes";
  file.replace(at, 4, "\x87\x90\xFA\x5B");
  Put(path, file);

  Open.Answers = {path};
  Trigger(MainForm->Open1);
  EXPECT_EQ(TMainForm::MemoLines(MainForm->MCMemo), (L{"r = 1 // ≒∵"}));
  Type(MainForm->ConstsMemo, "a = 1");
  Trigger(MainForm->Save1);
  EXPECT_NE(Slurp(path).find("\x87\x90\xFA\x5B"), std::string::npos);

  Trigger(MainForm->New1);
  Type(MainForm->MCMemo, "r = 1 // ≒∵");
  Save.Answers = {Dir.File("new.vokt")};
  Trigger(MainForm->SaveAs1);
  EXPECT_NE(Slurp(Dir.File("new.vokt")).find("\x81\xE0\x81\xE6"), std::string::npos);
}

// A file that is not a document (random bytes, empty): one box with the
// reason and nothing else changes, so Ctrl+S cannot go over the unread file.
TEST_F(MainFormTest, AFileThatIsNoDocumentIsNotTakenAsOpened) {
  const std::string good = Dir.File("good.vokt"), binary = Dir.File("binary.vokt"), empty = Dir.File("empty.vokt");
  std::string noise;
  for (int i = 0; i < 3000; ++i) noise.push_back(static_cast<char>((i * 7919 + 13) % 251));
  velmora::test::Put(binary, noise);
  velmora::test::Put(empty, "");
  // On a fresh start nothing was saved: the work on screen must stay too.
  Type(MainForm->MCMemo, "r = 7");
  MainForm->DocMng.Modified = false;
  Open.Answers = {binary};
  Trigger(MainForm->Open1);
  ASSERT_EQ(Boxes.Entries.size(), 1u);
  EXPECT_EQ(Boxes.Entries[0].Text, "ファイルを処理できません．");
  EXPECT_EQ(TMainForm::MemoLines(MainForm->MCMemo), (L{"r = 7"}));
  EXPECT_EQ(MainForm->DocMng.FileName, MainForm->DocMng.NoFileName);
  EXPECT_EQ(MainForm->windowTitle(), QStringLiteral("Velmora 2 ( NoFile )"));
  EXPECT_TRUE(MainForm->Recent.Files().filter(QStringLiteral("binary.vokt")).isEmpty());

  Type(MainForm->MCMemo, "r = 5");
  MainForm->ResizeImage(50, 40);
  Save.Answers = {good};
  Trigger(MainForm->SaveAs1);
  const std::string saved = Slurp(good);
  Type(MainForm->MCMemo, "r = 6");
  for (const std::string &bad : {binary, empty}) {
    Boxes.Entries.clear();
    Boxes.Answers = {TMessageBoxes::IdNo};
    Open.Answers = {bad};
    MainForm->statusBar()->clearMessage();
    Trigger(MainForm->Open1);
    ASSERT_EQ(Boxes.Entries.size(), 2u) << bad;  // the question, then the reason
    EXPECT_EQ(Boxes.Entries[1].Text, "ファイルを処理できません．");
    EXPECT_EQ(TMainForm::MemoLines(MainForm->MCMemo), (L{"r = 6"}));
    EXPECT_EQ(MainForm->windowTitle(), MainCaption(good));
    EXPECT_EQ(MainForm->DocMng.FileName, good);
    EXPECT_TRUE(MainForm->DocMng.Modified);
    EXPECT_EQ(MainForm->Picture.Width, 50);
    EXPECT_TRUE(MainForm->statusBar()->currentMessage().isEmpty());
    EXPECT_EQ(MainForm->Recent.Files().value(0), QString::fromStdString(good));
  }
  MainForm->DocMng.Modified = false;
  Trigger(MainForm->Save1);
  EXPECT_EQ(Slurp(binary), noise) << "the unread file is never written";
  EXPECT_EQ(Slurp(empty), "");
  EXPECT_NE(Slurp(good), saved) << "the save went to the open document";
}

// Edit, paint, edit: after a paint (done, failed or cancelled) the keys go
// where they went before it, at the same place in the text.
TEST_F(MainFormTest, TheKeyboardFocusComesBackAfterAPaint) {
  MainForm->activateWindow();
  QApplication::setActiveWindow(MainForm);
  MainForm->ResizeImage(30, 20);
  struct TCase {
    QPlainTextEdit *Memo;
    const char *Carpet;
    bool Cancel;
  } cases[] = {{MainForm->MCMemo, "r = x", false},
               {MainForm->MCMemo, "r = (x", false},
               {MainForm->ConstsMemo, "r = sqrt(x - 1)", false},
               {MainForm->MCMemo, "r = 128 + 127*sin(x/10 + y/13)*cos(y/17)", true}};
  for (const TCase &c : cases) {
    if (c.Cancel) MainForm->ResizeImage(2500, 2500);
    Type(MainForm->MCMemo, c.Carpet);
    c.Memo->setFocus();
    QTextCursor cursor = c.Memo->textCursor();
    cursor.setPosition(2);
    c.Memo->setTextCursor(cursor);
    MainForm->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return QApplication::focusWidget() == c.Memo; }));
    QTest::keyClick(MainForm, Qt::Key_P, Qt::ControlModifier);
    ASSERT_TRUE(MainForm->Painting());
    if (c.Cancel) QTest::keyClick(MainForm, Qt::Key_Escape);
    MainForm->WaitForPaint();
    // The window's own focus: which window is active is the window manager's
    // (the error window may come up; the real-window tests see to that).
    EXPECT_EQ(MainForm->focusWidget(), c.Memo) << c.Carpet;
    EXPECT_EQ(c.Memo->textCursor().position(), 2) << c.Carpet;
    const QString before = c.Memo->toPlainText();
    if (MainForm->focusWidget()) QTest::keyClicks(MainForm->focusWidget(), "z");
    EXPECT_EQ(c.Memo->toPlainText(), before.left(2) + "z" + before.mid(2)) << c.Carpet;
  }
}

// Closing the window asks first; a paint is given up only when it closes.
TEST_F(MainFormTest, ClosingDuringAPaintAsksBeforeCancellingIt) {
  MainForm->ResizeImage(2500, 2500);
  Type(MainForm->MCMemo, "r = 128 + 127*sin(x/10 + y/13)*cos(y/17)");
  MainForm->Paint1->trigger();
  ASSERT_TRUE(MainForm->Painting());
  Boxes.Answers = {TMessageBoxes::IdCancel};
  EXPECT_FALSE(MainForm->close());
  ASSERT_EQ(Boxes.Entries.size(), 1u);
  EXPECT_EQ(Boxes.Entries[0].Text, "変更を保存しますか？");
  MainForm->WaitForPaint();
  EXPECT_TRUE(MainForm->statusBar()->currentMessage().startsWith(QStringLiteral("描画しました")))
      << MainForm->statusBar()->currentMessage().toStdString();
  MainForm->Paint1->trigger();
  ASSERT_TRUE(MainForm->Painting());
  Boxes.Answers = {TMessageBoxes::IdNo};
  EXPECT_TRUE(MainForm->close());
  EXPECT_FALSE(MainForm->Painting());
}

// Enter moves through the fields to OK; on a button it presses that button,
// which shows that it has the focus.
TEST_F(MainFormTest, TheSizeDialogIsConfirmedWithEnter) {
  bool focusShown = false;
  WhenModal([&] {
    ResizeForm->WidthEdit->setFocus();
    ResizeForm->WidthEdit->setText("123");
    QTest::keyClick(ResizeForm->WidthEdit, Qt::Key_Return);
    ResizeForm->HeightEdit->setText("45");
    QTest::keyClick(ResizeForm->HeightEdit, Qt::Key_Enter);
    QStyleOptionButton option;
    option.initFrom(ResizeForm->OKBtn);
    focusShown = (option.state & QStyle::State_HasFocus) && (option.state & QStyle::State_KeyboardFocusChange);
    QTest::keyClick(ResizeForm->OKBtn, Qt::Key_Return);
    if (ResizeForm->isVisible()) ResizeForm->done(2);  // never left hanging
  });
  Trigger(MainForm->ChangeSize1);
  EXPECT_TRUE(focusShown);
  EXPECT_EQ(MainForm->Picture.Width, 123);
  EXPECT_EQ(MainForm->Picture.Height, 45);
  WhenModal([] {
    ResizeForm->WidthEdit->setText("7");
    ResizeForm->CancelBtn->setFocus(Qt::TabFocusReason);
    QTest::keyClick(ResizeForm->CancelBtn, Qt::Key_Return);
    if (ResizeForm->isVisible()) ResizeForm->done(1);
  });
  Trigger(MainForm->ChangeSize1);
  EXPECT_EQ(MainForm->Picture.Width, 123) << "Enter on キャンセル cancels";
}

// A picture name typed without extension takes the chosen type's; a typed
// extension stays and decides the format.
TEST_F(MainFormTest, APictureNameWithoutExtensionTakesTheChosenType) {
  EXPECT_EQ(SuffixOfFilter(QStringLiteral("JPEGイメージ (*.jpg *.jpeg)"), "bmp"), QStringLiteral("jpg"));
  EXPECT_EQ(SuffixOfFilter(QStringLiteral("すべてのファイル (*)"), "vokt"), QStringLiteral("vokt"));
  MainForm->SavePicDialog = QtSavePic;
  QtSavePic->InitialDir = Dir.Path;
  struct TCase {
    const char *Filter, *Typed, *File, *Magic;
  } cases[] = {{"PNG イメージ (*.png)", "pic", "pic.png", "\x89PNG"},
               {"JPEGイメージ (*.jpg *.jpeg)", "pic2", "pic2.jpg", "\xFF\xD8"},
               {"ビットマップ (*.bmp)", "pic3", "pic3.bmp", "BM"},
               {"PNG イメージ (*.png)", "pic4.bmp", "pic4.bmp", "BM"}};
  for (const TCase &c : cases) {
    WhenModal([&] {
      auto *shown = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
      if (!shown) return;
      shown->selectNameFilter(QString::fromUtf8(c.Filter));
      if (auto *edit = shown->findChild<QLineEdit *>("fileNameEdit")) edit->setText(QString::fromUtf8(c.Typed));
      static_cast<QDialog *>(shown)->accept();  // as the 保存 button does
      if (shown->isVisible()) shown->reject();
    });
    Trigger(MainForm->SaveGraphics1);
    const std::string bytes = Slurp(Dir.File(c.File));
    EXPECT_EQ(bytes.substr(0, std::string(c.Magic).size()), c.Magic) << c.Typed << " as " << c.Filter;
  }
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(Dir.File("pic.bmp"))));
  EXPECT_TRUE(Boxes.Entries.empty());
}
