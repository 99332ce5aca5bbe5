// A .vokt file's bytes through TVOKT::Read, then taken and written again.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "document/Work.h"
#include "text/LineList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const std::string folder = [] {
    char tmpl[] = "/tmp/velmora-fuzz-XXXXXX";
    return std::string(mkdtemp(tmpl));
  }();
  const std::string in = folder + "/in.vokt", out = folder + "/out.vokt";
  std::string error;
  if (!velmora::text::WriteFileAtomically(in, std::string(reinterpret_cast<const char *>(data), size), error)) return 0;
  velmora::TMessageRecorder boxes;
  velmora::TVOKT document(&boxes);
  if (document.Read(in)) {
    velmora::TWork work;
    velmora::TakeWork(document, work);
    velmora::PutWork(document, work);
    document.Write(out);
  }
  return 0;
}
