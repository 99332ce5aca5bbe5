#include "compiler/QDExpression.h"

#include <new>

#include <algorithm>
#include <set>
#include <unordered_map>

namespace velmora {

namespace {

constexpr const char *NoType = "no_type";
constexpr const char *Undefined = "-undefined-";

struct TBinaryMessages {
  const char *Left;
  const char *Right;
};

TBinaryMessages BinaryMessages(int level) {
  switch (level) {
    case 4:
      return {"二項(*,/,%)演算子の左側は乗除式でなければならない",
              "二項(*,/,%)演算子の右側はキャスト式でなければならない"};
    case 5:
      return {"二項(+,-)演算子の左側は加減式でなければならない",
              "二項(+,-)演算子の右側は乗除式でなければならない"};
    case 7:
      return {"関係演算子(>,>=,<,<=)の左側は関係式でなければならない",
              "関係演算子(>,>=,<,<=)の右側はシフト式でなければならない"};
    case 8:
      return {"等価演算子(==,!=)の左側は等価式でなければならない",
              "等価演算子(==,!=)の右側は関係式でなければならない"};
    case 12:
      return {"論理AND演算子(&&)の左側は論理AND式でなければならない",
              "論理AND演算子(&&)の右側はOR式でなければならない"};
    default:
      return {"論理OR演算子(||)の左側は論理OR式でなければならない",
              "論理OR演算子(||)の右側は論理AND式でなければならない"};
  }
}

std::uint8_t BinaryCode(TQDExpression::TKind kind) {
  using K = TQDExpression::TKind;
  switch (kind) {
    case K::Star: case K::MulAssign: return icMultiply;
    case K::Slash: case K::DivAssign: return icDivide;
    case K::Percent: case K::ModAssign: return icRemainder;
    case K::Plus: case K::AddAssign: return icAdd;
    case K::Minus: case K::SubAssign: return icSubtract;
    case K::Less: return icLess;
    case K::LessEqual: return icLessEqual;
    case K::Greater: return icGreater;
    case K::GreaterEqual: return icGreaterEqual;
    case K::Equal: return icEqual;
    case K::NotEqual: return icNotEqual;
    case K::AndAnd: return icLogicalAnd;
    case K::OrOr: return icLogicalOr;
    default: return icInvalid;
  }
}

bool StartsWith(const std::string &s, const std::string &prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

TQDExpression::TQDExpression()
    : Levels{{false, {"(", ")", "[", "]", ".", "->", "::", "++", "--"}},
             {true, {"!", "+", "-", "++", "--", "&", "*", "sizeof", "new", "delete"}},
             {false, {}},
             {false, {"*", "/", "%"}},
             {false, {"+", "-"}},
             {false, {}},
             {false, {"<", "<=", ">", ">="}},
             {false, {"==", "!="}},
             {false, {}},
             {false, {}},
             {false, {}},
             {false, {"&&"}},
             {true, {"||"}},
             {false, {}},
             {true, {"=", "*=", "/=", "%=", "+=", "-="}},
             {false, {","}}},
      TInnerFunctions{"randomize", "asin", "acos", "atan",  "atan2", "abs",   "arg",
                      "conj",      "cos",  "cosh", "exp",   "imag",  "ln",    "log",
                      "log10",     "polar", "pow", "real",  "sin",   "sinh",  "sqrt",
                      "tan",       "tanh", "ceil", "floor", "mod",   "random"},
      Handlers{&TQDExpression::ReduceLevel1,  &TQDExpression::ReduceLevel2,
               &TQDExpression::ReduceLevel3,  &TQDExpression::ReduceLevel4,
               &TQDExpression::ReduceLevel5,  &TQDExpression::ReduceLevel6,
               &TQDExpression::ReduceLevel7,  &TQDExpression::ReduceLevel8,
               &TQDExpression::ReduceLevel9,  &TQDExpression::ReduceLevel10,
               &TQDExpression::ReduceLevel11, &TQDExpression::ReduceLevel12,
               &TQDExpression::ReduceLevel13, &TQDExpression::ReduceLevel14,
               &TQDExpression::ReduceLevel15, &TQDExpression::ReduceLevel16} {}

// ---------------------------------------------------------------------------
// Classification

TQDExpression::TKind TQDExpression::KindOf(const std::string &text) {
  static const std::unordered_map<std::string, TKind> kinds = {
      {"++", TKind::PlusPlus},   {"--", TKind::MinusMinus}, {"+", TKind::Plus},
      {"-", TKind::Minus},       {"&", TKind::Amp},         {"*", TKind::Star},
      {"(", TKind::LParen},      {")", TKind::RParen},      {"[", TKind::LBracket},
      {"]", TKind::RBracket},    {".", TKind::Dot},         {"->", TKind::Arrow},
      {"::", TKind::Scope},      {"!", TKind::Not},         {"sizeof", TKind::Sizeof},
      {"new", TKind::New},       {"delete", TKind::Delete}, {"/", TKind::Slash},
      {"%", TKind::Percent},     {"<", TKind::Less},        {"<=", TKind::LessEqual},
      {">", TKind::Greater},     {">=", TKind::GreaterEqual}, {"==", TKind::Equal},
      {"!=", TKind::NotEqual},   {"&&", TKind::AndAnd},     {"||", TKind::OrOr},
      {"=", TKind::Assign},      {"*=", TKind::MulAssign},  {"/=", TKind::DivAssign},
      {"%=", TKind::ModAssign},  {"+=", TKind::AddAssign},  {"-=", TKind::SubAssign},
      {",", TKind::Comma}};
  if (text.empty() || text.size() > 6) return TKind::Operand;
  const auto it = kinds.find(text);
  return it == kinds.end() ? TKind::Operand : it->second;
}

int TQDExpression::LevelOf(TKind kind, bool operandOnLeft) {
  switch (kind) {
    case TKind::Operand: return 0;
    case TKind::PlusPlus: case TKind::MinusMinus: return operandOnLeft ? 1 : 2;
    case TKind::Plus: case TKind::Minus: return operandOnLeft ? 5 : 2;
    case TKind::Star: return operandOnLeft ? 4 : 2;
    case TKind::Amp: case TKind::Not: case TKind::Sizeof: case TKind::New: case TKind::Delete:
      return 2;
    case TKind::LParen: case TKind::RParen: case TKind::LBracket: case TKind::RBracket:
    case TKind::Dot: case TKind::Arrow: case TKind::Scope:
      return 1;
    case TKind::Slash: case TKind::Percent: return 4;
    case TKind::Less: case TKind::LessEqual: case TKind::Greater: case TKind::GreaterEqual:
      return 7;
    case TKind::Equal: case TKind::NotEqual: return 8;
    case TKind::AndAnd: return 12;
    case TKind::OrOr: return 13;
    case TKind::Assign: case TKind::MulAssign: case TKind::DivAssign: case TKind::ModAssign:
    case TKind::AddAssign: case TKind::SubAssign:
      return 15;
    case TKind::Comma: return 16;
  }
  return 0;
}

int TQDExpression::Precedence(int index) const {
  if (index < 0 || index >= static_cast<int>(Tokens.size())) return 0;
  const bool operandOnLeft = index > 0 && KindOf(Tokens[static_cast<std::size_t>(index - 1)]) == TKind::Operand;
  return LevelOf(KindOf(Tokens[static_cast<std::size_t>(index)]), operandOnLeft);
}

int TQDExpression::FindFirst(int level) const {
  for (int i = 0; i < static_cast<int>(Tokens.size()); ++i) {
    if (Precedence(i) == level) return i;
  }
  return -1;
}

int TQDExpression::FindLast(int level) const {
  for (int i = static_cast<int>(Tokens.size()) - 1; i >= 0; --i) {
    if (Precedence(i) == level) return i;
  }
  return -1;
}

bool TQDExpression::IsModifiableLvalueText(const std::string &text, TKind kind) const {
  if (kind != TKind::Operand) return false;
  if (!text.empty() && text[0] == '*') return true;
  return !StartsWith(text, TempPrefix);
}

bool TQDExpression::IsModifiableLvalue(int index) const {
  if (index < 0 || index >= static_cast<int>(Tokens.size())) return false;
  if (Precedence(index) > 0) return false;
  return IsModifiableLvalueText(Tokens[static_cast<std::size_t>(index)], TKind::Operand);
}

int TQDExpression::FindClosingParen(int open) const {
  int depth = 0;
  for (int i = open + 1; i < static_cast<int>(Tokens.size()); ++i) {
    const std::string &t = Tokens[static_cast<std::size_t>(i)];
    if (t == ")") {
      if (depth == 0) return i;
      --depth;
    } else if (t == "(") {
      ++depth;
    }
  }
  return -1;
}

std::string TQDExpression::AddressOf(const std::string &token) {
  if (!token.empty() && token[0] == '*') return token.substr(1);
  if (StartsWith(token, "&&")) {
    ErrorMessage = "アドレス演算子は重複してはならない";
    return {};
  }
  return "&" + token;
}

std::string TQDExpression::ChooseTempPrefix(const TStringList *tokens) {
  // A token begins with "_"×k + "__temp" only for the one k given by its run of
  // leading underscores, so the prefix is the first k that no token claims.
  // (Restarting the scan each time the prefix grows would do the same work
  // quadratically.)
  std::set<std::size_t> taken;
  if (tokens) {
    for (const std::string &t : *tokens) {
      const std::size_t u = t.find_first_not_of('_');
      if (u != std::string::npos && u >= 2 && t.compare(u, 4, "temp") == 0 && t.size() >= u + 4)
        taken.insert(u - 2);
    }
  }
  std::size_t k = 0;
  while (taken.count(k)) ++k;
  TempPrefix = std::string(k, '_') + "__temp";
  return TempPrefix;
}

bool TQDExpression::InnerFunctionCode(const std::string &name, std::uint8_t &code) const {
  for (std::size_t k = 0; k < TInnerFunctions.size(); ++k) {
    if (TInnerFunctions[k] == name) {
      code = static_cast<std::uint8_t>(icRandomize + k);
      return true;
    }
  }
  return false;
}

void TQDExpression::RemoveCommas(TStringList *list) {
  list->erase(std::remove(list->begin(), list->end(), std::string(",")), list->end());
}

// ---------------------------------------------------------------------------
// Driver

std::string TQDExpression::NewTemp() { return TempPrefix + std::to_string(TempCount++); }

void TQDExpression::Emit(std::uint8_t code, std::string o1, std::string o2, std::string o3,
                         std::int32_t argCount) {
  TQDIntercode item;
  item.Code = code;
  item.ArgCount = argCount;
  item.Operand1 = std::move(o1);
  item.Operand2 = std::move(o2);
  item.Operand3 = std::move(o3);
  // Code with an instruction missing would compute something else: a failed
  // Add ends the compilation.
  if (!Intercode->Add(std::move(item))) throw std::bad_alloc();
}

bool TQDExpression::Compile() {
  OutOfMemory = false;
  try {
    return CompileTokens();
  } catch (const std::bad_alloc &) {
    OutOfMemory = true;
    ErrorMessage = "Memory allocation has been failed.";
    return false;
  }
}

bool TQDExpression::CompileTokens() {
  ErrorMessage.clear();
  if (!Intercode) {
    ErrorMessage = "Compile Error:中間コードマネージャがリンクされていない";
    return false;
  }
  std::int32_t ownBlockNumber = 1;
  std::int32_t &block = BlockNumber ? *BlockNumber : ownBlockNumber;
  const std::string b = TempPrefix + std::to_string(block);
  ++block;
  Emit(icBegin, b);

  // Build the linked list: node 0 and node 1 are the sentinels of the whole line.
  Nodes.clear();
  Nodes.resize(Tokens.size() + 2);
  Nodes[0].Next = Tokens.empty() ? 1 : 2;
  Nodes[1].Prev = Tokens.empty() ? 0 : static_cast<int>(Tokens.size()) + 1;
  for (std::size_t i = 0; i < Tokens.size(); ++i) {
    TNode &n = Nodes[i + 2];
    n.Kind = KindOf(Tokens[i]);
    n.Text = std::move(Tokens[i]);
    n.Prev = i == 0 ? 0 : static_cast<int>(i) + 1;
    n.Next = i + 1 == Tokens.size() ? 1 : static_cast<int>(i) + 3;
  }
  TStringList().swap(Tokens);  // the nodes hold the texts now
  Closing.assign(Nodes.size(), -1);
  std::vector<int> open;
  for (int n = Nodes[0].Next; n != 1; n = Nodes[n].Next) {
    if (Nodes[n].Kind == TKind::LParen) {
      open.push_back(n);
    } else if (Nodes[n].Kind == TKind::RParen && !open.empty()) {
      Closing[static_cast<std::size_t>(open.back())] = n;
      open.pop_back();
    }
  }
  Head = Tail = Cursor = -1;
  Depth = 0;
  TokensKept = false;

  const bool ok = RunLevels(0, 1, LevelCount);
  if (!TokensKept) KeepTokens(0, 1);
  std::vector<TNode>().swap(Nodes);  // a long line's nodes are not kept until the next one
  std::vector<int>().swap(Closing);
  if (!ok) return false;
  Emit(icEnd, b);
  return true;
}

void TQDExpression::KeepTokens(int head, int tail) {
  TStringList kept;
  for (int n = Nodes[head].Next; n != tail; n = Nodes[n].Next) kept.push_back(TextOf(n));
  Tokens.swap(kept);
  TokensKept = true;
}

bool TQDExpression::RunLevels(int head, int tail, int lastLevel) {
  const int savedHead = Head, savedTail = Tail, savedCursor = Cursor;
  Head = head;
  Tail = tail;
  bool ok = true;
  for (int level = 1; level <= lastLevel && ok; ++level) {
    Cursor = Levels[level - 1].RightToLeft ? Nodes[Tail].Prev : Nodes[Head].Next;
    const THandler handler = Handlers[level - 1];
    while ((this->*handler)()) {
    }
    if (!ErrorMessage.empty()) {
      if (!TokensKept) KeepTokens(Head, Tail);
      ok = false;
    }
  }
  Head = savedHead;
  Tail = savedTail;
  Cursor = savedCursor;
  return ok;
}

int TQDExpression::NodeLevel(int node) const {
  const int left = Nodes[node].Prev;
  return LevelOf(Nodes[node].Kind, IsOperandNode(left));
}

int TQDExpression::FindFirstNode(int level) {
  for (int n = Cursor; n != Tail && n != -1; n = Nodes[n].Next) {
    if (NodeLevel(n) == level) {
      Cursor = n;
      return n;
    }
  }
  Cursor = Tail;
  return -1;
}

int TQDExpression::FindLastNode(int level) {
  for (int n = Cursor; n != Head && n != -1; n = Nodes[n].Prev) {
    if (NodeLevel(n) == level) {
      Cursor = n;
      return n;
    }
  }
  Cursor = Head;
  return -1;
}

int TQDExpression::FindClosingNode(int open) const {
  // Paired once for the whole line: a group is reduced as a whole, so a pair
  // stays a pair while the nodes around and inside it are reduced.
  return Closing[static_cast<std::size_t>(open)];
}

std::string &TQDExpression::TextOf(int node) {
  TNode &n = Nodes[static_cast<std::size_t>(node)];
  if (n.Stars > 0) {
    n.Text.insert(0, static_cast<std::size_t>(n.Stars), '*');
    n.Stars = 0;
  }
  return n.Text;
}

int TQDExpression::Replace(int first, int last, std::string text) {
  // The first node of the range takes the result; the others are unlinked.
  TNode &node = Nodes[first];
  node.Kind = KindOf(text);
  node.Text = std::move(text);
  node.Stars = 0;
  const int after = Nodes[last].Next;
  node.Next = after;
  Nodes[after].Prev = first;
  return first;
}

// ---------------------------------------------------------------------------
// Level handlers

bool TQDExpression::ReduceLevel1() {
  const int i = FindFirstNode(1);
  if (i == -1) return false;
  switch (Nodes[i].Kind) {
    case TKind::LParen:
      return ReduceParen(i);
    case TKind::RParen:
    case TKind::RBracket:
      ErrorMessage = "対応する括弧(\"(\"または\"[\")が見つからない";
      return false;
    case TKind::Scope:
      ErrorMessage = ":: is not defined in Quindraft+ with this version.";
      return false;
    case TKind::PlusPlus:
    case TKind::MinusMinus: {
      const int x = Nodes[i].Prev;  // an operand: that is what made this a postfix operator
      if (!IsModifiableLvalueText(TextOf(x), Nodes[x].Kind)) {
        ErrorMessage = "後置インクリメント演算子または後置デクリメント演算子のオペランドは変更可能な左辺値でなければならない";
        return false;
      }
      const std::string t = NewTemp();
      const std::string target = AddressOf(TextOf(x));
      Emit(icDeclare, t, NoType);
      Emit(icAssign, AddressOf(t), target);
      Emit(Nodes[i].Kind == TKind::PlusPlus ? icIncrement : icDecrement, target);
      Cursor = Replace(x, i, t);
      return true;
    }
    default:  // "[", ".", "->"
      ErrorMessage = Undefined;
      return false;
  }
}

bool TQDExpression::ReduceParen(int i) {
  const int j = FindClosingNode(i);
  if (j == -1) {
    ErrorMessage = "括弧が閉じていない";
    return false;
  }
  const int name = Nodes[i].Prev;
  const bool isCall = IsOperandNode(name);
  const int first = Nodes[i].Next;
  if (!isCall && first == j) {
    ErrorMessage = "括弧の中身が空白";
    return false;
  }
  if (!isCall && Nodes[first].Next == j) {
    std::string inner = TextOf(first);
    Cursor = Replace(i, j, std::move(inner));
    return true;
  }
  if (Depth >= MaxNesting) {
    ErrorMessage = "括弧の入れ子が深すぎる(" + std::to_string(MaxNesting) + "重まで)";
    return false;
  }
  ++Depth;
  const bool ok = RunLevels(i, j, isCall ? 15 : 16);
  --Depth;
  if (!ok) return false;

  if (!isCall) {
    const int only = Nodes[i].Next;
    if (Nodes[only].Next != j) {
      ErrorMessage = "Syntax Error: 括弧内に定義されていないシンボルが含まれている";
      KeepTokens(i, j);
      return false;
    }
    std::string r = TextOf(only);
    Cursor = Replace(i, j, std::move(r));
    return true;
  }

  TStringList args;
  for (int n = Nodes[i].Next; n != j; n = Nodes[n].Next) args.push_back(TextOf(n));
  if (!CompileCall(TextOf(name), &args)) {
    if (ErrorMessage.empty()) ErrorMessage = "関数を呼び出すことができませんでした";
    return false;
  }
  Cursor = Replace(name, j, args.front());
  return true;
}

bool TQDExpression::CompileCall(const std::string &name, TStringList *args) {
  const std::string t = NewTemp();
  RemoveCommas(args);
  const int n = static_cast<int>(args->size());
  std::uint8_t code;
  if (InnerFunctionCode(name, code)) {
    Emit(icDeclare, t, NoType);
    std::string o1 = n > 0 ? AddressOf(t) : t;
    std::string o2 = n >= 1 ? AddressOf((*args)[0]) : std::string();
    std::string o3 = n >= 2 ? AddressOf((*args)[1]) : std::string();
    if (n > 2) {
      ErrorMessage = name + "の引数が多すぎます.";
      return false;
    }
    Emit(code, std::move(o1), std::move(o2), std::move(o3), n);
  } else {
    Emit(icCall, name, {}, {}, n);
  }
  args->clear();
  args->push_back(t);
  return true;
}

bool TQDExpression::ReduceLevel2() {
  const int i = FindLastNode(2);
  if (i == -1) return false;
  const int x = Nodes[i].Next;
  const bool present = IsOperandNode(x);
  auto missing = [this](const char *message) {
    ErrorMessage = message;
    return false;
  };
  switch (Nodes[i].Kind) {
    case TKind::Not: {
      if (!present) return missing("!演算子の右側は単項式でなければならない");
      const std::string t = NewTemp();
      Emit(icDeclare, t, NoType);
      Emit(icLogicalNot, AddressOf(t), AddressOf(TextOf(x)));
      Cursor = Replace(i, x, t);
      break;
    }
    case TKind::Plus: {
      if (!present) return missing("単項+演算子の右側は単項式でなければならない");
      const std::string t = NewTemp();
      Emit(icBind, t, AddressOf(TextOf(x)));
      Cursor = Replace(i, x, t);
      break;
    }
    case TKind::Minus: {
      if (!present) return missing("単項-演算子の右側は単項式でなければならない");
      const std::string t = NewTemp();
      Emit(icDeclare, t, NoType);
      Emit(icNegate, AddressOf(t), AddressOf(TextOf(x)));
      Cursor = Replace(i, x, t);
      break;
    }
    case TKind::PlusPlus:
    case TKind::MinusMinus: {
      if (!present)
        return missing("前置インクリメント演算子または前置デクリメント演算子の右側は単項式でなければならない");
      if (!IsModifiableLvalueText(TextOf(x), Nodes[x].Kind))
        return missing("前置インクリメント演算子または前置デクリメント演算子のオペランドは変更可能な左辺値でなければならない");
      const std::string t = NewTemp();
      Emit(Nodes[i].Kind == TKind::PlusPlus ? icIncrement : icDecrement, AddressOf(TextOf(x)));
      Emit(icBind, t, AddressOf(TextOf(x)));
      Cursor = Replace(i, x, t);
      break;
    }
    case TKind::Amp: {
      if (!present) return missing("単項&演算子の右側は単項式でなければならない");
      std::string r = AddressOf(TextOf(x));
      Cursor = Replace(i, x, std::move(r));
      break;
    }
    case TKind::Star: {
      if (!present) return missing("単項*演算子の右側は単項式でなければならない");
      TNode &operand = Nodes[x];
      if (operand.Stars == 0 && !operand.Text.empty() && operand.Text[0] == '&') {
        Cursor = Replace(i, x, operand.Text.substr(1));
      } else {
        // One more "*" in front, counted instead of copied: a long run of them
        // would otherwise rebuild an ever longer text at every step.
        TNode &result = Nodes[i];
        result.Text = std::move(operand.Text);
        result.Stars = operand.Stars + 1;
        result.Kind = TKind::Operand;
        const int after = operand.Next;
        result.Next = after;
        Nodes[after].Prev = i;
        Cursor = i;
      }
      break;
    }
    default:  // sizeof, new, delete
      return missing(Undefined);
  }
  // The level of the token after the result may have changed; search again from there.
  if (Nodes[Cursor].Next != Tail) Cursor = Nodes[Cursor].Next;
  return true;
}

bool TQDExpression::ReduceBinary(int level) {
  const int i = Levels[level - 1].RightToLeft ? FindLastNode(level) : FindFirstNode(level);
  if (i == -1) return false;
  const TBinaryMessages messages = BinaryMessages(level);
  const int a = Nodes[i].Prev;
  const int b = Nodes[i].Next;
  if (!IsOperandNode(a)) {
    ErrorMessage = messages.Left;
    return false;
  }
  if (!IsOperandNode(b)) {
    ErrorMessage = messages.Right;
    return false;
  }
  const std::string t = NewTemp();
  Emit(icDeclare, t, NoType);
  Emit(BinaryCode(Nodes[i].Kind), AddressOf(t), AddressOf(TextOf(a)), AddressOf(TextOf(b)));
  Cursor = Replace(a, b, t);
  if (Levels[level - 1].RightToLeft && Nodes[Cursor].Next != Tail) Cursor = Nodes[Cursor].Next;
  return true;
}

bool TQDExpression::ReduceLevel4() { return ReduceBinary(4); }
bool TQDExpression::ReduceLevel5() { return ReduceBinary(5); }
bool TQDExpression::ReduceLevel7() { return ReduceBinary(7); }
bool TQDExpression::ReduceLevel8() { return ReduceBinary(8); }
bool TQDExpression::ReduceLevel12() { return ReduceBinary(12); }
bool TQDExpression::ReduceLevel13() { return ReduceBinary(13); }

bool TQDExpression::ReduceLevel15() {
  const int i = FindLastNode(15);
  if (i == -1) return false;
  const int a = Nodes[i].Prev;
  const int b = Nodes[i].Next;
  if (!IsOperandNode(a)) {
    ErrorMessage = "代入演算子の左側は単項式でなければならない";
    return false;
  }
  if (!IsOperandNode(b)) {
    ErrorMessage = "代入演算子の右側は代入式でなければならない";
    return false;
  }
  if (!IsModifiableLvalueText(TextOf(a), Nodes[a].Kind)) {
    ErrorMessage = "代入演算子の左オペランドは変更可能な左辺値でなければならない";
    return false;
  }
  const std::string t = NewTemp();
  if (Nodes[i].Kind == TKind::Assign) {
    Emit(icAssign, AddressOf(TextOf(a)), AddressOf(TextOf(b)));
  } else {
    Emit(BinaryCode(Nodes[i].Kind), AddressOf(TextOf(a)), AddressOf(TextOf(a)),
         AddressOf(TextOf(b)));
  }
  Emit(icBind, t, AddressOf(TextOf(a)));
  Cursor = Replace(a, b, t);
  if (Nodes[Cursor].Next != Tail) Cursor = Nodes[Cursor].Next;
  return true;
}

bool TQDExpression::ReduceLevel16() {
  const int i = FindFirstNode(16);
  if (i == -1) return false;
  const int a = Nodes[i].Prev;
  const int b = Nodes[i].Next;
  if (!IsOperandNode(a)) {
    ErrorMessage = "コンマ算子の左側は式でなければならない";
    return false;
  }
  if (!IsOperandNode(b)) {
    ErrorMessage = "コンマ演算子の右側は代入式でなければならない";
    return false;
  }
  std::string r = TextOf(b);
  if (IsModifiableLvalueText(TextOf(b), Nodes[b].Kind)) {
    r = NewTemp();
    Emit(icBind, r, AddressOf(TextOf(b)));
  }
  Cursor = Replace(a, b, std::move(r));
  return true;
}

}  // namespace velmora
