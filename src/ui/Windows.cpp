#include "ui/Windows.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>

#include "engine/MathErrorManager.h"

#include "ui/ErrorShowUnit.h"
#include "ui/MainUnit.h"
#include "ui/ResizeUnit.h"
#include "ui/AboutUnit.h"
#include "ui/HelpUnit.h"
#include "ui/TempMngUnit.h"
#include "ui/TempUnit.h"

namespace velmora {

namespace {

TMathErrorManager::TAlert EarlierAlert = nullptr;
std::atomic<bool> AlertShowing{false};

// The math error records could not grow. Painting threads report it too, so
// the box is shown on the windows' thread, one at a time.
void ShowMathAlert(const std::string &text, const std::string &caption) {
  if (AlertShowing.exchange(true)) return;
  auto show = [text, caption] {
    if (MainForm) MainForm->Boxes->ShowMessage(text, caption, TMessageBoxes::Ok | TMessageBoxes::Exclamation);
    AlertShowing = false;
  };
  if (QThread::currentThread() == QCoreApplication::instance()->thread()) show();
  else QMetaObject::invokeMethod(QCoreApplication::instance(), show, Qt::QueuedConnection);
}

}  // namespace

void CreateWindows() {
  MainForm = new TMainForm;
  ResizeForm = new TResizeForm(MainForm);
  ErrorShowForm = new TErrorShowForm(MainForm);
  TempMngForm = new TTempMngForm(MainForm);
  TempForm = new TTempForm(MainForm);
  AboutForm = new TAboutForm(MainForm);
  HelpForm = new THelpForm(MainForm);
  TempForm->Boxes = TempMngForm->Boxes = HelpForm->Boxes = MainForm->Boxes;
  EarlierAlert = TMathErrorManager::Alert;
  TMathErrorManager::Alert = ShowMathAlert;
}

void DestroyWindows() {
  if (EarlierAlert) TMathErrorManager::Alert = EarlierAlert;
  EarlierAlert = nullptr;
  delete MainForm;  // the other windows are its children
  MainForm = nullptr;
  ResizeForm = nullptr;
  ErrorShowForm = nullptr;
  TempMngForm = nullptr;
  TempForm = nullptr;
  AboutForm = nullptr;
  HelpForm = nullptr;
}

}  // namespace velmora
