#include "text/Cp932.h"

#include <cerrno>
#include <cstdio>
#include <iconv.h>

#include "text/Utf8.h"

namespace velmora::text {

namespace {

// One conversion descriptor per call keeps this safe to use from any thread.
class Converter {
 public:
  Converter(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter &) = delete;
  Converter &operator=(const Converter &) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much as possible; returns the number of input bytes consumed
  // and whether the stop was caused by an invalid or incomplete sequence.
  std::size_t Run(std::string_view in, std::string &out, bool &stopped) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char *src = const_cast<char *>(in.data());
    std::size_t srcLeft = in.size();
    stopped = false;
    char buffer[4096];
    while (srcLeft > 0) {
      char *dst = buffer;
      std::size_t dstLeft = sizeof buffer;
      const std::size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      out.append(buffer, static_cast<std::size_t>(dst - buffer));
      if (r == static_cast<std::size_t>(-1)) {
        if (errno == E2BIG) continue;
        stopped = true;
        break;
      }
    }
    return in.size() - srcLeft;
  }

 private:
  iconv_t cd_;
};

std::string DescribeChar(Char c) {
  char code[16];
  if (IsEscapedByte(c)) {
    std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(c - EscapedByteBase));
    return std::string("不正なバイト ") + code;
  }
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  std::string shown;
  if (c >= 0x20 && c != 0x7F) AppendUtf8(shown, c);
  return "文字「" + shown + "」(" + code + ")";
}

}  // namespace

bool Cp932ToUtf8(std::string_view cp932, std::string &utf8) {
  utf8.clear();
  utf8.reserve(cp932.size() + cp932.size() / 2);
  Converter conv("UTF-8", "CP932");
  bool clean = true;
  while (!cp932.empty()) {
    bool stopped = false;
    const std::size_t used = conv.ok() ? conv.Run(cp932, utf8, stopped) : 0;
    cp932.remove_prefix(used);
    if (!conv.ok() || stopped) {
      if (cp932.empty()) break;
      // Skip one bad byte and carry on; the reader is told through the result.
      utf8 += "\xEF\xBF\xBD";
      cp932.remove_prefix(1);
      clean = false;
    }
  }
  return clean;
}

bool Utf8ToCp932(std::string_view utf8, std::string &cp932, std::string &error) {
  cp932.clear();
  error.clear();
  Converter conv("CP932", "UTF-8");
  bool stopped = true;
  if (conv.ok()) conv.Run(utf8, cp932, stopped);
  if (!stopped) {
    // glibc maps a few characters to look-alikes (U+00A5 to a backslash, for
    // instance); only a faithful round trip counts as success.
    std::string back;
    if (Cp932ToUtf8(cp932, back) && back == utf8) return true;
  }
  // Find the first character that does not survive on its own.
  const std::u32string chars = DecodeUtf8(utf8);
  Converter single("CP932", "UTF-8");
  for (Char c : chars) {
    std::string one;
    AppendUtf8(one, c);
    std::string bytes, back;
    bool oneStopped = true;
    if (!IsEscapedByte(c) && single.ok()) single.Run(one, bytes, oneStopped);
    if (oneStopped || !Cp932ToUtf8(bytes, back) || back != one) {
      error = DescribeChar(c) + "はコードページ932 (Shift-JIS) で表せないため保存できません．";
      cp932.clear();
      return false;
    }
  }
  // Every character survives alone but not together: cannot happen for a
  // stateless code page, but never report success on a failed round trip.
  error = "テキストをコードページ932 (Shift-JIS) に変換できませんでした．";
  cp932.clear();
  return false;
}

}  // namespace velmora::text
