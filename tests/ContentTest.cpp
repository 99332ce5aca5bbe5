// The templates, help topics and example documents that ship with the program.
#include <gtest/gtest.h>

#include "compiler/Opcodes.h"
#include "paint/CarpetPainter.h"
#include "text/LineList.h"

using velmora::TStringList;

namespace {

const std::string Build = VELMORA_BUILD_DIR;

TStringList Load(const std::string &path) {
  TStringList lines;
  std::string error, warning;
  EXPECT_TRUE(velmora::text::LoadLineList(path, lines, error, &warning)) << error;
  EXPECT_TRUE(warning.empty()) << path << ": not clean code page 932";
  return lines;
}

}  // namespace

TEST(Content, EveryTemplatePaintsWithoutErrors) {
  std::vector<std::string> names;
  ASSERT_TRUE(velmora::text::ListNames(Build + "/Template", ".qtp", names));
  ASSERT_GE(names.size(), 12u);
  for (const std::string &name : names) {
    const TStringList lines = Load(Build + "/Template/" + name + ".qtp");
    ASSERT_FALSE(lines.empty()) << name;
    EXPECT_EQ(lines[0].rfind("//", 0), 0u) << name << " starts with a comment saying what it does";
    for (const auto &[w, h] : std::vector<std::pair<int, int>>{{120, 90}, {400, 400}}) {
      velmora::TArithmeticUnit engine;
      // A picture to transform, for the templates that read the old colours.
      velmora::TPicture picture = velmora::TPicture::Filled(w, h, 0);
      for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) picture.SetPixel(x, y, velmora::Rgb(x % 256, y % 256, 77));
      const velmora::TPaintResult result = velmora::PaintCarpet(engine, {}, lines, picture);
      EXPECT_TRUE(result.Painted) << name;
      EXPECT_TRUE(result.ErrorLines.empty()) << name << ": " << (result.ErrorLines.empty() ? "" : result.ErrorLines[0]);
      // Something was drawn: not every pixel has the same colour.
      bool varied = false;
      for (std::uint32_t c : picture.Pixels) varied = varied || c != picture.Pixels[0];
      EXPECT_TRUE(varied) << name;
    }
  }
}

TEST(Content, HelpTopicsAreThere) {
  std::vector<std::string> names;
  ASSERT_TRUE(velmora::text::ListNames(Build + "/Help", ".txt", names));
  for (const char *topic : {"使い方", "数式の書き方", "関数一覧", "変数", "エラーメッセージ", "ファイル"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), topic), names.end()) << topic;
    EXPECT_GT(Load(Build + "/Help/" + topic + ".txt").size(), 10u) << topic;
  }
}

TEST(Content, TheFunctionListNamesEveryFunction) {
  std::string all;
  for (const std::string &line : Load(Build + "/Help/関数一覧.txt")) all += line + "\n";
  // Every inner function a formula can call, from the opcode table.
  for (int code = 0; code < velmora::OpcodeSpace; ++code) {
    const velmora::TOpcodeInfo &row = velmora::OpcodeInfo(code);
    if (row.Formula[0] == '\0' || row.Shape.Operands < 0) continue;
    const std::string f = std::string(row.Formula) + "(";
    EXPECT_NE(all.find(f), std::string::npos) << f;
  }
}

// What a user looks for in the help: the ways of seeing and working with the
// picture, and where things are.
TEST(Content, TheHelpTellsHowToWorkWithTheWindow) {
  std::string all;
  for (const char *topic : {"使い方", "ファイル"})
    for (const std::string &line : Load(Build + "/Help/" + topic + ".txt")) all += line + "\n";
  for (const char *said : {"Ctrl+0", "Ctrl+1", "ホイール", "ステータスバー", "描き終わった列", "Esc", "ダブルクリック",
                           "最近使ったファイル", "コマンドライン", "ドロップ", "~/.local/share/velmora", "F1",
                           "ごみ箱", "付属のテンプレートを元に戻す"})
    EXPECT_NE(all.find(said), std::string::npos) << said;
}
