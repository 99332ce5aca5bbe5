// The main window's additions for seeing and working with the picture: zoom,
// the status bar, the growing picture, errors that lead to their line, formula
// colours, and the other ways of opening files.
#include <QCursor>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QStatusBar>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QTextLayout>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>

#include "MainFormFixture.h"
#include "paint/PictureFile.h"
#include "ui/HelpUnit.h"
#include "ui/TempUnit.h"

using namespace velmora;
using namespace velmora::test;

namespace {

void Wheel(QWidget *canvas, QPoint at, int delta, Qt::KeyboardModifiers modifiers) {
  QWheelEvent event(at, canvas->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(canvas, &event);
}

QString Status() { return MainForm->statusBar()->currentMessage(); }

// The colour the memo shows at a character of a line.
QColor ColourAt(QPlainTextEdit *memo, int line, int position) {
  const QTextBlock block = memo->document()->findBlockByNumber(line);
  for (const QTextLayout::FormatRange &range : block.layout()->formats())
    if (position >= range.start && position < range.start + range.length) return range.format.foreground().color();
  return {};
}

void Drop(QWidget *target, const QString &file) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(file)});
  const QPoint at(5, 5);
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  QApplication::processEvents();
}

}  // namespace

TEST_F(MainFormTest, ZoomShowsThePictureLargerOrSmallerButLeavesItAlone) {
  MainForm->ResizeImage(600, 500);
  Type(MainForm->MCMemo, "r = x\ng = y\nb = 7");
  Paint();
  const QImage painted = MainForm->ImageContents();
  TPictureView *view = MainForm->ImgScrollBox;
  // Ctrl+wheel zooms around the point under the mouse: pixel (300, 200) stays under it.
  const QPoint mouse(300, 200);
  const QPoint inView = MainForm->Image->mapTo(view->viewport(), mouse);
  Wheel(MainForm->Image, mouse, 120, Qt::ControlModifier);
  EXPECT_EQ(view->Zoom(), 1.5);
  int x = -1, y = -1;
  ASSERT_TRUE(view->PixelAt(MainForm->Image->mapFrom(view->viewport(), inView), x, y));
  EXPECT_EQ(QPoint(x, y), mouse);
  Wheel(MainForm->Image, mouse, 0, Qt::NoModifier);
  Wheel(MainForm->Image, mouse, -120, Qt::NoModifier);  // without Ctrl the wheel scrolls
  EXPECT_EQ(view->Zoom(), 1.5);
  // Keys and menu entries.
  MainForm->activateWindow();
  QTest::keyClick(MainForm, Qt::Key_Plus, Qt::ControlModifier);
  EXPECT_EQ(view->Zoom(), 2);
  EXPECT_EQ(MainForm->Image->size(), QSize(1200, 1000));
  EXPECT_EQ(MainForm->ZoomLabel->text(), QStringLiteral("200%"));
  QTest::keyClick(MainForm, Qt::Key_Minus, Qt::ControlModifier);
  QTest::keyClick(MainForm, Qt::Key_Minus, Qt::ControlModifier);
  EXPECT_EQ(view->Zoom(), 1);
  MainForm->ZoomOut1->trigger();
  EXPECT_NEAR(view->Zoom(), 2.0 / 3, 1e-12);
  // Magnified pixels are whole squares of one colour (nearest neighbour).
  for (int i = 0; i < 4; ++i) MainForm->ZoomIn1->trigger();
  ASSERT_EQ(view->Zoom(), 3);
  const QImage shown = MainForm->Image->grab(QRect(0, 0, 30, 30)).toImage();
  for (int i = 0; i < 30; ++i) EXPECT_EQ(shown.pixel(i, i) & 0xFFFFFF, painted.pixel(i / 3, i / 3) & 0xFFFFFF) << i;

  // Fit follows the box; the zoom stays across paints, resizes and pictures.
  MainForm->ZoomFit1->trigger();
  EXPECT_TRUE(view->Fitting());
  const QSize room = view->maximumViewportSize();
  EXPECT_LE(MainForm->Image->width(), room.width());
  EXPECT_LE(MainForm->Image->height(), room.height());
  EXPECT_TRUE(MainForm->Image->width() >= room.width() - 1 || MainForm->Image->height() >= room.height() - 1);
  MainForm->ResizeImage(900, 100);
  EXPECT_NEAR(view->Zoom(), std::min(room.width() / 900.0, room.height() / 100.0), 1e-9);
  MainForm->ZoomActual1->trigger();
  MainForm->ZoomIn1->trigger();
  Paint();
  EXPECT_EQ(view->Zoom(), 1.5);
  EXPECT_EQ(MainForm->Picture.Width, 900);
  EXPECT_EQ(MainForm->ImageContents().size(), QSize(900, 100)) << "the picture itself is never zoomed";
  SavePic.Answers = {Dir.File("zoomed.png")};
  MainForm->SaveGraphics1->trigger();
  TPicture saved;
  std::string error;
  ASSERT_TRUE(LoadPicture(Dir.File("zoomed.png"), saved, error)) << error;
  EXPECT_EQ(saved.Width, 900);
  EXPECT_EQ(saved.Height, 100);
  EXPECT_EQ(Status(), QStringLiteral("画像「zoomed.png」を保存しました．"));
}

