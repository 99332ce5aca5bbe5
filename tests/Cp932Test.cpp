#include "text/Cp932.h"
#include "text/Utf8.h"

#include <gtest/gtest.h>

using namespace velmora::text;

TEST(Cp932, DecodesTheMicrosoftMapping) {
  std::string out;
  EXPECT_TRUE(Cp932ToUtf8("\x81\x8F\x81\x60\x81\x62\x81\x7C\x81\x68\x81\x40\x5C\x7E", out));
  EXPECT_EQ(out, "￥～｜－”\u3000\\~");
  EXPECT_TRUE(Cp932ToUtf8("\x8D\xEC\x95\x69", out));
  EXPECT_EQ(out, "作品");
  EXPECT_TRUE(Cp932ToUtf8("\xB1", out)) << "half-width katakana";
  EXPECT_EQ(out, "ｱ");
}

TEST(Cp932, UndecodableBytesAreKeptAsPlaceholders) {
  std::string out;
  EXPECT_FALSE(Cp932ToUtf8("a\x81", out)) << "a lead byte at the end";
  EXPECT_EQ(out, "a\xF3\xB0\x82\x81");  // U+F0081
  EXPECT_FALSE(Cp932ToUtf8("\xA0x\xFD\x81\x2A\x81\r\n", out));
  EXPECT_EQ(DecodeUtf8(out), (std::u32string{0xF00A0, U'x', 0xF00FD, 0xF812A, 0xF0081, U'\r', U'\n'}))
      << "a lead byte takes any next byte but a line end";
  std::string bytes, error;
  EXPECT_TRUE(Utf8ToCp932(out, bytes, error)) << error;
  EXPECT_EQ(bytes, "\xA0x\xFD\x81\x2A\x81\r\n");
  // A kept lead byte that an edit put before a trail byte would read back as
  // another character: refused, naming the byte.
  EXPECT_FALSE(Utf8ToCp932("\xF3\xB0\x82\x81@", bytes, error));
  EXPECT_NE(error.find("0x81"), std::string::npos) << error;
}

// Every one- and two-byte sequence decodes to text that encodes again and
// reads back the same (duplicate codes of the code page may change bytes).
TEST(Cp932, EverySequenceSurvivesARoundTrip) {
  std::string all;
  for (int lead = 0; lead < 256; ++lead) {
    for (int trail = 0; trail < 256; ++trail) {
      all += static_cast<char>(lead);
      all += static_cast<char>(trail);
      all += ' ';
    }
  }
  std::string text, bytes, error, back;
  Cp932ToUtf8(all, text);
  ASSERT_TRUE(Utf8ToCp932(text, bytes, error)) << error;
  Cp932ToUtf8(bytes, back);
  EXPECT_TRUE(back == text);
}

TEST(Cp932, EncodesFaithfullyOrNamesTheCharacter) {
  std::string bytes, error;
  EXPECT_TRUE(Utf8ToCp932("作品 ￥～ x=1", bytes, error));
  EXPECT_EQ(bytes, "\x8D\xEC\x95\x69 \x81\x8F\x81\x60 x=1");
  EXPECT_TRUE(error.empty());

  // glibc would quietly turn U+00A5 into a backslash; that is a failure here.
  EXPECT_FALSE(Utf8ToCp932("a¥b", bytes, error));
  EXPECT_NE(error.find("U+00A5"), std::string::npos) << error;
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(Utf8ToCp932("ok 😀 ü", bytes, error));
  EXPECT_NE(error.find("U+1F600"), std::string::npos) << "the first bad character is named: " << error;
  EXPECT_FALSE(Utf8ToCp932("〜", bytes, error)) << "U+301C has only a look-alike in CP932";
  EXPECT_NE(error.find("U+301C"), std::string::npos) << error;
  EXPECT_FALSE(Utf8ToCp932("x\xFFy", bytes, error)) << "invalid UTF-8 is not encodable";
  EXPECT_NE(error.find("0xFF"), std::string::npos) << error;
}
