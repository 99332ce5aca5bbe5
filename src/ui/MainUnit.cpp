#include "ui/MainUnit.h"

#include <QCloseEvent>
#include <QColorDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QEventLoop>
#include <QScreen>
#include <QShortcut>
#include <QTextBlock>
#include <QSplitter>
#include <QVBoxLayout>
#include <cmath>
#include <new>
#include <stdexcept>
#include <sys/stat.h>

#include "document/Work.h"
#include "paint/CarpetPainter.h"
#include "paint/PictureFile.h"
#include "ui/ErrorShowUnit.h"
#include "ui/Fonts.h"
#include "ui/Memo.h"
#include "ui/QtDialogs.h"
#include "ui/ResizeUnit.h"
#include "ui/AboutUnit.h"
#include "ui/HelpUnit.h"
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

const char *const OutOfMemoryText = "メモリが足りません．";

QString MainCaption(const std::string &fileName) { return Q("Velmora 2 ( " + fileName + " )"); }

TMainForm::TMainForm()
    : Document(nullptr), DocMng(nullptr), Picture(TPicture::Filled(400, 400, White)) {
  setObjectName("MainForm");
  OwnBoxes = std::make_unique<TQtMessageBoxes>(this);
  Boxes = OwnBoxes.get();
  Document.MessageBoxes = Boxes;
  DocMng.MessageBoxes = Boxes;
  const QString voktFilter = QStringLiteral("VOKT ファイル (*.vokt);;すべてのファイル (*)");
  OwnDialogs[0] = std::make_unique<TQtFileDialog>(this, TQtFileDialog::TMode::Open, QStringLiteral("開く"), voktFilter);
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
  BuildLayout();
  BuildMenu();
  ShowPicture();

  // Document wiring: the call-backs, the dialogs, the documents folder and the caption.
  DocMng.OpenAction = [this](const std::string &f) { return OpenDocument(f); };
  DocMng.SaveAction = [this](const std::string &f) { return SaveDocument(f); };
  DocMng.NewAction = [this](const std::string &f) { NewDocument(f); };
  DocMng.OpenDialog = OpenDialog;
  DocMng.SaveDialog = SaveDialog;
  const std::string works = ExecutableFolder() + "/作品";
  ::mkdir(works.c_str(), 0777);  // one level; a failure is not reported
  DocMng.InitialDir = works;
  UpdateCaption(DocMng.FileName);
  if (const QScreen *screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
}

TMainForm::~TMainForm() {
  if (PaintThread.joinable()) {
    PaintCancel = true;
    PaintThread.join();
  }
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
  Image = new QLabel;
  Image->setObjectName("Image");
  Image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ImgScrollBox = new QScrollArea;
  ImgScrollBox->setObjectName("ImgScrollBox");
  ImgScrollBox->setWidget(Image);
  ImgScrollBox->setWidgetResizable(false);
  ImgScrollBox->setAlignment(Qt::AlignLeft | Qt::AlignTop);
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

  auto memo = [](const char *name) {
    auto *m = new QPlainTextEdit;
    m->setObjectName(name);
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
  connect(ConstsMemo, &QPlainTextEdit::textChanged, this, [this] {
    if (!SettingText) DocMng.Modified = true;
  });
  connect(MCMemo, &QPlainTextEdit::textChanged, this, [this] {
    if (!SettingText) DocMng.Modified = true;
  });
  connect(PaintButton, &QPushButton::clicked, this, [this] { Command([this] { Paint1Click(); }); });

  ProgressTimer = new QTimer(this);
  ProgressTimer->setInterval(40);
  connect(ProgressTimer, &QTimer::timeout, this, [this] {
    ProgressBar->setValue(std::min(PaintProgress.load(), ProgressBar->maximum()));
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
}

void TMainForm::Command(const std::function<void()> &command) {
  try {
    command();
  } catch (const std::bad_alloc &) {
    ShowError(OutOfMemoryText);
  } catch (const std::exception &e) {
    ShowError(e.what());
  }
}

void TMainForm::ShowError(const std::string &text) {
  Boxes->ShowMessage(text, "Velmora 2", TMessageBoxes::Ok | TMessageBoxes::Stop);
}

void TMainForm::UpdateCaption(const std::string &fileName) { setWindowTitle(MainCaption(fileName)); }

// ---------------------------------------------------------------------------
// The picture

QImage TMainForm::ImageContents() const {
  QImage image(Picture.Width, Picture.Height, QImage::Format_RGB32);
  for (int y = 0; y < Picture.Height; ++y) {
    auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
    for (int x = 0; x < Picture.Width; ++x) {
      const std::uint32_t c = Picture.Pixel(x, y);
      line[x] = qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    }
  }
  return image;
}

void TMainForm::ShowPicture() {
  Image->setPixmap(QPixmap::fromImage(ImageContents()));
  Image->setFixedSize(Picture.Width, Picture.Height);
}

void TMainForm::ResizeImage(int width, int height) {
  if (width == Picture.Width && height == Picture.Height) return;
  std::string error;
  if (!CheckPictureSize(width, height, error)) throw std::runtime_error(error);
  Picture.Resize(width, height);
  ShowPicture();
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
  if (Painting()) {
    CancelPaint();
    FinishPaint();
  }
  bool mayClose = false;
  Command([&] { mayClose = DocMng.CloseQuery(); });
  if (mayClose) event->accept();
  else event->ignore();
}

void TMainForm::Paint1Click() {
  if (Painting()) {  // the paint button cancels while a paint runs
    CancelPaint();
    return;
  }
  ErrorShowForm->ClearErrors();
  const int width = Picture.Width;
  ProgressBar->setRange(0, std::max(width - 1, 0));
  ProgressBar->setValue(0);
  const TStringList constants = MemoLines(ConstsMemo), carpet = MemoLines(MCMemo);
  PaintPicture = Picture;
  PaintOutcome = TPaintResult();
  PaintFailure.clear();
  PaintCancel = false;
  PaintProgress = 0;
  SetPaintingState(true);
  PaintThread = std::thread([this, constants, carpet] {
    TPaintControl control;
    control.Cancel = &PaintCancel;
    control.Progress = [this](int done, int) { PaintProgress = done; };
    try {
      PaintOutcome = PaintCarpet(Arithmetic, constants, carpet, PaintPicture, control);
    } catch (const std::bad_alloc &) {
      PaintFailure = OutOfMemoryText;
    } catch (const std::exception &e) {
      PaintFailure = e.what();
    }
    QMetaObject::invokeMethod(this, [this] { FinishPaint(); }, Qt::QueuedConnection);
  });
  ProgressTimer->start();
}

void TMainForm::CancelPaint() {
  if (Painting()) PaintCancel = true;
}

void TMainForm::WaitForPaint() {
  if (!Painting()) return;
  QEventLoop loop;
  connect(this, &TMainForm::PaintFinished, &loop, &QEventLoop::quit);
  loop.exec();
}

void TMainForm::SetPaintingState(bool painting) {
  // Nothing the paint reads may change under it: no typing, no menu command.
  ConstsMemo->setEnabled(!painting);
  MCMemo->setEnabled(!painting);
  menuBar()->setEnabled(!painting);
  for (QAction *a : {New1, Open1, Save1, SaveAs1, Exit1, ErrorForm1, Paint1, SaveGraphics1, OpenGraphics1, ChangeSize1,
                     ColorToNum1, Template1, TempMng1, Help2, A1})
    a->setEnabled(!painting);
  PaintButton->setText(painting ? QStringLiteral("中止(Esc)") : QStringLiteral("描画(&P)"));
}

void TMainForm::FinishPaint() {
  if (!PaintThread.joinable()) return;  // already done (the window closed meanwhile)
  PaintThread.join();
  ProgressTimer->stop();
  ProgressBar->setValue(std::min(PaintProgress.load(), ProgressBar->maximum()));
  SetPaintingState(false);
  if (PaintOutcome.Painted) {
    Picture = std::move(PaintPicture);
    ShowPicture();
  }
  PaintPicture = TPicture();
  ProgressBar->setValue(0);
  for (const std::string &line : PaintOutcome.ErrorLines) ErrorShowForm->ErrorLines.Add(line);
  ErrorShowForm->ErrorsMemo->moveCursor(QTextCursor::Start);  // the first error, not the last
  if (ErrorShowForm->ErrorLines.Count() > 0) ErrorShowForm->ShowFront();
  if (!PaintFailure.empty()) ShowError(PaintFailure);
  emit PaintFinished();
}

void TMainForm::SaveGraphics1Click() {
  std::string fileName;
  if (!SavePicDialog->Execute(fileName)) return;
  std::string error;
  if (!SavePicture(fileName, Picture, error)) throw std::runtime_error(error);
}

void TMainForm::OpenGraphics1Click() {
  std::string fileName;
  if (!OpenPicDialog->Execute(fileName)) return;
  TPicture loaded;
  std::string error, warning;
  if (!LoadPicture(fileName, loaded, error, &warning)) throw std::runtime_error(error);
  Picture = std::move(loaded);
  ShowPicture();
  if (!warning.empty()) Boxes->ShowMessage(warning, "Velmora 2", TMessageBoxes::Ok | TMessageBoxes::Exclamation);
}

void TMainForm::ChangeSize1Click() {
  ResizeForm->WidthEdit->setText(QString::number(Picture.Width));
  ResizeForm->HeightEdit->setText(QString::number(Picture.Height));
  ResizeForm->WidthEdit->setFocus();
  if (ResizeForm->exec() != 1) return;
  // Height first, as the size has always been read.
  bool heightOk = false, widthOk = false;
  const QString heightText = ResizeForm->HeightEdit->text(), widthText = ResizeForm->WidthEdit->text();
  const int height = heightText.toInt(&heightOk);
  if (!heightOk) throw std::runtime_error("'" + heightText.toStdString() + "' は整数ではありません");
  const int width = widthText.toInt(&widthOk);
  if (!widthOk) throw std::runtime_error("'" + widthText.toStdString() + "' は整数ではありません");
  ResizeImage(width, height);
  DocMng.Modified = true;
}

// ---------------------------------------------------------------------------
// Documents

TStringList TMainForm::MemoLines(const QPlainTextEdit *memo) { return velmora::MemoLines(memo); }

void TMainForm::SetMemoLines(QPlainTextEdit *memo, const TStringList &lines) {
  SettingText = true;
  SetMemoText(memo, lines);
  SettingText = false;
}

bool TMainForm::OpenDocument(const std::string &fileName) {
  // A file that exists but cannot be read ends the command with its reason;
  // the window keeps everything it showed.
  if (!Document.Read(fileName) && !Document.ErrorMessage.empty()) throw std::runtime_error(Document.ErrorMessage);
  UpdateCaption(fileName);
  TWork work;
  TakeFormulas(Document, work);
  SetMemoLines(ConstsMemo, work.Constants);
  SetMemoLines(MCMemo, work.Carpet);
  // The warnings come after the formulas are on screen, so they speak of what is shown.
  bool ok = TakeChecks(Document, work);
  int w = 0, h = 0;
  std::string error;
  if (PictureSizeOf(work.Width, work.Height, w, h, error)) {
    ResizeImage(w, h);
  } else {
    // A size no picture can have: say so and keep the picture as it is.
    ShowError(error);
    ok = false;
  }
  return ok;
}

bool TMainForm::SaveDocument(const std::string &fileName) {
  TWork work;
  work.Constants = MemoLines(ConstsMemo);
  work.Carpet = MemoLines(MCMemo);
  work.Width = Picture.Width;
  work.Height = Picture.Height;
  const bool ok = PutWork(Document, work);
  if (!Document.Write(fileName)) throw std::runtime_error(Document.ErrorMessage);
  UpdateCaption(fileName);
  return ok;
}

void TMainForm::NewDocument(const std::string &fileName) {
  UpdateCaption(fileName);
  SetMemoLines(ConstsMemo, {});
  SetMemoLines(MCMemo, {});
  ResizeImage(400, 400);
}

}  // namespace velmora
