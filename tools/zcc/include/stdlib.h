/* stdlib.h - zcc's own. */
#ifndef _ZCC_STDLIB_H
#define _ZCC_STDLIB_H
#include <stddef.h>
#define EXIT_SUCCESS 0
#define EXIT_FAILURE 1
void exit(int status);
void abort(void);
void *malloc(size_t size);
void *calloc(size_t count, size_t size);
void *realloc(void *p, size_t size);
void free(void *p);
int abs(int x);
long labs(long x);
int atoi(const char *s);
#endif
