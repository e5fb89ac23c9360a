// Structures, unions and bit-fields: members, nested structures, arrays of
// structures, pointers to members, structure assignment, arguments and
// results by value, bit-fields packed into their storage unit, unions that
// share storage, enumerations and typedefs.
// RUN: %zcc %s -o %t.if
// RUN: %zrun %t.if | FileCheck %s
// RUN: %zopt -o0 %t.if %t.o0 && %zrun %t.o0 | FileCheck %s
// RUN: %zopt -o1 %t.if %t.o1 && %zrun %t.o1 | FileCheck %s
// RUN: %zopt -o2 %t.if %t.o2 && %zrun %t.o2 | FileCheck %s
// RUN: %zopt -o3 %t.if %t.o3 && %zrun %t.o3 | FileCheck %s
// RUN: %zdis %t.if | FileCheck %s --check-prefix=IC
#include <stdio.h>

typedef enum { RED, GREEN = 5, BLUE } color;

struct point {
  short x, y;
};

// Members at bit offsets; the bit-fields share one 32-bit unit.
// IC: type struct.flags = struct "flags" {{.*}} size 64 align 32
// IC-NEXT: group 7
// IC-NEXT: member 1 "a" uint n 3
// IC-NEXT: member 2 "b" uint offset 3 n 7
// IC-NEXT: member 3 "c" int offset 10 n 12
// IC-NEXT: member 4 "d" short offset 32
struct flags {
  unsigned a : 3, b : 7;
  int c : 12;
  short d;
};

struct shape {
  color col;
  struct point corner[2];
  struct flags f;
  struct shape *next;
};

union word {
  unsigned long l;
  unsigned short half[2];
};

struct point mid(struct point p, struct point q) {
  struct point r;
  r.x = (p.x + q.x) / 2;
  r.y = (p.y + q.y) / 2;
  return r;
}

int area(const struct shape *s) {
  return (s->corner[1].x - s->corner[0].x) * (s->corner[1].y - s->corner[0].y);
}

int main(void) {
  struct shape a, b;
  struct point m;
  union word w;
  a.col = BLUE;
  a.corner[0].x = 1;
  a.corner[0].y = 2;
  a.corner[1].x = 11;
  a.corner[1].y = 22;
  a.f.a = 13;      // keeps 3 bits: 5
  a.f.b = 100;
  a.f.c = -1000;
  a.f.d = 7;
  a.next = &b;
  b = a;
  b.next = 0;
  b.corner[1].y += 10;
  m = mid(a.corner[0], b.corner[1]);
  printf("%d %d %d %d\n", a.col, area(&a), area(a.next), (int)sizeof(struct shape));
  // CHECK: 6 200 300 12
  printf("%u %u %d %d\n", b.f.a, b.f.b, b.f.c, b.f.d);
  // CHECK-NEXT: 5 100 -1000 7
  printf("%d %d\n", m.x, m.y);
  // CHECK-NEXT: 6 17
  a.f.c++;
  a.f.b += 30;
  printf("%d %u %u\n", a.f.c, a.f.b, a.f.a);
  // CHECK-NEXT: -999 2 5
  w.l = 0x12345678;
  printf("%x %x %d\n", w.half[0], w.half[1], (int)sizeof w);
  // CHECK-NEXT: 5678 1234 2
  return 0;
}
