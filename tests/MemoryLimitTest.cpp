// Memory that runs out ends the job with a clear message: never a value, a
// formula message, a half-written picture or an abort. velmora-cli runs under a
// lowered address-space limit, swept from too small to enough.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "TestSupport.h"
#include "paint/PictureFile.h"

using velmora::test::Put;
using velmora::test::Slurp;
using velmora::test::TTempDir;

namespace {

struct TOutcome {
  int Exit = -1;
  std::string Out, Err;
};

TOutcome RunLimited(const TTempDir &dir, long kilobytes, const std::string &args) {
  const std::string command = "cd '" + dir.Path + "' && rm -f out.bmp && (ulimit -v " + std::to_string(kilobytes) +
                              "; exec '" + std::string(VELMORA_CLI) + "' " + args + ") > .out 2> .err";
  const int status = std::system(command.c_str());
  TOutcome o;
  o.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  o.Out = Slurp(dir.File(".out"));
  o.Err = Slurp(dir.File(".err"));
  return o;
}

// Runs `args` at limits from `from` to `to` MB; each run either gives exactly
// `expected` on standard output (and exit 0) or says that memory ran out.
void Sweep(const TTempDir &dir, const std::string &args, int from, int to, int step, const std::string &expected,
           bool picture) {
  int succeeded = 0, ranOut = 0;
  for (int mb = from; mb <= to; mb += step) {
    const TOutcome o = RunLimited(dir, mb * 1024L, args);
    if (o.Err.find("error while loading shared libraries") != std::string::npos) continue;  // too small to start
    const std::string at = args + " at " + std::to_string(mb) + " MB: exit " + std::to_string(o.Exit) + ", " + o.Err;
    if (o.Exit == 0) {
      ++succeeded;
      EXPECT_EQ(o.Out, expected) << at;
      if (picture) {
        EXPECT_FALSE(Slurp(dir.File("out.bmp")).empty()) << at;
      }
    } else {
      ++ranOut;
      EXPECT_EQ(o.Exit, 2) << at;
      EXPECT_NE(o.Err.find("メモリが足りません"), std::string::npos) << at;
      EXPECT_EQ(o.Out, "") << at;
      if (picture) {
        EXPECT_EQ(Slurp(dir.File("out.bmp")), "") << at << ": no picture";
      }
    }
  }
  EXPECT_GT(succeeded, 0) << args << ": the sweep reaches enough memory";
  EXPECT_GT(ranOut, 0) << args << ": the sweep starts with too little";
}

void WriteDocument(const std::string &path, int width, int height, const std::string &carpet, int commentLines) {
  std::ofstream f(path, std::ios::binary);
  f << "<VOKT 1.0>\r\n<system>\r\nImageWidth = " << width << "\r\nImageHeight = " << height
    << "\r\n</system>\r\n<system_str>\r\nAppName = \"Velmora 2\"\r\n</system_str>\r\n<loop>\r\n";
  for (int i = 0; i < commentLines; ++i) f << "// comment line " << i << " with some words to make it longer\r\n";
  f << carpet << "\r\n</loop>\r\n";
}

class MemoryLimit : public ::testing::Test {
 protected:
  void SetUp() override {
    if (velmora::test::AddressSanitized) GTEST_SKIP() << "AddressSanitizer needs unlimited address space";
  }
  TTempDir Dir;
};

}  // namespace

TEST_F(MemoryLimit, ALongFormula) {
  std::string line = "1";
  for (int i = 0; i < 60000; ++i) line += "+1";
  Put(Dir.File("long.txt"), line + "\n");
  Sweep(Dir, "calc long.txt", 40, 200, 10, "60001\n", false);
}

TEST_F(MemoryLimit, ABigPicture) {
  WriteDocument(Dir.File("big.vokt"), 2000, 2000, "r = x\r\ng = y", 0);
  Sweep(Dir, "render big.vokt -o out.bmp", 20, 200, 10, "", true);
}

TEST_F(MemoryLimit, ABigDocument) {
  WriteDocument(Dir.File("doc.vokt"), 20, 20, "r = x", 250000);
  Sweep(Dir, "render doc.vokt -o out.bmp", 60, 200, 10, "", true);
}

// Long lines cost memory in proportion to their length: these needed
// gigabytes (a run of "*" rebuilt its text at every step) or over 500 MB.
TEST_F(MemoryLimit, LongLinesStayWithinLinearMemory) {
  Put(Dir.File("stars.txt"), std::string(100000, '*') + "x\n");
  TOutcome o = RunLimited(Dir, 150 * 1024L, "calc stars.txt");
  EXPECT_EQ(o.Exit, 1) << o.Err;
  EXPECT_EQ(o.Out, "定数式(1行目): アドレスに関する演算は行えない.\n");
  std::string sum = "1";
  for (int i = 1; i < 500000; ++i) sum += "+1";
  Put(Dir.File("sum.txt"), sum + "\n");
  o = RunLimited(Dir, 400 * 1024L, "calc sum.txt");
  EXPECT_EQ(o.Exit, 0) << o.Err;
  EXPECT_EQ(o.Out, "500000\n");
  Put(Dir.File("deep.txt"), std::string(500000, '(') + "x" + std::string(500000, ')') + "\n");
  o = RunLimited(Dir, 250 * 1024L, "calc deep.txt");
  EXPECT_EQ(o.Exit, 1) << o.Err;
  EXPECT_EQ(o.Out, "定数式(1行目): 括弧の入れ子が深すぎる(256重まで)\n");
}

// A good picture read with too little memory is not called damaged: the
// readers report a failed allocation as invalid data.
TEST_F(MemoryLimit, ReadingAPictureSaysMemoryNotDamage) {
  WriteDocument(Dir.File("d.vokt"), 10, 10, "r = r", 0);
  std::string error;
  const velmora::TPicture picture = velmora::TPicture::Filled(3000, 3000, velmora::Rgb(10, 20, 30));
  ASSERT_TRUE(velmora::SavePicture(Dir.File("big.png"), picture, error)) << error;
  ASSERT_TRUE(velmora::SavePicture(Dir.File("big.bmp"), picture, error)) << error;
  Sweep(Dir, "render d.vokt --input big.png -o out.bmp", 20, 300, 20, "", true);
  Sweep(Dir, "render d.vokt --input big.bmp -o out.bmp", 20, 300, 20, "", true);
}
