/* stdlib.h - zcc's own.  long is 32 bits; rand's sequence is fixed (seed 1
 * at start).  atof and strtod give a 32-bit double, strtold a 64-bit long
 * double, each rounded once from the text. */
#ifndef _ZCC_STDLIB_H
#define _ZCC_STDLIB_H
#include <stddef.h>
#define EXIT_SUCCESS 0
#define EXIT_FAILURE 1
#define RAND_MAX 32767
void exit(int status);
int atexit(void (*function)(void));
typedef struct { int quot; int rem; } div_t;
typedef struct { long quot; long rem; } ldiv_t;
typedef struct { long long quot; long long rem; } lldiv_t;
div_t div(int numer, int denom);
ldiv_t ldiv(long numer, long denom);
lldiv_t lldiv(long long numer, long long denom);
void abort(void);
void *malloc(size_t size);
void *calloc(size_t count, size_t size);
void *realloc(void *p, size_t size);
void free(void *p);
int abs(int x);
long labs(long x);
long long llabs(long long x);
int atoi(const char *s);
long atol(const char *s);
long strtol(const char *s, char **end, int base);
unsigned long strtoul(const char *s, char **end, int base);
double atof(const char *s);
double strtod(const char *s, char **end);
float strtof(const char *s, char **end);
long double strtold(const char *s, char **end);
int rand(void);
void srand(unsigned seed);
void qsort(void *base, size_t n, size_t size, int (*compare)(const void *, const void *));
void *bsearch(const void *key, const void *base, size_t n, size_t size,
              int (*compare)(const void *, const void *));
#endif
