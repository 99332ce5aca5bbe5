#pragma once
// The main window under test: scripted message boxes and file dialogs, and
// the helpers the main window's tests share.
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>

#include "../TestSupport.h"
#include "GuiSupport.h"
#include "ui/ErrorShowUnit.h"
#include "ui/MainUnit.h"
#include "ui/Windows.h"

namespace velmora::test {

using L = TStringList;


// A file dialog that answers from a script: a path, or "" for cancel.
class TScriptedDialog : public TFileDialog {
 public:
  std::deque<std::string> Answers;
  std::vector<std::string> SeenInitialDirs;
  bool Execute(std::string &fileName) override {
    SeenInitialDirs.push_back(InitialDir);
    if (Answers.empty()) return false;
    fileName = Answers.front();
    Answers.pop_front();
    return !fileName.empty();
  }
};

// Message boxes answered from a script (default: OK / Cancel).
class TScriptedBoxes : public TMessageRecorder {
 public:
  std::deque<int> Answers;
  int ShowMessage(const std::string &text, const std::string &caption, int flags) override {
    Answer = Answers.empty() ? ((flags & 0xF) == YesNoCancel ? IdCancel : IdOk) : Answers.front();
    if (!Answers.empty()) Answers.pop_front();
    return TMessageRecorder::ShowMessage(text, caption, flags);
  }
};

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateWindows();
    QtSavePic = MainForm->SavePicDialog;
    QtOpenPic = MainForm->OpenPicDialog;
    MainForm->UseDialogs(&Boxes, &Open, &Save, &SavePic, &OpenPic);
    MainForm->show();
  }
  void TearDown() override {
    MainForm->DocMng.Modified = false;  // let the window go without asking
    DestroyWindows();
  }
  static void Trigger(QAction *action) { action->trigger(); }
  // Starts a paint from the menu and waits until it has ended.
  static void Paint() {
    MainForm->Paint1->trigger();
    MainForm->WaitForPaint();
  }
  // Replaces the memo's text as typing would (QTest types ASCII only; other
  // text goes in as an edit of the control).
  static void Type(QPlainTextEdit *memo, const std::string &text) {
    memo->setFocus();
    memo->selectAll();
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
    if (ascii) {
      QTest::keyClick(memo, Qt::Key_Delete);
      const QStringList lines = QString::fromStdString(text).split(QLatin1Char('\n'));
      for (int i = 0; i < lines.size(); ++i) {
        if (i > 0) QTest::keyClick(memo, Qt::Key_Return);
        QTest::keyClicks(memo, lines[i]);
      }
    } else {
      memo->insertPlainText(QString::fromStdString(text));
    }
  }
  static L Errors() {
    L lines;
    for (int i = 0; i < ErrorShowForm->ErrorLines.Count(); ++i) lines.push_back(ErrorShowForm->ErrorLines.Line(i));
    return lines;
  }
  static QRgb At(int x, int y) { return MainForm->ImageContents().pixel(x, y) & 0xFFFFFF; }
  // Runs `inside` once the next modal dialog is open.
  static void WhenModal(std::function<void()> inside) {
    QTimer::singleShot(0, [inside] {
      QApplication::processEvents();
      inside();
    });
  }

  TScriptedBoxes Boxes;
  TScriptedDialog Open, Save, SavePic, OpenPic;
  TFileDialog *QtSavePic = nullptr, *QtOpenPic = nullptr;  // the program's own
  TTempDir Dir;
};


}  // namespace velmora::test
