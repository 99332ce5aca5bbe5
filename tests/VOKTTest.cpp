#include "document/VOKT.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "document/Work.h"
#include "text/Cp932.h"

using velmora::TMessageRecorder;
using velmora::TVOKT;
using velmora::test::Put;
using velmora::test::Slurp;
using velmora::test::TTempDir;
using L = velmora::TStringList;

namespace {

// Writes UTF-8 lines as a CP932 file with CR LF.
void PutDocument(const std::string &path, const L &lines) {
  std::string utf8, bytes, error;
  for (const std::string &l : lines) utf8 += l + "\r\n";
  ASSERT_TRUE(velmora::text::Utf8ToCp932(utf8, bytes, error)) << error;
  Put(path, bytes);
}

L Texts(const TMessageRecorder &r) {
  L texts;
  for (const auto &e : r.Entries) texts.push_back(e.Caption + "|" + e.Text);
  return texts;
}

}  // namespace

TEST(VOKT, ReadsAllFourSections) {
  TTempDir dir;
  const std::string path = dir.File("doc.vokt");
  PutDocument(path, {"<VOKT 1.0>", "", "<system>", "ImageWidth = 2*200", "  ImageHeight = 300  ", "// note", "",
                     "</system>", "<system_str>", "AppName ＝ ”Velmora 2”  // comment", "</system_str>", "<header>",
                     "   a = 1", "", "<loop>", "</header>", "<loop>", "\tr = x", "</loop>"});
  TMessageRecorder boxes;
  TVOKT doc(&boxes);
  ASSERT_TRUE(doc.Read(path));
  EXPECT_TRUE(boxes.Entries.empty()) << Texts(boxes)[0];
  long double w = 0, h = 0;
  EXPECT_TRUE(doc.GetSystemVariable("ImageWidth", w));
  EXPECT_TRUE(doc.GetSystemVariable("ImageHeight", h));
  EXPECT_EQ(w, 400);
  EXPECT_EQ(h, 300);
  std::string app;
  EXPECT_TRUE(doc.GetStrVariable("AppName", app));
  EXPECT_EQ(app, "Velmora 2");
  EXPECT_EQ(doc.HeaderLines, (L{"a = 1", "", "<loop>"})) << "trimmed; empty lines and other tags kept";
  EXPECT_EQ(doc.LoopLines, (L{"r = x"}));
}

TEST(VOKT, RefusesFilesThatAreNotVoktAndKeepsItsContents) {
  TTempDir dir;
  TMessageRecorder boxes;
  TVOKT doc(&boxes);
  doc.HeaderLines = {"keep me"};
  EXPECT_FALSE(doc.Read(dir.File("missing.vokt")));
  for (const std::string first : {"<VOKT 1.0> ", "\xEF\xBB\xBF<VOKT 1.0>", "<VOKT 2.0>", ""}) {
    Put(dir.File("bad.vokt"), first.empty() ? "" : first + "\r\n<header>\r\nx\r\n</header>\r\n");
    EXPECT_FALSE(doc.Read(dir.File("bad.vokt")));
  }
  EXPECT_EQ(doc.HeaderLines, (L{"keep me"}));
  ASSERT_EQ(boxes.Entries.size(), 5u);
  EXPECT_EQ(Texts(boxes)[0], "エラー(VOKT)|" + dir.File("missing.vokt") + "が存在しません．");
  for (std::size_t i = 1; i < 5; ++i) EXPECT_EQ(Texts(boxes)[i], "エラー(VOKT)|ファイルを処理できません．");
  EXPECT_EQ(boxes.Entries[0].Flags, 48);
}

