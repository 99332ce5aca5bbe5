// Build-time tool: the program's icon in the usual sizes, cut from the about
// picture (the "V" of its title on the colour bands, corners rounded).
//   velmora_make_icons about.png OUTPUT_FOLDER SIZE...
// writes OUTPUT_FOLDER/SIZExSIZE/apps/velmora.png for each size.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
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
  // The "V" of "Velmora 2" with a margin of the background around it (the
  // picture is 400 x 400; the part scales with it).
  const double unit = about.width() / 400.0;
  const QImage part = about.copy(QRectF(18 * unit, 132 * unit, 96 * unit, 96 * unit).toRect());
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
    painter.drawImage(QRectF(0, 0, size, size), part);
    painter.end();
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
    if (!QDir().mkpath(folder) || !icon.save(folder + QStringLiteral("/velmora.png"), "PNG")) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(folder));
      return 2;
    }
  }
  return 0;
}
