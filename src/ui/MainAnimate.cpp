// 画像 → アニメーションを書き出す: the dialog gets copies of the window's
// formulas, picture and variables, so the window goes on as it was.
#include "engine/Random.h"
#include "paint/ConstantOverrides.h"
#include "ui/AnimateUnit.h"
#include "ui/MainUnit.h"

namespace velmora {

void TMainForm::ExportAnimation1Click() {
  if (!AnimateForm) {
    AnimateForm = new TAnimateForm(this);
    AnimateForm->TakeSource = [this](TAnimationSource &source, std::string &why) {
      if (Painting()) {
        why = "描画中は書き出せません．描画が終わってから書き出してください．";
        return false;
      }
      source.Constants = MemoLines(ConstsMemo);
      source.Carpet = MemoLines(MCMemo);
      source.Picture = Picture;
      source.RandomState = RandomGenerator().State;
      source.Codes = Document.Codes;
      source.Engine = std::make_unique<TArithmeticUnit>();
      source.Engine->CopyForRunning(Arithmetic, 0);
      return CheckConstantOverrides({{AnimateForm->VariableBox->currentText().toStdString(), 0}}, source.Constants,
                                    why);
    };
    // The window is for looking meanwhile, as during a paint: a paint of its
    // own would share the processors.
    connect(AnimateForm, &TAnimateForm::RunningChanged, this, [this](bool running) {
      Paint1->setEnabled(!running);
      PaintButton->setEnabled(!running);
    });
    AnimateForm->ShowErrors = [](const TStringList &lines) {
      ErrorShowForm->ClearErrors();
      for (const std::string &line : lines) ErrorShowForm->ErrorLines.Add(line);
      ErrorShowForm->ErrorsMemo->moveCursor(QTextCursor::Start);
      ErrorShowForm->ShowFront(false);
    };
  }
  AnimateForm->SetVariables(AssignedVariables(MemoLines(ConstsMemo)));
  // The output goes beside the document, or into the documents folder.
  if (AnimateForm->FileEdit->text().isEmpty()) {
    const std::string &document = DocMng.FileName;
    const std::size_t slash = document.rfind('/');
    AnimateForm->FileDialog->InitialDir = slash != std::string::npos ? document.substr(0, slash) : DocMng.InitialDir;
  }
  AnimateForm->show();
  AnimateForm->raise();
  AnimateForm->activateWindow();
}

}  // namespace velmora