TEST_F(MainFormTest, TheStatusBarTellsSizeZoomThePixelUnderTheMouseAndWhatHappened) {
  MainForm->ResizeImage(120, 80);
  EXPECT_EQ(MainForm->SizeLabel->text(), QStringLiteral("120 × 80"));
  Type(MainForm->MCMemo, "r = x\ng = y\nb = x + y");
  Paint();
  EXPECT_TRUE(Status().startsWith(QStringLiteral("描画しました（"))) << Status().toStdString();
  EXPECT_TRUE(Status().endsWith(QStringLiteral(" 秒）．"))) << Status().toStdString();
  MainForm->ImgScrollBox->SetZoom(4);
  QTest::mouseMove(MainForm->Image, QPoint(4 * 17 + 2, 4 * 9 + 3));
  ASSERT_TRUE(WaitFor([] { return !MainForm->PixelLabel->text().isEmpty(); }));
  EXPECT_EQ(MainForm->PixelLabel->text(), QStringLiteral("x = 17, y = 9　r = 17, g = 9, b = 26"));
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(MainForm->Image, &leave);
  EXPECT_TRUE(MainForm->PixelLabel->text().isEmpty());

  Save.Answers = {Dir.File("s.vokt")};
  MainForm->SaveAs1->trigger();
  EXPECT_EQ(Status(), QStringLiteral("「s.vokt」を保存しました．"));
  Open.Answers = {Dir.File("s.vokt")};
  MainForm->Open1->trigger();
  EXPECT_EQ(Status(), QStringLiteral("「s.vokt」を開きました．"));
  Type(MainForm->MCMemo, "r = (x");
  Paint();
  EXPECT_EQ(Status(), QStringLiteral("エラーのため描画できませんでした．"));
}

