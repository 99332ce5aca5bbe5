// The picture's undo and redo, templates in one step with their small
// pictures, and the memos' line numbers.
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <QStandardPaths>
#include <cstring>
#include <sys/stat.h>
#include <thread>

#include "MainFormFixture.h"
#include "engine/Random.h"
#include "text/Cp932.h"
#include "ui/LineNumberMemo.h"
#include "ui/TempUnit.h"

namespace velmora::test {

namespace {

using TUndoTest = MainFormTest;

long double Variable(const char *name) {
  long double v = 0;
  EXPECT_TRUE(MainForm->Arithmetic.GetVariableValue(name, v)) << name;
  return v;
}

bool SameBits(long double a, long double b) { return std::memcmp(&a, &b, 10) == 0; }

TPicture Plain(int w, int h, std::uint32_t colour) { return TPicture::Filled(w, h, colour); }

}  // namespace

TEST_F(TUndoTest, UndoBringsBackThePictureAndTheVariablesExactly) {
  MainForm->ResizeImage(20, 10);
  Type(MainForm->MCMemo, "n = n + 1\nt = t + 0.1\nr = n / 2\ng = 0\nb = 0");
  Paint();
  const QImage first = MainForm->ImageContents();
  const long double t1 = Variable("t");
  Paint();
  const QImage second = MainForm->ImageContents();
  const long double t2 = Variable("t");
  ASSERT_NE(first, second);
  EXPECT_EQ(Variable("n"), 400);

  ASSERT_TRUE(MainForm->UndoPicture1->isEnabled());
  MainForm->UndoPicture1->trigger();
  EXPECT_EQ(MainForm->ImageContents(), first);
  EXPECT_EQ(Variable("n"), 200);
  EXPECT_TRUE(SameBits(Variable("t"), t1));
  // Painting again continues from there: the second paint's picture.
  Paint();
  EXPECT_EQ(MainForm->ImageContents(), second);
  EXPECT_TRUE(SameBits(Variable("t"), t2));
  EXPECT_FALSE(MainForm->RedoPicture1->isEnabled());  // a new change forgets what could be redone

  MainForm->UndoPicture1->trigger();
  MainForm->RedoPicture1->trigger();
  EXPECT_EQ(MainForm->ImageContents(), second);
  EXPECT_EQ(Variable("n"), 400);
  // Back past the first paint and the resize: the 400 x 400 white picture,
  // before any variable existed.
  for (int i = 0; i < 3; ++i) MainForm->UndoPicture1->trigger();
  EXPECT_EQ(MainForm->Picture.Width, 400);
  EXPECT_EQ(At(10, 5), 0xFFFFFFu);
  long double unused;
  EXPECT_FALSE(MainForm->Arithmetic.GetVariableValue("n", unused));
  EXPECT_FALSE(MainForm->UndoPicture1->isEnabled());
}

TEST_F(TUndoTest, RandomStateComesBackWithThePicture) {
  MainForm->ResizeImage(8, 8);
  Type(MainForm->MCMemo, "r = random(256)\ng = random(256)\nb = 0");
  Paint();
  Paint();
  const QImage second = MainForm->ImageContents();
  MainForm->UndoPicture1->trigger();
  Paint();
  EXPECT_EQ(MainForm->ImageContents(), second);
}

TEST_F(TUndoTest, FailedPaintsAddNoStepAndUndoWaitsForThePaint) {
  MainForm->ResizeImage(2000, 2000);  // too big to be done before it is cancelled
  const std::size_t steps = MainForm->History.UndoSteps();
  Type(MainForm->MCMemo, "r = (");
  Paint();
  EXPECT_EQ(MainForm->History.UndoSteps(), steps);
  Type(MainForm->MCMemo, "r = x");
  MainForm->Paint1->trigger();
  EXPECT_TRUE(MainForm->Painting());
  EXPECT_FALSE(MainForm->UndoPicture1->isEnabled());
  MainForm->CancelPaint();
  MainForm->WaitForPaint();
  EXPECT_EQ(MainForm->History.UndoSteps(), steps);
  EXPECT_TRUE(MainForm->UndoPicture1->isEnabled());
}

TEST_F(TUndoTest, StepsThatLeaveThePictureShareIt) {
  MainForm->ResizeImage(30, 30);
  Type(MainForm->MCMemo, "k = k + 1\nr = 0\ng = 0\nb = 0");
  for (int i = 0; i < 4; ++i) Paint();
  // resize (white 400 x 400), first paint (white 30 x 30), then three black pictures kept once.
  EXPECT_EQ(MainForm->History.UndoSteps(), 5u);
  EXPECT_EQ(MainForm->History.Buffers(), 3u);
  MainForm->UndoPicture1->trigger();
  MainForm->UndoPicture1->trigger();
  EXPECT_EQ(Variable("k"), 2 * 900);
  EXPECT_EQ(At(3, 3), 0u);
}

TEST(PictureHistoryTest, KeepsWhatItsMemoryAllowsOldestDroppedFirst) {
  const std::size_t picture = 100 * 100 * 4;
  TPictureHistory history(3 * picture);
  for (std::uint32_t i = 1; i <= 5; ++i) history.Push(Plain(100, 100, i), {});
  EXPECT_EQ(history.UndoSteps(), 3u);
  EXPECT_LE(history.Bytes(), 3 * picture);
  TPicture current = Plain(100, 100, 9);
  TEngineState engine;
  for (std::uint32_t expected : {5u, 4u, 3u}) {
    ASSERT_TRUE(history.Undo(current, engine));
    EXPECT_EQ(current.Pixel(0, 0), expected);
  }
  EXPECT_FALSE(history.Undo(current, engine));
  // A step bigger than the whole allowance is still kept: the last one always is.
  history.Push(Plain(200, 200, 7), {});
  EXPECT_EQ(history.UndoSteps() + history.RedoSteps(), 1u);
  EXPECT_TRUE(history.Undo(current, engine));
  EXPECT_EQ(current.Width, 200);
}

// ---------------------------------------------------------------------------
// Templates

class TTemplateUseTest : public MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    mkdir(Dir.File("Template").c_str(), 0755);
    TempForm->Folder = Dir.File("Template");
    OldCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(Dir.File("cache")));
  }
  void TearDown() override {
    MainFormTest::TearDown();
    qputenv("XDG_CACHE_HOME", OldCache);
  }
  QByteArray OldCache;
  void PutTemplate(const std::string &name, const std::string &utf8) {
    std::string bytes, error;
    ASSERT_TRUE(text::Utf8ToCp932(utf8, bytes, error));
    Put(Dir.File("Template/" + name + ".qtp"), bytes);
  }
  static void Choose(const QString &name) {
    TempForm->TempListBox->setCurrentItem(TempForm->TempListBox->findItems(name, Qt::MatchExactly).front());
  }
  static bool ThumbnailsDone() {
    return WaitFor([] { return !TempForm->Thumbnails->Working(); }, 20000);
  }
  static QString CacheFile(const std::string &bytes) {
    return TTemplateThumbnails::CacheFolder() + "/" +
           TTemplateThumbnails::KeyOf(QByteArray::fromStdString(bytes)) + ".png";
  }
};

