// One formula line: scan, compile, translate, run once in each math error mode;
// and its parts for colouring, which must lie inside the line, in order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text/Utf8.h"

#include "engine/ArithmeticUnit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string line(reinterpret_cast<const char *>(data), size);
  static velmora::TArithmeticUnit engine;  // variables carry over, as in the program
  velmora::TQDString scanner;
  scanner.Text = line;
  scanner.Tokenize();
  const std::size_t characters = velmora::text::DecodeUtf8(line).size();
  std::size_t end = 0;
  for (const velmora::TQDString::TPart &part : scanner.Parts()) {
    if (part.Length == 0 || part.Begin < end || part.Begin + part.Length > characters) std::abort();
    end = part.Begin + part.Length;
  }
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