TEST_F(MainFormTest, ThePictureGrowsWhilePaintingAndAFailureShowsTheOldOneAgain) {
  MainForm->ResizeImage(1500, 400);
  MainForm->GrowAfterMs = 0;
  const QImage before = MainForm->ImageContents();
  // Fails in the last column, so the columns before it are shown on the way.
  Type(MainForm->MCMemo, "r = 10 + sin(x*y)*cos(x + y)*0 + mod(1, 1499 - x)*0\ng = 20\nb = 30 + pow(x*y + 1, 0.5)*0");
  MainForm->Paint1->trigger();
  ASSERT_TRUE(MainForm->Painting());
  ASSERT_TRUE(WaitFor(
      [] { return (MainForm->ImageContents().pixel(0, 399) & 0xFFFFFF) == (qRgb(10, 20, 30) & 0xFFFFFF); }, 60000))
      << "column 0 appears before the paint ends";
  MainForm->WaitForPaint();
  EXPECT_EQ(Errors().size(), 1u);
  EXPECT_TRUE(MainForm->ImageContents() == before) << "a failed paint shows the old picture";

  // With the growing picture off, the same paint without the failure gives the same pixels.
  Type(MainForm->MCMemo, "r = 10 + mod(x, 7)\ng = mod(y, 5)\nb = 30");
  Paint();
  EXPECT_EQ(Errors(), L{});
  const QImage grown = MainForm->ImageContents();
  MainForm->ResizeImage(1, 1);
  MainForm->ResizeImage(1500, 400);
  MainForm->GrowingPicture = false;
  Paint();
  EXPECT_TRUE(MainForm->ImageContents() == grown);
  EXPECT_EQ(grown.pixel(1499, 399) & 0xFFFFFF, qRgb(10 + 1499 % 7, 399 % 5, 30) & 0xFFFFFF);
}

TEST_F(MainFormTest, AnErrorLineLeadsToItsMemoLineWhichIsMarked) {
  Type(MainForm->ConstsMemo, "a = 1\nb = 1e");  // two error lines for one memo line: one mark
  Type(MainForm->MCMemo, "r = 1\n// c\ng = (x\nb = 0");
  Paint();
  const std::string exponent = "定数式(2行目): SyntaxError: Put some numbers after exponential symbol";
  ASSERT_EQ(Errors(), (L{exponent, exponent, "絨毯の数式(3行目): 括弧が閉じていない"}));
  EXPECT_EQ(MainForm->MarkedLines(MainForm->ConstsMemo), std::vector<int>{1});
  EXPECT_EQ(MainForm->MarkedLines(MainForm->MCMemo), std::vector<int>{2});

  // A double-click on the carpet's error line selects "g = (x" in the carpet memo.
  QPlainTextEdit *errors = ErrorShowForm->ErrorsMemo;
  const QRect second = errors->cursorRect(QTextCursor(errors->document()->findBlockByNumber(2)));
  QTest::mouseDClick(errors->viewport(), Qt::LeftButton, Qt::NoModifier, second.center() + QPoint(20, 0));
  EXPECT_EQ(MainForm->MCMemo->textCursor().blockNumber(), 2);
  EXPECT_EQ(MainForm->MCMemo->textCursor().selectedText(), QStringLiteral("g = (x"));
  EXPECT_TRUE(WaitFor([] { return QApplication::focusWidget() == MainForm->MCMemo; }));
  const QRect first = errors->cursorRect(QTextCursor(errors->document()->findBlockByNumber(0)));
  QTest::mouseDClick(errors->viewport(), Qt::LeftButton, Qt::NoModifier, first.center() + QPoint(20, 0));
  EXPECT_EQ(MainForm->ConstsMemo->textCursor().selectedText(), QStringLiteral("b = 1e"));

  // Editing the memo takes its marks away; the other memo keeps its own.
  QTest::keyClick(MainForm->MCMemo, Qt::Key_End);
  QTest::keyClicks(MainForm->MCMemo, ")");
  EXPECT_TRUE(MainForm->MarkedLines(MainForm->MCMemo).empty());
  EXPECT_EQ(MainForm->MarkedLines(MainForm->ConstsMemo), std::vector<int>{1});

  // The error window, the picker and the help window belong to the main window and close with Esc.
  for (QWidget *window : {static_cast<QWidget *>(ErrorShowForm), static_cast<QWidget *>(TempForm),
                          static_cast<QWidget *>(HelpForm)}) {
    window->show();
    window->activateWindow();
    ASSERT_TRUE(WaitFor([window] { return window->isActiveWindow(); }));
    EXPECT_EQ(window->parentWidget(), MainForm);
    // What makes X11 tell the window manager to keep it above the main
    // window: a transient parent, on a window of the dialog kind.
    ASSERT_NE(window->windowHandle(), nullptr);
    EXPECT_EQ(window->windowHandle()->transientParent(), MainForm->windowHandle());
    EXPECT_EQ(window->windowHandle()->type(), Qt::Dialog);
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible()) << window->objectName().toStdString();
  }
  TErrorPlace place;
  EXPECT_FALSE(ErrorPlaceOf("数学エラー...", place));
  EXPECT_FALSE(ErrorPlaceOf("絨毯の数式(0行目): x", place));
  ASSERT_TRUE(ErrorPlaceOf("絨毯の数式(800行目): 絨毯の数式が多すぎます．", place));
  EXPECT_EQ(place.Line, 799);
}

