// The main window and the recipes PNG pictures carry: opening one as the
// document, and the picture's recipe for saving.
#include <QFileInfo>
#include <stdexcept>

#include "paint/PictureFile.h"
#include "ui/MainUnit.h"

namespace velmora {

bool TMainForm::OpenRecipePicture(const std::string &chosen) {
  // A copy: the name given may be the document manager's own, which changes below.
  const std::string fileName = chosen;
  TRecipe recipe;
  TPicture picture;
  bool none = false;
  std::string error;
  // Everything is read and checked before anything on screen changes.
  if (!LoadRecipePicture(fileName, recipe, picture, none, error)) {
    const std::string name = QFileInfo(QString::fromStdString(fileName)).fileName().toStdString();
    if (none)
      throw std::runtime_error(name + " にはレシピがありません．文書として開けるのは，このプログラムが描いて "
                                      "PNG で保存した画像です．画像として見るには「画像を開く」を使ってください．");
    throw std::runtime_error(name + ": " + error);
  }
  // The state at the start of the paint that gave this picture: painting
  // again gives it again.
  if (!PutStartState(recipe, Arithmetic, true)) throw std::runtime_error(Arithmetic.ErrorMessage);
  Document.Codes = recipe.Codes;
  SetMemoLines(ConstsMemo, recipe.Constants);
  SetMemoLines(MCMemo, recipe.Carpet);
  Picture = std::move(picture);
  ShowPicture();
  PictureRecipe.Adopt(recipe);
  // The document is not the picture: it has no file name until it is saved.
  DocMng.FileName = DocMng.NoFileName;
  UpdateCaption(DocMng.NoFileName);
  ShowStatus(QStringLiteral("画像「%1」のレシピを開きました．").arg(QFileInfo(QString::fromStdString(fileName)).fileName()));
  return false;  // not saved anywhere yet: closing asks first
}

}  // namespace velmora
