// velmora-cli animate and render --set, run as a user runs them; every output
// format read back.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <webp/demux.h>

#include "TestSupport.h"
#include "document/Work.h"
#include "paint/PictureFile.h"

using velmora::TPicture;
using velmora::test::RunCli;
using velmora::test::TTempDir;
using L = velmora::TStringList;

namespace {

void WriteDoc(const TTempDir &dir, const std::string &name, const L &constants, const L &carpet, int w, int h) {
  velmora::TVOKT doc;
  velmora::TWork work;
  work.Constants = constants;
  work.Carpet = carpet;
  work.Width = w;
  work.Height = h;
  ASSERT_TRUE(velmora::PutWork(doc, work));
  ASSERT_TRUE(doc.Write(dir.File(name)));
}

bool Exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

TPicture Load(const std::string &path) {
  TPicture p;
  std::string error;
  EXPECT_TRUE(velmora::LoadPicture(path, p, error)) << path << ": " << error;
  return p;
}

std::vector<TPicture> ReadWebp(const std::string &path) {
  const std::string bytes = velmora::test::Slurp(path);
  WebPData data = {reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()};
  WebPAnimDecoderOptions options;
  WebPAnimDecoderOptionsInit(&options);
  options.color_mode = MODE_RGBA;
  WebPAnimDecoder *decoder = WebPAnimDecoderNew(&data, &options);
  std::vector<TPicture> frames;
  if (!decoder) return frames;
  WebPAnimInfo info;
  WebPAnimDecoderGetInfo(decoder, &info);
  uint8_t *rgba = nullptr;
  int timestamp = 0;
  while (WebPAnimDecoderGetNext(decoder, &rgba, &timestamp)) {
    TPicture p = TPicture::Filled(static_cast<int>(info.canvas_width), static_cast<int>(info.canvas_height), 0);
    for (std::size_t i = 0; i < p.Pixels.size(); ++i)
      p.Pixels[i] = velmora::Rgb(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]);
    frames.push_back(std::move(p));
  }
  WebPAnimDecoderDelete(decoder);
  return frames;
}

// random() too: each frame starts from the generator state of a fresh paint.
const L Plasma = {"r = 128 + 127*sin(x/3 + t)", "g = 128 + 127*cos(y/4 - t)", "b = getb/2 + s + random(40)"};

}  // namespace

TEST(CliAnimate, WebpAndNumberedFramesHoldThePaintsExactly) {
  TTempDir dir;
  WriteDoc(dir, "d.vokt", {"t = 0", "s = 9"}, Plasma, 12, 8);
  auto r = RunCli("animate d.vokt -o f%03d.png --vary t=0:2 --frames 4 --set s=30", "", &dir);
  ASSERT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(r.Out + r.Err, "");
  r = RunCli("animate d.vokt -o a.webp --vary t=0:2 --frames 4 --fps 10 --set s=30", "", &dir);
  ASSERT_EQ(r.Exit, 0) << r.Err;
  const std::vector<TPicture> webp = ReadWebp(dir.File("a.webp"));
  ASSERT_EQ(webp.size(), 4u);
  for (int k = 0; k < 4; ++k) {
    // The paint with the value typed in: t = 0, 0.5, 1, 1.5.
    const std::string value = std::to_string(k / 2) + (k % 2 ? ".5" : "");
    WriteDoc(dir, "typed.vokt", {"t = " + value, "s = 30"}, Plasma, 12, 8);
    r = RunCli("render typed.vokt -o typed.png", "", &dir);
    ASSERT_EQ(r.Exit, 0) << r.Err;
    const TPicture typed = Load(dir.File("typed.png"));
    char name[16];
    std::snprintf(name, sizeof name, "f%03d.png", k);
    EXPECT_EQ(Load(dir.File(name)).Pixels, typed.Pixels) << name;
    EXPECT_EQ(webp[static_cast<std::size_t>(k)].Pixels, typed.Pixels) << "WebP frame " << k;
  }
}

TEST(CliAnimate, GifHasEveryFrameAtThePictureSize) {
  TTempDir dir;
  WriteDoc(dir, "d.vokt", {"t = 0", "s = 0"}, Plasma, 20, 10);
  const auto r = RunCli("animate d.vokt -o a.gif --vary t=0:6.28 --frames 5 --end --size 30x16", "", &dir);
  ASSERT_EQ(r.Exit, 0) << r.Err;
  int error = 0;
  GifFileType *gif = DGifOpenFileName(dir.File("a.gif").c_str(), &error);
  ASSERT_NE(gif, nullptr);
  ASSERT_EQ(DGifSlurp(gif), GIF_OK);
  EXPECT_EQ(gif->ImageCount, 5);
  EXPECT_EQ(gif->SWidth, 30);
  EXPECT_EQ(gif->SHeight, 16);
  EXPECT_EQ(gif->SavedImages[4].ImageDesc.Width, 30);
  DGifCloseFile(gif, &error);
}

TEST(CliAnimate, PartOfTheFramesEqualsTheSameFramesOfAWholeRun) {
  TTempDir dir;
  // Carrying on, frame 2 depends on the frames before it.
  WriteDoc(dir, "d.vokt", {"t = 0", "s = s + 3"}, Plasma, 10, 6);
  for (const char *carry : {"", " --carry"}) {
    auto r = RunCli(std::string("animate d.vokt -o all%d.png --vary t=1:3 --frames 5") + carry, "", &dir);
    ASSERT_EQ(r.Exit, 0) << r.Err;
    r = RunCli(std::string("animate d.vokt -o part%d.png --vary t=1:3 --frames 5 --first 2 --last 3") + carry, "",
               &dir);
    ASSERT_EQ(r.Exit, 0) << r.Err;
    EXPECT_FALSE(Exists(dir.File("part1.png")));
    EXPECT_FALSE(Exists(dir.File("part4.png")));
    for (const char *k : {"2", "3"})
      EXPECT_EQ(Load(dir.File(std::string("part") + k + ".png")).Pixels,
                Load(dir.File(std::string("all") + k + ".png")).Pixels)
          << "frame " << k << carry;
    EXPECT_NE(Load(dir.File("all2.png")).Pixels, Load(dir.File("all3.png")).Pixels);
  }
}

