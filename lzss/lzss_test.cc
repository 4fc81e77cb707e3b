// The decoder against hand-made token streams, its window's pre-fill and the
// carry-over between files, the reading bound, and round trips through the
// test encoder.
#include "lzss/lzss.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/lzss_encoder.h"

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#include <unistd.h>
#define ZELVRIN_HAVE_GUARD_PAGES 1
#endif

namespace {

using Bytes = std::vector<uint8_t>;

// Bytes that no test stream is meant to reach; a decoder that reads one counts it.
const uint8_t kPoison = 0xE7;
const size_t kPoisonSize = 64;

Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  for (size_t i = 0; i < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    bytes.push_back((uint8_t)std::stoul(hex.substr(i, 2), nullptr, 16));
    i += 2;
  }
  return bytes;
}

std::string Hex(const Bytes& bytes, size_t from, size_t to) {
  std::string text;
  char cell[4];
  for (size_t i = from; i < to && i < bytes.size(); ++i) {
    snprintf(cell, sizeof cell, "%02X ", bytes[i]);
    text += cell;
  }
  return text;
}

// Equal bytes, or both sides in hex around the first difference.
::testing::AssertionResult SameBytes(const Bytes& expected, const Bytes& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  size_t from = at < 8 ? 0 : at - 8;
  return ::testing::AssertionFailure()
         << "sizes " << expected.size() << " expected, " << actual.size()
         << " actual; first difference at byte " << at << "\n  expected from byte " << from << ": "
         << Hex(expected, from, at + 8) << "\n  actual   from byte " << from << ": "
         << Hex(actual, from, at + 8);
}

// The window as it stands before the first compressed file of a run.
void StartOfRun() {
  memset(g_lzssWindow, 0, sizeof g_lzssWindow);
}

struct Expansion {
  Bytes out;
  int streamRead = -1;
};

// Runs the decoder into a temporary file and reads back what it put there.
Expansion Expand(const uint8_t* src, int fileSize) {
  Expansion result;
  FILE* f = tmpfile();
  if (f == nullptr) {
    ADD_FAILURE() << "tmpfile failed";
    return result;
  }
  result.streamRead = ExpandLzss(src, fileSize, f);
  fflush(f);
  long size = ftell(f);
  rewind(f);
  result.out.resize((size_t)size);
  if (size > 0 && fread(result.out.data(), 1, (size_t)size, f) != (size_t)size)
    ADD_FAILURE() << "could not read back the output";
  fclose(f);
  return result;
}

// The stream followed by poison, so that a read past its end shows in the count.
Expansion ExpandStream(const Bytes& stream, int fileSize) {
  Bytes buffer = stream;
  buffer.insert(buffer.end(), kPoisonSize, kPoison);
  return Expand(buffer.data(), fileSize);
}

// Every token a literal: one flag byte FF before each group of up to eight.
Bytes LiteralStream(const Bytes& content) {
  Bytes stream;
  for (size_t i = 0; i < content.size(); ++i) {
    if (i % 8 == 0) stream.push_back(0xFF);
    stream.push_back(content[i]);
  }
  return stream;
}

Bytes PseudoRandom(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = (uint8_t)(rng() >> 24);
  return bytes;
}

// The pre-fill as the format lays it down, position by position.
uint8_t RunOfThirteen(int p) {
  return (uint8_t)(p / 13);
}
uint8_t Ascending(int p) {
  return (uint8_t)(p - 3328);
}
uint8_t Descending(int p) {
  return (uint8_t)(255 - (p - 3584));
}
uint8_t Zero(int) {
  return 0x00;
}
uint8_t Space(int) {
  return 0x20;
}
uint8_t Untouched(int) {
  return 0xA5;
}

struct WindowRegion {
  const char* what;
  int first, last;
  uint8_t (*expected)(int position);
};

const WindowRegion kWindowRegions[] = {
    // 256 runs of 13 equal bytes, 0 to 255.
    {"runs 0x000-0xCFF", 0, 3327, RunOfThirteen},
    // Every byte value once, ascending.
    {"ascending 0xD00-0xDFF", 3328, 3583, Ascending},
    // Every byte value once, descending.
    {"descending 0xE00-0xEFF", 3584, 3839, Descending},
    {"zeros 0xF00-0xF7F", 3840, 3967, Zero},
    {"spaces 0xF80-0xFED", 3968, 4077, Space},
    // The carry-over area keeps what was there (here the fill of the test).
    {"carry-over 0xFEE-0xFFF", 4078, 4095, Untouched},
};

