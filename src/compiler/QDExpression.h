#pragma once
// TQDExpression: compiles the token list of one formula line into intermediate
// code. It visits 16 precedence levels, highest first; on each level it reduces
// one operator at a time, emitting its instructions and replacing the operator
// and its operands by one token naming the result (normally a new temporary).
// Parentheses and calls are reduced on level 1 by compiling their contents alone.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "compiler/QDIntercode.h"
#include "formula/QDString.h"

namespace velmora {

class TQDExpression {
 public:
  static constexpr int LevelCount = 16;
  // Levels whose handler reduces the rightmost operator first.
  static constexpr bool RightToLeft(int level) { return level == 2 || level == 13 || level == 15; }
  // Deepest nesting of parentheses and calls that is compiled.
  static constexpr int MaxNesting = 256;

  TQDExpression();

  std::vector<std::string> TInnerFunctions;  // from the opcode table

  std::string TempPrefix = "__temp";
  std::int32_t TempCount = 0;
  std::int32_t *BlockNumber = nullptr;  // owned by the caller
  TStringList Tokens;                   // the working token list
  TQDIntercodeManager *Intercode = nullptr;
  std::string ErrorMessage;
  // The last compilation failed because memory ran out.
  bool OutOfMemory = false;

  std::string ChooseTempPrefix(const TStringList *tokens);
  bool Compile();
  // The whole compilation of a scanned line, as the engine does it: chooses the
  // temporaries' prefix, names the number tokens "<prefix>_const0",
  // "<prefix>_const1", ... in order (first offering each to `constant`, which
  // may refuse it: then false, with nothing compiled), takes the tokens over
  // and compiles them into `code` with block number `block`.
  using TConstant = std::function<bool(const std::string &number)>;
  bool CompileScanned(TQDString &scanner, TQDIntercodeManager &code, std::int32_t &block,
                      const TConstant &constant = {});

  // These look at Tokens as it stands.
  int Precedence(int index) const;
  int FindFirst(int level) const;
  int FindLast(int level) const;
  bool IsModifiableLvalue(int index) const;
  int FindClosingParen(int open) const;

  std::string AddressOf(const std::string &token);
  bool CompileCall(const std::string &name, TStringList *args);
  bool InnerFunctionCode(const std::string &name, std::uint8_t &code) const;
  static void RemoveCommas(TStringList *list);

  // The level handlers, meaningful while Compile runs: each reduces one operator
  // of its level in the token range being compiled and returns true, or returns
  // false when none is left or after setting ErrorMessage.
  bool ReduceLevel1();
  bool ReduceLevel2();
  bool ReduceLevel3() { return false; }
  bool ReduceLevel4();
  bool ReduceLevel5();
  bool ReduceLevel6() { return false; }
  bool ReduceLevel7();
  bool ReduceLevel8();
  bool ReduceLevel9() { return false; }
  bool ReduceLevel10() { return false; }
  bool ReduceLevel11() { return false; }
  bool ReduceLevel12();
  bool ReduceLevel13();
  bool ReduceLevel14() { return false; }
  bool ReduceLevel15();
  bool ReduceLevel16();

  // The texts the parser gives a meaning to; anything else is an operand.
  enum class TKind : std::uint8_t {
    Operand, PlusPlus, MinusMinus, Plus, Minus, Amp, Star, LParen, RParen, LBracket, RBracket,
    Dot, Arrow, Scope, Not, Sizeof, New, Delete, Slash, Percent, Less, LessEqual, Greater,
    GreaterEqual, Equal, NotEqual, AndAnd, OrOr, Assign, MulAssign, DivAssign, ModAssign,
    AddAssign, SubAssign, Comma
  };
  static TKind KindOf(const std::string &text);
  // Level of a token of this kind given whether an operand stands to its left.
  static int LevelOf(TKind kind, bool operandOnLeft);
  // The instruction of a binary or compound assignment operator, else icInvalid.
  static std::uint8_t BinaryCode(TKind kind);

 private:
  bool CompileTokens();
  using THandler = bool (TQDExpression::*)();
  THandler Handlers[LevelCount];

  // While compiling, the tokens live in a doubly linked list so that a reduction
  // costs O(1) and the search for the next operator resumes where it stopped:
  // a reduction never changes the level of tokens to the left of the replaced
  // range (a token's level depends only on its text and on whether its left
  // neighbour is an operand), nor of those more than one place to its right.
  struct TNode {
    std::string Text;  // after Stars times "*"
    int Stars = 0;
    int Prev = -1;
    int Next = -1;
    TKind Kind = TKind::Operand;
  };
  std::vector<TNode> Nodes;
  std::vector<int> Closing;  // for each "(" node its ")" node, or -1
  int Head = -1;    // sentinel before the range being compiled ("(" of a group)
  int Tail = -1;    // sentinel after it (its ")")
  int Cursor = -1;  // where the search for the current level resumes
  int Depth = 0;
  bool TokensKept = false;  // Tokens already holds the list as it stood at an error

  bool RunLevels(int head, int tail, int lastLevel);
  bool IsOperandNode(int node) const { return node != Head && node != Tail && Nodes[node].Kind == TKind::Operand; }
  int NodeLevel(int node) const;
  int FindFirstNode(int level);
  int FindLastNode(int level);
  int FindClosingNode(int open) const;
  bool IsModifiableLvalueText(const std::string &text, TKind kind) const;
  int Replace(int first, int last, std::string text);
  // The node's whole text (its counted "*"s written out).
  std::string &TextOf(int node);
  void KeepTokens(int head, int tail);
  std::string NewTemp();
  void Emit(std::uint8_t code, std::string o1, std::string o2 = {}, std::string o3 = {},
            std::int32_t argCount = 0);
  bool ReduceBinary(int level);
  bool ReduceParen(int open);
};

}  // namespace velmora
