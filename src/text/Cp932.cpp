#include "text/Cp932.h"

#include <cerrno>
#include <cstdio>
#include <iconv.h>

#include <unordered_map>

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

bool IsLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

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

std::string CannotSave(Char c) {
  if (IsKeptBytes(c)) {
    const unsigned v = static_cast<unsigned>(c - KeptBytesBase);
    char code[16];
    if (v < 0x100) std::snprintf(code, sizeof code, "0x%02X", v);
    else std::snprintf(code, sizeof code, "0x%02X 0x%02X", v >> 8, v & 0xFF);
    return std::string("読み込めなかったバイト ") + code + " は，すぐ後ろの文字と一つに読まれてしまうため保存できません．";
  }
  return DescribeChar(c) + "はコードページ932 (Shift-JIS) で表せないため保存できません．";
}

// Encodes text without kept bytes; false with the first character that has no
// CP932 form.
bool EncodePlain(std::string_view utf8, std::string &cp932, Converter &conv, std::string &error) {
  bool stopped = true;
  if (conv.ok()) conv.Run(utf8, cp932, stopped);
  if (!stopped) return true;
  Converter single("CP932", "UTF-8");
  for (Char c : DecodeUtf8(utf8)) {
    std::string one;
    AppendUtf8(one, c);
    std::string bytes;
    bool oneStopped = true;
    if (!IsEscapedByte(c) && single.ok()) single.Run(one, bytes, oneStopped);
    if (oneStopped) {
      error = CannotSave(c);
      return false;
    }
  }
  error = "テキストをコードページ932 (Shift-JIS) に変換できませんでした．";
  return false;
}

// The two-byte codes whose character has another code too, with that character.
const std::unordered_map<std::uint16_t, Char> &SharedCodes() {
  static const std::unordered_map<std::uint16_t, Char> table = [] {
    std::unordered_map<Char, std::vector<std::uint16_t>> byChar;
    Converter conv("UTF-8", "CP932");
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
      if (!IsLeadByte(static_cast<unsigned char>(lead))) continue;
      for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
        const char code[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        std::string out;
        bool stopped = true;
        if (conv.ok() && conv.Run(std::string_view(code, 2), out, stopped) == 2 && !stopped) {
          const std::u32string c = DecodeUtf8(out);
          if (c.size() == 1) byChar[c[0]].push_back(static_cast<std::uint16_t>(lead << 8 | trail));
        }
      }
    }
    std::unordered_map<std::uint16_t, Char> shared;
    for (const auto &[c, list] : byChar)
      if (list.size() > 1)
        for (std::uint16_t code : list) shared.emplace(code, c);
    return shared;
  }();
  return table;
}

// Calls `each(offset, code, character)` for every two-byte code with a shared
// character, walking the characters as the decoder does (a lead byte and the
// byte after it, whatever that is).
template <typename F>
void ForEachSharedCode(std::string_view cp932, F each) {
  const auto &shared = SharedCodes();
  for (std::size_t i = 0; i < cp932.size(); ++i) {
    const auto lead = static_cast<unsigned char>(cp932[i]);
    if (!IsLeadByte(lead) || i + 1 == cp932.size()) continue;
    const auto code = static_cast<std::uint16_t>(lead << 8 | static_cast<unsigned char>(cp932[i + 1]));
    const auto found = shared.find(code);
    if (found != shared.end()) each(i, code, found->second);
    ++i;
  }
}

// The code to write when a character's count no longer matches what was read.
std::uint16_t MostReadCode(const std::vector<std::uint16_t> &read) {
  std::map<std::uint16_t, std::size_t> counts;
  std::uint16_t best = read.front();
  for (std::uint16_t code : read) {
    const std::size_t n = ++counts[code];
    if (n > counts[best]) best = code;  // the first read wins a tie
  }
  return best;
}

