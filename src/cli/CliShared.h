#pragma once
// What render and animate share: reading counts and sizes, --set, the
// progress bar, Ctrl+C, the checks of the output name and the starting picture.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

#include "document/MessageBoxes.h"
#include "document/VOKT.h"
#include "document/Work.h"
#include "paint/ConstantOverrides.h"
#include "paint/Picture.h"

namespace velmora::cli {

bool ParseCount(const std::string &text, long long &value);
bool ParseSize(const std::string &text, long long &w, long long &h);

// Options both commands take: --size, --input, --set. True when args[i] was
// one of them (i then at its last word); `problem` says what is wrong.
struct TPictureOptions {
  std::string Input;
  bool HasSize = false;
  long long Width = 0, Height = 0;
  TConstantOverrides Overrides;
};
bool ParsePictureOption(const std::vector<std::string> &args, std::size_t &i, TPictureOptions &o, std::string &problem,
                        bool &bad);

// A one-line bar on a terminal, redrawn when the percentage changes.
class TProgressBar {
 public:
  explicit TProgressBar(std::FILE *err);
  void Update(long long done, long long total, const std::string &suffix = {});
  void Finish();

 private:
  std::FILE *Err;
  bool Enabled;
  int Last = -1;
};

// Set by Ctrl+C while a TInterruptScope lives.
extern std::atomic<bool> Interrupted;

// Ctrl+C asks the paint or the save to stop; a second one ends the program
// the usual way: through the handler that was there before (the one that
// removes a save's temporary file), not the bare default.
class TInterruptScope {
 public:
  TInterruptScope();
  ~TInterruptScope();

 private:
  bool Installed = false;
};

bool SameFile(const std::string &a, const std::string &b);

// A document read for painting: its messages go to standard error as
// "caption: text" lines.
struct TCliDocument {
  TMessageRecorder Boxes;
  TVOKT Document{&Boxes};
  TWork Work;
  // False with the reason printed (prefix "velmora-cli COMMAND: ").
  bool Read(const std::string &path, std::FILE *err, const char *command);
};

// The picture a paint starts from: --input, or the document's size (pixels
// left empty for the caller to make white once the formulas compiled), then
// --size. False with the message printed (prefix "velmora-cli COMMAND: ").
bool StartPicture(const TWork &work, const std::string &document, const TPictureOptions &o, TPicture &picture,
                  std::FILE *err, const char *command);

}  // namespace velmora::cli
