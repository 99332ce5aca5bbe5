#pragma once
#include <cstdio>
#include <string>
#include <vector>

namespace velmora::cli {

// velmora-cli animate DOC.vokt -o OUT --vary NAME=FROM:TO --frames N [--fps F]
//   [--end] [--carry] [--size WxH] [--input PICTURE] [--set NAME=VALUE]...
//   [--first K --last L]
// Exit status as render: 0 written, 1 errors stopped a frame's paint, 2 usage,
// file or picture errors, 130 interrupted.
int RunAnimate(const std::vector<std::string> &args, std::FILE *out, std::FILE *err);

extern const char *const AnimateUsage;

}  // namespace velmora::cli
