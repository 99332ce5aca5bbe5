#include "paint/Recipe.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "engine/Random.h"
#include "paint/QtImageCodec.h"
#include "text/Utf8.h"

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "unknown"
#endif

namespace velmora {

namespace {

constexpr const char *Magic = "velmora-recipe 1";
const char HexDigits[] = "0123456789abcdef";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Hex(std::uint64_t v, int digits) {
  std::string s(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, v >>= 4) s[static_cast<std::size_t>(i)] = HexDigits[v & 15];
  return s;
}

bool ParseHex(const std::string &s, std::size_t digits, std::uint64_t &v) {
  if (s.size() != digits || digits > 16) return false;
  v = 0;
  for (char c : s) {
    const int d = HexValue(c);
    if (d < 0) return false;
    v = v << 4 | static_cast<unsigned>(d);
  }
  return true;
}

// The 80 bits of a long double: sign and exponent, then the 64-bit mantissa.
std::string ValueHex(long double value) {
  unsigned char bytes[sizeof(long double)] = {};
  std::memcpy(bytes, &value, sizeof value);
  std::uint64_t mantissa = 0;
  std::uint16_t exponent = 0;
  std::memcpy(&mantissa, bytes, 8);
  std::memcpy(&exponent, bytes + 8, 2);
  return Hex(exponent, 4) + Hex(mantissa, 16);
}

bool ParseValue(const std::string &s, long double &value) {
  std::uint64_t exponent = 0, mantissa = 0;
  if (s.size() != 20 || !ParseHex(s.substr(0, 4), 4, exponent) || !ParseHex(s.substr(4), 16, mantissa)) return false;
  unsigned char bytes[sizeof(long double)] = {};
  const auto e = static_cast<std::uint16_t>(exponent);
  std::memcpy(bytes, &mantissa, 8);
  std::memcpy(bytes + 8, &e, 2);
  std::memcpy(&value, bytes, sizeof value);
  return true;
}

// A formula line on one recipe line: the backslash, control characters and
// bytes that are not UTF-8 are written \xHH, so every byte comes back.
std::string EscapeLine(const std::string &line) {
  std::string out;
  for (char32_t c : text::DecodeUtf8(line)) {
    unsigned byte = 0;
    if (text::IsEscapedByte(c)) byte = static_cast<unsigned>(c - text::EscapedByteBase);
    else if (c < 0x20 || c == 0x7F || c == '\\') byte = static_cast<unsigned>(c);
    else {
      text::AppendUtf8(out, c);
      continue;
    }
    out += "\\x";
    out += HexDigits[byte >> 4];
    out += HexDigits[byte & 15];
  }
  return out;
}

bool UnescapeLine(const std::string &s, std::string &line) {
  if (!text::IsValidUtf8(s)) return false;
  line.clear();
  for (std::size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == 0x7F) return false;
    if (c != '\\') {
      line += s[i];
      continue;
    }
    if (i + 3 >= s.size() || s[i + 1] != 'x') return false;
    const int hi = HexValue(s[i + 2]), lo = HexValue(s[i + 3]);
    if (hi < 0 || lo < 0) return false;
    line += static_cast<char>(hi << 4 | lo);
    i += 3;
  }
  return true;
}

bool ValidName(const std::string &name) {
  if (name.empty() || name.size() > 1024 || !text::IsValidUtf8(name)) return false;
  for (char c : name)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return false;
  return true;
}

void PutVariables(std::string &out, const char *tag, const std::vector<TRecipeVariable> &variables) {
  out += std::string(tag) + " " + std::to_string(variables.size()) + "\n";
  for (const TRecipeVariable &v : variables) out += ValueHex(v.Value) + " " + v.Name + "\n";
}

void PutLines(std::string &out, const char *tag, const TStringList &lines) {
  out += std::string(tag) + " " + std::to_string(lines.size()) + "\n";
  for (const std::string &line : lines) out += EscapeLine(line) + "\n";
}

// Reads the recipe's lines in their one order: a field missing, repeated or
// out of place is a damaged recipe.
class TReader {
 public:
  explicit TReader(const std::string &text) {
    std::size_t at = 0;
    while (at < text.size()) {
      const std::size_t end = text.find('\n', at);
      if (end == std::string::npos) {
        Lines.push_back(text.substr(at));
        break;
      }
      Lines.push_back(text.substr(at, end - at));
      at = end + 1;
    }
  }
  std::string Problem;

