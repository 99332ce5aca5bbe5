// --dump=steps: the executable instructions as the executor runs them. The
// flags it shows must agree with the code: a register operand is the result of
// the instruction just before, and a result left unstored is never read from
// memory afterwards.
#include "engine/Disassembler.h"

#include <gtest/gtest.h>

#include <sstream>

#include "TestSupport.h"
#include "compiler/Opcodes.h"

using velmora::TArithmeticUnit;
using velmora::TStringList;

namespace {

struct TLine {
  std::string Name;
  std::vector<std::string> Operands;
  bool Acc1 = false, Acc2 = false, NoStore = false;
};

std::vector<std::string> Split(const std::string &s, char by) {
  std::vector<std::string> parts;
  std::stringstream in(s);
  for (std::string part; std::getline(in, part, by);) parts.push_back(part);
  return parts;
}

std::vector<TLine> Parse(const TStringList &dump) {
  std::vector<TLine> lines;
  for (std::size_t i = 1; i < dump.size(); ++i) {
    const std::vector<std::string> fields = Split(dump[i], '\t');
    EXPECT_EQ(fields.size(), 4u) << dump[i];
    if (fields.size() != 4) continue;
    EXPECT_EQ(fields[0], std::to_string(i - 1));
    TLine line;
    line.Name = fields[1];
    line.Operands = Split(fields[2], ' ');
    line.Acc1 = fields[3].find("acc1") != std::string::npos;
    line.Acc2 = fields[3].find("acc2") != std::string::npos;
    line.NoStore = fields[3].find("nostore") != std::string::npos;
    lines.push_back(line);
  }
  return lines;
}

int OpcodeNamed(const std::string &name) {
  for (int code = 0; code < 64; ++code)
    if (name == velmora::OpcodeInfo(code).Name) return code;
  ADD_FAILURE() << name;
  return velmora::icInvalid;
}

bool ReadsFirst(const std::string &name) {
  return name == "icIncrement" || name == "icDecrement" || name == "icEnd";
}

}  // namespace

TEST(Disassembler, FlagsAgreeWithTheCode) {
  const char *const formulas[] = {
      "x = a + b * 2",
      "y = x * x + sin(x) / (x - 1)",
      "r = (x + 1) * (y - 2) + (x + 1) * 3",
      "z = -(a + b) - -(c * d)",
      "t = ++k + k-- * log(2, k + 8)",
      "u = pow(a + 1, b + 2) + mod(a * b, 7) + atan2(a, b)",
      "w = (a = 2, a * 3) + (w += b * c)",
  };
  for (const char *formula : formulas) {
    TArithmeticUnit engine;
    ASSERT_TRUE(engine.SetExpression(0, formula)) << formula << ": " << engine.ErrorMessage;
    const TStringList dump = DisassembleSteps(engine, 0);
    ASSERT_FALSE(dump.empty()) << formula;
    EXPECT_EQ(dump[0].rfind("steps " + std::to_string(dump.size() - 1) + " ", 0), 0u) << dump[0];
    const std::vector<TLine> lines = Parse(dump);
    ASSERT_EQ(lines.back().Name, "icEnd") << formula;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const TLine &l = lines[i];
      const std::size_t first = ReadsFirst(l.Name) ? 0 : 1;
      // The executor has a case for every variant the steps use.
      const int variant = (l.Acc1 ? 1 : 0) | (l.Acc2 ? 2 : 0) | (l.NoStore ? 4 : 0);
      EXPECT_TRUE(velmora::HasVariant(OpcodeNamed(l.Name), variant)) << formula << " @" << i;
      EXPECT_EQ(static_cast<int>(l.Operands.size()), velmora::ShapeOf(OpcodeNamed(l.Name)).Operands) << formula;
      // A register operand is what the previous instruction wrote.
      if (l.Acc1 || l.Acc2) {
        ASSERT_GT(i, 0u) << formula;
        const std::string &previous = lines[i - 1].Operands[0];
        if (l.Acc1) {
          EXPECT_EQ(l.Operands.at(first), previous) << formula << " @" << i;
        }
        if (l.Acc2) {
          EXPECT_EQ(l.Operands.at(2), previous) << formula << " @" << i;
        }
      }
      // An unstored result is never read from memory before it is written again.
      if (!l.NoStore) continue;
      const std::string &place = l.Operands[0];
      EXPECT_NE(place.rfind("v:", 0), 0u) << "variables are always stored: " << formula << " @" << i;
      for (std::size_t j = i + 1; j < lines.size(); ++j) {
        const TLine &n = lines[j];
        const std::size_t nFirst = ReadsFirst(n.Name) ? 0 : 1;
        for (std::size_t k = nFirst; k < n.Operands.size(); ++k) {
          const bool fromRegister = (k == nFirst && n.Acc1) || (k == 2 && n.Acc2);
          EXPECT_FALSE(n.Operands[k] == place && !fromRegister) << formula << ": " << place << " read at " << j;
        }
        if (!ReadsFirst(n.Name) && n.Operands[0] == place) break;
      }
    }
  }
}

TEST(Disassembler, CliPrintsTheStepsOfEachLineBeforeItsValue) {
  const velmora::test::TCliResult r = velmora::test::RunCli("calc --dump=steps", "x = 2 * 3\n\nsqrt(x)\nfoo(\n");
  const TStringList lines = Split(r.Out, '\n');
  ASSERT_GE(lines.size(), 8u) << r.Out;
  std::size_t value = 0;
  while (value < lines.size() && lines[value] != "6") ++value;
  ASSERT_LT(value, lines.size()) << r.Out;
  EXPECT_EQ(lines[0].rfind("steps " + std::to_string(value - 1) + " ", 0), 0u) << "one line per step, then the value";
  EXPECT_NE(r.Out.find("\ticSqrt\t"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("定数式(4行目)"), std::string::npos) << "a line that does not compile has no steps: " << r.Out;
  EXPECT_EQ(r.Exit, 1);
}
