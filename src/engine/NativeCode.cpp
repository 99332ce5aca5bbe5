#include "engine/NativeCode.h"

#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace velmora {

std::unique_ptr<TNativeCode> TNativeCode::Install(const std::uint8_t *code, std::size_t size) {
  if (!Supported || size == 0) return nullptr;
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t rounded = (size + page - 1) / page * page;
  void *memory = mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  std::memcpy(memory, code, size);
  // Never writable and executable at once.
  if (mprotect(memory, rounded, PROT_READ | PROT_EXEC) != 0) {
    munmap(memory, rounded);
    return nullptr;
  }
  return std::unique_ptr<TNativeCode>(new TNativeCode(memory, rounded));
}

TNativeCode::~TNativeCode() { munmap(Memory, Size); }

}  // namespace velmora
