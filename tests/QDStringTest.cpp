#include "formula/QDString.h"

#include <gtest/gtest.h>

#include <random>

#include "text/Utf8.h"

using velmora::TQDString;
using velmora::TStringList;

namespace {

struct TScan {
  bool Ok;
  TStringList Tokens;
  std::string Error;
};

TScan Scan(const std::string &text) {
  TQDString s;
  s.Text = text;
  const bool ok = s.Tokenize();
  EXPECT_EQ(s.Text, text) << "a scan must leave Text unchanged";
  return {ok, *s.Tokens, s.ErrorMessage};
}

TStringList Tokens(const std::string &text) {
  TScan r = Scan(text);
  EXPECT_TRUE(r.Ok) << text << ": " << r.Error;
  return r.Tokens;
}

using L = TStringList;

}  // namespace

TEST(QDStringTables, HoldTheDocumentedEntries) {
  TQDString s;
  ASSERT_EQ(s.Punctuation.size(), 32u);
  ASSERT_EQ(s.WidePunctuation.size(), 32u);
  EXPECT_EQ(s.Punctuation[0], U' ');
  EXPECT_EQ(s.Punctuation.find(U'_'), std::u32string::npos) << "the underscore is no punctuation";
  EXPECT_EQ(s.WidePunctuation[s.Punctuation.find(U'\\')], U'\uFFE5');
  EXPECT_EQ(s.WidePunctuation[s.Punctuation.find(U'~')], U'\uFF5E');
  EXPECT_EQ(s.WidePunctuation[s.Punctuation.find(U'|')], U'\uFF5C');
  EXPECT_EQ(s.WidePunctuation[s.Punctuation.find(U'-')], U'\uFF0D');
  EXPECT_EQ(s.WidePunctuation[s.Punctuation.find(U'"')], U'\u201D');
  EXPECT_EQ(s.WidePunctuation[s.Punctuation.find(U'`')], U'\u2018');
  EXPECT_EQ(s.Operators.size(), 24u) << "23 operators and the closing empty entry";
  EXPECT_TRUE(s.Operators.back().empty());
  EXPECT_EQ(s.Alternatives.size(), 15u);
  EXPECT_EQ(s.EscapeLetters.size(), 45u) << "22 pairs and the closing empty entry";
  EXPECT_EQ(s.ExponentMarks.size(), 10u);
  EXPECT_EQ(s.StringBreakMarks.size(), 6u);
  EXPECT_EQ(s.Tokens, nullptr) << "no token list before the first scan";
}

TEST(QDStringBasics, EmptyBlankAndCommentOnlyLinesYieldNoTokens) {
  for (const char *line : {"", "   ", "\xE3\x80\x80", "// only a note", "/* block */", "/* open",
                           " \t ", "／／全角コメント"}) {
    TScan r = Scan(line);
    EXPECT_TRUE(r.Ok) << line;
    EXPECT_TRUE(r.Tokens.empty()) << line;
  }
}

TEST(QDStringBasics, SimpleFormula) {
  EXPECT_EQ(Tokens("r = 128 + 127*sin(x/10)"),
            (L{"r", "=", "128", "+", "127", "*", "sin", "(", "x", "/", "10", ")"}));
  EXPECT_EQ(Tokens("x１"), (L{"x１"})) << "full-width digits stay inside words";
  EXPECT_EQ(Tokens("ｘ + x"), (L{"ｘ", "+", "x"})) << "full-width letters stay as typed";
  EXPECT_EQ(Tokens("2x"), (L{"2", "x"}));
  EXPECT_EQ(Tokens("変数 = 1"), (L{"変数", "=", "1"}));
}

