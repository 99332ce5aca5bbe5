// A code page 932 line list: decoded, split, encoded again. Whatever the bytes,
// the decoded text must encode (undecodable bytes are kept) and decode to the
// same text once more; with the codes it was read from remembered, it encodes
// to the very bytes it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text/Cp932.h"
#include "text/LineList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string utf8;
  velmora::text::Cp932ToUtf8(std::string(reinterpret_cast<const char *>(data), size), utf8);
  const std::vector<std::string> lines = velmora::text::SplitLines(utf8);
  std::string joined;
  for (const std::string &line : lines) joined += line + "\r\n";
  std::string bytes, error, back;
  if (!velmora::text::Utf8ToCp932(joined, bytes, error)) std::abort();
  velmora::text::Cp932ToUtf8(bytes, back);
  if (back != joined) std::abort();
  const std::string raw(reinterpret_cast<const char *>(data), size);
  velmora::text::TCp932Codes codes;
  velmora::text::Cp932ToUtf8(raw, utf8, &codes);
  if (!velmora::text::Utf8ToCp932(utf8, bytes, error, &codes) || bytes != raw) std::abort();
  return 0;
}