void ExpectPrefill() {
  for (const WindowRegion& region : kWindowRegions) {
    SCOPED_TRACE(region.what);
    for (int p = region.first; p <= region.last; ++p) {
      if (g_lzssWindow[p] != region.expected(p)) {
        ADD_FAILURE() << "position " << p << ": expected " << (int)region.expected(p) << ", found "
                      << (int)g_lzssWindow[p];
        break;
      }
    }
  }
}

TEST(LzssWindow, PrefillLaysDownEachRegionAndLeavesTheCarryOverAlone) {
  memset(g_lzssWindow, 0xA5, sizeof g_lzssWindow);
  InitLzssWindow();
  ExpectPrefill();
}

TEST(LzssWindow, EveryExpansionRestoresThePrefillEvenForAnEmptyFile) {
  memset(g_lzssWindow, 0xA5, sizeof g_lzssWindow);
  Expansion run = ExpandStream({}, 0);
  EXPECT_TRUE(run.out.empty());
  EXPECT_EQ(0, run.streamRead);
  ExpectPrefill();
}

struct StreamCase {
  const char* what;
  const char* stream;  // hex, from the first stream byte on
  int fileSize;
  const char* output;  // hex
  int streamRead;      // stream bytes the expansion consumes
};

// The format's worked examples, each as the first compressed file of a run.
const StreamCase kWorkedExamples[] = {
    // Literals 41 42 at 4078-4079, then a pair from 4078 of length 7 that reads
    // back what it writes.
    {"overlapping copy", "03 41 42 EE F4", 9, "41 42 41 42 41 42 41 42 41", 5},
    // Pair into the ascending area (0xD30, length 10), literal 2D, pair into the
    // run of 0x41 at 13 * 0x41 = 0x34D, length 3.
    {"ascending and runs", "02 30 D7 2D 4D 30", 14, "30 31 32 33 34 35 36 37 38 39 2D 41 41 41", 6},
    // The same stream cut inside its first copy: three stream bytes read.
    {"end inside a copy", "02 30 D7 2D 4D 30", 5, "30 31 32 33 34", 3},
    // Pair into the space area, 0xF80, length 18.
    {"spaces", "00 80 FF", 18, "20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20", 3},
    // Pair into the descending area, 0xE00, length 5.
    {"descending", "00 00 E2", 5, "FF FE FD FC FB", 3},
    // Source equal to the write position: 4078-4080 as they stand, zero.
    {"source at the write position", "00 EE F0", 3, "00 00 00", 3},
};

const StreamCase kEdgeCases[] = {
    // Nothing to write: not even the first flag byte is read.
    {"empty file", "", 0, "", 0},
    // Flag bits after the last token are ignored: set (literals) ...
    {"ignored flag bits set", "FF 41", 1, "41", 2},
    // ... or clear (pairs); in neither case is a byte after the last token read.
    {"ignored flag bits clear", "01 41", 1, "41", 2},
    // Ending on a group's last token: the next flag byte is not read.
    {"end at a group boundary", "FF 41 42 43 44 45 46 47 48", 8, "41 42 43 44 45 46 47 48", 9},
    // One token into the second group.
    {"second group", "FF 41 42 43 44 45 46 47 48 01 49", 9, "41 42 43 44 45 46 47 48 49", 11},
    // Source one behind the write position repeats the last byte written.
    {"source one behind", "03 41 42 EF F4", 9, "41 42 42 42 42 42 42 42 42", 5},
    // Source run 0xFFE-0xFFF, then on at 0: two carry-over zeros, the thirteen
    // zeros of position 0-12, then 01 from position 13 on.
    {"source run past 4095", "00 FE FF", 18,
     "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 01 01", 3},
    // A full group of pairs, into every pre-fill region and both ends of the
    // ramps: the high nibble of b1 selects the region.
    {"eight pairs in one group", "00 41 00 03 D0 00 E1 00 F0 80 F0 F3 C0 FD D0 FD E0", 25,
     "05 05 05 03 04 05 FF FE FD FC 00 00 00 20 20 20 FF FF FF FD FE FF 02 01 00", 17},
};