TEST_F(TTemplateUseTest, UseReplacesTheCarpetInOneUndoStepAndPaints) {
  PutTemplate("red", "// red\r\nr = 255\r\ng = 0\r\nb = 0\r\n");
  MainForm->ResizeImage(10, 10);
  Type(MainForm->MCMemo, "r = 0\ng = 0\nb = 255");
  const QString before = MainForm->MCMemo->toPlainText();
  TempForm->show();
  Choose("red");
  QTest::mouseClick(TempForm->UseButton, Qt::LeftButton);
  EXPECT_FALSE(TempForm->isVisible());
  EXPECT_EQ(MainForm->MCMemo->toPlainText(), QStringLiteral("// red\nr = 255\ng = 0\nb = 0\n"));
  MainForm->WaitForPaint();
  EXPECT_EQ(At(5, 5), 0xFF0000u);
  MainForm->MCMemo->undo();
  EXPECT_EQ(MainForm->MCMemo->toPlainText(), before);

  // Enter on a chosen name does the same.
  TempForm->show();
  Choose("red");
  QTest::keyClick(TempForm->TempListBox, Qt::Key_Return);
  EXPECT_FALSE(TempForm->isVisible());
  EXPECT_EQ(MainForm->MCMemo->toPlainText(), QStringLiteral("// red\nr = 255\ng = 0\nb = 0\n"));
  MainForm->WaitForPaint();
}

