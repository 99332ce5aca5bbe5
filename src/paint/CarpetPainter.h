#pragma once
// The paint command without its window: compiles the constants and the carpet
// formulas, runs the carpet formulas for every pixel (column by column) and
// produces the new picture and the lines of the error window. The desktop
// program and velmora-cli both paint through here.
#include <functional>
#include <string>
#include <vector>

#include "engine/ArithmeticUnit.h"
#include "paint/Picture.h"

namespace velmora {

struct TPaintResult {
  bool Painted = false;    // the picture was replaced by the new one
  TStringList ErrorLines;  // the error window's lines, in order; shown when not empty
};

// Called after each column with the number of columns done and the width.
using TPaintProgress = std::function<void(int done, int width)>;

// Paints `picture` in place. Compile errors stop before any pixel is computed
// and a run-time failure discards the new picture: in both cases `picture` is
// left exactly as it was. The engine's variables persist, as always.
TPaintResult PaintCarpet(TArithmeticUnit &engine, const TStringList &constants, const TStringList &carpet,
                         TPicture &picture, const TPaintProgress &progress = {});

// The error window keeps at most this many math error lines.
constexpr std::size_t MaxMathErrorLines = 1000;

}  // namespace velmora