void RunStreamCases(const StreamCase* cases, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const StreamCase& c = cases[i];
    SCOPED_TRACE(c.what);
    StartOfRun();
    Expansion run = ExpandStream(FromHex(c.stream), c.fileSize);
    EXPECT_TRUE(SameBytes(FromHex(c.output), run.out));
    EXPECT_EQ(c.streamRead, run.streamRead);
  }
}

TEST(ExpandLzss, WorkedExamples) {
  RunStreamCases(kWorkedExamples, sizeof kWorkedExamples / sizeof kWorkedExamples[0]);
}

TEST(ExpandLzss, EdgeCases) {
  RunStreamCases(kEdgeCases, sizeof kEdgeCases / sizeof kEdgeCases[0]);
}

TEST(ExpandLzss, CarryOverAreaPassesFromOneFileToTheNext) {
  StartOfRun();
  const Bytes reread = FromHex("00 EE F0");
  EXPECT_TRUE(SameBytes(FromHex("00 00 00"), ExpandStream(reread, 3).out))
      << "before any compressed file";

  Bytes content;
  for (uint8_t b = 0x41; b <= 0x50; ++b) content.push_back(b);
  EXPECT_TRUE(SameBytes(content, ExpandStream(LiteralStream(content), 16).out));

  EXPECT_TRUE(SameBytes(FromHex("41 42 43"), ExpandStream(reread, 3).out))
      << "after a file whose output was 41 to 50";
}

TEST(ExpandLzss, WritePositionWrapsToZeroAndTheNextFileRestoresThePrefill) {
  StartOfRun();
  // Eighteen literals fill 4078-4095, 73 and 74 land at 0 and 1, and the last
  // pair copies from 0, which by then holds 73.
  const Bytes stream =
      FromHex("FF 61 62 63 64 65 66 67 68 FF 69 6A 6B 6C 6D 6E 6F 70 0F 71 72 73 74 00 00");
  Expansion run = ExpandStream(stream, 23);
  EXPECT_TRUE(SameBytes(FromHex("61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F 70 71 72 73 74 "
                                "73 74 73"),
                        run.out));
  EXPECT_EQ(25, run.streamRead);
  EXPECT_TRUE(SameBytes(FromHex("73 74 73 74 73"), Bytes(g_lzssWindow, g_lzssWindow + 5)))
      << "positions 0-4 after the wrap";

  // The next file sees the carry-over 61 62 63 and the pre-fill at 0 again.
  EXPECT_TRUE(
      SameBytes(FromHex("61 62 63 00 00 00"), ExpandStream(FromHex("00 EE F0 00 00"), 6).out));
}

// For n output bytes a stream is longest when every token is a literal but the
// last, a pair cut off after its first byte: n + 1 + ceil(n / 8) bytes.
struct BoundCase {
  const char* what;
  int fileSize;
  bool lastPairCut;
  int streamRead;
};

const BoundCase kBoundCases[] = {
    {"one literal", 1, false, 2},
    {"one cut pair", 1, true, 3},
    {"one group of literals", 8, false, 9},
    {"a group, last pair cut", 8, true, 10},
    {"nine literals", 9, false, 11},
    {"nine, last pair cut", 9, true, 12},
    // The largest file: 8,192 flag bytes and 65,535 literals ...
    {"65,535 literals", 65535, false, 73727},
    // ... or 65,534 literals and a pair of two bytes.
    {"65,535 with the last pair cut", 65535, true, 73728},
};

// Literals, then one pair b0 b1 as the last token; the flag bits after it are 0.
Bytes LiteralsThenPair(const Bytes& literals, uint8_t b0, uint8_t b1) {
  Bytes stream;
  size_t flagAt = 0;
  for (size_t t = 0; t <= literals.size(); ++t) {
    if (t % 8 == 0) {
      flagAt = stream.size();
      stream.push_back(0x00);
    }
    if (t < literals.size()) {
      stream[flagAt] = (uint8_t)(stream[flagAt] | 1u << (t % 8));
      stream.push_back(literals[t]);
    } else {
      stream.push_back(b0);
      stream.push_back(b1);
    }
  }
  return stream;
}

