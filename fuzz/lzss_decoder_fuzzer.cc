// Property: ExpandLzss turns any token stream into exactly fileSize bytes, and
// for a fileSize n it reads at most n + 1 + ceil(n / 8) stream bytes (none for
// n = 0): the bound that lets the tool run the decoder on past a short file
// into the rest of its buffer without leaving it.
//
// The input is fileSize (two bytes, low byte first) and then the stream. The
// decoder gets exactly the bound's number of readable bytes, the stream padded
// with zeros, in a heap block of that size, so that AddressSanitizer catches a
// read past the bound even where the count returned would hide it.
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_check.h"
#include "lzss/lzss.h"

namespace {

// The output stream only counts what it is given.
ssize_t CountWritten(void* cookie, const char*, size_t size) {
  *static_cast<size_t*>(cookie) += size;
  return (ssize_t)size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int fileSize = (size > 0 ? data[0] : 0) | (size > 1 ? data[1] << 8 : 0);
  const uint8_t* stream = size > 2 ? data + 2 : data;
  size_t streamSize = size > 2 ? size - 2 : 0;

  size_t bound = fileSize == 0 ? 0 : (size_t)fileSize + 1 + ((size_t)fileSize + 7) / 8;
  std::unique_ptr<uint8_t[]> src(new uint8_t[bound]);
  size_t copied = streamSize < bound ? streamSize : bound;
  if (copied > 0) memcpy(src.get(), stream, copied);
  memset(src.get() + copied, 0, bound - copied);

  size_t written = 0;
  cookie_io_functions_t counter = {nullptr, CountWritten, nullptr, nullptr};
  FILE* out = fopencookie(&written, "w", counter);
  FUZZ_CHECK(out != nullptr, "cannot open a counting stream");
  int read = ExpandLzss(src.get(), fileSize, out);
  fclose(out);

  FUZZ_CHECK(written == (size_t)fileSize, "fileSize %d gave %zu bytes", fileSize, written);
  FUZZ_CHECK(read >= 0 && (size_t)read <= bound, "fileSize %d read %d stream bytes, bound %zu",
             fileSize, read, bound);
  return 0;
}
