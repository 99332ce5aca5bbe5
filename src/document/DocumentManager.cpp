#include "document/DocumentManager.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {
constexpr const char *ManagerCaption = "Error (DocumentManager)";
constexpr int Warning = TMessageBoxes::Ok | TMessageBoxes::Exclamation;
}  // namespace

TDocumentManager::TDocumentManager(TMessageBoxes *messageBoxes)
    : InitialDir(ExecutableFolder()), MessageBoxes(messageBoxes) {
  FileName = NoFileName;
}

int TDocumentManager::ShowMessage(const std::string &text, const std::string &caption, int flags) {
  return MessageBoxes ? MessageBoxes->ShowMessage(text, caption, flags) : TMessageBoxes::IdCancel;
}

bool TDocumentManager::CloseQuery() {
  if (!Modified) return true;
  switch (ShowMessage("変更を保存しますか？", "終了確認", TMessageBoxes::YesNoCancel)) {
    case TMessageBoxes::IdYes:
      Save();
      return !Modified;
    case TMessageBoxes::IdNo:
      return true;
    default:
      return false;
  }
}

void TDocumentManager::New() {
  if (!CloseQuery()) return;
  FileName = NoFileName;
  Modified = false;
  if (NewAction) NewAction(FileName);
}

void TDocumentManager::Open() {
  if (!OpenDialog) {
    ShowMessage("OpenDialogがリンクされていません．\n開発元にエラー内容を送信してください．", ManagerCaption, Warning);
    return;
  }
  if (!OpenAction) {
    ShowMessage("OpenActionがリンクされていません．\n開発元にエラー内容を送信してください．", ManagerCaption, Warning);
    return;
  }
  if (!CloseQuery()) return;
  OpenDialog->InitialDir = InitialDir;
  std::string chosen;
  if (!OpenDialog->Execute(chosen)) return;
  OpenChosen(chosen);
}

void TDocumentManager::OpenFile(const std::string &fileName) {
  if (!OpenAction) {
    ShowMessage("OpenActionがリンクされていません．\n開発元にエラー内容を送信してください．", ManagerCaption, Warning);
    return;
  }
  if (!CloseQuery()) return;
  OpenChosen(fileName);
}

void TDocumentManager::OpenChosen(const std::string &chosen) {
  struct stat st {};
  if (::stat(chosen.c_str(), &st) != 0) {
    ShowMessage(chosen + "は存在しません．", ManagerCaption, Warning);
    return;
  }
  // A file that cannot be read at all throws out of OpenAction; the document on
  // screen is then still the old one, and a save must not go to the unread file.
  const std::string oldFileName = FileName, oldInitialDir = InitialDir;
  FileName = chosen;
  InitialDir = FolderOf(chosen);
  try {
    Modified = !OpenAction(FileName);
  } catch (...) {
    FileName = oldFileName;
    InitialDir = oldInitialDir;
    throw;
  }
}

void TDocumentManager::Save() {
  if (!SaveAction) {
    ShowMessage("SaveActionがリンクされていません．\n開発元にエラー内容を送信してください．", ManagerCaption, Warning);
    return;
  }
  if (FileName == NoFileName) {
    SaveAs();
    return;
  }
  // A file that cannot be written throws out of SaveAction and leaves Modified alone.
  Modified = !SaveAction(FileName);
}

void TDocumentManager::SaveAs() {
  if (!SaveDialog) {
    ShowMessage("SaveDialogがリンクされていません．\n開発元にエラー内容を送信してください．", ManagerCaption, Warning);
    return;
  }
  if (!SaveAction) {
    ShowMessage("SaveActionがリンクされていません．\n開発元にエラー内容を送信してください．", ManagerCaption, Warning);
    return;
  }
  SaveDialog->InitialDir = InitialDir;
  std::string chosen;
  if (!SaveDialog->Execute(chosen)) return;
  FileName = chosen;
  InitialDir = FolderOf(chosen);
  Save();
}

}  // namespace velmora
