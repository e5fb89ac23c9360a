// A flexible array member takes no room in its structure; the elements live
// in the object the program allocates past it, and zrun still reports an
// access beyond that object.
// RUN: %zcc %s -o %t.if
// RUN: %same_after_zopt %t.if | FileCheck %s
// RUN: %zcc -D OVERRUN %s -o %t.bad.if
// RUN: %expect_exit 3 %zrun %t.bad.if 2>&1 | FileCheck %s --check-prefix=BAD
#include <stdio.h>
#include <stdlib.h>

struct buf {
  int len;
  short tag;
  long data[];   // aligned to long: offset 4
};

struct str {
  char n;
  char text[];
};

int main(void) {
  struct buf *b = malloc(sizeof(struct buf) + 5 * sizeof(long));
  b->len = 5;
  b->tag = 9;
  for (int i = 0; i < b->len; i++)
    b->data[i] = i * 100000L;
  long s = 0;
  for (int i = 0; i < b->len; i++)
    s += b->data[i];
  printf("%u %ld %d\n", (unsigned)sizeof(struct buf), s, b->tag);
  // CHECK: 4 1000000 9
  struct str *t = malloc(sizeof *t + 4);
  t->n = 3;
  for (int i = 0; i < t->n; i++)
    t->text[i] = (char)('a' + i);
  t->text[3] = 0;
  printf("%s %u\n", t->text, (unsigned)sizeof(struct str));
  // CHECK-NEXT: abc 1
#ifdef OVERRUN
  b->data[5] = 1;
  // BAD: zrun: error: access outside any object in main at {{.*}}flexible-array.c:[[@LINE-1]]
#endif
  free(t);
  free(b);
  return 0;
}
