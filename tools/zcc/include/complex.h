/* complex.h - zcc's own.  The parts of a complex value are float or double
 * (both IEEE single on the ZOR) or a signed integer type; complex long
 * double does not exist.  The functions are macros over the operators
 * __real__, __imag__ and ~ (conjugate) and the real math functions. */
#ifndef _ZCC_COMPLEX_H
#define _ZCC_COMPLEX_H
#include <math.h>
#define complex _Complex
#define _Complex_I (1.0fi)
#define I _Complex_I
#define creal(z) ((double)__real__ (z))
#define crealf(z) ((float)__real__ (z))
#define cimag(z) ((double)__imag__ (z))
#define cimagf(z) ((float)__imag__ (z))
#define conj(z) (~(z))
#define conjf(z) (~(z))
#define cabs(z) ({ __typeof__(z) _zcc_z = (z); hypot(__real__ _zcc_z, __imag__ _zcc_z); })
#define cabsf(z) ((float)cabs(z))
#define carg(z) ({ __typeof__(z) _zcc_z = (z); atan2(__imag__ _zcc_z, __real__ _zcc_z); })
#define cargf(z) ((float)carg(z))
#endif