// The stream of a bound case and the output it must give. The last pair, of
// length 18, copies from the position just behind the write position, so its
// one byte repeats the byte before it (position 4077, a space, when it is the
// only token).
void BoundStream(const BoundCase& c, Bytes* stream, Bytes* output) {
  const int n = c.fileSize;
  *output = PseudoRandom((size_t)n, (uint32_t)n);
  if (!c.lastPairCut) {
    *stream = LiteralStream(*output);
    return;
  }
  const unsigned source = (unsigned)(kLzssFirstWritePosition + n - 2) & 0xFFF;
  *stream = LiteralsThenPair(Bytes(output->begin(), output->end() - 1), (uint8_t)(source & 0xFF),
                             (uint8_t)(((source >> 4) & 0xF0) | 0x0F));
  output->back() = n >= 2 ? (*output)[(size_t)n - 2] : 0x20;
}

TEST(ExpandLzss, ReadsAtMostTheBoundAndExactlyWhatTheTokensNeed) {
  for (const BoundCase& c : kBoundCases) {
    SCOPED_TRACE(c.what);
    Bytes stream, output;
    BoundStream(c, &stream, &output);
    ASSERT_EQ((size_t)c.streamRead, stream.size());
    StartOfRun();
    Expansion run = ExpandStream(stream, c.fileSize);
    EXPECT_TRUE(SameBytes(output, run.out));
    EXPECT_EQ(c.streamRead, run.streamRead);
  }
}

#if defined(ZELVRIN_HAVE_GUARD_PAGES)
// A stream laid flush against a page that cannot be read: any read past its
// last byte faults, whatever the decoder counts.
class GuardedStream {
 public:
  explicit GuardedStream(const Bytes& stream) {
    const size_t page = (size_t)sysconf(_SC_PAGESIZE);
    dataPages_ = (stream.size() + page - 1) / page + 1;
    size_ = (dataPages_ + 1) * page;
    base_ =
        (uint8_t*)mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base_ == (uint8_t*)MAP_FAILED) {
      base_ = nullptr;
      return;
    }
    uint8_t* guard = base_ + dataPages_ * page;
    mprotect(guard, page, PROT_NONE);
    start_ = guard - stream.size();
    if (!stream.empty()) memcpy(start_, stream.data(), stream.size());
  }
  ~GuardedStream() {
    if (base_ != nullptr) munmap(base_, size_);
  }
  GuardedStream(const GuardedStream&) = delete;
  GuardedStream& operator=(const GuardedStream&) = delete;
  const uint8_t* data() const { return start_; }

 private:
  uint8_t* base_ = nullptr;
  uint8_t* start_ = nullptr;
  size_t dataPages_ = 0;
  size_t size_ = 0;
};

TEST(ExpandLzss, NeverTouchesTheByteAfterTheLastToken) {
  std::vector<std::pair<Bytes, int>> streams;
  for (const StreamCase& c : kWorkedExamples) {
    Bytes stream = FromHex(c.stream);
    stream.resize((size_t)c.streamRead);
    streams.emplace_back(stream, c.fileSize);
  }
  for (const StreamCase& c : kEdgeCases) streams.emplace_back(FromHex(c.stream), c.fileSize);
  for (const BoundCase& c : kBoundCases) {
    Bytes stream, output;
    BoundStream(c, &stream, &output);
    streams.emplace_back(stream, c.fileSize);
  }
  for (const auto& s : streams) {
    SCOPED_TRACE("fileSize " + std::to_string(s.second) + ", stream of " +
                 std::to_string(s.first.size()) + " bytes");
    GuardedStream guarded(s.first);
    ASSERT_NE(nullptr, guarded.data());
    StartOfRun();
    EXPECT_EQ((int)s.first.size(), Expand(guarded.data(), s.second).streamRead);
  }
}
#endif

std::string EnglishText(size_t size) {
  static const char* const kWords[] = {
      "the", "disk",  "holds", "a",     "volume", "of",     "files", "and",     "every", "file",
      "is",  "read",  "from",  "its",   "first",  "sector", "on",    "track",   "one",   "while",
      "old", "saves", "keep",  "their", "names",  "in",     "order", "quietly", "game",  "map"};
  std::mt19937 rng(1234);
  std::string text;
  while (text.size() < size) {
    text += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
    text += rng() % 11 == 0 ? ".\n" : " ";
  }
  text.resize(size);
  return text;
}

