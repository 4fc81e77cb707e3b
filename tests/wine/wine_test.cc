// The Windows build run under Wine beside the Linux build, on the same images.
// Wine folds case and reads a backslash as a path separator, as Windows does,
// so the output-name rules meet the conditions they were made for. Needs
// ZELVRIN_TEST_BINARY (zelvrin.exe) and ZELVRIN_TEST_LAUNCHER (wine), as
// tests/wine/run.sh sets them; skipped otherwise.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"
#include "tests/support/run_tool.h"

#ifndef ZELVRIN_LINUX_BINARY
#define ZELVRIN_LINUX_BINARY ""
#endif

namespace {

using zelvrin_test::Bytes;
using zelvrin_test::FileHeaderBytes;
using zelvrin_test::ReadFileBytes;
using zelvrin_test::RunTool;
using zelvrin_test::TempDir;
using zelvrin_test::ToolRun;
using zelvrin_test::VolumeBuilder;

const char kOpenError[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5"
    "\x82\xAB\x82\xDC\x82\xB9\x82\xF1";

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string Hex(const std::string& bytes, size_t from, size_t to) {
  std::string out;
  char cell[4];
  for (size_t i = from; i < to && i < bytes.size(); ++i) {
    snprintf(cell, sizeof(cell), "%02x ", (unsigned char)bytes[i]);
    out += cell;
  }
  return out.empty() ? "(nothing)" : out;
}

void ExpectSameBytes(const std::string& what, const std::string& expected,
                     const std::string& actual) {
  if (expected == actual) return;
  size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  size_t from = at < 16 ? 0 : at - 16;
  ADD_FAILURE() << what << ": first difference at byte " << at << " (sizes " << expected.size()
                << " expected, " << actual.size() << " got)\n  expected from " << from << ": "
                << Hex(expected, from, at + 16) << "\n  got      from " << from << ": "
                << Hex(actual, from, at + 16);
}

std::string FileText(const std::string& path) {
  Bytes b = ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string Name(int diskIndex, int slot) {
  char name[16];
  snprintf(name, sizeof(name), "%c%03d", 65 + diskIndex, slot);
  return name;
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// RunTool reads the binary and the launcher from the environment on every
// call; these set them for one run of either build.
class WineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* exe = getenv("ZELVRIN_TEST_BINARY");
    const char* launcher = getenv("ZELVRIN_TEST_LAUNCHER");
    exe_ = exe ? exe : "";
    launcher_ = launcher ? launcher : "";
    // The 64th disk's name byte 0x80 goes through Wine's code pages: the
    // Windows side reads it as Windows-1252, the Unix side needs a locale
    // that can spell the result.
    setenv("LC_ALL", "C.UTF-8", 1);
  }

  void SetUp() override {
    if (exe_.empty() || launcher_.empty())
      GTEST_SKIP() << "set ZELVRIN_TEST_BINARY to zelvrin.exe and ZELVRIN_TEST_LAUNCHER to wine "
                      "(tests/wine/run.sh does)";
  }

  static ToolRun RunWindows(const std::vector<std::string>& args, const std::string& dir) {
    setenv("ZELVRIN_TEST_BINARY", exe_.c_str(), 1);
    setenv("ZELVRIN_TEST_LAUNCHER", launcher_.c_str(), 1);
    return RunTool(args, dir);
  }

  static ToolRun RunLinux(const std::vector<std::string>& args, const std::string& dir) {
    setenv("ZELVRIN_TEST_BINARY", ZELVRIN_LINUX_BINARY, 1);
    unsetenv("ZELVRIN_TEST_LAUNCHER");
    ToolRun run = RunTool(args, dir);
    setenv("ZELVRIN_TEST_BINARY", exe_.c_str(), 1);
    setenv("ZELVRIN_TEST_LAUNCHER", launcher_.c_str(), 1);
    return run;
  }

  static std::string exe_;
  static std::string launcher_;
};

std::string WineTest::exe_;
std::string WineTest::launcher_;

// Three disks: stored, compressed and empty files, a file with a sector
// missing, a file whose header sector is missing, one whose content runs past
// its length, and a disk without its directory sector.
Bytes MixedImage() {
  VolumeBuilder first;
  int next = first.AddStoredFile(0, 6, Text("stored\r\ntext with CR LF\r\nand a bare LF\n"));
  next = first.AddCompressedFile(3, next, Text(std::string(3000, '\n') + "end"));
  Bytes gaps(5000);
  for (size_t i = 0; i < gaps.size(); ++i) gaps[i] = (uint8_t)(i * 7);
  int gapStart = next;
  next = first.AddStoredFile(5, next, gaps);
  first.RemoveSector(gapStart + 2);
  first.SetEntry(6, (uint8_t)next, 0, 1);  // points at a sector the image lacks
  first.RemoveSector(next++);
  Bytes pastLength = FileHeaderBytes(2000, 2000);
  pastLength.resize(8 + 2000, 0x5A);
  next = first.AddFile(9, next, pastLength, 0);
  first.AddStoredFile(335, next, Bytes());

  VolumeBuilder second;
  second.AddStoredFile(0, 6, Text("never read"));
  second.RemoveSector(5);

  VolumeBuilder third;
  next = third.AddCompressedFile(1, 6, Bytes(9000, 0x1A));
  third.AddStoredFile(2, next,
                      Bytes{0x1A, 0x0D, 0x0A, 0x00, 0xFF});  // a text stream would change these
  return zelvrin_test::Concat({first.Build(), second.Build(), third.Build()});
}

// The same run on both builds: the same status, the same bytes on standard
// output and error but for CR LF, and the same files with the same bytes.
TEST_F(WineTest, BehavesAsTheLinuxBuild) {
  TempDir images;
  std::string mixed = images.File("mixed.d88");
  zelvrin_test::WriteFileBytes(mixed, MixedImage());

  struct Case {
    std::string label;
    std::vector<std::string> args;
    int status;
    std::string err;  // expected on Linux when not empty
  };
  std::vector<Case> cases = {
      // The usage line, for none and for two arguments.
      {"no argument", {}, 1, "Usage: zelvrin (D88image)\n"},
      {"two arguments", {mixed, mixed}, 1, "Usage: zelvrin (D88image)\n"},
      // The Shift_JIS open error, its bytes as stored.
      {"missing image", {images.File("absent.d88")}, 1, std::string(kOpenError) + "\n"},
      // Report lines, files and every kind of read problem.
      {"mixed image", {mixed}, 2, ""},
  };
  std::string shared = zelvrin_test::SharedDir();
  if (!shared.empty()) {
    for (const char* name : {"cpm-2d.d88", "hubasic-2d.d88", "lsx-mixed-sizes.d88",
                             "three-disks.d88", "truncated-last-track.d88"}) {
      std::string path = shared + "/realworld/" + name;
      if (Exists(path)) cases.push_back({name, {path}, -1, ""});
    }
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir linuxDir, windowsDir;
    ToolRun onLinux = RunLinux(c.args, linuxDir.path());
    ToolRun onWindows = RunWindows(c.args, windowsDir.path());
    if (c.status >= 0) {
      EXPECT_EQ(onLinux.status, c.status);
    }
    if (!c.err.empty()) ExpectSameBytes("Linux standard error", c.err, onLinux.err);
    EXPECT_EQ(onWindows.status, onLinux.status);
    ExpectSameBytes("standard output", WithCrLf(onLinux.out), onWindows.out);
    ExpectSameBytes("standard error", WithCrLf(onLinux.err), onWindows.err);
    ASSERT_EQ(windowsDir.List(), linuxDir.List());
    for (const std::string& name : linuxDir.List())
      ExpectSameBytes("file " + name, FileText(linuxDir.File(name)),
                      FileText(windowsDir.File(name)));
  }
}

// What each disk of the 64-disk image leads to under Wine, by its first
// name character.
enum class Outcome {
  kWritten,        // the same name as on Linux
  kNotUsable,      // '\': reported, nothing written
  kWouldReplace,   // 'a'-'z': the file of the disk 32 places earlier
  kCannotCreate,   // '|': Windows refuses the name
  kWrittenAsEuro,  // 0x80: Windows-1252 reads it as U+20AC
};

Outcome OutcomeOf(int diskIndex) {
  int code = 65 + diskIndex;
  if (code == '\\') return Outcome::kNotUsable;
  if (code >= 'a' && code <= 'z') return Outcome::kWouldReplace;
  if (code == '|') return Outcome::kCannotCreate;
  if (code == 0x80) return Outcome::kWrittenAsEuro;
  return Outcome::kWritten;  // also DEL (0x7F), a plain byte in Windows names
}

// 64 disks with files in slots 0, 7 and 335, every file's bytes telling its
// disk and slot apart, so that a replaced file shows.
TEST_F(WineTest, NameRulesOnSixtyFourDisks) {
  const int kSlots[] = {0, 7, 335};
  std::vector<Bytes> disks;
  for (int d = 0; d < 64; ++d) {
    VolumeBuilder v;
    std::string tag = "disk " + std::to_string(d + 1) + "\n";
    int next = v.AddStoredFile(0, 6, Text(tag + "stored"));
    next = v.AddCompressedFile(7, next, Text(tag + std::string(2000 + d, (char)d)));
    v.AddCompressedFile(335, next, Text(tag + "slot 335"));
    disks.push_back(v.Build());
  }
  TempDir root;
  std::string image = root.File("64.d88");
  zelvrin_test::WriteFileBytes(image, zelvrin_test::Concat(disks));
  // The working directory sits one level down, so that anything written
  // beside it shows too.
  std::string work = root.File("work");
  ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
  // "\000" names the root of the current drive; Wine's Z: is the Unix root.
  for (int slot : kSlots) ASSERT_FALSE(Exists("/" + Name(0, slot).substr(1))) << "left over";

  TempDir linuxDir;
  ToolRun onLinux = RunLinux({image}, linuxDir.path());
  ToolRun onWindows = RunWindows({image}, work);

  ASSERT_EQ(onLinux.status, 0) << onLinux.err;
  EXPECT_EQ(onWindows.status, 2);
  ExpectSameBytes("standard output", WithCrLf(onLinux.out), onWindows.out);

  std::string expectedErr;
  std::vector<std::string> expectedFiles;
  std::map<std::string, std::string> linuxNameOf;
  for (int d = 0; d < 64; ++d) {
    for (int slot : kSlots) {
      std::string name = Name(d, slot);
      switch (OutcomeOf(d)) {
        case Outcome::kWritten:
          expectedFiles.push_back(name);
          linuxNameOf[name] = name;
          break;
        case Outcome::kWrittenAsEuro: {
          std::string euro = "\xE2\x82\xAC" + name.substr(1);
          expectedFiles.push_back(euro);
          linuxNameOf[euro] = name;
          break;
        }
        case Outcome::kNotUsable:
          expectedErr += "zelvrin: " + name + ": name not usable on this system; not written\r\n";
          break;
        case Outcome::kWouldReplace:
          expectedErr += "zelvrin: " + name + ": would replace " + Name(d - 32, slot) +
                         " written earlier in this run; not written\r\n";
          break;
        case Outcome::kCannotCreate:
          expectedErr += "zelvrin: " + name + ": cannot create file: ";
          break;
      }
    }
  }

  // The creation failure's reason is the C library's text; compare the rest.
  std::string err = onWindows.err;
  for (size_t at = err.find(": cannot create file: "); at != std::string::npos;
       at = err.find(": cannot create file: ", at + 1)) {
    size_t reason = at + 22, end = err.find("\r\n", reason);
    ASSERT_NE(end, std::string::npos);
    EXPECT_GT(end, reason) << "no reason given";
    err.erase(reason, end + 2 - reason);
  }
  ExpectSameBytes("standard error", expectedErr, err);

  std::sort(expectedFiles.begin(), expectedFiles.end());
  std::vector<std::string> written;
  for (const auto& e : std::filesystem::directory_iterator(work))
    written.push_back(e.path().filename().string());
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, expectedFiles);
  for (const std::string& name : written)
    if (linuxNameOf.count(name))
      ExpectSameBytes("file " + name, FileText(linuxDir.File(linuxNameOf[name])),
                      FileText(work + "/" + name));

  EXPECT_EQ(root.List(), (std::vector<std::string>{"64.d88", "work"}));
  for (int slot : kSlots)
    EXPECT_FALSE(Exists("/" + Name(0, slot).substr(1)))
        << "the 28th disk's file landed in the root of the drive";
}

}  // namespace
