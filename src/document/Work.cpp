#include "document/Work.h"

namespace velmora {

namespace {

// Writing adds one empty line after each block; take it off again so that
// open, save and open give back the same text.
TStringList WithoutWrittenBlankLine(TStringList lines) {
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

}  // namespace

bool TakeWork(TVOKT &document, TWork &work) {
  TakeFormulas(document, work);
  return TakeChecks(document, work);
}

void TakeFormulas(const TVOKT &document, TWork &work) {
  work.Constants = WithoutWrittenBlankLine(document.HeaderLines);
  work.Carpet = WithoutWrittenBlankLine(document.LoopLines);
}

bool TakeChecks(TVOKT &document, TWork &work) {
  bool ok = true;
  std::string app;
  if (!document.GetStrVariable("AppName", app) || app != AppName) {
    if (document.MessageBoxes)
      document.MessageBoxes->ShowMessage("このVOKTファイルは, Velmora 2用ではありません．", "警告", TMessageBoxes::Ok);
    ok = false;
  }
  if (!document.GetSystemVariable("ImageWidth", work.Width)) {
    work.Width = 400;
    ok = false;
  }
  if (!document.GetSystemVariable("ImageHeight", work.Height)) {
    work.Height = 400;
    ok = false;
  }
  return ok;
}

bool PutWork(TVOKT &document, const TWork &work) {
  document.Clear();
  document.HeaderLines = work.Constants;
  document.LoopLines = work.Carpet;
  const bool ok1 = document.SetStrVariable("AppName", AppName);
  const bool ok2 = document.SetSystemVariable("ImageWidth", work.Width);
  const bool ok3 = document.SetSystemVariable("ImageHeight", work.Height);
  return ok1 && ok2 && ok3;
}

}  // namespace velmora
