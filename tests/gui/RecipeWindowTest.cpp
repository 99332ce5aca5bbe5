// The window and the recipes PNG pictures carry.
#include <QStatusBar>

#include "MainFormFixture.h"
#include "paint/PngRecipe.h"
#include "paint/RecipePaint.h"

namespace velmora::test {

namespace {

bool CarriesRecipe(const std::string &path) {
  std::string text, error;
  bool found = false;
  EXPECT_TRUE(ReadPngRecipeText(Slurp(path), text, found, error)) << error;
  return found;
}

}  // namespace

TEST_F(MainFormTest, APaintedPictureSavesItsRecipeAndOpensAsADocument) {
  // A carpet whose variables and random numbers go on from paint to paint.
  Type(MainForm->ConstsMemo, "k = 3");
  Type(MainForm->MCMemo, "n++\nw += random(3) - 1\nr = 128 + w\ng = n / 5\nb = k * x");
  MainForm->ResizeImage(40, 30);
  for (int i = 0; i < 3; ++i) Paint();
  const TPicture third = MainForm->Picture;
  const std::string png = Dir.File("third.png");
  SavePic.Answers = {png, Dir.File("third.bmp")};
  Trigger(MainForm->SaveGraphics1);
  ASSERT_TRUE(CarriesRecipe(png));
  Trigger(MainForm->SaveGraphics1);  // a BMP file carries none, and opens no document

  // Painted again from the recipe alone: the same pixels.
  TRecipe recipe;
  TPicture read, again;
  bool none = false;
  std::string error;
  ASSERT_TRUE(LoadRecipePicture(png, recipe, read, none, error)) << error;
  EXPECT_EQ(recipe.Repeats, 3);
  TArithmeticUnit engine;
  ASSERT_TRUE(RepaintRecipe(recipe, nullptr, engine, {}, again, error)) << error;
  EXPECT_TRUE(again.Pixels == third.Pixels);

  // A changed picture carries no recipe.
  MainForm->ResizeImage(30, 30);  // the right part comes back white
  MainForm->ResizeImage(40, 30);
  SavePic.Answers = {Dir.File("changed.png")};
  Trigger(MainForm->SaveGraphics1);
  EXPECT_FALSE(CarriesRecipe(Dir.File("changed.png")));

  // File > Open: the close question first, then the document without a file name.
  Type(MainForm->MCMemo, "r = 1");
  MainForm->ResizeImage(7, 7);
  Boxes.Entries.clear();
  Boxes.Answers = {TMessageBoxes::IdNo};
  Open.Answers = {png};
  Trigger(MainForm->Open1);
  ASSERT_EQ(Boxes.Entries.size(), 1u);
  EXPECT_EQ(Boxes.Entries[0].Text, "変更を保存しますか？");
  EXPECT_EQ(TMainForm::MemoLines(MainForm->ConstsMemo), (L{"k = 3"}));
  EXPECT_EQ(TMainForm::MemoLines(MainForm->MCMemo), recipe.Carpet);
  EXPECT_TRUE(MainForm->Picture.Pixels == third.Pixels);
  EXPECT_EQ(MainForm->DocMng.FileName, MainForm->DocMng.NoFileName);
  EXPECT_EQ(MainForm->windowTitle(), QStringLiteral("Velmora 2 ( NoFile )"));
  EXPECT_TRUE(MainForm->DocMng.Modified) << "the document is saved nowhere yet";
  EXPECT_EQ(MainForm->statusBar()->currentMessage(), QStringLiteral("画像「third.png」のレシピを開きました．"));
  // The variables as at the start of that paint: painting again gives the picture again.
  Paint();
  EXPECT_TRUE(MainForm->Picture.Pixels == third.Pixels);

  // A PNG without a recipe: one message, nothing changed.
  Boxes.Entries.clear();
  Boxes.Answers = {TMessageBoxes::IdNo};
  Open.Answers = {Dir.File("changed.png")};
  Trigger(MainForm->Open1);
  ASSERT_EQ(Boxes.Entries.size(), 2u);
  EXPECT_NE(Boxes.Entries[1].Text.find("レシピがありません"), std::string::npos) << Boxes.Entries[1].Text;
  EXPECT_TRUE(MainForm->Picture.Pixels == third.Pixels);
  EXPECT_EQ(MainForm->DocMng.FileName, MainForm->DocMng.NoFileName);
}

}  // namespace velmora::test
