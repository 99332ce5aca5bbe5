// The main window's files: documents (the document manager's call-backs),
// pictures, the recent documents, and files dropped on the window.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QStatusBar>
#include <QUrl>
#include <stdexcept>

#include "document/Work.h"
#include "paint/PictureFile.h"
#include "ui/MainUnit.h"
#include "ui/Memo.h"

namespace velmora {

namespace {

QString FileNameOnly(const std::string &path) { return QFileInfo(QString::fromStdString(path)).fileName(); }

// The one local file a drag carries, or "" (several files, or none).
QString DraggedFile(const QMimeData *data) {
  if (!data || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().front();
  return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

void TMainForm::SaveGraphics1Click() {
  std::string fileName;
  if (!SavePicDialog->Execute(fileName)) return;
  std::string error, notice;
  // A PNG picture that is exactly a paint's output carries its recipe.
  const std::string recipe =
      PictureFormatFor(fileName) == TPictureFormat::Png ? PictureRecipe.TextFor(Picture, notice) : std::string();
  if (!SavePicture(fileName, Picture, error, nullptr, recipe.empty() ? nullptr : &recipe))
    throw std::runtime_error(error);
  ShowStatus(QStringLiteral("画像「%1」を保存しました．").arg(FileNameOnly(fileName)));
  if (!notice.empty()) Boxes->ShowMessage(notice, "Velmora 2", TMessageBoxes::Ok | TMessageBoxes::Exclamation);
}

void TMainForm::OpenGraphics1Click() {
  std::string fileName;
  if (OpenPicDialog->Execute(fileName)) OpenPicture(fileName);
}

void TMainForm::OpenPicture(const std::string &fileName) {
  TPicture loaded;
  std::string error, warning;
  if (!LoadPicture(fileName, loaded, error, &warning)) throw std::runtime_error(error);
  KeepForUndo(std::move(Picture), TEngineState::Of(Arithmetic));
  Picture = std::move(loaded);
  ShowPicture();
  ShowStatus(QStringLiteral("画像「%1」を開きました．").arg(FileNameOnly(fileName)));
  if (!warning.empty()) Boxes->ShowMessage(warning, "Velmora 2", TMessageBoxes::Ok | TMessageBoxes::Exclamation);
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
  TPictureFormat format;
  std::string notDocument;
  if (PictureFormatForReading(fileName, format, notDocument) && format == TPictureFormat::Png)
    return OpenRecipePicture(fileName);
  // A file that cannot be taken ends the command with its reason (a box the
  // reader showed itself, or its message); the window keeps everything it
  // showed, so a later save cannot go over a file that was never read.
  if (!Document.Read(fileName)) {
    if (!Document.ErrorMessage.empty()) throw std::runtime_error(Document.ErrorMessage);
    throw TReportedFailure();
  }
  UpdateCaption(fileName);
  Recent.Add(QString::fromStdString(fileName));
  TWork work;
  TakeFormulas(Document, work);
  SetMemoLines(ConstsMemo, work.Constants);
  SetMemoLines(MCMemo, work.Carpet);
  ShowStatus(QStringLiteral("「%1」を開きました．").arg(FileNameOnly(fileName)));
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
  Recent.Add(QString::fromStdString(fileName));
  ShowStatus(QStringLiteral("「%1」を保存しました．").arg(FileNameOnly(fileName)));
  return ok;
}

void TMainForm::NewDocument(const std::string &fileName) {
  Document.Codes.Clear();  // the codes read belong to the document closed
  UpdateCaption(fileName);
  SetMemoLines(ConstsMemo, {});
  SetMemoLines(MCMemo, {});
  ResizeImage(400, 400);
}

// ---------------------------------------------------------------------------
// Other ways in: the command line, dropped files, the recent documents

void TMainForm::OpenPath(const QString &path) {
  if (Painting() || path.isEmpty()) return;
  const std::string full = QFileInfo(path).absoluteFilePath().toStdString();
  Command([&] {
    TPictureFormat format;
    std::string notPicture;
    if (PictureFormatForReading(full, format, notPicture)) OpenPicture(full);
    else DocMng.OpenFile(full);
  });
}

void TMainForm::OpenRecent(const QString &path) {
  if (Painting()) return;
  if (!QFileInfo(path).isFile()) {
    Recent.Remove(path);
    FillRecentMenu();
    Boxes->ShowMessage(path.toStdString() + " が見つかりません．最近使ったファイルの一覧から外しました．", "Velmora 2",
                       TMessageBoxes::Ok | TMessageBoxes::Exclamation);
    return;
  }
  Command([&] { DocMng.OpenFile(path.toStdString()); });
}

void TMainForm::FillRecentMenu() {
  RecentMenu->clear();
  const QStringList files = Recent.Files();
  for (int i = 0; i < files.size(); ++i) {
    // "&1 name": the number is the access key; the full path is in the tip.
    QString text = QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(files[i]).fileName().replace('&', "&&"));
    QAction *a = RecentMenu->addAction(text);
    a->setToolTip(files[i]);
    a->setStatusTip(files[i]);
    const QString path = files[i];
    connect(a, &QAction::triggered, this, [this, path] { OpenRecent(path); });
  }
  if (files.isEmpty()) RecentMenu->addAction(QStringLiteral("（なし）"))->setEnabled(false);
}

void TMainForm::dragEnterEvent(QDragEnterEvent *event) {
  if (!Painting() && !DraggedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent *event) {
  const QString file = DraggedFile(event->mimeData());
  if (Painting() || file.isEmpty()) return;
  event->acceptProposedAction();
  // Opened after the drop has ended: the close question and the message boxes
  // must not run inside the drag.
  QMetaObject::invokeMethod(this, [this, file] { OpenPath(file); }, Qt::QueuedConnection);
}

bool TMainForm::eventFilter(QObject *watched, QEvent *event) {
  // A file dropped on a memo opens like one dropped on the window, instead of
  // its name going into the formulas as text.
  const bool memo = ConstsMemo && MCMemo && (watched == ConstsMemo->viewport() || watched == MCMemo->viewport());
  if (memo && (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove)) {
    auto *drag = static_cast<QDragMoveEvent *>(event);
    if (!DraggedFile(drag->mimeData()).isEmpty()) {
      if (!Painting()) drag->acceptProposedAction();
      else drag->ignore();
      return true;
    }
  } else if (memo && event->type() == QEvent::Drop) {
    auto *drop = static_cast<QDropEvent *>(event);
    if (!DraggedFile(drop->mimeData()).isEmpty()) {
      dropEvent(drop);
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace velmora
