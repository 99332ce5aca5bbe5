#pragma once
#include <cstdio>
#include <string>
#include <vector>

namespace velmora::cli {

// velmora-cli calc [--math-errors] [--dump=tokens|intercode] [FILE]
// Returns the exit status: 0 clean, 1 when an error line was printed, 2 for usage.
int RunCalc(const std::vector<std::string> &args, std::FILE *out, std::FILE *err);

extern const char *const CalcUsage;

}  // namespace velmora::cli