TEST_F(MainFormTest, FormulasAreColouredAsTheScannerReadsThem) {
  Type(MainForm->MCMemo, "r = sin(x) + 12.5 // note\ng = \"a//b\" /* c */ + cosh(y)");
  const auto *highlighter = MainForm->MCMemo->document()->findChild<QSyntaxHighlighter *>();
  ASSERT_NE(highlighter, nullptr);
  QPlainTextEdit *memo = MainForm->MCMemo;
  const QColor comment = ColourAt(memo, 0, 20), number = ColourAt(memo, 0, 14), function = ColourAt(memo, 0, 4);
  const QColor op = ColourAt(memo, 0, 2), string = ColourAt(memo, 1, 6);
  EXPECT_TRUE(comment.isValid() && number.isValid() && function.isValid() && op.isValid() && string.isValid());
  EXPECT_EQ(QSet<QRgb>({comment.rgb(), number.rgb(), function.rgb(), op.rgb(), string.rgb()}).size(), 5);
  EXPECT_FALSE(ColourAt(memo, 0, 0).isValid()) << "a variable keeps the memo's colour";
  EXPECT_EQ(ColourAt(memo, 0, 24), comment);
  EXPECT_EQ(ColourAt(memo, 1, 4), string) << "the quotes belong to the string";
  EXPECT_EQ(ColourAt(memo, 1, 9), string) << "\"//\" inside a string is no comment";
  EXPECT_EQ(ColourAt(memo, 1, 12), comment);
  EXPECT_EQ(ColourAt(memo, 1, 22), function);
}