TEST(QDStringComments, LineAndBlockComments) {
  EXPECT_EQ(Tokens("x = 1 // note"), (L{"x", "=", "1"}));
  EXPECT_EQ(Tokens("a/*c*/b"), (L{"a", "b"}));
  EXPECT_EQ(Tokens("a /* // */ b"), (L{"a"})) << "line comment first, then the open block";
  EXPECT_EQ(Tokens("a /*/ b"), (L{"a", "b"})) << "the closer search starts at the opener";
  EXPECT_EQ(Tokens("a /* x */ b /* y */ c"), (L{"a", "b", "c"}));
  EXPECT_EQ(Tokens("a ／＊全角＊／ b"), (L{"a", "b"}));
  EXPECT_EQ(Tokens("a /* unclosed b"), (L{"a"}));
}

TEST(QDStringComments, OpenersInsideStringsDoNotCount) {
  EXPECT_EQ(Tokens("\"a//b\""), (L{"\"", "a//b", "\""}));
  EXPECT_EQ(Tokens("\"/*\" x \"*/\" y"), (L{"\"", "/*", "\"", "x", "\"", "*/", "\"", "y"}));
  // A quote inside a block comment still counts, so the first closer is "inside".
  EXPECT_EQ(Tokens("a /* \" */ b */ c"), (L{"a"}));
  // A string-break mark flips the state like a quote.
  EXPECT_EQ(Tokens("x \\ // y"), (L{"x", "\\", "/", "/", "y"}));
  // An escape sequence is stepped over without flipping.
  EXPECT_EQ(Tokens("\\n // y"), (L{"\\", "n"}));
}

TEST(QDStringOperators, FirstTableEntryWinsNotTheLongest) {
  EXPECT_EQ(Tokens("a<<=b"), (L{"a", "<<", "=", "b"}));
  EXPECT_EQ(Tokens("a--b"), (L{"a", "--", "b"}));
  EXPECT_EQ(Tokens("a---b"), (L{"a", "--", "-", "b"}));
  EXPECT_EQ(Tokens("x-=1"), (L{"x", "-=", "1"}));
  EXPECT_EQ(Tokens("x=-1"), (L{"x", "=", "-", "1"}));
  EXPECT_EQ(Tokens("p->x::y"), (L{"p", "->", "x", "::", "y"}));
  EXPECT_EQ(Tokens("a&&b||c"), (L{"a", "&&", "b", "||", "c"}));
}

TEST(QDStringOperators, FullWidthAndLookAlikes) {
  EXPECT_EQ(Tokens("ー"), (L{"-"}));
  EXPECT_EQ(Tokens("―"), (L{"-"}));
  EXPECT_EQ(Tokens("‐"), (L{"-"}));
  EXPECT_EQ(Tokens("ーー"), (L{"--"}));
  EXPECT_EQ(Tokens("―‐"), (L{"--"}));
  EXPECT_EQ(Tokens("≧"), (L{">="}));
  EXPECT_EQ(Tokens("a≧b"), (L{"a", ">=", "b"}));
  EXPECT_EQ(Tokens("a≠b"), (L{"a", "!=", "b"}));
  EXPECT_EQ(Tokens("a÷b"), (L{"a", "/", "b"}));
  EXPECT_EQ(Tokens("＜＝"), (L{"<="}));
  EXPECT_EQ(Tokens("ー>"), (L{"->"}));
  EXPECT_EQ(Tokens("ｘ＝ｙ＋１"), (L{"ｘ", "=", "ｙ", "+", "1"}));
  EXPECT_EQ(Tokens("（ａ）"), (L{"(", "ａ", ")"}));
  // At the very end a shorter normalised remainder can match a longer operator.
  EXPECT_EQ(Tokens("<≦"), (L{"<<="}));
  EXPECT_EQ(Tokens("<≦a"), (L{"<", "<=", "a"}));
  EXPECT_EQ(Tokens("'’"), (L{"'", "'"})) << "no character literals";
}

