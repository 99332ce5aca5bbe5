// The machine on its own: programs over cells with no variable names, its two
// ways of running, its declared inputs and its copies.
#include <gtest/gtest.h>

#include "compiler/Opcodes.h"
#include "engine/Machine.h"
#include "engine/MathErrorManager.h"

using velmora::TMachine;

namespace {

// cell 2 = cell 1 / cell 0, with cell 0 the declared input.
void LoadDivision(TMachine &m, TMachine::TProgram &p) {
  m.MathErrorMode = true;
  m.Cells.resize(3);
  m.Cells[1].Value = 6;
  m.DeclareInputs({0});
  TMachine::TInstruction divide;
  divide.Opcode = velmora::icDivide;
  divide.Operands[0] = {1, 1, 2, 0};
  divide.Operands[1] = {1, 1, 1, 0};
  divide.Operands[2] = {1, 1, 0, 0};
  TMachine::TInstruction end;
  end.Opcode = velmora::icEnd;
  m.Load(p, {divide, end});
}

}  // namespace

TEST(Machine, ARunKeepsItsRecordsAProbeTakesThemBack) {
  velmora::TMathErrorManager records;
  velmora::TThreadMathErrors useRecords(records);
  TMachine m;
  TMachine::TProgram p;
  LoadDivision(m, p);
  ASSERT_EQ(p.WrittenVariables, std::vector<std::int32_t>{2});
  const long double three = 3, zero = 0;
  m.SetInputs(&three);
  m.BeginProbe();
  m.Go(p);
  EXPECT_TRUE(m.End());
  EXPECT_EQ(m.Cells[2].Value, 2);
  // A zero divisor in math error mode: a record, and the substitute value.
  m.SetInputs(&zero);
  m.BeginRun(p.WrittenVariables);
  m.Go(p);
  EXPECT_TRUE(m.End()) << "a run that keeps its records met nothing else";
  EXPECT_EQ(records.Count, 1);
  m.BeginProbe();
  m.Go(p);
  EXPECT_FALSE(m.End()) << "for a probe a record is something";
  EXPECT_EQ(records.Count, 1) << "the probe's record is taken back";
}

TEST(Machine, ACopyRunsOnItsOwnCells) {
  TMachine m;
  TMachine::TProgram p;
  LoadDivision(m, p);
  TMachine::TSequence one;
  one.Set({&p});
  velmora::TMachineCopy copy(m, one);
  const long double four = 4;
  copy.Machine.SetInputs(&four);
  int failed = -1;
  ASSERT_TRUE(copy.Machine.RunChecked(copy.Sequence, failed));
  EXPECT_EQ(copy.Machine.Cells[2].Value, 1.5L);
  EXPECT_EQ(m.Cells[2].Value, 0) << "the original is only read";
  EXPECT_EQ(m.Cells[0].Value, 0);
}
