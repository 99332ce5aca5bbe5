#pragma once
// Large buffers on huge pages where the kernel gives them: fresh anonymous
// memory aligned to a huge page, zero without being written, advised to be
// backed by huge pages (only advice: a refusal changes nothing else).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace velmora {

inline constexpr std::size_t HugePageBytes = std::size_t{1} << 21;

// `bytes` (a multiple of HugePageBytes) of zeroed memory, or null.
inline void *MapHugePages(std::size_t bytes) {
#if defined(__linux__)
  if (bytes > SIZE_MAX - HugePageBytes) return nullptr;
  const std::size_t span = bytes + HugePageBytes;
  void *mapped = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + HugePageBytes - 1) / HugePageBytes * HugePageBytes;
  if (aligned > start) munmap(mapped, aligned - start);
  if (aligned + bytes < start + span) munmap(reinterpret_cast<void *>(aligned + bytes), start + span - aligned - bytes);
#if defined(MADV_HUGEPAGE)
  madvise(reinterpret_cast<void *>(aligned), bytes, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<void *>(aligned);
#else
  return std::calloc(1, bytes);
#endif
}

// Gives back what MapHugePages(bytes) gave (null does nothing).
inline void UnmapHugePages(void *memory, std::size_t bytes) noexcept {
#if defined(__linux__)
  if (memory) munmap(memory, bytes);
#else
  (void)bytes;
  std::free(memory);
#endif
}

// Gives back the part of what MapHugePages(bytes) gave beyond `kept` bytes (a
// multiple of HugePageBytes); it is then given back as MapHugePages(kept).
inline void ShrinkHugePages(void *memory, std::size_t bytes, std::size_t kept) noexcept {
#if defined(__linux__)
  if (memory && kept < bytes) munmap(static_cast<char *>(memory) + kept, bytes - kept);
#else
  (void)memory, (void)bytes, (void)kept;
#endif
}

}  // namespace velmora
