#include "ui/Windows.h"

#include <QCoreApplication>
#include <QShortcut>
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
  // The modeless windows belong to the main window: the window manager keeps
  // them above it (a plain top-level window with a parent is not marked so on
  // X11, a dialog is). They close with Esc.
  for (QWidget *window : {static_cast<QWidget *>(ErrorShowForm), static_cast<QWidget *>(TempForm),
                          static_cast<QWidget *>(HelpForm)}) {
    window->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    QObject::connect(escape, &QShortcut::activated, window, &QWidget::close);
  }
  ErrorShowForm->PictureSide = MainForm->ImgScrollBox;
  QObject::connect(ErrorShowForm, &TErrorShowForm::PlaceChosen, MainForm, &TMainForm::GoToPlace);
  TempForm->OnUse = [](const TStringList &lines) { MainForm->UseTemplate(lines); };
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
