#pragma once
// Code page 932 (Shift-JIS, Microsoft's mapping) at the file boundary.
#include <string>
#include <string_view>

namespace velmora::text {

// Decodes CP932 bytes to UTF-8. Each byte that does not start a valid CP932
// character becomes U+FFFD; the result is false when that happened.
bool Cp932ToUtf8(std::string_view cp932, std::string &utf8);

// Encodes UTF-8 text as CP932. Fails when some character has no faithful CP932
// form (decoding the bytes must give back exactly the same text); `error` then
// names the first such character, in Japanese, and `cp932` is left empty.
bool Utf8ToCp932(std::string_view utf8, std::string &cp932, std::string &error);

}  // namespace velmora::text