TEST(QDStringNumbers, FormsAndNormalisation) {
  EXPECT_EQ(Tokens("１２．５Ｅ－３"), (L{"12.5E-3"}));
  EXPECT_EQ(Tokens("3.25e+10"), (L{"3.25e+10"}));
  EXPECT_EQ(Tokens("1e5"), (L{"1e5"}));
  EXPECT_EQ(Tokens("1."), (L{"1."}));
  EXPECT_EQ(Tokens("1e+"), (L{"1e+"})) << "a sign needs no digits";
  EXPECT_EQ(Tokens("2Ｅ－"), (L{"2E-"}));
  EXPECT_EQ(Tokens(".5"), (L{".", "5"}));
  EXPECT_EQ(Tokens("1.2.3"), (L{"1.2", ".", "3"}));
  TScan r = Scan("1E");
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Error, "SyntaxError: Put some numbers after exponential symbol");
  EXPECT_EQ(r.Tokens, (L{"1E"}));
  r = Scan("2exp(1)");
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Error, "SyntaxError: Put some numbers after exponential symbol");
  EXPECT_EQ(r.Tokens, (L{"2e", "xp", "(", "1", ")"})) << "scanning goes on after the error";
}

TEST(QDStringNumbers, IsNumberToken) {
  TQDString s;
  EXPECT_FALSE(s.IsNumberToken(0)) << "no list yet";
  s.Text = "x = 1 + ２";
  ASSERT_TRUE(s.Tokenize());
  EXPECT_FALSE(s.IsNumberToken(0));
  EXPECT_TRUE(s.IsNumberToken(2));
  EXPECT_TRUE(s.IsNumberToken(4));
  EXPECT_FALSE(s.IsNumberToken(5));
  EXPECT_FALSE(s.IsNumberToken(100));
  EXPECT_FALSE(s.IsNumberToken(-1));
}

TEST(QDStringStrings, QuotesContentsAndErrors) {
  EXPECT_EQ(Tokens("\"\""), (L{"\"", "", "\""}));
  EXPECT_EQ(Tokens("”abc”"), (L{"\"", "abc", "\""}));
  EXPECT_EQ(Tokens("\"abc”"), (L{"\"", "abc", "\""})) << "either kind closes";
  EXPECT_EQ(Tokens("\" a b \""), (L{"\"", " a b ", "\""})) << "contents are not trimmed";
  EXPECT_EQ(Tokens("\"ｘ＋１\""), (L{"\"", "ｘ＋１", "\""})) << "contents are not normalised";
  EXPECT_EQ(Tokens("x \""), (L{"x", "\""})) << "a quote at the end is no error";

  TScan r = Scan("\"abc def");
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Error, "SyntaxError: String is not closed.");
  EXPECT_EQ(r.Tokens, (L{"\"", "abc def"}));
}

TEST(QDStringStrings, EscapesAndBreaks) {
  // An escaped quote does not close the string.
  EXPECT_EQ(Tokens("\"a\\\"b\""), (L{"\"", "a\\\"b", "\""}));
  EXPECT_EQ(Tokens("\"a￥”b”"), (L{"\"", "a￥”b", "\""}));
  EXPECT_EQ(Tokens("\"a\\nb\""), (L{"\"", "a\\nb", "\""}));
  // A backslash before anything else ends the content and is scanned as a symbol.
  EXPECT_EQ(Tokens("\"a\\x\""), (L{"\"", "a", "\\", "x", "\""}));
  EXPECT_EQ(Tokens("\"a￥x"), (L{"\"", "a", "\\", "x"}));
}

TEST(QDStringWords, TabsAreNotSeparators) {
  EXPECT_EQ(Tokens("a\tb"), (L{"a\tb"}));
  EXPECT_EQ(Tokens("\ta\t+\tb\t"), (L{"a", "+", "b"}));
  EXPECT_EQ(Tokens("sizeof x"), (L{"sizeof", "x"}));
  EXPECT_EQ(Tokens("a_b1 _c"), (L{"a_b1", "_c"}));
}

TEST(QDStringRobustness, InvalidUtf8IsOneCharacterPerByte) {
  // Raw Shift-JIS bytes and stray continuation bytes must not crash or loop.
  const std::string raw = "x\x82\xA0y = \x80\xFF + \"\xE3\x81\" z";
  TScan r = Scan(raw);
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Tokens, (L{"x\x82\xA0y", "=", "\x80\xFF", "+", "\"", "\xE3\x81", "\"", "z"}));
}

