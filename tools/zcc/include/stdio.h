/* stdio.h - zcc's own: the input and output functions zrun provides.
 *
 * FILE is never defined: a stream is one of the three values below, which
 * zrun reads from its own standard input or writes to its standard output
 * and standard error.  Characters
 * are one per 16-bit unit; sprintf and snprintf store them so, with the
 * terminator, and n counts units. */
#ifndef _ZCC_STDIO_H
#define _ZCC_STDIO_H
#include <stddef.h>
#define EOF (-1)
typedef struct _zcc_file FILE;
#define stdout ((FILE *)1)
#define stderr ((FILE *)2)
#define stdin ((FILE *)3)
int printf(const char *format, ...);
int fprintf(FILE *stream, const char *format, ...);
int sprintf(char *s, const char *format, ...);
int snprintf(char *s, size_t n, const char *format, ...);
int vprintf(const char *format, __builtin_va_list ap);
int vfprintf(FILE *stream, const char *format, __builtin_va_list ap);
int vsprintf(char *s, const char *format, __builtin_va_list ap);
int vsnprintf(char *s, size_t n, const char *format, __builtin_va_list ap);
int puts(const char *s);
int fputs(const char *s, FILE *stream);
int putchar(int c);
int fputc(int c, FILE *stream);
int putc(int c, FILE *stream);
int fflush(FILE *stream);
int getchar(void);
int getc(FILE *stream);
int fgetc(FILE *stream);
char *fgets(char *s, int n, FILE *stream);
int scanf(const char *format, ...);
int sscanf(const char *s, const char *format, ...);
/* There is no errno: perror writes "s: unknown error" to stderr. */
void perror(const char *s);
#endif
