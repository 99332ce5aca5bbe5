// Recipes in PNG pictures: written, read back and painted again bit for bit.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "document/Work.h"
#include "paint/PictureFile.h"
#include "paint/PngRecipe.h"
#include "paint/RecipeTracker.h"
#include "text/LineList.h"

using velmora::TPicture;
using velmora::TRecipe;
using velmora::TStringList;
using velmora::test::RunCli;
using velmora::test::TTempDir;

namespace {

const std::string Build = VELMORA_BUILD_DIR;
const std::string Source = VELMORA_SOURCE_DIR;

struct TWorkSource {
  std::string Name;
  TStringList Constants, Carpet;
  bool ReadsColours;  // templates may transform the old picture
};

std::vector<TWorkSource> TemplatesAndExamples() {
  std::vector<TWorkSource> all;
  std::vector<std::string> names;
  EXPECT_TRUE(velmora::text::ListNames(Build + "/Template", ".qtp", names));
  for (const std::string &name : names) {
    TStringList lines;
    std::string error;
    EXPECT_TRUE(velmora::text::LoadLineList(Build + "/Template/" + name + ".qtp", lines, error)) << error;
    all.push_back({name, {}, lines, true});
  }
  EXPECT_TRUE(velmora::text::ListNames(Source + "/examples", ".vokt", names));
  for (const std::string &name : names) {
    velmora::TVOKT doc;
    velmora::TWork work;
    EXPECT_TRUE(doc.Read(Source + "/examples/" + name + ".vokt")) << name;
    velmora::TakeWork(doc, work);
    all.push_back({name, work.Constants, work.Carpet, false});
  }
  EXPECT_GE(all.size(), 18u);
  return all;
}

TPicture Colourful(int w, int h) {
  TPicture p = TPicture::Filled(w, h, 0);
  for (int x = 0; x < w; ++x)
    for (int y = 0; y < h; ++y) p.SetPixel(x, y, velmora::Rgb(x * 5 % 256, y * 7 % 256, 77));
  return p;
}

bool Paint(velmora::TArithmeticUnit &engine, const TWorkSource &s, TPicture &picture, int threads) {
  velmora::TPaintControl control;
  control.Threads = threads;
  return velmora::PaintCarpet(engine, s.Constants, s.Carpet, picture, control).Painted;
}

// The PNG file's bytes with `recipe`, and what reading them gives back.
std::string PngWith(const TPicture &picture, const std::string &recipe) {
  std::string bytes, error;
  EXPECT_TRUE(velmora::EncodePngWithRecipe(picture, recipe, bytes, error)) << error;
  return bytes;
}

bool ReadBack(const std::string &bytes, TPicture &picture, TRecipe &recipe, std::string &error) {
  bool none = false;
  return velmora::DecodePicture(bytes, velmora::TPictureFormat::Png, picture, error) &&
         velmora::RecipeOfPng(bytes, picture, recipe, none, error);
}

std::string RecipeTextOf(const std::string &path) {
  std::string text, error;
  bool found = false;
  EXPECT_TRUE(velmora::ReadPngRecipeText(velmora::test::Slurp(path), text, found, error)) << error;
  EXPECT_TRUE(found);
  return text;
}

void WriteDoc(const std::string &path, const TStringList &constants, const TStringList &carpet, int w, int h,
              const velmora::text::TCp932Codes &codes = {}) {
  velmora::TVOKT doc;
  velmora::TWork work{constants, carpet, static_cast<long double>(w), static_cast<long double>(h)};
  ASSERT_TRUE(velmora::PutWork(doc, work));
  doc.Codes = codes;
  ASSERT_TRUE(doc.Write(path));
}

}  // namespace

TEST(Recipe, EveryTemplateAndExampleVerifiesWithReuseOnAndOffOnOneAndSeveralThreads) {
  for (const TWorkSource &s : TemplatesAndExamples()) {
    for (const bool reuse : {true, false}) {
      for (const int threads : {1, 3}) {
        const std::string label = s.Name + (reuse ? " reuse" : " no reuse") + " threads " + std::to_string(threads);
        velmora::TArithmeticUnit engine;
        engine.ReuseEnabled = reuse;
        TPicture picture = s.ReadsColours ? Colourful(48, 36) : TPicture::Filled(48, 36, velmora::White);
        // A second paint: the state at its start is what the first one left.
        ASSERT_TRUE(Paint(engine, s, picture, threads)) << label;
        const TPicture start = picture;
        TRecipe recipe = velmora::BeginRecipe(s.Constants, s.Carpet, {}, engine, start);
        ASSERT_TRUE(Paint(engine, s, picture, threads)) << label;
        std::string error;
        ASSERT_TRUE(velmora::FinishRecipe(recipe, picture, 1, error)) << error;

        TPicture read;
        TRecipe back;
        ASSERT_TRUE(ReadBack(PngWith(picture, velmora::FormatRecipe(recipe)), read, back, error)) << label << error;
        velmora::TArithmeticUnit fresh;
        fresh.ReuseEnabled = !reuse;
        velmora::TPaintControl control;
        control.Threads = threads == 1 ? 3 : 1;
        // Something else ran in this process meanwhile: the generator too comes from the recipe.
        velmora::RandomGenerator().Seed(12345);
        TPicture again;
        ASSERT_TRUE(velmora::RepaintRecipe(back, &start, fresh, control, again, error)) << label << error;
        EXPECT_TRUE(again.Pixels == picture.Pixels) << label;
        EXPECT_TRUE(read.Pixels == picture.Pixels) << label;
      }
    }
  }
}

