#include "text/LineList.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "TestSupport.h"

using namespace velmora::text;
using L = std::vector<std::string>;

using velmora::test::Put;
using velmora::test::Slurp;
using TempDir = velmora::test::TTempDir;

TEST(LineList, SplitsAtEveryKindOfLineEnd) {
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (L{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\r\n"), (L{"a"})) << "a final line end starts no new line";
  EXPECT_EQ(SplitLines("a\r\n\r\n"), (L{"a", ""}));
  EXPECT_EQ(SplitLines("\n\r"), (L{"", ""}));
  EXPECT_EQ(SplitLines("\r\r\n"), (L{"", ""}));
  EXPECT_TRUE(SplitLines("").empty());
}

TEST(LineList, SavesCp932WithCrLfAndLoadsItBack) {
  TempDir dir;
  const std::string path = dir.File("作品.vokt");
  std::string error;
  ASSERT_TRUE(SaveLineList(path, {"<VOKT 1.0>", "r = x ＋ １", ""}, error)) << error;
  EXPECT_EQ(Slurp(path), "<VOKT 1.0>\r\nr = x \x81\x7B \x82\x50\r\n\r\n");
  L lines;
  ASSERT_TRUE(LoadLineList(path, lines, error)) << error;
  EXPECT_EQ(lines, (L{"<VOKT 1.0>", "r = x ＋ １", ""}));
  EXPECT_EQ(dir.Entries().size(), 1u) << "no temporary file is left behind";
  struct stat st {};
  stat(path.c_str(), &st);
  EXPECT_NE(st.st_mode & S_IRUSR, 0u) << "the file is readable like any other";
}

TEST(LineList, LoadWarnsAboutBytesThatAreNotCp932) {
  TempDir dir;
  const std::string path = dir.File("bad.txt");
  Put(path, "ok\nx\x81");
  L lines;
  std::string error, warning;
  ASSERT_TRUE(LoadLineList(path, lines, error, &warning));
  EXPECT_EQ(lines, (L{"ok", "x\xF3\xB0\x82\x81"}));
  EXPECT_FALSE(warning.empty());
}

TEST(LineList, UnencodableTextLeavesTheOldFileAlone) {
  TempDir dir;
  const std::string path = dir.File("keep.txt");
  Put(path, "old contents\r\n");
  std::string error;
  EXPECT_FALSE(SaveLineList(path, {"fine", "but ¥ is not"}, error));
  EXPECT_NE(error.find("U+00A5"), std::string::npos) << error;
  EXPECT_EQ(Slurp(path), "old contents\r\n");
  EXPECT_EQ(dir.Entries().size(), 1u);
}

TEST(LineList, FailedWritesKeepTheOldFile) {
  TempDir dir;
  std::string error;
  // A directory in the way.
  ASSERT_EQ(mkdir(dir.File("folder").c_str(), 0755), 0);
  EXPECT_FALSE(SaveLineList(dir.File("folder"), {"x"}, error));
  EXPECT_FALSE(error.empty());
  // A folder that does not exist.
  EXPECT_FALSE(SaveLineList(dir.File("missing/x.txt"), {"x"}, error));
  EXPECT_NE(error.find("ファイルまたはフォルダがありません"), std::string::npos) << error;

  // The disk fills up part-way: a child process with a small file size limit.
  const std::string path = dir.File("doc.txt");
  Put(path, "precious\r\n");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CleanUpOnSignals();  // what the programs do: no death by SIGXFSZ, a failed write instead
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string e;
    const bool ok = SaveLineList(path, L(2000, "a long line of formula text"), e);
    _exit(!ok && !e.empty() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the save must report the failure";
  EXPECT_EQ(Slurp(path), "precious\r\n");
  EXPECT_EQ(dir.Entries().size(), 2u) << "folder and doc.txt only, no temporary file";
}

TEST(LineList, PermissionsOfAnExistingFileAreKept) {
  TempDir dir;
  const std::string path = dir.File("mode.txt");
  Put(path, "x");
  chmod(path.c_str(), 0640);
  std::string error;
  ASSERT_TRUE(SaveLineList(path, {"y"}, error));
  struct stat st {};
  stat(path.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(LineList, ReadingRefusesMissingHugeAndNonRegularFiles) {
  TempDir dir;
  std::string bytes, error;
  EXPECT_FALSE(ReadFileBytes(dir.File("none"), bytes, error));
  EXPECT_NE(error.find("ファイルまたはフォルダがありません"), std::string::npos) << error << ": the system's reason in Japanese";
  EXPECT_FALSE(ReadFileBytes(dir.Path, bytes, error));
  EXPECT_NE(error.find("フォルダです"), std::string::npos) << error;
  EXPECT_FALSE(ReadFileBytes("/dev/null", bytes, error));
  EXPECT_NE(error.find("通常のファイルではありません"), std::string::npos) << error << ": a reason, not 'Success'";
  Put(dir.File("big"), std::string(2000, 'x'));
  EXPECT_FALSE(ReadFileBytes(dir.File("big"), bytes, error, 1000));
  EXPECT_NE(error.find("大きすぎる"), std::string::npos) << error;
  EXPECT_TRUE(ReadFileBytes(dir.File("big"), bytes, error, 2000));
  EXPECT_EQ(bytes.size(), 2000u);
}

TEST(LineList, SavesWriteThroughLinksAndRespectReadOnlyFiles) {
  TempDir dir;
  // The longest name the file system takes saves too: the temporary name is shortened.
  const std::string longName = dir.File(std::string(246, 'e') + ".txt");
  std::string error;
  EXPECT_TRUE(SaveLineList(longName, {"x"}, error)) << error;
  EXPECT_EQ(Slurp(longName), "x\r\n");
  const std::string longJapanese = dir.File(std::string("作") + std::string(240, 'e') + ".txt");
  EXPECT_TRUE(SaveLineList(longJapanese, {"y"}, error)) << error;

  // A link is written through to its target and stays a link, also a dangling one.
  Put(dir.File("real.txt"), "old\r\n");
  ASSERT_EQ(symlink("real.txt", dir.File("link.txt").c_str()), 0);
  EXPECT_TRUE(SaveLineList(dir.File("link.txt"), {"new"}, error)) << error;
  EXPECT_EQ(Slurp(dir.File("real.txt")), "new\r\n");
  struct stat st {};
  ASSERT_EQ(lstat(dir.File("link.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(symlink("later.txt", dir.File("dangling.txt").c_str()), 0);
  EXPECT_TRUE(SaveLineList(dir.File("dangling.txt"), {"z"}, error)) << error;
  EXPECT_EQ(Slurp(dir.File("later.txt")), "z\r\n");

  // A read-only file is refused, even for a user who could replace it.
  Put(dir.File("ro.txt"), "keep\r\n");
  chmod(dir.File("ro.txt").c_str(), 0444);
  EXPECT_FALSE(SaveLineList(dir.File("ro.txt"), {"gone"}, error));
  EXPECT_NE(error.find("読み取り専用"), std::string::npos) << error;
  EXPECT_EQ(Slurp(dir.File("ro.txt")), "keep\r\n");
  EXPECT_EQ(dir.Entries().size(), 7u) << "no temporary file left";
}

// SIGTERM while a save is under way: the process ends as asked, the old file
// stays and the temporary one is removed.
TEST(LineList, ATerminatedSaveLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir.File("doc.txt");
  Put(path, "precious\r\n");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CleanUpOnSignals();
    std::string e;
    WriteFileAtomically(path, "half", e, [] { raise(SIGTERM); });
    _exit(3);  // not reached
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(Slurp(path), "precious\r\n");
  EXPECT_EQ(dir.Entries().size(), 1u) << "no temporary file";
}

// Replacing a file by a new name must not change who owns it and who may use it.
TEST(LineList, SavesKeepOwnerGroupAndMode) {
  TempDir dir;
  const std::string path = dir.File("shared.vokt");
  Put(path, "old\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  uid_t uid = getuid();
  gid_t gid = getgid();
  if (geteuid() == 0) {
    uid = 12345;  // anyone's file: the superuser may give it back
    gid = 12346;
  } else {
    // Another group the user is in, when there is one.
    gid_t groups[256];
    const int n = getgroups(256, groups);
    for (int i = 0; i < n; ++i)
      if (groups[i] != getegid()) gid = groups[i];
  }
  ASSERT_EQ(chown(path.c_str(), uid, gid), 0);
  std::string error;
  ASSERT_TRUE(SaveLineList(path, {"new"}, error)) << error;
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(Slurp(path), "new\r\n");
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_uid, uid);
  EXPECT_EQ(st.st_gid, gid);
  if (geteuid() != 0 && gid == getgid()) std::printf("(only the mode is checked: the user is in one group only)\n");
}

// A file with several names is written in place; its old bytes come back when
// the write fails part-way or the process is ended during it.
TEST(LineList, AHardLinkedFileStaysOneFile) {
  TempDir dir;
  const std::string path = dir.File("a.txt"), other = dir.File("b.txt");
  Put(path, "old\r\n");
  ASSERT_EQ(link(path.c_str(), other.c_str()), 0);
  std::string error;
  ASSERT_TRUE(SaveLineList(path, {"new and longer"}, error)) << error;
  EXPECT_EQ(Slurp(other), "new and longer\r\n");
  ASSERT_TRUE(SaveLineList(other, {"short"}, error)) << error;
  EXPECT_EQ(Slurp(path), "short\r\n") << "a shorter text leaves no tail of the old one";
  struct stat a {}, b {};
  ASSERT_EQ(stat(path.c_str(), &a), 0);
  ASSERT_EQ(stat(other.c_str(), &b), 0);
  EXPECT_EQ(a.st_ino, b.st_ino);
  EXPECT_EQ(a.st_nlink, 2u);

  // A file-size limit stops the write: the old bytes are put back.
  const pid_t limited = fork();
  ASSERT_GE(limited, 0);
  if (limited == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit r{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &r);
    std::string e;
    const bool ok = WriteFileAtomically(path, std::string(10000, 'x'), e);
    _exit(!ok && e.find("ファイルが大きすぎます") != std::string::npos ? 0 : 1);
  }
  int status = 0;
  waitpid(limited, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Slurp(other), "short\r\n");

  // SIGTERM after the new bytes are in: the handler puts the old ones back.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CleanUpOnSignals();
    std::string e;
    WriteFileAtomically(path, "half", e, [] { raise(SIGTERM); });
    _exit(3);  // not reached
  }
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(Slurp(other), "short\r\n");
  EXPECT_EQ(dir.Entries().size(), 2u) << "no copy of the old bytes is left";
}

// A writable file in a folder the user cannot write: saved in place, the copy
// of its old bytes made in the temporary folder. Runs as an ordinary user (as
// root, in a child that becomes "nobody"), since folder permissions do not
// stop the superuser.
TEST(LineList, AWritableFileInAFolderThatCannotBeWrittenIsSaved) {
  TempDir dir;
  const std::string folder = dir.File("shut"), spare = dir.File("spare"), full = dir.File("full");
  const std::string path = folder + "/doc.txt";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(spare.c_str(), 0777), 0);
  ASSERT_EQ(mkdir(full.c_str(), 0555), 0);
  Put(path, "old\r\n");
  const bool root = geteuid() == 0;
  const uid_t nobody = 65534;
  if (root) {
    ASSERT_EQ(chmod(dir.Path.c_str(), 0755), 0);
    ASSERT_EQ(chmod(spare.c_str(), 0777), 0);
    ASSERT_EQ(chown(path.c_str(), nobody, nobody), 0);
  }
  ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
  // In the child: 0 when the save went as expected; the message is checked there.
  auto save = [&](const std::string &tmp, const std::string &file, bool expectOk, const std::string &named) {
    const pid_t child = fork();
    if (child == 0) {
      if (root && (setgid(nobody) != 0 || setuid(nobody) != 0)) _exit(5);
      setenv("TMPDIR", tmp.c_str(), 1);
      std::string e;
      const bool ok = SaveLineList(file, {"new"}, e);
      if (ok != expectOk) {
        std::fprintf(stderr, "%s\n", e.c_str());
        _exit(1);
      }
      _exit(named.empty() || e.find(named) != std::string::npos ? 0 : 2);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(save(spare, path, true, ""), 0);
  EXPECT_EQ(Slurp(path), "new\r\n");
  int left = 0;
  if (DIR *d = opendir(spare.c_str())) {
    while (dirent *e = readdir(d)) left += strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0;
    closedir(d);
  }
  EXPECT_EQ(left, 0) << "the copy of the old bytes is removed";

  // Not even a copy can be made: refused, naming the folder.
  Put(path, "old\r\n");
  EXPECT_EQ(save(full, path, false, "フォルダ「" + folder + "/」に書き込めず"), 0);
  EXPECT_EQ(Slurp(path), "old\r\n");
  // A new file there: the folder is named, not the file.
  EXPECT_EQ(save(spare, folder + "/new.txt", false, "フォルダ「" + folder + "/」にファイル「new.txt」を作れません"), 0);
  chmod(folder.c_str(), 0755);
}

// A file of another user that the saver may write (a group's shared file) stays
// that user's: a new file renamed over it would belong to the saver.
TEST(LineList, AnotherUsersWritableFileKeepsItsOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make a file of another user";
  TempDir dir;
  const std::string path = dir.File("shared.txt");
  ASSERT_EQ(chmod(dir.Path.c_str(), 0777), 0);
  Put(path, "old\r\n");
  ASSERT_EQ(chown(path.c_str(), 12345, 12346), 0);
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(5);
    std::string e;
    _exit(SaveLineList(path, {"new"}, e) ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Slurp(path), "new\r\n");
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 12345u);
  EXPECT_EQ(st.st_gid, 12346u);
}
