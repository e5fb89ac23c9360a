// The ZOR data model, not clang's: sizeof counts 16-bit units, char is 16
// bits and unsigned char wraps at 65536; every size, offset and bound that
// depends on it is computed by zcc (sizeof, offsetof, array bounds, enum
// values, case labels, static initializers, static assertions).
// RUN: %zcc %s -o %t.if
// RUN: %zrun %t.if | FileCheck %s
// RUN: %zopt -o2 %t.if %t.o2 && %zrun %t.o2 | FileCheck %s
// RUN: %zdis %t.if | FileCheck %s --check-prefix=IC
#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

struct s {
  char c;
  long long ll;
  short sh;
};

enum { SZ = sizeof(struct s), OFF = offsetof(struct s, sh) };
// Both would fail with clang's own sizes; zcc checks them with the ZOR's.
_Static_assert(sizeof(int) == 2 && sizeof(char) == 1, "int is two units");
_Static_assert(offsetof(struct s, sh) == 6, "ll aligned to 32 bits");

// The bound is 2 * sizeof(int) = 4 elements of 32 bits.
// IC: symbol @table [4]int
int table[2 * sizeof(int)] = {SZ, OFF, sizeof(long double), CHAR_BIT};

// A static initializer that needs sizeof: 8 + 1 units, not clang's 24 + 1 bytes.
// IC-LABEL: init @sizes
// IC-NEXT: (ICON ushort 9)
unsigned short sizes[] = {sizeof(struct s) + 1};

int main(void) {
  unsigned char uc = 65535;
  signed char sc = 32767;
  char c = 'A';
  uint8_t u8 = 255;
  unsigned short us = 0;
  int k = sizeof(int);
  uc++;
  sc++;
  u8++;
  us--;
  printf("%d %d %d %d\n", (int)sizeof(char), (int)sizeof(short), (int)sizeof(int), (int)sizeof(long));
  // CHECK: 1 1 2 2
  printf("%d %d %d %d\n", (int)sizeof(long long), (int)sizeof(float), (int)sizeof(double),
         (int)sizeof(void *));
  // CHECK-NEXT: 4 2 2 1
  printf("%d %d %d %d\n", table[0], table[1], table[2], table[3]);
  // CHECK-NEXT: 8 6 4 16
  printf("%u %d %u %u %d\n", uc, sc, u8, us, c + 1);
  // CHECK-NEXT: 0 -32768 256 65535 66
  printf("%d %u\n", (unsigned char)70000, (unsigned short)-1);
  // CHECK-NEXT: 4464 65535
  switch (k) {
  case sizeof(long long):
    printf("four\n");
    break;
  case sizeof(int):
    printf("two\n");
    break;
  }
  // CHECK-NEXT: two
  printf("%d %d\n", UCHAR_MAX, INT8_MAX);
  // CHECK-NEXT: 65535 32767
  return 0;
}