TEST_F(MainFormTest, FilesOpenFromTheCommandLineByDropAndFromTheRecentList) {
  MainForm->ResizeImage(40, 30);
  Type(MainForm->MCMemo, "r = 5");
  Save.Answers = {Dir.File("one.vokt")};
  MainForm->SaveAs1->trigger();
  Type(MainForm->MCMemo, "r = 6");
  Save.Answers = {Dir.File("two.vokt")};
  MainForm->SaveAs1->trigger();
  TPicture picture = TPicture::Filled(7, 9, Rgb(1, 2, 3));
  std::string error;
  ASSERT_TRUE(SavePicture(Dir.File("p.BMP"), picture, error));

  // What "velmora FILE" does: a document by name, a picture as a picture.
  MainForm->OpenPath(QString::fromStdString(Dir.File("one.vokt")));
  EXPECT_EQ(TMainForm::MemoLines(MainForm->MCMemo), L{"r = 5"});
  MainForm->OpenPath(QString::fromStdString(Dir.File("p.BMP")));
  EXPECT_EQ(MainForm->Picture.Width, 7);
  EXPECT_EQ(MainForm->ImageContents().pixel(6, 8) & 0xFFFFFF, qRgb(1, 2, 3) & 0xFFFFFF);
  EXPECT_EQ(MainForm->DocMng.FileName, Dir.File("one.vokt")) << "a picture is no document";

  // A dropped document asks about unsaved changes first.
  Type(MainForm->MCMemo, "r = 7");
  Boxes.Answers = {TMessageBoxes::IdCancel};
  Drop(MainForm->MCMemo->viewport(), QString::fromStdString(Dir.File("two.vokt")));
  ASSERT_FALSE(Boxes.Entries.empty());
  EXPECT_EQ(Boxes.Entries.back().Text, "変更を保存しますか？");
  EXPECT_EQ(TMainForm::MemoLines(MainForm->MCMemo), L{"r = 7"}) << "cancelled: nothing opened, nothing typed";
  Boxes.Answers = {TMessageBoxes::IdNo};
  Drop(MainForm, QString::fromStdString(Dir.File("two.vokt")));
  EXPECT_EQ(TMainForm::MemoLines(MainForm->MCMemo), L{"r = 6"});
  EXPECT_EQ(MainForm->windowTitle(), MainCaption(Dir.File("two.vokt")));

  // The recent list: newest first, each once, at most eight; a missing file goes.
  for (int i = 0; i < 9; ++i) MainForm->Recent.Add(QString::fromStdString(Dir.File("n" + std::to_string(i) + ".vokt")));
  MainForm->Recent.Add(QString::fromStdString(Dir.File("one.vokt")));
  QStringList files = MainForm->Recent.Files();
  ASSERT_EQ(files.size(), TRecentFiles::MaxCount);
  EXPECT_EQ(files.front(), QString::fromStdString(Dir.File("one.vokt")));
  EXPECT_EQ(files.count(QString::fromStdString(Dir.File("one.vokt"))), 1);
  emit MainForm->RecentMenu->aboutToShow();
  ASSERT_EQ(MainForm->RecentMenu->actions().size(), TRecentFiles::MaxCount);
  EXPECT_EQ(MainForm->RecentMenu->actions()[0]->text(), QStringLiteral("&1 one.vokt"));
  MainForm->RecentMenu->actions()[0]->trigger();
  EXPECT_EQ(TMainForm::MemoLines(MainForm->MCMemo), L{"r = 5"});
  const std::size_t boxes = Boxes.Entries.size();
  MainForm->RecentMenu->actions()[1]->trigger();  // n8.vokt was never written
  ASSERT_EQ(Boxes.Entries.size(), boxes + 1);
  EXPECT_NE(Boxes.Entries.back().Text.find("n8.vokt が見つかりません"), std::string::npos);
  EXPECT_FALSE(MainForm->Recent.Files().contains(QString::fromStdString(Dir.File("n8.vokt"))));
  EXPECT_EQ(TMainForm::MemoLines(MainForm->MCMemo), L{"r = 5"});
}

// The error window's first place leaves the memos free: beside the main
// window where the screen has room, else over the lower part of the picture.
TEST(ErrorWindowPlace, BesideTheMainWindowOrOverThePicture) {
  const QRect screen(0, 0, 1280, 900);
  const QSize size(390, 270);
  EXPECT_EQ(ErrorWindowPlace(QRect(10, 100, 700, 480), QRect(15, 130, 420, 400), size, screen), QPoint(710, 100));
  EXPECT_EQ(ErrorWindowPlace(QRect(500, 100, 700, 480), QRect(505, 130, 420, 400), size, screen), QPoint(110, 100));
  // A centred window: no room beside it.
  const QRect main(265, 200, 750, 500), picture(270, 250, 420, 400);
  const QPoint at = ErrorWindowPlace(main, picture, size, screen);
  EXPECT_GE(at.x(), picture.left());
  EXPECT_LE(at.x() + size.width(), picture.right() + 1) << "the memos right of the picture stay free";
  EXPECT_EQ(at.y() + size.height(), picture.bottom() + 1);
  // Wider than the picture: it ends where the picture ends, and stays on the screen.
  EXPECT_EQ(ErrorWindowPlace(main, QRect(470, 250, 300, 400), QSize(600, 270), screen).x() + 600, 770);
  EXPECT_EQ(ErrorWindowPlace(main, picture, QSize(600, 270), screen).x() + 600, picture.right() + 1);
}