Bytes FromText(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// Every byte value in rising runs and falling ramps, which the pre-fill holds too.
Bytes Ramps() {
  Bytes bytes;
  for (int r = 0; r < 40; ++r)
    for (int v = 0; v < 256; ++v) bytes.push_back((uint8_t)(r % 2 ? 255 - v : v / 4));
  return bytes;
}

struct RoundTripCase {
  const char* what;
  Bytes content;
  bool literalsOnly;
};

TEST(ExpandLzss, RoundTripsThroughTheTestEncoder) {
  const RoundTripCase cases[] = {
      {"text", FromText(EnglishText(20000)), false},
      {"zeros", Bytes(10000, 0x00), false},
      {"random bytes", PseudoRandom(20000, 99), false},
      {"ramps", Ramps(), false},
      {"largest text", FromText(EnglishText(65535)), false},
      {"largest zeros", Bytes(65535, 0x00), false},
      {"largest random", PseudoRandom(65535, 7), false},
      {"text as literals", FromText(EnglishText(5000)), true},
      {"largest random as literals", PseudoRandom(65535, 8), true},
      {"one byte", Bytes(1, 0x5A), false},
  };
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE(c.what);
    zelvrin_test::LzssEncodeOptions options;
    options.literalsOnly = c.literalsOnly;
    Bytes stream = zelvrin_test::EncodeLzss(c.content, options);
    // Whatever an earlier file left in the carry-over area must not matter.
    memset(g_lzssWindow, 0xA5, sizeof g_lzssWindow);
    Expansion run = ExpandStream(stream, (int)c.content.size());
    EXPECT_TRUE(SameBytes(c.content, run.out));
    EXPECT_EQ((int)stream.size(), run.streamRead);
  }
}

// The window positions of the pairs of a stream, read token by token.
std::vector<unsigned> PairSources(const Bytes& stream, size_t outputSize) {
  std::vector<unsigned> sources;
  size_t at = 0, produced = 0;
  while (produced < outputSize && at < stream.size()) {
    unsigned flags = stream[at++];
    for (int t = 0; t < 8 && produced < outputSize && at < stream.size(); ++t, flags >>= 1) {
      if (flags & 1) {
        ++at;
        ++produced;
      } else {
        sources.push_back(stream[at] | ((stream[at + 1] & 0xF0u) << 4));
        produced += (stream[at + 1] & 0x0Fu) + 3;
        at += 2;
      }
    }
  }
  return sources;
}

// Short contents (at most 18 bytes, so the write position never reaches the
// pre-fill) that the encoder can only shorten with a pair into the
// pre-filled area: a round trip through them shows that the decoder's pre-fill
// is the one the encoder assumes.
TEST(ExpandLzss, EncoderPairsIntoThePrefillDecodeBack) {
  struct Case {
    const char* what;
    Bytes content;
    unsigned first, last;  // where at least one pair must point
  };
  const Case cases[] = {
      {"digits", FromText("0123456789"), 0xD00, 0xDFF},
      {"descending", FromHex("FF FE FD FC FB FA F9 F8"), 0xE00, 0xEFF},
      {"run of 41", FromText("AAAAAAAAAAAAA"), 0x000, 0xCFF},
      {"eighteen spaces", Bytes(18, 0x20), 0x000, 0xFED},
      {"digits among letters", FromText("x0123y4567z"), 0xD00, 0xDFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_LE(c.content.size(), 18u);
    Bytes stream = zelvrin_test::EncodeLzss(c.content);
    bool intoRegion = false;
    for (unsigned source : PairSources(stream, c.content.size()))
      intoRegion = intoRegion || (source >= c.first && source <= c.last);
    EXPECT_TRUE(intoRegion) << "no pair into " << c.first << "-" << c.last;
    memset(g_lzssWindow, 0xA5, sizeof g_lzssWindow);
    Expansion run = ExpandStream(stream, (int)c.content.size());
    EXPECT_TRUE(SameBytes(c.content, run.out));
    EXPECT_EQ((int)stream.size(), run.streamRead);
  }
}

}  // namespace
