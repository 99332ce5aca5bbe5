#pragma once
// UTF-8 <-> code points. Text inside the program is UTF-8; one character is one
// code point. Bytes that do not form valid UTF-8 are kept, each as one character
// in the range 0xDC80..0xDCFF (the lone low surrogates, which valid UTF-8 never
// decodes to), so a decode followed by an encode gives back the original bytes.
#include <string>
#include <string_view>

namespace velmora::text {

// One decoded character; an invalid byte b is EscapedByteBase + b.
using Char = char32_t;
constexpr Char EscapedByteBase = 0xDC00;

inline bool IsEscapedByte(Char c) { return c >= 0xDC80 && c <= 0xDCFF; }

std::u32string DecodeUtf8(std::string_view bytes);
void AppendUtf8(std::string &out, Char c);
std::string EncodeUtf8(std::u32string_view chars);

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates, <= U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// Number of characters in the sense of DecodeUtf8.
std::size_t CountChars(std::string_view bytes);

}  // namespace velmora::text
