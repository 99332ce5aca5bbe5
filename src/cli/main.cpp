// velmora-cli: the formula engine without windows.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "cli/AnimateCommand.h"
#include "cli/CalcCommand.h"
#include "cli/Output.h"
#include "cli/RecipeCommands.h"
#include "cli/RenderCommand.h"
#include "text/LineList.h"

namespace {

const char *const Usage =
    "usage: velmora-cli COMMAND [ARGS]\n"
    "commands:\n"
    "  calc [--math-errors] [--dump=tokens|intercode|steps] [FILE]\n"
    "      evaluate formula lines, one engine for all lines\n"
    "  render DOC.vokt -o OUT [--size WxH] [--input PICTURE] [--repeat N] [--set NAME=VALUE]...\n"
    "      paint a document into a picture file (.bmp, .jpg/.jpeg, .png)\n"
    "  animate DOC.vokt -o OUT --vary NAME=FROM:TO --frames N [--fps F] [--end] [--carry] ...\n"
    "      paint frames with a constant varied: animated WebP, GIF or numbered pictures\n"
    "  recipe PICTURE.png -o DOC.vokt\n"
    "      write the document whose recipe a PNG picture carries\n"
    "  verify PICTURE.png [--input START]\n"
    "      paint a PNG picture's recipe again and compare every pixel\n"
    "'velmora-cli COMMAND --help' tells more about a command; 'velmora-cli --version' the version.\n";

}  // namespace

int main(int argc, char **argv) {
  velmora::text::CleanUpOnSignals();
  // A closed standard output is a write error to report, not a silent death:
  // render still saves its picture.
  std::signal(SIGPIPE, SIG_IGN);
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    return velmora::cli::PrintHelp(Usage, stdout, stderr, "--help");
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::fputs("velmora-cli " VELMORA_VERSION "\n", stdout);
    return 0;
  }
  if (argc < 2) {
    std::fputs(Usage, stderr);
    return 2;
  }
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  try {
    if (command == "calc") return velmora::cli::RunCalc(args, stdout, stderr);
    if (command == "render") return velmora::cli::RunRender(args, stdout, stderr);
    if (command == "animate") return velmora::cli::RunAnimate(args, stdout, stderr);
    if (command == "recipe") return velmora::cli::RunRecipe(args, stdout, stderr);
    if (command == "verify") return velmora::cli::RunVerify(args, stdout, stderr);
  } catch (const std::bad_alloc &) {
    // Whatever the command had done ends here: no value, no picture.
    std::fflush(stdout);
    std::fprintf(stderr, "velmora-cli %s: メモリが足りません．\n", command.c_str());
    return 2;
  }
  std::fprintf(stderr, "velmora-cli: unknown command '%s'\n%s", command.c_str(), Usage);
  return 2;
}
