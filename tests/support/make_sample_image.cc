// make_sample_image OUT: writes a small two-disk image in the game's volume
// layout, with stored and compressed files, for a first run of the tool.
#include <cstdio>
#include <string>

#include "tests/support/image_builder.h"

using zelvrin_test::Bytes;

static Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// A 48 x 32 24-bit BMP: a colour gradient with a diagonal band.
static Bytes Picture() {
  const int w = 48, h = 32, row = w * 3;  // 144 bytes, already a multiple of 4
  const int pixels = row * h, size = 54 + pixels;
  Bytes b(size, 0);
  auto le32 = [&](int at, int v) {
    for (int i = 0; i < 4; ++i) b[at + i] = (uint8_t)(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  le32(2, size);
  le32(10, 54);
  le32(14, 40);
  le32(18, w);
  le32(22, h);
  b[26] = 1;
  b[28] = 24;
  le32(34, pixels);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &b[54 + y * row + x * 3];
      bool band = (x - y) / 4 == 2;
      p[0] = band ? 255 : (uint8_t)(x * 5);
      p[1] = band ? 255 : (uint8_t)(y * 8);
      p[2] = band ? 255 : (uint8_t)(128 + x + y);
    }
  return b;
}

static Bytes Story(int lines) {
  std::string s;
  for (int i = 1; i <= lines; ++i)
    s += "Line " + std::to_string(i) + ": the party rests at the inn before the long road north.\n";
  return Text(s);
}

int main(int argc, char* argv[]) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_sample_image OUT\n");
    return 1;
  }
  zelvrin_test::VolumeBuilder first;
  first.AddStoredFile(0, 6, Text("SAMPLE DISK 1\r\nA stored text file.\r\n"));
  first.AddCompressedFile(1, 7, Story(40));  // two sectors at most
  // Eight stored sectors from sector 4 of track 2 (cylinder 1, head 0): on
  // through head 1 and into cylinder 2.
  Bytes long_text = Story(100);
  long_text.resize(8 * 1024 - 8);
  int next = first.AddStoredFile(5, 13, long_text);
  next = first.AddStoredFile(2, next, Picture());
  first.AddCompressedFile(4, next, Picture());  // slot 3 stays empty

  zelvrin_test::VolumeBuilder second;
  next = 6;
  next = second.AddCompressedFile(0, next, Bytes(5000, 0));
  next = second.AddStoredFile(1, next, Text("SAMPLE DISK 2\r\n"));
  next = second.AddCompressedFile(7, next,
                                  Text("The window starts with a known pattern.   0123456789"));

  try {
    zelvrin_test::WriteFileBytes(argv[1], zelvrin_test::Concat({first.Build(), second.Build()}));
  } catch (const std::exception& e) {
    fprintf(stderr, "make_sample_image: %s\n", e.what());
    return 1;
  }
  return 0;
}
