// A library that a stranger leaves beside a user's documents under a name the
// programs need (libjpeg.so.62). If the loader ever took it from the current
// folder, this would run and leave a mark there.
#include <cstdio>

namespace {
__attribute__((constructor)) void LeaveMark() {
  if (std::FILE *mark = std::fopen("planted-library-ran", "w")) std::fclose(mark);
}
}  // namespace
