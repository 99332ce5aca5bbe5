// 自動描画: a pause in typing paints again, only formulas whose paint 描画
// would give the same way and that leave nothing behind for the next paint.
#include <QStatusBar>
#include <cstring>

#include "MainFormFixture.h"
#include "paint/RecipePaint.h"
#include "ui/ParameterPanel.h"
#include "ui/PictureHistory.h"

namespace velmora::test {

namespace {

class AutoPaintTest : public MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    MainForm->AutoPaint1->setChecked(true);
    MainForm->ResizeImage(40, 30);
  }
  static QString Status() { return MainForm->statusBar()->currentMessage(); }
  // Waits for the status bar to say something that starts with `start`.
  static bool StatusSays(const QString &start) {
    return WaitFor([&] { return Status().startsWith(start) && !MainForm->AutoPaintPending(); });
  }
};

bool SameVariables(const TEngineState &a, const TEngineState &b) {
  if (a.Variables.size() != b.Variables.size()) return false;
  for (std::size_t i = 0; i < a.Variables.size(); ++i)
    if (a.Variables[i].Name != b.Variables[i].Name ||
        std::memcmp(&a.Variables[i].Value, &b.Variables[i].Value, 10) != 0)
      return false;
  return true;
}

}  // namespace

TEST_F(AutoPaintTest, AnEditPaintsAnIndependentCarpetWithoutTouchingModifiedInOneUndoStep) {
  const std::size_t steps = MainForm->History.UndoSteps();
  Type(MainForm->MCMemo, "r = 255\ng = x\nb = 0");
  EXPECT_TRUE(MainForm->ConstsMemo->isEnabled() && MainForm->MCMemo->isEnabled());
  MainForm->DocMng.Modified = false;  // the typing changed it; the paint must not
  ASSERT_TRUE(StatusSays(QStringLiteral("自動描画しました"))) << Status().toStdString();
  EXPECT_EQ(At(5, 3), qRgb(255, 5, 0) & 0xFFFFFF);
  EXPECT_FALSE(MainForm->DocMng.Modified);
  Type(MainForm->MCMemo, "r = 0\ng = x\nb = 255");
  ASSERT_TRUE(WaitFor([] { return At(5, 3) == (qRgb(0, 5, 255) & 0xFFFFFF); }));
  // Two automatic paints with only typing between them: one step back.
  EXPECT_EQ(MainForm->History.UndoSteps(), steps + 1);
}

TEST_F(AutoPaintTest, EachCarpetThatCannotBePaintedSaysWhyAndPaintsNothing) {
  struct TCase {
    const char *Constants, *Carpet, *Says;
  } cases[] = {
      {"", "r = getr\ng = 0\nb = 0", "自動描画しません：前の絵の色（getr 等）を読みます．"},
      {"", "r = random(9)\ng = 0\nb = 0", "自動描画しません：絨毯の数式が乱数を使います．"},
      {"randomize()", "r = 1\ng = 0\nb = 0", "自動描画しません：定数式が乱数を使います．"},
      {"", "n = n + 1\nr = n\ng = 0\nb = 0", "自動描画しません：前の画素の値を読みます．"},
      {"k = k + 1", "r = k\ng = 0\nb = 0", "自動描画しません：定数式が代入前の k を読みます．"},
  };
  const QImage before = MainForm->ImageContents();
  for (const TCase &c : cases) {
    Type(MainForm->ConstsMemo, c.Constants);
    Type(MainForm->MCMemo, c.Carpet);
    EXPECT_TRUE(StatusSays(QStringLiteral("自動描画しません"))) << c.Carpet;
    EXPECT_EQ(Status(), QString::fromUtf8(c.Says));
    EXPECT_EQ(MainForm->ImageContents(), before) << c.Carpet;
  }
}

TEST_F(AutoPaintTest, AFailingEditKeepsThePictureAndLeavesTheErrorWindowClosed) {
  Type(MainForm->MCMemo, "r = 255\ng = 0\nb = 0");
  ASSERT_TRUE(StatusSays(QStringLiteral("自動描画しました")));
  const QImage good = MainForm->ImageContents();
  Type(MainForm->MCMemo, "r = 255\ng = (\nb = 0");
  ASSERT_TRUE(StatusSays(QStringLiteral("絨毯の数式(2行目)"))) << Status().toStdString();
  EXPECT_EQ(MainForm->ImageContents(), good);
  EXPECT_FALSE(ErrorShowForm->isVisible());
  EXPECT_EQ(Errors().front(), Status().toStdString());
  EXPECT_EQ(MainForm->MarkedLines(MainForm->MCMemo), std::vector<int>{1});
}

