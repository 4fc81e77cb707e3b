// make_sample_image OUT: writes a small two-disk image in the game's volume
// layout, with stored and compressed files, for a first run of the tool.
#include <cstdio>
#include <string>

#include "tests/support/image_builder.h"

using zelvrin_test::Bytes;

static Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
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
  next = first.AddStoredFile(2, next, zelvrin_test::BmpPicture(48, 32));
  first.AddCompressedFile(4, next, zelvrin_test::BmpPicture(48, 32));  // slot 3 stays empty

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
