#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStorageInfo>
#include <fcntl.h>
#include <unistd.h>
#include <chrono>
#include <ctime>
#include <future>
#include <QClipboard>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "../TestSupport.h"
#include "text/Cp932.h"
#include "text/LineList.h"
#include "ui/HelpUnit.h"
#include "ui/MainUnit.h"
#include "ui/RecentFiles.h"
#include "ui/TempMngUnit.h"
#include "ui/TempUnit.h"
#include "ui/Windows.h"

using namespace velmora;
using velmora::test::Put;
using velmora::test::Slurp;
using velmora::test::TTempDir;

namespace {

std::string Cp932(const std::string &utf8) {
  std::string bytes, error;
  EXPECT_TRUE(text::Utf8ToCp932(utf8, bytes, error)) << error;
  return bytes;
}

QStringList Names(const QListWidget *list) {
  QStringList names;
  for (int i = 0; i < list->count(); ++i) names << list->item(i)->text();
  return names;
}

bool Exists(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

class TemplateHelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateWindows();
    MainForm->UseDialogs(&Boxes, MainForm->OpenDialog, MainForm->SaveDialog, MainForm->SavePicDialog,
                         MainForm->OpenPicDialog);
    TempForm->Folder = TempMngForm->Folder = Dir.File("Template");
    HelpForm->Folder = Dir.File("Help");
  }
  void TearDown() override { DestroyWindows(); }
  void MakeTemplates() {
    mkdir(Dir.File("Template").c_str(), 0755);
    Put(Dir.File("Template/波.qtp"), Cp932("// 波\r\nr = 128 + 127*sin(x/9)\r\n"));
    Put(Dir.File("Template/abc.qtp"), Cp932("r = x\r\n"));
    Put(Dir.File("Template/notes.txt"), "not a template");
    mkdir(Dir.File("Template/folder.QTP").c_str(), 0755);  // entries of any kind are listed
  }
  TMessageRecorder Boxes;
  TTempDir Dir;
};

}  // namespace

TEST_F(TemplateHelpTest, PickerListsShowsAndCopies) {
  TempForm->show();
  EXPECT_TRUE(TempForm->TempListBox->count() == 0);
  EXPECT_TRUE(Exists(Dir.File("Template"))) << "a missing folder is created";
  TempForm->hide();
  MakeTemplates();
  TempForm->show();
  EXPECT_EQ(Names(TempForm->TempListBox), (QStringList{"abc", "folder", "波"}));
  EXPECT_EQ(TempForm->TempListBox->currentRow(), -1);
  EXPECT_TRUE(TempForm->TempMemo->toPlainText().isEmpty());
  TempForm->TempListBox->setCurrentRow(2);
  EXPECT_EQ(TempForm->TempMemo->toPlainText(), QStringLiteral("// 波\nr = 128 + 127*sin(x/9)\n"));
  // Any key typed in the list loads the selected template again.
  TempForm->TempMemo->setPlainText("changed");
  QTest::keyClick(TempForm->TempListBox, Qt::Key_Space);
  EXPECT_EQ(TempForm->TempMemo->toPlainText(), QStringLiteral("// 波\nr = 128 + 127*sin(x/9)\n"));
  QApplication::clipboard()->clear();
  QTest::mouseClick(TempForm->CopyButton, Qt::LeftButton);
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("// 波\nr = 128 + 127*sin(x/9)\n"));
  EXPECT_FALSE(TempForm->TempMemo->textCursor().hasSelection());
  EXPECT_TRUE(TempForm->TempMemo->isReadOnly());
  EXPECT_EQ(TempForm->windowTitle(), QStringLiteral("テンプレート"));
}