TEST(VOKT, LineProblemsAreReportedAndReadingGoesOn) {
  TTempDir dir;
  const std::string path = dir.File("doc.vokt");
  PutDocument(path, {"<VOKT 1.0>", "stray text", "<system>", "a = (1", "b = 2", "</system>", "<system_str>",
                     "Name", "N = \"x\" y", "M = \"open", "", "P = \"C:\\dir\\\"", "Q = \"ok\"", "</system_str>",
                     "<loop>", "r = 1"});
  TMessageRecorder boxes;
  TVOKT doc(&boxes);
  ASSERT_TRUE(doc.Read(path));
  const std::string f = path + " (";
  EXPECT_EQ(Texts(boxes), (L{"VOKT Error|" + f + "1)\n VOKTファイルの書式エラー．",
                             "VOKT Error|" + f + "3)\n 括弧が閉じていない",
                             "VOKT Error|" + f + "7)\n system_strセクションの文法違反．",
                             "VOKT Error|" + f + "8)\n system_strセクションの文法違反．",
                             "VOKT Error|" + f + "9)\n SyntaxError: String is not closed.",
                             "VOKT Error|" + f + "10)\n system_strセクションの文法違反．",
                             "VOKT Error|" + f + "11)\n system_strセクションの文法違反．"}))
      << "a folder path ending in a backslash does not read back";
  long double b = 0;
  EXPECT_TRUE(doc.GetSystemVariable("b", b));
  EXPECT_EQ(b, 2);
  std::string q;
  EXPECT_TRUE(doc.GetStrVariable("Q", q));
  EXPECT_EQ(q, "ok");
  EXPECT_EQ(doc.StrCount, 1);
  EXPECT_EQ(doc.LoopLines, (L{"r = 1"})) << "an unclosed section runs to the end without a message";
}

TEST(VOKT, WritesTheDocumentedLayout) {
  TTempDir dir;
  TMessageRecorder boxes;
  TVOKT doc(&boxes);
  doc.HeaderLines = {"// 定数", "a = 1"};
  doc.LoopLines = {"r = x ＋ a"};
  ASSERT_TRUE(doc.SetStrVariable("AppName", "Velmora 2"));
  ASSERT_TRUE(doc.SetSystemVariable("ImageWidth", 400));
  ASSERT_TRUE(doc.SetSystemVariable("ImageHeight", 0.5L));
  ASSERT_TRUE(doc.Write(dir.File("out.vokt")));
  std::string expected, error;
  ASSERT_TRUE(velmora::text::Utf8ToCp932(
      "<VOKT 1.0>\r\n<system>\r\nImageWidth = 400\r\nImageHeight = 0.5\r\n</system>\r\n<system_str>\r\n"
      "AppName = \"Velmora 2\"\r\n</system_str>\r\n<header>\r\n// 定数\r\na = 1\r\n\r\n</header>\r\n<loop>\r\n"
      "r = x ＋ a\r\n\r\n</loop>\r\n",
      expected, error));
  EXPECT_EQ(Slurp(dir.File("out.vokt")), expected);
}

TEST(VOKT, EachRoundTripGrowsTheBlocksByOneLineAndTakeWorkUndoesIt) {
  TTempDir dir;
  TMessageRecorder boxes;
  TVOKT doc(&boxes);
  velmora::TWork work;
  work.Constants = {"a = 1"};
  work.Carpet = {"r = a", ""};
  work.Width = 320;
  work.Height = 200;
  ASSERT_TRUE(velmora::PutWork(doc, work));
  ASSERT_TRUE(doc.Write(dir.File("d.vokt")));
  ASSERT_TRUE(doc.Read(dir.File("d.vokt")));
  EXPECT_EQ(doc.HeaderLines, (L{"a = 1", ""}));
  EXPECT_EQ(doc.LoopLines, (L{"r = a", "", ""}));
  velmora::TWork back;
  EXPECT_TRUE(velmora::TakeWork(doc, back));
  EXPECT_EQ(back.Constants, work.Constants);
  EXPECT_EQ(back.Carpet, work.Carpet);
  EXPECT_EQ(back.Width, 320);
  ASSERT_TRUE(velmora::PutWork(doc, back));
  ASSERT_TRUE(doc.Write(dir.File("e.vokt")));
  EXPECT_EQ(Slurp(dir.File("d.vokt")), Slurp(dir.File("e.vokt"))) << "open, save, open is stable";
  EXPECT_TRUE(boxes.Entries.empty());
}

