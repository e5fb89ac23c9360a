/* math.h - zcc's own.  double is 32 bits on the ZOR, like float: the two
 * forms of each function compute alike, the result rounded to the type the
 * call returns. */
#ifndef _ZCC_MATH_H
#define _ZCC_MATH_H
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
#endif