// Fit zoom with a fractional factor: the last row and column of the canvas
// show the picture, not what was there before.
TEST_F(MainFormTest, AFractionalZoomPaintsTheWholeCanvas) {
  MainForm->ResizeImage(97, 61);
  Type(MainForm->MCMemo, "r = 255\ng = 0\nb = 0");
  Paint();
  MainForm->ImgScrollBox->SetZoom(1.3);
  const QImage shot = MainForm->Image->grab().toImage();
  ASSERT_EQ(shot.size(), QSize(127, 80));
  for (int x = 0; x < shot.width(); ++x) ASSERT_EQ(shot.pixel(x, shot.height() - 1) & 0xFFFFFF, 0xFF0000u) << x;
  for (int y = 0; y < shot.height(); ++y) ASSERT_EQ(shot.pixel(shot.width() - 1, y) & 0xFFFFFF, 0xFF0000u) << y;
}

// Zooming never changes the picture: its keys work during a paint too.
TEST_F(MainFormTest, ZoomKeysWorkWhilePainting) {
  MainForm->activateWindow();
  QApplication::setActiveWindow(MainForm);
  MainForm->ResizeImage(2500, 2500);
  Type(MainForm->MCMemo, "r = 128 + 127*sin(x/10 + y/13)*cos(y/17)");
  MainForm->ImgScrollBox->SetZoom(1);
  MainForm->Paint1->trigger();
  ASSERT_TRUE(MainForm->Painting());
  QTest::keyClick(MainForm, Qt::Key_Minus, Qt::ControlModifier);
  const double zoomed = MainForm->ImgScrollBox->Zoom();
  QTest::keyClick(MainForm, Qt::Key_0, Qt::ControlModifier);
  const bool fitting = MainForm->ImgScrollBox->Fitting();
  MainForm->CancelPaint();
  MainForm->WaitForPaint();
  EXPECT_LT(zoomed, 1);
  EXPECT_TRUE(fitting);
}

// The status bar: no stale message after another command, the pixel under a
// still mouse after the view changes, and the number of math errors.
TEST_F(MainFormTest, TheStatusBarKeepsUpWithWhatHappens) {
  MainForm->ResizeImage(100, 100);
  Type(MainForm->MCMemo, "r = sqrt(x - 1)\ng = y");
  Paint();
  EXPECT_NE(Status().indexOf(QStringLiteral("数学エラーが 100 件ありました")), -1) << Status().toStdString();
  Type(MainForm->MCMemo, "r = sqrt(-1)");
  MainForm->ResizeImage(40, 30);
  Paint();
  EXPECT_NE(Status().indexOf(QStringLiteral("1000 件を超えました")), -1) << Status().toStdString();
  Type(MainForm->MCMemo, "r = x\ng = y\nb = 0");
  Paint();
  EXPECT_EQ(Status().indexOf(QStringLiteral("数学エラー")), -1) << Status().toStdString();
  MainForm->DocMng.Modified = false;
  Trigger(MainForm->New1);
  EXPECT_TRUE(Status().isEmpty()) << Status().toStdString();

  MainForm->ResizeImage(100, 100);
  Type(MainForm->MCMemo, "r = x\ng = y\nb = 0");
  Paint();
  MainForm->ImgScrollBox->SetZoom(1);
  MainForm->PixelLabel->clear();
  QCursor::setPos(MainForm->Image->mapToGlobal(QPoint(10, 20)));
  QApplication::processEvents();
  MainForm->ImgScrollBox->SetZoom(4);
  int x = -1, y = -1;
  ASSERT_TRUE(MainForm->ImgScrollBox->PixelAt(MainForm->Image->mapFromGlobal(QCursor::pos()), x, y));
  EXPECT_NE(x, 10);
  EXPECT_TRUE(MainForm->PixelLabel->text().startsWith(QStringLiteral("x = %1, y = %2").arg(x).arg(y)))
      << MainForm->PixelLabel->text().toStdString();
}

// 表示(&H) and ヘルプ(&H) share their access key: F1 opens the help.
TEST_F(MainFormTest, F1OpensTheHelp) {
  MainForm->activateWindow();
  QApplication::setActiveWindow(MainForm);
  QTest::keyClick(MainForm, Qt::Key_F1);
  EXPECT_TRUE(HelpForm->isVisible());
}
