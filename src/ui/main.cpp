// Velmora 2: the desktop program.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "document/MessageBoxes.h"
#include "text/AllocationFailed.h"
#include "text/LineList.h"
#include "ui/Language.h"
#include "ui/MainUnit.h"
#include "ui/Windows.h"

namespace {

// An error escaping an event handler is shown in the standard box and the
// program goes on.
class TApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject *receiver, QEvent *event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const velmora::TReportedFailure &) {
    } catch (const std::bad_alloc &) {
      QMessageBox::critical(activeWindow(), QStringLiteral("Velmora 2"), QString::fromUtf8(velmora::OutOfMemoryMessage));
    } catch (const std::exception &e) {
      QMessageBox::critical(activeWindow(), QStringLiteral("Velmora 2"), QString::fromStdString(e.what()));
    }
    return false;
  }
};

}  // namespace

int main(int argc, char **argv) {
  // Answered before the toolkit starts: no display needed.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::fputs("velmora " VELMORA_VERSION "\n", stdout);
    return 0;
  }
  velmora::text::CleanUpOnSignals();
  velmora::PrepareJapaneseLocale();
  TApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("Velmora 2"));
  if (!velmora::UseJapanese())
    std::fprintf(stderr, "velmora: Qt の日本語訳 (qtbase_ja.qm) が見つかりません．ダイアログは英語で表示されます．\n");
  try {
    velmora::CreateWindows();
    velmora::MainForm->show();
    // "velmora FILE": a document, or a picture, opened once the window is up.
    const QStringList arguments = app.arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
      if (arguments[i].startsWith(QLatin1Char('-'))) continue;
      QMetaObject::invokeMethod(velmora::MainForm, [path = arguments[i]] { velmora::MainForm->OpenPath(path); },
                                Qt::QueuedConnection);
      break;
    }
    app.exec();
    velmora::DestroyWindows();
  } catch (const std::exception &e) {
    QMessageBox::critical(nullptr, QStringLiteral("Velmora 2"), QString::fromStdString(e.what()));
  }
  return 0;
}
