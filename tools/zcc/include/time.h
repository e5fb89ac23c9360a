/* time.h - zcc's own.  zrun has no clock: runs are deterministic, so that
 * a program gives the same output before and after zopt.  time() is always
 * 0 (the epoch) and clock() always 0. */
#ifndef _ZCC_TIME_H
#define _ZCC_TIME_H
#include <stddef.h>
typedef long time_t;
typedef long clock_t;
#define CLOCKS_PER_SEC 1000000L
time_t time(time_t *t);
clock_t clock(void);
double difftime(time_t end, time_t start);
#endif
