#include "formula/QDString.h"
#include "text/AllocationFailed.h"

#include <new>

#include <algorithm>

namespace velmora {

namespace {

// Slot tables have a fixed number of slots; unused ones stay empty.
std::vector<std::u32string> Slots(std::size_t count, std::initializer_list<std::u32string> used) {
  std::vector<std::u32string> slots(used);
  slots.resize(count);
  return slots;
}

bool IsTrimmed(char32_t c) { return c <= 0x20; }

std::string Trimmed(const std::u32string &s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsTrimmed(s[b])) ++b;
  while (e > b && IsTrimmed(s[e - 1])) --e;
  return text::EncodeUtf8(std::u32string_view(s).substr(b, e - b));
}

}  // namespace

TQDString::TQDString()
    : Punctuation(U" !\"#$%&'()*+,-./:;<=>?@[\\]^`{|}~"),
      WidePunctuation(
          U"\u3000\uFF01\u201D\uFF03\uFF04\uFF05\uFF06\u2019\uFF08\uFF09\uFF0A\uFF0B\uFF0C\uFF0D"
          U"\uFF0E\uFF0F\uFF1A\uFF1B\uFF1C\uFF1D\uFF1E\uFF1F\uFF20\uFF3B\uFFE5\uFF3D\uFF3E\u2018"
          U"\uFF5B\uFF5C\uFF5D\uFF5E"),
      Operators{U"->", U"::", U"++", U"--", U"<<", U">>", U"<=", U">=", U"==", U"!=", U"&&", U"||",
                U"?:", U"*=", U"/=", U"%=", U"+=", U"-=", U"&=", U"^=", U"|=", U"<<=", U">>=", U""},
      Alternatives{U"\u30FC", U"-",  U"\u2015", U"-",  U"\u2010", U"-", U"\u2267", U">=",
                   U"\u2266", U"<=", U"\u2260", U"!=", U"\u00F7", U"/", U""},
      Digits(U"0123456789"),
      WideDigits(U"\uFF10\uFF11\uFF12\uFF13\uFF14\uFF15\uFF16\uFF17\uFF18\uFF19"),
      ExponentMarks(Slots(10, {U"E", U"\uFF25", U"e", U"\uFF45"})),
      QuoteMarks(Slots(10, {U"\"", U"\u201D"})),
      StringBreakMarks(Slots(6, {U"\\", U"\uFFE5"})),
      LineCommentOpeners(Slots(10, {U"//", U"/\uFF0F", U"\uFF0F/", U"\uFF0F\uFF0F"})),
      BlockCommentOpeners(Slots(10, {U"/*", U"/\uFF0A", U"\uFF0F*", U"\uFF0F\uFF0A"})),
      BlockCommentClosers(Slots(10, {U"*/", U"\uFF0A/", U"*\uFF0F", U"\uFF0A\uFF0F"})),
      EscapeMarks(Slots(6, {U"\\", U"\uFFE5"})),
      EscapeLetters{U"a",      U"\a", U"b",      U"\b", U"f",      U"\f", U"n",      U"\n",
                    U"r",      U"\r", U"t",      U"\t", U"v",      U"\v", U"\\",     U"\\",
                    U"'",      U"'",  U"\"",     U"\"", U"?",      U"?",  U"\uFF41", U"\a",
                    U"\uFF42", U"\b", U"\uFF46", U"\f", U"\uFF4E", U"\n", U"\uFF52", U"\r",
                    U"\uFF54", U"\t", U"\uFF56", U"\v", U"\uFFE5", U"\uFFE5", U"\u2019", U"\u2019",
                    U"\u201D", U"\u201D", U"\uFF1F", U"\uFF1F", U""} {
  for (char32_t c : Punctuation) AsciiSymbols[c / 64] |= std::uint64_t{1} << (c % 64);
  for (const auto *table : {&QuoteMarks, &EscapeMarks, &StringBreakMarks, &LineCommentOpeners,
                            &BlockCommentOpeners, &BlockCommentClosers}) {
    for (const std::u32string &entry : *table) {
      if (!entry.empty() && MarkStarts.find(entry[0]) == std::u32string::npos) MarkStarts += entry[0];
    }
  }
}

