// zelvrin IMAGE: lists and extracts the files of a game's data disks in a D88 image.
#include "tool/zelvrin.h"

int main(int argc, char* argv[]) {
  return RunZelvrin(argc, argv);
}
