#pragma once
// TQDString: removes comments from one formula line and cuts it into tokens.
// Input typed in a Japanese input mode (full-width digits, operators, quotes and
// a few look-alikes) is turned into ASCII inside number and symbol tokens; words
// and string contents are passed on exactly as typed.
//
// Text is UTF-8; a character is one code point (an invalid byte counts as one
// character). Positions below are 0-based character indices of the working text.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "text/Utf8.h"

namespace velmora {

using TStringList = std::vector<std::string>;

class TQDString {
 public:
  TQDString();

  // The line to scan; a scan leaves it unchanged.
  std::string Text;
  // Tokens of the last scan, in text order; null before the first scan. Callers
  // may rewrite entries in place.
  std::unique_ptr<TStringList> Tokens;

  // Tables, filled by the constructor and never changed.
  std::u32string Punctuation;       // 32 ASCII punctuation characters, space first
  std::u32string WidePunctuation;   // their full-width counterparts, same order
  std::vector<std::u32string> Operators;     // multi-character operators, ended by ""
  std::vector<std::u32string> Alternatives;  // key, replacement, ..., ended by ""
  std::u32string Digits;
  std::u32string WideDigits;
  std::vector<std::u32string> ExponentMarks;        // 10 slots
  std::vector<std::u32string> QuoteMarks;           // 10 slots
  std::vector<std::u32string> StringBreakMarks;     // 6 slots
  std::vector<std::u32string> LineCommentOpeners;   // 10 slots
  std::vector<std::u32string> BlockCommentOpeners;  // 10 slots
  std::vector<std::u32string> BlockCommentClosers;  // 10 slots
  std::vector<std::u32string> EscapeMarks;          // 6 slots
  std::vector<std::u32string> EscapeLetters;        // key, denoted character, ..., ended by ""

  // Message of the last scanner error of the current scan; empty when none.
  std::string ErrorMessage;
  // The last scan failed because memory ran out (ErrorMessage says so too).
  bool OutOfMemory = false;

  // Scans Text into a new token list; true when no error occurred. Scanning
  // always runs to the end of the text, so Tokens holds everything scanned.
  bool Tokenize();

  // True when token `index` starts with an ASCII digit.
  bool IsNumberToken(int index) const;

  // Comment removal on its own (each comment becomes one space); exposed for tests.
  std::u32string RemoveComments(const std::u32string &text) const;

  // What the parts of Text are, as a scan sees them (for colouring formulas):
  // positions and lengths in characters of Text, in text order. Spaces and
  // what a scan drops are in no part. A string's part includes its quotes.
  enum class TPartKind { Comment, String, Number, Symbol, Word };
  struct TPart {
    std::size_t Begin = 0, Length = 0;
    TPartKind Kind = TPartKind::Word;
  };
  std::vector<TPart> Parts();

 private:
  bool TokenizeText();
  void ScanTokens();  // the tokens of *Work, appended to Tokens
  enum class TMode { Number, Symbol, String, Word };

  const std::u32string *Work = nullptr;  // the text being scanned
  // Quick rejects for the hot loops, derived from the tables: ASCII punctuation,
  // and the characters that can start a quote, escape, break or comment mark.
  std::uint64_t AsciiSymbols[2] = {0, 0};
  std::u32string MarkStarts;
  bool CanStartMark(char32_t c) const;

  std::size_t Size() const { return Work->size(); }
  char32_t At(std::size_t p) const { return (*Work)[p]; }
  bool MatchesAt(const std::u32string &text, std::size_t p, const std::u32string &entry) const;
  int SlotAt(const std::u32string &text, std::size_t p,
             const std::vector<std::u32string> &slots) const;

  bool IsDigitChar(char32_t c) const;
  bool IsSymbolChar(char32_t c) const;
  bool IsNumberAt(std::size_t p) const { return p < Size() && IsDigitChar(At(p)); }
  bool IsSymbolAt(std::size_t p) const { return p < Size() && IsSymbolChar(At(p)); }
  int OperatorIndexAt(std::size_t p) const;
  int QuoteIndexAt(std::size_t p) const { return SlotAt(*Work, p, QuoteMarks); }
  int ExponentIndexAt(std::size_t p) const { return SlotAt(*Work, p, ExponentMarks); }
  int EscapeLengthAt(const std::u32string &text, std::size_t p) const;
  // Length of the string-state event at p (a quote or a string break), 0 when
  // none; `skip` receives the extra characters an escape sequence steps over.
  std::size_t StringEventAt(const std::u32string &text, std::size_t p, std::size_t &skip) const;

  void AppendAlternativeOf(std::u32string &out, char32_t c) const;
  void AppendNormalized(std::u32string &out, char32_t c) const;
  std::u32string Normalize(const std::u32string &s) const;
  std::u32string NormalizeNumber(const std::u32string &s) const;
  std::u32string ScanNumber(std::size_t p);
  long FindStringEnd(std::size_t p) const;
  TMode ModeAt(std::size_t p) const;

  // The string state of a walk through the text: inside a string or not, and
  // how many characters of a mark or escape sequence are still to be passed.
  struct TStringWalk {
    bool Inside = false;
    std::size_t Skip = 0;
  };
  void Step(TStringWalk &walk, const std::u32string &text, std::size_t p) const;
  // With `removed`, the comments taken out are noted (positions in `text`);
  // with `origin`, the position in `text` of each character of the result.
  std::u32string RemoveLineComment(const std::u32string &text, std::vector<TPart> *removed = nullptr) const;
  std::u32string RemoveBlockComments(const std::u32string &text, std::vector<TPart> *removed = nullptr,
                                     std::vector<std::size_t> *origin = nullptr) const;
  std::vector<TPart> *Recording = nullptr;  // parts of the working text, while Parts() scans
  void Record(std::size_t begin, std::size_t end, TPartKind kind);
};

}  // namespace velmora