TEST(CliAnimate, CtrlCLeavesNoFile) {
  TTempDir dir;
  WriteDoc(dir, "long.vokt", {"t = 0"}, {"r = 128 + 127*sin(x/10 + y/13 + t)*cos(y/17)", "g = pow(x + y + 1, 0.3)"},
           3000, 3000);
  const std::string command = "cd '" + dir.Path + "' && timeout --foreground --preserve-status -s INT 3 '" +
                              std::string(VELMORA_CLI) +
                              "' animate long.vokt -o out.webp --vary t=0:1 --frames 50 > out.txt 2> err.txt";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_EQ(velmora::test::Slurp(dir.File("err.txt")), "velmora-cli animate: interrupted, nothing written\n");
  EXPECT_EQ(dir.Entries().size(), 3u) << "no animation and no temporary file";
}

TEST(CliAnimate, RefusesWhatItCannotDo) {
  TTempDir dir;
  WriteDoc(dir, "d.vokt", {"t = 0"}, {"r = t"}, 4, 4);
  for (const char *args : {"animate d.vokt -o a.webp --frames 3", "animate d.vokt -o a.webp --vary t=0:1",
                           "animate d.vokt -o a.webp --vary t=0 --frames 3", "animate d.vokt -o a.webp --vary t=0:1 --frames 0",
                           "animate d.vokt -o a.webp --vary t=0:1 --frames 3 --first 2 --last 1",
                           "animate d.vokt -o a.webp --vary t=0:1 --frames 3 --last 3",
                           "animate d.vokt -o a.webp --vary t=0:1 --frames 3 --fps 0",
                           "animate d.vokt -o a.webp --vary t=0:1 --frames 3 --set t=2"}) {
    const auto r = RunCli(args, "", &dir);
    EXPECT_EQ(r.Exit, 2) << args;
    EXPECT_NE(r.Err.find("usage:"), std::string::npos) << args;
  }
  auto r = RunCli("animate d.vokt -o a.tiff --vary t=0:1 --frames 3", "", &dir);
  EXPECT_EQ(r.Exit, 2);
  EXPECT_NE(r.Err.find(".webp"), std::string::npos) << r.Err;
  r = RunCli("animate d.vokt -o a.webp --vary u=0:1 --frames 3", "", &dir);
  EXPECT_EQ(r.Exit, 2);
  EXPECT_EQ(r.Err, "velmora-cli animate: 変数 'u' はどの定数式でも代入されていません（代入される変数: t）\n");
  EXPECT_EQ(dir.Entries().size(), 1u);
}

TEST(CliRender, SetGivesAConstantAfterTheConstantsRun) {
  TTempDir dir;
  WriteDoc(dir, "d.vokt", {"k = 2", "j = k * 10"}, {"r = k", "g = j", "b = x"}, 3, 2);
  auto r = RunCli("render d.vokt -o o.png --set k=7 --set=j=1.5e1", "", &dir);
  ASSERT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(Load(dir.File("o.png")).Pixel(2, 1), velmora::Rgb(7, 15, 2)) << "j keeps the value set, not k * 10";
  r = RunCli("render d.vokt -o o2.png --set q=1", "", &dir);
  EXPECT_EQ(r.Exit, 2);
  EXPECT_EQ(r.Err, "velmora-cli render: --set: 変数 'q' はどの定数式でも代入されていません（代入される変数: k j）\n");
  r = RunCli("render d.vokt -o o2.png --set k=x", "", &dir);
  EXPECT_EQ(r.Exit, 2);
  EXPECT_NE(r.Err.find("'x' は数値ではありません"), std::string::npos) << r.Err;
  EXPECT_FALSE(Exists(dir.File("o2.png")));
}

// Numbered PNG frames and a render with --set carry recipes that paint them
// again, the values set after the constants included (with random() and a
// carried frame's start picture too).
TEST(CliAnimate, PngFramesAndSetRendersVerifyFromTheirRecipes) {
  TTempDir dir;
  WriteDoc(dir, "d.vokt", {"t = 0", "s = 9"}, Plasma, 12, 8);
  auto r = RunCli("animate d.vokt -o f%d.png --vary t=0:2 --frames 3 --set s=30", "", &dir);
  ASSERT_EQ(r.Exit, 0) << r.Err;
  r = RunCli("animate d.vokt -o c%d.png --vary t=0:2 --frames 3 --carry", "", &dir);
  ASSERT_EQ(r.Exit, 0) << r.Err;
  r = RunCli("render d.vokt -o s.png --set s=77", "", &dir);
  ASSERT_EQ(r.Exit, 0) << r.Err;
  for (const char *name : {"f0.png", "f2.png", "c0.png", "s.png"}) {
    r = RunCli(std::string("verify ") + name, "", &dir);
    EXPECT_EQ(r.Exit, 0) << name << ": " << r.Out << r.Err;
    EXPECT_EQ(r.Out, "一致\n") << name;
  }
  // Carrying on, frame 2 started from frame 1's picture.
  EXPECT_EQ(RunCli("verify c2.png", "", &dir).Exit, 2);
  r = RunCli("verify c2.png --input c1.png", "", &dir);
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
}
