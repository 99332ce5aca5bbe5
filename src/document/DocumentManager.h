#pragma once
// TDocumentManager: the life of the user's document (new, open, save, save as,
// the question about unsaved changes). It knows nothing of what a document
// holds: it keeps the file name and the modified flag, runs the file dialogs
// and calls back into its owner to load, save or empty the work.
#include <functional>
#include <string>

#include "text/Paths.h"

#include "document/MessageBoxes.h"

namespace velmora {

// A file open or save dialog. The desktop program shows a real one; tests script it.
class TFileDialog {
 public:
  virtual ~TFileDialog() = default;
  std::string InitialDir;
  // True with the chosen file's full path; false when the user cancelled.
  virtual bool Execute(std::string &fileName) = 0;
};

class TDocumentManager {
 public:
  explicit TDocumentManager(TMessageBoxes *messageBoxes);

  bool Modified = false;
  std::string FileName;
  const std::string NoFileName = "NoFile";
  std::string InitialDir;  // the executable's folder until the owner sets its own
  TFileDialog *OpenDialog = nullptr;
  TFileDialog *SaveDialog = nullptr;
  std::function<bool(const std::string &)> OpenAction;
  std::function<bool(const std::string &)> SaveAction;  // may throw when the file cannot be written
  std::function<void(const std::string &)> NewAction;
  TMessageBoxes *MessageBoxes;

  void New();
  void Open();
  // Opens a named file as Open does with the file its dialog gave (a recent
  // document, a file dropped on the window or named on the command line).
  void OpenFile(const std::string &fileName);
  void Save();
  void SaveAs();
  // True when the document may be closed (saved, or the user said so).
  bool CloseQuery();

  int ShowMessage(const std::string &text, const std::string &caption, int flags);

 private:
  void OpenChosen(const std::string &chosen);
};

// The path helpers live in text/Paths.h.
using text::ExecutableFolder;
using text::FolderOf;

}  // namespace velmora
