#pragma once
#include <cstdio>
#include <string>
#include <vector>

namespace velmora::cli {

// velmora-cli render DOC.vokt -o OUT [--size WxH] [--input PICTURE] [--repeat N] [--set NAME=VALUE]...
// Exit status: 0 painted, 1 errors stopped the paint, 2 usage, file or picture errors.
int RunRender(const std::vector<std::string> &args, std::FILE *out, std::FILE *err);

extern const char *const RenderUsage;

}  // namespace velmora::cli
