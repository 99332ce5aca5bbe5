// velmora-cli render, run as a user runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "TestSupport.h"
#include "document/Work.h"
#include "paint/PictureFile.h"

using velmora::TPicture;
using velmora::test::RunCli;
using velmora::test::TTempDir;
using L = velmora::TStringList;

namespace {

void WriteDoc(const TTempDir &dir, const std::string &name, const L &constants, const L &carpet, int w = 8,
              int h = 6) {
  velmora::TVOKT doc;
  velmora::TWork work;
  work.Constants = constants;
  work.Carpet = carpet;
  work.Width = w;
  work.Height = h;
  ASSERT_TRUE(velmora::PutWork(doc, work));
  ASSERT_TRUE(doc.Write(dir.File(name)));
}

TPicture Load(const std::string &path) {
  TPicture p;
  std::string error;
  EXPECT_TRUE(velmora::LoadPicture(path, p, error)) << error;
  return p;
}

}  // namespace

TEST(CliRender, PaintsADocumentIntoEachFormat) {
  TTempDir dir;
  WriteDoc(dir, "d.vokt", {"k = 2"}, {"r = x * k", "g = y", "b = 9"}, 8, 6);
  for (const char *out : {"o.bmp", "o.png", "o.jpg"}) {
    const auto r = RunCli(std::string("render d.vokt -o ") + out, "", &dir);
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, "") << "no progress bar when standard error is not a terminal";
    const TPicture p = Load(dir.File(out));
    EXPECT_EQ(p.Width, 8);
    EXPECT_EQ(p.Height, 6);
    if (std::string(out) != "o.jpg") {
      EXPECT_EQ(p.Pixel(7, 5), velmora::Rgb(14, 5, 9));
    }
  }
}

TEST(CliRender, ShippedExamplesPaint) {
  for (const char *name : {"gradient", "rings", "plasma", "rotate-channels", "interference", "colour-wheel"}) {
    TTempDir dir;
    const auto r = RunCli(std::string("render '") + VELMORA_SOURCE_DIR + "/examples/" + name + ".vokt' -o out.png",
                          "", &dir);
    EXPECT_EQ(r.Exit, 0) << name << ": " << r.Err << r.Out;
    EXPECT_EQ(r.Out, "") << name;
    EXPECT_EQ(r.Err, "") << name;
  }
}

TEST(CliRender, ErrorsStopThePaintAndWriteNothing) {
  TTempDir dir;
  WriteDoc(dir, "bad.vokt", {"a = (1"}, {"// c", "r = foo(1)"});
  auto r = RunCli("render bad.vokt -o out.bmp", "", &dir);
  EXPECT_EQ(r.Exit, 1);
  EXPECT_EQ(r.Out, "定数式(1行目): 括弧が閉じていない\n絨毯の数式(2行目): 式の文法エラー.\n");
  WriteDoc(dir, "fail.vokt", {}, {"q = exp(x) * 1e4930"});
  r = RunCli("render fail.vokt -o out.bmp", "", &dir);
  EXPECT_EQ(r.Exit, 1);
  EXPECT_EQ(r.Out, "絨毯の数式(1行目): 数式の実行中にエラーが発生しました\n");
  EXPECT_EQ(dir.Entries().size(), 2u) << "no picture was written";
}

TEST(CliRender, CtrlCStopsThePaintAndWritesNothing) {
  TTempDir dir;
  // Long enough (tens of seconds) that the interrupt always comes while painting.
  // --foreground: timeout signals the program once (by default it signals the
  // process group as well, and a second Ctrl+C ends the program at once).
  WriteDoc(dir, "long.vokt", {}, {"r = 128 + 127*sin(x/10 + y/13)*cos(y/17)", "g = pow(x + y + 1, 0.3)"}, 6000, 6000);
  const std::string command = "cd '" + dir.Path + "' && timeout --foreground --preserve-status -s INT 4 '" +
                              std::string(VELMORA_CLI) + "' render long.vokt -o out.png > out.txt 2> err.txt";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_EQ(velmora::test::Slurp(dir.File("err.txt")), "velmora-cli render: interrupted, nothing written\n");
  EXPECT_EQ(velmora::test::Slurp(dir.File("out.txt")), "");
  EXPECT_EQ(dir.Entries().size(), 3u) << "no picture was written";
}

