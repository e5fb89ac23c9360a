// Input: sscanf and scanf with the conversions, widths, suppression, scan
// sets, %n and the length modifiers programs use (the results agree with
// the host's C library), then fgets on the rest of standard input.
// RUN: %zcc %s -o %t.if
// RUN: printf '1 2 3\n4 x tail of line\n' | %zrun %t.if | FileCheck %s
// RUN: %zopt -o3 %t.if %t.o3
// RUN: printf '1 2 3\n4 x tail of line\n' | %zrun %t.o3 | FileCheck %s
#include <stdio.h>

int main(void) {
  int a, b, n;
  long long big;
  short sh;
  double d;
  long double ld;
  char word[16], c, rest[32];
  int k = sscanf("  42 -17 0x1F", "%d %i %x", &a, &b, &n);
  printf("%d: %d %d %d\n", k, a, b, n);
  // CHECK: 3: 42 -17 31
  k = sscanf("123456789012 7 2.5 1.25", "%lld %hd %lf %Lf", &big, &sh, &d, &ld);
  printf("%d: %lld %d %g %Lg\n", k, big, sh, d, ld);
  // CHECK-NEXT: 4: 123456789012 7 2.5 1.25
  k = sscanf("name=bob; x", "name=%[^;]; %c%n", word, &c, &n);
  printf("%d: %s %c %d\n", k, word, c, n);
  // CHECK-NEXT: 2: bob x 11
  // A matching failure before any item, then the end of the input.
  printf("%d %d\n", sscanf("abc", "%d", &a), sscanf("", "%d", &a));
  // CHECK-NEXT: 0 -1
  k = sscanf("12abc", "%3d%2s%*c", &a, word);
  printf("%d: %d %s\n", k, a, word);
  // CHECK-NEXT: 2: 12 ab
  int sum = 0, v;
  while (scanf("%d", &v) == 1)
    sum += v;
  printf("sum %d\n", sum);
  // CHECK-NEXT: sum 10
  if (fgets(rest, sizeof rest, stdin))
    printf("line [%s]\n", rest);
  // CHECK-NEXT: line [x tail of line
  // CHECK-NEXT: ]
  printf("%p\n", (void *)fgets(rest, sizeof rest, stdin));
  // CHECK-NEXT: 0x0000
  return 0;
}
