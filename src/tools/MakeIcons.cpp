// Build-time tool: the program's icon in the usual sizes, cut from the about
// picture (the "V" of its title on its colour bands, corners rounded).
//   velmora_make_icons about.png OUTPUT_FOLDER SIZE...
// writes OUTPUT_FOLDER/SIZExSIZE/apps/velmora.png for each size.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s ABOUT.png OUTPUT_FOLDER SIZE...\n", argv[0]);
    return 2;
  }
  const QImage about(QString::fromLocal8Bit(argv[1]));
  if (about.isNull()) {
    std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
    return 2;
  }
  // The "V" of "Velmora 2" on the colour bands beside it (the picture is
  // 400 x 400; the parts scale with it). The bands run across the picture, so
  // the strip left of the "V", stretched, is the same background.
  const double unit = about.width() / 400.0;
  QImage letter = about.copy(QRectF(30 * unit, 150 * unit, 50 * unit, 62 * unit).toRect())
                     .convertToFormat(QImage::Format_ARGB32);
  // Lift the letter (and its soft shadow) off its own background: the darker
  // a pixel, the more opaque, all in the letter's colour.
  QRgb ink = qRgb(255, 255, 255);
  for (int y = 0; y < letter.height(); ++y)
    for (int x = 0; x < letter.width(); ++x)
      if (qGray(letter.pixel(x, y)) < qGray(ink)) ink = letter.pixel(x, y);
  const int dark = qGray(ink);
  for (int y = 0; y < letter.height(); ++y) {
    // The background of this row, from the left edge (left of the letter).
    const int paper = qGray(letter.pixel(0, y)) - 4;
    for (int x = 0; x < letter.width(); ++x) {
      const int alpha = std::clamp((paper - qGray(letter.pixel(x, y))) * 255 / std::max(1, paper - dark), 0, 255);
      letter.setPixel(x, y, qRgba(qRed(ink), qGreen(ink), qBlue(ink), alpha));
    }
  }
  const QImage bands = about.copy(QRectF(0, 150 * unit - 24 * unit, 30 * unit, 62 * unit + 48 * unit).toRect());
  for (int i = 3; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size < 8 || size > 1024) {
      std::fprintf(stderr, "%s: bad size %s\n", argv[0], argv[i]);
      return 2;
    }
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(0, 0, size, size), size * 0.18, size * 0.18);
    painter.setClipPath(rounded);
    painter.drawImage(QRectF(0, 0, size, size), bands);
    // 62 source rows of letter in 110 of background: the same scale for both.
    const double scale = size / 110.0;
    painter.drawImage(QRectF((size - 50 * scale) / 2, 24 * scale, 50 * scale, 62 * scale), letter);
    painter.end();
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
    if (!QDir().mkpath(folder) || !icon.save(folder + QStringLiteral("/velmora.png"), "PNG")) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(folder));
      return 2;
    }
  }
  return 0;
}
