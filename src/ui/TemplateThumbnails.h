#pragma once
// TTemplateThumbnails: the small pictures of the template picker. Each is
// painted on a thread of its own (its own engine, math error records and
// random generator, so nothing of the main window's paint moves) and kept in
// the user's cache folder under a hash of the template file's bytes: an
// edited template gets a new picture, an unchanged one is painted once.
#include <QImage>
#include <QObject>
#include <QString>
#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace velmora {

class TTemplateThumbnails : public QObject {
  Q_OBJECT
 public:
  static constexpr int Width = 64, Height = 48;
  // Templates are painted at this size and then made small, so that those
  // drawn for the usual picture size look as they will.
  static constexpr int PaintWidth = 400, PaintHeight = 300;

  explicit TTemplateThumbnails(QObject *parent = nullptr);
  ~TTemplateThumbnails() override;

  // (name, file) of each template: the pictures of these come, one by one,
  // through Ready. A request replaces the one before.
  void Request(std::vector<std::pair<QString, std::string>> templates);
  void Stop();
  bool Working() const { return Thread.joinable() && !Done; }

  // Where the pictures are kept, and the name a template's bytes give.
  static QString CacheFolder();
  static QString KeyOf(const QByteArray &bytes);

  // What the tests look at: pictures painted (not taken from the cache) and
  // the thread that painted the last one.
  std::atomic<int> PaintedCount{0};
  std::thread::id PainterThread;

 signals:
  void Ready(const QString &name, const QImage &thumbnail);
  // The request has been worked through.
  void Finished();

 private:
  std::thread Thread;
  std::atomic<bool> CancelFlag{false};
  std::atomic<bool> PaintStop{false};  // the running paint: cancelled, or out of time
  std::atomic<bool> Done{true};
  std::mutex FailedLock;
  std::set<QString> Failed;  // keys that did not paint, not tried again this run
  void Work(const std::vector<std::pair<QString, std::string>> &templates);
  QImage Paint(const std::string &bytes);
};

}  // namespace velmora
