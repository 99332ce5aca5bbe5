// Nothing is lost when a save fails part-way, and damaged files fail (or load)
// with a message instead of taking the program down.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <jpeglib.h>

#include "TestSupport.h"
#include "document/Work.h"
#include "paint/PictureFile.h"
#include "text/LineList.h"

using velmora::TPicture;
using velmora::test::Put;
using velmora::test::Slurp;
using velmora::test::TTempDir;

namespace {

// Runs `save` in a child whose files may not grow past `limit` bytes; true when
// the child reported a failure with a message (exit 0), as it must.
bool FailsPartWay(const std::function<bool(std::string &)> &save, rlim_t limit) {
  const pid_t child = fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit r{limit, limit};
    setrlimit(RLIMIT_FSIZE, &r);
    std::string error;
    const bool ok = save(error);
    _exit(!ok && !error.empty() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

TEST(FaultInjection, PartWayFailuresKeepEveryKindOfFile) {
  TTempDir dir;
  int injected = 0;
  // A document.
  const std::string doc = dir.File("doc.vokt");
  Put(doc, "<VOKT 1.0>\r\nold document\r\n");
  velmora::TVOKT document;
  velmora::TWork work;
  work.Carpet = velmora::TStringList(3000, "r = 128 + 127*sin(x/10 + y/13)*cos(y/17) // long enough");
  velmora::PutWork(document, work);
  EXPECT_TRUE(FailsPartWay([&](std::string &e) { const bool ok = document.Write(doc); e = document.ErrorMessage; return ok; }, 4096));
  ++injected;
  EXPECT_EQ(Slurp(doc), "<VOKT 1.0>\r\nold document\r\n");
  // A template (a line list).
  const std::string tpl = dir.File("t.qtp");
  Put(tpl, "old template");
  EXPECT_TRUE(FailsPartWay([&](std::string &e) { return velmora::text::SaveLineList(tpl, work.Carpet, e); }, 4096));
  ++injected;
  EXPECT_EQ(Slurp(tpl), "old template");
  // Pictures in each format.
  const TPicture big = TPicture::Filled(300, 300, velmora::Rgb(1, 2, 3));
  for (const char *name : {"p.bmp", "p.jpg", "p.png"}) {
    const std::string path = dir.File(name);
    Put(path, "old picture");
    EXPECT_TRUE(FailsPartWay([&](std::string &e) { return velmora::SavePicture(path, big, e); }, 512)) << name;
    ++injected;
    EXPECT_EQ(Slurp(path), "old picture") << name;
  }
  EXPECT_EQ(dir.Entries().size(), 5u) << "no temporary file is left behind";
  // A path that is a folder.
  ASSERT_EQ(mkdir(dir.File("folder.vokt").c_str(), 0755), 0);
  EXPECT_FALSE(document.Write(dir.File("folder.vokt")));
  EXPECT_FALSE(document.ErrorMessage.empty());
  std::printf("fault injection: %d part-way failures, every old file intact\n", injected);
}

// A writable document in a read-only folder is written in place (the rest is
// tested, also as root, in LineList.AWritableFileInAFolderThatCannotBeWrittenIsSaved);
// a new one cannot be made there.
TEST(FaultInjection, ReadOnlyFolder) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  TTempDir dir;
  Put(dir.File("doc.vokt"), "old");
  chmod(dir.Path.c_str(), 0555);
  velmora::TVOKT document;
  EXPECT_TRUE(document.Write(dir.File("doc.vokt"))) << document.ErrorMessage;
  EXPECT_FALSE(document.Write(dir.File("new.vokt")));
  EXPECT_NE(document.ErrorMessage.find("フォルダ"), std::string::npos) << document.ErrorMessage;
  chmod(dir.Path.c_str(), 0755);
  EXPECT_EQ(Slurp(dir.File("doc.vokt")).substr(0, 10), "<VOKT 1.0>");
}

namespace {

// A real progressive file, then its last scan repeated: libjpeg makes a pass
// over the whole picture for each one.
std::string ProgressiveWithRepeatedScans(int side, int repeats, std::string *original = nullptr) {
  std::vector<unsigned char> rgb(static_cast<std::size_t>(side) * side * 3, 100);
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char *buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buffer, &size);
  c.image_width = c.image_height = static_cast<JDIMENSION>(side);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = rgb.data() + static_cast<std::size_t>(c.next_scanline) * side * 3;
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::string file(reinterpret_cast<char *>(buffer), size);
  free(buffer);
  if (original) *original = file;
  const std::size_t lastScan = file.rfind("\xFF\xDA");
  const std::size_t end = file.rfind("\xFF\xD9");
  const std::string scan = file.substr(lastScan, end - lastScan);
  std::string hostile = file.substr(0, end);
  for (int i = 0; i < repeats; ++i) hostile += scan;
  return hostile + "\xFF\xD9";
}

}  // namespace

TEST(FaultInjection, ProgressiveJpegWithThousandsOfScansIsRefused) {
  std::string file;
  const std::string hostile = ProgressiveWithRepeatedScans(64, 3000, &file);
  TPicture picture;
  std::string error;
  EXPECT_FALSE(velmora::DecodePicture(hostile, velmora::TPictureFormat::Jpeg, picture, error));
  EXPECT_NE(error.find("スキャン数が多すぎます"), std::string::npos) << error;
  EXPECT_TRUE(velmora::DecodePicture(file, velmora::TPictureFormat::Jpeg, picture, error)) << "the original is fine";
  // Fewer scans than the count limit, but over a big picture: bounded by the work.
  EXPECT_FALSE(velmora::DecodePicture(ProgressiveWithRepeatedScans(2500, 600), velmora::TPictureFormat::Jpeg,
                                      picture, error));
  EXPECT_NE(error.find("スキャン数が多すぎます"), std::string::npos) << error;
}

TEST(FaultInjection, HugeAndGarbageTextFiles) {
  TTempDir dir;
  // A 50 MB one-line document loads (the line is just text).
  std::string big = "<VOKT 1.0>\r\n<header>\r\n";
  big += std::string(50u * 1024 * 1024, 'a');
  big += "\r\n</header>\r\n";
  Put(dir.File("big.vokt"), big);
  big.clear();
  big.shrink_to_fit();
  velmora::TMessageRecorder boxes;
  velmora::TVOKT document(&boxes);
  ASSERT_TRUE(document.Read(dir.File("big.vokt")));
  ASSERT_EQ(document.HeaderLines.size(), 1u);
  EXPECT_EQ(document.HeaderLines[0].size(), 50u * 1024 * 1024);
  // Bigger than any text file we read: refused with a message.
  EXPECT_EQ(truncate(dir.File("big.vokt").c_str(), 100L * 1024 * 1024), 0);
  EXPECT_FALSE(document.Read(dir.File("big.vokt")));
  EXPECT_NE(document.ErrorMessage.find("大きすぎる"), std::string::npos);
  // Binary garbage as a template or document: loads with a warning, or is refused.
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
  Put(dir.File("g.qtp"), garbage);
  velmora::TStringList lines;
  std::string error, warning;
  EXPECT_TRUE(velmora::text::LoadLineList(dir.File("g.qtp"), lines, error, &warning));
  EXPECT_FALSE(warning.empty());
  Put(dir.File("g.vokt"), garbage);
  boxes.Entries.clear();
  EXPECT_FALSE(document.Read(dir.File("g.vokt")));
  ASSERT_EQ(boxes.Entries.size(), 1u);
  EXPECT_EQ(boxes.Entries[0].Text, "ファイルを処理できません．");
}

namespace {

// The address space this process uses now, in bytes.
rlim_t AddressSpaceInUse() {
  unsigned long pages = 0;
  if (std::FILE *f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  return static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

// A JPEG save that runs out of memory while its output grows fails with a
// message and keeps the old file: no "double free" abort (libjpeg's memory
// destination frees the buffer it hands out when it grows).
TEST(FaultInjection, AJpegSaveShortOfMemoryFailsCleanly) {
  if (velmora::test::AddressSanitized) GTEST_SKIP() << "AddressSanitizer needs unlimited address space";
  TTempDir dir;
  const std::string path = dir.File("noise.jpg");
  Put(path, "old picture");
  // Noise does not compress: the output buffer grows many times.
  TPicture noise = TPicture::Filled(1000, 1000, 0);
  std::uint32_t seed = 12345;
  for (std::uint32_t &pixel : noise.Pixels) pixel = (seed = seed * 1664525u + 1013904223u) >> 8;
  int saved = 0, jpegOutOfMemory = 0, otherOutOfMemory = 0;
  for (rlim_t extra = 0; extra <= 16u << 20; extra += 256u << 10) {
    const pid_t child = fork();
    if (child == 0) {
      rlimit r{AddressSpaceInUse() + extra, RLIM_INFINITY};
      setrlimit(RLIMIT_AS, &r);
      std::string error;
      try {
        if (velmora::SavePicture(path, noise, error)) _exit(0);
      } catch (const std::bad_alloc &) {
        _exit(3);  // the programs end such a job with their own message
      }
      _exit(error.find("メモリが足りません") != std::string::npos ? 1 : 2);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status) << " with " << extra << " bytes more";
    const int code = WEXITSTATUS(status);
    ASSERT_NE(code, 2) << "another failure with " << extra << " bytes more";
    if (code == 0) {
      ++saved;
      Put(path, "old picture");
      continue;
    }
    (code == 1 ? jpegOutOfMemory : otherOutOfMemory) += 1;
    EXPECT_EQ(Slurp(path), "old picture") << extra;
  }
  EXPECT_GT(jpegOutOfMemory, 0) << "the sweep reaches the encoder's own buffer";
  EXPECT_GT(saved, 0) << "the sweep reaches enough memory";
  EXPECT_EQ(dir.Entries().size(), 1u) << "no temporary file is left";
  std::printf("JPEG save sweep: %d saved, %d out of memory in the encoder, %d elsewhere\n", saved, jpegOutOfMemory,
              otherOutOfMemory);
}
