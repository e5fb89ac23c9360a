/* math.h - zcc's own (double is 32 bits on the ZOR). */
#ifndef _ZCC_MATH_H
#define _ZCC_MATH_H
double fabs(double x);
double sqrt(double x);
double floor(double x);
double ceil(double x);
double fmod(double x, double y);
float fabsf(float x);
float sqrtf(float x);
#endif