TEST(QDStringRobustness, LongLinesScanInLinearTime) {
  // A quadratic scanner would take minutes on these.
  std::string sum;
  for (int i = 0; i < 200000; ++i) sum += "a+";
  sum += "1";
  TScan r = Scan(sum);
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Tokens.size(), 400001u);

  std::string comments;
  for (int i = 0; i < 200000; ++i) comments += "/**/ ";
  EXPECT_TRUE(Scan(comments + "x").Tokens == (L{"x"}));

  std::string quoted = "\"";
  for (int i = 0; i < 300000; ++i) quoted += "//";
  EXPECT_FALSE(Scan(quoted).Ok);
}

// ---------------------------------------------------------------------------
// The comment remover walks the line once; check it against a literal
// implementation that re-derives the string state from the start at every step.

namespace {

struct TReference {
  static bool Is(char32_t c, char32_t a, char32_t b) { return c == a || c == b; }
  static bool Quote(const std::u32string &t, std::size_t p) { return p < t.size() && Is(t[p], U'"', U'\u201D'); }
  static bool Mark(const std::u32string &t, std::size_t p) { return p < t.size() && Is(t[p], U'\\', U'\uFFE5'); }
  static bool Key(const std::u32string &t, std::size_t p) {
    static const std::u32string keys = U"abfnrtv\\'\"?\uFF41\uFF42\uFF46\uFF4E\uFF52\uFF54\uFF56\uFFE5\u2019\u201D\uFF1F";
    return p < t.size() && keys.find(t[p]) != std::u32string::npos;
  }
  static bool Escape(const std::u32string &t, std::size_t p) { return Mark(t, p) && Key(t, p + 1); }
  static bool Slash(char32_t c) { return Is(c, U'/', U'\uFF0F'); }
  static bool Star(char32_t c) { return Is(c, U'*', U'\uFF0A'); }
  static bool Pair(const std::u32string &t, std::size_t p, bool (*a)(char32_t), bool (*b)(char32_t)) {
    return p + 1 < t.size() && a(t[p]) && b(t[p + 1]);
  }
  static long FindStringEnd(const std::u32string &t, std::size_t p) {
    while (p < t.size()) {
      if (Quote(t, p)) return static_cast<long>(p);
      if (Escape(t, p)) p += 2;
      else if (Mark(t, p)) return static_cast<long>(p);
      else ++p;
    }
    return -1;
  }
  static bool IsInString(const std::u32string &t, std::size_t p) {
    if (p >= t.size()) return false;
    bool inside = false;
    long s = FindStringEnd(t, 0);
    while (s >= 0 && static_cast<std::size_t>(s) < p) {
      inside = !inside;
      s = FindStringEnd(t, static_cast<std::size_t>(s) + 1);
    }
    return inside;
  }
  static std::u32string Remove(std::u32string t) {
    for (std::size_t p = 0; p < t.size(); ++p) {
      if (Pair(t, p, Slash, Slash) && !IsInString(t, p)) {
        t = t.substr(0, p) + U" ";
        break;
      }
    }
    for (;;) {
      long b = -1;
      for (std::size_t p = 0; p < t.size() && b < 0; ++p)
        if (Pair(t, p, Slash, Star) && !IsInString(t, p)) b = static_cast<long>(p);
      if (b < 0) return t;
      long e = -1;
      for (std::size_t q = static_cast<std::size_t>(b); q < t.size() && e < 0; ++q)
        if (Pair(t, q, Star, Slash) && !IsInString(t, q)) e = static_cast<long>(q) + 1;
      const auto bb = static_cast<std::size_t>(b);
      t = e < 0 ? t.substr(0, bb) + U" " : t.substr(0, bb) + U" " + t.substr(static_cast<std::size_t>(e) + 1);
    }
  }
};

}  // namespace

