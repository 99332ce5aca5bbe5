#pragma once
// The paint command without its window: compiles the constants and the carpet
// formulas, runs the carpet formulas for every pixel (column by column, or
// coarse to fine where that gives the same, paint/PassOrder.h) and produces
// the new picture and the lines of the error window. The desktop
// program and velmora-cli both paint through here.
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "engine/ArithmeticUnit.h"
#include "paint/Picture.h"

namespace velmora {

struct TPaintResult {
  bool Painted = false;    // the picture was replaced by the new one
  bool Cancelled = false;  // stopped on request; no error line says so
  int Threads = 0;         // how many threads computed pixels (0: none ran)
  // Operations of the carpet computed once per paint, column or row instead
  // of per pixel, or merged with an equal one within the pixel.
  int ReusedTerms = 0;
  bool InPasses = false;   // the pixels were computed coarse to fine
  TStringList ErrorLines;  // the error window's lines, in order; shown when not empty
};

// Called after each column with the number of columns done and the width
// (for a paint in passes: the pixels done, in columns' worth).
// With several painting threads it is called from any of them, one call at a
// time, with `done` rising.
using TPaintProgress = std::function<void(int done, int width)>;

struct TPaintControl {
  TPaintProgress Progress;
  // Checked before every pixel; when set the paint ends like a run-time
  // failure without an error line.
  const std::atomic<bool> *Cancel = nullptr;
  // Threads for a carpet whose pixels do not depend on each other: 0 one per
  // processor, 1 none besides the caller's.
  int Threads = 0;
  // Called once every formula has compiled, before the first pixel: a caller
  // may make the picture's pixels only now (a formula error then costs none).
  std::function<void()> Prepare;
  // Called from the painting thread that finished column `x` of the new
  // picture, before the progress call for it, with the column's colours from
  // top to bottom (valid during the call only).
  std::function<void(int x, const std::uint32_t *column)> ColumnPainted;
  // Called once the constants have run without an error, before the carpet
  // formulas compile: values set here are what the carpet sees (constants
  // given from outside the document, a frame's value of an animation).
  std::function<void(TArithmeticUnit &engine)> AfterConstants;
  // Column by column even where the pixels could come coarse to fine (what
  // the passes are compared with).
  bool ColumnOrder = false;
  // In place of ColumnPainted for a paint in passes: called from the painting
  // thread that finished pass `pass` in column `x`, for every column the pass
  // visits, with the colours of the rows PassRows(pass, x, height) gives, top
  // to bottom (valid during the call only).
  std::function<void(int pass, int x, const std::uint32_t *colours)> PassPainted;
};

// Paints `picture` in place. Compile errors stop before any pixel is computed
// and a run-time failure discards the new picture: in both cases `picture` is
// left exactly as it was. The engine's variables persist, as always.
//
// Painting on several threads, or coarse to fine, gives exactly what one
// thread going column by column gives: the same pixels, error lines and
// records left for the next report, and afterwards the same variable values
// (those the last pixel computed, in column order, wrote).
TPaintResult PaintCarpet(TArithmeticUnit &engine, const TStringList &constants, const TStringList &carpet,
                         TPicture &picture, const TPaintControl &control);
TPaintResult PaintCarpet(TArithmeticUnit &engine, const TStringList &constants, const TStringList &carpet,
                         TPicture &picture, const TPaintProgress &progress = {});

// The error window keeps at most this many math error lines.
constexpr std::size_t MaxMathErrorLines = 1000;

}  // namespace velmora
