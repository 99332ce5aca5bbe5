// One formula line: scan, compile, translate, run once in each math error mode.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/ArithmeticUnit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string line(reinterpret_cast<const char *>(data), size);
  static velmora::TArithmeticUnit engine;  // variables carry over, as in the program
  velmora::TQDString scanner;
  scanner.Text = line;
  scanner.Tokenize();
  for (bool mode : {false, true}) {
    engine.MathErrorMode = mode;
    long double value;
    if (engine.SetExpression(0, line)) engine.Calculate(0, value);
  }
  velmora::TStringList report;
  engine.GetMathErrors(report);
  if (engine.VariableCount > 5000) engine.ClearVariables();
  return 0;
}