TEST(CliRender, MathErrorsAreListedButThePictureIsWritten) {
  TTempDir dir;
  WriteDoc(dir, "m.vokt", {}, {"r = sqrt(x - 2)"}, 4, 1);
  const auto r = RunCli("render m.vokt -o out.bmp", "", &dir);
  EXPECT_EQ(r.Exit, 0);
  EXPECT_EQ(r.Out, "数学エラー...\n(1)domain error: sqrt(-2)\n(1)domain error: sqrt(-1)\n");
  EXPECT_EQ(Load(dir.File("out.bmp")).Pixel(3, 0), velmora::Rgb(1, 0, 0));
}

TEST(CliRender, StartingPictureSizeAndRepeats) {
  TTempDir dir;
  WriteDoc(dir, "rot.vokt", {}, {"r = getg", "g = getb", "b = getr"}, 3, 3);
  TPicture start = TPicture::Filled(5, 4, velmora::Rgb(10, 20, 30));
  std::string error;
  ASSERT_TRUE(velmora::SavePicture(dir.File("start.png"), start, error));
  auto r = RunCli("render rot.vokt --input start.png -o once.png", "", &dir);
  ASSERT_EQ(r.Exit, 0) << r.Err;
  TPicture once = Load(dir.File("once.png"));
  EXPECT_EQ(once.Width, 5) << "the input picture's size wins over the document's";
  EXPECT_EQ(once.Pixel(4, 3), velmora::Rgb(20, 30, 10));
  r = RunCli("render rot.vokt --input start.png --repeat 3 -o thrice.png", "", &dir);
  ASSERT_EQ(r.Exit, 0);
  EXPECT_EQ(Load(dir.File("thrice.png")).Pixels, start.Pixels);
  r = RunCli("render rot.vokt --input start.png --size 7x2 -o sized.png", "", &dir);
  ASSERT_EQ(r.Exit, 0);
  const TPicture sized = Load(dir.File("sized.png"));
  EXPECT_EQ(sized.Width, 7);
  EXPECT_EQ(sized.Height, 2);
  EXPECT_EQ(sized.Pixel(6, 1), velmora::Rgb(255, 255, 255)) << "new area was white before the paint";
  EXPECT_EQ(sized.Pixel(4, 1), velmora::Rgb(20, 30, 10));
}

TEST(CliRender, UsageFileAndPictureErrors) {
  TTempDir dir;
  for (const char *args : {"render", "render d.vokt", "render -o x.bmp", "render d.vokt -o x.bmp --size 0x5x",
                           "render d.vokt -o x.bmp --repeat 0", "render d.vokt -o x.bmp --bogus", "render a b -o c"}) {
    const auto r = RunCli(args, "", &dir);
    EXPECT_EQ(r.Exit, 2) << args;
    EXPECT_NE(r.Err.find("usage:"), std::string::npos) << args;
  }
  auto r = RunCli("render missing.vokt -o x.bmp", "", &dir);
  EXPECT_EQ(r.Exit, 2);
  EXPECT_EQ(r.Err, "エラー(VOKT): missing.voktが存在しません．\n");
  WriteDoc(dir, "big.vokt", {}, {"r = 1"}, 20000, 10);
  r = RunCli("render big.vokt -o x.bmp", "", &dir);
  EXPECT_EQ(r.Exit, 2);
  EXPECT_NE(r.Err.find("20000"), std::string::npos) << r.Err;
  WriteDoc(dir, "ok.vokt", {}, {"r = 1"});
  r = RunCli("render ok.vokt -o x.bmp --size 10x0", "", &dir);
  EXPECT_EQ(r.Exit, 2);
  r = RunCli("render ok.vokt -o x.bmp --input nothing.png", "", &dir);
  EXPECT_EQ(r.Exit, 2);
  r = RunCli("render ok.vokt -o no/such/dir.bmp", "", &dir);
  EXPECT_EQ(r.Exit, 2);
  EXPECT_FALSE(r.Err.empty());
}

TEST(CliRender, HelpNamesEveryCommand) {
  auto r = RunCli("--help");
  EXPECT_EQ(r.Exit, 0);
  EXPECT_NE(r.Out.find("calc"), std::string::npos);
  EXPECT_NE(r.Out.find("render DOC.vokt -o OUT"), std::string::npos);
  r = RunCli("render --help");
  EXPECT_EQ(r.Exit, 0);
  EXPECT_NE(r.Out.find("--repeat"), std::string::npos);
  r = RunCli("calc --help");
  EXPECT_EQ(r.Exit, 0);
  EXPECT_NE(r.Out.find("--math-errors"), std::string::npos);
}