  bool Fail(const std::string &what) {
    if (Problem.empty()) Problem = std::to_string(Next) + " 行目: " + what;
    return false;
  }
  bool Peek(const std::string &prefix) const { return Next < Lines.size() && Lines[Next].rfind(prefix, 0) == 0; }
  bool Line(std::string &line) {
    if (Next >= Lines.size()) return Fail("レシピが途中で終わっています");
    line = Lines[Next++];
    return true;
  }
  // "tag value": the value.
  bool Field(const char *tag, std::string &value) {
    std::string line;
    if (!Line(line)) return false;
    const std::string prefix = std::string(tag) + " ";
    if (line.rfind(prefix, 0) != 0) return Fail(std::string("「") + tag + "」がありません");
    value = line.substr(prefix.size());
    return true;
  }
  bool Count(const char *tag, long long max, long long &n) {
    std::string v;
    if (!Field(tag, v)) return false;
    if (v.empty() || v.size() > 9 || v.find_first_not_of("0123456789") != std::string::npos)
      return Fail(std::string("「") + tag + "」の数が正しくありません");
    n = std::stoll(v);
    if (n > max) return Fail(std::string("「") + tag + "」の数が大きすぎます");
    return true;
  }
  // A count of lines that follow: never more than there are.
  bool LineCount(const char *tag, long long max, long long &n) {
    if (!Count(tag, max, n)) return false;
    if (static_cast<std::size_t>(n) > Lines.size() - Next) return Fail("レシピが途中で終わっています");
    return true;
  }
  bool Variables(const char *tag, std::vector<TRecipeVariable> &out) {
    long long n = 0;
    if (!LineCount(tag, MaxRecipeVariables, n)) return false;
    std::vector<std::string> names;
    out.reserve(static_cast<std::size_t>(n));
    for (long long i = 0; i < n; ++i) {
      std::string line;
      Line(line);
      TRecipeVariable v;
      if (line.size() < 22 || line[20] != ' ' || !ParseValue(line.substr(0, 20), v.Value))
        return Fail("変数の値が正しくありません");
      v.Name = line.substr(21);
      if (!ValidName(v.Name)) return Fail("変数の名前が正しくありません");
      out.push_back(std::move(v));
    }
    return true;
  }
  bool Text(const char *tag, TStringList &out) {
    long long n = 0;
    if (!LineCount(tag, MaxRecipeBytes, n)) return false;
    for (long long i = 0; i < n; ++i) {
      std::string line, text;
      Line(line);
      if (!UnescapeLine(line, text)) return Fail("数式の行が正しくありません");
      out.push_back(std::move(text));
    }
    return true;
  }
  bool Codes(text::TCp932Codes &codes) {
    long long n = 0;
    if (!LineCount("codes", MaxRecipeVariables, n)) return false;
    for (long long i = 0; i < n; ++i) {
      std::string line;
      Line(line);
      std::uint64_t c = 0;
      const std::size_t space = line.find(' ');
      if (space == std::string::npos || space == 0 || space > 6 || !ParseHex(line.substr(0, space), space, c) ||
          c > 0x10FFFF || codes.Read.count(static_cast<char32_t>(c)))
        return Fail("文字コードの記録が正しくありません");
      std::vector<std::uint16_t> &list = codes.Read[static_cast<char32_t>(c)];
      for (std::size_t at = space; at < line.size(); at += 5) {
        std::uint64_t code = 0;
        if (line[at] != ' ' || !ParseHex(line.substr(at + 1, 4), 4, code)) return Fail("文字コードの記録が正しくありません");
        list.push_back(static_cast<std::uint16_t>(code));
      }
    }
    return true;
  }
  bool End() {
    std::string line;
    if (!Line(line)) return false;
    if (line != "end") return Fail("「end」がありません");
    for (std::size_t i = Next; i < Lines.size(); ++i)
      if (!Lines[i].empty()) return Fail("「end」の後に余計な行があります");
    return true;
  }

