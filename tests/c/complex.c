// Complex numbers: _Complex float, double and signed integer parts,
// imaginary literals, arithmetic, comparison, conversions between real and
// complex values and between parts, __real__/__imag__ as values and as
// designators, ~ (conjugate), arguments and results, a static initializer,
// and complex.h's macros.  The results agree with gcc where double is
// single precision.
// RUN: %zcc %s -o %t.if
// RUN: %same_after_zopt %t.if | FileCheck %s
#include <complex.h>
#include <stdio.h>

typedef _Complex double cplx;

static cplx mul_add(cplx a, cplx b, double k) { return a * b + k; }
static _Complex double widen(_Complex float z) { return z; }
static cplx g = 3.0 + 4.0i;

int main(void) {
  _Complex float z = 1.0f + 2.0fi;
  _Complex float w = z * z;
  printf("%g %g\n", __real__ w, __imag__ w);
  // CHECK: -3 4
  w = w / z;
  printf("%g %g %d\n", __real__ w, __imag__ w, w == z);
  // CHECK-NEXT: 1 2 1
  w += 1.5f;
  __imag__ w = 9;
  printf("%g %g\n", __real__ w, __imag__ w);
  // CHECK-NEXT: 2.5 9

  cplx m = mul_add(1.0 + 1.0i, 2.0 - 1.0i, 0.5);
  int i3 = 3;
  cplx from_int = i3 + 2.0i;
  double re = m;   // the real part
  int truth = !!m, zero = !(0.0 + 0.0i);
  _Complex double wide = widen(1.5f - 2.5fi);
  printf("%g %g %g %g %g %d %d %g %g\n", __real__ m, __imag__ m, __real__ from_int,
         __imag__ from_int, re, truth, zero, __real__ wide, __imag__ wide);
  // CHECK-NEXT: 3.5 1 3 2 3.5 1 1 1.5 -2.5
  printf("%g %g %d\n", __real__ g, __imag__ g, g != m);
  // CHECK-NEXT: 3 4 1
  m = -m;
  m -= 1;
  printf("%g %g %g\n", __real__ m, __imag__ m, __imag__ re);
  // CHECK-NEXT: -4.5 -1 0

  _Complex int ci = 3 + 2i;
  ci = ci * ci;
  double complex d = 1.0 + 2.0 * I;
  float complex f = 3.0f - 4.0f * I;
  printf("%d %d %g %g %g %g %g %g %g\n", __real__ ci, __imag__ ci, creal(d), cimag(conj(d)),
         cabs(3.0 + 4.0 * I), creal(d * I), cimagf(~f), cabsf(f), carg(1.0 * I));
  // CHECK-NEXT: 5 12 1 -2 5 -2 4 5 1.5708
  return 0;
}
