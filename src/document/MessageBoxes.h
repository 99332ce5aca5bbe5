#pragma once
// How the document classes talk to the user: modal message boxes with a text,
// a caption and flags, answered with the button pressed. The desktop program
// shows real boxes; the command line and the tests record them.
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace velmora {

class TMessageBoxes {
 public:
  // Flags and answers as the platform numbers them.
  enum : int { Ok = 0, YesNoCancel = 3, YesNo = 4, Stop = 0x10, Question = 0x20, Exclamation = 0x30 };
  enum : int { IdOk = 1, IdCancel = 2, IdYes = 6, IdNo = 7 };

  virtual ~TMessageBoxes() = default;
  virtual int ShowMessage(const std::string &text, const std::string &caption, int flags) = 0;
};

// A failure whose message box has been shown already: it ends the command and
// nothing more is said.
class TReportedFailure : public std::exception {
 public:
  const char *what() const noexcept override { return "reported already"; }
};

// Keeps every box and answers each with `Answer`.
class TMessageRecorder : public TMessageBoxes {
 public:
  struct TEntry {
    std::string Text;
    std::string Caption;
    int Flags = 0;
  };
  std::vector<TEntry> Entries;
  int Answer = IdOk;
  std::function<void(const TEntry &)> OnShow;  // optional: e.g. print it at once

  int ShowMessage(const std::string &text, const std::string &caption, int flags) override {
    Entries.push_back({text, caption, flags});
    if (OnShow) OnShow(Entries.back());
    return Answer;
  }
};

}  // namespace velmora
