#pragma once
// A picture as the toolkit's image, for showing it and for the toolkit's
// picture writers. Pixels keep red in the low byte; the toolkit wants 0xffRRGGBB.
#include <QImage>

#include "paint/Picture.h"

namespace velmora {

inline QRgb ToQRgb(std::uint32_t colour) { return qRgb(RedOf(colour), GreenOf(colour), BlueOf(colour)); }

// The whole picture as a 32-bit image.
QImage ToQImage(const TPicture &picture);

}  // namespace velmora