TEST_F(TemplateHelpTest, ManagerCreatesReplacesAndDeletes) {
  MakeTemplates();
  TempMngForm->show();
  EXPECT_EQ(Names(TempMngForm->TempListBox), (QStringList{"abc", "folder", "波"}));
  EXPECT_FALSE(TempMngForm->SaveButton->isEnabled());
  TempMngForm->TempListBox->setCurrentRow(0);
  EXPECT_EQ(TempMngForm->NameEdit->text(), QStringLiteral("abc"));
  EXPECT_EQ(TempMngForm->TempMemo->toPlainText(), QStringLiteral("r = x\n"));
  EXPECT_TRUE(TempMngForm->SaveButton->isEnabled());

  QTest::mouseClick(TempMngForm->NewButton, Qt::LeftButton);
  EXPECT_TRUE(TempMngForm->NameEdit->text().isEmpty());
  EXPECT_FALSE(TempMngForm->SaveButton->isEnabled());
  QTest::keyClicks(TempMngForm->NameEdit, "sample");
  EXPECT_TRUE(TempMngForm->SaveButton->isEnabled());
  TempMngForm->TempMemo->setPlainText(QStringLiteral("// 見本\nr = y"));
  QTest::mouseClick(TempMngForm->SaveButton, Qt::LeftButton);
  EXPECT_EQ(Slurp(Dir.File("Template/sample.qtp")), Cp932("// 見本\r\nr = y\r\n"));
  EXPECT_TRUE(Names(TempMngForm->TempListBox).contains("sample"));
  EXPECT_TRUE(TempMngForm->NameEdit->text().isEmpty()) << "the list was refreshed";
  EXPECT_TRUE(TempMngForm->TempMemo->toPlainText().isEmpty());
  EXPECT_FALSE(TempMngForm->SaveButton->isEnabled());

  // "sample.txt" is saved as sample.qtp, replacing it without asking.
  QTest::keyClicks(TempMngForm->NameEdit, "sample.txt");
  TempMngForm->TempMemo->setPlainText("r = 1");
  QTest::mouseClick(TempMngForm->SaveButton, Qt::LeftButton);
  EXPECT_EQ(Slurp(Dir.File("Template/sample.qtp")), "r = 1\r\n");
  EXPECT_FALSE(Exists(Dir.File("Template/sample.txt")));

  // A name the file system cannot take as a plain file name: a message, nothing written.
  QTest::keyClicks(TempMngForm->NameEdit, "../escape");
  QTest::mouseClick(TempMngForm->SaveButton, Qt::LeftButton);
  ASSERT_EQ(Boxes.Entries.size(), 1u);
  EXPECT_NE(Boxes.Entries[0].Text.find("ファイル名に使えません"), std::string::npos);
  EXPECT_FALSE(Exists(Dir.File("escape.qtp")));
  EXPECT_EQ(TempMngForm->NameEdit->text(), QStringLiteral("../escape")) << "the window keeps its state";
  // Text that code page 932 cannot hold: the old template stays.
  TempMngForm->NameEdit->setText("sample");
  TempMngForm->TempMemo->setPlainText(QStringLiteral("r = 1 // 😀"));
  QTest::mouseClick(TempMngForm->SaveButton, Qt::LeftButton);
  EXPECT_EQ(Boxes.Entries.size(), 2u);
  EXPECT_EQ(Slurp(Dir.File("Template/sample.qtp")), "r = 1\r\n");

  // Delete the selected one without asking; with no selection nothing happens.
  TempMngForm->RefreshList();
  QTest::mouseClick(TempMngForm->DelButton, Qt::LeftButton);
  EXPECT_TRUE(Exists(Dir.File("Template/abc.qtp")));
  TempMngForm->TempListBox->setCurrentRow(static_cast<int>(Names(TempMngForm->TempListBox).indexOf("abc")));
  QTest::mouseClick(TempMngForm->DelButton, Qt::LeftButton);
  EXPECT_FALSE(Exists(Dir.File("Template/abc.qtp")));
  EXPECT_FALSE(Names(TempMngForm->TempListBox).contains("abc"));
  TempMngForm->hide();
}

// A template shown and saved again keeps the codes of its characters with two
// (NEC row 13 ≒ 0x8790, IBM extension 纊 0xFA5C).
TEST_F(TemplateHelpTest, ManagerSavesATemplateWithTheCodesItWasReadFrom) {
  MakeTemplates();
  const std::string bytes = "// \x87\x90 \xFA\x5C\r\nr = x\r\n";
  Put(Dir.File("Template/abc.qtp"), bytes);
  TempMngForm->show();
  TempMngForm->TempListBox->setCurrentRow(0);
  ASSERT_EQ(TempMngForm->NameEdit->text(), QStringLiteral("abc"));
  EXPECT_EQ(TempMngForm->TempMemo->toPlainText(), QStringLiteral("// ≒ 纊\nr = x\n"));
  QTest::mouseClick(TempMngForm->SaveButton, Qt::LeftButton);
  EXPECT_EQ(Slurp(Dir.File("Template/abc.qtp")), bytes);
  QTest::mouseClick(TempMngForm->NewButton, Qt::LeftButton);
  QTest::keyClicks(TempMngForm->NameEdit, "other");
  TempMngForm->TempMemo->setPlainText(QStringLiteral("// ≒ 纊"));
  QTest::mouseClick(TempMngForm->SaveButton, Qt::LeftButton);
  EXPECT_EQ(Slurp(Dir.File("Template/other.qtp")), "// \x81\xE0 \xFA\x5C\r\n") << "a new template: the usual codes";
  EXPECT_TRUE(Boxes.Entries.empty());
  TempMngForm->hide();
}

