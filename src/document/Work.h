#pragma once
// The user's work as a document stores it: the constants, the carpet formulas
// and the picture size.
#include "document/VOKT.h"

namespace velmora {

struct TWork {
  TStringList Constants;  // the header section
  TStringList Carpet;     // the loop section
  long double Width = 400;
  long double Height = 400;
};

// Takes the work out of a document that was just read. Shows the warnings the
// desktop program shows (a document of another program, a missing size) and
// gives false when the document was not a complete one of ours; the work is
// filled all the same, with 400 for a missing size.
bool TakeWork(TVOKT &document, TWork &work);
// The same in two steps, for a caller that shows the formulas before the
// warnings: the formula blocks, then the name and size checks.
void TakeFormulas(const TVOKT &document, TWork &work);
bool TakeChecks(TVOKT &document, TWork &work);

// Puts the work into the document for writing (the document is cleared first).
bool PutWork(TVOKT &document, const TWork &work);

constexpr const char *AppName = "Velmora 2";

}  // namespace velmora
