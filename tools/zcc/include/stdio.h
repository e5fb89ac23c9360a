/* stdio.h - zcc's own: the output functions zrun provides. */
#ifndef _ZCC_STDIO_H
#define _ZCC_STDIO_H
#include <stddef.h>
#define EOF (-1)
int printf(const char *format, ...);
int puts(const char *s);
int putchar(int c);
#endif
