// Handlers registered with atexit run after main returns and when exit is
// called (from any depth of calls), the latest first; exit's status stays
// the program's.
// RUN: %zcc %s -o %t.if
// RUN: %expect_exit 7 %zrun %t.if | FileCheck %s --check-prefix=RETURN
// RUN: %expect_exit 3 %zrun %t.if -- deep | FileCheck %s --check-prefix=EXIT
// RUN: %expect_exit 3 %zcc -O 2 --run %s -- deep | FileCheck %s --check-prefix=EXIT
// RUN: %zopt -o3 %t.if %t.o3
// RUN: %expect_exit 3 %zrun %t.o3 -- deep | FileCheck %s --check-prefix=EXIT
#include <stdio.h>
#include <stdlib.h>

static int depth;
static void first(void) { printf("first %d\n", depth); }
static void second(void) { printf("second\n"); }

static void dive(int n) {
  depth = n;
  if (n == 5)
    exit(3);
  dive(n + 1);
}

int main(int argc, char **argv) {
  (void)argv;
  atexit(first);
  atexit(second);
  puts("main");
  if (argc > 1)
    dive(0);
  return 7;
}
// RETURN: main
// RETURN-NEXT: second
// RETURN-NEXT: first 0
// EXIT: main
// EXIT-NEXT: second
// EXIT-NEXT: first 5
