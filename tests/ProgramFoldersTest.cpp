// Where templates, help topics and documents live: beside a usable executable
// folder as always, else in the user's data folder, filled once from the
// shipped copies without ever replacing the user's files.
#include "document/ProgramFolders.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "TestSupport.h"

using velmora::ChooseProgramFolders;
using velmora::SetUpProgramFolders;
using velmora::TProgramFolders;
using velmora::test::Put;
using velmora::test::Slurp;
using velmora::test::TTempDir;

namespace {

bool Exists(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// An installed program under `root`: usr/bin for the executables, and the
// shipped templates and help topics in usr/share/velmora.
struct TInstalled {
  explicit TInstalled(const TTempDir &root) : Bin(root.File("usr/bin")), Data(root.File("usr/share/velmora")) {
    EXPECT_EQ(0, std::system(("mkdir -p '" + Bin + "' '" + Data + "/Template' '" + Data + "/Help'").c_str()));
    Put(Data + "/Template/\x83\x76.qtp", "r = x;\r\n");  // a code page 932 name, as shipped
    Put(Data + "/Template/waves.qtp", "r = sin(x);\r\n");
    Put(Data + "/Help/topic.txt", "\x82\xa0\r\n");
  }
  std::string Bin, Data;
};

}  // namespace

TEST(ProgramFolders, AWritableFolderWithoutAnInstallationKeepsEverythingBesideTheExecutable) {
  TTempDir exe, user;
  const TProgramFolders folders = SetUpProgramFolders(exe.Path, user.File("velmora"));
  EXPECT_TRUE(folders.BesideExecutable);
  EXPECT_EQ(folders.Template, exe.Path + "/Template");
  EXPECT_EQ(folders.Help, exe.Path + "/Help");
  EXPECT_EQ(folders.Works, exe.Path + "/作品");
  EXPECT_TRUE(user.Entries().empty()) << "nothing is made in the user's folder";
  EXPECT_TRUE(exe.Entries().empty()) << "the decision creates nothing beside the executable";
}

TEST(ProgramFolders, NoUserFolderKnownKeepsEverythingBesideTheExecutable) {
  TTempDir root;
  TInstalled installed(root);
  const TProgramFolders folders = ChooseProgramFolders(installed.Bin, "");
  EXPECT_TRUE(folders.BesideExecutable);
  EXPECT_EQ(folders.Template, installed.Bin + "/Template");
}

TEST(ProgramFolders, AnInstalledProgramUsesTheUserFoldersAndCopiesTheShippedFilesOnce) {
  TTempDir root, user;
  TInstalled installed(root);
  const std::string base = user.File("data/velmora");  // its parent is missing too, as in a fresh home
  // The user already has a template of a shipped name: it must survive.
  ASSERT_EQ(0, std::system(("mkdir -p '" + base + "/Template'").c_str()));
  Put(base + "/Template/waves.qtp", "mine");

  const TProgramFolders folders = SetUpProgramFolders(installed.Bin, base);
  EXPECT_FALSE(folders.BesideExecutable) << "an installed executable's folder is not used, writable or not";
  EXPECT_EQ(folders.Template, base + "/Template");
  EXPECT_EQ(folders.Help, base + "/Help");
  EXPECT_EQ(folders.Works, base + "/作品");
  EXPECT_EQ(Slurp(base + "/Template/\x83\x76.qtp"), "r = x;\r\n") << "copied byte for byte";
  EXPECT_EQ(Slurp(base + "/Template/waves.qtp"), "mine");
  EXPECT_EQ(Slurp(base + "/Help/topic.txt"), "\x82\xa0\r\n");
  struct stat st {};
  ASSERT_EQ(stat((base + "/Help/topic.txt").c_str(), &st), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << "a copy has the permissions of any new file";
  EXPECT_FALSE(Exists(installed.Bin + "/Template"));
  EXPECT_FALSE(Exists(installed.Bin + "/作品"));
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(base + "/Template"))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{velmora::ShippedCopyMarker, "waves.qtp", "\x83\x76.qtp"}))
      << "no temporary file is left behind";

  // A deleted shipped template stays deleted; a changed one stays changed.
  std::remove((base + "/Template/\x83\x76.qtp").c_str());
  Put(base + "/Help/topic.txt", "edited");
  SetUpProgramFolders(installed.Bin, base);
  EXPECT_FALSE(Exists(base + "/Template/\x83\x76.qtp"));
  EXPECT_EQ(Slurp(base + "/Help/topic.txt"), "edited");
}

// A folder the user cannot write to (a read-only copy of the program) sends
// the files to the user's folder. Root may write anywhere, so the decision is
// then made by a child that has become an ordinary user.
TEST(ProgramFolders, AReadOnlyExecutableFolderUsesTheUserFolders) {
  TTempDir root;
  chmod(root.Path.c_str(), 0755);
  const std::string readOnly = root.File("ro"), writable = root.File("rw");
  mkdir(readOnly.c_str(), 0555);
  mkdir(writable.c_str(), 0777);
  chmod(writable.c_str(), 0777);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    const bool readOnlyBeside = ChooseProgramFolders(readOnly, "/home/u/.local/share/velmora").BesideExecutable;
    const bool writableBeside = ChooseProgramFolders(writable, "/home/u/.local/share/velmora").BesideExecutable;
    _exit((readOnlyBeside ? 1 : 0) | (writableBeside ? 0 : 2));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 3) << "could not become an ordinary user";
  EXPECT_EQ(WEXITSTATUS(status) & 1, 0) << "a read-only executable folder was chosen";
  EXPECT_EQ(WEXITSTATUS(status) & 2, 0) << "a writable executable folder was not chosen";
}