TEST(VOKT, TakeWorkWarnsAboutForeignAndIncompleteDocuments) {
  TTempDir dir;
  PutDocument(dir.File("f.vokt"), {"<VOKT 1.0>", "<system_str>", "AppName = \"Other\"", "</system_str>",
                                   "<header>", "x = 1", "</header>"});
  TMessageRecorder boxes;
  TVOKT doc(&boxes);
  ASSERT_TRUE(doc.Read(dir.File("f.vokt")));
  velmora::TWork work;
  EXPECT_FALSE(velmora::TakeWork(doc, work));
  EXPECT_EQ(work.Constants, (L{"x = 1"}));
  EXPECT_EQ(work.Width, 400);
  EXPECT_EQ(Texts(boxes), (L{"警告|このVOKTファイルは, Velmora 2用ではありません．",
                             "エラー(VOKT)|System variable ImageWidth does not exist.",
                             "エラー(VOKT)|System variable ImageHeight does not exist."}));
  EXPECT_EQ(boxes.Entries[0].Flags, 0);
  boxes.Entries.clear();
  doc.Clear();
  EXPECT_FALSE(velmora::TakeWork(doc, work));
  EXPECT_EQ(Texts(boxes)[0], "エラー(VOKT)|Variable \"AppName\" is not defined.");
}

TEST(VOKT, StringVariablesGrowPastTheirFirstCapacity) {
  TVOKT doc;
  for (int i = 0; i < 250; ++i) ASSERT_TRUE(doc.SetStrVariable("v" + std::to_string(i), std::to_string(i)));
  EXPECT_EQ(doc.StrCapacity, 400);
  std::string v;
  ASSERT_TRUE(doc.GetStrVariable("v7", v));
  EXPECT_EQ(v, "7");
  ASSERT_TRUE(doc.SetStrVariable("v7", "seven"));
  EXPECT_EQ(doc.StrCount, 250);
  EXPECT_EQ(doc.FindStrVariable("V7", false), -1) << "names are case-sensitive";
}

TEST(VOKT, FileProblemsComeBackAsErrors) {
  TTempDir dir;
  TMessageRecorder boxes;
  TVOKT doc(&boxes);
  Put(dir.File("old.vokt"), "precious");
  doc.HeaderLines = {"¥ has no CP932 form"};
  EXPECT_FALSE(doc.Write(dir.File("old.vokt")));
  EXPECT_NE(doc.ErrorMessage.find("U+00A5"), std::string::npos) << doc.ErrorMessage;
  EXPECT_EQ(Slurp(dir.File("old.vokt")), "precious");
  EXPECT_FALSE(doc.Write(dir.File("no/such/folder.vokt")));
  EXPECT_FALSE(doc.ErrorMessage.empty());
  // Bytes that are not CP932 load with a warning, and are kept.
  Put(dir.File("bytes.vokt"), "<VOKT 1.0>\r\n<header>\r\nx\x81\r\n</header>\r\n");
  EXPECT_TRUE(doc.Read(dir.File("bytes.vokt")));
  EXPECT_EQ(doc.HeaderLines, (L{"x\xF3\xB0\x82\x81"})) << "the lead byte at the line end, as U+F0081";
  ASSERT_EQ(boxes.Entries.size(), 1u);
  EXPECT_NE(boxes.Entries[0].Text.find("コードページ932"), std::string::npos);
}

