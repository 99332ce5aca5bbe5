#pragma once
// What actually runs: a slot's executable instructions as the executor sees
// them, one line each, for looking at faults of the fast paths
// (velmora-cli calc --dump=steps).
#include "engine/ArithmeticUnit.h"

namespace velmora {

// The lines for slot `index`: first "steps N machine-code|interpreter", then
// per instruction "ip<TAB>name<TAB>operands<TAB>flags". An operand is w<k> (work
// register k), v:<name> (a variable) or a number (an immediate); the flags
// are acc1 (operand 1, or 0 where it is read, is the previous result, held in
// the register), acc2 (operand 2 is) and nostore (the result is not stored).
// Prepares the slot's steps when it has not run yet. Empty for a slot without code.
TStringList DisassembleSteps(TArithmeticUnit &engine, int index);

}  // namespace velmora