// Runs a bash script in `dir` with velmora-cli as $CLI.
velmora::test::TCliResult Bash(const TTempDir &dir, const std::string &script) {
  velmora::test::Put(dir.File(".script"), script);
  const std::string command = "cd '" + dir.Path + "' && CLI='" + std::string(VELMORA_CLI) +
                              "' bash .script > .stdout 2> .stderr";
  const int status = std::system(command.c_str());
  velmora::test::TCliResult r;
  r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.Out = velmora::test::Slurp(dir.File(".stdout"));
  r.Err = velmora::test::Slurp(dir.File(".stderr"));
  return r;
}

// Standard output that cannot be written: the picture is still saved, and the
// failure is reported instead of a silent death or a false success.
TEST(CliRender, AClosedOrFullStandardOutputIsReported) {
  TTempDir dir;
  WriteDoc(dir, "m.vokt", {}, {"r = sqrt(-1 - x)"}, 300, 300);
  auto r = Bash(dir, "\"$CLI\" render m.vokt -o out.bmp | true; exit ${PIPESTATUS[0]}");
  EXPECT_EQ(r.Exit, 2) << "not 141 (SIGPIPE)";
  EXPECT_NE(r.Err.find("標準出力に書き込めません"), std::string::npos) << r.Err;
  EXPECT_EQ(Load(dir.File("out.bmp")).Width, 300);
  r = Bash(dir, "\"$CLI\" render m.vokt -o out2.bmp > /dev/full");
  EXPECT_EQ(r.Exit, 2);
  EXPECT_EQ(Load(dir.File("out2.bmp")).Width, 300);
  r = Bash(dir, "echo 1+1 | \"$CLI\" calc > /dev/full");
  EXPECT_EQ(r.Exit, 2);
  EXPECT_NE(r.Err.find("標準出力に書き込めません"), std::string::npos) << r.Err;
}

