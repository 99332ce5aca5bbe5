#include "ui/Windows.h"

#include "ui/ErrorShowUnit.h"
#include "ui/MainUnit.h"
#include "ui/ResizeUnit.h"
#include "ui/AboutUnit.h"
#include "ui/HelpUnit.h"
#include "ui/TempMngUnit.h"
#include "ui/TempUnit.h"

namespace velmora {

void CreateWindows() {
  MainForm = new TMainForm;
  ResizeForm = new TResizeForm(MainForm);
  ErrorShowForm = new TErrorShowForm(MainForm);
  TempMngForm = new TTempMngForm(MainForm);
  TempForm = new TTempForm(MainForm);
  AboutForm = new TAboutForm(MainForm);
  HelpForm = new THelpForm(MainForm);
  TempForm->Boxes = TempMngForm->Boxes = HelpForm->Boxes = MainForm->Boxes;
}

void DestroyWindows() {
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
