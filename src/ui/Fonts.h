#pragma once
#include <QFont>

namespace velmora {

// A fixed-pitch font that shows Japanese (IPAGothic when installed), at a pixel size.
inline QFont FixedFont(int pixels) {
  QFont font(QStringLiteral("IPAGothic"));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(pixels);
  return font;
}

}  // namespace velmora
