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

namespace {

using velmora::test::Dump;

struct TCompiled {
  bool Ok = false;
  std::string Error;
  L Code;  // icBegin and icEnd left out unless asked for
  L Rest;  // the parser's token list afterwards
  std::string Prefix;
};

// Compiles one line the way the engine does.
TCompiled CompileLine(const std::string &line, bool withFrame = false) {
  TQDString scanner;
  scanner.Text = line;
  EXPECT_TRUE(scanner.Tokenize()) << line << ": " << scanner.ErrorMessage;
  TQDExpression parser;
  TQDIntercodeManager manager;
  std::int32_t block = 1;
  TCompiled r;
  r.Ok = parser.CompileScanned(scanner, manager, block);
  r.Error = parser.ErrorMessage;
  r.Rest = parser.Tokens;
  r.Prefix = parser.TempPrefix;
  for (int i = 0; i < manager.GetCount(); ++i) {
    const TQDIntercode c = manager.Get(i);
    if (!withFrame && (c.Code == velmora::icBegin || c.Code == velmora::icEnd)) continue;
    r.Code.push_back(Dump(c));
  }
  EXPECT_EQ(block, 2) << "the block number is used once per compilation";
  return r;
}

std::string ErrorOf(const std::string &line) {
  TCompiled r = CompileLine(line);
  EXPECT_FALSE(r.Ok) << line;
  return r.Error;
}

// Runs fn on a thread with a small stack, as a worker thread of the program would have.
void RunWithStack(std::size_t bytes, const std::function<void()> &fn) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, bytes);
  pthread_t thread;
  auto trampoline = [](void *arg) -> void * {
    (*static_cast<const std::function<void()> *>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, trampoline, const_cast<std::function<void()> *>(&fn)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

}  // namespace

TEST(QDExpressionCompile, WorkedExampleGivesExactlyEightInstructions) {
  TCompiled r = CompileLine("x = a + b * 2", true);
  ASSERT_TRUE(r.Ok) << r.Error;
  EXPECT_EQ(r.Code, (L{"icBegin __temp1", "icDeclare __temp0 no_type",
                       "icMultiply &__temp0 &b &__temp_const0", "icDeclare __temp1 no_type",
                       "icAdd &__temp1 &a &__temp0", "icAssign &x &__temp1", "icBind __temp2 &x",
                       "icEnd __temp1"}));
  EXPECT_EQ(r.Rest, (L{"__temp2"}));
}

TEST(QDExpressionCompile, AssociativityFollowsEachLevelsDirection) {
  EXPECT_EQ(CompileLine("a - b - c").Code,
            (L{"icDeclare __temp0 no_type", "icSubtract &__temp0 &a &b", "icDeclare __temp1 no_type",
               "icSubtract &__temp1 &__temp0 &c"}));
  EXPECT_EQ(CompileLine("a = b = c").Code,
            (L{"icAssign &b &c", "icBind __temp0 &b", "icAssign &a &__temp0", "icBind __temp1 &a"}));
  EXPECT_EQ(CompileLine("a || b || c").Code[1], "icLogicalOr &__temp0 &b &c");
  EXPECT_EQ(CompileLine("a && b && c").Code[1], "icLogicalAnd &__temp0 &a &b");
  EXPECT_EQ(CompileLine("a / b * c").Code[1], "icDivide &__temp0 &a &b");
  EXPECT_EQ(CompileLine("a + b * c < d == e").Code,
            (L{"icDeclare __temp0 no_type", "icMultiply &__temp0 &b &c", "icDeclare __temp1 no_type",
               "icAdd &__temp1 &a &__temp0", "icDeclare __temp2 no_type", "icLess &__temp2 &__temp1 &d",
               "icDeclare __temp3 no_type", "icEqual &__temp3 &__temp2 &e"}));
}

TEST(QDExpressionCompile, PrefixOperators) {
  EXPECT_EQ(CompileLine("-x").Code, (L{"icDeclare __temp0 no_type", "icNegate &__temp0 &x"}));
  EXPECT_EQ(CompileLine("+x").Code, (L{"icBind __temp0 &x"}));
  EXPECT_EQ(CompileLine("!x").Code, (L{"icDeclare __temp0 no_type", "icLogicalNot &__temp0 &x"}));
  EXPECT_EQ(CompileLine("++x").Code, (L{"icIncrement &x", "icBind __temp0 &x"}));
  EXPECT_EQ(CompileLine("--x").Code, (L{"icDecrement &x", "icBind __temp0 &x"}));
  // Rightmost first: "!" applies before "-".
  EXPECT_EQ(CompileLine("- ! a").Code,
            (L{"icDeclare __temp0 no_type", "icLogicalNot &__temp0 &a", "icDeclare __temp1 no_type",
               "icNegate &__temp1 &__temp0"}));
  EXPECT_EQ(CompileLine("a - - b").Code,
            (L{"icDeclare __temp0 no_type", "icNegate &__temp0 &b", "icDeclare __temp1 no_type",
               "icSubtract &__temp1 &a &__temp0"}));
}

TEST(QDExpressionCompile, AssignmentsAndTheirResults) {
  EXPECT_EQ(CompileLine("x += 2").Code, (L{"icAdd &x &x &__temp_const0", "icBind __temp0 &x"}));
  EXPECT_EQ(CompileLine("x -= y").Code[0], "icSubtract &x &x &y");
  EXPECT_EQ(CompileLine("x *= y").Code[0], "icMultiply &x &x &y");
  EXPECT_EQ(CompileLine("x /= y").Code[0], "icDivide &x &x &y");
  EXPECT_EQ(CompileLine("x %= y").Code[0], "icRemainder &x &x &y");
  const std::string lvalue = "代入演算子の左オペランドは変更可能な左辺値でなければならない";
  EXPECT_EQ(ErrorOf("++x = 1"), lvalue);
  EXPECT_EQ(ErrorOf("3 = x"), lvalue);
  EXPECT_EQ(ErrorOf("++3"), "前置インクリメント演算子または前置デクリメント演算子のオペランドは変更可能な左辺値でなければならない");
  EXPECT_EQ(ErrorOf("= a"), "代入演算子の左側は単項式でなければならない");
  EXPECT_EQ(ErrorOf("a ="), "代入演算子の右側は代入式でなければならない");
  EXPECT_EQ(ErrorOf("a = = b"), "代入演算子の左側は単項式でなければならない") << "rightmost first";
}

TEST(QDExpressionCompile, CommaOperator) {
  EXPECT_EQ(ErrorOf(", a"), "コンマ算子の左側は式でなければならない");
  EXPECT_EQ(ErrorOf("a ,"), "コンマ演算子の右側は代入式でなければならない");
  TCompiled r = CompileLine("a, b");
  EXPECT_EQ(r.Code, (L{"icBind __temp0 &b"}));
  EXPECT_EQ(r.Rest, (L{"__temp0"}));
  r = CompileLine("a, 2");
  EXPECT_TRUE(r.Code.empty());
  EXPECT_EQ(r.Rest, (L{"__temp_const0"}));
}

TEST(QDExpressionCompile, BinaryOperatorMessages) {
  EXPECT_EQ(ErrorOf("/ a"), "二項(*,/,%)演算子の左側は乗除式でなければならない");
  EXPECT_EQ(ErrorOf("a * / b"), "二項(*,/,%)演算子の右側はキャスト式でなければならない");
  EXPECT_EQ(ErrorOf("a +"), "二項(+,-)演算子の右側は乗除式でなければならない");
  EXPECT_EQ(ErrorOf("< a"), "関係演算子(>,>=,<,<=)の左側は関係式でなければならない");
  EXPECT_EQ(ErrorOf("a >="), "関係演算子(>,>=,<,<=)の右側はシフト式でなければならない");
  EXPECT_EQ(ErrorOf("== a"), "等価演算子(==,!=)の左側は等価式でなければならない");
  EXPECT_EQ(ErrorOf("a !="), "等価演算子(==,!=)の右側は関係式でなければならない");
  EXPECT_EQ(ErrorOf("&& a"), "論理AND演算子(&&)の左側は論理AND式でなければならない");
  EXPECT_EQ(ErrorOf("a &&"), "論理AND演算子(&&)の右側はOR式でなければならない");
  EXPECT_EQ(ErrorOf("|| a"), "論理OR演算子(||)の左側は論理OR式でなければならない");
  EXPECT_EQ(ErrorOf("a ||"), "論理OR演算子(||)の右側は論理AND式でなければならない");
}

TEST(QDExpressionCompile, PrefixOperatorMessages) {
  EXPECT_EQ(ErrorOf("!"), "!演算子の右側は単項式でなければならない");
  EXPECT_EQ(ErrorOf("+"), "単項+演算子の右側は単項式でなければならない");
  EXPECT_EQ(ErrorOf("x = -"), "単項-演算子の右側は単項式でなければならない");
  EXPECT_EQ(ErrorOf("++"), "前置インクリメント演算子または前置デクリメント演算子の右側は単項式でなければならない");
  EXPECT_EQ(ErrorOf("&"), "単項&演算子の右側は単項式でなければならない");
  EXPECT_EQ(ErrorOf("*"), "単項*演算子の右側は単項式でなければならない");
  EXPECT_EQ(ErrorOf("sizeof x"), "-undefined-");
  EXPECT_EQ(ErrorOf("new x"), "-undefined-");
  EXPECT_EQ(ErrorOf("delete"), "-undefined-");
}

TEST(QDExpressionCompile, AddressOperators) {
  TCompiled r = CompileLine("&x");
  EXPECT_TRUE(r.Ok);
  EXPECT_TRUE(r.Code.empty());
  EXPECT_EQ(r.Rest, (L{"&x"}));
  EXPECT_EQ(CompileLine("*&x").Rest, (L{"x"}));
  EXPECT_EQ(CompileLine("*x").Rest, (L{"*x"}));
  EXPECT_EQ(CompileLine("& &x").Rest, (L{"&&x"}));
  EXPECT_EQ(ErrorOf("& &x + 1"), "アドレス演算子は重複してはならない");
  EXPECT_EQ(ErrorOf("&&x"), "論理AND演算子(&&)の左側は論理AND式でなければならない");
  // "&" between operands is still the prefix operator.
  EXPECT_EQ(CompileLine("a & b").Rest, (L{"a", "&b"}));
}

TEST(QDExpressionCompile, UnknownOperatorsAreLeftForTheEngine) {
  EXPECT_EQ(CompileLine("x << 1").Rest, (L{"x", "<<", "__temp_const0"}));
  EXPECT_EQ(CompileLine("2x").Rest, (L{"__temp_const0", "x"}));
  EXPECT_EQ(CompileLine("x^2").Rest, (L{"x", "^", "__temp_const0"}));
}

TEST(QDExpressionCompile, TemporaryPrefixAvoidsTheFormulasNames) {
  EXPECT_EQ(CompileLine("__tempX = 1").Prefix, "___temp");
  EXPECT_EQ(CompileLine("__tempX = ___tempY").Prefix, "____temp");
  EXPECT_EQ(CompileLine("___tempY = 1").Prefix, "__temp");
  EXPECT_EQ(CompileLine("_temp = __te").Prefix, "__temp");
  TCompiled r = CompileLine("__temp0 = 2");
  EXPECT_EQ(r.Code, (L{"icAssign &__temp0 &___temp_const0", "icBind ___temp0 &__temp0"}));
}

TEST(QDExpressionCompile, ChooseTempPrefixMatchesTheRestartingSearch) {
  // The literal search: restart from the first token whenever one begins with p.
  auto literal = [](const L &tokens) {
    std::string p = "__temp";
    for (std::size_t i = 0; i < tokens.size();) {
      if (tokens[i].compare(0, p.size(), p) == 0) {
        p = "_" + p;
        i = 0;
      } else {
        ++i;
      }
    }
    return p;
  };
  const L pieces = {"_", "__", "temp", "tem", "x", "__temp", "t"};
  std::mt19937 rng(7);
  TQDExpression parser;
  for (int round = 0; round < 5000; ++round) {
    L tokens;
    for (int t = static_cast<int>(rng() % 5); t > 0; --t) {
      std::string token;
      for (int k = static_cast<int>(rng() % 5); k > 0; --k) token += pieces[rng() % pieces.size()];
      tokens.push_back(token);
    }
    ASSERT_EQ(parser.ChooseTempPrefix(&tokens), literal(tokens)) << "round " << round;
    EXPECT_EQ(parser.TempPrefix, literal(tokens));
  }
}

TEST(QDExpressionCompile, NoManagerLinked) {
  TQDExpression parser;
  parser.Tokens = {"a"};
  EXPECT_FALSE(parser.Compile());
  EXPECT_EQ(parser.ErrorMessage, "Compile Error:中間コードマネージャがリンクされていない");
}

TEST(QDExpressionGroups, ParenthesesAndCalls) {
  TCompiled r = CompileLine("(a)");
  EXPECT_TRUE(r.Code.empty());
  EXPECT_EQ(r.Rest, (L{"a"}));
  EXPECT_EQ(CompileLine("((a))").Rest, (L{"a"}));
  r = CompileLine("(a, b)");
  EXPECT_EQ(r.Code, (L{"icBind __temp0 &b"}));
  EXPECT_EQ(r.Rest, (L{"__temp0"}));
  EXPECT_EQ(CompileLine("f((a, b))").Code, (L{"icBind __temp0 &b", "icCall f #1"}));
  EXPECT_EQ(CompileLine("f(a, b)").Code, (L{"icCall f #2"}));
  EXPECT_EQ(ErrorOf("()"), "括弧の中身が空白");
  EXPECT_EQ(CompileLine("randomize()").Code, (L{"icDeclare __temp0 no_type", "icRandomize __temp0 #0"}));
  EXPECT_EQ(CompileLine("sin(x)").Code, (L{"icDeclare __temp0 no_type", "icSin &__temp0 &x #1"}));
  EXPECT_EQ(CompileLine("pow(x, 2)").Code,
            (L{"icDeclare __temp0 no_type", "icPow &__temp0 &x &__temp_const0 #2"}));
  EXPECT_EQ(ErrorOf("sin(x, y, z)"), "sinの引数が多すぎます.");
  r = CompileLine("Sin(x)");
  EXPECT_EQ(r.Code, (L{"icCall Sin #1"}));
  EXPECT_EQ(r.Rest, (L{"__temp0"}));
  EXPECT_EQ(CompileLine("2(3)").Code, (L{"icCall __temp_const0 #1"}));
  EXPECT_EQ(CompileLine("f(a)(b)").Code, (L{"icCall f #1", "icCall __temp0 #1"}));
  EXPECT_EQ(CompileLine("f(a,,b)").Code, (L{"icCall f #2"}));
  EXPECT_EQ(CompileLine("f(a,b,)").Code, (L{"icCall f #2"}));
  EXPECT_EQ(CompileLine("f(a b)").Code, (L{"icCall f #2"}));
  EXPECT_EQ(CompileLine("f(, a)").Code, (L{"icCall f #1"}));
  EXPECT_EQ(CompileLine("sin").Rest, (L{"sin"})) << "function names are not reserved";
  // Argument code comes before the call that uses it, numbered in reduction order.
  EXPECT_EQ(CompileLine("r = 128 + 127*sin(x/10)").Code,
            (L{"icDeclare __temp0 no_type", "icDivide &__temp0 &x &__temp_const2",
               "icDeclare __temp1 no_type", "icSin &__temp1 &__temp0 #1", "icDeclare __temp2 no_type",
               "icMultiply &__temp2 &__temp_const1 &__temp1", "icDeclare __temp3 no_type",
               "icAdd &__temp3 &__temp_const0 &__temp2", "icAssign &r &__temp3", "icBind __temp4 &r"}));
}

TEST(QDExpressionGroups, EveryInnerFunctionHasItsCode) {
  TQDExpression parser;
  ASSERT_EQ(parser.TInnerFunctions.size(), 27u);
  std::uint8_t code = 0;
  for (std::size_t k = 0; k < parser.TInnerFunctions.size(); ++k) {
    ASSERT_TRUE(parser.InnerFunctionCode(parser.TInnerFunctions[k], code));
    EXPECT_EQ(code, 35 + k);
  }
  EXPECT_TRUE(parser.InnerFunctionCode("random", code));
  EXPECT_EQ(code, velmora::icRandom);
  EXPECT_TRUE(parser.InnerFunctionCode("log10", code));
  EXPECT_EQ(code, velmora::icLog10);
  EXPECT_FALSE(parser.InnerFunctionCode("Sin", code));
  EXPECT_FALSE(parser.InnerFunctionCode("", code));
  EXPECT_STREQ(velmora::IntercodeName(velmora::icMod), "icMod");
}

TEST(QDExpressionGroups, BracketMessages) {
  EXPECT_EQ(ErrorOf("(a b)"), "Syntax Error: 括弧内に定義されていないシンボルが含まれている");
  EXPECT_EQ(ErrorOf("(a << 1)"), "Syntax Error: 括弧内に定義されていないシンボルが含まれている");
  EXPECT_EQ(ErrorOf("(a"), "括弧が閉じていない");
  EXPECT_EQ(ErrorOf("a)"), "対応する括弧(\"(\"または\"[\")が見つからない");
  EXPECT_EQ(ErrorOf("a]"), "対応する括弧(\"(\"または\"[\")が見つからない");
  EXPECT_EQ(ErrorOf("a[1]"), "-undefined-");
  EXPECT_EQ(ErrorOf("a.b"), "-undefined-");
  EXPECT_EQ(ErrorOf("p->x"), "-undefined-");
  EXPECT_EQ(ErrorOf("a::b"), ":: is not defined in Quindraft+ with this version.");
  EXPECT_EQ(ErrorOf("a[1] + (b"), "-undefined-") << "the leftmost problem is reported";
  EXPECT_EQ(ErrorOf(".5"), "-undefined-");
  EXPECT_EQ(ErrorOf("f(sin(a, b, c))"), "sinの引数が多すぎます.");
  // A failed group leaves the parser's list holding that group's tokens.
  TCompiled r = CompileLine("x + (a b)");
  EXPECT_EQ(r.Rest, (L{"a", "b"}));
}

TEST(QDExpressionGroups, PostfixIncrementAndDecrement) {
  EXPECT_EQ(CompileLine("x++").Code,
            (L{"icDeclare __temp0 no_type", "icAssign &__temp0 &x", "icIncrement &x"}));
  EXPECT_EQ(CompileLine("x--").Code,
            (L{"icDeclare __temp0 no_type", "icAssign &__temp0 &x", "icDecrement &x"}));
  EXPECT_EQ(CompileLine("(x)++").Code, CompileLine("x++").Code);
  EXPECT_EQ(ErrorOf("3++"), "後置インクリメント演算子または後置デクリメント演算子のオペランドは変更可能な左辺値でなければならない");
  EXPECT_EQ(ErrorOf("(a + b)++"), "後置インクリメント演算子または後置デクリメント演算子のオペランドは変更可能な左辺値でなければならない");
  // "a ++ b": postfix on a, then two operands remain.
  EXPECT_EQ(CompileLine("a ++ b").Rest, (L{"__temp0", "b"}));
  EXPECT_EQ(CompileLine("a+++b").Code,
            (L{"icDeclare __temp0 no_type", "icAssign &__temp0 &a", "icIncrement &a",
               "icDeclare __temp1 no_type", "icAdd &__temp1 &__temp0 &b"}));
}

TEST(QDExpressionQueries, IndexBasedHelpersLookAtTokens) {
  TQDExpression parser;
  parser.Tokens = {"-", "a", "-", "-", "b", "*", "c", "++", "&", "*", "x", "(", ")"};
  EXPECT_EQ(parser.Precedence(0), 2);
  EXPECT_EQ(parser.Precedence(1), 0);
  EXPECT_EQ(parser.Precedence(2), 5);
  EXPECT_EQ(parser.Precedence(3), 2);
  EXPECT_EQ(parser.Precedence(5), 4);
  EXPECT_EQ(parser.Precedence(7), 1);
  EXPECT_EQ(parser.Precedence(8), 2);
  EXPECT_EQ(parser.Precedence(9), 2);
  EXPECT_EQ(parser.Precedence(-1), 0);
  EXPECT_EQ(parser.Precedence(13), 0);
  EXPECT_EQ(parser.FindFirst(2), 0);
  EXPECT_EQ(parser.FindLast(2), 9);
  EXPECT_EQ(parser.FindFirst(16), -1);
  EXPECT_EQ(parser.FindClosingParen(11), 12);
  EXPECT_TRUE(parser.IsModifiableLvalue(1));
  EXPECT_FALSE(parser.IsModifiableLvalue(2));
  parser.Tokens = {"__temp3", "*p", "&q", "__temp_const0", "x"};
  EXPECT_FALSE(parser.IsModifiableLvalue(0));
  EXPECT_TRUE(parser.IsModifiableLvalue(1));
  EXPECT_TRUE(parser.IsModifiableLvalue(2));
  EXPECT_FALSE(parser.IsModifiableLvalue(3));
  EXPECT_TRUE(parser.IsModifiableLvalue(4));
  parser.Tokens = {"(", "(", ")", "[", ")"};
  EXPECT_EQ(parser.FindClosingParen(0), 4);
  EXPECT_EQ(parser.FindClosingParen(1), 2);
  parser.Tokens = {"(", "a"};
  EXPECT_EQ(parser.FindClosingParen(0), -1);

  EXPECT_EQ(parser.AddressOf("x"), "&x");
  EXPECT_EQ(parser.AddressOf("*x"), "x");
  EXPECT_EQ(parser.AddressOf("&x"), "&&x");
  EXPECT_TRUE(parser.ErrorMessage.empty());
  EXPECT_EQ(parser.AddressOf("&&x"), "");
  EXPECT_EQ(parser.ErrorMessage, "アドレス演算子は重複してはならない");

  L list = {",", "a", ",", ",", "b", ","};
  TQDExpression::RemoveCommas(&list);
  EXPECT_EQ(list, (L{"a", "b"}));
}

TEST(QDExpressionLimits, HostileNestingFailsCleanlyOnASmallStack) {
  RunWithStack(1 << 20, [] {
    const int n = 100000;
    EXPECT_EQ(ErrorOf(std::string(n, '(') + "a"), "括弧が閉じていない");
    EXPECT_EQ(ErrorOf(std::string(n, '(') + "a+b" + std::string(n, ')')),
              "括弧の入れ子が深すぎる(256重まで)");
    std::string calls;
    for (int i = 0; i < n; ++i) calls += "sin(";
    calls += "x" + std::string(n, ')');
    EXPECT_EQ(ErrorOf(calls), "括弧の入れ子が深すぎる(256重まで)");
    // Nesting within the limit compiles.
    std::string deep;
    for (int i = 0; i < 200; ++i) deep += "sin(";
    deep += "x" + std::string(200, ')');
    EXPECT_TRUE(CompileLine(deep).Ok);
    EXPECT_EQ(ErrorOf(std::string(n, '(') + "a" + std::string(n, ')')), "括弧の入れ子が深すぎる(256重まで)");
    // The scanner pairs the minus signs: the second "--" meets a temporary.
    EXPECT_EQ(ErrorOf(std::string(n, '-') + "a"),
              "前置インクリメント演算子または前置デクリメント演算子のオペランドは変更可能な左辺値でなければならない");
    EXPECT_EQ(ErrorOf("a = " + std::string(n - 1, '-') + " -"), "単項-演算子の右側は単項式でなければならない");
    std::string negations;
    for (int i = 0; i < n; ++i) negations += "- ";
    TCompiled r = CompileLine(negations + "a");
    EXPECT_TRUE(r.Ok);
    EXPECT_EQ(r.Code.size(), 2u * n);
  });
}

TEST(QDExpressionLimits, MegabyteLinesCompile) {
  std::string sum = "r = a";
  while (sum.size() < 1000000) sum += "+b*c";
  TCompiled r = CompileLine(sum);
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Rest.size(), 1u);
  std::string assigns = "a";
  while (assigns.size() < 1000000) assigns += "=a";
  EXPECT_TRUE(CompileLine(assigns).Ok);
}
