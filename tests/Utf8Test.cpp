#include "text/Utf8.h"

#include <gtest/gtest.h>

using namespace velmora::text;

TEST(Utf8, DecodesCodePointsAndKeepsInvalidBytes) {
  EXPECT_EQ(DecodeUtf8("aｘ変"), (std::u32string{U'a', U'\uFF58', U'\u5909'}));
  EXPECT_EQ(DecodeUtf8("\xF0\x9F\x98\x80"), std::u32string(1, U'\U0001F600'));
  // Overlong, surrogate, truncated and stray bytes are one character each.
  for (const std::string bad : {"\xC0\xAF", "\xED\xA0\x80", "\xE3\x81", "\x80", "\xFF\xFE", "\xF5\x80\x80\x80"}) {
    const std::u32string chars = DecodeUtf8(bad);
    EXPECT_EQ(chars.size(), bad.size()) << "each invalid byte is one character";
    for (char32_t c : chars) EXPECT_TRUE(IsEscapedByte(c));
    EXPECT_EQ(EncodeUtf8(chars), bad) << "and survives the round trip";
    EXPECT_FALSE(IsValidUtf8(bad));
    EXPECT_EQ(CountChars(bad), bad.size());
  }
  const std::string mixed = "x\x82\xA0y変\xFF";
  EXPECT_EQ(EncodeUtf8(DecodeUtf8(mixed)), mixed);
  EXPECT_EQ(CountChars(mixed), 6u);
  EXPECT_TRUE(IsValidUtf8("ｘ＝１"));
}
