// migrator: the window.

#include <cstdio>
#include <cstring>

#include "version.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("%s %s\n", MIGRATOR_PRODUCT, MIGRATOR_VERSION);
      return 0;
    }
  }
  std::fprintf(stderr, "migrator: the window is not built yet\n");
  return 0;
}