 private:
  std::vector<std::string> Lines;
  std::size_t Next = 0;
};

bool ParseHash(TReader &in, const char *tag, bool whiteAllowed, std::string &hash) {
  std::string v;
  if (!in.Field(tag, v)) return false;
  if (whiteAllowed && v == "white") {
    hash.clear();
    return true;
  }
  std::uint64_t ignored = 0;
  if (v.size() != 64) return in.Fail("ハッシュ値が正しくありません");
  for (std::size_t i = 0; i < 64; i += 16)
    if (!ParseHex(v.substr(i, 16), 16, ignored)) return in.Fail("ハッシュ値が正しくありません");
  hash = v;
  return true;
}

bool ParseHead(TReader &in, TRecipe &r) {
  std::string line, size, random;
  if (!in.Line(line)) return false;
  if (line != Magic) return in.Fail("このプログラムのレシピではありません");
  if (!in.Field("version", r.Version)) return false;
  if (r.Version.empty() || r.Version.size() > 64 || !ValidName(r.Version)) return in.Fail("版が正しくありません");
  if (!in.Field("size", size)) return false;
  const std::size_t space = size.find(' ');
  long long w = -1, h = -1;
  const std::string ws = size.substr(0, space == std::string::npos ? 0 : space);
  const std::string hs = space == std::string::npos ? "" : size.substr(space + 1);
  for (const std::string *s : {&ws, &hs})
    if (s->empty() || s->size() > 9 || s->find_first_not_of("0123456789") != std::string::npos)
      return in.Fail("絵の大きさが正しくありません");
  w = std::stoll(ws);
  h = std::stoll(hs);
  std::string error;
  if (!CheckPictureSize(w, h, error)) return in.Fail(error);
  r.Width = static_cast<int>(w);
  r.Height = static_cast<int>(h);
  if (!in.Field("random", random)) return false;
  if (!ParseHex(random, 16, r.RandomState)) return in.Fail("乱数の状態が正しくありません");
  if (!in.Count("repeats", MaxRecipeRepeats, r.Repeats)) return false;
  if (r.Repeats < 1) return in.Fail("「repeats」の数が正しくありません");
  return ParseHash(in, "start", true, r.StartHash) && ParseHash(in, "pixels", false, r.PixelsHash);
}

// The optional state at the start of the last paint.
bool ParseLast(TReader &in, TRecipe &r) {
  if (!in.Peek("last-random ")) return true;
  std::string random;
  if (!in.Field("last-random", random)) return false;
  if (!ParseHex(random, 16, r.LastRandom)) return in.Fail("乱数の状態が正しくありません");
  r.HasLast = true;
  return in.Variables("last-variables", r.LastVariables);
}

}  // namespace

const char *ProgramVersion() { return VELMORA_VERSION; }

std::string FormatRecipe(const TRecipe &r) {
  std::string out = std::string(Magic) + "\n";
  out += "version " + r.Version + "\n";
  out += "size " + std::to_string(r.Width) + " " + std::to_string(r.Height) + "\n";
  out += "random " + Hex(r.RandomState, 16) + "\n";
  out += "repeats " + std::to_string(r.Repeats) + "\n";
  out += "start " + (r.StartHash.empty() ? std::string("white") : r.StartHash) + "\n";
  out += "pixels " + r.PixelsHash + "\n";
  PutVariables(out, "variables", r.Variables);
  PutVariables(out, "set", r.SetAfterConstants);
  if (r.HasLast) {
    out += "last-random " + Hex(r.LastRandom, 16) + "\n";
    PutVariables(out, "last-variables", r.LastVariables);
  }
  out += "codes " + std::to_string(r.Codes.Read.size()) + "\n";
  for (const auto &[c, codes] : r.Codes.Read) {
    std::string hex = Hex(c, 6);
    out += hex.substr(std::min(hex.find_first_not_of('0'), hex.size() - 1));
    for (std::uint16_t code : codes) out += " " + Hex(code, 4);
    out += "\n";
  }
  PutLines(out, "constants", r.Constants);
  PutLines(out, "carpet", r.Carpet);
  out += "end\n";
  return out;
}

