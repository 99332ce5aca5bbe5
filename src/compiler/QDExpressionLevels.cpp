// The level handlers of TQDExpression: each reduces one operator of its
// precedence level (groups and calls, prefix operators, the binary levels,
// assignments, the comma), emitting its instructions.
#include <new>

#include "compiler/QDExpression.h"

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

}  // namespace

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
  const int i = RightToLeft(level) ? FindLastNode(level) : FindFirstNode(level);
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
  if (RightToLeft(level) && Nodes[Cursor].Next != Tail) Cursor = Nodes[Cursor].Next;
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
