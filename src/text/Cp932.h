#pragma once
// Code page 932 (Shift-JIS, Microsoft's mapping) at the file boundary.
#include <string>
#include <string_view>

namespace velmora::text {

// Bytes that code page 932 cannot decode are kept as characters of the
// supplementary private use plane: KeptBytesBase + b for a single byte b,
// KeptBytesBase + (lead << 8 | trail) for a lead byte and the byte after it.
// They show as placeholders and encode back to exactly those bytes.
constexpr char32_t KeptBytesBase = 0xF0000;
inline bool IsKeptBytes(char32_t c) { return c >= KeptBytesBase && c <= KeptBytesBase + 0xFCFF; }

// Decodes CP932 bytes to UTF-8, keeping undecodable bytes as above; the
// result is false when there were any.
bool Cp932ToUtf8(std::string_view cp932, std::string &utf8);

// Encodes UTF-8 text as CP932. Fails when some character has no faithful CP932
// form (decoding the bytes must give back exactly the same text); `error` then
// names the first such character, in Japanese, and `cp932` is left empty.
bool Utf8ToCp932(std::string_view utf8, std::string &cp932, std::string &error);

}  // namespace velmora::text
