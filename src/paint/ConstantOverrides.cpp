#include "paint/ConstantOverrides.h"

#include <algorithm>
#include <cmath>

#include "formula/QDString.h"

namespace velmora {

namespace {

bool IsAssignment(const std::string &token) {
  return token == "=" || token == "*=" || token == "/=" || token == "+=" || token == "-=" || token == "++" ||
         token == "--";
}

// A variable's name as the scanner gives it: not a number, a string or a sign.
bool IsName(const std::string &token) {
  if (token.empty()) return false;
  const unsigned char c = static_cast<unsigned char>(token[0]);
  return c >= 0x80 || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

bool ReadConstantValue(const std::string &text, long double &value, std::string &error) {
  TQDString scanner;
  scanner.Text = text;
  const bool scanned = scanner.Tokenize();
  const TStringList &tokens = *scanner.Tokens;
  const bool signed_ = !tokens.empty() && (tokens[0] == "-" || tokens[0] == "+");
  const std::size_t digits = signed_ ? 1 : 0;
  if (!scanned || tokens.size() != digits + 1 || !scanner.IsNumberToken(static_cast<int>(digits))) {
    error = "'" + text + "' は数値ではありません";
    return false;
  }
  // The engine reads it, so that the value is the one a constants line gets.
  TArithmeticUnit engine;
  if (!engine.SetExpression(0, text) || !engine.Calculate(0, value) || !std::isfinite(value)) {
    error = "'" + text + "' は数値として扱えません";
    return false;
  }
  return true;
}

bool ParseConstantOverride(const std::string &text, TConstantOverride &override, std::string &error) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos) {
    error = "'" + text + "': NAME=VALUE の形で指定してください";
    return false;
  }
  TQDString scanner;
  scanner.Text = text.substr(0, equals);
  if (!scanner.Tokenize() || scanner.Tokens->size() != 1 || !IsName(scanner.Tokens->front())) {
    error = "'" + text + "': '" + scanner.Text + "' は変数名ではありません";
    return false;
  }
  override.Name = scanner.Tokens->front();
  std::string problem;
  if (!ReadConstantValue(text.substr(equals + 1), override.Value, problem)) {
    error = "'" + text + "': " + problem;
    return false;
  }
  return true;
}

std::vector<std::string> AssignedVariables(const TStringList &constants) {
  std::vector<std::string> names;
  TQDString scanner;
  for (const std::string &line : constants) {
    scanner.Text = line;
    scanner.Tokenize();
    const TStringList &tokens = *scanner.Tokens;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      if (!IsName(tokens[i])) continue;
      // Before an assignment, or after a prefix ++/-- that is not itself a
      // postfix one of the name before it (a++ b is no formula anyway).
      const bool assigned = (i + 1 < tokens.size() && IsAssignment(tokens[i + 1])) ||
                            (i > 0 && (tokens[i - 1] == "++" || tokens[i - 1] == "--"));
      if (assigned && std::find(names.begin(), names.end(), tokens[i]) == names.end()) names.push_back(tokens[i]);
    }
  }
  return names;
}

bool CheckConstantOverrides(const TConstantOverrides &overrides, const TStringList &constants, std::string &error) {
  if (overrides.empty()) return true;
  const std::vector<std::string> assigned = AssignedVariables(constants);
  for (const TConstantOverride &o : overrides) {
    if (std::find(assigned.begin(), assigned.end(), o.Name) != assigned.end()) continue;
    error = "変数 '" + o.Name + "' はどの定数式でも代入されていません";
    if (assigned.empty()) {
      error += "（定数式で代入される変数がありません）";
    } else {
      error += "（代入される変数:";
      for (const std::string &name : assigned) error += " " + name;
      error += "）";
    }
    return false;
  }
  return true;
}

void ApplyConstantOverrides(TArithmeticUnit &engine, const TConstantOverrides &overrides) {
  for (const TConstantOverride &o : overrides) *engine.GetVariablePointer(o.Name, true) = o.Value;
}

}  // namespace velmora
