#include "text/Cp932.h"
#include "text/Utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <vector>

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
// reads back the same (duplicate codes of the code page change bytes unless
// the codes read are remembered).
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
  // With the codes remembered, the very bytes.
  TCp932Codes codes;
  Cp932ToUtf8(all, text, &codes);
  ASSERT_TRUE(Utf8ToCp932(text, bytes, error, &codes)) << error;
  EXPECT_TRUE(bytes == all);
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

namespace {

std::string Code(std::uint16_t code) { return {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)}; }

// Every two-byte code whose character has another code too, found by decoding
// them all, grouped by character.
std::map<std::u32string, std::vector<std::uint16_t>> SharedCodes() {
  std::map<std::u32string, std::vector<std::uint16_t>> byChar;
  for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      const auto code = static_cast<std::uint16_t>(lead << 8 | trail);
      std::string text;
      if (!Cp932ToUtf8(Code(code), text)) continue;
      const std::u32string c = DecodeUtf8(text);
      if (c.size() == 1) byChar[c].push_back(code);
    }
  }
  std::erase_if(byChar, [](const auto &entry) { return entry.second.size() < 2; });
  return byChar;
}

std::string RoundTrip(const std::string &bytes, bool remember) {
  std::string text, back, error;
  TCp932Codes codes;
  Cp932ToUtf8(bytes, text, remember ? &codes : nullptr);
  EXPECT_TRUE(Utf8ToCp932(text, back, error, remember ? &codes : nullptr)) << error;
  return back;
}

}  // namespace

// The NEC row 13 symbols, the NEC-selected and the IBM extensions: a text read
// under either code is written under that code again.
TEST(Cp932, EveryCodeOfACharacterWithSeveralComesBackAsRead) {
  const auto shared = SharedCodes();
  std::size_t rewritten = 0;
  for (const auto &[c, list] : shared) {
    for (std::uint16_t code : list) {
      const std::string doc = "a" + Code(code) + "b\r\n";
      EXPECT_EQ(RoundTrip(doc, true), doc) << std::hex << code;
      if (RoundTrip(doc, false) != doc) ++rewritten;
    }
  }
  // The figure the code page is known for; the test above covers all of them.
  EXPECT_EQ(rewritten, 398u) << "codes an encoder alone writes as another code";
  EXPECT_EQ(shared.count(U"\u2252"), 1u) << "≒ is 0x81E0 and 0x8790";

  // All of them in one text, each character under each of its codes in turn.
  std::string all;
  for (const auto &[c, list] : shared)
    for (std::uint16_t code : list) all += Code(code) + " ";
  EXPECT_EQ(RoundTrip(all, true), all);
}

TEST(Cp932, ATextWithEditedCountsWritesTheCodeReadMostOften) {
  // ≒ read twice as 0x8790 and once as 0x81E0, ∵ once as 0xFA5B; Ⅰ never read.
  std::string text, bytes, error;
  TCp932Codes codes;
  ASSERT_TRUE(Cp932ToUtf8("\x87\x90\x81\xE0\x87\x90 \xFA\x5B", text, &codes));
  EXPECT_EQ(text, "≒≒≒ ∵");
  ASSERT_TRUE(Utf8ToCp932("≒≒≒ ∵", bytes, error, &codes));
  EXPECT_EQ(bytes, "\x87\x90\x81\xE0\x87\x90 \xFA\x5B") << "unchanged counts keep the order read";
  ASSERT_TRUE(Utf8ToCp932("≒ ∵∵ Ⅰ≒", bytes, error, &codes));
  EXPECT_EQ(bytes, "\x87\x90 \xFA\x5B\xFA\x5B \x87\x54\x87\x90");
  codes.Clear();
  ASSERT_TRUE(Utf8ToCp932("≒∵", bytes, error, &codes));
  EXPECT_EQ(bytes, "\x81\xE0\x81\xE6") << "nothing read: the encoder's codes";
}

// Ordinary text, kept bytes and both codes of a character in one document.
TEST(Cp932, AMixedDocumentComesBackByteForByte) {
  const std::string doc =
      "// \x94\x67 \x87\x90\x81\xE0 \xED\x40\xFA\x5C\r\n"  // 波 ≒ (NEC, JIS) 纊 (NEC-selected, IBM)
      "r = x \x81\x7B 1 \xA0\x81\r\n"                        // ＋ and two undecodable bytes
      "g = \xEE\xF9\x81\xCA\xFA\x54 \x87\x54\xFA\x4A\r\n";   // ¬ under all three codes, Ⅰ (NEC, IBM)
  EXPECT_EQ(RoundTrip(doc, true), doc);
  EXPECT_NE(RoundTrip(doc, false), doc);
}
