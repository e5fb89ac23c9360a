// setjmp and longjmp: a longjmp from deep calls returns to the setjmp,
// which runs again returning the value (1 for 0); the frames, registers and
// arrays of the calls in between are released; a jmp_buf of its own per
// call; setjmp as the controlling expression of a switch.  A longjmp to a
// function that has returned is reported.
// RUN: %zcc %s -o %t.if
// RUN: %same_after_zopt %t.if | FileCheck %s
// RUN: %expect_exit 3 %zrun %t.if --entry stale 2>&1 | FileCheck %s --check-prefix=STALE
#include <setjmp.h>
#include <stdio.h>

static jmp_buf env;
static int depth;

static void fail_deep(int n) {
  char frame[50];
  int row[n + 1];   // a variable-length array in each abandoned call
  frame[0] = (char)n;
  row[n] = n;
  depth = row[n] + frame[0];
  if (n == 10)
    longjmp(env, 42);
  fail_deep(n + 1);
}

static int attempt(int k) {
  jmp_buf local;
  int r = setjmp(local);
  if (r != 0)
    return r * 100;
  if (k > 0)
    longjmp(local, k);
  return -1;
}

static jmp_buf gone;
static void arm(void) {
  if (setjmp(gone))
    puts("unreachable");
}
// STALE: zrun: error: longjmp to a function that has returned in stale
int stale(void) {
  arm();
  longjmp(gone, 1);
}

int main(void) {
  volatile int tries = 0;
  int r = setjmp(env);
  tries++;
  printf("setjmp returned %d (try %d)\n", r, tries);
  if (r == 0)
    fail_deep(0);
  if (tries < 3)
    longjmp(env, 0);
  // CHECK: setjmp returned 0 (try 1)
  // CHECK-NEXT: setjmp returned 42 (try 2)
  // CHECK-NEXT: setjmp returned 1 (try 3)
  printf("depth %d, attempt %d %d\n", depth, attempt(0), attempt(3));
  // CHECK-NEXT: depth 20, attempt -1 300
  switch (setjmp(env)) {
  case 0:
    puts("first");
    longjmp(env, 7);
  case 7:
    puts("seven");
    break;
  }
  // CHECK-NEXT: first
  // CHECK-NEXT: seven
  return 0;
}
