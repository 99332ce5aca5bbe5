#pragma once
// The one text every layer below the windows gives when memory runs out (the
// message users of the original program know, hence in English).
namespace velmora {

inline constexpr const char *AllocationFailedText = "Memory allocation has been failed.";

// What the windows say when memory runs out.
inline constexpr const char *OutOfMemoryMessage = "メモリが足りません．";

}  // namespace velmora