TEST_F(TTemplateUseTest, ThumbnailsArePaintedAsideAndKeyedByTheBytes) {
  const std::string gradient = "r = x\r\ng = 0\r\nb = 0\r\n";
  PutTemplate("gradient", gradient);
  PutTemplate("broken", "r = (\r\n");
  PutTemplate("dice", "r = random(256)\r\n");
  const std::uint64_t mainRandom = RandomGenerator().State;
  TempForm->show();
  EXPECT_EQ(TempForm->TempListBox->count(), 3);  // usable before any picture is ready
  ASSERT_TRUE(ThumbnailsDone());
  QApplication::processEvents();
  EXPECT_NE(TempForm->Thumbnails->PainterThread, std::this_thread::get_id());
  EXPECT_EQ(TempForm->Thumbnails->PaintedCount, 2);
  EXPECT_EQ(RandomGenerator().State, mainRandom);  // the window's random sequence did not move
  EXPECT_TRUE(Boxes.Entries.empty());             // the broken one: no picture, no box
  const QImage cached(CacheFile(gradient));
  ASSERT_EQ(cached.size(), QSize(64, 48));
  EXPECT_LT(qRed(cached.pixel(1, 20)), qRed(cached.pixel(62, 20)));
  EXPECT_EQ(QDir(TTemplateThumbnails::CacheFolder()).entryList(QDir::Files).size(), 2);

  // Shown again unchanged: taken from the cache. An edited template is painted anew.
  TempForm->hide();
  const std::string edited = "r = 0\r\ng = x\r\nb = 0\r\n";
  PutTemplate("gradient", edited);
  TempForm->show();
  ASSERT_TRUE(ThumbnailsDone());
  EXPECT_EQ(TempForm->Thumbnails->PaintedCount, 3);
  EXPECT_TRUE(QFileInfo::exists(CacheFile(edited)));
  TempForm->hide();
  TempForm->show();
  ASSERT_TRUE(ThumbnailsDone());
  EXPECT_EQ(TempForm->Thumbnails->PaintedCount, 3);
  TempForm->hide();
}

// ---------------------------------------------------------------------------
// Line numbers

int MarkedNumber(QPlainTextEdit *memo) {
  for (const auto &n : static_cast<TLineNumberMemo *>(memo)->VisibleNumbers())
    if (n.Marked) return n.Number;
  return 0;
}

TEST_F(TUndoTest, TheMarginNumbersTheLinesAsTheErrorLinesDo) {
  auto *memo = qobject_cast<TLineNumberMemo *>(MainForm->MCMemo);
  ASSERT_TRUE(memo);
  MainForm->ResizeImage(4, 4);
  Type(MainForm->MCMemo, "// one\n\nr = x\ng = y\nb = (");
  Paint();
  ASSERT_FALSE(Errors().empty());
  TErrorPlace place;
  ASSERT_TRUE(ErrorPlaceOf(Errors().front(), place)) << Errors().front();
  EXPECT_EQ(Errors().front().rfind("絨毯の数式(5行目)", 0), 0u);
  EXPECT_EQ(MarkedNumber(memo), 5);
  const auto numbers = memo->VisibleNumbers();
  ASSERT_GE(numbers.size(), 5u);
  EXPECT_EQ(numbers[0].Number, 1);
  EXPECT_EQ(numbers[4].Number, 5);
  EXPECT_TRUE(numbers[4].Current);  // the cursor is on the last line
  EXPECT_FALSE(numbers[0].Current);

  // Shift+Enter starts a new line too, counted alike by the margin and the paint.
  memo->setFocus();
  memo->selectAll();
  QTest::keyClick(memo, Qt::Key_Delete);
  QTest::keyClicks(memo, "r = x");
  QTest::keyClick(memo, Qt::Key_Return, Qt::ShiftModifier);
  QTest::keyClicks(memo, "g = (");
  EXPECT_EQ(memo->blockCount(), 2);
  EXPECT_TRUE(memo->VisibleNumbers()[1].Current);
  Paint();
  ASSERT_FALSE(Errors().empty());
  EXPECT_EQ(Errors().front().rfind("絨毯の数式(2行目)", 0), 0u) << Errors().front();
  EXPECT_EQ(MarkedNumber(memo), 2);
  // So does a line separator in pasted text.
  QApplication::clipboard()->setText(QStringLiteral("b = 1") + QChar::LineSeparator + QStringLiteral("r = 2"));
  memo->moveCursor(QTextCursor::End);
  QTest::keyClick(memo, Qt::Key_Return);
  memo->paste();
  EXPECT_EQ(memo->blockCount(), static_cast<int>(MainForm->MemoLines(memo).size()));
}

}  // namespace velmora::test