// Bytes that code page 932 cannot decode survive open and save untouched, and
// the scanner sees a lead byte and the byte after it as one character.
TEST(VOKT, UndecodableBytesAreKeptByteForByte) {
  TTempDir dir;
  TMessageRecorder boxes;
  const std::string file =
      "<VOKT 1.0>\r\n<system>\r\nImageWidth = 30\r\nImageHeight = 20\r\n</system>\r\n"
      "<system_str>\r\nAppName = \"Velmora 2\"\r\n</system_str>\r\n"
      "<header>\r\nx = 3 /* \x81*/ 5\r\n// stray \x80 \xA0 \xFD\xFE\xFF, pairs \x85\x40 \xEF\x7F\r\n"
      "// lead at the end \x9F\r\n// \x8D\xEC\x95\x69 and user area \xF0\x40\r\n\r\n</header>\r\n"
      "<loop>\r\nr = x \xE0\r\n\r\n</loop>\r\n";
  Put(dir.File("in.vokt"), file);
  TVOKT doc(&boxes);
  ASSERT_TRUE(doc.Read(dir.File("in.vokt")));
  EXPECT_EQ(boxes.Entries.size(), 1u) << "one warning";
  velmora::TWork work;
  EXPECT_TRUE(velmora::TakeWork(doc, work));
  EXPECT_NE(work.Constants[3].find("作品 and user area \xEE\x80\x80"), std::string::npos)
      << "decodable text and the user-defined area keep their meaning";
  velmora::TArithmeticUnit engine;
  long double value = 0;
  ASSERT_TRUE(engine.SetExpression(0, work.Constants[0])) << engine.ErrorMessage;
  ASSERT_TRUE(engine.Calculate(0, value)) << engine.ErrorMessage;
  EXPECT_EQ(value, 3) << "0x81 0x2A is one character: no end of the comment";
  TVOKT out(&boxes);
  ASSERT_TRUE(velmora::PutWork(out, work));
  ASSERT_TRUE(out.Write(dir.File("out.vokt"))) << out.ErrorMessage;
  EXPECT_EQ(Slurp(dir.File("out.vokt")), file);
}

// Characters with two codes (≒ 0x8790/0x81E0, 纊 0xED40/0xFA5C, ∵ 0xFA5B/0x81E6)
// keep the code they were read from through the desktop program's way: the
// document read, its work taken out, put back into the same document, written.
TEST(VOKT, CharactersWithTwoCodesKeepTheCodeTheyWereReadFrom) {
  TTempDir dir;
  TMessageRecorder boxes;
  const std::string file =
      "<VOKT 1.0>\r\n<system>\r\nImageWidth = 30\r\nImageHeight = 20\r\n</system>\r\n"
      "<system_str>\r\nAppName = \"Velmora 2\"\r\n</system_str>\r\n"
      "<header>\r\n// \x87\x90 \xED\x40\r\n\r\n</header>\r\n"
      "<loop>\r\nr = 1 // \xFA\x5B \x81\xE0\r\n\r\n</loop>\r\n";
  Put(dir.File("in.vokt"), file);
  TVOKT doc(&boxes);
  ASSERT_TRUE(doc.Read(dir.File("in.vokt")));
  EXPECT_TRUE(boxes.Entries.empty());
  velmora::TWork work;
  EXPECT_TRUE(velmora::TakeWork(doc, work));
  EXPECT_EQ(work.Constants, L{"// ≒ 纊"});
  ASSERT_TRUE(velmora::PutWork(doc, work));
  ASSERT_TRUE(doc.Write(dir.File("out.vokt"))) << doc.ErrorMessage;
  EXPECT_EQ(Slurp(dir.File("out.vokt")), file);
  TVOKT fresh(&boxes);
  ASSERT_TRUE(velmora::PutWork(fresh, work));
  ASSERT_TRUE(fresh.Write(dir.File("fresh.vokt"))) << fresh.ErrorMessage;
  EXPECT_NE(Slurp(dir.File("fresh.vokt")), file) << "another document writes the encoder's codes";
}