TEST_F(TemplateHelpTest, HelpListsTopicsAndShowsThem) {
  HelpForm->show();
  EXPECT_EQ(HelpForm->TempListBox->count(), 0);
  EXPECT_TRUE(HelpForm->TitlePanel->text().isEmpty());
  EXPECT_TRUE(Exists(Dir.File("Help")));
  HelpForm->hide();
  Put(Dir.File("Help/使い方.txt"), Cp932("はじめに\r\n二行目\r\n"));
  Put(Dir.File("Help/変数.txt"), Cp932("x と y\r\n"));
  HelpForm->show();
  EXPECT_EQ(Names(HelpForm->TempListBox), (QStringList{"使い方", "変数"}));
  HelpForm->TempListBox->setCurrentRow(0);
  EXPECT_EQ(HelpForm->TitlePanel->text(), QStringLiteral("使い方"));
  EXPECT_EQ(HelpForm->TempMemo->toPlainText(), QStringLiteral("はじめに\n二行目\n"));
  // Reopening clears the title and the text and lists the topics afresh.
  HelpForm->hide();
  Put(Dir.File("Help/関数.txt"), Cp932("sin\r\n"));
  HelpForm->show();
  EXPECT_TRUE(HelpForm->TitlePanel->text().isEmpty());
  EXPECT_TRUE(HelpForm->TempMemo->toPlainText().isEmpty());
  EXPECT_EQ(HelpForm->TempListBox->count(), 3);
  EXPECT_EQ(HelpForm->windowTitle(), QStringLiteral("ヘルプ"));
}

TEST_F(TemplateHelpTest, ShippedContentIsFoundBesideTheExecutable) {
  TTempDir none;
  TempForm->Folder = ExecutableFolder() + "/Template";
  HelpForm->Folder = ExecutableFolder() + "/Help";
  TempForm->show();
  EXPECT_GE(TempForm->TempListBox->count(), 12);
  HelpForm->show();
  EXPECT_TRUE(Names(HelpForm->TempListBox).contains(QStringLiteral("関数一覧")));
}

// Run from the build folder (writable, no installation beside it), the windows
// use the folders beside the executable, as they always did.
TEST(ProgramFoldersFromTheBuildFolder, AreBesideTheExecutable) {
  CreateWindows();
  const std::string self = ExecutableFolder();
  EXPECT_EQ(TempForm->Folder, self + "/Template");
  EXPECT_EQ(TempMngForm->Folder, self + "/Template");
  EXPECT_EQ(HelpForm->Folder, self + "/Help");
  EXPECT_EQ(MainForm->DocMng.InitialDir, self + "/作品");
  EXPECT_TRUE(Exists(self + "/作品"));
  // Untouched copies of the shipped templates, to restore them from.
  EXPECT_EQ(TempMngForm->ShippedFolder, self + "/shipped/Template");
  EXPECT_EQ(Slurp(self + "/shipped/Template/プラズマ.qtp"), Slurp(self + "/Template/プラズマ.qtp"));
  DestroyWindows();
}

