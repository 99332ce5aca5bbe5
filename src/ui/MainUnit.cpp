#include "ui/MainUnit.h"

#include <QCloseEvent>
#include <QColorDialog>
#include <QFrame>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTextBlock>
#include <QVBoxLayout>
#include <new>
#include <sys/stat.h>

#include "text/AllocationFailed.h"
#include "ui/AboutUnit.h"
#include "ui/Folders.h"
#include "ui/Fonts.h"
#include "ui/FormulaHighlighter.h"
#include "ui/HelpUnit.h"
#include "ui/LineNumberMemo.h"
#include "ui/Memo.h"
#include "ui/QtDialogs.h"
#include "ui/TempMngUnit.h"
#include "ui/TempUnit.h"

namespace velmora {

TMainForm *MainForm = nullptr;

namespace {

const char *const ConstsLine2 = "//ダブルスラッシュ(\"//\")で始まる行は無視されます．";

QFrame *Panel(QWidget *parent = nullptr) {
  auto *p = new QFrame(parent);
  p->setFrameStyle(QFrame::NoFrame);
  return p;
}

// Showing a window that is already open brings it to the front as the active window.
void ShowFront(QWidget *window) {
  window->show();
  window->raise();
  window->activateWindow();
}

}  // namespace

QString MainCaption(const std::string &fileName) { return Q("Velmora 2 ( " + fileName + " )"); }

TMainForm::TMainForm()
    : Document(nullptr), DocMng(nullptr), Picture(TPicture::Filled(400, 400, White)) {
  setObjectName("MainForm");
  OwnBoxes = std::make_unique<TQtMessageBoxes>(this);
  Boxes = OwnBoxes.get();
  Document.MessageBoxes = Boxes;
  DocMng.MessageBoxes = Boxes;
  const QString voktFilter = QStringLiteral("VOKT ファイル (*.vokt);;すべてのファイル (*)");
  // A PNG picture that carries its recipe opens as a document too.
  const QString openFilter =
      QStringLiteral("VOKT ファイル (*.vokt);;レシピ付き PNG 画像 (*.png);;すべてのファイル (*)");
  OwnDialogs[0] = std::make_unique<TQtFileDialog>(this, TQtFileDialog::TMode::Open, QStringLiteral("開く"), openFilter);
  OwnDialogs[1] = std::make_unique<TQtFileDialog>(this, TQtFileDialog::TMode::Save, QStringLiteral("名前を付けて保存"),
                                                  voktFilter, QStringLiteral("vokt"));
  OwnDialogs[2] = std::make_unique<TQtFileDialog>(
      this, TQtFileDialog::TMode::Save, QStringLiteral("画像を保存"),
      QStringLiteral("ビットマップ (*.bmp);;JPEGイメージ (*.jpg *.jpeg);;PNG イメージ (*.png)"), QStringLiteral("bmp"));
  OwnDialogs[3] = std::make_unique<TQtFileDialog>(
      this, TQtFileDialog::TMode::Open, QString(),
      QStringLiteral("画像ファイル (*.bmp *.jpg *.jpeg *.png);;ビットマップ (*.bmp);;JPEGイメージ (*.jpg *.jpeg);;"
                     "PNG イメージ (*.png);;その他のファイル (*)"));
  OpenDialog = OwnDialogs[0].get();
  SaveDialog = OwnDialogs[1].get();
  SavePicDialog = OwnDialogs[2].get();
  OpenPicDialog = OwnDialogs[3].get();
  ShowColorDialog = [this] {
    QColorDialog::getColor(Qt::white, this, QString(), QColorDialog::DontUseNativeDialog);
  };

  setWindowTitle(QStringLiteral("Velmora 2"));
  setFont(FixedFont(12));
  resize(749, 471);
  setAcceptDrops(true);
  Job = new TPaintJob(this);
  connect(Job, &TPaintJob::Ended, this, [this] { PaintEnded(); }, Qt::QueuedConnection);
  Job->BeforeRun = [this](const TPicture &start) { PictureRecipe.HashStart(start); };
  Job->AfterRun = [this](const TPicture &painted) { PictureRecipe.HashPainted(painted); };
  // A finished pass shows the whole picture in its blocks at once.
  connect(Job, &TPaintJob::PassFinished, this, [this] { ShowPaintedColumns(); }, Qt::QueuedConnection);
  BuildLayout();
  BuildMenu();
  BuildStatusBar();
  ShowPicture();

  // Document wiring: the call-backs, the dialogs, the documents folder and the caption.
  DocMng.OpenAction = [this](const std::string &f) { return OpenDocument(f); };
  DocMng.SaveAction = [this](const std::string &f) { return SaveDocument(f); };
  DocMng.NewAction = [this](const std::string &f) { NewDocument(f); };
  DocMng.OpenDialog = OpenDialog;
  DocMng.SaveDialog = SaveDialog;
  const std::string works = ProgramFolders().Works;
  ::mkdir(works.c_str(), 0777);  // one level; a failure is not reported
  DocMng.InitialDir = works;
  UpdateCaption(DocMng.FileName);
  if (const QScreen *screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
}

TMainForm::~TMainForm() {
  // The paint thread uses the engine: it ends before the members go.
  Job->Cancel();
  Job->Finish();
}

void TMainForm::UseDialogs(TMessageBoxes *boxes, TFileDialog *open, TFileDialog *save, TFileDialog *savePic,
                           TFileDialog *openPic) {
  Boxes = Document.MessageBoxes = DocMng.MessageBoxes = boxes;
  OpenDialog = DocMng.OpenDialog = open;
  SaveDialog = DocMng.SaveDialog = save;
  SavePicDialog = savePic;
  OpenPicDialog = openPic;
  for (TMessageBoxes **windowBoxes : {TempForm ? &TempForm->Boxes : nullptr, TempMngForm ? &TempMngForm->Boxes : nullptr,
                                      HelpForm ? &HelpForm->Boxes : nullptr})
    if (windowBoxes) *windowBoxes = boxes;
}

void TMainForm::BuildLayout() {
  // Left: the picture in a scroll box over a thin progress bar.
  auto *panel6 = Panel();
  ImgScrollBox = new TPictureView;
  Image = ImgScrollBox->Canvas();
  connect(ImgScrollBox, &TPictureView::ZoomChanged, this, [this] { ShowSizeAndZoom(); });
  connect(ImgScrollBox, &TPictureView::PixelHovered, this, [this](int x, int y) { ShowPixel(x, y); });
  ProgressBar = new QProgressBar;
  ProgressBar->setObjectName("ProgressBar");
  ProgressBar->setFixedHeight(9);
  ProgressBar->setTextVisible(false);
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  auto *left = new QVBoxLayout(panel6);
  left->setContentsMargins(0, 0, 0, 0);
  left->setSpacing(0);
  left->addWidget(ImgScrollBox);
  left->addWidget(ProgressBar);

  auto memo = [this](const char *name) {
    auto *m = new TLineNumberMemo;
    m->setObjectName(name);
    new TFormulaHighlighter(m->document());
    m->setFont(FixedFont(15));
    m->setLineWrapMode(QPlainTextEdit::NoWrap);
    m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return m;
  };
  auto caption = [](const char *text, int height) {
    auto *l = new QLabel(QString::fromUtf8(text));
    l->setFixedHeight(height);
    return l;
  };

  // Right, top: the constants.
  auto *panel4 = Panel();
  ConstsMemo = memo("ConstsMemo");
  auto *constsLayout = new QVBoxLayout(panel4);
  constsLayout->setContentsMargins(5, 5, 5, 5);
  constsLayout->setSpacing(0);
  constsLayout->addWidget(caption(" [定数]", 17));
  constsLayout->addWidget(ConstsMemo);
  BuildParameterPanel(constsLayout);

  // Right, below: the carpet formulas with the paint button in their header.
  auto *panel2 = Panel();
  MCMemo = memo("MCMemo");
  auto *panel3 = Panel();
  panel3->setFixedHeight(21);
  auto *panel3Label = caption(" [絨毯の数式]", 21);
  panel3Label->setParent(panel3);
  panel3Label->setFixedWidth(88);
  PaintButton = new QPushButton(QStringLiteral("描画(&P)"), panel3);
  PaintButton->setObjectName("PaintButton");
  PaintButton->setGeometry(88, 1, 64, 19);
  PaintButton->setFocusPolicy(Qt::TabFocus);
  auto *carpetLayout = new QVBoxLayout(panel2);
  carpetLayout->setContentsMargins(5, 5, 5, 5);
  carpetLayout->setSpacing(0);
  carpetLayout->addWidget(panel3);
  carpetLayout->addWidget(MCMemo);

  auto *panel7 = new QSplitter(Qt::Vertical);
  panel7->setHandleWidth(3);
  panel7->addWidget(panel4);
  panel7->addWidget(panel2);
  panel7->setSizes({144, 300});
  panel7->setChildrenCollapsible(false);

  auto *main = new QSplitter(Qt::Horizontal);
  main->setHandleWidth(3);
  main->addWidget(panel6);
  main->addWidget(panel7);
  main->setStretchFactor(0, 1);
  main->setStretchFactor(1, 0);
  main->setSizes({421, 325});
  setCentralWidget(main);

  SettingText = true;
  SetMemoText(ConstsMemo, {"//定数を入力します．", ConstsLine2});
  SetMemoText(MCMemo, {"//絨毯を描く数式を入力します．", ConstsLine2,
                       "//r, g, b の各変数（それぞれ赤，緑，青を表す）を，座標(x, y)を使って計算します．",
                       "//r, g, b の範囲は0～255です．0未満なら0に，256以上なら255に修正されます．", ""});
  SettingText = false;
  for (QPlainTextEdit *m : {ConstsMemo, MCMemo}) {
    m->viewport()->installEventFilter(this);  // files dropped on it open
    connect(m, &QPlainTextEdit::textChanged, this, [this, m] {
      ClearMarks(m);
      if (SettingText) return;
      DocMng.Modified = true;
      MemoEdited();
    });
  }
  connect(PaintButton, &QPushButton::clicked, this, [this] { Command([this] { Paint1Click(); }); });

  ProgressTimer = new QTimer(this);
  ProgressTimer->setInterval(40);
  connect(ProgressTimer, &QTimer::timeout, this, [this] {
    ProgressBar->setValue(std::min(Job->ColumnsDone(), ProgressBar->maximum()));
    // The picture grows at a calmer pace than the bar: copying columns takes
    // the window's thread away from the painting threads.
    if (++Ticks % 3 == 0 && Ticks * ProgressTimer->interval() >= GrowAfterMs) ShowPaintedColumns();
  });
  auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] { CancelPaint(); });
}

