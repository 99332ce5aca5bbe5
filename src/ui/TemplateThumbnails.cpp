#include "ui/TemplateThumbnails.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <chrono>
#include <exception>

#include "engine/ArithmeticUnit.h"
#include "engine/MathErrorManager.h"
#include "engine/Random.h"
#include "paint/CarpetPainter.h"
#include "paint/PictureImage.h"
#include "text/Cp932.h"
#include "text/LineList.h"

namespace velmora {

namespace {
// A template that takes longer than this is left without a picture.
constexpr auto PaintTimeLimit = std::chrono::seconds(10);
}  // namespace

TTemplateThumbnails::TTemplateThumbnails(QObject *parent) : QObject(parent) {}

TTemplateThumbnails::~TTemplateThumbnails() { Stop(); }

void TTemplateThumbnails::Stop() {
  if (!Thread.joinable()) return;
  CancelFlag = true;
  PaintStop = true;
  Thread.join();
}

QString TTemplateThumbnails::CacheFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/thumbnails");
}

QString TTemplateThumbnails::KeyOf(const QByteArray &bytes) {
  return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

void TTemplateThumbnails::Request(std::vector<std::pair<QString, std::string>> templates) {
  Stop();
  CancelFlag = false;
  Done = false;
  Thread = std::thread([this, templates = std::move(templates)] {
    Work(templates);
    Done = true;
    emit Finished();
  });
}

void TTemplateThumbnails::Work(const std::vector<std::pair<QString, std::string>> &templates) {
  const QString folder = CacheFolder();
  QDir().mkpath(folder);
  for (const auto &[name, path] : templates) {
    if (CancelFlag) return;
    std::string bytes, error;
    if (!text::ReadFileBytes(path, bytes, error)) continue;
    const QString key = KeyOf(QByteArray::fromStdString(bytes));
    const QString file = folder + QLatin1Char('/') + key + QStringLiteral(".png");
    QImage thumbnail(file, "PNG");
    if (thumbnail.isNull()) {
      {
        const std::lock_guard<std::mutex> hold(FailedLock);
        if (Failed.count(key)) continue;
      }
      thumbnail = Paint(bytes);
      if (thumbnail.isNull()) {
        if (!CancelFlag) {
          const std::lock_guard<std::mutex> hold(FailedLock);
          Failed.insert(key);
        }
        continue;
      }
      // Written whole or not at all; a cache that cannot be written only
      // means painting again next time.
      QSaveFile out(file);
      if (out.open(QIODevice::WriteOnly) && thumbnail.save(&out, "PNG")) out.commit();
      else out.cancelWriting();
    }
    emit Ready(name, thumbnail);
  }
}

QImage TTemplateThumbnails::Paint(const std::string &bytes) {
  try {
    std::string utf8;
    text::Cp932ToUtf8(bytes, utf8);
    const TStringList carpet = text::SplitLines(utf8);
    // Records and random numbers of this paint stay on this thread.
    TMathErrorManager records;
    TThreadMathErrors ownRecords(records);
    TRandomGenerator generator;
    TThreadRandomGenerator ownGenerator(generator);
    TArithmeticUnit engine;
    TPicture picture = TPicture::Filled(PaintWidth, PaintHeight, White);
    PaintStop = CancelFlag.load();
    const auto deadline = std::chrono::steady_clock::now() + PaintTimeLimit;
    TPaintControl control;
    control.Threads = 1;  // the window's paint may want every processor
    control.Cancel = &PaintStop;  // checked at every pixel, so hiding the picker never waits long
    control.Progress = [&](int, int) {
      if (CancelFlag || std::chrono::steady_clock::now() > deadline) PaintStop = true;
    };
    const TPaintResult result = PaintCarpet(engine, {}, carpet, picture, control);
    if (!result.Painted) return {};
    PainterThread = std::this_thread::get_id();
    ++PaintedCount;
    return ToQImage(picture).scaled(Width, Height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  } catch (const std::exception &) {
    return {};  // out of memory or the like: no picture, no box
  }
}

}  // namespace velmora