bool TQDString::CanStartMark(char32_t c) const {
  if (c < 0x80 && (AsciiSymbols[c / 64] & (std::uint64_t{1} << (c % 64))) == 0) return false;
  return MarkStarts.find(c) != std::u32string::npos;
}

// ---------------------------------------------------------------------------
// Table lookups

bool TQDString::MatchesAt(const std::u32string &text, std::size_t p,
                          const std::u32string &entry) const {
  // A shorter remainder at the end of the text does not match.
  return !entry.empty() && p + entry.size() <= text.size() &&
         std::equal(entry.begin(), entry.end(), text.begin() + static_cast<long>(p));
}

int TQDString::SlotAt(const std::u32string &text, std::size_t p,
                      const std::vector<std::u32string> &slots) const {
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (MatchesAt(text, p, slots[i])) return static_cast<int>(i);
  }
  return -1;
}

bool TQDString::IsDigitChar(char32_t c) const {
  return (c >= U'0' && c <= U'9') || (c >= 0xFF10 && c <= 0xFF19);
}

bool TQDString::IsSymbolChar(char32_t c) const {
  if (c < 0x80) return (AsciiSymbols[c / 64] & (std::uint64_t{1} << (c % 64))) != 0;
  if (WidePunctuation.find(c) != std::u32string::npos) return true;
  for (std::size_t i = 0; !Alternatives[i].empty(); i += 2) {
    if (Alternatives[i].size() == 1 && Alternatives[i][0] == c) return true;
  }
  return false;
}

int TQDString::EscapeLengthAt(const std::u32string &text, std::size_t p) const {
  for (const std::u32string &mark : EscapeMarks) {
    if (!MatchesAt(text, p, mark)) continue;
    const std::size_t q = p + mark.size();
    for (std::size_t i = 0; !EscapeLetters[i].empty(); i += 2) {
      if (MatchesAt(text, q, EscapeLetters[i]))
        return static_cast<int>(mark.size() + EscapeLetters[i].size());
    }
    return -1;  // the first matching mark decides
  }
  return -1;
}