void TMainForm::BuildMenu() {
  auto add = [this](QMenu *menu, const char *name, const char *text, void (TMainForm::*handler)(),
                    QKeySequence shortcut = {}) {
    QAction *a = menu->addAction(QString::fromUtf8(text));
    a->setObjectName(name);
    if (!shortcut.isEmpty()) a->setShortcut(shortcut);
    connect(a, &QAction::triggered, this, [this, handler] { Command([this, handler] { (this->*handler)(); }); });
    return a;
  };
  QMenu *file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
  New1 = add(file, "New1", "新規作成(&N)", &TMainForm::New1Click, QKeySequence(Qt::CTRL | Qt::Key_N));
  file->addSeparator();
  Open1 = add(file, "Open1", "開く(&O)", &TMainForm::Open1Click, QKeySequence(Qt::CTRL | Qt::Key_O));
  file->addSeparator();
  Save1 = add(file, "Save1", "保存(&S)", &TMainForm::Save1Click, QKeySequence(Qt::CTRL | Qt::Key_S));
  SaveAs1 = add(file, "SaveAs1", "名前を付けて保存(&A)", &TMainForm::SaveAs1Click);
  file->addSeparator();
  Exit1 = add(file, "Exit1", "終了(&X)", &TMainForm::Exit1Click);
  QMenu *show = menuBar()->addMenu(QStringLiteral("表示(&H)"));
  ErrorForm1 = add(show, "ErrorForm1", "エラーフォーム(&E)", &TMainForm::ErrorForm1Click);
  QMenu *img = menuBar()->addMenu(QStringLiteral("画像(&I)"));
  Paint1 = add(img, "Paint1", "描画(&P)", &TMainForm::Paint1Click, QKeySequence(Qt::CTRL | Qt::Key_P));
  img->addSeparator();
  SaveGraphics1 = add(img, "SaveGraphics1", "画像を保存(&G)", &TMainForm::SaveGraphics1Click);
  OpenGraphics1 = add(img, "OpenGraphics1", "画像を開く(&O)", &TMainForm::OpenGraphics1Click);
  img->addSeparator();
  ChangeSize1 = add(img, "ChangeSize1", "サイズ変更(&C)", &TMainForm::ChangeSize1Click);
  QMenu *tool = menuBar()->addMenu(QStringLiteral("ツール(&T)"));
  ColorToNum1 = add(tool, "ColorToNum1", "カラーボックス(&B)", &TMainForm::ColorToNum1Click);
  tool->addSeparator();
  Template1 = add(tool, "Template1", "テンプレート(&M)", &TMainForm::Template1Click, QKeySequence(Qt::CTRL | Qt::Key_T));
  TempMng1 = add(tool, "TempMng1", "テンプレートの管理(&R)", &TMainForm::TempMng1Click);
  QMenu *help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
  Help2 = add(help, "Help2", "ヘルプ(&M)", &TMainForm::Help2Click);
  A1 = add(help, "A1", "バージョン情報(&A)...", &TMainForm::A1Click);

  // Additions, after each menu's own entries.
  RestoreTemplates1 = add(tool, "RestoreTemplates1", "付属のテンプレートを元に戻す(&S)...",
                          &TMainForm::RestoreTemplates1Click);
  AddUndoMenu(img);
  AddAutoPaintMenu(img);
  img->addSeparator();
  ExportAnimation1 = add(img, "ExportAnimation1", "アニメーションを書き出す(&A)...", &TMainForm::ExportAnimation1Click);
  // 表示(&H) and ヘルプ(&H) share their access key: F1 always reaches the help.
  Help2->setShortcut(QKeySequence(Qt::Key_F1));
  file->addSeparator();
  RecentMenu = file->addMenu(QStringLiteral("最近使ったファイル(&R)"));
  RecentMenu->setObjectName("RecentMenu");
  connect(RecentMenu, &QMenu::aboutToShow, this, [this] { FillRecentMenu(); });
  FillRecentMenu();
  show->addSeparator();
  auto zoom = [this, show](const char *name, const char *text, QList<QKeySequence> keys, auto action) {
    QAction *a = show->addAction(QString::fromUtf8(text));
    a->setObjectName(name);
    a->setShortcuts(keys);
    connect(a, &QAction::triggered, this, action);
    return a;
  };
  ZoomFit1 = zoom("ZoomFit1", "ウィンドウに合わせる(&W)", {QKeySequence(Qt::CTRL | Qt::Key_0)},
                  [this] { ImgScrollBox->ZoomToFit(); });
  ZoomActual1 = zoom("ZoomActual1", "実際のサイズ(&1)", {QKeySequence(Qt::CTRL | Qt::Key_1)},
                     [this] { ImgScrollBox->SetZoom(1); });
  ZoomIn1 = zoom("ZoomIn1", "拡大(&I)",
                 {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
                 [this] { ImgScrollBox->ZoomIn(); });
  ZoomOut1 = zoom("ZoomOut1", "縮小(&U)", {QKeySequence(Qt::CTRL | Qt::Key_Minus)}, [this] { ImgScrollBox->ZoomOut(); });
}

void TMainForm::BuildStatusBar() {
  auto label = [this](const char *name) {
    auto *l = new QLabel;
    l->setObjectName(name);
    l->setContentsMargins(6, 0, 6, 0);
    statusBar()->addPermanentWidget(l);
    return l;
  };
  PixelLabel = label("PixelLabel");
  SizeLabel = label("SizeLabel");
  ZoomLabel = label("ZoomLabel");
  statusBar()->setObjectName("StatusBar");
}

void TMainForm::Command(const std::function<void()> &command) {
  // A message speaks of the last thing done; a new command makes it stale.
  statusBar()->clearMessage();
  // The engine and the picture belong to the command, not to an automatic paint.
  const std::function<void()> resume = PauseAutoPaint();
  try {
    command();
  } catch (const TReportedFailure &) {
  } catch (const std::bad_alloc &) {
    ShowError(OutOfMemoryMessage);
  } catch (const std::exception &e) {
    ShowError(e.what());
  }
  resume();
}

void TMainForm::ShowError(const std::string &text) {
  Boxes->ShowMessage(text, "Velmora 2", TMessageBoxes::Ok | TMessageBoxes::Stop);
}

void TMainForm::UpdateCaption(const std::string &fileName) { setWindowTitle(MainCaption(fileName)); }

void TMainForm::ShowStatus(const QString &text) { statusBar()->showMessage(text, 10000); }

void TMainForm::ShowSizeAndZoom() {
  SizeLabel->setText(QStringLiteral("%1 × %2").arg(Picture.Width).arg(Picture.Height));
  const QString percent = QString::number(ImgScrollBox->Zoom() * 100, 'f', ImgScrollBox->Zoom() < 0.1 ? 1 : 0);
  ZoomLabel->setText(ImgScrollBox->Fitting() ? QStringLiteral("%1%（ウィンドウに合わせる）").arg(percent)
                                             : QStringLiteral("%1%").arg(percent));
}

void TMainForm::ShowPixel(int x, int y) {
  const QImage &image = ImgScrollBox->Image();
  if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) {
    PixelLabel->clear();
    return;
  }
  const QRgb c = image.pixel(x, y);
  PixelLabel->setText(QStringLiteral("x = %1, y = %2　r = %3, g = %4, b = %5")
                          .arg(x).arg(y).arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c)));
}

