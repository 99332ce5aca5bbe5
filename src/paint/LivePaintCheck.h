#pragma once
// Whether the formulas may be painted automatically while they are typed: only
// when painting them gives exactly what the paint command gives at that
// moment and leaves nothing behind that a later paint reads. Otherwise the
// reason, as one short line for the status bar.
#include <string>

#include "formula/QDString.h"

namespace velmora {

struct TLivePaintVerdict {
  enum TKind {
    Paint,            // paint (also when a formula has an error: the paint reports it)
    ReadsOldPicture,  // the carpet reads getr, getg or getb
    UsesRandom,       // random or randomize, in the constants or the carpet
    PixelsDepend,     // a pixel reads what the pixel before it wrote
    ConstantsCarryOn  // the constants read a variable before they write it
  } Kind = Paint;
  std::string Reason;  // "" for Paint
};

// Judges the two memos' lines. The answer depends on the formulas only: they
// are compiled into an engine of its own, and nothing else is touched.
TLivePaintVerdict CheckLivePaint(const TStringList &constants, const TStringList &carpet);

}  // namespace velmora
