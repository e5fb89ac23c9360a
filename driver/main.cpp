// driver/main.cpp - entry point of zopt.
//
// Start-up order and failure handling are filled in with the command-line
// set-up (driver/fileopt.cpp); until then the tool only reports its usage.
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
  std::fprintf(stderr, "Usage: %s [-options] filename\n", argc > 0 ? argv[0] : "<toolname>");
  return 1;
}