// Giving a list the keyboard focus, as showing its window does, must not choose
// an entry: the manager would show it and delete it on 削除 without a question.
TEST_F(TemplateHelpTest, NoEntryIsChosenUntilTheUserPicksOne) {
  MakeTemplates();
  mkdir(Dir.File("Help").c_str(), 0755);
  Put(Dir.File("Help/使い方.txt"), Cp932("はじめに\r\n"));
  auto focusIn = [](QWidget *list, Qt::FocusReason reason) {
    QFocusEvent in(QEvent::FocusIn, reason);
    QApplication::sendEvent(list, &in);
  };
  for (int show = 0; show < 2; ++show) {
    for (Qt::FocusReason reason : {Qt::ActiveWindowFocusReason, Qt::TabFocusReason, Qt::OtherFocusReason}) {
      TempMngForm->show();
      focusIn(TempMngForm->TempListBox, reason);
      EXPECT_FALSE(TempMngForm->TempListBox->currentIndex().isValid());
      EXPECT_TRUE(TempMngForm->TempListBox->selectedItems().isEmpty());
      EXPECT_TRUE(TempMngForm->NameEdit->text().isEmpty());
      EXPECT_TRUE(TempMngForm->TempMemo->toPlainText().isEmpty());
      EXPECT_FALSE(TempMngForm->SaveButton->isEnabled());
      QTest::mouseClick(TempMngForm->DelButton, Qt::LeftButton);
      EXPECT_TRUE(Exists(Dir.File("Template/abc.qtp"))) << "nothing chosen, nothing deleted";
      TempMngForm->hide();

      TempForm->show();
      focusIn(TempForm->TempListBox, reason);
      EXPECT_FALSE(TempForm->TempListBox->currentIndex().isValid());
      EXPECT_TRUE(TempForm->TempMemo->toPlainText().isEmpty());
      TempForm->hide();

      HelpForm->show();
      focusIn(HelpForm->TempListBox, reason);
      EXPECT_FALSE(HelpForm->TempListBox->currentIndex().isValid());
      EXPECT_TRUE(HelpForm->TitlePanel->text().isEmpty());
      EXPECT_TRUE(HelpForm->TempMemo->toPlainText().isEmpty());
      HelpForm->hide();
    }
  }
  // A key typed with nothing chosen chooses nothing; the arrow keys start at the first row.
  TempMngForm->show();
  focusIn(TempMngForm->TempListBox, Qt::TabFocusReason);
  QTest::keyClick(TempMngForm->TempListBox, Qt::Key_Space);
  EXPECT_TRUE(TempMngForm->NameEdit->text().isEmpty());
  QTest::keyClick(TempMngForm->TempListBox, Qt::Key_Down);
  EXPECT_EQ(TempMngForm->NameEdit->text(), QStringLiteral("abc"));
  EXPECT_EQ(TempMngForm->TempMemo->toPlainText(), QStringLiteral("r = x\n"));
  // A click on the row already chosen loads it again, once.
  TempMngForm->TempMemo->setPlainText("edited");
  const QRect abc = TempMngForm->TempListBox->visualItemRect(TempMngForm->TempListBox->item(0));
  QTest::mouseClick(TempMngForm->TempListBox->viewport(), Qt::LeftButton, {}, abc.center());
  EXPECT_EQ(TempMngForm->TempMemo->toPlainText(), QStringLiteral("r = x\n"));
  // A broken entry chosen by a click is reported once, not once per signal.
  const QRect folder = TempMngForm->TempListBox->visualItemRect(TempMngForm->TempListBox->item(1));
  QTest::mouseClick(TempMngForm->TempListBox->viewport(), Qt::LeftButton, {}, folder.center());
  EXPECT_EQ(Boxes.Entries.size(), 1u);
  TempMngForm->hide();
}

namespace {

// Where the desktop's trash put a file of this name: the user's own trash, or
// the one at the top of the file system the file was on.
std::string Trashed(const std::string &from, const std::string &name) {
  const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  const QString top = QStorageInfo(QString::fromStdString(from)).rootPath();
  for (const QString &trash : {data + "/Trash", top + "/.Trash-" + QString::number(getuid()),
                               top + "/.Trash/" + QString::number(getuid())}) {
    const std::string path = (trash + "/files/").toStdString() + name;
    if (Exists(path)) return path;
  }
  return {};
}

// Empties the trash of one file (its entry and its information).
void Forget(const std::string &inTrash) {
  const QFileInfo file(QString::fromStdString(inTrash));
  std::remove(inTrash.c_str());
  QFile::remove(file.dir().filePath("../info/" + file.fileName() + ".trashinfo"));
}

}  // namespace