TEST(Recipe, VerifyMatchesAndNamesTheFirstChangedPixel) {
  TTempDir dir;
  WriteDoc(dir.File("d.vokt"), {"k = 3"}, {"r = x * k", "g = y * 9", "b = random(200)"}, 9, 7);
  ASSERT_EQ(RunCli("render d.vokt -o p.png", "", &dir).Exit, 0);
  auto r = RunCli("verify p.png", "", &dir);
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(r.Out, "一致\n");

  TPicture picture;
  std::string error;
  ASSERT_TRUE(velmora::LoadPicture(dir.File("p.png"), picture, error)) << error;
  const std::uint32_t was = picture.Pixel(4, 2);
  picture.SetPixel(4, 2, velmora::Rgb(1, 2, 3));
  picture.SetPixel(6, 5, velmora::Rgb(1, 2, 3));
  velmora::test::Put(dir.File("q.png"), PngWith(picture, RecipeTextOf(dir.File("p.png"))));
  r = RunCli("verify q.png", "", &dir);
  EXPECT_EQ(r.Exit, 1) << r.Err;
  EXPECT_EQ(r.Out, "不一致: 画素 (4, 2) 画像 #010203，描き直し " + velmora::ColourText(was) + "\n");

  // A picture without a recipe: a BMP, and a PNG saved from elsewhere.
  ASSERT_EQ(RunCli("render d.vokt -o p.bmp", "", &dir).Exit, 0);
  std::string plain;
  ASSERT_TRUE(velmora::EncodePng(picture, plain, error)) << error;
  velmora::test::Put(dir.File("plain.png"), plain);
  for (const char *name : {"p.bmp", "plain.png", "missing.png"}) {
    r = RunCli(std::string("verify ") + name, "", &dir);
    EXPECT_EQ(r.Exit, 2) << name;
    EXPECT_EQ(r.Out, "") << name;
  }
  EXPECT_NE(r.Err.find("missing.png"), std::string::npos);
  EXPECT_NE(RunCli("verify plain.png", "", &dir).Err.find("レシピがありません"), std::string::npos);
}

TEST(Recipe, VerifyNeedsTheSameStartPicture) {
  TTempDir dir;
  WriteDoc(dir.File("d.vokt"), {}, {"r = 255 - getr", "g = getg / 2", "b = getb + x"}, 6, 5);
  TPicture start = Colourful(6, 5), other = Colourful(6, 5);
  other.SetPixel(5, 4, 0);
  std::string error;
  ASSERT_TRUE(velmora::SavePicture(dir.File("start.bmp"), start, error)) << error;
  ASSERT_TRUE(velmora::SavePicture(dir.File("other.bmp"), other, error)) << error;
  ASSERT_EQ(RunCli("render d.vokt --input start.bmp -o p.png", "", &dir).Exit, 0);
  EXPECT_EQ(RunCli("verify p.png --input start.bmp", "", &dir).Exit, 0);
  EXPECT_EQ(RunCli("verify p.png", "", &dir).Exit, 2);
  const auto r = RunCli("verify p.png --input other.bmp", "", &dir);
  EXPECT_EQ(r.Exit, 2);
  EXPECT_NE(r.Err.find("元の絵"), std::string::npos) << r.Err;
}

TEST(Recipe, TheRecipeBecomesTheSameDocumentAndPaintsTheSamePixels) {
  TTempDir dir;
  // A byte code page 932 cannot decode, and a character with two codes read
  // from its second one: both come back as they were.
  velmora::text::TCp932Codes codes;
  codes.Read[U'∵'] = {0x879A};
  WriteDoc(dir.File("d.vokt"), {"// \U000F0080 ∵", "s = 3"}, {"r = x * s", "g = y * s", "b = 7"}, 11, 8, codes);
  ASSERT_EQ(RunCli("render d.vokt -o p.png", "", &dir).Exit, 0);
  const auto r = RunCli("recipe p.png -o back.vokt", "", &dir);
  ASSERT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(velmora::test::Slurp(dir.File("back.vokt")), velmora::test::Slurp(dir.File("d.vokt")));
  ASSERT_EQ(RunCli("render back.vokt -o again.png", "", &dir).Exit, 0);
  TPicture a, b;
  std::string error;
  ASSERT_TRUE(velmora::LoadPicture(dir.File("p.png"), a, error));
  ASSERT_TRUE(velmora::LoadPicture(dir.File("again.png"), b, error));
  EXPECT_TRUE(a.Pixels == b.Pixels);
  EXPECT_EQ(RunCli("recipe p.png -o p.png", "", &dir).Exit, 2) << "the picture is not overwritten";
}

