// The path helpers: extensions by hand (a dot-file's name is its extension),
// letter case ignored when listing, folders.
#include "text/Paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sys/stat.h>

#include "TestSupport.h"

using namespace velmora::text;

TEST(Paths, ExtensionsAndTheDotFileRule) {
  EXPECT_EQ(FileExtension("a/b.tar.GZ"), ".GZ");
  EXPECT_EQ(FileExtension(".png"), ".png");
  EXPECT_EQ(FileExtension("dir/.png"), ".png");
  EXPECT_EQ(FileExtension("dir.d/name"), "");
  EXPECT_EQ(ChangeExtension("abc.txt", ".qtp"), "abc.qtp");
  EXPECT_EQ(ChangeExtension("abc", ".qtp"), "abc.qtp");
  EXPECT_EQ(ChangeExtension(".txt", ".qtp"), ".qtp");
  EXPECT_EQ(ChangeExtension("d.d/abc", ".qtp"), "d.d/abc.qtp");
  EXPECT_TRUE(HasExtension("A.QTP", ".qtp"));
  EXPECT_TRUE(HasExtension("a.qtp", ".QTP"));
  EXPECT_FALSE(HasExtension(".qtp", ".qtp")) << "nothing before the extension";
  EXPECT_FALSE(HasExtension("a.qtpx", ".qtp"));
}

TEST(Paths, Folders) {
  EXPECT_EQ(FolderOf("/usr/bin/velmora"), "/usr/bin");
  EXPECT_EQ(FolderOf("/velmora"), "/");
  EXPECT_EQ(FolderOf("velmora"), ".");
  EXPECT_EQ(FolderOf("a/b/"), "a/b");
  const std::string self = ExecutableFolder();
  struct stat st {};
  ASSERT_EQ(stat((self + "/velmora_tests").c_str(), &st), 0) << self;
}

TEST(Paths, ListNamesIgnoresLetterCaseAndTakesEntriesOfAnyKind) {
  velmora::test::TTempDir dir;
  for (const char *name : {"a.QTP", ".qtp", "b.qtp.txt", "c.qtpx", "e.qtp"}) std::ofstream(dir.File(name)) << "x";
  mkdir(dir.File("d.qtp").c_str(), 0700);
  std::vector<std::string> names;
  ASSERT_TRUE(ListNames(dir.Path, ".qtp", names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a", "d", "e"}));
  EXPECT_FALSE(ListNames(dir.File("missing"), ".qtp", names));
  EXPECT_TRUE(names.empty());
  EnsureFolder(dir.File("new"));
  EnsureFolder(dir.File("new"));
  EXPECT_TRUE(ListNames(dir.File("new"), ".qtp", names));
}