TEST(QDStringComments, SinglePassRemovalMatchesTheLiteralAlgorithm) {
  const std::u32string alphabet = U"/*\"\\na x\uFF0F\uFF0A\u201D\uFFE5";
  std::mt19937 rng(20261208);
  TQDString scanner;
  for (int round = 0; round < 20000; ++round) {
    std::u32string line;
    const int len = static_cast<int>(rng() % 14);
    for (int i = 0; i < len; ++i) line += alphabet[rng() % alphabet.size()];
    ASSERT_EQ(scanner.RemoveComments(line), TReference::Remove(line))
        << "line: " << velmora::text::EncodeUtf8(line) << " (seed 20261208, round " << round << ")";
  }
}

// Found by the formula fuzzer: bytes that are not UTF-8 before a quote made a
// string, or an unclosed block comment, run into the space that stands for the
// line comment after it.
TEST(QDStringParts, NothingRunsIntoALineComment) {
  for (const std::string text : {"a /\326\337\235\223\220\\#ing\" // c",
                                 "a /* bloc\234\337\325\320 = \"str\\\"ing\" // c"}) {
    TQDString scanner;
    scanner.Text = text;
    scanner.Tokenize();
    const std::vector<TQDString::TPart> parts = scanner.Parts();
    ASSERT_FALSE(parts.empty()) << text;
    std::size_t end = 0;
    for (const TQDString::TPart &p : parts) {
      EXPECT_GT(p.Length, 0u) << text;
      EXPECT_GE(p.Begin, end) << "parts overlap at " << p.Begin << " in " << text;
      end = p.Begin + p.Length;
    }
    EXPECT_EQ(end, velmora::text::DecodeUtf8(text).size()) << text;
    EXPECT_EQ(parts.back().Kind, TQDString::TPartKind::Comment) << text;
    EXPECT_EQ(parts.back().Length, 4u) << "the comment is \"// c\" in " << text;
  }
}

TEST(QDStringParts, PartsLieWhereTheTextHasThem) {
  using K = TQDString::TPartKind;
  struct TCase {
    std::string Text;
    std::vector<std::tuple<std::size_t, std::size_t, K>> Parts;  // begin, length, kind
  } cases[] = {
      {"r = sin(x)+１２.5e3", {{0, 1, K::Word}, {2, 1, K::Symbol}, {4, 3, K::Word}, {7, 1, K::Symbol},
                               {8, 1, K::Word}, {9, 1, K::Symbol}, {10, 1, K::Symbol}, {11, 6, K::Number}}},
      // A comment between tokens, "<<=" as the scanner reads it ("<<", "="), a comment
      // mark inside a string, an unclosed comment at the end.
      {"a/*c*/<<= \"x//y\" /* end", {{0, 1, K::Word}, {1, 5, K::Comment}, {6, 2, K::Symbol}, {8, 1, K::Symbol},
                                     {10, 6, K::String}, {17, 6, K::Comment}}},
      {"b ／／全角のコメント", {{0, 1, K::Word}, {2, 9, K::Comment}}},
      {"\"open", {{0, 5, K::String}}},
      {"\"a\"/*c*/\"b\"", {{0, 3, K::String}, {3, 5, K::Comment}, {8, 3, K::String}}},
      {"a /* b // c", {{0, 1, K::Word}, {2, 5, K::Comment}, {7, 4, K::Comment}}},
  };
  for (const TCase &c : cases) {
    TQDString scanner;
    scanner.Text = c.Text;
    scanner.Tokenize();
    const TStringList tokens = *scanner.Tokens;
    std::vector<std::tuple<std::size_t, std::size_t, K>> parts;
    for (const TQDString::TPart &p : scanner.Parts()) parts.emplace_back(p.Begin, p.Length, p.Kind);
    EXPECT_EQ(parts, c.Parts) << c.Text;
    EXPECT_EQ(*scanner.Tokens, tokens) << "finding the parts leaves the last scan's tokens";
  }
}