TEST(CliRender, FifosAbsurdSizesAndEarlyFormulaErrors) {
  TTempDir dir;
  ASSERT_EQ(mkfifo(dir.File("f.vokt").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo(dir.File("f.png").c_str(), 0644), 0);
  WriteDoc(dir, "ok.vokt", {}, {"r = 1"}, 3, 3);
  for (const char *args : {"render f.vokt -o x.bmp", "render ok.vokt --input f.png -o x.bmp", "calc f.vokt"}) {
    const auto r = Bash(dir, std::string("timeout 10 \"$CLI\" ") + args);
    EXPECT_EQ(r.Exit, 2) << args << ": refused at once, not waiting for a writer";
    EXPECT_NE(r.Err.find("通常のファイルではありません"), std::string::npos) << r.Err;
  }
  velmora::test::Put(dir.File("huge.vokt"),
                     "<VOKT 1.0>\r\n<system>\r\nImageWidth = 1e400\r\nImageHeight = 1e15\r\n</system>\r\n");
  auto r = RunCli("render huge.vokt -o x.bmp", "", &dir);
  EXPECT_EQ(r.Exit, 2);
  EXPECT_NE(r.Err.find("1E400 × 1E15"), std::string::npos) << "the document's values as given: " << r.Err;
  // A formula error in a 10000 x 10000 document is found before the picture is made.
  WriteDoc(dir, "bad.vokt", {}, {"r = (x"}, 10000, 10000);
  r = Bash(dir, std::string(velmora::test::AddressSanitized ? "" : "ulimit -v 200000; ") +
                    "\"$CLI\" render bad.vokt -o x.bmp");
  EXPECT_EQ(r.Exit, 1) << r.Err << ": fails on its formula, within 200 MB";
  EXPECT_EQ(r.Out, "絨毯の数式(1行目): 括弧が閉じていない\n");
}

TEST(CliRender, ABackgroundJobKeepsIgnoringCtrlC) {
  TTempDir dir;
  WriteDoc(dir, "slow.vokt", {}, {"r = pow(sin(x) + 2, cos(y) + 1.5)", "g = pow(r, 0.5)", "b = n++"}, 1500, 1500);
  // SIGINT ignored by the starting shell, then sent: the paint goes on to its end.
  const auto r = Bash(dir, "trap '' INT; \"$CLI\" render slow.vokt -o out.bmp & pid=$!; sleep 0.3; "
                           "kill -INT $pid; wait $pid");
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(Load(dir.File("out.bmp")).Width, 1500);
}

TEST(CliRender, TheLongestFileNameSaves) {
  TTempDir dir;
  WriteDoc(dir, "d.vokt", {}, {"r = x"}, 4, 4);
  const std::string name = std::string(246, 'e') + ".bmp";
  const auto r = RunCli("render d.vokt -o " + name, "", &dir);
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(Load(dir.File(name)).Width, 4);
}

// Painting into the document or the starting picture would destroy it: such
// outputs, and names that are not a picture's, are refused before any work.
TEST(CliRender, AnOutputThatWouldDestroyItsSourceIsRefused) {
  TTempDir dir;
  WriteDoc(dir, "d.vokt", {}, {"r = x"}, 4, 4);
  const std::string document = velmora::test::Slurp(dir.File("d.vokt"));
  auto r = RunCli("render d.vokt -o d.vokt", "", &dir);
  EXPECT_EQ(r.Exit, 2);
  EXPECT_NE(r.Err.find("「.vokt」"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("BMP (.bmp)，JPEG (.jpg, .jpeg)，PNG (.png)"), std::string::npos) << r.Err;
  r = RunCli("render d.vokt -o notes", "", &dir);
  EXPECT_EQ(r.Exit, 2) << "no extension: refused too";
  // The same file under another name: a hard link, a symbolic link.
  ASSERT_EQ(link(dir.File("d.vokt").c_str(), dir.File("same.png").c_str()), 0);
  r = RunCli("render d.vokt -o same.png", "", &dir);
  EXPECT_EQ(r.Exit, 2);
  EXPECT_NE(r.Err.find("文書と同じファイルです"), std::string::npos) << r.Err;
  EXPECT_EQ(velmora::test::Slurp(dir.File("d.vokt")), document);
  std::string error;
  ASSERT_TRUE(velmora::SavePicture(dir.File("start.bmp"), TPicture::Filled(3, 3, velmora::White), error));
  const std::string start = velmora::test::Slurp(dir.File("start.bmp"));
  ASSERT_EQ(symlink("start.bmp", dir.File("alias.BMP").c_str()), 0);
  r = RunCli("render d.vokt --input start.bmp -o alias.BMP", "", &dir);
  EXPECT_EQ(r.Exit, 2);
  EXPECT_NE(r.Err.find("元の画像 (--input)と同じファイルです"), std::string::npos) << r.Err;
  EXPECT_EQ(velmora::test::Slurp(dir.File("start.bmp")), start);
  r = RunCli("render d.vokt --input start.bmp -o other.bmp", "", &dir);
  EXPECT_EQ(r.Exit, 0) << r.Err;
}

TEST(CliRender, UpperCaseExtensionsWriteThatFormat) {
  TTempDir dir;
  WriteDoc(dir, "d.vokt", {}, {"r = x"}, 4, 4);
  for (const char *out : {"W.PNG", "W.JPG", "W.Jpeg"}) {
    const auto r = RunCli(std::string("render d.vokt -o ") + out, "", &dir);
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(velmora::test::Slurp(dir.File(out)).substr(0, 2), out[2] == 'P' ? "\x89P" : "\xFF\xD8") << out;
    EXPECT_EQ(Load(dir.File(out)).Width, 4) << out;
  }
}

// Ctrl+C at an exact moment of the save, pressed by a library preloaded into
// the program: before the new file replaces the old one nothing is written;
// after, the picture is there and the message says so.
TEST(CliRender, CtrlCDuringASave) {
  TTempDir dir;
  WriteDoc(dir, "d.vokt", {}, {"r = x"}, 40, 30);
  auto run = [&](const char *moment) {
    velmora::test::Put(dir.File("out.png"), "old picture");
    // (AddressSanitizer wants its runtime first; the preloaded library comes first.)
    return Bash(dir, std::string("VELMORA_SIGINT_AFTER=") + moment + " LD_PRELOAD='" + VELMORA_CLI_SHIM +
                         "' ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\" "
                         "\"$CLI\" render d.vokt -o out.png");
  };
  auto temporaries = [&dir] {
    int n = 0;
    for (const std::string &name : dir.Entries()) n += name.find(".tmp-") != std::string::npos;
    return n;
  };
  auto r = run("fsync");
  EXPECT_EQ(r.Exit, 130);
  EXPECT_EQ(r.Err, "velmora-cli render: interrupted, nothing written\n");
  EXPECT_EQ(velmora::test::Slurp(dir.File("out.png")), "old picture");
  EXPECT_EQ(temporaries(), 0);
  r = run("fsync2");  // pressed twice: the program ends at once, still cleaning up
  EXPECT_EQ(r.Exit, 130);
  EXPECT_EQ(velmora::test::Slurp(dir.File("out.png")), "old picture");
  EXPECT_EQ(temporaries(), 0);
  r = run("rename");
  EXPECT_EQ(r.Exit, 130);
  EXPECT_NE(r.Err.find("絵はすでに保存しました"), std::string::npos) << r.Err;
  EXPECT_EQ(Load(dir.File("out.png")).Width, 40);
}

namespace {

// velmora-cli copied into `dir`/bin, with `module` as its picture module.
std::string CliWithModule(const TTempDir &dir, const std::string &module) {
  const std::string bin = dir.File("bin");
  const std::string command = "mkdir -p '" + bin + "' && cp '" + VELMORA_CLI + "' '" + bin + "/velmora-cli' && cp '" +
                              module + "' '" + bin + "/velmora-qtimage.so'";
  EXPECT_EQ(std::system(command.c_str()), 0);
  return bin;
}

}  // namespace

TEST(CliRender, AModuleThatIsNotOursSaysWhy) {
  TTempDir dir;
  WriteDoc(dir, "d.vokt", {}, {"r = x"}, 4, 4);
  velmora::test::Put(dir.File("in.bmp"), "BM not really");
  // A module whose entry point gives nothing.
  std::string bin = CliWithModule(dir, VELMORA_CLI_SHIM);
  auto r = Bash(dir, "'" + bin + "/velmora-cli' render d.vokt --input in.bmp -o out.png");
  EXPECT_EQ(r.Exit, 2);
  EXPECT_NE(r.Err.find(bin + "/velmora-qtimage.so: 画像の読み書きを返しませんでした"), std::string::npos) << r.Err;
  // Some other library in the module's place: its problem is told, not that
  // of the installed path, which does not exist here.
  bin = CliWithModule(dir, "/lib/x86_64-linux-gnu/libjpeg.so.62");
  r = Bash(dir, "'" + bin + "/velmora-cli' render d.vokt --input in.bmp -o out.png");
  EXPECT_EQ(r.Exit, 2);
  EXPECT_NE(r.Err.find(bin + "/velmora-qtimage.so: velmora の画像モジュールではありません"), std::string::npos)
      << r.Err;
}

TEST(CliRender, HelpThatCannotBeWrittenFails) {
  TTempDir dir;
  for (const char *args : {"--help", "render --help", "calc --help"}) {
    const auto r = Bash(dir, std::string("\"$CLI\" ") + args + " > /dev/full");
    EXPECT_EQ(r.Exit, 2) << args;
    EXPECT_NE(r.Err.find("標準出力に書き込めません"), std::string::npos) << args << ": " << r.Err;
  }
}

// The toolkit's PNG library has its say on standard error before ours: only ours is shown.
TEST(CliRender, ADamagedPngGivesOnlyOurMessage) {
  TTempDir dir;
  WriteDoc(dir, "d.vokt", {}, {"r = x"}, 4, 4);
  std::string png, error;
  ASSERT_TRUE(velmora::EncodePng(TPicture::Filled(30, 30, velmora::Rgb(1, 2, 3)), png, error));
  const std::size_t idat = png.find("IDAT");
  ASSERT_NE(idat, std::string::npos);
  for (std::size_t i = idat + 6; i < idat + 14 && i < png.size(); ++i) png[i] = static_cast<char>(png[i] ^ 0x5A);
  velmora::test::Put(dir.File("bad.png"), png);
  const auto r = RunCli("render d.vokt --input bad.png -o out.bmp", "", &dir);
  EXPECT_EQ(r.Exit, 2);
  EXPECT_EQ(r.Err.find("libpng"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("velmora-cli render: bad.png: "), std::string::npos) << r.Err;
}
