/* stdarg.h - zcc's own.  va_list is clang's __builtin_va_list, a char *
 * on the 32-bit target zcc parses for, pointing into the variadic area of
 * the call: the arguments after the named ones in slots of 2 units (4 for
 * long long and long double, a structure's size rounded up to 2).  zcc
 * turns va_start into the intrinsic call "__va_start", va_arg into a step
 * over one slot and a load from the slot left behind, va_copy into a copy
 * of the pointer; va_end does nothing. */
#ifndef _ZCC_STDARG_H
#define _ZCC_STDARG_H
typedef __builtin_va_list va_list;
#define va_start(ap, last) __builtin_va_start(ap, last)
#define va_arg(ap, type) __builtin_va_arg(ap, type)
#define va_end(ap) __builtin_va_end(ap)
#define va_copy(d, s) __builtin_va_copy(d, s)
#endif