bool ParseRecipe(const std::string &text, TRecipe &recipe, std::string &error) {
  if (text.size() > MaxRecipeBytes) {
    error = "レシピが大きすぎます（" + std::to_string(MaxRecipeBytes / (1024 * 1024)) + " MB まで）．";
    return false;
  }
  TReader in(text);
  TRecipe r;
  const bool ok = ParseHead(in, r) && in.Variables("variables", r.Variables) &&
                  in.Variables("set", r.SetAfterConstants) && ParseLast(in, r) && in.Codes(r.Codes) && in.Text("constants", r.Constants) &&
                  in.Text("carpet", r.Carpet) && in.End();
  if (ok) {
    // A name twice would make the state ambiguous.
    std::unordered_map<std::string, bool> seen;
    for (const TRecipeVariable &v : r.Variables)
      if (!seen.emplace(v.Name, true).second) {
        error = "レシピが壊れています（変数「" + v.Name + "」が二度あります）．";
        return false;
      }
    seen.clear();
    for (const TRecipeVariable &v : r.LastVariables)
      if (!seen.emplace(v.Name, true).second) {
        error = "レシピが壊れています（変数「" + v.Name + "」が二度あります）．";
        return false;
      }
    recipe = std::move(r);
    return true;
  }
  error = "レシピが壊れています（" + in.Problem + "）．";
  return false;
}

void TakeStartState(const TArithmeticUnit &engine, TRecipe &recipe) {
  recipe.Variables.clear();
  recipe.Variables.reserve(static_cast<std::size_t>(engine.VariableCount));
  for (std::int32_t i = 0; i < engine.VariableCount; ++i) {
    const TVariable &v = engine.Variables[static_cast<std::size_t>(i)];
    recipe.Variables.push_back({v.Name, v.Value});
  }
  recipe.RandomState = RandomGenerator().State;
}

bool PutStartState(const TRecipe &recipe, TArithmeticUnit &engine, bool last) {
  last = last && recipe.HasLast;
  engine.ClearVariables();
  for (const TRecipeVariable &v : last ? recipe.LastVariables : recipe.Variables) {
    long double *p = engine.GetVariablePointer(v.Name, true);
    if (!p) return false;
    *p = v.Value;
  }
  RandomGenerator().State = last ? recipe.LastRandom : recipe.RandomState;
  return true;
}

void TakeLastState(const TArithmeticUnit &engine, TRecipe &recipe) {
  TRecipe state;
  TakeStartState(engine, state);
  recipe.LastVariables = std::move(state.Variables);
  recipe.LastRandom = state.RandomState;
  recipe.HasLast = true;
}

void PutSetAfterConstants(const TRecipe &recipe, TArithmeticUnit &engine) {
  for (const TRecipeVariable &v : recipe.SetAfterConstants)
    if (long double *p = engine.GetVariablePointer(v.Name, true)) *p = v.Value;
}

bool SameState(const TArithmeticUnit &engine, const std::vector<TRecipeVariable> &variables,
               std::uint64_t randomState) {
  if (RandomGenerator().State != randomState || static_cast<std::size_t>(engine.VariableCount) != variables.size())
    return false;
  for (std::size_t i = 0; i < variables.size(); ++i) {
    const TVariable &v = engine.Variables[i];
    if (v.Name != variables[i].Name || std::memcmp(&v.Value, &variables[i].Value, 10) != 0) return false;
  }
  return true;
}

std::string PixelsHash(const TPicture &picture, std::string &error) {
  const TQtImageCodec *codec = QtImageCodec(error);
  return codec ? codec->PixelsSha256(picture) : std::string();
}

bool AllWhite(const TPicture &picture) {
  for (std::uint32_t c : picture.Pixels)
    if (c != White) return false;
  return true;
}

}  // namespace velmora
