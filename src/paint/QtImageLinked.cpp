// The toolkit's codecs linked in (the desktop program, the tests).
#include "paint/QtImageCodec.h"

namespace velmora {

const TQtImageCodec *QtImageCodec(std::string &) { return &ToolkitImageCodec(); }

}  // namespace velmora
