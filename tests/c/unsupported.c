// What zcc does not compile is refused with
// "zcc: FILE:LINE:COL: error: unsupported: ..." and exit code 1, never
// with wrong code or a crash; errors of the C source are clang's, also
// with exit code 1, and no output file is left behind.
// RUN: rm -rf %t && split-file %s %t && cd %t
// RUN: %expect_exit 1 %zcc asm.c 2>&1 | FileCheck %s --check-prefix=ASM
// ASM: zcc: asm.c:1:16: error: unsupported: inline assembly
// RUN: %expect_exit 1 %zcc range.c 2>&1 | FileCheck %s --check-prefix=RANGE
// RANGE: zcc: range.c:2:16: error: unsupported: case range of more than 1024 values
// RUN: %expect_exit 1 %zcc stmtexpr.c 2>&1 | FileCheck %s --check-prefix=STMTEXPR
// STMTEXPR: zcc: stmtexpr.c:1:23: error: unsupported: statement expression with control flow
// RUN: %expect_exit 1 %zcc complex.c 2>&1 | FileCheck %s --check-prefix=COMPLEX
// COMPLEX: zcc: complex.c:1:22: error: unsupported: complex type of 'long double'
// RUN: %expect_exit 1 %zcc wide.c 2>&1 | FileCheck %s --check-prefix=WIDE
// WIDE: zcc: wide.c:1:64: error: unsupported: wide string literal
// RUN: %expect_exit 1 %zcc bounds.c 2>&1 | FileCheck %s --check-prefix=BOUNDS
// BOUNDS: zcc: bounds.c:{{[0-9]+}}:{{[0-9]+}}: error: unsupported: arrays whose bounds differ on this target but not for clang ('int[8]')
// RUN: %expect_exit 1 %zcc big.c 2>&1 | FileCheck %s --check-prefix=BIG
// BIG: zcc: big.c:1:5: error: unsupported: static data of 80000 units does not fit (at most 61440 units, the rest is the stack's)
// RUN: %expect_exit 1 %zcc assert.c 2>&1 | FileCheck %s --check-prefix=ASSERT
// ASSERT: zcc: assert.c:2:1: error: static assertion failed: a byte machine's padding
// RUN: not test -e assert.if
// RUN: %expect_exit 1 %zcc syntax.c 2>&1 | FileCheck %s --check-prefix=SYNTAX
// SYNTAX: syntax.c:1:23: error: expected ';'
// RUN: not test -e syntax.if
// RUN: not test -e stmtexpr.if
// RUN: %expect_exit 1 %zcc missing.c 2>&1 | FileCheck %s --check-prefix=MISSING
// MISSING: zcc: error: cannot read 'missing.c'
// RUN: %expect_exit 1 %zcc --frobnicate x.c 2>&1 | FileCheck %s --check-prefix=USAGE
// USAGE: zcc: error: unknown option '--frobnicate'

//--- asm.c
void f(void) { __asm__("nop"); }
//--- range.c
int f(int x) {
  switch (x) { case 1 ... 3000: return 1; }
  return 0;
}
//--- stmtexpr.c
int f(int a) { return ({ int r = 0; if (a) r = 1; r; }); }
//--- complex.c
_Complex long double z;
//--- wide.c
const unsigned short *w(void) { return (const unsigned short *)L"wide"; }
//--- bounds.c
int a[2 * sizeof(int)];
int b[8];
int main(void) { return a[0] + b[0]; }
//--- big.c
int a[20000];
int b[20000];
int main(void) { return a[1] + b[2]; }
//--- assert.c
struct s { char c; int i; };
_Static_assert(sizeof(struct s) == 8, "a byte machine's padding");
//--- syntax.c
int main(void) { int x return 0; }
