#pragma once
// TVOKT: one VOKT document in memory. Four sections: numeric system variables
// (formula lines run by the document's own engine), string system variables,
// and two blocks of free text lines (header and loop). Files are code page 932,
// first line "<VOKT 1.0>".
#include <cstdint>
#include <string>
#include <vector>

#include "document/MessageBoxes.h"
#include "engine/ArithmeticUnit.h"
#include "text/Cp932.h"

namespace velmora {

class TVOKT {
 public:
  struct TSection {
    const std::string SystemTag = "<system>";
    const std::string SystemStrTag = "<system_str>";
    const std::string HeaderTag = "<header>";
    const std::string LoopTag = "<loop>";
    const std::string SystemEndTag = "</system>";
    const std::string SystemStrEndTag = "</system_str>";
    const std::string HeaderEndTag = "</header>";
    const std::string LoopEndTag = "</loop>";
  };
  struct TStrVariable {
    std::string Name;
    std::string Value;
  };

  explicit TVOKT(TMessageBoxes *messageBoxes = nullptr);

  TSection Section;
  TArithmeticUnit SystemVariables;
  std::vector<TStrVariable> StrVariables;
  std::int32_t StrCount = 0;
  std::int32_t StrCapacity = 0;
  TStringList HeaderLines;
  TStringList LoopLines;
  // Where message boxes go; not owned.
  TMessageBoxes *MessageBoxes = nullptr;
  // A file that exists but cannot be read or written: the reason, for the
  // caller to show (Read and Write then give false).
  std::string ErrorMessage;
  // The codes that characters with more than one code page 932 code were read
  // from: Read fills it, Write writes them back, Clear keeps it (the desktop
  // program puts its memos into the document it read).
  text::TCp932Codes Codes;

  // Replaces the contents by the file's; every problem is shown in a message
  // box and reading goes on (memory running out throws std::bad_alloc). False only when the file could not be taken at
  // all (missing, unreadable, not a VOKT file): the contents are then unchanged.
  bool Read(const std::string &fileName);
  // Replaces the file atomically; false with ErrorMessage when it cannot be written.
  bool Write(const std::string &fileName);
  void Clear();

  bool SetSystemVariable(const std::string &name, long double value);
  bool GetSystemVariable(const std::string &name, long double &value);
  bool SetStrVariable(const std::string &name, const std::string &value);
  bool GetStrVariable(const std::string &name, std::string &value);
  std::int32_t FindStrVariable(const std::string &name, bool create);
  bool GrowStrVariables(std::int32_t factor);

  static constexpr const char *Magic = "<VOKT 1.0>";

 private:
  void ShowMessage(const std::string &text, const std::string &caption);
};

}  // namespace velmora