std::size_t TQDString::StringEventAt(const std::u32string &text, std::size_t p,
                                     std::size_t &skip) const {
  skip = 0;
  if (!CanStartMark(text[p])) return 0;
  const int quote = SlotAt(text, p, QuoteMarks);
  if (quote != -1) return QuoteMarks[static_cast<std::size_t>(quote)].size();
  const int escape = EscapeLengthAt(text, p);
  if (escape != -1) {
    skip = static_cast<std::size_t>(escape) - 1;
    return 0;
  }
  return SlotAt(text, p, StringBreakMarks) != -1 ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Normalisation

void TQDString::AppendAlternativeOf(std::u32string &out, char32_t c) const {
  for (std::size_t i = 0; !Alternatives[i].empty(); i += 2) {
    if (Alternatives[i].size() == 1 && Alternatives[i][0] == c) {
      out += Alternatives[i + 1];
      return;
    }
  }
  out += c;
}

void TQDString::AppendNormalized(std::u32string &out, char32_t c) const {
  if (c >= 0x80) {
    const std::size_t i = WidePunctuation.find(c);
    if (i != std::u32string::npos) {
      out += Punctuation[i];
      return;
    }
  }
  AppendAlternativeOf(out, c);
}

std::u32string TQDString::Normalize(const std::u32string &s) const {
  std::u32string out;
  out.reserve(s.size());
  for (char32_t c : s) AppendNormalized(out, c);
  return out;
}

std::u32string TQDString::NormalizeNumber(const std::u32string &s) const {
  std::u32string out = Normalize(s);
  for (char32_t &c : out) {
    for (std::size_t slot = 1; slot < ExponentMarks.size(); slot += 2) {
      if (ExponentMarks[slot].size() == 1 && ExponentMarks[slot][0] == c &&
          ExponentMarks[slot - 1].size() == 1) {
        c = ExponentMarks[slot - 1][0];
        break;
      }
    }
    const std::size_t d = WideDigits.find(c);
    if (d != std::u32string::npos) c = Digits[d];
  }
  return out;
}

int TQDString::OperatorIndexAt(std::size_t p) const {
  // Both sides are compared normalised, so the normalised form of the next
  // 1, 2 and 3 characters is all that is needed.
  std::u32string prefix[4];
  for (std::size_t n = 1; n <= 3; ++n) {
    prefix[n] = prefix[n - 1];
    if (p + n - 1 < Size()) AppendNormalized(prefix[n], At(p + n - 1));
  }
  for (std::size_t k = 0; !Operators[k].empty(); ++k) {
    const std::size_t len = Operators[k].size();
    if (len <= 3 && prefix[len] == Operators[k]) return static_cast<int>(k);
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Strings and comments

long TQDString::FindStringEnd(std::size_t p) const {
  while (p < Size()) {
    if (QuoteIndexAt(p) != -1) return static_cast<long>(p);
    const int escape = EscapeLengthAt(*Work, p);
    if (escape != -1) {
      p += static_cast<std::size_t>(escape);
    } else if (SlotAt(*Work, p, StringBreakMarks) != -1) {
      return static_cast<long>(p);
    } else {
      ++p;
    }
  }
  return -1;
}

// Whether a position is inside a string is decided by walking the text from its
// start: quote marks and string-break marks flip the state, escape sequences are
// stepped over. Both passes walk once, keeping that state, so the whole removal
// stays linear in the length of the line.

void TQDString::Step(TStringWalk &walk, const std::u32string &text, std::size_t p) const {
  if (walk.Skip > 0) {
    --walk.Skip;
    return;
  }
  std::size_t escapeSkip;
  const std::size_t event = StringEventAt(text, p, escapeSkip);
  if (event > 0) {
    walk.Inside = !walk.Inside;
    walk.Skip = event - 1;
  } else {
    walk.Skip = escapeSkip;
  }
}

std::u32string TQDString::RemoveLineComment(const std::u32string &text, std::vector<TPart> *removed) const {
  TStringWalk walk;
  for (std::size_t p = 0; p < text.size(); ++p) {
    if (!walk.Inside && CanStartMark(text[p]) && SlotAt(text, p, LineCommentOpeners) != -1) {
      if (removed) removed->push_back({p, text.size() - p, TPartKind::Comment});
      return text.substr(0, p) + U" ";
    }
    Step(walk, text, p);
  }
  return text;
}

std::u32string TQDString::RemoveBlockComments(const std::u32string &text, std::vector<TPart> *removed,
                                               std::vector<std::size_t> *origin) const {
  std::u32string out;
  out.reserve(text.size());
  TStringWalk walk;
  std::size_t p = 0;
  while (p < text.size()) {
    if (origin) origin->push_back(p);
    if (walk.Inside || !CanStartMark(text[p]) || SlotAt(text, p, BlockCommentOpeners) == -1) {
      out += text[p];
      Step(walk, text, p);
      ++p;
      continue;
    }
    // The closer is searched from the opener itself, so "/*/" is a whole comment;
    // the string state keeps counting inside the comment.
    std::size_t q = p;
    long end = -1;
    for (; q < text.size(); ++q) {
      const int closer =
          walk.Inside || !CanStartMark(text[q]) ? -1 : SlotAt(text, q, BlockCommentClosers);
      if (closer != -1) {
        end = static_cast<long>(q + BlockCommentClosers[static_cast<std::size_t>(closer)].size());
        break;
      }
      Step(walk, text, q);
    }
    out += U' ';
    if (removed) removed->push_back({p, (end < 0 ? text.size() : static_cast<std::size_t>(end)) - p, TPartKind::Comment});
    if (end < 0) break;  // an unclosed comment runs to the end of the line
    // The space that replaces the comment is outside any string and ends any escape.
    p = static_cast<std::size_t>(end);
    walk = TStringWalk{};
  }
  return out;
}

std::u32string TQDString::RemoveComments(const std::u32string &text) const {
  return RemoveBlockComments(RemoveLineComment(text));
}

// ---------------------------------------------------------------------------
// Tokens

std::u32string TQDString::ScanNumber(std::size_t p) {
  const std::size_t start = p;
  while (IsNumberAt(p)) ++p;
  if (p < Size() && (At(p) == U'.' || At(p) == U'\uFF0E')) {
    ++p;
    while (IsNumberAt(p)) ++p;
  }
  const int mark = ExponentIndexAt(p);
  if (mark != -1) {
    p += ExponentMarks[static_cast<std::size_t>(mark)].size();
    if (p < Size() && (At(p) == U'+' || At(p) == U'\uFF0B' || At(p) == U'-' || At(p) == U'\uFF0D')) {
      ++p;
      while (IsNumberAt(p)) ++p;
    } else if (IsNumberAt(p)) {
      while (IsNumberAt(p)) ++p;
    } else {
      ErrorMessage = "SyntaxError: Put some numbers after exponential symbol";
    }
  }
  return Work->substr(start, p - start);
}

TQDString::TMode TQDString::ModeAt(std::size_t p) const {
  if (IsNumberAt(p)) return TMode::Number;
  if (IsSymbolAt(p)) return TMode::Symbol;
  return TMode::Word;
}

bool TQDString::Tokenize() {
  OutOfMemory = false;
  try {
    return TokenizeText();
  } catch (const std::bad_alloc &) {
    OutOfMemory = true;
    ErrorMessage = AllocationFailedText;
    if (!Tokens) Tokens = std::make_unique<TStringList>();
    else Tokens->clear();
    return false;
  }
}

bool TQDString::TokenizeText() {
  ErrorMessage.clear();
  const std::u32string work = RemoveComments(text::DecodeUtf8(Text));
  Work = &work;
  Tokens = std::make_unique<TStringList>();
  ScanTokens();
  Work = nullptr;
  return ErrorMessage.empty();
}

void TQDString::ScanTokens() {
  const std::u32string &work = *Work;
  std::size_t p = 0;
  TMode mode = ModeAt(p);
  std::u32string t;
  while (p < Size()) {
    t.clear();
    bool opensString = false;
    const std::size_t start = p;
    switch (mode) {
      case TMode::Number: {
        const std::u32string s = ScanNumber(p);
        p += s.size();
        t = NormalizeNumber(s);
        break;
      }
      case TMode::Symbol: {
        const int k = OperatorIndexAt(p);
        if (k != -1) {
          t = Operators[static_cast<std::size_t>(k)];
          p += t.size();
        } else if (const int q = QuoteIndexAt(p); q != -1) {
          t = Normalize(QuoteMarks[static_cast<std::size_t>(q)]);
          p += QuoteMarks[static_cast<std::size_t>(q)].size();
          opensString = true;
        } else {
          AppendNormalized(t, At(p));
          ++p;
        }
        break;
      }
      case TMode::String: {
        long e = FindStringEnd(p);
        if (e == -1) {
          ErrorMessage = "SyntaxError: String is not closed.";
          e = static_cast<long>(Size());
        }
        const auto end = static_cast<std::size_t>(e);
        // The content goes in as typed, even when empty.
        Tokens->push_back(text::EncodeUtf8(std::u32string_view(work).substr(p, end - p)));
        p = end;
        if (const int q = QuoteIndexAt(p); q != -1) {
          t = Normalize(QuoteMarks[static_cast<std::size_t>(q)]);
          p += QuoteMarks[static_cast<std::size_t>(q)].size();
        }
        break;
      }
      case TMode::Word: {
        while (p < Size() && !IsSymbolAt(p)) ++p;
        t = work.substr(start, p - start);
        break;
      }
    }
    if (Recording) {
      static constexpr TPartKind kinds[] = {TPartKind::Number, TPartKind::Symbol, TPartKind::String, TPartKind::Word};
      Record(start, p, opensString ? TPartKind::String : kinds[static_cast<int>(mode)]);
    }
    std::string token = Trimmed(t);
    if (!token.empty()) Tokens->push_back(std::move(token));
    mode = opensString ? TMode::String : ModeAt(p);
  }
}

void TQDString::Record(std::size_t begin, std::size_t end, TPartKind kind) {
  // The text of a string with its closing quote joins the opening quote's part.
  if (kind == TPartKind::String && !Recording->empty() && Recording->back().Kind == TPartKind::String &&
      Recording->back().Begin + Recording->back().Length == begin) {
    if (end > begin) Recording->back().Length = end - Recording->back().Begin;
    return;
  }
  // Leading and trailing spaces are nobody's part (a symbol may be one space).
  while (begin < end && IsTrimmed(At(begin))) ++begin;
  while (end > begin && IsTrimmed(At(end - 1))) --end;
  if (begin < end) Recording->push_back({begin, end - begin, kind});
}

std::vector<TQDString::TPart> TQDString::Parts() {
  std::vector<TPart> comments, scanned;
  std::vector<std::size_t> origin;
  const std::u32string decoded = text::DecodeUtf8(Text);
  const std::u32string work = RemoveBlockComments(RemoveLineComment(decoded, &comments), &comments, &origin);
  // The block comments' positions are in the text without its line comment,
  // which is the same text up to where the line comment began.
  Work = &work;
  Recording = &scanned;
  const std::string savedError = ErrorMessage;
  std::unique_ptr<TStringList> savedTokens = std::move(Tokens);
  Tokens = std::make_unique<TStringList>();
  struct TRestore {
    TQDString &Scanner;
    const std::string &Error;
    std::unique_ptr<TStringList> &Tokens;
    ~TRestore() {
      Scanner.Work = nullptr;
      Scanner.Recording = nullptr;
      Scanner.ErrorMessage = Error;
      Scanner.Tokens = std::move(Tokens);
    }
  } restore{*this, savedError, savedTokens};
  ScanTokens();
  // Comments in text order. An unclosed block comment runs over the space left
  // for a line comment after it; it ends where the line comment begins.
  std::sort(comments.begin(), comments.end(), [](const TPart &a, const TPart &b) { return a.Begin < b.Begin; });
  std::vector<TPart> parts;
  parts.reserve(scanned.size() + comments.size());
  for (const TPart &comment : comments) {
    if (!parts.empty() && comment.Begin < parts.back().Begin + parts.back().Length) {
      parts.back().Length = comment.Begin - parts.back().Begin;
      if (parts.back().Length == 0) parts.pop_back();
    }
    parts.push_back(comment);
  }
  const std::size_t commentCount = parts.size();
  // The scanned parts, placed back in the typed text. In a line with bytes that
  // are no text the comment finder and the scanner may disagree about where a
  // string ends: a part stops where a comment begins, and one that begins in a
  // comment is left out.
  std::size_t next = 0;  // the first comment that does not end before the part
  for (const TPart &part : scanned) {
    const std::size_t begin = origin[part.Begin];
    std::size_t end = origin[part.Begin + part.Length - 1] + 1;
    while (next < commentCount && parts[next].Begin + parts[next].Length <= begin) ++next;
    if (next < commentCount) {
      if (parts[next].Begin <= begin) continue;
      end = std::min(end, parts[next].Begin);
    }
    parts.push_back({begin, end - begin, part.Kind});
  }
  std::sort(parts.begin(), parts.end(), [](const TPart &a, const TPart &b) { return a.Begin < b.Begin; });
  return parts;
}

bool TQDString::IsNumberToken(int index) const {
  if (!Tokens || index < 0 || static_cast<std::size_t>(index) >= Tokens->size()) return false;
  const std::string &token = (*Tokens)[static_cast<std::size_t>(index)];
  return !token.empty() && token[0] >= '0' && token[0] <= '9';
}

}  // namespace velmora