// Deleting or replacing a template loses nothing (the trash has it), and the
// shipped templates that are missing or changed come back after a question.
TEST_F(TemplateHelpTest, TemplatesGoToTheTrashAndShippedOnesComeBack) {
  mkdir(Dir.File("Template").c_str(), 0755);
  mkdir(Dir.File("shipped").c_str(), 0755);
  const std::string plasma = Cp932("// プラズマ\r\nr = 128 + 127*sin(x/16)\r\n"), moire = Cp932("r = x*y\r\n");
  Put(Dir.File("shipped/プラズマ.qtp"), plasma);
  Put(Dir.File("shipped/モアレ.qtp"), moire);
  Put(Dir.File("Template/プラズマ.qtp"), plasma);
  Put(Dir.File("Template/モアレ.qtp"), moire);
  TempMngForm->ShippedFolder = Dir.File("shipped");
  // Unique names: the trash may already hold files from earlier runs.
  const std::string mine = "mine-" + std::to_string(getpid()) + "-" + std::to_string(time(nullptr));
  Put(Dir.File("Template/" + mine + ".qtp"), "r = 3\r\n");

  TempMngForm->show();
  const int row = static_cast<int>(Names(TempMngForm->TempListBox).indexOf(QString::fromStdString(mine)));
  TempMngForm->TempListBox->setCurrentRow(row);
  TempMngForm->TempMemo->setPlainText("r = x");
  QTest::mouseClick(TempMngForm->SaveButton, Qt::LeftButton);
  EXPECT_EQ(Slurp(Dir.File("Template/" + mine + ".qtp")), "r = x\r\n");
  const std::string replaced = Trashed(Dir.Path, mine + ".qtp");
  ASSERT_FALSE(replaced.empty()) << "the replaced template is in the trash";
  EXPECT_EQ(Slurp(replaced), "r = 3\r\n");
  Forget(replaced);
  TempMngForm->TempListBox->setCurrentRow(
      static_cast<int>(Names(TempMngForm->TempListBox).indexOf(QString::fromStdString(mine))));
  QTest::mouseClick(TempMngForm->DelButton, Qt::LeftButton);
  EXPECT_FALSE(Exists(Dir.File("Template/" + mine + ".qtp")));
  const std::string deleted = Trashed(Dir.Path, mine + ".qtp");
  ASSERT_FALSE(deleted.empty()) << "the deleted template is in the trash";
  EXPECT_EQ(Slurp(deleted), "r = x\r\n");
  Forget(deleted);
  TempMngForm->hide();

  // The shipped ones: プラズマ changed, モアレ gone.
  Put(Dir.File("Template/プラズマ.qtp"), "r = x\r\n");
  std::remove(Dir.File("Template/モアレ.qtp").c_str());
  Boxes.Answer = TMessageBoxes::IdNo;
  EXPECT_FALSE(TempMngForm->RestoreShipped());
  ASSERT_EQ(Boxes.Entries.size(), 1u);
  EXPECT_EQ(Boxes.Entries[0].Flags, TMessageBoxes::YesNo);
  EXPECT_NE(Boxes.Entries[0].Text.find("プラズマ（変更されています）"), std::string::npos) << Boxes.Entries[0].Text;
  EXPECT_NE(Boxes.Entries[0].Text.find("モアレ（ありません）"), std::string::npos);
  EXPECT_EQ(Slurp(Dir.File("Template/プラズマ.qtp")), "r = x\r\n") << "No changes nothing";
  Boxes.Answer = TMessageBoxes::IdYes;
  MainForm->RestoreTemplates1->trigger();
  EXPECT_EQ(Slurp(Dir.File("Template/プラズマ.qtp")), plasma);
  EXPECT_EQ(Slurp(Dir.File("Template/モアレ.qtp")), moire);
  EXPECT_EQ(Boxes.Entries.size(), 2u);
  Boxes.Entries.clear();
  EXPECT_FALSE(TempMngForm->RestoreShipped());
  ASSERT_EQ(Boxes.Entries.size(), 1u);
  EXPECT_EQ(Boxes.Entries[0].Text, "付属のテンプレートはすべてそろっています．");
}

// The desktop program's settings file (recent documents) may be a FIFO: it is
// left alone instead of waiting for a writer, and the window comes up.
TEST_F(TemplateHelpTest, ASettingsFileThatIsAFifoIsNotRead) {
  const std::string path =
      QSettings(QSettings::IniFormat, QSettings::UserScope, "velmora", "velmora").fileName().toStdString();
  mkdir(text::FolderOf(path).c_str(), 0755);
  std::remove(path.c_str());
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  auto reading = std::async(std::launch::async, [] {
    TRecentFiles recent;
    recent.Add("/tmp/x.vokt");
    return recent.Files();
  });
  const bool quick = reading.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  // Let a blocked reader or writer go: open the other end and close it again.
  for (int i = 0; !quick && i < 100 && reading.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready;
       ++i) {
    const int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
    const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    char buffer[4096];
    if (reader >= 0) {
      while (read(reader, buffer, sizeof buffer) > 0) {
      }
      close(reader);
    }
  }
  EXPECT_TRUE(quick) << "the settings FIFO was waited on";
  EXPECT_TRUE(reading.get().isEmpty());
  std::remove(path.c_str());
}
