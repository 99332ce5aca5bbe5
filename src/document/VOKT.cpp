#include "document/VOKT.h"

#include <limits>
#include <new>
#include <sys/stat.h>

#include "text/FloatFormat.h"
#include "text/LineList.h"
#include "text/AllocationFailed.h"

namespace velmora {

namespace {

constexpr const char *VoktCaption = "エラー(VOKT)";
constexpr const char *LineCaption = "VOKT Error";

std::string Trim(const std::string &s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
  return s.substr(b, e - b);
}

}  // namespace

TVOKT::TVOKT(TMessageBoxes *messageBoxes) : MessageBoxes(messageBoxes) {
  StrVariables.resize(100);
  StrCapacity = 100;
}

void TVOKT::ShowMessage(const std::string &text, const std::string &caption) {
  if (MessageBoxes) MessageBoxes->ShowMessage(text, caption, TMessageBoxes::Ok | TMessageBoxes::Exclamation);
}

void TVOKT::Clear() {
  SystemVariables.ClearVariables();
  StrCount = 0;
  HeaderLines.clear();
  LoopLines.clear();
}

bool TVOKT::Read(const std::string &fileName) {
  ErrorMessage.clear();
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0) {
    ShowMessage(fileName + "が存在しません．", VoktCaption);
    return false;
  }
  TStringList lines;
  std::string warning;
  text::TCp932Codes codes;
  if (!text::LoadLineList(fileName, lines, ErrorMessage, &warning, &codes)) return false;
  if (lines.empty() || lines[0] != Magic) {
    ShowMessage("ファイルを処理できません．", VoktCaption);
    return false;
  }
  if (!warning.empty()) ShowMessage(warning, VoktCaption);
  Clear();
  Codes = std::move(codes);

  enum class TState { Between, Header, Loop, System, SystemStr } state = TState::Between;
  TQDString scanner;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string t = Trim(lines[i]);
    const std::string where = fileName + " (" + std::to_string(i) + ")\n ";
    switch (state) {
      case TState::Between:
        if (t.empty()) break;
        if (t == Section.HeaderTag) state = TState::Header;
        else if (t == Section.LoopTag) state = TState::Loop;
        else if (t == Section.SystemTag) state = TState::System;
        else if (t == Section.SystemStrTag) state = TState::SystemStr;
        else ShowMessage(where + "VOKTファイルの書式エラー．", LineCaption);
        break;
      case TState::Header:
        if (t == Section.HeaderEndTag) state = TState::Between;
        else HeaderLines.push_back(t);
        break;
      case TState::Loop:
        if (t == Section.LoopEndTag) state = TState::Between;
        else LoopLines.push_back(t);
        break;
      case TState::System: {
        if (t == Section.SystemEndTag) {
          state = TState::Between;
          break;
        }
        long double value;
        if (!SystemVariables.SetExpression(0, t) || !SystemVariables.Calculate(0, value)) {
          if (SystemVariables.OutOfMemory) throw std::bad_alloc();  // the read ends; it is no line error
          ShowMessage(where + SystemVariables.ErrorMessage, LineCaption);
        }
        break;
      }
      case TState::SystemStr: {
        if (t == Section.SystemStrEndTag) {
          state = TState::Between;
          break;
        }
        scanner.Text = t;
        if (!scanner.Tokenize()) {
          if (scanner.OutOfMemory) throw std::bad_alloc();
          ShowMessage(where + scanner.ErrorMessage, LineCaption);
          break;
        }
        const TStringList &k = *scanner.Tokens;
        if (k.size() != 5 || k[1] != "=" || k[2] != "\"" || k[4] != "\"") {
          ShowMessage(where + "system_strセクションの文法違反．", LineCaption);
          break;
        }
        SetStrVariable(k[0], k[3]);
        break;
      }
    }
  }
  return true;
}

bool TVOKT::Write(const std::string &fileName) {
  ErrorMessage.clear();
  TStringList lines;
  lines.push_back(Magic);
  lines.push_back(Section.SystemTag);
  for (std::int32_t i = 0; i < SystemVariables.VariableCount; ++i) {
    const auto &v = SystemVariables.Variables[static_cast<std::size_t>(i)];
    lines.push_back(v.Name + " = " + text::FormatGeneral(v.Value));
  }
  lines.push_back(Section.SystemEndTag);
  lines.push_back(Section.SystemStrTag);
  for (std::int32_t i = 0; i < StrCount; ++i) {
    const TStrVariable &v = StrVariables[static_cast<std::size_t>(i)];
    lines.push_back(v.Name + " = \"" + v.Value + "\"");
  }
  lines.push_back(Section.SystemStrEndTag);
  // Each block goes out as one entry holding its whole text, so one empty line
  // follows its last line.
  lines.push_back(Section.HeaderTag);
  lines.insert(lines.end(), HeaderLines.begin(), HeaderLines.end());
  lines.push_back("");
  lines.push_back(Section.HeaderEndTag);
  lines.push_back(Section.LoopTag);
  lines.insert(lines.end(), LoopLines.begin(), LoopLines.end());
  lines.push_back("");
  lines.push_back(Section.LoopEndTag);
  return text::SaveLineList(fileName, lines, ErrorMessage, &Codes);
}

bool TVOKT::SetSystemVariable(const std::string &name, long double value) {
  long double *place = SystemVariables.GetVariablePointer(name, true);
  if (!place) {
    ShowMessage(SystemVariables.ErrorMessage, VoktCaption);
    return false;
  }
  *place = value;
  return true;
}

bool TVOKT::GetSystemVariable(const std::string &name, long double &value) {
  if (SystemVariables.GetVariableValue(name, value)) return true;
  ShowMessage("System variable " + name + " does not exist.", VoktCaption);
  return false;
}

bool TVOKT::SetStrVariable(const std::string &name, const std::string &value) {
  const std::int32_t i = FindStrVariable(name, true);
  if (i < 0) return false;
  StrVariables[static_cast<std::size_t>(i)].Value = value;
  return true;
}

bool TVOKT::GetStrVariable(const std::string &name, std::string &value) {
  const std::int32_t i = FindStrVariable(name, false);
  if (i < 0) return false;
  value = StrVariables[static_cast<std::size_t>(i)].Value;
  return true;
}

std::int32_t TVOKT::FindStrVariable(const std::string &name, bool create) {
  for (std::int32_t i = 0; i < StrCount; ++i) {
    if (StrVariables[static_cast<std::size_t>(i)].Name == name) return i;
  }
  if (!create) {
    ShowMessage("Variable \"" + name + "\" is not defined.", VoktCaption);
    return -1;
  }
  if (StrCount >= StrCapacity && !GrowStrVariables(2)) return -1;
  TStrVariable &v = StrVariables[static_cast<std::size_t>(StrCount)];
  v.Name = name;
  v.Value.clear();
  return StrCount++;
}

bool TVOKT::GrowStrVariables(std::int32_t factor) {
  try {
    if (factor < 1 || StrCapacity > std::numeric_limits<std::int32_t>::max() / factor) throw std::bad_alloc();
    std::vector<TStrVariable> bigger(static_cast<std::size_t>(StrCapacity) * static_cast<std::size_t>(factor));
    for (std::int32_t i = 0; i < StrCount; ++i)
      bigger[static_cast<std::size_t>(i)] = std::move(StrVariables[static_cast<std::size_t>(i)]);
    StrVariables.swap(bigger);
    StrCapacity *= factor;
    return true;
  } catch (const std::bad_alloc &) {
    ShowMessage(AllocationFailedText, VoktCaption);
    return false;
  }
}

}  // namespace velmora
