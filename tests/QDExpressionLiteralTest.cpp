// The parser against a literal reading of its algorithm.
#include "compiler/QDExpression.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <map>
#include <random>

#include "IntercodeDump.h"
#include "formula/QDString.h"

using velmora::TQDExpression;
using velmora::TQDIntercode;
using velmora::TQDIntercodeManager;
using velmora::TQDString;
using velmora::TStringList;
using L = TStringList;

using velmora::test::Dump;

// ---------------------------------------------------------------------------
// The compiler resumes each search where the last reduction happened instead of
// rescanning the list. Check it against the literal algorithm: rescan from the
// start, rewrite a plain vector, save and restore it around groups and calls.

namespace {

class TLiteralParser {
 public:
  explicit TLiteralParser(TQDExpression &p) : P(p) {}

  bool Compile() {
    P.ErrorMessage.clear();
    const std::string b = P.TempPrefix + std::to_string((*P.BlockNumber)++);
    Emit(velmora::icBegin, b);
    if (!Run(16)) return false;
    Emit(velmora::icEnd, b);
    return true;
  }

 private:
  TQDExpression &P;
  int Depth = 0;

  bool Fail(const std::string &message) {
    P.ErrorMessage = message;
    return false;
  }
  std::string Temp() { return P.TempPrefix + std::to_string(P.TempCount++); }
  void Emit(std::uint8_t code, std::string o1, std::string o2 = {}, std::string o3 = {}) {
    TQDIntercode c;
    c.Code = code;
    c.Operand1 = std::move(o1);
    c.Operand2 = std::move(o2);
    c.Operand3 = std::move(o3);
    P.Intercode->Add(c);
  }
  std::string &T(int i) { return P.Tokens[static_cast<std::size_t>(i)]; }
  int Count() const { return static_cast<int>(P.Tokens.size()); }
  void Replace(int i, int j, std::string r) {
    P.Tokens.erase(P.Tokens.begin() + i, P.Tokens.begin() + j + 1);
    P.Tokens.insert(P.Tokens.begin() + i, std::move(r));
  }
  bool Run(int last) {
    for (int level = 1; level <= last; ++level) {
      while (Reduce(level)) {
      }
      if (!P.ErrorMessage.empty()) return false;
    }
    return true;
  }
  bool Reduce(int level) {
    switch (level) {
      case 1: return Level1();
      case 2: return Level2();
      case 4: case 5: case 7: case 8: case 12: case 13: return Binary(level);
      case 15: return Level15();
      case 16: return Level16();
      default: return false;
    }
  }
  bool Level1() {
    const int i = P.FindFirst(1);
    if (i == -1) return false;
    const std::string t = T(i);
    if (t == "(") {
      const int j = P.FindClosingParen(i);
      if (j == -1) return Fail("括弧が閉じていない");
      const bool call = i > 0 && P.Precedence(i - 1) == 0;
      if (!call && j == i + 1) return Fail("括弧の中身が空白");
      if (!call && j == i + 2) {
        Replace(i, j, T(i + 1));
        return true;
      }
      if (Depth >= TQDExpression::MaxNesting) return Fail("括弧の入れ子が深すぎる(256重まで)");
      const L saved = P.Tokens;
      P.Tokens = L(saved.begin() + i + 1, saved.begin() + j);
      ++Depth;
      const bool ok = Run(call ? 15 : 16);
      --Depth;
      if (!ok) return false;
      if (!call) {
        if (Count() != 1) return Fail("Syntax Error: 括弧内に定義されていないシンボルが含まれている");
        const std::string r = T(0);
        P.Tokens = saved;
        Replace(i, j, r);
        return true;
      }
      L args = P.Tokens;
      P.Tokens = saved;
      if (!P.CompileCall(T(i - 1), &args)) return false;
      Replace(i - 1, j, args[0]);
      return true;
    }
    if (t == ")" || t == "]") return Fail("対応する括弧(\"(\"または\"[\")が見つからない");
    if (t == "::") return Fail(":: is not defined in Quindraft+ with this version.");
    if (t == "++" || t == "--") {
      if (!P.IsModifiableLvalue(i - 1))
        return Fail("後置インクリメント演算子または後置デクリメント演算子のオペランドは変更可能な左辺値でなければならない");
      const std::string tmp = Temp();
      const std::string x = T(i - 1);
      Emit(velmora::icDeclare, tmp, "no_type");
      Emit(velmora::icAssign, P.AddressOf(tmp), P.AddressOf(x));
      Emit(t == "++" ? velmora::icIncrement : velmora::icDecrement, P.AddressOf(x));
      Replace(i - 1, i, tmp);
      return true;
    }
    return Fail("-undefined-");
  }
  bool Level2() {
    const int i = P.FindLast(2);
    if (i == -1) return false;
    const bool present = i + 1 < Count() && P.Precedence(i + 1) == 0;
    const std::string t = T(i);
    const std::string x = present ? T(i + 1) : "";
    if (t == "sizeof" || t == "new" || t == "delete") return Fail("-undefined-");
    if (!present) {
      if (t == "!") return Fail("!演算子の右側は単項式でなければならない");
      if (t == "+" || t == "-" || t == "&" || t == "*") return Fail("単項" + t + "演算子の右側は単項式でなければならない");
      return Fail("前置インクリメント演算子または前置デクリメント演算子の右側は単項式でなければならない");
    }
    std::string r;
    if (t == "!" || t == "-") {
      r = Temp();
      Emit(velmora::icDeclare, r, "no_type");
      Emit(t == "!" ? velmora::icLogicalNot : velmora::icNegate, P.AddressOf(r), P.AddressOf(x));
    } else if (t == "+") {
      r = Temp();
      Emit(velmora::icBind, r, P.AddressOf(x));
    } else if (t == "++" || t == "--") {
      if (!P.IsModifiableLvalue(i + 1))
        return Fail("前置インクリメント演算子または前置デクリメント演算子のオペランドは変更可能な左辺値でなければならない");
      r = Temp();
      Emit(t == "++" ? velmora::icIncrement : velmora::icDecrement, P.AddressOf(x));
      Emit(velmora::icBind, r, P.AddressOf(x));
    } else if (t == "&") {
      r = P.AddressOf(x);
    } else {
      r = !x.empty() && x[0] == '&' ? x.substr(1) : "*" + x;
    }
    Replace(i, i + 1, r);
    return true;
  }
  bool Binary(int level) {
    const int i = level == 13 ? P.FindLast(level) : P.FindFirst(level);
    if (i == -1) return false;
    if (i == 0 || P.Precedence(i - 1) >= 1) return Fail(LeftMessage(level));
    if (i == Count() - 1 || P.Precedence(i + 1) >= 1) return Fail(RightMessage(level));
    static const std::map<std::string, std::uint8_t> codes = {
        {"*", velmora::icMultiply}, {"/", velmora::icDivide}, {"%", velmora::icRemainder},
        {"+", velmora::icAdd}, {"-", velmora::icSubtract}, {"<", velmora::icLess},
        {"<=", velmora::icLessEqual}, {">", velmora::icGreater}, {">=", velmora::icGreaterEqual},
        {"==", velmora::icEqual}, {"!=", velmora::icNotEqual}, {"&&", velmora::icLogicalAnd},
        {"||", velmora::icLogicalOr}};
    const std::string r = Temp();
    Emit(velmora::icDeclare, r, "no_type");
    Emit(codes.at(T(i)), P.AddressOf(r), P.AddressOf(T(i - 1)), P.AddressOf(T(i + 1)));
    Replace(i - 1, i + 1, r);
    return true;
  }
  static std::string LeftMessage(int level) { return Messages().at(level).first; }
  static std::string RightMessage(int level) { return Messages().at(level).second; }
  static const std::map<int, std::pair<std::string, std::string>> &Messages() {
    static const std::map<int, std::pair<std::string, std::string>> messages = {
        {4, {"二項(*,/,%)演算子の左側は乗除式でなければならない", "二項(*,/,%)演算子の右側はキャスト式でなければならない"}},
        {5, {"二項(+,-)演算子の左側は加減式でなければならない", "二項(+,-)演算子の右側は乗除式でなければならない"}},
        {7, {"関係演算子(>,>=,<,<=)の左側は関係式でなければならない", "関係演算子(>,>=,<,<=)の右側はシフト式でなければならない"}},
        {8, {"等価演算子(==,!=)の左側は等価式でなければならない", "等価演算子(==,!=)の右側は関係式でなければならない"}},
        {12, {"論理AND演算子(&&)の左側は論理AND式でなければならない", "論理AND演算子(&&)の右側はOR式でなければならない"}},
        {13, {"論理OR演算子(||)の左側は論理OR式でなければならない", "論理OR演算子(||)の右側は論理AND式でなければならない"}}};
    return messages;
  }
  bool Level15() {
    const int i = P.FindLast(15);
    if (i == -1) return false;
    if (i == 0 || P.Precedence(i - 1) >= 1) return Fail("代入演算子の左側は単項式でなければならない");
    if (i == Count() - 1 || P.Precedence(i + 1) >= 1) return Fail("代入演算子の右側は代入式でなければならない");
    if (!P.IsModifiableLvalue(i - 1)) return Fail("代入演算子の左オペランドは変更可能な左辺値でなければならない");
    const std::string r = Temp();
    const std::string a = T(i - 1), b = T(i + 1), op = T(i);
    static const std::map<std::string, std::uint8_t> codes = {
        {"*=", velmora::icMultiply}, {"/=", velmora::icDivide}, {"%=", velmora::icRemainder},
        {"+=", velmora::icAdd}, {"-=", velmora::icSubtract}};
    if (op == "=") Emit(velmora::icAssign, P.AddressOf(a), P.AddressOf(b));
    else Emit(codes.at(op), P.AddressOf(a), P.AddressOf(a), P.AddressOf(b));
    Emit(velmora::icBind, r, P.AddressOf(a));
    Replace(i - 1, i + 1, r);
    return true;
  }
  bool Level16() {
    const int i = P.FindFirst(16);
    if (i == -1) return false;
    if (i == 0 || P.Precedence(i - 1) >= 1) return Fail("コンマ算子の左側は式でなければならない");
    if (i == Count() - 1 || P.Precedence(i + 1) >= 1) return Fail("コンマ演算子の右側は代入式でなければならない");
    std::string r = T(i + 1);
    if (P.IsModifiableLvalue(i + 1)) {
      const std::string b = r;
      r = Temp();
      Emit(velmora::icBind, r, P.AddressOf(b));
    }
    Replace(i - 1, i + 1, r);
    return true;
  }
};

struct TOutcome {
  bool Ok;
  std::string Error;
  L Code;
  L Rest;
  int TempCount;
  bool operator==(const TOutcome &) const = default;
};

std::ostream &operator<<(std::ostream &os, const TOutcome &o) {
  os << (o.Ok ? "ok" : "fail") << " [" << o.Error << "] temps " << o.TempCount << "\n";
  for (const auto &c : o.Code) os << "  " << c << "\n";
  os << "  rest:";
  for (const auto &t : o.Rest) os << " " << t;
  return os;
}

template <class Fn>
TOutcome Outcome(const L &tokens, Fn compile) {
  TQDExpression parser;
  TQDIntercodeManager manager;
  std::int32_t block = 1;
  parser.Intercode = &manager;
  parser.BlockNumber = &block;
  parser.Tokens = tokens;
  TOutcome o;
  o.Ok = compile(parser);
  o.Error = parser.ErrorMessage;
  for (int i = 0; i < manager.GetCount(); ++i) o.Code.push_back(Dump(manager.Get(i)));
  // Where a failed compilation leaves its list is its own business.
  if (o.Ok) o.Rest = parser.Tokens;
  o.TempCount = parser.TempCount;
  return o;
}

}  // namespace

TEST(QDExpressionCompile, ResumingSearchMatchesTheLiteralAlgorithm) {
  const L vocabulary = {"a", "b", "x", "y", "__temp_const0", "&x", "*y", "(", "(", "(", ")", ")", ")",
                        "[", "]", "+", "-", "*", "/", "%", "++", "--", "!", "&", "=", "+=", "*=",
                        ",", ",", "<", "==", "&&", "||", "sin", "pow", "randomize", "f", "::", ".",
                        "sizeof", "&=", "\"", "<<", "&&x"};
  const unsigned seed = 4242;
  std::mt19937 rng(seed);
  for (int round = 0; round < 100000; ++round) {
    L tokens;
    for (int n = 1 + static_cast<int>(rng() % 14); n > 0; --n) tokens.push_back(vocabulary[rng() % vocabulary.size()]);
    const TOutcome fast = Outcome(tokens, [](TQDExpression &p) { return p.Compile(); });
    const TOutcome literal = Outcome(tokens, [](TQDExpression &p) { return TLiteralParser(p).Compile(); });
    ASSERT_EQ(fast, literal) << "seed " << seed << ", round " << round;
  }
}
