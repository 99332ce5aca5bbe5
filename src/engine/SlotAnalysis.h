#pragma once
// Whether the slots' pixels depend on each other (for painting on several
// threads and for reusing terms).
#include <cstdint>
#include <vector>

#include "engine/ArithmeticUnit.h"

namespace velmora {

// Whether running slots 0 .. count-1 of `engine` once per pixel gives each
// pixel a result of its own, whatever ran before: no slot draws random
// numbers, and every variable the slots write is written, in slot order,
// before any slot reads it. Variables in `preset` count as written before the
// first slot.
bool SlotsIndependent(const TArithmeticUnit &engine, int count, const std::vector<std::int32_t> &preset);

}  // namespace velmora