TEST_F(AutoPaintTest, AnEditDuringAnAutomaticPaintStartsItAgainAndEndsAsThePaintCommand) {
  MainForm->ResizeImage(1500, 1500);
  const TEngineState start = TEngineState::Of(MainForm->Arithmetic);
  const char *slow = "r = 128 + 127 * sin(sqrt(x * y + c1) / 7) * cos(x / (y + 1))\ng = 0\nb = 0";
  Type(MainForm->ConstsMemo, "c1 = 5");
  Type(MainForm->MCMemo, slow);
  ASSERT_TRUE(WaitFor([] { return MainForm->AutoPainting(); }));
  // The paint is cancelled; the new constants must not find c1 made by it.
  Type(MainForm->ConstsMemo, "c2 = 3");
  Type(MainForm->MCMemo, "r = x / 7 + c2\ng = y / 5\nb = 0");
  ASSERT_TRUE(StatusSays(QStringLiteral("自動描画しました"))) << Status().toStdString();
  const QImage automatic = MainForm->ImageContents();
  const TEngineState after = TEngineState::Of(MainForm->Arithmetic);

  start.RestoreTo(MainForm->Arithmetic);
  MainForm->Picture = TPicture::Filled(1500, 1500, White);
  Paint();
  EXPECT_EQ(MainForm->ImageContents(), automatic);
  EXPECT_TRUE(SameVariables(TEngineState::Of(MainForm->Arithmetic), after));
}

TEST_F(AutoPaintTest, ThePaintCommandReplacesARunningAutomaticPaint) {
  MainForm->ResizeImage(1500, 1500);
  Type(MainForm->MCMemo, "r = 128 + 127 * sin(sqrt(x * y) / 7) * cos(x / (y + 1))\ng = 0\nb = 0");
  ASSERT_TRUE(WaitFor([] { return MainForm->AutoPainting(); }));
  const std::size_t steps = MainForm->History.UndoSteps();
  Type(MainForm->MCMemo, "r = 1\ng = 2\nb = 3");  // the paint command comes before the pause ends
  Paint();
  EXPECT_FALSE(MainForm->AutoPaintPending());
  EXPECT_TRUE(Status().startsWith(QStringLiteral("描画しました"))) << Status().toStdString();
  EXPECT_EQ(At(1499, 1499), 0x010203u);
  EXPECT_EQ(MainForm->History.UndoSteps(), steps + 1);  // one paint, the command's
}

TEST_F(AutoPaintTest, AnAutomaticallyPaintedPictureCarriesItsRecipe) {
  Type(MainForm->MCMemo, "r = x\ng = y\nb = 9");
  Paint();
  const TPicture start = MainForm->Picture;
  Type(MainForm->MCMemo, "r = 255 - x\ng = y * 2\nb = 9");
  ASSERT_TRUE(StatusSays(QStringLiteral("自動描画しました")));
  const std::string png = Dir.File("auto.png");
  SavePic.Answers = {png};
  Trigger(MainForm->SaveGraphics1);
  TRecipe recipe;
  TPicture read, again;
  bool none = false;
  std::string error;
  ASSERT_TRUE(LoadRecipePicture(png, recipe, read, none, error)) << error;
  EXPECT_EQ(recipe.Carpet, (L{"r = 255 - x", "g = y * 2", "b = 9"}));
  TArithmeticUnit engine;
  ASSERT_TRUE(RepaintRecipe(recipe, &start, engine, {}, again, error)) << error;
  EXPECT_TRUE(again.Pixels == MainForm->Picture.Pixels);
}

TEST_F(AutoPaintTest, TheChoiceIsKeptAcrossRuns) {
  MainForm->AutoPaint1->setChecked(false);
  Type(MainForm->MCMemo, "r = 255\ng = 0\nb = 0");
  QTest::qWait(2 * TMainForm::AutoPaintDelayMs);
  EXPECT_FALSE(MainForm->AutoPaintPending());
  EXPECT_NE(At(0, 0), qRgb(255, 0, 0) & 0xFFFFFF);
  MainForm->DocMng.Modified = false;
  DestroyWindows();
  CreateWindows();
  EXPECT_FALSE(MainForm->AutoPaint1->isChecked());
  MainForm->AutoPaint1->setChecked(true);
  DestroyWindows();
  CreateWindows();
  EXPECT_TRUE(MainForm->AutoPaint1->isChecked());
  MainForm->UseDialogs(&Boxes, &Open, &Save, &SavePic, &OpenPic);
}

}  // namespace velmora::test

namespace velmora::test {

TEST_F(AutoPaintTest, ASliderPaintsAtOnceWithoutTheTypingPause) {
  Type(MainForm->ConstsMemo, "s = 24 // @slider 0..255 step 1");
  Type(MainForm->MCMemo, "r = s\ng = 0\nb = 0");
  ASSERT_TRUE(WaitFor([] { return At(2, 2) == (qRgb(24, 0, 0) & 0xFFFFFF) && !MainForm->AutoPaintPending(); }));
  QSlider *bar = MainForm->ParameterPanel->Slider(0);
  bar->setSliderDown(true);
  bar->setValue(100);
  // The typing pause would still be counting down here.
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  EXPECT_TRUE(MainForm->AutoPainting() || At(2, 2) == (qRgb(100, 0, 0) & 0xFFFFFF));
  bar->setSliderDown(false);
  EXPECT_TRUE(WaitFor([] { return At(2, 2) == (qRgb(100, 0, 0) & 0xFFFFFF) && !MainForm->AutoPaintPending(); }));
}

}  // namespace velmora::test