// ---------------------------------------------------------------------------
// Menu commands

void TMainForm::New1Click() { DocMng.New(); }
void TMainForm::Open1Click() { DocMng.Open(); }
void TMainForm::Save1Click() { DocMng.Save(); }
void TMainForm::SaveAs1Click() { DocMng.SaveAs(); }
void TMainForm::Exit1Click() { close(); }
void TMainForm::ErrorForm1Click() { ErrorShowForm->ShowFront(); }
void TMainForm::ColorToNum1Click() { ShowColorDialog(); }
void TMainForm::Template1Click() { ShowFront(TempForm); }
void TMainForm::TempMng1Click() {
  TempForm->hide();
  TempMngForm->exec();
}
void TMainForm::Help2Click() { ShowFront(HelpForm); }
void TMainForm::RestoreTemplates1Click() {
  TempForm->hide();
  if (TempMngForm->RestoreShipped()) ShowStatus(QStringLiteral("付属のテンプレートを元に戻しました．"));
}
void TMainForm::A1Click() {
  AboutForm->move(geometry().center() - AboutForm->rect().center());
  AboutForm->exec();
}

void TMainForm::showEvent(QShowEvent *event) {
  QMainWindow::showEvent(event);
  // The first keystrokes after start-up go into the carpet formulas, on their
  // last line (the empty one below the comments).
  if (!Shown) {
    const int lines = static_cast<int>(MemoLines(MCMemo).size());
    MCMemo->setTextCursor(QTextCursor(MCMemo->document()->findBlockByNumber(std::max(lines - 1, 0))));
    MCMemo->setFocus();
  }
  Shown = true;
}

void TMainForm::closeEvent(QCloseEvent *event) {
  // The question comes first: a paint is given up only when the window goes.
  bool mayClose = false;
  Command([&] { mayClose = DocMng.CloseQuery(); });
  if (!mayClose) {
    event->ignore();
    return;
  }
  StopAutoPaint();
  if (Painting()) {
    CancelPaint();
    FinishPaint();
  }
  event->accept();
}

}  // namespace velmora
