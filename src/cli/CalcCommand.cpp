#include "cli/CalcCommand.h"

#include <unistd.h>

#include <new>

#include "cli/Output.h"
#include "engine/ArithmeticUnit.h"
#include "engine/Disassembler.h"
#include "text/FloatFormat.h"
#include "text/LineList.h"

namespace velmora::cli {

const char *const CalcUsage =
    "usage: velmora-cli calc [--math-errors] [--dump=tokens|intercode|steps] [FILE]\n"
    "  Evaluates each line of FILE (UTF-8; standard input when FILE is absent or \"-\")\n"
    "  as a constant formula in one engine, printing its value or its error.\n"
    "  --dump=steps prints the instructions each line runs: opcode, operands (w<k> work\n"
    "  register, v:<name> variable, a number) and flags (acc1/acc2: operand 1/2 is the\n"
    "  previous result, held in the register; nostore: the result is not stored).\n";

namespace {

void PutLine(std::FILE *out, const std::string &line) {
  std::fwrite(line.data(), 1, line.size(), out);
  std::fputc('\n', out);
}

// Standard input takes the same limit as a file; false with the reason.
bool ReadAll(std::FILE *in, std::string &bytes, std::string &error) {
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
    if (bytes.size() + n > text::MaxTextFileBytes) {
      error = "standard input is too large (over " + std::to_string(text::MaxTextFileBytes) + " bytes)";
      return false;
    }
    bytes.append(buffer, n);
  }
  if (std::ferror(in)) error = "cannot read standard input";
  return !std::ferror(in);
}

}  // namespace

int RunCalc(const std::vector<std::string> &args, std::FILE *out, std::FILE *err) {
  if (WantsHelp(args)) return PrintHelp(CalcUsage, out, err, "calc");
  bool mathErrors = false;
  bool dumpTokens = false, dumpIntercode = false, dumpSteps = false;
  std::string file;
  bool haveFile = false;
  for (const std::string &a : args) {
    if (a == "--math-errors") {
      mathErrors = true;
    } else if (a == "--dump=tokens") {
      dumpTokens = true;
    } else if (a == "--dump=intercode") {
      dumpIntercode = true;
    } else if (a == "--dump=steps") {
      dumpSteps = true;
    } else if ((a.size() > 1 && a[0] == '-' && a != "-") || haveFile) {
      std::fprintf(err, "velmora-cli calc: unexpected argument '%s'\n%s", a.c_str(), CalcUsage);
      return 2;
    } else {
      file = a;
      haveFile = true;
    }
  }

  std::string bytes, error;
  if (!haveFile || file == "-") {
    if (!ReadAll(stdin, bytes, error)) {
      std::fprintf(err, "velmora-cli calc: %s\n", error.c_str());
      return 2;
    }
  } else if (!text::ReadFileBytes(file, bytes, error)) {
    std::fprintf(err, "velmora-cli calc: %s\n", error.c_str());
    return 2;
  }

  TArithmeticUnit engine;
  engine.MathErrorMode = mathErrors;
  engine.KeepIntercode = dumpIntercode;
  TQDString scanner;
  bool anyError = false;
  const std::vector<std::string> lines = text::SplitLines(bytes);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string prefix = "定数式(" + std::to_string(i + 1) + "行目): ";
    scanner.Text = lines[i];
    const bool scanned = scanner.Tokenize();
    const bool hasTokens = !scanner.Tokens->empty();
    if (dumpTokens && hasTokens) {
      std::string dump;
      for (const std::string &t : *scanner.Tokens) dump += "\u2039" + t + "\u203A";
      PutLine(out, dump);
    }
    if (!scanned) {
      if (scanner.OutOfMemory) throw std::bad_alloc();
      PutLine(out, prefix + scanner.ErrorMessage);
      anyError = true;
    }
    if (!hasTokens) continue;
    TStringList().swap(*scanner.Tokens);  // the engine scans the line again; a long one is not held twice

    const bool compiled = engine.SetExpression(0, lines[i]);
    if (dumpIntercode) {
      for (int k = 0; k < engine.Intercode.GetCount(); ++k) {
        const TQDIntercode c = engine.Intercode.Get(k);
        PutLine(out, std::to_string(k) + "\t" + std::to_string(c.Code) + "\t" + std::to_string(c.ArgCount) +
                         "\t" + c.Operand1 + "\t" + c.Operand2 + "\t" + c.Operand3);
      }
    }
    if (dumpSteps && compiled) {
      for (const std::string &line : DisassembleSteps(engine, 0)) PutLine(out, line);
    }
    long double value = 0;
    if (!compiled || !engine.Calculate(0, value)) {
      if (engine.OutOfMemory) throw std::bad_alloc();  // never a value, never a formula message
      PutLine(out, prefix + engine.ErrorMessage);
      anyError = true;
      continue;
    }
    PutLine(out, text::FormatGeneral(value));
    if (mathErrors) {
      TStringList report;
      engine.GetMathErrors(report);
      for (const std::string &line : report) PutLine(out, line);
    }
  }
  TOutputCheck output;
  output.Flush(out);
  if (output.Failed) return output.Report(err, "calc");
  return anyError ? 1 : 0;
}

}  // namespace velmora::cli
