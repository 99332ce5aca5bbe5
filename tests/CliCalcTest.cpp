// velmora-cli calc, run as a user runs it.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "TestSupport.h"

using velmora::test::RunCli;
using TResult = velmora::test::TCliResult;

TEST(CliCalc, ValuesPersistAcrossLines) {
  const TResult r = RunCli("calc", "a = 3\nb = a * 2 + 1 // note\n\n  \nlog(2, 8)\r\n0.1 + 0.2\nx\n");
  EXPECT_EQ(r.Exit, 0);
  EXPECT_EQ(r.Out, "3\n7\n3\n0.3\n0\n");
  EXPECT_EQ(r.Err, "");
}

TEST(CliCalc, ErrorLinesCarryTheLineNumber) {
  const TResult r = RunCli("calc", "1/0\n\n// c\nsqrt(-1)\n\"open\nfoo(1)\n2 + 2\n");
  EXPECT_EQ(r.Exit, 1);
  EXPECT_EQ(r.Out,
            "定数式(1行目): 0での除算が行われました\n"
            "NAN\n"
            "定数式(5行目): SyntaxError: String is not closed.\n"
            "定数式(5行目): SyntaxError: String is not closed.\n"
            "定数式(6行目): 式の文法エラー.\n"
            "4\n");
}

TEST(CliCalc, MathErrorModeReportsAfterEachValue) {
  const TResult r = RunCli("calc --math-errors", "sqrt(-1)\nexp(20000)\n1/0\nr = 1e4000 * 1e4000\n2\n");
  EXPECT_EQ(r.Exit, 1);
  EXPECT_EQ(r.Out,
            "0\n(1)domain error: sqrt(-1)\n"
            "1.18973149535723E4932\n(0)overflow: exp(20000)\n"
            "1.18973149535723E4932\n(0)zero division\n"
            "定数式(4行目): 数式の実行中にエラーが発生しました\n"
            "2\n");
}

// 80-bit powl leaves its overflow or underflow flag set on these finite
// results; the results are just results, with no record and no fault.
TEST(CliCalc, FinitePowersNearTheRangeLimitsAreNoFault) {
  const std::string lines = "pow(1e2000, 2)\npow(1e1500, 3)\npow(1e2467, 1)\npow(1e-3000, -1)\nv = pow(1e2000, 2)\n";
  for (const char *command : {"calc --math-errors", "calc"}) {
    const TResult r = RunCli(command, lines);
    EXPECT_EQ(r.Exit, 0) << command;
    EXPECT_EQ(r.Out, "1E4000\n1E4500\n1E2467\n1E3000\n1E4000\n") << command;
  }
}

TEST(CliCalc, DumpsTokensAndIntercode) {
  TResult r = RunCli("calc --dump=tokens", "x＝１２．５Ｅ－３ // c\n\n\"a\"\n");
  EXPECT_EQ(r.Out, "\u2039x\u203A\u2039=\u203A\u203912.5E-3\u203A\n0.0125\n"
                   "\u2039\"\u203A\u2039a\u203A\u2039\"\u203A\n定数式(3行目): 数式の処理に失敗した\n");
  r = RunCli("calc --dump=intercode", "x = a + b * 2\nsin(1, 2, 3)\n");
  EXPECT_EQ(r.Out,
            "0\t9\t0\t__temp1\t\t\n"
            "1\t0\t0\t__temp0\tno_type\t\n"
            "2\t20\t0\t&__temp0\t&b\t&__temp_const0\n"
            "3\t0\t0\t__temp1\tno_type\t\n"
            "4\t18\t0\t&__temp1\t&a\t&__temp0\n"
            "5\t16\t0\t&x\t&__temp1\t\n"
            "6\t17\t0\t__temp2\t&x\t\n"
            "7\t10\t0\t__temp1\t\t\n"
            "0\n"
            "0\t9\t0\t__temp1\t\t\n"
            "1\t0\t0\t__temp0\tno_type\t\n"
            "定数式(2行目): sinの引数が多すぎます.\n");
  EXPECT_EQ(r.Exit, 1);
}

TEST(CliCalc, GeneratorStartsFromTheSameStateEveryRun) {
  for (int run = 0; run < 2; ++run) {
    const TResult r = RunCli("calc", "random(10)\nrandom(10)\nrandom(10)\nrandom(2147483647)\n");
    EXPECT_EQ(r.Out, "9\n4\n6\n576821944\n");
  }
}

TEST(CliCalc, FileArgumentAndUsage) {
  const std::string path = "/tmp/velmora-cli-input-" + std::to_string(getpid());
  std::ofstream(path) << "2 * 21\n";
  EXPECT_EQ(RunCli("calc '" + path + "'", "").Out, "42\n");
  EXPECT_EQ(RunCli("calc -", "1 + 1").Out, "2\n");
  std::remove(path.c_str());

  for (const char *bad : {"calc --dump=words", "calc --frobnicate", "calc a b", "paint", ""}) {
    const TResult r = RunCli(bad, "");
    EXPECT_EQ(r.Exit, 2) << bad;
    EXPECT_NE(r.Err.find("usage:"), std::string::npos) << bad;
    EXPECT_EQ(r.Out, "");
  }
  const TResult missing = RunCli("calc /nonexistent/file", "");
  EXPECT_EQ(missing.Exit, 2);
  EXPECT_FALSE(missing.Err.empty());
}
