#include "text/Utf8.h"

namespace velmora::text {

namespace {

// Length of the valid UTF-8 sequence at bytes[i] and its code point; 0 when invalid.
std::size_t DecodeOne(std::string_view bytes, std::size_t i, Char &cp) {
  const auto b0 = static_cast<unsigned char>(bytes[i]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t len;
  Char min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2; min = 0x80; cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3; min = 0x800; cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4; min = 0x10000; cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (i + len > bytes.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(bytes[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

std::u32string DecodeUtf8(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    Char cp;
    const std::size_t len = DecodeOne(bytes, i, cp);
    if (len == 0) {
      out.push_back(EscapedByteBase + static_cast<unsigned char>(bytes[i]));
      ++i;
    } else {
      out.push_back(cp);
      i += len;
    }
  }
  return out;
}

void AppendUtf8(std::string &out, Char c) {
  if (IsEscapedByte(c)) {
    out.push_back(static_cast<char>(c - EscapedByteBase));
  } else if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string EncodeUtf8(std::u32string_view chars) {
  std::string out;
  out.reserve(chars.size());
  for (Char c : chars) AppendUtf8(out, c);
  return out;
}

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    Char cp;
    const std::size_t len = DecodeOne(bytes, i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::size_t CountChars(std::string_view bytes) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < bytes.size(); ++n) {
    Char cp;
    const std::size_t len = DecodeOne(bytes, i, cp);
    i += len == 0 ? 1 : len;
  }
  return n;
}

}  // namespace velmora::text
