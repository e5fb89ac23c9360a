// Static initializers in layout order: values at their offsets, SKIP over
// gaps and members left zero, bit-fields packed into one constant of their
// unit's type, addresses of globals with an offset in units, strings.
// Local initializers become assignments, the members without a value zero.
// RUN: %zcc %s -o %t.if
// RUN: %zrun %t.if | FileCheck %s
// RUN: %zopt -o2 %t.if %t.o2 && %zrun %t.o2 | FileCheck %s
// RUN: %zdis %t.if | FileCheck %s --check-prefix=IC
#include <stdio.h>

struct rec {
  short tag;
  long value;          // at 32 bits: 16 bits of padding before it
  unsigned lo : 4, hi : 4;
  const char *name;
};

// IC-LABEL: init @r
// IC-NEXT: (ICON short 1)
// IC-NEXT: (SKIP void 16)
// IC-NEXT: (ICON long 100000)
// IC-NEXT: (ICON uint 165)
// IC-NEXT: (SCON *char "first")
// IC-NEXT: (ENDINIT void)
struct rec r = {1, 100000, 5, 10, "first"};

int nums[6] = {1, 2, [4] = 5};
// IC-LABEL: init @nums
// IC-NEXT: (ICON int 1)
// IC-NEXT: (ICON int 2)
// IC-NEXT: (SKIP void 64)
// IC-NEXT: (ICON int 5)

// &nums[4]: 4 elements of 2 units each.
// IC-LABEL: init @pn
// IC-NEXT: (PLUS *int
// IC-NEXT: (UAND *int (NAME [6]int @nums))
// IC-NEXT: (PMCONV int (ICON int 8) (ICON int 16)))
int *pn = &nums[4];
char greeting[] = "hi";
struct rec table[2] = {{2, -5, 1, 2, "second"}, {3}};

int main(void) {
  struct rec local = {7, 8, 15};
  int grid[2][3] = {{1, 2, 3}, {4}};
  static int calls = 41;
  calls++;
  printf("%d %ld %u %u %s\n", r.tag, r.value, r.lo, r.hi, r.name);
  // CHECK: 1 100000 5 10 first
  printf("%d %d %d %d\n", nums[1], nums[3], *pn, (int)sizeof greeting);
  // CHECK-NEXT: 2 0 5 3
  printf("%s %d %s %d %ld\n", greeting, table[0].tag, table[0].name, table[1].tag, table[1].value);
  // CHECK-NEXT: hi 2 second 3 0
  printf("%d %ld %u %u %d\n", local.tag, local.value, local.lo, local.hi, local.name == 0);
  // CHECK-NEXT: 7 8 15 0 1
  printf("%d %d %d\n", grid[0][2], grid[1][0], grid[1][2]);
  // CHECK-NEXT: 3 4 0
  printf("%d\n", calls);
  // CHECK-NEXT: 42
  return 0;
}
