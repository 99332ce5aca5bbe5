#include "text/FloatFormat.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

using velmora::text::FormatGeneral;

TEST(FloatFormat, FixedWhileItFits) {
  EXPECT_EQ(FormatGeneral(400), "400");
  EXPECT_EQ(FormatGeneral(-0.5L), "-0.5");
  EXPECT_EQ(FormatGeneral(0), "0");
  EXPECT_EQ(FormatGeneral(-0.0L), "0");
  EXPECT_EQ(FormatGeneral(3), "3");
  EXPECT_EQ(FormatGeneral(0.1L), "0.1");
  EXPECT_EQ(FormatGeneral(1.0L / 3), "0.333333333333333");
  EXPECT_EQ(FormatGeneral(2.0L / 3), "0.666666666666667");
  EXPECT_EQ(FormatGeneral(123456789012345.0L), "123456789012345");
  EXPECT_EQ(FormatGeneral(0.00001L), "0.00001");
  EXPECT_EQ(FormatGeneral(0.0000123L), "0.0000123");
  EXPECT_EQ(FormatGeneral(3.14159265358979323846L), "3.14159265358979");
  EXPECT_EQ(FormatGeneral(1e14L), "100000000000000");
}

TEST(FloatFormat, ScientificOtherwise) {
  EXPECT_EQ(FormatGeneral(1.5e-10L), "1.5E-10");
  EXPECT_EQ(FormatGeneral(LDBL_MAX), "1.18973149535723E4932");
  EXPECT_EQ(FormatGeneral(-LDBL_MAX), "-1.18973149535723E4932");
  EXPECT_EQ(FormatGeneral(1e15L), "1E15");
  EXPECT_EQ(FormatGeneral(1234567890123456.0L), "1.23456789012346E15");
  EXPECT_EQ(FormatGeneral(999999999999999.9L), "1E15") << "the layout follows the rounded value";
  EXPECT_EQ(FormatGeneral(0.000009L), "9E-6");
  EXPECT_EQ(FormatGeneral(LDBL_TRUE_MIN), "3.64519953188247E-4951");
  EXPECT_EQ(FormatGeneral(2e20L), "2E20");
}

TEST(FloatFormat, NonFinite) {
  EXPECT_EQ(FormatGeneral(std::numeric_limits<long double>::quiet_NaN()), "NAN");
  EXPECT_EQ(FormatGeneral(std::numeric_limits<long double>::infinity()), "INF");
  EXPECT_EQ(FormatGeneral(-std::numeric_limits<long double>::infinity()), "-INF");
}
