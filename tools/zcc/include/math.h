/* math.h - zcc's own.  double is 32 bits on the ZOR, like float: the two
 * forms of each function compute alike, the result rounded to the type the
 * call returns.  frexp, ldexp and modf have a long double form too; modf
 * and modff store a 32-bit integral part, modfl a 64-bit one.
 *
 * The classification macros take float, double and long double alike and
 * call nothing, but evaluate their operand more than once: give them no
 * operand with side effects. */
#ifndef _ZCC_MATH_H
#define _ZCC_MATH_H
#define INFINITY (1.0f / 0.0f)
#define NAN (0.0f / 0.0f)
#define HUGE_VALF INFINITY
#define HUGE_VAL (1.0 / 0.0)
#define HUGE_VALL (1.0L / 0.0L)
#define isnan(x) ((x) != (x))
#define isinf(x) ((x) == INFINITY || (x) == -INFINITY)
#define isfinite(x) ((x) == (x) && (x) != INFINITY && (x) != -INFINITY)
#define M_E 2.71828182845904523536
#define M_LOG2E 1.44269504088896340736
#define M_LOG10E 0.434294481903251827651
#define M_LN2 0.693147180559945309417
#define M_LN10 2.30258509299404568402
#define M_PI 3.14159265358979323846
#define M_PI_2 1.57079632679489661923
#define M_PI_4 0.785398163397448309616
#define M_1_PI 0.318309886183790671538
#define M_2_PI 0.636619772367581343076
#define M_SQRT2 1.41421356237309504880
#define M_SQRT1_2 0.707106781186547524401
double fabs(double x);
double sqrt(double x);
double floor(double x);
double ceil(double x);
double sin(double x);
double cos(double x);
double tan(double x);
double asin(double x);
double acos(double x);
double atan(double x);
double exp(double x);
double log(double x);
double log10(double x);
double sinh(double x);
double cosh(double x);
double tanh(double x);
double round(double x);
double trunc(double x);
double fmod(double x, double y);
double atan2(double y, double x);
double pow(double x, double y);
double fmin(double x, double y);
double fmax(double x, double y);
double hypot(double x, double y);
double cbrt(double x);
double log2(double x);
double exp2(double x);
double copysign(double x, double y);
double ldexp(double x, int exponent);
double frexp(double x, int *exponent);
double modf(double x, double *whole);
long double ldexpl(long double x, int exponent);
long double frexpl(long double x, int *exponent);
long double modfl(long double x, long double *whole);
float fabsf(float x);
float sqrtf(float x);
float floorf(float x);
float ceilf(float x);
float sinf(float x);
float cosf(float x);
float tanf(float x);
float asinf(float x);
float acosf(float x);
float atanf(float x);
float expf(float x);
float logf(float x);
float log10f(float x);
float sinhf(float x);
float coshf(float x);
float tanhf(float x);
float roundf(float x);
float truncf(float x);
float fmodf(float x, float y);
float atan2f(float y, float x);
float powf(float x, float y);
float fminf(float x, float y);
float fmaxf(float x, float y);
float hypotf(float x, float y);
float cbrtf(float x);
float log2f(float x);
float exp2f(float x);
float copysignf(float x, float y);
float ldexpf(float x, int exponent);
float frexpf(float x, int *exponent);
float modff(float x, float *whole);
#endif
