#include "compiler/QDExpression.h"
#include "text/AllocationFailed.h"

#include <new>

#include <algorithm>
#include <iterator>
#include <set>
#include <unordered_map>

namespace velmora {

namespace {


// Every operator once: its text, its kind, its precedence level when an
// operand stands to its left and when none does, and the instruction of a
// binary (or compound assignment) operator. Rows are in kind order.
struct TOperatorRow {
  const char *Text;
  TQDExpression::TKind Kind;
  std::int8_t LevelAfterOperand;
  std::int8_t LevelOtherwise;
  std::uint8_t Code;
};
using K = TQDExpression::TKind;
constexpr TOperatorRow Operators[] = {
    {"", K::Operand, 0, 0, icInvalid},
    {"++", K::PlusPlus, 1, 2, icInvalid},        {"--", K::MinusMinus, 1, 2, icInvalid},
    {"+", K::Plus, 5, 2, icAdd},                 {"-", K::Minus, 5, 2, icSubtract},
    {"&", K::Amp, 2, 2, icInvalid},              {"*", K::Star, 4, 2, icMultiply},
    {"(", K::LParen, 1, 1, icInvalid},           {")", K::RParen, 1, 1, icInvalid},
    {"[", K::LBracket, 1, 1, icInvalid},         {"]", K::RBracket, 1, 1, icInvalid},
    {".", K::Dot, 1, 1, icInvalid},              {"->", K::Arrow, 1, 1, icInvalid},
    {"::", K::Scope, 1, 1, icInvalid},           {"!", K::Not, 2, 2, icInvalid},
    {"sizeof", K::Sizeof, 2, 2, icInvalid},      {"new", K::New, 2, 2, icInvalid},
    {"delete", K::Delete, 2, 2, icInvalid},      {"/", K::Slash, 4, 4, icDivide},
    {"%", K::Percent, 4, 4, icRemainder},        {"<", K::Less, 7, 7, icLess},
    {"<=", K::LessEqual, 7, 7, icLessEqual},     {">", K::Greater, 7, 7, icGreater},
    {">=", K::GreaterEqual, 7, 7, icGreaterEqual}, {"==", K::Equal, 8, 8, icEqual},
    {"!=", K::NotEqual, 8, 8, icNotEqual},       {"&&", K::AndAnd, 12, 12, icLogicalAnd},
    {"||", K::OrOr, 13, 13, icLogicalOr},        {"=", K::Assign, 15, 15, icInvalid},
    {"*=", K::MulAssign, 15, 15, icMultiply},    {"/=", K::DivAssign, 15, 15, icDivide},
    {"%=", K::ModAssign, 15, 15, icRemainder},   {"+=", K::AddAssign, 15, 15, icAdd},
    {"-=", K::SubAssign, 15, 15, icSubtract},    {",", K::Comma, 16, 16, icInvalid},
};
constexpr bool InKindOrder() {
  for (std::size_t i = 0; i < std::size(Operators); ++i)
    if (static_cast<std::size_t>(Operators[i].Kind) != i) return false;
  return true;
}
static_assert(InKindOrder(), "the operator table is indexed by kind");

bool StartsWith(const std::string &s, const std::string &prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

TQDExpression::TQDExpression()
    : Handlers{&TQDExpression::ReduceLevel1,  &TQDExpression::ReduceLevel2,
               &TQDExpression::ReduceLevel3,  &TQDExpression::ReduceLevel4,
               &TQDExpression::ReduceLevel5,  &TQDExpression::ReduceLevel6,
               &TQDExpression::ReduceLevel7,  &TQDExpression::ReduceLevel8,
               &TQDExpression::ReduceLevel9,  &TQDExpression::ReduceLevel10,
               &TQDExpression::ReduceLevel11, &TQDExpression::ReduceLevel12,
               &TQDExpression::ReduceLevel13, &TQDExpression::ReduceLevel14,
               &TQDExpression::ReduceLevel15, &TQDExpression::ReduceLevel16} {
  // The inner functions are the opcodes from icRandomize on, in order.
  for (int code = icRandomize; code <= icRandom; ++code) TInnerFunctions.push_back(OpcodeInfo(code).Formula);
}

// ---------------------------------------------------------------------------
// Classification

TQDExpression::TKind TQDExpression::KindOf(const std::string &text) {
  static const std::unordered_map<std::string, TKind> kinds = [] {
    std::unordered_map<std::string, TKind> map;
    for (const TOperatorRow &row : Operators)
      if (row.Kind != TKind::Operand) map.emplace(row.Text, row.Kind);
    return map;
  }();
  if (text.empty() || text.size() > 6) return TKind::Operand;
  const auto it = kinds.find(text);
  return it == kinds.end() ? TKind::Operand : it->second;
}

int TQDExpression::LevelOf(TKind kind, bool operandOnLeft) {
  const TOperatorRow &row = Operators[static_cast<std::size_t>(kind)];
  return operandOnLeft ? row.LevelAfterOperand : row.LevelOtherwise;
}

std::uint8_t TQDExpression::BinaryCode(TKind kind) { return Operators[static_cast<std::size_t>(kind)].Code; }

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
    ErrorMessage = AllocationFailedText;
    return false;
  }
}

bool TQDExpression::CompileScanned(TQDString &scanner, TQDIntercodeManager &code, std::int32_t &block,
                                   const TConstant &constant) {
  TStringList &tokens = *scanner.Tokens;
  const std::string constPrefix = ChooseTempPrefix(&tokens) + "_const";
  std::size_t constants = 0;
  for (int i = 0; i < static_cast<int>(tokens.size()); ++i) {
    if (!scanner.IsNumberToken(i)) continue;
    std::string &token = tokens[static_cast<std::size_t>(i)];
    if (constant && !constant(token)) return false;
    token = constPrefix + std::to_string(constants++);
  }
  Intercode = &code;
  BlockNumber = &block;
  // The tokens are the parser's now; a long line is not kept twice.
  Tokens = std::move(tokens);
  tokens = TStringList();
  TempCount = 0;
  const bool compiled = Compile();
  BlockNumber = nullptr;
  return compiled;
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
    Cursor = RightToLeft(level) ? Nodes[Tail].Prev : Nodes[Head].Next;
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

}  // namespace velmora
