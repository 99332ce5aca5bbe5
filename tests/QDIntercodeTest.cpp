#include "compiler/QDIntercode.h"

#include <gtest/gtest.h>

#include <climits>

using velmora::TQDIntercode;
using velmora::TQDIntercodeManager;

namespace {
TQDIntercode Item(int n) {
  TQDIntercode c;
  c.Code = velmora::icAdd;
  c.ArgCount = n;
  c.Operand1 = "&t" + std::to_string(n);
  c.Operand2 = "&a";
  c.Operand3 = "&b";
  c.Operand4 = "four";
  return c;
}
}  // namespace

TEST(QDIntercodeManager, StartsWith500Slots) {
  TQDIntercodeManager m;
  EXPECT_EQ(m.Capacity, 500);
  EXPECT_EQ(m.GetCount(), 0);
  EXPECT_TRUE(m.ErrorMessage.empty());
}

TEST(QDIntercodeManager, GrowsByDoublingAndKeepsOrder) {
  TQDIntercodeManager m;
  for (int i = 0; i < 499; ++i) ASSERT_TRUE(m.Add(Item(i)));
  EXPECT_EQ(m.Capacity, 500) << "499 fit without growing";
  ASSERT_TRUE(m.Add(Item(499)));
  EXPECT_EQ(m.Capacity, 1000);
  EXPECT_EQ(m.Count, 500);
  for (int i = 0; i < 500; ++i) {
    const TQDIntercode c = m.Get(i);
    ASSERT_EQ(c.ArgCount, i);
    EXPECT_EQ(c.Code, velmora::icAdd);
    EXPECT_EQ(c.Operand1, "&t" + std::to_string(i));
    EXPECT_EQ(c.Operand3, "&b");
    EXPECT_EQ(c.Operand4, "four");
  }
  for (int i = 500; i < 999; ++i) ASSERT_TRUE(m.Add(Item(i)));
  EXPECT_EQ(m.Capacity, 1000);
  ASSERT_TRUE(m.Add(Item(999)));
  EXPECT_EQ(m.Capacity, 2000) << "the next doubling comes when Count reaches 999";
  EXPECT_LT(m.Count, m.Capacity);
}

TEST(QDIntercodeManager, BadIndexGivesAnInvalidRecord) {
  TQDIntercodeManager m;
  m.Add(Item(7));
  for (int bad : {-1, 1, 500}) {
    const TQDIntercode c = m.Get(bad);
    EXPECT_EQ(c.Code, velmora::icInvalid);
    EXPECT_EQ(c.Code, 63);
    EXPECT_TRUE(c.Operand1.empty() && c.Operand2.empty() && c.Operand3.empty() && c.Operand4.empty());
    EXPECT_EQ(m.ErrorMessage, "index is incorrect");
  }
  EXPECT_EQ(m.Get(0).ArgCount, 7);
  EXPECT_TRUE(m.ErrorMessage.empty()) << "a good Get empties the message";
  m.Get(5);
  m.Add(Item(8));
  EXPECT_TRUE(m.ErrorMessage.empty()) << "so does Add";
}

TEST(QDIntercodeManager, ClearKeepsTheGrownCapacity) {
  TQDIntercodeManager m;
  for (int i = 0; i < 600; ++i) m.Add(Item(i));
  m.Clear();
  EXPECT_EQ(m.GetCount(), 0);
  EXPECT_EQ(m.Capacity, 1000);
  m.Add(Item(42));
  EXPECT_EQ(m.Get(0).ArgCount, 42);
}

TEST(QDIntercodeManager, FailedGrowthKeepsEverything) {
  TQDIntercodeManager m;
  m.Add(Item(1));
  EXPECT_FALSE(m.Grow(INT_MAX)) << "a capacity that does not fit counts as out of memory";
  EXPECT_EQ(m.ErrorMessage, "Memory allocation has been failed.");
  EXPECT_EQ(m.Capacity, 500);
  EXPECT_EQ(m.Count, 1);
  EXPECT_EQ(m.Get(0).ArgCount, 1);

  TQDIntercodeManager empty;
  empty.Items.clear();
  empty.Capacity = 0;  // what a failed construction leaves
  EXPECT_FALSE(empty.Add(Item(1)));
  EXPECT_EQ(empty.ErrorMessage, "Memory allocation has been failed.");
  EXPECT_EQ(empty.Count, 0);
}
