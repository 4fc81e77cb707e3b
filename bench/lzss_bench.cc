// ExpandLzss against a decoder of the same format written the plain way, on
// 65,535-byte outputs of four kinds of content, into a buffered stream on the
// null device.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "bench/bench_data.h"
#include "lzss/lzss.h"
#include "tests/support/lzss_encoder.h"

namespace {

using zelvrin_bench::Bytes;

const int kOutputSize = 65535;  // the largest fileSize

enum class Content { kText, kBinary, kZeros, kRandom };

Bytes ContentOf(Content kind) {
  switch (kind) {
    case Content::kText:
      return zelvrin_bench::EnglishText(kOutputSize);
    case Content::kBinary:
      return zelvrin_bench::ProgramBytes(kOutputSize);
    case Content::kZeros:
      return zelvrin_bench::Zeros(kOutputSize);
    case Content::kRandom:
      break;
  }
  return zelvrin_bench::RandomBytes(kOutputSize, 1);
}

// The encoded stream, padded to the decoder's reading bound as the tool's
// file buffer is.
const Bytes& StreamOf(Content kind) {
  static std::map<Content, Bytes> streams;
  auto it = streams.find(kind);
  if (it != streams.end()) return it->second;
  Bytes stream = zelvrin_test::EncodeLzss(ContentOf(kind));
  stream.resize(kOutputSize + 1 + (kOutputSize + 7) / 8, 0);
  return streams[kind] = stream;
}

// The format decoded the straightforward way: one getc per stream byte, one
// putc per output byte, the window as the only state.
void PlainExpand(FILE* in, int fileSize, FILE* out) {
  static unsigned char window[4096];
  for (int v = 0; v < 256; ++v)
    for (int k = 0; k < 13; ++k) window[13 * v + k] = (unsigned char)v;
  for (int v = 0; v < 256; ++v) window[3328 + v] = (unsigned char)v;
  for (int v = 0; v < 256; ++v) window[3584 + v] = (unsigned char)(255 - v);
  for (int p = 3840; p < 3968; ++p) window[p] = 0;
  for (int p = 3968; p < 4078; ++p) window[p] = ' ';
  int r = 4078;
  unsigned flags = 0;
  int remaining = fileSize;
  while (remaining > 0) {
    if (((flags >>= 1) & 256) == 0) flags = (unsigned)getc(in) | 0xFF00;
    if (flags & 1) {
      int c = getc(in);
      putc(c, out);
      window[r++] = (unsigned char)c;
      r &= 4095;
      --remaining;
    } else {
      int i = getc(in);
      int j = getc(in);
      i |= (j & 0xF0) << 4;
      j = (j & 0x0F) + 2;
      for (int k = 0; k <= j && remaining > 0; ++k) {
        int c = window[(i + k) & 4095];
        putc(c, out);
        window[r++] = (unsigned char)c;
        r &= 4095;
        --remaining;
      }
    }
  }
}

// What a decoder wrote to a temporary file, for checking it before timing it.
template <typename Decode>
bool DecodesTo(const Bytes& expected, Decode decode) {
  FILE* f = tmpfile();
  if (!f) return false;
  decode(f);
  Bytes got(expected.size() + 1);
  rewind(f);
  size_t n = fread(got.data(), 1, got.size(), f);
  fclose(f);
  return n == expected.size() && memcmp(got.data(), expected.data(), n) == 0;
}

void BM_ExpandLzss(benchmark::State& state, Content kind) {
  const Bytes& stream = StreamOf(kind);
  if (!DecodesTo(ContentOf(kind), [&](FILE* f) { ExpandLzss(stream.data(), kOutputSize, f); })) {
    state.SkipWithError("ExpandLzss does not give back the content");
    return;
  }
  FILE* out = fopen(zelvrin_bench::kNullDevice, "wb");
  for (auto _ : state) benchmark::DoNotOptimize(ExpandLzss(stream.data(), kOutputSize, out));
  fclose(out);
  state.SetBytesProcessed(state.iterations() * kOutputSize);
}

// The stream in a temporary file, for the plain decoder's getc; null after
// marking the benchmark skipped when it cannot be written.
FILE* StreamFile(const Bytes& stream, benchmark::State& state) {
  FILE* in = tmpfile();
  if (!in || fwrite(stream.data(), 1, stream.size(), in) != stream.size()) {
    state.SkipWithError("cannot write the stream to a temporary file");
    if (in) fclose(in);
    return nullptr;
  }
  return in;
}

void BM_PlainGetcPutc(benchmark::State& state, Content kind) {
  const Bytes& stream = StreamOf(kind);
  FILE* in = StreamFile(stream, state);
  if (!in) return;
  if (!DecodesTo(ContentOf(kind), [&](FILE* f) {
        rewind(in);
        PlainExpand(in, kOutputSize, f);
      })) {
    state.SkipWithError("the plain decoder does not give back the content");
    fclose(in);
    return;
  }
  FILE* out = fopen(zelvrin_bench::kNullDevice, "wb");
  for (auto _ : state) {
    rewind(in);
    PlainExpand(in, kOutputSize, out);
  }
  fclose(out);
  fclose(in);
  state.SetBytesProcessed(state.iterations() * kOutputSize);
}

// Both decoders on the same stream, back to back in every iteration, so that
// whatever else the machine is doing falls on both alike. Reports the median
// of the per-iteration ratios as times_faster; the time shown is the pair's.
void BM_ExpandLzssOverPlain(benchmark::State& state, Content kind) {
  using Clock = std::chrono::steady_clock;
  const Bytes& stream = StreamOf(kind);
  FILE* in = StreamFile(stream, state);
  if (!in) return;
  FILE* out = fopen(zelvrin_bench::kNullDevice, "wb");
  std::vector<double> ratios;
  for (auto _ : state) {
    Clock::time_point t0 = Clock::now();
    rewind(in);
    PlainExpand(in, kOutputSize, out);
    Clock::time_point t1 = Clock::now();
    benchmark::DoNotOptimize(ExpandLzss(stream.data(), kOutputSize, out));
    Clock::time_point t2 = Clock::now();
    ratios.push_back(std::chrono::duration<double>(t1 - t0).count() /
                     std::chrono::duration<double>(t2 - t1).count());
  }
  fclose(out);
  fclose(in);
  if (ratios.empty()) return;
  std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
  state.counters["times_faster"] = ratios[ratios.size() / 2];
}

}  // namespace

BENCHMARK_CAPTURE(BM_ExpandLzss, text, Content::kText);
BENCHMARK_CAPTURE(BM_PlainGetcPutc, text, Content::kText);
BENCHMARK_CAPTURE(BM_ExpandLzss, binary, Content::kBinary);
BENCHMARK_CAPTURE(BM_PlainGetcPutc, binary, Content::kBinary);
BENCHMARK_CAPTURE(BM_ExpandLzss, zeros, Content::kZeros);
BENCHMARK_CAPTURE(BM_PlainGetcPutc, zeros, Content::kZeros);
BENCHMARK_CAPTURE(BM_ExpandLzss, random, Content::kRandom);
BENCHMARK_CAPTURE(BM_PlainGetcPutc, random, Content::kRandom);
BENCHMARK_CAPTURE(BM_ExpandLzssOverPlain, text, Content::kText);
BENCHMARK_CAPTURE(BM_ExpandLzssOverPlain, binary, Content::kBinary);
BENCHMARK_CAPTURE(BM_ExpandLzssOverPlain, zeros, Content::kZeros);
BENCHMARK_CAPTURE(BM_ExpandLzssOverPlain, random, Content::kRandom);
