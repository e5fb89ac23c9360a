// Packed structures: __attribute__((packed)) and #pragma pack cap the
// alignment of scalar members at one unit (or the pack value); bit-fields
// keep storage units aligned to their type and structure members their own
// alignment, so values are what the host's compiler gives, and sizes are
// the ZOR's.
// RUN: %zcc %s -o %t.if
// RUN: %same_after_zopt %t.if | FileCheck %s
#include <stddef.h>
#include <stdio.h>

struct __attribute__((packed)) p {
  char c;
  int i;
  short s;
  long long ll;
};

#pragma pack(push, 1)
struct q {
  char c;
  long long ll;
  unsigned b1 : 3;
  unsigned b2 : 30;
};
#pragma pack(pop)

struct r {
  char c;
  int i __attribute__((packed));
};

int main(void) {
  struct p v = {1, 70000, -2, 1LL << 40};
  struct q w = {3, -5, 5, 123456789};
  struct r x = {7, 8};
  printf("%u %u %u %u %u\n", (unsigned)sizeof(struct p), (unsigned)offsetof(struct p, i),
         (unsigned)offsetof(struct p, ll), (unsigned)sizeof(struct q), (unsigned)sizeof(struct r));
  // CHECK: 8 1 4 10 3
  w.b2 += 2;
  v.ll -= 1;
  printf("%d %d %d %lld %d %lld %u %u %d %d\n", v.c, v.i, v.s, v.ll, w.c, w.ll, w.b1, w.b2, x.c,
         x.i);
  // CHECK-NEXT: 1 70000 -2 1099511627775 3 -5 5 123456791 7 8
  return 0;
}