void WriteReadCodes(std::string &cp932, const TCp932Codes &codes) {
  std::map<Char, std::vector<std::size_t>> places;
  ForEachSharedCode(cp932, [&](std::size_t at, std::uint16_t, Char c) {
    if (codes.Read.count(c)) places[c].push_back(at);
  });
  for (const auto &[c, at] : places) {
    const std::vector<std::uint16_t> &read = codes.Read.at(c);
    const bool inOrder = read.size() == at.size();
    const std::uint16_t usual = MostReadCode(read);
    for (std::size_t k = 0; k < at.size(); ++k) {
      const std::uint16_t code = inOrder ? read[k] : usual;
      cp932[at[k]] = static_cast<char>(code >> 8);
      cp932[at[k] + 1] = static_cast<char>(code & 0xFF);
    }
  }
}

}  // namespace

bool Cp932ToUtf8(std::string_view cp932, std::string &utf8, TCp932Codes *codes) {
  if (codes) {
    codes->Clear();
    ForEachSharedCode(cp932, [&](std::size_t, std::uint16_t code, Char c) { codes->Read[c].push_back(code); });
  }
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
      // Keep what cannot be decoded: a lead byte takes the next byte as its
      // trail byte whatever its value (but never a line end), any other byte
      // stands alone. Each becomes one character that encodes back to them.
      const auto lead = static_cast<unsigned char>(cp932[0]);
      std::size_t length = 1;
      Char kept = KeptBytesBase + lead;
      if (IsLeadByte(lead) && cp932.size() > 1 && cp932[1] != '\r' && cp932[1] != '\n') {
        length = 2;
        kept = KeptBytesBase + (static_cast<Char>(lead) << 8 | static_cast<unsigned char>(cp932[1]));
      }
      AppendUtf8(utf8, kept);
      cp932.remove_prefix(length);
      clean = false;
    }
  }
  return clean;
}

bool Utf8ToCp932(std::string_view utf8, std::string &cp932, std::string &error, const TCp932Codes *codes) {
  cp932.clear();
  error.clear();
  Converter conv("CP932", "UTF-8");
  // Runs of ordinary text go through the converter; kept bytes go out as they came in.
  std::size_t runStart = 0, at = 0;
  auto flush = [&](std::size_t end) {
    return end == runStart || EncodePlain(utf8.substr(runStart, end - runStart), cp932, conv, error);
  };
  while (at < utf8.size()) {
    const std::size_t next = utf8.find('\xF3', at);
    if (next == std::string_view::npos) break;
    const std::u32string one = DecodeUtf8(utf8.substr(next, 4));
    if (one.empty() || !IsKeptBytes(one[0])) {
      at = next + 1;
      continue;
    }
    if (!flush(next)) {
      cp932.clear();
      return false;
    }
    const unsigned v = static_cast<unsigned>(one[0] - KeptBytesBase);
    if (v >= 0x100) cp932.push_back(static_cast<char>(v >> 8));
    cp932.push_back(static_cast<char>(v & 0xFF));
    at = runStart = next + 4;
  }
  if (!flush(utf8.size())) {
    cp932.clear();
    return false;
  }
  // glibc maps a few characters to look-alikes (U+00A5 to a backslash, for
  // instance), and kept bytes may join the character after them: only a
  // faithful round trip counts as success.
  std::string back;
  Cp932ToUtf8(cp932, back);
  if (back == utf8) {
    // Every code of a shared character decodes the same, so this keeps the round trip.
    if (codes && !codes->Read.empty()) WriteReadCodes(cp932, *codes);
    return true;
  }
  const std::u32string want = DecodeUtf8(utf8), got = DecodeUtf8(back);
  std::size_t k = 0;
  while (k < want.size() && k < got.size() && want[k] == got[k]) ++k;
  error = k < want.size() ? CannotSave(want[k]) : "テキストをコードページ932 (Shift-JIS) に変換できませんでした．";
  cp932.clear();
  return false;
}

}  // namespace velmora::text
