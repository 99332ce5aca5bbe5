#pragma once
// Code page 932 (Shift-JIS, Microsoft's mapping) at the file boundary.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::text {

// Bytes that code page 932 cannot decode are kept as characters of the
// supplementary private use plane: KeptBytesBase + b for a single byte b,
// KeptBytesBase + (lead << 8 | trail) for a lead byte and the byte after it.
// They show as placeholders and encode back to exactly those bytes.
constexpr char32_t KeptBytesBase = 0xF0000;
inline bool IsKeptBytes(char32_t c) { return c >= KeptBytesBase && c <= KeptBytesBase + 0xFCFF; }

// Some characters have two or three codes in code page 932 (the NEC row 13
// symbols, the NEC-selected and the IBM extensions), but an encoder writes only
// one of them. A loaded text remembers which code each such character was read
// from, in the order read, and its save writes those codes back: in the same
// order when the text still holds that many of the character, otherwise the
// code read most often (so one character read under two codes may come out
// under one of them after an edit).
struct TCp932Codes {
  std::map<char32_t, std::vector<std::uint16_t>> Read;
  void Clear() { Read.clear(); }
};

// Decodes CP932 bytes to UTF-8, keeping undecodable bytes as above; the
// result is false when there were any. `codes`, when given, is replaced by the
// codes of the text's characters that have more than one.
bool Cp932ToUtf8(std::string_view cp932, std::string &utf8, TCp932Codes *codes = nullptr);

// Encodes UTF-8 text as CP932. Fails when some character has no faithful CP932
// form (decoding the bytes must give back exactly the same text); `error` then
// names the first such character, in Japanese, and `cp932` is left empty.
// Characters with more than one code are written with the codes in `codes`.
bool Utf8ToCp932(std::string_view utf8, std::string &cp932, std::string &error,
                 const TCp932Codes *codes = nullptr);

}  // namespace velmora::text
