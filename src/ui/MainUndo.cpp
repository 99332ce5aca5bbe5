// The main window's picture history: 画像's 元に戻す and やり直し.
#include <QMenu>
#include <new>

#include "ui/MainUnit.h"

namespace velmora {

void TMainForm::AddUndoMenu(QMenu *img) {
  // Ctrl+Z and Ctrl+Y belong to the memos; the picture's keys add Alt.
  img->addSeparator();
  UndoPicture1 = img->addAction(QStringLiteral("元に戻す(&U)"));
  UndoPicture1->setObjectName("UndoPicture1");
  UndoPicture1->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Z));
  connect(UndoPicture1, &QAction::triggered, this, [this] { Command([this] { UndoPicture1Click(); }); });
  RedoPicture1 = img->addAction(QStringLiteral("やり直し(&R)"));
  RedoPicture1->setObjectName("RedoPicture1");
  RedoPicture1->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Y));
  connect(RedoPicture1, &QAction::triggered, this, [this] { Command([this] { RedoPicture1Click(); }); });
  UpdateUndoActions();
}

void TMainForm::KeepForUndo(TPicture before, TEngineState engine) {
  AutoStepOpen = false;  // a change of its own: the next automatic paint starts a new step
  // No room to keep a step costs the history, never the change itself.
  try {
    History.Push(std::move(before), std::move(engine));
  } catch (const std::bad_alloc &) {
    History.Clear();
  }
  UpdateUndoActions();
}

void TMainForm::UpdateUndoActions() {
  if (!UndoPicture1) return;
  UndoPicture1->setEnabled(!Painting() && History.CanUndo());
  RedoPicture1->setEnabled(!Painting() && History.CanRedo());
}

namespace {

// Undo and redo differ only in the direction they walk.
template <class Step>
void StepPicture(TMainForm &form, Step step, const QString &done) {
  if (form.Painting()) return;
  TEngineState engine = TEngineState::Of(form.Arithmetic);
  const int width = form.Picture.Width, height = form.Picture.Height;
  if (!step(form.Picture, engine)) return;
  engine.RestoreTo(form.Arithmetic);
  // The size is part of the document; the pixels are not.
  if (form.Picture.Width != width || form.Picture.Height != height) form.DocMng.Modified = true;
  form.UpdateUndoActions();
  form.RefreshPicture(done);
}

}  // namespace

void TMainForm::UndoPicture1Click() {
  StepPicture(*this, [this](TPicture &p, TEngineState &e) { return History.Undo(p, e); },
              QStringLiteral("画像を元に戻しました．"));
}

void TMainForm::RedoPicture1Click() {
  StepPicture(*this, [this](TPicture &p, TEngineState &e) { return History.Redo(p, e); },
              QStringLiteral("画像をやり直しました．"));
}

void TMainForm::RefreshPicture(const QString &said) {
  ShowPicture();
  ShowStatus(said);
}

}  // namespace velmora
