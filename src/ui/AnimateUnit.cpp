#include "ui/AnimateUnit.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <chrono>
#include <new>

#include "paint/AnimationFiles.h"
#include "ui/Fonts.h"
#include "text/AllocationFailed.h"
#include "text/Paths.h"
#include "ui/QtDialogs.h"

namespace velmora {

namespace {

// The error window gets at most this many lines of all frames together.
constexpr std::size_t MaxErrorLines = 10000;

// A name chosen as "連番 PNG" without a field gets one before its extension.
std::string WithFrameField(const std::string &name) {
  if (IsFramePattern(name)) return name;
  const std::string extension = text::FileExtension(name);
  std::string lower = extension;
  for (char &c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (lower == ".webp" || lower == ".gif" || extension.empty()) return name;
  return name.substr(0, name.size() - extension.size()) + "%04d" + extension;
}

}  // namespace

TAnimateForm::TAnimateForm(QWidget *parent)
    : QDialog(parent), VariableBox(new QComboBox(this)), FromEdit(new QLineEdit(QStringLiteral("0"), this)),
      ToEdit(new QLineEdit(QStringLiteral("6.283185307179586"), this)), FramesSpin(new QSpinBox(this)),
      FpsSpin(new QSpinBox(this)), IncludeEndCheck(new QCheckBox(QStringLiteral("終わりの値も描く(&E)"), this)),
      CarryCheck(new QCheckBox(QStringLiteral("前のフレームから続けて描く(&C)"), this)), FileEdit(new QLineEdit(this)),
      BrowseButton(new QPushButton(QStringLiteral("参照(&B)..."), this)),
      StartButton(new QPushButton(QStringLiteral("書き出す(&W)"), this)),
      StopButton(new QPushButton(QStringLiteral("中止"), this)),
      CloseButton(new QPushButton(QStringLiteral("閉じる"), this)), Progress(new QProgressBar(this)),
      StatusLabel(new QLabel(this)), Ticker(new QTimer(this)) {
  setObjectName("AnimateForm");
  setWindowTitle(QStringLiteral("アニメーションを書き出す"));
  setFont(FixedFont(12));
  VariableBox->setObjectName("VariableBox");
  FromEdit->setObjectName("FromEdit");
  ToEdit->setObjectName("ToEdit");
  FramesSpin->setObjectName("FramesSpin");
  FpsSpin->setObjectName("FpsSpin");
  IncludeEndCheck->setObjectName("IncludeEndCheck");
  CarryCheck->setObjectName("CarryCheck");
  FileEdit->setObjectName("FileEdit");
  StartButton->setObjectName("StartButton");
  StopButton->setObjectName("StopButton");
  Progress->setObjectName("Progress");
  StatusLabel->setObjectName("StatusLabel");
  FramesSpin->setRange(1, MaxAnimationFrames);
  FramesSpin->setValue(60);
  FpsSpin->setRange(1, static_cast<int>(MaxFramesPerSecond));
  FpsSpin->setValue(30);
  Progress->setRange(0, 1000);
  Progress->setValue(0);
  StatusLabel->setWordWrap(true);
  StopButton->setEnabled(false);

  auto *grid = new QGridLayout;
  int row = 0;
  auto line = [&](const char *label, QWidget *field, QWidget *extra = nullptr) {
    auto *l = new QLabel(QString::fromUtf8(label), this);
    l->setBuddy(field);
    grid->addWidget(l, row, 0);
    grid->addWidget(field, row, 1, 1, extra ? 1 : 2);
    if (extra) grid->addWidget(extra, row, 2);
    ++row;
  };
  line("変数(&V):", VariableBox);
  line("始めの値(&F):", FromEdit);
  line("終わりの値(&T):", ToEdit);
  line("フレーム数(&N):", FramesSpin);
  line("毎秒のフレーム数(&S):", FpsSpin);
  grid->addWidget(IncludeEndCheck, row++, 1, 1, 2);
  grid->addWidget(CarryCheck, row++, 1, 1, 2);
  line("書き出すファイル(&O):", FileEdit, BrowseButton);
  auto *buttons = new QHBoxLayout;
  buttons->addWidget(Progress, 1);
  buttons->addWidget(StartButton);
  buttons->addWidget(StopButton);
  buttons->addWidget(CloseButton);
  auto *all = new QVBoxLayout(this);
  all->addLayout(grid);
  all->addWidget(StatusLabel);
  all->addLayout(buttons);
  resize(560, sizeHint().height());

  OwnDialog = std::make_unique<TQtFileDialog>(
      this, TQtFileDialog::TMode::Save, QStringLiteral("アニメーションを書き出す"),
      QStringLiteral("WebP アニメーション (*.webp);;GIF アニメーション (*.gif);;連番 PNG (*.png)"),
      QStringLiteral("webp"));
  FileDialog = OwnDialog.get();
  StartButton->setDefault(true);
  VariableBox->setFocus();
  connect(BrowseButton, &QPushButton::clicked, this, [this] { Browse(); });
  connect(StartButton, &QPushButton::clicked, this, [this] { Start(); });
  connect(StopButton, &QPushButton::clicked, this, [this] { Stop(); });
  connect(CloseButton, &QPushButton::clicked, this, [this] { close(); });
  connect(this, &TAnimateForm::Ended, this, [this] { Finish(); }, Qt::QueuedConnection);
  Ticker->setInterval(100);
  connect(Ticker, &QTimer::timeout, this, [this] {
    Progress->setValue(static_cast<int>(1000 * Done.load() / std::max(1LL, Total.load())));
  });
}

TAnimateForm::~TAnimateForm() {
  CancelFlag = true;
  if (Worker.joinable()) Worker.join();
}

void TAnimateForm::SetVariables(const std::vector<std::string> &names) {
  const QString chosen = VariableBox->currentText();
  VariableBox->clear();
  for (const std::string &name : names) VariableBox->addItem(Q(name));
  const int again = VariableBox->findText(chosen);
  if (again >= 0) VariableBox->setCurrentIndex(again);
}

void TAnimateForm::Browse() {
  std::string name = FileEdit->text().toStdString();
  if (!FileDialog->Execute(name)) return;
  FileEdit->setText(Q(WithFrameField(name)));
}

bool TAnimateForm::ReadSettings(TAnimation &a, std::string &why) {
  if (VariableBox->currentText().isEmpty()) {
    why = "定数式で代入される変数がありません．定数式に t = 0 のような行を書いてください．";
    return false;
  }
  a.Variable = VariableBox->currentText().toStdString();
  std::string problem;
  if (!ReadConstantValue(FromEdit->text().toStdString(), a.From, problem) ||
      !ReadConstantValue(ToEdit->text().toStdString(), a.To, problem)) {
    why = problem + "．";
    return false;
  }
  a.Frames = FramesSpin->value();
  a.IncludeEnd = IncludeEndCheck->isChecked();
  a.Carry = CarryCheck->isChecked();
  TAnimationFormat format;
  const std::string file = FileEdit->text().toStdString();
  if (file.empty()) {
    why = "書き出すファイルを指定してください．";
    return false;
  }
  if (!AnimationFormatFor(file, format, why)) return why += "．", false;
  return true;
}

void TAnimateForm::Start() {
  if (Running()) return;
  TAnimation animation;
  std::string why;
  Source = TAnimationSource();
  if (!ReadSettings(animation, why) || !TakeSource(Source, why)) {
    StatusLabel->setText(Q(why));
    return;
  }
  animation.Codes = Source.Codes;
  const std::string file = FileEdit->text().toStdString();
  Writer = MakeFrameWriter(file, Source.Picture.Width, Source.Picture.Height, FpsSpin->value(), &CancelFlag, why);
  Result = TAnimationResult();
  ErrorLines.clear();
  Failure.clear();
  CancelFlag = false;
  Done = 0;
  Total = 1;
  SetRunning(true);
  StatusLabel->setText(QStringLiteral("書き出しています..."));
  Worker = std::thread([this, animation] {
    const auto started = std::chrono::steady_clock::now();
    TAnimationControl control;
    control.Cancel = &CancelFlag;
    control.Progress = [this](int done, int frames, int columns, int width) {
      Total = static_cast<long long>(frames) * std::max(width, 1);
      Done = static_cast<long long>(done) * width + columns;
    };
    control.FrameErrors = [this](int frame, const TStringList &lines) {
      for (const std::string &line : lines)
        if (ErrorLines.size() < MaxErrorLines) ErrorLines.push_back(FramePrefix(frame) + line);
    };
    control.RandomState = &Source.RandomState;
    try {
      Result = PaintAnimation(*Source.Engine, Source.Constants, Source.Carpet, Source.Picture, animation, *Writer,
                              control);
    } catch (const std::bad_alloc &) {
      Failure = OutOfMemoryMessage;
    } catch (const std::exception &e) {
      Failure = e.what();
    }
    Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    emit Ended();
  });
}

void TAnimateForm::Stop() {
  if (Running()) CancelFlag = true;
}

void TAnimateForm::WaitForEnd() {
  if (!Running()) return;
  QEventLoop loop;
  connect(this, &TAnimateForm::Finished, &loop, &QEventLoop::quit);
  loop.exec();
}

void TAnimateForm::Finish() {
  if (!Worker.joinable()) return;
  Worker.join();
  Writer.reset();
  Source = TAnimationSource();
  SetRunning(false);
  QString said;
  if (!Failure.empty()) {
    said = Q(Failure);
  } else if (Result.Written) {
    Progress->setValue(1000);
    said = QStringLiteral("%1 フレームを書き出しました（%2 秒）．").arg(Result.FramesWritten).arg(Seconds, 0, 'f', 2);
  } else if (Result.Cancelled) {
    said = QStringLiteral("中止しました．");
    if (IsFramePattern(FileEdit->text().toStdString()) && Result.FramesWritten > 0)
      said += QStringLiteral("書き出し済みの %1 フレームのファイルは残っています．").arg(Result.FramesWritten);
  } else if (Result.FailedFrame >= 0) {
    said = QStringLiteral("フレーム %1 のエラーのため書き出せませんでした．").arg(Result.FailedFrame);
  } else {
    said = QStringLiteral("書き出せませんでした: %1").arg(Q(Result.WriteError));
  }
  StatusLabel->setText(said);
  if (!Result.Written) Progress->setValue(0);
  if (!ErrorLines.empty() && ShowErrors) ShowErrors(ErrorLines);
  emit Finished();
}

void TAnimateForm::SetRunning(bool running) {
  for (QWidget *w : std::initializer_list<QWidget *>{VariableBox, FromEdit, ToEdit, FramesSpin, FpsSpin,
                                                     IncludeEndCheck, CarryCheck, FileEdit, BrowseButton, StartButton})
    w->setEnabled(!running);
  StopButton->setEnabled(running);
  // Enter then stops, or starts again; never closes by surprise.
  if (running) {
    StopButton->setFocus();
    Ticker->start();
  } else {
    StartButton->setFocus();
    Ticker->stop();
  }
  emit RunningChanged(running);
}

void TAnimateForm::closeEvent(QCloseEvent *event) {
  // Closing while it writes stops the export: nothing is left half written.
  if (Running()) {
    Stop();
    WaitForEnd();
  }
  event->accept();
}

void TAnimateForm::reject() { close(); }

}  // namespace velmora