TEST(Recipe, AnAccumulatingCarpetPaintedThreeTimesVerifiesItsThirdPicture) {
  TStringList carpet;
  std::string error;
  ASSERT_TRUE(velmora::text::LoadLineList(Build + "/Template/足し続ける.qtp", carpet, error)) << error;
  // The window's way: three paints in a row make one recipe from the first start.
  velmora::TArithmeticUnit engine;
  velmora::TRecipeTracker tracker;
  TPicture picture = TPicture::Filled(30, 20, velmora::White), second;
  for (int i = 0; i < 3; ++i) {
    if (i == 2) second = picture;
    tracker.BeforePaint({}, carpet, {}, engine, picture);
    ASSERT_TRUE(velmora::PaintCarpet(engine, {}, carpet, picture).Painted);
    tracker.AfterPaint(engine, picture);
  }
  EXPECT_FALSE(picture.Pixels == second.Pixels) << "each paint goes on from the last";
  std::string notice;
  TPicture read, again;
  TRecipe back;
  ASSERT_TRUE(ReadBack(PngWith(picture, tracker.TextFor(picture, notice)), read, back, error)) << error;
  EXPECT_EQ(back.Repeats, 3);
  velmora::TArithmeticUnit fresh;
  ASSERT_TRUE(velmora::RepaintRecipe(back, nullptr, fresh, {}, again, error)) << error;
  EXPECT_TRUE(again.Pixels == picture.Pixels);
  // A changed picture has no recipe any more.
  picture.SetPixel(0, 0, 0);
  EXPECT_EQ(tracker.TextFor(picture, notice), "");

  // The command line's way.
  TTempDir dir;
  WriteDoc(dir.File("d.vokt"), {}, carpet, 30, 20);
  ASSERT_EQ(RunCli("render d.vokt --repeat 3 -o p.png", "", &dir).Exit, 0);
  const auto r = RunCli("verify p.png", "", &dir);
  EXPECT_EQ(r.Exit, 0) << r.Err << r.Out;
}

TEST(Recipe, DamagedAndHostileRecipesAreRefused) {
  TRecipe good;
  good.Version = "2.0";
  good.Width = 4;
  good.Height = 3;
  good.Variables = {{"a", 1.5L}, {"b", -2.0L}};
  good.Carpet = {"r = a", "g = b\\x"};
  good.PixelsHash = std::string(64, 'a');
  const std::string text = velmora::FormatRecipe(good);
  TRecipe parsed;
  std::string error;
  ASSERT_TRUE(velmora::ParseRecipe(text, parsed, error)) << error;
  EXPECT_EQ(parsed.Carpet, good.Carpet);
  EXPECT_EQ(parsed.Variables[1].Value, -2.0L);

  const auto replaced = [&](const std::string &from, const std::string &to) {
    std::string t = text;
    const std::size_t at = t.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? t : t.replace(at, from.size(), to);
  };
  const std::vector<std::string> hostile = {
      replaced("end\n", ""),                                  // cut short
      replaced("carpet 2", "carpet 999999999"),              // more lines than there are
      replaced("variables 2", "variables 3"),                // one too many
      replaced("3fff", "3ff"),                               // wrong length of a value
      replaced("3fff", "3ffz"),                              // not a number
      replaced(" b\n", " a\n"),                              // a variable twice
      replaced("size 4 3", "size 0 3"),                      // no picture has that size
      replaced("size 4 3", "size 4 30000"),                  //
      replaced("random", "random 0\nrandom"),                // a field twice
      replaced("repeats 1\n", ""),                           // a field missing
      replaced("g = b\\x5cx", "g = b\\x5"),                  // a cut escape
      replaced("r = a", "r = \ta"),                          // a control character
      replaced("end\n", "end\nmore\n"),                      // something after the end
      replaced("velmora-recipe 1", "velmora-recipe 9"),      // another format
      text + std::string(velmora::MaxRecipeBytes, '\n'),     // huge
  };
  for (const std::string &bad : hostile) {
    TRecipe untouched;
    untouched.Version = "kept";
    error.clear();
    EXPECT_FALSE(velmora::ParseRecipe(bad, untouched, error)) << bad.substr(0, 300);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(untouched.Version, "kept");
  }

  // In the file: a recipe over the limit, and two recipes.
  const TPicture picture = TPicture::Filled(4, 3, velmora::White);
  TPicture read;
  EXPECT_FALSE(ReadBack(PngWith(picture, std::string(velmora::MaxRecipeBytes + 1, 'x')), read, parsed, error));
  EXPECT_NE(error.find("大きすぎます"), std::string::npos) << error;
  std::string twice = PngWith(picture, text);
  const std::size_t chunk = twice.find("iTXt") - 4, end = twice.find("IDAT") - 4;
  twice.insert(end, twice.substr(chunk, end - chunk));
  EXPECT_FALSE(ReadBack(twice, read, parsed, error));
  EXPECT_NE(error.find("二つ"), std::string::npos) << error;
  // A recipe of another size than its picture.
  EXPECT_FALSE(ReadBack(PngWith(TPicture::Filled(5, 3, 0), text), read, parsed, error));
}
